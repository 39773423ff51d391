// Settings files as bytes on disk, for the reader's tests: text spelled as an editor saves it,
// and what the C runtime's own text mode makes of a file where the runtime has one.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace test_text {

// How an editor saves a file.
enum class spelling { eight_bit, utf8_with_mark, utf16_le, utf16_be };

// UTF-16 code units of valid UTF-8 `text`.
std::u16string utf16_from_utf8(const std::string& text);

// The file's bytes: the byte-order mark, then the units in that order.
std::string utf16_file(const std::u16string& units, bool little_endian);

// `text` (UTF-8, lines ending in "\n") saved with that spelling and every "\n" spelled `eol`.
// eight_bit writes the bytes as they are, which is what an ANSI editor does for ASCII text.
std::string spelled(const std::string& text, spelling how, const std::string& eol);

// A temporary file holding `bytes`, opened for reading in binary mode at its start; closed and
// removed by fclose.
std::FILE* binary_file(const std::string& bytes);

// The text the C runtime's text mode ("r") reads from a file holding `bytes`; nothing where the
// runtime has no text mode (the native flavour).
std::optional<std::string> c_runtime_text_mode(const std::string& bytes);

} // namespace test_text
