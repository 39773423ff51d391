#include "plugin/weapon_offsets.h"

#include "injector/teardown.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

// How the aim hook reads while a load writes, with nothing locked:
//
// - Entries live in the list's nodes. The list only grows at its end and is released at unload,
//   so a pointer to an entry stays good for the life of the module, and an entry's weapon type
//   never changes once the entry is in the list.
// - Readers never touch the list itself. They find entries through a lookup table: an
//   open-addressing hash from weapon type to entry, published through one atomic pointer.
// - A slot is filled once and never cleared: its type is written first, then its entry pointer
//   is stored with release; a reader loads the pointer with acquire and only then reads the type.
//   A reader that finds the slot still empty takes the type as absent for this one call.
// - A table is never resized in place. When an append would make it more than half full, a table
//   twice the size is filled and then published with release; the one it replaced stays allocated
//   until unload, since a reader may still be probing it. Tables double, so those kept hold fewer
//   slots in all than the newest.
// - Each table remembers the -1 entry (the answer for every type without an entry of its own),
//   published the same way, so a miss costs one probe and one load.
// - An offset is three 32-bit words, each stored and loaded as a relaxed atomic: a reader may mix
//   old and new numbers for one call, never bits of two numbers, and never another type's.
// - The loader's own bookkeeping (which load last set an entry) sits on cache lines apart from
//   what readers touch, so a load that changes nothing writes nothing a reader reads.

namespace plugin {

namespace {

constexpr std::size_t max_entries = 357913940;
constexpr unsigned min_table_bits = 4; // 16 slots

struct table_slot {
    std::int32_t weapon_type;                          // written before `entry`, never after
    std::uint32_t index;                               // the entry's place in the list
    std::atomic<weapon_offset_entry*> entry = nullptr; // null: the slot is free
};

struct lookup_table {
    explicit lookup_table(unsigned bits)
        : mask((1u << bits) - 1), shift(32 - bits), slots(new table_slot[mask + 1]) {}

    const std::uint32_t mask;  // slots - 1; the number of slots is a power of two
    const std::uint32_t shift; // 32 - log2(slots)
    std::atomic<weapon_offset_entry*> fallback = nullptr; // the -1 entry
    const std::unique_ptr<table_slot[]> slots;
    std::unique_ptr<lookup_table> replaced; // kept until unload: a reader may still be in it
};

// Where a weapon type's probe starts (multiplicative hashing: neighbouring types spread out).
std::uint32_t home_slot(std::int32_t weapon_type, std::uint32_t shift) noexcept {
    return (static_cast<std::uint32_t>(weapon_type) * 0x9E3779B9u) >> shift;
}

// Which load last set each entry, by the entry's place in the list, in blocks of whole cache
// lines.
struct alignas(64) load_marks {
    std::uint64_t load[8] = {};
};

// Everything only the loader touches, on cache lines of its own.
struct alignas(64) loader_state {
    weapon_offset_list_type list;
    std::unique_ptr<lookup_table> table; // the newest; null while the list is empty
    std::vector<load_marks> marks;
    std::uint64_t load = 0; // the current load

    std::uint64_t& mark(std::uint32_t index) { return marks[index / 8].load[index % 8]; }
};

// The table readers use, alone on its cache line.
struct alignas(64) published_table {
    std::atomic<const lookup_table*> table = nullptr;
};

loader_state* the_state = nullptr;
published_table published;

// The loader's own search (it is the only writer, so it may look without ordering).
table_slot* find_slot(lookup_table* table, std::int32_t weapon_type) noexcept {
    if (!table) return nullptr;
    for (std::uint32_t i = home_slot(weapon_type, table->shift);; i = (i + 1) & table->mask) {
        table_slot& slot = table->slots[i];
        if (!slot.entry.load(std::memory_order_relaxed)) return nullptr;
        if (slot.weapon_type == weapon_type) return &slot;
    }
}

// Fills a free slot; a reader sees the slot either free or complete.
void insert(lookup_table& table, weapon_offset_entry& entry, std::uint32_t index) noexcept {
    std::uint32_t i = home_slot(entry.weapon_type, table.shift);
    while (table.slots[i].entry.load(std::memory_order_relaxed))
        i = (i + 1) & table.mask;
    table.slots[i].weapon_type = entry.weapon_type;
    table.slots[i].index = index;
    table.slots[i].entry.store(&entry, std::memory_order_release);
    if (entry.weapon_type == -1) table.fallback.store(&entry, std::memory_order_release);
}

// A table twice the size of `old` (or the smallest one), holding everything `old` holds.
std::unique_ptr<lookup_table> grown_table(const lookup_table* old) {
    unsigned bits = min_table_bits;
    if (old)
        while ((1u << bits) <= old->mask + 1)
            ++bits;
    auto table = std::make_unique<lookup_table>(bits);
    if (!old) return table;
    for (std::uint32_t i = 0; i <= old->mask; ++i)
        if (weapon_offset_entry* entry = old->slots[i].entry.load(std::memory_order_relaxed))
            insert(*table, *entry, old->slots[i].index);
    return table;
}

bool same_bits(const float (&a)[3], const float (&b)[3]) noexcept {
    return std::memcmp(a, b, sizeof a) == 0;
}

weapon_update append(loader_state& state, const weapon_offset_entry& entry) {
    const std::size_t count = state.list.size();
    if (count >= max_entries) throw std::length_error("list<T> too long");
    const auto index = static_cast<std::uint32_t>(count);

    // Whatever can throw comes first, so that a failure leaves the list and every lookup as
    // they were (a spare block of marks is harmless: the next append uses it).
    if (state.marks.size() <= index / 8) state.marks.emplace_back();
    std::unique_ptr<lookup_table> grown;
    if (!state.table || (count + 1) * 2 > state.table->mask + 1)
        grown = grown_table(state.table.get());
    state.list.push_back(entry);

    weapon_offset_entry& added = state.list.back();
    state.mark(index) = state.load;
    if (!grown) {
        insert(*state.table, added, index);
    } else {
        insert(*grown, added, index);
        grown->replaced = std::move(state.table);
        state.table = std::move(grown);
        published.table.store(state.table.get(), std::memory_order_release);
    }
    return {weapon_change::appended, {}};
}

void release_list() noexcept {
    published.table.store(nullptr, std::memory_order_release);
    delete the_state;
    the_state = nullptr;
}

} // namespace

const weapon_offset_list_type* weapon_offset_list() noexcept {
    return the_state ? &the_state->list : nullptr;
}

void create_weapon_offset_list() {
    the_state = new loader_state();
    injector::register_teardown(&release_list);
}

void begin_weapon_offset_load() noexcept {
    if (the_state) ++the_state->load;
}

weapon_update set_weapon_offset(const weapon_offset_entry& entry) {
    if (!the_state) return {weapon_change::repeated, {}};
    loader_state& state = *the_state;
    table_slot* const slot = find_slot(state.table.get(), entry.weapon_type);
    if (!slot) return append(state, entry);

    weapon_offset_entry& held = *slot->entry.load(std::memory_order_relaxed);
    weapon_update update{weapon_change::repeated, {}};
    read_weapon_offset(held, update.old_offset);
    std::uint64_t& mark = state.mark(slot->index);
    if (mark == state.load) return update;
    mark = state.load;
    if (same_bits(update.old_offset, entry.offset)) {
        update.change = weapon_change::unchanged;
        return update;
    }
    for (int i = 0; i < 3; ++i) {
        float value = entry.offset[i];
        __atomic_store(&held.offset[i], &value, __ATOMIC_RELAXED);
    }
    update.change = weapon_change::retuned;
    return update;
}

const weapon_offset_entry* find_weapon_offset(std::int32_t weapon_type) noexcept {
    const lookup_table* const table = published.table.load(std::memory_order_acquire);
    if (!table) return nullptr;
    for (std::uint32_t i = home_slot(weapon_type, table->shift);; i = (i + 1) & table->mask) {
        const table_slot& slot = table->slots[i];
        const weapon_offset_entry* const entry = slot.entry.load(std::memory_order_acquire);
        if (!entry) return table->fallback.load(std::memory_order_acquire);
        if (slot.weapon_type == weapon_type) return entry;
    }
}

void read_weapon_offset(const weapon_offset_entry& entry, float (&offset)[3]) noexcept {
    // Word copies, never through the FPU, so every bit of a NaN arrives as stored.
    for (int i = 0; i < 3; ++i)
        __atomic_load(&entry.offset[i], &offset[i], __ATOMIC_RELAXED);
}

} // namespace plugin
