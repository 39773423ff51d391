// One aim-camera call made the way the host makes it (the CALL at 0x527A95), through the
// module's resident code (which calls aim_weapon_hook with sixteen weapon offsets, then the
// camera), against the host's own CALL of the camera and against the least a hook that moves the
// aim can do through the same resident code (minimal_aim_share).
//
// The path is checked first with the recording host doubles; the timed loop then runs against
// doubles that only do their job (find-player returns the record, the transform writes its
// result, the camera returns), so the figures show what the hook itself adds.
#include "aim_host.h"
#include "bench_table.h"

#include "injector/branch.h"
#include "injector/resident.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/frame/per_frame.h"
#include "plugin/host.h"
#include "plugin/settings/weapon_offsets.h"

#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

namespace host = plugin::host_addresses;
constexpr std::uint32_t aim_call_site = host::aim_call_site;
constexpr std::uint32_t host_find_player = host::find_player;
constexpr std::uint32_t host_aim_camera = host::aim_camera;
constexpr std::uint32_t host_transform_offset = host::transform_offset;

constexpr int entry_count = 16;
constexpr std::int32_t first_type = 100;
constexpr std::int32_t last_type = first_type + entry_count - 1;
constexpr std::int32_t unlisted_type = 200;

// Entry i's offset: x tells which entry the hook used.
float entry_x(int i) {
    return 1.0f + static_cast<float>(i);
}

// The quiet doubles, free of globals (no position-independent code addressing in them): the
// player record the hook reads is a copy at a fixed place in the host image, the transform
// copies the offset into its result, and the camera reads its target.
constexpr std::uint32_t quiet_player_address = 0x600000;

void* __cdecl quiet_find_player(std::int32_t) {
    return test_host::at(quiet_player_address);
}
// Returns the first word of the target it was given, so the quiet path can be checked too.
void* __thiscall quiet_aim_camera(void*, float* target, std::uint32_t, std::uint32_t,
                                  std::uint32_t) {
    std::uint32_t x;
    std::memcpy(&x, target, sizeof x);
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(x));
}
void* __thiscall quiet_transform_offset(void*, float* result, float* offset) {
    std::memcpy(result, offset, 3 * sizeof(float));
    return result;
}

// The least a hook that moves the aim can do while it stays off the game's stack when the camera
// runs: its share finds the player, takes one fixed offset and has the game transform it; the
// resident code then aims the camera there, as it does for the module's hook. The aim goal is
// set against what this adds.
const float* __cdecl minimal_aim_share(const float*, float* room) noexcept {
    plugin::host_player* const player = plugin::host_find_player(-1);
    float offset[3] = {entry_x(0), 0.25f, 1.0f};
    plugin::host_transform_offset(player, room, offset);
    return room;
}

// module_with_frame_work: the module's hook as it runs where the game's per-frame call is not
// corvane's, the aim running the per-frame work when it is due; in the loop it is never due (the
// stand-in's clock stands still), the common case of aims within one frame's time.
enum class hook_kind { none, module, minimal, module_with_frame_work };

// What one benchmark measures: whether the site is hooked, the list's last entry (a weapon
// type, or -1 for the default), the weapon in hand, and the entry the hook must use (none: the
// host's call passes through).
struct aim_case {
    hook_kind hook;
    std::int32_t last_entry_type;
    std::int32_t weapon;
    std::optional<int> used_entry;
    float factor = 1.0f; // published to the hook: 1 normal, -3 the other shoulder
};

// The host-like caller and the host doubles; sixteen entries; with `hooked`, the site's CALL
// leads to aim_weapon_hook, otherwise it is the host's own CALL of the camera.
class aim_setting {
  public:
    explicit aim_setting(const aim_case& c) {
        if (!test_host::map_host_image()) return;
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<test_host::aim_host>();
        plugin::create_weapon_offset_list();
        plugin::begin_weapon_offset_load();
        for (int i = 0; i < entry_count; ++i) {
            const std::int32_t type = i == entry_count - 1 ? c.last_entry_type : first_type + i;
            plugin::set_weapon_offset({type, {entry_x(i), 0.25f, 1.0f}});
        }
        host->player.set_weapon(2, c.weapon);
        plugin::publish_aim_factor(c.factor);
        // Whether the call was written shows in the path check before timing. Both hooks are
        // reached as the module reaches its own, through resident code that calls the camera.
        if (c.hook == hook_kind::module) static_cast<void>(host->hook_aim_site());
        if (c.hook == hook_kind::minimal)
            static_cast<void>(minimal.attach(aim_call_site,
                                             reinterpret_cast<std::uintptr_t>(&minimal_aim_share),
                                             host_aim_camera));
        if (c.hook == hook_kind::module_with_frame_work)
            static_cast<void>(minimal.attach(
                aim_call_site, reinterpret_cast<std::uintptr_t>(&plugin::aim_hook_with_frame_work),
                host_aim_camera));
    }
    ~aim_setting() {
        static_cast<void>(minimal.release());
        quiet.clear(); // the recording doubles come back, then aim_host removes them
        test_host::reset_module();
        host.reset();
    }
    aim_setting(const aim_setting&) = delete;
    aim_setting& operator=(const aim_setting&) = delete;

    std::uint32_t aim() { return host->call_aim_site(&object, target, f1, f2, f3); }

    // The call reached the camera double once, and aimed at the expected entry's offset or at
    // the host's own target.
    bool takes_path(const aim_case& c) {
        host->calls = {};
        if (aim() != test_host::camera_result || host->calls.camera.size() != 1) return false;
        const auto& camera = host->calls.camera[0];
        if (!c.used_entry) return camera.target == target && host->calls.transforms.empty();
        const float x = entry_x(*c.used_entry) * c.factor;
        return camera.target != target && host->calls.transforms.size() == 1 &&
               host->calls.transforms[0].offset[0] == x &&
               camera.target_value[0] == x + test_host::transform_shift[0];
    }

    // From here on the host functions only do their job.
    void go_quiet() {
        const auto& record = host->player.bytes;
        quiet.push_back(std::make_unique<test_host::bytes_patch>(
            quiet_player_address, std::vector<std::uint8_t>(record, record + sizeof record)));
        const auto jump = [this](std::uint32_t address, const void* double_) {
            quiet.push_back(std::make_unique<test_host::bytes_patch>(
                address, test_host::rel32_instruction(0xE9, address, double_)));
        };
        jump(host_find_player, reinterpret_cast<const void*>(&quiet_find_player));
        jump(host_aim_camera, reinterpret_cast<const void*>(&quiet_aim_camera));
        jump(host_transform_offset, reinterpret_cast<const void*>(&quiet_transform_offset));
    }

    std::unique_ptr<test_host::aim_host> host;
    injector::resident_call minimal{injector::resident_kind::retarget};
    std::vector<std::unique_ptr<test_host::bytes_patch>> quiet;
    int object = 0;
    float target[3] = {7.0f, 8.0f, 9.0f};
    std::uint32_t f1 = 0x3E800000, f2 = 0xC0900000, f3 = 0x3A83126F; // 0.25, -4.5, 0.001
};

void run(benchmark::State& state, const aim_case& c) {
    aim_setting s(c);
    if (!s.host) return bench::fail(state, "the host image could not be mapped at 0x400000");
    if (!s.takes_path(c))
        return bench::fail(state, "the aim call did not take the path it should measure");
    s.go_quiet();
    const float aimed_x = c.used_entry ? entry_x(*c.used_entry) * c.factor : s.target[0];
    if (s.aim() != std::bit_cast<std::uint32_t>(aimed_x))
        return bench::fail(state, "with the quiet doubles the aim call took another path");
    const auto allocations = bench::allocation_count();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.aim());
    bench::report_allocations(state, allocations);
}

constexpr auto module_hook = hook_kind::module;

void aim_call_direct(benchmark::State& state) {
    run(state, {hook_kind::none, last_type, first_type, std::nullopt});
}
void aim_minimal_hook(benchmark::State& state) {
    run(state, {hook_kind::minimal, last_type, first_type, 0});
}
void aim_hook_first_of_16(benchmark::State& state) {
    run(state, {module_hook, last_type, first_type, 0});
}
void aim_hook_first_of_16_other_shoulder(benchmark::State& state) {
    run(state, {module_hook, last_type, first_type, 0, -3.0f});
}
void aim_hook_last_of_16(benchmark::State& state) {
    run(state, {module_hook, last_type, last_type, entry_count - 1});
}
void aim_hook_default(benchmark::State& state) {
    run(state, {module_hook, -1, unlisted_type, entry_count - 1});
}
void aim_hook_no_entry(benchmark::State& state) {
    run(state, {module_hook, last_type, unlisted_type, std::nullopt});
}
void aim_hook_running_frames_not_due(benchmark::State& state) {
    run(state, {hook_kind::module_with_frame_work, last_type, first_type, 0});
}

} // namespace

BENCHMARK(aim_call_direct)->Apply(bench::repeat);
BENCHMARK(aim_minimal_hook)->Apply(bench::repeat);
BENCHMARK(aim_hook_first_of_16)->Apply(bench::repeat);
BENCHMARK(aim_hook_first_of_16_other_shoulder)->Apply(bench::repeat);
BENCHMARK(aim_hook_last_of_16)->Apply(bench::repeat);
BENCHMARK(aim_hook_default)->Apply(bench::repeat);
BENCHMARK(aim_hook_no_entry)->Apply(bench::repeat);
BENCHMARK(aim_hook_running_frames_not_due)->Apply(bench::repeat);
