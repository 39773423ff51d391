// UTF-16 text, as Windows spells paths (the OS seam hands them out so) and as "Unicode" text
// files are saved, and its UTF-8 form for writing a path where the player reads it. Pure text
// work, in both flavours, so that the module and the recording stand-in spell paths alike.
#pragma once

#include <cstddef>

namespace os {

inline constexpr bool is_high_surrogate(unsigned unit) noexcept {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline constexpr bool is_low_surrogate(unsigned unit) noexcept {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Writes the NUL-terminated UTF-16 `text` as UTF-8 into `out` (`out_size` bytes, at least 1),
// always terminated. A character that does not fit whole is left out, and so is all that follows
// it; an unpaired surrogate becomes U+FFFD. Returns the bytes written, the terminator not counted.
std::size_t utf8_from_utf16(const char16_t* text, char* out, std::size_t out_size) noexcept;

} // namespace os
