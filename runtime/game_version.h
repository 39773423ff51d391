// Which build of the host is running, told by bytes of its code.
//
// Patches that target one build must not land on another. The answer is worked out on the
// first call and kept: 1001, 1002, 1011, 1101, 1111, 3200, 3210, or 0 for none known.
#pragma once

#include <cstdint>

namespace runtime {

// Where the first probes look: the value there names builds 1001 and 1002.
inline constexpr std::uint32_t main_probe_address = 0x401000;

// One probe: the four bytes at a host address that a known build holds there.
struct version_probe {
    std::uint32_t host_address;
    std::uint32_t expected; // little-endian value of the four bytes there
    std::int32_t code;
};

// The probes in the order they are made; the first that matches names the build. Shared with
// tools that look at the game's executable on disk, so both read the same bytes.
inline constexpr version_probe version_probes[] = {
    {main_probe_address, 0x53EC8B55, 1001}, {main_probe_address, 0x16197BE9, 1002},
    {0x8245BC, 0x000094BF, 1011},           {0x8252FC, 0x000094BF, 1101},
    {0x82533C, 0x000094BF, 1111},           {0x858D51, 0x3539F633, 3200},
    {0x858C61, 0x3539F633, 3210},
};

std::int32_t identify_game_version() noexcept;

// Runs the probe table once; the first probe whose value matches names the build.
std::int32_t probe_game_version() noexcept;

// The 32-bit value at a host address in the running process (translated), or 0 where the
// process has nothing readable there.
std::uint32_t read_host_dword(std::uint32_t host_address) noexcept;

// Forgets the cached answer. For test programs only.
void forget_game_version() noexcept;

} // namespace runtime
