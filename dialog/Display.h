// The window's controls as a response's rendering sees them. The window implements it on
// its controls; tests record the calls.
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

class Display {
public:
    virtual ~Display() = default;
    virtual void SetText(DisplayText item, const char* text) = 0;
    virtual void SetSliderPos(Slider slider, int pos) = 0;
    virtual void SetSliderRange(Slider slider, int min, int max) = 0;
    virtual void ClearSliderTicks(Slider slider) = 0;
    virtual void AddSliderTick(Slider slider, int pos) = 0;
    // The last start-up answer came: the window stops asking and starts polling.
    virtual void StartupFinished() = 0;
};
