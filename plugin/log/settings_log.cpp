#include "plugin/log/settings_log.h"
#include "plugin/settings/file_values.h"

#include "injector/host_address.h"
#include "platform/utf16_text.h"
#include "plugin/host.h"
#include "plugin/log/module_log.h"
#include "plugin/settings/number_text.h"
#include "plugin/settings/settings_findings.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace plugin {

namespace {

constexpr int first_row_line = 11;
constexpr int row_count = 4;
constexpr int row_length = 7;

// What the log knows of earlier loads. Kept in fixed storage: a reload allocates nothing here.
struct load_memory {
    int loads_read = 0;   // loads that read the file since the module was loaded
    bool failing = false; // the last load could not read the file, and the log said so
    bool in_load = false; // between begins and ends, with the log open
    std::int32_t reload_before = 0;
    float rows_before[row_count][row_length] = {};
    std::uint32_t value_bits[settings_line_count + 1] = {}; // by line: the last value written
    bool value_known[settings_line_count + 1] = {};
    injector::patch_status code_status = injector::patch_status::done;
    settings_findings findings; // what the first load's lines set less than they seem
} memory;

bool first_load() {
    return memory.loads_read == 0;
}

const char* problem_words(settings_file_problem problem) {
    switch (problem) {
    case settings_file_problem::path_too_long:
        return path_too_long_words;
    case settings_file_problem::not_found:
        return "not found";
    case settings_file_problem::cannot_open:
        return "it is there but cannot be opened (another program may hold it, or it is a folder)";
    case settings_file_problem::none:
        break;
    }
    return "read";
}

// "weapon 22", or for -1 "the default (-1)".
struct weapon_text {
    char text[40];
};
weapon_text weapon_name(std::int32_t type) {
    weapon_text out{};
    if (type == -1)
        std::snprintf(out.text, sizeof out.text, "the default (-1)");
    else
        std::snprintf(out.text, sizeof out.text, "weapon %ld", static_cast<long>(type));
    return out;
}

log_text& add_floats(log_text& text, const float* values, int count) {
    for (int i = 0; i < count; ++i)
        text.add(i ? " %s" : "%s", text_of(values[i]).text);
    return text;
}

// "  [0x8CC4B4]": where a line's values go in the game (and where that lies in this process
// when it moved), last on the line, for modders.
struct game_place {
    char text[sizeof(address_text::text) + 8];
};

game_place where_in_game(const settings_position& position, std::uintptr_t address) {
    game_place out{};
    std::snprintf(out.text, sizeof out.text, "  [%s]",
                  text_of_address(position.host_address, address).text);
    return out;
}

game_place where_in_game(const settings_position& position) {
    return where_in_game(position, position.host_address);
}

// "line 3, an aim-camera value of the game: changed from 1.5 to 2  [0x8CC4B4]" (or "set to 2"
// the first time).
void log_value_change(const settings_position& position, bool known, float before, float now) {
    if (known)
        log_line("line %d, %s: changed from %s to %s%s", position.line, position.setting,
                 text_of(before).text, text_of(now).text, where_in_game(position).text);
    else
        log_line("line %d, %s: set to %s%s", position.line, position.setting, text_of(now).text,
                 where_in_game(position).text);
}

// Remembers the value a line wrote; on a reload, logs it when it differs from the last one.
void note_value(const settings_position& position, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const bool known = memory.value_known[position.line];
    const std::uint32_t before = memory.value_bits[position.line];
    memory.value_bits[position.line] = bits;
    memory.value_known[position.line] = true;
    if (first_load() || (known && before == bits)) return;
    log_value_change(position, known, std::bit_cast<float>(before), value);
}

void log_summary() {
    log_line("live reload (line 1): %s (%d)",
             reload_each_frame != 0 ? "on, the file is read again on every frame" : "off",
             reload_each_frame);

    log_text values;
    values.add("values of lines 3 to 9:");
    bool missing = false;
    for (const settings_position& position : settings_positions) {
        if (position.kind != line_kind::host_float && position.kind != line_kind::code_float)
            continue;
        if (memory.value_known[position.line]) {
            values.add(" %s", text_of(std::bit_cast<float>(memory.value_bits[position.line])).text);
        } else {
            values.add(" -");
            missing = true;
        }
    }
    log_line("%s%s", values.c_str(),
             missing ? " (-: the line sets nothing, the game keeps its own value)" : "");

    log_text rows;
    rows.add("aim rows (lines 11 to 14):");
    for (int r = 0; r < row_count; ++r)
        add_floats(rows.add(r ? " / " : " "), aim_row_table[r], row_length);
    log_line("%s", rows.c_str());

    const weapon_offset_list_type* const list = weapon_offset_list();
    if (!list || list->empty()) {
        log_line("weapon offsets: none, so every weapon keeps the game's own aim");
        return;
    }
    // Entries that move the aim, then the types a zero offset leaves alone, as the player sorts
    // them.
    log_text weapons, alone;
    weapons.add("weapon offsets (%zu %s):", list->size(), list->size() == 1 ? "entry" : "entries");
    alone.add("weapon types that keep the game's own aim (offset 0 0 0):");
    const char* separator = " ";
    const char* alone_separator = " ";
    for (const weapon_offset_entry& entry : *list) {
        if (is_zero_offset(entry.offset)) {
            alone.add("%s%ld", alone_separator, static_cast<long>(entry.weapon_type));
            alone_separator = ", ";
            continue;
        }
        weapons.add("%s%s: ", separator, weapon_name(entry.weapon_type).text);
        add_floats(weapons, entry.offset, 3);
        separator = "; ";
    }
    log_line("%s", weapons.c_str());
    if (*alone_separator == ',') log_line("%s", alone.c_str());
}

void log_reload_changes() {
    if (reload_each_frame != memory.reload_before) {
        const settings_position& first = settings_positions[0];
        if (reload_each_frame == 0)
            log_line("line %d, %s: changed from %d to 0; this was the last read until the game "
                     "loads corvane again",
                     first.line, first.setting, memory.reload_before);
        else
            log_line("line %d, %s: changed from %d to %d", first.line, first.setting,
                     memory.reload_before, reload_each_frame);
    }
    for (int r = 0; r < row_count; ++r) {
        if (std::memcmp(memory.rows_before[r], aim_row_table[r], sizeof aim_row_table[r]) == 0)
            continue;
        log_text change;
        const settings_position& position = settings_positions[first_row_line - 1 + r];
        change.add("line %d, %s: changed from ", position.line, position.setting);
        add_floats(change, memory.rows_before[r], row_length).add(" to ");
        add_floats(change, aim_row_table[r], row_length);
        log_line("%s%s", change.c_str(), where_in_game(position).text);
    }
}

} // namespace

void log_game_values() noexcept {
    if (!module_log_open()) return;
    log_line("the game's own values, before corvane changes any (to set one back, write its "
             "numbers after the label on its line of the settings file):");
    for (const settings_position& position : settings_positions) {
        float values[row_length];
        int count = 0;
        bool readable = false;
        switch (position.kind) {
        case line_kind::host_float:
            count = 1;
            readable = read_host_bytes(position.host_address, values, sizeof(float));
            break;
        case line_kind::code_float:
            count = 1;
            readable = read_host_bytes(injector::host_code_address(position.host_address), values,
                                       sizeof(float));
            break;
        case line_kind::aim_row:
            count = row_length;
            readable = read_host_bytes(position.host_address, values, sizeof values);
            break;
        default:
            continue;
        }
        log_text line;
        line.add("line %d, %s: ", position.line, position.setting);
        if (readable)
            add_floats(line, values, count);
        else
            line.add("cannot be read");
        log_line("%s", line.c_str());
    }
}

void log_settings_file(const char16_t* path, settings_file_problem problem) noexcept {
    if (!module_log_open()) return;
    const bool read = problem == settings_file_problem::none;
    if (first_load() && !memory.failing) {
        const os::utf8_path shown(path ? path : plugin_dir_path());
        if (read) {
            log_line("settings file %s: read", shown.c_str());
            return;
        }
        memory.failing = true;
        log_line("settings file %s%s: not read: %s; the game keeps its own values%s", shown.c_str(),
                 path ? "" : settings_file_name, problem_words(problem),
                 problem == settings_file_problem::not_found
                     ? " (is it named exactly aimingSets.dat? Windows may hide an ending such as "
                       ".txt)"
                     : "");
        return;
    }
    if (read == !memory.failing) return;
    memory.failing = !read;
    if (read)
        log_line("settings file: read again");
    else
        log_line("settings file: cannot be read now: %s; everything it set stays as it is until "
                 "it can be read again",
                 problem_words(problem));
}

void log_settings_load_begins() noexcept {
    memory.in_load = module_log_open();
    if (!memory.in_load) return;
    if (first_load()) memory.findings = settings_findings{};
    memory.reload_before = reload_each_frame;
    std::memcpy(memory.rows_before, aim_row_table, sizeof memory.rows_before);
}

void log_settings_line(const settings_position& position, line_read read, const char* text,
                       const line_values& values) noexcept {
    if (!memory.in_load || !first_load()) return;
    const line_findings found = memory.findings.take(position, read, text, values);
    for (int i = 0; i < found.count; ++i) {
        const settings_finding& finding = found.items[i];
        // A label alone is the starter file's way to keep the game's value; the summary's "-"
        // says so, and the game's own values come first in the log.
        if (finding.code == finding_code::value_left_alone) continue;
        log_line("line %d%s: %s", finding.line,
                 finding.severity == finding_severity::note ? ", note" : "", finding.sentence);
    }
}

void log_weapon_offset(const settings_position& position, const weapon_offset_entry& entry,
                       const weapon_update& update) noexcept {
    if (!memory.in_load || first_load()) return;
    if (update.change != weapon_change::appended && update.change != weapon_change::retuned) return;
    log_text change;
    change.add("line %d, %s: %s ", position.line, position.setting,
               weapon_name(entry.weapon_type).text);
    if (update.change == weapon_change::appended) {
        add_floats(change.add("added with offset "), entry.offset, 3);
    } else {
        add_floats(change.add("changed from "), update.old_offset, 3).add(" to ");
        add_floats(change, entry.offset, 3);
    }
    log_line("%s", change.c_str());
}

void log_host_value(const settings_position& position, float value) noexcept {
    if (!memory.in_load) return;
    note_value(position, value);
}

void log_code_value(const settings_position& position, float value, std::uintptr_t address,
                    injector::patch_status status) noexcept {
    if (!memory.in_load) return;
    if (injector::was_made(status)) note_value(position, value); // else the game keeps its own
    if (!first_load() && status == memory.code_status) return;
    memory.code_status = status;
    char done[112];
    std::snprintf(done, sizeof done, "set to %s%s", text_of(value).text,
                  where_in_game(position, address).text);
    char what[160];
    std::snprintf(what, sizeof what, "line %d, %s", position.line, position.setting);
    log_patch(what, done, status);
}

void log_settings_load_ends() noexcept {
    if (!memory.in_load) return;
    memory.in_load = false;
    if (first_load())
        log_summary();
    else
        log_reload_changes();
    ++memory.loads_read;
}

void forget_settings_log() noexcept {
    memory = load_memory{};
}

} // namespace plugin
