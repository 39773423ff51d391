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

// Has exactly the calling form of the host's aim-camera function (object in ECX, a target
// pointer and three floats on the stack, 16 bytes removed here), since the host's own CALL
// reaches it. Looks up the player's weapon and, when an offset applies, aims at the point at
// that offset; otherwise passes the host's call through unchanged.
void* __thiscall aim_weapon_hook(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                                 std::uint32_t f3) noexcept;

} // namespace plugin
