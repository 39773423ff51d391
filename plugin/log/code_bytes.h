// Bytes of the game's code as a player quotes them when asking for help: "E8 66 9A FF FF".
// corvane.log and corvane-check both show them, formatted here once.
#pragma once

#include <cstdint>
#include <span>

namespace plugin {

// Up to five bytes, in hexadecimal, one blank between them.
struct bytes_text {
    char text[16];
};
bytes_text text_of_bytes(std::span<const std::uint8_t> bytes) noexcept;

} // namespace plugin
