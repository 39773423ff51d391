// corvane-check: what it reports for small settings files, its exit status, and its three outputs.
#include "tools/check/settings_check.h"

#include "settings_bytes.h"

#include "corvane/version.h"
#include "platform/os_stand_in.h"
#include "tools/check/check_text.h"
#include "tools/check/files/files_beside.h"
#include "tools/check/files/virtual_store.h"
#include "tools/check/tests/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace {

using namespace check_test;
using check::warning_code;

// The starter file as its 31 lines, with numbers after the labels of lines 3 to 14 (the starter
// leaves those to the game), which the cases below edit one line at a time.
std::vector<std::string> template_lines() {
    const std::pair<int, const char*> numbers[] = {
        {3, "1.6"},
        {4, "0.55"},
        {5, "0.3"},
        {6, "0.35"},
        {7, "0.8"},
        {8, "6.0"},
        {9, "8.0"},
        {11, "1.0 0.9 0.8 0.0 0.0 1.2 0.25"},
        {12, "1.0 0.85 0.7 0.05 0.0 1.1 0.25"},
        {13, "1.0 0.8 0.6 0.1 0.0 1.0 0.2"},
        {14, "1.0 0.75 0.5 0.15 0.0 0.9 0.2"},
    };
    std::vector<std::string> lines;
    std::istringstream in(check::settings_template());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    lines.resize(plugin::settings_line_count); // its commented named lines follow
    for (const auto& [line, text] : numbers)
        lines.at(line - 1) += std::string(" ") + text;
    return lines;
}

// The starter file itself, as --template writes it.
std::string starter_file() {
    return check::settings_template();
}

// Line `number` of the starter file as it is: what a hint offers to paste back.
std::string starter_line(int number) {
    std::istringstream in(check::settings_template());
    std::string line;
    for (int n = 0; n < number; ++n)
        std::getline(in, line);
    return line;
}

std::string join(const std::vector<std::string>& lines, const char* end = "\n") {
    std::string text;
    for (const std::string& line : lines)
        text += line + end;
    return text;
}

// Text as one line, each run of blanks and line ends as one blank: a sentence is found however
// the report wrapped it to fit the window.
std::string flat(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (!blank)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    return out;
}

class check_files : public test_folder {
  protected:
    check::check_result check(const std::string& content) {
        return check::check_settings_file(write(content));
    }
};

struct expected_warning {
    int line;
    warning_code code;
    const char* says;                                  // a piece of the message
    check::named_code named = check::named_code::none; // a named line's finding instead of `code`
};

struct file_case {
    const char* name;
    std::string content;
    std::vector<expected_warning> warnings;   // exactly these, in this order
    std::vector<expected_warning> notes = {}; // exactly these: what the player did on purpose
};

std::string edited(std::vector<std::pair<int, std::string>> edits) {
    std::vector<std::string> lines = template_lines();
    for (const auto& [line, text] : edits)
        lines.at(line - 1) = text;
    return join(lines);
}

std::string first_lines(int count) {
    std::vector<std::string> lines = template_lines();
    lines.resize(count);
    return join(lines);
}

std::string without_lines(int first, int count = 1) {
    std::vector<std::string> lines = template_lines();
    lines.erase(lines.begin() + (first - 1), lines.begin() + (first - 1 + count));
    return join(lines);
}

std::string with_line_after(int line, const std::string& text) {
    std::vector<std::string> lines = template_lines();
    lines.insert(lines.begin() + line, text);
    return join(lines);
}

void PrintTo(const file_case& c, std::ostream* os) {
    *os << c.name;
}

std::vector<file_case> file_cases() {
    const std::string long_tail(600, 'x');
    return {
        {"starter_file",
         starter_file(),
         {},
         {{3, warning_code::value_left_alone, "the game keeps its own value"},
          {4, warning_code::value_left_alone, "the game keeps its own value"},
          {5, warning_code::value_left_alone, "the game's aim-camera code keeps its own value"},
          {6, warning_code::value_left_alone, "the game keeps its own value"},
          {7, warning_code::value_left_alone, "the game keeps its own value"},
          {8, warning_code::value_left_alone, "the game keeps its own value"},
          {9, warning_code::value_left_alone, "the game keeps its own value"},
          {11, warning_code::value_left_alone, "the row stays as the game has it"},
          {12, warning_code::value_left_alone, "the row stays as the game has it"},
          {13, warning_code::value_left_alone, "the row stays as the game has it"},
          {14, warning_code::value_left_alone, "the row stays as the game has it"}}},
        {"every_value_given", join(template_lines()), {}},
        {"every_value_given_with_crlf", join(template_lines(), "\r\n"), {}},
        {"number_taken_as_label",
         edited({{3, "0.5"}}),
         {{3, warning_code::number_as_label, "'0.5', is a number"}}},
        // Glued to the label or to each other, values are read as part of a word: never a note
        // that the game keeps its own value.
        {"value_glued_to_its_label",
         edited({{4, "aim_value_8CC4B8=2.5"}}),
         {{4, warning_code::values_joined,
           "'=' stands where a blank belongs, so corvane reads no value from this line"}}},
        {"row_glued_to_its_label_as_a_list",
         edited({{12, "aim_row_1_8CC4DC:1,2,3,4,5,6,7"}}),
         {{12, warning_code::values_joined, "Written as 'aim_row_1_8CC4DC 1 2 3 4 5 6 7'"}}},
        {"row_glued_with_a_number_in_the_label",
         edited({{12, "aim_row_1_8CC4DC:1 2 3 4 5 6 7"}}),
         {{12, warning_code::values_joined, "only 6 of the 7 values"}}},
        {"value_after_an_equals_sign",
         edited({{3, "aim_value_8CC4B4 = 1.5"}}),
         {{3, warning_code::values_joined, "Written as 'aim_value_8CC4B4 1.5'"}}},
        {"reload_flag_glued",
         edited({{1, "reload_every_frame:0"}}),
         {{1, warning_code::values_joined, "':' stands where a blank belongs"}}},
        {"weapon_numbers_joined_by_commas",
         edited({{17, "22, 0.5, 0.2, 0.1"}}),
         {{17, warning_code::values_joined, "only 1 of the 4 fields and makes no entry"}}},
        {"a_label_ending_in_a_colon_reads_its_value", edited({{3, "aim_value_8CC4B4: 1.5"}}), {}},
        {"a_row_label_holding_a_colon_and_seven_values", edited({{12, "row:1 1 2 3 4 5 6 7"}}), {}},
        {"number_as_label_shifts_the_values",
         edited({{11, "1 2 3 4 5 6 7"}}),
         {{11, warning_code::number_as_label, "taken from the next word on"},
          {11, warning_code::missing_values, "value 7 of row 0 stays as the game has it"}}},
        {"label_with_a_blank",
         edited({{4, "aim height 0.5"}}),
         {{4, warning_code::missing_values, "the game keeps its own value"}}},
        {"row_with_three_values",
         edited({{12, "row1 1 2 3"}}),
         {{12, warning_code::missing_values, "values 4 to 7 of row 1 stay as the game has them"}}},
        {"code_constant_without_value",
         edited({{5, "aim_code_constant_521632"}}),
         {},
         {{5, warning_code::value_left_alone, "the game's aim-camera code keeps its own value"}}},
        {"host_value_left_alone",
         edited({{7, "fov   "}}),
         {},
         {{7, warning_code::value_left_alone,
           "no number after the label: the game keeps its own value"}}},
        {"row_label_alone_leaves_the_games_row",
         edited({{13, "aim_row_2"}}),
         {},
         {{13, warning_code::value_left_alone, "the row stays as the game has it"}}},
        {"row_label_then_a_word",
         edited({{13, "aim row 2"}}),
         {{13, warning_code::missing_values, "the row stays as the game has it"}}},
        {"decimal_comma",
         edited({{6, "value 1,5"}}),
         {{6, warning_code::partly_read, "'1,5' is read as 1; the rest, ',5', is ignored"}}},
        {"number_with_two_points_feeds_the_next_value",
         edited({{13, "row2 1.5.5 2 3 4 5 6"}}),
         {{13, warning_code::partly_read, "the rest, '.5', is read as the next value"}}},
        {"infinite_and_nan",
         edited({{7, "value inf"}, {8, "value 1e99"}, {18, "23 nan 0 0"}}),
         {{7, warning_code::not_finite, "infinite"},
          {8, warning_code::not_finite, "too large to store"},
          {18, warning_code::not_finite, "aim point cannot be computed"}}},
        // A sideways part that only the other shoulder's factor (-3) takes past the largest float.
        {"other_shoulder_beyond_any_number",
         edited({{18, "23 3e38 0 0"}}),
         {{18, warning_code::not_finite,
           "3e+38 times the other shoulder's factor -3 is too large to store (-inf): the aim "
           "point cannot be computed on the other shoulder"}}},
        {"other_shoulder_just_within", edited({{18, "23 1e38 0 0"}}), {}},
        {"reload_every_frame",
         edited({{1, "reload 1"}}),
         {},
         {{1, warning_code::reload_every_frame, "reads this file again on every frame"}}},
        // corvane reloads on any value but 0, so a negative one turns reloading on as well.
        {"reload_every_frame_negative",
         edited({{1, "reload_every_frame -1"}}),
         {},
         {{1, warning_code::reload_every_frame, "is on (-1)"}}},
        {"reload_every_frame_zero_is_off", edited({{1, "reload_every_frame 0"}}), {}},
        {"reload_flag_not_whole",
         edited({{1, "reload 0.5"}}),
         {{1, warning_code::partly_read, "'0.5' is read as 0"}}},
        {"weapon_line_two_numbers",
         edited({{20, "24 0.5 0.2"}}),
         {{20, warning_code::weapon_incomplete, "3 of the 4 fields"}}},
        {"weapon_line_with_label",
         edited({{20, "pistol 24 0.5 0.2 0.1"}}),
         {{20, warning_code::weapon_incomplete, "no weapon type"}}},
        {"weapon_type_given_twice",
         edited({{20, "22 1 1 1"}}),
         {{20, warning_code::weapon_duplicate, "already given on line 17"}}},
        {"default_given_twice",
         edited({{20, "-1 1 1 1"}}),
         {{20, warning_code::weapon_duplicate, "the default (-1) was already given on line 16"}}},
        {"octal_weapon_type",
         edited({{20, "010 1 1 1"}}),
         {{20, warning_code::weapon_type_spelling, "'010' is read as weapon type 8, not 10"}}},
        {"octal_type_equal_in_decimal_is_fine", edited({{20, "007 1 1 1"}}), {}},
        {"hexadecimal_weapon_type_repeats_22",
         edited({{20, "0x16 1 1 1"}}),
         {{20, warning_code::weapon_duplicate, "line 17"}},
         {{20, warning_code::weapon_type_hexadecimal, "0x16 is weapon type 22"}}},
        {"weapon_type_beyond_32_bits",
         edited({{20, "0xFFFFFFFF 1 1 1"}}),
         {{20, warning_code::weapon_type_spelling, "is read as 2147483647"}}},
        {"weapon_type_cut_short",
         edited({{20, "08 1 2 3"}}),
         {{20, warning_code::weapon_type_spelling, "'08' is read as weapon type 0"}}},
        {"ends_in_the_weapon_lines",
         first_lines(19),
         {},
         {{20, warning_code::past_end, "ends after line 19: lines 20 to 31 set nothing"}}},
        {"ends_before_the_weapon_lines",
         first_lines(15),
         {},
         {{16, warning_code::past_end, "no weapon entries from those lines"}}},
        {"ends_in_the_rows",
         first_lines(13),
         {{14, warning_code::past_end, "aim rows without a line stay as the game has them"}}},
        {"ends_after_line_9",
         first_lines(9),
         {{10, warning_code::past_end,
           "lines 10 to 31 set nothing; the aim rows without a line stay as the game has them"}}},
        {"empty_file", "", {{1, warning_code::past_end, "the file is empty"}}},
        {"line_too_long_keeps_later_lines_in_place",
         edited({{3, "value 2.5 " + long_tail}}),
         {{3, warning_code::overlong_line, "longer than 511"}}},
        {"line_of_511_characters_is_fine", edited({{3, "value 2.5 " + std::string(501, 'x')}}), {}},
        {"crlf_line_of_511_characters_is_fine",
         [] {
             std::vector<std::string> lines = template_lines();
             lines[2] = "value 2.5 " + std::string(501, 'x');
             return join(lines, "\r\n");
         }(),
         {}},
        {"weapon_line_after_line_31",
         first_lines(31) + "\n40 1 1 1\n",
         {{33, {}, "'40' is not a setting corvane knows", check::named_code::unknown_name}}},
        {"blank_lines_after_line_31_are_fine", join(template_lines()) + "\n \n", {}},
        {"byte_order_mark",
         "\xEF\xBB\xBF" + join(template_lines()),
         {},
         {{1, warning_code::byte_order_mark, "a mark some editors put at the start"}}},
        {"byte_order_mark_before_a_number",
         "\xEF\xBB\xBF" + edited({{1, "1"}}),
         {{1, warning_code::number_as_label, "'1', is a number"}},
         {{1, warning_code::byte_order_mark, "a mark some editors put at the start"}}},
        {"utf16_file_reads_as_its_text",
         test_text::spelled(join(template_lines()), test_text::spelling::utf16_le, "\r\n"),
         {},
         {{1, warning_code::utf16_file, "reads the text it holds"}}},
        {"utf16_big_endian_file",
         test_text::spelled(join(template_lines()), test_text::spelling::utf16_be, "\n"),
         {},
         {{1, warning_code::utf16_file, "big-endian"}}},
        {"utf16_file_of_one_line_is_said_once",
         test_text::utf16_file(u"reload 1", true),
         {{2, warning_code::past_end, "the file ends after line 1"}},
         {{1, warning_code::utf16_file, "UTF-16"},
          {1, warning_code::reload_every_frame, "reloading every frame is on"}}},
        {"utf16_mark_alone",
         test_text::utf16_file(u"", true),
         {{1, warning_code::past_end, "the file is empty"}},
         {{1, warning_code::utf16_file, "UTF-16"}}},
        {"line_2_deleted",
         without_lines(2),
         {{2, warning_code::line_shifted,
           "line 2 holds what the starter file puts on line 3: a line seems to be missing above"},
          {9, warning_code::missing_values, "(likely because of the missing line above line 2)"},
          {14, warning_code::missing_values, "(likely because of the missing line above line 2)"}},
         {{31, warning_code::past_end, "ends after line 30"}}},
        {"the_line_that_shows_the_shift_has_a_warning_of_its_own",
         without_lines(9),
         {{9, warning_code::line_shifted, "line 9 holds what the starter file puts on line 10"},
          {9, warning_code::missing_values, "(likely because of the missing line above line 9)"},
          {14, warning_code::missing_values, "(likely because of the missing line above line 9)"}},
         {{31, warning_code::past_end, "ends after line 30"}}},
        {"two_lines_deleted",
         without_lines(3, 2),
         {{3, warning_code::line_shifted,
           "line 3 holds what the starter file puts on line 5: 2 lines seem to be missing above"},
          {8, warning_code::missing_values, "missing lines above line 3"},
          {13, warning_code::missing_values, "missing lines above line 3"},
          {14, warning_code::number_as_label, "missing lines above line 3"},
          {14, warning_code::missing_values, "missing lines above line 3"}},
         {{30, warning_code::past_end, "ends after line 29"}}},
        {"line_added_after_line_5",
         with_line_after(5, "my_value 2.0"),
         {{7, warning_code::line_shifted,
           "line 7 holds what the starter file puts on line 6: a line seems to be extra above"},
          {11, warning_code::missing_values, "(likely because of the extra line above line 7)"},
          {16, warning_code::weapon_incomplete,
           "(likely because of the extra line above line 7)"}}},
        {"line_added_pushes_a_weapon_past_line_31",
         [] {
             std::vector<std::string> lines = template_lines();
             lines.resize(31); // the weapon lines end the file
             lines.back() = "40 1 1 1";
             lines.insert(lines.begin() + 5, "my_value 2.0");
             return join(lines);
         }(),
         {{7, warning_code::line_shifted, "a line seems to be extra above"},
          {11, warning_code::missing_values, "extra line above line 7"},
          {16, warning_code::weapon_incomplete, "extra line above line 7"},
          {32,
           {},
           "'40' is not a setting corvane knows; the line sets nothing (likely because of the "
           "extra line above line 7)",
           check::named_code::unknown_name}}},
        {"two_lines_swapped_are_not_a_shift",
         edited({{3, template_lines()[3]}, {4, template_lines()[2]}}),
         {}},
        // Not text: said once, not as a finding on every line it spoils.
        {"nul_bytes_are_not_text",
         std::string("MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0\n", 17) + join(template_lines()),
         {{1, warning_code::not_text, "not a text file: it holds NUL bytes"}}},
        {"control_characters_are_not_text",
         std::string(200, '\x01') + "\n\x02\x03\x04\x05 1\n",
         {{1, warning_code::not_text, "not a text file"}}},
        {"lines_indented_with_many_tabs_are_still_text",
         [] {
             std::string text;
             for (const std::string& line : template_lines())
                 text += "\t\t\t\t\t\t\t\t\t\t\t\t" + line + "\n";
             return text;
         }(),
         {}},
        {"a_stray_control_character_is_still_text",
         edited({{17, template_lines()[16] + " \x01"}}),
         {}},
        {"ctrl_z_ends_the_file_as_in_windows_text_mode",
         first_lines(20) + "\x1A" + join(template_lines()),
         {},
         {{21, warning_code::past_end, "ends after line 20"}}},
    };
}

class check_file_cases : public check_files, public ::testing::WithParamInterface<file_case> {};

TEST_P(check_file_cases, reports_exactly_these_warnings) {
    const file_case& c = GetParam();
    const check::check_result result = check(c.content);
    ASSERT_TRUE(result.readable) << result.error;
    const auto expect_exactly = [&](const std::vector<check::check_warning>& found,
                                    const std::vector<expected_warning>& expected) {
        std::vector<std::pair<int, std::string>> got, wanted;
        for (const auto& w : found)
            got.emplace_back(w.line, check::finding_name(w));
        for (const auto& w : expected)
            wanted.emplace_back(w.line, check::finding_name({w.line, w.code, "", "", w.named}));
        ASSERT_EQ(got, wanted) << check::text_report(result);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NE(found[i].message.find(expected[i].says), std::string::npos)
                << found[i].message;
            EXPECT_FALSE(found[i].hint.empty());
        }
    };
    expect_exactly(result.warnings, c.warnings);
    expect_exactly(result.notes, c.notes);
    EXPECT_EQ(result.exit_status(), c.warnings.empty() ? 0 : 1);
    EXPECT_EQ(result.positions.size(), 31u);
}

INSTANTIATE_TEST_SUITE_P(files, check_file_cases, ::testing::ValuesIn(file_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

const check::position_report& at(const check::check_result& result, int line) {
    return result.positions.at(line - 1);
}

// How a weapon type may be spelled: the type the module reads, and whether the checker warns.
// Hexadecimal is a form players choose; a leading zero is the trap (octal, or cut short by 8 or
// 9, which then shifts every value one place).
struct type_spelling {
    const char* written;
    std::int32_t type;
    float x; // after "08" the 8 becomes x
    bool warns;
};

void PrintTo(const type_spelling& c, std::ostream* os) {
    *os << c.written;
}

class weapon_type_spellings : public check_files,
                              public ::testing::WithParamInterface<type_spelling> {};

TEST_P(weapon_type_spellings, type_read_and_warning) {
    const type_spelling& c = GetParam();
    const std::string line = std::string(c.written) + " 1 2 3";
    // The only weapon line of the file, so no other line can interfere.
    const check::check_result result = check(edited({{16, line}, {17, ""}, {18, ""}, {19, ""}}));
    const plugin::line_values module =
        plugin::parse_settings_line(plugin::line_kind::weapon, line.c_str());
    ASSERT_EQ(module.count, 4);
    EXPECT_EQ(module.integer, c.type);
    EXPECT_EQ(module.floats[0], c.x);
    ASSERT_EQ(result.offsets.size(), 1u);
    EXPECT_EQ(result.offsets[0].weapon_type, c.type);
    EXPECT_EQ(result.offsets[0].x, c.x);
    bool warned = false;
    for (const check::check_warning& w : result.warnings) {
        EXPECT_EQ(w.code, warning_code::weapon_type_spelling) << w.message;
        warned = true;
        // Says what the module reads, and what to write instead.
        EXPECT_NE(w.message.find("weapon type " + std::to_string(c.type)), std::string::npos)
            << w.message;
        EXPECT_NE(w.hint.find("write"), std::string::npos) << w.hint;
    }
    EXPECT_EQ(warned, c.warns) << check::text_report(result);
    EXPECT_EQ(result.exit_status(), c.warns ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    types, weapon_type_spellings,
    ::testing::Values(type_spelling{"22", 22, 1, false}, type_spelling{"0x16", 22, 1, false},
                      type_spelling{"0X16", 22, 1, false}, type_spelling{"+22", 22, 1, false},
                      type_spelling{"-1", -1, 1, false}, type_spelling{"010", 8, 1, true},
                      type_spelling{"08", 0, 8, true}, type_spelling{"0x", 0, 1, true},
                      type_spelling{"00", 0, 1, false}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.written; *p; ++p)
            name += *p == '+' ? 'p' : *p == '-' ? 'm' : *p;
        return name;
    });

// One starter file: what --template writes is the shipped sample itself, with Windows line ends
// and no byte-order mark (a file written by the checker, not by a shell's redirection), and both
// read cleanly, whatever notes they carry.
TEST_F(check_files, sample_and_template_are_one_file_and_check_clean) {
    const std::string sample_path = CORVANE_SOURCE_DIR "/aimingSets.dat";
    const std::string sample = read(sample_path);
    ASSERT_EQ(sample.rfind("reload_every_frame ", 0), 0u) << "no byte-order mark, line 1 first";
    std::string crlf;
    for (const char c : sample)
        crlf += c == '\n' ? "\r\n" : std::string(1, c);

    const std::string starter = (dir_ / "starter.dat").string();
    std::string out, err;
    ASSERT_EQ(check::run_check_command({"--template", starter}, out, err), 0) << err;
    EXPECT_EQ(read(starter), crlf);
    EXPECT_NE(out.find("wrote a starter settings file to " + starter), std::string::npos) << out;
    out.clear();
    ASSERT_EQ(check::run_check_command({"--template"}, out, err), 0);
    EXPECT_EQ(out, sample);

    for (const std::string& path : {sample_path, starter}) {
        std::string report;
        EXPECT_EQ(check::run_check_command({path}, report, err), 0) << report << err;
        EXPECT_NE(report.find("result              clean"), std::string::npos) << report;
    }
}

// What the module takes, line by line: positions, not labels, decide; later lines keep their
// places after a long line; only complete, new weapon types become entries, in file order.
TEST_F(check_files, describes_what_each_line_sets) {
    const check::check_result result = check(edited({{3, "value 2.5 " + std::string(700, 'x')},
                                                     {4, "0.5"},
                                                     {12, "row1 1 2 3"},
                                                     {17, "22 0.5 0.2 0.1"},
                                                     {18, "25 0.6"},
                                                     {19, "22 9 9 9"},
                                                     {20, "0x1F 0 0 0"}}));
    EXPECT_EQ(at(result, 3).takes, "2.5");
    EXPECT_EQ(at(result, 3).state, check::line_state::overlong);
    EXPECT_EQ(at(result, 4).takes, "nothing: the game keeps its value");
    EXPECT_EQ(at(result, 5).takes, "0.3");
    EXPECT_EQ(at(result, 12).takes, "1 2 3 (the rest as the game has them)");
    EXPECT_EQ(at(result, 18).takes, "no entry");
    EXPECT_EQ(at(result, 19).takes, "nothing: type 22 given earlier");
    EXPECT_EQ(at(result, 20).takes, "type 31: zero, aim left alone");
    EXPECT_EQ(at(result, 21).takes, "unused");

    std::vector<std::int32_t> types;
    for (const check::offset_entry& entry : result.offsets)
        types.push_back(entry.weapon_type);
    EXPECT_EQ(types, (std::vector<std::int32_t>{-1, 22, 31}));
    EXPECT_FLOAT_EQ(result.offsets[1].x_mirrored(result.mirror_factor()), -1.5f);
    EXPECT_TRUE(result.offsets[2].leaves_aim_alone());
}

TEST_F(check_files, shows_the_lines_of_a_utf16_file_as_the_module_reads_them) {
    std::vector<std::string> lines = template_lines();
    lines[2] = "H\u00f6he_\u6e38\U0001F3AF 1.5";
    const check::check_result result =
        check(test_text::spelled(join(lines), test_text::spelling::utf16_le, "\r\n"));
    EXPECT_EQ(at(result, 3).text, "H?he_?? 1.5"); // one '?' a character, the pair included
    EXPECT_EQ(at(result, 3).takes, "1.5");
    EXPECT_EQ(at(result, 31).state, check::line_state::read);
    EXPECT_EQ(result.exit_status(), 0) << check::text_report(result);
}

TEST_F(check_files, past_the_end_sets_nothing_and_rows_stay_as_the_game_has_them) {
    const check::check_result result = check(first_lines(11));
    EXPECT_EQ(result.lines_read, 11);
    EXPECT_EQ(at(result, 11).takes, "1 0.9 0.8 0 0 1.2 0.25");
    EXPECT_EQ(at(result, 12).state, check::line_state::past_end);
    EXPECT_EQ(at(result, 12).takes, "nothing: the row stays as the game has it");
    EXPECT_EQ(at(result, 16).takes, "no entry");
    EXPECT_TRUE(result.offsets.empty());
}

TEST_F(check_files, the_reference_report_is_unchanged) {
    // The same file and report are checked under Wine against the Windows build.
    check::check_result result =
        check::check_settings_file(CHECK_TEST_FILES "/sample_with_faults.dat");
    result.file = "sample_with_faults.dat";
    std::ifstream in(CHECK_TEST_FILES "/expected_report.txt", std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(check::text_report(result), expected);
}

TEST_F(check_files, the_reference_json_reports_are_unchanged) {
    // Byte for byte, members in their order and numbers as written: tools may read the document
    // as text, and a change in how it is built must not show in it.
    const struct {
        const char* file;
        const char* expected;
    } cases[] = {
        {"sample_with_faults.dat", "expected_report.json"}, // lines, offsets, warnings, notes
        {"named_lines.dat", "expected_named_lines.json"},   // named lines and their findings
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        check::check_result result =
            check::check_settings_file(std::string(CHECK_TEST_FILES "/") + c.file);
        result.file = c.file;
        std::ifstream in(std::string(CHECK_TEST_FILES "/") + c.expected, std::ios::binary);
        ASSERT_TRUE(in) << c.expected;
        const std::string expected((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(check::json_report(result), expected);
    }
}

// The command line, its exit statuses and its error messages.
struct command_case {
    const char* name;
    std::vector<std::string> args; // "FILE" stands for a file with one warning
    int status;
    const char* out_says;
    const char* err_says;
};

void PrintTo(const command_case& c, std::ostream* os) {
    *os << c.name;
}

const std::string version_line = std::string("corvane-check ") + corvane::version + "\n";

class check_command : public check_files, public ::testing::WithParamInterface<command_case> {};

TEST_P(check_command, exit_status_and_messages) {
    const command_case& c = GetParam();
    const std::string file = write(edited({{20, "010 1 1 1"}}));
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
        if (arg.rfind("FILE", 0) == 0) arg = file + arg.substr(4);
        if (arg == "DIR") arg = dir_.string();
    }
    // Without a file named, the checker looks in its own folder: this one.
    const pretend_surroundings around(dir_.string());
    std::string out, err;
    EXPECT_EQ(check::run_check_command(args, out, err), c.status);
    EXPECT_NE(flat(out).find(flat(c.out_says)), std::string::npos) << out;
    EXPECT_NE(flat(err).find(flat(c.err_says)), std::string::npos) << err;
    if (!*c.err_says) {
        EXPECT_EQ(err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    commands, check_command,
    ::testing::Values(
        command_case{"file_with_a_warning", {"FILE"}, 1, "'010' is read as weapon type 8", ""},
        command_case{"missing_file",
                     {"/nonexistent/aimingSets.dat"},
                     2,
                     "",
                     "the settings file '/nonexistent/aimingSets.dat' was not found"},
        command_case{"directory", {"DIR"}, 2, "", "is a folder, not the settings file"},
        command_case{"missing_file_json",
                     {"--json", "/nonexistent/x"},
                     2,
                     "\"readable\": false",
                     "was not found"},
        command_case{"game_not_found",
                     {"--game", "/nonexistent/game.exe", "FILE"},
                     2,
                     "",
                     "the game's program '/nonexistent/game.exe' was not found"},
        command_case{"game_is_a_folder",
                     {"--game", "DIR", "FILE"},
                     2,
                     "",
                     "is a folder, not the game's program"},
        command_case{"template", {"--template"}, 0, "reload_every_frame 0", ""},
        command_case{"version", {"--version"}, 0, version_line.c_str(), ""},
        command_case{"template_never_over_a_file",
                     {"--template", "FILE"},
                     2,
                     "",
                     "already exists and is left as it is"},
        command_case{"template_with_more", {"--template", "--json"}, 2, "", "takes nothing else"},
        // No corvane.dll in this folder: the file is checked all the same, but not passed.
        command_case{
            "no_arguments_checks_its_own_folder", {}, 2, "'010' is read as weapon type 8", ""},
        command_case{"game_program_that_is_not_one",
                     {"--game", "FILE", "FILE"},
                     1,
                     "cannot tell which build this is: it is not a Windows program.",
                     ""},
        command_case{"two_files", {"FILE", "FILE"}, 2, "", "one settings file"},
        command_case{"unknown_option", {"--frobnicate", "FILE"}, 2, "", "unknown option"},
        command_case{"svg_without_its_name", {"--svg"}, 2, "", "--svg needs a file name after it"},
        command_case{
            "game_without_its_name", {"--game"}, 2, "", "--game needs a file name after it"},
        command_case{"svg_into_missing_folder",
                     {"--svg", "/nonexistent/out.svg", "FILE"},
                     2,
                     "",
                     "nothing was written: the folder of '/nonexistent/out.svg' does not exist"},
        command_case{
            "svg_below_a_file", {"--svg", "FILE/out.svg", "FILE"}, 2, "", "does not exist"},
        command_case{"svg_named_like_settings_with_no_file",
                     {"--svg", "aimingSets.dat"},
                     2,
                     "",
                     "never writes a file ending in .dat, .dll, .exe or .log"}),
    [](const auto& info) { return std::string(info.param.name); });

// Double-clicked, the checker is given no names: it checks aimingSets.dat in its own folder, or
// says what lies there instead, and tells the build of the game's program beside it.
struct beside_case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files; // name, content ("SAMPLE", "GAME")
    int status;
    std::vector<std::string> says; // in this order
    std::vector<std::string> never_says = {};
};

void PrintTo(const beside_case& c, std::ostream* os) {
    *os << c.name;
}

class checker_beside : public check_files, public ::testing::WithParamInterface<beside_case> {};

TEST_P(checker_beside, checks_the_file_in_its_own_folder) {
    const beside_case& c = GetParam();
    for (const auto& [name, content] : c.files)
        write(content == "SAMPLE" ? check::settings_template()
              : content == "GAME" ? program_bytes({{code_with(value_1001)}})
                                  : content,
              name);
    const pretend_surroundings around(dir_.string());
    std::string out, err;
    EXPECT_EQ(check::run_check_command({}, out, err), c.status) << out << err;
    EXPECT_EQ(err, "");
    out = flat(out);
    std::size_t from = 0;
    for (const std::string& piece : c.says) {
        const std::size_t at = out.find(piece, from);
        EXPECT_NE(at, std::string::npos) << "'" << piece << "' in order in:\n" << out;
        if (at != std::string::npos) from = at + piece.size();
    }
    for (const std::string& piece : c.never_says)
        EXPECT_EQ(out.find(piece), std::string::npos) << "'" << piece << "' in:\n" << out;
}

INSTANTIATE_TEST_SUITE_P(
    folders, checker_beside,
    ::testing::Values(
        beside_case{"the_sample_and_the_game",
                    {{"aimingSets.dat", "SAMPLE"},
                     {"game.exe", "GAME"},
                     {"corvane.dll", "MZ"},
                     {"setup.exe", "MZ"}},
                    0,
                    {"/aimingSets.dat ", "result clean", "game: ", "/game.exe ",
                     "build 1001: the keys and live reload work on this build."},
                    {"setup.exe", "There is no"}},
        beside_case{"saved_as_txt",
                    {{"aimingSets.dat.txt", "SAMPLE"}, {"corvane.dll", "MZ"}},
                    2,
                    {"There is no aimingSets.dat in ",
                     "Found aimingSets.dat.txt: corvane looks for aimingSets.dat exactly",
                     "What corvane would make of aimingSets.dat.txt as aimingSets.dat beside "
                     "corvane.dll:",
                     "result not read: corvane will not read this file until it is renamed to "
                     "aimingSets.dat",
                     "game: no program beside corvane-check",
                     "corvane will not read aimingSets.dat.txt until it is renamed to "
                     "aimingSets.dat."},
                    {"clean"}},
        beside_case{
            "nothing",
            {},
            2,
            {"There is no corvane.dll beside corvane-check or in a folder directly below it",
             "There is no aimingSets.dat in ",
             "write a starter file with: corvane-check --template aimingSets.dat",
             "game: no program beside corvane-check"}},
        beside_case{"only_programs_the_module_does_not_know",
                    {{"aimingSets.dat", "SAMPLE"}, {"setup.exe", "MZ"}, {"corvane.dll", "MZ"}},
                    0,
                    {"result clean", "/setup.exe cannot tell which build this is: "
                                     "it is not a Windows program."}},
        // The checker in the game's folder, corvane in a loader's folder below it: the settings
        // beside corvane are the ones checked and named.
        beside_case{"module_in_a_folder_below",
                    {{"game.exe", "GAME"},
                     {"aimingSets.dat", "not the one corvane reads"},
                     {"plugins/corvane.dll", "MZ"},
                     {"plugins/aimingSets.dat", "SAMPLE"}},
                    0,
                    {"Found corvane.dll in the folder plugins below corvane-check: checking the "
                     "aimingSets.dat in that folder",
                     "corvane-check: ", "/plugins/aimingSets.dat", "result clean",
                     "/game.exe build 1001"},
                    {"There is no"}},
        beside_case{"module_below_and_settings_beside_the_checker",
                    {{"aimingSets.dat", "SAMPLE"}, {"plugins/CORVANE.DLL", "MZ"}},
                    2,
                    {"Found corvane.dll in the folder plugins below corvane-check",
                     "There is no aimingSets.dat in ", "/plugins",
                     "The aimingSets.dat beside corvane-check is not the one corvane reads: "
                     "move it into plugins."},
                    {"clean"}},
        // Two copies the game may both load: the one checked is named, the other pointed out.
        beside_case{"module_beside_and_below",
                    {{"aimingSets.dat", "SAMPLE"},
                     {"corvane.dll", "MZ"},
                     {"scripts/corvane.dll", "MZ"},
                     {"tools/readme.txt", "not a plug-in"}},
                    0,
                    {"corvane.dll is also in the folder scripts below corvane-check. If the game "
                     "loads plug-ins from there too, two copies of corvane run",
                     "keep one copy.", "result clean"},
                    {"Found corvane.dll", "tools"}},
        beside_case{"module_in_two_folders_below",
                    {{"plugins/corvane.dll", "MZ"},
                     {"plugins/aimingSets.dat", "SAMPLE"},
                     {"scripts/corvane.dll", "MZ"},
                     {"zz/corvane.dll", "MZ"}},
                    0,
                    {"Found corvane.dll in the folder plugins below corvane-check",
                     "corvane.dll is also in the folders scripts, zz below corvane-check",
                     "result clean"},
                    {"There is no"}},
        beside_case{"no_module_anywhere",
                    {{"aimingSets.dat", "SAMPLE"}, {"plugins/readme.txt", "a loader's"}},
                    2,
                    {"There is no corvane.dll beside corvane-check or in a folder directly below "
                     "it. corvane reads aimingSets.dat from the folder that holds corvane.dll",
                     "/aimingSets.dat",
                     "result not read: corvane will not read this file until it lies beside "
                     "corvane.dll",
                     "corvane will not read aimingSets.dat until it lies beside corvane.dll."},
                    {"clean"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Double-clicked, the JSON says where corvane.dll was looked for and found, as the text report
// does: beside the checker, in a folder below (with the other copies), or nowhere. Given a file
// by name, the checker does not look, and the JSON says nothing of it.
TEST_F(check_files, json_says_where_corvane_was_found) {
    using json = nlohmann::json;
    const struct {
        const char* name;
        std::vector<std::string> files;
        json module; // "folder" as a name below the test folder, "" for the folder itself
    } layouts[] = {
        {"beside",
         {"aimingSets.dat", "corvane.dll"},
         {{"found", true}, {"folder", ""}, {"below", nullptr}, {"other_copies", json::array()}}},
        {"below, with another copy",
         {"plugins/aimingSets.dat", "plugins/corvane.dll", "scripts/corvane.dll"},
         {{"found", true},
          {"folder", "plugins"},
          {"below", "plugins"},
          {"other_copies", {"scripts"}}}},
        {"nowhere",
         {"aimingSets.dat"},
         {{"found", false},
          {"folder", nullptr},
          {"below", nullptr},
          {"other_copies", json::array()}}},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        for (const std::string& name : layout.files)
            write(name.ends_with(".dll") ? std::string("MZ") : check::settings_template(), name);
        json want = layout.module;
        if (want["folder"].is_string()) {
            const std::string below = want["folder"];
            want["folder"] = below.empty() ? dir_.string() : check::path_in(dir_.string(), below);
        }
        const pretend_surroundings around(dir_.string());
        std::string out, err;
        check::run_check_command({"--json"}, out, err);
        EXPECT_EQ(json::parse(out).value("module", json()), want) << out;
        out.clear();
        check::run_check_command({"--json", (dir_ / layout.files[0]).string()}, out, err);
        EXPECT_FALSE(json::parse(out).contains("module")) << out;
    }
}

// From Explorer the console window is the checker's alone and closes with it, and its input is
// that console: the report ends by asking for Enter, and the checker waits for it. From a prompt,
// or started by a tool with a pipe for its input or asking for JSON, it never waits.
TEST_F(check_files, waits_for_enter_only_in_a_console_window_of_its_own) {
    const std::string file = write(join(template_lines()));
    for (const unsigned programs : {0u, 1u, 2u})
        for (const bool console_input : {true, false}) {
            SCOPED_TRACE(std::to_string(programs) + (console_input ? " console" : " pipe"));
            const pretend_surroundings around(dir_.string(), programs, console_input);
            std::FILE* const out = std::tmpfile();
            std::FILE* const err = std::tmpfile();
            ASSERT_TRUE(out && err);
            EXPECT_EQ(check::run_check_program({"--json", file}, out, err), 0);
            std::rewind(out);
            std::string printed;
            for (int ch; (ch = std::fgetc(out)) != EOF;)
                printed += static_cast<char>(ch);
            std::fclose(out);
            std::fclose(err);
            EXPECT_TRUE(nlohmann::json::accept(printed)) << printed;
            EXPECT_EQ(around.waits(), 0);
        }
    for (const unsigned programs : {0u, 1u, 2u})
        for (const bool console_input : {true, false}) {
            SCOPED_TRACE(std::to_string(programs) + (console_input ? " console" : " pipe"));
            const bool waits = programs == 1 && console_input;
            const pretend_surroundings around(dir_.string(), programs, console_input);
            std::FILE* const out = std::tmpfile();
            std::FILE* const err = std::tmpfile();
            ASSERT_TRUE(out && err);
            EXPECT_EQ(check::run_check_program({file}, out, err), 0);
            std::rewind(out);
            std::string printed;
            for (int ch; (ch = std::fgetc(out)) != EOF;)
                printed += static_cast<char>(ch);
            std::fclose(out);
            std::fclose(err);
            const std::string ask = "result              clean: corvane reads this file as shown\n"
                                    "\nPress Enter to close this window.\n";
            const bool asked = printed.size() >= ask.size() &&
                               printed.compare(printed.size() - ask.size(), ask.size(), ask) == 0;
            EXPECT_EQ(asked, waits) << printed;
            EXPECT_EQ(around.waits(), waits ? 1 : 0);
        }
}

// --game tells the build in the text report and in the JSON one.
TEST_F(check_files, game_build_in_both_reports) {
    const std::string file = write(check::settings_template());
    const std::string game = write(program_bytes({{code_with(value_1002)}}), "game.exe");
    std::string out, err;
    EXPECT_EQ(check::run_check_command({"--game", game, file}, out, err), 0) << err;
    EXPECT_NE(out.find("game: " + game + "\n  build 1002: "), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(check::run_check_command({"--json", "--game", game, file}, out, err), 0) << err;
    EXPECT_NE(out.find("\"games\": [\n    {\n      \"file\": \"" + game +
                       "\",\n      \"verdict\": \"keys_and_reload\",\n      \"build\": 1002"),
              std::string::npos)
        << out;
}

// Everything a player reads from the checker speaks of the game in a player's words: no "host",
// "call site" or "float" (addresses stay, in their column at the end).
TEST_F(check_files, reports_speak_in_a_players_words) {
    const std::regex code_words("(^|[^a-z_])(host|floats?)([^a-z_]|$)|call site");
    std::vector<std::string> texts;
    std::vector<std::string> faults = {CHECK_TEST_FILES "/sample_with_faults.dat"};
    faults.push_back(write(without_lines(2), "shifted.dat"));
    faults.push_back(write(first_lines(9), "short.dat"));
    faults.push_back(
        write(edited({{12, "row1 1 2 3"}, {5, "aim_value"}, {13, "aim_row_2"}}), "rows.dat"));
    for (const std::string& file : faults)
        texts.push_back(check::text_report(check::check_settings_file(file)));
    texts.push_back(check::missing_settings_text("/games/x", {}));
    for (const auto& program :
         {program_bytes({{code_with(value_1001)}}), program_bytes({{code_with(other_code)}}),
          std::string("not a program")}) {
        texts.push_back(
            check::game_build_text(check::identify_game_build(write(program, "g.exe"))));
    }
    for (const std::string& text : texts)
        EXPECT_FALSE(std::regex_search(text, code_words)) << text;
}

// The JSON report is a valid document that holds the facts of the text report.
TEST_F(check_files, json_report_is_valid_and_complete) {
    if (!have_python()) {
        GTEST_SKIP() << "python3 is needed to read the JSON back";
    }
    // Line 3 holds UTF-8 and a byte that is not (Latin-1 from an ANSI editor).
    const std::string file = write(edited({{3, "v \xC3\xA9t\xC3\xA9 \xE9 \"q\" 1"},
                                           {20, "010 1 1 1"},
                                           {21, "0x28 1 1 1"},
                                           {22, "41 inf 0 nan"}}));
    std::string out, err;
    ASSERT_EQ(check::run_check_command({"--json", file}, out, err), 1);
    const std::string json = write(out, "report.json");
    const std::string script =
        "import json, sys\n"
        "r = json.load(open(sys.argv[1]))\n"
        "assert r['exit_status'] == 1 and len(r['lines']) == 31, r\n"
        "codes = [w['code'] for w in r['warnings']]\n"
        "assert codes == ['missing_values', 'weapon_type_spelling', 'not_finite', 'not_finite'], "
        "codes\n"
        "assert [n['code'] for n in r['notes']] == ['weapon_type_hexadecimal'], r['notes']\n"
        "assert r['lines'][2]['text'] == 'v \\u00e9t\\u00e9 \\ufffd \"q\" 1', r['lines'][2]\n"
        "assert r['lines'][2]['host_address'] == '0x8CC4B4', r['lines'][2]\n"
        "assert r['lines'][19]['values'] == [8, 1, 1, 1], r['lines'][19]\n"
        "types = [e['weapon_type'] for e in r['weapon_offsets']]\n"
        "assert types == [-1, 22, 25, 31, 8, 40, 41], types\n"
        "assert r['weapon_offsets'][6]['offset'] == [None, 0, None], r['weapon_offsets'][6]\n"
        "assert r['lines'][21]['values'] == [41, None, 0, None], r['lines'][21]\n"
        "assert r['weapon_offsets'][1]['x_mode_offset'] == [-1.5, 0.2, 0.1], r['weapon_offsets']\n"
        "assert r['weapon_offsets'][3]['leaves_aim_alone'] is True\n";
    const std::string script_file = write(script, "check_json.py");
    EXPECT_EQ(std::system(("python3 " + script_file + " " + json).c_str()), 0) << out;
}

// The picture is well-formed XML with one mark per weapon offset that moves the aim, in each
// of the two views, the default drawn as the default, and an X-mode point beside each mark.
TEST_F(check_files, svg_has_one_mark_per_entry_in_each_view) {
    if (!have_python()) {
        GTEST_SKIP() << "python3 is needed to parse the picture";
    }
    const std::string file = write(edited({{20, "40 -2 1 0.5"}, {21, "41 1e99 0 0"}}));
    const std::string svg = (dir_ / "aim.svg").string();
    std::string out, err;
    ASSERT_EQ(check::run_check_command({"--svg", svg, file}, out, err), 1) << err;
    const std::string script =
        "import sys, xml.dom.minidom as m\n"
        "d = m.parse(sys.argv[1])\n"
        "views = {g.getAttribute('id'): g for g in d.getElementsByTagName('g')}\n"
        "for v in ('view-xy', 'view-xz'):\n"
        "    g = views[v]\n"
        "    els = g.getElementsByTagName('circle') + g.getElementsByTagName('rect')\n"
        "    marks = [e.getAttribute('data-weapon-type') for e in els\n"
        "             if 'mark' in e.getAttribute('class').split()]\n"
        "    moved = [e.getAttribute('data-weapon-type') for e in els\n"
        "             if e.getAttribute('class') == 'x-mode']\n"
        "    assert sorted(marks) == ['-1', '22', '25', '40'], (v, marks)\n"
        "    assert sorted(moved) == sorted(marks), (v, moved)\n"
        "    assert [e for e in els if e.getAttribute('data-weapon-type') == '-1'\n"
        "            and 'default' in e.getAttribute('class')], v\n"
        "    names = [t.firstChild.data for t in g.getElementsByTagName('text')]\n"
        "    assert {'22', '25', '40', '-1 default', 'x'} <= set(names), names\n"
        "notes = ' '.join(t.firstChild.data for t in d.getElementsByTagName('text'))\n"
        "assert 'aim left alone (not drawn): weapon type 31' in notes, notes\n"
        "assert 'inf or nan' in notes and 'weapon type 41' in notes, notes\n";
    const std::string script_file = write(script, "check_svg.py");
    EXPECT_EQ(std::system(("python3 " + script_file + " " + svg).c_str()), 0);
}

// The picture and the JSON follow the file's own other shoulder: its factor (one that moves the
// point less than the normal mode's too, which the plot must still hold) and its keys.
TEST_F(check_files, picture_and_json_follow_mirror_factor_and_keys) {
    struct mirror_case {
        const char* lines; // after line 31
        float factor;
        const char* normal;   // what the picture says of the normal mode
        const char* mirrored; // and of the other shoulder
    };
    const mirror_case cases[] = {
        {"", -3.0f, "(key Z)", "(key X: x times -3)"},
        {"mirror_factor -2\nkey_mirrored M\n", -2.0f, "(key Z)", "(key M: x times -2)"},
        {"mirror_factor 0.5\nkey_mirrored none\nkey_toggle Q\nkey_normal F5\n", 0.5f,
         "(key F5, or Q to swap)", "(Q to swap: x times 0.5)"},
    };
    const std::regex circle("<circle cx=\"([-0-9.]+)\"[^>]*class=\"([a-z -]+)\"( "
                            "data-weapon-type=\"22\")?");
    for (const mirror_case& c : cases) {
        SCOPED_TRACE(c.lines);
        const std::string file = write(join(template_lines()) + c.lines);
        const std::string svg_path = (dir_ / "aim.svg").string();
        fs::remove(svg_path);
        std::string out, err;
        ASSERT_EQ(check::run_check_command({"--svg", svg_path, file}, out, err), 0) << err << out;
        const std::string svg = read(svg_path);
        EXPECT_NE(svg.find(c.normal), std::string::npos) << svg;
        EXPECT_NE(svg.find(c.mirrored), std::string::npos) << svg;
        // Type 22 lies at x 0.5: its other-shoulder point at 0.5 times the factor, measured
        // from the player, and every point on the x axis's drawn span.
        std::smatch axis;
        ASSERT_TRUE(std::regex_search(
            svg, axis,
            std::regex(
                "<line x1=\"([-0-9.]+)\" y1=\"[^\"]*\" x2=\"([-0-9.]+)\"[^>]*class=\"axis\"")));
        const double left = std::stod(axis[1]), right = std::stod(axis[2]);
        double player = 0, normal = 0, mirrored = 0;
        int found = 0;
        for (std::sregex_iterator it(svg.begin(), svg.end(), circle), end; it != end; ++it) {
            const double x = std::stod((*it)[1]);
            const std::string kind = (*it)[2];
            if (kind == "mark" || kind == "x-mode") {
                EXPECT_GT(x, left) << kind;
                EXPECT_LT(x, right) << kind;
            }
            if (kind == "player" && found == 0) player = x, ++found;
            if ((*it)[3].matched && kind == "mark" && found == 1) normal = x, ++found;
            if ((*it)[3].matched && kind == "x-mode" && found == 2) mirrored = x, ++found;
        }
        ASSERT_EQ(found, 3) << svg;
        EXPECT_NEAR((mirrored - player) / (normal - player), c.factor, 0.01);

        out.clear();
        ASSERT_EQ(check::run_check_command({"--json", file}, out, err), 0) << err;
        // The second entry is type 22's.
        const std::string key = "\"x_mode_offset\": [";
        const std::size_t at = out.find(key, out.find(key) + 1);
        ASSERT_NE(at, std::string::npos) << out;
        EXPECT_FLOAT_EQ(std::strtof(out.c_str() + at + key.size(), nullptr), 0.5f * c.factor);
    }
}

// The hint each line gets. Words after the last value of a line are the player's own comment,
// as the starter file writes them: no finding. A hint that points at a warning points at one
// shown for the same line.
struct hint_case {
    const char* name;
    std::string content;
    int line;
    const char* code;      // the finding's name; "" for none on that line at all
    std::string hint_says; // a piece of its hint
    const char* never_says = "";
};

void PrintTo(const hint_case& c, std::ostream* os) {
    *os << c.name;
}

class line_hints : public check_files, public ::testing::WithParamInterface<hint_case> {};

TEST_P(line_hints, each_line_gets_a_hint_that_leads_somewhere) {
    const hint_case& c = GetParam();
    const check::check_result result = check(c.content);
    std::vector<check::check_warning> on_line;
    for (const auto* list : {&result.warnings, &result.notes})
        for (const check::check_warning& w : *list) {
            if (w.line == c.line) on_line.push_back(w);
            if (w.hint.find("see the warning above") == std::string::npos) continue;
            const bool shown =
                std::any_of(result.warnings.begin(), result.warnings.end(),
                            [&](const check::check_warning& other) {
                                return &other < &w && other.line == w.line && other.code != w.code;
                            });
            EXPECT_TRUE(shown) << "line " << w.line << ": " << w.hint;
        }
    if (!*c.code) {
        EXPECT_TRUE(on_line.empty()) << check::text_report(result);
        return;
    }
    const auto found = std::find_if(on_line.begin(), on_line.end(), [&](const auto& w) {
        return std::string(check::warning_name(w.code)) == c.code;
    });
    ASSERT_NE(found, on_line.end()) << check::text_report(result);
    EXPECT_NE(found->hint.find(c.hint_says), std::string::npos) << found->hint;
    if (*c.never_says) {
        EXPECT_EQ(found->hint.find(c.never_says), std::string::npos) << found->hint;
    }
}

INSTANTIATE_TEST_SUITE_P(
    lines, line_hints,
    ::testing::Values(
        hint_case{"comment_after_a_weapon_line", edited({{17, "22 0.5 0.2 0.1 the pistol, tuned"}}),
                  17, "", ""},
        hint_case{"comment_after_a_row", edited({{11, template_lines()[10] + " tuned by hand"}}),
                  11, "", ""},
        hint_case{"comment_after_a_value", edited({{3, template_lines()[2] + " was 1.5"}}), 3, "",
                  ""},
        hint_case{"word_where_z_belongs", edited({{17, "22 0.5 0.2 note"}}), 17,
                  "weapon_incomplete", "'note' stands where a number belongs", "cut short"},
        hint_case{"number_cut_short_points_to_its_warning", edited({{17, "22 0.5 0.2x"}}), 17,
                  "weapon_incomplete", "a number was cut short: see the warning above"},
        hint_case{"reload_as_a_word", edited({{1, "reload_every_frame on"}}), 1, "missing_values",
                  "write 1 (on) or 0 (off) after the label", "reload_every_frame_on"},
        hint_case{"reload_not_whole", edited({{1, "reload_every_frame 0.5"}}), 1, "partly_read",
                  "write 1 (on) or 0 (off)"},
        hint_case{"decimal_comma", edited({{6, "value 1,5"}}), 6, "partly_read",
                  "write decimals with a point: 1.5"},
        hint_case{"label_with_a_blank", edited({{4, "aim height 0.5"}}), 4, "missing_values",
                  "join words with '_', e.g. 'aim_height'"},
        hint_case{"value_glued_is_shown_written_apart", edited({{4, "aim_value_8CC4B8=2.5"}}), 4,
                  "values_joined", "write the line as 'aim_value_8CC4B8 2.5'"},
        hint_case{"row_list_is_shown_written_apart",
                  edited({{12, "aim_row_1_8CC4DC:1,2,3,4,5,6,7"}}), 12, "values_joined",
                  "write the line as 'aim_row_1_8CC4DC 1 2 3 4 5 6 7'"},
        hint_case{"glued_decimal_comma_becomes_a_point", edited({{4, "aim_value_8CC4B8=2,5"}}), 4,
                  "values_joined", "write the line as 'aim_value_8CC4B8 2.5'"},
        hint_case{"equals_sign_is_dropped", edited({{3, "aim_value_8CC4B4 = 1.5"}}), 3,
                  "values_joined", "write the line as 'aim_value_8CC4B4 1.5'", "join words"},
        hint_case{"weapon_commas_are_dropped", edited({{17, "22, 0.5, 0.2, 0.1"}}), 17,
                  "values_joined", "write the line as '22 0.5 0.2 0.1'", "decimal"},
        hint_case{"decimal_commas_in_a_weapon_line_stay_decimals", edited({{17, "22 0,5 0,2 0,1"}}),
                  17, "partly_read", "write decimals with a point: 0.5"},
        hint_case{"a_row_left_alone_takes_seven_numbers", starter_file(), 12, "value_left_alone",
                  "add its 7 numbers"},
        hint_case{"missing_line_is_shown_to_paste_back", without_lines(2), 2, "line_shifted",
                  "the starter file has there: " + check::quoted(template_lines()[1])},
        hint_case{"two_missing_lines_are_shown", without_lines(3, 2), 3, "line_shifted",
                  check::quoted(starter_line(3)) + ", " + check::quoted(starter_line(4))},
        hint_case{"file_ending_early_shows_the_next_line", first_lines(13), 14, "past_end",
                  check::quoted(starter_line(14))}),
    [](const auto& info) { return std::string(info.param.name); });

// --svg and --template create their file, or write nothing: whatever lies under the name (the
// settings file being checked, corvane itself, any other file) stays byte for byte as it was.
TEST_F(check_files, svg_and_template_write_only_new_files) {
    struct target {
        const char* name;
        bool exists;
    };
    const std::string settings = check::settings_template();
    const std::string module = std::string("MZ\x90\0\x03\0\0\0 not really a program", 28);
    const std::string picture = "<svg>a picture of the player's own</svg>\n";
    for (const std::string option : {"--svg", "--template"}) {
        const std::vector<target> targets = {{"aimingSets.dat", true},
                                             {"corvane.dll", true},
                                             {"mine.svg", true},
                                             {option == "--svg" ? "aim.svg" : "fresh.dat", false}};
        for (const target& t : targets) {
            SCOPED_TRACE(option + " " + t.name);
            fs::remove_all(dir_);
            fs::create_directory(dir_);
            write(settings, "aimingSets.dat");
            write(module, "corvane.dll");
            write(picture, "mine.svg");
            const std::string path = (dir_ / t.name).string();
            // The settings file goes unnamed: the checker looks in its own folder, as when a
            // player forgets the picture's name and gives the settings file's in its place.
            const pretend_surroundings around(dir_.string());
            std::string out, err;
            const int status = check::run_check_command({option, path}, out, err);
            EXPECT_EQ(read((dir_ / "aimingSets.dat").string()), settings);
            EXPECT_EQ(read((dir_ / "corvane.dll").string()), module);
            EXPECT_EQ(read((dir_ / "mine.svg").string()), picture);
            int files = 0;
            for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
                ++files;
            if (t.exists) {
                EXPECT_EQ(status, 2) << out;
                EXPECT_NE(flat(err).find("nothing was written"), std::string::npos) << err;
                EXPECT_EQ(files, 3);
            } else {
                EXPECT_EQ(status, 0) << err;
                const std::string written = read(path);
                if (option == "--svg") {
                    EXPECT_NE(written.find("</svg>"), std::string::npos) << written;
                } else {
                    std::string without_cr = written;
                    std::erase(without_cr, '\r');
                    EXPECT_EQ(without_cr, settings);
                }
                EXPECT_EQ(files, 4);
            }
        }
    }
}

// A run of identical notes is said once, naming its lines; a note that differs in a word, or
// stands between, keeps its own entry. The summary counts what the report shows.
TEST_F(check_files, identical_notes_in_a_run_are_said_once) {
    struct fold_case {
        std::string content;
        std::vector<std::string> entries; // the notes' first lines, in order
        const char* counted;
    };
    const std::string hint = " hint: fine if you mean to keep the game's own value; else add a "
                             "number";
    const std::string row_hint = " hint: fine if you mean to keep the game's own row; else add "
                                 "its 7 numbers after the label";
    const fold_case cases[] = {
        {starter_file(),
         {"lines 3 and 4 no number after the label: the game keeps its own value" + hint,
          "line 5 no number after the label: the game's aim-camera code keeps its own value" + hint,
          "lines 6 to 9 no number after the label: the game keeps its own value" + hint,
          "lines 11 to 14 no values after the label: the row stays as the game has it (a row "
          "takes 7 numbers)" +
              row_hint},
         "clean: corvane reads this file as shown, 4 notes"},
        {edited({{3, "a"}, {4, "b"}, {6, "c"}, {7, "d"}, {8, "e"}, {12, "r"}}),
         {"lines 3, 4 and 6 to 8 no number after the label: the game keeps its own value" + hint,
          "line 12 no values after the label: the row stays as the game has it (a row takes 7 "
          "numbers)" +
              row_hint},
         "clean: corvane reads this file as shown, 2 notes"},
    };
    for (const fold_case& c : cases) {
        std::string out, err;
        EXPECT_EQ(check::run_check_command({write(c.content)}, out, err), 0) << err;
        const std::size_t from = out.find("notes (no need to act):\n");
        const std::size_t to = out.find("\nsummary:");
        ASSERT_NE(from, std::string::npos) << out;
        std::vector<std::string> entries;
        std::istringstream lines(out.substr(from, to - from));
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            if (line.rfind("  line", 0) == 0)
                entries.push_back(line);
            else if (!entries.empty())
                entries.back() += line;
        }
        for (std::string& entry : entries)
            entry = flat(entry);
        EXPECT_EQ(entries, c.entries) << out;
        EXPECT_NE(flat(out).find(c.counted), std::string::npos) << out;
    }
    // The JSON keeps every note, for tools.
    std::string out, err;
    EXPECT_EQ(check::run_check_command({"--json", write(starter_file())}, out, err), 0);
    std::size_t codes = 0;
    for (std::size_t at = 0; (at = out.find("\"value_left_alone\"", at)) != std::string::npos; ++at)
        ++codes;
    EXPECT_EQ(codes, 11u);
}

// --svg and --template refuse, before anything is written, a name that Windows would turn into
// another file or a device, and the names of corvane's own files in any capitals; each refusal
// says why in its own words. Names close to those are written.
TEST_F(check_files, names_refused_before_writing) {
    struct name_case {
        const char* option;
        const char* name;
        const char* says; // nullptr: written
    };
    const name_case cases[] = {
        {"--svg", "corvane.dll:x", "has a colon after the drive part"},
        {"--template", "notes.txt:hidden", "has a colon after the drive part"},
        {"--svg", "aimingSets.dat.",
         "ends in a dot or a blank, which Windows drops from a name: "
         "it would write 'aimingSets.dat' instead"},
        {"--template", "aimingSets.dat ", "it would write 'aimingSets.dat' instead"},
        {"--svg", "aim.svg. .", "it would write 'aim.svg' instead"},
        {"--svg", "NUL", "is the name of a Windows device (nul)"},
        {"--svg", "con.svg", "is the name of a Windows device (con)"},
        {"--template", "Com1.dat", "is the name of a Windows device (com1)"},
        {"--template", "lpt9 .txt", "is the name of a Windows device (lpt9)"},
        {"--svg", "aux.tar.gz", "is the name of a Windows device (aux)"},
        {"--template", "CORVANE.DLL",
         "ends in .dll, and --template never writes a file ending in "
         ".dll, .exe or .log"},
        {"--template", "Corvane.Log", "ends in .log"},
        {"--template", "corvane-check.EXE", "ends in .exe"},
        {"--svg", "AIMINGSETS.DAT", "ends in .dat, and --svg never writes a file ending in .dat"},
        {"--svg", "console.svg", nullptr},
        {"--svg", "com10.svg", nullptr},
        {"--svg", "nullish.svg", nullptr},
        {"--template", "aimingSets.dat", nullptr},
        {"--template", "lpt.dat", nullptr},
    };
    const std::string settings = check::settings_template();
    for (const name_case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " '" + c.name + "'");
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        const std::string checked = write(settings, "checked/aimingSets.dat");
        std::vector<std::string> args = {c.option, (dir_ / c.name).string()};
        if (args[0] == "--svg") args.push_back(checked);
        std::string out, err;
        const int status = check::run_check_command(args, out, err);
        std::vector<std::string> made;
        for (const auto& entry : fs::directory_iterator(dir_))
            made.push_back(entry.path().filename().string());
        if (c.says) {
            EXPECT_EQ(status, 2) << out;
            EXPECT_NE(flat(err).find(flat("nothing was written: '" + (dir_ / c.name).string())),
                      std::string::npos)
                << err;
            EXPECT_NE(flat(err).find(c.says), std::string::npos) << err;
            EXPECT_EQ(made, std::vector<std::string>{"checked"});
        } else {
            EXPECT_EQ(status, 0) << err;
            EXPECT_EQ(made.size(), 2u);
        }
    }
}

// A write that fails says the real reason; a file that could not be filled is removed again,
// and only that one: a file that was there before stays as it was.
TEST_F(check_files, a_failed_write_says_why_and_leaves_nothing_of_its_own) {
    const std::string settings = write(check::settings_template(), "game/aimingSets.dat");
    const std::string mine = write("my own picture", "mine.svg");
    const std::string long_name = (dir_ / (std::string(300, 'a') + ".svg")).string();
    struct failure_case {
        const char* option;
        std::string path;
        std::size_t room; // bytes the disk takes
        std::string says;
    };
    const failure_case cases[] = {
        {"--svg", (dir_ / "aim.svg").string(), 100, "the disk is full"},
        {"--template", (dir_ / "fresh.dat").string(), 0, "the disk is full"},
        {"--svg", long_name, SIZE_MAX, "is not a name the system allows for a file"},
        {"--template", (dir_ / "none" / "fresh.dat").string(), SIZE_MAX,
         "the folder of '" + (dir_ / "none" / "fresh.dat").string() + "' does not exist"},
        {"--svg", mine, 0, "already exists and is left as it is"},
    };
    for (const failure_case& c : cases) {
        SCOPED_TRACE(c.path);
        pretend_surroundings around((dir_ / "game").string());
        around.fill_disk_after(c.room);
        std::vector<std::string> args = {c.option, c.path};
        if (args[0] == "--svg") args.push_back(settings);
        std::string out, err;
        EXPECT_EQ(check::run_check_command(args, out, err), 2);
        EXPECT_NE(flat(err).find(c.says), std::string::npos) << err;
        EXPECT_EQ(flat(err).find("Choose a folder you can write to"), std::string::npos) << err;
        EXPECT_EQ(read(mine), "my own picture");
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir_))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"game", "mine.svg"}));
    }
}

// Double-clicked beside a settings file that corvane will not read under its name or where it
// lies: what the file would do is shown, but the run fails and its last words say why.
TEST_F(check_files, a_misnamed_file_is_never_called_clean) {
    const std::vector<std::pair<std::string, std::string>> misnamed = {
        {"aimingSets.dat.txt", "renamed to aimingSets.dat"},
        {"AIMINGSETS.DAT.TXT", "renamed to aimingSets.dat"},
        {"AimingSets.DAT", "renamed to aimingSets.dat"},
        {"aimingSets.txt", "renamed to aimingSets.dat"},
        {"aimingSets.dat.dat", "renamed to aimingSets.dat"},
        {"aimingSets", "renamed to aimingSets.dat"},
        {"aimingSets (1).dat", "renamed to aimingSets.dat"},
        {"aimingSets - Copy.dat", "renamed to aimingSets.dat"},
        {"Copy of aimingSets.dat", "renamed to aimingSets.dat"},
        {"aimingSet.dat", "renamed to aimingSets.dat"},
        {"aimnigSets.dat", "renamed to aimingSets.dat"},
        {"mods/aimingSets.dat", "moved up into the folder that holds corvane.dll"},
        {"mods/aimingSets.dat.txt",
         "moved up into the folder that holds corvane.dll and renamed to aimingSets.dat"},
    };
    for (const auto& [name, until] : misnamed) {
        SCOPED_TRACE(name);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        write(check::settings_template(), name);
        const pretend_surroundings around(dir_.string());
        std::string out, err;
        EXPECT_EQ(check::run_check_command({}, out, err), 2);
        EXPECT_EQ(out.find("clean"), std::string::npos) << out;
        // The last sentence on screen, however it was wrapped.
        std::string last = flat(out);
        last = last.substr(last.rfind(". ", last.size() - 3) + 2);
        EXPECT_EQ(last, "corvane will not read " + name + " until it is " + until + ". ") << out;
        out.clear();
        EXPECT_EQ(check::run_check_command({"--json"}, out, err), 2);
        EXPECT_NE(out.find("\"not_read_until\": \"it is " + until + "\""), std::string::npos)
            << out;
    }
}

// The default report fits a console window of 80 columns, on the sample, on a file full of
// mistakes, and with what is said around it: what lies in the folder, and the game's build. 79
// columns at most: a line of 80 fills the window's width, and the console adds a blank line.
TEST_F(check_files, every_line_fits_79_columns) {
    const std::string faults = read(CHECK_TEST_FILES "/sample_with_faults.dat");
    std::vector<std::string> outputs;
    for (const std::string& content : {std::string(check::settings_template()), faults}) {
        std::string out, err;
        check::run_check_command({write(content, "a.dat")}, out, err);
        outputs.push_back(out);
    }
    write(faults, "aimingSets (1).dat");
    write(program_bytes({{code_with(other_code)}}), "game.exe");
    write("MZ", "launcher.exe");
    {
        const pretend_surroundings around(dir_.string());
        std::string out, err;
        EXPECT_EQ(check::run_check_command({}, out, err), 2);
        outputs.push_back(out);
    }
    for (const std::string& out : outputs) {
        ASSERT_NE(out.find("summary:"), std::string::npos) << out;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(check::columns(line), 79u) << line;
    }
    // So do the usage, which a forgotten name or a mistyped option shows, a refused name, and
    // the words for corvane found in a folder below or nowhere.
    std::string err;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--svg"},
                                                 {"--svg", "NUL.svg", "a.dat"},
                                                 {"--template", "aimingSets.dat."}}) {
        std::string out;
        EXPECT_EQ(check::run_check_command(args, out, err), 2);
    }
    write("MZ", "plugins/corvane.dll");
    {
        const pretend_surroundings around(dir_.string());
        std::string out;
        EXPECT_EQ(check::run_check_command({}, out, err), 2);
        err += out;
        fs::remove(dir_ / "plugins" / "corvane.dll");
        EXPECT_EQ(check::run_check_command({}, out, err), 2);
        err += out;
    }
    ASSERT_NE(err.find("usage:"), std::string::npos) << err;
    ASSERT_NE(err.find("Found corvane.dll in the folder plugins"), std::string::npos) << err;
    ASSERT_NE(err.find("There is no corvane.dll"), std::string::npos) << err;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(check::columns(line), 79u) << line;
}

} // namespace

// corvane reads nothing from a settings path longer than 260 characters: the checker says so
// from the module's own rule, and passes a path of exactly 260.
TEST_F(check_files, a_path_too_long_for_corvane_is_never_clean) {
    const std::string file_name = "/aimingSets.dat";
    for (const std::size_t length : {std::size_t{260}, std::size_t{261}}) {
        SCOPED_TRACE(length);
        const std::size_t folder = length - dir_.string().size() - 1 - file_name.size();
        const std::string name = std::to_string(length) + std::string(folder - 3, 'd');
        const std::string path = write(check::settings_template(), name + file_name);
        ASSERT_EQ(path.size(), length);
        std::string out, err;
        const int status = check::run_check_command({path}, out, err);
        if (length == 260) {
            EXPECT_EQ(status, 0) << out << err;
            continue;
        }
        EXPECT_EQ(status, 2) << out;
        EXPECT_NE(flat(out).find("corvane will not read " + path +
                                 " until it lies in a folder with a shorter path (its path "
                                 "would be longer than 260 characters: 261)"),
                  std::string::npos)
            << out;
        out.clear();
        EXPECT_EQ(check::run_check_command({"--json", path}, out, err), 2);
        EXPECT_NE(nlohmann::json::parse(out).value("not_read_until", "").find("260 characters"),
                  std::string::npos)
            << out;
    }
}

// Errors carry a fixed code for tools beside their words, never the system's own message for a
// folder.
TEST_F(check_files, errors_carry_a_fixed_code) {
    fs::create_directory(dir_ / "folder");
    const std::pair<std::string, const char*> cases[] = {
        {(dir_ / "none.dat").string(), "not_found"},
        {(dir_ / "folder").string(), "is_a_folder"},
    };
    for (const auto& [path, code] : cases) {
        SCOPED_TRACE(path);
        std::string out, err;
        EXPECT_EQ(check::run_check_command({"--json", path}, out, err), 2);
        const nlohmann::json doc = nlohmann::json::parse(out);
        EXPECT_EQ(doc.value("error_code", ""), code) << out;
        EXPECT_EQ(doc.value("error", "").find("denied"), std::string::npos) << out;
    }
    // Double-clicked where there is no settings file at all.
    const pretend_surroundings around((dir_ / "folder").string());
    std::string out, err;
    EXPECT_EQ(check::run_check_command({"--json"}, out, err), 2);
    EXPECT_EQ(nlohmann::json::parse(out).value("error_code", ""), "not_found") << out;
}

// A tune key set for a file corvane cannot save into: the tunes are lost when the game ends.
TEST_F(check_files, tunes_that_cannot_be_saved_are_warned_about) {
    std::string text = check::settings_template();
    const std::string tune_line = "#tune_key none";
    text.replace(text.find(tune_line), tune_line.size(), "tune_key F8  ");
    const std::string path = write(text, "game/aimingSets.dat");
    int tune_line_number = 1;
    for (std::size_t at = 0; (at = text.find('\n', at)) < text.find("tune_key F8"); ++at)
        ++tune_line_number;
    struct access_case {
        const char* name;
        fs::perms file, folder;
        const char* says; // "" for no warning
    };
    const fs::perms all = fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all;
    const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read |
                                fs::perms::others_read | fs::perms::owner_exec |
                                fs::perms::others_exec | fs::perms::group_exec;
    const access_case cases[] = {
        {"writable", all, all, ""},
        {"file_read_only", read_only, all, "this file is read-only"},
        {"folder_read_only", all, read_only, "the folder that holds this file is read-only"},
    };
    for (const access_case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::permissions(path, c.file);
        fs::permissions(dir_ / "game", c.folder);
        const check::check_result result = check::check_settings_file(path);
        fs::permissions(dir_ / "game", all);
        fs::permissions(path, all);
        const auto found =
            std::find_if(result.warnings.begin(), result.warnings.end(),
                         [](const auto& w) { return w.code == warning_code::tunes_not_saved; });
        if (!*c.says) {
            EXPECT_EQ(found, result.warnings.end()) << check::text_report(result);
            EXPECT_EQ(result.exit_status(), 0);
            continue;
        }
        ASSERT_NE(found, result.warnings.end()) << check::text_report(result);
        EXPECT_EQ(found->line, tune_line_number);
        EXPECT_NE(found->message.find(c.says), std::string::npos) << found->message;
        EXPECT_NE(found->message.find("cannot save a tune"), std::string::npos);
        EXPECT_EQ(result.exit_status(), 1);
    }
    // Without a tune key nothing is saved, and nothing is said.
    const std::string plain = write(check::settings_template(), "other/aimingSets.dat");
    fs::permissions(plain, read_only);
    const check::check_result result = check::check_settings_file(plain);
    fs::permissions(plain, all);
    EXPECT_EQ(result.exit_status(), 0) << check::text_report(result);
}

// A copy of the settings file saved after it is named: the player may have edited the copy.
// corvane's own backup is never one, and never a file to rename.
TEST_F(check_files, a_newer_copy_beside_the_settings_file_is_named) {
    write("MZ", "corvane.dll");
    const std::string settings = write(check::settings_template());
    const auto now = fs::last_write_time(settings);
    const std::pair<const char*, bool> copies[] = {
        {"aimingSets.dat.txt", true},  {"aimingSets (1).dat", true},  {"aimingSets.dat.bak", false},
        {"aimingSets.dat.new", false}, {"other_settings.dat", false},
    };
    for (const auto& [name, named] : copies) {
        write(check::settings_template(), name);
        fs::last_write_time(dir_ / name, now + std::chrono::hours(1));
    }
    write(check::settings_template(), "older (2).dat");
    const pretend_surroundings around(dir_.string());
    std::string out, err;
    EXPECT_EQ(check::run_check_command({}, out, err), 0) << out << err;
    for (const auto& [name, named] : copies)
        EXPECT_EQ(flat(out).find(std::string(name) + " beside it was saved after it") !=
                      std::string::npos,
                  named)
            << name << " in:\n"
            << out;
    // With no aimingSets.dat, the backup is not offered as the file to rename.
    fs::remove(settings);
    out.clear();
    EXPECT_EQ(check::run_check_command({}, out, err), 2);
    EXPECT_EQ(out.find("Found aimingSets.dat.bak"), std::string::npos) << out;
    EXPECT_NE(out.find("Found aimingSets.dat.txt"), std::string::npos) << out;
}

// Every option the same way: taken once, and never followed by another option as its value.
TEST_F(check_files, options_are_refused_alike) {
    const std::string file = write(check::settings_template());
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--svg", "--json", file}, "--svg needs a file name after it"},
        {{"--game", "--json", file}, "--game needs a file name after it"},
        {{"--json", "--json", file}, "--json is given twice"},
        {{"--svg", "a.svg", "--svg", "b.svg", file}, "--svg is given twice"},
        {{"--template", "--template"}, "--template is given twice"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(says);
        std::string out, err;
        EXPECT_EQ(check::run_check_command(args, out, err), 2);
        EXPECT_NE(err.find(says), std::string::npos) << err;
        EXPECT_EQ(out, "");
    }
    EXPECT_FALSE(fs::exists("--json"));
    // Double-clicked with a picture asked for where there is no settings file: said, not silent.
    fs::remove(file);
    const pretend_surroundings around(dir_.string());
    std::string out, err;
    EXPECT_EQ(check::run_check_command({"--svg", (dir_ / "aim.svg").string()}, out, err), 2);
    EXPECT_NE(flat(err).find("no picture was drawn: there is no settings file"), std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists(dir_ / "aim.svg"));
}

// The table of files and command lines that the Windows build runs under Wine too
// (test_files/command_table.tsv): each with its exit status and words its output holds.
TEST_F(check_files, the_command_table) {
    std::ifstream table(std::string(CHECK_TEST_FILES) + "/command_table.tsv");
    ASSERT_TRUE(table) << "command_table.tsv";
    int rows = 0;
    for (std::string row; std::getline(table, row);) {
        if (row.empty() || row[0] == '#') continue;
        std::vector<std::string> cells;
        std::istringstream fields(row);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        ASSERT_EQ(cells.size(), 6u) << row;
        SCOPED_TRACE(cells[0]);
        ++rows;
        std::vector<std::string> lines;
        std::istringstream starter(check::settings_template());
        for (std::string line; std::getline(starter, line);)
            lines.push_back(line);
        if (const int line = std::stoi(cells[1])) lines.at(line - 1) = cells[2];
        const std::string file = write(join(lines), cells[0] + "/aimingSets.dat");
        std::vector<std::string> args;
        std::istringstream words(cells[3]);
        for (std::string word; words >> word;)
            args.push_back(word == "FILE" ? file : word);
        std::string out, err;
        EXPECT_EQ(check::run_check_command(args, out, err), std::stoi(cells[4])) << out << err;
        EXPECT_NE(flat(out + err).find(cells[5]), std::string::npos) << out << err;
        if (std::find(args.begin(), args.end(), "--json") != args.end() && cells[4] != "2") {
            EXPECT_TRUE(nlohmann::json::accept(out)) << out;
        }
    }
    EXPECT_GT(rows, 0);
}

// Weapon lines deleted: the heading and the switched-off named lines below line 31 slide up
// among the weapon lines, and show the shift as the labels above line 16 do. Their hints lead to
// the deleted lines, never to a name they resemble.
TEST_F(check_files, lines_deleted_among_the_weapon_lines_show_by_what_slid_up) {
    std::vector<std::string> lines;
    std::istringstream in(check::settings_template());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    lines.erase(lines.begin() + 23, lines.begin() + 25); // lines 24 and 25, unused slots
    const check::check_result result = check(join(lines));
    const auto shifted =
        std::find_if(result.warnings.begin(), result.warnings.end(),
                     [](const auto& w) { return w.code == warning_code::line_shifted; });
    ASSERT_NE(shifted, result.warnings.end()) << check::text_report(result);
    EXPECT_EQ(shifted->line, 30);
    EXPECT_NE(shifted->message.find("line 30 holds what the starter file puts on line 32: 2 "
                                    "lines seem to be missing above"),
              std::string::npos)
        << shifted->message;
    for (const check::check_warning& w : result.warnings) {
        if (w.line != 31) continue;
        EXPECT_EQ(w.hint.find("did you mean"), std::string::npos) << w.hint;
        EXPECT_NE(w.hint.find("see line 30 first"), std::string::npos) << w.hint;
    }
}

namespace {

// Windows' VirtualStore (stood in for: Wine has none): a copy of aimingSets.dat or corvane.log
// that Windows keeps for the game in the player's VirtualStore folder, by the module's rule, is
// named with the file the game reads and how to end the split, where it differs from the file in
// the game's folder; the report of the folder says it too.
class virtual_store_beside : public check_test::test_folder {};

TEST_F(virtual_store_beside, a_virtual_store_copy_that_differs_is_named_with_the_way_out) {
    struct store_case {
        const char* name;
        const char* local;         // LOCALAPPDATA below the test's folder; null: not set
        const char* settings_copy; // the copy's bytes; null: none
        const char* log_copy;
        const char* says; // empty: nothing
    };
    const std::string settings = "reload_every_frame 0\n";
    const store_case cases[] = {
        {"copy_differs", "local", "reload_every_frame 1\n", nullptr,
         "aimingSets.dat: Windows keeps a second copy in LOCAL\\VirtualStoreDIR/aimingSets.dat, "
         "and it differs from the file in the game's folder. The game reads that copy"},
        {"copy_the_same", "local", "reload_every_frame 0\n", nullptr, ""},
        {"no_copy", "local", nullptr, nullptr, ""},
        {"no_local_folder", nullptr, "reload_every_frame 1\n", nullptr, ""},
        {"log_there", "local", nullptr, "corvane 1.0\n",
         "corvane.log: the game writes corvane's log into LOCAL\\VirtualStoreDIR/corvane.log, not "
         "beside corvane.dll"},
    };
    auto& environment = os::stand_in::current().environment;
    for (const store_case& c : cases) {
        SCOPED_TRACE(c.name);
        write(settings);
        write("", "corvane.dll");
        const std::string local = (dir_ / "local").string();
        environment.erase("LOCALAPPDATA");
        if (c.local) environment["LOCALAPPDATA"] = local;
        const std::string dir = dir_.string();
        auto lay = [&](const char* bytes, const char* name) {
            if (!bytes) return;
            const fs::path copy = check::virtual_store_path(local, check::path_in(dir, name));
            fs::create_directories(copy.parent_path());
            std::FILE* file = std::fopen(copy.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            std::fputs(bytes, file);
            std::fclose(file);
        };
        lay(c.settings_copy, "aimingSets.dat");
        lay(c.log_copy, "corvane.log");

        std::string says = c.says;
        for (std::size_t at; (at = says.find("LOCAL")) != std::string::npos;)
            says.replace(at, 5, local);
        for (std::size_t at; (at = says.find("DIR")) != std::string::npos;)
            says.replace(at, 3, dir);
        const std::string text = check::virtual_store_text(dir);
        if (says.empty()) {
            EXPECT_EQ(text, "");
        } else {
            EXPECT_NE(flat(text).find(says), std::string::npos) << text;
            if (c.settings_copy) {
                EXPECT_NE(flat(text).find("delete the copy in VirtualStore"), std::string::npos);
            }
            // The report of the folder says it too.
            const pretend_surroundings around(dir);
            std::string out, err;
            check::run_check_command({}, out, err);
            EXPECT_NE(flat(out).find(says), std::string::npos) << out;
        }
        fs::remove_all(local);
    }
    environment.erase("LOCALAPPDATA");
}

} // namespace
