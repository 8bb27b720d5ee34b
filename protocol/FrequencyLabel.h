// Frequency, wavelength and ITU channel label of a channel.
#pragma once
#include <cstdint>

constexpr double SPEED_OF_LIGHT = 299792458.0;  // m/s; divided by GHz it gives nm

int32_t ChannelFrequency(int32_t firstFrequency, int16_t grid, uint8_t channel);
double Wavelength(int32_t frequency);
// Rewrites label[0..2] in place, or leaves all of it unchanged (negative odd slots).
void UpdateItuLabel(int32_t frequency, char label[4]);
