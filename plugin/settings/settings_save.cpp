#include "plugin/settings/settings_save.h"

#include "platform/os.h"
#include "platform/utf16_text.h"
#include "platform/windows_rules.h"
#include "plugin/settings/settings_files.h"

#include <algorithm>
#include <iterator>
#include <memory>

namespace plugin {

namespace {

std::string as_read;
bool as_read_kept = false;
settings_backup backup = settings_backup::not_yet;

// Whether Windows keeps the files beside corvane in its VirtualStore, and the player's local
// application data folder, under which it lies.
bool files_in_virtual_store = false;
char16_t local_app_data[os::max_path + 1] = {};
char16_t virtual_store_buffer[2 * os::max_path + 32];

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Writes `bytes` as a new file at `new_path`, flushed, then puts it in place of `path` (only where
// nothing is at `path` yet, unless `over_existing`; and, where `expected` is given, only while
// `path` holds exactly that, read again just before). The new file is removed again when any step
// fails.
file_replace write_in_one_step(const char16_t* new_path, const char16_t* path,
                               const std::string& bytes, bool over_existing,
                               const std::string* expected = nullptr) noexcept {
    os::file* const file = os::create_file(new_path);
    if (!file) return file_replace::cannot_create;
    file_replace result = file_replace::done;
    if (!os::append_to_file(file, bytes.data(), static_cast<std::uint32_t>(bytes.size())))
        result = file_replace::cannot_write;
    else if (!os::flush_file(file))
        result = file_replace::cannot_flush;
    os::close_file(file);
    if (result == file_replace::done && expected) {
        std::string now;
        try {
            if (!read_settings_file_now(now) || now != *expected) result = file_replace::changed;
        } catch (...) {
            result = file_replace::changed; // out of memory: better not than over an edit
        }
    }
    if (result == file_replace::done &&
        !(over_existing ? os::replace_file(new_path, path) : os::place_file(new_path, path)))
        result = file_replace::cannot_replace;
    if (result != file_replace::done) os::delete_file(new_path);
    return result;
}

// The whole of `file` (open in binary mode) from its start into `bytes`; false when it cannot be
// read to its end.
bool read_whole_file(std::FILE* file, std::string& bytes) {
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    bytes.clear();
    char chunk[4096];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        bytes.append(chunk, got);
        if (got < sizeof chunk) return std::ferror(file) == 0;
    }
}

} // namespace

void keep_settings_file_read(std::FILE* file) noexcept {
    try {
        as_read_kept = read_whole_file(file, as_read);
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
        return read_whole_file(file.get(), bytes);
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
    return write_in_one_step(new_path, path, bytes, true, &before);
}

void find_where_files_are_kept() noexcept {
    files_in_virtual_store = false;
    const char16_t* const path = settings_file_path();
    if (!path || !os::process_virtualized()) return;
    char16_t folder[os::max_path + 1];
    bool protected_folder = false;
    for (const char* const variable : os::protected_folder_variables) {
        char16_t name[32] = {};
        for (std::size_t i = 0; variable[i] != '\0' && i + 1 < std::size(name); ++i)
            name[i] = static_cast<char16_t>(variable[i]);
        if (os::environment_variable(name, folder, std::size(folder)) != 0 &&
            os::path_inside(path, folder))
            protected_folder = true;
    }
    if (!protected_folder) return;
    files_in_virtual_store = true;
    constexpr auto variable = os::utf16_from_ascii(os::local_app_data_variable);
    if (os::environment_variable(variable.text, local_app_data, std::size(local_app_data)) == 0)
        std::copy_n(u"%LOCALAPPDATA%", 15, local_app_data); // as the player can type it
}

const char16_t* virtual_store_copy(const char16_t* path) noexcept {
    if (!files_in_virtual_store || !path) return nullptr;
    constexpr auto store = os::utf16_from_ascii(os::virtual_store_folder);
    std::size_t at = 0;
    auto add = [&](const char16_t* text) {
        for (; *text != u'\0' && at + 1 < std::size(virtual_store_buffer); ++text)
            virtual_store_buffer[at++] = *text;
    };
    add(local_app_data);
    add(u"\\");
    add(store.text);
    const char16_t* const rest = os::path_after_drive(path);
    if (*rest != u'\\' && *rest != u'/') add(u"\\");
    add(rest);
    virtual_store_buffer[at] = u'\0';
    return virtual_store_buffer;
}

settings_backup settings_backup_state() noexcept {
    return backup;
}

void forget_settings_save() noexcept {
    as_read.clear();
    as_read_kept = false;
    backup = settings_backup::not_yet;
    files_in_virtual_store = false;
}

} // namespace plugin
