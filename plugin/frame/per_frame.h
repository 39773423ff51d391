// The module's once-per-frame work (the aim-mode keys, the tune keys, the live reload of the
// settings, the weapon in hand in the log), one function run by the game's per-frame call, or,
// where corvane could not hook that call, by the aim.
#pragma once

#include "platform/os.h"

#include <atomic>
#include <cstdint>

namespace plugin {

// Nothing until start-up has finished. Then the aim-mode keys, the gamepad button and the swing
// (update_aim_keys in plugin/aim/aim_keys.h: by default Z down gives mode 0 without asking X, else
// X down mode 1, else the mode stays). Then the tune keys (plugin/aim/tune_keys.h). Then the
// settings file is loaded again, once, while reload_each_frame is non-zero or when the tune keys
// found the player's edit in it and dropped their tunes. Last, the weapon in hand is logged when it
// changed.
void per_frame_handler() noexcept;

// Adds per_frame_handler to the game process event's post handlers (after the host's frame).
void register_per_frame_handler();

// Where the game's per-frame call does not run per_frame_handler (a build other than 1001 and
// 1002 whose aim corvane moves, or one of those two whose per-frame call could not be changed),
// the aim does, while the player aims (aim_hook_with_frame_work below). Frames
// are not known there, so the work runs at most once in this many milliseconds: under one frame
// at 60 frames a second, and about one step of Windows' clock (GetTickCount moves in steps of 10
// to 16 ms). So it runs about once a frame up to 60 frames a second, and never more than about 66
// times a second above; keys are held far longer than that, and the swing is timed, not counted
// in frames.
inline constexpr std::uint32_t frame_work_interval_on_aim_ms = 15;

// From now on the aim may run the per-frame work, the first aim at once. Start-up calls it where
// the aim runs the work.
void arm_frame_work_on_aim() noexcept;

// Runs per_frame_handler when frame_work_interval_on_aim_ms have passed since it last ran from
// here (or since arm_frame_work_on_aim, the first time). Inline, as the aim hook runs it on every
// aim: most aims come within one frame's time, and read the clock only. One thread at a time runs
// the work: another that aims meanwhile goes on without it.
inline void run_frame_work_on_aim() noexcept;

// The aim hook's share where the aim runs the per-frame work too: the work first, when it is due,
// so that a key pressed or a line saved takes effect in this same aim; then the aim hook's work
// (plugin/aim/aim_at.h), as aim_weapon_hook does it. Start-up leads the aim's resident code here
// instead of to aim_weapon_hook where the per-frame call does not run the work.
const float* __cdecl aim_hook_with_frame_work(const float* target, float* room) noexcept;

namespace frame_work_on_aim {
// When the aim last ran the work (GetTickCount's milliseconds; it wraps, and the subtraction
// with it).
extern std::atomic<std::uint32_t> last_ms;
// The work, once due: out of line.
void run(std::uint32_t now) noexcept;
} // namespace frame_work_on_aim

inline void run_frame_work_on_aim() noexcept {
    const std::uint32_t now = os::monotonic_milliseconds();
    if (now - frame_work_on_aim::last_ms.load(std::memory_order_relaxed) <
        frame_work_interval_on_aim_ms)
        return;
    frame_work_on_aim::run(now);
}

// Start-up runs on the thread that loads the module, frames on the game's: a frame that comes
// while start-up still logs must not log too (both would write the log's one line buffer), so
// the handler waits for this mark, set as start-up's last step.
void note_start_up_finished() noexcept;
// Clears the mark, as a fresh load of the module starts without it. For test programs only.
void forget_start_up_finished() noexcept;

} // namespace plugin
