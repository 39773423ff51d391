// The settings file's shape: 31 lines whose position, not label, says what they set, and how
// one line is parsed.
//
// Kept apart from applying the values to the host (plugin/load/settings_load.h), and free of any OS
// or host access, so that the settings checker and the fuzz target read a file exactly as the
// module does.
#pragma once

#include <cstdint>

namespace plugin {

inline constexpr int settings_line_count = 31;
inline constexpr int aim_row_count = 4;   // lines 11 to 14
inline constexpr int row_value_count = 7; // the values of one aim row
inline constexpr int row_values_in_all = aim_row_count * row_value_count;
// The UTF-8 byte-order mark some editors put before the first line: part of line 1's label.
inline constexpr char utf8_byte_order_mark[] = "\xEF\xBB\xBF";
inline constexpr int utf8_byte_order_mark_size = sizeof utf8_byte_order_mark - 1;
inline constexpr int line_buffer_size = 512;  // a line of up to 511 characters
inline constexpr int label_buffer_size = 128; // labels are stepped over, so none overruns it

// What a line's values set.
enum class line_kind {
    reload_flag, // "%s %d": reload_each_frame
    ignored,     // read and thrown away
    host_float,  // "%s %f": a float in host data
    code_float,  // "%s %f": the float inside the host's aim-camera code
    aim_row,     // "%s %f %f %f %f %f %f %f": one row of aim_row_table
    weapon,      // "%i %f %f %f": one weapon offset entry
};

// One position of the file, as data: what it sets and where.
struct settings_position {
    int line; // 1 to 31
    line_kind kind;
    std::uint32_t host_address; // where the values go in the game (host_float, code_float,
                                // aim_row); 0 for the other kinds
    int row;                    // aim_row: 0 to 3
    const char* setting;        // in plain words, for players; no address
};

extern const settings_position settings_positions[settings_line_count];

// The values one line yields. `count` counts values only (never the label); a weapon line
// needs all four (type and x, y, z) to make an entry.
struct line_values {
    int count = 0;
    std::int32_t integer = 0;           // reload_flag's value, or weapon's type
    float floats[row_value_count] = {}; // the float values in order (x, y, z for a weapon line)
};

// What counts as blank between a line's fields: the characters at which scanf's "%s" stops in the
// C locale. A line that holds nothing else is blank.
constexpr bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_blank_line(const char* text) noexcept;

// Whether a line of this kind begins with a label (one word, thrown away) before its values.
constexpr bool has_label(line_kind kind) noexcept {
    return kind == line_kind::reload_flag || kind == line_kind::host_float ||
           kind == line_kind::code_float || kind == line_kind::aim_row;
}

// Whether a line's first value is a whole number rather than a float, and in which forms: line 1
// takes decimal only ("%d"), a weapon type also hexadecimal after 0x and octal after a leading 0
// ("%i").
constexpr bool starts_with_integer(line_kind kind) noexcept {
    return kind == line_kind::reload_flag || kind == line_kind::weapon;
}
constexpr bool integer_in_any_base(line_kind kind) noexcept {
    return kind == line_kind::weapon;
}

// How many values a line of this kind takes, type included for a weapon line.
constexpr int values_wanted(line_kind kind) noexcept {
    switch (kind) {
    case line_kind::reload_flag:
    case line_kind::host_float:
    case line_kind::code_float:
        return 1;
    case line_kind::aim_row:
        return row_value_count;
    case line_kind::weapon:
        return 4;
    case line_kind::ignored:
        return 0;
    }
    return 0;
}

// Parses one line with its kind's format: a label (the first run of non-blank characters, of any
// length, thrown away) and then the values, or for a weapon line the four values alone. Parsing
// stops at the first field that is not a number; whatever follows the last value is ignored.
line_values parse_settings_line(line_kind kind, const char* text) noexcept;

// Where a plain number that starts at `p` ends: an optional '-', digits and, unless `integer`,
// an optional '.' with more digits, then a blank or the end of the text (an integer: at most 9
// digits and no leading 0). Null for anything else. scanf reads such a number exactly as far as
// that, so the parser, and corvane-check's layout of a line, read it without scanf.
const char* plain_number_end(const char* p, bool integer) noexcept;

// How one line of the file was read (plugin/settings/settings_reader.h reads them): whole, cut at
// 511 characters, or not at all because the file ended before it.
enum class line_read { absent, read, overlong };

} // namespace plugin
