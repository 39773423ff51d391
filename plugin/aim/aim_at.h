// The aim hook's work, inline, for the two shares the resident code may call at the aim: the
// plain one (aim_weapon_hook, plugin/aim/aim_hook.h) and the one that runs the per-frame work
// first (aim_hook_with_frame_work, plugin/frame/per_frame.h). Inlined into each, it keeps the
// aim's arguments where the resident code put them, with no call between.
#pragma once

#include "plugin/aim/weapon_in_hand.h"
#include "plugin/host.h"
#include "plugin/settings/weapon_offsets.h"

#include <atomic>
#include <bit>
#include <cstdint>

namespace plugin {

namespace aim_at_detail {
// What x is multiplied by (publish_aim_factor in plugin/aim/aim_hook.h).
extern std::atomic<float> published_aim_factor;
inline constexpr std::uint32_t one_bits = std::bit_cast<std::uint32_t>(1.0f);
} // namespace aim_at_detail

// Finds the player and the weapon in hand and, when an offset applies, fills `room` with the
// point at that offset and returns it; otherwise returns the game's own target.
[[gnu::always_inline]] inline const float* aim_at(const float* target, float* room) noexcept {
    host_player* const player = host_find_player(-1);
    if (!player || (player_status_flags(player) & player_layout::aim_stands_aside) != 0)
        return target;

    const std::int32_t weapon_type = player_weapon_type(player);
    weapon_in_hand.type.store(weapon_type, std::memory_order_relaxed);
    const weapon_offset_entry* const entry = find_weapon_offset(weapon_type);
    if (!entry) return target;

    float offset[3];
    read_weapon_offset(*entry, offset);
    if (is_zero_offset(offset)) return target;
    const float factor = aim_at_detail::published_aim_factor.load(std::memory_order_relaxed);
    if (std::bit_cast<std::uint32_t>(factor) != aim_at_detail::one_bits)
        offset[0] *= factor; // x * 1 is x

    host_transform_offset(player, room, offset); // fills the point
    return room;
}

} // namespace plugin
