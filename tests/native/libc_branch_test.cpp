// The branch reader against a real disassembler, on code written by nobody here: every relative
// CALL and JMP that objdump lists in the loaded C library must lead, through read_branch_target
// at its loaded address, where objdump says it leads.
#include "injector/branch.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <link.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct loaded_library {
    std::string path;
    std::uintptr_t bias = 0; // loaded address minus the address in the file
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> code; // executable segments, loaded
};

int find_libc(dl_phdr_info* info, std::size_t, void* data) {
    const char* name = info->dlpi_name;
    const char* base = name ? std::strrchr(name, '/') : nullptr;
    if (!base || std::strncmp(base, "/libc.so", 8) != 0) return 0;
    auto& found = *static_cast<loaded_library*>(data);
    found.path = name;
    found.bias = info->dlpi_addr;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
        const std::uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        found.code.push_back({begin, begin + segment.p_memsz});
    }
    return 1;
}

bool inside(const loaded_library& lib, std::uintptr_t from, std::uintptr_t to) {
    for (const auto& [begin, end] : lib.code)
        if (from >= begin && to <= end) return true;
    return false;
}

// One line of `objdump -d -w`: "   2201b:\te9 e0 ff ff ff       \tjmp    22000 <name>".
struct relative_branch {
    std::uint32_t address;
    std::uint32_t destination;
};

bool parse_relative_branch(const char* line, relative_branch& out) {
    unsigned address, b[5], destination;
    char mnemonic[16];
    if (std::sscanf(line, " %x: %2x %2x %2x %2x %2x %15s %x", &address, &b[0], &b[1], &b[2], &b[3],
                    &b[4], mnemonic, &destination) != 8)
        return false;
    const bool call = b[0] == 0xE8 && std::strcmp(mnemonic, "call") == 0;
    const bool jmp = b[0] == 0xE9 && std::strcmp(mnemonic, "jmp") == 0;
    if (!call && !jmp) return false;
    out = {address, destination};
    return true;
}

TEST(BranchAgainstDisassembler, EveryRelativeCallAndJumpInTheCLibrary) {
    loaded_library libc;
    ASSERT_EQ(dl_iterate_phdr(&find_libc, &libc), 1) << "no libc.so among the loaded objects";
    ASSERT_FALSE(libc.code.empty());

    const std::string command = "objdump -d -w '" + libc.path + "' 2>/dev/null";
    FILE* listing = popen(command.c_str(), "r");
    ASSERT_NE(listing, nullptr) << command;

    os::stand_in::reset();
    std::size_t checked = 0, mismatched = 0;
    char line[1024];
    while (std::fgets(line, sizeof line, listing)) {
        relative_branch branch;
        if (!parse_relative_branch(line, branch)) continue;
        const std::uint32_t at = static_cast<std::uint32_t>(libc.bias) + branch.address;
        const std::uint32_t expected = static_cast<std::uint32_t>(libc.bias) + branch.destination;
        ASSERT_TRUE(inside(libc, at, at + 5)) << line;

        const std::uintptr_t got = injector::read_branch_target(at);
        ++checked;
        if (got != expected && ++mismatched <= 10)
            ADD_FAILURE() << std::hex << "at 0x" << at << " read 0x" << got
                          << ", objdump: " << line;
        if (os::stand_in::current().protect_calls.size() > 4096) os::stand_in::reset();
    }
    const int status = pclose(listing);
    os::stand_in::reset();

    EXPECT_EQ(status, 0) << command;
    EXPECT_EQ(mismatched, 0u) << "of " << checked;
    // Thousands in any i386 C library; a handful would mean the listing was not parsed.
    EXPECT_GT(checked, 1000u);
}

} // namespace
