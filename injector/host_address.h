// Host addresses: addresses in the host executable as laid out at its preferred base 0x400000.
//
// Code patches and code reads translate them to the running process; host function calls and
// host data accesses use them as they stand.
#pragma once

#include <cstdint>

namespace injector {

inline constexpr std::uint32_t host_preferred_base = 0x400000;

// The executable's base in this process, asked of the OS once and then cached.
std::uintptr_t host_module_base() noexcept;

// host_module_base + address - 0x400000, modulo 2^32.
std::uintptr_t translate_host_address(std::uint32_t host_address) noexcept;

// Where host code at `host_address` lies in this process, with the host variant set up before
// the first access to it: translate_host_address, then ensure_host_variant, in that order.
// Every patch and every read of host code takes its address from here.
std::uintptr_t host_code_address(std::uint32_t host_address) noexcept;

// Forgets the cached base. For test programs that lay out more than one host in one process.
void forget_host_module_base() noexcept;

} // namespace injector
