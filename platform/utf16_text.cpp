#include "platform/utf16_text.h"

#include <cstdint>

namespace os {

std::size_t utf8_from_utf16(const char16_t* text, char* out, std::size_t out_size) noexcept {
    std::size_t n = 0;
    for (const char16_t* p = text; *p != u'\0'; ++p) {
        std::uint32_t c = *p;
        if (is_high_surrogate(c) && is_low_surrogate(p[1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(p[1]) - 0xDC00);
            ++p;
        } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
            c = 0xFFFD;
        }
        const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (n + length >= out_size) break;
        if (length == 1) {
            out[n++] = static_cast<char>(c);
            continue;
        }
        // The lead byte carries the length in its high bits, each continuation byte six bits.
        static constexpr unsigned char lead_marks[] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (std::size_t i = length - 1; i > 0; --i) {
            out[n + i] = static_cast<char>(0x80 | (c & 0x3F));
            c >>= 6;
        }
        out[n] = static_cast<char>(lead_marks[length] | c);
        n += length;
    }
    out[n] = '\0';
    return n;
}

} // namespace os
