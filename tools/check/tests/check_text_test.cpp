// The checker's small text helpers where a slip would send a player the wrong way.
#include "tools/check/check_text.h"

#include <gtest/gtest.h>

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
    }
}

} // namespace
