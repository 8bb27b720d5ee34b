// The version resource, read back as Explorer reads it from the executable's file.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class VersionResource : public testing::Test {
protected:
    void SetUp() override
    {
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        DWORD size = GetFileVersionInfoSizeA(path, nullptr);
        ASSERT_GT(size, 0u);
        data.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));
    }
    // nullptr when the key is absent.
    const char* String(const std::string& key)
    {
        void* value = nullptr;
        UINT length = 0;
        std::string path = "\\StringFileInfo\\080404b0\\" + key;
        if (!VerQueryValueA(data.data(), path.c_str(), &value, &length))
            return nullptr;
        return length ? static_cast<const char*>(value) : "";
    }
    std::vector<char> data;
};

}  // namespace

// One version throughout: the fixed part, the strings Explorer shows, and the one the
// release command names the zips with, read from the resource script at configure time.
TEST_F(VersionResource, FileAndProductVersionAreTheReleasesEverywhere)
{
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    const DWORD parts[] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    std::string dotted;
    std::string listed;  // as the strings write it
    for (DWORD part : parts) {
        dotted += (dotted.empty() ? "" : ".") + std::to_string(part);
        listed += (listed.empty() ? "" : ", ") + std::to_string(part);
    }
    EXPECT_EQ(dotted, ZORVANE_RELEASE_VERSION);
    ASSERT_NE(String("FileVersion"), nullptr);
    ASSERT_NE(String("ProductVersion"), nullptr);
    EXPECT_EQ(String("FileVersion"), listed);
    EXPECT_EQ(String("ProductVersion"), listed);
}

// Explorer finds the strings through the translation: it must name their table.
TEST_F(VersionResource, TranslationNamesTheStringTable)
{
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    char table[9];
    std::snprintf(table, sizeof table, "%04x%04x", translation[0], translation[1]);
    void* name = nullptr;
    const std::string path = std::string("\\StringFileInfo\\") + table + "\\ProductName";
    ASSERT_TRUE(VerQueryValueA(data.data(), path.c_str(), &name, &length)) << table;
    EXPECT_STREQ(static_cast<const char*>(name), "Zorvane");
}
