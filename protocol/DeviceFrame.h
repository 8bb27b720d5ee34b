// The 6-byte frame that travels both ways on the line, its command codes and the
// frames the program keeps for sending.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int FRAME_LENGTH = 6;

enum CommandCode : uint8_t {
    CMD_CHANNEL = 1,
    CMD_POWER = 2,
    CMD_OUTPUT = 3,
    CMD_CHANNEL_COUNT = 4,
    CMD_POWER_MAX = 5,
    CMD_POWER_MIN = 6,
    CMD_FIRST_FREQ = 7,
    CMD_GRID = 8,
};

// Bytes 0 and 1 tell the form of a frame.
constexpr uint8_t FORM_QUERY[2] = {0x01, 0x00};
constexpr uint8_t FORM_SET[2] = {0x00, 0x01};
constexpr uint8_t FORM_RESPONSE[2] = {0x01, 0x01};

struct DeviceFrame {
    uint8_t bytes[FRAME_LENGTH];
};

// Low 8 bits of the sum of bytes 0 to 4.
uint8_t FrameChecksum(const uint8_t* bytes);

// Builds a frame of the given form, code and 16-bit value (high byte first), checksum included.
DeviceFrame MakeFrame(const uint8_t form[2], uint8_t code, uint16_t value);

// The query of a code 1 to 8; queryFrames[code - 1]. Constant.
extern const DeviceFrame queryFrames[8];

// The stored set frames: they keep the last value written into them.
extern DeviceFrame setChannelFrame;
extern DeviceFrame setPowerFrame;
extern DeviceFrame setOutputFrame;

void FillSetChannel(DeviceFrame& frame, uint8_t channel);
void FillSetPower(DeviceFrame& frame, uint16_t power);
void FillSetOutput(DeviceFrame& frame, uint8_t on);

// A set frame made afresh, with the bytes the stored frames get: a channel in the low
// byte, a power in both, an output on (value not 0) or off in both.
DeviceFrame SetFrame(uint8_t code, uint16_t value);

// "01 0A FF": bytes as two-digit upper-case hex separated by spaces.
std::string HexBytes(const uint8_t* data, size_t size);
