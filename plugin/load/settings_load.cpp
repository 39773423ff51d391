#include "plugin/load/settings_load.h"

#include "injector/host_address.h"
#include "injector/protect.h"
#include "platform/os.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/aim/unsaved_tunes.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/host.h"
#include "plugin/log/named_settings_log.h"
#include "plugin/log/settings_log.h"
#include "plugin/settings/file_values.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/settings_save.h"
#include "plugin/settings/weapon_offsets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace plugin {

using k = line_kind;

namespace {

constexpr int last_row_line = 14;

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Writes a float into the game's code, unless the four bytes there hold it already: code pages
// are readable, so comparing costs no protection change, no write and no cache flush, which a
// reload would otherwise pay on every frame.
injector::patch_status write_code_float(std::uintptr_t address, float value) noexcept {
    float now;
    if (read_host_bytes(address, &now, sizeof now) && std::memcmp(&now, &value, sizeof now) == 0)
        return injector::patch_status::done;
    return injector::protected_write_value<float>(address, value);
}

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
                           write_code_float(site, values.floats[0]));
        }
        break;
    case k::aim_row:
        for (int i = 0; i < values.count && i < row_value_count; ++i)
            aim_row_table[position.row][i] = values.floats[i];
        break;
    case k::weapon:
        if (values.count == 4) {
            weapon_offset_entry entry{values.integer, {}};
            host_vector_set(entry.offset, values.floats);
            // A tune not saved yet stays in force: a reload never undoes it.
            unsaved_tune_offset(entry.weapon_type, entry.offset);
            weapon_line_read(entry.weapon_type);
            const weapon_update update = set_weapon_offset(entry);
            if (update.change != weapon_change::repeated)
                note_weapon_line(position.line, entry.weapon_type);
            log_weapon_offset(position, entry, update);
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

// Opens the settings file for a load, or tells why it cannot be read.
std::FILE* open_settings_file(const char16_t* path, settings_file_problem& problem) noexcept {
    problem = settings_file_problem::none;
    if (!path) {
        problem = settings_file_problem::path_too_long;
        return nullptr;
    }
    errno = 0;
    std::FILE* const file = os::open_for_reading(path);
    if (!file) {
        problem =
            errno == ENOENT ? settings_file_problem::not_found : settings_file_problem::cannot_open;
        return nullptr;
    }
    return file;
}

} // namespace

void take_game_aim_rows() noexcept {
    read_host_bytes(host_addresses::aim_rows, aim_row_table, sizeof aim_row_table);
}

void load_aiming_settings_from(settings_reader& reader) {
    char line[line_buffer_size];
    begin_weapon_offset_load();
    begin_weapon_lines();
    log_settings_load_begins();
    named_walk named;
    named_line named_read;
    log_named_load_begins();
    for (const settings_position& position : settings_positions) {
        const line_read read = reader.read_line(line);
        line_values values;
        if (read != line_read::absent && named.weapon_line(position.line, line, &named_read)) {
            log_named_line(named_read, line);
            line[0] = '\0'; // it adds no weapon: an unused weapon slot
        } else if (read != line_read::absent) {
            values = parse_settings_line(position.kind, line);
            apply_settings_line(position, values);
        }
        log_settings_line(position, read, line, values);
        if (position.line == last_row_line) copy_aim_rows_to_host();
    }
    weapon_lines_read();
    log_settings_load_ends();
    while (named.wants_more() && reader.read_line(line) != line_read::absent)
        if (named.next_line(line, &named_read)) log_named_line(named_read, line);
    set_aim_key_settings(named.values());
    log_named_load_ends(named.values());
}

void load_aiming_settings() noexcept {
    try {
        const char16_t* const path = settings_file_path();
        settings_file_problem problem;
        const std::unique_ptr<std::FILE, file_closer> file(open_settings_file(path, problem));
        if (!file) {
            log_settings_file(path, problem); // missing, or held by an editor: try again next time
            forget_settings_file_read();
            return;
        }
        settings_reader reader(file.get());
        // Opened but unreadable (a folder opens on some systems): treated as not opened, so
        // nothing at all is written, not even the row table.
        const bool readable = reader.begin();
        log_settings_file(path, readable ? settings_file_problem::none
                                         : settings_file_problem::cannot_open);
        if (!readable) {
            forget_settings_file_read();
            return;
        }
        load_aiming_settings_from(reader);
        // The tune keys save into this file: what was read is kept, so that a save can tell
        // whether the player changed the file since.
        if (aim_key_settings()[named_setting::tune_key].whole != 0)
            keep_settings_file_read(file.get());
        else
            forget_settings_file_read();
    } catch (...) {
        // Out of memory while appending: the entries so far stay; the host keeps running.
    }
}

void forget_settings_state() noexcept {
    forget_settings_files();
    forget_file_values();
}

} // namespace plugin
