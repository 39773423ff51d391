// What each load of aimingSets.dat did, told to corvane.log as the loader goes.
//
// The first load that reads the file is reported whole: where the file is, a short summary of
// what it set, and one line for each line that sets less than it seems. Later loads (live
// reload) report only what they changed, each change once; a file that cannot be read is
// reported when it starts failing and when it is read again. A load that changes nothing writes
// nothing and allocates nothing. With the log closed, every call returns at once.
#pragma once

#include "injector/protect.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/weapon_offsets.h"

#include <cstdint>

namespace plugin {

// At start-up, before the first load writes anything: the game's own values of lines 3 to 9 (line
// 5's from the game's code) and of the four rows, each as the numbers a player writes after the
// line's label to set it back.
void log_game_values() noexcept;

// Before a load: the file's path (null when too long) and whether it could be opened.
void log_settings_file(const char16_t* path, settings_file_problem problem) noexcept;

// Around the reading of an open file.
void log_settings_load_begins() noexcept;
void log_settings_load_ends() noexcept;

// One position of the file as the loader read it (`text` with its newline; ignored when
// `read` is absent), after its values were applied.
void log_settings_line(const settings_position& position, line_read read, const char* text,
                       const line_values& values) noexcept;

// A value written into the game's data, and the one written into its code (at `address` in
// this process) with how that went.
void log_host_value(const settings_position& position, float value) noexcept;
void log_code_value(const settings_position& position, float value, std::uintptr_t address,
                    injector::patch_status status) noexcept;

// A weapon line applied to the weapon offset list, and what that did.
void log_weapon_offset(const settings_position& position, const weapon_offset_entry& entry,
                       const weapon_update& update) noexcept;

// Forgets every earlier load, as a fresh load of the module does. For test programs only.
void forget_settings_log() noexcept;

} // namespace plugin
