// corvane_bench: runs every benchmark, then prints one table of each measured path against its
// baseline from the same run, with its goal.
#include "bench_table.h"

#include <cstdio>
#include <vector>

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

    using bench::goal_kind;
    // The aim hook adds at most 1.5 times what the minimal hook adds over the host's own call.
    constexpr double aim_goal = 1.5;
    const char* const minimal = "aim_minimal_hook";
    const std::vector<bench::comparison> table = {
        {"minimal hook (one fixed offset)", "aim_minimal_hook", "aim_call_direct",
         goal_kind::breakdown, 0},
        {"aim hook, weapon is the first of 16", "aim_hook_first_of_16", "aim_call_direct",
         goal_kind::added_times_reference_at_most, aim_goal, minimal},
        {"aim hook, first of 16, other shoulder", "aim_hook_first_of_16_other_shoulder",
         "aim_call_direct", goal_kind::added_times_reference_at_most, aim_goal, minimal},
        {"aim hook, weapon is the last of 16", "aim_hook_last_of_16", "aim_call_direct",
         goal_kind::added_times_reference_at_most, aim_goal, minimal},
        {"aim hook, weapon takes the -1 default", "aim_hook_default", "aim_call_direct",
         goal_kind::added_times_reference_at_most, aim_goal, minimal},
        {"aim hook, no entry (passed through)", "aim_hook_no_entry", "aim_call_direct",
         goal_kind::added_times_reference_at_most, aim_goal, minimal},
        {"settings load (sample file)", "settings_load", "settings_read_lines_only",
         goal_kind::ratio_at_most, 2.0},
        {"  of which: the module's line reads", "settings_module_line_reads",
         "settings_read_lines_only", goal_kind::breakdown, 0},
        {"  of which: parsing lines 1 to 31 (no file)", "settings_parse_only",
         "settings_read_lines_only", goal_kind::breakdown, 0},
        {"corvane-check, sample file", "check_sample", "settings_load", goal_kind::ratio_at_most,
         3.0},
        {"  its text report (apart)", "check_sample_text_report", "settings_load",
         goal_kind::breakdown, 0},
        {"per-frame call, one hook", "per_frame_one_hook", "per_frame_direct",
         goal_kind::added_ns_at_most, 50.0},
        {"per-frame call, three hooks", "per_frame_three_hooks", "per_frame_direct",
         goal_kind::added_ns_at_most, 150.0},
        {"per-frame handler, pad_toggle, no controller", "per_frame_handler_pad_no_controller",
         "per_frame_handler_default_keys", goal_kind::added_ns_at_most, 20.0},
        {"reload frame changing nothing, with the log", "reload_frame_with_log",
         "reload_frame_without_log", goal_kind::ratio_at_most, 1.2},
    };
    const int failed = bench::print_table(table, reporter);
    if (failed) std::printf("%d comparison(s) failed: their benchmarks reported errors\n", failed);
    return failed ? 1 : 0;
}
