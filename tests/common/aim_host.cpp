#include "aim_host.h"

#include "plugin/aim/aim_hook.h"

#include <cstring>

namespace test_host {

namespace {

constexpr std::uint32_t aim_call_site = 0x527A95;
constexpr std::uint32_t host_aim_camera = 0x521500;
constexpr std::uint32_t host_find_player = 0x56E210;
constexpr std::uint32_t host_transform_offset = 0x5334F0;
constexpr std::uint32_t host_vector_set = 0x411B50;

// push esi; mov esi, esp; push [esi+18h]; push [esi+14h]; push [esi+10h]; push [esi+0Ch];
// mov ecx, [esi+8]; then the CALL at 0x527A95; then check that the callee removed 16 bytes.
const std::vector<std::uint8_t> caller_prologue = {
    0x56, 0x89, 0xE6, 0xFF, 0x76, 0x18, 0xFF, 0x76, 0x14,
    0xFF, 0x76, 0x10, 0xFF, 0x76, 0x0C, 0x8B, 0x4E, 0x08,
};
// cmp esp, esi; je +7; mov esp, esi; mov eax, stack_imbalance; pop esi; ret
const std::vector<std::uint8_t> caller_epilogue = {
    0x39, 0xF4, 0x74, 0x07, 0x89, 0xF4, 0xB8, 0xCC, 0x7A, 0xD5, 0xBA, 0x5E, 0xC3,
};
const std::uint32_t caller_start = aim_call_site - 18;

using caller_fn = std::uint32_t(__cdecl*)(void*, float*, std::uint32_t, std::uint32_t,
                                          std::uint32_t);

void* __cdecl fake_find_player(std::int32_t which) {
    auto* host = aim_host::current;
    host->calls.find_player_args.push_back(which);
    return host->player_present ? &host->player : nullptr;
}

void* __thiscall fake_aim_camera(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                                 std::uint32_t f3) {
    if (aim_host::current->during_camera) aim_host::current->during_camera();
    aim_calls::camera_call call{object, target, {}, {f1, f2, f3}}; // the target read after it
    std::memcpy(call.target_value.data(), target, sizeof(float) * 3);
    aim_host::current->calls.camera.push_back(call);
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(camera_result));
}

void* __thiscall fake_transform_offset(void* player, float* result, float* offset) {
    aim_host::current->calls.transforms.push_back({player, {offset[0], offset[1], offset[2]}});
    for (int i = 0; i < 3; ++i)
        result[i] = offset[i] + transform_shift[i];
    return result;
}

void* __thiscall fake_vector_set(float* vector, const float* values) {
    for (int i = 0; i < 3; ++i)
        vector[i] = values[i];
    aim_host::current->calls.vector_sets.push_back({values[0], values[1], values[2]});
    return vector;
}

} // namespace

aim_host* aim_host::current = nullptr;

void fake_player::set_status_flags(std::uint32_t flags) {
    std::memcpy(bytes + 0x46C, &flags, 4);
}

void fake_player::set_weapon(std::uint8_t active_slot, std::int32_t weapon_type) {
    bytes[0x718] = active_slot;
    std::memcpy(bytes + 0x5A0 + active_slot * 28, &weapon_type, 4);
}

std::vector<std::uint8_t> original_aim_call_bytes() {
    return rel32_instruction(0xE8, aim_call_site, at(host_aim_camera));
}

aim_host::aim_host() {
    current = this;
    auto lay = [this](std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        patches_.push_back(std::make_unique<bytes_patch>(address, bytes));
    };
    lay(caller_start, caller_prologue);
    lay(aim_call_site, original_aim_call_bytes());
    lay(aim_call_site + 5, caller_epilogue);
    lay(host_aim_camera, rel32_instruction(0xE9, host_aim_camera, (void*)&fake_aim_camera));
    lay(host_find_player, rel32_instruction(0xE9, host_find_player, (void*)&fake_find_player));
    lay(host_transform_offset,
        rel32_instruction(0xE9, host_transform_offset, (void*)&fake_transform_offset));
    lay(host_vector_set, rel32_instruction(0xE9, host_vector_set, (void*)&fake_vector_set));
}

aim_host::~aim_host() {
    static_cast<void>(aim_hook_.release());
    while (!patches_.empty())
        patches_.pop_back(); // newest first
    current = nullptr;
}

injector::patch_status aim_host::hook_aim_site() {
    return aim_hook_.attach(aim_call_site, reinterpret_cast<std::uintptr_t>(&plugin::aim_weapon_hook),
                            host_aim_camera);
}

std::uint32_t aim_host::call_aim_site(void* object, float* target, std::uint32_t f1,
                                      std::uint32_t f2, std::uint32_t f3) {
    volatile caller_fn caller = reinterpret_cast<caller_fn>(at(caller_start));
    return caller(object, target, f1, f2, f3);
}

} // namespace test_host
