// corvane_count: the benchmarks of corvane_bench, each run a fixed number of times, so that the
// instructions they execute can be counted from outside, under qemu-i386 (bench/count.sh), where
// the count is the same on every machine and in every run.
//
//   CORVANE_COUNT_CALLS=N corvane_count [--benchmark_filter=REGEX]
//       runs each benchmark's loop N times (default 1) and names each benchmark on standard
//       output: "ran NAME N", or "failed NAME: why"
//   corvane_count --table FIRST [SECOND] [--check]
//       the table of the counts of one or two runs
//
// The timed loop of each benchmark is framed by two calls that show in qemu's log of executed
// instructions: count_window_open, once the benchmark library has started its loop, and
// count_window_close, before it ends it; after each benchmark, count_results_reported.
// bench/count.sh finds these three functions in the log and runs the driver with N and with 2N
// calls: the difference of the two frames is N calls of the path alone, whatever the set-up, the
// first call's extra work or the frame itself cost.
#include "bench_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

volatile unsigned windows_opened = 0, windows_closed = 0, results_reported = 0;

} // namespace

void bench::repeat(benchmark::internal::Benchmark* b) {
    const char* const calls = std::getenv("CORVANE_COUNT_CALLS");
    b->Iterations(calls ? std::atoll(calls) : 1)->Repetitions(1);
}

// The marks in the log. Each does something of its own, so that the compiler keeps three
// functions at three addresses.
extern "C" __attribute__((noipa)) void count_window_open() {
    windows_opened = windows_opened + 1;
}
extern "C" __attribute__((noipa)) void count_window_close() {
    windows_closed = windows_closed + 1;
}
extern "C" __attribute__((noipa)) void count_results_reported() {
    results_reported = results_reported + 1;
}

// The benchmark library's start and end of a timed loop, wrapped (CMake links corvane_count
// with --wrap for both): the frame lies inside the library's own timer work.
extern "C" {
void __real__ZN9benchmark5State16StartKeepRunningEv(benchmark::State* state);
void __real__ZN9benchmark5State17FinishKeepRunningEv(benchmark::State* state);
void __wrap__ZN9benchmark5State16StartKeepRunningEv(benchmark::State* state) {
    __real__ZN9benchmark5State16StartKeepRunningEv(state);
    count_window_open();
}
void __wrap__ZN9benchmark5State17FinishKeepRunningEv(benchmark::State* state) {
    count_window_close();
    __real__ZN9benchmark5State17FinishKeepRunningEv(state);
}
}

namespace {

// Names each benchmark once its repetitions are done ("ran NAME", or "failed NAME: why"), then
// marks the log: the frames before the mark are the benchmark's.
class naming_reporter : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& reports) override {
        // The runs come first, then any aggregates (mean, median...), which say nothing here.
        if (reports.empty() || reports.front().run_type == Run::RT_Aggregate) return;
        std::string failure;
        for (const Run& run : reports)
            if (run.error_occurred) failure = run.error_message;
        const std::string name = reports.front().run_name.function_name;
        if (failure.empty())
            std::printf("ran %s %lld\n", name.c_str(),
                        static_cast<long long>(reports.back().iterations));
        else
            std::printf("failed %s: %s\n", name.c_str(), failure.c_str());
        std::fflush(stdout);
        count_results_reported();
    }
};

int run_benchmarks(int argc, char** argv) {
    int count = argc;
    benchmark::Initialize(&count, argv);
    if (benchmark::ReportUnrecognizedArguments(count, argv)) return 2;

    naming_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (windows_opened != windows_closed) {
        std::fprintf(stderr, "corvane_count: %u loops started and %u ended\n", windows_opened,
                     windows_closed);
        return 1;
    }
    return 0;
}

// --- the table -------------------------------------------------------------------------------

// One run's counts, as bench/count.sh writes them: for each benchmark, "NAME CALLS INSTRUCTIONS"
// (what CALLS more calls of the path executed), or "NAME why there is no figure".
struct run_counts {
    std::map<std::string, double> per_call;
    std::map<std::string, std::string> failures;
    long long calls = 0;
};

bool read_counts(const char* path, run_counts& counts) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) {
        std::fprintf(stderr, "corvane_count: cannot read %s\n", path);
        return false;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, file)) {
        line[std::strcspn(line, "\n")] = '\0';
        char name[256];
        long long calls = 0;
        double instructions = 0;
        int used = 0;
        if (std::sscanf(line, "%255s %lld %lf", name, &calls, &instructions) == 3 && calls > 0) {
            counts.per_call[name] = instructions / static_cast<double>(calls);
            counts.calls = calls;
        } else if (std::sscanf(line, "%255s %n", name, &used) == 1) {
            counts.failures[name] = line + used;
        }
    }
    std::fclose(file);
    return true;
}

int print_table(const std::vector<run_counts>& runs, bool check) {
    const run_counts& counts = runs.front();
    int failed = 0, missed = 0, held = 0;
    std::printf("\ncorvane counted instructions: per call of each path (what %lld more calls of it "
                "executed, under qemu-i386), against its baseline in the same run\n\n",
                counts.calls);
    std::printf("%-44s %10s %10s %8s %10s  %-18s %-10s %s\n", "comparison", "measured", "baseline",
                "ratio", "added", "goal", "meets goal", "moonshot");
    for (const bench::comparison& c : bench::comparisons()) {
        bench::row_figures row;
        std::string problem;
        const bench::figure got =
            bench::find_row(c, c.counted, counts.per_call, counts.failures, row, problem);
        if (got != bench::figure::found) {
            std::printf("%-44s  (no figure: %s)\n", c.what, problem.c_str());
            // Checked, a path that ran must be judged: its baseline or reference must run too.
            const bool measured_ran = counts.per_call.count(c.measured) != 0;
            if (got == bench::figure::failed || (check && measured_ran)) ++failed;
            continue;
        }
        const double measured = row.measured, baseline = row.baseline;
        const bench::verdict v = bench::judge(c.counted, measured, baseline, row.reference);
        char goal[40] = "(breakdown)";
        switch (c.counted.kind) {
        case bench::goal_kind::ratio_at_most:
            std::snprintf(goal, sizeof goal, "ratio <= %.2f", v.allowed);
            break;
        case bench::goal_kind::added_at_most:
            std::snprintf(goal, sizeof goal, "added <= %.0f", v.allowed);
            break;
        case bench::goal_kind::added_times_reference_at_most:
            std::snprintf(goal, sizeof goal, "added <= %.1f", v.allowed);
            break;
        case bench::goal_kind::breakdown:
            break;
        }
        const bool judged = c.counted.kind != bench::goal_kind::breakdown;
        if (judged && !v.within_hold) ++missed;
        if (judged && !v.meets && v.within_hold) ++held;
        const char* moonshot = c.counted.moonshot == 0 ? "-" : v.meets_moonshot ? "yes" : "no";
        const char* meets = !judged ? "-" : v.meets ? "yes" : v.within_hold ? "NO (held)" : "NO";
        std::printf("%-44s %10.1f %10.1f %7.2fx %+10.1f  %-18s %-10s %s\n", c.what, measured,
                    baseline, measured / baseline, measured - baseline, goal, meets, moonshot);
    }

    // Counted instructions do not depend on the machine or its load: two runs must agree.
    int differ = 0;
    for (std::size_t i = 1; i < runs.size(); ++i) {
        for (const auto& [name, instructions] : counts.per_call) {
            const auto other = runs[i].per_call.find(name);
            if (other != runs[i].per_call.end() && other->second == instructions) continue;
            if (differ++ == 0) std::printf("\n");
            if (other == runs[i].per_call.end())
                std::printf("run %zu has no count of %s\n", i + 1, name.c_str());
            else
                std::printf("the runs differ: %s counted %.2f instructions a call in run 1, %.2f "
                            "in run %zu\n",
                            name.c_str(), instructions, other->second, i + 1);
        }
    }
    if (runs.size() > 1 && differ == 0)
        std::printf("\nThe %zu runs counted the same instructions in every benchmark.\n",
                    runs.size());
    std::printf("\n");
    if (failed)
        std::printf("%d comparison(s) failed: a benchmark reported an error%s\n", failed,
                    check ? ", or ran without its baseline or reference" : "");
    if (held)
        std::printf("%d counted goal(s) not met yet, held where they stand (the table's goals "
                    "above; docs/performance.md)\n",
                    held);
    if (check && missed) std::printf("%d counted goal(s) missed\n", missed);
    if (failed) return 1;
    return check && (missed || differ) ? 1 : 0;
}

int print_tables(int argc, char** argv) {
    std::vector<run_counts> runs;
    bool check = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
            continue;
        }
        runs.emplace_back();
        if (!read_counts(argv[i], runs.back())) return 2;
    }
    if (runs.empty()) {
        std::fprintf(stderr, "usage: corvane_count --table FIRST [SECOND] [--check]\n");
        return 2;
    }
    return print_table(runs, check);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--table") == 0) return print_tables(argc, argv);
    return run_benchmarks(argc, argv);
}
