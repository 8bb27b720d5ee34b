// The rules of the channel and power controls: the slider poll, press-and-hold of the step
// buttons, typed values and the output switch. They write the wanted value into the module
// record and send it; what the window shows changes only when the module answers.
#pragma once
#include <cstdint>
#include "ControlMath.h"
#include "WindowServices.h"

class ChannelPowerControls {
public:
    ChannelPowerControls(DeviceStateRecord& state, FrameSink& link, UiClock& clock);

    // A TIMER_POLL tick, given the sliders' positions: the sliders are the reference, so a
    // value the module did not take is sent again. Nothing is sent before the module is read.
    void PollTick(int channelSliderPos, int powerSliderPos);
    // A left-button press on a step button starts its hold.
    void Press(StepButton button);
    // Any left-button release ends a hold, wherever the pointer is.
    void Release();
    // A tick of a step timer; false when the id is no step timer's.
    bool StepTimerTick(unsigned timerId);
    // One step of a button: its click, or a tick of its hold.
    void Step(StepButton button);
    // SET (or Enter) with the edit's text.
    void SetChannel(const char* text);
    void SetPower(const char* text);
    // The ON/OFF button.
    void ToggleOutput();

    // Ticks of the current hold; sets the step size.
    uint8_t HoldCount() const { return holdCount; }

private:
    // The controls act once the start-up has read the module; they send while the port is
    // open as well.
    bool ControlsLive() const;
    bool CanSend() const;
    void SendChannel(uint8_t channel);
    void SendPower(uint16_t power);
    // Stops the poll for one send and its pause, and starts it again.
    template <typename SendOne>
    void SendOutsideThePoll(SendOne send);

    DeviceStateRecord& state;
    FrameSink& link;
    UiClock& clock;
    uint8_t holdCount = 0;
};
