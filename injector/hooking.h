// Restorable patches and chained call hooks.
//
// A patch keeps the bytes it replaced and puts them back when it is undone or destroyed. On top
// of that, a call site may carry several independent hooks at once: the first hook redirects the
// site's CALL to a trampoline, every execution runs the hooks newest first, ending in the
// function the site called before, and the site gets its bytes back when the last hook goes.
#pragma once

#include "injector/branch.h"
#include "injector/host_address.h"
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

// How many threads of the game run a site trampoline (and the hooks it runs) at this moment:
// unloading waits for them to leave before it frees what they use.
inline std::atomic<int> threads_in_trampolines{0};

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

// What one execution of a hooked site learned of the host function: whether it ran, and what it
// returned, so that a failing hook after `next` still hands the host its result.
template <class R> struct host_call_record {
    bool ran = false;
    R result{};
    template <class F, class... A> R call(F&& f, A&&... args) {
        result = f(std::forward<A>(args)...);
        ran = true;
        return result;
    }
    R fallback() const { return result; }
};
template <> struct host_call_record<void> {
    bool ran = false;
    template <class F, class... A> void call(F&& f, A&&... args) {
        f(std::forward<A>(args)...);
        ran = true;
    }
    void fallback() const {}
};

// One registration of one hook on a call site. The site, its patch kind and the hooked call's
// type are template parameters, so every site has its own manager, trampoline and hookers.
template <class patch_kind, std::uintptr_t site_address, class function_pointer, class R,
          class... Args>
class function_hooker_base : public scoped_base {
  public:
    static constexpr std::uintptr_t call_site_address = site_address;
    using result_type = R;
    using next_type = std::function<R(Args...)>;
    using hook_type = std::function<R(next_type, Args...)>;
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

    // What the site's CALL is redirected to. Runs the hooks; no exception reaches the host,
    // and whatever happens the host function runs exactly once unless a hook chose to skip it.
    static R site_trampoline(Args... args) noexcept;

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
// function_hooker<scoped_call, 0x53E981, void*()>.
template <class patch_kind, std::uintptr_t site_address, class function_type> class function_hooker;

template <class patch_kind, std::uintptr_t site_address, class R, class... Args>
class function_hooker<patch_kind, site_address, R(Args...)>
    : public function_hooker_base<patch_kind, site_address, R (*)(Args...), R, Args...> {
    using base = function_hooker_base<patch_kind, site_address, R (*)(Args...), R, Args...>;

  public:
    using typename base::hook_type;
    using typename base::next_type;

    function_hooker() = default;
    function_hooker(const function_hooker&) = default;
    function_hooker& operator=(const function_hooker&) = delete;

    // Registers `hook` (or replaces this hooker's earlier one in place) and patches the site
    // if it is not patched yet.
    patch_status install(hook_type hook) override {
        this->installed = true;
        return this->manager->attach(this, std::move(hook),
                                     reinterpret_cast<std::uintptr_t>(&base::site_trampoline));
    }
};

// Owns the hooks of one call site and the site's patch.
template <class patch_kind, class hooker_base, class R, class... Args>
class function_hooker_manager : protected patch_kind {
  public:
    using host_function_type = R (*)(Args...);
    using next_type = std::function<R(Args...)>;
    using hook_type = std::function<R(next_type, Args...)>;

    function_hooker_manager() = default;
    ~function_hooker_manager() override { hookers.clear(); }

    // Registers the hook, then patches the site on first use. A site from which no call
    // destination can be read is left untouched (`not_a_call`): a trampoline there would call
    // null. The hook stays registered either way. The host function (the patch's `previous`) is
    // known before the site is written: a thread of the host may run the site the moment the
    // CALL is whole.
    patch_status attach(const hooker_base* hooker, hook_type hook, std::uintptr_t trampoline) {
        put_hook(hooker, std::move(hook));
        if (site_patched) return patch_status::done;
        const patch_status status =
            patch_kind::attach(host_code_address(hooker_base::call_site_address), trampoline);
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

    // Takes `hooker`'s entry out; the last one goes with the site's bytes put back first, so
    // the game stops calling in before the list it would walk changes.
    patch_status remove(const hooker_base* hooker) noexcept {
        for (auto it = hookers.begin(); it != hookers.end(); ++it) {
            if (it->hooker != hooker) continue;
            if (hookers.size() == 1 && site_patched) return restore_bytes();
            hookers.erase(it);
            return patch_status::done;
        }
        return patch_status::done;
    }

    // Unpatches the site: writes the saved five bytes back, then drops every entry.
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
    host_function_type host_function_address() const noexcept {
        return reinterpret_cast<host_function_type>(patch_kind::previous());
    }

    // One execution of the site: the chain of hooks, newest first, ending in the host function.
    // With two or more hooks each runs on a copy taken for this execution, so state a hook
    // changes while it runs is not carried over. The copies live on the stack and every `next`
    // is a two-word closure, so up to eight hooks cost no allocation; a `next` is valid while
    // its hook runs.
    R run(host_call_record<R>& record, Args... args) {
        const call_host_function host{this, &record};
        if (hookers.empty()) return host(args...);
        if (hookers.size() == 1) return hookers.front().hook(next_type(host), args...);

        std::array<hook_type, 8> few;
        std::vector<hook_type> many;
        hook_type* copies = few.data();
        if (hookers.size() > few.size()) {
            many.resize(hookers.size());
            copies = many.data();
        }
        std::size_t count = 0;
        for (const auto& entry : hookers)
            copies[count++] = entry.hook;
        const chain links{copies, &host};
        return chain_link{&links, count}(args...);
    }

    R call_host(host_call_record<R>& record, Args... args) const {
        return record.call(host_function_address(), args...);
    }

  private:
    static constexpr std::size_t max_hookers = 0x4924923;

    struct entry {
        const hooker_base* hooker;
        hook_type hook;
    };

    // `next` at the end of the chain: calls the host function as the manager knows it now.
    struct call_host_function {
        function_hooker_manager* manager;
        host_call_record<R>* record;
        R operator()(Args... args) const {
            return record->call(manager->host_function_address(), args...);
        }
    };

    // The hooks of one execution, oldest first, and the end of the chain.
    struct chain {
        const hook_type* hooks;
        const call_host_function* host;
    };

    // `next` in the middle of the chain: runs the hook below `below` (the newest of the rest),
    // handing it a fresh `next` for what lies under it; under the oldest lies the host function.
    struct chain_link {
        const chain* links;
        std::size_t below;
        R operator()(Args... args) const {
            if (below == 0) return (*links->host)(args...);
            return links->hooks[below - 1](next_type(chain_link{links, below - 1}), args...);
        }
    };

    std::list<entry> hookers;
    bool site_patched = false;
};

template <class patch_kind, std::uintptr_t site_address, class function_pointer, class R,
          class... Args>
R function_hooker_base<patch_kind, site_address, function_pointer, R, Args...>::site_trampoline(
    Args... args) noexcept {
    struct counted {
        counted() noexcept { threads_in_trampolines.fetch_add(1); }
        ~counted() { threads_in_trampolines.fetch_sub(1); }
    } const inside;
    manager_type* site = nullptr;
    host_call_record<R> record;
    try {
        site = site_manager().get(); // the reference is dropped at once; the module holds one
        return site->run(record, args...);
    } catch (...) {
        // A failing hook must not take the host down: the host's own call still runs once.
        if (!record.ran && site) return site->call_host(record, args...);
        return record.fallback();
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
