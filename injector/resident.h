// Call sites whose game code never runs from the module's own code.
//
// A site the module patches calls resident code: a few bytes of executable memory owned by the
// process, not by the module, that call the game's function themselves and the module's share of
// the work through a cell, counting the threads inside that share. So the module is on a game
// thread's stack only while its own short share runs: a frame that takes seconds, an aim held in
// the game's camera or a frame function that unloads the module all return through the resident
// code, never into a module that is gone. Unloading leads the cells home (null: the resident code
// then jumps straight to what the site called before), waits within one deadline for the threads
// counted inside the shares, and gives a site its own bytes back only while it still calls the
// resident code; otherwise the site is left to whoever changed it since.
//
// One allocation holds the resident code of both kinds of call, one page of code that never
// changes after it is laid and, on a page of its own, the data that changes while the code runs
// (cells and counts). It is never given back: a thread may have taken a site's CALL an instant
// before the unload. A later load finds it again, through the site that still calls it or among
// the process's memory where it stands for just what the site does, so load after load reuses it.
//
// Only a site that holds a 5-byte relative CALL (E8) is patched: a JMP, or a CALL through a cell,
// that another plug-in laid there is left alone.
#pragma once

#include "injector/hooking.h"

#include <cstdint>
#include <optional>
#include <span>

namespace injector {

// The two calling forms the resident code wraps.
enum class resident_kind : std::uint8_t {
    // A call with no stack arguments: the share runs before the game's function (phase 0) and
    // after it (phase 1); registers and the result reach the function and its caller untouched.
    around = 0,
    // A thiscall with four stack arguments, the first a pointer to a point of three floats, that
    // the callee removes: the share chooses that pointer, the caller's own or `room`, twelve bytes
    // the resident code keeps while the call runs. The resident code calls a fixed function (the
    // `callee` given at attach), not what the site called before.
    retarget = 1,
};
inline constexpr int resident_kinds = 2;

// The share of each kind is called by the resident code in the cdecl form: around,
// `void share(std::uint32_t phase)`; retarget, `const float* share(const float* target, float*
// room)`.

// What resident code at an entry holds, as any copy of the module laid it.
struct resident_view {
    resident_kind kind;
    std::uintptr_t share;          // the module's share while in use, or 0: it leads home
    std::uintptr_t home;           // what the site called before it was laid
    std::uintptr_t callee;         // retarget: the function it calls while in use
    const std::uint8_t* original;  // the five bytes the site held before it was laid
    int threads_inside;            // threads of the game inside the share at this moment
};
// The resident code whose entry is `address`, made by any copy of the module; none for anything
// else (memory whose mark fits but whose code is not exactly what the module lays included).
std::optional<resident_view> resident_at(std::uintptr_t address) noexcept;

// One CALL site routed through resident code. Not copied: the site has one owner. Its kept bytes
// are the site's own from before this load changed it.
class resident_call : public scoped_basic<5> {
  public:
    // The around kind by default: the kind a hook manager's site is.
    explicit resident_call(resident_kind kind = resident_kind::around) noexcept : kind_(kind) {}
    resident_call(const resident_call&) = delete;
    resident_call& operator=(const resident_call&) = delete;
    ~resident_call() override { static_cast<void>(release()); }

    // Makes the CALL at `site` lead to resident code that runs `share` (and, for the retarget
    // kind, calls `callee`), letting go of any site held before. Where the site calls resident
    // code of this kind that no loaded module uses, that code is taken over and the site is not
    // written. Otherwise resident code an earlier load left for the site as it is now, or else
    // new code, is made whole first, and only then is the site's CALL changed; where that write
    // is not made, the code leads home again (new memory is given back). A site that does not
    // hold a relative CALL is left as it is (`not_a_call`); one for which Windows gives no memory
    // that may run code is left as it is too (`no_code_memory`).
    patch_status attach(std::uintptr_t site, std::uintptr_t share, std::uintptr_t callee = 0);

    // Leads the cell home: from now on no thread of the game enters the share.
    void lead_home() noexcept;
    // From now on the attached call runs `share` instead of the one it ran; a thread inside the
    // one before finishes it, counted as before. Nothing where the call is not attached.
    void lead_to(std::uintptr_t share) noexcept;

    // Leads home, waits until no thread of the game is inside the share (until the unload's
    // deadline at the latest, see begin_unload), then, where the site still calls the resident
    // code, puts the site's own bytes back. A site that calls something else now is left as it
    // is. The resident code stays in both cases, leading home. Nothing held is `done`.
    patch_status release() noexcept;
    patch_status restore_bytes() override { return release(); }

    bool attached() const noexcept { return slot_ != nullptr; }
    // What the site called before this module changed it, where the resident code leads home.
    std::uintptr_t previous() const noexcept { return previous_; }
    // The address the site's CALL leads to while attached (the resident code's entry), else 0.
    std::uintptr_t entry() const noexcept;
    // How many threads of the game are inside the share at this moment.
    int threads_inside() const noexcept;

    // What the resident code of one site reads while it runs; its layout is resident.cpp's.
    struct slot;

  private:
    friend struct resident_registry;

    resident_kind kind_;
    slot* slot_ = nullptr;
    std::uintptr_t previous_ = 0;
    resident_call* next_attached_ = nullptr; // every attached call, for begin_unload
};

// The longest the whole unload waits for threads of the game inside the module's shares.
inline constexpr std::uint32_t unload_deadline_ms = 1000;

// The unload begins: every attached resident call leads home at once, and the one deadline of
// the unload starts (GetTickCount), within which the releases that follow wait. Where Windows
// ends the process (`process_exiting`) its other threads are gone already: nothing waits, and no
// code of the game is written any more.
void begin_unload(bool process_exiting) noexcept;
// Forgets an unload begun, as a fresh load of the module starts without one. For test programs.
void forget_unload() noexcept;
// Whether the unload under way is the process's exit.
bool unloading_at_process_exit() noexcept;

// Work of the module's own that an unload waits for whole, however long it takes: a share holds
// one around it (the save of the settings file, which must never be cut off half-written or be
// left running in a module that is gone). While any is held, the unload's wait for threads inside
// the shares does not give up; when the last one ends, the deadline counts again from then, so
// the thread still has its time to leave the share. Once an unload has given up waiting, none is
// granted any more: the work must not start.
class unload_waits_for {
  public:
    unload_waits_for() noexcept;
    ~unload_waits_for();
    unload_waits_for(const unload_waits_for&) = delete;
    unload_waits_for& operator=(const unload_waits_for&) = delete;

    // False: an unload has stopped waiting already, and the work must not begin.
    explicit operator bool() const noexcept { return granted_; }

  private:
    bool granted_;
};

// Where the five bytes `site_bytes`, lying at `site`, call resident code (made by any copy of the
// module, in use or not), whose own original bytes may call more, and so on: the bytes the site
// held before the first of them was laid. Null where they call none.
const std::uint8_t* resident_original(const std::uint8_t (&site_bytes)[5],
                                      std::uintptr_t site) noexcept;

} // namespace injector
