// What corvane-check finds in its folder when it is given no names: the settings file or the
// usual mistakes around it, and the programs that may be the game.
#include "tools/check/files/files_beside.h"

#include "tools/check/tests/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace check_test;
using check::settings_found_as;

// Files by their path below the folder; a name ending in '/' is a folder.
class folder_beside : public test_folder {
  protected:
    void lay_out(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            if (name.back() == '/')
                fs::create_directories(dir_ / name);
            else
                write("reload_every_frame 0\n", name);
        }
    }
};

struct found_case {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, settings_found_as>> found; // shown, how
    const char* says;
};

TEST_F(folder_beside, finds_the_settings_file_or_says_what_lies_there_instead) {
    const std::vector<found_case> cases = {
        {"the_file_itself_and_nothing_else",
         {"aimingSets.dat", "aimingSets.dat.txt", "mods/aimingSets.dat"},
         {{"aimingSets.dat", settings_found_as::exact}},
         nullptr},
        {"saved_with_txt_added",
         {"aimingSets.dat.txt", "readme.txt"},
         {{"aimingSets.dat.txt", settings_found_as::other_name}},
         "Found aimingSets.dat.txt: corvane looks for aimingSets.dat exactly, so it will not "
         "read this file. Rename it to aimingSets.dat"},
        {"saved_with_the_extension_replaced_or_dropped",
         {"aimingSets", "aimingSets.txt", "aimingSetsOld.dat", "my_aimingSets.dat"},
         {{"aimingSets", settings_found_as::other_name},
          {"aimingSets.txt", settings_found_as::other_name}},
         "Found aimingSets.txt"},
        // Copies a browser or Explorer makes, extensions doubled, and names a letter or two off,
        // in any case; names further off are other files.
        {"copies_and_slips",
         {"aimingSets (1).dat", "AimingSets - Copy.dat", "Copy of aimingSets.dat",
          "aimingSets.dat.dat", "aimingSet.dat", "aimnigSets.dat", "aimigSet.dat",
          "aimingSets.DAT.TXT", "aimingSets(2).txt", "aiming.dat", "timingSheets.dat",
          "settings.dat"},
         {{"AimingSets - Copy.dat", settings_found_as::other_name},
          {"Copy of aimingSets.dat", settings_found_as::other_name},
          {"aimigSet.dat", settings_found_as::other_name},
          {"aimingSet.dat", settings_found_as::other_name},
          {"aimingSets (1).dat", settings_found_as::other_name},
          {"aimingSets(2).txt", settings_found_as::other_name},
          {"aimingSets.DAT.TXT", settings_found_as::other_name},
          {"aimingSets.dat.dat", settings_found_as::other_name},
          {"aimnigSets.dat", settings_found_as::other_name}},
         "Found aimingSets (1).dat: corvane looks for aimingSets.dat exactly"},
        // Other extensions are other files: a picture, a backup, a program of that name; and
        // corvane's own backup and the new file of a save are corvane's, never one to rename.
        {"other_extensions_are_other_files",
         {"aimingSets.svg", "aimingSets.png", "aimingSets.bak", "aimingSets.exe",
          "aimingSets.txt.bak", "aimingSets.data", "aimingSets.dat.bak", "AimingSets.dat.new",
          "aimingSets.dat.txt"},
         {{"aimingSets.dat.txt", settings_found_as::other_name}},
         "Found aimingSets.dat.txt"},
        {"other_capitals",
         {"AIMINGSETS.DAT"},
         {{"AIMINGSETS.DAT", settings_found_as::other_case}},
         "the same name with other capitals"},
        {"in_a_folder_below_but_not_two",
         {"mods/aimingSets.dat", "mods/deeper/aimingSets.dat", "other/AimingSets.dat.txt"},
         {{"mods/aimingSets.dat", settings_found_as::in_subfolder},
          {"other/AimingSets.dat.txt", settings_found_as::in_subfolder}},
         "Found mods/aimingSets.dat: it is in a folder below"},
        {"a_folder_by_that_name_is_not_the_file",
         {"aimingSets.dat/"},
         {},
         "write a starter file with:\n    corvane-check --template aimingSets.dat"},
        {"nothing_at_all", {}, {}, "There is no aimingSets.dat in "},
    };
    for (const found_case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        lay_out(c.files);
        const auto found = check::look_for_settings(dir_.string());
        std::vector<std::pair<std::string, settings_found_as>> seen;
        for (const auto& candidate : found) {
            seen.emplace_back(candidate.shown, candidate.how);
            EXPECT_EQ(candidate.path, (dir_ / candidate.shown).string());
        }
        EXPECT_EQ(seen, c.found);
        if (c.says) {
            const std::string text = check::missing_settings_text(dir_.string(), found);
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
        }
    }
}

TEST_F(folder_beside, programs_are_the_exe_files_but_the_checker_itself) {
    lay_out({"game.exe", "corvane-check.exe", "Launcher.EXE", "corvane.dll", "notes.exe.txt",
             "folder.exe/", "tools/other.exe"});
    EXPECT_EQ(
        check::programs_in(dir_.string()),
        (std::vector<std::string>{(dir_ / "Launcher.EXE").string(), (dir_ / "game.exe").string()}));
}

} // namespace
