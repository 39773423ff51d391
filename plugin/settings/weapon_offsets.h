// The weapon offsets: per weapon type, where the aim camera looks, as an offset in the player
// character's own frame.
//
// Two threads meet here with nothing locked: the settings loader (on the thread that runs the
// per-frame call) writes, the aim hook (on the thread that frames the aim camera) reads. Only one
// load runs at a time. How the reader stays safe is told at the end of this file.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <list>
#include <memory>

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

// Gives `entry.weapon_type` the offset `entry.offset` at once, between loads (the tune keys): the
// type's entry takes it in place, or, for a type without one, a new entry is appended. Reports
// `retuned`, `unchanged` or `appended`; throws as set_weapon_offset does.
weapon_update tune_weapon_offset(const weapon_offset_entry& entry);

// The entry for `weapon_type`, else the -1 entry, else null, as the list stands after the latest
// append; found without walking the list. Never allocates; safe beside a running load.
inline const weapon_offset_entry* find_weapon_offset(std::int32_t weapon_type) noexcept;

// Whether an offset leaves the game's aim alone: all three numbers equal 0.0 as floats compare
// (-0.0 does, a NaN does not), decided on their words: every bit but the sign is clear.
inline bool is_zero_offset(const float (&offset)[3]) noexcept {
    std::uint32_t words[3];
    std::memcpy(words, offset, sizeof words);
    return ((words[0] | words[1] | words[2]) & 0x7FFFFFFFu) == 0;
}

// Copies an entry's offset as it stands now; safe beside a load that retunes it (each of the three
// numbers is then either the old or the new one).
inline void read_weapon_offset(const weapon_offset_entry& entry, float (&offset)[3]) noexcept;

// The lookup behind find_weapon_offset, here so that the aim hook, which runs it on every
// aim-camera call, gets it inline. How the aim hook reads while a load writes:
//
// - Entries live in the list's nodes. The list only grows at its end and is released at unload,
//   so a pointer to an entry stays good for the life of the module, and an entry's weapon type
//   never changes once the entry is in the list.
// - Readers never touch the list itself. They find entries through a lookup table: an
//   open-addressing hash from weapon type to entry, published through one atomic pointer.
// - A slot is filled once and never cleared: its type is written first, then its entry pointer
//   is stored with release; a reader loads the pointer with acquire and only then reads the type.
//   A reader that finds the slot still empty takes the type as absent for this one call.
// - An append fills a free slot of the current table, as above. When that would make the table
//   more than half full, a table twice the size is filled instead and then published with
//   release; the one it replaced stays allocated until unload, since a reader may still be
//   probing it. Tables double, so those kept hold fewer slots in all than the newest. Retunes and
//   loads that change nothing leave the table alone.
// - Each table remembers the -1 entry (the answer for every type without an entry of its own),
//   published the same way, so a miss costs one probe and one load.
// - Weapon types are small numbers in the game: for types 0 to 255 each table also holds the
//   answer itself, the type's own entry or else the -1 entry, published the same way, so the
//   aim hook finds the weapon in hand with one load and no probe.
// - An offset is three 32-bit words, each stored and loaded as a relaxed atomic: a reader may mix
//   old and new numbers for one call, never bits of two numbers, and never another type's.
// - The loader's own bookkeeping (which load last set an entry) sits on cache lines apart from
//   what readers touch, so a load that changes nothing writes nothing a reader reads.
namespace weapon_lookup {

// One place in the table.
struct slot {
    std::int32_t weapon_type;                          // written before `entry`, never after
    std::uint32_t index;                               // the entry's place in the list
    std::atomic<weapon_offset_entry*> entry = nullptr; // null: the slot is free
};

// The weapon types whose answer a table holds directly: 0 to direct_types - 1.
inline constexpr std::uint32_t direct_types = 256;

// A table of 2^bits slots, never more than half of them filled.
struct table {
    explicit table(unsigned bits)
        : mask((1u << bits) - 1), shift(32 - bits), slots(new slot[mask + 1]) {}

    const std::uint32_t mask;                             // slots - 1
    const std::uint32_t shift;                            // 32 - bits
    std::atomic<weapon_offset_entry*> fallback = nullptr; // the -1 entry
    const std::unique_ptr<slot[]> slots;
    std::unique_ptr<table> replaced; // kept until unload: a reader may still be in it
    // The answer for each small type: its own entry, else the -1 entry, else null.
    std::atomic<weapon_offset_entry*> direct[direct_types] = {};
};

// Where a weapon type's probe starts (multiplicative hashing: neighbouring types spread out).
inline std::uint32_t home_slot(std::int32_t weapon_type, std::uint32_t shift) noexcept {
    return (static_cast<std::uint32_t>(weapon_type) * 0x9E3779B9u) >> shift;
}

// The table readers use, alone on its cache line; null while the list is empty.
struct alignas(64) published_table {
    std::atomic<const table*> current = nullptr;
};
extern published_table published;

// The probe for a type the table does not answer directly. Out of line: the aim hook inlines the
// direct answer alone, and keeps the registers the probe would need for itself.
[[gnu::noinline, gnu::cold]] const weapon_offset_entry* probe(const table& t,
                                                                std::int32_t weapon_type) noexcept;

} // namespace weapon_lookup

inline const weapon_offset_entry* find_weapon_offset(std::int32_t weapon_type) noexcept {
    const weapon_lookup::table* const table =
        weapon_lookup::published.current.load(std::memory_order_acquire);
    if (!table) return nullptr;
    if (static_cast<std::uint32_t>(weapon_type) >= weapon_lookup::direct_types) [[unlikely]]
        return weapon_lookup::probe(*table, weapon_type);
    return table->direct[weapon_type].load(std::memory_order_acquire);
}

inline void read_weapon_offset(const weapon_offset_entry& entry, float (&offset)[3]) noexcept {
    // Word copies, never through the FPU, so every bit of a NaN arrives as stored.
    for (int i = 0; i < 3; ++i)
        __atomic_load(&entry.offset[i], &offset[i], __ATOMIC_RELAXED);
}

} // namespace plugin
