#include "plugin/settings/settings_save.h"

#include "platform/os.h"
#include "plugin/settings/settings.h"

#include <memory>

namespace plugin {

namespace {

std::string as_read;
bool as_read_kept = false;
settings_backup backup = settings_backup::not_yet;

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// The whole of `file` from its start into `bytes`; false when it cannot be read to its end.
bool read_whole(std::FILE* file, std::string& bytes) {
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    bytes.clear();
    char chunk[4096];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        bytes.append(chunk, got);
        if (got < sizeof chunk) return std::ferror(file) == 0;
    }
}

// Writes `bytes` as a new file at `new_path`, flushed, then puts it in place of `path` (only where
// nothing is at `path` yet, unless `over_existing`). The new file is removed again when any step
// fails.
file_replace write_in_one_step(const char16_t* new_path, const char16_t* path,
                               const std::string& bytes, bool over_existing) noexcept {
    os::file* const file = os::create_file(new_path);
    if (!file) return file_replace::cannot_create;
    file_replace result = file_replace::done;
    if (!os::append_to_file(file, bytes.data(), static_cast<std::uint32_t>(bytes.size())))
        result = file_replace::cannot_write;
    else if (!os::flush_file(file))
        result = file_replace::cannot_flush;
    os::close_file(file);
    if (result == file_replace::done &&
        !(over_existing ? os::replace_file(new_path, path) : os::place_file(new_path, path)))
        result = file_replace::cannot_replace;
    if (result != file_replace::done) os::delete_file(new_path);
    return result;
}

} // namespace

void keep_settings_file_read(std::FILE* file) noexcept {
    try {
        as_read_kept = read_whole(file, as_read);
    } catch (...) {
        as_read_kept = false; // out of memory: nothing kept, so nothing will be saved
    }
}

void forget_settings_file_read() noexcept {
    as_read_kept = false;
}

const std::string* settings_file_as_read() noexcept {
    return as_read_kept ? &as_read : nullptr;
}

void note_settings_file_written(const std::string& bytes) noexcept {
    try {
        as_read = bytes;
        as_read_kept = true;
    } catch (...) {
        as_read_kept = false;
    }
}

bool read_settings_file_now(std::string& bytes) noexcept {
    const char16_t* const path = settings_file_path();
    if (!path) return false;
    const std::unique_ptr<std::FILE, file_closer> file(os::open_for_reading(path));
    if (!file) return false;
    try {
        return read_whole(file.get(), bytes);
    } catch (...) {
        return false;
    }
}

file_replace replace_settings_file(const std::string& before, const std::string& bytes,
                                   bool& at_backup) noexcept {
    at_backup = false;
    const char16_t* const path = settings_file_path();
    const char16_t* const new_path = settings_new_path();
    const char16_t* const backup_path = settings_backup_path();
    if (!path || !new_path || !backup_path) return file_replace::no_path;
    if (os::is_read_only(path)) return file_replace::read_only;
    if (backup == settings_backup::not_yet && os::file_exists(backup_path))
        backup = settings_backup::kept_before;
    if (backup == settings_backup::not_yet) {
        const file_replace kept = write_in_one_step(new_path, backup_path, before, false);
        if (kept != file_replace::done) {
            at_backup = true;
            return kept;
        }
        backup = settings_backup::kept_now;
    }
    return write_in_one_step(new_path, path, bytes, true);
}

settings_backup settings_backup_state() noexcept {
    return backup;
}

void forget_settings_save() noexcept {
    as_read.clear();
    as_read_kept = false;
    backup = settings_backup::not_yet;
}

} // namespace plugin
