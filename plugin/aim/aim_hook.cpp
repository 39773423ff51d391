#include "plugin/aim/aim_hook.h"

#include "plugin/aim/aim_at.h"

#include <atomic>

namespace plugin {

std::uint8_t aim_mode = 0;

// One float, written by the per-frame handler and read by the hook, perhaps on another thread.
std::atomic<float> aim_at_detail::published_aim_factor{1.0f};
using aim_at_detail::published_aim_factor;

void publish_aim_factor(float factor) noexcept {
    published_aim_factor.store(factor, std::memory_order_relaxed);
}

float aim_factor() noexcept {
    return published_aim_factor.load(std::memory_order_relaxed);
}

const float* __cdecl aim_weapon_hook(const float* target, float* room) noexcept {
    return aim_at(target, room);
}

} // namespace plugin
