// The program's window on its real link and ports, on a port that opens but is no serial
// line (with_ports.sh maps COM45 to /dev/null): one error box, a click and a device change
// that come while it is up change nothing, and the panel ends closed.
#include <string>
#include "Globals.h"
#include "dialog_fixture.h"

namespace {

constexpr int UNUSABLE_PORT = 45;

// Handled from a timer of this thread, which the box's own loop runs. The first box is
// handed a click on OpenPort and a device change; posted messages come before the next
// WM_TIMER, so they have been handled when the box is closed at the next tick.
HWND boxWindow;
HWND boxClosed;
int boxCount;
std::string boxText;

void CALLBACK HandleBox(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = FindWindowA("#32770", "Application Error");
    if (!box || box == boxClosed)
        return;
    if (box != boxWindow) {
        boxWindow = box;
        if (++boxCount == 1) {
            char text[512] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            boxText = text;
            HWND dialog = FindWindowA(nullptr, "Zorvane-D20230711");
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPENPORT, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_OPENPORT)));
            PostMessageA(dialog, WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */, 0);
        }
        return;
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    boxClosed = box;
}

class UnusablePortTest : public DialogTest {};

}  // namespace

TEST_F(UnusablePortTest, ShowsOneBoxAndEndsClosed)
{
    HWND list = Item(IDC_PORTLIST);
    char text[16] = "";
    int position = -1;
    for (int i = 0; i < SendMessageA(list, CB_GETCOUNT, 0, 0); ++i) {
        COMBOBOXEXITEMA item = {};
        item.mask = CBEIF_TEXT;
        item.iItem = i;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, CBEM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (std::string(text) == "COM" + std::to_string(UNUSABLE_PORT))
            position = i;
    }
    ASSERT_GE(position, 0) << "COM45 is not listed: run through with_ports.sh";
    SendMessageA(list, CB_SETCURSEL, position, 0);

    const UINT_PTR timer = SetTimer(nullptr, 0, 50, HandleBox);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_OPENPORT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(IDC_OPENPORT)));
    PumpMessages();
    KillTimer(nullptr, timer);
    theLink.Stop();  // a link left running would show boxes of its own

    EXPECT_EQ(boxCount, 1);
    EXPECT_EQ(boxText.rfind("WARNING:  SetCommTimeouts() Failed", 0), 0u) << boxText;
    EXPECT_NE(boxText.find("Port: 45"), std::string::npos) << boxText;
    EXPECT_EQ(NarrowText(Item(IDC_OPENPORT)), "OpenPort");
    EXPECT_TRUE(IsWindowEnabled(list));
    EXPECT_EQ(DeviceState.portOpen, 0);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);  // rebuilt
}
