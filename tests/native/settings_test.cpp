// The settings file as the module reads it: real files in a temporary directory beside a
// stand-in module path, the values checked where they land in the host image.
#include "aim_host.h"
#include "settings_bytes.h"

#include "platform/os_stand_in.h"
#include "plugin/host.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/file_values.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace addr = plugin::host_addresses;
using stand_in_protect = os::stand_in::protect_call;

// What a destination holds before a load, so that "kept" can be told from "written".
constexpr float sentinel = 777.0f;

// Lines 3, 4, 6, 7, 8, 9 and where they land.
const std::map<int, std::uint32_t> host_float_lines = {
    {3, addr::aim_value_line3}, {4, addr::aim_value_line4}, {6, addr::aim_value_line6},
    {7, addr::aim_value_line7}, {8, addr::aim_value_line8}, {9, addr::aim_value_line9},
};

using row = std::array<float, 7>;
using offset = std::array<float, 3>;

struct entry {
    std::int32_t type;
    offset xyz;
    bool operator==(const entry&) const = default;
};

void PrintTo(const entry& e, std::ostream* out) {
    *out << "{" << e.type << ": " << e.xyz[0] << ", " << e.xyz[1] << ", " << e.xyz[2] << "}";
}

// A complete file whose every value is distinct: line n of 3..9 holds n + 0.5, row r holds
// 10r + 1 .. 10r + 7, and weapon line 16 + i gives type 100 + i the offset (i, i + 0.5, -i).
std::vector<std::string> full_lines() {
    std::vector<std::string> lines = {"Reload 1", "--- aim values ---"};
    for (int n = 3; n <= 9; ++n)
        lines.push_back("Value" + std::to_string(n) + " " + std::to_string(n) + ".5");
    lines.push_back("--- rows ---");
    for (int r = 0; r < 4; ++r) {
        std::string line = "Row" + std::to_string(r);
        for (int i = 1; i <= 7; ++i)
            line += " " + std::to_string(10 * r + i);
        lines.push_back(line);
    }
    lines.push_back("--- weapons ---");
    for (int i = 0; i < 16; ++i)
        lines.push_back(std::to_string(100 + i) + " " + std::to_string(i) + " " +
                        std::to_string(i) + ".5 -" + std::to_string(i));
    return lines;
}

row filled_row(float value) {
    row values;
    values.fill(value);
    return values;
}

row full_row(int r) {
    row values;
    for (int i = 0; i < 7; ++i)
        values[i] = static_cast<float>(10 * r + i + 1);
    return values;
}

std::vector<entry> full_entries() {
    std::vector<entry> entries;
    for (int i = 0; i < 16; ++i) {
        const float f = static_cast<float>(i);
        entries.push_back({100 + i, {f, f + 0.5f, -f}});
    }
    return entries;
}

std::string join(const std::vector<std::string>& lines, const char* eol = "\n") {
    std::string text;
    for (const auto& line : lines)
        text += line + eol;
    return text;
}

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<test_host::aim_host>();
        plugin::create_weapon_offset_list();

        char pattern[] = "/tmp/corvane-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        use_module_path(dir + "/corvane.dll");
        fill_host_with_sentinels();
        os::stand_in::current().protect_calls.clear();
    }
    void TearDown() override {
        test_host::reset_module();
        host.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    static void use_module_path(const std::string& path) {
        auto& s = os::stand_in::current();
        s.module_paths[s.plugin_module] = os::stand_in::utf16(path);
    }

    static void fill_host_with_sentinels() {
        for (const auto& [line, address] : host_float_lines)
            test_host::write(address, sentinel);
        write_code_constant(sentinel);
        for (int i = 0; i < 28; ++i)
            test_host::write(addr::aim_rows + 4 * i, sentinel);
    }
    static void write_code_constant(float value) {
        test_host::write(addr::aim_code_constant, value);
    }

    void write_file(const std::string& text, const std::string& name = "aimingSets.dat") const {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out << text;
    }

    static float host_float(std::uint32_t address) { return test_host::read<float>(address); }
    static row host_row(int r) {
        row values;
        for (int i = 0; i < 7; ++i)
            values[i] = host_float(addr::aim_rows + 28 * r + 4 * i);
        return values;
    }
    static std::vector<entry> entries() {
        std::vector<entry> out;
        for (const auto& e : *plugin::weapon_offset_list())
            out.push_back({e.weapon_type, {e.offset[0], e.offset[1], e.offset[2]}});
        return out;
    }
    static std::vector<stand_in_protect> protect_calls() {
        return os::stand_in::current().protect_calls;
    }

    std::unique_ptr<test_host::aim_host> host;
    std::string dir;
};

TEST_F(Settings, EveryValueReachesItsHostAddress) {
    write_file(join(full_lines()));
    plugin::load_aiming_settings();

    EXPECT_EQ(plugin::reload_each_frame, 1);
    for (const auto& [line, address] : host_float_lines)
        EXPECT_EQ(host_float(address), line + 0.5f) << "line " << line;
    EXPECT_EQ(host_float(addr::aim_code_constant), 5.5f);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(host_row(r), full_row(r)) << "row " << r;
        EXPECT_EQ(host_row(r), std::to_array(plugin::aim_row_table[r])) << "row " << r;
    }
    EXPECT_EQ(entries(), full_entries());
    // Offsets pass through the host's own vector setter, once per entry.
    EXPECT_EQ(host->calls.vector_sets.size(), 16u);

    // Only the code constant is unprotected, exactly its 4 bytes, and the old protection is
    // put back; data is written in place.
    const std::vector<stand_in_protect> expected = {
        {addr::aim_code_constant, 4, os::page_execute_readwrite},
        {addr::aim_code_constant, 4, os::stand_in::current().reported_old_protection},
    };
    EXPECT_EQ(protect_calls(), expected);
}

// The game's program loaded away from 0x400000: line 5's number goes into the code where it lies
// in this process, the data values stay where the game keeps its data.
TEST_F(Settings, CodeConstantLandsWhereTheMovedProgramHasItsCode) {
    constexpr std::uint32_t moved_base = 0x410000;
    constexpr std::uint32_t moved_constant = addr::aim_code_constant + (moved_base - 0x400000);
    // A header whose entry point names no known executable, where the moved program begins.
    const test_host::bytes_patch header_offset(moved_base + 0x3C, {0x80, 0, 0, 0});
    const test_host::bytes_patch entry_point(moved_base + 0x80 + 0x28, {0x34, 0x12, 0, 0});
    const test_host::bytes_patch moved_place(moved_constant, {0, 0, 0, 0});
    os::stand_in::current().process_module = test_host::at(moved_base);
    write_file(join(full_lines()));

    plugin::load_aiming_settings();

    EXPECT_EQ(host_float(moved_constant), 5.5f);
    EXPECT_EQ(host_float(addr::aim_code_constant), sentinel) << "nothing at the usual place";
    EXPECT_EQ(host_float(addr::aim_value_line3), 3.5f);
    const std::vector<stand_in_protect> expected = {
        {moved_constant, 4, os::page_execute_readwrite},
        {moved_constant, 4, os::stand_in::current().reported_old_protection},
    };
    EXPECT_EQ(protect_calls(), expected);
}

// Code that Windows keeps closed is left as it was; the data values are written all the same,
// and the refused line is asked for again on the next load.
TEST_F(Settings, CodeConstantIsLeftAsItWasWhenUnprotectingIsRefused) {
    os::stand_in::current().fail_protect_switch = true;
    write_file(join(full_lines()));
    plugin::load_aiming_settings();
    EXPECT_EQ(host_float(addr::aim_code_constant), sentinel);
    EXPECT_EQ(host_float(addr::aim_value_line3), 3.5f);
    // No restore after a failed switch.
    const std::vector<stand_in_protect> refused = {
        {addr::aim_code_constant, 4, os::page_execute_readwrite}};
    EXPECT_EQ(protect_calls(), refused);

    os::stand_in::current().fail_protect_switch = false;
    plugin::load_aiming_settings();
    EXPECT_EQ(host_float(addr::aim_code_constant), 5.5f);
}

// One line of the full file replaced, or the file cut or re-encoded, and what must follow.
struct file_case {
    const char* name = {};
    std::map<int, std::string> replaced_lines = {}; // line number -> text (without line end)
    const char* eol = "\n";
    std::optional<std::int32_t> reload = {};     // expected reload_each_frame
    std::map<int, float> host_floats = {};       // line (3..9) -> expected value
    std::map<int, row> rows = {};                // row -> expected host row
    std::vector<entry> has_entries = {};         // entries the list must hold
    std::vector<std::int32_t> no_entry_for = {}; // weapon types that must have no entry
    std::optional<std::size_t> entry_count = {};
};

void PrintTo(const file_case& c, std::ostream* out) {
    *out << c.name;
}

const std::string long_tail(600, 'x');

const file_case file_cases[] = {
    {.name = "unchanged full file",
     .reload = 1,
     .host_floats = {{3, 3.5f}, {5, 5.5f}, {9, 9.5f}},
     .rows = {{0, full_row(0)}, {3, full_row(3)}},
     .entry_count = 16},
    {.name = "labelled lines holding only a number keep their values",
     .replaced_lines = {{1, "1"}, {3, "4.5"}, {5, "6.5"}, {11, "1 2 3 4 5 6 7"}},
     .reload = 0,
     .host_floats = {{3, sentinel}, {4, 4.5f}, {5, sentinel}},
     // The first number of a row is taken as its label; the others move one place left.
     .rows = {{0, row{2, 3, 4, 5, 6, 7, 0}}, {1, full_row(1)}}},
    {.name = "a label holding a blank keeps the value",
     .replaced_lines = {{4, "Aim Height 2.0"}, {6, "Aim 2.0"}},
     .host_floats = {{4, sentinel}, {6, 2.0f}}},
    {.name = "a label alone, or an empty line, keeps the value",
     .replaced_lines = {{1, "Reload"}, {7, ""}, {8, "   "}},
     .reload = 0,
     .host_floats = {{7, sentinel}, {8, sentinel}, {9, 9.5f}}},
    {.name = "a row with three numbers sets the first three, the rest stay 0.0",
     .replaced_lines = {{12, "Row1 1.25 -2 3e1"}},
     .rows = {{1, row{1.25f, -2.0f, 30.0f, 0, 0, 0, 0}}, {2, full_row(2)}}},
    {.name = "weapon types in hex, octal and the -1 default; a trailing comment is ignored",
     .replaced_lines = {{16, "0x16 0.5 0.25 0.125"},
                        {17, "010 1 2 3"},
                        {18, "-1 0.4 0 0.1 ; every other weapon"},
                        {19, "  23\t0.5  -0.1 0.15   // comment 9 9 9"}},
     .has_entries = {{22, {0.5f, 0.25f, 0.125f}},
                     {8, {1, 2, 3}},
                     {-1, {0.4f, 0, 0.1f}},
                     {23, {0.5f, -0.1f, 0.15f}}},
     .no_entry_for = {100, 101, 102, 103},
     .entry_count = 16},
    {.name = "a weapon line with fewer than four fields adds nothing",
     .replaced_lines = {{16, "5 1 2"}, {17, "6"}, {18, "Weapon 7 1 2 3"}, {19, ""}},
     .no_entry_for = {5, 6, 7, 100, 101, 102, 103},
     .entry_count = 12},
    {.name = "a byte-order mark becomes part of the first label",
     .replaced_lines = {{1, "\xEF\xBB\xBFReload 1"}},
     .reload = 1},
    {.name = "a byte-order mark glued to a bare number hides it",
     .replaced_lines = {{1, "\xEF\xBB\xBF"
                            "1"}},
     .reload = 0},
    {.name = "CRLF line ends read like LF",
     .eol = "\r\n",
     .reload = 1,
     .host_floats = {{3, 3.5f}, {5, 5.5f}, {9, 9.5f}},
     .rows = {{0, full_row(0)}, {3, full_row(3)}},
     .has_entries = {{115, {15, 15.5f, -15}}},
     .entry_count = 16},
    {.name = "a label longer than the label buffer is skipped whole",
     .replaced_lines = {{1, std::string(127, 'L') + "5 1"}, {3, std::string(300, 'L') + " 1.25"}},
     .reload = 1,
     .host_floats = {{3, 1.25f}}},
    {.name = "over-long lines are consumed whole and later lines keep their places",
     .replaced_lines = {{2, long_tail},
                        {4, "Value4 2.25 " + long_tail},
                        {11, "Row0 1 2 3 4 5 6" + std::string(500, ' ') + "7"},
                        {16, "33 1 2 3 " + long_tail + " 44 4 4 4"}},
     .host_floats = {{3, 3.5f}, {4, 2.25f}, {5, 5.5f}},
     .rows = {{0, row{1, 2, 3, 4, 5, 6, 0}}, {1, full_row(1)}},
     .has_entries = {{33, {1, 2, 3}}, {101, {1, 1.5f, -1}}},
     .no_entry_for = {44},
     .entry_count = 16},
    {.name = "the 511th character is parsed, the 512th is not",
     .replaced_lines = {{3, "Value3" + std::string(503, ' ') + "12"},
                        {4, "Value4" + std::string(504, ' ') + "34"}},
     .host_floats = {{3, 12.0f}, {4, 3.0f}, {5, 5.5f}}},
    {.name = "a NUL byte inside a long line does not shift later lines",
     .replaced_lines = {{2, std::string("x\0y", 3) + long_tail}, {10, std::string("\0", 1)}},
     .host_floats = {{3, 3.5f}},
     .rows = {{0, full_row(0)}},
     .entry_count = 16},
};

class SettingsFile : public Settings, public ::testing::WithParamInterface<file_case> {};

TEST_P(SettingsFile, LoadsAsExpected) {
    const file_case& c = GetParam();
    std::vector<std::string> lines = full_lines();
    for (const auto& [line, text] : c.replaced_lines)
        lines[line - 1] = text;
    write_file(join(lines, c.eol));

    plugin::load_aiming_settings();

    if (c.reload) {
        EXPECT_EQ(plugin::reload_each_frame, *c.reload);
    }
    for (const auto& [line, value] : c.host_floats) {
        const std::uint32_t address =
            line == 5 ? addr::aim_code_constant : host_float_lines.at(line);
        EXPECT_EQ(host_float(address), value) << "line " << line;
    }
    for (const auto& [r, values] : c.rows)
        EXPECT_EQ(host_row(r), values) << "row " << r;
    const std::vector<entry> got = entries();
    for (const entry& e : c.has_entries)
        EXPECT_NE(std::find(got.begin(), got.end(), e), got.end()) << ::testing::PrintToString(e);
    for (std::int32_t type : c.no_entry_for)
        EXPECT_TRUE(
            std::none_of(got.begin(), got.end(), [&](const entry& e) { return e.type == type; }))
            << "type " << type;
    if (c.entry_count) {
        EXPECT_EQ(got.size(), *c.entry_count);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, SettingsFile, ::testing::ValuesIn(file_cases));

TEST_F(Settings, LinesPastTheEndSetNothingButRowsStillReachTheHost) {
    write_file(join(full_lines()));
    plugin::load_aiming_settings();
    fill_host_with_sentinels();

    std::vector<std::string> short_file = full_lines();
    short_file.resize(9);
    short_file[2] = "Value3 -1.5";
    write_file(join(short_file)); // ends right after line 9
    plugin::load_aiming_settings();

    EXPECT_EQ(host_float(addr::aim_value_line3), -1.5f);
    EXPECT_EQ(host_float(addr::aim_value_line9), 9.5f);
    // Rows keep the first load's values and are copied into the host again.
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(host_row(r), full_row(r)) << "row " << r;
    // Line 9 is not parsed again as a weapon line.
    EXPECT_EQ(entries(), full_entries());
}

TEST_F(Settings, MissingValuesKeepThoseOfThePreviousLoad) {
    std::vector<std::string> lines = full_lines();
    write_file(join(lines));
    plugin::load_aiming_settings();

    lines[0] = "Reload";
    lines[11] = "Row1 -1 -2 -3";
    lines[12] = "Row2";
    write_file(join(lines));
    plugin::load_aiming_settings();

    EXPECT_EQ(plugin::reload_each_frame, 1);
    const row r1 = full_row(1);
    EXPECT_EQ(host_row(1), (row{-1, -2, -3, r1[3], r1[4], r1[5], r1[6]}));
    EXPECT_EQ(host_row(2), full_row(2));
}

TEST_F(Settings, LastLineWithoutLineEndIsRead) {
    std::string text = join(full_lines());
    text.pop_back();
    write_file(text);
    plugin::load_aiming_settings();
    EXPECT_EQ(entries(), full_entries());
}

TEST_F(Settings, RepeatedWeaponTypesKeepTheFirstOffsetAndReloadsRetuneInPlace) {
    std::vector<std::string> lines = full_lines();
    lines[15] = "22 1 2 3";
    lines[16] = "0x16 9 9 9"; // the same type again within one file
    write_file(join(lines));
    plugin::load_aiming_settings();
    const std::vector<entry> after_first = entries();
    ASSERT_EQ(after_first.size(), 15u);

    for (int load = 0; load < 5; ++load)
        plugin::load_aiming_settings();
    EXPECT_EQ(entries(), after_first);

    lines[15] = "22 4 5 6";
    lines[17] = "23 7 8 9"; // a type that is new
    write_file(join(lines));
    plugin::load_aiming_settings();

    // 22 takes its new first line in place; 23, new, goes at the end.
    std::vector<entry> expected = after_first;
    const auto at_22 =
        std::find_if(expected.begin(), expected.end(), [](const entry& e) { return e.type == 22; });
    ASSERT_NE(at_22, expected.end());
    at_22->xyz = {4, 5, 6};
    expected.push_back({23, {7, 8, 9}});
    EXPECT_EQ(entries(), expected);
}

TEST_F(Settings, ReloadFlagFollowsEachLoad) {
    std::vector<std::string> lines = full_lines();
    write_file(join(lines));
    plugin::load_aiming_settings();
    EXPECT_EQ(plugin::reload_each_frame, 1);
    lines[0] = "Reload 0";
    write_file(join(lines));
    plugin::load_aiming_settings();
    EXPECT_EQ(plugin::reload_each_frame, 0);
}

// --- encodings ------------------------------------------------------------------------------

// What one load left in the host and the module.
struct load_outcome {
    std::int32_t reload;
    std::map<int, float> host_floats; // lines 3 to 9, line 5 in the host's code
    std::vector<row> rows;
    std::vector<entry> entries;
    bool operator==(const load_outcome&) const = default;
};

void PrintTo(const load_outcome& o, std::ostream* out) {
    *out << "reload " << o.reload << ", lines 3 to 9:";
    for (const auto& [line, value] : o.host_floats)
        *out << ' ' << value;
    *out << ", row 0 starts " << o.rows[0][0] << ", " << o.entries.size() << " entries";
}

TEST_F(Settings, EverySpellingAnEditorSavesGivesTheSameValues) {
    // The full file with letters outside ASCII in a heading, a label and a comment.
    std::vector<std::string> lines = full_lines();
    lines[1] = "--- \u043f\u0440\u0438\u0446\u0435\u043b \u6e38\u620f \U0001F3AF ---";
    lines[2] = "H\u00f6he_\u0418\u0433\u0440\u044b 3.5";
    lines[15] += " ; \u6b65\u67aa \U0001F3AF";
    const std::string long_comment = " ; " + std::string(300, 'x') + std::string(300, 'y');
    std::vector<std::string> overlong = lines;
    overlong[1] += long_comment;  // a heading
    overlong[8] += long_comment;  // line 9's value comes before the cut
    overlong[16] += long_comment; // a weapon line
    std::string early = join(lines);
    early.erase(early.find("\n105 5 5.5 -5")); // ends after line 20, without its newline

    load_outcome whole{1, {}, {}, full_entries()};
    for (const auto& [line, address] : host_float_lines)
        whole.host_floats[line] = line + 0.5f;
    whole.host_floats[5] = 5.5f;
    for (int r = 0; r < 4; ++r)
        whole.rows.push_back(full_row(r));
    load_outcome ending_early = whole;
    ending_early.entries.resize(5);

    const struct {
        const char* name;
        std::string text;
        const load_outcome& expected;
    } shapes[] = {
        {"whole", join(lines), whole},
        {"with over-long lines", join(overlong), whole},
        {"ending after line 20", early, ending_early},
    };
    const struct {
        const char* name;
        test_text::spelling how;
    } spellings[] = {
        {"8-bit", test_text::spelling::eight_bit},
        {"UTF-8 with mark", test_text::spelling::utf8_with_mark},
        {"UTF-16LE", test_text::spelling::utf16_le},
        {"UTF-16BE", test_text::spelling::utf16_be},
    };
    for (const auto& shape : shapes) {
        for (const auto& spelling : spellings) {
            for (const char* eol : {"\n", "\r\n"}) {
                SCOPED_TRACE(std::string(shape.name) + ", " + spelling.name +
                             (eol[0] == '\r' ? ", CR LF" : ", LF"));
                test_host::reset_module();
                plugin::create_weapon_offset_list();
                fill_host_with_sentinels();
                write_file(test_text::spelled(shape.text, spelling.how, eol));

                plugin::load_aiming_settings();

                load_outcome got{plugin::reload_each_frame, {}, {}, entries()};
                for (const auto& [line, address] : host_float_lines)
                    got.host_floats[line] = host_float(address);
                got.host_floats[5] = host_float(addr::aim_code_constant);
                for (int r = 0; r < 4; ++r)
                    got.rows.push_back(host_row(r));
                EXPECT_EQ(got, shape.expected);
            }
        }
    }
}

TEST_F(Settings, FileThatVanishesOrBecomesADirectoryChangesNothing) {
    write_file(join(full_lines()));
    plugin::load_aiming_settings();
    const std::int32_t reload = plugin::reload_each_frame;
    // Anything written by a later load would overwrite these.
    fill_host_with_sentinels();
    os::stand_in::current().protect_calls.clear();

    const fs::path file = dir + "/aimingSets.dat";
    fs::remove(file);
    plugin::load_aiming_settings();
    fs::create_directory(file);
    plugin::load_aiming_settings();

    EXPECT_EQ(plugin::reload_each_frame, reload);
    for (const auto& [line, address] : host_float_lines)
        EXPECT_EQ(host_float(address), sentinel) << "line " << line;
    EXPECT_EQ(host_float(addr::aim_code_constant), sentinel);
    EXPECT_TRUE(protect_calls().empty());
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(host_row(r), filled_row(sentinel)) << "row " << r;
    EXPECT_EQ(entries(), full_entries());
    EXPECT_TRUE(os::stand_in::current().error_boxes.empty());
}

// The file shipped beside the DLL: 31 lines and then only comments; lines 3 to 14 labels alone,
// so the game keeps its own values; the weapon lines complete (their trailing comments ignored)
// or a blank, unused slot; no reload; and the weapon lines meant.
TEST_F(Settings, ShippedSampleReadsAsIntended) {
    const fs::path sample = fs::path(CORVANE_SOURCE_DIR) / "aimingSets.dat";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(sample.c_str(), "rb"),
                                                         &std::fclose);
    ASSERT_TRUE(file);
    plugin::settings_reader reader(file.get());
    char line[plugin::line_buffer_size];
    for (const plugin::settings_position& position : plugin::settings_positions) {
        ASSERT_EQ(reader.read_line(line), plugin::line_read::read) << "line " << position.line;
        const bool valued =
            position.kind == plugin::line_kind::reload_flag ||
            (position.kind == plugin::line_kind::weapon && !plugin::is_blank_line(line));
        const int wanted = valued ? plugin::values_wanted(position.kind) : 0;
        EXPECT_EQ(plugin::parse_settings_line(position.kind, line).count, wanted)
            << "line " << position.line << ": " << line;
    }
    // Then the named lines, every one commented out: as shipped they set nothing.
    while (reader.read_line(line) != plugin::line_read::absent)
        EXPECT_TRUE(plugin::is_named_comment(line)) << line;

    fs::copy_file(sample, dir + "/aimingSets.dat");
    plugin::take_game_aim_rows(); // as start-up does
    plugin::load_aiming_settings();

    EXPECT_EQ(plugin::reload_each_frame, 0);
    EXPECT_EQ(entries(), (std::vector<entry>{{-1, {0.4f, 0, 0.1f}},
                                             {22, {0.5f, 0.2f, 0.1f}},
                                             {25, {0.6f, -0.3f, 0.2f}},
                                             {31, {0, 0, 0}}}));
    for (const auto& [line, address] : host_float_lines)
        EXPECT_EQ(host_float(address), sentinel) << "line " << line;
    EXPECT_EQ(host_float(addr::aim_code_constant), sentinel);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(host_row(r), filled_row(sentinel)) << "row " << r;
}

// --- finding the directory ------------------------------------------------------------------

struct dir_case {
    const char* module_path;
    const char* dir;
};

void PrintTo(const dir_case& c, std::ostream* out) {
    *out << '"' << c.module_path << '"';
}

const dir_case dir_cases[] = {
    {"C:\\Games\\Plugins\\corvane.dll", "C:\\Games\\Plugins\\"},
    {"C:/Games/Plugins/corvane.dll", "C:/Games/Plugins/"},
    {"C:\\Games/Plugins\\corvane.dll", "C:\\Games/Plugins\\"},
    {"C:/Games\\Plugins/corvane.dll", "C:/Games\\Plugins/"},
    {"\\corvane.dll", "\\"},
    {"C:\\Games\\", "C:\\Games\\"},
    {"corvane.dll", "corvane.dll"}, // no separator: the whole text stays
    {"", ""},
};

class PluginDirPath : public Settings, public ::testing::WithParamInterface<dir_case> {};

TEST_P(PluginDirPath, EndsBehindTheLastSeparatorAndIsFoundOnce) {
    const dir_case& c = GetParam();
    use_module_path(c.module_path);

    EXPECT_EQ(os::stand_in::utf8(plugin::plugin_dir_path()), c.dir);
    use_module_path("D:\\elsewhere\\corvane.dll"); // not asked again
    EXPECT_EQ(os::stand_in::utf8(plugin::plugin_dir_path()), c.dir);
    EXPECT_EQ(os::stand_in::utf8(plugin::settings_file_path()),
              std::string(c.dir) + "aimingSets.dat");

    const auto& s = os::stand_in::current();
    EXPECT_EQ(s.file_name_queries, std::vector<void*>{s.plugin_module});
    EXPECT_TRUE(s.error_boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Paths, PluginDirPath, ::testing::ValuesIn(dir_cases));

TEST_F(Settings, WithoutItsModuleHandleTheExecutablesDirectoryIsUsedAfterOneErrorBox) {
    auto& s = os::stand_in::current();
    s.module_from_address_fails = true;
    const std::string game_dir = dir + "/game/";
    fs::create_directory(game_dir);
    s.module_paths[nullptr] = os::stand_in::utf16(game_dir + "game.exe");
    write_file("Reload 7\n", "game/aimingSets.dat");
    write_file("Reload 3\n"); // beside the plug-in: not looked at

    plugin::load_aiming_settings();
    plugin::load_aiming_settings();

    EXPECT_EQ(plugin::reload_each_frame, 7);
    EXPECT_EQ(os::stand_in::utf8(plugin::plugin_dir_path()), game_dir);
    ASSERT_EQ(s.error_boxes.size(), 1u);
    EXPECT_EQ(s.error_boxes[0].text, "FILESYSTEM\nFailed to retrieve plugin dir path");
    EXPECT_EQ(s.error_boxes[0].caption, "corvane");
    EXPECT_EQ(s.file_name_queries, std::vector<void*>{nullptr});
}

// A directory whose path, separator included, is `length` characters long.
std::string make_dir_of_length(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() + 1 < length) {
        const std::size_t room = length - path.size() - 1; // for "/" + name
        path += "/" + std::string(std::min<std::size_t>(room - 1, 100), 'd');
        fs::create_directory(path);
    }
    return path + "/";
}

TEST_F(Settings, SettingsPathThatExactlyFitsIsLoaded) {
    const std::string deep = make_dir_of_length(dir, 260 - 14);
    ASSERT_EQ(deep.size(), 246u);
    use_module_path(deep + "corvane.dll");
    write_file("Reload 5\n", deep.substr(dir.size() + 1) + "aimingSets.dat");

    ASSERT_NE(plugin::settings_file_path(), nullptr);
    EXPECT_EQ(std::u16string(plugin::settings_file_path()).size(), 260u);
    plugin::load_aiming_settings();
    EXPECT_EQ(plugin::reload_each_frame, 5);
}

TEST_F(Settings, SettingsPathOneCharacterTooLongIsNotOpened) {
    const std::string deep = make_dir_of_length(dir, 260 - 14 + 1);
    ASSERT_EQ(deep.size(), 247u);
    use_module_path(deep + "corvane.dll");
    const std::string relative = deep.substr(dir.size() + 1);
    // Neither the whole path nor one cut to 260 characters may be opened.
    write_file("Reload 5\n", relative + "aimingSets.dat");
    write_file("Reload 6\n", relative + "aimingSets.da");

    EXPECT_EQ(plugin::settings_file_path(), nullptr);
    plugin::load_aiming_settings();
    EXPECT_EQ(plugin::reload_each_frame, 0);
    EXPECT_EQ(host_float(addr::aim_rows), sentinel);
}

// The 260-character limit counts UTF-16 units, as Windows does: a folder named in Cyrillic fits
// although its UTF-8 spelling is longer, and an emoji, two units, counts twice.
TEST_F(Settings, SettingsPathLimitCountsTheUnitsWindowsSpellsItIn) {
    const struct {
        const char* letter; // 50 of them name the last folder
        std::size_t dir_units;
        bool loads;
    } cases[] = {
        {"\u0436", 246, true},      // 260 units, 310 bytes of UTF-8
        {"\U0001F3AF", 246, true},  // 260 units from 210 characters
        {"\U0001F3AF", 247, false}, // 261 units from 211 characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.letter) + ", " + std::to_string(c.dir_units) + " units");
        test_host::reset_module();
        std::string last;
        for (int i = 0; i < 50; ++i)
            last += c.letter;
        const std::size_t last_units = os::stand_in::utf16(last).size() + 1; // with its "/"
        const std::string base = dir + "/" + std::to_string(&c - cases);     // ASCII, as counted
        fs::create_directory(base);
        const std::string deep = make_dir_of_length(base, c.dir_units - last_units) + last + "/";
        fs::create_directory(deep);
        ASSERT_EQ(os::stand_in::utf16(deep).size(), c.dir_units);
        use_module_path(deep + "corvane.dll");
        write_file("Reload 5\n", deep.substr(dir.size() + 1) + "aimingSets.dat");

        plugin::load_aiming_settings();

        EXPECT_EQ(plugin::reload_each_frame, c.loads ? 5 : 0);
        EXPECT_EQ(plugin::settings_file_path() != nullptr, c.loads);
        EXPECT_EQ(os::stand_in::current().opens_for_reading, c.loads ? 1 : 0);
        os::stand_in::current().opens_for_reading = 0;
    }
}

// A folder whose name the ANSI code page cannot spell: the module is told its path in UTF-16 and
// opens the file by that path, not by a spelling with '?' in it.
TEST_F(Settings, AFolderNamedInAnyScriptIsReadThroughItsUtf16Path) {
    const std::string folder_name = "\u0418\u0433\u0440\u044b \u6e38\u620f \U0001F3AF";
    fs::create_directory(dir + "/" + folder_name);
    use_module_path(dir + "/" + folder_name + "/corvane.dll");
    write_file(join(full_lines(), "\r\n"), folder_name + "/aimingSets.dat");

    plugin::load_aiming_settings();

    EXPECT_EQ(plugin::reload_each_frame, 1);
    EXPECT_EQ(entries(), full_entries());
    const std::u16string opened = os::stand_in::current().last_opened_for_reading;
    const std::u16string spelled =
        u"/\u0418\u0433\u0440\u044b \u6e38\u620f \U0001F3AF/aimingSets.dat";
    ASSERT_GE(opened.size(), spelled.size());
    EXPECT_EQ(opened.substr(opened.size() - spelled.size()), spelled);
}

} // namespace
