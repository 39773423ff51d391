// The settings file "aimingSets.dat": 31 lines whose position, not label, says what they set.
//
// Reading and parsing are kept apart from applying, so that the settings checker and the fuzz
// target see the file exactly as the module does.
#pragma once

#include <cstdint>
#include <cstdio>

namespace plugin {

inline constexpr int settings_line_count = 31;
inline constexpr int line_buffer_size = 512; // a line of up to 511 characters
inline constexpr int label_buffer_size = 128;
inline constexpr int path_buffer_size = 261; // 260 characters and a terminator
inline constexpr const char settings_file_name[] = "aimingSets.dat";

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
    int line;                  // 1 to 31
    line_kind kind;
    std::uint32_t host_address; // host_float and code_float
    int row;                   // aim_row: 0 to 3
    const char* setting;       // in words, for people
};

extern const settings_position settings_positions[settings_line_count];

// The values one line yields. `count` counts values only (never the label); a weapon line
// needs all four (type and x, y, z) to make an entry.
struct line_values {
    int count = 0;
    std::int32_t integer = 0; // reload_flag's value, or weapon's type
    float floats[7] = {};     // the float values in order (x, y, z for a weapon line)
};

line_values parse_settings_line(line_kind kind, const char* text) noexcept;

// How many values a line of this kind takes, type included for a weapon line.
int values_wanted(line_kind kind) noexcept;

// Reads one line of at most 511 characters into `buffer` (512 bytes), newline kept. A longer line
// is consumed whole so that later lines keep their positions; only its start is kept.
enum class line_read { absent, read, overlong };
line_read read_settings_line(std::FILE* file, char* buffer) noexcept;

// The module's own directory with its trailing separator. Found on the first call, which shows
// the error box if the module's handle cannot be had and then uses the executable's directory.
const char* plugin_dir_path() noexcept;

// The directory followed by "aimingSets.dat", rebuilt on every call; null when the two do not
// fit in 260 characters (no truncated path is ever opened).
const char* settings_file_path() noexcept;

// Set from line 1; non-zero makes the per-frame handler load the file again every frame.
extern std::int32_t reload_each_frame;
// Rows 0 to 3 from lines 11 to 14, copied into the host after line 14 of every load.
extern float aim_row_table[4][7];

// Stores one line's values in their destinations (host data, host code, module globals).
void apply_settings_line(const settings_position& position, const line_values& values);

// Copies aim_row_table into the host's aim rows.
void copy_aim_rows_to_host() noexcept;

// Reads the whole file and applies it line by line. A file that cannot be opened changes
// nothing; lines past its end set nothing. Never throws.
void load_aiming_settings() noexcept;

// Reads the settings from an open file (the body of load_aiming_settings).
void load_aiming_settings_from(std::FILE* file);

// Forgets the module directory and resets the settings globals. For test programs only.
void forget_settings_state() noexcept;

} // namespace plugin
