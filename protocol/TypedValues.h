// Typed channel and power values, clamped to the module's limits as the window clamps them;
// the tool applies the same rules to its arguments. Values are clamped before they are
// narrowed, so nothing wraps around at the top of the 8- or 16-bit field.
#pragma once
#include <cstdint>

// A typed channel number: truncated toward zero; below 1 gives 1, else above the count
// gives the count.
uint8_t ChannelFromNumber(double value, uint8_t channelCount);
uint8_t ChannelFromText(const char* text, uint8_t channelCount);

// A typed power in dBm: value * 100 truncated toward zero; below the minimum gives the
// minimum, else above the maximum gives the maximum.
uint16_t PowerFromNumber(double dBm, uint16_t powerMin, uint16_t powerMax);
uint16_t PowerFromText(const char* text, uint16_t powerMin, uint16_t powerMax);
