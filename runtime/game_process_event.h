// The module's per-frame event.
//
// Handlers added here run every time the host executes its per-frame call (host 0x53E981):
// `pre_handlers` before the host's function, `post_handlers` after it. The event has no thread or
// timer of its own; the first handler added puts it in front of that call with a chained call
// hook, on host builds 1001 and 1002 only (builds_with_frame_hook).
#pragma once

#include "injector/hooking.h"
#include "injector/resident.h"

#include <cstdint>
#include <functional>
#include <list>
#include <optional>

namespace runtime {

using handler = std::function<void()>;

// The host builds whose per-frame call the event hooks. Inline, so that tools reading the game's
// program on disk share the rule without the hooking machinery.
constexpr bool builds_with_frame_hook(std::int32_t game_version_code) noexcept {
    return game_version_code == 1001 || game_version_code == 1002;
}

// The hooked per-frame call: no arguments, a pointer-sized result passed through untouched. The
// site calls resident code that calls the game's function itself and the event around it, so
// that the module is never on the stack while the game's frame runs.
inline constexpr std::uint32_t per_frame_call_site = 0x53E981;
using per_frame_hooker =
    injector::function_hooker<injector::resident_call, per_frame_call_site, void*()>;

class game_process_event {
  public:
    using handler_list = std::list<handler>;

    // The single event, created on first access; its destruction is registered for unload.
    static game_process_event& instance();

    // Appends a copy of `h` to `list` (one of this event's lists). A plain function already in
    // that list is not added twice; the first call then makes the one attempt to hook the host,
    // after the handler is in its list.
    void add_handler(handler_list& list, const handler& h);

    // What the event's hook runs: the pre handlers before the host's per-frame function, the post
    // handlers after it. The lists are walked live: a handler added during the walk runs too.
    void run_pre_handlers() const;
    void run_post_handlers() const;

    bool hook_attempted = false;
    handler_list pre_handlers;
    handler_list post_handlers;
    // How installing the per-frame hook went; empty when no hook was tried (a build other than
    // 1001 and 1002).
    std::optional<injector::patch_status> hook_status;

  private:
    game_process_event() = default;
    ~game_process_event();
    static void destroy() noexcept;
};

} // namespace runtime
