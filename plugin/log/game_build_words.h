// What works on a game build, in the words corvane.log and corvane-check both use, so that what
// the checker foretells from the game's program and what the log reports from the running game
// never disagree; and the one rule both use to decide whether corvane changes a game at all.
#pragma once

#include "injector/host_address.h"

#include <cstdint>

namespace plugin {

// For a build code (0: not recognised) of a game corvane changes: whether the keys and live
// reload work on every frame (builds 1001 and 1002, whose per-frame call corvane changes), or
// while the player aims (any other: the aim runs the per-frame work).
const char* game_build_words(std::int32_t code) noexcept;

// Where the aim runs the per-frame work: what works, and when.
const char* frame_work_on_aim_words() noexcept;

// Whether corvane changes this game. On builds 1001 and 1002 it always does, as it always has
// (also where another plug-in redirected the aim call first). On any other build only when the
// five bytes at the aim call site (`site_bytes`, lying at `site`) are a CALL of the game's aim
// camera (at `aim_camera`), as on the builds corvane was made for: elsewhere those bytes, and
// the places of every value, are the middle of unrelated code and data.
bool changes_this_game(std::int32_t code, const std::uint8_t (&site_bytes)[5], std::uintptr_t site,
                       std::uintptr_t aim_camera) noexcept;

// Whether the game's program lies where corvane knows the places of its code and values, at
// its preferred base. A program that Windows moved elsewhere has every one of them elsewhere too,
// and some are called and written at their fixed places: corvane changes nothing in such a game, on
// any build.
constexpr bool program_at_its_usual_place(std::uintptr_t base) noexcept {
    return base == injector::host_preferred_base;
}

// On a program that lies elsewhere: the log's line, for printf with the program's base.
inline constexpr char moved_program_format[] =
    "the game's program lies at 0x%08X, not at 0x00400000 where corvane knows its code and "
    "values, so corvane changed nothing in this game";

// On a program that Windows may move (the checker, before the game runs).
const char* movable_program_words() noexcept;

// On a game corvane does not change: what it did (the log, after start-up) or will do (the
// checker, before the game runs).
const char* left_alone_words(bool before_the_game_runs) noexcept;

} // namespace plugin
