#include <gtest/gtest.h>
#include <cstdio>
#include <random>
#include <string>
#include <vector>
#include "recording_display.h"

namespace {

using protocol_test::Feed;
using protocol_test::RecordingDisplay;
using protocol_test::Response;
using Bytes = std::vector<uint8_t>;

TEST(ResponseParserTest, FramesFoundInTheByteStream)
{
    struct Case {
        const char* name;
        Bytes bytes;
        bool applied;  // the channel-5 response took effect
    };
    const Case cases[] = {
        {"plain", {0x01, 0x01, 0x01, 0x00, 0x05, 0x08}, true},
        {"leading bytes skipped", {0x00, 0x7F, 0x01, 0x01, 0x01, 0x00, 0x05, 0x08}, true},
        {"wrong second byte", {0x01, 0x05, 0x01, 0x01, 0x01, 0x00, 0x05, 0x08}, true},
        {"stray 01 shifts the frame", {0x01, 0x01, 0x01, 0x01, 0x00, 0x05, 0x08}, false},
        {"resynchronised later",
         {0x01, 0x01, 0x01, 0x01, 0x00, 0x05, 0x08, 0x01, 0x01, 0x01, 0x00, 0x05, 0x08},
         true},
        {"checksum off by one", {0x01, 0x01, 0x01, 0x00, 0x05, 0x09}, false},
        {"set form", {0x00, 0x01, 0x01, 0x00, 0x05, 0x07}, false},
        {"query form", {0x01, 0x00, 0x01, 0x00, 0x05, 0x07}, false},
        {"incomplete", {0x01, 0x01, 0x01, 0x00, 0x05}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResponseParserRecord parser;
        DeviceStateRecord state;
        RecordingDisplay display;
        Feed(parser, state, display, c.bytes);
        EXPECT_EQ(state.channel, c.applied ? 5 : 1);
        EXPECT_EQ(display.log.size(), c.applied ? 5u : 0u);
    }
}

TEST(ResponseParserTest, ResponseChecksumDiffersFromSetChecksum)
{
    ResponseParserRecord parser;
    DeviceStateRecord state;
    RecordingDisplay display;
    Feed(parser, state, display, {0x01, 0x01, 0x02, 0x02, 0xBC, 0xC1});
    EXPECT_EQ(state.power, 0);
    Feed(parser, state, display, {0x01, 0x01, 0x02, 0x02, 0xBC, 0xC2});
    EXPECT_EQ(state.power, 700);
}

TEST(ResponseParserTest, ResultIsTheNextPosition)
{
    ResponseParserRecord parser;
    DeviceStateRecord state;
    RecordingDisplay display;
    std::vector<int> results;
    for (uint8_t b : Bytes{0x05, 0x01, 0x00, 0x01, 0x01, 0x04, 0x00, 0x60, 0x66})
        results.push_back(FeedResponseByte(parser, state, display, b, 0));
    EXPECT_EQ(results, (std::vector<int>{0, 1, 0, 1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(state.channelCount, 0x60);
}

TEST(ResponseParserTest, BytesFromAnotherPortLeaveTheFrameAlone)
{
    ResponseParserRecord parser;
    DeviceStateRecord state;
    RecordingDisplay display;
    state.openPort = 7;
    Feed(parser, state, display, {0x01, 0x01, 0x01});
    const ResponseParserRecord half = parser;
    for (uint8_t b : Response(CMD_CHANNEL, 9))
        EXPECT_EQ(FeedResponseByte(parser, state, display, b, 3), 0);
    EXPECT_EQ(FeedResponseByte(parser, state, display, 0x01, 7L + 256), 0);
    EXPECT_EQ(parser.index, half.index);
    EXPECT_EQ(parser.sum, half.sum);
    EXPECT_EQ(Bytes(parser.buffer, parser.buffer + 6), Bytes(half.buffer, half.buffer + 6));

    // The half frame is carried over to the next port opened, like any other byte stream.
    state.openPort = 8;
    Feed(parser, state, display, {0x00, 0x05, 0x08});
    EXPECT_EQ(state.channel, 5);
}

// The byte-stream rule written as a scan over the whole stream: the frames it accepts and
// the position of the last byte of each.
std::vector<std::pair<size_t, DeviceFrame>> AcceptedFrames(const Bytes& s)
{
    std::vector<std::pair<size_t, DeviceFrame>> accepted;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] != 0x01) {
            i += 1;
        } else if (i + 1 < s.size() && s[i + 1] != 0x01) {
            i += 2;
        } else if (i + 5 < s.size()) {
            if ((s[i] + s[i + 1] + s[i + 2] + s[i + 3] + s[i + 4]) % 256 == s[i + 5]) {
                DeviceFrame frame = {{s[i], s[i + 1], s[i + 2], s[i + 3], s[i + 4], s[i + 5]}};
                accepted.push_back({i + 5, frame});
            }
            i += 6;
        } else {
            break;
        }
    }
    return accepted;
}

std::string StateText(const DeviceStateRecord& s)
{
    char text[256];
    std::snprintf(text, sizeof text, "%d %d %d %d %d %d %d %d %.17g %02x%02x%02x%02x %d %d",
                  s.channel, s.channelCount, s.power, s.powerMax, s.powerMin,
                  static_cast<int>(s.firstFrequency), s.grid, static_cast<int>(s.frequency),
                  s.wavelength, uint8_t(s.ituLabel[0]), uint8_t(s.ituLabel[1]),
                  uint8_t(s.ituLabel[2]), uint8_t(s.ituLabel[3]), s.outputOn, s.stage);
    return text;
}

// Noise, near-misses and valid frames, with bytes of another port scattered through them:
// exactly the well-formed responses of the open port take effect, each at its last byte.
TEST(ResponseParserTest, RandomStreamAppliesExactlyTheValidFrames)
{
    std::mt19937 rng(20261207);
    auto pick = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    Bytes stream;
    while (stream.size() < 200000) {
        DeviceFrame frame = MakeFrame(FORM_RESPONSE, static_cast<uint8_t>(1 + pick(9)),
                                      static_cast<uint16_t>(rng()));
        Bytes bytes(frame.bytes, frame.bytes + FRAME_LENGTH);
        switch (pick(6)) {
        case 0:  // noise, rich in 0x01
            bytes.clear();
            for (unsigned n = 1 + pick(8); n > 0; --n)
                bytes.push_back(static_cast<uint8_t>(pick(3) == 0 ? 0x01 : rng()));
            break;
        case 1:  // one byte changed
            bytes[pick(6)] ^= static_cast<uint8_t>(1 + pick(255));
            break;
        case 2:  // cut short
            bytes.resize(1 + pick(5));
            break;
        case 3:  // a set or query frame
            bytes[pick(2)] ^= 0x01;
            break;
        default:  // valid
            break;
        }
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    const auto accepted = AcceptedFrames(stream);
    ASSERT_GT(accepted.size(), 10000u);

    ResponseParserRecord parser;
    DeviceStateRecord parsed, expected;
    parsed.openPort = expected.openPort = 3;
    RecordingDisplay parsedDisplay, expectedDisplay;
    size_t next = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
        while (pick(8) == 0)
            FeedResponseByte(parser, parsed, parsedDisplay, static_cast<uint8_t>(rng()), 4);
        FeedResponseByte(parser, parsed, parsedDisplay, stream[i], 3);
        if (next < accepted.size() && accepted[next].first == i)
            RenderResponse(ApplyResponse(expected, accepted[next++].second), expected,
                           expectedDisplay);
        ASSERT_EQ(StateText(parsed), StateText(expected)) << "after byte " << i;
        ASSERT_EQ(parsedDisplay.log.size(), expectedDisplay.log.size()) << "after byte " << i;
    }
    EXPECT_EQ(parsedDisplay.log, expectedDisplay.log);
    EXPECT_EQ(parsed.stage, STAGE_READY);
}

}  // namespace
