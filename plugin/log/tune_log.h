// What the tune keys did, told to corvane.log: which weapon is tuned, each save with the old and
// the new offset and the line, and, when nothing was saved, why, in plain words.
#pragma once

#include "plugin/settings/settings_edit.h"
#include "plugin/settings/settings_save.h"

#include <cstdint>

namespace plugin {

// The first press for a weapon: the weapon and the offset it starts from. `own_line`: whether
// it had a line of its own (otherwise it starts from the default, or from no offset at all when
// `served` is false).
void log_tune_begins(std::int32_t weapon_type, const float (&from)[3], bool own_line,
                     bool served) noexcept;

// A press before any aim: corvane does not know the weapon in hand. Said once per session.
void log_tune_without_weapon() noexcept;

// The tune key is set, but neither the game's per-frame call nor its aim call runs corvane's
// per-frame work, so the keys do nothing. Said once, at start-up.
void log_tune_keys_unavailable(int tune_key) noexcept;

// One weapon saved: `edit` says on which line, and whether the line is new.
void log_tune_saved(std::int32_t weapon_type, const float (&from)[3], const float (&to)[3],
                    const weapon_edit& edit) noexcept;

// The first save of this load: it kept the file as it was as aimingSets.dat.bak, or found one
// there, which it leaves as it is.
void log_tune_backup(settings_backup backup) noexcept;

// One weapon not saved because the file has no place for it (`edit.status` no_empty_slot or
// not_placeable); the tuned aim stays for this session.
void log_tune_no_place(std::int32_t weapon_type, const float (&to)[3],
                       const weapon_edit& edit) noexcept;

// Not saved yet: corvane has not read aimingSets.dat since before the tune began; the tune is
// saved at a letting go once a load has read the file.
void log_tune_file_not_read(std::int32_t weapon_type, const float (&to)[3]) noexcept;

// Nothing saved: the file cannot be read now.
void log_tune_file_unreadable() noexcept;

// Nothing saved: the write failed at `step`, of the backup when `at_backup`; the file is as it
// was.
void log_tune_write_failed(file_replace step, bool at_backup) noexcept;

// The player changed the file since corvane read it: it is read again, and the tune of each
// weapon is dropped (said once per weapon, after the first line).
void log_tune_file_changed() noexcept;
void log_tune_dropped(std::int32_t weapon_type, const float (&to)[3]) noexcept;

// At the top of the log, where Windows keeps corvane's files in the player's VirtualStore folder
// (find_where_files_are_kept): where this log really is, and, where a copy of aimingSets.dat is
// there already, that the game reads that copy and how to end the split.
void log_files_in_virtual_store() noexcept;

// One weapon not saved because the save would land in VirtualStore, not in the file the player
// edits: why, and the line to write by hand (`edit` tells which line); the tuned aim lasts for
// the session.
void log_tune_in_virtual_store(std::int32_t weapon_type, const float (&to)[3],
                               const weapon_edit& edit) noexcept;

// The game quits, or corvane is unloaded, with this weapon's tune not saved: it is lost.
void log_tune_not_saved_at_unload(std::int32_t weapon_type, const float (&to)[3]) noexcept;

// Forgets what was said once. For test programs only.
void forget_tune_log() noexcept;

} // namespace plugin
