// corvane-check on the named lines: the finding each line gets, the settings in effect, the text
// section and the JSON.
#include "tools/check/settings_check.h"

#include "tools/check/check_text.h"
#include "tools/check/tests/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace {

using check_test::test_folder;

// The starter file's 31 positional lines, then `lines` by number: a number up to 31 replaces
// that line, a later one is placed there with blank lines before it where needed.
std::string file_with(const std::vector<std::pair<int, std::string>>& lines) {
    std::vector<std::string> text;
    std::istringstream in(check::settings_template());
    for (std::string line; text.size() < 31 && std::getline(in, line);)
        text.push_back(line);
    for (const auto& [number, line] : lines) {
        if (static_cast<int>(text.size()) < number) text.resize(number);
        text[number - 1] = line;
    }
    std::string joined;
    for (const std::string& line : text)
        joined += line + "\r\n";
    return joined;
}

check::check_result checked(const std::string& content) {
    plugin::settings_reader reader(content.data(), content.size());
    return check::check_settings_stream(reader, "aimingSets.dat");
}

struct expected_finding {
    int line;
    const char* code;
    const char* says;      // a piece of the message
    const char* hint = ""; // a piece of the hint
};

struct named_case {
    const char* name;
    std::vector<std::pair<int, std::string>> lines;
    std::vector<expected_finding> warnings; // exactly these, in this order
    std::vector<expected_finding> notes = {};
    std::map<std::string, std::string> in_effect = {}; // the settings that are not at default
};

void PrintTo(const named_case& c, std::ostream* os) {
    *os << c.name;
}

// The defaults a file without named lines keeps: keys Z and X, no toggle, an instant swing,
// the factor -3, and no tuning with keys (a step of 0.05 when a tune key is set).
const std::map<std::string, std::string> defaults = {
    {"key_normal", "Z"}, {"key_mirrored", "X"},   {"key_toggle", "none"}, {"pad_toggle", "none"},
    {"swing_ms", "0"},   {"mirror_factor", "-3"}, {"tune_key", "none"},   {"tune_step", "0.05"},
};

std::vector<named_case> named_cases() {
    std::vector<std::pair<int, std::string>> up_to_limit;
    for (int line = 32; line <= 94; ++line)
        up_to_limit.emplace_back(line, "# a comment is never a named line");
    up_to_limit.emplace_back(95, "key_toggle Q");
    up_to_limit.emplace_back(96, "swing_ms 250");
    up_to_limit.emplace_back(97, "# nor past the limit");
    up_to_limit.emplace_back(98, "pad_toggle A");
    return {
        {"no_named_lines", {}, {}},
        {"every_setting_in_any_case",
         {{32, "KEY_NORMAL q"},
          {33, "Key_Mirrored mouse4"},
          {34, "key_toggle capslock"},
          {35, "pad_toggle rightshoulder"},
          {36, "swing_ms 2000 the longest"},
          {37, "mirror_factor -10"},
          {38, "Tune_Key f8"},
          {39, "TUNE_STEP 0.001"}},
         {},
         {},
         {{"key_normal", "Q"},
          {"key_mirrored", "Mouse4"},
          {"key_toggle", "CapsLock"},
          {"pad_toggle", "RightShoulder"},
          {"swing_ms", "2000"},
          {"mirror_factor", "-10"},
          {"tune_key", "F8"},
          {"tune_step", "0.001"}}},
        {"a_tune_key_that_is_also_the_other_shoulders_key",
         {{32, "key_mirrored M"}, {33, "tune_key m"}},
         {{33, "named_key_clash",
           "tune_key M is also key_mirrored: holding it to tune does that "
           "key's work too",
           "such as F8"}},
         {},
         {{"key_mirrored", "M"}, {"tune_key", "M"}}},
        {"a_tune_key_that_is_one_of_the_keys_it_brings_in",
         {{32, "tune_key Up"}},
         {{32, "named_key_clash", "tune_key Up is also one of the keys that move the aim point",
           "such as F8"}},
         {},
         {{"tune_key", "Up"}}},
        // Two aim-mode keys on one key: one mode cannot be reached by its key.
        {"the_normal_key_set_to_the_other_shoulders_key",
         {{32, "key_normal X"}},
         {{32, "named_key_clash",
           "key_normal X is also key_mirrored: held, it chooses the normal aim, so no key held "
           "chooses the other shoulder",
           "a key of its own"}},
         {},
         {{"key_normal", "X"}}},
        {"the_toggle_set_to_the_normal_key",
         {{33, "key_toggle Z"}},
         {{33, "named_key_clash",
           "key_toggle Z is also key_normal: each press swaps, and then the held key chooses the "
           "normal aim"}},
         {},
         {{"key_toggle", "Z"}}},
        {"the_other_shoulders_key_set_later_to_the_toggle",
         {{32, "key_toggle Q"}, {34, "key_mirrored q"}},
         {{34, "named_key_clash",
           "key_mirrored Q is also key_toggle: each press swaps, and then the held key chooses "
           "the other shoulder, so the swap never comes back"}},
         {},
         {{"key_toggle", "Q"}, {"key_mirrored", "Q"}}},
        {"no_key_at_all_for_both_modes_is_no_clash",
         {{32, "key_normal none"}, {33, "key_mirrored none"}},
         {},
         {},
         {{"key_normal", "none"}, {"key_mirrored", "none"}}},
        {"a_tune_key_of_its_own_is_fine",
         {{32, "tune_key F8"}, {33, "key_toggle F9"}},
         {},
         {},
         {{"tune_key", "F8"}, {"key_toggle", "F9"}}},
        {"a_misspelt_tune_key_and_a_step_out_of_range",
         {{32, "tune_kye F8"}, {33, "tune_step 2"}, {34, "tune_key insert"}},
         {{32, "named_unknown_name", "'tune_kye'", "did you mean 'tune_key'?"},
          {33, "named_out_of_range", "'2' is outside 0.001 to 1", ""}},
         {},
         {{"tune_key", "Insert"}}},
        {"none_takes_a_key_away", {{40, "key_normal none"}}, {}, {}, {{"key_normal", "none"}}},
        {"unknown_name_with_the_closest_known_name",
         {{37, "key_mirorred M"}},
         {{37, "named_unknown_name",
           "'key_mirorred' is not a setting corvane knows; the line sets nothing",
           "did you mean 'key_mirrored'?"}}},
        {"unknown_name_in_other_case_still_gets_a_suggestion",
         {{32, "Swing_Sm 100"}},
         {{32, "named_unknown_name", "'Swing_Sm'", "did you mean 'swing_ms'?"}}},
        {"unknown_name_with_nothing_close",
         {{32, "camera_speed 5"}},
         {{32, "named_unknown_name", "'camera_speed' is not a setting",
           "the settings a named line can give: key_normal, key_mirrored, key_toggle, "
           "pad_toggle, swing_ms, mirror_factor, tune_key, tune_step"}}},
        {"a_short_unknown_name_is_not_taken_for_a_long_one",
         {{32, "swing 100"}},
         {{32, "named_unknown_name", "'swing'", "the settings a named line can give"}}},
        {"a_weapon_line_below_line_31",
         {{32, "40 1 1 1"}},
         {{32, "named_unknown_name", "'40'", "weapon lines go on lines 16 to 31"}}},
        {"out_of_range_above",
         {{32, "swing_ms 2001"}},
         {{32, "named_out_of_range", "swing_ms: '2001' is outside 0 to 2000",
           "without a line that sets it, swing_ms stays 0"}}},
        {"out_of_range_below",
         {{32, "mirror_factor -10.5"}},
         {{32, "named_out_of_range", "'-10.5' is outside -10 to 10",
           "mirror_factor takes a number from -10 to 10"}}},
        {"key_code_out_of_range",
         {{32, "key_toggle 0xFF"}},
         {{32, "named_out_of_range", "'0xFF' is outside 0x01 to 0xFE",
           "key_toggle takes a key name (such as Q, F5, Mouse4), a code 0x01 to 0xFE, or none"}}},
        {"key_code_without_a_name", {{32, "key_toggle 0xBA"}}, {}, {}, {{"key_toggle", "0xBA"}}},
        {"key_name_typo",
         {{32, "key_toggle Spcae"}},
         {{32, "named_bad_value", "key_toggle: 'Spcae' is not a key name",
           "did you mean 'Space'? Without a line that sets it, key_toggle stays none"}}},
        {"key_name_with_nothing_close",
         {{32, "key_mirrored Escape"}},
         {{32, "named_bad_value", "'Escape' is not a key name", "\"Your own keys\""}}},
        {"button_name_typo",
         {{32, "pad_toggle RightShoulders"}},
         {{32, "named_bad_value", "'RightShoulders' is not a gamepad button name",
           "did you mean 'RightShoulder'?"}}},
        {"button_name_with_nothing_close",
         {{32, "pad_toggle Guide"}},
         {{32, "named_bad_value", "'Guide'", "the buttons: A, B, X, Y, LeftShoulder"}}},
        {"not_a_number", {{32, "swing_ms fast"}}, {{32, "named_bad_value", "'fast'", "0 to 2000"}}},
        {"name_without_value",
         {{32, "mirror_factor"}},
         {{32, "named_no_value", "mirror_factor has no value", "e.g. 'mirror_factor -3'"}}},
        {"a_repeat_sets_nothing_and_the_first_counts",
         {{32, "key_toggle Q"}, {33, "swing_ms 100"}, {34, "key_toggle E"}},
         {{34, "named_repeat", "key_toggle is already set on line 32",
           "remove this line, or change line 32"}},
         {},
         {{"key_toggle", "Q"}, {"swing_ms", "100"}}},
        {"a_line_that_sets_nothing_does_not_block_a_later_one",
         {{32, "key_toggle Qx"}, {33, "key_toggle E"}},
         {{32, "named_bad_value", "'Qx'"}},
         {},
         {{"key_toggle", "E"}}},
        {"named_line_among_the_weapon_lines",
         {{20, "key_mirrored M"}, {32, "key_mirrored N"}},
         {{32, "named_repeat", "already set on line 20"}},
         {{20, "named_among_weapon_lines", "'key_mirrored' among the weapon lines is read",
           "fine as it is"}},
         {{"key_mirrored", "M"}}},
        {"unknown_word_among_the_weapon_lines_stays_a_weapon_line",
         {{20, "key_mirorred M"}},
         {{20, "weapon_incomplete", "no weapon type", "did you mean 'key_mirrored'?"}}},
        {"weapon_line_with_a_label_keeps_its_hint",
         {{20, "pistol 24 0.5 0.2 0.1"}},
         {{20, "weapon_incomplete", "no weapon type", "start with the weapon type"}}},
        {"bad_named_line_among_the_weapon_lines",
         {{25, "swing_ms 9000"}, {28, "22 1 1 1"}},
         {{25, "named_out_of_range", "'9000' is outside 0 to 2000"},
          {28, "weapon_duplicate", "already given on line 17"}},
         {{25, "named_among_weapon_lines", "'swing_ms'"}}},
        {"lines_past_the_limit",
         up_to_limit,
         {{96, "extra_lines", "2 lines after line 95 hold text that corvane does not read",
           "move the ones you need higher up"}},
         {},
         {{"key_toggle", "Q"}}},
    };
}

class named_lines : public ::testing::TestWithParam<named_case> {};

void expect_exactly(const std::vector<check::check_warning>& found,
                    const std::vector<expected_finding>& expected, const std::string& report) {
    std::vector<std::pair<int, std::string>> got, wanted;
    for (const check::check_warning& w : found)
        got.emplace_back(w.line, check::finding_name(w));
    for (const expected_finding& w : expected)
        wanted.emplace_back(w.line, w.code);
    ASSERT_EQ(got, wanted) << report;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NE(found[i].message.find(expected[i].says), std::string::npos) << found[i].message;
        EXPECT_NE(found[i].hint.find(expected[i].hint), std::string::npos) << found[i].hint;
        EXPECT_FALSE(found[i].hint.empty()) << found[i].message;
    }
}

TEST_P(named_lines, finding_and_settings_in_effect) {
    const named_case& c = GetParam();
    const check::check_result result = checked(file_with(c.lines));
    const std::string report = check::text_report(result);
    expect_exactly(result.warnings, c.warnings, report);
    // The starter file leaves lines 3 to 14 to the game, with a note each: not what this is about.
    std::vector<check::check_warning> notes;
    for (const check::check_warning& note : result.notes)
        if (note.line >= plugin::named_among_weapons) notes.push_back(note);
    expect_exactly(notes, c.notes, report);
    EXPECT_EQ(result.exit_status(), c.warnings.empty() ? 0 : 1);

    std::map<std::string, std::string> in_effect = defaults, shown;
    for (const auto& [name, value] : c.in_effect)
        in_effect.at(name) = value;
    for (const plugin::named_setting_row& row : plugin::named_settings_table)
        shown[row.name] = plugin::named_value_display(
                              row, result.named.in_effect.value[static_cast<int>(row.setting)])
                              .text;
    EXPECT_EQ(shown, in_effect) << report;

    // The section is there exactly when the file has named lines, and fits 79 columns.
    const std::string section = check::named_lines_text(result);
    EXPECT_EQ(section.empty(), result.named.lines.empty());
    EXPECT_EQ(report.find("named lines") != std::string::npos, !result.named.lines.empty());
    std::istringstream lines(section);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(check::columns(line), 79u) << line;
}

INSTANTIATE_TEST_SUITE_P(cases, named_lines, ::testing::ValuesIn(named_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Each named line shows what it sets in the setting's own words, or that it sets nothing; then
// every setting in effect and where it comes from.
TEST(named_lines_text, shows_what_each_line_sets_and_the_settings_in_effect) {
    const check::check_result result = checked(file_with({{20, "pad_toggle Start"},
                                                          {33, "swing_ms 250"},
                                                          {34, "swing_ms 300"},
                                                          {35, "key_mirorred M"},
                                                          {36, "swing_ms"}}));
    const std::string section = check::named_lines_text(result);
    const std::vector<std::string> in_order = {
        "  line 20  pad_toggle Start\n           sets the gamepad button whose each press swaps",
        "  line 33  swing_ms 250\n           sets how many milliseconds the swing",
        "  line 34  swing_ms 300\n           sets nothing: line 33 already set swing_ms\n",
        "  line 35  key_mirorred M\n           sets nothing: see the warnings below\n",
        "  line 36  swing_ms\n           sets nothing: see the warnings below\n",
        "  key_mirrored   X              default\n",
        "  pad_toggle     Start          from line 20\n",
        "  swing_ms       250            from line 33\n",
    };
    std::size_t from = 0;
    for (const std::string& piece : in_order) {
        const std::size_t at = section.find(piece, from);
        EXPECT_NE(at, std::string::npos) << "'" << piece << "' in order in:\n" << section;
        if (at != std::string::npos) from = at + piece.size();
    }
    EXPECT_EQ(result.positions.at(19).takes, "no entry: a named line");
}

// The shipped starter file ends with every named line commented out at its default: it checks
// clean as it is, and with any of them switched on by removing its '#'.
TEST(named_lines_text, starter_file_with_its_named_lines_commented_out_or_on_checks_clean) {
    std::vector<std::pair<int, std::string>> commented, on;
    int line = 33;
    for (const plugin::named_setting_row& row : plugin::named_settings_table) {
        const std::string text =
            std::string(row.name) + " " + plugin::named_value_display(row, row.default_value).text;
        commented.emplace_back(line, "# " + text);
        on.emplace_back(line++, text);
    }
    const check::check_result off = checked(file_with(commented));
    EXPECT_EQ(off.exit_status(), 0) << check::text_report(off);
    EXPECT_TRUE(off.named.lines.empty());
    for (const check::check_warning& note : off.notes) // only those of the labels left alone
        EXPECT_LT(note.line, plugin::named_among_weapons) << note.message;
    const check::check_result all_on = checked(file_with(on));
    EXPECT_EQ(all_on.exit_status(), 0) << check::text_report(all_on);
    EXPECT_EQ(all_on.named.lines.size(), on.size());
    const plugin::named_values defaults_in_effect;
    for (int i = 0; i < plugin::named_setting_count; ++i) {
        EXPECT_EQ(all_on.named.in_effect.value[i], defaults_in_effect.value[i]) << i;
        EXPECT_EQ(all_on.named.in_effect.given_by[i], 33 + i);
    }
}

// A line added above moves every line down, so a weapon line may end up below the weapon lines:
// the shift is named as the likely cause there, but not for a named line's own value or repeat.
TEST(named_lines_text, a_shift_above_explains_a_weapon_line_pushed_down_but_no_named_value) {
    std::string content = file_with(
        {{31, "40 1 1 1"}, {32, "swing_ms 5000"}, {33, "key_toggle Q"}, {34, "key_toggle E"}});
    std::size_t after_line_5 = 0;
    for (int line = 1; line <= 5; ++line)
        after_line_5 = content.find("\r\n", after_line_5) + 2;
    content.insert(after_line_5, "my_value 2.0\r\n"); // every later line moves down one
    const check::check_result result = checked(content);
    std::map<std::string, bool> explained;
    for (const check::check_warning& w : result.warnings)
        explained[check::finding_name(w)] =
            w.message.find("likely because of the extra line") != std::string::npos;
    const std::map<std::string, bool> expected = {
        {"line_shifted", false},      {"missing_values", true},      {"weapon_incomplete", true},
        {"named_unknown_name", true}, {"named_out_of_range", false}, {"named_repeat", false},
    };
    EXPECT_EQ(explained, expected) << check::text_report(result);
}

TEST(closest_name, offers_a_name_only_when_it_is_a_likely_slip) {
    const std::vector<std::string> names = {"key_normal", "key_mirrored", "swing_ms", "F2", "F3"};
    const std::pair<const char*, const char*> cases[] = {
        {"key_mirorred", "key_mirrored"}, // two letters swapped
        {"KEY_NORMAL_", "key_normal"},    // any case, one letter too many
        {"swingms", "swing_ms"},          // one letter missing
        {"swin_gs", "swing_ms"},          // 2 edits in 7 letters
        {"swing", ""},                    // 3 edits
        {"F4", ""},                       // 1 edit in 2 letters is a different name
        {"F22", "F2"},                    // the first of equally close names
        {"", ""},
    };
    for (const auto& [word, expected] : cases)
        EXPECT_EQ(check::closest_name(word, names), expected) << word;
}

class named_lines_json : public test_folder {};

// --json carries each named line (its warnings, notes and suggestion) and the settings in
// effect, with the value as a key code, a button bit or a number.
TEST_F(named_lines_json, carries_the_named_lines_and_the_settings_in_effect) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 is needed to read the JSON back";
    }
    const std::string file = write(file_with({{20, "key_mirrored M"},
                                              {32, "key_mirorred N"},
                                              {33, "swing_ms 250"},
                                              {34, "swing_ms 100"},
                                              {35, "mirror_factor -1.5"},
                                              {36, "pad_toggle Y"}}));
    std::string out, err;
    ASSERT_EQ(check::run_check_command({"--json", file}, out, err), 1) << err;
    const std::string json = write(out, "report.json");
    const std::string script =
        "import json, sys\n"
        "r = json.load(open(sys.argv[1]))\n"
        "n = r['named_lines']\n"
        "assert [l['line'] for l in n] == [20, 32, 33, 34, 35, 36], n\n"
        "assert n[0]['setting'] == 'key_mirrored' and n[0]['value'] == 77, n[0]\n"
        "assert n[0]['value_shown'] == 'M' and n[0]['counts'] is True, n[0]\n"
        "assert n[0]['sets'] == 'the key held for the other shoulder', n[0]\n"
        "assert [x['code'] for x in n[0]['notes']] == ['named_among_weapon_lines'], n[0]\n"
        "assert n[0]['warnings'] == [], n[0]\n"
        "assert n[1]['setting'] is None and n[1]['name'] == 'key_mirorred', n[1]\n"
        "assert n[1]['value_text'] == 'N' and n[1]['counts'] is False, n[1]\n"
        "assert n[1]['suggestion'] == 'key_mirrored' and n[1]['sets'] is None, n[1]\n"
        "assert [x['code'] for x in n[1]['warnings']] == ['named_unknown_name'], n[1]\n"
        "assert n[2]['value'] == 250 and n[3]['counts'] is False, n\n"
        "assert [x['code'] for x in n[3]['warnings']] == ['named_repeat'], n[3]\n"
        "assert n[4]['value'] == -1.5 and n[5]['value'] == 0x8000, n\n"
        "s = r['named_settings']\n"
        "assert list(s) == ['key_normal', 'key_mirrored', 'key_toggle', 'pad_toggle',\n"
        "                   'swing_ms', 'mirror_factor', 'tune_key', 'tune_step'], s\n"
        "assert s['key_normal'] == {'value': 90, 'shown': 'Z', 'line': None,\n"
        "                           'sets': 'the key held for the normal aim'}, s\n"
        "assert s['key_mirrored']['value'] == 77 and s['key_mirrored']['line'] == 20, s\n"
        "assert s['swing_ms']['value'] == 250 and s['swing_ms']['line'] == 33, s\n"
        "assert s['mirror_factor']['value'] == -1.5, s\n"
        "assert s['key_toggle']['value'] == 0 and s['key_toggle']['shown'] == 'none', s\n"
        "codes = [w['code'] for w in r['warnings']]\n"
        "assert codes == ['named_unknown_name', 'named_repeat'], codes\n"
        "assert r['extra_lines'] == 0, r\n";
    const std::string script_file = write(script, "check_json.py");
    EXPECT_EQ(std::system(("python3 " + script_file + " " + json).c_str()), 0) << out;
}

} // namespace
