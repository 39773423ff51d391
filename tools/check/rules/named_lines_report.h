// What corvane-check says about the named lines: the "name value" lines below line 31 (and any
// among the weapon lines) that choose the aim-mode keys, a gamepad button, the swing and the
// factor of the other shoulder.
//
// They are read by the module's own rules and worded with its own words, ranges and setting
// descriptions (plugin/settings/named_settings.h); the checker adds what the module cannot know:
// the known name, key or button a misspelt one was likely meant to be, and what to do.
#pragma once

#include "plugin/settings/named_settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace check {

struct check_result;

// The kinds of finding about named lines. The module's log words these lines itself, so they
// have no code among the module's findings (plugin/settings/settings_findings.h).
enum class named_code : std::uint8_t {
    none,
    unknown_name,       // the first word is no setting's name
    no_value,           // a name and nothing after it
    bad_value,          // not a key name, button name or number the setting takes
    out_of_range,       // a number or key code outside the setting's range
    repeat,             // an earlier line already gave the setting
    among_weapon_lines, // a named line among lines 16 to 31: read, and it adds no weapon
    key_clash,          // two of corvane's keys are one key
};

const char* named_code_name(named_code code);

// One named line as read, with the checker's guess at what a misspelt word was meant to be.
struct named_line_report {
    plugin::named_line read;
    std::string text;          // the line as read, without its line end
    std::string suggestion;    // a known name, key or button close to an unknown one; else empty
    std::string name() const;  // as written
    std::string value() const; // as written
    bool counts() const { return read.problem == plugin::named_problem::none; }
};

// What the named lines of one file come to.
struct named_lines_check {
    std::vector<named_line_report> lines; // in file order
    plugin::named_values in_effect;
    int lines_past_limit = 0; // lines after the last one read that would be named lines
    int first_past_limit = 0;
};

// Reads the named lines of a checked file as the module does: those among the weapon lines
// (already in `result.positions`), then the lines after line 31 as read (empty when the file
// ends sooner) up to the last line read, counting the lines past it. Fills `result.named`, adds the
// findings to the result's warnings and notes in line order, and takes back the weapon-line warning
// of a named line among the weapon lines.
void check_named_lines(const std::vector<std::string>& after_line_31, check_result& result);

// The named lines' part of the text report: each named line with what it sets, then the
// settings in effect. Lines of the report's width at most; empty for a file without named lines.
std::string named_lines_text(const check_result& result);

// The one of `names` that `word` is most likely a slip for (letters compared in any case), or
// empty when none is close: at most 2 edits apart, and at most one edit per 3 letters of `word`.
std::string closest_name(const std::string& word, const std::vector<std::string>& names);

} // namespace check
