// One execution of the host's per-frame call (the CALL at 0x53E981) with one and with three
// chained hooks that only call next, against the host's own CALL of the same function.
#include "bench_table.h"
#include "host_image.h"

#include "injector/branch.h"
#include "platform/os.h"
#include "runtime/game_process_event.h"

#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t per_frame_site = runtime::per_frame_call_site; // 0x53E981
constexpr std::uint32_t caller_start = per_frame_site - 3;

// The host's per-frame function, as far as the caller can tell.
std::uint32_t frames = 0;
void* __cdecl host_per_frame() {
    ++frames;
    return &frames;
}

// sub esp, 12; CALL host_per_frame (at 0x53E981); add esp, 12; ret. The 12 bytes keep the
// callee's stack aligned as the compiler expects.
using caller_fn = void*(__cdecl*)();

class per_frame_setting {
  public:
    per_frame_setting() {
        if (!test_host::map_host_image()) return;
        test_host::reset_platform();
        test_host::reset_module();
        std::vector<std::uint8_t> code = {0x83, 0xEC, 0x0C};
        const auto call =
            test_host::rel32_instruction(0xE8, per_frame_site, (void*)&host_per_frame);
        code.insert(code.end(), call.begin(), call.end());
        code.insert(code.end(), {0x83, 0xC4, 0x0C, 0xC3});
        caller_code = std::make_unique<test_host::bytes_patch>(caller_start, code);
    }
    ~per_frame_setting() {
        hookers.clear(); // the last one puts the site's bytes back
        test_host::reset_module();
        caller_code.reset();
    }
    per_frame_setting(const per_frame_setting&) = delete;
    per_frame_setting& operator=(const per_frame_setting&) = delete;

    bool mapped() const { return caller_code != nullptr; }

    void add_hooks(int count) {
        for (int i = 0; i < count; ++i) {
            hookers.push_back(std::make_unique<runtime::per_frame_hooker>());
            hookers.back()->install(
                [](runtime::per_frame_hooker::next_type next) { return next(); });
        }
    }

    static void* frame() {
        volatile caller_fn caller = reinterpret_cast<caller_fn>(test_host::at(caller_start));
        return caller();
    }

    std::vector<std::unique_ptr<runtime::per_frame_hooker>> hookers;

  private:
    std::unique_ptr<test_host::bytes_patch> caller_code;
};

void run(benchmark::State& state, int hook_count) {
    per_frame_setting s;
    if (!s.mapped()) return bench::fail(state, "the host image could not be mapped at 0x400000");
    s.add_hooks(hook_count);

    // The site leads to the trampoline once hooked, the hooks are all registered, and one
    // execution still runs the host function exactly once.
    const auto target = injector::read_branch_target(per_frame_site);
    const bool site_right = hook_count == 0
                                ? target == reinterpret_cast<std::uintptr_t>(&host_per_frame)
                                : target != reinterpret_cast<std::uintptr_t>(&host_per_frame);
    const auto manager = runtime::per_frame_hooker::site_manager();
    const bool hooks_right = static_cast<int>(manager->hook_count()) == hook_count;
    const std::uint32_t before = frames;
    const bool host_ran = s.frame() == &frames && frames == before + 1;
    if (!site_right || !hooks_right || !host_ran)
        return bench::fail(state, "the per-frame site does not run what it should measure");

    const std::uint32_t start = frames;
    std::uint64_t executions = 0;
    const auto allocations = bench::allocation_count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.frame());
        ++executions;
    }
    bench::report_allocations(state, allocations);
    if (frames - start != static_cast<std::uint32_t>(executions))
        bench::fail(state, "the host function did not run once per execution");
}

void per_frame_direct(benchmark::State& state) {
    run(state, 0);
}
void per_frame_one_hook(benchmark::State& state) {
    run(state, 1);
}
void per_frame_three_hooks(benchmark::State& state) {
    run(state, 3);
}

} // namespace

BENCHMARK(per_frame_direct)->Apply(bench::repeat);
BENCHMARK(per_frame_one_hook)->Apply(bench::repeat);
BENCHMARK(per_frame_three_hooks)->Apply(bench::repeat);
