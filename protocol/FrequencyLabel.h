// Frequency, wavelength and ITU channel label of a channel.
#pragma once
#include <cstddef>
#include <cstdint>

int32_t ChannelFrequency(int32_t firstFrequency, int16_t grid, uint8_t channel);
double Wavelength(int32_t frequency);
// Rewrites label[0..2] in place, or leaves all of it unchanged (negative odd slots).
void UpdateItuLabel(int32_t frequency, char label[4]);
// A power in counts of 0.01 dBm as dBm with two decimals, as the window and the tool show it.
void FormatPower(int counts, char* out, size_t size);
// "%.2f" of the wavelength; a wavelength with no finite value (frequency 0) shows as "----".
void FormatWavelength(double wavelength, char* out, size_t size);
