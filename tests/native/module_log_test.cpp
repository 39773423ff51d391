// corvane.log as the player reads it: what start-up, live reloads and unload write, read back
// from the recording OS stand-in's files.
#include "aim_host.h"
#include "allocation_count.h"
#include "frame_host.h"

#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/os_stand_in.h"
#include "plugin/aiming_plugin.h"
#include "plugin/frame/per_frame.h"
#include "plugin/log/module_log.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using test_host::build_bytes;

std::string sample_settings() {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/aimingSets.dat", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a log, each without its time and line end.
std::vector<std::string> lines_of(const std::string& log) {
    static const std::regex timed(R"(\[ *\d+\.\d{3} s\] (.*))");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find("\r\n", start);
        const std::string line = log.substr(start, end - start);
        std::smatch match;
        lines.push_back(std::regex_match(line, match, timed) ? match[1].str() : "?? " + line);
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

class ModuleLog : public test_host::module_setting {
  protected:
    void SetUp() override { lay_out(test_host::build_1001); }

    static void load_module() {
        plugin::create_weapon_offset_list();
        plugin::start_aiming_plugin();
    }

    static std::string log_text() { return test_host::module_log_text(); }
    static std::vector<std::string> log_lines() { return lines_of(log_text()); }
};

// --- start-up and unload ----------------------------------------------------------------------

// Four bytes at 0x401000 that name no build, as a game this module does not know would hold.
const build_bytes build_other{"other", 0x401000, {0x55, 0x8B, 0xEC, 0x83}};

// What the log says about one start-up and the unload after it. "{dir}" in an expected line
// stands for the module's directory.
struct start_up_case {
    const char* name;
    build_bytes build;
    std::function<void(test_host::plugin_dir&)> prepare;
    std::vector<std::string> lines;
};

void PrintTo(const start_up_case& c, std::ostream* out) {
    *out << c.name;
}

class StartUpLog : public ModuleLog, public ::testing::WithParamInterface<start_up_case> {
  protected:
    void SetUp() override { lay_out(GetParam().build); }
};

std::string with_dir(std::string line, const std::string& dir) {
    for (std::size_t at; (at = line.find("{dir}")) != std::string::npos;)
        line.replace(at, 5, dir);
    return line;
}

TEST_P(StartUpLog, SaysWhatStartUpAndUnloadDid) {
    GetParam().prepare(*dir);
    load_module();
    injector::run_teardowns();

    const std::string dir_text = os::stand_in::utf8(plugin::plugin_dir_path());
    std::vector<std::string> expected;
    for (const std::string& line : GetParam().lines)
        expected.push_back(with_dir(line, dir_text));
    EXPECT_EQ(log_lines(), expected);
    EXPECT_EQ(os::stand_in::current().open_files(), 0) << "the log is closed at unload";
}

void write_sample(test_host::plugin_dir& dir) {
    dir.write_settings(sample_settings());
}

// The starter file sets none of lines 3 to 14: the game keeps its own values and rows.
const std::vector<std::string> sample_summary = {
    "settings file {dir}aimingSets.dat: read",
    "live reload (line 1): off (0)",
    "values of lines 3 to 9: - - - - - - - (-: the line sets nothing, the game keeps its own "
    "value)",
    "aim rows (lines 11 to 14): 10 11 12 13 14 15 16 / 20 21 22 23 24 25 26 / "
    "30 31 32 33 34 35 36 / 40 41 42 43 44 45 46",
    "weapon offsets (4 entries): the default (-1): 0.4 0 0.1; weapon 22: 0.5 0.2 0.1; weapon 25: "
    "0.6 -0.3 0.2",
    "weapon types that keep the game's own aim (offset 0 0 0): 31",
};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::string loaded = "corvane 1.0.0, loaded from {dir}corvane.dll";
// The test host's own values (test_host::game_line_value and game_row_value), as the log gives
// them before the file's are written.
const std::vector<std::string> game_values = {
    "the game's own values, before corvane changes any (to set one back, write its numbers after "
    "the label on its line of the settings file):",
    "line 3, an aim-camera value of the game: 3.25",
    "line 4, an aim-camera value of the game: 4.25",
    "line 5, a value in the game's aim-camera code: 5.25",
    "line 6, an aim-camera value of the game: 6.25",
    "line 7, an aim-camera value of the game: 7.25",
    "line 8, an aim-camera value of the game: 8.25",
    "line 9, an aim-camera value of the game: 9.25",
    "line 11, aim row 0 of the game (7 values): 10 11 12 13 14 15 16",
    "line 12, aim row 1 of the game (7 values): 20 21 22 23 24 25 26",
    "line 13, aim row 2 of the game (7 values): 30 31 32 33 34 35 36",
    "line 14, aim row 3 of the game (7 values): 40 41 42 43 44 45 46",
};
const std::string aim_redirected = "aim call at 0x527A95: now calls corvane";
const std::vector<std::string> frame_hooked = {
    "game build 1001: the keys and live reload work on this build",
    "per-frame call at 0x53E981: now calls corvane after the game's own frame work",
};
const std::vector<std::string> both_back = {
    "unloading: the aim call at 0x527A95 has its own bytes back",
    "unloading: the per-frame call at 0x53E981 has its own bytes back",
    "corvane is unloaded; the values it wrote into the game stay until the game restarts",
};

// A settings file with its faults: a cut line, a number where a label belongs, too few values,
// a value glued to its label, a weapon line that adds nothing, and an end before line 31.
const std::string faulty_settings = "Reload 1\n"
                                    "--\n"
                                    "Value3 1.5 " +
                                    std::string(520, 'x') +
                                    "\n"
                                    "2.5\n"
                                    "Value5=3.5\n"
                                    "Value6 4.5\n"
                                    "Value7 5.5\n"
                                    "Value8 6.5\n"
                                    "Value9 7.5\n"
                                    "--\n"
                                    "Row0 1 2 3\n"
                                    "Row1 1 2 3 4 5 6 7\n"
                                    "Row2 1 2 3 4 5 6 7\n"
                                    "Row3 1 2 3 4 5 6 7\n"
                                    "--\n"
                                    "22 0.5 0.25 0.125\n"
                                    "22 9 9 9\n"
                                    "23 1 2\n";

void nothing(test_host::plugin_dir&) {}

const std::vector<std::string> settings_faults = {
    "settings file {dir}aimingSets.dat: read",
    "line 3: longer than 511 characters: only its first 511 are read, the rest is skipped",
    "line 4: the first word, '2.5', is a number, so it is read as the label and the line sets "
    "nothing",
    "line 5: '=' stands where a blank belongs, so corvane reads no value from this line. Written "
    "as 'Value5 3.5' it sets what it says",
    "line 11: only 3 of 7 values: values 4 to 7 of row 0 stay as the game has them",
    "line 17: weapon type 22 was already given on line 16: this line changes nothing (the first "
    "entry wins)",
    "line 18: only 3 of the 4 fields (type, x, y, z): no entry",
    "line 19, note: the file ends after line 18: lines 19 to 31 set nothing; no weapon entries "
    "from those lines",
    "live reload (line 1): on, the file is read again on every frame (1)",
    "values of lines 3 to 9: 1.5 - - 4.5 5.5 6.5 7.5 (-: the line sets nothing, the game keeps "
    "its own value)",
    "aim rows (lines 11 to 14): 1 2 3 13 14 15 16 / 1 2 3 4 5 6 7 / 1 2 3 4 5 6 7 / "
    "1 2 3 4 5 6 7",
    "weapon offsets (1 entry): weapon 22: 0.5 0.25 0.125",
};

const std::string refused =
    ": left as it was: Windows refused to lift that memory's write protection";

const std::vector<std::string> frame_left_alone_at_unload = {
    "unloading: the aim call at 0x527A95 has its own bytes back",
    "unloading: the per-frame call at 0x53E981 was never changed",
    "corvane is unloaded; the values it wrote into the game stay until the game restarts",
};

const std::string build_on_aim = ": the keys, live reload and the tune keys work while you aim: "
                                 "corvane does their work when the game aims, not on every frame";

// Where another build of the game has other code than the call of its aim camera.
const std::array<std::uint8_t, 5> other_code_at_aim_site = {0x8B, 0x45, 0x08, 0x89, 0xC1};

// A module directory of 247 characters: "aimingSets.dat" behind it passes 260 characters,
// "corvane.log" does not.
const std::string deep_dir = "/tmp/" + std::string(241, 'd') + "/";

const start_up_case start_up_cases[] = {
    {"sample_file", test_host::build_1001, write_sample,
     joined({{loaded, aim_redirected}, game_values, sample_summary, frame_hooked, both_back})},
    {"faulty_file", test_host::build_1001,
     [](test_host::plugin_dir& dir) { dir.write_settings(faulty_settings); },
     joined({{loaded, aim_redirected}, game_values, settings_faults, frame_hooked, both_back})},
    {"missing_file", test_host::build_1001, nothing,
     joined({{loaded, aim_redirected},
             game_values,
             {"settings file {dir}aimingSets.dat: not read: not found; the game keeps its own "
              "values (is it named exactly aimingSets.dat? Windows may hide an ending such as "
              ".txt)"},
             frame_hooked,
             both_back})},
    {"settings_file_is_a_folder", test_host::build_1001,
     [](test_host::plugin_dir&) {
         std::filesystem::create_directory(os::stand_in::utf8(plugin::plugin_dir_path()) +
                                           "aimingSets.dat");
     },
     joined({{loaded, aim_redirected},
             game_values,
             {"settings file {dir}aimingSets.dat: not read: it is there but cannot be opened "
              "(another program may hold it, or it is a folder); the game keeps its own values"},
             frame_hooked,
             both_back})},
    {"own_file_not_found", test_host::build_1001,
     [](test_host::plugin_dir& dir) {
         write_sample(dir);
         auto& os_state = os::stand_in::current();
         os_state.module_from_address_fails = true;
         std::u16string game = os_state.module_paths[os_state.plugin_module];
         os_state.module_paths[nullptr] =
             game.replace(game.rfind(u'/') + 1, game.npos, u"game.exe");
     },
     joined({{"corvane 1.0.0: it could not find its own file, so it looks for its settings "
              "beside the game's executable, {dir}game.exe",
              aim_redirected},
             game_values,
             sample_summary,
             frame_hooked,
             both_back})},
    {"path_too_long", test_host::build_1001,
     [](test_host::plugin_dir&) {
         auto& os_state = os::stand_in::current();
         os_state.module_paths[os_state.plugin_module] =
             os::stand_in::utf16(deep_dir + "corvane.dll");
     },
     joined({{loaded, aim_redirected},
             game_values,
             {"settings file {dir}aimingSets.dat: not read: its path would be longer than 260 "
              "characters; the game keeps its own values"},
             frame_hooked,
             both_back})},
    {"unrecognised_build", build_other, write_sample,
     joined({{loaded, aim_redirected},
             game_values,
             sample_summary,
             {"game build not recognised (0x83EC8B55 at 0x401000)" + build_on_aim},
             frame_left_alone_at_unload})},
    {"unrecognised_build_whose_aim_call_differs",
     build_other,
     [](test_host::plugin_dir& dir) {
         write_sample(dir);
         test_host::write(0x527A95, other_code_at_aim_site);
     },
     {loaded,
      "game build not recognised (0x83EC8B55 at 0x401000): this game build is not one corvane "
      "knows, so corvane changed nothing in this game: at 0x527A95, where the builds corvane "
      "knows call the game's aim camera, this one holds 8B 45 08 89 C1",
      "corvane is unloaded; it changed nothing in this game"}},
    {"build_1011", test_host::build_1011, write_sample,
     joined({{loaded, aim_redirected},
             game_values,
             sample_summary,
             {"game build 1011 (0x00000000 at 0x401000)" + build_on_aim},
             frame_left_alone_at_unload})},
    // Windows keeps the game's code closed: the two calls and line 5's value stay the game's,
    // and the unload has nothing to put back.
    {"refused_protection", test_host::build_1001,
     [](test_host::plugin_dir& dir) {
         std::string sample = sample_settings();
         const std::size_t label = sample.find("aim_code_value_521632");
         sample.insert(sample.find('\n', label), " 0.3"); // line 5 goes into the game's code
         dir.write_settings(sample);
         os::stand_in::current().fail_protect_switch = true;
     },
     joined({{loaded, "aim call at 0x527A95" + refused},
             game_values,
             {sample_summary[0], "line 5, a value in the game's aim-camera code" + refused,
              sample_summary[1],
              "values of lines 3 to 9: - - - - - - - (-: the line sets nothing, the game keeps "
              "its own value)"},
             {sample_summary.begin() + 3, sample_summary.end()},
             {"game build 1001, but its per-frame call could not be changed, so the keys and live "
              "reload are off",
              "per-frame call at 0x53E981" + refused,
              "unloading: the aim call at 0x527A95 was never changed",
              "unloading: the per-frame call at 0x53E981 was never changed",
              "corvane is unloaded; it changed nothing in this game"}})},
};

INSTANTIATE_TEST_SUITE_P(Cases, StartUpLog, ::testing::ValuesIn(start_up_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- live reload --------------------------------------------------------------------------------

// A file with live reload on, and the lines a test edits.
struct tuned_file {
    std::string reload = "1";
    std::string value3 = "1.5";
    std::string row1 = "1 2 3 4 5 6 7";
    std::vector<std::string> weapons = {"22 0.5 0.25 0.125", "-1 0.25 0 0"};
    std::vector<std::string> named; // from line 32 on

    std::string text() const {
        std::string out = "Reload " + reload + "\n--\nValue3 " + value3 +
                          "\nValue4 2\nValue5 3\nValue6 4\nValue7 5\nValue8 6\nValue9 7\n--\n";
        out +=
            "Row0 1 2 3 4 5 6 7\nRow1 " + row1 + "\nRow2 1 2 3 4 5 6 7\nRow3 1 2 3 4 5 6 7\n--\n";
        for (const auto& weapon : weapons)
            out += weapon + "\n";
        if (named.empty()) return out;
        for (std::size_t line = 16 + weapons.size(); line <= 31; ++line)
            out += "\n";
        for (const auto& line : named)
            out += line + "\n";
        return out;
    }
};

// One step of a session: what the player does to the file, how many frames run, and the lines
// the log gains.
struct reload_step {
    const char* what;
    std::function<void(tuned_file&, const std::string& path)> edit;
    int frames;
    std::vector<std::string> new_lines;
};

void save(tuned_file& file, const std::string& path) {
    std::ofstream(path, std::ios::binary) << file.text();
}

// The game quits: Windows ends its other threads first, so corvane waits for nothing, writes
// nothing into the game, and says so for each call it changed.
TEST_F(ModuleLog, AtTheGamesExitNothingIsWrittenIntoTheGameAndTheLogSaysSo) {
    load_module();
    const auto aim_site_now = test_host::read_bytes(0x527A95, 5);
    const auto frame_site_now = test_host::read_bytes(0x53E981, 5);
    auto& os_state = os::stand_in::current();
    os_state.protect_calls.clear();

    injector::begin_unload(true);
    injector::run_teardowns();
    injector::forget_unload();

    EXPECT_TRUE(os_state.protect_calls.empty());
    EXPECT_EQ(os_state.paused_milliseconds, 0u);
    EXPECT_EQ(test_host::read_bytes(0x527A95, 5), aim_site_now);
    EXPECT_EQ(test_host::read_bytes(0x53E981, 5), frame_site_now);
    const std::vector<std::string> lines = log_lines();
    for (const char* line :
         {"unloading: the game is quitting, so the aim call at 0x527A95 is left as it is, leading "
          "to the game's own code",
          "unloading: the game is quitting, so the per-frame call at 0x53E981 is left as it is, "
          "leading to the game's own code"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    // What the game runs now is its own.
    frames->log.clear();
    frames->run_frame();
    EXPECT_EQ(frames->log, (std::vector<std::string>{"host"}));
}

TEST_F(ModuleLog, ReloadsLogEachRealChangeOnceWithItsTime) {
    tuned_file file;
    dir->write_settings(file.text());
    os::stand_in::current().milliseconds = 5000; // the game has run a while before the load
    load_module();
    const std::string path = os::stand_in::utf8(plugin::settings_file_path());

    const reload_step steps[] = {
        {"nothing edited", [](tuned_file&, const std::string&) {}, 3, {}},
        {"a value",
         [](tuned_file& f, const std::string& p) {
             f.value3 = "2.25";
             save(f, p);
         },
         2,
         {"line 3, an aim-camera value of the game: changed from 1.5 to 2.25  [0x8CC4B4]"}},
        {"weapon 22 and the default retuned, weapon 40 added",
         [](tuned_file& f, const std::string& p) {
             f.weapons = {"22 0.75 0.25 0.125", "-1 0.25 0 0.5", "40 0 0 2"};
             save(f, p);
         },
         2,
         {"line 16, weapon offset 1: weapon 22 changed from 0.5 0.25 0.125 to 0.75 0.25 0.125",
          "line 17, weapon offset 2: the default (-1) changed from 0.25 0 0 to 0.25 0 0.5",
          "line 18, weapon offset 3: weapon 40 added with offset 0 0 2"}},
        {"weapon 40 taken out of the file: it keeps its offset, nothing changes",
         [](tuned_file& f, const std::string& p) {
             f.weapons.pop_back();
             save(f, p);
         },
         2,
         {}},
        {"a row",
         [](tuned_file& f, const std::string& p) {
             f.row1 = "1 2 3 4 5 6 7.5";
             save(f, p);
         },
         1,
         {"line 12, aim row 1 of the game (7 values): changed from 1 2 3 4 5 6 7 to 1 2 3 4 5 6 "
          "7.5  [0x8CC4DC]"}},
        {"the file deleted",
         [](tuned_file&, const std::string& p) { std::remove(p.c_str()); },
         3,
         {"settings file: cannot be read now: not found; everything it set stays as it is until "
          "it can be read again"}},
        {"the file back, with a value changed while it was away",
         [](tuned_file& f, const std::string& p) {
             f.value3 = "3";
             save(f, p);
         },
         2,
         {"settings file: read again",
          "line 3, an aim-camera value of the game: changed from 2.25 to 3  [0x8CC4B4]"}},
        {"live reload switched off",
         [](tuned_file& f, const std::string& p) {
             f.reload = "0";
             save(f, p);
         },
         1,
         {"line 1, reload every frame (non-zero: on): changed from 1 to 0; this was the last read "
          "until the game loads corvane again"}},
        {"edits after that are not read",
         [](tuned_file& f, const std::string& p) {
             f.value3 = "9";
             save(f, p);
         },
         2,
         {}},
    };

    std::vector<std::string> expected = log_lines();
    for (const reload_step& step : steps) {
        SCOPED_TRACE(step.what);
        step.edit(file, path);
        for (int frame = 0; frame < step.frames; ++frame) {
            frames->run_frame();
            os::stand_in::current().milliseconds += 16;
        }
        expected.insert(expected.end(), step.new_lines.begin(), step.new_lines.end());
        EXPECT_EQ(log_lines(), expected);
    }
    // The first change came with the first frame after three unchanged ones, 48 ms after load.
    EXPECT_NE(log_text().find("\r\n[     0.048 s] line 3, an aim-camera value of the game: "
                              "changed from 1.5 to 2.25  [0x8CC4B4]\r\n"),
              std::string::npos);
}

TEST_F(ModuleLog, NamedLinesAreToldAtStartUpAndEachChangeOnce) {
    tuned_file file;
    file.named = {"key_toggle Q", "swing_ms 250", "key_mirorred M", "key_normal Z"};
    dir->write_settings(file.text());
    os::stand_in::current().gamepad_library_present = false; // as start-up finds it
    load_module();
    const std::string path = os::stand_in::utf8(plugin::settings_file_path());
    const std::vector<std::string> start = log_lines();
    const std::vector<std::string> told = {
        "line 34: 'key_mirorred' is not a setting corvane knows; the line sets nothing",
        "line 32: key_toggle Q: the key whose each press swaps between the two shoulders",
        "line 33: swing_ms 250: how many milliseconds the swing to the other shoulder takes (0: "
        "at once)",
    };
    for (const std::string& line : told)
        EXPECT_EQ(std::count(start.begin(), start.end(), line), 1) << line;
    EXPECT_EQ(std::count_if(start.begin(), start.end(),
                            [](const std::string& l) { return l.find("key_normal") != l.npos; }),
              0)
        << "a setting at its default is not told";

    const reload_step steps[] = {
        {"nothing edited", [](tuned_file&, const std::string&) {}, 3, {}},
        {"the toggle key changed",
         [](tuned_file& f, const std::string& p) {
             f.named[0] = "key_toggle E";
             save(f, p);
         },
         2,
         {"line 32, key_toggle: changed from Q to E"}},
        {"the swing taken out: the misspelt line moves up and is told again",
         [](tuned_file& f, const std::string& p) {
             f.named.erase(f.named.begin() + 1);
             save(f, p);
         },
         2,
         {"line 33: 'key_mirorred' is not a setting corvane knows; the line sets nothing",
          "swing_ms: changed from 250 back to 0, as no line sets it now"}},
        {"the name put right, a gamepad button added without a gamepad library",
         [](tuned_file& f, const std::string& p) {
             f.named[1] = "key_mirrored M";
             f.named.push_back("pad_toggle A");
             save(f, p);
         },
         3,
         {"line 33, key_mirrored: changed from X to M",
          "line 35, pad_toggle: changed from none to A",
          "pad_toggle: no gamepad support (XInput) could be loaded on this system, so the gamepad "
          "button does nothing; the keys work as set"}},
        {"a value out of range",
         [](tuned_file& f, const std::string& p) {
             f.named.push_back("mirror_factor -12");
             save(f, p);
         },
         3,
         {"line 36: mirror_factor: '-12' is outside -10 to 10; the line sets nothing"}},
        {"the toggle key made the normal aim's key too",
         [](tuned_file& f, const std::string& p) {
             f.named[0] = "key_toggle Z";
             save(f, p);
         },
         2,
         {"line 32, key_toggle: changed from E to Z",
          // The file's key_normal line (34, at its default) is the later of the two.
          "line 34: key_normal Z is also key_toggle: each press swaps, and then the held key "
          "chooses the normal aim, so the swap never reaches the other shoulder"}},
    };
    std::vector<std::string> expected = log_lines();
    for (const reload_step& step : steps) {
        SCOPED_TRACE(step.what);
        step.edit(file, path);
        for (int frame = 0; frame < step.frames; ++frame)
            frames->run_frame();
        expected.insert(expected.end(), step.new_lines.begin(), step.new_lines.end());
        EXPECT_EQ(log_lines(), expected);
    }
}

TEST_F(ModuleLog, AReloadThatChangesNothingWritesAndAllocatesNothing) {
    tuned_file file;
    dir->write_settings(file.text());
    load_module();
    frames->run_frame(); // the first reload
    // Room in the test doubles' records, so that only the module's allocations are counted.
    auto& os_state = os::stand_in::current();
    os_state.key_queries.reserve(64);
    os_state.protect_calls.reserve(256);
    os_state.flushes.reserve(64);
    aim->calls.vector_sets.reserve(64);
    frames->log.reserve(64);
    const std::string before = log_text();
    const int appends = os_state.appends;

    const std::uint64_t allocations = test_host::allocations_on_this_thread();
    for (int frame = 0; frame < 5; ++frame)
        frames->run_frame();
    EXPECT_EQ(test_host::allocations_on_this_thread() - allocations, 0u);
    EXPECT_EQ(os_state.appends, appends);
    EXPECT_EQ(log_text(), before);

    // The log was listening all along: the next real change is written.
    file.value3 = "2";
    dir->write_settings(file.text());
    frames->run_frame();
    EXPECT_EQ(log_lines().back(),
              "line 3, an aim-camera value of the game: changed from 1.5 to 2  [0x8CC4B4]");
}

// A folder whose name the ANSI code page cannot spell holds the settings and the log, and the log
// shows its name as it is, in UTF-8; reloading reads the file there too.
TEST_F(ModuleLog, AFolderNamedInAnyScriptHoldsTheSettingsAndTheLog) {
    auto& os_state = os::stand_in::current();
    const std::string module = os::stand_in::utf8(os_state.module_paths[os_state.plugin_module]);
    const std::string folder = module.substr(0, module.rfind('/') + 1) +
                               "\u0418\u0433\u0440\u044b \u6e38\u620f \U0001F3AF/";
    std::filesystem::create_directory(folder);
    struct remove_folder {
        std::string path;
        ~remove_folder() { std::filesystem::remove_all(path); }
    } removed{folder};
    os_state.module_paths[os_state.plugin_module] = os::stand_in::utf16(folder + "corvane.dll");
    tuned_file file;
    save(file, folder + "aimingSets.dat");

    load_module();
    frames->run_frame();
    file.value3 = "2.5";
    save(file, folder + "aimingSets.dat");
    frames->run_frame();

    ASSERT_EQ(os_state.files.count(folder + "corvane.log"), 1u);
    const std::vector<std::string> lines = lines_of(os_state.files.at(folder + "corvane.log"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "corvane 1.0.0, loaded from " + folder + "corvane.dll");
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "settings file " + folder + "aimingSets.dat: read"),
        lines.end());
    EXPECT_EQ(lines.back(),
              "line 3, an aim-camera value of the game: changed from 1.5 to 2.5  [0x8CC4B4]");
}

// --- the weapon in hand ------------------------------------------------------------------------

// One step of play: the weapon type in hand, how often the game aims with it, how many frames
// run, and the lines the log gains.
struct hand_step {
    std::int32_t type;
    int aims;
    int frames;
    std::vector<std::string> new_lines;
};

struct hand_case {
    const char* name;
    std::vector<std::string> weapons; // lines 16 on
    std::vector<hand_step> steps;
};

void PrintTo(const hand_case& c, std::ostream* out) {
    *out << c.name;
}

class WeaponInHand : public ModuleLog, public ::testing::WithParamInterface<hand_case> {};

TEST_P(WeaponInHand, IsLoggedOncePerChangeWithWhatCorvaneDoesForIt) {
    tuned_file file;
    file.weapons = GetParam().weapons;
    dir->write_settings(file.text());
    load_module();
    frames->run_frame();
    std::vector<std::string> expected = log_lines();
    int step_number = 0;
    for (const hand_step& step : GetParam().steps) {
        SCOPED_TRACE(::testing::Message() << "step " << ++step_number);
        aim->player.set_weapon(2, step.type);
        for (int i = 0; i < step.aims; ++i) {
            int object = 0;
            float target[3] = {};
            aim->call_aim_site(&object, target, 0, 0, 0);
        }
        for (int i = 0; i < step.frames; ++i)
            frames->run_frame();
        expected.insert(expected.end(), step.new_lines.begin(), step.new_lines.end());
        EXPECT_EQ(log_lines(), expected);
    }
}

const std::vector<std::string> with_default = {"22 0.5 0.25 0.125", "-1 0.25 0 1", "31 0 0 0"};

INSTANTIATE_TEST_SUITE_P(
    Cases, WeaponInHand,
    ::testing::Values(
        hand_case{"a_type_without_a_line_then_the_same_then_others",
                  with_default,
                  {{40,
                    1,
                    1,
                    {"aiming with weapon type 40: no line of its own: the default (-1) "
                     "from line 17 gives it 0.25 0 1"}},
                   {40, 3, 5, {}},
                   {40, 0, 3, {}},
                   {31,
                    2,
                    2,
                    {"aiming with weapon type 31: line 18 gives it 0 0 0, the game's "
                     "own aim"}},
                   {22, 1, 1, {"aiming with weapon type 22: line 16 gives it 0.5 0.25 0.125"}},
                   {40,
                    1,
                    1,
                    {"aiming with weapon type 40: no line of its own: the default (-1) "
                     "from line 17 gives it 0.25 0 1"}}}},
        hand_case{"no_line_and_no_default",
                  {"22 0.5 0.25 0.125"},
                  {{40,
                    1,
                    2,
                    {"aiming with weapon type 40: no line and no default: the game's "
                     "own aim"}}}},
        hand_case{"frames_without_an_aim_log_nothing", with_default, {{22, 0, 4, {}}}},
        // Two changes between frames: the frame logs the type in hand then, once.
        hand_case{"two_types_between_two_frames",
                  with_default,
                  {{31, 1, 0, {}},
                   {22, 1, 1, {"aiming with weapon type 22: line 16 gives it 0.5 0.25 0.125"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A reload that moves the weapon lines down (an empty line added above them): a weapon taken in
// hand afterwards is named by its line in the file as it is now, not by a line it held before.
TEST_F(ModuleLog, WeaponInHandAfterAReloadIsNamedByItsLineAsTheFileIsNow) {
    tuned_file file;
    file.weapons = {"22 0.5 0.25 0.125", "25 0.6 -0.3 0.2"};
    dir->write_settings(file.text());
    load_module();
    const auto aim_with = [&](std::int32_t type) {
        aim->player.set_weapon(2, type);
        int object = 0;
        float target[3] = {};
        aim->call_aim_site(&object, target, 0, 0, 0);
        frames->run_frame();
        return log_lines().back();
    };
    EXPECT_EQ(aim_with(25), "aiming with weapon type 25: line 17 gives it 0.6 -0.3 0.2");

    file.weapons.insert(file.weapons.begin(), "");
    save(file, os::stand_in::utf8(plugin::settings_file_path()));
    frames->run_frame(); // reads the file again

    EXPECT_EQ(aim_with(22), "aiming with weapon type 22: line 17 gives it 0.5 0.25 0.125");
    EXPECT_EQ(aim_with(25), "aiming with weapon type 25: line 18 gives it 0.6 -0.3 0.2");
}

// --- the log's own limits --------------------------------------------------------------------

const std::string limit_line = "corvane.log has reached its limit of 1 MiB: nothing more is "
                               "written to it until the game loads corvane again; corvane goes "
                               "on working";

TEST_F(ModuleLog, StopsBelowOneMebibyteWithOneLastLineAndStillEndsWithTheUnloadReport) {
    constexpr std::uint32_t site = 0x600000;
    const std::vector<std::uint8_t> own = {0xE8, 0x11, 0x22, 0x33, 0x44};
    const test_host::bytes_patch host_code(site, own);
    const std::string path = "/game/corvane.log";
    plugin::open_module_log(os::stand_in::utf16(path).c_str());
    plugin::note_call_site("aim call", site, site, own);
    const std::string text(100, 'a');
    for (int i = 0; i < 12000; ++i)
        plugin::log_line("%s %d", text.c_str(), i);

    auto& os_state = os::stand_in::current();
    const std::string& log = os_state.files.at(path);
    EXPECT_LE(log.size(), plugin::log_size_limit);
    EXPECT_GT(log.size(), plugin::log_size_limit - 2048) << "stopped well before the limit";
    const std::vector<std::string> lines = lines_of(log);
    ASSERT_GT(lines.size(), 2u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        ASSERT_EQ(lines[i], text + " " + std::to_string(i)) << "lines are written whole, in order";
    EXPECT_EQ(lines.back(), limit_line);

    const int appends = os_state.appends;
    plugin::log_line("after the limit");
    EXPECT_EQ(os_state.appends, appends);

    // What matters after a crash on exit is still written, in the room kept for it.
    injector::run_teardowns();
    const std::vector<std::string> end = lines_of(log);
    ASSERT_GE(end.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(end.end() - 3, end.end()),
              (std::vector<std::string>{
                  limit_line, "unloading: the aim call at 0x600000 has its own bytes back",
                  "corvane is unloaded; the values it wrote into the game stay until the game "
                  "restarts"}));
    EXPECT_LE(log.size(), plugin::log_size_limit);
    EXPECT_EQ(os_state.open_files(), 0);
}

// The room kept below the limit holds the longest ending: the limit's line and an unload report
// of four call sites at their longest, with the clock at its widest. Whatever length the last
// line that fits has, the finished log stays within the limit.
TEST_F(ModuleLog, NoLengthOfTheLastLineThatFitsTakesTheFinishedLogPastItsLimit) {
    constexpr std::uint32_t site = 0x600000;
    const std::vector<std::uint8_t> own = {0xE8, 0x11, 0x22, 0x33, 0x44};
    const test_host::bytes_patch host_code(site, own);
    const std::string path = "/game/corvane.log";
    const std::u16string wide_path = os::stand_in::utf16(path);
    const std::string what(300, 'w'); // makes every unload line longer than it may be
    const std::string filler(100, 'f');
    auto& os_state = os::stand_in::current();

    // A fresh log with four call sites noted and the clock past a million seconds.
    auto open = [&] {
        os_state.milliseconds = 0;
        plugin::open_module_log(wide_path.c_str());
        for (int i = 0; i < 4; ++i)
            plugin::note_call_site(what.c_str(), site, site, own);
        os_state.milliseconds = 4'000'000'000u;
    };
    // How many filler lines fit.
    open();
    int fillers = 0;
    while (plugin::module_log_open()) {
        plugin::log_line("%s", filler.c_str());
        ++fillers;
    }
    --fillers; // the last one did not fit
    injector::run_teardowns();

    int lengths_tried = 0;
    for (std::size_t length = 0;; ++length) {
        open();
        for (int i = 0; i < fillers; ++i)
            plugin::log_line("%s", filler.c_str());
        plugin::log_line("%s", std::string(length, 'l').c_str());
        if (!plugin::module_log_open()) {
            injector::run_teardowns();
            break; // this length no longer fits
        }
        plugin::log_line("%s", filler.c_str()); // one line too many
        ASSERT_FALSE(plugin::module_log_open());
        injector::run_teardowns();
        ++lengths_tried;

        const std::string& log = os_state.files.at(path);
        ASSERT_LE(log.size(), plugin::log_size_limit) << "last line of " << length << " characters";
        const std::string ending = "corvane is unloaded; the values it wrote into the game stay "
                                   "until the game restarts\r\n";
        ASSERT_EQ(log.compare(log.size() - ending.size(), ending.size(), ending), 0)
            << "last line of " << length << " characters";
    }
    EXPECT_GT(lengths_tried, 0);
}

// A site that does not hold its own bytes at unload: left to a plug-in that changed it after
// corvane, or still calling the resident jump corvane leaves behind, which leads to the game.
TEST_F(ModuleLog, UnloadSaysWhatACallSiteWithoutItsOwnBytesLeadsTo) {
    constexpr std::uint32_t site = 0x600000;
    const std::vector<std::uint8_t> own = {0xE8, 0x11, 0x22, 0x33, 0x44};
    const test_host::bytes_patch host_code(site, own);
    const std::string path = "/game/corvane.log";
    plugin::open_module_log(os::stand_in::utf16(path).c_str());
    plugin::note_call_site("test call", site, site, own);
    plugin::note_call_site("left call", site + 5, site + 5, own);

    // The first site: another plug-in's call. The second: a jump that no module uses any more,
    // as corvane leaves it behind when the site's bytes cannot be written back.
    const test_host::bytes_patch other_plugin(site, {0xE8, 0xAA, 0xBB, 0xCC, 0xDD});
    const test_host::bytes_patch second_site(site + 5, own);
    injector::resident_call left;
    ASSERT_EQ(left.attach(site + 5, 0x7E0000), injector::patch_status::done);
    injector::scoped_call after;
    ASSERT_EQ(after.attach(site + 5, 0x7E0010), injector::patch_status::done);
    ASSERT_EQ(left.release(), injector::patch_status::done);        // left to `after`
    ASSERT_EQ(after.restore_bytes(), injector::patch_status::done); // calls the left jump again

    injector::run_teardowns();

    const std::vector<std::string> lines = lines_of(os::stand_in::current().files.at(path));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "unloading: the test call at 0x600000 was left to another plug-in that "
                        "changed it after corvane (it holds E8 AA BB CC DD, not its own E8 11 22 "
                        "33 44)");
    EXPECT_EQ(lines[1], "unloading: the left call at 0x600005 could not get its own bytes back; "
                        "it now leads straight to the game's own code");
}

// Everything a session shows of the module from outside, but its log.
struct session_record {
    std::vector<std::uint8_t> host_data; // the aim values and rows
    float code_constant = 0;
    std::vector<std::vector<std::uint8_t>> sites; // aim, per-frame: after load, after unload
    std::vector<std::string> aims;                // what the aim hook handed the transform
    std::vector<os::stand_in::protect_call> protect_calls;
    std::vector<os::stand_in::flush_call> flushes;
    std::vector<int> key_queries;
    std::size_t error_boxes = 0;
};

// A log that cannot be created, or whose disk fills after its first lines.
struct broken_log_case {
    const char* name;
    std::function<void(os::stand_in::state&)> break_it;
};

void PrintTo(const broken_log_case& c, std::ostream* out) {
    *out << c.name;
}

class BrokenLog : public ModuleLog, public ::testing::WithParamInterface<broken_log_case> {
  protected:
    // Loads the module, runs frames with X down and a live edit, aims, and unloads.
    // Both sessions run in one game process: the second finds the resident jumps the first left,
    // so the calls lead to the same places.
    session_record run_session(const std::function<void(os::stand_in::state&)>& set_up) {
        auto left_behind = os::stand_in::current().code_memory;
        lay_out(test_host::build_1001);
        auto& os_state = os::stand_in::current();
        os_state.code_memory = std::move(left_behind);
        set_up(os_state);
        tuned_file file;
        dir->write_settings(file.text());
        aim->player.set_weapon(1, 22);
        session_record record;
        auto note_aim = [&] {
            int object = 0;
            float target[3] = {};
            aim->calls = {};
            aim->call_aim_site(&object, target, 0, 0, 0);
            std::string seen;
            for (const auto& call : aim->calls.transforms)
                seen += std::to_string(call.offset[0]) + " " + std::to_string(call.offset[1]) +
                        " " + std::to_string(call.offset[2]);
            record.aims.push_back(seen);
        };

        load_module();
        record.sites.push_back(test_host::read_bytes(0x527A95, 5));
        record.sites.push_back(test_host::read_bytes(0x53E981, 5));
        note_aim();
        os_state.keys_down = {plugin::key_x};
        frames->run_frame();
        note_aim();
        file.weapons = {"22 2 0 0", "-1 1 1 1"};
        file.value3 = "8.5";
        dir->write_settings(file.text());
        frames->run_frame();
        note_aim();
        test_host::reset_module();
        record.sites.push_back(test_host::read_bytes(0x527A95, 5));
        record.sites.push_back(test_host::read_bytes(0x53E981, 5));

        record.host_data = test_host::read_bytes(0x8CC4A0, 0x8CC530 - 0x8CC4A0);
        record.code_constant = test_host::read<float>(0x521632);
        record.protect_calls = os_state.protect_calls;
        // The game's code only: the first session lays corvane's resident code, the second uses
        // it again.
        for (const auto& flush : os_state.flushes)
            if (flush.address < test_host::code_end) record.flushes.push_back(flush);
        record.key_queries = os_state.key_queries;
        record.error_boxes = os_state.error_boxes.size();
        return record;
    }
};

TEST_P(BrokenLog, ChangesNothingElse) {
    const session_record with_log = run_session([](os::stand_in::state&) {});
    ASSERT_NE(with_log.aims.back(), "") << "the session must move the aim to show anything";
    const session_record broken = run_session(GetParam().break_it);

    EXPECT_EQ(broken.host_data, with_log.host_data);
    EXPECT_EQ(broken.code_constant, with_log.code_constant);
    EXPECT_EQ(broken.sites, with_log.sites);
    EXPECT_EQ(broken.aims, with_log.aims);
    EXPECT_EQ(broken.protect_calls, with_log.protect_calls);
    EXPECT_EQ(broken.flushes, with_log.flushes);
    EXPECT_EQ(broken.key_queries, with_log.key_queries);
    EXPECT_EQ(broken.error_boxes, with_log.error_boxes);
    EXPECT_EQ(os::stand_in::current().open_files(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenLog,
    ::testing::Values(broken_log_case{"cannot_be_created",
                                      [](os::stand_in::state& s) { s.refuse_files = true; }},
                      broken_log_case{"disk_fills_after_its_first_lines",
                                      [](os::stand_in::state& s) { s.full_at = 200; }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
