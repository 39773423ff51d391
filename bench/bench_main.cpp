// corvane_bench: runs every benchmark, then prints one table of each measured path against its
// baseline from the same run, with its goal (comparisons.cpp).
#include "bench_table.h"

#include <cstdio>
#include <vector>

void bench::repeat(benchmark::internal::Benchmark* b) {
    b->Repetitions(9)->ReportAggregatesOnly(true)->MinTime(0.1)->Unit(benchmark::kNanosecond);
}

int main(int argc, char** argv) {
    // Repetitions of all benchmarks run in random order, so a change of load on the machine
    // during the run falls on measured paths and baselines alike. A later flag overrides this.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    bench::collecting_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const int failed = bench::print_table(bench::comparisons(), reporter);
    if (failed) std::printf("%d comparison(s) failed: their benchmarks reported errors\n", failed);
    return failed ? 1 : 0;
}
