// What a response asks of the window. The window implements it on its controls;
// tests record the calls.
#pragma once

enum class DisplayText {
    ChannelEdit,
    Frequency,
    Wavelength,
    ItlaChannel,
    PowerEdit,
    ChannelLabel,
    PowerLabel,
    ActiveButton,
};

enum class Slider { Channel, Power };

// Window timers: ids and periods in ms.
enum TimerId : unsigned {
    TIMER_POLL = 1,
    TIMER_CH_DOWN = 2,
    TIMER_CH_UP = 3,
    TIMER_PWR_DOWN = 4,
    TIMER_PWR_UP = 5,
    TIMER_STARTUP = 6,
};
constexpr unsigned POLL_PERIOD_MS = 500;
constexpr unsigned STEP_PERIOD_MS = 200;
constexpr unsigned STARTUP_PERIOD_MS = 200;

class Display {
public:
    virtual ~Display() = default;
    virtual void SetText(DisplayText item, const char* text) = 0;
    virtual void SetSliderPos(Slider slider, int pos) = 0;
    virtual void SetSliderRange(Slider slider, int min, int max) = 0;
    virtual void ClearSliderTicks(Slider slider) = 0;
    virtual void AddSliderTick(Slider slider, int pos) = 0;
    virtual void StopTimer(unsigned id) = 0;
    virtual void StartTimer(unsigned id, unsigned periodMs) = 0;
};
