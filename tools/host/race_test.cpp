// The game's frames and aims go on, on a thread of their own, while corvane.dll is loaded and
// unloaded again and again on another: whatever moment the module comes or goes, each frame and
// each aim of the game gets the result the game's own code gives, and the game keeps running.
#include "dll_under_test.h"
#include "simulated_host.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using sim::host_build;
using sim::simulated_host;
namespace address = sim::address;

using point = std::array<float, 3>;


// Reloading off, the game's own values and rows kept; weapon 22, the one aimed with, has an
// offset, so that its aims go through corvane while it is loaded.
const char* const race_settings =
    "ReloadEachFrame 0\n-\nA\nB\nC\nD\nE\nF\nG\n-\nR0\nR1\nR2\nR3\n-\n"
    "22 0.5 0.2 0.1\n";

// What the game thread saw. Only that thread writes it; it is read after the thread ends.
struct game_thread_record {
    int frames = 0;
    int aims = 0;
    int aims_through_corvane = 0;
    std::string first_fault; // empty: every result was the game's own
};

// The game's loop on a thread of its own, and, when asked, a pause of it around each unload.
class game_thread {
  public:
    explicit game_thread(simulated_host& host) : host_(host), thread_([this] { run(); }) {}
    ~game_thread() { stop(); }

    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Holds the game between two of its frames; returns once it is held.
    void hold() {
        hold_ = true;
        while (!held_.load() && !finished_.load())
            Sleep(0);
    }
    void release() { hold_ = false; }
    const game_thread_record& record() const { return record_; }

  private:
    // Frames and aims, as the game runs them. Each result is checked here, on the thread that
    // made it: the host's counters belong to this thread alone.
    void run() {
        const point target = {1.0f, 2.0f, 3.0f};
        while (!stop_.load() && record_.first_fault.empty()) {
            if (hold_.load()) {
                held_ = true;
                while (hold_.load() && !stop_.load())
                    Sleep(0);
                held_ = false;
                continue;
            }
            const std::uint32_t result = host_.run_frame();
            ++record_.frames;
            if (result != host_.last_frame_result())
                record_.first_fault = "frame " + std::to_string(record_.frames) + " got " +
                                      std::to_string(result) + " instead of the game's own result";
            const sim::aim_outcome aim = host_.aim(target);
            ++record_.aims;
            if (aim.transform_calls == 1) ++record_.aims_through_corvane;
            if (aim.result != sim::camera_result || aim.camera_calls != 1 ||
                aim.transform_calls > 1)
                record_.first_fault = "aim " + std::to_string(record_.aims) + " got " +
                                      std::to_string(aim.result) + " after " +
                                      std::to_string(aim.camera_calls) + " camera calls";
        }
        finished_ = true;
    }

    simulated_host& host_;
    std::atomic<bool> stop_{false}, hold_{false}, held_{false}, finished_{false};
    game_thread_record record_;
    std::thread thread_;
};

// 50 loads and unloads of the module while the game thread runs; with `frames_during_unload`
// false the game is held between two frames for each unload.
void load_and_unload_while_the_game_runs(bool frames_during_unload) {
    constexpr int cycles = 50;
    simulated_host host(host_build::b1001);
    host.set_weapon(2, 22);
    sim::plugin_module module(dll_under_test());
    ASSERT_TRUE(module.ready()) << "cannot copy " << dll_under_test();
    ASSERT_TRUE(module.write_settings(race_settings));

    game_thread game(host);
    int cycles_run = 0;
    for (; cycles_run < cycles; ++cycles_run) {
        Sleep(cycles_run % 3); // each load comes at another moment of the game's loop
        if (!module.load()) break;
        Sleep(1);
        if (!frames_during_unload) game.hold();
        const bool unloaded = module.unload();
        game.release();
        if (!unloaded) break;
        if (host.bytes_at(address::aim_call_site) != simulated_host::original_aim_site_bytes() ||
            host.bytes_at(address::frame_call_site) != simulated_host::original_frame_site_bytes())
            break;
    }
    game.stop();

    const game_thread_record& record = game.record();
    EXPECT_EQ(cycles_run, cycles) << "a load, an unload or a site put back failed";
    EXPECT_EQ(record.first_fault, "");
    EXPECT_GT(record.aims_through_corvane, 0) << "the game aimed through corvane while loaded";
    std::printf("%d cycles; the game thread ran %d frames and %d aims, %d through corvane\n",
                cycles_run, record.frames, record.aims, record.aims_through_corvane);
}

// Start-up patches the two calls while the game runs them: each frame and aim finds either the
// game's own call or corvane whole.
TEST(race, the_module_loads_again_and_again_while_the_game_runs_frames_and_aims) {
    load_and_unload_while_the_game_runs(false);
}

// Unloading while the game runs: a frame or an aim already inside corvane when it is unloaded
// must leave it before the module goes, and one that took a call just before the unload must
// still find the resident jump it called. Without the wait for them, or with the jumps given
// back at unload, the game crashed under Wine within a few runs.
TEST(race, the_module_unloads_again_and_again_while_the_game_runs_frames_and_aims) {
    load_and_unload_while_the_game_runs(true);
}

} // namespace
