// Applying the settings file "aimingSets.dat" to the game and the module: reading the file beside
// the module and storing each line's values at once, in line order.
#pragma once

#include "plugin/settings/settings_reader.h"

namespace plugin {

// Fills aim_row_table (plugin/settings/file_values.h) from the game's own rows (left as it is
// where the game has no readable rows). Start-up calls it once, before the first load.
void take_game_aim_rows() noexcept;

// Reads the whole file and applies it line by line. A file that cannot be opened or read
// changes nothing; lines past its end set nothing. Never throws.
void load_aiming_settings() noexcept;

// Reads the settings through `reader` (the body of load_aiming_settings).
void load_aiming_settings_from(settings_reader& reader);

// Forgets the module directory and resets what a load left. For test programs only.
void forget_settings_state() noexcept;

} // namespace plugin
