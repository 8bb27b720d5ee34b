// The module's values as the window and the tool show them.
#pragma once
#include <cstddef>

// A power in counts of 0.01 dBm as dBm with two decimals.
void FormatPower(int counts, char* out, size_t size);
// "%.2f" of the wavelength; a wavelength with no finite value (frequency 0) shows as "----".
void FormatWavelength(double wavelength, char* out, size_t size);
