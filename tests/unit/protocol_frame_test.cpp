#include <gtest/gtest.h>
#include <vector>
#include "DeviceFrame.h"
#include "StartupSequence.h"

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

TEST(DeviceFrameTest, MadeFramesCarryTheirFormValueAndChecksum)
{
    EXPECT_EQ(Bytes(MakeFrame(FORM_RESPONSE, CMD_POWER, 700)),
              (std::vector<uint8_t>{0x01, 0x01, 0x02, 0x02, 0xBC, 0xC2}));
    EXPECT_EQ(Bytes(MakeFrame(FORM_SET, CMD_POWER, 700)), Bytes(startPower));
    EXPECT_EQ(Bytes(MakeFrame(FORM_RESPONSE, CMD_FIRST_FREQ, 0x2AF8)),
              (std::vector<uint8_t>{0x01, 0x01, 0x07, 0x2A, 0xF8, 0x2B}));
}

// Each stage of the start-up asks for one value, in the order the later answers need.
TEST(StartupSequenceTest, QueryOfEachStage)
{
    struct Case {
        uint8_t stage;
        std::vector<uint8_t> query;
    };
    const Case cases[] = {
        {STAGE_IDLE, {0x01, 0x00, 0x04, 0x00, 0x00, 0x05}},
        {STAGE_POWER_MAX, {0x01, 0x00, 0x05, 0x00, 0x00, 0x06}},
        {STAGE_POWER_MIN, {0x01, 0x00, 0x06, 0x00, 0x00, 0x07}},
        {STAGE_FIRST_FREQ, {0x01, 0x00, 0x07, 0x00, 0x00, 0x08}},
        {STAGE_GRID, {0x01, 0x00, 0x08, 0x00, 0x00, 0x09}},
        {STAGE_CHANNEL, {0x01, 0x00, 0x01, 0x00, 0x00, 0x02}},
        {STAGE_POWER, {0x01, 0x00, 0x02, 0x00, 0x00, 0x03}},
        {STAGE_OUTPUT, {0x01, 0x00, 0x03, 0x00, 0x00, 0x04}},
    };
    for (const Case& c : cases) {
        const DeviceFrame* query = StartupQuery(c.stage);
        ASSERT_NE(query, nullptr) << "stage " << int(c.stage);
        EXPECT_EQ(Bytes(*query), c.query) << "stage " << int(c.stage);
    }
    EXPECT_EQ(StartupQuery(STAGE_READY), nullptr);
    EXPECT_EQ(StartupQuery(9), nullptr);
    EXPECT_EQ(StartupQuery(255), nullptr);
}

}  // namespace
