// Start-up of the aiming plug-in: everything the module does at load.
#pragma once

namespace plugin {

// Redirects the host's aim-camera call to aim_weapon_hook (keeping the five bytes it replaces,
// put back at unload), reads the settings file once and registers the per-frame handler.
// Expects create_weapon_offset_list to have run. Never throws.
void start_aiming_plugin() noexcept;

} // namespace plugin
