// corvane-check on the sample aimingSets.dat: its whole check of the file (read through the
// module's reader, every line laid out, checked and described), set beside the module's own load
// of the same file (settings_bench.cpp); and, apart, the text report made from the result.
#include "bench_table.h"

#include "tools/check/settings_check.h"

#include <string>

namespace {

const std::string sample = std::string(CORVANE_BENCH_SETTINGS_DIR) + "/aimingSets.dat";

bool sample_checks_clean() {
    const check::check_result result = check::check_settings_file(sample);
    return result.readable && result.exit_status() == 0 && result.positions.size() == 31;
}

void check_sample(benchmark::State& state) {
    if (!sample_checks_clean())
        return bench::fail(state, "the sample settings file does not check clean");
    const auto allocations = bench::allocation_count();
    for (auto _ : state) {
        check::check_result result = check::check_settings_file(sample);
        benchmark::DoNotOptimize(result);
    }
    bench::report_allocations(state, allocations);
}

void check_sample_text_report(benchmark::State& state) {
    if (!sample_checks_clean())
        return bench::fail(state, "the sample settings file does not check clean");
    const check::check_result result = check::check_settings_file(sample);
    for (auto _ : state) {
        std::string report = check::text_report(result);
        benchmark::DoNotOptimize(report);
    }
}

} // namespace

BENCHMARK(check_sample)->Apply(bench::repeat);
BENCHMARK(check_sample_text_report)->Apply(bench::repeat);
