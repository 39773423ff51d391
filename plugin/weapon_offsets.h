// The weapon offsets: per weapon type, where the aim camera looks, as an offset in the player
// character's own frame.
//
// Two threads meet here with nothing locked: the settings loader (on the thread that runs the
// per-frame call) writes, the aim hook (on the thread that frames the aim camera) reads. Only one
// load runs at a time. How the reader stays safe is told in weapon_offsets.cpp.
#pragma once

#include <cstdint>
#include <list>

namespace plugin {

// One weapon line of the settings file. Type -1 serves every weapon without an entry of its own.
struct weapon_offset_entry {
    std::int32_t weapon_type;
    float offset[3]; // x, y, z
};

// The entries in the order their types first appeared, one per type. Nothing is removed while the
// module is loaded and an entry never moves: a load that gives a known type a new offset rewrites
// that entry's offset in place. A list because appending to it never moves an entry a reader
// holds.
using weapon_offset_list_type = std::list<weapon_offset_entry>;

// The module's list; null until create_weapon_offset_list has run. Read it on the loader's thread
// (or with no load running); elsewhere read offsets with read_weapon_offset.
const weapon_offset_list_type* weapon_offset_list() noexcept;

// Creates the empty list and registers its release. The first thing the module builds.
void create_weapon_offset_list();

// What one weapon line did to the list during a load.
enum class weapon_change {
    appended,  // a weapon type the list did not hold: a new entry at the end
    retuned,   // the type's entry took a new offset, in place (the entry never moves)
    unchanged, // the type's entry already held exactly this offset (compared bit for bit)
    repeated,  // an earlier line of this same load gave this type: the line sets nothing
};
// What set_weapon_offset did: the change, and the offset the type's entry held before the line
// (for `retuned`, `unchanged` and `repeated`; zero for `appended`).
struct weapon_update {
    weapon_change change;
    float old_offset[3]; // the offset before, for `retuned`
};

// Starts a load: from here on the first line for each weapon type sets that type again.
void begin_weapon_offset_load() noexcept;

// Applies one weapon line of the current load (the first line of a load for a type wins). Only
// `appended` allocates; it throws std::length_error ("list<T> too long") at the list's length
// limit and std::bad_alloc when memory runs out, leaving the list and every lookup as they were.
// Without a list (it could not be created) every line sets nothing and reports `repeated`.
weapon_update set_weapon_offset(const weapon_offset_entry& entry);

// The entry for `weapon_type`, else the -1 entry, else null, as the list stands after the latest
// append; found without walking the list. Never allocates; safe beside a running load.
const weapon_offset_entry* find_weapon_offset(std::int32_t weapon_type) noexcept;

// Copies an entry's offset as it stands now; safe beside a load that retunes it (each of the three
// numbers is then either the old or the new one).
void read_weapon_offset(const weapon_offset_entry& entry, float (&offset)[3]) noexcept;

} // namespace plugin
