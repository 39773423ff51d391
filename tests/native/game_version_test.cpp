// Telling the host build from bytes of its code: the probe table, its order, the cache, and
// probes through a host loaded away from its preferred base.
#include "host_image.h"

#include "platform/os.h"
#include "platform/os_stand_in.h"
#include "runtime/game_version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

struct placed_value {
    std::uint32_t address; // in the process, as the probe reads it after translation
    std::uint32_t value;
};

struct version_case {
    const char* name;
    std::uint32_t base; // where the stand-in says the executable is loaded
    std::vector<placed_value> values;
    std::int32_t code;
    std::vector<std::uintptr_t> reads; // addresses of the protected 4-byte reads, in order
    std::uintptr_t unreadable_from = 0;
    std::uintptr_t unreadable_to = 0;
};

void PrintTo(const version_case& c, std::ostream* out) {
    *out << c.name;
}

constexpr std::uint32_t code_1001 = 0x53EC8B55; // 55 8B EC 53
constexpr std::uint32_t code_1002 = 0x16197BE9; // E9 7B 19 16
constexpr std::uint32_t code_11xx = 0x000094BF; // BF 94 00 00
constexpr std::uint32_t code_32xx = 0x3539F633; // 33 F6 39 35

std::vector<std::uint8_t> le_bytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// The protected reads the module made: one protection switch per 4-byte read.
std::vector<std::uintptr_t> protected_reads() {
    std::vector<std::uintptr_t> reads;
    for (const auto& call : os::stand_in::current().protect_calls) {
        if (call.new_protection != os::page_execute_readwrite) continue;
        EXPECT_EQ(call.size, 4u);
        reads.push_back(call.address);
    }
    return reads;
}

class GameVersion : public ::testing::TestWithParam<version_case> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
    }
    void TearDown() override {
        while (!patches.empty())
            patches.pop_back(); // newest first, so each puts back what was there before it
        test_host::reset_module();
        test_host::reset_platform();
    }

    void lay(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        patches.push_back(std::make_unique<test_host::bytes_patch>(address, bytes));
    }

    // Variant detection reads the executable's header where the module base points: a header
    // whose entry point is in no table, so that it makes no reads of its own.
    void lay_pe_header(std::uint32_t base) {
        lay(base + 0x3C, le_bytes(0x80));
        lay(base + 0x80 + 0x28, le_bytes(0x1234));
    }

    std::vector<std::unique_ptr<test_host::bytes_patch>> patches;
};

TEST_P(GameVersion, FirstMatchingProbeNamesTheBuildAndTheAnswerIsKept) {
    const version_case& c = GetParam();
    auto& os_state = os::stand_in::current();
    os_state.process_module = test_host::at(c.base);
    os_state.unreadable_from = c.unreadable_from;
    os_state.unreadable_to = c.unreadable_to;
    lay_pe_header(c.base);
    for (const auto& placed : c.values)
        lay(placed.address, le_bytes(placed.value));

    EXPECT_EQ(runtime::identify_game_version(), c.code);
    EXPECT_EQ(protected_reads(), c.reads);

    // Change what the first probe would read so that a fresh probe gives another answer; the
    // kept answer stays, and nothing is read for it.
    const std::uint32_t first_probe = c.base + 0x1000;
    lay(first_probe, le_bytes(c.code == 1002 ? code_1001 : code_1002));
    os_state.protect_calls.clear();
    EXPECT_EQ(runtime::identify_game_version(), c.code);
    EXPECT_TRUE(os_state.protect_calls.empty());
    EXPECT_NE(runtime::probe_game_version(), c.code);
}

constexpr std::uint32_t preferred = 0x400000;
// Far enough from 0x400000 to miss every untranslated probe address, near enough that every
// translated one stays inside the mapped image.
constexpr std::uint32_t moved = 0x410000;
constexpr std::uint32_t far = 0x500000; // its upper probes fall outside the image

const std::vector<std::uintptr_t> all_reads = {0x401000, 0x401000, 0x8245BC, 0x8252FC,
                                               0x82533C, 0x858D51, 0x858C61};

std::vector<std::uintptr_t> first_reads(std::size_t n) {
    return {all_reads.begin(), all_reads.begin() + n};
}

INSTANTIATE_TEST_SUITE_P(
    Table, GameVersion,
    ::testing::Values(
        version_case{"b1001", preferred, {{0x401000, code_1001}}, 1001, first_reads(1)},
        version_case{"b1002_reads_its_address_twice",
                     preferred,
                     {{0x401000, code_1002}},
                     1002,
                     first_reads(2)},
        version_case{"b1011", preferred, {{0x8245BC, code_11xx}}, 1011, first_reads(3)},
        version_case{"first_match_in_table_order_wins",
                     preferred,
                     {{0x8245BC, code_11xx}, {0x8252FC, code_11xx}},
                     1011,
                     first_reads(3)},
        version_case{"b1101", preferred, {{0x8252FC, code_11xx}}, 1101, first_reads(4)},
        version_case{"b1111", preferred, {{0x82533C, code_11xx}}, 1111, first_reads(5)},
        version_case{"b3200", preferred, {{0x858D51, code_32xx}}, 3200, first_reads(6)},
        version_case{"b3210", preferred, {{0x858C61, code_32xx}}, 3210, first_reads(7)},
        version_case{"value_of_another_probe_does_not_count",
                     preferred,
                     {{0x8245BC, code_32xx}, {0x858D51, code_11xx}},
                     0,
                     all_reads},
        version_case{"none", preferred, {}, 0, all_reads},
        version_case{"moved_base_reads_translated_addresses",
                     moved,
                     {{0x401000, code_1001}, {0x8245BC, code_11xx}, {0x8345BC, code_11xx}},
                     1011,
                     {0x411000, 0x411000, 0x8345BC}},
        version_case{"far_base_first_probe_matches",
                     far,
                     {{0x501000, code_1001}},
                     1001,
                     {0x501000},
                     test_host::image_end,
                     0xFFFFF000},
        version_case{"far_base_unreadable_probes_just_fail",
                     far,
                     {{0x401000, code_1001}},
                     0,
                     {0x501000, 0x501000},
                     test_host::image_end,
                     0xFFFFF000}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
