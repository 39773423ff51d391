#include "runtime/game_process_event.h"

#include "runtime/game_version.h"

#include <stdexcept>

namespace runtime {

namespace {

constexpr std::size_t max_handlers = 0x4924923;
game_process_event* the_event = nullptr;

using plain_function = void (*)();

bool is_duplicate_plain_function(const game_process_event::handler_list& list, const handler& h) {
    const auto* function = h.target<plain_function>();
    if (!function) return false; // closures and function objects are never duplicates
    for (const handler& entry : list) {
        const auto* other = entry.target<plain_function>();
        if (other && *other == *function) return true;
    }
    return false;
}

void run_each(const game_process_event::handler_list& list) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        handler copy = *it;
        copy();
    }
}

} // namespace

game_process_event& game_process_event::instance() {
    if (!the_event) {
        the_event = new game_process_event();
        injector::register_teardown(&game_process_event::destroy);
    }
    return *the_event;
}

void game_process_event::destroy() noexcept {
    delete the_event;
    the_event = nullptr;
}

game_process_event::~game_process_event() {
    post_handlers.clear();
    pre_handlers.clear();
}

void game_process_event::add_handler(handler_list& list, const handler& h) {
    if (is_duplicate_plain_function(list, h)) return;

    // The handler is in its list before the call is patched: from the patch on, the game's
    // thread may run a frame at any moment, and that frame finds the list complete.
    if (list.size() >= max_handlers) throw std::length_error("list<T> too long");
    list.push_back(h);

    if (!hook_attempted) {
        hook_attempted = true;
        if (builds_with_frame_hook(identify_game_version())) {
            // The hooker is kept first and installed where it is kept: the call goes live with
            // its hook list final, never to be rearranged under a frame the game runs meanwhile.
            per_frame_hooker& hooker = injector::retain_hooker(per_frame_hooker());
            hook_status = hooker.install(
                {[this] { run_pre_handlers(); }, [this] { run_post_handlers(); }});
        }
    }
}

void game_process_event::run_pre_handlers() const {
    run_each(pre_handlers);
}

void game_process_event::run_post_handlers() const {
    run_each(post_handlers);
}

} // namespace runtime
