// corvane-check: tells a player what corvane will do with their settings file, line by line,
// with a warning wherever corvane would surprise them and a note for what they did on purpose.
// It reads the file with the module's own line reader, parser and findings
// (plugin/settings/settings_parser.h, plugin/settings/settings_findings.h), so it cannot disagree
// with the module.
#pragma once

#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_findings.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"
#include "tools/check/files/game_build.h"
#include "tools/check/rules/named_lines_report.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace check {

// How a position fared: read, read but cut at 511 characters, or beyond the end of the file.
enum class line_state { read, overlong, past_end };

// One of the 31 positions: the line found there and what the module takes from it.
struct position_report {
    const plugin::settings_position* position = nullptr;
    line_state state = line_state::past_end;
    std::string text;           // the line as read, without its line end
    plugin::line_values values; // what the module's parser yields from it
    std::string takes;          // in words: what the module takes from this line
};

// One entry the module's weapon offset list will hold after this file's load, in list order.
struct offset_entry {
    int line = 0;
    std::int32_t weapon_type = 0;
    float x = 0, y = 0, z = 0;
    bool leaves_aim_alone() const; // a zero offset: the aim hook leaves the aim as it is
    bool finite() const;
    // The sideways part on the other shoulder: x times the file's mirror_factor.
    float x_mirrored(float factor) const { return x * factor; }
    // An ordinary x that the factor takes beyond any float: the game gets no aim point on the
    // other shoulder.
    bool mirrored_beyond_any_number(float factor) const {
        return std::isfinite(x) && !std::isfinite(x_mirrored(factor));
    }
};

// The kinds of finding, shared with the module's log (plugin/settings/settings_findings.h).
using warning_code = plugin::finding_code;
using plugin::finding_severity;

const char* warning_name(warning_code code);

// One finding: where, what happens, and what to do about it. Warnings are for what would surprise
// the player; notes for what they did on purpose and may like to have confirmed.
struct check_warning {
    int line = 0;
    warning_code code{};
    std::string message;
    std::string hint;
    named_code named = named_code::none; // about a named line: its kind, which `code` does not hold
};

// A finding's code for tools and tests: a named line's kind, or else its warning code.
const char* finding_name(const check_warning& finding);

// Why a file could not be read, for tools: a fixed code beside the words.
enum class read_error { none, not_found, is_a_folder, not_readable };
const char* read_error_name(read_error error);

// Everything the checker found in one file.
struct check_result {
    std::string file;
    bool readable = false;
    read_error error_code = read_error::none;
    std::string error; // why the file could not be read, in words
    plugin::settings_encoding encoding = plugin::settings_encoding::eight_bit;
    std::vector<position_report> positions;
    std::vector<check_warning> warnings; // in line order
    std::vector<check_warning> notes;    // in line order; they do not change the exit status
    std::vector<offset_entry> offsets;   // the weapon offset list after the load
    std::int32_t reload_each_frame = 0;
    int lines_read = 0;      // positions the file reached (at most 31)
    int extra_lines = 0;     // lines after the last one the module reads that hold text
    named_lines_check named; // the named lines, and the settings they give
    // Set when corvane will not read this file where it lies (a misnamed file, or one in a folder
    // below): what has to happen first, "it is renamed to aimingSets.dat". Such a file is never
    // called clean, whatever it holds.
    std::string not_read_until;

    // 0: reads cleanly (notes or not); 1: read, with warnings; 2: could not be read, or corvane
    // will not read it where it lies.
    int exit_status() const;

    // The aim modes as this file's named lines give them (or as corvane comes): what the
    // sideways part is multiplied by on the other shoulder, and the keys that choose a mode, in
    // words ("key Z"; "key M, or Q to swap" for the other shoulder).
    float mirror_factor() const;
    std::string mode_keys(bool mirrored) const;
};

// Checks the settings file at `path`, read through the module's own reader.
check_result check_settings_file(const std::string& path);

// Checks what `reader` yields from its start; `name` is only shown in reports.
check_result check_settings_stream(plugin::settings_reader& reader, const std::string& name);

// The report for people: a table of the 31 positions, the warnings, the notes and a summary.
std::string text_report(const check_result& result);

struct module_place;

// The same facts as a JSON document, for tools; with the game programs looked at, if any, and
// where corvane.dll was looked for, when it was.
std::string json_report(const check_result& result, const std::vector<game_build>& games = {},
                        const module_place* module = nullptr);

// A picture of the aim points around the player character: the x-y and x-z planes, one mark
// per weapon offset that moves the aim, and where the X mode moves it. Each mark's weapon type
// is written beside it, or, where marks lie close, in a column beside the view with a line to
// its mark; the file's name in the title as it is spelt, in any script.
std::string aim_points_svg(const check_result& result);

// How wide the picture takes a character of its text to be, in font sizes: as wide as the
// widest digit or letter of its labels in a bold sans-serif font. Its layout keeps labels clear
// of each other and inside their view by this, and its notes are broken into lines by it.
inline constexpr double picture_char_width = 0.72;

// A complete starter settings file that checks cleanly.
const char* settings_template();

// Writes the starter file, with Windows line ends, to the new file `path` (--template FILE):
// the exit status, with what it did in `out` or why it wrote nothing in `err`.
int write_starter_file(const std::string& path, std::string& out, std::string& err);

// Line `line` (1 to 31) of the starter file, without its line end: what a player can paste back
// where a line is missing.
std::string starter_line(int line);

// The whole command line:
//   corvane-check [--json] [--svg OUT.svg] [--game GAME.exe] [FILE] | --template [FILE] |
//   --version | --help.
// Without FILE it looks in its own folder (tools/check/files/surroundings.h). Returns the exit
// status; writes what it would print to `out` and `err`.
int run_check_command(const std::vector<std::string>& args, std::string& out, std::string& err);

// The program: the command with its output printed; when the program has its console window to
// itself (started from Explorer), it then asks for Enter so the window stays open to be read.
int run_check_program(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

} // namespace check
