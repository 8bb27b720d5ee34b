// The simulated module against the program's own protocol code: what the module says must
// be what the program understands.
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>
#include "sim/SimModule.h"
#include "protocol/StartupSequence.h"
#include "recording_display.h"

namespace {

using protocol_test::Feed;
using protocol_test::RecordingDisplay;
using Bytes = std::vector<uint8_t>;

// A module with its log kept, a program side (parser, state, display) and a clock.
struct Bench {
    std::vector<std::pair<int64_t, std::string>> log;
    SimModule module;
    ResponseParserRecord parser;
    DeviceStateRecord state;
    RecordingDisplay display;
    int64_t now = 0;

    explicit Bench(const SimSettings& settings = SimSettings())
        : module(settings, [this](int64_t ms, const std::string& line) {
              log.push_back({ms, line});
          })
    {}

    // Writes bytes to the module and returns what it sends back at once.
    Bytes Exchange(const Bytes& request)
    {
        module.Receive(request.data(), request.size(), now);
        return module.TakeDue(now);
    }

    // Exchange, with the answer fed to the program.
    Bytes Send(const Bytes& request)
    {
        Bytes answer = Exchange(request);
        Feed(parser, state, display, answer);
        return answer;
    }

    void Run(const std::string& command) { module.Execute(command, now); }

    std::vector<std::string> Lines(const std::string& kind) const
    {
        std::vector<std::string> found;
        for (const auto& entry : log) {
            if (entry.second.compare(0, kind.size() + 1, kind + " ") == 0)
                found.push_back(entry.second);
        }
        return found;
    }
};

Bytes Query(uint8_t code)
{
    const DeviceFrame& frame = queryFrames[code - 1];
    return Bytes(frame.bytes, frame.bytes + FRAME_LENGTH);
}

Bytes Set(uint8_t code, uint16_t value)
{
    DeviceFrame frame = MakeFrame(FORM_SET, code, value);
    return Bytes(frame.bytes, frame.bytes + FRAME_LENGTH);
}

Bytes Response(uint8_t code, uint16_t value)
{
    DeviceFrame frame = MakeFrame(FORM_RESPONSE, code, value);
    return Bytes(frame.bytes, frame.bytes + FRAME_LENGTH);
}

TEST(SimModuleTest, DefaultModuleCompletesTheStartUp)
{
    const Bytes answers[] = {
        {0x01, 0x01, 0x04, 0x00, 0x60, 0x66}, {0x01, 0x01, 0x05, 0x05, 0x14, 0x20},
        {0x01, 0x01, 0x06, 0x02, 0xBC, 0xC6}, {0x01, 0x01, 0x07, 0x2C, 0x24, 0x59},
        {0x01, 0x01, 0x08, 0x00, 0x32, 0x3C}, {0x01, 0x01, 0x01, 0x00, 0x01, 0x04},
        {0x01, 0x01, 0x02, 0x03, 0xE8, 0xEF}, {0x01, 0x01, 0x03, 0x01, 0x01, 0x07},
    };
    Bench bench;
    for (const Bytes& expected : answers) {
        const DeviceFrame* query = StartupQuery(bench.state.stage);
        ASSERT_NE(query, nullptr);
        EXPECT_EQ(bench.Send(Bytes(query->bytes, query->bytes + FRAME_LENGTH)), expected);
    }
    EXPECT_EQ(bench.state.stage, STAGE_READY);
    const RecordingDisplay& d = bench.display;
    EXPECT_EQ(d.Last("text ChannelEdit"), "text ChannelEdit 1");
    EXPECT_EQ(d.Last("text Frequency"), "text Frequency 191300");
    EXPECT_EQ(d.Last("text Wavelength"), "text Wavelength 1567.13");
    EXPECT_EQ(d.Last("text ItlaChannel"), "text ItlaChannel C13");
    EXPECT_EQ(d.Last("text PowerEdit"), "text PowerEdit 10.00");
    EXPECT_EQ(d.Last("text ActiveButton"), "text ActiveButton ON");
    EXPECT_EQ(d.Last("text ChannelLabel"), "text ChannelLabel Channel:\n(1-96)");
    EXPECT_EQ(d.Last("text PowerLabel"), "text PowerLabel Power:\n(7-13)");
    EXPECT_EQ(d.Last("startup"), "startup finished");
    EXPECT_EQ(bench.Lines("RX").size(), 8u);
    EXPECT_EQ(bench.Lines("TX").front(), "TX 01 01 04 00 60 66");
}

TEST(SimModuleTest, ConfiguredValuesTravelInTheirWireForm)
{
    SimSettings settings;
    settings.channelCount = 48;
    settings.firstFrequency = 191000;
    settings.grid = -100;
    settings.powerMin = 300;
    settings.powerMax = 1550;
    settings.channel = 7;
    settings.power = 820;
    settings.output = 0;
    Bench bench(settings);
    EXPECT_EQ(bench.Send(Query(CMD_FIRST_FREQ)), Response(CMD_FIRST_FREQ, 0x2AF8));
    EXPECT_EQ(bench.Send(Query(CMD_GRID)), Response(CMD_GRID, 0xFF9C));
    bench.Send(Query(CMD_CHANNEL_COUNT));
    bench.Send(Query(CMD_POWER_MIN));
    bench.Send(Query(CMD_POWER_MAX));
    bench.Send(Query(CMD_CHANNEL));
    bench.Send(Query(CMD_POWER));
    bench.state.outputOn = 1;
    EXPECT_EQ(bench.Send(Query(CMD_OUTPUT)), Response(CMD_OUTPUT, 0x0000));

    EXPECT_EQ(bench.state.firstFrequency, 191000);
    EXPECT_EQ(bench.state.grid, -100);
    EXPECT_EQ(bench.state.channelCount, 48);
    EXPECT_EQ(bench.state.powerMin, 300);
    EXPECT_EQ(bench.state.powerMax, 1550);
    EXPECT_EQ(bench.state.channel, 7);
    EXPECT_EQ(bench.state.frequency, 191000 - 6 * 100);
    EXPECT_EQ(bench.state.power, 820);
    EXPECT_EQ(bench.state.outputOn, 0);
}

TEST(SimModuleTest, SetsAreClampedAndAnsweredWithTheValueInForce)
{
    struct Case {
        uint8_t code;
        uint16_t sent;
        uint16_t answered;
    };
    const Case cases[] = {
        {CMD_CHANNEL, 5, 5},
        {CMD_CHANNEL, 0, 1},
        {CMD_CHANNEL, 97, 96},
        {CMD_CHANNEL, 0x0105, 96},
        {CMD_POWER, 1234, 1234},
        {CMD_POWER, 699, 700},
        {CMD_POWER, 1301, 1300},
        {CMD_POWER, 0xFFFF, 1300},
        {CMD_OUTPUT, 0x0000, 0x0000},
        {CMD_OUTPUT, 0x0101, 0x0101},
        {CMD_OUTPUT, 0x0005, 0x0101},
        // The limits are read-only: a set of them tells the value unchanged.
        {CMD_CHANNEL_COUNT, 10, 96},
        {CMD_POWER_MAX, 2000, 1300},
        {CMD_POWER_MIN, 0, 700},
        {CMD_FIRST_FREQ, 0, 0x2C24},
        {CMD_GRID, 100, 50},
    };
    Bench bench;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " set to " + std::to_string(c.sent));
        EXPECT_EQ(bench.Exchange(Set(c.code, c.sent)), Response(c.code, c.answered));
        EXPECT_EQ(bench.Exchange(Query(c.code)), Response(c.code, c.answered));
    }
}

TEST(SimModuleTest, CrossedPowerLimitsStillGiveADefiniteAnswer)
{
    SimSettings settings;
    settings.powerMin = 1300;
    settings.powerMax = 700;
    Bench bench(settings);
    EXPECT_EQ(bench.Exchange(Set(CMD_POWER, 100)), Response(CMD_POWER, 1300));
    EXPECT_EQ(bench.Exchange(Set(CMD_POWER, 1400)), Response(CMD_POWER, 700));
}

TEST(SimModuleTest, UnknownCodesAndResponsesAreNotAnswered)
{
    Bench bench;
    EXPECT_TRUE(bench.Exchange({0x01, 0x00, 0x09, 0x00, 0x00, 0x0A}).empty());
    EXPECT_TRUE(bench.Exchange({0x01, 0x00, 0x00, 0x00, 0x00, 0x01}).empty());
    EXPECT_EQ(bench.Lines("RX").size(), 2u);
    // A response echoed back is no request; its tail is dropped once a query follows.
    EXPECT_TRUE(bench.Exchange(Response(CMD_CHANNEL, 5)).empty());
    EXPECT_EQ(bench.Exchange(Query(CMD_CHANNEL_COUNT)), Response(CMD_CHANNEL_COUNT, 96));
    EXPECT_EQ(bench.Lines("DROP").size(), 6u);
}

TEST(SimModuleTest, ResynchronisesOnGarbage)
{
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<Bytes> answers;
        size_t drops;
    };
    const Case cases[] = {
        {"leading garbage",
         {0x07, 0xFF, 0x01, 0x01, 0x01, 0x00, 0x04, 0x00, 0x00, 0x05},
         {Response(CMD_CHANNEL_COUNT, 96)},
         4},
        {"stray 00 that looks like a set start",
         {0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x05},
         {Response(CMD_CHANNEL_COUNT, 96)},
         1},
        {"bad checksum then a good frame",
         {0x01, 0x00, 0x04, 0x00, 0x00, 0x07, 0x01, 0x00, 0x05, 0x00, 0x00, 0x06},
         {Response(CMD_POWER_MAX, 1300)},
         6},
        {"frame cut short by the next",
         {0x01, 0x00, 0x04, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03},
         {Response(CMD_POWER, 1000)},
         3},
        {"two frames back to back",
         {0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x03, 0x00, 0x00, 0x04},
         {Response(CMD_CHANNEL, 1), Response(CMD_OUTPUT, 0x0101)},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        // Byte by byte, as a serial line may deliver them.
        Bytes sent;
        for (uint8_t b : c.bytes) {
            Bytes more = bench.Exchange({b});
            sent.insert(sent.end(), more.begin(), more.end());
        }
        Bytes expected;
        for (const Bytes& answer : c.answers)
            expected.insert(expected.end(), answer.begin(), answer.end());
        EXPECT_EQ(sent, expected);
        EXPECT_EQ(bench.Lines("DROP").size(), c.drops);
        EXPECT_EQ(bench.Lines("RX").size(), c.answers.size());
    }
}

TEST(SimModuleTest, MuteAndSkipLoseOnlyTheAnswer)
{
    Bench bench;
    bench.Run("mute 1");
    EXPECT_TRUE(bench.Exchange(Set(CMD_CHANNEL, 9)).empty());
    EXPECT_TRUE(bench.Exchange(Query(CMD_CHANNEL)).empty());
    EXPECT_EQ(bench.Exchange(Query(CMD_POWER)), Response(CMD_POWER, 1000));
    bench.Run("unmute 1");
    EXPECT_EQ(bench.Exchange(Query(CMD_CHANNEL)), Response(CMD_CHANNEL, 9));

    bench.Run("skip 2 2");
    EXPECT_TRUE(bench.Exchange(Set(CMD_POWER, 800)).empty());
    EXPECT_EQ(bench.Exchange(Query(CMD_CHANNEL)), Response(CMD_CHANNEL, 9));
    EXPECT_TRUE(bench.Exchange(Query(CMD_POWER)).empty());
    EXPECT_EQ(bench.Exchange(Query(CMD_POWER)), Response(CMD_POWER, 800));

    bench.Run("mute all");
    for (uint8_t code = 1; code <= 8; ++code)
        EXPECT_TRUE(bench.Exchange(Query(code)).empty());
    bench.Run("unmute all");
    for (uint8_t code = 1; code <= 8; ++code)
        EXPECT_EQ(bench.Exchange(Query(code)).size(), 6u);
}

TEST(SimModuleTest, CorruptedAnswersAreDroppedByTheProgram)
{
    Bench bench;
    bench.Run("corrupt 2");
    bench.Send(Set(CMD_CHANNEL, 5));
    bench.Send(Query(CMD_CHANNEL));
    EXPECT_EQ(bench.state.channel, 1);
    EXPECT_TRUE(bench.display.log.empty());
    Bytes good = bench.Send(Query(CMD_CHANNEL));
    EXPECT_EQ(good, Response(CMD_CHANNEL, 5));
    EXPECT_EQ(bench.state.channel, 5);
    EXPECT_EQ(bench.Lines("TX").size(), 3u);
}

TEST(SimModuleTest, DelayedAnswersCarryTheirDueTime)
{
    Bench bench;
    bench.now = 1000;
    bench.Run("delay 250");
    EXPECT_TRUE(bench.Exchange(Set(CMD_POWER, 900)).empty());
    EXPECT_EQ(bench.module.NextDue(), 1250);
    bench.now = 1100;
    EXPECT_TRUE(bench.Exchange(Query(CMD_OUTPUT)).empty());
    EXPECT_TRUE(bench.module.TakeDue(1249).empty());
    // The module answers with the value in force when the frame arrived.
    bench.Run("set power 1200");
    Bytes first = bench.module.TakeDue(1250);
    EXPECT_EQ(first, Response(CMD_POWER, 900));
    EXPECT_EQ(bench.module.NextDue(), 1350);
    EXPECT_EQ(bench.module.TakeDue(2000), Response(CMD_OUTPUT, 0x0101));
    EXPECT_EQ(bench.module.NextDue(), -1);
    ASSERT_EQ(bench.Lines("TX").size(), 2u);
    EXPECT_EQ(bench.log.back().first, 2000);

    bench.Run("delay 0");
    EXPECT_EQ(bench.Exchange(Query(CMD_POWER)), Response(CMD_POWER, 1200));
}

TEST(SimModuleTest, InjectedAndUnaskedBytesGoOutAtOnce)
{
    Bench bench;
    bench.Run("delay 500");
    bench.Run("corrupt 1");
    bench.Run("inject 01 01 01 00 05 08");
    // Injected bytes are sent as given: the corruption waits for a real response.
    bench.Send({});
    EXPECT_EQ(bench.state.channel, 5);
    bench.Run("inject 0x7 0101020514 1D");
    EXPECT_EQ(bench.module.TakeDue(bench.now), (Bytes{0x07, 0x01, 0x01, 0x02, 0x05, 0x14, 0x1D}));
    EXPECT_EQ(bench.log.back().second, "TX 07 01 01 02 05 14 1D");

    bench.Run("set channel 12");
    bench.Run("answer 1");
    Bytes unasked = bench.module.TakeDue(bench.now);
    ASSERT_EQ(unasked.size(), 6u);
    EXPECT_NE(unasked[5], Response(CMD_CHANNEL, 12)[5]);
    bench.Run("answer 1");
    EXPECT_EQ(bench.module.TakeDue(bench.now), Response(CMD_CHANNEL, 12));
}

TEST(SimModuleTest, DisconnectForgetsHalfFramesAndUnsentAnswers)
{
    Bench bench;
    bench.Run("delay 100");
    bench.Exchange(Query(CMD_POWER));
    bench.Exchange({0x01, 0x00, 0x04});
    bench.module.Disconnect(bench.now);
    EXPECT_EQ(bench.module.NextDue(), -1);
    EXPECT_EQ(bench.Lines("DROP").size(), 3u);
    bench.Run("delay 0");
    // The bytes before the disconnection do not complete a frame with the new ones.
    EXPECT_EQ(bench.Exchange({0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x00, 0x00, 0x05}),
              Response(CMD_CHANNEL_COUNT, 96));
}

}  // namespace
