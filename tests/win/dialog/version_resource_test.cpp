// The version resource, read back as Explorer reads it from the executable's file.
#include <gtest/gtest.h>
#include <windows.h>
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

TEST_F(VersionResource, StringsOfTheChineseTable)
{
    EXPECT_STREQ(String("FileDescription"), "Zorvane.exe");
    EXPECT_STREQ(String("InternalName"), "Zorvane");
    EXPECT_STREQ(String("OriginalFilename"), "Zorvane.EXE");
    EXPECT_STREQ(String("ProductName"), "Zorvane");
    EXPECT_STREQ(String("FileVersion"), "1, 0, 0, 1");
    EXPECT_STREQ(String("ProductVersion"), "1, 0, 0, 1");
    for (const char* key : {"Comments", "CompanyName", "LegalTrademarks", "PrivateBuild",
                            "SpecialBuild", "LegalCopyright"})
        EXPECT_STREQ(String(key), "") << key;
}

TEST_F(VersionResource, TranslationAndFixedPart)
{
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 0x04b0);

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileOS, DWORD(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
}
