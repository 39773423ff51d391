// What a load of the settings file leaves in the module besides the weapon list: line 1's reload
// flag and the aim rows of lines 11 to 14. The loader writes them; the per-frame work and the log
// read them.
#pragma once

#include "plugin/settings/settings_parser.h"

#include <cstdint>

namespace plugin {

// Set from line 1; non-zero makes the per-frame handler load the file again every frame.
extern std::int32_t reload_each_frame;
// Rows 0 to 3 from lines 11 to 14, copied into the host after line 14 of every load. Start-up
// fills it from the game's own rows first, so every value the file does not give keeps the
// game's, as lines 3 to 9 do.
extern float aim_row_table[aim_row_count][row_value_count];

// Sets both back to nothing read. For test programs only.
void forget_file_values() noexcept;

} // namespace plugin
