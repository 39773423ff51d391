// What corvane-check's tests share: a fresh folder per test, answers for the checker's questions
// about its surroundings, and small Windows programs written byte by byte.
#pragma once

#include "tools/check/files/surroundings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace check_test {

namespace fs = std::filesystem;

// A folder of its own for each test, removed afterwards.
class test_folder : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `content` byte for byte to `name` in the folder (folders on the way are made).
    std::string write(const std::string& content, const std::string& name = "aimingSets.dat");
    std::string read(const std::string& path) const;

    fs::path dir_;
};

// While it lives, the checker believes it lies in `folder` with `programs` programs on its
// console, reading its input from that console or not, and counts the times it waits for Enter.
class pretend_surroundings {
  public:
    explicit pretend_surroundings(std::string folder, unsigned programs = 2,
                                  bool console_input = true);
    ~pretend_surroundings();
    pretend_surroundings(const pretend_surroundings&) = delete;
    pretend_surroundings& operator=(const pretend_surroundings&) = delete;

    int waits() const;
    // The disk is full once a new file holds `bytes` bytes.
    void fill_disk_after(std::size_t bytes);
};

// Section flags of a Windows program.
inline constexpr std::uint32_t code_section = 0x60000020;   // code, read and execute
inline constexpr std::uint32_t data_section = 0xC0000040;   // data, read and write
inline constexpr std::uint32_t rewritten_code = 0xE0000020; // code that may write itself

// Four-byte values at the game's build probes.
inline constexpr std::uint32_t value_1001 = 0x53EC8B55; // 55 8B EC 53
inline constexpr std::uint32_t value_1002 = 0x16197BE9; // E9 7B 19 16
inline constexpr std::uint32_t value_11xx = 0x000094BF; // BF 94 00 00
inline constexpr std::uint32_t value_32xx = 0x3539F633; // 33 F6 39 35
inline constexpr std::uint32_t other_code = 0xEC8B55FF; // a prologue no known build has there

// One section of a test program: where it lies in memory (relative to the base), how many of
// its bytes the file holds, and four-byte values placed at host addresses inside it.
struct test_section {
    std::uint32_t address;
    std::uint32_t memory_size;
    std::uint32_t file_size;
    std::uint32_t flags = code_section;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> values = {};
};

struct test_program {
    std::vector<test_section> sections;
    std::uint16_t machine = 0x14C;        // i386
    std::uint16_t optional_magic = 0x10B; // 32-bit
    std::size_t cut_to = 0;               // 0: the whole file
    // Whether the program may be placed anywhere (its header's dynamic-base flag), and the size
    // of its relocations (0: none), which Windows needs to move it.
    bool dynamic_base = false;
    std::uint32_t relocations_size = 0;
};

// Little-endian `value` at `at`, growing `bytes` as needed.
void put(std::string& bytes, std::size_t at, std::uint32_t value, int size = 4);

// A minimal Windows program: DOS header, program header, section table at 0x178, then each
// section's file bytes from 0x400 on, in 0x200 steps, so no section's file offset equals its
// address.
std::string program_bytes(const test_program& program);

// The game's code section with `value` at 0x401000.
test_section code_with(std::uint32_t value, std::uint32_t flags = code_section);

// Whether python3 runs here: the tests that read a report back as JSON or XML need it (./dev
// installs it).
bool have_python();

} // namespace check_test
