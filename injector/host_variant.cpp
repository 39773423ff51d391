#include "injector/host_variant.h"

#include "injector/host_address.h"
#include "platform/os.h"

#include <cstring>
#include <iterator>

namespace injector {

host_variant_record host_variant = {};
const char* plugin_name = nullptr;

namespace {

bool set_up = false;

struct variant_row {
    std::uint32_t entry_key; // AddressOfEntryPoint + 0x400000
    char product;
    char edition;
    std::uint8_t major, minor, revision, build;
    bool alt_distribution;
};

constexpr variant_row variant_table[] = {
    {0x5C1E70, '3', 0, 1, 0, 0, 0, false},   {0x5C2130, '3', 0, 1, 1, 0, 0, false},
    {0x5C6FD0, '3', 0, 1, 1, 0, 0, true},    {0x666BA0, 'V', 0, 1, 1, 0, 0, true},
    {0x667BF0, 'V', 0, 1, 0, 0, 0, false},   {0x667C40, 'V', 0, 1, 1, 0, 0, false},
    {0x824570, 'S', 'U', 1, 0, 0, 0, false}, {0x82457C, 'S', 'U', 1, 0, 0, 0, false},
    {0x8245B0, 'S', 'E', 1, 0, 0, 0, false}, {0x8245BC, 'S', 'E', 1, 0, 0, 0, false},
    {0x8252FC, 'S', 'U', 1, 1, 0, 0, false}, {0x82533C, 'S', 'E', 1, 1, 0, 0, false},
    {0x85EC4A, 'S', 0, 3, 0, 0, 0, true},    {0x9912ED, '3', 0, 1, 1, 0, 0, true},
    {0xA402ED, 'V', 0, 1, 1, 0, 0, true},    {0xC965AD, 'I', 'U', 1, 0, 0, 4, false},
    {0xD0AF06, 'E', 'U', 1, 1, 2, 0, false}, {0xD0D011, 'I', 'U', 1, 0, 0, 7, false},
    {0xD3C3DB, 'S', 0, 3, 0, 0, 0, true},
};

std::uint32_t read_plain_dword(std::uintptr_t address) {
    std::uint32_t value;
    std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof value);
    return value;
}

} // namespace

void ensure_host_variant() noexcept {
    if (set_up) return;
    plugin_name = "Corvane Plugin";
    set_up = true;
    host_variant = {};
    detect_host_variant();
}

bool detect_host_variant() noexcept {
    host_variant = {};
    const auto base = reinterpret_cast<std::uintptr_t>(os::process_module_handle());
    const std::uint32_t pe_header = read_plain_dword(base + 0x3C);
    const std::uint32_t entry_point = read_plain_dword(base + pe_header + 0x28);
    const std::uint32_t key = entry_point + host_preferred_base;

    for (const variant_row& row : variant_table) {
        if (row.entry_key != key) continue;
        host_variant.product = row.product;
        host_variant.edition = row.edition;
        host_variant.major = row.major;
        host_variant.minor = row.minor;
        host_variant.revision = row.revision;
        host_variant.build = row.build;
        host_variant.alt_distribution = row.alt_distribution;
        return true;
    }
    return false;
}

void forget_host_variant() noexcept {
    set_up = false;
    plugin_name = nullptr;
    host_variant = {};
}

} // namespace injector
