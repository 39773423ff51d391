// Tuning the weapon in hand with keys: the aim moves from the next aim, through the hooked aim
// call; letting go of the tune key saves into aimingSets.dat, safely.
#include "aim_host.h"
#include "frame_host.h"

#include "injector/branch.h"
#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/aim/tune_keys.h"
#include "plugin/aiming_plugin.h"
#include "plugin/frame/per_frame.h"
#include "plugin/load/settings_load.h"
#include "plugin/log/module_log.h"
#include "plugin/log/tune_log.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using offset = std::array<float, 3>;

constexpr int tune = 0x77; // F8
constexpr int left = 0x25, right = 0x27, up = 0x26, down = 0x28, page_up = 0x21, page_down = 0x22;

// Lines 1 to 15, the weapon lines given (line 16 on), then the named lines.
std::string settings_text(const std::vector<std::string>& weapon_lines,
                          const std::string& named = "tune_key F8\n", int reload = 0,
                          const char* line_end = "\n") {
    std::vector<std::string> lines = {"reload " + std::to_string(reload), "--"};
    for (int n = 3; n <= 9; ++n)
        lines.push_back("value" + std::to_string(n));
    lines.push_back("--");
    for (int r = 0; r < 4; ++r)
        lines.push_back("row" + std::to_string(r));
    lines.push_back("-- weapons");
    for (const std::string& line : weapon_lines)
        lines.push_back(line);
    while (lines.size() < 31)
        lines.push_back("");
    std::string text;
    for (const std::string& line : lines)
        text += line + line_end;
    std::string rest = named;
    for (std::size_t at = 0; (at = rest.find('\n', at)) != std::string::npos; at += 2)
        if (std::string(line_end) == "\r\n") rest.insert(at++, "\r");
    return text + rest;
}

class TuneKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<test_host::aim_host>();
        plugin::create_weapon_offset_list();
        ASSERT_EQ(host->hook_aim_site(), injector::patch_status::done);
        dir = std::make_unique<test_host::plugin_dir>();
        plugin::open_module_log(plugin::log_file_path());
        plugin::note_start_up_finished();
    }
    void TearDown() override {
        test_host::reset_module();
        dir.reset();
        host.reset();
    }

    void start(const std::string& file) {
        dir->write_settings(file);
        plugin::load_aiming_settings();
    }

    // One aim with `weapon` in hand: the offset the hook hands the game's transform, or none
    // when the game's own aim goes through.
    std::optional<offset> aim(std::int32_t weapon) {
        host->player.set_weapon(1, weapon);
        host->calls = {};
        float target[3] = {7, 8, 9};
        int object = 0;
        host->call_aim_site(&object, target, 0, 0, 0);
        if (host->calls.transforms.empty()) return std::nullopt;
        return host->calls.transforms[0].offset;
    }

    // One frame at `ms` with these keys down.
    void frame(std::vector<int> keys, std::uint32_t ms = 0) {
        auto& os_state = os::stand_in::current();
        os_state.keys_down = std::move(keys);
        if (ms) os_state.milliseconds = ms;
        plugin::per_frame_handler();
    }

    static offset entry_of(std::int32_t weapon) {
        for (const auto& e : *plugin::weapon_offset_list())
            if (e.weapon_type == weapon) return {e.offset[0], e.offset[1], e.offset[2]};
        ADD_FAILURE() << "no entry for weapon " << weapon;
        return {};
    }

    static std::string log() { return test_host::module_log_text(); }
    static int replacements() { return static_cast<int>(os::stand_in::current().replaced.size()); }

    std::unique_ptr<test_host::aim_host> host;
    std::unique_ptr<test_host::plugin_dir> dir;
};

// --- Each key, on each shoulder --------------------------------------------------------------

struct press_case {
    const char* name;
    const char* named; // the named lines beside tune_key F8
    int mirrored_key;  // 0: the normal shoulder; else the key held for the other shoulder
    int key;
    offset after; // weapon 22 starts at 0.5 0.2 0.1
};

void PrintTo(const press_case& c, std::ostream* out) {
    *out << c.name;
}

class TuneKeysPress : public TuneKeys, public ::testing::WithParamInterface<press_case> {};

TEST_P(TuneKeysPress, OnePressMovesThePartOneStepFromTheNextAim) {
    const press_case& c = GetParam();
    start(
        settings_text({"22 0.5 0.2 0.1", "-1 0.4 0 0.1"}, std::string("tune_key F8\n") + c.named));
    if (c.mirrored_key) frame({c.mirrored_key}, 10);
    ASSERT_TRUE(aim(22)); // the weapon in hand
    frame({tune, c.key}, 20);
    EXPECT_EQ(entry_of(22), c.after);
    const float factor = plugin::aim_factor();
    EXPECT_EQ(aim(22), (offset{c.after[0] * factor, c.after[1], c.after[2]}));
    // Other weapons keep their aim: the default is not moved.
    EXPECT_EQ(aim(40), (offset{0.4f * factor, 0, 0.1f}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TuneKeysPress,
    ::testing::Values(
        press_case{"left", "", 0, left, {0.45f, 0.2f, 0.1f}},
        press_case{"right", "", 0, right, {0.55f, 0.2f, 0.1f}},
        press_case{"up_is_z", "", 0, up, {0.5f, 0.2f, 0.15f}},
        press_case{"down", "", 0, down, {0.5f, 0.2f, 0.05f}},
        press_case{"page_up_is_y_ahead", "", 0, page_up, {0.5f, 0.25f, 0.1f}},
        press_case{"page_down", "", 0, page_down, {0.5f, 0.15f, 0.1f}},
        press_case{"step_of_the_file", "tune_step 0.001\n", 0, right, {0.501f, 0.2f, 0.1f}},
        // x times -3 on the other shoulder: left on screen is a larger x in the file.
        press_case{"left_on_the_other_shoulder", "", 0x58, left, {0.55f, 0.2f, 0.1f}},
        press_case{"right_on_the_other_shoulder", "", 0x58, right, {0.45f, 0.2f, 0.1f}},
        press_case{"up_on_the_other_shoulder", "", 0x58, up, {0.5f, 0.2f, 0.15f}},
        // A positive factor does not turn the picture round.
        press_case{
            "left_with_a_positive_factor", "mirror_factor 2\n", 0x58, left, {0.45f, 0.2f, 0.1f}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Holding a key ---------------------------------------------------------------------------

TEST_F(TuneKeys, HoldingRepeatsSteadilyAfterAPauseAndALateFrameMakesNoBurst) {
    start(settings_text({"22 1 0 0"}));
    aim(22);
    struct step {
        std::uint32_t ms;
        std::vector<int> keys;
        float x_after;
    };
    const std::vector<step> timeline = {
        {1000, {tune, right}, 1.05f}, // the press
        {1100, {tune, right}, 1.05f},
        {1399, {tune, right}, 1.05f}, // the pause is not over
        {1400, {tune, right}, 1.1f},  // the first repeat
        {1549, {tune, right}, 1.1f},
        {1550, {tune, right}, 1.15f}, // every 150 ms
        {1700, {tune, right}, 1.2f},
        {3000, {tune, right}, 1.25f}, // a frame 1.3 s late: one step, not eight
        {3100, {tune, right}, 1.25f},
        {3150, {tune, right}, 1.3f},
        {3160, {tune}, 1.3f},         // let go of Right
        {3170, {tune, right}, 1.35f}, // pressed again: at once
    };
    for (const step& s : timeline) {
        SCOPED_TRACE(s.ms);
        frame(s.keys, s.ms);
        EXPECT_FLOAT_EQ(entry_of(22)[0], s.x_after);
    }
}

TEST_F(TuneKeys, ATuneKeyThatIsOneOfTheSixMovesNothingAndTheLogSaysSoOnce) {
    start(settings_text({"22 1 0 0"}, "tune_key Up\n", 1)); // reloading: the line is read again
    aim(22);
    frame({up}, 10);
    frame({up, right}, 20);
    EXPECT_EQ(entry_of(22), (offset{1.05f, 0, 0})) << "Up held to tune, Right moves";
    const std::string says = "line 32: tune_key Up is also one of the keys that move the aim "
                             "point while tuning, so that key moves nothing";
    EXPECT_NE(log().find(says), std::string::npos) << log();
    EXPECT_EQ(log().find(says, log().find(says) + 1), std::string::npos) << "said again";
}

TEST_F(TuneKeys, AKeyHeldBeforeTheTuneKeyMovesNothingUntilPressedAgain) {
    start(settings_text({"22 1 0 0"}));
    aim(22);
    frame({right}, 1000);
    frame({right, tune}, 1010);
    frame({right, tune}, 2000); // long past the pause
    EXPECT_EQ(entry_of(22), (offset{1, 0, 0}));
    frame({tune}, 2010);
    frame({tune, right}, 2020);
    EXPECT_EQ(entry_of(22), (offset{1.05f, 0, 0}));
}

TEST_F(TuneKeys, WithoutATuneKeyOrAWeaponNothingMoves) {
    start(settings_text({"22 1 0 0"}, ""));
    aim(22);
    auto& os_state = os::stand_in::current();
    os_state.key_queries.clear();
    frame({tune, right}, 10);
    EXPECT_EQ(entry_of(22), (offset{1, 0, 0}));
    for (int key : os_state.key_queries)
        EXPECT_TRUE(key == 0x5A || key == 0x58) << "asked key " << key;

    // Tune key set, but no aim yet: nothing moves, and the log says why.
    test_host::reset_module();
    plugin::create_weapon_offset_list();
    plugin::open_module_log(plugin::log_file_path());
    plugin::note_start_up_finished();
    start(settings_text({"22 1 0 0"}));
    frame({tune, right}, 10);
    frame({tune}, 20);
    EXPECT_EQ(entry_of(22), (offset{1, 0, 0}));
    EXPECT_NE(log().find("aim with a weapon first"), std::string::npos) << log();
    EXPECT_EQ(replacements(), 0);
}

// --- Saving ----------------------------------------------------------------------------------

TEST_F(TuneKeys, LettingGoSavesOnceKeepsTheBackupOnceAndOnlyTheNumbersChange) {
    const std::string before = settings_text({"22 0.5 0.2 0.1   my rifle", "-1 0.4 0 0.1"});
    start(before);
    aim(22);
    frame({tune, right}, 10);
    frame({tune, up}, 20);
    frame({tune}, 30);
    EXPECT_EQ(replacements(), 0) << "saved before the tune key was let go";
    frame({}, 40);
    std::string expected = before;
    expected.replace(expected.find("22 0.5 0.2 0.1"), 14, "22 0.55 0.2 0.15");
    EXPECT_EQ(dir->read(), expected);
    EXPECT_EQ(dir->read("aimingSets.dat.bak"), before);
    EXPECT_FALSE(dir->has("aimingSets.dat.new"));
    EXPECT_NE(log().find("saved weapon type 22 on line 16 of aimingSets.dat: 0.5 0.2 0.1 -> 0.55 "
                         "0.2 0.15"),
              std::string::npos)
        << log();
    EXPECT_EQ(os::stand_in::current().flushed.size(), 2u); // the backup, then the file

    // More frames write nothing; a second tune writes the file again, but not the backup.
    const int after_first = replacements();
    frame({}, 50);
    frame({}, 60);
    EXPECT_EQ(replacements(), after_first);
    frame({tune, down}, 70);
    frame({}, 80);
    EXPECT_EQ(replacements(), after_first + 1);
    expected.replace(expected.find("0.55 0.2 0.15"), 13, "0.55 0.2 0.1");
    EXPECT_EQ(dir->read(), expected);
    EXPECT_EQ(dir->read("aimingSets.dat.bak"), before);
}

// The backup holds the file as it was before the first save ever: a new load of corvane (a
// plug-in loader's reload, or the next evening) never writes over it, nor over one the player
// made.
TEST_F(TuneKeys, TheBackupIsNeverWrittenOverAcrossLoadsAndSessions) {
    const std::string before = settings_text({"22 0.5 0.2 0.1"});
    start(before);
    const char* const presses[] = {"22 0.55 0.2 0.1", "22 0.6 0.2 0.1", "22 0.65 0.2 0.1"};
    for (const char* const saved : presses) {
        aim(22);
        frame({tune, right}, 10);
        frame({}, 20);
        std::string expected = before;
        expected.replace(expected.find("22 0.5 0.2 0.1"), 14, saved);
        EXPECT_EQ(dir->read(), expected);
        EXPECT_EQ(dir->read("aimingSets.dat.bak"), before) << "after saving " << saved;
        const char* const says = saved == presses[0] ? "aimingSets.dat.bak; corvane never writes"
                                                     : "aimingSets.dat.bak is there already";
        EXPECT_NE(log().find(says), std::string::npos) << log();
        // corvane is loaded again, as a loader reloads it or the game starts the next evening.
        test_host::reset_module();
        plugin::create_weapon_offset_list();
        plugin::open_module_log(plugin::log_file_path());
        plugin::note_start_up_finished();
        ASSERT_EQ(host->hook_aim_site(), injector::patch_status::done);
        plugin::load_aiming_settings();
    }

    // A copy the player made is never written over either.
    dir->write_settings(before);
    std::FILE* own = std::fopen(
        (std::filesystem::path(os::stand_in::utf8(plugin::settings_backup_path()))).c_str(), "wb");
    ASSERT_NE(own, nullptr);
    std::fputs("my own copy\n", own);
    std::fclose(own);
    plugin::load_aiming_settings();
    aim(22);
    frame({tune, right}, 10);
    frame({}, 20);
    EXPECT_NE(dir->read().find("22 0.55 0.2 0.1"), std::string::npos) << dir->read();
    EXPECT_EQ(dir->read("aimingSets.dat.bak"), "my own copy\n");
    EXPECT_FALSE(dir->has("aimingSets.dat.new"));
}

// Windows' VirtualStore (stood in for: Wine has none). Where the game is virtualized and its
// folder is one Windows protects, a save would make a second aimingSets.dat that only the game
// reads: nothing is saved, the tune lasts for the session, and the log gives the line to write
// and says at its top where it really is; elsewhere the save goes ahead.
struct virtual_store_case {
    const char* name;
    bool virtualized;
    bool folder_protected;
    bool copy_there; // a VirtualStore copy of aimingSets.dat from before
    bool saved;
};

void PrintTo(const virtual_store_case& c, std::ostream* out) {
    *out << c.name;
}

class TuneKeysVirtualStore : public TuneKeys,
                             public ::testing::WithParamInterface<virtual_store_case> {};

TEST_P(TuneKeysVirtualStore, SavesOnlyWhereThePlayersFileIsTheGamesFile) {
    const virtual_store_case& c = GetParam();
    const std::filesystem::path settings = os::stand_in::utf8(plugin::settings_file_path());
    const std::string folder = settings.parent_path().string();
    const std::string local = folder + "-local";
    auto& os_state = os::stand_in::current();
    os_state.virtualized = c.virtualized;
    os_state.environment["ProgramData"] = "/nowhere";
    os_state.environment["ProgramFiles"] = c.folder_protected ? "/TMP/" : "/nowhere";
    os_state.environment["LOCALAPPDATA"] = local;
    const std::string store = local + "\\VirtualStore" + folder;
    if (c.copy_there) {
        std::filesystem::create_directories(store);
        std::FILE* copy = std::fopen((store + "/aimingSets.dat").c_str(), "wb");
        ASSERT_NE(copy, nullptr);
        std::fclose(copy);
    }
    plugin::find_where_files_are_kept();
    plugin::log_files_in_virtual_store();

    const std::string before = settings_text({"22 0.5 0.2 0.1"});
    start(before);
    aim(22);
    frame({tune, right}, 10);
    frame({}, 20);
    std::filesystem::remove_all(local);

    std::string tuned = before;
    tuned.replace(tuned.find("22 0.5 0.2 0.1"), 14, "22 0.55 0.2 0.1");
    EXPECT_EQ(dir->read(), c.saved ? tuned : before);
    EXPECT_EQ(dir->has("aimingSets.dat.bak"), c.saved);
    EXPECT_EQ(aim(22), (offset{0.55f, 0.2f, 0.1f})) << "the tune lasts for the session";
    const bool says_not_saved =
        log().find("weapon type 22 not saved: the game's folder is one Windows protects") !=
            std::string::npos &&
        log().find("on line 16: 22 0.55 0.2 0.1") != std::string::npos;
    EXPECT_EQ(says_not_saved, !c.saved) << log();
    const std::string log_top = "corvane.log is kept by Windows in " + store + "/corvane.log";
    EXPECT_EQ(log().rfind(log_top, 40) != std::string::npos, !c.saved) << log();
    EXPECT_EQ(log().find("the game reads Windows' copy in " + store + "/aimingSets.dat") !=
                  std::string::npos,
              c.copy_there)
        << log();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TuneKeysVirtualStore,
    ::testing::Values(virtual_store_case{"virtualized_in_program_files", true, true, false, false},
                      virtual_store_case{"with_a_copy_there_already", true, true, true, false},
                      virtual_store_case{"in_program_files_not_virtualized", false, true, false,
                                         true},
                      virtual_store_case{"virtualized_elsewhere", true, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A step and its way back give the very number the file holds, whatever its decimals: more than
// six, or a tiny one; so a tune moved back writes nothing. The steps still add up to the numbers
// a player would write.
TEST_F(TuneKeys, ThereAndBackIsTheVeryNumberOfTheFile) {
    struct there_and_back {
        const char* line;
        int there, back;
    };
    const there_and_back cases[] = {
        {"22 0.1234567 0.2 0.1", right, left}, {"22 0.5 2.5e-07 0.1", page_up, page_down},
        {"22 0.5 0.2 -1.5e-05", up, down},     {"22 1e-30 0.2 0.1", left, right},
        {"22 123456.7 0.2 0.1", right, left},
    };
    for (const there_and_back& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string before = settings_text({c.line});
        start(before);
        const offset begun = entry_of(22);
        aim(22);
        frame({tune, c.there}, 10);
        EXPECT_NE(entry_of(22), begun);
        frame({tune}, 20);
        frame({tune, c.back}, 30);
        EXPECT_EQ(entry_of(22), begun);
        frame({}, 40);
        EXPECT_EQ(replacements(), 0);
        EXPECT_EQ(dir->read(), before);
    }
    struct step_case {
        float value, step, moved;
    };
    const step_case steps[] = {{0.4f, 0.05f, 0.45f},           {0.1234567f, 0.05f, 0.1734567f},
                               {2.5e-07f, 0.05f, 0.05000025f}, {0.45f, -0.05f, 0.4f},
                               {0.05f, -0.05f, 0.0f},          {1.5f, 0.001f, 1.501f}};
    for (const step_case& c : steps)
        EXPECT_EQ(plugin::stepped(c.value, c.step), c.moved) << c.value << " + " << c.step;
}

TEST_F(TuneKeys, ATuneMovedBackToWhereItWasWritesNothing) {
    const std::string before = settings_text({"22 0.5 0.2 0.1"});
    start(before);
    aim(22);
    frame({tune, right}, 10);
    frame({tune}, 20);
    frame({tune, left}, 30);
    frame({}, 40);
    EXPECT_EQ(replacements(), 0);
    EXPECT_EQ(dir->read(), before);
    EXPECT_FALSE(dir->has("aimingSets.dat.bak"));
}

TEST_F(TuneKeys, AWeaponOnTheDefaultGetsTheFirstEmptyLineAndAFullFileGetsNothing) {
    std::vector<std::string> lines = {"22 0.5 0.2 0.1", "-1 0.4 0 0.1", "# notes", "   "};
    start(settings_text(lines));
    aim(40); // no line of its own: the default
    frame({tune, right}, 10);
    EXPECT_EQ(aim(40), (offset{0.45f, 0, 0.1f}));
    EXPECT_EQ(aim(41), (offset{0.4f, 0, 0.1f})) << "the default moved with it";
    aim(40);
    frame({}, 20);
    // Line 18 holds a comment, line 19 only blanks: the new line goes there.
    lines[3] = "40 0.45 0 0.1";
    EXPECT_EQ(dir->read(), settings_text(lines));
    EXPECT_NE(log().find("saved weapon type 40 as a new line 19"), std::string::npos) << log();

    // A file whose sixteen weapon lines are all taken: nothing is written, the log says why, and
    // the tuned aim stays.
    std::vector<std::string> full;
    for (int i = 0; i < 16; ++i)
        full.push_back(i == 0 ? "-1 0.4 0 0.1" : "# taken");
    const std::string full_file = settings_text(full);
    dir->write_settings(full_file);
    plugin::load_aiming_settings();
    const int before = replacements();
    aim(50);
    frame({tune, up}, 30);
    frame({}, 40);
    EXPECT_EQ(dir->read(), full_file);
    EXPECT_EQ(replacements(), before);
    EXPECT_NE(log().find("weapon type 50 not saved: it has no line of its own, and lines 16 to 31 "
                         "have no empty line"),
              std::string::npos)
        << log();
    EXPECT_NE(log().find("write the line yourself: 50 0.4 0 0.15"), std::string::npos);
    EXPECT_EQ(aim(50), (offset{0.4f, 0, 0.15f}));
}

TEST_F(TuneKeys, AFileEditedSinceItWasReadIsNotWrittenOverAndTheTuneIsDropped) {
    start(settings_text({"22 0.5 0.2 0.1", "-1 0.4 0 0.1"}));
    aim(22);
    frame({tune, right}, 10);
    frame({tune}, 15);
    aim(40);
    frame({tune, right}, 20);
    ASSERT_EQ(aim(40), (offset{0.45f, 0, 0.1f}));
    // The player saves an edit meanwhile, from an editor.
    const std::string edited = settings_text({"22 0.7 0.2 0.1", "-1 0.4 0 0.1", "23 1 1 1"});
    dir->write_settings(edited);
    frame({}, 30);
    EXPECT_EQ(dir->read(), edited);
    EXPECT_FALSE(dir->has("aimingSets.dat.bak"));
    EXPECT_EQ(replacements(), 0);
    // The edit is read and applies; the tunes are gone, weapon 40 is back on the default.
    EXPECT_EQ(aim(22), (offset{0.7f, 0.2f, 0.1f}));
    EXPECT_EQ(aim(23), (offset{1, 1, 1}));
    EXPECT_EQ(aim(40), (offset{0.4f, 0, 0.1f}));
    EXPECT_NE(log().find("was changed since corvane read it"), std::string::npos) << log();
    EXPECT_NE(log().find("the tune of weapon type 22 (0.55 0.2 0.1) is dropped"),
              std::string::npos);

    // Weapon 40 follows the default again: a later edit of the -1 line moves it too, until a
    // line of its own comes.
    dir->write_settings(settings_text({"22 0.7 0.2 0.1", "-1 0.3 0 0.2"}));
    plugin::load_aiming_settings();
    EXPECT_EQ(aim(40), (offset{0.3f, 0, 0.2f}));
    dir->write_settings(settings_text({"22 0.7 0.2 0.1", "-1 0.3 0 0.2", "40 1 2 3"}));
    plugin::load_aiming_settings();
    dir->write_settings(settings_text({"22 0.7 0.2 0.1", "-1 0.6 0 0.2", "40 1 2 3"}));
    plugin::load_aiming_settings();
    EXPECT_EQ(aim(40), (offset{1, 2, 3}));
}

// A save that fails at any step leaves the file whole, leaves no new file behind, tells why,
// and is tried again at the next letting go.
struct failure_case {
    const char* name;
    void (*fail)(os::stand_in::state&);
    void (*heal)(os::stand_in::state&);
    const char* words;
};

void PrintTo(const failure_case& c, std::ostream* out) {
    *out << c.name;
}

class TuneKeysFailure : public TuneKeys, public ::testing::WithParamInterface<failure_case> {};

TEST_P(TuneKeysFailure, LeavesTheFileWholeAndTriesAgain) {
    const failure_case& c = GetParam();
    const std::string before = settings_text({"22 0.5 0.2 0.1"});
    start(before);
    aim(22);
    c.fail(os::stand_in::current());
    frame({tune, right}, 10);
    frame({}, 20);
    EXPECT_EQ(dir->read(), before);
    EXPECT_FALSE(dir->has("aimingSets.dat.new"));
    EXPECT_EQ(os::stand_in::current().files.count(os::stand_in::utf8(plugin::settings_new_path())),
              0u);
    EXPECT_NE(log().find(c.words), std::string::npos) << log();
    EXPECT_EQ(aim(22), (offset{0.55f, 0.2f, 0.1f})) << "the tune stays in force";
    // Tried again only when the tune key is let go again, not on every frame meanwhile.
    frame({}, 25);
    frame({}, 27);
    EXPECT_EQ(log().find(c.words, log().find(c.words) + 1), std::string::npos) << log();

    c.heal(os::stand_in::current());
    frame({tune}, 30);
    frame({}, 40);
    std::string expected = before;
    expected.replace(expected.find("0.5 0.2"), 3, "0.55");
    EXPECT_EQ(dir->read(), expected);
    EXPECT_EQ(dir->read("aimingSets.dat.bak"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TuneKeysFailure,
    ::testing::Values(
        failure_case{"disk_full", [](os::stand_in::state& s) { s.refuse_appends_ending = ".new"; },
                     [](os::stand_in::state& s) { s.refuse_appends_ending.clear(); },
                     "not all of the new file could be written"},
        failure_case{"file_locked",
                     [](os::stand_in::state& s) { s.refuse_replace_ending = "aimingSets.dat"; },
                     [](os::stand_in::state& s) { s.refuse_replace_ending.clear(); },
                     "not saved: Windows did not let the new file take the old one's place"},
        failure_case{"flush_fails", [](os::stand_in::state& s) { s.fail_flush = true; },
                     [](os::stand_in::state& s) { s.fail_flush = false; },
                     "could not put the new file on the disk"},
        failure_case{"backup_cannot_be_kept",
                     [](os::stand_in::state& s) { s.refuse_replace_ending = ".bak"; },
                     [](os::stand_in::state& s) { s.refuse_replace_ending.clear(); },
                     "could not: Windows did not let the new file take the old one's place (is "
                     "it read-only, or open in a program that holds on to it?); it saves nothing "
                     "without that copy"},
        failure_case{"file_read_only",
                     [](os::stand_in::state&) {
                         chmod(os::stand_in::utf8(plugin::settings_file_path()).c_str(), 0444);
                     },
                     [](os::stand_in::state&) {
                         chmod(os::stand_in::utf8(plugin::settings_file_path()).c_str(), 0644);
                     },
                     "aimingSets.dat is marked read-only"},
        failure_case{"folder_read_only", [](os::stand_in::state& s) { s.refuse_files = true; },
                     [](os::stand_in::state& s) { s.refuse_files = false; },
                     "is the folder read-only"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TuneKeys, AFileCorvaneNeverReadIsNeverWritten) {
    // No file at start-up: the tune works in the game, and nothing is written.
    plugin::load_aiming_settings();
    plugin::set_aim_key_settings([] {
        plugin::named_values v;
        v.value[static_cast<int>(plugin::named_setting::tune_key)].whole = tune;
        return v;
    }());
    aim(22);
    frame({tune, right}, 10);
    dir->write_settings("a file that appeared meanwhile\n");
    frame({}, 20);
    EXPECT_EQ(dir->read(), "a file that appeared meanwhile\n");
    EXPECT_EQ(replacements(), 0);
    EXPECT_NE(log().find("it never writes a file it has not read"), std::string::npos) << log();
}

// The file is checked again just before the new one takes its place: an edit the player saves
// while corvane writes (after the check at the start of the save) is not written over either.
TEST_F(TuneKeys, AnEditSavedWhileCorvaneWritesIsNotWrittenOver) {
    const std::string before = settings_text({"22 0.5 0.2 0.1"});
    start(before);
    aim(22);
    frame({tune, right}, 10);
    const std::string edit = settings_text({"22 0.7 0.2 0.1"});
    auto& os_state = os::stand_in::current();
    os_state.during_flush = [&](const std::string&) {
        if (os_state.flushed.size() == 2) dir->write_settings(edit); // as the file's flush runs
    };
    frame({}, 20);
    os_state.during_flush = nullptr;
    EXPECT_EQ(dir->read(), edit);
    EXPECT_FALSE(dir->has("aimingSets.dat.new"));
    EXPECT_NE(log().find("was changed since corvane read it"), std::string::npos) << log();
    EXPECT_EQ(aim(22), (offset{0.7f, 0.2f, 0.1f})) << "the player's edit decides, read again";
}

// The game quits with a tune not saved (the tune key still held, or the save refused): the log
// says so, with the line to write; a tune saved is not named. The first press says the key must
// be let go in the game: let go in another window (Alt+Tab), the game does not see it.
TEST_F(TuneKeys, QuittingWithATuneNotSavedIsSaid) {
    start(settings_text({"22 0.5 0.2 0.1", "31 0 0 0"}));
    aim(31);
    frame({tune, up}, 10);
    frame({}, 20); // 31 saved
    aim(22);
    frame({tune, right}, 30); // 22 tuned, the tune key still held as the game quits
    EXPECT_NE(log().find("let go in another window, as after Alt+Tab"), std::string::npos) << log();
    const std::string log_path = os::stand_in::utf8(plugin::log_file_path());
    injector::run_teardowns();
    const std::string said = os::stand_in::current().files[log_path];
    EXPECT_NE(said.find("the game quits (or corvane is unloaded) with the tune of weapon type 22 "
                        "not saved: 0.55 0.2 0.1 is not kept"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("weapon type 31 not saved"), std::string::npos) << said;
    EXPECT_LT(said.find("not saved: 0.55"), said.rfind("unloaded")) << "before the log closes";
}

// A tune begun while the file could not be read waits, said once, and is saved at the first
// letting go after a load read the file again.
TEST_F(TuneKeys, ATuneBegunWhileTheFileWasUnreadableIsSavedOnceItIsRead) {
    const std::string before = settings_text({"22 0.5 0.2 0.1"}, "tune_key F8\n", 1);
    start(before);
    aim(22);
    const std::string path = os::stand_in::utf8(plugin::settings_file_path());
    std::rename(path.c_str(), (path + ".away").c_str()); // an editor's save in progress
    frame({}, 5);                                        // the reload finds no file
    frame({tune, right}, 10);
    frame({}, 20);
    frame({tune}, 30);
    frame({}, 40);
    const std::string waits = "weapon type 22 not saved yet";
    ASSERT_NE(log().find(waits), std::string::npos) << log();
    EXPECT_EQ(log().find(waits, log().find(waits) + 1), std::string::npos) << "said once";
    EXPECT_EQ(replacements(), 0);

    std::rename((path + ".away").c_str(), path.c_str());
    frame({}, 50); // read again
    EXPECT_EQ(aim(22), (offset{0.55f, 0.2f, 0.1f})) << "the reload kept the tune";
    EXPECT_EQ(replacements(), 0) << "nothing saved before the tune key is let go";
    frame({tune}, 60);
    frame({}, 70);
    std::string expected = before;
    expected.replace(expected.find("22 0.5 0.2 0.1"), 14, "22 0.55 0.2 0.1");
    EXPECT_EQ(dir->read(), expected);
}

TEST_F(TuneKeys, LiveReloadNeverUndoesAnUnsavedTuneAndTheSaveIsNotThePlayersEdit) {
    const std::string before = settings_text({"22 0.5 0.2 0.1"}, "tune_key F8\n", 1);
    start(before);
    aim(22);
    frame({tune, right}, 10); // a reload runs in each of these frames
    frame({tune}, 20);
    frame({tune}, 30);
    EXPECT_EQ(aim(22), (offset{0.55f, 0.2f, 0.1f}));
    frame({}, 40); // saved
    frame({}, 50);
    frame({}, 60);
    EXPECT_EQ(aim(22), (offset{0.55f, 0.2f, 0.1f}));
    EXPECT_EQ(log().find("was changed since corvane read it"), std::string::npos) << log();
    frame({tune, right}, 70);
    frame({}, 80);
    EXPECT_NE(dir->read().find("22 0.6 0.2 0.1"), std::string::npos) << dir->read();
    EXPECT_EQ(log().find("was changed since corvane read it"), std::string::npos) << log();
}

TEST_F(TuneKeys, CrLfAndUtf16FilesKeepTheirForm) {
    // CR LF, 8-bit.
    const std::string crlf = settings_text({"22 0.5 0.2 0.1"}, "tune_key F8\n", 0, "\r\n");
    start(crlf);
    aim(22);
    frame({tune, page_up}, 10);
    frame({}, 20);
    std::string expected = crlf;
    expected.replace(expected.find("0.2 0.1"), 3, "0.25");
    EXPECT_EQ(dir->read(), expected);

    // UTF-16 LE with its mark, CR LF: each character two bytes.
    auto utf16 = [](const std::string& text) {
        std::string out = "\xFF\xFE";
        for (char c : text) {
            out += c;
            out += '\0';
        }
        return out;
    };
    test_host::reset_module();
    plugin::create_weapon_offset_list();
    plugin::open_module_log(plugin::log_file_path());
    plugin::note_start_up_finished();
    ASSERT_EQ(host->hook_aim_site(), injector::patch_status::done);
    start(utf16(crlf));
    aim(22);
    frame({tune, page_down}, 10);
    frame({}, 20);
    std::string expected16 = crlf;
    expected16.replace(expected16.find("0.2 0.1"), 3, "0.15");
    EXPECT_EQ(dir->read(), utf16(expected16));
}

// --- A save while the module unloads -------------------------------------------------------

// The whole module on build 1001, its per-frame work reached through the game's own CALL, as in
// the game: a frame runs on a thread of its own while the module unloads on another.
class TuneSaveAtUnload : public test_host::module_setting {};

// A save that takes longer than the unload's deadline (a slow disk, a folder an antivirus scans)
// is waited for whole: the unload ends only after the file is in place, the frame returns to the
// game, and no new file is left beside it.
TEST_F(TuneSaveAtUnload, TheUnloadWaitsForASaveLongerThanItsDeadline) {
    lay_out(test_host::build_1001);
    const std::string before = settings_text({"22 0.5 0.2 0.1"});
    dir->write_settings(before);
    aim->player.set_weapon(1, 22);
    plugin::create_weapon_offset_list();
    plugin::start_aiming_plugin();
    float target[3] = {7, 8, 9};
    int object = 0;
    aim->call_aim_site(&object, target, 0, 0, 0); // weapon 22 in hand
    auto& os_state = os::stand_in::current();
    os_state.milliseconds = 10;
    os_state.keys_down = {tune, right};
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));

    // The first flush of a new file (the backup) holds the thread until the unload has waited well
    // past its deadline, or until the test lets it go.
    constexpr std::uint32_t held_for = injector::unload_deadline_ms + 500;
    std::atomic<bool> in_flush{false}, let_go{false};
    std::atomic<std::uint32_t> waited{0};
    os_state.during_flush = [&](const std::string& path) {
        if (!path.ends_with(".new")) return; // corvane.log
        in_flush = true;
        while (!let_go.load() && waited.load() < held_for)
            std::this_thread::yield();
    };
    // The stand-in's Sleep passes no real time: once the flush is let go, each millisecond of the
    // unload's wait takes a real one, so the thread has its time to finish the save and leave.
    os_state.during_pause = [&] {
        waited = os_state.paused_milliseconds;
        if (waited.load() > held_for) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    os_state.keys_down = {};
    void* frame_result = nullptr;
    std::thread game([&] { frame_result = frames->run_frame(); }); // lets go of the tune key
    while (!in_flush.load())
        std::this_thread::yield();

    injector::begin_unload(false);
    injector::run_teardowns();
    const std::string on_disk_at_unload_end = dir->read();
    let_go = true;
    game.join();
    os_state.during_flush = nullptr;
    os_state.during_pause = nullptr;

    std::string expected = before;
    expected.replace(expected.find("22 0.5 0.2 0.1"), 14, "22 0.55 0.2 0.1");
    EXPECT_EQ(on_disk_at_unload_end, expected) << "the unload ended before the save did";
    EXPECT_GE(waited.load(), held_for);
    EXPECT_LT(waited.load(), held_for + injector::unload_deadline_ms)
        << "once the save ended, the thread left at once: the wait did not last another deadline";
    EXPECT_EQ(frame_result, reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_EQ(dir->read(), expected);
    EXPECT_EQ(dir->read("aimingSets.dat.bak"), before);
    EXPECT_FALSE(dir->has("aimingSets.dat.new"));
    for (const auto& [path, bytes] : os_state.files)
        EXPECT_FALSE(path.ends_with(".new")) << path << " is still held, unwritten";
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
}

} // namespace
