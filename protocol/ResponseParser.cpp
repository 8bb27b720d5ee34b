#include "protocol/ResponseParser.h"
#include <cstdio>
#include "protocol/FrequencyLabel.h"
#include "protocol/StartupSequence.h"
#include "protocol/ValueFormat.h"

ResponseParserRecord ResponseParser;

namespace {

uint16_t Data16(const DeviceFrame& frame)
{
    return static_cast<uint16_t>(frame.bytes[3] << 8 | frame.bytes[4]);
}

void ApplyChannel(DeviceStateRecord& state, uint8_t channel, Display& display)
{
    char text[32];
    state.channel = channel;
    std::snprintf(text, sizeof text, "%d", state.channel);
    display.SetText(DisplayText::ChannelEdit, text);
    display.SetSliderPos(Slider::Channel, state.channel);

    state.frequency = ChannelFrequency(state.firstFrequency, state.grid, state.channel);
    state.wavelength = Wavelength(state.frequency);
    UpdateItuLabel(state.frequency, state.ituLabel);

    std::snprintf(text, sizeof text, "%d", static_cast<int>(state.frequency));
    display.SetText(DisplayText::Frequency, text);
    FormatWavelength(state.wavelength, text, sizeof text);
    display.SetText(DisplayText::Wavelength, text);
    display.SetText(DisplayText::ItlaChannel, state.ituLabel);
}

void ApplyPower(DeviceStateRecord& state, uint16_t power, Display& display)
{
    char text[32];
    state.power = power;
    FormatPower(state.power, text, sizeof text);
    display.SetText(DisplayText::PowerEdit, text);
    display.SetSliderPos(Slider::Power, state.power);
}

// Both data bytes carry the state. When they disagree the state is unknown and the answer
// changes nothing, not even the start-up stage: the next tick asks again. Returns whether
// the answer was taken.
bool ApplyOutput(DeviceStateRecord& state, uint8_t d3, uint8_t d4, Display& display)
{
    if ((d3 != 0) != (d4 != 0))
        return false;
    state.outputOn = d3 != 0 ? 1 : 0;
    display.SetText(DisplayText::ActiveButton, state.outputOn ? "ON" : "OFF");
    return true;
}

// The grid is the last limit read at start-up, so its answer lays out both sliders.
void ApplyGrid(DeviceStateRecord& state, uint16_t grid, Display& display)
{
    char text[48];
    state.grid = static_cast<int16_t>(grid);
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

uint8_t ApplyResponse(DeviceStateRecord& state, const DeviceFrame& frame, Display& display)
{
    const uint8_t code = frame.bytes[2];
    switch (code) {
    case CMD_CHANNEL: ApplyChannel(state, frame.bytes[4], display); break;
    case CMD_POWER: ApplyPower(state, Data16(frame), display); break;
    case CMD_OUTPUT:
        if (!ApplyOutput(state, frame.bytes[3], frame.bytes[4], display))
            return 0;
        break;
    case CMD_CHANNEL_COUNT: state.channelCount = frame.bytes[4]; break;
    case CMD_POWER_MAX: state.powerMax = Data16(frame); break;
    case CMD_POWER_MIN: state.powerMin = Data16(frame); break;
    case CMD_FIRST_FREQ: state.firstFrequency = 180000 + Data16(frame); break;
    case CMD_GRID: ApplyGrid(state, Data16(frame), display); break;
    default: return 0;
    }

    // Answers that arrive out of turn, or again after the stage moved on, leave it alone.
    uint8_t next = StageAfterResponse(state.stage, code);
    if (next != state.stage) {
        state.stage = next;
        if (next == STAGE_READY)
            display.StartupFinished();
    }
    return code;
}

ScanResult ScanResponseByte(ResponseParserRecord& parser, uint8_t byte)
{
    parser.buffer[parser.index] = byte;
    switch (parser.index) {
    case 0:
        if (byte != 0x01)
            return ScanResult::Skipped;
        parser.index = 1;
        return ScanResult::Pending;
    case 1:
        // A wrong second byte abandons the frame; it is not retried as a first byte.
        if (byte != 0x01) {
            parser.index = 0;
            return ScanResult::Abandoned;
        }
        parser.index = 2;
        parser.sum = 0x01 + 0x01;
        return ScanResult::Pending;
    case 2:
    case 3:
    case 4:
        parser.sum = static_cast<uint8_t>(parser.sum + byte);
        ++parser.index;
        return ScanResult::Pending;
    default:
        parser.index = 0;
        return byte == parser.sum ? ScanResult::Frame : ScanResult::BadChecksum;
    }
}

int FeedResponseByte(ResponseParserRecord& parser, DeviceStateRecord& state, Display& display,
                     uint8_t byte, long port)
{
    // A byte from a port we no longer listen to must not disturb the frame being assembled.
    if (port != state.openPort)
        return 0;

    if (ScanResponseByte(parser, byte) == ScanResult::Frame) {
        DeviceFrame frame;
        for (int i = 0; i < FRAME_LENGTH; ++i)
            frame.bytes[i] = parser.buffer[i];
        ApplyResponse(state, frame, display);
    }
    return parser.index;
}
