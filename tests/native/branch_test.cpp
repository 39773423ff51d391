// Reading branch destinations and writing calls, on instruction bytes laid into the host image.
// The recording stand-in shows each protected access an operation makes (address and width).
#include "host_image.h"

#include "injector/branch.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using os::stand_in::protect_call;

constexpr std::uint32_t site = 0x700000;
// The pointer cell that FF 15 / FF 25 cases go through, and the value it holds.
constexpr std::uint32_t cell = 0x700100;
constexpr std::uint32_t cell_value = 0x00ABCDEF;

std::vector<std::uint8_t> le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::vector<std::uint8_t> op(std::vector<std::uint8_t> head, std::uint32_t tail) {
    for (auto b : le32(tail))
        head.push_back(b);
    return head;
}

// One protected access: offset from the site and width.
struct access {
    std::uint32_t offset;
    std::uint32_t size;
};

// Every access switches to 0x40 and back to what the stand-in reported (its default 0x20).
std::vector<protect_call> expected_calls(std::uint32_t at, const std::vector<access>& accesses) {
    std::vector<protect_call> out;
    for (const auto& a : accesses) {
        out.push_back({at + a.offset, a.size, 0x40});
        out.push_back({at + a.offset, a.size, 0x20});
    }
    return out;
}

const std::vector<access> relative = {{0, 1}, {1, 4}};
const std::vector<access> indirect = {{0, 1}, {1, 1}, {2, 4}};
const std::vector<access> other_ff = {{0, 1}, {1, 1}};
const std::vector<access> opcode_only = {{0, 1}};

class Branch : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        os::stand_in::reset();
        cell_patch.emplace(cell, le32(cell_value));
    }
    void TearDown() override {
        cell_patch.reset();
        os::stand_in::reset();
    }

    std::optional<test_host::bytes_patch> cell_patch;
};

struct read_case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint32_t destination; // 0: not a followed branch
    std::vector<access> accesses;
};

void PrintTo(const read_case& c, std::ostream* out) {
    *out << c.name;
}

class ReadBranch : public Branch, public ::testing::WithParamInterface<read_case> {};

TEST_P(ReadBranch, GivesTheDestinationWithOneProtectedAccessPerByteGroup) {
    const read_case& c = GetParam();
    test_host::bytes_patch bytes(site, c.bytes);

    EXPECT_EQ(injector::read_branch_target(site), c.destination);
    EXPECT_EQ(os::stand_in::current().protect_calls, expected_calls(site, c.accesses));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReadBranch,
    ::testing::Values(
        read_case{"call_rel_zero", op({0xE8}, 0), site + 5, relative},
        read_case{"call_forward", op({0xE8}, 0x1234), site + 5 + 0x1234, relative},
        read_case{"jmp_minus_five_is_itself", op({0xE9}, 0xFFFFFFFB), site, relative},
        read_case{"call_backward", op({0xE8}, 0x401000 - (site + 5)), 0x401000, relative},
        read_case{"jmp_wraps_past_the_top", op({0xE9}, 0x10 - (site + 5)), 0x10, relative},
        read_case{"call_wraps_below_zero", op({0xE8}, 0u - (site + 5) - 0x20), 0xFFFFFFE0,
                  relative},
        read_case{"call_through_cell", op({0xFF, 0x15}, cell), cell_value, indirect},
        read_case{"jmp_through_cell", op({0xFF, 0x25}, cell), cell_value, indirect},
        read_case{"call_eax", {0xFF, 0xD0, 0x90, 0x90, 0x90, 0x90}, 0, other_ff},
        read_case{"call_through_sib", op({0xFF, 0x14, 0x85}, cell), 0, other_ff},
        read_case{"jmp_short", {0xEB, 0x05, 0xE8, 0, 0, 0, 0}, 0, opcode_only},
        read_case{"jz_near", op({0x0F, 0x84}, 0x100), 0, opcode_only},
        read_case{"jg_near", op({0x0F, 0x8F}, 0x100), 0, opcode_only},
        read_case{"ret", {0xC3, 0xE8, 0, 0, 0, 0}, 0, opcode_only},
        read_case{"opcode_below_call", op({0xE7}, 0x100), 0, opcode_only},
        read_case{"far_jmp_after_jmp", op({0xEA}, 0x100), 0, opcode_only},
        read_case{"opcode_below_ff", op({0xFE, 0x15}, cell), 0, opcode_only}),
    [](const auto& info) { return std::string(info.param.name); });

struct write_case {
    const char* name;
    std::vector<std::uint8_t> bytes; // what the site held; may be longer than 5
    std::uint32_t target;
    std::uint32_t previous;
    std::vector<access> read_accesses;
};

void PrintTo(const write_case& c, std::ostream* out) {
    *out << c.name;
}

class WriteCall : public Branch, public ::testing::WithParamInterface<write_case> {};

TEST_P(WriteCall, ReturnsTheOldDestinationAndReplacesExactlyFiveBytes) {
    const write_case& c = GetParam();
    std::vector<std::uint8_t> held = c.bytes;
    held.push_back(0x5A); // the byte after the site
    test_host::bytes_patch bytes(site, held);

    const injector::call_write written = injector::write_call(site, c.target);
    EXPECT_EQ(written.previous, c.previous);
    EXPECT_EQ(written.status, injector::patch_status::done);

    std::vector<std::uint8_t> expected = op({0xE8}, c.target - (site + 5));
    expected.insert(expected.end(), held.begin() + 5, held.end());
    EXPECT_EQ(test_host::read_bytes(site, held.size()), expected);

    std::vector<access> accesses = c.read_accesses;
    // Over a CALL the displacement alone, in one write; elsewhere all five bytes, in one write.
    accesses.push_back(c.bytes[0] == 0xE8 ? access{1, 4} : access{0, 5});
    EXPECT_EQ(os::stand_in::current().protect_calls, expected_calls(site, accesses));
}

// Windows refusing to lift the protection leaves every byte of the site as it was (never a CALL
// opcode in front of the old bytes), and the caller learns that nothing was written.
TEST_P(WriteCall, RefusedProtectionLeavesTheSiteAsItWas) {
    const write_case& c = GetParam();
    std::vector<std::uint8_t> held = c.bytes;
    held.push_back(0x5A);
    test_host::bytes_patch bytes(site, held);
    os::stand_in::current().fail_protect_switch = true;

    const injector::call_write written = injector::write_call(site, c.target);
    EXPECT_EQ(written.previous, c.previous) << "reads are made all the same";
    EXPECT_EQ(written.status, injector::patch_status::refused);
    EXPECT_FALSE(injector::was_made(written.status));
    EXPECT_EQ(test_host::read_bytes(site, held.size()), held);
    EXPECT_TRUE(os::stand_in::current().flushes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sites, WriteCall,
    ::testing::Values(
        write_case{"over_call", op({0xE8}, 0x1000), 0x650000, site + 5 + 0x1000, relative},
        write_case{"over_jmp", op({0xE9}, 0xFFFFFFFB), 0x650000, site, relative},
        write_case{"over_call_through_cell_keeps_sixth_byte", op({0xFF, 0x15}, cell), 0x650000,
                   cell_value, indirect},
        write_case{"over_jmp_through_cell_keeps_sixth_byte", op({0xFF, 0x25}, cell), 0x650000,
                   cell_value, indirect},
        write_case{"over_nops", {0x90, 0x90, 0x90, 0x90, 0x90}, 0x650000, 0, opcode_only},
        write_case{"over_other_ff", {0xFF, 0xD0, 0x90, 0x90, 0x90}, 0x650000, 0, other_ff},
        write_case{"target_is_site", op({0xE8}, 0), site, site + 5, relative}),
    [](const auto& info) { return std::string(info.param.name); });

// Spelled out byte by byte, independently of the displacement formula the table uses.
TEST_F(Branch, TargetBelowSiteGivesNegativeDisplacement) {
    test_host::bytes_patch bytes(site, {0x90, 0x90, 0x90, 0x90, 0x90});
    ASSERT_EQ(injector::write_call(site, 0x401000).status, injector::patch_status::done);
    EXPECT_EQ(test_host::read_bytes(site, 5),
              (std::vector<std::uint8_t>{0xE8, 0xFB, 0x0F, 0xD0, 0xFF}));
    EXPECT_EQ(injector::relative_displacement(site, 0x401000), 0xFFD00FFBu);
}

int called_through_site() {
    return 0x5EC0DE;
}

TEST_F(Branch, TheCpuFollowsTheWrittenCall) {
    // site: CALL (to be written); RET. Called as a function, it returns what the target returns.
    test_host::bytes_patch bytes(site, {0x90, 0x90, 0x90, 0x90, 0x90, 0xC3});
    const auto target = reinterpret_cast<std::uintptr_t>(&called_through_site);
    ASSERT_EQ(injector::write_call(site, target).status, injector::patch_status::done);

    // Run it only if it is the intended call, with the RET still after it.
    ASSERT_EQ(injector::read_branch_target(site), target);
    ASSERT_EQ(test_host::read<std::uint8_t>(site + 5), 0xC3);
    EXPECT_EQ(reinterpret_cast<int (*)()>(test_host::at(site))(), 0x5EC0DE);
}

} // namespace

namespace {

// Decoding five bytes already read: only a relative CALL has a target, measured from the end of
// the instruction at the site where the bytes lie, with 32-bit wrap-around.
struct call_bytes_case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint32_t site;
    std::uint32_t target;
};

void PrintTo(const call_bytes_case& c, std::ostream* out) {
    *out << c.name;
}

class RelativeCallTarget : public ::testing::TestWithParam<call_bytes_case> {};

TEST_P(RelativeCallTarget, OnlyARelativeCallLeadsAnywhere) {
    const call_bytes_case& c = GetParam();
    std::uint8_t bytes[5];
    std::copy(c.bytes.begin(), c.bytes.end(), bytes);
    EXPECT_EQ(injector::relative_call_target(bytes, c.site), c.target);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, RelativeCallTarget,
    ::testing::Values(
        call_bytes_case{"call_backwards", {0xE8, 0x66, 0x9A, 0xFF, 0xFF}, 0x527A95, 0x521500},
        call_bytes_case{"same_bytes_elsewhere", {0xE8, 0x66, 0x9A, 0xFF, 0xFF}, 0x537A95, 0x531500},
        call_bytes_case{"call_forwards", {0xE8, 0x10, 0x00, 0x00, 0x00}, 0x1000, 0x1015},
        call_bytes_case{"call_wrapping_round", {0xE8, 0xF0, 0xFF, 0xFF, 0xFF}, 0x4, 0xFFFFFFF9},
        call_bytes_case{"jump", {0xE9, 0x66, 0x9A, 0xFF, 0xFF}, 0x527A95, 0},
        call_bytes_case{"call_through_a_pointer", {0xFF, 0x15, 0x00, 0x15, 0x52}, 0x527A95, 0},
        call_bytes_case{"other_code", {0x8B, 0x45, 0x08, 0x89, 0xC1}, 0x527A95, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
