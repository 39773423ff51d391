#include "plugin/aim/per_frame.h"

#include "plugin/aim/aim_keys.h"
#include "plugin/aim/tune_keys.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/settings/settings.h"
#include "runtime/game_process_event.h"

#include <atomic>

namespace plugin {

namespace {
std::atomic<bool> start_up_finished{false};
} // namespace

void per_frame_handler() noexcept {
    if (!start_up_finished.load(std::memory_order_acquire)) return;
    update_aim_keys();
    update_tune_keys();
    if (reload_each_frame != 0) load_aiming_settings();
    log_weapon_in_hand();
}

void note_start_up_finished() noexcept {
    start_up_finished.store(true, std::memory_order_release);
}

void forget_start_up_finished() noexcept {
    start_up_finished.store(false, std::memory_order_relaxed);
}

void register_per_frame_handler() {
    auto& event = runtime::game_process_event::instance();
    // A closure, not a plain function pointer: the event never folds it with another handler.
    event.add_handler(event.post_handlers, runtime::handler([] { per_frame_handler(); }));
}

} // namespace plugin
