// The arithmetic of the channel and power step buttons: step sizes while a button is held
// and the stepped values, each clamped to the module's limits. Values are computed as whole
// numbers and clamped before they are narrowed, so nothing wraps around at 0 or at the top
// of the 8- or 16-bit field.
#pragma once
#include <cstdint>

// The four step buttons at the ends of the sliders.
enum class StepButton : uint8_t { ChannelDown, ChannelUp, PowerDown, PowerUp };

// holdCount after one tick of a held step button: one more, up to that button's cap.
uint8_t HoldCountAfterTick(StepButton button, uint8_t holdCount);

// The step of a button for this holdCount: channels for the channel buttons, 0.01 dBm
// counts for the power buttons.
unsigned StepSize(StepButton button, uint8_t holdCount);

// Each direction clamps at its own bound only.
uint8_t ChannelDown(uint8_t channel, unsigned step);
uint8_t ChannelUp(uint8_t channel, unsigned step, uint8_t channelCount);
uint16_t PowerDown(uint16_t power, unsigned step, uint16_t powerMin);
uint16_t PowerUp(uint16_t power, unsigned step, uint16_t powerMax);
