#include "plugin/log/code_bytes.h"

#include <cstdio>

namespace plugin {

bytes_text text_of_bytes(std::span<const std::uint8_t> bytes) noexcept {
    bytes_text out{};
    std::size_t used = 0;
    for (std::size_t i = 0; i < bytes.size() && used + 3 < sizeof out.text; ++i)
        used += static_cast<std::size_t>(
            std::snprintf(out.text + used, sizeof out.text - used, i ? " %02X" : "%02X", bytes[i]));
    return out;
}

} // namespace plugin
