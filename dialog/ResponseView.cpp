#include "ResponseView.h"
#include <cstdio>
#include "protocol/ValueFormat.h"

namespace {

void ShowChannel(const DeviceStateRecord& state, Display& display)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d", state.channel);
    display.SetText(DisplayText::ChannelEdit, text);
    display.SetSliderPos(Slider::Channel, state.channel);
    std::snprintf(text, sizeof text, "%d", static_cast<int>(state.frequency));
    display.SetText(DisplayText::Frequency, text);
    FormatWavelength(state.wavelength, text, sizeof text);
    display.SetText(DisplayText::Wavelength, text);
    display.SetText(DisplayText::ItlaChannel, state.ituLabel);
}

void ShowPower(const DeviceStateRecord& state, Display& display)
{
    display.SetText(DisplayText::PowerEdit, PowerText(state.power).c_str());
    display.SetSliderPos(Slider::Power, state.power);
}

// The grid is the last limit read at start-up, so its answer lays out both sliders.
void ShowLimits(const DeviceStateRecord& state, Display& display)
{
    char text[48];
    std::snprintf(text, sizeof text, "Channel:\n(1-%d)", state.channelCount);
    display.SetText(DisplayText::ChannelLabel, text);
    display.SetSliderPos(Slider::Power, state.power);
    display.SetSliderRange(Slider::Channel, 1, state.channelCount);
    display.ClearSliderTicks(Slider::Channel);
    for (int pos = 10; pos <= 90; pos += 10)
        display.AddSliderTick(Slider::Channel, pos);

    int powerMin = state.powerMin;
    int powerMax = state.powerMax;
    std::snprintf(text, sizeof text, "Power:\n(%d-%d)", powerMin / 100, powerMax / 100);
    display.SetText(DisplayText::PowerLabel, text);
    display.SetSliderRange(Slider::Power, powerMin, powerMax);
    display.ClearSliderTicks(Slider::Power);
    // A tick every 1 dBm strictly inside the range; none when the limits are reversed.
    int steps = (powerMax - powerMin) / 100;
    for (int i = 1; i < steps; ++i)
        display.AddSliderTick(Slider::Power, powerMin + 100 * i);
}

}  // namespace

void RenderResponse(const ResponseChange& change, const DeviceStateRecord& state, Display& display)
{
    switch (change.code) {
    case CMD_CHANNEL: ShowChannel(state, display); break;
    case CMD_POWER: ShowPower(state, display); break;
    case CMD_OUTPUT:
        display.SetText(DisplayText::ActiveButton, state.outputOn ? "ON" : "OFF");
        break;
    case CMD_GRID: ShowLimits(state, display); break;
    default: break;  // the other limits wait for the grid; 0 changed nothing
    }
    if (change.startupFinished)
        display.StartupFinished();
}

int FeedResponseByte(ResponseParserRecord& parser, DeviceStateRecord& state, Display& display,
                     uint8_t byte, long port)
{
    // A byte from a port we no longer listen to must not disturb the frame being assembled.
    if (port != state.openPort)
        return 0;
    if (ScanResponseByte(parser, byte) == ScanResult::Frame)
        RenderResponse(ApplyResponse(state, ScannedFrame(parser)), state, display);
    return parser.index;
}
