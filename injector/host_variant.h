// Which host executable the module runs in, told by its entry point.
//
// Filled once, lazily, before the first access to a translated host address. Nothing in the
// module decides on it today; it names the executable for anything that needs to.
#pragma once

#include <cstdint>

namespace injector {

// The executable family, edition and version, or all zero for an executable not in the table.
// Two whole words, so that clearing it is two stores.
struct alignas(4) host_variant_record {
    char product;
    char edition;
    std::uint8_t major;
    std::uint8_t minor;
    std::uint8_t revision;
    std::uint8_t build;
    bool alt_distribution;
};

extern host_variant_record host_variant;
extern const char* plugin_name;

// One-time set-up: names the plugin, clears the record and detects the variant. Cheap after
// the first call; never retried.
void ensure_host_variant() noexcept;

// Looks the executable's entry point (as an address at base 0x400000) up in the table.
bool detect_host_variant() noexcept;

// Forgets the set-up so the next ensure_host_variant detects again. For test programs only.
void forget_host_variant() noexcept;

} // namespace injector
