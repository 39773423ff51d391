#include "plugin/per_frame.h"

#include "platform/os.h"
#include "plugin/aim_hook.h"
#include "plugin/settings.h"
#include "runtime/game_process_event.h"

namespace plugin {

void per_frame_handler() noexcept {
    if (os::key_state(key_z) < 0)
        aim_mode = 0;
    else if (os::key_state(key_x) < 0)
        aim_mode = 1;
    if (reload_each_frame != 0) load_aiming_settings();
}

void register_per_frame_handler() {
    auto& event = runtime::game_process_event::instance();
    // A closure, not a plain function pointer: the event never folds it with another handler.
    event.add_handler(event.post_handlers, runtime::handler([] { per_frame_handler(); }));
}

} // namespace plugin
