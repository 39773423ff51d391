// The hook that stands in the host's aim-camera call and moves the aim target per weapon.
#pragma once

#include "platform/os.h"

#include <cstdint>

namespace plugin {

// 0: the normal mode; any other value: the other shoulder. Written by the per-frame handler only.
extern std::uint8_t aim_mode;

// What the x (sideways part) of an offset is multiplied by: 1 in the normal mode, mirror_factor
// in the other, and the values between while the camera swings. Published once a frame by the
// per-frame handler; the hook only reads it, so it never reads a clock.
void publish_aim_factor(float factor) noexcept;
float aim_factor() noexcept;

// The aim hook: the resident code at the host's aim-camera call calls it with the target the
// host passed and twelve bytes of room, then calls the host's aim camera itself, with the host's
// object and floats and the target returned here. Looks up the player's weapon and, when an
// offset applies, fills `room` with the point at that offset and returns it; otherwise returns
// the host's own target, so the call goes through unchanged.
const float* __cdecl aim_weapon_hook(const float* target, float* room) noexcept;

} // namespace plugin
