// UTF-16 text, as Windows spells paths (the OS seam hands them out so) and as "Unicode" text
// files are saved, and its UTF-8 form for writing a path where the player reads it. Pure text
// work, in both flavours, so that the module and the recording stand-in spell paths alike.
#pragma once

#include "platform/os.h"

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

// A path in UTF-8 for the log, held on the stack while a line is written: room for a whole path
// of max_path units (three bytes each at most: a surrogate pair takes four for two units).
class utf8_path {
  public:
    explicit utf8_path(const char16_t* path) noexcept {
        utf8_from_utf16(path, text_, sizeof text_);
    }
    const char* c_str() const noexcept { return text_; }

  private:
    char text_[3 * max_path + 1];
};

// A name of ASCII letters in UTF-16, made at compile time, so that a file's name is written once
// for both the paths and the words about it.
template <std::size_t size> struct utf16_name { char16_t text[size]; };
template <std::size_t size> constexpr utf16_name<size> utf16_from_ascii(const char (&ascii)[size]) {
    utf16_name<size> name{};
    for (std::size_t i = 0; i < size; ++i)
        name.text[i] = static_cast<char16_t>(ascii[i]);
    return name;
}

} // namespace os
