#include "bench_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
std::uint64_t new_calls = 0;
}

void* operator new(std::size_t size) {
    ++new_calls;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace bench {

std::uint64_t allocation_count() noexcept {
    return new_calls;
}

void report_allocations(benchmark::State& state, std::uint64_t start) {
    state.counters["new/call"] = benchmark::Counter(static_cast<double>(new_calls - start),
                                                    benchmark::Counter::kAvgIterations);
}

void fail(benchmark::State& state, const char* why) {
    state.SkipWithError(why);
}

void collecting_reporter::ReportRuns(const std::vector<Run>& reports) {
    // One call per benchmark: its repetitions and their aggregates, or only the aggregates.
    std::map<std::string, std::vector<double>> repetitions;
    for (const Run& run : reports) {
        const std::string& name = run.run_name.function_name;
        if (run.error_occurred) {
            errors[name] = run.error_message;
            continue;
        }
        const double ns =
            run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        const auto news = run.counters.find("new/call");
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
            median_ns[name] = ns;
            if (news != run.counters.end()) allocations[name] = news->second.value;
        } else if (run.run_type == Run::RT_Iteration && news != run.counters.end()) {
            allocations.emplace(name, news->second.value);
        }
        if (run.run_type == Run::RT_Iteration) repetitions[name].push_back(ns);
    }
    // Without aggregates (a single repetition, or all of them shown), take the median here.
    for (auto& [name, values] : repetitions) {
        if (median_ns.count(name)) continue;
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        median_ns[name] = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
    benchmark::ConsoleReporter::ReportRuns(reports);
}

namespace {} // namespace

int print_table(const std::vector<comparison>& comparisons, const collecting_reporter& results) {
    int failed = 0;
    std::printf("\ncorvane benchmarks: median CPU time per call over the repetitions, measured "
                "path against its baseline in the same run\n\n");
    std::printf("%-42s %12s %12s %8s %12s %8s  %-16s %s\n", "comparison", "measured", "baseline",
                "ratio", "added", "new/call", "goal", "meets goal");
    for (const comparison& c : comparisons) {
        row_figures row;
        std::string problem;
        const figure got = find_row(c, c.timed, results.median_ns, results.errors, row, problem);
        if (got != figure::found) {
            std::printf("%-42s  (no figure: %s)\n", c.what, problem.c_str());
            if (got == figure::failed) ++failed;
            continue;
        }
        const double measured = row.measured, baseline = row.baseline;
        const double ratio = measured / baseline;
        const double added = measured - baseline;
        const auto news = results.allocations.find(c.measured);
        char allocations[16] = "-";
        if (news != results.allocations.end())
            std::snprintf(allocations, sizeof allocations, "%.2f", news->second);
        char goal[32] = "(breakdown)";
        const char* verdict = "-";
        const bench::verdict v = judge(c.timed, measured, baseline, row.reference);
        if (c.timed.kind == goal_kind::ratio_at_most)
            std::snprintf(goal, sizeof goal, "ratio <= %.1f", v.allowed);
        else if (c.timed.kind == goal_kind::added_at_most)
            std::snprintf(goal, sizeof goal, "added <= %.0f ns", v.allowed);
        else if (c.timed.kind == goal_kind::added_times_reference_at_most)
            std::snprintf(goal, sizeof goal, "added <= %.1f ns", v.allowed);
        if (c.timed.kind != goal_kind::breakdown) verdict = v.meets ? "yes" : "NO";
        std::printf("%-42s %9.1f ns %9.1f ns %7.2fx %+9.1f ns %8s  %-16s %s\n", c.what, measured,
                    baseline, ratio, added, allocations, goal, verdict);
    }
    std::printf("\n");
    return failed;
}

} // namespace bench
