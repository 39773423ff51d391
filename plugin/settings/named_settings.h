// The named lines of the settings file: "name value" lines below the 31 positional lines that
// choose the aim-mode keys, a gamepad button, the swing between the modes, the factor of the
// other mode, and the key and step for tuning an offset in the game.
//
// Free of any OS or host access, like plugin/settings/settings_parser.h, so that the module, the
// settings checker and the fuzz target read these lines by the same rules, names and ranges.
//
// The rules:
// - From line 32 on, up to line 95, every line that is not blank and not a comment (its first
//   non-blank character '#') is a named line: a name, blanks, a value; whatever follows the value
//   is ignored, as on the positional lines. Lines past 95 are not read.
// - Among lines 16 to 31 (the weapon lines) a line whose first word is a known name is read as a
//   named line too, so that a file whose lines moved still works; any other line there stays a
//   weapon line.
// - Names, key names and button names are matched whatever their case.
// - The first line that gives a setting counts; a later line for the same setting is a repeat
//   and sets nothing. A line with an unknown name, no value, a value that is not valid or out of
//   its range sets nothing; that setting keeps its default unless another line sets it.
#pragma once

#include <cstdint>

namespace plugin {

inline constexpr int named_first_line = 32;    // where the named lines begin
inline constexpr int named_last_line = 95;     // the last line read (64 lines further)
inline constexpr int named_among_weapons = 16; // from here to 31, a line with a known name counts
inline constexpr char named_comment = '#';

// The keys of the two aim modes while the file names no others.
inline constexpr int key_z = 0x5A; // the normal aim
inline constexpr int key_x = 0x58; // the other shoulder

// The settings a named line can give, in the order of named_settings_table.
enum class named_setting : std::uint8_t {
    key_normal,
    key_mirrored,
    key_toggle,
    pad_toggle,
    swing_ms,
    mirror_factor,
    tune_key,
    tune_step,
};
inline constexpr int named_setting_count = 8;

// What kind of value a setting takes, and so how its value is read and shown.
enum class named_kind : std::uint8_t {
    key,          // a key name, 0x01 to 0xFE, or none (0)
    pad_button,   // a gamepad button name, or none (0)
    milliseconds, // a whole number within the range
    factor,       // a number within the range
};

// A setting's value: `whole` for keys, buttons and milliseconds, `number` for a factor.
struct named_value {
    std::int32_t whole = 0;
    float number = 0.0f;
    friend bool operator==(const named_value&, const named_value&) = default;
};

// One named setting, as data: the name a player writes, what it takes and what it does.
struct named_setting_row {
    named_setting setting;
    const char* name;
    named_kind kind;
    float minimum; // milliseconds and factor: the range, both ends included
    float maximum;
    named_value default_value; // what applies while no line gives the setting
    const char* description;   // what it sets, in plain words for players
};

extern const named_setting_row named_settings_table[named_setting_count];

const named_setting_row& named_row(named_setting setting) noexcept;

// The row whose name is `name` (`length` characters, any case), or null.
const named_setting_row* find_named_setting(const char* name, int length) noexcept;

// --- Key names and gamepad button names ---------------------------------------------------

// Why it exists: a name a player may write, and the Windows virtual-key code it stands for.
struct key_name_row {
    const char* name;
    std::uint8_t code;
};
// Why it exists: a gamepad button name and its bit in pad_buttons (the controller's own button
// bits, and two bits of the module's own for the triggers, which the controller reports as
// how far each is pulled).
struct pad_button_row {
    const char* name;
    std::uint32_t bit;
};

inline constexpr int lowest_key_code = 0x01;
inline constexpr int highest_key_code = 0xFE;
inline constexpr std::uint32_t pad_left_trigger = 0x10000;
inline constexpr std::uint32_t pad_right_trigger = 0x20000;
// A trigger pulled further than this (of 255) counts as pressed.
inline constexpr int pad_trigger_threshold = 30;

extern const key_name_row key_names[];
extern const int key_name_count;
extern const pad_button_row pad_button_names[];
extern const int pad_button_name_count;

// What a key or button value reads from the text.
enum class named_value_read : std::uint8_t { ok, invalid, out_of_range };

// A key name, "0x01" to "0xFE", or "none" (code 0). `length` characters, any case. A code
// written as 0x.. outside 0x01 to 0xFE is out_of_range; anything else unknown is invalid.
named_value_read key_code_from_name(const char* text, int length, int& code) noexcept;
// A gamepad button name or "none" (bit 0), any case.
named_value_read pad_bit_from_name(const char* text, int length, std::uint32_t& bit) noexcept;

// The name to show for a value: a key's name ("Z", "Mouse4", or "0xBA" for a code without a
// name), a button's, "none" for 0, a number as "%g" writes it ("250", "-3", "1.5").
struct named_value_text {
    char text[16];
};
named_value_text key_display_name(int code) noexcept;
named_value_text pad_display_name(std::uint32_t bit) noexcept;
named_value_text named_value_display(const named_setting_row& row,
                                     const named_value& value) noexcept;

// --- One line ---------------------------------------------------------------------------------

enum class named_problem : std::uint8_t {
    none,
    unknown_name,  // the first word is no setting's name
    no_value,      // a name and nothing after it
    invalid_value, // not a value of the setting's kind
    out_of_range,  // a number or key code outside the setting's range
    repeat,        // a later line for a setting an earlier line gave (set by named_reading)
};

// One named line as read: where it is, what it names, what it sets, or what is wrong with it.
// The name and the value are given as they are written, by their place in the line's text.
struct named_line {
    int line = 0;
    const named_setting_row* row = nullptr; // null for an unknown name
    named_problem problem = named_problem::none;
    named_value value; // valid when problem is none or repeat
    int name_at = 0;   // the name's first character in the line and its length
    int name_length = 0;
    int value_at = 0; // the value's, or the end of the name when there is no value
    int value_length = 0;
    int earlier_line = 0; // repeat: the line that gave the setting
};

// Whether a line is a comment: its first non-blank character is '#'.
bool is_named_comment(const char* text) noexcept;

// Whether line `line` (1-based) of the file, with text `text`, is a named line by the rules above.
bool is_named_line(int line, const char* text) noexcept;

// Reads a named line (the caller has asked is_named_line). Never sets problem `repeat`.
named_line parse_named_line(int line, const char* text) noexcept;

// What a player reads about a named line, the same words in the log and the checker: for a line
// that sets something, "key_toggle Q: the key whose each press swaps ..."; for one that does not,
// what is wrong and that the line sets nothing ("line 37: 'key_mirorred' is not a setting
// corvane knows; the line sets nothing"). `text` is the line as read.
struct named_line_text {
    char text[320];
};
named_line_text describe_named_line(const named_line& read, const char* text) noexcept;

// What a setting takes, in words: "a key name, 0x01 to 0xFE, or none", "0 to 2000".
const char* named_kind_words(named_kind kind) noexcept;
struct named_range_text {
    char text[40];
};
named_range_text named_range(const named_setting_row& row) noexcept;

// --- A whole file ----------------------------------------------------------------------------

// The named settings in effect: each setting's value, and which line gave it (0: none did; the
// default applies).
struct named_values {
    named_value value[named_setting_count];
    int given_by[named_setting_count] = {};
    named_values() noexcept; // every setting at its default
    const named_value& operator[](named_setting s) const noexcept {
        return value[static_cast<int>(s)];
    }
    friend bool operator==(const named_values&, const named_values&) = default;
};

// --- The tune keys ------------------------------------------------------------------------------

// One key that moves the aim point while tune_key is held, as data: which part of the offset
// (0: x, the sideways part; 1: y, ahead; 2: z, up) and which way. Why it exists: the layout is
// told once, here, and the module, the checker and the docs follow it.
struct tune_direction {
    int key;    // the Windows virtual-key code
    int part;   // 0, 1 or 2
    float sign; // +1 or -1
};
inline constexpr tune_direction tune_directions[] = {
    {0x25, 0, -1.0f}, // Left: to the player's left as seen on screen
    {0x27, 0, +1.0f}, // Right
    {0x26, 2, +1.0f}, // Up: the point up
    {0x28, 2, -1.0f}, // Down
    {0x21, 1, +1.0f}, // PageUp: the point further ahead
    {0x22, 1, -1.0f}, // PageDown: nearer
};
inline constexpr int tune_direction_count =
    static_cast<int>(sizeof tune_directions / sizeof tune_directions[0]);

// Two of corvane's keys set to one key, so that one does the other's work too: two aim-mode keys
// (then one mode can no longer be reached by its key), or the tune key and an aim-mode key
// (`setting`) or one of the six keys above (`direction`, which then moves nothing). `key` is the
// setting whose line made the clash (the later line of the two). Null `key`: no clash.
struct key_clash {
    const named_setting_row* key = nullptr;
    const named_setting_row* setting = nullptr;
    const tune_direction* direction = nullptr;
    explicit operator bool() const noexcept { return key != nullptr; }
    friend bool operator==(const key_clash&, const key_clash&) = default;
};
// The first clash: the aim-mode keys among themselves, then the tune key.
key_clash find_key_clash(const named_values& values) noexcept;

// The clash in words, the same in the log and the checker: "tune_key X is also key_mirrored:
// holding it to tune also ..." (empty text for no clash).
struct key_clash_text {
    char text[240];
};
key_clash_text describe_key_clash(const named_values& values, const key_clash& clash) noexcept;

// Why it exists: one load's reading of the named lines, line by line as the file is read, with
// the rule that the first line for a setting counts.
class named_reading {
  public:
    // Offers line `line` of the file. A named line is read and, when it sets something that no
    // earlier line set, its value is taken; `read` (when not null) receives the line as read,
    // with problem `repeat` for a later line of a setting already given. False (and `read`
    // untouched) for a line that is not a named line.
    bool offer(int line, const char* text, named_line* read = nullptr) noexcept;
    const named_values& values() const noexcept { return values_; }

  private:
    named_values values_;
};

// Why it exists: the one walk over a file's named lines, for the module's load and the checker
// alike. The weapon lines (16 to 31) are offered as their positions are read, then the lines
// after line 31, one by one, up to line 95, where the walk stops. The one rule among the weapon
// lines: a line read as a named line adds no weapon, and its weapon slot stays unused.
class named_walk {
  public:
    // Offers position `line` of the 31 with its text. True when it is read as a named line:
    // then it adds no weapon, and the caller leaves that slot unused.
    bool weapon_line(int line, const char* text, named_line* read = nullptr) noexcept;

    // Whether the walk takes another line after line 31: false once line 95 is behind it.
    bool wants_more() const noexcept { return next_ <= named_last_line; }
    // The number of the line next_line takes.
    int next_line_number() const noexcept { return next_; }
    // Offers the next line after line 31 (the caller has asked wants_more). True when it is read
    // as a named line.
    bool next_line(const char* text, named_line* read = nullptr) noexcept;

    const named_values& values() const noexcept { return reading_.values(); }

  private:
    named_reading reading_;
    int next_ = named_first_line;
};

} // namespace plugin
