#include "plugin/aim/weapon_in_hand.h"

#include "plugin/aim/unsaved_tunes.h"
#include "plugin/log/module_log.h"
#include "plugin/settings/number_text.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/weapon_offsets.h"

namespace plugin {

noted_weapon weapon_in_hand;

namespace {

// By line number: the weapon type each line of the latest read gave.
struct weapon_lines {
    std::int32_t type[settings_line_count + 1] = {};
    bool gives[settings_line_count + 1] = {};
};
weapon_lines lines;
std::int32_t logged = no_weapon_seen;

// The line of the latest read that gives `weapon_type`; 0 when none does.
int line_of(std::int32_t weapon_type) noexcept {
    for (int line = 1; line <= settings_line_count; ++line)
        if (lines.gives[line] && lines.type[line] == weapon_type) return line;
    return 0;
}

// "line 19 gives it 0 0 0, the game's own aim" (or "an earlier read of the file gave it ...",
// for an entry whose line has since gone from the file).
void add_source(log_text& text, const weapon_offset_entry& entry) noexcept {
    float offset[3];
    read_weapon_offset(entry, offset);
    const int line = line_of(entry.weapon_type);
    float tuned[3];
    if (unsaved_tune_offset(entry.weapon_type, tuned))
        text.add("the tune keys give it, not saved yet,");
    else if (line != 0)
        text.add("line %d gives it", line);
    else
        text.add("an earlier read of the file gave it");
    text.add(" %s %s %s", text_of(offset[0]).text, text_of(offset[1]).text,
             text_of(offset[2]).text);
    if (is_zero_offset(offset)) text.add(", the game's own aim");
}

} // namespace

void begin_weapon_lines() noexcept {
    lines = weapon_lines{};
}

void note_weapon_line(int line, std::int32_t weapon_type) noexcept {
    if (line < 1 || line > settings_line_count) return;
    lines.type[line] = weapon_type;
    lines.gives[line] = true;
}

void log_weapon_in_hand() noexcept {
    const std::int32_t type = weapon_in_hand.type.load(std::memory_order_relaxed);
    if (type == logged) return;
    logged = type;
    log_text text;
    text.add("aiming with weapon type %ld: ", static_cast<long>(type));
    const weapon_offset_entry* const entry = find_weapon_offset(type);
    if (!entry) {
        text.add("no line and no default: the game's own aim");
    } else if (entry->weapon_type == type) {
        add_source(text, *entry);
    } else {
        text.add("no line of its own: the default (-1) from ");
        add_source(text, *entry);
    }
    log_line("%s", text.c_str());
}

void forget_weapon_in_hand() noexcept {
    weapon_in_hand.type.store(no_weapon_seen, std::memory_order_relaxed);
    lines = weapon_lines{};
    logged = no_weapon_seen;
}

} // namespace plugin
