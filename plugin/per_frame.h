// The module's once-per-frame work: the aim-mode keys and the live reload of the settings.
#pragma once

namespace plugin {

inline constexpr int key_z = 0x5A; // normal aim
inline constexpr int key_x = 0x58; // x offset times -3.0

// Nothing until start-up has finished. Then: Z down: mode 0 (X is not asked). Else X down:
// mode 1. Else the mode stays. Then, while reload_each_frame is non-zero, the settings file is
// loaded again. Last, the weapon in hand is logged when it changed.
void per_frame_handler() noexcept;

// Adds per_frame_handler to the game process event's post handlers (after the host's frame).
void register_per_frame_handler();

// Start-up runs on the thread that loads the module, frames on the game's: a frame that comes
// while start-up still logs must not log too (both would write the log's one line buffer), so
// the handler waits for this mark, set as start-up's last step.
void note_start_up_finished() noexcept;
// Clears the mark, as a fresh load of the module starts without it. For test programs only.
void forget_start_up_finished() noexcept;

} // namespace plugin
