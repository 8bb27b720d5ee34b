#include "protocol/TypedValues.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// Truncates toward zero. Pasted text can make atof return NaN, infinities or values far
// beyond any int: NaN counts as 0 and the rest is held inside int32_t first, since
// converting an out-of-range double is undefined. Anything held there is out of every
// channel or power range anyway, so the clamps treat it like any other large number.
int32_t WholeNumber(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT32_MAX;
    if (value <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

int32_t ClampBelowThenAbove(int32_t value, int32_t low, int32_t high)
{
    if (value < low)
        return low;
    if (value > high)
        return high;
    return value;
}

}  // namespace

uint8_t ChannelFromNumber(double value, uint8_t channelCount)
{
    return static_cast<uint8_t>(ClampBelowThenAbove(WholeNumber(value), 1, channelCount));
}

uint8_t ChannelFromText(const char* text, uint8_t channelCount)
{
    return ChannelFromNumber(std::atof(text), channelCount);
}

uint16_t PowerFromNumber(double dBm, uint16_t powerMin, uint16_t powerMax)
{
    // The product is rounded to double before truncation: typed 8.2 gives 819, 7.1 gives 710.
    return static_cast<uint16_t>(ClampBelowThenAbove(WholeNumber(dBm * 100.0), powerMin, powerMax));
}

uint16_t PowerFromText(const char* text, uint16_t powerMin, uint16_t powerMax)
{
    return PowerFromNumber(std::atof(text), powerMin, powerMax);
}
