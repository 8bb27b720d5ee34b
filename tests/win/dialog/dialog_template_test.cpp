// The window as the template and OnInitDialog leave it.
#include <cstring>
#include <cwchar>
#include <vector>
#include "DeviceState.h"
#include "dialog_fixture.h"

namespace {

struct ControlRow {
    int id;
    const wchar_t* className;
    const wchar_t* caption;
    RECT dialogUnits;  // left, top, right, bottom
    DWORD styles;      // beyond child and visible
};

constexpr DWORD LABEL = SS_LEFT | WS_GROUP;
constexpr DWORD DISPLAY = SS_CENTER | SS_CENTERIMAGE | WS_BORDER | WS_GROUP;
constexpr DWORD EDIT = ES_MULTILINE | ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD PUSH = BS_PUSHBUTTON | WS_TABSTOP;

RECT Units(int x, int y, int w, int h)
{
    return RECT{x, y, x + w, y + h};
}

const std::vector<ControlRow>& Template()
{
    static const std::vector<ControlRow> rows = {
        {1000, L"Button", L"OpenPort", Units(109, 9, 47, 15), PUSH},
        {1001, L"Button", L"SET", Units(126, 100, 40, 14), PUSH},
        {1003, L"ComboBoxEx32", L"", Units(47, 13, 56, 174),
         CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
        {-1, L"Static", L"PortList:", Units(13, 13, 29, 8), LABEL},
        {1005, L"Edit", L"", Units(47, 99, 56, 15), EDIT},
        {1021, L"Static", L"Power:\n(7 - 13)", Units(12, 98, 29, 17), LABEL},
        {-1, L"Static", L"dBm", Units(107, 105, 17, 8), LABEL},
        {-1, L"Static", L"Wavelength", Units(182, 78, 39, 8), LABEL},
        {1006, L"Static", L"", Units(222, 76, 35, 13), DISPLAY},
        {-1, L"Static", L"nm", Units(261, 80, 12, 8), LABEL},
        {1008, L"msctls_trackbar32", L"Slider1", Units(19, 119, 231, 13), TBS_HORZ | WS_TABSTOP},
        {1013, L"Button", L"\u300A", Units(7, 119, 12, 9), PUSH},
        {1014, L"Button", L"\u300B", Units(255, 119, 12, 9), PUSH},
        {1020, L"Static", L"Channel:\n(1 - 96)", Units(14, 36, 32, 16), LABEL},
        {1002, L"Button", L"SET", Units(97, 35, 40, 15), PUSH},
        {1007, L"Edit", L"", Units(50, 36, 40, 15), EDIT},
        {-1, L"Static", L"Frequency", Units(86, 77, 35, 8), LABEL},
        {1009, L"Static", L"", Units(124, 75, 35, 13), DISPLAY},
        {-1, L"Static", L"GHz", Units(162, 79, 15, 8), LABEL},
        {-1, L"Static", L"ITLA\nChannel", Units(7, 72, 30, 17), LABEL},
        {1010, L"Static", L"", Units(38, 75, 35, 13), DISPLAY},
        {1011, L"msctls_trackbar32", L"Slider1", Units(19, 57, 233, 13), TBS_HORZ | WS_TABSTOP},
        {1015, L"Button", L"\u300A", Units(7, 57, 12, 9), PUSH},
        {1016, L"Button", L"\u300B", Units(255, 57, 12, 9), PUSH},
        {-1, L"Static", L"Active:", Units(160, 40, 23, 8), LABEL},
        {1004, L"Button", L"ON/OFF", Units(192, 36, 40, 15), PUSH},
    };
    return rows;
}

RECT ChildRect(HWND parent, HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

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

TEST_F(DialogTest, ControlsStandInTemplateOrderWithIdsClassesCaptionsAndPlaces)
{
    const auto& rows = Template();
    size_t index = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT), ++index) {
        ASSERT_LT(index, rows.size()) << "more controls than the template has";
        const ControlRow& row = rows[index];
        SCOPED_TRACE(testing::Message() << "control " << index << ", id " << row.id);
        EXPECT_EQ(GetDlgCtrlID(child), row.id);

        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        EXPECT_EQ(_wcsicmp(className, row.className), 0) << "class";
        if (row.id != IDC_PORTLIST) {
            EXPECT_EQ(WideText(child), row.caption);  // what the operator sees, in UTF-16
        }
        LONG style = GetWindowLongA(child, GWL_STYLE);
        EXPECT_EQ((style & WS_TABSTOP) != 0, (row.styles & WS_TABSTOP) != 0);

        // The dialog manager converts position and size separately.
        RECT expected = {row.dialogUnits.left, row.dialogUnits.top,
                         row.dialogUnits.right - row.dialogUnits.left,
                         row.dialogUnits.bottom - row.dialogUnits.top};
        MapDialogRect(window, &expected);
        RECT actual = ChildRect(window, child);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right);
        if (row.id != IDC_PORTLIST) {  // its window height is that of the closed list
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        }
    }
    EXPECT_EQ(index, rows.size());
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

namespace {

// Reads a DLGTEMPLATEEX resource field by field.
class TemplateReader {
public:
    explicit TemplateReader(const void* data) : start_(static_cast<const BYTE*>(data)), at_(start_)
    {}
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    std::wstring String()
    {
        std::wstring text;
        for (WORD c = Word(); c; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // A name or an ordinal; the predefined control classes come as ordinals.
    std::wstring NameOrOrdinal()
    {
        if (*reinterpret_cast<const WORD*>(at_) != 0xFFFF)
            return String();
        Word();
        WORD ordinal = Word();
        static const wchar_t* const classes[] = {L"Button",  L"Edit",      L"Static",
                                                 L"ListBox", L"ScrollBar", L"ComboBox"};
        if (ordinal >= 0x80 && ordinal <= 0x85)
            return classes[ordinal - 0x80];
        return L"#" + std::to_wstring(ordinal);
    }
    void AlignToDword() { at_ = start_ + ((at_ - start_ + 3) & ~3); }

private:
    template <typename T>
    T Take()
    {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    const BYTE* start_;
    const BYTE* at_;
};

}  // namespace

// The resource as written, before the dialog manager adapts it (it turns the border of the
// edits and displays into a client edge, for instance).
TEST(DialogTemplate, HeaderFontAndControlsAreExactlyAsWritten)
{
    HRSRC found = FindResourceExA(nullptr, MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                  MAKEINTRESOURCEA(IDD_CONTROLLER_DIALOG),
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(found, nullptr) << "no template in language 0x0804";
    TemplateReader reader(LockResource(LoadResource(nullptr, found)));
    EXPECT_EQ(reader.Word(), 1);  // extended template, version 1
    EXPECT_EQ(reader.Word(), 0xFFFF);
    reader.Dword();  // help id
    EXPECT_EQ(reader.Dword(), DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ(reader.Dword(),
              DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    const auto& rows = Template();
    ASSERT_EQ(reader.Word(), rows.size());
    EXPECT_EQ(reader.Short(), 0);
    EXPECT_EQ(reader.Short(), 0);
    EXPECT_EQ(reader.Short(), 285);
    EXPECT_EQ(reader.Short(), 144);
    EXPECT_EQ(reader.NameOrOrdinal(), L"");  // no menu
    EXPECT_EQ(reader.NameOrOrdinal(), L"");  // the default dialog class
    EXPECT_EQ(reader.String(), L"Zorvane-D20230711");
    EXPECT_EQ(reader.Word(), 14);
    EXPECT_EQ(reader.Word(), FW_NORMAL);
    EXPECT_EQ(reader.Byte(), 0);  // not italic
    EXPECT_EQ(reader.Byte(), DEFAULT_CHARSET);
    EXPECT_EQ(reader.String(), L"Cambria");

    for (const ControlRow& row : rows) {
        SCOPED_TRACE(row.id);
        reader.AlignToDword();
        reader.Dword();  // help id
        EXPECT_EQ(reader.Dword(), 0u);
        EXPECT_EQ(reader.Dword(), DWORD(WS_CHILD | WS_VISIBLE) | row.styles);
        EXPECT_EQ(reader.Short(), row.dialogUnits.left);
        EXPECT_EQ(reader.Short(), row.dialogUnits.top);
        EXPECT_EQ(reader.Short(), row.dialogUnits.right - row.dialogUnits.left);
        EXPECT_EQ(reader.Short(), row.dialogUnits.bottom - row.dialogUnits.top);
        EXPECT_EQ(static_cast<int>(reader.Dword()), row.id);
        EXPECT_EQ(_wcsicmp(reader.NameOrOrdinal().c_str(), row.className), 0);
        EXPECT_EQ(reader.NameOrOrdinal(), row.caption);
        WORD extra = reader.Word();
        for (WORD i = 0; i < extra; ++i)
            reader.Byte();
    }
}
