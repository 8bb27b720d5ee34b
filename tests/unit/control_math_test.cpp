#include <gtest/gtest.h>

#include <vector>

#include "ControlMath.h"

namespace {

// Plays a hold of a step button: each tick raises holdCount, then steps from the value
// that the previous tick left (the module not answering, or confirming each value).
template <typename Step>
std::vector<int> Hold(StepButton button, int ticks, Step step)
{
    std::vector<int> sent;
    uint8_t holdCount = 0;
    for (int i = 0; i < ticks; ++i) {
        holdCount = HoldCountAfterTick(button, holdCount);
        sent.push_back(step(StepSize(button, holdCount)));
    }
    return sent;
}

TEST(HoldCount, GrowsByOneUpToEachButtonsOwnCap)
{
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelDown, 0), 1);
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelDown, 80), 81);
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelDown, 248), 249);
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelDown, 249), 249);
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelUp, 79), 80);
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelUp, 80), 80);
    EXPECT_EQ(HoldCountAfterTick(StepButton::PowerDown, 79), 80);
    EXPECT_EQ(HoldCountAfterTick(StepButton::PowerDown, 80), 80);
    EXPECT_EQ(HoldCountAfterTick(StepButton::PowerUp, 80), 81);
    EXPECT_EQ(HoldCountAfterTick(StepButton::PowerUp, 249), 249);
    // A count left above a button's cap (by another button) is not raised further.
    EXPECT_EQ(HoldCountAfterTick(StepButton::ChannelUp, 200), 200);
}

TEST(StepSize, ChannelEveryElevenTicksPowerEveryFive)
{
    EXPECT_EQ(StepSize(StepButton::ChannelDown, 0), 1u);
    EXPECT_EQ(StepSize(StepButton::ChannelDown, 10), 1u);
    EXPECT_EQ(StepSize(StepButton::ChannelDown, 11), 2u);
    EXPECT_EQ(StepSize(StepButton::ChannelUp, 22), 3u);
    EXPECT_EQ(StepSize(StepButton::ChannelDown, 249), 23u);
    EXPECT_EQ(StepSize(StepButton::ChannelUp, 80), 8u);
    EXPECT_EQ(StepSize(StepButton::PowerDown, 4), 1u);
    EXPECT_EQ(StepSize(StepButton::PowerDown, 5), 2u);
    EXPECT_EQ(StepSize(StepButton::PowerDown, 80), 17u);
    EXPECT_EQ(StepSize(StepButton::PowerUp, 249), 50u);
}

TEST(Steps, ClampAtTheirOwnBoundWithoutWrapping)
{
    EXPECT_EQ(ChannelDown(5, 1), 4);
    EXPECT_EQ(ChannelDown(3, 23), 1);
    EXPECT_EQ(ChannelDown(1, 1), 1);
    EXPECT_EQ(ChannelDown(0, 1), 1);      // a module that reported 0
    EXPECT_EQ(ChannelDown(200, 1), 199);  // above the count: down does not look at it
    EXPECT_EQ(ChannelUp(95, 1, 96), 96);
    EXPECT_EQ(ChannelUp(90, 8, 96), 96);
    EXPECT_EQ(ChannelUp(255, 8, 255), 255);  // 263 does not wrap to 7
    EXPECT_EQ(ChannelUp(0, 1, 96), 1);

    EXPECT_EQ(PowerDown(1000, 17, 700), 983);
    EXPECT_EQ(PowerDown(705, 17, 700), 700);
    EXPECT_EQ(PowerDown(5, 17, 0), 0);         // -12 does not wrap to 65524
    EXPECT_EQ(PowerDown(0, 1, 700), 700);      // below the minimum before the step
    EXPECT_EQ(PowerDown(2000, 1, 700), 1999);  // above the maximum: down does not look at it
    EXPECT_EQ(PowerUp(1290, 16, 1300), 1300);
    EXPECT_EQ(PowerUp(65535, 50, 65535), 65535);
    EXPECT_EQ(PowerUp(0, 1, 1300), 1);
}

TEST(Hold, ChannelDownFrom96ReachesOneAtTheFortiethTick)
{
    std::vector<int> expected;
    for (int c = 95; c >= 86; --c)
        expected.push_back(c);
    for (int c = 84; c >= 64; c -= 2)
        expected.push_back(c);
    for (int c = 61; c >= 31; c -= 3)
        expected.push_back(c);
    for (int c = 27; c >= 3; c -= 4)
        expected.push_back(c);
    expected.push_back(1);
    expected.push_back(1);  // every further tick sends 1 again

    uint8_t channel = 96;
    auto sent = Hold(StepButton::ChannelDown, 41,
                     [&](unsigned step) { return channel = ChannelDown(channel, step); });
    EXPECT_EQ(sent, expected);
    // The click at the release steps by one, holdCount being 0 again.
    EXPECT_EQ(ChannelDown(channel, StepSize(StepButton::ChannelDown, 0)), 1);
}

TEST(Hold, PowerUpFrom700ReachesTheMaximumAtTheSeventyFifthTick)
{
    uint16_t power = 700;
    auto sent = Hold(StepButton::PowerUp, 76,
                     [&](unsigned step) { return power = PowerUp(power, step, 1300); });
    EXPECT_EQ((std::vector<int>(sent.begin(), sent.begin() + 10)),
              (std::vector<int>{701, 702, 703, 704, 706, 708, 710, 712, 714, 717}));
    EXPECT_EQ(sent[73], 1299);
    EXPECT_EQ(sent[74], 1300);
    EXPECT_EQ(sent[75], 1300);
    EXPECT_EQ(StepSize(StepButton::PowerUp, 75), 16u);
}

TEST(Hold, ChannelUpAndPowerDownStopGrowingAtTheirCap)
{
    uint16_t power = 5000;
    auto down = Hold(StepButton::PowerDown, 100,
                     [&](unsigned step) { return power = PowerDown(power, step, 0); });
    EXPECT_EQ(down[77] - down[78], 16);  // tick 79
    EXPECT_EQ(down[83] - down[84], 17);  // tick 85 would step 18 without the cap
    EXPECT_EQ(down[98] - down[99], 17);
    uint8_t channel = 0;
    auto up = Hold(StepButton::ChannelUp, 100, [&](unsigned step) {
        channel = 0;  // keep clear of the count: only the step is of interest
        return ChannelUp(channel, step, 255);
    });
    EXPECT_EQ(up[79], 8);
    EXPECT_EQ(up[87], 8);  // tick 88 would step 9 without the cap
}

}  // namespace
