// The weapon offsets: per weapon type, where the aim camera looks, as an offset in the player
// character's own frame.
#pragma once

#include <cstdint>
#include <list>

namespace plugin {

// One weapon line of the settings file. Type -1 serves every weapon without an entry of its own.
struct weapon_offset_entry {
    std::int32_t weapon_type;
    float offset[3]; // x, y, z
};

// Searched from the front, first match wins; only ever appended to while the module is loaded.
// A list rather than a vector: the aim hook may walk it while a reload appends, and appending
// to a list never moves the entries a reader stands on.
using weapon_offset_list_type = std::list<weapon_offset_entry>;

// The module's list; null until create_weapon_offset_list has run.
weapon_offset_list_type* weapon_offset_list() noexcept;

// Creates the empty list and registers its release. The first thing the module builds.
void create_weapon_offset_list();

// The entry for `weapon_type`, else the -1 entry, else null.
const weapon_offset_entry* find_weapon_offset(std::int32_t weapon_type) noexcept;

// Appends an entry unless the list already has one for its type (an earlier entry would win
// every lookup anyway). Returns whether it was appended.
bool add_weapon_offset(const weapon_offset_entry& entry);

} // namespace plugin
