// How both benchmark tables judge a row against its goal (bench/comparisons.*): ./dev test fails
// on a counted goal missed, so a goal judged wrongly, or one whose reference path has no figure,
// would let a slower path through unseen.
#include "comparisons.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using bench::goal;
using bench::goal_kind;

struct judge_case {
    const char* what;
    goal g;
    double measured, baseline, reference;
    double allowed;
    bool meets, meets_moonshot;
};

TEST(BenchGoals, RowsAreJudgedAtTheirLimits) {
    constexpr goal aim{goal_kind::added_times_reference_at_most, 1.5, "reference", 1.2};
    const judge_case cases[] = {
        {"ratio at the limit", {goal_kind::ratio_at_most, 2.0}, 200, 100, 0, 2.0, true, true},
        {"ratio over it", {goal_kind::ratio_at_most, 2.0}, 201, 100, 0, 2.0, false, true},
        {"added at the limit", {goal_kind::added_at_most, 50}, 150, 100, 0, 50, true, true},
        {"added over it", {goal_kind::added_at_most, 50}, 151, 100, 0, 50, false, true},
        // The reference adds 49 over the baseline: 73.5 allowed, 58.8 the moonshot.
        {"within the moonshot", aim, 53 + 58.8, 53, 102, 73.5, true, true},
        {"within the goal only", aim, 53 + 73.5, 53, 102, 73.5, true, false},
        {"over the goal", aim, 141, 53, 102, 73.5, false, false},
        {"no goal", {}, 1e9, 1, 0, 0, true, true},
    };
    for (const judge_case& c : cases) {
        SCOPED_TRACE(c.what);
        const bench::verdict v = bench::judge(c.g, c.measured, c.baseline, c.reference);
        EXPECT_DOUBLE_EQ(v.allowed, c.allowed);
        EXPECT_EQ(v.meets, c.meets);
        EXPECT_EQ(v.meets_moonshot, c.meets_moonshot);
    }
}

// A goal measured against a reference path names one that a row measures, so that the reference
// has a figure whenever the benchmarks run; and only such a goal names one.
// A goal not met yet, held where it stands: a checked run fails only past the hold.
TEST(BenchGoals, AHeldGoalFailsOnlyPastItsHold) {
    constexpr goal held{goal_kind::added_times_reference_at_most, 1.5, "reference", 1.2, 1.65};
    const struct {
        const char* what;
        double measured;
        bool meets, within_hold;
    } cases[] = {
        {"within the goal", 53 + 93, true, true},
        // The reference adds 62: 93 allowed by the goal, 102.3 by the hold.
        {"past the goal, within the hold", 53 + 102, false, true},
        {"past the hold", 53 + 103, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bench::verdict v = bench::judge(held, c.measured, 53, 53 + 62);
        EXPECT_EQ(v.meets, c.meets);
        EXPECT_EQ(v.within_hold, c.within_hold);
    }
    const bench::verdict plain = bench::judge({goal_kind::added_at_most, 50}, 151, 100, 0);
    EXPECT_FALSE(plain.within_hold) << "without a hold, the goal itself is checked";
}

TEST(BenchGoals, EveryReferenceIsMeasuredByARow) {
    std::set<std::string> measured;
    for (const bench::comparison& c : bench::comparisons())
        measured.insert(c.measured);
    for (const bench::comparison& c : bench::comparisons()) {
        SCOPED_TRACE(c.what);
        for (const goal* g : {&c.timed, &c.counted}) {
            const bool needs_reference = g->kind == goal_kind::added_times_reference_at_most;
            EXPECT_EQ(needs_reference, g->reference != nullptr);
            if (g->reference) {
                EXPECT_TRUE(measured.count(g->reference)) << g->reference;
            }
        }
    }
}

} // namespace
