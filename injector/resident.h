// Call sites that stay safe after the module is gone.
//
// Another plug-in that hooks a call site after the module keeps the module's CALL among the bytes
// it will put back, and a plug-in that hooked first keeps its own. Whichever unloads first, the
// game must never be left calling into a module that is gone, and no plug-in may silently undo
// another's hook. So a site the module patches this way calls a resident jump: a few bytes of
// executable memory owned by the process, not by the module, that jump through a cell. While the
// module is loaded the cell leads to its hook; at unload it leads back to what the site called
// before, and the site gets its own bytes back only while it still calls the resident jump.
// Otherwise the site is left to whoever changed it since, and the jump stays where it is for them.
//
// A resident jump is never given back: a thread of the game may have taken the site's CALL an
// instant before the unload and run the jump after it. One that no module uses any more is taken
// over by the next load, which finds it through the site that still calls it, or else among the
// process's memory when it does just what the site does; so load after load reuses it instead of
// leaving memory behind.
#pragma once

#include "injector/hooking.h"

#include <cstdint>
#include <span>

namespace injector {

struct resident_jump;
// Where a resident jump's entry lies in its memory.
inline constexpr std::uintptr_t resident_entry_offset = 24;

// One CALL site routed through a resident jump. Not copied: the site has one owner. Its kept
// bytes are the site's own, from before any plug-in that works this way changed it.
class resident_call : public scoped_basic<5> {
  public:
    resident_call() = default;
    resident_call(const resident_call&) = delete;
    resident_call& operator=(const resident_call&) = delete;
    ~resident_call() override { static_cast<void>(release()); }

    // Makes the CALL at `site` lead to `hook`, letting go of any site held before. Where the site
    // calls a resident jump that no loaded module uses, that jump is taken over and the site is
    // not written. Otherwise the jump an earlier load left for the site as it is now, or else a
    // new one, is made to lead to the hook first, and only then is the site's CALL changed; where
    // that write is not made, the jump leads home again (a new one is given back). `previous` is
    // known before the site can reach the hook. A site with nothing to call is left as it is
    // (`not_a_call`). Throws std::bad_alloc when Windows gives no memory.
    patch_status attach(std::uintptr_t site, std::uintptr_t hook);

    // Leads the resident jump back to `previous` and lets the threads of the game that are
    // still in a hook leave: 20 ms for one that took the jump just before, then as long as
    // one runs a site trampoline (threads_in_trampolines), at most a second; unloading runs
    // under Windows' loader lock, where a hook that waits for the loader would never leave.
    // Then, where the site still calls the jump, puts the site's own bytes back. A site that
    // calls something else now is left as it is. The jump stays in both cases, leading home.
    // Nothing held is `done`.
    patch_status release() noexcept;
    patch_status restore_bytes() override { return release(); }

    bool attached() const noexcept { return jump_ != nullptr; }
    // What the hook passes the call on to: what the site called before this module changed it.
    std::uintptr_t previous() const noexcept { return previous_; }
    // The address the site's CALL leads to while attached (the resident jump), else 0.
    std::uintptr_t entry() const noexcept {
        return jump_ ? reinterpret_cast<std::uintptr_t>(jump_) + resident_entry_offset : 0;
    }

  private:
    resident_jump* jump_ = nullptr;
    std::uintptr_t previous_ = 0;
};

// Where the five bytes `site_bytes`, lying at `site`, call a resident jump (made by any copy of
// the module) that no loaded module uses: the bytes the site held before it was first patched,
// which that call stands for. Null for anything else.
const std::uint8_t* unused_resident_original(const std::uint8_t (&site_bytes)[5],
                                             std::uintptr_t site) noexcept;

// Where the five bytes `site_bytes`, lying at `site`, call a resident jump (made by any copy of
// the module, in use or not), whose own bytes may call another, and so on: the bytes the site
// held before the first of them was laid, which the call stands for. Null where they call none.
const std::uint8_t* resident_original(const std::uint8_t (&site_bytes)[5],
                                      std::uintptr_t site) noexcept;

} // namespace injector
