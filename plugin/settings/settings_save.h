// Saving the settings file: what corvane last read of it, so that a save never writes over an
// edit the player made since, and the write itself, which replaces the file in one step.
//
// A save never leaves a half-written aimingSets.dat: the new file is written beside it
// ("aimingSets.dat.new"), flushed to the disk, and only then put in its place, in one step, by
// Windows. Before the first save, the file as it was is kept as "aimingSets.dat.bak", the same
// way; a backup that is there already is never written over, whoever made it and however many
// sessions or reloads of corvane ago, so it always holds the file as it was before corvane's
// first save.
#pragma once

#include <cstdio>
#include <string>

namespace plugin {

// Keeps the whole of `file` (open in binary mode; read from its start, whatever was read of it
// before) as the file corvane last read. A file that cannot be read to its end keeps nothing.
void keep_settings_file_read(std::FILE* file) noexcept;
// Forgets it: the load found no file it could read, or no tuning needs it.
void forget_settings_file_read() noexcept;
// The bytes corvane last read of the settings file; null when none are kept.
const std::string* settings_file_as_read() noexcept;
// After a save: the bytes corvane wrote are what it last read, so that the save never counts as
// the player's edit.
void note_settings_file_written(const std::string& bytes) noexcept;

// Reads the settings file as it is on the disk now into `bytes`. False when it cannot be opened
// or read to its end.
bool read_settings_file_now(std::string& bytes) noexcept;

// How a replacement of the settings file went; each step names what failed. On any failure the
// settings file is left exactly as it was, and the new file beside it is removed.
enum class file_replace {
    done,
    no_path,        // the folder's path is too long for the files beside the settings file
    read_only,      // the settings file is marked read-only: the player wants it left alone
    cannot_create,  // the new file could not be made beside it (a read-only folder)
    cannot_write,   // not all of it could be written (the disk is full)
    cannot_flush,   // Windows could not put it on the disk
    cannot_replace, // Windows did not let it take the old file's place (read-only, or held)
    changed,        // just before it would take its place, the file was not what corvane read
};

// Replaces the settings file by `bytes`, only while the file on the disk is still `before`: that
// is checked again just before the new file takes its place, after everything slow (the backup,
// the write and the flush), so that an edit the player saves meanwhile is not written over
// (`changed`). Where no aimingSets.dat.bak is there yet, it first keeps
// `before` (the file as it is on the disk now) as aimingSets.dat.bak, the same way but never over
// a file (`settings_backup::kept_now`); when that fails, nothing else is tried and `at_backup` is
// set. A backup already there is left as it is (`settings_backup::kept_before`).
file_replace replace_settings_file(const std::string& before, const std::string& bytes,
                                   bool& at_backup) noexcept;

// The backup, as this load of corvane knows it.
enum class settings_backup {
    not_yet,     // no save asked for one yet
    kept_now,    // this load wrote it, from the file as it was before its first save
    kept_before, // it was there already (an earlier session, load or the player): left alone
};
settings_backup settings_backup_state() noexcept;

// Asks Windows, once at start-up (the question may enter Windows' loader, which a frame never
// does), whether the files corvane writes beside itself land in the player's VirtualStore folder:
// the game is virtualized, and corvane's folder is one Windows protects (platform/windows_rules.h).
void find_where_files_are_kept() noexcept;
// Where Windows keeps `path`, a file beside corvane, for this game: the path of its copy in the
// player's VirtualStore folder (valid until the next call), or null where the file stays where
// it is.
const char16_t* virtual_store_copy(const char16_t* path) noexcept;

// Forgets what was read and that a backup was kept. For test programs only.
void forget_settings_save() noexcept;

} // namespace plugin
