#include "plugin/aim_hook.h"

#include "plugin/host.h"
#include "plugin/weapon_in_hand.h"
#include "plugin/weapon_offsets.h"

namespace plugin {

std::uint8_t aim_mode = 0;

void* __thiscall aim_weapon_hook(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                                 std::uint32_t f3) noexcept {
    host_player* const player = host_find_player(-1);
    if (!player || (player_status_flags(player) & player_layout::aim_stands_aside) != 0)
        return host_aim_camera(object, target, f1, f2, f3);

    const std::int32_t weapon_type = player_weapon_type(player);
    weapon_in_hand.type.store(weapon_type, std::memory_order_relaxed);
    const weapon_offset_entry* const entry = find_weapon_offset(weapon_type);
    if (!entry) return host_aim_camera(object, target, f1, f2, f3);

    float offset[3];
    read_weapon_offset(*entry, offset);
    if (is_zero_offset(offset)) return host_aim_camera(object, target, f1, f2, f3);
    if (aim_mode != 0) offset[0] *= -3.0f;

    float point[3] = {};
    host_transform_offset(player, point, offset);
    return host_aim_camera(object, point, f1, f2, f3);
}

} // namespace plugin
