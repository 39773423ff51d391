// Number reading of the settings parser, with literal expectations. This program runs natively
// (glibc) and under Wine (the MinGW runtime's own scanf), so a row that passes in both proves
// that the two flavours read the same file the same way, and that native tests predict the DLL.
#include "plugin/settings/settings_parser.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <ostream>
#include <vector>

namespace {

using plugin::line_kind;

struct scan_case {
    const char* text;
    line_kind kind;
    int count;                             // values yielded (the label never counts)
    std::int32_t integer;                  // weapon type or reload flag, when count reaches it
    std::vector<std::uint32_t> float_bits; // the floats read, as bit patterns
};

void PrintTo(const scan_case& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

// Float bit patterns used below.
constexpr std::uint32_t one = 0x3F800000, two = 0x40000000, three = 0x40400000;
constexpr std::uint32_t eight = 0x41000000, nine = 0x41100000;
constexpr std::uint32_t pos_inf = 0x7F800000, neg_inf = 0xFF800000;
constexpr std::uint32_t quiet_nan = 0x7FC00000, negative_nan = 0xFFC00000;

const scan_case scan_cases[] = {
    // "%i": weapon type, base by prefix.
    {"0x16 1 2 3", line_kind::weapon, 4, 22, {one, two, three}},
    {"0X1f 1 2 3", line_kind::weapon, 4, 31, {one, two, three}},
    {"010 1 2 3", line_kind::weapon, 4, 8, {one, two, three}},
    {"-1 1 2 3", line_kind::weapon, 4, -1, {one, two, three}},
    {"+7 1 2 3", line_kind::weapon, 4, 7, {one, two, three}},
    {"-0x10 1 2 3", line_kind::weapon, 4, -16, {one, two, three}},
    // Octal stops at 8 or 9, which then become the first offset value.
    {"08 1 2 3", line_kind::weapon, 4, 0, {eight, one, two}},
    {"019 1 2 3", line_kind::weapon, 4, 1, {nine, one, two}},
    // "0x" with no digit is read as 0, both characters consumed.
    {"0x 1 2 3", line_kind::weapon, 4, 0, {one, two, three}},
    // Out of range saturates: 0xFFFFFFFF is not -1.
    {"0xFFFFFFFF 1 2 3", line_kind::weapon, 4, INT_MAX, {one, two, three}},
    {"4294967296 1 2 3", line_kind::weapon, 4, INT_MAX, {one, two, three}},
    {"-2147483649 1 2 3", line_kind::weapon, 4, INT_MIN, {one, two, three}},
    // "%i" takes no exponent; "e3" is then no float.
    {"1e3 1 2 3", line_kind::weapon, 1, 1, {}},
    {"x 1 2 3", line_kind::weapon, 0, 0, {}},
    {"22 0x 1 2", line_kind::weapon, 1, 22, {}},
    {"22 0x1p-1 -0x1.8p1 0X1P0", line_kind::weapon, 4, 22, {0x3F000000, 0xC0400000, one}},

    // "%d": the reload flag takes decimal only.
    {"Reload 0x10", line_kind::reload_flag, 1, 0, {}},
    {"Reload 010", line_kind::reload_flag, 1, 10, {}},
    {"Reload -08", line_kind::reload_flag, 1, -8, {}},
    {"Reload 2147483648", line_kind::reload_flag, 1, INT_MAX, {}},

    // "%f" into a 32-bit float.
    {"V 1.5", line_kind::host_float, 1, 0, {0x3FC00000}},
    {"V -2.25e1", line_kind::host_float, 1, 0, {0xC1B40000}},
    {"V +.5e-1", line_kind::host_float, 1, 0, {0x3D4CCCCD}},
    {"V 0.1", line_kind::host_float, 1, 0, {0x3DCCCCCD}},
    {"V 5.", line_kind::host_float, 1, 0, {0x40A00000}},
    {"V 08", line_kind::host_float, 1, 0, {eight}},
    {"V 1e", line_kind::host_float, 1, 0, {one}},
    {"V 1e+", line_kind::host_float, 1, 0, {one}},
    {"V 1,5", line_kind::host_float, 1, 0, {one}},
    {"V inf", line_kind::host_float, 1, 0, {pos_inf}},
    {"V -INF", line_kind::host_float, 1, 0, {neg_inf}},
    {"V Infinity", line_kind::host_float, 1, 0, {pos_inf}},
    {"V nan", line_kind::host_float, 1, 0, {quiet_nan}},
    {"V NAN(123)", line_kind::host_float, 1, 0, {quiet_nan}},
    {"V -nan", line_kind::host_float, 1, 0, {negative_nan}},
    {"V 0x1p4", line_kind::host_float, 1, 0, {0x41800000}},
    {"V 0x1.8p1", line_kind::host_float, 1, 0, {three}},
    {"V 0x1p-149", line_kind::host_float, 1, 0, {0x00000001}},
    {"V 0x1p-150", line_kind::host_float, 1, 0, {0x00000000}},
    {"V 1e-40", line_kind::host_float, 1, 0, {0x000116C2}},
    {"V 3.4028235e38", line_kind::host_float, 1, 0, {0x7F7FFFFF}},
    {"V 3.4028236e38", line_kind::host_float, 1, 0, {pos_inf}},
    {"V 1e40", line_kind::host_float, 1, 0, {pos_inf}},
    {"V 1.0000000596046448", line_kind::host_float, 1, 0, {0x3F800001}},
    {"V 0x", line_kind::host_float, 0, 0, {}},
    {"V .", line_kind::host_float, 0, 0, {}},
    {"V -", line_kind::host_float, 0, 0, {}},

    // Several floats in a row: a bad field ends the line's values.
    {"R 1e 2 3", line_kind::aim_row, 3, 0, {one, two, three}},
    {"R 1 nan -inf 0x 5", line_kind::aim_row, 3, 0, {one, quiet_nan, neg_inf}},
};

class ScanfTable : public ::testing::TestWithParam<scan_case> {};

TEST_P(ScanfTable, ReadsTheSameValuesInBothFlavours) {
    const scan_case& c = GetParam();
    const plugin::line_values v = plugin::parse_settings_line(c.kind, c.text);

    ASSERT_EQ(v.count, c.count);
    const bool has_integer = c.kind == line_kind::weapon || c.kind == line_kind::reload_flag;
    if (has_integer && c.count > 0) {
        EXPECT_EQ(v.integer, c.integer);
    }
    std::vector<std::uint32_t> got;
    const int first_float = has_integer ? 1 : 0; // the integer comes first
    for (int i = first_float; i < v.count; ++i)
        got.push_back(std::bit_cast<std::uint32_t>(v.floats[i - first_float]));
    EXPECT_EQ(got, c.float_bits);
}

INSTANTIATE_TEST_SUITE_P(Numbers, ScanfTable, ::testing::ValuesIn(scan_cases));

} // namespace
