#include "injector/branch.h"

#include "injector/protect.h"

namespace injector {

namespace {
constexpr std::uint8_t call_rel32 = call_rel32_opcode;
constexpr std::uint8_t jmp_rel32 = 0xE9;
constexpr std::uint8_t group_ff = 0xFF;
constexpr std::uint8_t call_indirect = 0x15; // FF 15: CALL [abs32]
constexpr std::uint8_t jmp_indirect = 0x25;  // FF 25: JMP [abs32]
} // namespace

std::uint32_t relative_displacement(std::uintptr_t site, std::uintptr_t target) noexcept {
    return static_cast<std::uint32_t>(target) - (static_cast<std::uint32_t>(site) + 5u);
}

std::uintptr_t read_branch_target(std::uintptr_t address) noexcept {
    const auto opcode = protected_read_value<std::uint8_t>(address);
    switch (opcode) {
    case call_rel32:
    case jmp_rel32:
        return rel32_target(address, protected_read_value<std::uint32_t>(address + 1));
    case group_ff: {
        const auto modrm = protected_read_value<std::uint8_t>(address + 1);
        if (modrm != call_indirect && modrm != jmp_indirect) return 0;
        const auto cell = protected_read_value<std::uint32_t>(address + 2);
        std::uint32_t destination;
        std::memcpy(&destination, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(cell)),
                    sizeof destination);
        return destination;
    }
    default:
        return 0;
    }
}

std::array<std::uint8_t, 5> relative_call(std::uintptr_t site, std::uintptr_t target) noexcept {
    std::array<std::uint8_t, 5> call = {call_rel32};
    const std::uint32_t rel32 = relative_displacement(site, target);
    std::memcpy(call.data() + 1, &rel32, sizeof rel32);
    return call;
}

namespace {
// FF 15 or FF 25 and the cell's address.
std::array<std::uint8_t, 6> through_cell(std::uint8_t modrm, std::uintptr_t cell) noexcept {
    std::array<std::uint8_t, 6> instruction = {group_ff, modrm};
    const auto address = static_cast<std::uint32_t>(cell);
    std::memcpy(instruction.data() + 2, &address, sizeof address);
    return instruction;
}
} // namespace

std::array<std::uint8_t, 6> indirect_jump(std::uintptr_t cell) noexcept {
    return through_cell(jmp_indirect, cell);
}

std::array<std::uint8_t, 6> indirect_call(std::uintptr_t cell) noexcept {
    return through_cell(call_indirect, cell);
}

call_write write_call(std::uintptr_t site, std::uintptr_t target) noexcept {
    const std::uintptr_t previous = read_branch_target(site);
    const auto call = relative_call(site, target);
    // Where the site is a CALL already, only its target changes, in one store of four bytes: a
    // thread of the game running the site meanwhile calls the old target or the new one.
    // Elsewhere all five bytes go in one access. Either way a refused protection change leaves
    // the site exactly as it was, never a CALL opcode in front of the old bytes.
    const std::uint32_t skip = *reinterpret_cast<const std::uint8_t*>(site) == call_rel32;
    return {previous, protected_write(reinterpret_cast<std::uint8_t*>(site) + skip,
                                      call.data() + skip, 5 - skip, true)};
}

} // namespace injector
