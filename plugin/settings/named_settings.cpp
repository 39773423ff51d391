#include "plugin/settings/named_settings.h"

#include "plugin/settings/settings_parser.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace plugin {

using s = named_setting;
using nk = named_kind;

const named_setting_row named_settings_table[named_setting_count] = {
    {s::key_normal, "key_normal", nk::key, 0, 0, {key_z, 0}, "the key held for the normal aim"},
    {s::key_mirrored,
     "key_mirrored",
     nk::key,
     0,
     0,
     {key_x, 0},
     "the key held for the other shoulder"},
    {s::key_toggle,
     "key_toggle",
     nk::key,
     0,
     0,
     {0, 0},
     "the key whose each press swaps between the two shoulders"},
    {s::pad_toggle,
     "pad_toggle",
     nk::pad_button,
     0,
     0,
     {0, 0},
     "the gamepad button whose each press swaps between the two shoulders"},
    {s::swing_ms,
     "swing_ms",
     nk::milliseconds,
     0,
     2000,
     {0, 0},
     "how many milliseconds the swing to the other shoulder takes (0: at once)"},
    {s::mirror_factor,
     "mirror_factor",
     nk::factor,
     -10,
     10,
     {0, -3.0f},
     "what the sideways part of an offset is multiplied by on the other shoulder"},
    {s::tune_key,
     "tune_key",
     nk::key,
     0,
     0,
     {0, 0},
     "the key held to tune the weapon in hand with the arrow keys, PageUp and PageDown"},
    {s::tune_step,
     "tune_step",
     nk::factor,
     0.001f,
     1,
     {0, 0.05f},
     "how far one press of a tuning key moves the aim point"},
};

const key_name_row key_names[] = {
    {"A", 0x41},       {"B", 0x42},         {"C", 0x43},           {"D", 0x44},
    {"E", 0x45},       {"F", 0x46},         {"G", 0x47},           {"H", 0x48},
    {"I", 0x49},       {"J", 0x4A},         {"K", 0x4B},           {"L", 0x4C},
    {"M", 0x4D},       {"N", 0x4E},         {"O", 0x4F},           {"P", 0x50},
    {"Q", 0x51},       {"R", 0x52},         {"S", 0x53},           {"T", 0x54},
    {"U", 0x55},       {"V", 0x56},         {"W", 0x57},           {"X", 0x58},
    {"Y", 0x59},       {"Z", 0x5A},         {"0", 0x30},           {"1", 0x31},
    {"2", 0x32},       {"3", 0x33},         {"4", 0x34},           {"5", 0x35},
    {"6", 0x36},       {"7", 0x37},         {"8", 0x38},           {"9", 0x39},
    {"F1", 0x70},      {"F2", 0x71},        {"F3", 0x72},          {"F4", 0x73},
    {"F5", 0x74},      {"F6", 0x75},        {"F7", 0x76},          {"F8", 0x77},
    {"F9", 0x78},      {"F10", 0x79},       {"F11", 0x7A},         {"F12", 0x7B},
    {"F13", 0x7C},     {"F14", 0x7D},       {"F15", 0x7E},         {"F16", 0x7F},
    {"F17", 0x80},     {"F18", 0x81},       {"F19", 0x82},         {"F20", 0x83},
    {"F21", 0x84},     {"F22", 0x85},       {"F23", 0x86},         {"F24", 0x87},
    {"Space", 0x20},   {"Tab", 0x09},       {"CapsLock", 0x14},    {"Shift", 0x10},
    {"LShift", 0xA0},  {"RShift", 0xA1},    {"Ctrl", 0x11},        {"LCtrl", 0xA2},
    {"RCtrl", 0xA3},   {"Alt", 0x12},       {"LAlt", 0xA4},        {"RAlt", 0xA5},
    {"Enter", 0x0D},   {"Backspace", 0x08}, {"Insert", 0x2D},      {"Delete", 0x2E},
    {"Home", 0x24},    {"End", 0x23},       {"PageUp", 0x21},      {"PageDown", 0x22},
    {"Up", 0x26},      {"Down", 0x28},      {"Left", 0x25},        {"Right", 0x27},
    {"Numpad0", 0x60}, {"Numpad1", 0x61},   {"Numpad2", 0x62},     {"Numpad3", 0x63},
    {"Numpad4", 0x64}, {"Numpad5", 0x65},   {"Numpad6", 0x66},     {"Numpad7", 0x67},
    {"Numpad8", 0x68}, {"Numpad9", 0x69},   {"MouseMiddle", 0x04}, {"Mouse4", 0x05},
    {"Mouse5", 0x06},
};
const int key_name_count = static_cast<int>(sizeof key_names / sizeof key_names[0]);

const pad_button_row pad_button_names[] = {
    {"A", 0x1000},
    {"B", 0x2000},
    {"X", 0x4000},
    {"Y", 0x8000},
    {"LeftShoulder", 0x0100},
    {"RightShoulder", 0x0200},
    {"LeftTrigger", pad_left_trigger},
    {"RightTrigger", pad_right_trigger},
    {"LeftThumb", 0x0040},
    {"RightThumb", 0x0080},
    {"Back", 0x0020},
    {"Start", 0x0010},
    {"DPadUp", 0x0001},
    {"DPadDown", 0x0002},
    {"DPadLeft", 0x0004},
    {"DPadRight", 0x0008},
};
const int pad_button_name_count =
    static_cast<int>(sizeof pad_button_names / sizeof pad_button_names[0]);

namespace {

constexpr const char none_name[] = "none";

char lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` (`length` characters) spells `name`, whatever the case of either.
bool same_name(const char* text, int length, const char* name) noexcept {
    for (int i = 0; i < length; ++i)
        if (name[i] == '\0' || lower(text[i]) != lower(name[i])) return false;
    return name[length] == '\0';
}

int hex_digit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The word that starts at or after `from`: its first character, and its length (0: none).
int word_at(const char* text, int from, int& length) noexcept {
    int at = from;
    while (is_blank(text[at]))
        ++at;
    int end = at;
    while (text[end] != '\0' && !is_blank(text[end]))
        ++end;
    length = end - at;
    return at;
}

named_value_read whole_number(const char* text, int length, const named_setting_row& row,
                              std::int32_t& out) noexcept {
    int i = 0;
    const bool negative = length > 0 && text[0] == '-';
    if (negative || (length > 0 && text[0] == '+')) ++i;
    if (i == length) return named_value_read::invalid;
    long long magnitude = 0;
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return named_value_read::invalid;
        if (magnitude < 1000000000LL) magnitude = magnitude * 10 + (text[i] - '0');
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value < row.minimum || value > row.maximum) return named_value_read::out_of_range;
    out = static_cast<std::int32_t>(value);
    return named_value_read::ok;
}

named_value_read number(const char* text, int length, const named_setting_row& row,
                        float& out) noexcept {
    char token[64];
    if (length >= static_cast<int>(sizeof token)) return named_value_read::invalid;
    std::memcpy(token, text, static_cast<std::size_t>(length));
    token[length] = '\0';
    float value = 0.0f;
    int used = 0;
    if (std::sscanf(token, "%f%n", &value, &used) != 1 || used != length || value != value)
        return named_value_read::invalid; // not a number at all, or NaN
    if (!(value >= row.minimum && value <= row.maximum)) return named_value_read::out_of_range;
    out = value;
    return named_value_read::ok;
}

named_value_read read_value(const named_setting_row& row, const char* text, int length,
                            named_value& out) noexcept {
    switch (row.kind) {
    case nk::key:
        return key_code_from_name(text, length, out.whole);
    case nk::pad_button: {
        std::uint32_t bit = 0;
        const named_value_read read = pad_bit_from_name(text, length, bit);
        out.whole = static_cast<std::int32_t>(bit);
        return read;
    }
    case nk::milliseconds:
        return whole_number(text, length, row, out.whole);
    case nk::factor:
        return number(text, length, row, out.number);
    }
    return named_value_read::invalid;
}

} // namespace

const named_setting_row& named_row(named_setting setting) noexcept {
    return named_settings_table[static_cast<int>(setting)];
}

const named_setting_row* find_named_setting(const char* name, int length) noexcept {
    for (const named_setting_row& row : named_settings_table)
        if (same_name(name, length, row.name)) return &row;
    return nullptr;
}

named_value_read key_code_from_name(const char* text, int length, int& code) noexcept {
    if (same_name(text, length, none_name)) {
        code = 0;
        return named_value_read::ok;
    }
    for (int i = 0; i < key_name_count; ++i)
        if (same_name(text, length, key_names[i].name)) {
            code = key_names[i].code;
            return named_value_read::ok;
        }
    if (length < 3 || text[0] != '0' || lower(text[1]) != 'x') return named_value_read::invalid;
    int value = 0;
    for (int i = 2; i < length; ++i) {
        const int digit = hex_digit(text[i]);
        if (digit < 0) return named_value_read::invalid;
        if (value <= highest_key_code) value = value * 16 + digit;
    }
    if (value < lowest_key_code || value > highest_key_code) return named_value_read::out_of_range;
    code = value;
    return named_value_read::ok;
}

named_value_read pad_bit_from_name(const char* text, int length, std::uint32_t& bit) noexcept {
    if (same_name(text, length, none_name)) {
        bit = 0;
        return named_value_read::ok;
    }
    for (int i = 0; i < pad_button_name_count; ++i)
        if (same_name(text, length, pad_button_names[i].name)) {
            bit = pad_button_names[i].bit;
            return named_value_read::ok;
        }
    return named_value_read::invalid;
}

named_value_text key_display_name(int code) noexcept {
    named_value_text out{};
    if (code == 0) {
        std::snprintf(out.text, sizeof out.text, "%s", none_name);
        return out;
    }
    for (int i = 0; i < key_name_count; ++i)
        if (key_names[i].code == code) {
            std::snprintf(out.text, sizeof out.text, "%s", key_names[i].name);
            return out;
        }
    std::snprintf(out.text, sizeof out.text, "0x%02X", static_cast<unsigned>(code) & 0xFFu);
    return out;
}

named_value_text pad_display_name(std::uint32_t bit) noexcept {
    named_value_text out{};
    const char* name = bit == 0 ? none_name : "?";
    for (int i = 0; i < pad_button_name_count; ++i)
        if (pad_button_names[i].bit == bit) name = pad_button_names[i].name;
    std::snprintf(out.text, sizeof out.text, "%s", name);
    return out;
}

named_value_text named_value_display(const named_setting_row& row,
                                     const named_value& value) noexcept {
    named_value_text out{};
    switch (row.kind) {
    case nk::key:
        return key_display_name(value.whole);
    case nk::pad_button:
        return pad_display_name(static_cast<std::uint32_t>(value.whole));
    case nk::milliseconds:
        std::snprintf(out.text, sizeof out.text, "%ld", static_cast<long>(value.whole));
        break;
    case nk::factor:
        std::snprintf(out.text, sizeof out.text, "%g", static_cast<double>(value.number));
        break;
    }
    return out;
}

bool is_named_comment(const char* text) noexcept {
    while (is_blank(*text))
        ++text;
    return *text == named_comment;
}

bool is_named_line(int line, const char* text) noexcept {
    if (line < named_among_weapons || line > named_last_line) return false;
    int length = 0;
    const int at = word_at(text, 0, length);
    if (length == 0 || is_named_comment(text)) return false;
    return line >= named_first_line || find_named_setting(text + at, length) != nullptr;
}

named_line parse_named_line(int line, const char* text) noexcept {
    named_line read;
    read.line = line;
    read.name_at = word_at(text, 0, read.name_length);
    read.value_at = word_at(text, read.name_at + read.name_length, read.value_length);
    read.row = find_named_setting(text + read.name_at, read.name_length);
    if (!read.row) {
        read.problem = named_problem::unknown_name;
    } else if (read.value_length == 0) {
        read.problem = named_problem::no_value;
        read.value_at = read.name_at + read.name_length;
    } else {
        switch (read_value(*read.row, text + read.value_at, read.value_length, read.value)) {
        case named_value_read::ok:
            break;
        case named_value_read::invalid:
            read.problem = named_problem::invalid_value;
            break;
        case named_value_read::out_of_range:
            read.problem = named_problem::out_of_range;
            break;
        }
        if (read.problem != named_problem::none) read.value = named_value{};
    }
    return read;
}

named_values::named_values() noexcept {
    for (int i = 0; i < named_setting_count; ++i)
        value[i] = named_settings_table[i].default_value;
}

bool named_reading::offer(int line, const char* text, named_line* read) noexcept {
    if (!is_named_line(line, text)) return false;
    named_line parsed = parse_named_line(line, text);
    if (parsed.problem == named_problem::none) {
        const int index = static_cast<int>(parsed.row->setting);
        if (values_.given_by[index] != 0) {
            parsed.problem = named_problem::repeat;
            parsed.earlier_line = values_.given_by[index];
        } else {
            values_.value[index] = parsed.value;
            values_.given_by[index] = line;
        }
    }
    if (read) *read = parsed;
    return true;
}

} // namespace plugin

namespace plugin {

const char* named_kind_words(named_kind kind) noexcept {
    switch (kind) {
    case nk::key:
        return "a key name (such as Q, F5, Mouse4), a code 0x01 to 0xFE, or none";
    case nk::pad_button:
        return "a gamepad button name (such as A, RightShoulder, DPadUp), or none";
    case nk::milliseconds:
        return "a whole number of milliseconds";
    case nk::factor:
        return "a number";
    }
    return "";
}

named_range_text named_range(const named_setting_row& row) noexcept {
    named_range_text out{};
    switch (row.kind) {
    case nk::key:
        std::snprintf(out.text, sizeof out.text, "0x%02X to 0x%02X", lowest_key_code,
                      highest_key_code);
        break;
    case nk::pad_button:
        std::snprintf(out.text, sizeof out.text, "the buttons named");
        break;
    case nk::milliseconds:
    case nk::factor:
        std::snprintf(out.text, sizeof out.text, "%g to %g", static_cast<double>(row.minimum),
                      static_cast<double>(row.maximum));
        break;
    }
    return out;
}

named_line_text describe_named_line(const named_line& read, const char* text) noexcept {
    named_line_text out{};
    const int name_length = read.name_length < 60 ? read.name_length : 60;
    const int value_length = read.value_length < 60 ? read.value_length : 60;
    const char* const name = text + read.name_at;
    const char* const value = text + read.value_at;
    const named_setting_row* const row = read.row;
    switch (read.problem) {
    case named_problem::none:
        std::snprintf(out.text, sizeof out.text, "%s %s: %s", row->name,
                      named_value_display(*row, read.value).text, row->description);
        break;
    case named_problem::unknown_name:
        std::snprintf(out.text, sizeof out.text,
                      "line %d: '%.*s' is not a setting corvane knows; the line sets nothing",
                      read.line, name_length, name);
        break;
    case named_problem::no_value:
        std::snprintf(out.text, sizeof out.text,
                      "line %d: %s has no value after it (it takes %s); the line sets nothing",
                      read.line, row->name, named_kind_words(row->kind));
        break;
    case named_problem::invalid_value:
        std::snprintf(out.text, sizeof out.text,
                      "line %d: %s: '%.*s' is not %s; the line sets nothing", read.line, row->name,
                      value_length, value, named_kind_words(row->kind));
        break;
    case named_problem::out_of_range:
        std::snprintf(out.text, sizeof out.text,
                      "line %d: %s: '%.*s' is outside %s; the line sets nothing", read.line,
                      row->name, value_length, value, named_range(*row).text);
        break;
    case named_problem::repeat:
        std::snprintf(
            out.text, sizeof out.text,
            "line %d: %s is already set on line %d, and only the first one counts; this line sets "
            "nothing",
            read.line, row->name, read.earlier_line);
        break;
    }
    return out;
}

key_clash find_key_clash(const named_values& values) noexcept {
    key_clash clash;
    // The aim-mode keys, pair by pair: the one set on the later line made the clash.
    constexpr s pairs[][2] = {{s::key_normal, s::key_mirrored},
                              {s::key_normal, s::key_toggle},
                              {s::key_mirrored, s::key_toggle}};
    for (const auto& pair : pairs) {
        const int key = values[pair[0]].whole;
        if (key == 0 || values[pair[1]].whole != key) continue;
        const bool second_later = values.given_by[static_cast<int>(pair[1])] >=
                                  values.given_by[static_cast<int>(pair[0])];
        clash.key = &named_row(pair[second_later ? 1 : 0]);
        clash.setting = &named_row(pair[second_later ? 0 : 1]);
        return clash;
    }
    const int tune_key = values[s::tune_key].whole;
    if (tune_key == 0) return clash;
    for (const s other : {s::key_normal, s::key_mirrored, s::key_toggle})
        if (values[other].whole == tune_key) {
            clash.key = &named_row(s::tune_key);
            clash.setting = &named_row(other);
            return clash;
        }
    for (const tune_direction& direction : tune_directions)
        if (direction.key == tune_key) {
            clash.key = &named_row(s::tune_key);
            clash.direction = &direction;
        }
    return clash;
}

key_clash_text describe_key_clash(const named_values& values, const key_clash& clash) noexcept {
    key_clash_text out{};
    if (!clash) return out;
    const named_value_text key = key_display_name(values[clash.key->setting].whole);
    const auto is = [&clash](s a, s b) {
        return (clash.key->setting == a && clash.setting->setting == b) ||
               (clash.key->setting == b && clash.setting->setting == a);
    };
    const char* what = "";
    if (clash.direction)
        what = "one of the keys that move the aim point while tuning, so that key moves nothing";
    else if (clash.key->setting == s::tune_key)
        what = ": holding it to tune does that key's work too";
    else if (is(s::key_normal, s::key_mirrored))
        what = ": held, it chooses the normal aim, so no key held chooses the other shoulder";
    else if (is(s::key_normal, s::key_toggle))
        what = ": each press swaps, and then the held key chooses the normal aim, so the swap "
               "never reaches the other shoulder";
    else
        what = ": each press swaps, and then the held key chooses the other shoulder, so the "
               "swap never comes back to the normal aim";
    std::snprintf(out.text, sizeof out.text, "%s %s is also %s%s", clash.key->name, key.text,
                  clash.setting ? clash.setting->name : "", what);
    return out;
}

bool named_walk::weapon_line(int line, const char* text, named_line* read) noexcept {
    return line >= named_among_weapons && line < named_first_line &&
           reading_.offer(line, text, read);
}

bool named_walk::next_line(const char* text, named_line* read) noexcept {
    return reading_.offer(next_++, text, read);
}

} // namespace plugin
