// The starter file that `corvane-check --template` writes: the shipped aimingSets.dat itself,
// built in from the sources (see starter_file.h.in).
#include "tools/check/settings_check.h"

#include "tools/check/files/new_file.h"
#include "tools/check/files/starter_file.h"

#include <string_view>

namespace check {

namespace {

// The starter file as Windows editors write it: CR LF line ends and no byte-order mark.
std::string with_windows_line_ends(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

} // namespace

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

int write_starter_file(const std::string& path, std::string& out, std::string& err) {
    if (!write_new(path, with_windows_line_ends(settings_template()), new_file_kind::settings, err))
        return 2;
    out += "wrote a starter settings file to " + path + "\n";
    return 0;
}

} // namespace check
