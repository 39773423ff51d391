// Applying the settings file "aimingSets.dat" to the host and the module: finding the file beside
// the module, and storing each line's values at once, in line order.
#pragma once

#include "platform/os.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"

#include <cstddef>
#include <cstdint>

namespace plugin {

// Paths are held in UTF-16, as Windows spells them (see platform/os.h).
inline constexpr int path_buffer_size = os::max_path + 1; // 260 characters and a terminator
inline constexpr const char settings_file_name[] = "aimingSets.dat";
inline constexpr const char log_file_name[] = "corvane.log";
// Beside the settings file when corvane saves it: the file as it was before the first save of
// the game session, and the new file while it is written, before it takes the old one's place.
inline constexpr const char settings_backup_name[] = "aimingSets.dat.bak";
inline constexpr const char settings_new_name[] = "aimingSets.dat.new";
// The module's own file, as the build names it; the settings checker looks for it.
inline constexpr const char module_file_name[] = "corvane.dll";
// The rule of the module's path buffers, in UTF-16 units: its own path must be shorter than 260
// (a path that fills the buffer may have been cut), a file beside it at most 260 long. Where
// either fails, the module reads nothing; corvane-check asks the same.
constexpr bool module_path_fits(std::size_t units) noexcept {
    return units < static_cast<std::size_t>(path_buffer_size - 1);
}
constexpr bool path_beside_module_fits(std::size_t units) noexcept {
    return units <= static_cast<std::size_t>(path_buffer_size - 1);
}
inline constexpr const char path_too_long_words[] = "its path would be longer than 260 characters";

// The module's own directory with its trailing separator. Found on the first call, which shows
// the error box if the module's handle cannot be had and then uses the executable's directory.
// A module path without any separator is kept whole; one too long for 260 characters leaves
// the directory empty and unusable (settings_file_path then gives null).
const char16_t* plugin_dir_path() noexcept;

// The directory followed by "aimingSets.dat", rebuilt on every call; null when the two do not
// fit in 260 characters, or the directory could not be had whole (no cut path is ever opened).
const char16_t* settings_file_path() noexcept;

// The directory followed by "corvane.log", by the same rule as settings_file_path. Files beside
// the module are named here and nowhere else.
const char16_t* log_file_path() noexcept;

// The directory followed by "aimingSets.dat.bak", and by "aimingSets.dat.new", by the same rule.
const char16_t* settings_backup_path() noexcept;
const char16_t* settings_new_path() noexcept;

// The full path the module was loaded from, as the directory was found from it (the
// executable's when the module could not find its own handle; empty when it was too long).
const char16_t* module_file_path() noexcept;
// False when the module could not find its own handle and looks beside the executable.
bool module_found_itself() noexcept;

// Why a load read nothing: the file's path does not fit in 260 characters, there is no file of
// that name, or it is there but cannot be opened or read (held by another program, a folder).
enum class settings_file_problem { none, path_too_long, not_found, cannot_open };

// Set from line 1; non-zero makes the per-frame handler load the file again every frame.
extern std::int32_t reload_each_frame;
// Rows 0 to 3 from lines 11 to 14, copied into the host after line 14 of every load. Start-up
// fills it from the game's own rows first, so every value the file does not give keeps the
// game's, as lines 3 to 9 do.
extern float aim_row_table[aim_row_count][row_value_count];

// Fills aim_row_table from the game's own rows (left as it is where the game has no readable
// rows). Start-up calls it once, before the first load.
void take_game_aim_rows() noexcept;

// Reads the whole file and applies it line by line. A file that cannot be opened or read
// changes nothing; lines past its end set nothing. Never throws.
void load_aiming_settings() noexcept;

// Reads the settings through `reader` (the body of load_aiming_settings).
void load_aiming_settings_from(settings_reader& reader);

// Forgets the module directory and resets the settings globals. For test programs only.
void forget_settings_state() noexcept;

} // namespace plugin
