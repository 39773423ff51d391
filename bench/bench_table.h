// What every benchmark shares: the repetition settings, and the closing table that sets each
// measured path against its baseline from the same run. corvane_bench times the benchmarks;
// corvane_count runs the same ones a fixed number of times to count their instructions, with
// its own `repeat` (count_main.cpp).
#pragma once

#include "comparisons.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Timed: nine repetitions of at least 0.1 s each, interleaved with those of the other
// benchmarks (see bench_main.cpp); the table uses their median. Counted: see count_main.cpp.
void repeat(benchmark::internal::Benchmark* b);

// Every `operator new` of the process is counted, so that a benchmark can tell how many
// allocations one call of its path makes.
std::uint64_t allocation_count() noexcept;
// Sets the benchmark's "new/call" counter from the allocations made since `start`.
void report_allocations(benchmark::State& state, std::uint64_t start);

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

// Prints the table of times; returns the number of comparisons whose benchmarks failed.
// Comparisons left out by a filter are shown without figures; a goal that is missed is reported,
// not counted: timings are not tests.
int print_table(const std::vector<comparison>& comparisons, const collecting_reporter& results);

// Stops a benchmark whose set-up did not give the path it is meant to measure.
void fail(benchmark::State& state, const char* why);

} // namespace bench
