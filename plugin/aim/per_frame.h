// The module's once-per-frame work: the aim-mode keys and the live reload of the settings.
#pragma once

#include "plugin/settings/named_settings.h" // key_z, key_x

namespace plugin {

// Nothing until start-up has finished. Then the aim-mode keys, the gamepad button and the swing
// (update_aim_keys in plugin/aim/aim_keys.h: by default Z down gives mode 0 without asking X, else
// X down mode 1, else the mode stays). Then the tune keys (plugin/aim/tune_keys.h). Then, while
// reload_each_frame is non-zero, the settings file is loaded again. Last, the weapon in hand is
// logged when it changed.
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
