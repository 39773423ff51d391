#include "runtime/game_version.h"

#include "injector/host_address.h"
#include "injector/protect.h"
#include "platform/os.h"

namespace runtime {

namespace {

bool computed = false;
std::int32_t cached_code = 0;

} // namespace

std::int32_t identify_game_version() noexcept {
    if (computed) return cached_code;
    computed = true;
    cached_code = probe_game_version();
    return cached_code;
}

std::int32_t probe_game_version() noexcept {
    for (const version_probe& probe : version_probes)
        if (read_host_dword(probe.host_address) == probe.expected) return probe.code;
    return 0;
}

std::uint32_t read_host_dword(std::uint32_t host_address) noexcept {
    const std::uintptr_t address = injector::host_code_address(host_address);
    // A smaller, unknown executable may end before a probe address: that probe just fails.
    if (!os::is_readable(reinterpret_cast<const void*>(address), 4)) return 0;
    return injector::protected_read_value<std::uint32_t>(address);
}

void forget_game_version() noexcept {
    computed = false;
    cached_code = 0;
}

} // namespace runtime
