#include "plugin/frame/per_frame.h"

#include "plugin/aim/aim_at.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/aim/tune_keys.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/file_values.h"
#include "runtime/game_process_event.h"

#include <atomic>

namespace plugin {

namespace {
std::atomic<bool> start_up_finished{false};
// Whether a thread runs the per-frame work from an aim now.
std::atomic<bool> frame_work_on_aim_running{false};
} // namespace

std::atomic<std::uint32_t> frame_work_on_aim::last_ms{0};

void per_frame_handler() noexcept {
    if (!start_up_finished.load(std::memory_order_acquire)) return;
    update_aim_keys();
    const bool file_changed_under_a_tune = update_tune_keys();
    if (file_changed_under_a_tune || reload_each_frame != 0) load_aiming_settings();
    log_weapon_in_hand();
}

void arm_frame_work_on_aim() noexcept {
    frame_work_on_aim::last_ms.store(os::monotonic_milliseconds() - frame_work_interval_on_aim_ms,
                                     std::memory_order_relaxed);
}

void frame_work_on_aim::run(std::uint32_t now) noexcept {
    // One thread runs the work; one that aims at the same moment goes on without it.
    if (frame_work_on_aim_running.exchange(true, std::memory_order_acquire)) return;
    if (now - last_ms.load(std::memory_order_relaxed) >= frame_work_interval_on_aim_ms) {
        last_ms.store(now, std::memory_order_relaxed);
        per_frame_handler();
    }
    frame_work_on_aim_running.store(false, std::memory_order_release);
}

void note_start_up_finished() noexcept {
    start_up_finished.store(true, std::memory_order_release);
}

void forget_start_up_finished() noexcept {
    start_up_finished.store(false, std::memory_order_relaxed);
    frame_work_on_aim::last_ms.store(0, std::memory_order_relaxed);
    frame_work_on_aim_running.store(false, std::memory_order_relaxed);
}

const float* __cdecl aim_hook_with_frame_work(const float* target, float* room) noexcept {
    run_frame_work_on_aim();
    return aim_at(target, room);
}

void register_per_frame_handler() {
    auto& event = runtime::game_process_event::instance();
    // A closure, not a plain function pointer: the event never folds it with another handler.
    event.add_handler(event.post_handlers, runtime::handler([] { per_frame_handler(); }));
}

} // namespace plugin
