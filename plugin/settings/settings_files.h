// The files beside the module: their names, the rule their paths follow, and where they are.
// The loader, the save and the log find them here; corvane-check asks the same rules.
#pragma once

#include "platform/os.h"

#include <cstddef>

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

// Forgets the module directory, so the next call finds it again. For test programs only.
void forget_settings_files() noexcept;

} // namespace plugin
