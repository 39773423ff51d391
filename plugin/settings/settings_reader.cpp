#include "plugin/settings/settings_reader.h"

#include "platform/utf16_text.h"

#include <algorithm>
#include <cstring>

namespace plugin {

namespace {

constexpr unsigned char end_of_file_mark = 0x1A; // Ctrl-Z, the end of a text file for Windows
constexpr unsigned char outside_ascii = '?';

} // namespace

settings_reader::settings_reader(std::FILE* file) noexcept : file_(file) {}

settings_reader::settings_reader(const void* bytes, std::size_t size) noexcept
    : bytes_(static_cast<const unsigned char*>(bytes)), bytes_left_(size) {}

std::size_t settings_reader::pull(unsigned char* into, std::size_t size) noexcept {
    if (file_) {
        const std::size_t got = std::fread(into, 1, size, file_);
        if (got < size && std::ferror(file_)) failed_ = true;
        return got;
    }
    const std::size_t got = std::min(size, bytes_left_);
    if (got == 0) return 0;
    std::memcpy(into, bytes_, got);
    bytes_ += got;
    bytes_left_ -= got;
    return got;
}

bool settings_reader::begin() noexcept {
    if (begun_) return !failed_;
    begun_ = true;
    const std::size_t got = pull(chunk_, settings_chunk_size);
    std::size_t from = 0;
    if (got >= 2 && chunk_[0] == 0xFF && chunk_[1] == 0xFE) {
        encoding_ = settings_encoding::utf16_le;
        from = 2;
    } else if (got >= 2 && chunk_[0] == 0xFE && chunk_[1] == 0xFF) {
        encoding_ = settings_encoding::utf16_be;
        from = 2;
    }
    // fread comes back short only at the end of the file or on a failure.
    const bool source_ended = got < settings_chunk_size;
    ended_ = source_ended;
    text_end_ = decode(from, got, source_ended);
    return !failed_;
}

// Turns chunk_[from, to) into text at chunk_[0, ...) in place (text is never longer than the
// bytes it comes from) and returns its length. What cannot be decided yet, a CR or a high
// surrogate at the very end (its partner may come next) and an odd byte, is carried.
std::size_t settings_reader::decode(std::size_t from, std::size_t to, bool source_ended) noexcept {
    std::size_t out = 0;
    std::size_t i = from;
    if (encoding_ == settings_encoding::eight_bit) {
        for (; i < to; ++i) {
            const unsigned char byte = chunk_[i];
            if (byte == end_of_file_mark) {
                ended_ = true;
                break;
            }
            if (byte == '\r') {
                if (i + 1 < to) {
                    if (chunk_[i + 1] == '\n') continue; // CR LF reads as LF
                } else if (!source_ended) {
                    break;
                }
            }
            chunk_[out++] = byte;
        }
    } else {
        const bool little = encoding_ == settings_encoding::utf16_le;
        const auto unit = [&](std::size_t at) -> unsigned {
            const unsigned first = chunk_[at], second = chunk_[at + 1];
            return little ? first | second << 8 : first << 8 | second;
        };
        while (to - i >= 2) {
            const unsigned u = unit(i);
            const bool next_is_whole = to - i >= 4;
            if (!next_is_whole && !source_ended && (u == '\r' || os::is_high_surrogate(u))) break;
            std::size_t step = 2;
            unsigned char c = outside_ascii;
            if (u < 0x80) {
                if (u == end_of_file_mark) {
                    ended_ = true;
                    break;
                }
                if (u == '\r' && next_is_whole && unit(i + 2) == '\n') {
                    i += 2; // CR LF reads as LF
                    continue;
                }
                c = static_cast<unsigned char>(u);
            } else if (os::is_high_surrogate(u) && next_is_whole &&
                       os::is_low_surrogate(unit(i + 2))) {
                step = 4; // a surrogate pair is one character
            }
            chunk_[out++] = c;
            i += step;
        }
    }
    carry_at_ = i;
    carry_end_ = ended_ ? i : to; // an odd last byte is dropped with the rest at the end
    return out;
}

// Makes decoded text available at text_at_; false once the file has no more.
bool settings_reader::next_text() noexcept {
    if (!begun_) begin();
    while (text_at_ == text_end_) {
        if (ended_) return false;
        // The carried bytes move to the front, and more of the file follows them.
        const std::size_t carried = carry_end_ - carry_at_;
        std::memmove(chunk_, chunk_ + carry_at_, carried);
        const std::size_t room = settings_chunk_size - carried;
        const std::size_t got = pull(chunk_ + carried, room);
        const bool source_ended = got < room;
        ended_ = source_ended;
        text_at_ = 0;
        text_end_ = decode(0, carried + got, source_ended);
    }
    return true;
}

int settings_reader::next_character() noexcept {
    return next_text() ? chunk_[text_at_++] : -1;
}

line_read settings_reader::read_line(char* buffer) noexcept {
    if (!next_text()) return line_read::absent;
    constexpr std::size_t room = line_buffer_size - 1;
    std::size_t n = 0;
    for (;;) {
        const unsigned char* const start = chunk_ + text_at_;
        const std::size_t available = std::min(text_end_ - text_at_, room - n);
        const auto* const newline =
            static_cast<const unsigned char*>(std::memchr(start, '\n', available));
        const std::size_t take =
            newline ? static_cast<std::size_t>(newline - start) + 1 : available;
        std::memcpy(buffer + n, start, take);
        n += take;
        text_at_ += take;
        if (newline) break;
        if (n == room) {
            // 511 characters and no newline yet: unless the line or the file ends right here,
            // the rest of this line is dropped.
            int c = next_character();
            if (c == -1 || c == '\n') break;
            while (c != -1 && c != '\n')
                c = next_character();
            buffer[n] = '\0';
            last_length_ = n;
            return line_read::overlong;
        }
        if (!next_text()) break;
    }
    buffer[n] = '\0';
    last_length_ = n;
    return line_read::read;
}

} // namespace plugin
