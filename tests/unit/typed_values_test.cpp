#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <vector>

#include "protocol/DeviceFrame.h"
#include "protocol/TypedValues.h"

namespace {

TEST(TypedChannel, TruncatesThenClampsToOneAndTheCount)
{
    EXPECT_EQ(ChannelFromText("0", 96), 1);
    EXPECT_EQ(ChannelFromText("12.9", 96), 12);
    EXPECT_EQ(ChannelFromText("300", 96), 96);
    EXPECT_EQ(ChannelFromText("-3", 96), 1);
    EXPECT_EQ(ChannelFromText("-0.5", 96), 1);
    EXPECT_EQ(ChannelFromText("96", 96), 96);
    // 257 is compared before narrowing: it is 96, not 1.
    EXPECT_EQ(ChannelFromText("257", 96), 96);
    EXPECT_EQ(ChannelFromText("257", 255), 255);
    // Nothing atof can read: 0, so channel 1.
    EXPECT_EQ(ChannelFromText("-", 96), 1);
    EXPECT_EQ(ChannelFromText(".", 96), 1);
}

TEST(TypedPower, HundredthsOfTheDoubleProductTruncated)
{
    EXPECT_EQ(PowerFromText("7", 700, 1300), 700);
    EXPECT_EQ(PowerFromText("8.2", 700, 1300), 819);
    EXPECT_EQ(PowerFromText("7.1", 700, 1300), 710);
    EXPECT_EQ(PowerFromText("12.999", 700, 1300), 1299);
    EXPECT_EQ(PowerFromText("-1", 700, 1300), 700);
    EXPECT_EQ(PowerFromText("20", 700, 1300), 1300);
    // 65536 + 800 = 66336 must not narrow to 800 before the comparison.
    EXPECT_EQ(PowerFromText("663.36", 700, 1300), 1300);
    EXPECT_EQ(PowerFromText("-", 700, 1300), 700);
    EXPECT_EQ(PowerFromText(".", 700, 1300), 700);
    // Limits the wrong way round: the minimum is tested first.
    EXPECT_EQ(PowerFromText("10", 1300, 700), 1300);
}

TEST(TypedValues, NonFiniteAndHugeNumbersAreClampedLikeAnyOther)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(ChannelFromNumber(inf, 96), 96);
    EXPECT_EQ(ChannelFromNumber(-inf, 96), 1);
    EXPECT_EQ(ChannelFromNumber(nan, 96), 1);
    EXPECT_EQ(ChannelFromNumber(1e300, 96), 96);
    EXPECT_EQ(ChannelFromNumber(-1e300, 96), 1);
    EXPECT_EQ(ChannelFromNumber(4294967297.0, 96), 96);  // 2^32 + 1
    EXPECT_EQ(PowerFromNumber(inf, 700, 1300), 1300);
    EXPECT_EQ(PowerFromNumber(-inf, 700, 1300), 700);
    EXPECT_EQ(PowerFromNumber(nan, 700, 1300), 700);
    EXPECT_EQ(PowerFromNumber(1e300, 700, 1300), 1300);
    EXPECT_EQ(PowerFromNumber(21474836.48, 700, 1300), 1300);  // x100 just past INT32_MAX
    EXPECT_EQ(PowerFromNumber(-1e300, 700, 1300), 700);

    // atof overflows to an infinity on every runtime.
    EXPECT_EQ(ChannelFromText("1e999", 96), 96);
    EXPECT_EQ(ChannelFromText("-1e999", 96), 1);
    EXPECT_EQ(PowerFromText("1e999", 700, 1300), 1300);
    EXPECT_EQ(PowerFromText("-1e999", 700, 1300), 700);
    EXPECT_EQ(PowerFromText("99999999999999999999", 700, 1300), 1300);
    // Whether atof reads the words depends on the C runtime (msvcrt does not: 0). Whatever
    // it reads, NaN and zero give the minimum, a positive number the maximum.
    for (const char* word : {"inf", "-inf", "nan", "infinity", "nan(1)", "0x7fffffff"}) {
        const double read = std::atof(word);
        const bool high = read > 0;
        EXPECT_EQ(ChannelFromText(word, 96), high ? 96 : 1) << word << " read as " << read;
        EXPECT_EQ(PowerFromText(word, 700, 1300), high ? 1300 : 700) << word;
    }
}

TEST(TypedValues, FillTheSetFrames)
{
    DeviceFrame channel = setChannelFrame;
    FillSetChannel(channel, ChannelFromText("12.9", 96));
    EXPECT_EQ(std::vector<uint8_t>(channel.bytes, channel.bytes + FRAME_LENGTH),
              (std::vector<uint8_t>{0x00, 0x01, 0x01, 0x00, 0x0C, 0x0E}));
    FillSetChannel(channel, ChannelFromText("300", 96));
    EXPECT_EQ(std::vector<uint8_t>(channel.bytes, channel.bytes + FRAME_LENGTH),
              (std::vector<uint8_t>{0x00, 0x01, 0x01, 0x00, 0x60, 0x62}));

    DeviceFrame power = setPowerFrame;
    FillSetPower(power, PowerFromText("8.2", 700, 1300));
    EXPECT_EQ(std::vector<uint8_t>(power.bytes, power.bytes + FRAME_LENGTH),
              (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x03, 0x33, 0x39}));
    FillSetPower(power, PowerFromText("-1", 700, 1300));
    EXPECT_EQ(std::vector<uint8_t>(power.bytes, power.bytes + FRAME_LENGTH),
              (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x02, 0xBC, 0xC1}));
}

}  // namespace
