#include "protocol/ValueFormat.h"
#include <cmath>
#include <cstdio>

std::string PowerText(int counts)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", counts * 0.01);
    return text;
}

void FormatWavelength(double wavelength, char* out, size_t size)
{
    if (std::isfinite(wavelength))
        std::snprintf(out, size, "%.2f", wavelength);
    else
        std::snprintf(out, size, "----");
}

std::string Printable(const std::string& text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            shown += escape;
        }
    }
    return shown;
}
