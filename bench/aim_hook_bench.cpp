// One aim-camera call made the way the host makes it (the CALL at 0x527A95): through
// aim_weapon_hook with sixteen weapon offsets whose match is the last, against the host's own
// CALL of the same camera double.
#include "aim_host.h"
#include "bench_table.h"

#include "injector/branch.h"
#include "plugin/aim_hook.h"
#include "plugin/weapon_offsets.h"

#include <memory>

namespace {

constexpr std::uint32_t aim_call_site = 0x527A95;
constexpr int entry_count = 16;
constexpr std::int32_t first_weapon_type = 100;
constexpr std::int32_t matched_weapon_type = first_weapon_type + entry_count - 1; // the last
constexpr unsigned forget_every = 1024;                                           // calls

// The host-like caller, the four host doubles and a list of sixteen entries; with `hooked`, the
// site's CALL leads to aim_weapon_hook, otherwise it is the host's own CALL of the camera.
class aim_setting {
  public:
    explicit aim_setting(bool hooked) {
        if (!test_host::map_host_image()) return;
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<test_host::aim_host>();
        plugin::create_weapon_offset_list();
        for (int i = 0; i < entry_count; ++i)
            plugin::set_weapon_offset({first_weapon_type + i, {0.5f, 0.25f, 1.0f}});
        host->player.set_weapon(2, matched_weapon_type);
        // Room for every call between two forget_calls, so recording never allocates.
        host->calls.find_player_args.reserve(forget_every);
        host->calls.camera.reserve(forget_every);
        host->calls.transforms.reserve(forget_every);
        // Whether the call took is seen where it matters: took_expected_path, before timing.
        if (hooked)
            static_cast<void>(injector::write_call(
                aim_call_site, reinterpret_cast<std::uintptr_t>(&plugin::aim_weapon_hook)));
    }
    ~aim_setting() {
        test_host::reset_module();
        host.reset();
    }
    aim_setting(const aim_setting&) = delete;
    aim_setting& operator=(const aim_setting&) = delete;

    std::uint32_t aim() { return host->call_aim_site(&object, target, f1, f2, f3); }

    // The doubles record every call; emptying keeps the vectors' storage.
    void forget_calls() {
        host->calls.find_player_args.clear();
        host->calls.camera.clear();
        host->calls.transforms.clear();
    }

    std::unique_ptr<test_host::aim_host> host;
    int object = 0;
    float target[3] = {7.0f, 8.0f, 9.0f};
    std::uint32_t f1 = 0x3E800000, f2 = 0xC0900000, f3 = 0x3A83126F; // 0.25, -4.5, 0.001
};

// The call reached the camera double, and with the hook it aimed at the transformed offset.
bool took_expected_path(aim_setting& s, bool hooked) {
    s.forget_calls();
    if (s.aim() != test_host::camera_result || s.host->calls.camera.size() != 1) return false;
    const auto& camera = s.host->calls.camera[0];
    const bool moved = camera.target != s.target;
    const bool transformed = s.host->calls.transforms.size() == 1 &&
                             camera.target_value[0] == 0.5f + test_host::transform_shift[0];
    s.forget_calls();
    return hooked ? moved && transformed : !moved && s.host->calls.transforms.empty();
}

void run(benchmark::State& state, bool hooked) {
    aim_setting s(hooked);
    if (!s.host) return bench::fail(state, "the host image could not be mapped at 0x400000");
    if (!took_expected_path(s, hooked))
        return bench::fail(state, "the aim call did not take the path it should measure");
    unsigned n = 0;
    const auto allocations = bench::allocation_count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.aim());
        if (++n % forget_every == 0) s.forget_calls();
    }
    bench::report_allocations(state, allocations);
}

void aim_call_direct(benchmark::State& state) {
    run(state, false);
}
void aim_call_hooked_16_entries(benchmark::State& state) {
    run(state, true);
}

} // namespace

BENCHMARK(aim_call_direct)->Apply(bench::repeat);
BENCHMARK(aim_call_hooked_16_entries)->Apply(bench::repeat);
