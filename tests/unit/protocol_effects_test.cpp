// What each response does to the module's record and to the start-up stage, and what it
// reports having changed.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>
#include "protocol/FrequencyLabel.h"
#include "protocol/ResponseParser.h"
#include "protocol/StartupSequence.h"

namespace {

ResponseChange Apply(DeviceStateRecord& state, uint8_t code, uint16_t value)
{
    return ApplyResponse(state, MakeFrame(FORM_RESPONSE, code, value));
}

// Code, value and whether the start-up finished, for comparing changes as one.
std::vector<int32_t> Fields(const ResponseChange& change)
{
    return {change.code, change.value, change.startupFinished ? 1 : 0};
}

bool SameRecord(const DeviceStateRecord& a, const DeviceStateRecord& b)
{
    return a.channel == b.channel && a.channelCount == b.channelCount && a.power == b.power &&
           a.powerMax == b.powerMax && a.powerMin == b.powerMin &&
           a.firstFrequency == b.firstFrequency && a.grid == b.grid && a.frequency == b.frequency &&
           std::memcmp(a.ituLabel, b.ituLabel, 4) == 0 && a.outputOn == b.outputOn &&
           a.stage == b.stage;
}

TEST(ResponseEffects, ChannelBringsItsFrequencyWavelengthAndLabel)
{
    DeviceStateRecord state;
    state.stage = STAGE_READY;
    state.firstFrequency = 191300;
    state.grid = 50;
    EXPECT_EQ(Fields(Apply(state, CMD_CHANNEL, 5)), (std::vector<int32_t>{CMD_CHANNEL, 5, 0}));
    EXPECT_EQ(state.frequency, 191500);
    EXPECT_DOUBLE_EQ(state.wavelength, SPEED_OF_LIGHT / 191500);
    EXPECT_STREQ(state.ituLabel, "C15");

    // Byte 3 is ignored; channel 0 lies one grid step below the first channel.
    EXPECT_EQ(Fields(Apply(state, CMD_CHANNEL, 0x7F00)), (std::vector<int32_t>{CMD_CHANNEL, 0, 0}));
    EXPECT_EQ(state.frequency, 191250);
    EXPECT_STREQ(state.ituLabel, "H12");
}

TEST(ResponseEffects, EachCodeStoresItsValueAsTheRecordHoldsIt)
{
    struct Case {
        uint8_t code;
        uint16_t data;
        int32_t stored;
    };
    const Case cases[] = {
        {CMD_POWER, 0xFFFF, 65535},        {CMD_OUTPUT, 0x0101, 1},
        {CMD_OUTPUT, 0xFF02, 1},           {CMD_OUTPUT, 0x0000, 0},
        {CMD_CHANNEL_COUNT, 0x1260, 0x60},  // one byte: byte 3 is ignored
        {CMD_POWER_MAX, 1300, 1300},       {CMD_POWER_MIN, 0xFFFF, 65535},
        {CMD_FIRST_FREQ, 0x2C24, 191300},                            // offset from 180000 GHz
        {CMD_FIRST_FREQ, 0xFFFF, 245535},  {CMD_GRID, 0xFFCE, -50},  // signed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.code) << " " << c.data);
        DeviceStateRecord state;
        state.stage = STAGE_READY;
        EXPECT_EQ(Fields(Apply(state, c.code, c.data)),
                  (std::vector<int32_t>{c.code, c.stored, 0}));
        const int32_t held[] = {0,
                                state.power,
                                state.outputOn,
                                state.channelCount,
                                state.powerMax,
                                state.powerMin,
                                state.firstFrequency,
                                state.grid};
        EXPECT_EQ(held[c.code - 1], c.stored);
    }
}

// An unknown code, or an output answer whose data bytes disagree, tells nothing: the
// record, the stage included, stays as it was, so the start-up asks again.
TEST(ResponseEffects, FramesThatTellNothingChangeNothing)
{
    for (uint8_t stage : {STAGE_IDLE, STAGE_GRID, STAGE_OUTPUT, STAGE_READY}) {
        DeviceStateRecord state;
        state.stage = stage;
        state.outputOn = 1;
        const DeviceStateRecord before = state;
        for (uint8_t code : {0, 9, 0xFF})
            EXPECT_EQ(Fields(Apply(state, code, 1)), (std::vector<int32_t>{0, 0, 0}));
        for (uint16_t value : {0x0100, 0x0001, 0xFF00})
            EXPECT_EQ(Fields(Apply(state, CMD_OUTPUT, value)), (std::vector<int32_t>{0, 0, 0}));
        EXPECT_TRUE(SameRecord(state, before)) << int(stage);
    }
}

TEST(ResponseEffects, StageMovesOnlyOnTheAwaitedAnswer)
{
    // The answer to a repeated channel-count query, after the stage moved on.
    DeviceStateRecord state;
    state.stage = STAGE_POWER_MAX;
    Apply(state, CMD_CHANNEL_COUNT, 0x60);
    EXPECT_EQ(state.channelCount, 0x60);
    EXPECT_EQ(state.stage, STAGE_POWER_MAX);

    // An output answer out of turn is taken but does not end the start-up.
    state.stage = STAGE_POWER;
    EXPECT_EQ(Fields(Apply(state, CMD_OUTPUT, 0x0101)), (std::vector<int32_t>{CMD_OUTPUT, 1, 0}));
    EXPECT_EQ(state.stage, STAGE_POWER);
}

// A module of 96 channels on a 50 GHz grid from 191300 GHz, 7 to 13 dBm, at channel 1 and
// 10 dBm with its output on, answering each query before the next tick.
TEST(ResponseEffects, CompleteStartup)
{
    DeviceStateRecord state;
    struct Tick {
        uint8_t stage;
        std::vector<uint8_t> query, answer;
        uint8_t next;
    };
    const Tick ticks[] = {
        {0, {0x01, 0x00, 0x04, 0x00, 0x00, 0x05}, {0x01, 0x01, 0x04, 0x00, 0x60, 0x66}, 2},
        {2, {0x01, 0x00, 0x05, 0x00, 0x00, 0x06}, {0x01, 0x01, 0x05, 0x05, 0x14, 0x20}, 3},
        {3, {0x01, 0x00, 0x06, 0x00, 0x00, 0x07}, {0x01, 0x01, 0x06, 0x02, 0xBC, 0xC6}, 4},
        {4, {0x01, 0x00, 0x07, 0x00, 0x00, 0x08}, {0x01, 0x01, 0x07, 0x2C, 0x24, 0x59}, 5},
        {5, {0x01, 0x00, 0x08, 0x00, 0x00, 0x09}, {0x01, 0x01, 0x08, 0x00, 0x32, 0x3C}, 6},
        {6, {0x01, 0x00, 0x01, 0x00, 0x00, 0x02}, {0x01, 0x01, 0x01, 0x00, 0x01, 0x04}, 7},
        {7, {0x01, 0x00, 0x02, 0x00, 0x00, 0x03}, {0x01, 0x01, 0x02, 0x03, 0xE8, 0xEF}, 8},
        {8, {0x01, 0x00, 0x03, 0x00, 0x00, 0x04}, {0x01, 0x01, 0x03, 0x01, 0x01, 0x07}, 1},
    };
    for (const Tick& tick : ticks) {
        ASSERT_EQ(state.stage, tick.stage);
        const DeviceFrame* query = StartupQuery(state.stage);
        ASSERT_NE(query, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(query->bytes, query->bytes + FRAME_LENGTH), tick.query);
        DeviceFrame answer;
        std::copy(tick.answer.begin(), tick.answer.end(), answer.bytes);
        const ResponseChange change = ApplyResponse(state, answer);
        EXPECT_EQ(state.stage, tick.next);
        EXPECT_EQ(change.startupFinished, tick.next == STAGE_READY);
    }
    EXPECT_EQ(StartupQuery(state.stage), nullptr);
    EXPECT_EQ(StartupQuery(9), nullptr);
    EXPECT_EQ(state.channel, 1);
    EXPECT_EQ(state.frequency, 191300);
    EXPECT_STREQ(state.ituLabel, "C13");
    EXPECT_EQ(state.power, 1000);
    EXPECT_EQ(state.outputOn, 1);
    EXPECT_EQ(state.powerMin, 700);
    EXPECT_EQ(state.powerMax, 1300);

    // The last answer again: taken, but the start-up finished once.
    EXPECT_FALSE(Apply(state, CMD_OUTPUT, 0).startupFinished);
    EXPECT_EQ(state.outputOn, 0);
}

}  // namespace
