// The application manifest as the running process sees it. This test program links the
// program's resources, so the loader activates the same manifest for it as for Zorvane.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <algorithm>
#include <cctype>
#include <string>
#include "dialog_fixture.h"

namespace {

HMODULE CommonControls()
{
    return GetModuleHandleA("comctl32.dll");
}

std::string LowerCasePath(HMODULE module)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    std::string text = path;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

}  // namespace

// Windows' comctl32 6 says 6.x when asked; Wine's says 5.81 from either folder, so the
// folder it was loaded from tells the versions apart.
TEST(Manifest, CommonControlsSixAreLoaded)
{
    ASSERT_NE(CommonControls(), nullptr);
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(CommonControls(), "DllGetVersion")));
    ASSERT_NE(getVersion, nullptr);
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    ASSERT_EQ(getVersion(&info), S_OK);
    std::string path = LowerCasePath(CommonControls());
    RecordProperty("comctl32", std::to_string(info.dwMajorVersion) + "." +
                                   std::to_string(info.dwMinorVersion) + " " + path);
    EXPECT_NE(path.find("microsoft.windows.common-controls"), std::string::npos) << path;
    EXPECT_NE(path.find("_6.0."), std::string::npos) << path;
}

// Visual styles reach the window only if its controls are those of common controls 6, not
// the plain ones of user32: only those buttons know their ideal size.
TEST_F(DialogTest, ButtonsAreThoseOfCommonControlsSix)
{
    for (int id : {IDC_OPENPORT, IDC_ACTIVE, IDC_CHANNEL_UP}) {
        SIZE ideal = {};
        EXPECT_TRUE(SendMessageA(Item(id), BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)))
            << "control " << id;
        EXPECT_GT(ideal.cx, 0) << "control " << id;
    }
}
