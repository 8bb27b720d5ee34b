#include "protocol/DeviceFrame.h"

uint8_t FrameChecksum(const uint8_t* bytes)
{
    unsigned sum = 0;
    for (int i = 0; i < FRAME_LENGTH - 1; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

DeviceFrame MakeFrame(const uint8_t form[2], uint8_t code, uint16_t value)
{
    DeviceFrame frame = {
        {form[0], form[1], code, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value), 0}};
    frame.bytes[5] = FrameChecksum(frame.bytes);
    return frame;
}

// Written out byte for byte so that they are constant-initialised, ready before any
// other object of the process is constructed.
const DeviceFrame queryFrames[8] = {
    {{0x01, 0x00, 0x01, 0x00, 0x00, 0x02}}, {{0x01, 0x00, 0x02, 0x00, 0x00, 0x03}},
    {{0x01, 0x00, 0x03, 0x00, 0x00, 0x04}}, {{0x01, 0x00, 0x04, 0x00, 0x00, 0x05}},
    {{0x01, 0x00, 0x05, 0x00, 0x00, 0x06}}, {{0x01, 0x00, 0x06, 0x00, 0x00, 0x07}},
    {{0x01, 0x00, 0x07, 0x00, 0x00, 0x08}}, {{0x01, 0x00, 0x08, 0x00, 0x00, 0x09}},
};

DeviceFrame setChannelFrame = {{0x00, 0x01, 0x01, 0x00, 0x01, 0x03}};
DeviceFrame setPowerFrame = {{0x00, 0x01, 0x02, 0x02, 0xBC, 0xC1}};
DeviceFrame setOutputFrame = {{0x00, 0x01, 0x03, 0x00, 0x00, 0x04}};

void FillSetChannel(DeviceFrame& frame, uint8_t channel)
{
    frame.bytes[4] = channel;
    frame.bytes[5] = FrameChecksum(frame.bytes);
}

void FillSetPower(DeviceFrame& frame, uint16_t power)
{
    frame.bytes[3] = static_cast<uint8_t>(power >> 8);
    frame.bytes[4] = static_cast<uint8_t>(power);
    frame.bytes[5] = FrameChecksum(frame.bytes);
}

void FillSetOutput(DeviceFrame& frame, uint8_t on)
{
    frame.bytes[3] = on;
    frame.bytes[4] = on;
    frame.bytes[5] = FrameChecksum(frame.bytes);
}

DeviceFrame SetFrame(uint8_t code, uint16_t value)
{
    if (code == CMD_CHANNEL)
        value = static_cast<uint8_t>(value);
    else if (code == CMD_OUTPUT)
        value = value != 0 ? 0x0101 : 0x0000;
    return MakeFrame(FORM_SET, code, value);
}

std::string HexBytes(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}
