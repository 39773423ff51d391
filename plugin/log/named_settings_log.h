// What the named lines of aimingSets.dat set, told to corvane.log.
//
// The first load that reads the file tells the keys, the gamepad button, the swing and the factor
// in effect where they differ from the defaults; later loads tell each change. A named line that
// sets nothing is named once, and again only after the file changed it. With the log closed,
// every call returns at once; nothing here allocates.
#pragma once

#include "plugin/settings/named_settings.h"

namespace plugin {

// Around the named lines of one load that read the file.
void log_named_load_begins() noexcept;
// One named line as the load read it (`text` as read).
void log_named_line(const named_line& read, const char* text) noexcept;
// What the load's named lines set, all of them read.
void log_named_load_ends(const named_values& now) noexcept;

// No gamepad library could be loaded: pad_toggle does nothing. Said once.
void log_gamepad_library_missing() noexcept;

// Forgets every earlier load, as a fresh load of the module does. For test programs only.
void forget_named_settings_log() noexcept;

} // namespace plugin
