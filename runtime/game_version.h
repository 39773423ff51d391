// Which build of the host is running, told by bytes of its code.
//
// Patches that target one build must not land on another. The answer is worked out on the
// first call and kept: 1001, 1002, 1011, 1101, 1111, 3200, 3210, or 0 for none known.
#pragma once

#include <cstdint>

namespace runtime {

// Where the first probes look: the value there names builds 1001 and 1002.
inline constexpr std::uint32_t main_probe_address = 0x401000;

std::int32_t identify_game_version() noexcept;

// Runs the probe table once; the first probe whose value matches names the build.
std::int32_t probe_game_version() noexcept;

// The 32-bit value at a host address in the running process (translated), or 0 where the
// process has nothing readable there.
std::uint32_t read_host_dword(std::uint32_t host_address) noexcept;

// Forgets the cached answer. For test programs only.
void forget_game_version() noexcept;

} // namespace runtime
