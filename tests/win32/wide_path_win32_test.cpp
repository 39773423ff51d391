// Paths that the ANSI code page cannot spell, through the OS seam's wide calls with the real API.
#include "platform/os.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool ansi_can_spell(const std::wstring& text) {
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, &lost);
    return !lost;
}

const char16_t* as_utf16(const std::wstring& text) {
    return reinterpret_cast<const char16_t*>(text.c_str());
}

// A folder in the temporary directory named in Cyrillic and Chinese letters, removed at the end.
class WidePath : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        dir = std::wstring(temp) + L"corvane \u0418\u0433\u0440\u044b \u6e38\u620f";
        ASSERT_FALSE(ansi_can_spell(dir)) << "the ANSI code page spells the folder's name";
        CreateDirectoryW(dir.c_str(), nullptr);
        ASSERT_NE(GetFileAttributesW(dir.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    void TearDown() override {
        DeleteFileW(file().c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring file() const { return dir + L"\\aimingSets.dat"; }

    std::wstring dir;
};

TEST_F(WidePath, OpensTheFileForItsBytesAsTheyAre) {
    const std::string bytes("Reload 1\r\n\x1A\r\x00\xFF", 14);
    {
        const HANDLE out = CreateFileW(file().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(out, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(out);
        ASSERT_EQ(written, bytes.size());
    }

    std::FILE* const in = os::open_for_reading(as_utf16(file()));
    ASSERT_NE(in, nullptr);
    std::string got(64, '\0');
    got.resize(std::fread(got.data(), 1, got.size(), in));
    std::fclose(in);
    // Binary: no CR LF pairing, no end at 0x1A.
    EXPECT_EQ(got, bytes);

    EXPECT_EQ(os::open_for_reading(as_utf16(dir + L"\\missing.dat")), nullptr);
}

TEST(ModuleFileName, ACutPathReportsTheFullBuffer) {
    wchar_t whole[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, whole, MAX_PATH);
    ASSERT_GT(length, 5u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));

    char16_t buffer[MAX_PATH];
    EXPECT_EQ(os::module_file_name(nullptr, buffer, MAX_PATH), length);
    EXPECT_EQ(std::u16string(buffer), std::u16string(as_utf16(whole)));
    // Cut: the length reported is the buffer's, which is how a path that fills it is told.
    EXPECT_EQ(os::module_file_name(nullptr, buffer, 5), 5u);
    EXPECT_EQ(std::u16string(buffer, 4), std::u16string(as_utf16(whole), 4));
}

} // namespace
