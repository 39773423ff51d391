// The starter file that `corvane-check --template` writes: the shipped aimingSets.dat itself,
// built in from the sources (see starter_file.h.in).
#include "tools/check/settings_check.h"

#include "tools/check/starter_file.h"

#include <string_view>

namespace check {

const char* settings_template() {
    return starter_file_text;
}

std::string starter_line(int line) {
    std::string_view text = starter_file_text;
    for (int i = 1; i < line && !text.empty(); ++i) {
        const std::size_t end = text.find('\n');
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return std::string(text.substr(0, text.find('\n')));
}

} // namespace check
