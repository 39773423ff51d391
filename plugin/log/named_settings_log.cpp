#include "plugin/log/named_settings_log.h"

#include "plugin/log/module_log.h"

#include <cstdint>
#include <cstring>

namespace plugin {

namespace {

// A line that sets nothing, told again only when its text or its problem changed.
std::uint32_t line_key(const named_line& read, const char* text) {
    std::uint32_t hash = 2166136261u ^ static_cast<std::uint32_t>(read.problem);
    for (const char* c = text; *c != '\0' && *c != '\n' && *c != '\r'; ++c)
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    return hash | 1u; // never 0, which stands for no problem
}

struct named_memory {
    bool loaded = false;  // a load has read the file since the module was loaded
    bool in_load = false; // between begins and ends, with the log open
    bool gamepad_told = false;
    named_values before;
    std::uint32_t told[named_last_line + 1] = {}; // by line: the problem told last load
    std::uint32_t seen[named_last_line + 1] = {}; // by line: this load's
} memory;

void log_setting(const named_setting_row& row, const named_value& value, int line) {
    if (line != 0)
        log_line("line %d: %s", line,
                 describe_named_line(
                     named_line{line, &row, named_problem::none, value, 0, 0, 0, 0, 0}, "")
                     .text);
}

} // namespace

void log_named_load_begins() noexcept {
    memory.in_load = module_log_open();
    std::memset(memory.seen, 0, sizeof memory.seen);
}

void log_named_line(const named_line& read, const char* text) noexcept {
    if (!memory.in_load || read.problem == named_problem::none) return;
    if (read.line < 0 || read.line > named_last_line) return;
    const std::uint32_t key = line_key(read, text);
    memory.seen[read.line] = key;
    if (memory.told[read.line] == key) return;
    log_line("%s", describe_named_line(read, text).text);
}

void log_named_load_ends(const named_values& now) noexcept {
    if (!memory.in_load) return;
    memory.in_load = false;
    std::memcpy(memory.told, memory.seen, sizeof memory.told);
    const named_values defaults;
    for (const named_setting_row& row : named_settings_table) {
        const int i = static_cast<int>(row.setting);
        const named_value& value = now.value[i];
        if (!memory.loaded) {
            if (!(value == defaults.value[i])) log_setting(row, value, now.given_by[i]);
            continue;
        }
        const named_value& was = memory.before.value[i];
        if (value == was) continue;
        if (now.given_by[i] != 0)
            log_line("line %d, %s: changed from %s to %s", now.given_by[i], row.name,
                     named_value_display(row, was).text, named_value_display(row, value).text);
        else
            log_line("%s: changed from %s back to %s, as no line sets it now", row.name,
                     named_value_display(row, was).text, named_value_display(row, value).text);
    }
    // Two of corvane's keys set to one key, told when it first shows.
    const key_clash clash = find_key_clash(now);
    if (clash && (!memory.loaded || !(find_key_clash(memory.before) == clash) ||
                  now[clash.key->setting].whole != memory.before[clash.key->setting].whole))
        log_line("line %d: %s", now.given_by[static_cast<int>(clash.key->setting)],
                 describe_key_clash(now, clash).text);
    memory.before = now;
    memory.loaded = true;
}

void log_gamepad_library_missing() noexcept {
    if (memory.gamepad_told || !module_log_open()) return;
    memory.gamepad_told = true;
    log_line("pad_toggle: no gamepad support (XInput) could be loaded on this system, so the "
             "gamepad button does nothing; the keys work as set");
}

void forget_named_settings_log() noexcept {
    memory = named_memory{};
}

} // namespace plugin
