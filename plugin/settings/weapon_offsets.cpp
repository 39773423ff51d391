#include "plugin/settings/weapon_offsets.h"

#include "injector/teardown.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace plugin {

namespace {

constexpr std::size_t max_entries = 357913940;
constexpr unsigned min_table_bits = 4; // 16 slots

using weapon_lookup::home_slot;
using table_slot = weapon_lookup::slot;
using lookup_table = weapon_lookup::table;

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

loader_state* the_state = nullptr;

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
    const auto type = static_cast<std::uint32_t>(entry.weapon_type);
    if (type < weapon_lookup::direct_types) {
        table.direct[type].store(&entry, std::memory_order_release);
    } else if (entry.weapon_type == -1) {
        table.fallback.store(&entry, std::memory_order_release);
        // Every small type without an entry of its own takes the default from now on.
        for (auto& answer : table.direct)
            if (!answer.load(std::memory_order_relaxed))
                answer.store(&entry, std::memory_order_release);
    }
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
        weapon_lookup::published.current.store(state.table.get(), std::memory_order_release);
    }
    return {weapon_change::appended, {}};
}

void release_list() noexcept {
    weapon_lookup::published.current.store(nullptr, std::memory_order_release);
    delete the_state;
    the_state = nullptr;
}

} // namespace

weapon_lookup::published_table weapon_lookup::published;

const weapon_offset_entry* weapon_lookup::probe(const table& t, std::int32_t weapon_type) noexcept {
    for (std::uint32_t i = home_slot(weapon_type, t.shift);; i = (i + 1) & t.mask) {
        const slot& s = t.slots[i];
        const weapon_offset_entry* const entry = s.entry.load(std::memory_order_acquire);
        if (!entry) return t.fallback.load(std::memory_order_acquire);
        if (s.weapon_type == weapon_type) return entry;
    }
}

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

namespace {

// Stores a new offset into an entry readers may be reading: word by word, never a torn number.
void store_offset(weapon_offset_entry& held, const float (&offset)[3]) noexcept {
    for (int i = 0; i < 3; ++i) {
        float value = offset[i];
        __atomic_store(&held.offset[i], &value, __ATOMIC_RELAXED);
    }
}

} // namespace

weapon_update tune_weapon_offset(const weapon_offset_entry& entry) {
    if (!the_state) return {weapon_change::repeated, {}};
    table_slot* const slot = find_slot(the_state->table.get(), entry.weapon_type);
    if (!slot) return append(*the_state, entry);
    weapon_offset_entry& held = *slot->entry.load(std::memory_order_relaxed);
    weapon_update update{weapon_change::unchanged, {}};
    read_weapon_offset(held, update.old_offset);
    if (same_bits(update.old_offset, entry.offset)) return update;
    store_offset(held, entry.offset);
    update.change = weapon_change::retuned;
    return update;
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
    store_offset(held, entry.offset);
    update.change = weapon_change::retuned;
    return update;
}

} // namespace plugin
