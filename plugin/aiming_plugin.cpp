#include "plugin/aiming_plugin.h"

#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/host_address.h"
#include "injector/host_variant.h"
#include "injector/teardown.h"
#include "plugin/aim_hook.h"
#include "plugin/host.h"
#include "plugin/per_frame.h"
#include "plugin/settings.h"

namespace plugin {

namespace {

// The five bytes that stood at the aim call site, so that unloading never leaves the host
// calling into a module that is gone.
injector::scoped_call* aim_site_bytes = nullptr;

void restore_aim_call_site() noexcept {
    delete aim_site_bytes; // puts the bytes back
    aim_site_bytes = nullptr;
}

void redirect_aim_call(std::uintptr_t site) {
    aim_site_bytes = new injector::scoped_call();
    injector::register_teardown(&restore_aim_call_site);
    aim_site_bytes->save_bytes(reinterpret_cast<void*>(site), 5, true);
    injector::write_call(site, reinterpret_cast<std::uintptr_t>(&aim_weapon_hook));
}

} // namespace

void start_aiming_plugin() noexcept {
    try {
        const std::uintptr_t site = injector::translate_host_address(host_addresses::aim_call_site);
        injector::ensure_host_variant();
        redirect_aim_call(site);
        load_aiming_settings();
        register_per_frame_handler();
    } catch (...) {
        // Out of memory at load: whatever was set up stays consistent and is undone at unload.
    }
}

} // namespace plugin
