// The aim-point picture stays readable however the weapons lie: every label inside its own view,
// clear of the other view, the legend, the other labels and the marks, and on the canvas; and the
// settings file's name in its title as the player spells it, in any script.
#include "tools/check/settings_check.h"

#include "plugin/settings/settings_reader.h"
#include "tools/check/tests/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace check_test;

struct weapon {
    std::int32_t type;
    float x, y, z;
    bool drawn = true; // false: the picture lists it below the views instead
};

// A settings file: the starter file's first 15 lines, these weapon lines, then `named` lines.
std::string settings_with(const std::vector<weapon>& weapons, const std::string& named = "") {
    std::istringstream starter(check::settings_template());
    std::string text, line;
    for (int n = 0; n < 15 && std::getline(starter, line); ++n)
        text += line + "\n";
    for (int n = 0; n < 16; ++n) {
        if (n < static_cast<int>(weapons.size())) {
            char buffer[96];
            std::snprintf(buffer, sizeof buffer, "%d %.9g %.9g %.9g",
                          static_cast<int>(weapons[n].type), weapons[n].x, weapons[n].y,
                          weapons[n].z);
            text += buffer;
        }
        text += "\n";
    }
    return text + named;
}

std::string drawn_types(const std::vector<weapon>& weapons) {
    std::string types;
    for (const weapon& w : weapons)
        if (w.drawn) types += (types.empty() ? "" : ",") + std::to_string(w.type);
    return types;
}

std::string picture_of(const std::string& settings, const std::string& name) {
    plugin::settings_reader reader(reinterpret_cast<const std::uint8_t*>(settings.data()),
                                   settings.size());
    return check::aim_points_svg(check::check_settings_stream(reader, name));
}

// The heading above the views, its lines joined.
std::string heading_of(const std::string& svg) {
    const std::regex line("<text [^>]*class=\"title\">([^<]*)</text>");
    std::string heading;
    for (std::sregex_iterator it(svg.begin(), svg.end(), line), end; it != end; ++it)
        heading += (*it)[1];
    return heading;
}

struct layout_case {
    const char* name;
    std::vector<weapon> weapons;
    std::string named = "";              // named lines after line 31
    std::string file = "aimingSets.dat"; // as the heading names it
};

std::vector<weapon> sixteen(std::int32_t first_type, float x, float y, float z, float spread) {
    std::vector<weapon> weapons;
    for (int i = 0; i < 16; ++i)
        weapons.push_back({i == 0 ? -1 : first_type + 7 * i, x + spread * float(i % 4),
                           y + spread * float(i / 4), z - spread * float((i * 3) % 5)});
    return weapons;
}

std::vector<weapon> longest_types(float x, float y, float z) {
    std::vector<weapon> weapons;
    for (int i = 0; i < 16; ++i)
        weapons.push_back({i % 2 ? INT32_MAX - i : INT32_MIN + i, x, y, z});
    return weapons;
}

std::vector<weapon> sixteen_alone() {
    std::vector<weapon> weapons = longest_types(0, 0, 0);
    for (weapon& w : weapons)
        w.drawn = false;
    return weapons;
}

std::vector<weapon> along_x() {
    std::vector<weapon> weapons;
    for (int i = 0; i < 16; ++i)
        weapons.push_back({100 + i, float(i) - 7.5f, 0, i == 0 ? 0.001f : 0.0f});
    return weapons;
}

std::vector<weapon> apart_and_close() {
    std::vector<weapon> weapons;
    for (int i = 0; i < 8; ++i)
        weapons.push_back({200 + i, 0.3f * float(i % 3) - 0.3f, 0.25f * float(i / 3) - 0.25f,
                           0.2f * float(i % 4) - 0.3f});
    for (int i = 0; i < 8; ++i)
        weapons.push_back({300 + i, 0.5f, 0.5f, 0.5f + 0.002f * float(i)});
    return weapons;
}

// Marks on every edge of the range, labels as long as weapon types get. Wide and low, so that
// the width sets the scale: on the left two marks side by side, the right one in the way of the
// left one's label on its right, which then has only its left side, towards the view's edge.
std::vector<weapon> at_the_edges() {
    return {{INT32_MIN, -8, 0.5f, 0.5f},     {INT32_MAX, -7.5f, 0.5f, 0.5f},
            {INT32_MIN + 1, -8, 1, -1},      {INT32_MAX - 1, -7.5f, 1, -1},
            {INT32_MIN + 2, -8, -1, 1},      {INT32_MAX - 2, -7.5f, -1, 1},
            {INT32_MIN + 3, 8, 1, 1},        {INT32_MAX - 3, 7.5f, 1, 1},
            {INT32_MIN + 4, 8, -1, -1},      {INT32_MAX - 4, 7.5f, -1, -1},
            {INT32_MIN + 5, 0.1f, 1, 0.2f},  {INT32_MAX - 5, 0.1f, -1, -0.2f},
            {INT32_MIN + 6, 2, 0.5f, 0.25f}, {-1, 3, -0.5f, 0.5f}};
}

// Tall and narrow: marks at the top and the bottom of the range.
std::vector<weapon> top_and_bottom() {
    return {{INT32_MIN, 0.5f, 8, 8},       {INT32_MAX, 0.5f, -8, -8}, {-1, -0.5f, 8, -8},
            {INT32_MIN + 1, -0.5f, -8, 8}, {1, 0.6f, 7, 7},           {2, 0.4f, -7, -7}};
}

class aim_picture : public test_folder {};

TEST_F(aim_picture, labels_stay_inside_their_view_clear_of_everything_else) {
    if (!have_python()) {
        GTEST_SKIP() << "python3 is needed to read the picture back";
    }
    const layout_case cases[] = {
        {"sixteen_close_together", sixteen(100, 0.5f, 0.2f, 0.1f, 0.004f)},
        {"sixteen_on_one_spot", sixteen(200, 0.5f, 0.2f, 0.1f, 0)},
        // Stacked down from their marks, the labels would run out of the view's bottom.
        {"sixteen_on_one_spot_low_in_the_view", sixteen(200, 0.5f, -2, -2, 0), ""},
        {"sixteen_on_one_spot_high_in_the_view", sixteen(200, -0.5f, 2, 2, 0), ""},
        {"sixteen_longest_types_on_one_spot", longest_types(0.5f, 0.2f, 0.1f)},
        // A flat row: views far shorter than sixteen labels.
        {"sixteen_along_x", along_x()},
        {"sixteen_along_x_other_shoulder_ten_times", along_x(), "mirror_factor 10\n"},
        {"eight_apart_eight_close", apart_and_close()},
        {"at_the_edges_of_the_range", at_the_edges(), "mirror_factor 0.5\n"},
        {"at_the_edges_other_shoulder_far_out", at_the_edges(), "mirror_factor -10\n"},
        {"at_the_top_and_bottom", top_and_bottom()},
        {"one_weapon", {{-1, 0.4f, 0, 0.1f}}},
        {"one_weapon_far_out", {{INT32_MIN, -1e30f, 1e30f, -1e30f}}, "mirror_factor 0.5\n"},
        {"one_weapon_a_hair_off_the_player", {{7, 1e-30f, 0, 0}}},
        // Nothing drawn, and a note that names sixteen weapon types.
        {"sixteen_leaving_the_aim_alone", sixteen_alone()},
        {"the_sample", {{-1, 0.4f, 0, 0.1f}, {22, 0.5f, 0.2f, 0.1f}, {25, 0.6f, -0.3f, 0.2f}}},
        // A heading longer than the canvas is wide: broken after a folder, or inside a name
        // longer than a line; letters that take a whole font size each.
        {"a_long_path", sixteen(100, 0.5f, 0.2f, 0.1f, 0.004f), "",
         "C:\\Program Files (x86)\\Some Publisher\\Some Game Of The Year Edition\\mods\\aim "
         "settings\\aimingSets.dat"},
        {"a_path_without_a_blank",
         {{1, 1, 1, 1}},
         "",
         "/home/player/" + std::string(150, 'W') + "/aimingSets.dat"},
        {"a_path_in_japanese",
         {{1, 1, 1, 1}},
         "",
         "C:\\\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\\" +
             [] {
                 std::string name;
                 for (int i = 0; i < 40; ++i)
                     name += "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0";
                 return name;
             }() +
             "\\aimingSets.dat"},
        // x times the factor is beyond any float: drawn are the others, the picture still a
        // picture with no coordinate that is no number.
        {"other_shoulder_beyond_any_number",
         {{5, 3e38f, 0.2f, 0.1f, false}, {7, 0.5f, 0.2f, 0.1f}, {8, -1, 1, 1}}},
    };
    const std::regex not_a_number("=\"[^\"]*(nan|inf)");
    std::string arguments;
    for (const layout_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string svg = picture_of(settings_with(c.weapons, c.named), c.file);
        EXPECT_EQ(heading_of(svg), "Aim points of " + c.file);
        EXPECT_FALSE(std::regex_search(svg, not_a_number)) << svg;
        arguments +=
            " '" + write(svg, std::string(c.name) + ".svg") + "=" + drawn_types(c.weapons) + "'";
    }
    char width[32];
    std::snprintf(width, sizeof width, "%g", check::picture_char_width);
    EXPECT_EQ(std::system(("python3 " CHECK_TEST_FILES "/picture_boxes.py " + std::string(width) +
                           arguments)
                              .c_str()),
              0);
}

// The settings file's folder appears in the picture's title as the player named it: letters of
// any script as they are, markup escaped, a control character as '?', and bytes that are no
// UTF-8 (a name made on a system with an 8-bit code page) as U+FFFD, so that the picture stays
// valid UTF-8 that any browser opens.
TEST_F(aim_picture, title_spells_the_folder_as_it_is_named) {
    struct title_case {
        std::string folder;
        std::string shown; // in the title
    };
    const std::string unknown = "\xEF\xBF\xBD"; // U+FFFD
    const title_case cases[] = {
        {"Spiele/Gr\xC3\xB6\xC3\x9F"
         "e/\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0",
         "Spiele/Gr\xC3\xB6\xC3\x9F"
         "e/\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0"},
        {"\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B", "\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B"},
        {"\xF0\x9F\x8E\xAF aim", "\xF0\x9F\x8E\xAF aim"}, // beyond U+FFFF: four bytes
        {"Tom & Jerry's <mods> \"x\"", "Tom &amp; Jerry's &lt;mods&gt; &quot;x&quot;"},
        {"caf\xE9", "caf" + unknown},                                 // Latin-1
        {"cut \xE3\x82", "cut " + unknown + unknown},                 // a character cut short
        {"long \xC0\xAF", "long " + unknown + unknown},               // '/' spelt in two bytes
        {"half \xED\xA0\x80", "half " + unknown + unknown + unknown}, // half a UTF-16 pair
        {"not \xEF\xBF\xBF", "not " + unknown}, // U+FFFF: no character XML allows
        {"tab\there \xC2\x85", "tab?here ?"},   // control characters
    };
    std::string pictures;
    for (const title_case& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string file =
            write(settings_with({{22, 0.5f, 0.2f, 0.1f}}), c.folder + "/aimingSets.dat");
        const std::string svg_path =
            (dir_ / ("picture" + std::to_string(&c - cases) + ".svg")).string();
        std::string out, err;
        ASSERT_EQ(check::run_check_command({"--svg", svg_path, file}, out, err), 0) << err << out;
        const std::string svg = read(svg_path);
        const std::string title =
            "Aim points of " + dir_.string() + "/" + c.shown + "/aimingSets.dat";
        EXPECT_NE(svg.find("<title>" + title + "</title>"), std::string::npos) << svg;
        EXPECT_EQ(heading_of(svg), title) << svg;
        pictures += " '" + svg_path + "'";
    }
    if (!have_python()) {
        GTEST_SKIP() << "python3 is needed to read the pictures as XML";
    }
    EXPECT_EQ(std::system(("python3 -c 'import sys, xml.dom.minidom as m\nfor f in sys.argv[1:]: "
                           "m.parse(f)'" +
                           pictures)
                              .c_str()),
              0);
}

} // namespace
