#include "ControlMath.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr uint8_t HOLD_CAP_SHORT = 80;
constexpr uint8_t HOLD_CAP_LONG = 249;

bool IsChannelButton(StepButton button)
{
    return button == StepButton::ChannelDown || button == StepButton::ChannelUp;
}

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

uint8_t HoldCountAfterTick(StepButton button, uint8_t holdCount)
{
    // Not symmetric: channel down and power up may keep growing, their opposites not.
    uint8_t cap = (button == StepButton::ChannelDown || button == StepButton::PowerUp)
                      ? HOLD_CAP_LONG
                      : HOLD_CAP_SHORT;
    return holdCount < cap ? static_cast<uint8_t>(holdCount + 1) : holdCount;
}

unsigned StepSize(StepButton button, uint8_t holdCount)
{
    return IsChannelButton(button) ? holdCount / 11u + 1 : holdCount / 5u + 1;
}

uint8_t ChannelDown(uint8_t channel, unsigned step)
{
    int64_t next = int64_t{channel} - step;
    return next < 1 ? 1 : static_cast<uint8_t>(next);
}

uint8_t ChannelUp(uint8_t channel, unsigned step, uint8_t channelCount)
{
    int64_t next = int64_t{channel} + step;
    return next > channelCount ? channelCount : static_cast<uint8_t>(next);
}

uint16_t PowerDown(uint16_t power, unsigned step, uint16_t powerMin)
{
    int64_t next = int64_t{power} - step;
    return next < powerMin ? powerMin : static_cast<uint16_t>(next);
}

uint16_t PowerUp(uint16_t power, unsigned step, uint16_t powerMax)
{
    int64_t next = int64_t{power} + step;
    return next > powerMax ? powerMax : static_cast<uint16_t>(next);
}

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
