// corvane-check's writes where the Windows code runs: a file of that name is never written
// over, a write that fails part-way leaves nothing of its own behind, and the names Windows
// would turn into another file or a device are refused.
#include "tools/check/files/new_file.h"
#include "tools/check/files/surroundings.h"
#include "tools/check/settings_check.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::size_t room = SIZE_MAX;

const check::surroundings test_answers = {
    [] { return std::string(); },
    [] { return 0u; },
    [] { return false; },
    [] {},
    [] { return room; },
};

class new_file_win32 : public ::testing::Test {
  protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, base), 0u);
        dir_ = std::string(base) + "corvane_new_file_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir_.c_str(), nullptr);
        room = SIZE_MAX;
        check::set_surroundings_for_tests(&test_answers);
    }
    void TearDown() override {
        check::set_surroundings_for_tests(nullptr);
        for (const std::string& name : names())
            DeleteFileA((dir_ + "\\" + name).c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    std::string path(const char* name) const { return dir_ + "\\" + name; }

    std::vector<std::string> names() const {
        std::vector<std::string> found;
        WIN32_FIND_DATAA entry;
        const HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return found;
        do {
            const std::string name = entry.cFileName;
            if (name != "." && name != "..") found.push_back(name);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        return found;
    }

    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static void write(const std::string& file, const std::string& content) {
        std::ofstream(file, std::ios::binary) << content;
    }

    std::string dir_;
};

TEST_F(new_file_win32, never_writes_over_a_file) {
    write(path("corvane.dll"), "MZ the player's own");
    write(path("aim.svg"), "<svg>the player's own</svg>");
    EXPECT_EQ(check::write_new_file(path("aim.svg"), "<svg>new</svg>"),
              check::write_failure::exists);
    std::string out, err;
    EXPECT_EQ(check::run_check_command({"--template", path("corvane.dll")}, out, err), 2);
    EXPECT_EQ(check::run_check_command({"--template", path("CORVANE.DLL")}, out, err), 2);
    EXPECT_EQ(read(path("aim.svg")), "<svg>the player's own</svg>");
    EXPECT_EQ(read(path("corvane.dll")), "MZ the player's own");
    EXPECT_EQ(names().size(), 2u);
}

// A disk that fills after 100 bytes: the half-written file is removed, the file beside it stays.
TEST_F(new_file_win32, a_write_that_fails_part_way_leaves_nothing_behind) {
    write(path("aimingSets.dat"), "the player's settings");
    room = 100;
    EXPECT_EQ(check::write_new_file(path("fresh.dat"), check::settings_template()),
              check::write_failure::disk_full);
    std::string out, err;
    EXPECT_EQ(check::run_check_command({"--template", path("fresh.dat")}, out, err), 2);
    EXPECT_NE(err.find("the disk is full"), std::string::npos) << err;
    EXPECT_EQ(names(), std::vector<std::string>{"aimingSets.dat"});
    EXPECT_EQ(read(path("aimingSets.dat")), "the player's settings");
    room = SIZE_MAX;
    EXPECT_EQ(check::write_new_file(path("fresh.dat"), check::settings_template()),
              check::write_failure::none);
    EXPECT_EQ(read(path("fresh.dat")), check::settings_template());
}

// What Windows itself does with these names is what the refusals guard against: each is
// refused, and nothing appears in the folder.
TEST_F(new_file_win32, names_windows_would_change_are_refused) {
    write(path("aimingSets.dat"), "the player's settings");
    for (const char* name : {"aimingSets.dat.", "aimingSets.dat ", "aimingSets.dat:picture",
                             "NUL.svg", "con", "COM1.svg"}) {
        SCOPED_TRACE(name);
        std::string out, err;
        EXPECT_EQ(check::run_check_command({"--svg", path(name), path("aimingSets.dat")}, out, err),
                  2);
        EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
    }
    EXPECT_EQ(names(), std::vector<std::string>{"aimingSets.dat"});
    EXPECT_EQ(read(path("aimingSets.dat")), "the player's settings");
}

// A name Windows allows no file by: said as such, not as a folder to choose.
TEST_F(new_file_win32, an_invalid_name_is_said_to_be_one) {
    EXPECT_EQ(check::write_new_file(path("aim?.svg"), "<svg/>"),
              check::write_failure::invalid_name);
}

} // namespace
