// The native C library reads every file as bytes: there is no text mode to compare with.
#include "settings_bytes.h"

namespace test_text {

std::optional<std::string> c_runtime_text_mode(const std::string&) {
    return std::nullopt;
}

} // namespace test_text
