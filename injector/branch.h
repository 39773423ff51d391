// Reading where a branch instruction leads, and writing a relative CALL.
//
// The instruction bytes live here and nowhere else: the forms E8 / E9 (relative CALL / JMP) and
// FF 15 / FF 25 (CALL / JMP through a pointer cell), and the rel32 arithmetic. Each access to an
// instruction's own bytes is a separate protected access; a pointer cell is read plainly.
#pragma once

#include "injector/protect.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace injector {

// The rel32 of a 5-byte relative branch at `site` that lands on `target` (32-bit wrap-around).
std::uint32_t relative_displacement(std::uintptr_t site, std::uintptr_t target) noexcept;

// Where the branch at `address` leads: E8 and E9 relative, FF 15 and FF 25 through their
// pointer cell. Null for any other instruction.
std::uintptr_t read_branch_target(std::uintptr_t address) noexcept;

// The opcode of a 5-byte relative CALL.
inline constexpr std::uint8_t call_rel32_opcode = 0xE8;

// Where a 5-byte relative branch at `site` with displacement `rel32` lands (32-bit wrap-around).
inline std::uintptr_t rel32_target(std::uintptr_t site, std::uint32_t rel32) noexcept {
    return static_cast<std::uint32_t>(site) + 5u + rel32;
}

// Where the five bytes `bytes`, lying at `site`, call: the target of a relative CALL (E8), or
// null when they are anything else. Decodes bytes already read (from the running game or from
// its executable on disk); touches no memory, so tools that read the game's program link it too.
inline std::uintptr_t relative_call_target(const std::uint8_t (&bytes)[5],
                                           std::uintptr_t site) noexcept {
    if (bytes[0] != call_rel32_opcode) return 0;
    std::uint32_t rel32;
    std::memcpy(&rel32, bytes + 1, sizeof rel32);
    return rel32_target(site, rel32);
}

// The five bytes of a relative CALL (E8) at `site` that lands on `target`.
std::array<std::uint8_t, 5> relative_call(std::uintptr_t site, std::uintptr_t target) noexcept;

// The six bytes of a JMP through the pointer cell at `cell` (FF 25 and the cell's address).
std::array<std::uint8_t, 6> indirect_jump(std::uintptr_t cell) noexcept;

// The six bytes of a CALL through the pointer cell at `cell` (FF 15 and the cell's address).
std::array<std::uint8_t, 6> indirect_call(std::uintptr_t cell) noexcept;

// What write_call did: where the site led before, and how the write went.
struct [[nodiscard]] call_write {
    std::uintptr_t previous; // as read_branch_target gave it before the write
    patch_status status;
};

// Writes a 5-byte CALL to `target` at `site` and returns where the site led before. Where the
// site is a CALL already only the displacement is written, in one store; elsewhere the five
// bytes, in one access. The write is followed by an instruction-cache flush; where Windows
// refuses to lift the protection nothing is written (`refused`).
call_write write_call(std::uintptr_t site, std::uintptr_t target) noexcept;

} // namespace injector
