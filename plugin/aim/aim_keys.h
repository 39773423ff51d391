// The aim mode chosen frame by frame: the keys held for either mode, a key and a gamepad button
// that swap on each press, and the swing of the sideways factor between the modes, published to
// the aim hook.
#pragma once

#include "plugin/settings/named_settings.h"

#include <cstdint>

namespace plugin {

// A swing's start and end in factor values, and when it started; with swing_ms 0 the factor is
// the end at once. Why it exists: a swap in the middle of a swing starts the next from where
// the factor stands, so it never jumps.
struct aim_swing {
    float from = 1.0f;
    float to = 1.0f;
    std::uint32_t started_ms = 0;
};

// The factor of a swing `elapsed_ms` after its start, over `swing_ms` milliseconds: from `from`
// to `to` along an ease-in-out curve (smoothstep), never past either end; `to` once the time
// is up (at once for swing_ms 0).
float swing_factor(const aim_swing& swing, std::uint32_t elapsed_ms, int swing_ms) noexcept;

// The factor each mode aims at: 1 for the normal mode, mirror_factor for the other.
float mode_factor(std::uint8_t mode, const named_values& settings) noexcept;

// The named settings the per-frame work follows from the next frame on. The settings load
// sets them on every load.
void set_aim_key_settings(const named_values& values) noexcept;
const named_values& aim_key_settings() noexcept;

// Once per frame: reads the keys (and, while pad_toggle is set, the gamepad), sets aim_mode,
// moves the swing and publishes the factor to the aim hook.
//
// key_normal held: the normal mode; otherwise key_mirrored held: the other one (a key set to
// none is not asked). key_toggle and pad_toggle swap the mode when pressed, not while held; a
// held key of either kind wins over a toggle. A toggle key or button held when it is first
// chosen (at start-up or by a reload) counts as pressed then. The gamepad library is the one
// prepare_gamepad loaded; the first connected controller counts, and while none is connected
// the slots are asked again at most once a second.
void update_aim_keys() noexcept;

// Loads the gamepad library, at start-up, before any frame runs: a frame never enters Windows'
// loader, which an unload holds while it waits for the frame's work to end.
void prepare_gamepad() noexcept;

// Back to the defaults, the normal mode, no swing and no gamepad found. For test programs only.
void forget_aim_keys() noexcept;

} // namespace plugin
