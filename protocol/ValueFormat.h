// The module's values as the window, the tool and the server show them.
#pragma once
#include <cstddef>
#include <string>

// A power in counts of 0.01 dBm as dBm with two decimals: "10.00".
std::string PowerText(int counts);
// "%.2f" of the wavelength; a wavelength with no finite value (frequency 0) shows as "----".
void FormatWavelength(double wavelength, char* out, size_t size);

// Text from the module or a client as a terminal or a log shows it: bytes that are not
// printable ASCII, and the backslash itself, as \xNN, so that every escape reads one way.
std::string Printable(const std::string& text);
