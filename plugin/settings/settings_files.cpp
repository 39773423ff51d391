#include "plugin/settings/settings_files.h"

#include "platform/os.h"
#include "platform/utf16_text.h"

#include <cstdio>
#include <string>

namespace plugin {

namespace {

bool dir_found = false;
bool dir_too_long = false; // the module's path did not fit in 260 characters
bool own_module = true;    // false: the executable's directory stands in
char16_t module_buffer[path_buffer_size];
char16_t dir_buffer[path_buffer_size];
char16_t path_buffer[path_buffer_size];
char16_t log_path_buffer[path_buffer_size];
char16_t backup_path_buffer[path_buffer_size];
char16_t new_path_buffer[path_buffer_size];
char message_buffer[1024];

constexpr auto settings_name = os::utf16_from_ascii(settings_file_name);
constexpr auto log_name = os::utf16_from_ascii(log_file_name);
constexpr auto backup_name = os::utf16_from_ascii(settings_backup_name);
constexpr auto new_name = os::utf16_from_ascii(settings_new_name);

using utf16_length = std::char_traits<char16_t>;

// `name` behind the module's directory, in `buffer`; null when the directory is not known whole
// or the two do not fit in 260 characters.
const char16_t* path_beside_module(const char16_t* name,
                                   char16_t (&buffer)[path_buffer_size]) noexcept {
    const char16_t* const dir = plugin_dir_path();
    if (dir_too_long) return nullptr;
    const std::size_t dir_length = utf16_length::length(dir);
    const std::size_t name_length = utf16_length::length(name);
    if (!path_beside_module_fits(dir_length + name_length)) return nullptr;
    utf16_length::copy(buffer, dir, dir_length);
    utf16_length::copy(buffer + dir_length, name, name_length + 1);
    return buffer;
}

} // namespace

const char16_t* plugin_dir_path() noexcept {
    if (dir_found) return dir_buffer;
    dir_found = true;
    dir_buffer[0] = u'\0';
    module_buffer[0] = u'\0';

    void* module = nullptr;
    if (!os::module_handle_from_address(reinterpret_cast<const void*>(&plugin_dir_path), &module)) {
        std::snprintf(message_buffer, sizeof message_buffer, "%s",
                      "FILESYSTEM\nFailed to retrieve plugin dir path");
        os::show_error_box(message_buffer, "corvane");
        module = nullptr;
        own_module = false;
    }
    const std::uint32_t size = path_buffer_size - 1;
    const std::uint32_t length = os::module_file_name(module, dir_buffer, size);
    if (!module_path_fits(length)) {
        // A path that filled the buffer was cut short; its last separator may belong to some
        // other directory, so no directory is known and nothing will be loaded.
        dir_too_long = true;
        dir_buffer[0] = u'\0';
        return dir_buffer;
    }
    dir_buffer[length] = u'\0';
    utf16_length::copy(module_buffer, dir_buffer, length + 1);

    // The directory ends behind the last separator of either kind.
    for (std::uint32_t end = length; end > 0; --end) {
        if (dir_buffer[end - 1] == u'\\' || dir_buffer[end - 1] == u'/') {
            dir_buffer[end] = u'\0';
            break;
        }
    }
    return dir_buffer;
}

const char16_t* settings_file_path() noexcept {
    return path_beside_module(settings_name.text, path_buffer);
}

const char16_t* log_file_path() noexcept {
    return path_beside_module(log_name.text, log_path_buffer);
}

const char16_t* settings_backup_path() noexcept {
    return path_beside_module(backup_name.text, backup_path_buffer);
}

const char16_t* settings_new_path() noexcept {
    return path_beside_module(new_name.text, new_path_buffer);
}

const char16_t* module_file_path() noexcept {
    plugin_dir_path();
    return module_buffer;
}

bool module_found_itself() noexcept {
    plugin_dir_path();
    return own_module;
}

void forget_settings_files() noexcept {
    dir_found = false;
    dir_too_long = false;
    own_module = true;
    module_buffer[0] = u'\0';
    dir_buffer[0] = u'\0';
    path_buffer[0] = u'\0';
    log_path_buffer[0] = u'\0';
}

} // namespace plugin
