// corvane goes while a thread of the game is inside one of the calls it changed: inside the
// game's own frame or camera, inside corvane's own short work, or the game itself unloads corvane
// or quits from its frame. The game must never crash or hang for it, and an unload waits only for
// corvane's own work. Also: another plug-in's JMP on the per-frame call is left alone.
#include "dll_under_test.h"
#include "simulated_host.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

using sim::host_build;
using sim::simulated_host;
namespace address = sim::address;

using point = std::array<float, 3>;
const point host_target = {1000.0f, 2000.0f, 3000.0f};


// Reloading off; weapon 22, the one aimed with, has an offset.
const char* const settings =
    "ReloadEachFrame 0\n-\nA\nB\nC\nD\nE\nF\nG\n-\nR0\nR1\nR2\nR3\n-\n22 0.5 0.2 0.1\n";

// How long the game's own work is held in the cases below, and the most an unload that does
// not wait for it may take (FreeLibrary itself, under an emulator too).
constexpr DWORD held_ms = 3000;
constexpr DWORD unload_at_most_ms = 500;

class unload_while_busy : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::during_key_poll() = nullptr;
        sim::during_file_flush() = nullptr;
    }
    void TearDown() override {
        sim::during_key_poll() = nullptr;
        sim::during_file_flush() = nullptr;
        if (game.joinable()) game.join();
        module.reset();
        host.reset();
    }

    void start(const std::function<void(simulated_host&)>& before_load = {},
               const char* file = settings) {
        host = std::make_unique<simulated_host>(host_build::b1001);
        host->set_weapon(2, 22);
        if (before_load) before_load(*host);
        module = std::make_unique<sim::plugin_module>(dll_under_test());
        ASSERT_TRUE(module->ready()) << "cannot copy " << dll_under_test();
        ASSERT_TRUE(module->write_settings(file));
        ASSERT_TRUE(module->load());
        ASSERT_TRUE(module->count_key_polls());
    }

    // Unloads corvane; how long FreeLibrary took.
    DWORD timed_unload() {
        const DWORD started = GetTickCount();
        EXPECT_TRUE(module->unload());
        return GetTickCount() - started;
    }

    // Runs `work` on a game thread of its own and returns once the game is inside the part
    // that `inside` marks.
    void on_game_thread(const std::function<void()>& work) {
        game = std::thread(work);
        while (!inside.load())
            Sleep(1);
    }

    void expect_the_games_own_frame() {
        const std::uint32_t result = host->run_frame();
        EXPECT_EQ(result, host->last_frame_result());
    }

    void expect_the_games_own_aim() {
        const sim::aim_outcome aim = host->aim(host_target);
        EXPECT_EQ(aim.result, sim::camera_result);
        EXPECT_EQ(aim.transform_calls, 0);
        EXPECT_EQ(aim.camera.target, host_target);
    }

    std::unique_ptr<simulated_host> host;
    std::unique_ptr<sim::plugin_module> module;
    std::thread game;
    std::atomic<bool> inside{false};
};

// A frame takes seconds (a loading screen) when the loader unloads corvane: the frame comes back
// to the game, and the unload does not wait for it.
TEST_F(unload_while_busy, a_long_frame_returns_to_the_game_and_is_not_waited_for) {
    ASSERT_NO_FATAL_FAILURE(start());
    host->during_frame = [this] {
        inside = true;
        Sleep(held_ms);
    };
    std::uint32_t result = 0, expected = 0;
    on_game_thread([&] {
        result = host->run_frame();
        expected = host->last_frame_result();
    });
    EXPECT_LE(timed_unload(), unload_at_most_ms);
    game.join();
    EXPECT_EQ(result, expected) << "not the game's own frame result (or the stack was off)";
    host->during_frame = nullptr;
    expect_the_games_own_frame();
}

// An aim is inside the game's camera when corvane goes: it finishes with corvane's point, which
// the resident code keeps, and returns to the game.
TEST_F(unload_while_busy, an_aim_inside_the_camera_finishes_with_corvanes_point) {
    ASSERT_NO_FATAL_FAILURE(start());
    host->during_camera = [this] {
        inside = true;
        Sleep(held_ms);
    };
    sim::aim_outcome aim;
    on_game_thread([&] { aim = host->aim(host_target); });
    EXPECT_LE(timed_unload(), unload_at_most_ms);
    game.join();
    host->during_camera = nullptr;
    EXPECT_EQ(aim.result, sim::camera_result);
    EXPECT_EQ(aim.transform_calls, 1);
    EXPECT_EQ(aim.camera.target, aim.transform_result) << "corvane's point, read after the unload";
    expect_the_games_own_aim();
}

// The game's frame function itself unloads corvane (a loader that reloads plug-ins from the
// game's loop): the unload does not wait for the frame it is in, the frame returns, and the next
// frames and aims are the game's own.
TEST_F(unload_while_busy, the_games_frame_unloads_corvane_and_returns_at_once) {
    ASSERT_NO_FATAL_FAILURE(start());
    DWORD took = 0;
    host->during_frame = [&] {
        host->during_frame = nullptr;
        took = timed_unload();
    };
    expect_the_games_own_frame();
    EXPECT_LE(took, unload_at_most_ms);
    const std::size_t polls = sim::key_polls().size();
    expect_the_games_own_frame();
    EXPECT_EQ(sim::key_polls().size(), polls) << "no key polled after the unload";
    expect_the_games_own_aim();
}

// corvane's own work of a frame (a key poll) is under way when it unloads: that is waited for,
// and the frame returns to the game.
TEST_F(unload_while_busy, corvanes_own_work_is_waited_for) {
    ASSERT_NO_FATAL_FAILURE(start());
    constexpr DWORD poll_ms = 300;
    sim::during_key_poll() = [this] {
        if (inside.exchange(true)) return; // the first poll only
        Sleep(poll_ms);
    };
    std::uint32_t result = 0, expected = 0;
    on_game_thread([&] {
        result = host->run_frame();
        expected = host->last_frame_result();
    });
    const DWORD took = timed_unload();
    game.join();
    EXPECT_GE(took, poll_ms - 100) << "the unload did not wait for corvane's key poll";
    EXPECT_LE(took, 1000 + unload_at_most_ms) << "one deadline of a second for the unload";
    EXPECT_EQ(result, expected);
}

// A save of the tune keys slower than the unload's deadline (a flush of 1.5 s: a slow disk, a
// folder an antivirus scans) is under way when the loader unloads corvane: the unload waits for
// it whole, the frame returns to the game, the file is saved and no new file is left beside it.
TEST_F(unload_while_busy, a_save_slower_than_the_deadline_is_waited_for_whole) {
    const std::string tuned_file = std::string(settings) + std::string(15, '\n') + "tune_key F8\n";
    ASSERT_NO_FATAL_FAILURE(start({}, tuned_file.c_str()));
    ASSERT_TRUE(module->route_file_flushes());
    constexpr DWORD flush_ms = 1500;
    sim::during_file_flush() = [this] {
        if (inside.exchange(true)) return; // the first flush only: the backup's
        Sleep(flush_ms);
    };
    std::uint32_t result = 0, expected = 0;
    on_game_thread([&] {
        host->aim(host_target);   // weapon 22 in hand
        sim::set_key(0x77, true); // F8
        sim::set_key(VK_RIGHT, true);
        host->run_frame();
        sim::set_key(VK_RIGHT, false);
        sim::set_key(0x77, false);
        result = host->run_frame(); // the save
        expected = host->last_frame_result();
    });
    const DWORD took = timed_unload();
    game.join();
    EXPECT_GE(took, flush_ms - 100) << "the unload did not wait for the save";
    EXPECT_EQ(result, expected);
    const std::string saved = module->read_file_named(L"aimingSets.dat");
    EXPECT_NE(saved.find("22 0.55 0.2 0.1"), std::string::npos) << saved;
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), tuned_file);
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.new"), "") << "a new file left behind";
}

// The game quits from inside its frame: with corvane it takes no longer than without it.
DWORD quit_in_frame_ms(const std::string& dll) {
    std::string command = "\"" + sim::windows_path(CORVANE_HOST_PATH) + "\" quit-in-frame";
    if (!dll.empty()) command += " \"" + sim::windows_path(dll) + "\"";
    std::wstring line = sim::utf16(command);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const DWORD started = GetTickCount();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start " << command;
        return 0;
    }
    WaitForSingleObject(process.hProcess, 60000);
    const DWORD took = GetTickCount() - started;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 42u) << "the quit inside the frame, " << (dll.empty() ? "without" : "with")
                         << " corvane";
    return took;
}

TEST_F(unload_while_busy, quitting_from_inside_a_frame_takes_no_longer_with_corvane) {
    sim::plugin_module copy(dll_under_test());
    ASSERT_TRUE(copy.ready());
    ASSERT_TRUE(copy.write_settings(settings));
    const std::string dll = copy.folder() + "corvane.dll";
    // The quickest of two runs each way: what a process's start costs under Wine varies.
    DWORD with = ~0u, without = ~0u;
    for (int run = 0; run < 2; ++run) {
        without = std::min(without, quit_in_frame_ms(""));
        with = std::min(with, quit_in_frame_ms(dll));
    }
    std::printf("quit from inside a frame: %lu ms with corvane, %lu ms without\n",
                static_cast<unsigned long>(with), static_cast<unsigned long>(without));
    EXPECT_LE(with, without + unload_at_most_ms);
    std::string log;
    ASSERT_TRUE(sim::read_text_file(copy.log_path(), log));
    EXPECT_NE(log.find("per-frame call at 0x53E981: now calls corvane"), std::string::npos)
        << "corvane was loaded and hooked the frame:\n"
        << log;
    // Windows told corvane the process ends: it wrote nothing into the game, and says so.
    EXPECT_NE(log.find("unloading: the game is quitting, so the per-frame call at 0x53E981 is "
                       "left as it is"),
              std::string::npos)
        << log;
}

// Another plug-in left a JMP detour on the per-frame call before corvane loads: corvane leaves it
// alone and says what it holds; each frame runs the detour once, the game's frame function once,
// and the stack stays whole (the caller checks it).
int detour_runs = 0;
void __cdecl detour_work() {
    ++detour_runs;
}

TEST_F(unload_while_busy, another_plugins_jmp_on_the_frame_call_is_left_alone) {
    constexpr std::uint32_t detour = 0x7E0000;
    const auto jmp = simulated_host::branch_bytes(0xE9, address::frame_call_site, detour);
    ASSERT_NO_FATAL_FAILURE(start([&](simulated_host& h) {
        std::vector<std::uint8_t> code = simulated_host::branch_bytes(
            0xE8, detour,
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&detour_work)));
        const auto call = simulated_host::branch_bytes(0xE8, detour + 5, address::frame_function);
        const auto back = simulated_host::branch_bytes(0xE9, detour + 10,
                                                       address::frame_call_site + 5);
        code.insert(code.end(), call.begin(), call.end());
        code.insert(code.end(), back.begin(), back.end());
        h.lay_code(detour, code);
        h.lay_code(address::frame_call_site, jmp);
    }));
    detour_runs = 0;
    for (int frame = 1; frame <= 3; ++frame) {
        expect_the_games_own_frame();
        EXPECT_EQ(host->frames(), static_cast<std::uint32_t>(frame));
        EXPECT_EQ(detour_runs, frame);
    }
    EXPECT_EQ(host->bytes_at(address::frame_call_site), jmp);
    const sim::aim_outcome aim = host->aim(host_target);
    EXPECT_EQ(aim.transform_calls, 1) << "the aim call is corvane's all the same";

    const std::vector<std::string> log = module->log_lines();
    const std::string said = "per-frame call at 0x53E981: left as it was: it holds E9";
    EXPECT_TRUE(std::any_of(log.begin(), log.end(),
                            [&](const std::string& l) { return l.rfind(said, 0) == 0; }))
        << ::testing::PrintToString(log);
    ASSERT_TRUE(module->unload());
    EXPECT_EQ(host->bytes_at(address::frame_call_site), jmp);
    expect_the_games_own_frame();
}

} // namespace
