#include <gtest/gtest.h>
#include <vector>
#include "protocol/DeviceFrame.h"

namespace {

std::vector<uint8_t> Bytes(const DeviceFrame& frame)
{
    return std::vector<uint8_t>(frame.bytes, frame.bytes + FRAME_LENGTH);
}

// Copied while the process starts, before any test can send (and so refill) a stored frame.
const DeviceFrame startChannel = setChannelFrame;
const DeviceFrame startPower = setPowerFrame;
const DeviceFrame startOutput = setOutputFrame;

TEST(DeviceFrameTest, StoredFramesStartWithTheirInitialBytes)
{
    EXPECT_EQ(Bytes(startChannel), (std::vector<uint8_t>{0x00, 0x01, 0x01, 0x00, 0x01, 0x03}));
    EXPECT_EQ(Bytes(startPower), (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x02, 0xBC, 0xC1}));
    EXPECT_EQ(Bytes(startOutput), (std::vector<uint8_t>{0x00, 0x01, 0x03, 0x00, 0x00, 0x04}));
}

TEST(DeviceFrameTest, FilledSetFrames)
{
    DeviceFrame channel = startChannel;
    FillSetChannel(channel, 254);  // checksum wraps to 0
    EXPECT_EQ(Bytes(channel), (std::vector<uint8_t>{0x00, 0x01, 0x01, 0x00, 0xFE, 0x00}));
    FillSetChannel(channel, 1);
    EXPECT_EQ(Bytes(channel), Bytes(startChannel));

    DeviceFrame power = startPower;
    FillSetPower(power, 1300);
    EXPECT_EQ(Bytes(power), (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x05, 0x14, 0x1C}));
    FillSetPower(power, 0xFFFF);
    EXPECT_EQ(Bytes(power), (std::vector<uint8_t>{0x00, 0x01, 0x02, 0xFF, 0xFF, 0x01}));

    DeviceFrame output = startOutput;
    FillSetOutput(output, 1);
    EXPECT_EQ(Bytes(output), (std::vector<uint8_t>{0x00, 0x01, 0x03, 0x01, 0x01, 0x06}));
    FillSetOutput(output, 0);
    EXPECT_EQ(Bytes(output), Bytes(startOutput));
}

// The tool and the server make their set frames afresh: byte for byte what the window's
// stored frames hold once filled with the same value.
TEST(DeviceFrameTest, SetFramesMadeAfreshMatchTheFilledStoredFrames)
{
    for (uint16_t value : {0, 1, 96, 254, 255, 256, 0x1234, 0xFFFF}) {
        SCOPED_TRACE(value);
        DeviceFrame channel = startChannel;
        FillSetChannel(channel, static_cast<uint8_t>(value));
        EXPECT_EQ(Bytes(SetFrame(CMD_CHANNEL, value)), Bytes(channel));
        DeviceFrame power = startPower;
        FillSetPower(power, value);
        EXPECT_EQ(Bytes(SetFrame(CMD_POWER, value)), Bytes(power));
        DeviceFrame output = startOutput;
        FillSetOutput(output, value != 0 ? 1 : 0);
        EXPECT_EQ(Bytes(SetFrame(CMD_OUTPUT, value)), Bytes(output));
    }
}

TEST(DeviceFrameTest, MadeFramesCarryTheirFormValueAndChecksum)
{
    EXPECT_EQ(Bytes(MakeFrame(FORM_RESPONSE, CMD_POWER, 700)),
              (std::vector<uint8_t>{0x01, 0x01, 0x02, 0x02, 0xBC, 0xC2}));
    EXPECT_EQ(Bytes(MakeFrame(FORM_SET, CMD_POWER, 700)), Bytes(startPower));
    EXPECT_EQ(Bytes(MakeFrame(FORM_RESPONSE, CMD_FIRST_FREQ, 0x2AF8)),
              (std::vector<uint8_t>{0x01, 0x01, 0x07, 0x2A, 0xF8, 0x2B}));
}

}  // namespace
