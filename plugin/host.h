// What the module knows of the host game: fixed host addresses, the host's functions in their
// own calling forms, and the player record's fields by offset.
//
// Every host fact is declared here once, by name (the addresses in plugin/host_addresses.h). Host
// function calls and host data accesses use these addresses as they stand; code patches
// translate them (injector/host_address.h).
#pragma once

#include "platform/os.h"
#include "plugin/host_addresses.h"

#include <cstdint>
#include <cstring>

namespace plugin {

// The player record, known only by the offsets of the fields the module reads.
struct host_player;

namespace player_layout {
inline constexpr std::uint32_t status_flags = 0x46C;
inline constexpr std::uint32_t weapon_slots = 0x5A0;
inline constexpr std::uint32_t weapon_slot_stride = 28;
inline constexpr std::uint32_t active_slot = 0x718;
inline constexpr std::uint32_t aim_stands_aside = 0x100; // status flag: leave the aim alone
} // namespace player_layout

template <typename T>
T read_player_field(const host_player* player, std::uint32_t offset) noexcept {
    T value;
    std::memcpy(&value, reinterpret_cast<const char*>(player) + offset, sizeof value);
    return value;
}

inline std::uint32_t player_status_flags(const host_player* player) noexcept {
    return read_player_field<std::uint32_t>(player, player_layout::status_flags);
}

// The weapon type of the active slot (the slot byte read as an unsigned index).
inline std::int32_t player_weapon_type(const host_player* player) noexcept {
    const auto slot = read_player_field<std::uint8_t>(player, player_layout::active_slot);
    return read_player_field<std::int32_t>(player, player_layout::weapon_slots +
                                                       slot * player_layout::weapon_slot_stride);
}

// The host's functions, called at their fixed addresses in their own calling forms. Floats
// that pass through unchanged travel as raw 32-bit words, so no FPU load can alter a NaN.
// Inline: the aim hook calls three of them on every aim-camera call.
using host_find_player_fn = host_player*(__cdecl*)(std::int32_t which);
using host_aim_camera_fn = void*(__thiscall*)(void* object, float* target, std::uint32_t f1,
                                              std::uint32_t f2, std::uint32_t f3);
using host_transform_offset_fn = void*(__thiscall*)(host_player* player, float* result,
                                                    float* offset);

template <typename F> F host_function(std::uint32_t address) noexcept {
    return reinterpret_cast<F>(static_cast<std::uintptr_t>(address));
}

inline host_player* host_find_player(std::int32_t which) noexcept {
    return host_function<host_find_player_fn>(host_addresses::find_player)(which);
}
inline void* host_aim_camera(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                             std::uint32_t f3) noexcept {
    return host_function<host_aim_camera_fn>(host_addresses::aim_camera)(object, target, f1, f2,
                                                                         f3);
}
inline void host_transform_offset(host_player* player, float* result, float* offset) noexcept {
    host_function<host_transform_offset_fn>(host_addresses::transform_offset)(player, result,
                                                                              offset);
}
void host_vector_set(float* vector, const float* values) noexcept;

// Writes a float into host data in place (untranslated, no protection change).
void write_host_float(std::uint32_t host_address, float value) noexcept;
void write_host_bytes(std::uint32_t host_address, const void* bytes, std::uint32_t size) noexcept;
// Copies `size` bytes of the game's memory at `address` in place, without touching its
// protection; false, leaving `bytes` as they were, where the process has nothing readable there.
bool read_host_bytes(std::uintptr_t address, void* bytes, std::uint32_t size) noexcept;

} // namespace plugin
