// The module's only two static objects, linked into the DLL alone. Loading the DLL constructs
// them in this order; unloading destroys them in reverse. Test programs call the same functions
// themselves instead.
#include "injector/resident.h"
#include "injector/teardown.h"
#include "plugin/aiming_plugin.h"
#include "plugin/settings/weapon_offsets.h"

// Frees what the statically linked C++ runtime keeps for the life of the module (its emergency
// exception buffer). Defined by the runtime, declared by no header.
namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// Whether Windows ends the process as the module goes: its other threads are gone by then.
bool process_exiting = false;

// The weapon offset list comes first, so it exists before start-up reads the settings. Its
// release is the first teardown registered, so it goes last: when this object is destroyed,
// every teardown registered after it (the per-frame hook, the event, the aim call site's saved
// bytes) runs first, newest first, and the list goes with the final one.
struct weapon_offset_list_holder {
    weapon_offset_list_holder() noexcept {
        try {
            plugin::create_weapon_offset_list();
        } catch (...) {
        }
    }
    ~weapon_offset_list_holder() {
        // Every site leads home at once and one deadline starts for the whole unload; at the
        // process's exit nothing waits and no code of the game is written.
        injector::begin_unload(process_exiting);
        injector::run_teardowns();
        // Last of all, or every load and unload in a running host would leave a few KiB behind.
        __gnu_cxx::__freeres();
    }
};

// The plug-in itself: its constructor is the whole start-up; it has nothing to tear down.
struct aiming_plugin_object {
    aiming_plugin_object() noexcept { plugin::start_aiming_plugin(); }
};

weapon_offset_list_holder weapon_offset_list;
aiming_plugin_object aiming_plugin;

} // namespace

// Windows says why the module goes (reserved is not null when the process ends); the runtime
// calls this before it runs the static destructors above.
extern "C" int __stdcall DllMain(void* module, unsigned long reason, void* reserved) {
    static_cast<void>(module);
    constexpr unsigned long process_detach = 0; // DLL_PROCESS_DETACH
    if (reason == process_detach) process_exiting = reserved != nullptr;
    return 1;
}
