#include "plugin/settings/number_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plugin {

float_text text_of(float value) noexcept {
    // The shortest text that reads back as the same float, as to_chars would give it; printf and
    // strtof are in the DLL anyway, to_chars' tables would double its size. A form without an
    // exponent wins when one of up to nine digits exists ("10", never "1e+01"): players copy
    // these numbers into their file.
    float_text out{};
    float_text with_exponent{};
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(out.text, sizeof out.text, "%.*g", digits, static_cast<double>(value));
        const float back = std::strtof(out.text, nullptr);
        if (std::memcmp(&back, &value, sizeof value) != 0 && value == value) continue;
        if (!std::strchr(out.text, 'e')) return out;
        if (!with_exponent.text[0]) with_exponent = out;
    }
    return with_exponent.text[0] ? with_exponent : out;
}

} // namespace plugin
