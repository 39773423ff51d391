// The module's once-per-frame work: the aim-mode keys and the live reload of the settings.
#pragma once

#include "plugin/settings/named_settings.h" // key_z, key_x

#include <cstdint>

namespace plugin {

// Nothing until start-up has finished. Then the aim-mode keys, the gamepad button and the swing
// (update_aim_keys in plugin/aim/aim_keys.h: by default Z down gives mode 0 without asking X, else
// X down mode 1, else the mode stays). Then the tune keys (plugin/aim/tune_keys.h). Then, while
// reload_each_frame is non-zero, the settings file is loaded again. Last, the weapon in hand is
// logged when it changed.
void per_frame_handler() noexcept;

// Adds per_frame_handler to the game process event's post handlers (after the host's frame).
void register_per_frame_handler();

// Where the game's per-frame call does not run per_frame_handler (a build other than 1001 and
// 1002 whose aim corvane moves, or one of those two whose per-frame call could not be changed),
// the aim does, while the player aims (aim_hook_with_frame_work in plugin/aim/aim_hook.h). Frames
// are not known there, so the work runs at most once in this many milliseconds: under one frame
// at 60 frames a second, and about one step of Windows' clock (GetTickCount moves in steps of 10
// to 16 ms). So it runs about once a frame up to 60 frames a second, and never more than about 66
// times a second above; keys are held far longer than that, and the swing is timed, not counted
// in frames.
inline constexpr std::uint32_t frame_work_interval_on_aim_ms = 15;

// Runs per_frame_handler when frame_work_interval_on_aim_ms have passed since it last ran from
// here, and at once the first time after start-up. One thread at a time: another thread that
// aims meanwhile goes on without it.
void run_frame_work_on_aim() noexcept;

// Start-up runs on the thread that loads the module, frames on the game's: a frame that comes
// while start-up still logs must not log too (both would write the log's one line buffer), so
// the handler waits for this mark, set as start-up's last step.
void note_start_up_finished() noexcept;
// Clears the mark, as a fresh load of the module starts without it. For test programs only.
void forget_start_up_finished() noexcept;

} // namespace plugin
