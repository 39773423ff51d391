// The named lines below the weapon lines: key and button names, one line, and a whole file's
// reading rules. Runs in both flavours, so the DLL's number reading is checked as well.
#include "plugin/settings/named_settings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using plugin::named_problem;
using plugin::named_setting;
using plugin::named_value_read;

// The Windows virtual-key codes of every key name a player may write, built from the documented
// code ranges rather than copied from the module's table.
std::map<std::string, int> documented_key_codes() {
    std::map<std::string, int> codes;
    for (int i = 0; i < 26; ++i)
        codes[std::string(1, static_cast<char>('A' + i))] = 0x41 + i;
    for (int i = 0; i < 10; ++i) {
        codes[std::string(1, static_cast<char>('0' + i))] = 0x30 + i;
        codes["Numpad" + std::to_string(i)] = 0x60 + i;
    }
    for (int i = 1; i <= 24; ++i)
        codes["F" + std::to_string(i)] = 0x70 + i - 1;
    const std::map<std::string, int> others = {
        {"Space", 0x20},       {"Tab", 0x09},       {"CapsLock", 0x14}, {"Shift", 0x10},
        {"LShift", 0xA0},      {"RShift", 0xA1},    {"Ctrl", 0x11},     {"LCtrl", 0xA2},
        {"RCtrl", 0xA3},       {"Alt", 0x12},       {"LAlt", 0xA4},     {"RAlt", 0xA5},
        {"Enter", 0x0D},       {"Backspace", 0x08}, {"Insert", 0x2D},   {"Delete", 0x2E},
        {"Home", 0x24},        {"End", 0x23},       {"PageUp", 0x21},   {"PageDown", 0x22},
        {"Up", 0x26},          {"Down", 0x28},      {"Left", 0x25},     {"Right", 0x27},
        {"MouseMiddle", 0x04}, {"Mouse4", 0x05},    {"Mouse5", 0x06},
    };
    codes.insert(others.begin(), others.end());
    return codes;
}

// The controller's documented button bits, and the module's own two for the triggers.
const std::map<std::string, std::uint32_t> documented_pad_bits = {
    {"DPadUp", 0x0001},
    {"DPadDown", 0x0002},
    {"DPadLeft", 0x0004},
    {"DPadRight", 0x0008},
    {"Start", 0x0010},
    {"Back", 0x0020},
    {"LeftThumb", 0x0040},
    {"RightThumb", 0x0080},
    {"LeftShoulder", 0x0100},
    {"RightShoulder", 0x0200},
    {"A", 0x1000},
    {"B", 0x2000},
    {"X", 0x4000},
    {"Y", 0x8000},
    {"LeftTrigger", plugin::pad_left_trigger},
    {"RightTrigger", plugin::pad_right_trigger},
};

std::string with_case(std::string text, int (*change)(int)) {
    for (char& c : text)
        c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return text;
}

named_value_read key_code(const std::string& text, int& code) {
    return plugin::key_code_from_name(text.c_str(), static_cast<int>(text.size()), code);
}

TEST(key_names, every_documented_name_reads_as_its_code_in_any_case_and_shows_back) {
    const auto codes = documented_key_codes();
    EXPECT_EQ(plugin::key_name_count, static_cast<int>(codes.size())) << "a name without a test";
    for (const auto& [name, expected] : codes) {
        for (const std::string& spelling :
             {name, with_case(name, ::tolower), with_case(name, ::toupper)}) {
            int code = -1;
            EXPECT_EQ(key_code(spelling, code), named_value_read::ok) << spelling;
            EXPECT_EQ(code, expected) << spelling;
        }
        // The name shown for a code reads back as the same code (Shift and LShift differ).
        int again = -1;
        key_code(plugin::key_display_name(expected).text, again);
        EXPECT_EQ(again, expected) << name;
    }
}

TEST(key_names, codes_none_and_what_is_not_a_key) {
    struct case_ {
        const char* text;
        named_value_read read;
        int code; // when read is ok
    };
    const case_ cases[] = {
        {"none", named_value_read::ok, 0},
        {"NONE", named_value_read::ok, 0},
        {"0x01", named_value_read::ok, 0x01},
        {"0x1", named_value_read::ok, 0x01},
        {"0xfe", named_value_read::ok, 0xFE},
        {"0XBA", named_value_read::ok, 0xBA},
        {"0x00", named_value_read::out_of_range, 0},
        {"0xFF", named_value_read::out_of_range, 0},
        {"0x100", named_value_read::out_of_range, 0},
        {"0x0000000000000041", named_value_read::ok, 0x41},
        {"0xFFFFFFFFFFFFFFFF41", named_value_read::out_of_range, 0},
        {"0x", named_value_read::invalid, 0},
        {"0xG1", named_value_read::invalid, 0},
        {"65", named_value_read::invalid, 0},
        {"F0", named_value_read::invalid, 0},
        {"F25", named_value_read::invalid, 0},
        {"Numpad10", named_value_read::invalid, 0},
        {"ZZ", named_value_read::invalid, 0},
        {"Mouse1", named_value_read::invalid, 0},
        {"nonee", named_value_read::invalid, 0},
        {"", named_value_read::invalid, 0},
    };
    for (const case_& c : cases) {
        int code = -1;
        EXPECT_EQ(key_code(c.text, code), c.read) << c.text;
        if (c.read == named_value_read::ok) {
            EXPECT_EQ(code, c.code) << c.text;
        }
    }
    EXPECT_STREQ(plugin::key_display_name(0).text, "none");
    EXPECT_STREQ(plugin::key_display_name(0xBA).text, "0xBA");
    EXPECT_STREQ(plugin::key_display_name(0x05).text, "Mouse4");
}

TEST(pad_button_names, every_name_reads_as_its_bit_in_any_case_and_unknown_ones_do_not) {
    EXPECT_EQ(plugin::pad_button_name_count, static_cast<int>(documented_pad_bits.size()));
    for (const auto& [name, expected] : documented_pad_bits) {
        for (const std::string& spelling : {name, with_case(name, ::tolower)}) {
            std::uint32_t bit = 0;
            EXPECT_EQ(
                plugin::pad_bit_from_name(spelling.c_str(), static_cast<int>(spelling.size()), bit),
                named_value_read::ok)
                << spelling;
            EXPECT_EQ(bit, expected) << spelling;
        }
        EXPECT_EQ(plugin::pad_display_name(expected).text, name);
    }
    for (const char* text : {"Guide", "LT", "DPad", "", "0x1000"}) {
        std::uint32_t bit = 7;
        EXPECT_EQ(plugin::pad_bit_from_name(text, static_cast<int>(std::strlen(text)), bit),
                  named_value_read::invalid)
            << text;
    }
    std::uint32_t bit = 7;
    EXPECT_EQ(plugin::pad_bit_from_name("None", 4, bit), named_value_read::ok);
    EXPECT_EQ(bit, 0u);
}

TEST(named_settings, the_table_holds_every_setting_in_order_with_the_old_behaviour_as_default) {
    const char* const names[] = {"key_normal", "key_mirrored",  "key_toggle", "pad_toggle",
                                 "swing_ms",   "mirror_factor", "tune_key",   "tune_step"};
    static_assert(sizeof names / sizeof names[0] == plugin::named_setting_count);
    for (int i = 0; i < plugin::named_setting_count; ++i) {
        const auto& row = plugin::named_settings_table[i];
        EXPECT_EQ(static_cast<int>(row.setting), i);
        EXPECT_STREQ(row.name, names[i]);
        EXPECT_EQ(plugin::find_named_setting(names[i], static_cast<int>(std::strlen(names[i]))),
                  &row);
    }
    const plugin::named_values defaults;
    EXPECT_EQ(defaults[named_setting::key_normal].whole, 'Z');
    EXPECT_EQ(defaults[named_setting::key_mirrored].whole, 'X');
    EXPECT_EQ(defaults[named_setting::key_toggle].whole, 0);
    EXPECT_EQ(defaults[named_setting::pad_toggle].whole, 0);
    EXPECT_EQ(defaults[named_setting::swing_ms].whole, 0);
    EXPECT_EQ(defaults[named_setting::mirror_factor].number, -3.0f);
    EXPECT_EQ(defaults[named_setting::tune_key].whole, 0); // no tuning unless asked for
    EXPECT_EQ(defaults[named_setting::tune_step].number, 0.05f);
}

TEST(named_line, one_line_read_at_its_position) {
    struct case_ {
        int line;
        const char* text;
        bool named;
        named_problem problem;
        int setting; // -1: none
        std::int32_t whole;
        float number;
    };
    constexpr int none = -1;
    constexpr auto ok = named_problem::none;
    const int key_normal = 0, key_mirrored = 1, key_toggle = 2, pad_toggle = 3, swing_ms = 4,
              mirror_factor = 5, tune_key = 6, tune_step = 7;
    const case_ cases[] = {
        {32, "key_mirrored M\n", true, ok, key_mirrored, 'M', 0},
        {32, "  KEY_Toggle\tq   the key I like\n", true, ok, key_toggle, 'Q', 0},
        {40, "key_normal none", true, ok, key_normal, 0, 0},
        {32, "pad_toggle RightShoulder", true, ok, pad_toggle, 0x200, 0},
        {32, "pad_toggle Mouse4", true, named_problem::invalid_value, pad_toggle, 0, 0},
        {32, "swing_ms 250", true, ok, swing_ms, 250, 0},
        {32, "swing_ms 0", true, ok, swing_ms, 0, 0},
        {32, "swing_ms 2000", true, ok, swing_ms, 2000, 0},
        {32, "swing_ms 2001", true, named_problem::out_of_range, swing_ms, 0, 0},
        {32, "swing_ms -1", true, named_problem::out_of_range, swing_ms, 0, 0},
        {32, "swing_ms 99999999999999", true, named_problem::out_of_range, swing_ms, 0, 0},
        {32, "swing_ms 1.5", true, named_problem::invalid_value, swing_ms, 0, 0},
        {32, "swing_ms\n", true, named_problem::no_value, swing_ms, 0, 0},
        {32, "mirror_factor -2.5", true, ok, mirror_factor, 0, -2.5f},
        {32, "mirror_factor -10", true, ok, mirror_factor, 0, -10.0f},
        {32, "mirror_factor 1e1", true, ok, mirror_factor, 0, 10.0f},
        {32, "mirror_factor 10.001", true, named_problem::out_of_range, mirror_factor, 0, 0},
        {32, "mirror_factor -inf", true, named_problem::out_of_range, mirror_factor, 0, 0},
        {32, "mirror_factor nan", true, named_problem::invalid_value, mirror_factor, 0, 0},
        {32, "mirror_factor 2x", true, named_problem::invalid_value, mirror_factor, 0, 0},
        {32, "tune_key F8", true, ok, tune_key, 0x77, 0},
        {32, "tune_step 0.001", true, ok, tune_step, 0, 0.001f},
        {32, "tune_step 1", true, ok, tune_step, 0, 1.0f},
        {32, "tune_step 0.0009", true, named_problem::out_of_range, tune_step, 0, 0},
        {32, "tune_step 1.01", true, named_problem::out_of_range, tune_step, 0, 0},
        {32, "tune_step 0", true, named_problem::out_of_range, tune_step, 0, 0},
        {32, "key_mirorred X", true, named_problem::unknown_name, none, 0, 0},
        {32, "key_normal F25", true, named_problem::invalid_value, key_normal, 0, 0},
        {32, "key_normal 0xFF", true, named_problem::out_of_range, key_normal, 0, 0},
        {95, "key_normal Q", true, ok, key_normal, 'Q', 0},
        // Not named lines: comments, blanks, past line 95, and weapon lines.
        {32, "#key_normal Z", false, ok, none, 0, 0},
        {32, "   # a comment", false, ok, none, 0, 0},
        {32, " \t\r\n", false, ok, none, 0, 0},
        {96, "key_normal Q", false, ok, none, 0, 0},
        {20, "key_mirrored M", true, ok, key_mirrored, 'M', 0},
        {31, "Swing_MS 100", true, ok, swing_ms, 100, 0},
        {20, "22 0.5 0.2 0.1", false, ok, none, 0, 0},
        {20, "key_mirorred M", false, ok, none, 0, 0},
        {15, "key_mirrored M", false, ok, none, 0, 0},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(std::to_string(c.line) + ": " + c.text);
        ASSERT_EQ(plugin::is_named_line(c.line, c.text), c.named);
        if (!c.named) continue;
        const plugin::named_line read = plugin::parse_named_line(c.line, c.text);
        EXPECT_EQ(read.line, c.line);
        EXPECT_EQ(read.problem, c.problem);
        if (c.setting == none) {
            EXPECT_EQ(read.row, nullptr);
        } else {
            ASSERT_NE(read.row, nullptr);
            EXPECT_EQ(static_cast<int>(read.row->setting), c.setting);
        }
        EXPECT_EQ(read.value.whole, c.whole);
        EXPECT_EQ(read.value.number, c.number);
    }
}

TEST(named_line, gives_the_name_and_the_value_as_written) {
    const std::string text = "  Key_Toggle \t CapsLock  hold it\n";
    const plugin::named_line read = plugin::parse_named_line(40, text.c_str());
    EXPECT_EQ(text.substr(read.name_at, read.name_length), "Key_Toggle");
    EXPECT_EQ(text.substr(read.value_at, read.value_length), "CapsLock");

    const std::string bare = "swing_ms   \n";
    const plugin::named_line empty = plugin::parse_named_line(40, bare.c_str());
    EXPECT_EQ(empty.problem, named_problem::no_value);
    EXPECT_EQ(bare.substr(empty.name_at, empty.name_length), "swing_ms");
    EXPECT_EQ(empty.value_length, 0);
}

TEST(named_line, is_described_with_its_line_name_value_and_range) {
    struct case_ {
        const char* text;
        std::vector<std::string> parts;
    };
    const case_ cases[] = {
        {"key_toggle mouse4", {"key_toggle Mouse4: ", "each press swaps"}},
        {"swing_ms 250", {"swing_ms 250: ", "milliseconds"}},
        {"mirror_factor -2.5", {"mirror_factor -2.5: ", "sideways"}},
        {"key_mirorred X", {"line 40: ", "'key_mirorred'", "sets nothing"}},
        {"swing_ms 5000", {"line 40: swing_ms: '5000' is outside 0 to 2000", "sets nothing"}},
        {"key_normal 0x1FF", {"'0x1FF' is outside 0x01 to 0xFE"}},
        {"mirror_factor -11 words", {"'-11' is outside -10 to 10"}},
        {"pad_toggle Guide", {"'Guide' is not a gamepad button name"}},
        {"key_toggle   ", {"key_toggle has no value", "a key name"}},
    };
    for (const case_& c : cases) {
        const std::string text =
            plugin::describe_named_line(plugin::parse_named_line(40, c.text), c.text).text;
        for (const std::string& part : c.parts)
            EXPECT_NE(text.find(part), std::string::npos) << text << " has no " << part;
    }
}

// A file as lines from line 1, read by the rules of a load.
struct file_reading {
    plugin::named_values values;
    std::map<int, named_problem> problems; // by line, for every named line read
};

file_reading read_file(const std::vector<std::string>& lines) {
    plugin::named_reading reading;
    file_reading out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        plugin::named_line read;
        const int line = static_cast<int>(i) + 1;
        if (reading.offer(line, lines[i].c_str(), &read)) out.problems[line] = read.problem;
    }
    out.values = reading.values();
    return out;
}

// The 31 positional lines, with `weapon_lines` replacing lines 16 onwards.
std::vector<std::string> positional(std::vector<std::string> weapon_lines = {}) {
    std::vector<std::string> lines = {"reload 0", "--- heading ---"};
    for (int n = 3; n <= 9; ++n)
        lines.push_back("value 1.5");
    lines.push_back("--- rows ---");
    for (int r = 0; r < 4; ++r)
        lines.push_back("row 1 2 3 4 5 6 7");
    lines.push_back("--- weapons ---");
    weapon_lines.resize(16, "");
    lines.insert(lines.end(), weapon_lines.begin(), weapon_lines.end());
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(named_reading, a_file_without_named_lines_keeps_every_default) {
    const file_reading read = read_file(positional({"-1 0.4 0 0.1", "22 0.5 0.2 0.1"}));
    EXPECT_EQ(read.values, plugin::named_values{});
    EXPECT_TRUE(read.problems.empty());
}

TEST(named_reading, any_order_first_line_counts_and_lines_that_set_nothing_keep_the_default) {
    const file_reading read = read_file(positional() + std::vector<std::string>{
                                                           "mirror_factor -2", // 32
                                                           "# key_toggle Tab", // 33
                                                           "key_toggle Q",     // 34
                                                           "key_toggle E",     // 35
                                                           "swing_ms 5000",    // 36
                                                           "key_mirorred M",   // 37
                                                           "pad_toggle Guide", // 38
                                                           "pad_toggle Start", // 39
                                                       });
    const auto& v = read.values;
    EXPECT_EQ(v[named_setting::mirror_factor].number, -2.0f);
    EXPECT_EQ(v[named_setting::key_toggle].whole, 'Q');
    EXPECT_EQ(v[named_setting::swing_ms].whole, 0) << "out of range keeps the default";
    EXPECT_EQ(v[named_setting::key_mirrored].whole, 'X') << "a misspelt name sets nothing";
    EXPECT_EQ(v[named_setting::pad_toggle].whole, 0x0010) << "a bad line does not block a good";
    EXPECT_EQ(v.given_by[static_cast<int>(named_setting::key_toggle)], 34);
    EXPECT_EQ(v.given_by[static_cast<int>(named_setting::swing_ms)], 0);
    const std::map<int, named_problem> problems = {
        {32, named_problem::none},         {34, named_problem::none},
        {35, named_problem::repeat},       {36, named_problem::out_of_range},
        {37, named_problem::unknown_name}, {38, named_problem::invalid_value},
        {39, named_problem::none},
    };
    EXPECT_EQ(read.problems, problems);

    plugin::named_reading again;
    plugin::named_line repeat;
    again.offer(32, "key_toggle Q");
    again.offer(33, "key_toggle E", &repeat);
    EXPECT_EQ(repeat.earlier_line, 32);
    const std::string words = plugin::describe_named_line(repeat, "key_toggle E").text;
    EXPECT_NE(words.find("line 33: key_toggle is already set on line 32"), std::string::npos)
        << words;
}

TEST(named_reading, a_named_line_among_the_weapon_lines_counts_before_later_ones) {
    std::vector<std::string> lines =
        positional({"-1 0.4 0 0.1", "key_mirrored M", "swing_ms 300"}) +
        std::vector<std::string>{"swing_ms 100"};
    lines.resize(100, "key_normal Q"); // lines 33 to 100: only up to 95 are read
    const file_reading read = read_file(lines);
    EXPECT_EQ(read.values[named_setting::key_mirrored].whole, 'M');
    EXPECT_EQ(read.values[named_setting::swing_ms].whole, 300);
    EXPECT_EQ(read.values[named_setting::key_normal].whole, 'Q');
    EXPECT_EQ(read.problems.at(32), named_problem::repeat);
    EXPECT_EQ(read.problems.at(95), named_problem::repeat);
    EXPECT_EQ(read.problems.count(96), 0u);
    EXPECT_EQ(read.problems.count(16), 0u);
}

} // namespace
