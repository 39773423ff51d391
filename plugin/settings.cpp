#include "plugin/settings.h"

#include "injector/host_address.h"
#include "injector/protect.h"
#include "platform/os.h"
#include "plugin/host.h"
#include "plugin/settings_log.h"
#include "plugin/weapon_offsets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace plugin {

using k = line_kind;

std::int32_t reload_each_frame = 0;
float aim_row_table[4][7] = {};

namespace {

constexpr int last_row_line = 14;

bool dir_found = false;
bool dir_too_long = false; // the module's path did not fit in 260 characters
bool own_module = true;    // false: the executable's directory stands in
char module_buffer[path_buffer_size];
char dir_buffer[path_buffer_size];
char path_buffer[path_buffer_size];
char log_path_buffer[path_buffer_size];
char message_buffer[1024];

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Stores one line's values in their destinations (host data, host code, module globals).
void apply_settings_line(const settings_position& position, const line_values& values) {
    switch (position.kind) {
    case k::reload_flag:
        if (values.count >= 1) reload_each_frame = values.integer;
        break;
    case k::host_float:
        if (values.count >= 1) {
            write_host_float(position.host_address, values.floats[0]);
            log_host_value(position, values.floats[0]);
        }
        break;
    case k::code_float:
        if (values.count >= 1) {
            const std::uintptr_t site = injector::host_code_address(position.host_address);
            log_code_value(position, values.floats[0], site,
                           injector::protected_write_value<float>(site, values.floats[0]));
        }
        break;
    case k::aim_row:
        for (int i = 0; i < values.count && i < 7; ++i)
            aim_row_table[position.row][i] = values.floats[i];
        break;
    case k::weapon:
        if (values.count == 4) {
            weapon_offset_entry entry{values.integer, {}};
            host_vector_set(entry.offset, values.floats);
            log_weapon_offset(position, entry, set_weapon_offset(entry));
        }
        break;
    case k::ignored:
        break;
    }
}

// Copies aim_row_table into the host's aim rows.
void copy_aim_rows_to_host() noexcept {
    write_host_bytes(host_addresses::aim_rows, aim_row_table, sizeof aim_row_table);
}

// `name` behind the module's directory, in `buffer`; null when the directory is not known whole
// or the two do not fit in 260 characters.
const char* path_beside_module(const char* name, char (&buffer)[path_buffer_size]) noexcept {
    const char* const dir = plugin_dir_path();
    if (dir_too_long) return nullptr;
    const std::size_t dir_length = std::strlen(dir);
    const std::size_t name_length = std::strlen(name);
    if (dir_length + name_length > path_buffer_size - 1) return nullptr;
    std::memcpy(buffer, dir, dir_length);
    std::memcpy(buffer + dir_length, name, name_length + 1);
    return buffer;
}

// Opens the settings file for a load, or tells why it cannot be read.
std::FILE* open_settings_file(const char* path, settings_file_problem& problem) noexcept {
    problem = settings_file_problem::none;
    if (!path) {
        problem = settings_file_problem::path_too_long;
        return nullptr;
    }
    errno = 0;
    std::FILE* const file = std::fopen(path, "r");
    if (!file) {
        problem =
            errno == ENOENT ? settings_file_problem::not_found : settings_file_problem::cannot_open;
        return nullptr;
    }
    // Opened but unreadable (a directory opens on some systems): treat as not opened, so
    // nothing at all is written, not even the row table.
    const int first = std::fgetc(file);
    if (first == EOF && std::ferror(file)) {
        std::fclose(file);
        problem = settings_file_problem::cannot_open;
        return nullptr;
    }
    std::ungetc(first, file);
    return file;
}

} // namespace

const char* plugin_dir_path() noexcept {
    if (dir_found) return dir_buffer;
    dir_found = true;
    dir_buffer[0] = '\0';

    module_buffer[0] = '\0';

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
    if (length >= size) {
        // A path that filled the buffer was cut short; its last separator may belong to some
        // other directory, so no directory is known and nothing will be loaded.
        dir_too_long = true;
        dir_buffer[0] = '\0';
        return dir_buffer;
    }
    dir_buffer[length] = '\0';
    std::memcpy(module_buffer, dir_buffer, length + 1);

    char* const backslash = std::strrchr(dir_buffer, '\\');
    char* const slash = std::strrchr(dir_buffer, '/');
    char* const separator = !backslash ? slash : !slash ? backslash : std::max(backslash, slash);
    if (separator) separator[1] = '\0';
    return dir_buffer;
}

const char* settings_file_path() noexcept {
    return path_beside_module(settings_file_name, path_buffer);
}

const char* log_file_path() noexcept {
    return path_beside_module(log_file_name, log_path_buffer);
}

const char* module_file_path() noexcept {
    plugin_dir_path();
    return module_buffer;
}

bool module_found_itself() noexcept {
    plugin_dir_path();
    return own_module;
}

void load_aiming_settings_from(std::FILE* file) {
    char line[line_buffer_size];
    begin_weapon_offset_load();
    log_settings_load_begins();
    for (const settings_position& position : settings_positions) {
        const line_read read = read_settings_line(file, line);
        line_values values;
        if (read != line_read::absent) {
            values = parse_settings_line(position.kind, line);
            apply_settings_line(position, values);
        }
        log_settings_line(position, read, line, values);
        if (position.line == last_row_line) copy_aim_rows_to_host();
    }
    log_settings_load_ends();
}

void load_aiming_settings() noexcept {
    try {
        const char* const path = settings_file_path();
        settings_file_problem problem;
        const std::unique_ptr<std::FILE, file_closer> file(open_settings_file(path, problem));
        // Missing, or held by an editor: try again next time.
        log_settings_file(path, problem);
        if (file) load_aiming_settings_from(file.get());
    } catch (...) {
        // Out of memory while appending: the entries so far stay; the host keeps running.
    }
}

void forget_settings_state() noexcept {
    dir_found = false;
    dir_too_long = false;
    own_module = true;
    module_buffer[0] = '\0';
    dir_buffer[0] = '\0';
    path_buffer[0] = '\0';
    log_path_buffer[0] = '\0';
    reload_each_frame = 0;
    std::memset(aim_row_table, 0, sizeof aim_row_table);
}

} // namespace plugin
