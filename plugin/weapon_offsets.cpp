#include "plugin/weapon_offsets.h"

#include "injector/teardown.h"

#include <stdexcept>

namespace plugin {

namespace {

weapon_offset_list_type* the_list = nullptr;
constexpr std::size_t max_entries = 357913940;

const weapon_offset_entry* find_exact(std::int32_t weapon_type) noexcept {
    if (!the_list) return nullptr;
    for (const auto& entry : *the_list)
        if (entry.weapon_type == weapon_type) return &entry;
    return nullptr;
}

void release_list() noexcept {
    delete the_list;
    the_list = nullptr;
}

} // namespace

weapon_offset_list_type* weapon_offset_list() noexcept {
    return the_list;
}

void create_weapon_offset_list() {
    the_list = new weapon_offset_list_type();
    injector::register_teardown(&release_list);
}

const weapon_offset_entry* find_weapon_offset(std::int32_t weapon_type) noexcept {
    if (const auto* exact = find_exact(weapon_type)) return exact;
    return find_exact(-1);
}

bool add_weapon_offset(const weapon_offset_entry& entry) {
    if (!the_list || find_exact(entry.weapon_type)) return false;
    if (the_list->size() >= max_entries) throw std::length_error("list<T> too long");
    the_list->push_back(entry);
    return true;
}

} // namespace plugin
