// The port panel on fakes: the list, opening and closing, device changes, the start-up
// ticks, and what happens when a click or a device change arrives while the panel is busy
// opening, closing or recovering (as the link's error box or its wait for the worker
// dispatch the window's messages).
#include <gtest/gtest.h>

#include "PortPanel.h"
#include "window_fakes.h"

using namespace window_test;

namespace {

class PortPanelTest : public testing::Test {
protected:
    FakeWindow w;
    PortPanel panel{w.Services(), w.view};

    void SetUp() override
    {
        w.ports.present = {1, 3, 10};
        panel.RebuildPortList();
    }

    // Opens the port at this list position and forgets the calls made so far.
    void OpenAt(int position)
    {
        w.view.selected = position;
        panel.OpenPortClicked();
        ASSERT_EQ(w.state.portOpen, 1);
        w.link.calls.clear();
        w.clock.log.clear();
    }
};

}  // namespace

TEST_F(PortPanelTest, ListsThePortsPresentInNumberOrderAndSelectsTheFirst)
{
    EXPECT_EQ(w.view.items, (std::vector<std::string>{"COM1", "COM3", "COM10"}));
    EXPECT_EQ(w.view.selected, 0);
    EXPECT_EQ(w.ports.highestProbed, 254);
    EXPECT_EQ(panel.Table().count, 3);
    EXPECT_EQ(panel.Table().ports[2], 10);

    // None present: nothing selected, and OpenPort does nothing at all.
    w.ports.present.clear();
    panel.RebuildPortList();
    EXPECT_TRUE(w.view.items.empty());
    EXPECT_EQ(w.view.selected, -1);
    panel.OpenPortClicked();
    EXPECT_TRUE(w.link.calls.empty());
    EXPECT_EQ(w.view.shows, 0);
}

TEST_F(PortPanelTest, OpeningTheChosenPortStartsTheLinkAndTheStartup)
{
    w.view.selected = 2;
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, (Log{"open 10", "start"}));
    EXPECT_EQ(w.state.openPort, 10);
    EXPECT_EQ(w.state.portOpen, 1);
    EXPECT_TRUE(w.view.shownOpen);
    EXPECT_EQ(w.clock.log, Log{"start 6 200"});
}

TEST_F(PortPanelTest, AFailedOpenChangesNothingVisible)
{
    w.link.refused = {3};
    w.view.selected = 1;
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, Log{"open 3"});
    EXPECT_EQ(w.state.portOpen, 0);
    EXPECT_EQ(w.state.openPort, 3);  // the choice is kept
    EXPECT_EQ(w.view.shows, 0);
    EXPECT_TRUE(w.clock.log.empty());
}

TEST_F(PortPanelTest, ClosingStopsEverythingAndListsThePortsAgain)
{
    OpenAt(1);
    w.state.stage = STAGE_POWER;
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, Log{"stop"});
    EXPECT_EQ(w.clock.log,
              (Log{"pause 200", "stop 1", "stop 2", "stop 3", "stop 4", "stop 5", "stop 6"}));
    EXPECT_EQ(w.state.portOpen, 0);
    EXPECT_EQ(w.state.openPort, 0);
    EXPECT_EQ(w.state.stage, STAGE_IDLE);
    EXPECT_EQ(w.view.selected, 0);  // the first entry, not the port just used
    EXPECT_FALSE(w.view.shownOpen);
}

TEST_F(PortPanelTest, DeviceChangeWithThePortStillThereReopensItAndCarriesOn)
{
    OpenAt(2);
    w.state.stage = STAGE_GRID;
    w.clock.StartTimer(TIMER_STARTUP, STARTUP_PERIOD_MS);
    w.clock.log.clear();
    const int shows = w.view.shows;

    panel.DeviceChanged();
    EXPECT_EQ(w.link.calls, (Log{"stop", "open 10", "start"}));
    EXPECT_EQ(w.clock.log, (Log{"pause 200", "pause 200"}));
    EXPECT_EQ(w.state.portOpen, 1);
    EXPECT_EQ(w.state.stage, STAGE_GRID);
    EXPECT_TRUE(w.clock.Runs(TIMER_STARTUP));
    EXPECT_EQ(w.view.shows, shows);

    // The reopening fails: the panel still shows the port open, and a click opens it again.
    w.link.refused = {10};
    panel.DeviceChanged();
    EXPECT_EQ(w.state.portOpen, 0);
    EXPECT_TRUE(w.view.shownOpen);
    w.link.refused.clear();
    w.link.calls.clear();
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, (Log{"open 10", "start"}));
    EXPECT_EQ(w.state.portOpen, 1);
}

TEST_F(PortPanelTest, DeviceChangeWithThePortGoneFallsBackToClosed)
{
    OpenAt(2);
    w.state.stage = STAGE_READY;
    w.ports.present = {1, 3};
    panel.DeviceChanged();
    EXPECT_EQ(w.link.calls, Log{"stop"});
    EXPECT_EQ(w.clock.log, (Log{"pause 200", "pause 200", "stop 1", "stop 2", "stop 3", "stop 4",
                                "stop 5", "stop 6"}));
    EXPECT_EQ(w.view.items, (std::vector<std::string>{"COM1", "COM3"}));
    EXPECT_FALSE(w.view.shownOpen);
    EXPECT_EQ(w.state.stage, STAGE_IDLE);

    // Closed: a new port is listed in its place by number.
    w.ports.present = {1, 2, 3};
    w.clock.log.clear();
    panel.DeviceChanged();
    EXPECT_EQ(w.view.items, (std::vector<std::string>{"COM1", "COM2", "COM3"}));
    EXPECT_EQ(w.clock.log, (Log{"pause 200", "pause 200"}));
}

TEST_F(PortPanelTest, StartupTicksAskForTheCurrentStageWhileThePortIsOpen)
{
    panel.StartupTick();
    EXPECT_TRUE(w.link.sent.empty());
    OpenAt(0);
    panel.StartupTick();
    w.state.stage = STAGE_OUTPUT;
    panel.StartupTick();
    w.state.stage = STAGE_READY;
    panel.StartupTick();
    EXPECT_EQ(w.link.sent, (std::vector<Bytes>{{0x01, 0x00, 0x04, 0x00, 0x00, 0x05},
                                               {0x01, 0x00, 0x03, 0x00, 0x00, 0x04}}));

    w.clock.StartTimer(TIMER_STARTUP, STARTUP_PERIOD_MS);
    panel.StartupFinished();
    EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_POLL});
    EXPECT_EQ(w.clock.running[TIMER_POLL].period, POLL_PERIOD_MS);
}

TEST_F(PortPanelTest, AClickDuringOpenIsDropped)
{
    // The link's error box, shown from inside Open, dispatches a second click.
    w.view.selected = 1;
    w.link.duringOpen = [&] { panel.OpenPortClicked(); };
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, (Log{"open 3", "start"}));
    EXPECT_EQ(w.state.portOpen, 1);
    EXPECT_EQ(w.state.openPort, 3);
}

TEST_F(PortPanelTest, ADeviceChangeDuringOpenIsHandledOnceTheOpenIsDone)
{
    w.view.selected = 1;
    w.link.duringOpen = [&] {
        panel.DeviceChanged();
        panel.DeviceChanged();  // a burst counts once
    };
    panel.OpenPortClicked();
    // Run nested, the recovery would have cleared the open port before the worker
    // started, and every byte received after would be dropped.
    EXPECT_EQ(w.link.calls, (Log{"open 3", "start", "stop", "open 3", "start"}));
    EXPECT_EQ(w.state.portOpen, 1);
    EXPECT_EQ(w.state.openPort, 3);
    EXPECT_TRUE(w.view.shownOpen);
}

TEST_F(PortPanelTest, MessagesDuringCloseAndRecoveryWaitForTheirEnd)
{
    OpenAt(1);
    // The wait for the worker dispatches a click and a device change.
    w.link.duringStop = [&] {
        panel.OpenPortClicked();
        panel.DeviceChanged();
    };
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, Log{"stop"});  // no second stop, no reopening
    EXPECT_EQ(w.state.portOpen, 0);
    EXPECT_FALSE(w.view.shownOpen);
    // The device change came after the close: a closed panel's recovery.
    EXPECT_EQ(std::vector<std::string>(w.clock.log.end() - 2, w.clock.log.end()),
              (Log{"pause 200", "pause 200"}));

    // A device change during a recovery waits for it too.
    OpenAt(1);
    w.link.duringStop = [&] { panel.DeviceChanged(); };
    panel.DeviceChanged();
    EXPECT_EQ(w.link.calls, (Log{"stop", "open 3", "start", "stop", "open 3", "start"}));
    EXPECT_EQ(w.state.portOpen, 1);
}

TEST_F(PortPanelTest, APortThatRefusesItsSettingsEndsClosed)
{
    // A click and a device change come while the link's box is up.
    w.link.unconfigured = {3};
    w.view.selected = 1;
    w.link.duringOpen = [&] {
        panel.OpenPortClicked();
        panel.DeviceChanged();
    };
    panel.OpenPortClicked();
    EXPECT_EQ(w.link.calls, Log{"open 3"});  // one open, one box
    EXPECT_EQ(w.state.portOpen, 0);
    EXPECT_FALSE(w.view.shownOpen);
    EXPECT_EQ(w.view.items, (std::vector<std::string>{"COM1", "COM3", "COM10"}));
    EXPECT_EQ(w.view.selected, 0);
    EXPECT_TRUE(w.clock.Running().empty());

    // Set up once, refusing when a device change reopens it: closed, as if it had gone.
    w.link.unconfigured.clear();
    OpenAt(1);
    w.state.stage = STAGE_GRID;
    w.clock.StartTimer(TIMER_STARTUP, STARTUP_PERIOD_MS);
    w.link.unconfigured = {3};
    panel.DeviceChanged();
    EXPECT_EQ(w.link.calls, (Log{"stop", "open 3"}));
    EXPECT_EQ(w.state.portOpen, 0);
    EXPECT_EQ(w.state.stage, STAGE_IDLE);
    EXPECT_FALSE(w.view.shownOpen);
    EXPECT_TRUE(w.clock.Running().empty());
}
