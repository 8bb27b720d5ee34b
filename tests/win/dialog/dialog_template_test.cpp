// The window as the template and OnInitDialog leave it.
#include <cwchar>
#include "protocol/DeviceState.h"
#include "dialog_fixture.h"

TEST_F(DialogTest, WindowCaptionStylesFontAndIcons)
{
    EXPECT_EQ(WideText(window), L"Zorvane-D20230711");

    LONG style = GetWindowLongA(window, GWL_STYLE);
    const LONG windowStyles = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(style & windowStyles, windowStyles) << std::hex << style;
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    LOGFONTW font = {};
    HFONT hFont = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    ASSERT_NE(hFont, nullptr);
    GetObjectW(hFont, sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"Cambria");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(14, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_EQ(font.lfItalic, 0);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);

    LRESULT bigIcon = SendMessageA(window, WM_GETICON, ICON_BIG, 0);
    EXPECT_NE(bigIcon, 0);
    EXPECT_EQ(SendMessageA(window, WM_GETICON, ICON_SMALL, 0), bigIcon);
    EXPECT_EQ(SendMessageA(window, WM_QUERYDRAGICON, 0, 0), bigIcon);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(bigIcon), &info));
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, GetSystemMetrics(SM_CXICON));  // the large-icon size
    DeleteObject(info.hbmMask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
}

// The controls the code reaches by id, of the class its wrapper expects; nothing more and
// nothing less than the template's 26.
TEST_F(DialogTest, EveryControlTheCodeUsesIsThereWithItsClass)
{
    struct Used {
        int id;
        const wchar_t* className;
    } used[] = {
        {IDC_OPENPORT, L"Button"},
        {IDC_SET_POWER, L"Button"},
        {IDC_SET_CHANNEL, L"Button"},
        {IDC_ACTIVE, L"Button"},
        {IDC_POWER_DOWN, L"Button"},
        {IDC_POWER_UP, L"Button"},
        {IDC_CHANNEL_DOWN, L"Button"},
        {IDC_CHANNEL_UP, L"Button"},
        {IDC_PORTLIST, L"ComboBoxEx32"},
        {IDC_POWER_EDIT, L"Edit"},
        {IDC_CHANNEL_EDIT, L"Edit"},
        {IDC_POWER_SLIDER, L"msctls_trackbar32"},
        {IDC_CHANNEL_SLIDER, L"msctls_trackbar32"},
        {IDC_WAVELENGTH, L"Static"},
        {IDC_FREQUENCY, L"Static"},
        {IDC_ITLA_CHANNEL, L"Static"},
        {IDC_CHANNEL_LABEL, L"Static"},
        {IDC_POWER_LABEL, L"Static"},
    };
    for (const Used& u : used) {
        HWND child = Item(u.id);
        ASSERT_NE(child, nullptr) << "no control " << u.id;
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        EXPECT_EQ(_wcsicmp(className, u.className), 0) << u.id;
    }
    int count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++count;
    EXPECT_EQ(count, 26);
}

// The resource script is UTF-8 and the step buttons' captions are no ANSI character: they
// reach the buttons only if the script was compiled as UTF-8 into UTF-16.
TEST_F(DialogTest, StepButtonCaptionsArriveAsUtf16)
{
    EXPECT_EQ(WideText(Item(IDC_CHANNEL_DOWN)), L"\u300A");
    EXPECT_EQ(WideText(Item(IDC_POWER_DOWN)), L"\u300A");
    EXPECT_EQ(WideText(Item(IDC_CHANNEL_UP)), L"\u300B");
    EXPECT_EQ(WideText(Item(IDC_POWER_UP)), L"\u300B");
    EXPECT_EQ(WideText(Item(IDC_CHANNEL_LABEL)), L"Channel:\n(1 - 96)");
}

TEST_F(DialogTest, FocusStartsOnOpenPortAndTabFollowsTheTemplate)
{
    EXPECT_EQ(GetFocus(), Item(IDC_OPENPORT));
    const int tabOrder[] = {1000, 1001, 1003, 1005, 1008, 1013, 1014,
                            1002, 1007, 1011, 1015, 1016, 1004, 1000};
    HWND current = Item(IDC_OPENPORT);
    for (size_t i = 1; i < sizeof tabOrder / sizeof tabOrder[0]; ++i) {
        current = GetNextDlgTabItem(window, current, FALSE);
        EXPECT_EQ(GetDlgCtrlID(current), tabOrder[i]) << "tab stop " << i;
    }
}

TEST_F(DialogTest, InitialisationLeavesThePanelClosed)
{
    EXPECT_EQ(NarrowText(Item(IDC_OPENPORT)), "OpenPort");
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_PORTLIST)));
    EXPECT_EQ(NarrowText(Item(IDC_ACTIVE)), "ON/OFF");
    EXPECT_EQ(DeviceState.portOpen, 0);
    EXPECT_EQ(DeviceState.openPort, 0);
    EXPECT_EQ(DeviceState.stage, STAGE_IDLE);
}

TEST_F(DialogTest, TypedTextStandsFourPixelsLower)
{
    for (int id : {IDC_CHANNEL_EDIT, IDC_POWER_EDIT}) {
        SCOPED_TRACE(id);
        HWND edit = Item(id);
        RECT moved;
        SendMessageA(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&moved));
        // The edit's own formatting rectangle for its unmoved client area.
        RECT client;
        GetClientRect(edit, &client);
        SendMessageA(edit, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&client));
        RECT unmoved;
        SendMessageA(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&unmoved));
        EXPECT_EQ(moved.top, unmoved.top + 4);
        EXPECT_EQ(moved.left, unmoved.left);
        EXPECT_EQ(moved.right, unmoved.right);
        ::OffsetRect(&client, 0, 4);
        SendMessageA(edit, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&client));
    }
}

TEST(IconPlacement, CentresWithTheOddPixelLeftAndTruncatesTowardZero)
{
    EXPECT_EQ(CentredIconOffset(32, 32), 0);
    EXPECT_EQ(CentredIconOffset(37, 32), 3);  // leftover 5: 3 on the left, 2 on the right
    EXPECT_EQ(CentredIconOffset(36, 32), 2);
    EXPECT_EQ(CentredIconOffset(0, 32), -15);  // -31 / 2, not -16
    EXPECT_EQ(CentredIconOffset(31, 32), 0);   // 0 / 2
    EXPECT_EQ(CentredIconOffset(30, 32), 0);   // -1 / 2
    EXPECT_EQ(CentredIconOffset(29, 32), -1);
}

TEST(IconResource, HasThreeImagesInTheirSizesAndColours)
{
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
    struct GroupHeader {
        WORD reserved, type, count;
    };
#pragma pack(pop)
    HRSRC found =
        FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_MAIN), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    const auto* group = static_cast<const GroupHeader*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_EQ(group->count, 3);
    const auto* entries = reinterpret_cast<const GroupEntry*>(group + 1);
    struct Expected {
        int size, colours, bits;
    } expected[] = {{32, 16, 4}, {16, 16, 4}, {48, 0, 8}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].width, expected[i].size) << i;
        EXPECT_EQ(entries[i].height, expected[i].size) << i;
        EXPECT_EQ(entries[i].colours, expected[i].colours) << i;
        EXPECT_EQ(entries[i].bitCount, expected[i].bits) << i;
    }
}
