#include "plugin/per_frame.h"

#include "plugin/aim_keys.h"
#include "plugin/settings.h"
#include "runtime/game_process_event.h"

namespace plugin {

void per_frame_handler() noexcept {
    update_aim_keys();
    if (reload_each_frame != 0) load_aiming_settings();
}

void register_per_frame_handler() {
    auto& event = runtime::game_process_event::instance();
    // A closure, not a plain function pointer: the event never folds it with another handler.
    event.add_handler(event.post_handlers, runtime::handler([] { per_frame_handler(); }));
}

} // namespace plugin
