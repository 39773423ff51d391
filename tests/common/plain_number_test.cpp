// The parser reads plain numbers without scanf; scanf stays the reference. Every number a
// hand-written file is likely to hold must come out bit for bit as scanf reads it, in both
// flavours (glibc natively, the MinGW runtime under Wine).
#include "plugin/settings/settings_parser.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using plugin::line_kind;
using plugin::parse_settings_line;

// A small deterministic generator, so a failure names a case that can be replayed.
struct generator {
    std::uint32_t state = 12345;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
};

// A decimal with `digits` significant digits and `decimals` of them behind the point.
std::string decimal(generator& g, int digits, int decimals, bool negative) {
    std::string s;
    for (int i = 0; i < digits; ++i)
        s += static_cast<char>('0' + g.below(10));
    if (decimals > 0) {
        while (static_cast<int>(s.size()) <= decimals)
            s.insert(s.begin(), '0');
        s.insert(s.end() - decimals, '.');
    }
    return (negative ? "-" : "") + s;
}

TEST(PlainNumbers, FloatsMatchScanfBitForBit) {
    generator g;
    int mismatches = 0;
    for (int i = 0; i < 60000 && mismatches < 5; ++i) {
        const int digits = 1 + static_cast<int>(g.below(12)); // both sides of the 7-digit path
        const int decimals = static_cast<int>(g.below(11));
        const std::string token = decimal(g, digits, decimals, g.below(2) == 0);
        float expected = 0;
        ASSERT_EQ(std::sscanf(token.c_str(), "%f", &expected), 1) << token;
        const auto got = parse_settings_line(line_kind::host_float, ("label " + token).c_str());
        ASSERT_EQ(got.count, 1) << token;
        if (std::bit_cast<std::uint32_t>(got.floats[0]) != std::bit_cast<std::uint32_t>(expected)) {
            ++mismatches;
            ADD_FAILURE() << token << ": parsed " << got.floats[0] << ", scanf reads " << expected;
        }
    }
}

TEST(PlainNumbers, WeaponLinesMatchScanf) {
    generator g;
    for (int i = 0; i < 20000; ++i) {
        const std::string type = decimal(g, 1 + static_cast<int>(g.below(11)), 0, g.below(2) == 0);
        const std::string x =
            decimal(g, 1 + static_cast<int>(g.below(9)), static_cast<int>(g.below(9)), false);
        const std::string line = type + " " + x + " 0.5 -2\n";
        std::int32_t expected_type = 0;
        float expected_x = 0, y = 0, z = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%i %f %f %f", &expected_type, &expected_x, &y, &z), 4);
        const auto got = parse_settings_line(line_kind::weapon, line.c_str());
        ASSERT_EQ(got.count, 4) << line;
        ASSERT_EQ(got.integer, expected_type) << line;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(got.floats[0]),
                  std::bit_cast<std::uint32_t>(expected_x))
            << line;
    }
}

} // namespace
