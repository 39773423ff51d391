// The layout scanner: where the module's parser finds each line's label and values.
#include "plugin/settings/line_layout.h"
#include "tools/check/check_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using plugin::line_kind;

struct layout_case {
    line_kind kind;
    const char* text;
    const char* label;               // "" when the layout has none
    std::vector<std::string> values; // the text of each value span
    const char* rest;                // the text from where parsing stopped
};

void PrintTo(const layout_case& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class layout_table : public ::testing::TestWithParam<layout_case> {};

TEST_P(layout_table, finds_label_values_and_stop) {
    const layout_case& c = GetParam();
    const std::string text = c.text;
    const plugin::line_layout layout = plugin::lay_out(c.kind, text);
    EXPECT_EQ(layout.has_label ? check::text_of(text, layout.label) : "", c.label);
    std::vector<std::string> values;
    for (const plugin::span& s : layout.values)
        values.push_back(check::text_of(text, s));
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(text.substr(layout.stop), c.rest);
    // The scanner and the module's parser agree on how many values the line gives.
    EXPECT_EQ(static_cast<int>(layout.values.size()),
              plugin::parse_settings_line(c.kind, c.text).count);
}

INSTANTIATE_TEST_SUITE_P(
    lines, layout_table,
    ::testing::Values(
        layout_case{line_kind::host_float, "  aim\t 1.5  ; note", "aim", {"1.5"}, "  ; note"},
        layout_case{line_kind::host_float, "aim", "aim", {}, ""},
        layout_case{line_kind::host_float, "   ", "", {}, ""},
        layout_case{line_kind::host_float, "aim height 2", "aim", {}, "height 2"},
        layout_case{line_kind::host_float, "aim 1,5", "aim", {"1"}, ",5"},
        layout_case{line_kind::host_float, "aim 1e99x", "aim", {"1e99"}, "x"},
        layout_case{line_kind::host_float, "aim -.5e1", "aim", {"-.5e1"}, ""},
        layout_case{line_kind::code_float, "0.5", "0.5", {}, ""},
        // Line 1 takes a decimal whole number: "0x10" is 0 and stops at the x.
        layout_case{line_kind::reload_flag, "reload 0x10", "reload", {"0"}, "x10"},
        layout_case{line_kind::reload_flag, "reload 010", "reload", {"010"}, ""},
        layout_case{line_kind::reload_flag, "reload 0.5", "reload", {"0"}, ".5"},
        // A row takes seven values and no more; a number glued to the next feeds it.
        layout_case{line_kind::aim_row,
                    "row 1 2 3 4 5 6 7 8",
                    "row",
                    {"1", "2", "3", "4", "5", "6", "7"},
                    " 8"},
        layout_case{line_kind::aim_row, "row 1.5.5 2", "row", {"1.5", ".5", "2"}, ""},
        layout_case{line_kind::aim_row, "1 2 3 4 5 6 7", "1", {"2", "3", "4", "5", "6", "7"}, ""},
        // Weapon lines have no label; the type is read in any base, the rest as floats.
        layout_case{
            line_kind::weapon, "22 0.5 0.2 0.1 ; x", "", {"22", "0.5", "0.2", "0.1"}, " ; x"},
        layout_case{line_kind::weapon, "0x1A 1 2 3", "", {"0x1A", "1", "2", "3"}, ""},
        layout_case{line_kind::weapon, "08 1 2 3", "", {"0", "8", "1", "2"}, " 3"},
        layout_case{line_kind::weapon, "0x 1 2 3", "", {"0x", "1", "2", "3"}, ""},
        layout_case{line_kind::weapon, "pistol 24 0 0 0", "", {}, "pistol 24 0 0 0"},
        layout_case{line_kind::weapon, "25 0.6 0.3", "", {"25", "0.6", "0.3"}, ""},
        layout_case{
            line_kind::weapon, "27 inf nan -infinity", "", {"27", "inf", "nan", "-infinity"}, ""},
        layout_case{line_kind::ignored, "-- 1 2 3 --", "", {}, "-- 1 2 3 --"}));

} // namespace
