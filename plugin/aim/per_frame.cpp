#include "plugin/aim/per_frame.h"

#include "plugin/aim/aim_keys.h"
#include "plugin/aim/tune_keys.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/settings/settings.h"
#include "platform/os.h"
#include "runtime/game_process_event.h"

#include <atomic>

namespace plugin {

namespace {
std::atomic<bool> start_up_finished{false};

// When the aim last ran the per-frame work, whether it has since start-up, and whether a thread
// runs it from an aim now.
std::atomic<std::uint32_t> frame_work_on_aim_ms{0};
std::atomic<bool> frame_work_on_aim_ran{false};
std::atomic<bool> frame_work_on_aim_running{false};

bool frame_work_on_aim_due(std::uint32_t now) noexcept {
    return !frame_work_on_aim_ran.load(std::memory_order_relaxed) ||
           now - frame_work_on_aim_ms.load(std::memory_order_relaxed) >=
               frame_work_interval_on_aim_ms;
}
} // namespace

void per_frame_handler() noexcept {
    if (!start_up_finished.load(std::memory_order_acquire)) return;
    update_aim_keys();
    update_tune_keys();
    if (reload_each_frame != 0) load_aiming_settings();
    log_weapon_in_hand();
}

void run_frame_work_on_aim() noexcept {
    const std::uint32_t now = os::monotonic_milliseconds();
    if (!frame_work_on_aim_due(now)) return;
    // One thread runs the work; one that aims at the same moment goes on without it.
    if (frame_work_on_aim_running.exchange(true, std::memory_order_acquire)) return;
    if (frame_work_on_aim_due(now)) {
        frame_work_on_aim_ms.store(now, std::memory_order_relaxed);
        frame_work_on_aim_ran.store(true, std::memory_order_relaxed);
        per_frame_handler();
    }
    frame_work_on_aim_running.store(false, std::memory_order_release);
}

void note_start_up_finished() noexcept {
    start_up_finished.store(true, std::memory_order_release);
}

void forget_start_up_finished() noexcept {
    start_up_finished.store(false, std::memory_order_relaxed);
    frame_work_on_aim_ms.store(0, std::memory_order_relaxed);
    frame_work_on_aim_ran.store(false, std::memory_order_relaxed);
    frame_work_on_aim_running.store(false, std::memory_order_relaxed);
}

void register_per_frame_handler() {
    auto& event = runtime::game_process_event::instance();
    // A closure, not a plain function pointer: the event never folds it with another handler.
    event.add_handler(event.post_handlers, runtime::handler([] { per_frame_handler(); }));
}

} // namespace plugin
