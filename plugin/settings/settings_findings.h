// What a line of the settings file sets less than it seems to, in words a player reads: fewer
// numbers than the line takes, a number where the label belongs, a weapon line that adds
// nothing, a file that ends early, a line cut at 511 characters.
//
// The module's log and corvane-check both say these things; deciding them and wording them here,
// once, keeps the two from ever disagreeing. Free of OS and host access, and allocation-free, so
// the module can link it.
#pragma once

#include "plugin/settings/settings_parser.h"

#include <cstdint>

namespace plugin {

// Every kind of finding, so that tools and tests tell them apart without reading the words. The
// module decides the first group itself (settings_findings below); corvane-check adds the rest,
// which need more than one line as the module read it.
enum class finding_code {
    number_as_label,   // a labelled line's first word is a number: it is taken as the label
    missing_values,    // fewer values than the position takes
    value_left_alone,  // a label and nothing else: the game's value is left as it is
    weapon_incomplete, // a weapon line without all four fields: no entry
    weapon_duplicate,  // a weapon type an earlier line of the file gave: the line adds nothing
    past_end,          // the file ends before line 31
    overlong_line,     // longer than 511 characters
    values_joined,     // values glued to the label or to each other by '=', ':', ';' or ','
    // corvane-check only:
    partly_read,             // a number stops inside a word ("1,5" is read as 1)
    not_finite,              // inf or nan
    weapon_type_spelling,    // a weapon type with a leading zero, cut short, or out of range
    weapon_type_hexadecimal, // a weapon type written after 0x: legal, and read as meant
    extra_lines,             // text after line 31, which the module never reads
    byte_order_mark,         // a UTF-8 byte-order mark before line 1
    utf16_file,              // the file is UTF-16 text: read as the text it holds
    reload_every_frame,      // line 1 turns on reading the file again on every frame
    line_shifted,            // a line holds what the starter file puts on another: one is
                             // missing or extra above
    not_text,                // NUL bytes or mostly control characters: not a text file
    tunes_not_saved,         // a tune key is set, but the file or its folder is read-only
    newer_copy,              // a file of a near name beside it is newer: edited by mistake?
};

const char* finding_name(finding_code code) noexcept;

// A warning: the module does something the player would not expect from the line. A note: it
// does what the line says, and the player may like to know it (a value deliberately left alone,
// a file that ends after its last weapon line).
enum class finding_severity { warning, note };

inline constexpr int finding_sentence_size = 320;

// One finding: where, what, and one plain sentence saying what the module does there.
struct settings_finding {
    int line = 0;
    finding_code code{};
    finding_severity severity{};
    char sentence[finding_sentence_size] = {};
};

// The findings of one position, in the order they are best read: a cut line, then a number taken
// as the label, then what the line fails to set.
struct line_findings {
    int count = 0;
    settings_finding items[3];
};

// Whether a whole word is a number, which a labelled line then takes as its label: it holds a
// digit and "%f" reads all of it.
bool is_number_word(const char* begin, const char* end) noexcept;

// A line whose values are glued to its label, or to each other, by '=', ':', ';' or ',' where a
// blank belongs ("aim_value_8CC4B8=2.5", "aim_row_1_8CC4DC:1,2,3,4,5,6,7", "22, 0.5, 0.2, 0.1"),
// so that the module reads fewer values than the line holds. `fixed` gets the line as it must be
// written (without its line end), in which the module reads more values; false for any other line.
// Commas between digits are taken for decimal commas unless a list of them gives more values.
bool joined_values(const settings_position& position, const char* text, const line_values& values,
                   char (&fixed)[line_buffer_size]) noexcept;

// Walks the 31 positions of one file in order, as the module reads them. It remembers which
// weapon types earlier lines gave (the first line for a type wins) and where the file ended, so
// a file that ends early gives one finding, at its first missing line.
class settings_findings {
  public:
    // `text` is the line as read (newline kept); ignored when `read` is absent.
    line_findings take(const settings_position& position, line_read read, const char* text,
                       const line_values& values) noexcept;

  private:
    struct given_type {
        std::int32_t type;
        int line;
    };
    given_type given_[settings_line_count] = {};
    int given_count_ = 0;
    bool ended_ = false;
};

} // namespace plugin
