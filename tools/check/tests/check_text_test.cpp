// The checker's small text helpers where a slip would send a player the wrong way.
#include "tools/check/check_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

struct distance_case {
    const char* a;
    const char* b;
    int distance;
};

TEST(edit_distance, counts_the_letters_a_player_got_wrong) {
    const distance_case cases[] = {
        {"", "", 0},
        {"", "abc", 3},
        {"key_mirrored", "key_mirrored", 0},
        {"key_mirorred", "key_mirrored", 1},      // two neighbours swapped: one slip
        {"key_miror", "key_mirrored", 3},         // letters left out
        {"aimingsets.dat", "aimingset.dat", 1},   // one dropped
        {"aimingsets.dat", "aimingsetz.dat", 1},  // one changed
        {"aimingsets.dat", "aimingsetss.dat", 1}, // one added
        {"aimngsest.dat", "aimingsets.dat", 2},
        {"swing_ms", "key_toggle", 9},
        {"ab", "ba", 1},
        {"abc", "ca", 3}, // a swap is only of neighbours, and only once per pair
        // Words of 32 letters and more, whose table takes another place than a name's
        {"a_name_thirty_two_letters_long_x", "a_name_thirty_two_letters_long_xy", 1},
        {"a_name_of_thirty_three_letters_xy", "a_name_of_thirty_three_letetrs_xy", 1},
        {"a line far longer than any name, as a word can be in a settings file",
         "a line far longer than any nmae, as a word can be in a settings fil", 2},
        {"a line far longer than any name, as a word can be in a settings file", "ab", 66},
    };
    for (const distance_case& c : cases) {
        EXPECT_EQ(check::edit_distance(c.a, c.b), c.distance) << c.a << " / " << c.b;
        EXPECT_EQ(check::edit_distance(c.b, c.a), c.distance) << c.b << " / " << c.a;
        // With a limit: the distance where it is within it, else just past it.
        for (int limit = 0; limit <= c.distance + 1; ++limit) {
            const int expected = std::min(c.distance, limit + 1);
            EXPECT_EQ(check::edit_distance(c.a, c.b, limit), expected)
                << c.a << " / " << c.b << ", limit " << limit;
            EXPECT_EQ(check::edit_distance(c.b, c.a, limit), expected)
                << c.b << " / " << c.a << ", limit " << limit;
        }
    }
}

TEST(edit_distance, within_a_limit_it_follows_the_slips_off_the_straight_line) {
    // The slips that move a word's letters against the other's: each pair is `distance` apart,
    // the slips spread so that the way from one to the other wanders from the diagonal of the
    // table before it comes back, and the last letters decide.
    const distance_case cases[] = {
        {"xkey_toggle", "key_togglex", 2}, // one letter moved from the front to the end
        {"kye_tgogle", "key_toggle", 2},   // two swaps
        {"key_toggl", "ey_toggle", 2},     // dropped at the front, missing at the end
        {"keey_toggle", "key_togle", 2},   // one added early, one dropped late
        {"kkey_togglee", "key_toggle", 2}, // both ends doubled
        {"ab", "ba", 1},
        {"tune_step", "tuen_stpe", 2},
        {"mirror_factor", "mirorr_facotr", 2},
        {"mirror_factor", "mirror_fact", 2}, // the end cut off
        {"rightshoulder", "rigthshouldre", 2},
    };
    for (const distance_case& c : cases) {
        ASSERT_EQ(check::edit_distance(c.a, c.b), c.distance) << c.a << " / " << c.b;
        for (int limit = 0; limit <= 3; ++limit) {
            const int expected = std::min(c.distance, limit + 1);
            EXPECT_EQ(check::edit_distance(c.a, c.b, limit), expected)
                << c.a << " / " << c.b << ", limit " << limit;
            EXPECT_EQ(check::edit_distance(c.b, c.a, limit), expected)
                << c.b << " / " << c.a << ", limit " << limit;
        }
    }
}

} // namespace
