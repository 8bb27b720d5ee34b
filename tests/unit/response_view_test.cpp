// What the window shows of each response, through the byte handler the window calls.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "protocol/StartupSequence.h"
#include "recording_display.h"

namespace {

using protocol_test::Feed;
using protocol_test::RecordingDisplay;
using protocol_test::Response;
using Log = std::vector<std::string>;

struct ResponseViewTest : ::testing::Test {
    ResponseParserRecord parser;
    DeviceStateRecord state;
    RecordingDisplay display;

    ResponseViewTest() { state.stage = STAGE_READY; }
    void Receive(const std::vector<uint8_t>& bytes) { Feed(parser, state, display, bytes); }
    Log Take()
    {
        Log log;
        log.swap(display.log);
        return log;
    }
};

TEST_F(ResponseViewTest, ChannelShowsItsFrequencyWavelengthAndLabel)
{
    state.firstFrequency = 191300;
    state.grid = 50;
    Receive({0x01, 0x01, 0x01, 0x00, 0x05, 0x08});
    EXPECT_EQ(Take(), (Log{"text ChannelEdit 5", "pos Channel 5", "text Frequency 191500",
                           "text Wavelength 1565.50", "text ItlaChannel C15"}));

    // Byte 3 is ignored; channel 0 lies one grid step below the first channel.
    Receive({0x01, 0x01, 0x01, 0x7F, 0x00, 0x82});
    EXPECT_EQ(Take(), (Log{"text ChannelEdit 0", "pos Channel 0", "text Frequency 191250",
                           "text Wavelength 1567.54", "text ItlaChannel H12"}));
}

TEST_F(ResponseViewTest, PowerInDbm)
{
    Receive(Response(CMD_POWER, 1000));
    Receive(Response(CMD_POWER, 705));
    Receive(Response(CMD_POWER, 0xFFFF));
    EXPECT_EQ(Take(), (Log{"text PowerEdit 10.00", "pos Power 1000", "text PowerEdit 7.05",
                           "pos Power 705", "text PowerEdit 655.35", "pos Power 65535"}));
}

TEST_F(ResponseViewTest, OutputCaptionOnlyWhenBothDataBytesAgree)
{
    struct Case {
        uint8_t d3, d4;
        uint8_t before, after;
        Log log;
    };
    const Case cases[] = {
        {0x01, 0x01, 0, 1, {"text ActiveButton ON"}},
        {0xFF, 0x02, 0, 1, {"text ActiveButton ON"}},
        {0x00, 0x00, 1, 0, {"text ActiveButton OFF"}},
        {0x01, 0x00, 0, 0, {}},
        {0x00, 0x01, 1, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.d3) << " " << int(c.d4));
        state.outputOn = c.before;
        Receive(Response(CMD_OUTPUT, static_cast<uint16_t>(c.d3 << 8 | c.d4)));
        EXPECT_EQ(state.outputOn, c.after);
        EXPECT_EQ(Take(), c.log);
    }
}

TEST_F(ResponseViewTest, LimitsBeforeTheGridShowNothing)
{
    for (uint8_t code : {CMD_CHANNEL_COUNT, CMD_POWER_MAX, CMD_POWER_MIN, CMD_FIRST_FREQ})
        Receive(Response(code, 1200));
    EXPECT_EQ(state.powerMin, 1200);
    EXPECT_EQ(Take(), Log{});
}

TEST_F(ResponseViewTest, GridLaysOutBothSliders)
{
    state.channelCount = 96;
    state.power = 1000;
    state.powerMin = 700;
    state.powerMax = 1300;
    Receive(Response(CMD_GRID, 0xFFCE));
    EXPECT_EQ(state.grid, -50);
    EXPECT_EQ(Take(), (Log{"text ChannelLabel Channel:\n(1-96)",
                           "pos Power 1000",
                           "range Channel 1 96",
                           "clear Channel",
                           "tick Channel 10",
                           "tick Channel 20",
                           "tick Channel 30",
                           "tick Channel 40",
                           "tick Channel 50",
                           "tick Channel 60",
                           "tick Channel 70",
                           "tick Channel 80",
                           "tick Channel 90",
                           "text PowerLabel Power:\n(7-13)",
                           "range Power 700 1300",
                           "clear Power",
                           "tick Power 800",
                           "tick Power 900",
                           "tick Power 1000",
                           "tick Power 1100",
                           "tick Power 1200"}));
}

TEST_F(ResponseViewTest, PowerTicksOneDbmApartInsideTheLimits)
{
    struct Case {
        uint16_t min, max;
        Log power;
    };
    const Case cases[] = {
        {700,
         1350,
         {"text PowerLabel Power:\n(7-13)", "range Power 700 1350", "clear Power", "tick Power 800",
          "tick Power 900", "tick Power 1000", "tick Power 1100", "tick Power 1200"}},
        {700,
         900,
         {"text PowerLabel Power:\n(7-9)", "range Power 700 900", "clear Power", "tick Power 800"}},
        {700, 800, {"text PowerLabel Power:\n(7-8)", "range Power 700 800", "clear Power"}},
        {750, 849, {"text PowerLabel Power:\n(7-8)", "range Power 750 849", "clear Power"}},
        // Reversed limits are shown and set as they came, with no tick.
        {1300, 700, {"text PowerLabel Power:\n(13-7)", "range Power 1300 700", "clear Power"}},
        {65535, 0, {"text PowerLabel Power:\n(655-0)", "range Power 65535 0", "clear Power"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << "-" << c.max);
        state.powerMin = c.min;
        state.powerMax = c.max;
        Receive(Response(CMD_GRID, 50));
        Log log = Take();
        EXPECT_EQ(Log(log.begin() + 13, log.end()), c.power);
    }
}

TEST_F(ResponseViewTest, WhatChangedNothingShowsNothing)
{
    Receive(Response(0, 1));
    Receive(Response(9, 1));
    Receive(Response(0xFF, 0xFFFF));
    EXPECT_EQ(Take(), Log{});
}

// A module of 96 channels on a 50 GHz grid from 191300 GHz, 7 to 13 dBm, at channel 1 and
// 10 dBm with its output on, answering each start-up query in turn.
TEST_F(ResponseViewTest, CompleteStartup)
{
    state = DeviceStateRecord();
    state.openPort = 12;
    state.portOpen = 1;
    while (const DeviceFrame* query = StartupQuery(state.stage)) {
        const uint8_t code = query->bytes[2];
        const uint16_t answers[] = {1, 1000, 0x0101, 96, 1300, 700, 191300 - 180000, 50};
        Receive(Response(code, answers[code - 1]));
        ASSERT_EQ(display.Matching("startup").size(), state.stage == STAGE_READY ? 1u : 0u);
    }
    EXPECT_EQ(display.log.back(), "startup finished");  // after the output caption

    EXPECT_EQ(display.Last("text ChannelEdit"), "text ChannelEdit 1");
    EXPECT_EQ(display.Last("text Frequency"), "text Frequency 191300");
    EXPECT_EQ(display.Last("text Wavelength"), "text Wavelength 1567.13");
    EXPECT_EQ(display.Last("text ItlaChannel"), "text ItlaChannel C13");
    EXPECT_EQ(display.Last("text PowerEdit"), "text PowerEdit 10.00");
    EXPECT_EQ(display.Last("text ActiveButton"), "text ActiveButton ON");
    EXPECT_EQ(display.Last("text ChannelLabel"), "text ChannelLabel Channel:\n(1-96)");
    EXPECT_EQ(display.Last("text PowerLabel"), "text PowerLabel Power:\n(7-13)");
    EXPECT_EQ(display.Matching("range"), (Log{"range Channel 1 96", "range Power 700 1300"}));
    EXPECT_EQ(display.Matching("tick Channel").size(), 9u);
    EXPECT_EQ(display.Matching("tick Power"),
              (Log{"tick Power 800", "tick Power 900", "tick Power 1000", "tick Power 1100",
                   "tick Power 1200"}));
    EXPECT_EQ(display.Last("pos Channel"), "pos Channel 1");
    EXPECT_EQ(display.Last("pos Power"), "pos Power 1000");

    // Answers after the start-up never finish it again.
    Receive(Response(CMD_OUTPUT, 0));
    EXPECT_EQ(display.Matching("startup").size(), 1u);
}

}  // namespace
