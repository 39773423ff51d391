#include "settings_bytes.h"

#include <cstdint>
#include <stdexcept>

namespace test_text {

std::u16string utf16_from_utf8(const std::string& text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + length > text.size()) throw std::invalid_argument("cut UTF-8 in a test text");
        std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (c < 0x10000) {
            units += static_cast<char16_t>(c);
        } else {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return units;
}

std::string utf16_file(const std::u16string& units, bool little_endian) {
    std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : units) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += little_endian ? low : high;
        bytes += little_endian ? high : low;
    }
    return bytes;
}

std::string spelled(const std::string& text, spelling how, const std::string& eol) {
    std::string with_eol;
    for (const char c : text)
        with_eol += c == '\n' ? eol : std::string(1, c);
    switch (how) {
    case spelling::eight_bit:
        return with_eol;
    case spelling::utf8_with_mark:
        return "\xEF\xBB\xBF" + with_eol;
    case spelling::utf16_le:
    case spelling::utf16_be:
        return utf16_file(utf16_from_utf8(with_eol), how == spelling::utf16_le);
    }
    return {};
}

std::FILE* binary_file(const std::string& bytes) {
    std::FILE* const file = std::tmpfile();
    if (!file) return nullptr;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);
    return file;
}

} // namespace test_text
