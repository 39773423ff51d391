#include "plugin/aim/unsaved_tunes.h"

#include "plugin/settings/weapon_offsets.h"

#include <algorithm>
#include <cstring>

namespace plugin {

namespace {
std::vector<pending_tune> pending;
// Weapons that follow the default again (follow_the_default_again).
std::vector<std::int32_t> on_the_default;
} // namespace

std::vector<pending_tune>& pending_tunes() noexcept {
    return pending;
}

pending_tune* pending_tune_for(std::int32_t weapon_type) noexcept {
    for (pending_tune& tune : pending)
        if (tune.weapon_type == weapon_type) return &tune;
    return nullptr;
}

void follow_the_default_again(std::int32_t weapon_type) {
    on_the_default.push_back(weapon_type);
}

void weapon_line_read(std::int32_t weapon_type) noexcept {
    std::erase(on_the_default, weapon_type); // a line gives it its own offset now
}

void weapon_lines_read() noexcept {
    if (on_the_default.empty()) return;
    const weapon_offset_entry* const fallback = find_weapon_offset(-1);
    for (const std::int32_t weapon_type : on_the_default) {
        weapon_offset_entry entry{weapon_type, {}}; // no default: no offset, the game's own aim
        if (fallback && fallback->weapon_type == -1) read_weapon_offset(*fallback, entry.offset);
        try {
            tune_weapon_offset(entry);
        } catch (...) {
        }
    }
}

bool unsaved_tune_offset(std::int32_t weapon_type, float (&offset)[3]) noexcept {
    const pending_tune* const tune = pending_tune_for(weapon_type);
    if (!tune) return false;
    std::memcpy(offset, tune->now, sizeof offset);
    return true;
}

void forget_unsaved_tunes() noexcept {
    pending.clear();
    on_the_default.clear();
}

} // namespace plugin
