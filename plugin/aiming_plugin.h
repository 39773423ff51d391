// Start-up of the aiming plug-in: everything the module does at load.
#pragma once

namespace plugin {

// On a build other than 1001 and 1002 whose aim call is not the one corvane knows, changes
// nothing and logs why. Otherwise redirects the host's aim-camera call to aim_weapon_hook
// (keeping the five bytes it replaces, put back at unload), logs the game's own values, reads
// the settings file once and registers the per-frame handler. Last, marks start-up finished.
// Expects create_weapon_offset_list to have run. Never throws.
void start_aiming_plugin() noexcept;

} // namespace plugin
