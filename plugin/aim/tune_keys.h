// Tuning the weapon in hand without leaving the game: while the tune key is held, six keys move
// the aim point of the weapon the player last aimed with, from the next aim on; letting go of the
// tune key saves the new offset into aimingSets.dat.
//
// A tune not saved yet stays in force: a reload of the file never undoes it
// (plugin/aim/unsaved_tunes.h). A save changes only
// that weapon's three numbers (plugin/settings/settings_edit.h) and never writes over an edit the
// player made since corvane read the file (plugin/settings/settings_save.h): then the file is read
// again and the tune is dropped.
#pragma once

#include "plugin/settings/named_settings.h"

#include <cstdint>

namespace plugin {

// The six keys and which way each moves the point: tune_directions in
// plugin/settings/named_settings.h.

// Holding a direction key: one step at the press, then, after this pause, one step every
// tune_repeat_every_ms (at most one a frame; a frame that comes late does not make up for it).
inline constexpr std::uint32_t tune_repeat_delay_ms = 400;
inline constexpr std::uint32_t tune_repeat_every_ms = 150;

// The fewest decimals that give `value` back as the same float (0.45: 2, 0.1234567: 7,
// 2.5e-07: 8), at most max_tune_decimals.
inline constexpr int max_tune_decimals = 48;
int decimals_of(float value) noexcept;

// `value` moved by `step` (signed), kept to as many decimals as the more precise of the two
// needs, so that steps add up to the numbers a player would write (0.4 and 0.05 make 0.45, not
// 0.450000018), and a step there and back gives the very value it began from (0.1234567 stays
// 0.1234567, and 2.5e-07 does not become 0).
float stepped(float value, float step) noexcept;

// Once a frame, after the aim-mode keys. Nothing at all while tune_key is none. True when the
// file must be read again now: a save found the player's edit in it and dropped the tunes not
// saved (the per-frame work then loads it).
[[nodiscard]] bool update_tune_keys() noexcept;

// Forgets every tune and key state. For test programs only.
void forget_tune_keys() noexcept;

} // namespace plugin
