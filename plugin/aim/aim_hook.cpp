#include "plugin/aim/aim_hook.h"

#include "plugin/aim/per_frame.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/host.h"
#include "plugin/settings/weapon_offsets.h"

#include <atomic>
#include <bit>

namespace plugin {

std::uint8_t aim_mode = 0;

namespace {
// One float, written by the per-frame handler and read by the hook, perhaps on another thread.
std::atomic<float> published_aim_factor{1.0f};
constexpr std::uint32_t one_bits = std::bit_cast<std::uint32_t>(1.0f);
} // namespace

void publish_aim_factor(float factor) noexcept {
    published_aim_factor.store(factor, std::memory_order_relaxed);
}

float aim_factor() noexcept {
    return published_aim_factor.load(std::memory_order_relaxed);
}

namespace {
// The aim hook's work, inlined into both shares: the one that runs the per-frame work first keeps
// the aim's arguments where the resident code put them, with no call between.
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
    const float factor = published_aim_factor.load(std::memory_order_relaxed);
    if (std::bit_cast<std::uint32_t>(factor) != one_bits) offset[0] *= factor; // x * 1 is x

    host_transform_offset(player, room, offset); // fills the point
    return room;
}
} // namespace

const float* __cdecl aim_weapon_hook(const float* target, float* room) noexcept {
    return aim_at(target, room);
}

const float* __cdecl aim_hook_with_frame_work(const float* target, float* room) noexcept {
    run_frame_work_on_aim();
    return aim_at(target, room);
}

} // namespace plugin
