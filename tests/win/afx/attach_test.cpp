// Attaching objects to windows: a dialog or a control that cannot be attached must not
// leave a window behind that nobody handles, nor a wrapper attached halfway.
#include <gtest/gtest.h>

#include "afxwin.h"
#include "resource.h"

namespace {

BOOL CALLBACK CountLiveWindow(HWND hWnd, LPARAM counter)
{
    if (IsWindow(hWnd))
        ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

// The windows of this thread that are still alive.
int ThreadWindowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountLiveWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// A dialog on the program's template that attaches one control by a good id and one by
// the id given.
class TwoControlDialog : public CDialog {
public:
    explicit TwoControlDialog(int secondId) : CDialog(IDD_CONTROLLER_DIALOG), secondId(secondId) {}
    CButton first;
    CButton second;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_OPENPORT, first);
        DDX_Control(pDX, secondId, second);
    }

private:
    int secondId;
};

}  // namespace

TEST(Attach, ADialogWithAControlThatDoesNotExistIsNotShown)
{
    Pump();
    const int before = ThreadWindowCount();
    TwoControlDialog dialog(4242);
    EXPECT_FALSE(dialog.Create(IDD_CONTROLLER_DIALOG));
    Pump();
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dialog.first.GetSafeHwnd(), nullptr);  // released with the dialog
    EXPECT_EQ(dialog.second.GetSafeHwnd(), nullptr);
    EXPECT_EQ(ThreadWindowCount(), before);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(ThreadWindowCount(), before);
}

TEST(Attach, AControlAttachedTwiceFailsTheSecondDialogAndKeepsTheFirst)
{
    TwoControlDialog dialog(IDC_ACTIVE);
    ASSERT_TRUE(dialog.Create(IDD_CONTROLLER_DIALOG));
    HWND window = dialog.GetSafeHwnd();
    HWND active = dialog.second.GetSafeHwnd();
    ASSERT_NE(active, nullptr);

    // Another object cannot take a window that is attached already.
    CButton intruder;
    EXPECT_FALSE(intruder.SubclassWindow(active));
    EXPECT_EQ(intruder.GetSafeHwnd(), nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(active), &dialog.second);
    EXPECT_FALSE(intruder.SubclassWindow(nullptr));

    // The same object created again: the new window cannot be attached, so it goes.
    const int before = ThreadWindowCount();
    EXPECT_FALSE(dialog.Create(IDD_CONTROLLER_DIALOG));
    Pump();
    EXPECT_EQ(ThreadWindowCount(), before);
    EXPECT_EQ(dialog.GetSafeHwnd(), window);  // the first stays attached and working
    EXPECT_TRUE(IsWindow(window));
    dialog.second.SetWindowText("ON");
    EXPECT_EQ(dialog.SendMessage(WM_GETTEXTLENGTH), GetWindowTextLengthA(window));
    char text[8] = {};
    GetWindowTextA(active, text, sizeof text);
    EXPECT_STREQ(text, "ON");

    DestroyWindow(window);
    Pump();
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dialog.second.GetSafeHwnd(), nullptr);
}
