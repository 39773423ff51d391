#include "plugin/settings.h"

#include "injector/host_address.h"
#include "injector/host_variant.h"
#include "injector/protect.h"
#include "platform/os.h"
#include "plugin/host.h"
#include "plugin/weapon_offsets.h"

#include <algorithm>
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
char dir_buffer[path_buffer_size];
char path_buffer[path_buffer_size];
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
        if (values.count >= 1) write_host_float(position.host_address, values.floats[0]);
        break;
    case k::code_float:
        if (values.count >= 1) {
            const std::uintptr_t site = injector::translate_host_address(position.host_address);
            injector::ensure_host_variant();
            injector::protected_write_value<float>(site, values.floats[0]);
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
            set_weapon_offset(entry);
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

} // namespace

const char* plugin_dir_path() noexcept {
    if (dir_found) return dir_buffer;
    dir_found = true;
    dir_buffer[0] = '\0';

    void* module = nullptr;
    if (!os::module_handle_from_address(reinterpret_cast<const void*>(&plugin_dir_path), &module)) {
        std::snprintf(message_buffer, sizeof message_buffer, "%s",
                      "FILESYSTEM\nFailed to retrieve plugin dir path");
        os::show_error_box(message_buffer, "corvane");
        module = nullptr;
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

    char* const backslash = std::strrchr(dir_buffer, '\\');
    char* const slash = std::strrchr(dir_buffer, '/');
    char* const separator = !backslash ? slash : !slash ? backslash : std::max(backslash, slash);
    if (separator) separator[1] = '\0';
    return dir_buffer;
}

const char* settings_file_path() noexcept {
    const char* const dir = plugin_dir_path();
    if (dir_too_long) return nullptr;
    const std::size_t dir_length = std::strlen(dir);
    const std::size_t name_length = sizeof settings_file_name - 1;
    if (dir_length + name_length > path_buffer_size - 1) return nullptr;
    std::memcpy(path_buffer, dir, dir_length);
    std::memcpy(path_buffer + dir_length, settings_file_name, name_length + 1);
    return path_buffer;
}

void load_aiming_settings_from(std::FILE* file) {
    char line[line_buffer_size];
    begin_weapon_offset_load();
    for (const settings_position& position : settings_positions) {
        if (read_settings_line(file, line) != line_read::absent)
            apply_settings_line(position, parse_settings_line(position.kind, line));
        if (position.line == last_row_line) copy_aim_rows_to_host();
    }
}

void load_aiming_settings() noexcept {
    try {
        const char* const path = settings_file_path();
        if (!path) return;
        const std::unique_ptr<std::FILE, file_closer> file(std::fopen(path, "r"));
        if (!file) return; // missing, or held by an editor: try again next time
        // Opened but unreadable (a directory opens on some systems): treat as not opened, so
        // nothing at all is written, not even the row table.
        const int first = std::fgetc(file.get());
        if (first == EOF && std::ferror(file.get())) return;
        std::ungetc(first, file.get());
        load_aiming_settings_from(file.get());
    } catch (...) {
        // Out of memory while appending: the entries so far stay; the host keeps running.
    }
}

void forget_settings_state() noexcept {
    dir_found = false;
    dir_too_long = false;
    dir_buffer[0] = '\0';
    path_buffer[0] = '\0';
    reload_each_frame = 0;
    std::memset(aim_row_table, 0, sizeof aim_row_table);
}

} // namespace plugin
