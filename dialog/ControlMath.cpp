#include "ControlMath.h"

#include <cstdint>

namespace {

constexpr uint8_t HOLD_CAP_SHORT = 80;
constexpr uint8_t HOLD_CAP_LONG = 249;

bool IsChannelButton(StepButton button)
{
    return button == StepButton::ChannelDown || button == StepButton::ChannelUp;
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
