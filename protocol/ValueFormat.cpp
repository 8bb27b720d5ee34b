#include "protocol/ValueFormat.h"
#include <cmath>
#include <cstdio>

void FormatPower(int counts, char* out, size_t size)
{
    std::snprintf(out, size, "%.2f", counts * 0.01);
}

void FormatWavelength(double wavelength, char* out, size_t size)
{
    if (std::isfinite(wavelength))
        std::snprintf(out, size, "%.2f", wavelength);
    else
        std::snprintf(out, size, "----");
}
