// One execution of the host's per-frame call (the CALL at 0x53E981) with one and with three
// chained hooks whose parts before and after the host's function do nothing, against the host's
// own CALL of the same function. And one
// frame of the started module reloading a settings file that has not changed, with corvane.log
// open against the same frame with no log. And the per-frame handler with pad_toggle set and no
// controller, against the handler with the default keys.
#include "aim_host.h"
#include "bench_table.h"
#include "host_image.h"

#include "injector/branch.h"
#include "platform/os.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/aiming_plugin.h"
#include "plugin/frame/per_frame.h"
#include "plugin/log/module_log.h"
#include "plugin/settings/file_values.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/weapon_offsets.h"
#include "runtime/game_process_event.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
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

    // False when a hook could not patch the site.
    bool add_hooks(int count) {
        bool patched = true;
        for (int i = 0; i < count; ++i) {
            hookers.push_back(std::make_unique<runtime::per_frame_hooker>());
            patched = patched && injector::was_made(hookers.back()->install({[] {}, [] {}}));
        }
        return patched;
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
    if (!s.add_hooks(hook_count)) return bench::fail(state, "a hook could not patch the site");

    // The site leads to the resident code once hooked, the hooks are all registered, and one
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

// The sample settings file with live reload switched on, in a folder of its own that the OS
// stand-in gives as the module's.
class reloading_folder {
  public:
    reloading_folder() {
        char pattern[] = "/tmp/corvane-bench-XXXXXX";
        if (!mkdtemp(pattern)) return;
        dir_ = pattern;
        std::ifstream sample(std::string(CORVANE_BENCH_SETTINGS_DIR) + "/aimingSets.dat");
        std::stringstream text;
        text << sample.rdbuf();
        std::string lines = text.str();
        lines.replace(0, lines.find('\n'), "ReloadEveryFrame 1");
        std::ofstream(dir_ + "/aimingSets.dat") << lines;
    }
    ~reloading_folder() {
        if (dir_.empty()) return;
        std::remove((dir_ + "/aimingSets.dat").c_str());
        rmdir(dir_.c_str());
    }
    reloading_folder(const reloading_folder&) = delete;
    reloading_folder& operator=(const reloading_folder&) = delete;

    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
};

// One host frame of the started module, build 1001, reloading the unchanged file: the key polls
// and a whole settings load, with the log open or, when `with_log` is false, with a log that
// could not be created.
void reload_frame(benchmark::State& state, bool with_log) {
    per_frame_setting s;
    const reloading_folder folder;
    if (!s.mapped() || folder.dir().empty())
        return bench::fail(state, "the host image or the settings folder is missing");
    auto& os_state = os::stand_in::current();
    os_state.module_paths[os_state.plugin_module] =
        os::stand_in::utf16(folder.dir() + "/corvane.dll");
    os_state.refuse_files = !with_log;
    const test_host::bytes_patch build_1001(0x401000, {0x55, 0x8B, 0xEC, 0x53});
    const test_host::aim_host aim; // the aim call site and the vector-set double
    // Unloads the module before the host's doubles above put their own bytes back.
    struct unload_first {
        ~unload_first() { test_host::reset_module(); }
    } unload;

    plugin::create_weapon_offset_list();
    plugin::start_aiming_plugin();
    s.frame(); // the first reload
    const bool reloading = plugin::reload_each_frame != 0 &&
                           !plugin::weapon_offset_list()->empty() &&
                           injector::read_branch_target(per_frame_site) !=
                               reinterpret_cast<std::uintptr_t>(&host_per_frame);
    if (!reloading || plugin::module_log_open() != with_log)
        return bench::fail(state, "the module did not start reloading as it should");
    const std::string log_path = with_log ? os::stand_in::utf8(plugin::log_file_path()) : "";
    const std::string log_before = with_log ? os_state.files.at(log_path) : "";

    os_state.key_queries.reserve(1024);
    os_state.protect_calls.reserve(1024);
    os_state.flushes.reserve(1024);
    unsigned n = 0;
    const auto allocations = bench::allocation_count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.frame());
        if (++n % 256 == 0) {
            os_state.key_queries.clear();
            os_state.protect_calls.clear();
            os_state.flushes.clear();
        }
    }
    bench::report_allocations(state, allocations);
    if (with_log && os_state.files.at(log_path) != log_before)
        bench::fail(state, "a frame that changed nothing wrote to the log");
}

void reload_frame_with_log(benchmark::State& state) {
    reload_frame(state, true);
}
void reload_frame_without_log(benchmark::State& state) {
    reload_frame(state, false);
}

// The per-frame handler as each frame runs it with live reload off: the default keys, or with
// pad_toggle set and no controller connected. The stand-in's clock moves 16 ms a frame, so the
// empty controller slots are asked about one a second, every 63rd frame, as in the game.
void handler_frame(benchmark::State& state, bool with_pad) {
    per_frame_setting s; // maps the host image and starts from a fresh module
    if (!s.mapped()) return bench::fail(state, "the host image could not be mapped at 0x400000");
    plugin::named_reading named;
    if (with_pad && !named.offer(plugin::named_first_line, "pad_toggle A"))
        return bench::fail(state, "pad_toggle A was not read");
    plugin::set_aim_key_settings(named.values());
    plugin::prepare_gamepad();        // as start-up does, before any frame
    plugin::note_start_up_finished(); // as start-up's last step does: the handler waits for it
    auto& os_state = os::stand_in::current();
    os_state.key_queries.reserve(1024);
    volatile auto handler = &plugin::per_frame_handler;
    handler();
    const int slots = with_pad ? 1 : 0; // with no controller, one empty slot a second
    if (os_state.gamepad_library_loads != 1 || os_state.pad_queries != slots ||
        plugin::reload_each_frame != 0)
        return bench::fail(state, "the handler did not ask for the gamepad as it should");

    const std::uint32_t start_ms = os_state.milliseconds;
    const int queries_before = os_state.pad_queries;
    unsigned n = 0;
    const auto allocations = bench::allocation_count();
    for (auto _ : state) {
        os_state.milliseconds += 16;
        handler();
        if (++n % 256 == 0) os_state.key_queries.clear();
    }
    bench::report_allocations(state, allocations);
    // Asked again on the first frame a whole second after the last asking: every 63rd frame.
    const std::uint32_t frames_per_asking = (1000 + 15) / 16;
    const std::uint32_t askings = (os_state.milliseconds - start_ms) / 16 / frames_per_asking;
    if (os_state.pad_queries - queries_before != static_cast<int>(askings) * slots)
        bench::fail(state, "the empty slots were not asked once a second");
}

void per_frame_handler_default_keys(benchmark::State& state) {
    handler_frame(state, false);
}
void per_frame_handler_pad_no_controller(benchmark::State& state) {
    handler_frame(state, true);
}

} // namespace

BENCHMARK(per_frame_handler_default_keys)->Apply(bench::repeat);
BENCHMARK(per_frame_handler_pad_no_controller)->Apply(bench::repeat);
BENCHMARK(reload_frame_without_log)->Apply(bench::repeat);
BENCHMARK(reload_frame_with_log)->Apply(bench::repeat);
BENCHMARK(per_frame_direct)->Apply(bench::repeat);
BENCHMARK(per_frame_one_hook)->Apply(bench::repeat);
BENCHMARK(per_frame_three_hooks)->Apply(bench::repeat);
