#include "plugin/game_build_words.h"

#include "runtime/game_process_event.h"

namespace plugin {

const char* game_build_words(std::int32_t code) noexcept {
    return runtime::builds_with_frame_hook(code)
               ? "keys Z and X and live reload are on"
               : "keys Z and X and live reload are off on this build; the weapon offsets and the "
                 "values of the settings file still apply";
}

} // namespace plugin
