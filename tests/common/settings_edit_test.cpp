// Editing one weapon's offset in the settings file's bytes: which line is changed, what of it, and
// that nothing else moves. Every case also reads the new file back with the module's reader and
// parser: the weapon type then has exactly the new offset on the reported line, that line is the
// first the load takes for the type, and every other line reads as before.
#include "settings_bytes.h"

#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_edit.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using plugin::weapon_edit_status;
using test_text::spelling;
using status = weapon_edit_status;

// --- building files ----------------------------------------------------------------------------

using file_lines = std::vector<std::string>;

// A settings file as a player has it: headings, values left to the game, three weapon lines and
// empty slots from line 19 to 31.
file_lines starter() {
    file_lines lines = {"reload_every_frame 0",
                        "-- the game's values --",
                        "aim_value_3",
                        "aim_value_4",
                        "aim_code_value_5",
                        "aim_value_6",
                        "aim_value_7",
                        "aim_value_8",
                        "aim_value_9",
                        "-- the game's rows --",
                        "aim_row_0",
                        "aim_row_1",
                        "aim_row_2",
                        "aim_row_3",
                        "-- weapon type, then x y z --",
                        "-1 0.4 0.0 0.1   every weapon without a line",
                        "22 0.5 0.2 0.1 ; rifle",
                        "31 0 0 0"};
    lines.resize(plugin::settings_line_count);
    return lines;
}

// `lines` with line n (1-based) replaced for each {n, text}; a line past the end is added.
file_lines with(file_lines lines, const std::vector<std::pair<int, std::string>>& changes) {
    for (const auto& [n, text] : changes) {
        if (static_cast<std::size_t>(n) > lines.size()) lines.resize(static_cast<std::size_t>(n));
        lines[static_cast<std::size_t>(n - 1)] = text;
    }
    return lines;
}

// The first `count` lines of `lines`.
file_lines first(file_lines lines, std::size_t count) {
    lines.resize(count);
    return lines;
}

// Lines 16 to 31 all holding weapons other than those the cases add.
file_lines full() {
    file_lines lines = starter();
    for (int n = 19; n <= plugin::settings_line_count; ++n)
        lines[static_cast<std::size_t>(n - 1)] = std::to_string(100 + n) + " 1 1 1";
    return lines;
}

std::string joined(const file_lines& lines, const std::string& eol = "\n", bool last_eol = true) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += lines[i] + (i + 1 < lines.size() || last_eol ? eol : "");
    return text;
}

// --- reading back ------------------------------------------------------------------------------

// Every line of `bytes` as the module's reader keeps it.
file_lines read_lines(const std::string& bytes) {
    plugin::settings_reader reader(bytes.data(), bytes.size());
    file_lines lines;
    char buffer[plugin::line_buffer_size];
    while (lines.size() < 1000 && reader.read_line(buffer) != plugin::line_read::absent)
        lines.emplace_back(buffer, reader.last_length());
    return lines;
}

// The line among 16 to 31 that the load takes as the weapon line of `type` (0: none), and what
// it reads there.
int weapon_line_of(const file_lines& lines, std::int32_t type, plugin::line_values& values) {
    for (int n = 16; n <= plugin::settings_line_count; ++n) {
        if (static_cast<std::size_t>(n) > lines.size()) break;
        const char* const text = lines[static_cast<std::size_t>(n - 1)].c_str();
        if (plugin::is_named_line(n, text)) continue;
        values = plugin::parse_settings_line(plugin::line_kind::weapon, text);
        if (values.count == 4 && values.integer == type) return n;
    }
    return 0;
}

std::uint32_t bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Checks that `after` gives `type` exactly `offset` (-0 read as 0) on line `line`, that this is
// the line the load takes for it, and that every other line reads as in `before` (a last line
// that had no line end may have gained one, when the new line follows it).
void expect_reads_back(const std::string& before, const std::string& after, std::int32_t type,
                       const float (&offset)[3], int line) {
    const file_lines old_lines = read_lines(before), new_lines = read_lines(after);
    const bool appended = static_cast<std::size_t>(line) == old_lines.size() + 1;
    ASSERT_EQ(new_lines.size(), old_lines.size() + (appended ? 1 : 0));
    for (std::size_t i = 0; i < old_lines.size(); ++i) {
        if (static_cast<int>(i) + 1 == line) continue;
        std::string text = new_lines[i];
        if (appended && i + 1 == old_lines.size() && old_lines[i].back() != '\n')
            text.pop_back(); // the line end it gained
        EXPECT_EQ(text, old_lines[i]) << "line " << i + 1;
    }
    plugin::line_values values;
    ASSERT_EQ(weapon_line_of(new_lines, type, values), line);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bits(values.floats[i]), bits(offset[i] == 0.0f ? 0.0f : offset[i]))
            << "number " << i << " reads " << values.floats[i];
}

constexpr char untouched[] = "left alone";

struct edit_result {
    plugin::weapon_edit edit;
    std::string out;
};

edit_result edited(const std::string& file, std::int32_t type, const float (&offset)[3]) {
    edit_result r{{}, untouched};
    r.edit = plugin::edit_weapon_offset(file, type, offset, r.out);
    return r;
}

// Checks one edit: its status and line, the new file byte for byte (or `out` left alone when
// nothing is to be written), and the new file read back.
void expect_edit(const std::string& before, std::int32_t type, const float (&offset)[3],
                 status want, int line, const std::string& after) {
    const edit_result r = edited(before, type, offset);
    EXPECT_EQ(r.edit.status, want);
    EXPECT_EQ(r.edit.line, line);
    if (want != status::rewritten && want != status::new_line) {
        EXPECT_EQ(r.out, untouched);
        return;
    }
    EXPECT_EQ(r.out, after);
    expect_reads_back(before, r.out, type, offset, r.edit.line);
}

// --- which line, and what of it, in 8-bit files ---------------------------------------------

struct edit_case {
    const char* name;
    std::string before;
    std::int32_t type;
    float offset[3];
    status want;
    int line;
    std::string after; // the new file, for rewritten and new_line
};

void PrintTo(const edit_case& c, std::ostream* out) {
    *out << c.name;
}

// An over-long weapon line: its numbers first, then a comment past the 511th character.
const std::string long_comment = " ; " + std::string(600, 'c');
// A line whose z ends at its 511th character; a comment follows, so the reader cuts it there.
const std::string z_at_the_edge = "22 0.5 0.2" + std::string(500, ' ') + "1 ; zzz";

const edit_case edit_cases[] = {
    // Its own line: only the numbers that differ change.
    {"own_line_one_number",
     joined(starter()),
     22,
     {0.5f, 0.2f, 0.25f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 0.5 0.2 0.25 ; rifle"}}))},
    {"own_line_three_numbers",
     joined(starter()),
     22,
     {-1.5f, 2.0f, 0.45f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 -1.5 2 0.45 ; rifle"}}))},
    {"own_line_spacing_kept",
     joined(with(starter(), {{17, "22\t0.5   0.2  0.1"}})),
     22,
     {0.5f, 0.3f, 0.1f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22\t0.5   0.3  0.1"}}))},
    {"own_line_same_numbers", joined(starter()), 22, {0.5f, 0.2f, 0.1f}, status::unchanged, 17, ""},
    {"own_line_same_numbers_written_otherwise",
     joined(with(starter(), {{17, "22 0.50 2e-1 .1"}})),
     22,
     {0.5f, 0.2f, 0.1f},
     status::unchanged,
     17,
     ""},
    {"own_line_of_the_default_type",
     joined(starter()),
     -1,
     {0.4f, 0.0f, 0.2f},
     status::rewritten,
     16,
     joined(with(starter(), {{16, "-1 0.4 0.0 0.2   every weapon without a line"}}))},
    {"hex_type_kept_as_written",
     joined(with(starter(), {{17, "0x16 1 2 3"}})),
     22,
     {1.0f, 2.5f, 3.0f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "0x16 1 2.5 3"}}))},
    {"repeated_type_first_line_rewritten",
     joined(with(starter(), {{19, "22 9 9 9"}})),
     22,
     {7.0f, 0.2f, 0.1f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 7 0.2 0.1 ; rifle"}, {19, "22 9 9 9"}}))},
    {"incomplete_line_of_the_type_is_not_its_line",
     joined(with(starter(), {{17, "22 0.5"}, {20, "22 1 1 1"}})),
     22,
     {2.0f, 1.0f, 1.0f},
     status::rewritten,
     20,
     joined(with(starter(), {{17, "22 0.5"}, {20, "22 2 1 1"}}))},
    {"weapon_like_line_above_16_does_not_count",
     joined(with(starter(), {{14, "22 1 1 1"}})),
     22,
     {1.0f, 1.0f, 1.0f},
     status::rewritten,
     17,
     joined(with(starter(), {{14, "22 1 1 1"}, {17, "22 1 1 1 ; rifle"}}))},
    {"weapon_like_line_below_31_does_not_count",
     joined(with(full(), {{32, "40 1 1 1"}})),
     40,
     {1.0f, 1.0f, 1.0f},
     status::no_empty_slot,
     0,
     ""},
    // The numbers as written.
    {"minus_zero_written_as_zero",
     joined(starter()),
     22,
     {-0.0f, 0.45f, 0.1f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 0 0.45 0.1 ; rifle"}}))},
    {"minus_zero_is_the_zero_already_there",
     joined(starter()),
     31,
     {-0.0f, 0.0f, -0.0f},
     status::unchanged,
     18,
     ""},
    {"a_written_minus_zero_becomes_zero",
     joined(with(starter(), {{18, "31 -0 0 0"}})),
     31,
     {0.0f, 0.0f, 0.0f},
     status::rewritten,
     18,
     joined(starter())},
    // A line without one: the first empty slot.
    {"new_line_in_first_empty_slot",
     joined(starter()),
     40,
     {0.45f, -0.0f, 1.0f},
     status::new_line,
     19,
     joined(with(starter(), {{19, "40 0.45 0 1"}}))},
    {"blanks_of_the_slot_replaced_line_end_kept",
     joined(with(starter(), {{19, "  \t "}}), "\r\n"),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(starter(), {{19, "40 1 2 3"}}), "\r\n")},
    {"blank_line_above_16_is_no_slot",
     joined(with(starter(), {{10, " "}})),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(starter(), {{10, " "}, {19, "40 1 2 3"}}))},
    {"comment_in_a_slot_not_taken",
     joined(with(starter(), {{19, "# sniper, later"}})),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     20,
     joined(with(starter(), {{19, "# sniper, later"}, {20, "40 1 2 3"}}))},
    {"half_written_line_not_taken",
     joined(with(starter(), {{19, "40 0.5"}})),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     20,
     joined(with(starter(), {{19, "40 0.5"}, {20, "40 1 2 3"}}))},
    // A line that begins with a NUL byte holds text corvane does not read (every line but the
    // first of a UTF-16 file without its mark does): it is no empty slot.
    {"line_beginning_with_a_nul_not_taken",
     joined(with(starter(), {{19, std::string("\0x\0", 3)}})),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     20,
     joined(with(starter(), {{19, std::string("\0x\0", 3)}, {20, "40 1 2 3"}}))},
    {"named_line_in_a_slot_not_taken",
     joined(with(starter(), {{19, "swing_ms 250"}})),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     20,
     joined(with(starter(), {{19, "swing_ms 250"}, {20, "40 1 2 3"}}))},
    {"new_type_written_in_decimal",
     joined(starter()),
     -7,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(starter(), {{19, "-7 1 2 3"}}))},
    {"full_file", joined(full()), 40, {1.0f, 2.0f, 3.0f}, status::no_empty_slot, 0, ""},
    {"full_file_own_line_still_rewritten",
     joined(full()),
     22,
     {1.0f, 2.0f, 3.0f},
     status::rewritten,
     17,
     joined(with(full(), {{17, "22 1 2 3 ; rifle"}}))},
    // A file that ends early: the line after its last.
    {"file_ends_at_17",
     joined(first(starter(), 17)),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     18,
     joined(with(first(starter(), 17), {{18, "40 1 2 3"}}))},
    {"file_ends_at_17_without_line_end",
     joined(first(starter(), 17), "\n", false),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     18,
     joined(with(first(starter(), 17), {{18, "40 1 2 3"}}))},
    {"file_ends_at_17_crlf_without_line_end",
     joined(first(starter(), 17), "\r\n", false),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     18,
     joined(with(first(starter(), 17), {{18, "40 1 2 3"}}), "\r\n")},
    {"file_of_15_lines",
     joined(first(starter(), 15)),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     16,
     joined(with(first(starter(), 15), {{16, "40 1 2 3"}}))},
    {"file_of_30_lines",
     joined(first(full(), 30)),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     31,
     joined(with(first(full(), 30), {{31, "40 1 2 3"}}))},
    {"file_of_14_lines",
     joined(first(starter(), 14)),
     40,
     {1.0f, 2.0f, 3.0f},
     status::no_empty_slot,
     0,
     ""},
    {"file_of_10_lines",
     joined(first(starter(), 10)),
     40,
     {1.0f, 2.0f, 3.0f},
     status::no_empty_slot,
     0,
     ""},
    {"empty_slot_comes_before_the_line_after_the_end",
     joined(first(starter(), 20)),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(first(starter(), 20), {{19, "40 1 2 3"}}))},
    // A byte 0x1A ends the text corvane reads; what follows stays.
    {"mark_mid_file_own_line",
     joined(first(starter(), 17)) + "\x1A" + "22 9 9 9\n",
     22,
     {1.0f, 0.2f, 0.1f},
     status::rewritten,
     17,
     joined(with(first(starter(), 17), {{17, "22 1 0.2 0.1 ; rifle"}})) + "\x1A" + "22 9 9 9\n"},
    {"mark_mid_file_no_slot",
     joined(first(starter(), 17)) + "\x1A\n\n",
     40,
     {1.0f, 2.0f, 3.0f},
     status::no_empty_slot,
     0,
     ""},
    {"mark_after_an_empty_slot",
     joined(first(starter(), 19)) + "\x1A",
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(first(starter(), 19), {{19, "40 1 2 3"}})) + "\x1A"},
    // Lone CRs: not line ends for corvane, and kept where they are.
    {"lone_cr_inside_own_line",
     joined(with(starter(), {{17, "22 0.5 0.2 0.1\r; rifle"}})),
     22,
     {0.5f, 0.2f, 3.0f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 0.5 0.2 3\r; rifle"}}))},
    {"lone_cr_before_line_end_of_own_line",
     joined(with(starter(), {{17, "22 0.5 0.2 0.1\r"}}), "\r\n"),
     22,
     {0.5f, 0.2f, 3.0f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 0.5 0.2 3\r"}}), "\r\n")},
    {"lone_cr_ends_the_last_line",
     joined(first(starter(), 17), "\n", false) + "\r",
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     18,
     joined(first(starter(), 17), "\n", false) + "\r\r\n40 1 2 3\n"},
    {"lone_cr_line_ends_make_one_line",
     joined(starter(), "\r"),
     40,
     {1.0f, 2.0f, 3.0f},
     status::no_empty_slot,
     0,
     ""},
    // Long lines and NUL bytes.
    {"over_long_own_line",
     joined(with(starter(), {{17, "22 0.5 0.2 0.1" + long_comment}})),
     22,
     {0.75f, 0.2f, 0.1f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 0.75 0.2 0.1" + long_comment}}))},
    {"number_at_the_edge_same_length",
     joined(with(starter(), {{17, z_at_the_edge}})),
     22,
     {0.5f, 0.2f, 2.0f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, "22 0.5 0.2" + std::string(500, ' ') + "2 ; zzz"}}))},
    {"number_pushed_past_the_edge",
     joined(with(starter(), {{17, z_at_the_edge}})),
     22,
     {0.5f, 0.2f, 0.125f},
     status::not_placeable,
     0,
     ""},
    {"over_long_empty_slot_keeps_a_blank",
     joined(with(starter(), {{19, std::string(511, ' ') + "5 5 5"}})),
     40,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(starter(), {{19, "40 1 2 3 5 5 5"}}))},
    {"nul_after_the_numbers",
     joined(with(starter(), {{17, std::string("22 0.5 0.2 0.1\0x", 16)}})),
     22,
     {1.0f, 0.2f, 0.1f},
     status::rewritten,
     17,
     joined(with(starter(), {{17, std::string("22 1 0.2 0.1\0x", 14)}}))},
    {"nul_before_the_numbers_hides_them",
     joined(with(starter(), {{17, std::string("22 0.5\0 0.2 0.1", 15)}})),
     22,
     {1.0f, 2.0f, 3.0f},
     status::new_line,
     19,
     joined(with(starter(), {{17, std::string("22 0.5\0 0.2 0.1", 15)}, {19, "22 1 2 3"}}))},
    {"empty_file", "", 40, {1.0f, 2.0f, 3.0f}, status::no_empty_slot, 0, ""},
};

class SettingsEdit : public ::testing::TestWithParam<edit_case> {};

TEST_P(SettingsEdit, ChangesOnlyTheWeaponsNumbers) {
    const edit_case& c = GetParam();
    expect_edit(c.before, c.type, c.offset, c.want, c.line, c.after);
}

INSTANTIATE_TEST_SUITE_P(lines, SettingsEdit, ::testing::ValuesIn(edit_cases),
                         [](const ::testing::TestParamInfo<edit_case>& info) {
                             return std::string(info.param.name);
                         });

// --- encodings and line ends -----------------------------------------------------------------

struct spelled_case {
    spelling how;
    const char* eol;
    const char* name;
};

void PrintTo(const spelled_case& c, std::ostream* out) {
    *out << c.name;
}

// A file with characters outside ASCII on an earlier line and after the numbers: in UTF-16 each
// reads as one '?' (the emoji's surrogate pair too), in 8-bit files as its bytes.
file_lines accented() {
    return with(starter(), {{2, "-- les valeurs du jeu, caméra 🎯 --"},
                            {17, "22 0.5 0.2 0.1 ; fusil 🎯 précis"}});
}

class SettingsEditSpelled : public ::testing::TestWithParam<spelled_case> {
  protected:
    std::string spelled(const file_lines& lines, bool last_eol = true) const {
        const spelled_case& c = GetParam();
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i)
            text += lines[i] + (i + 1 < lines.size() || last_eol ? "\n" : "");
        return test_text::spelled(text, c.how, c.eol);
    }
    // `text` in the file's encoding without a byte-order mark, as it follows the file's start.
    std::string spelled_bare(const std::string& text) const {
        const spelled_case& c = GetParam();
        const std::string bytes = test_text::spelled(text, c.how, c.eol);
        switch (c.how) {
        case spelling::eight_bit:
            return bytes;
        case spelling::utf8_with_mark:
            return bytes.substr(3);
        case spelling::utf16_le:
        case spelling::utf16_be:
            return bytes.substr(2);
        }
        return bytes;
    }
};

TEST_P(SettingsEditSpelled, RewritesOwnLine) {
    expect_edit(spelled(accented()), 22, {0.5f, -0.75f, 0.1f}, status::rewritten, 17,
                spelled(with(accented(), {{17, "22 0.5 -0.75 0.1 ; fusil 🎯 précis"}})));
}

TEST_P(SettingsEditSpelled, WritesIntoEmptySlot) {
    const file_lines before = with(accented(), {{18, "é 31 0 0 0"}, {19, "  "}});
    expect_edit(spelled(before), 40, {1.0f, 2.0f, 3.0f}, status::new_line, 19,
                spelled(with(before, {{19, "40 1 2 3"}})));
}

TEST_P(SettingsEditSpelled, AppendsAfterLastLine) {
    const file_lines before = first(accented(), 17);
    for (const bool last_eol : {true, false}) {
        SCOPED_TRACE(last_eol ? "with a last line end" : "without a last line end");
        expect_edit(spelled(before, last_eol), 40, {1.0f, 2.0f, 3.0f}, status::new_line, 18,
                    spelled(with(before, {{18, "40 1 2 3"}})));
    }
}

TEST_P(SettingsEditSpelled, StopsAtMark) {
    const std::string tail = spelled_bare(std::string("\x1A") + "22 9 9 9\n");
    expect_edit(
        spelled(first(accented(), 17)) + tail, 22, {1.0f, 0.2f, 0.1f}, status::rewritten, 17,
        spelled(with(first(accented(), 17), {{17, "22 1 0.2 0.1 ; fusil 🎯 précis"}})) + tail);
    expect_edit(spelled(first(accented(), 17)) + tail, 40, {1.0f, 2.0f, 3.0f},
                status::no_empty_slot, 0, "");
}

INSTANTIATE_TEST_SUITE_P(
    encodings, SettingsEditSpelled,
    ::testing::Values(spelled_case{spelling::eight_bit, "\n", "eight_bit_lf"},
                      spelled_case{spelling::eight_bit, "\r\n", "eight_bit_crlf"},
                      spelled_case{spelling::utf8_with_mark, "\n", "utf8_mark_lf"},
                      spelled_case{spelling::utf8_with_mark, "\r\n", "utf8_mark_crlf"},
                      spelled_case{spelling::utf16_le, "\n", "utf16_le_lf"},
                      spelled_case{spelling::utf16_le, "\r\n", "utf16_le_crlf"},
                      spelled_case{spelling::utf16_be, "\n", "utf16_be_lf"},
                      spelled_case{spelling::utf16_be, "\r\n", "utf16_be_crlf"}),
    [](const ::testing::TestParamInfo<spelled_case>& info) {
        return std::string(info.param.name);
    });

// An odd last byte of a UTF-16 file is no character: the new line goes before it.
TEST(SettingsEditUtf16, AppendsBeforeOddLastByte) {
    const file_lines before = first(accented(), 17);
    const std::string odd = "\x41";
    expect_edit(
        test_text::spelled(joined(before), spelling::utf16_le, "\r\n") + odd, 40,
        {1.0f, 2.0f, 3.0f}, status::new_line, 18,
        test_text::spelled(joined(with(before, {{18, "40 1 2 3"}})), spelling::utf16_le, "\r\n") +
            odd);
}

} // namespace
