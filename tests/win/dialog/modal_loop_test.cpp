// The dialog run modally by its own loop, and the framework letting go of its windows.
#include "protocol/DeviceState.h"
#include "SerialLink.h"
#include "dialog_fixture.h"

namespace {

const UINT WM_MARKER = WM_APP + 1;

// The controller dialog with one more row in its message map, to see which posted
// messages the modal loop got to, and a script of messages posted when it opens.
class ScriptedDialog : public CControllerDlg {
public:
    std::vector<MSG> script;
    int markers = 0;
    HWND lastWindow = nullptr;

protected:
    BOOL OnInitDialog() override
    {
        BOOL result = CControllerDlg::OnInitDialog();
        lastWindow = m_hWnd;
        for (MSG msg : script)
            ::PostMessageA(msg.hwnd ? msg.hwnd : m_hWnd, msg.message, msg.wParam, msg.lParam);
        return result;
    }
    LRESULT OnMarker(WPARAM, LPARAM)
    {
        ++markers;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ScriptedDialog, CControllerDlg)
ON_MESSAGE(WM_MARKER, OnMarker)
END_MESSAGE_MAP()

MSG Message(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return MSG{nullptr, message, wParam, lParam, 0, {0, 0}};
}

}  // namespace

TEST(ModalLoop, EnterAndEscapeKeepTheWindowTheCaptionCloseEndsIt)
{
    ScriptedDialog dialog;
    dialog.script = {Message(WM_KEYDOWN, VK_ESCAPE), Message(WM_KEYDOWN, VK_RETURN),
                     Message(WM_MARKER), Message(WM_SYSCOMMAND, SC_CLOSE)};
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.markers, 1);  // the loop was still running after both keys
    EXPECT_FALSE(IsWindow(dialog.lastWindow));
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST(ModalLoop, QuitEndsTheLoopAndIsLeftForTheCaller)
{
    ScriptedDialog dialog;
    dialog.script = {Message(WM_MARKER)};
    PostQuitMessage(7);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(IsWindow(dialog.lastWindow));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    PumpMessages();
}

TEST(ModalLoop, WindowsOutlivingTheirObjectsNoLongerReachThem)
{
    auto* dialog = new CControllerDlg;
    ASSERT_TRUE(dialog->Create(IDD_CONTROLLER_DIALOG));
    HWND window = dialog->GetSafeHwnd();
    HWND edit = GetDlgItem(window, IDC_CHANNEL_EDIT);
    delete dialog;

    // The template's own procedures serve the windows again: the edit takes letters, and a
    // byte from the link goes nowhere.
    SendMessageA(edit, WM_CHAR, 'x', 1);
    char text[8] = {};
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "x");
    EXPECT_EQ(SendMessageA(window, WM_LINK_RXCHAR, 0x01, DeviceState.openPort), 0);
    EXPECT_EQ(CWnd::FromHandlePermanent(window), nullptr);
    DestroyWindow(window);
    PumpMessages();
}
