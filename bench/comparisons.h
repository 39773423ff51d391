// The comparisons both tables make, each a measured path against its baseline from the same run,
// and their goals: in time (corvane_bench) and in counted instructions (corvane_count). Every
// goal lives in comparisons.cpp and nowhere else.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace bench {

enum class goal_kind {
    ratio_at_most, // measured / baseline <= value
    added_at_most, // measured - baseline <= value (nanoseconds, or instructions)
    breakdown,     // no goal: shows where the cost of another line goes
    // (measured - baseline) <= value * (reference - baseline): the cost added, against what a
    // reference path adds over the same baseline in the same run. Nanoseconds differ from one
    // machine to the next; the cost of doing the same work the simplest way does so too.
    added_times_reference_at_most,
};

struct goal {
    goal_kind kind = goal_kind::breakdown;
    double value = 0;
    const char* reference = nullptr; // added_times_reference_at_most: the reference path
    double moonshot = 0;             // the same kind of goal, further out; 0 when there is none
    // A goal not met yet is held where it stands: the same kind of limit, nearer in, past which
    // the row fails a checked run (./dev test), so the path cannot get worse unseen while the
    // goal stays missed in the table. 0 when the goal itself is checked.
    double hold = 0;
};

struct comparison {
    const char* what;
    const char* measured; // benchmark names
    const char* baseline;
    goal timed;
    goal counted;
};

const std::vector<comparison>& comparisons();

// What a goal allows and whether the figures meet it.
struct verdict {
    double allowed = 0; // in the unit of the figures; for a ratio, the ratio
    bool meets = true;
    bool meets_moonshot = true;
    bool within_hold = true; // the goal's hold, or the goal itself where it has none
};
verdict judge(const goal& g, double measured, double baseline, double reference);

// One benchmark's figure in a run's results: its value, or why there is none (a benchmark that
// reported an error, or one that did not run).
enum class figure { found, not_run, failed };
figure find_figure(const std::map<std::string, double>& values,
                   const std::map<std::string, std::string>& failures, const char* name,
                   double& value, std::string& problem);

// The figures of one comparison: the measured path's, the baseline's and, where the goal `g`
// names one, the reference path's; found only when all of them are.
struct row_figures {
    double measured = 0, baseline = 0, reference = 0;
};
figure find_row(const comparison& c, const goal& g, const std::map<std::string, double>& values,
                const std::map<std::string, std::string>& failures, row_figures& row,
                std::string& problem);

} // namespace bench
