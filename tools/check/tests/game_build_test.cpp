// Telling the game's build from its executable on disk: small programs written by the test, with
// the build's bytes where the module looks for them in memory, and the ways a file cannot tell.
#include "tools/check/files/game_build.h"

#include "tools/check/settings_check.h"
#include "tools/check/tests/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace check_test;
using check::build_verdict;
using check::unanswered_reason;

// One data section over every upper probe (0x8245BC to 0x858D51), with these values in it.
test_section upper_probes_with(std::vector<std::pair<std::uint32_t, std::uint32_t>> values) {
    return {0x424000, 0x36000, 0x36000, data_section, std::move(values)};
}

// The section of the game's code that holds its aim call site (0x527A95), with these five bytes
// there.
test_section aim_site_with(std::vector<std::uint8_t> bytes) {
    const std::uint32_t first =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
    return {0x127000, 0x1000, 0x1000, code_section, {{0x527A95, first}, {0x527A99, bytes[4]}}};
}
// The call the builds corvane knows hold there: a CALL of the aim camera at 0x521500.
const std::vector<std::uint8_t> known_aim_call = {0xE8, 0x66, 0x9A, 0xFF, 0xFF};
const std::vector<std::uint8_t> other_aim_code = {0x8B, 0x45, 0x08, 0x89, 0xC1};

using game_build_files = test_folder;

struct build_case {
    const char* name;
    std::string bytes;
    build_verdict verdict;
    std::int32_t code;           // 0 unless recognised
    unanswered_reason reason;    // none unless cannot tell
    std::uint32_t probe_address; // the probe that matched or could not be answered
    const char* says;            // a piece of the words for players
};

std::vector<build_case> build_cases() {
    return {
        {"build_1001", program_bytes({{code_with(value_1001)}}), build_verdict::keys_and_reload,
         1001, unanswered_reason::none, 0x401000,
         "build 1001: the keys and live reload work on this build."},
        {"build_1002", program_bytes({{code_with(value_1002)}}), build_verdict::keys_and_reload,
         1002, unanswered_reason::none, 0x401000, "build 1002"},
        {"build_1011_known_without_keys",
         program_bytes({{code_with(other_code), upper_probes_with({{0x8245BC, value_11xx}})}}),
         build_verdict::settings_only, 1011, unanswered_reason::none, 0x8245BC,
         "build 1011: the keys, live reload and the tune keys work while you aim: corvane does "
         "their work when the game aims, not on every frame."},
        {"build_3210_the_last_probe",
         program_bytes({{code_with(other_code), upper_probes_with({{0x858C61, value_32xx}})}}),
         build_verdict::settings_only, 3210, unanswered_reason::none, 0x858C61, "build 3210"},
        {"the_first_probe_that_matches_wins",
         program_bytes({{code_with(value_1001), upper_probes_with({{0x8245BC, value_11xx}})}}),
         build_verdict::keys_and_reload, 1001, unanswered_reason::none, 0x401000, "build 1001"},
        {"code_the_program_rewrites_holding_a_known_build",
         program_bytes({{code_with(value_1002, rewritten_code)}}), build_verdict::keys_and_reload,
         1002, unanswered_reason::none, 0x401000, "build 1002"},
        {"code_the_program_rewrites_then_a_probe_beyond_every_section",
         program_bytes({{code_with(other_code, rewritten_code)}}), build_verdict::cannot_tell, 0,
         unanswered_reason::filled_when_run, 0x401000, "packed or protected"},
        {"unknown_build", program_bytes({{code_with(other_code), upper_probes_with({})}}),
         build_verdict::not_recognised, 0, unanswered_reason::none, 0,
         "a build the module does not recognise: the keys, live reload and the tune keys work "
         "while you aim: corvane does their work when the game aims, not on every frame.  "
         "[0x401000: FF 55 8B EC]"},
        // On a build other than 1001 and 1002, the aim call decides whether corvane changes the
        // game at all.
        {"build_1011_with_the_known_aim_call",
         program_bytes({{code_with(other_code), aim_site_with(known_aim_call),
                         upper_probes_with({{0x8245BC, value_11xx}})}}),
         build_verdict::settings_only, 1011, unanswered_reason::none, 0x8245BC,
         "build 1011: the keys, live reload and the tune keys work while you aim: corvane does "
         "their work when the game aims, not on every frame.  [0x8245BC]\n"},
        {"build_1011_with_other_code_at_the_aim_call",
         program_bytes({{code_with(other_code), aim_site_with(other_aim_code),
                         upper_probes_with({{0x8245BC, value_11xx}})}}),
         build_verdict::settings_only, 1011, unanswered_reason::none, 0x8245BC,
         "build 1011: this game build is not one corvane knows, so corvane will change nothing in "
         "this game.  [0x8245BC; 0x527A95: 8B 45 08 89 C1]"},
        {"unknown_build_jumping_where_the_aim_call_is",
         program_bytes({{code_with(other_code), aim_site_with({0xE9, 0x66, 0x9A, 0xFF, 0xFF}),
                         upper_probes_with({})}}),
         build_verdict::not_recognised, 0, unanswered_reason::none, 0,
         "a build the module does not recognise: this game build is not one corvane knows, so "
         "corvane will change nothing in this game.  [0x401000: FF 55 8B EC; 0x527A95: E9 66 9A "
         "FF FF]"},
        {"build_1001_whatever_its_aim_call_holds",
         program_bytes({{code_with(value_1001), aim_site_with(other_aim_code)}}),
         build_verdict::keys_and_reload, 1001, unanswered_reason::none, 0x401000,
         "build 1001: the keys and live reload work on this build.  [0x401000]\n"},
        {"not_an_executable", "reload_every_frame 0\nnot a program at all\n",
         build_verdict::cannot_tell, 0, unanswered_reason::not_a_program, 0,
         "cannot tell which build this is: it is not a Windows program."},
        {"dos_header_pointing_past_the_file",
         [] {
             std::string dos(64, '\0');
             dos[0] = 'M';
             dos[1] = 'Z';
             put(dos, 0x3C, 0x1000);
             return dos;
         }(),
         build_verdict::cannot_tell, 0, unanswered_reason::not_a_program, 0,
         "not a Windows program"},
        {"a_64_bit_program",
         [] {
             test_program p{{code_with(value_1001)}};
             p.machine = 0x8664;
             p.optional_magic = 0x20B;
             return program_bytes(p);
         }(),
         build_verdict::cannot_tell, 0, unanswered_reason::not_32_bit, 0, "not a 32-bit"},
        {"packed_code_filled_in_when_run",
         program_bytes({{{0x1000, 0x2000, 0, rewritten_code}, {0x3000, 0x1000, 0x200}}}),
         build_verdict::cannot_tell, 0, unanswered_reason::filled_when_run, 0x401000,
         "filled in only when the game runs (a packed or protected executable).  [0x401000]"},
        {"code_the_program_rewrites_that_does_not_match_yet",
         program_bytes({{code_with(other_code, rewritten_code), upper_probes_with({})}}),
         build_verdict::cannot_tell, 0, unanswered_reason::filled_when_run, 0x401000,
         "packed or protected"},
        {"probe_beyond_every_section", program_bytes({{code_with(other_code)}}),
         build_verdict::cannot_tell, 0, unanswered_reason::outside_the_image, 0x8245BC,
         "may not be the game's executable.  [0x8245BC]"},
        {"probe_in_a_section_the_file_ends_before",
         [] {
             test_program p{{code_with(value_1001)}};
             p.cut_to = 0x402; // the section table says 0x400 bytes from 0x400 on
             return program_bytes(p);
         }(),
         build_verdict::cannot_tell, 0, unanswered_reason::cut_short, 0x401000,
         "the file is cut short"},
        {"section_table_past_the_end_of_the_file",
         [] {
             test_program p{{code_with(value_1001)}};
             p.cut_to = 0x180;
             return program_bytes(p);
         }(),
         build_verdict::cannot_tell, 0, unanswered_reason::cut_short, 0, "cut short"},
        {"probe_in_the_last_four_bytes_a_section_holds",
         program_bytes({{code_with(other_code),
                         {0x424000, 0x1000, 0x5C0, data_section, {{0x8245BC, value_11xx}}}}}),
         build_verdict::settings_only, 1011, unanswered_reason::none, 0x8245BC, "build 1011"},
        {"probe_across_the_end_of_a_sections_file_bytes",
         program_bytes({{code_with(other_code), {0x424000, 0x1000, 0x5BE, data_section}}}),
         build_verdict::cannot_tell, 0, unanswered_reason::filled_when_run, 0x8245BC,
         "packed or protected"},
        {"probe_just_past_the_end_of_the_image",
         program_bytes({{code_with(other_code), {0x424000, 0x5BC, 0x5BC, data_section}}}),
         build_verdict::cannot_tell, 0, unanswered_reason::outside_the_image, 0x8245BC,
         "nothing where the game keeps"},
        {"a_build_value_one_byte_off_does_not_count",
         program_bytes({{code_with(other_code), upper_probes_with({{0x8245BD, value_11xx}})}}),
         build_verdict::not_recognised, 0, unanswered_reason::none, 0, "does not recognise"},
    };
}

TEST_F(game_build_files, tells_the_build_from_the_bytes_the_module_reads) {
    for (const build_case& c : build_cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.bytes);
        const check::game_build build = check::identify_game_build(path);
        EXPECT_EQ(build.verdict, c.verdict);
        EXPECT_EQ(build.code, c.code);
        EXPECT_EQ(build.reason, c.reason);
        EXPECT_EQ(build.probe_address, c.probe_address);
        const std::string text = check::game_build_text(build);
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(text.rfind("game: " + path + "\n  ", 0), 0u) << text;
    }
}

// A program that Windows may move (its dynamic-base flag and relocations to move it with) gets a
// note: where it is moved, corvane changes nothing. Either part alone cannot move it.
TEST_F(game_build_files, a_program_windows_may_move_gets_a_note) {
    struct move_case {
        bool dynamic_base;
        std::uint32_t relocations_size;
        bool note;
    };
    for (const move_case c : {move_case{true, 0x200, true}, move_case{true, 0, false},
                              move_case{false, 0x200, false}}) {
        SCOPED_TRACE(std::to_string(c.dynamic_base) + " " + std::to_string(c.relocations_size));
        test_program program{{code_with(value_1001)}};
        program.dynamic_base = c.dynamic_base;
        program.relocations_size = c.relocations_size;
        const check::game_build build = check::identify_game_build(write(program_bytes(program)));
        EXPECT_EQ(build.code, 1001);
        EXPECT_EQ(build.can_move, c.note);
        const std::string text = check::game_build_text(build);
        EXPECT_EQ(text.find("another place in memory") != std::string::npos, c.note) << text;
    }
}

// The JSON's game entry says whether corvane will change anything in that game and whether its
// keys work there, not only which build it is: null where the program cannot tell.
TEST_F(game_build_files, json_says_whether_corvane_changes_the_game) {
    using json = nlohmann::json;
    // changes_game, keys_and_reload (on every build corvane changes), keys_every_frame
    const std::map<std::string, std::array<json, 3>> expected = {
        {"build_1001", {true, true, true}},
        {"build_1011_with_the_known_aim_call", {true, true, false}},
        {"build_1011_with_other_code_at_the_aim_call", {false, false, false}},
        {"unknown_build_jumping_where_the_aim_call_is", {false, false, false}},
        {"build_1001_whatever_its_aim_call_holds", {true, true, true}},
        {"probe_beyond_every_section", {nullptr, nullptr, nullptr}},
    };
    int seen = 0;
    for (const build_case& c : build_cases()) {
        const auto want = expected.find(c.name);
        if (want == expected.end()) continue;
        SCOPED_TRACE(c.name);
        ++seen;
        const check::game_build build = check::identify_game_build(write(c.bytes));
        const json game = json::parse(check::json_report({}, {build}))["games"][0];
        EXPECT_EQ(game["changes_game"], want->second[0]) << game;
        EXPECT_EQ(game["keys_and_reload"], want->second[1]) << game;
        EXPECT_EQ(game["keys_every_frame"], want->second[2]) << game;
        EXPECT_EQ(game["may_be_moved"], false) << game;
    }
    EXPECT_EQ(seen, static_cast<int>(expected.size()));
}

TEST_F(game_build_files, never_changes_the_file) {
    const std::string bytes = program_bytes({{code_with(value_1001)}});
    const std::string path = write(bytes);
    const auto written = fs::last_write_time(path);
    ASSERT_EQ(check::identify_game_build(path).code, 1001);
    EXPECT_EQ(read(path), bytes);
    EXPECT_EQ(fs::last_write_time(path), written);
}

TEST_F(game_build_files, a_file_that_is_not_there_or_is_a_folder_cannot_tell) {
    fs::create_directory(dir_ / "folder.exe");
    for (const char* name : {"missing.exe", "folder.exe"}) {
        SCOPED_TRACE(name);
        const check::game_build build = check::identify_game_build((dir_ / name).string());
        EXPECT_EQ(build.verdict, build_verdict::cannot_tell);
        EXPECT_NE(build.reason, unanswered_reason::none);
        EXPECT_NE(check::game_build_text(build).find("cannot tell which build"), std::string::npos);
    }
}

} // namespace
