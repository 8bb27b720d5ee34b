#include "ChannelPowerControls.h"
#include "protocol/StartupSequence.h"
#include "protocol/TypedValues.h"

namespace {

// The user-interface thread rests after each frame of the poll, a SET or the output
// switch, so that the link's single write slot is not overwritten before it is written.
constexpr unsigned SEND_PAUSE_MS = 100;

// The step timers, in id order, which is also the order of the buttons.
constexpr unsigned STEP_TIMERS[] = {TIMER_CH_DOWN, TIMER_CH_UP, TIMER_PWR_DOWN, TIMER_PWR_UP};

unsigned TimerOf(StepButton button)
{
    return STEP_TIMERS[static_cast<unsigned>(button)];
}

}  // namespace

ChannelPowerControls::ChannelPowerControls(DeviceStateRecord& state, FrameSink& link,
                                           UiClock& clock)
    : state(state), link(link), clock(clock)
{}

bool ChannelPowerControls::ControlsLive() const
{
    return ModuleRead(state.stage);
}

bool ChannelPowerControls::CanSend() const
{
    return ControlsLive() && state.portOpen;
}

void ChannelPowerControls::SendChannel(uint8_t channel)
{
    state.channel = channel;
    FillSetChannel(setChannelFrame, channel);
    link.Send(setChannelFrame);
}

void ChannelPowerControls::SendPower(uint16_t power)
{
    state.power = power;
    FillSetPower(setPowerFrame, power);
    link.Send(setPowerFrame);
}

template <typename SendOne>
void ChannelPowerControls::SendOutsideThePoll(SendOne send)
{
    clock.StopTimer(TIMER_POLL);
    send();
    clock.Pause(SEND_PAUSE_MS);
    clock.StartTimer(TIMER_POLL, POLL_PERIOD_MS);
}

void ChannelPowerControls::PollTick(int channelSliderPos, int powerSliderPos)
{
    // Until the module is read, the sliders show no value of it.
    if (!CanSend())
        return;
    const uint8_t channel = static_cast<uint8_t>(channelSliderPos);
    if (channel != state.channel) {
        SendChannel(channel);
        clock.Pause(SEND_PAUSE_MS);
    }
    const uint16_t power = static_cast<uint16_t>(powerSliderPos);
    if (power != state.power) {
        SendPower(power);
        clock.Pause(SEND_PAUSE_MS);
    }
}

void ChannelPowerControls::Press(StepButton button)
{
    if (!ControlsLive())
        return;
    const unsigned own = TimerOf(button);
    clock.StopTimer(TIMER_POLL);
    for (unsigned id : STEP_TIMERS) {
        if (id != own)
            clock.StopTimer(id);
    }
    holdCount = 0;
    clock.StartTimer(own, STEP_PERIOD_MS);
}

void ChannelPowerControls::Release()
{
    if (!ControlsLive())
        return;
    for (unsigned id : STEP_TIMERS)
        clock.StopTimer(id);
    holdCount = 0;
    clock.StartTimer(TIMER_POLL, POLL_PERIOD_MS);
}

bool ChannelPowerControls::StepTimerTick(unsigned timerId)
{
    if (timerId < TIMER_CH_DOWN || timerId > TIMER_PWR_UP)
        return false;
    const StepButton button = static_cast<StepButton>(timerId - TIMER_CH_DOWN);
    holdCount = HoldCountAfterTick(button, holdCount);
    Step(button);
    return true;
}

void ChannelPowerControls::Step(StepButton button)
{
    if (!CanSend())
        return;
    const unsigned step = StepSize(button, holdCount);
    switch (button) {
    case StepButton::ChannelDown: SendChannel(ChannelDown(state.channel, step)); break;
    case StepButton::ChannelUp:
        SendChannel(ChannelUp(state.channel, step, state.channelCount));
        break;
    case StepButton::PowerDown: SendPower(PowerDown(state.power, step, state.powerMin)); break;
    case StepButton::PowerUp: SendPower(PowerUp(state.power, step, state.powerMax)); break;
    }
}

void ChannelPowerControls::SetChannel(const char* text)
{
    if (!CanSend() || !text || !*text)
        return;
    SendOutsideThePoll([&] { SendChannel(ChannelFromText(text, state.channelCount)); });
}

void ChannelPowerControls::SetPower(const char* text)
{
    if (!CanSend() || !text || !*text)
        return;
    SendOutsideThePoll([&] { SendPower(PowerFromText(text, state.powerMin, state.powerMax)); });
}

void ChannelPowerControls::ToggleOutput()
{
    if (!CanSend())
        return;
    SendOutsideThePoll([&] {
        // The caption follows the module's answer, which also sets the flag again.
        state.outputOn = state.outputOn ? 0 : 1;
        FillSetOutput(setOutputFrame, state.outputOn);
        link.Send(setOutputFrame);
    });
}
