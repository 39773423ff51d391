// Restorable patches and chained call hooks.
//
// A patch keeps the bytes it replaced and puts them back when it is undone or destroyed. On top
// of that, a call site may carry several independent hooks at once: the first hook leads the
// site's CALL to resident code (injector/resident.h) that calls the function the site called
// before and, around it, the module's share, which runs each hook's part before that function,
// newest first, and each hook's part after it, oldest first. The site gets its bytes back when
// the last hook goes.
#pragma once

#include "injector/branch.h"
#include "injector/host_address.h"
#include "platform/os.h" // __cdecl on every compiler
#include "injector/protect.h"
#include "injector/teardown.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace injector {

// Reports a failed internal check ("size <= bufsize") without stopping the host. The report goes
// to the handler installed here (stderr by default); tests install their own to observe it.
using assertion_handler = void (*)(const char* expression, const char* file, int line);
assertion_handler set_assertion_handler(assertion_handler handler) noexcept;
void report_assertion(const char* expression, const char* file, int line) noexcept;

// Root of everything that keeps a patch and can undo it.
class scoped_base {
  public:
    virtual ~scoped_base() = default;
    virtual patch_status restore_bytes() = 0;
};

// Keeps up to `bufsize` bytes that a patch replaced, and puts them back on restore or
// destruction.
template <std::size_t bufsize> class scoped_basic : public scoped_base {
  public:
    scoped_basic() = default;
    scoped_basic(const scoped_basic&) = delete;
    scoped_basic& operator=(const scoped_basic&) = delete;

    // Runs this class's own restore, not a derived override: a derived part is gone by now.
    // Whoever needs to know how the restore went calls restore_bytes before this.
    ~scoped_basic() override { static_cast<void>(scoped_basic::restore_bytes()); }

    // Puts the kept bytes back, if any are held; nothing held is `done`, and so is a range that
    // holds them still (a patch whose write was refused): it is left alone. Where five bytes are
    // put back over an instruction with the same first byte (a CALL whose target was changed),
    // only the four after it are written, in one store.
    patch_status restore_bytes() override {
        if (!holds_bytes) return patch_status::done;
        holds_bytes = false;
        // Code is readable as it stands.
        auto* const bytes = static_cast<std::uint8_t*>(address);
        std::uint32_t same = 0;
        while (same < size && bytes[same] == kept_bytes[same])
            ++same;
        if (same == size) return patch_status::done;
        const std::uint32_t skip = size == 5 && same != 0;
        return protected_write(bytes + skip, kept_bytes + skip, size - skip, unprotect);
    }

    // Puts back what was kept before (through the virtual table, so an override runs), then
    // keeps the `size` bytes at `address`. A size above bufsize is reported and keeps nothing.
    virtual patch_status save_bytes(void* address_, std::uint32_t size_, bool unprotect_) {
        const bool fits = size_ <= bufsize;
        // The report names the check as it has always been reported, whatever line it sits on.
        if (!fits) report_assertion("size <= bufsize", "injector/hooking", 83);
        const patch_status restored = this->restore_bytes();
        if (!fits) return worse(restored, patch_status::too_large);
        holds_bytes = true;
        address = address_;
        unprotect = unprotect_;
        size = size_;
        return worse(restored, protected_read(address, kept_bytes, size, unprotect));
    }

    // The bytes kept by the last save_bytes (still readable after they were put back).
    std::span<const std::uint8_t> kept() const noexcept { return {kept_bytes, size}; }

  protected:
    std::uint8_t kept_bytes[bufsize] = {};
    void* address = nullptr;
    std::uint32_t size = 0;
    bool holds_bytes = false;
    bool unprotect = false;
};

// A restorable patch of one 5-byte CALL that leads straight to its target.
class scoped_call : public scoped_basic<5> {
  public:
    // Keeps the five bytes at `site` and makes its CALL lead to `target`. `previous` is known
    // before the site can reach the target. A site with nothing to call is left as it is
    // (`not_a_call`).
    patch_status attach(std::uintptr_t site, std::uintptr_t target) {
        const std::uintptr_t before = read_branch_target(site);
        if (before == 0) return patch_status::not_a_call;
        previous_ = before;
        const patch_status saved = save_bytes(reinterpret_cast<void*>(site), 5, true);
        return worse(saved, write_call(site, target).status);
    }
    // What the site called before attach.
    std::uintptr_t previous() const noexcept { return previous_; }

  private:
    std::uintptr_t previous_ = 0;
};

template <class patch_kind, class hooker_base, class R, class... Args>
class function_hooker_manager;

// What one hook runs around the hooked call: `before` ahead of the function the site called,
// `after` once it has returned; either may be empty. Neither sees the call's result nor can skip
// the call: the resident code makes it itself, so that the module is never on a game thread's
// stack while the game's own function (or another plug-in's) runs.
struct call_hook {
    std::function<void()> before;
    std::function<void()> after;
};

// One registration of one hook on a call site. The site, its patch kind and the hooked call's
// type are template parameters, so every site has its own manager, share and hookers. The patch
// kind leads the site to resident code that calls the hooked function itself and the site's
// share around it (injector::resident_call, whose default kind wraps a call this way).
template <class patch_kind, std::uintptr_t site_address, class function_pointer, class R,
          class... Args>
class function_hooker_base : public scoped_base {
    static_assert(sizeof...(Args) == 0,
                  "the resident code calls the hooked function without stack arguments");

  public:
    static constexpr std::uintptr_t call_site_address = site_address;
    using result_type = R;
    using hook_type = call_hook;
    using manager_type = function_hooker_manager<patch_kind, function_hooker_base, R, Args...>;

    function_hooker_base() : manager(site_manager()) {}

    // The deliberate copy: the copy takes over the source's registration, which moves to the
    // end of the list (the newest). Destroying the source afterwards leaves the site alone.
    function_hooker_base(const function_hooker_base& source)
        : installed(source.installed), manager(source.manager) {
        manager->transfer(&source, this);
    }
    function_hooker_base& operator=(const function_hooker_base&) = delete;

    ~function_hooker_base() override { static_cast<void>(remove_registration()); }

    // Takes this hooker's hook off the site; the last one to go unpatches the site, and the
    // result then tells how putting the site's bytes back went.
    patch_status restore_bytes() override { return remove_registration(); }

    // Registers `hook` for this hooker and patches the site if it is not patched yet; the
    // result tells how patching went (`done` when the site was patched already).
    virtual patch_status install(hook_type hook) = 0;

    bool is_installed() const noexcept { return installed; }

    // The site's single manager, created on first use; the module holds one reference to it
    // until unload.
    static std::shared_ptr<manager_type> site_manager() {
        if (!module_reference) {
            // Not make_shared: without run-time type information it links the runtime's
            // shared_ptr support file whole, some 4.5 KB of the DLL, for one allocation less.
            auto* created = new std::shared_ptr<manager_type>(new manager_type());
            module_reference = created;
            register_teardown(&drop_module_reference);
        }
        return *module_reference;
    }

    // The site's share, which the resident code calls before the hooked function (phase 0) and
    // after it (phase 1): runs the hooks' parts of that phase. No exception reaches the game; a
    // hook that fails ends its phase, and the game's function runs all the same.
    static void __cdecl site_share(std::uint32_t phase) noexcept;

  protected:
    bool installed = false;
    std::shared_ptr<manager_type> manager;

  private:
    patch_status remove_registration() noexcept {
        installed = false;
        return manager ? manager->remove(this) : patch_status::done;
    }

    static void drop_module_reference() noexcept {
        auto* reference = module_reference;
        module_reference = nullptr;
        delete reference;
    }

    static inline std::shared_ptr<manager_type>* module_reference = nullptr;
};

// The hooker for one call site and one hooked call type, e.g.
// function_hooker<resident_call, 0x53E981, void*()>.
template <class patch_kind, std::uintptr_t site_address, class function_type> class function_hooker;

template <class patch_kind, std::uintptr_t site_address, class R, class... Args>
class function_hooker<patch_kind, site_address, R(Args...)>
    : public function_hooker_base<patch_kind, site_address, R (*)(Args...), R, Args...> {
    using base = function_hooker_base<patch_kind, site_address, R (*)(Args...), R, Args...>;

  public:
    using typename base::hook_type;

    function_hooker() = default;
    function_hooker(const function_hooker&) = default;
    function_hooker& operator=(const function_hooker&) = delete;

    // Registers `hook` (or replaces this hooker's earlier one in place) and patches the site
    // if it is not patched yet.
    patch_status install(hook_type hook) override {
        this->installed = true;
        return this->manager->attach(this, std::move(hook),
                                     reinterpret_cast<std::uintptr_t>(&base::site_share));
    }
};

// Owns the hooks of one call site and the site's patch.
template <class patch_kind, class hooker_base, class R, class... Args>
class function_hooker_manager : protected patch_kind {
  public:
    using host_function_type = R (*)(Args...);
    using hook_type = call_hook;

    function_hooker_manager() = default;
    ~function_hooker_manager() override { hookers.clear(); }

    // Registers the hook, then patches the site on first use. A site that holds no plain CALL
    // is left untouched (`not_a_call`). The hook stays registered either way. The function the
    // resident code calls (the patch's `previous`) is known before the site is written: a
    // thread of the game may run the site the moment the CALL is whole.
    patch_status attach(const hooker_base* hooker, hook_type hook, std::uintptr_t share) {
        put_hook(hooker, std::move(hook));
        if (site_patched) return patch_status::done;
        const patch_status status =
            patch_kind::attach(host_code_address(hooker_base::call_site_address), share);
        site_patched = was_made(status);
        return status;
    }

    // Adds an entry for `hooker`, or replaces its hook in place.
    void put_hook(const hooker_base* hooker, hook_type hook) {
        for (auto& entry : hookers) {
            if (entry.hooker == hooker) {
                entry.hook = std::move(hook);
                return;
            }
        }
        if (hookers.size() >= max_hookers) throw std::length_error("list<T> too long");
        hookers.push_back({hooker, std::move(hook)});
    }

    // Moves `from`'s entry to `to` (appended at the end unless `to` has one already).
    void transfer(const hooker_base* from, const hooker_base* to) {
        for (auto it = hookers.begin(); it != hookers.end(); ++it) {
            if (it->hooker != from) continue;
            hook_type hook = std::move(it->hook);
            hookers.erase(it);
            put_hook(to, std::move(hook));
            return;
        }
    }

    // Takes `hooker`'s entry out; the last one goes with the site first led home, the threads
    // inside its hooks waited for and its bytes put back, so no thread of the game walks the
    // list while it changes.
    patch_status remove(const hooker_base* hooker) noexcept {
        for (auto it = hookers.begin(); it != hookers.end(); ++it) {
            if (it->hooker != hooker) continue;
            if (hookers.size() == 1 && site_patched) return restore_bytes();
            hookers.erase(it);
            return patch_status::done;
        }
        return patch_status::done;
    }

    // Unpatches the site: leads it home, waits for the threads inside the hooks, writes the saved
    // five bytes back, then drops every entry.
    patch_status restore_bytes() override {
        if (!site_patched) return patch_status::done;
        site_patched = false;
        const patch_status status = patch_kind::restore_bytes();
        hookers.clear();
        return status;
    }

    bool is_site_patched() const noexcept { return site_patched; }
    // The five bytes the site held before it was patched.
    std::span<const std::uint8_t> kept_site_bytes() const noexcept { return patch_kind::kept(); }
    std::size_t hook_count() const noexcept { return hookers.size(); }
    // What the resident code calls: what the site called before it was patched.
    host_function_type host_function_address() const noexcept {
        return reinterpret_cast<host_function_type>(patch_kind::previous());
    }

    // One phase of one execution of the site: before the hooked function (0), each hook's
    // `before`, newest first; after it (1), each hook's `after`, oldest first. So a hook added
    // later runs outside the ones before it, as if it wrapped them. With two or more hooks each
    // runs on a copy taken for this execution, so state a hook changes while it runs is not
    // carried over; up to eight copies live on the stack.
    void run(std::uint32_t phase) {
        if (hookers.empty()) return;
        auto part = [phase](const entry& e) -> const std::function<void()>& {
            return phase == 0 ? e.hook.before : e.hook.after;
        };
        if (hookers.size() == 1) {
            if (const auto& only = part(hookers.front())) only();
            return;
        }
        std::array<std::function<void()>, 8> few;
        std::vector<std::function<void()>> many;
        std::function<void()>* copies = few.data();
        if (hookers.size() > few.size()) {
            many.resize(hookers.size());
            copies = many.data();
        }
        std::size_t count = 0;
        if (phase == 0) {
            for (auto it = hookers.rbegin(); it != hookers.rend(); ++it)
                copies[count++] = part(*it);
        } else {
            for (const auto& e : hookers)
                copies[count++] = part(e);
        }
        for (std::size_t i = 0; i < count; ++i)
            if (copies[i]) copies[i]();
    }

  private:
    static constexpr std::size_t max_hookers = 0x4924923;

    struct entry {
        const hooker_base* hooker;
        hook_type hook;
    };

    std::list<entry> hookers;
    bool site_patched = false;
};

template <class patch_kind, std::uintptr_t site_address, class function_pointer, class R,
          class... Args>
void function_hooker_base<patch_kind, site_address, function_pointer, R, Args...>::site_share(
    std::uint32_t phase) noexcept {
    try {
        // The module's own reference, read without taking one more: it is dropped only at
        // unload, once the resident code leads home and no thread is inside this share.
        if (module_reference) (*module_reference)->run(phase);
    } catch (...) {
        // A failing hook must not take the game down: the resident code calls its function still.
    }
}

// Keeps a copy of `hooker`, and with it the hooker's registration, until the module unloads.
template <class hooker_type> hooker_type& retain_hooker(const hooker_type& hooker) {
    static std::list<hooker_type>* retained = nullptr;
    static constexpr std::size_t max_retained = 0xAAAAAA9;
    if (!retained) {
        retained = new std::list<hooker_type>();
        register_teardown([] {
            auto* list = retained;
            retained = nullptr;
            delete list;
        });
    }
    if (retained->size() >= max_retained) throw std::length_error("list<T> too long");
    return retained->emplace_back(hooker);
}

} // namespace injector
