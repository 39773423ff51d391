#include "plugin/settings/file_values.h"

#include <cstring>

namespace plugin {

std::int32_t reload_each_frame = 0;
float aim_row_table[aim_row_count][row_value_count] = {};

void forget_file_values() noexcept {
    reload_each_frame = 0;
    std::memset(aim_row_table, 0, sizeof aim_row_table);
}

} // namespace plugin
