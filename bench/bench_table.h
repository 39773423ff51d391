// What every benchmark shares: the repetition settings, and the closing table that sets each
// measured path against its baseline from the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Nine repetitions of at least 0.1 s each, interleaved with those of the other benchmarks (see
// main); the table uses their median.
void repeat(benchmark::internal::Benchmark* b);

// Every `operator new` of the process is counted, so that a benchmark can tell how many
// allocations one call of its path makes.
std::uint64_t allocation_count() noexcept;
// Sets the benchmark's "new/call" counter from the allocations made since `start`.
void report_allocations(benchmark::State& state, std::uint64_t start);

// One line of the closing table: a measured path, its baseline, and the goal it must meet.
enum class goal_kind {
    ratio_at_most,    // measured / baseline <= goal
    added_ns_at_most, // measured - baseline <= goal nanoseconds
    breakdown,        // no goal: shows where the time of another line goes
    // (measured - baseline) <= goal * (reference - baseline): the time added, against the time
    // a reference path adds over the same baseline in the same run. Nanoseconds differ from one
    // machine to the next; the cost of doing the same work the simplest way does so too.
    added_times_reference_at_most,
};
struct comparison {
    const char* what;
    const char* measured; // benchmark names
    const char* baseline;
    goal_kind kind;
    double goal;
    const char* reference = nullptr; // added_times_reference_at_most: the reference path
};

// Prints every run as the console reporter does, and keeps per benchmark the median CPU time
// per iteration (in ns; CPU time, which other load on the machine does not inflate) and any error a
// benchmark reported.
class collecting_reporter : public benchmark::ConsoleReporter {
  public:
    collecting_reporter() : benchmark::ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& reports) override;

    std::map<std::string, double> median_ns;
    std::map<std::string, double> allocations; // per call
    std::map<std::string, std::string> errors;
};

// Prints the table; returns the number of comparisons whose benchmarks failed. Comparisons left
// out by a filter are shown without figures; a goal that is missed is reported, not counted:
// timings are not tests.
int print_table(const std::vector<comparison>& comparisons, const collecting_reporter& results);

// Stops a benchmark whose set-up did not give the path it is meant to measure.
void fail(benchmark::State& state, const char* why);

} // namespace bench
