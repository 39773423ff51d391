// Reading a settings file line by line in whatever encoding a Windows editor saved it.
//
// The one reader the module, corvane-check and the fuzz targets share, so that all of them see
// the same lines. It takes the file's bytes as they are on disk (a file opened in binary mode, or
// bytes in memory) and does the text-mode work itself:
//
// - A file without a UTF-16 byte-order mark reads byte for byte as the C runtime's text mode reads
//   it on Windows: CR LF becomes LF, a lone CR stays, a byte 0x1A ends the file. Any other byte,
//   a UTF-8 byte-order mark included, is part of the text.
// - A file that starts with FF FE (UTF-16 little-endian) or FE FF (big-endian) reads as the text it
//   holds, with the same rules for CR LF, CR and 0x1A. A character outside ASCII (a surrogate pair
//   is one character) reads as the single byte '?', which is neither blank nor part of a number.
//   An odd last byte is dropped.
//
// Lines are then cut as read_line says. Nothing is allocated: the reader holds one chunk of the
// file at a time in a fixed buffer, so a reader on the stack serves a load that runs every frame.
#pragma once

#include "plugin/settings/settings_parser.h"

#include <cstddef>
#include <cstdio>

namespace plugin {

// How the file's bytes spell its text.
enum class settings_encoding { eight_bit, utf16_le, utf16_be };

// The bytes read from the file at a time; a test can place a case at a chunk's edge with it.
inline constexpr std::size_t settings_chunk_size = 4096;

// Why it exists: one object that turns a file's bytes into the module's lines, so that no caller
// reads a settings file any other way.
class settings_reader {
  public:
    // Reads `file`, which must be open in binary mode; the caller closes it afterwards.
    explicit settings_reader(std::FILE* file) noexcept;
    // Reads `size` bytes at `bytes`, which must stay valid while the reader is used.
    settings_reader(const void* bytes, std::size_t size) noexcept;
    settings_reader(const settings_reader&) = delete;
    settings_reader& operator=(const settings_reader&) = delete;

    // Reads the start of the file and tells its encoding. read_line does this itself the first
    // time; calling it first lets a caller tell an unreadable file (false) from an empty one.
    bool begin() noexcept;
    settings_encoding encoding() const noexcept { return encoding_; }
    // Whether reading the file failed (the file then ends where the failure happened).
    bool failed() const noexcept { return failed_; }

    // Reads one line of at most 511 characters into `buffer` (512 bytes), newline kept. A longer
    // line is consumed whole so that later lines keep their positions; only its first 511
    // characters are kept, and a line of exactly 511 characters reads whole, its newline
    // consumed but not kept. `absent` once the file has ended (the buffer is then left as it
    // was). The text may hold NUL bytes: the parser then sees the line up to the first of them.
    line_read read_line(char* buffer) noexcept;

    // The bytes the last line read put into the buffer, NUL bytes and newline included (the
    // parser sees only up to the first NUL; corvane-check tells a file that is not text by them).
    std::size_t last_length() const noexcept { return last_length_; }

  private:
    bool next_text() noexcept;
    std::size_t pull(unsigned char* into, std::size_t size) noexcept;
    std::size_t decode(std::size_t from, std::size_t to, bool source_ended) noexcept;
    int next_character() noexcept;

    std::FILE* file_ = nullptr;
    const unsigned char* bytes_ = nullptr; // the memory source, or null
    std::size_t bytes_left_ = 0;
    settings_encoding encoding_ = settings_encoding::eight_bit;
    bool begun_ = false;
    bool ended_ = false; // nothing more will be read: the source ended, failed, or held a 0x1A
    bool failed_ = false;
    std::size_t last_length_ = 0;
    // chunk_[0, text_end_) is decoded text, read from text_at_; chunk_[carry_at_, carry_end_)
    // holds the bytes of a character whose end, or whose following LF, is still to be read.
    std::size_t text_at_ = 0;
    std::size_t text_end_ = 0;
    std::size_t carry_at_ = 0;
    std::size_t carry_end_ = 0;
    unsigned char chunk_[settings_chunk_size];
};

} // namespace plugin
