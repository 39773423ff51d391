#include "plugin/host.h"

namespace plugin {

namespace {
using find_player_fn = host_player*(__cdecl*)(std::int32_t);
using transform_offset_fn = void*(__thiscall*)(host_player*, float*, float*);
using vector_set_fn = void*(__thiscall*)(float*, const float*);

template <typename F> F host_function(std::uint32_t address) {
    return reinterpret_cast<F>(static_cast<std::uintptr_t>(address));
}
} // namespace

std::uint32_t player_status_flags(const host_player* player) noexcept {
    return read_player_field<std::uint32_t>(player, player_layout::status_flags);
}

std::int32_t player_weapon_type(const host_player* player) noexcept {
    const auto slot = read_player_field<std::uint8_t>(player, player_layout::active_slot);
    return read_player_field<std::int32_t>(player, player_layout::weapon_slots +
                                                       slot * player_layout::weapon_slot_stride);
}

host_player* host_find_player(std::int32_t which) noexcept {
    return host_function<find_player_fn>(host_addresses::find_player)(which);
}

void* host_aim_camera(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                      std::uint32_t f3) noexcept {
    return host_function<host_aim_camera_fn>(host_addresses::aim_camera)(object, target, f1, f2,
                                                                         f3);
}

void host_transform_offset(host_player* player, float* result, float* offset) noexcept {
    host_function<transform_offset_fn>(host_addresses::transform_offset)(player, result, offset);
}

void host_vector_set(float* vector, const float* values) noexcept {
    host_function<vector_set_fn>(host_addresses::vector_set)(vector, values);
}

void write_host_float(std::uint32_t host_address, float value) noexcept {
    write_host_bytes(host_address, &value, sizeof value);
}

void write_host_bytes(std::uint32_t host_address, const void* bytes, std::uint32_t size) noexcept {
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(host_address)), bytes, size);
}

} // namespace plugin
