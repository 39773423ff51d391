// The module's once-per-frame work: the aim-mode keys and the live reload of the settings.
#pragma once

#include "plugin/named_settings.h" // key_z, key_x

namespace plugin {

// The aim-mode keys, the gamepad button and the swing (update_aim_keys in plugin/aim_keys.h: by
// default Z down gives mode 0 without asking X, else X down mode 1, else the mode stays). Then,
// while reload_each_frame is non-zero, the settings file is loaded again.
void per_frame_handler() noexcept;

// Adds per_frame_handler to the game process event's post handlers (after the host's frame).
void register_per_frame_handler();

} // namespace plugin
