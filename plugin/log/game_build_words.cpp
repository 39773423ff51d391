#include "plugin/log/game_build_words.h"

#include "injector/branch.h"
#include "runtime/game_process_event.h"

namespace plugin {

const char* game_build_words(std::int32_t code) noexcept {
    return runtime::builds_with_frame_hook(code) ? "the keys and live reload work on this build"
                                                 : frame_work_on_aim_words();
}

const char* frame_work_on_aim_words() noexcept {
    return "the keys, live reload and the tune keys work while you aim: corvane does their work "
           "when the game aims, not on every frame";
}

bool changes_this_game(std::int32_t code, const std::uint8_t (&site_bytes)[5], std::uintptr_t site,
                       std::uintptr_t aim_camera) noexcept {
    return runtime::builds_with_frame_hook(code) ||
           injector::relative_call_target(site_bytes, site) == aim_camera;
}

const char* movable_program_words() noexcept {
    return "Windows may load this game's program at another place in memory than its usual "
           "one; it rarely does, but where it does, corvane changes nothing in the game, and "
           "corvane.log says so";
}

const char* left_alone_words(bool before_the_game_runs) noexcept {
    return before_the_game_runs
               ? "this game build is not one corvane knows, so corvane will change nothing in "
                 "this game"
               : "this game build is not one corvane knows, so corvane changed nothing in this "
                 "game";
}

} // namespace plugin
