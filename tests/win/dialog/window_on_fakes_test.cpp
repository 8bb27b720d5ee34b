// The real window on fake services: clicks and device changes queued while the port panel
// is busy, the keyboard rules and the step buttons through the dialog's own loop, and the
// poll reading the real sliders. Timers tick only when a test advances the fake clock.
#include <functional>
#include <memory>
#include "dialog_fixture.h"
#include "window_fakes.h"

using namespace window_test;

namespace {

const UINT WM_NEXT_STEP = WM_APP + 2;
constexpr int FIRST_PORT = 3;

// A module of 96 channels, 7 to 13 dBm, read to the end, at channel 50 and 10 dBm.
void ReadyModule(DeviceStateRecord& state)
{
    state.channelCount = 96;
    state.powerMin = 700;
    state.powerMax = 1300;
    state.channel = 50;
    state.power = 1000;
    state.portOpen = 1;
    state.stage = STAGE_READY;
}

void CALLBACK CloseErrorBox(HWND, UINT, UINT_PTR id, DWORD)
{
    if (HWND box = FindWindowA("#32770", "Application Error")) {
        KillTimer(nullptr, id);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
}

// Handles the window's queued messages the way the link's error box does: shows a real box,
// whose own loop hands them out, and closes it from a timer.
void ShowErrorBoxMeanwhile()
{
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseErrorBox);
    MessageBoxA(nullptr, "WARNING:  Open Failed", "Application Error", MB_ICONERROR);
    KillTimer(nullptr, timer);
}

// Hands the window's queued messages to it, as the link's wait for its worker does.
void PumpWindow(HWND window)
{
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The window on fakes, run with a script. The script runs inside the dialog's modal
// loop, which hands each message to PreTranslateMessage first as the program's loop does:
// each step runs after the messages posted by the step before; then the window is closed.
class ScriptedWindow : public CControllerDlg {
public:
    using CControllerDlg::CControllerDlg;
    std::vector<std::function<void()>> script;
    size_t stepsRun = 0;

    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void Post(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        ::PostMessageA(id ? Item(id) : m_hWnd, message, wParam, lParam);
    }
    // A button sends its click to the window at once; a queued click waits its turn.
    void Click(int id) const
    {
        ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(Item(id)));
    }
    void PostClick(int id) const
    {
        ::PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(Item(id)));
    }
    std::string Text(int id) const { return NarrowText(Item(id)); }

protected:
    BOOL OnInitDialog() override
    {
        BOOL result = CControllerDlg::OnInitDialog();
        ::PostMessageA(m_hWnd, WM_NEXT_STEP, 0, 0);
        return result;
    }
    LRESULT OnNextStep(WPARAM, LPARAM)
    {
        if (stepsRun < script.size()) {
            script[stepsRun++]();
            ::PostMessageA(m_hWnd, WM_NEXT_STEP, 0, 0);
        } else {
            ::PostMessageA(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ScriptedWindow, CControllerDlg)
ON_MESSAGE(WM_NEXT_STEP, OnNextStep)
END_MESSAGE_MAP()

// The window on fakes, with COM3 and COM7 present.
class WindowOnFakesTest : public testing::Test {
protected:
    FakeWindow w;
    ScriptedWindow dialog{w.Services()};

    void SetUp() override { w.ports.present = {FIRST_PORT, 7}; }

    // Runs the script modally; true when every step ran and the close ended the loop.
    void Run(std::vector<std::function<void()>> script)
    {
        const size_t steps = script.size();
        dialog.script = std::move(script);
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_EQ(dialog.stepsRun, steps) << "the window closed before the script ended";
    }

    // Lets the fake clock run, handing each due tick to the window as its WM_TIMER.
    void Advance(unsigned ms)
    {
        w.clock.Advance(
            ms, [&](unsigned id) { ::SendMessageA(dialog.GetSafeHwnd(), WM_TIMER, id, 0); });
    }
};

}  // namespace

TEST_F(WindowOnFakesTest, ASecondClickDuringTheOpenErrorBoxIsDropped)
{
    w.link.duringOpen = [&] {
        dialog.PostClick(IDC_OPENPORT);
        ShowErrorBoxMeanwhile();
    };
    Run({[&] { dialog.Click(IDC_OPENPORT); },
         [&] {
             EXPECT_EQ(w.link.calls, (Log{"open 3", "start"}));
             EXPECT_EQ(w.state.portOpen, 1);
             EXPECT_EQ(w.state.openPort, FIRST_PORT);
             EXPECT_EQ(dialog.Text(IDC_OPENPORT), "ClosePort");
             EXPECT_FALSE(IsWindowEnabled(dialog.Item(IDC_PORTLIST)));
         }});
}

TEST_F(WindowOnFakesTest, DeviceChangesQueuedDuringTheOpenErrorBoxRunOnceAfterIt)
{
    w.link.duringOpen = [&] {
        dialog.Post(0, WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */);
        dialog.Post(0, WM_DEVICECHANGE, 7);
        ShowErrorBoxMeanwhile();
    };
    Run({[&] { dialog.Click(IDC_OPENPORT); },
         [&] {
             // Run inside the open, the recovery would clear the open port under it, and
             // every byte received after would be dropped.
             EXPECT_EQ(w.link.calls, (Log{"open 3", "start", "stop", "open 3", "start"}));
             EXPECT_EQ(w.state.portOpen, 1);
             EXPECT_EQ(w.state.openPort, FIRST_PORT);
             EXPECT_EQ(dialog.Text(IDC_OPENPORT), "ClosePort");
         }});
}

TEST_F(WindowOnFakesTest, AClickAndADeviceChangeQueuedDuringARecoveryWaitForIt)
{
    Run({[&] { dialog.Click(IDC_OPENPORT); },
         [&] {
             ASSERT_EQ(w.state.portOpen, 1);
             w.link.calls.clear();
             w.link.duringStop = [&] {
                 dialog.PostClick(IDC_OPENPORT);
                 dialog.Post(0, WM_DEVICECHANGE, 7);
                 PumpWindow(dialog.GetSafeHwnd());
             };
             ::SendMessageA(dialog.GetSafeHwnd(), WM_DEVICECHANGE, 7, 0);
         },
         [&] {
             // The click is dropped: no closing in the middle of the reopening.
             EXPECT_EQ(w.link.calls, (Log{"stop", "open 3", "start", "stop", "open 3", "start"}));
             EXPECT_EQ(w.state.portOpen, 1);
             EXPECT_EQ(w.state.openPort, FIRST_PORT);
             EXPECT_EQ(dialog.Text(IDC_OPENPORT), "ClosePort");
         }});
}

TEST_F(WindowOnFakesTest, EnterInAnEditSetsItsValueEnterElsewhereAndEscapeDoNothing)
{
    auto typeAndEnter = [&](int edit, const char* text) {
        return [=] {
            SetWindowTextA(dialog.Item(edit), text);
            SetFocus(dialog.Item(edit));
            dialog.Post(edit, WM_KEYDOWN, VK_RETURN, 1);
        };
    };
    auto keyOn = [&](int id, WPARAM key) {
        return [=] {
            SetFocus(dialog.Item(id));
            ASSERT_EQ(GetFocus(), dialog.Item(id));
            dialog.Post(id, WM_KEYDOWN, key, 1);
        };
    };
    Run({[&] { ReadyModule(w.state); }, typeAndEnter(IDC_CHANNEL_EDIT, "12.9"),
         typeAndEnter(IDC_POWER_EDIT, "8.2"),
         [&] {
             EXPECT_EQ(w.link.TakeSent(), (std::vector<Bytes>{SetFrame(1, 12), SetFrame(2, 819)}));
             // Each set stops the poll for its pause and starts it again.
             EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_POLL});
         },
         // Focused, a push button is the default one: Enter would press it.
         keyOn(IDC_SET_CHANNEL, VK_RETURN), keyOn(IDC_OPENPORT, VK_RETURN),
         keyOn(IDC_ACTIVE, VK_RETURN), keyOn(IDC_CHANNEL_SLIDER, VK_RETURN),
         keyOn(IDC_POWER_EDIT, VK_ESCAPE), keyOn(IDC_OPENPORT, VK_ESCAPE),
         [&] { dialog.Post(0, WM_KEYDOWN, VK_ESCAPE, 1); },
         [&] {
             EXPECT_TRUE(w.link.sent.empty());
             EXPECT_TRUE(w.link.calls.empty());
             EXPECT_EQ(w.state.outputOn, 0);
             EXPECT_TRUE(IsWindowVisible(dialog.GetSafeHwnd()));
         }});
}

TEST_F(WindowOnFakesTest, APressOnEachStepButtonHoldsItAndAReleaseAnywherePollsAgain)
{
    struct Row {
        int id;
        unsigned timer;
        int code;
        std::vector<int> held;  // three ticks from channel 50 or 10.00 dBm
    } rows[] = {{IDC_CHANNEL_DOWN, TIMER_CH_DOWN, 1, {49, 48, 47}},
                {IDC_CHANNEL_UP, TIMER_CH_UP, 1, {51, 52, 53}},
                {IDC_POWER_DOWN, TIMER_PWR_DOWN, 2, {999, 998, 997}},
                {IDC_POWER_UP, TIMER_PWR_UP, 2, {1001, 1002, 1003}}};
    std::vector<std::function<void()>> script;
    for (const Row& row : rows) {
        script.push_back([&] {
            ReadyModule(w.state);
            w.clock.StartTimer(TIMER_POLL, POLL_PERIOD_MS);
            dialog.Post(row.id, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        });
        script.push_back([&] {
            EXPECT_EQ(w.clock.Running(), std::set<unsigned>{row.timer}) << row.id;
            Advance(3 * STEP_PERIOD_MS);
            std::vector<Bytes> held;
            for (int value : row.held)
                held.push_back(SetFrame(row.code, value));
            EXPECT_EQ(w.link.TakeSent(), held) << row.id;
            // Released over the dialog, away from the button: no click, the poll again.
            dialog.Post(0, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
        });
        script.push_back([&] {
            ReleaseCapture();
            EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_POLL}) << row.id;
            EXPECT_TRUE(w.link.sent.empty()) << row.id;
        });
    }
    // A click: the press and the release on the button, which then steps once by one.
    script.push_back([&] {
        ReadyModule(w.state);
        dialog.Post(IDC_CHANNEL_UP, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        dialog.Post(IDC_CHANNEL_UP, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    });
    // A double-click's second press comes as WM_LBUTTONDBLCLK: no hold, one more step.
    script.push_back(
        [&] { dialog.Post(IDC_CHANNEL_UP, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, 4)); });
    script.push_back([&] {
        EXPECT_EQ(w.clock.Running(), std::set<unsigned>{TIMER_POLL});
        dialog.Post(IDC_CHANNEL_UP, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    });
    script.push_back([&] {
        EXPECT_EQ(w.link.TakeSent(), (std::vector<Bytes>{SetFrame(1, 51), SetFrame(1, 52)}));
    });
    Run(std::move(script));
}

TEST_F(WindowOnFakesTest, ThePollSendsWhatTheRealSlidersShow)
{
    Run({[&] {
        ReadyModule(w.state);
        HWND channel = dialog.Item(IDC_CHANNEL_SLIDER);
        HWND power = dialog.Item(IDC_POWER_SLIDER);
        SendMessageA(channel, TBM_SETRANGE, FALSE, MAKELPARAM(1, 96));
        SendMessageA(power, TBM_SETRANGE, FALSE, MAKELPARAM(700, 1300));
        SendMessageA(channel, TBM_SETPOS, TRUE, 50);
        SendMessageA(power, TBM_SETPOS, TRUE, 1000);
        w.clock.StartTimer(TIMER_POLL, POLL_PERIOD_MS);
        Advance(POLL_PERIOD_MS);
        EXPECT_TRUE(w.link.sent.empty());  // the sliders show what the module has

        SendMessageA(channel, TBM_SETPOS, TRUE, 70);
        SendMessageA(power, TBM_SETPOS, TRUE, 850);
        Advance(POLL_PERIOD_MS);
        EXPECT_EQ(w.link.TakeSent(), (std::vector<Bytes>{SetFrame(1, 70), SetFrame(2, 850)}));
    }});
}
