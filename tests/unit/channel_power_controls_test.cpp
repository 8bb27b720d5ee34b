// The channel and power controls on fakes: which frames leave, in which order, and what
// happens to the window's timers, for clicks, holds, typed values, the output switch and
// the slider poll.
#include <gtest/gtest.h>

#include "ChannelPowerControls.h"
#include "window_fakes.h"

using namespace window_test;

namespace {

// The values of the set frames of one code among those sent; any other frame fails.
std::vector<int> Values(const std::vector<Bytes>& sent, int code)
{
    std::vector<int> values;
    for (const Bytes& frame : sent) {
        int value = frame[3] << 8 | frame[4];
        EXPECT_EQ(frame, SetFrame(code, value));
        values.push_back(value);
    }
    return values;
}

class ControlsTest : public testing::Test {
protected:
    FakeWindow w;
    ChannelPowerControls controls{w.state, w.link, w.clock};

    void SetUp() override
    {
        // A module of 96 channels, 7 to 13 dBm, read and polled.
        w.state.channelCount = 96;
        w.state.powerMin = 700;
        w.state.powerMax = 1300;
        w.state.channel = 40;
        w.state.power = 1000;
        w.state.portOpen = 1;
        w.state.stage = STAGE_READY;
    }

    // Holds a button for the given number of step ticks, then releases it over the
    // button, whose click steps once more.
    void Hold(StepButton button, unsigned ticks)
    {
        controls.Press(button);
        w.clock.Advance(ticks * STEP_PERIOD_MS, [&](unsigned id) {
            ASSERT_TRUE(controls.StepTimerTick(id)) << "timer " << id;
        });
        controls.Release();
        controls.Step(button);
    }
};

}  // namespace

// The step tables and clamps are the arithmetic's (control_math_test); here only that a
// hold plays them: the button's own timer, holdCount raised before each step, each step
// taken from the value the last one left, and the click at the release by one.
TEST_F(ControlsTest, AHeldButtonStepsFromTheLastValueByTheArithmeticAndItsClickByOne)
{
    w.state.channel = 96;
    Hold(StepButton::ChannelDown, 41);
    std::vector<int> expected;
    uint8_t channel = 96;
    uint8_t holdCount = 0;
    for (int tick = 1; tick <= 41; ++tick) {
        holdCount = HoldCountAfterTick(StepButton::ChannelDown, holdCount);
        expected.push_back(channel =
                               ChannelDown(channel, StepSize(StepButton::ChannelDown, holdCount)));
    }
    expected.push_back(ChannelDown(channel, 1));  // the click
    EXPECT_EQ(expected.front(), 95);
    EXPECT_EQ(expected.back(), 1);
    EXPECT_EQ(Values(w.link.TakeSent(), 1), expected);
}

// Every button through 260 ticks of its timer, the value put back before each tick so
// that every step size shows: each button grows its own count up to its own cap.
TEST_F(ControlsTest, EachHeldButtonReachesItsOwnCapThroughItsTicks)
{
    w.state.channelCount = 255;
    w.state.powerMin = 0;
    w.state.powerMax = 60000;
    struct Row {
        StepButton button;
        int code;
        int from;
        int sign;
    } rows[] = {{StepButton::ChannelDown, 1, 128, -1},
                {StepButton::ChannelUp, 1, 128, 1},
                {StepButton::PowerDown, 2, 30000, -1},
                {StepButton::PowerUp, 2, 30000, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code * 10 + row.sign);
        controls.Press(row.button);
        std::vector<int> expected;
        uint8_t holdCount = 0;
        w.clock.Advance(260 * STEP_PERIOD_MS, [&](unsigned id) {
            w.state.channel = 128;
            w.state.power = 30000;
            ASSERT_TRUE(controls.StepTimerTick(id)) << "timer " << id;
            holdCount = HoldCountAfterTick(row.button, holdCount);
            expected.push_back(row.from +
                               row.sign * static_cast<int>(StepSize(row.button, holdCount)));
        });
        EXPECT_EQ(expected.size(), 260u);
        EXPECT_EQ(Values(w.link.TakeSent(), row.code), expected);
        EXPECT_EQ(controls.HoldCount(), holdCount);
        controls.Release();
    }
}

TEST_F(ControlsTest, EachButtonStepsItsOwnQuantityAndClampsAtItsOwnBound)
{
    w.state.channel = 1;
    controls.Step(StepButton::ChannelDown);
    w.state.channel = 96;
    controls.Step(StepButton::ChannelUp);
    w.state.channel = 120;  // above the count: down does not look at it
    controls.Step(StepButton::ChannelDown);
    EXPECT_EQ(Values(w.link.TakeSent(), 1), (std::vector<int>{1, 96, 119}));

    w.state.power = 700;
    controls.Step(StepButton::PowerDown);
    w.state.power = 1300;
    controls.Step(StepButton::PowerUp);
    w.state.power = 0;  // below the minimum before the step
    controls.Step(StepButton::PowerDown);
    EXPECT_EQ(Values(w.link.TakeSent(), 2), (std::vector<int>{700, 1300, 700}));
    EXPECT_EQ(w.state.power, 700);
    EXPECT_TRUE(w.clock.log.empty());  // steps neither pause nor touch a timer
}

TEST_F(ControlsTest, PressStartsItsOwnTimerAloneAndReleaseGoesBackToPolling)
{
    w.clock.StartTimer(TIMER_POLL, POLL_PERIOD_MS);
    w.clock.log.clear();
    controls.Press(StepButton::PowerDown);
    EXPECT_EQ(w.clock.log, (Log{"stop 1", "stop 2", "stop 3", "stop 5", "start 4 200"}));
    EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_PWR_DOWN});

    // A press on another button takes over the hold, from a count of 0.
    controls.StepTimerTick(TIMER_PWR_DOWN);
    controls.StepTimerTick(TIMER_PWR_DOWN);
    controls.Press(StepButton::ChannelUp);
    EXPECT_EQ(controls.HoldCount(), 0);
    EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_CH_UP});

    w.clock.log.clear();
    controls.Release();
    EXPECT_EQ(w.clock.log, (Log{"stop 2", "stop 3", "stop 4", "stop 5", "start 1 500"}));
    EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_POLL});
    EXPECT_FALSE(controls.StepTimerTick(TIMER_POLL));
    EXPECT_FALSE(controls.StepTimerTick(TIMER_STARTUP));
}

TEST_F(ControlsTest, AClickStepsOnceByOneAndADoubleClickTwice)
{
    // A press and a release within one period: no tick, then the click.
    controls.Press(StepButton::ChannelUp);
    w.clock.Advance(150, [&](unsigned id) { controls.StepTimerTick(id); });
    controls.Release();
    controls.Step(StepButton::ChannelUp);
    // The second press of a double-click is no WM_LBUTTONDOWN: no hold, its release steps.
    controls.Release();
    controls.Step(StepButton::ChannelUp);
    EXPECT_EQ(Values(w.link.TakeSent(), 1), (std::vector<int>{41, 42}));
}

TEST_F(ControlsTest, NothingActsBeforeTheModuleIsReadOrWhileThePortIsClosed)
{
    w.state.stage = STAGE_IDLE;
    controls.Press(StepButton::ChannelDown);
    controls.Release();
    controls.Step(StepButton::ChannelDown);
    controls.SetChannel("5");
    controls.SetPower("9");
    controls.ToggleOutput();
    EXPECT_TRUE(w.clock.log.empty());
    EXPECT_TRUE(w.link.sent.empty());

    // Port closed with a stage left over: nothing is sent, nothing paused.
    w.state.stage = STAGE_POWER;
    w.state.portOpen = 0;
    controls.Step(StepButton::PowerUp);
    controls.SetChannel("5");
    controls.ToggleOutput();
    controls.PollTick(7, 800);
    EXPECT_TRUE(w.link.sent.empty());
    EXPECT_TRUE(w.clock.log.empty());
    EXPECT_EQ(w.state.channel, 40);
    EXPECT_EQ(w.state.outputOn, 0);
}

TEST_F(ControlsTest, TypedValuesAreClampedSentAndFramedByThePoll)
{
    struct Case {
        const char* text;
        int channel;
    } channels[] = {{"0", 1}, {"12.9", 12}, {"300", 96}, {"-3", 1}, {"-", 1}, {"40", 40}};
    for (const Case& c : channels) {
        SCOPED_TRACE(c.text);
        w.clock.log.clear();
        controls.SetChannel(c.text);
        EXPECT_EQ(w.link.TakeSent(), std::vector<Bytes>{SetFrame(1, c.channel)});
        EXPECT_EQ(w.state.channel, c.channel);
        EXPECT_EQ(w.clock.log, (Log{"stop 1", "pause 100", "start 1 500"}));
    }

    struct PowerCase {
        const char* text;
        int power;
    } powers[] = {{"7", 700},   {"8.2", 819},    {"7.1", 710}, {"-1", 700},
                  {"20", 1300}, {"1e999", 1300}, {"nan", 700}};
    for (const PowerCase& c : powers) {
        SCOPED_TRACE(c.text);
        controls.SetPower(c.text);
        EXPECT_EQ(w.link.TakeSent(), std::vector<Bytes>{SetFrame(2, c.power)});
    }

    // An empty edit sends nothing and leaves the poll alone.
    w.clock.log.clear();
    controls.SetChannel("");
    controls.SetPower("");
    EXPECT_TRUE(w.link.sent.empty());
    EXPECT_TRUE(w.clock.log.empty());
}

TEST_F(ControlsTest, OutputSwitchSendsTheInvertedFlagInBothBytes)
{
    controls.ToggleOutput();
    EXPECT_EQ(w.link.TakeSent(), (std::vector<Bytes>{{0x00, 0x01, 0x03, 0x01, 0x01, 0x06}}));
    EXPECT_EQ(w.state.outputOn, 1);
    EXPECT_EQ(w.clock.log, (Log{"stop 1", "pause 100", "start 1 500"}));
    controls.ToggleOutput();
    EXPECT_EQ(w.link.TakeSent(), (std::vector<Bytes>{{0x00, 0x01, 0x03, 0x00, 0x00, 0x04}}));
    EXPECT_EQ(w.state.outputOn, 0);
}

TEST_F(ControlsTest, PollSendsWhatTheSlidersShowThatTheModuleDoesNot)
{
    controls.PollTick(40, 1000);
    EXPECT_TRUE(w.link.sent.empty());
    EXPECT_TRUE(w.clock.log.empty());

    controls.PollTick(41, 1234);
    EXPECT_EQ(w.link.TakeSent(), (std::vector<Bytes>{SetFrame(1, 41), SetFrame(2, 1234)}));
    EXPECT_EQ(w.clock.log, (Log{"pause 100", "pause 100"}));
    EXPECT_EQ(w.state.channel, 41);
    EXPECT_EQ(w.state.power, 1234);

    // Before the start-up has read the module the sliders show none of its values.
    w.state.stage = STAGE_IDLE;
    controls.PollTick(42, 1234);
    EXPECT_TRUE(w.link.sent.empty());
}

// Every stage of the start-up, from its first tick to the last answer: no control and no
// poll sends or starts a timer. Once the module is read the first of each acts.
TEST_F(ControlsTest, NothingIsSentUntilTheStartupHasReadTheModule)
{
    for (uint8_t stage : {STAGE_IDLE, STAGE_POWER_MAX, STAGE_POWER_MIN, STAGE_FIRST_FREQ,
                          STAGE_GRID, STAGE_CHANNEL, STAGE_POWER, STAGE_OUTPUT}) {
        SCOPED_TRACE(static_cast<int>(stage));
        w.state.stage = stage;
        for (StepButton button : {StepButton::ChannelDown, StepButton::ChannelUp,
                                  StepButton::PowerDown, StepButton::PowerUp}) {
            controls.Press(button);
            controls.Release();
            controls.Step(button);
        }
        controls.SetChannel("5");
        controls.SetPower("9");
        controls.ToggleOutput();
        controls.PollTick(7, 800);
        EXPECT_TRUE(w.link.sent.empty());
        EXPECT_TRUE(w.clock.log.empty());
        EXPECT_EQ(w.state.channel, 40);
        EXPECT_EQ(w.state.power, 1000);
    }

    w.state.stage = STAGE_READY;
    controls.Press(StepButton::PowerUp);
    EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_PWR_UP});
    controls.Release();
    controls.Step(StepButton::PowerUp);
    controls.SetChannel("5");
    controls.PollTick(6, 1001);
    EXPECT_EQ(w.link.TakeSent(),
              (std::vector<Bytes>{SetFrame(2, 1001), SetFrame(1, 5), SetFrame(1, 6)}));
}

// As an operator meets it: power up pressed before the power limits are read, then a click
// on the window once the grid answer has laid the power slider out at 700 but before the
// power is read. Neither may send: the first would send power 0, the poll the second starts
// would send 700.
TEST(ControlsDuringStartupTest, APressBeforeTheLimitsAndAClickBeforeThePowerSendNothing)
{
    FakeWindow w;
    ChannelPowerControls controls{w.state, w.link, w.clock};
    w.state.portOpen = 1;
    w.state.channelCount = 96;
    w.state.stage = STAGE_POWER_MAX;
    controls.Press(StepButton::PowerUp);
    controls.Release();
    controls.Step(StepButton::PowerUp);

    w.state.powerMax = 1300;
    w.state.powerMin = 700;
    w.state.stage = STAGE_POWER;
    controls.Release();
    w.clock.Advance(2 * POLL_PERIOD_MS, [&](unsigned id) {
        if (id == TIMER_POLL)
            controls.PollTick(1, 700);
    });
    EXPECT_TRUE(w.link.sent.empty());
    EXPECT_TRUE(w.clock.Running().empty());
}
