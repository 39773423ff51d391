// The weapon in hand: nothing in the game shows a weapon's type number, so corvane.log names the
// type the player aims with each time it changes, with what corvane does for it.
//
// The aim hook only notes the type (one relaxed store, on the thread that frames the aim camera);
// the per-frame handler compares it with the one it last logged and writes the line, once per
// change.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

namespace plugin {

// What weapon_in_hand holds until the first aim.
inline constexpr std::int32_t no_weapon_seen = INT32_MIN;

// The weapon type of the player's last aim, as the aim hook saw it. A cache line of its own:
// the aim hook stores into it on every aim-camera call, and nothing else shares the line.
struct alignas(64) noted_weapon {
    std::atomic<std::int32_t> type{no_weapon_seen};
};
extern noted_weapon weapon_in_hand;

// At the start of each read of the settings file: which line gives each weapon type is
// forgotten, to be noted again line by line.
void begin_weapon_lines() noexcept;
// A weapon line of the current read that set its type (the first line given for that type).
void note_weapon_line(int line, std::int32_t weapon_type) noexcept;

// Once per frame: when the weapon in hand is not the one last logged, logs it, e.g.
// "aiming with weapon type 31: line 19 gives it 0 0 0, the game's own aim".
void log_weapon_in_hand() noexcept;

// Forgets the weapon in hand, the one logged and the lines. For test programs only.
void forget_weapon_in_hand() noexcept;

} // namespace plugin
