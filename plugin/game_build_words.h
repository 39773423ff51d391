// What works on a game build, in the words corvane.log and corvane-check both use, so that what
// the checker foretells from the game's program and what the log reports from the running game
// never disagree.
#pragma once

#include <cstdint>

namespace plugin {

// For a build code (0: not recognised): whether keys Z and X and live reload work, and what
// applies when they do not.
const char* game_build_words(std::int32_t code) noexcept;

} // namespace plugin
