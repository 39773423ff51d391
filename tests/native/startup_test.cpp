// Start-up and unload of the plug-in, as the DLL's two static objects run them, on a host laid
// out with both call sites: the aim-camera call at 0x527A95 and the per-frame call at 0x53E981.
#include "aim_host.h"
#include "frame_host.h"

#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aiming_plugin.h"
#include "plugin/frame/per_frame.h"
#include "plugin/host.h"
#include "plugin/settings/file_values.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/weapon_offsets.h"
#include "runtime/game_process_event.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace {

using test_host::build_1001;
using test_host::build_1002;
using test_host::build_1011;
using test_host::build_3200;
using test_host::build_bytes;
using test_host::build_unknown;

using runtime::game_process_event;

constexpr std::uint32_t aim_call_site = 0x527A95;
constexpr std::uint32_t per_frame_site = test_host::per_frame_call_site;

const char settings_text[] = "reload 0\n"
                             "--\n"
                             "line3 1.5\n"
                             "line4 2.5\n"
                             "line5 3.5\n"
                             "line6 4.5\n"
                             "line7 5.5\n"
                             "line8 6.5\n"
                             "line9 7.5\n"
                             "--\n"
                             "row0 1 2 3 4 5 6 7\n"
                             "row1 1 2 3 4 5 6 7\n"
                             "row2 1 2 3 4 5 6 7\n"
                             "row3 1 2 3 4 5 6 7\n"
                             "--\n"
                             "22 0.5 0.25 0.125\n";

std::uintptr_t address_of_aim_hook() {
    return reinterpret_cast<std::uintptr_t>(&plugin::aim_weapon_hook);
}
std::uintptr_t address_of_aim_hook_with_frame_work() {
    return reinterpret_cast<std::uintptr_t>(&plugin::aim_hook_with_frame_work);
}
std::uintptr_t address_of_trampoline() {
    return reinterpret_cast<std::uintptr_t>(&runtime::per_frame_hooker::site_share);
}

class StartUp : public test_host::module_setting {
  protected:
    void SetUp() override { lay_out(build_1001); }

    // The host laid out, its code pages then read+execute as the game's are: a write into them
    // outside a protection change the module asked for faults, as it does in the game.
    void lay_out(const build_bytes& b) {
        ASSERT_NO_FATAL_FAILURE(module_setting::lay_out(b));
        dir->write_settings(settings_text);
        aim->player.set_weapon(1, 22);
        os::stand_in::guard_code_pages(test_host::image_begin, test_host::code_end);
    }

    // What loading the DLL does: its two static objects, in order.
    static void load_module() {
        plugin::create_weapon_offset_list();
        plugin::start_aiming_plugin();
    }

    // The settings file reached the module and the host.
    static void expect_settings_applied() {
        const auto* list = plugin::weapon_offset_list();
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->size(), 1u);
        EXPECT_EQ(list->front().weapon_type, 22);
        EXPECT_EQ(list->front().offset[0], 0.5f);
        EXPECT_EQ(test_host::read<float>(0x8CC4B4), 1.5f);
    }

    // The flushes made over the game's own code, in order.
    static std::vector<os::stand_in::flush_call> flushes_in_game_code() {
        std::vector<os::stand_in::flush_call> in_code;
        for (const auto& flush : os::stand_in::current().flushes)
            if (flush.address >= test_host::image_begin && flush.address < test_host::code_end)
                in_code.push_back(flush);
        return in_code;
    }

    // One aim-camera computation: returns the offset the aim hook handed to the host's
    // transform, or nothing when it passed the call through.
    std::vector<std::array<float, 3>> aim_offsets() {
        int object = 0;
        float target[3] = {};
        aim->calls = {};
        EXPECT_EQ(aim->call_aim_site(&object, target, 0, 0, 0), test_host::camera_result);
        std::vector<std::array<float, 3>> offsets;
        for (const auto& call : aim->calls.transforms)
            offsets.push_back(call.offset);
        return offsets;
    }
};

TEST_F(StartUp, RedirectsTheAimCallLoadsTheSettingsAndHooksTheFrame) {
    load_module();

    EXPECT_EQ(test_host::call_destination(aim_call_site), address_of_aim_hook());
    EXPECT_EQ(test_host::call_destination(per_frame_site), address_of_trampoline());
    expect_settings_applied();
    EXPECT_EQ(plugin::reload_each_frame, 0);

    auto& event = game_process_event::instance();
    EXPECT_TRUE(event.pre_handlers.empty());
    ASSERT_EQ(event.post_handlers.size(), 1u);
    EXPECT_EQ(event.post_handlers.front().target<void (*)()>(), nullptr)
        << "the per-frame handler must be a callable object, never folded as a plain function";

    // Before any frame the aim is the file's; a frame with X down runs the handler after the
    // host, and from then on the aim's x is mirrored and tripled.
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}));
    auto& os_state = os::stand_in::current();
    os_state.keys_down = {plugin::key_x};
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_EQ(frames->log, (std::vector<std::string>{"host"}));
    EXPECT_EQ(os_state.key_queries, (std::vector<int>{plugin::key_z, plugin::key_x}));
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{-1.5f, 0.25f, 0.125f}}));
    // The frame ran the per-frame work; the aim never runs it too, whenever it comes.
    os_state.milliseconds += plugin::frame_work_interval_on_aim_ms;
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{-1.5f, 0.25f, 0.125f}}));
    EXPECT_EQ(os_state.key_queries, (std::vector<int>{plugin::key_z, plugin::key_x}));
}

// What unloading looked like at two moments: when the event's handler list let its handler
// go, and just before the weapon offset list is released.
struct unload_moment {
    std::vector<std::uint8_t> per_frame_site;
    std::vector<std::uint8_t> aim_site;
    bool list_alive;
};
std::vector<unload_moment> handler_released;
std::vector<unload_moment> before_list_release;

unload_moment now() {
    return {test_host::read_bytes(per_frame_site, 5), test_host::read_bytes(aim_call_site, 5),
            plugin::weapon_offset_list() != nullptr};
}

// A handler that notes the moment each of its copies is destroyed.
struct release_witness {
    void operator()() const {}
    ~release_witness() { handler_released.push_back(now()); }
};

void note_before_list_release() {
    before_list_release.push_back(now());
}

// The aim rows start from the game's own: a value the file does not give keeps the game's, as
// lines 3 to 9 do, and a file that gives all 28 sets them all.
struct row_case {
    const char* name;
    std::string text;
    std::vector<int> rows_from_file; // rows the file sets in full; the others, as noted below
    int partial_row = -1;            // a row the file sets its first `partial_count` values of
    int partial_count = 0;
    bool game_rows_unreadable = false;
};

std::string settings_with(int line, const std::string& text) {
    std::vector<std::string> lines;
    std::string all = settings_text;
    for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(all.substr(at, end - at));
    lines.at(line - 1) = text;
    std::string joined;
    for (const std::string& l : lines)
        joined += l + "\n";
    return joined;
}

std::string first_settings_lines(int count) {
    std::string all = settings_text;
    std::size_t end = 0;
    for (int i = 0; i < count; ++i)
        end = all.find('\n', end) + 1;
    return all.substr(0, end);
}

void PrintTo(const row_case& c, std::ostream* os) {
    *os << c.name;
}

class StartUpRows : public StartUp, public ::testing::WithParamInterface<row_case> {};

TEST_P(StartUpRows, RowValuesTheFileDoesNotGiveKeepTheGamesOwn) {
    const row_case& c = GetParam();
    dir->write_settings(c.text);
    if (c.game_rows_unreadable) {
        os::stand_in::current().unreadable_from = plugin::host_addresses::aim_rows + 100;
        os::stand_in::current().unreadable_to = plugin::host_addresses::aim_rows + 200;
    }
    load_module();
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 7; ++i) {
            const bool from_file = std::find(c.rows_from_file.begin(), c.rows_from_file.end(), r) !=
                                       c.rows_from_file.end() ||
                                   (r == c.partial_row && i < c.partial_count);
            const float file_value = static_cast<float>(i + 1); // rows hold 1 2 3 4 5 6 7
            const float expected = from_file                ? file_value
                                   : c.game_rows_unreadable ? 0.0f
                                                            : test_host::game_row_value(r, i);
            EXPECT_EQ(test_host::read<float>(plugin::host_addresses::aim_rows + 28 * r + 4 * i),
                      expected)
                << "row " << r << ", value " << i + 1;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Files, StartUpRows,
    ::testing::Values(
        row_case{"full_file", settings_text, {0, 1, 2, 3}},
        row_case{"row_with_three_numbers", settings_with(12, "row1 1 2 3"), {0, 2, 3}, 1, 3},
        row_case{"row_label_without_numbers", settings_with(13, "row2"), {0, 1, 3}},
        row_case{"row_label_then_a_word", settings_with(11, "row0 one 2 3"), {1, 2, 3}},
        row_case{"file_ends_after_line_9", first_settings_lines(9), {}},
        // Where the game holds no readable rows, they start as 0.0, as before.
        row_case{"game_rows_unreadable", first_settings_lines(9), {}, -1, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A game Windows virtualizes, in a folder it protects: the log's first line says where Windows
// really keeps it (in the player's VirtualStore folder), not beside corvane.dll.
TEST_F(StartUp, TheLogSaysAtItsTopWhereWindowsKeepsIt) {
    const std::string log_path = os::stand_in::utf8(plugin::log_file_path());
    const std::string folder = log_path.substr(0, log_path.rfind('/'));
    auto& os_state = os::stand_in::current();
    os_state.virtualized = true;
    os_state.environment["ProgramFiles"] = "/tmp";
    os_state.environment["LOCALAPPDATA"] = "/home/player/local";
    load_module();
    const std::string log = test_host::module_log_text();
    const std::string top = "corvane.log is kept by Windows in /home/player/local\\VirtualStore" +
                            folder + "/corvane.log, not beside corvane.dll: the game's folder";
    EXPECT_EQ(log.find(top), std::string("[     0.000 s] ").size()) << log;
}

TEST_F(StartUp, UnloadRestoresThePerFrameSiteThenTheAimSiteThenReleasesTheList) {
    plugin::create_weapon_offset_list();
    before_list_release.clear();
    // Registered right after the list: it runs after every start-up teardown and before the
    // list's own.
    injector::register_teardown(&note_before_list_release);
    plugin::start_aiming_plugin();
    auto& event = game_process_event::instance();
    event.add_handler(event.post_handlers, release_witness{});
    frames->run_frame();
    const auto redirected_aim_site = test_host::read_bytes(aim_call_site, 5);

    handler_released.clear();
    injector::run_teardowns();

    ASSERT_EQ(handler_released.size(), 1u) << "the event's stored copy, released once";
    EXPECT_EQ(handler_released[0].per_frame_site, frames->original_call_bytes());
    EXPECT_EQ(handler_released[0].aim_site, redirected_aim_site);
    EXPECT_TRUE(handler_released[0].list_alive);

    ASSERT_EQ(before_list_release.size(), 1u);
    EXPECT_EQ(before_list_release[0].aim_site, test_host::original_aim_call_bytes());
    EXPECT_TRUE(before_list_release[0].list_alive);

    EXPECT_EQ(plugin::weapon_offset_list(), nullptr);
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
}

// The processor must see every byte the module writes into the game's code: each write, at
// start-up, while reloading and at unload, is followed by a flush of exactly those bytes.
TEST_F(StartUp, EveryWriteIntoTheGamesCodeIsFlushed) {
    using os::stand_in::flush_call;
    auto& os_state = os::stand_in::current();
    dir->write_settings(std::string(settings_text).replace(0, 8, "reload 1"));
    load_module();
    // Both sites are CALLs already: only their targets change, each in one four-byte write, so a
    // thread of the game that runs a site meanwhile never meets half a target. (The resident
    // jumps the sites call lie outside the game's code; they are flushed too.)
    EXPECT_EQ(flushes_in_game_code(), (std::vector<flush_call>{
                                          {aim_call_site + 1, 4}, // the aim call's target
                                          {0x521632, 4},          // line 5's value inside the code
                                          {per_frame_site + 1, 4},
                                      }));

    os_state.flushes.clear();
    dir->write_settings(settings_with(5, "line5 9.5").replace(0, 8, "reload 1"));
    frames->run_frame(); // a reload writes line 5's new value
    EXPECT_EQ(flushes_in_game_code(), (std::vector<flush_call>{{0x521632, 4}}));
    EXPECT_EQ(test_host::read<float>(0x521632), 9.5f);

    os_state.flushes.clear();
    injector::run_teardowns();
    EXPECT_EQ(flushes_in_game_code(),
              (std::vector<flush_call>{{per_frame_site + 1, 4}, {aim_call_site + 1, 4}}));
}

// While reloading, line 5's value is compared with what the game's code holds (code pages are
// readable) and written only when it differs: a frame that changes nothing pays no protection
// change, no write and no flush.
TEST_F(StartUp, LineFiveUnchangedAcrossReloadsCostsNoProtectionChangeAndNoFlush) {
    auto& os_state = os::stand_in::current();
    dir->write_settings(std::string(settings_text).replace(0, 8, "reload 1"));
    load_module();
    ASSERT_EQ(test_host::read<float>(0x521632), 3.5f);
    os_state.protect_calls.clear();
    os_state.flushes.clear();
    const int opens = os_state.opens_for_reading;

    for (int frame = 0; frame < 3; ++frame)
        frames->run_frame();

    EXPECT_EQ(os_state.opens_for_reading, opens + 3) << "every frame read the file";
    EXPECT_TRUE(os_state.protect_calls.empty());
    EXPECT_TRUE(os_state.flushes.empty());
    EXPECT_EQ(test_host::read<float>(0x521632), 3.5f);
}

// Line 5 is compared by its bytes: -0 equals 0 as a number but is another value to write, and
// a reload from 0 to -0 writes it (a comparison of numbers would leave 0 in the game's code).
TEST_F(StartUp, LineFiveFromZeroToMinusZeroIsWritten) {
    dir->write_settings(settings_with(5, "line5 0").replace(0, 8, "reload 1"));
    load_module();
    ASSERT_EQ(test_host::read<std::uint32_t>(0x521632), 0u);
    dir->write_settings(settings_with(5, "line5 -0").replace(0, 8, "reload 1"));
    frames->run_frame();
    EXPECT_EQ(test_host::read<std::uint32_t>(0x521632), 0x80000000u);
    EXPECT_EQ(os::stand_in::current().flushes.back().address, 0x521632u);
}

TEST_F(StartUp, LoadingAgainAfterAnUnloadHooksAndRunsAsTheFirstTime) {
    load_module();
    frames->run_frame();
    injector::run_teardowns();
    test_host::reset_module(); // the caches a fresh load of the DLL would start without
    auto& os_state = os::stand_in::current();
    os_state.key_queries.clear();
    frames->log.clear();

    load_module();

    EXPECT_EQ(test_host::call_destination(aim_call_site), address_of_aim_hook());
    EXPECT_EQ(test_host::call_destination(per_frame_site), address_of_trampoline());
    expect_settings_applied();
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_EQ(frames->log, (std::vector<std::string>{"host"}));
    EXPECT_EQ(os_state.key_queries, (std::vector<int>{plugin::key_z, plugin::key_x}))
        << "the handler runs once per frame, not once per load";
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}));

    injector::run_teardowns();
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
}

class StartUpWithoutFrameHook : public StartUp, public ::testing::WithParamInterface<build_bytes> {
  protected:
    void SetUp() override { lay_out(GetParam()); }
};

// Where the per-frame call is not corvane's, the aim runs the per-frame work while the player
// aims: before it reads the offset (a key takes effect in that same aim), at most once in
// frame_work_interval_on_aim_ms, and never from the game's frame.
TEST_P(StartUpWithoutFrameHook, TheAimRunsThePerFrameWorkAtMostOnceAnInterval) {
    load_module();

    EXPECT_EQ(test_host::call_destination(aim_call_site), address_of_aim_hook_with_frame_work());
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    expect_settings_applied();
    EXPECT_NE(test_host::module_log_text().find(
                  ": the keys, live reload and the tune keys work while you aim: corvane does "
                  "their work when the game aims, not on every frame"),
              std::string::npos)
        << test_host::module_log_text();

    auto& os_state = os::stand_in::current();
    os_state.keys_down = {plugin::key_x};
    frames->run_frame();
    EXPECT_EQ(frames->log, (std::vector<std::string>{"host"}));
    EXPECT_TRUE(os_state.key_queries.empty()) << "the game's frame runs none of it";

    const std::vector<int> one_poll = {plugin::key_z, plugin::key_x};
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{-1.5f, 0.25f, 0.125f}}))
        << "X, read in this very aim, swings it";
    EXPECT_EQ(os_state.key_queries, one_poll);

    // Within the interval, aims read no keys; once it has passed, the next aim does.
    os_state.keys_down = {plugin::key_z};
    os_state.milliseconds += plugin::frame_work_interval_on_aim_ms - 1;
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{-1.5f, 0.25f, 0.125f}}));
    EXPECT_EQ(os_state.key_queries, one_poll);
    os_state.milliseconds += 1;
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}));
    EXPECT_EQ(os_state.key_queries.size(), 3u) << "Z down: X is not asked";

    injector::run_teardowns();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(plugin::weapon_offset_list(), nullptr);
}

// Live reload where the aim runs the per-frame work: an edit of the file takes effect in the
// next aim once the interval has passed.
TEST_P(StartUpWithoutFrameHook, AnEditTakesEffectAtTheNextAim) {
    dir->write_settings(settings_with(1, "reload 1"));
    load_module();
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}));
    std::string edited = settings_with(1, "reload 1");
    edited.replace(edited.find("22 0.5 0.25 0.125"), 17, "22 0.75 0.5 0.25");
    dir->write_settings(edited);
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}))
        << "within the interval the file is not read again";
    os::stand_in::current().milliseconds += plugin::frame_work_interval_on_aim_ms;
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.75f, 0.5f, 0.25f}}));
}

// A tune key in the file: the keys are read by the per-frame call's work or by the aim's, so
// the log says they do nothing, once, only where corvane could change neither call.
struct tune_key_case {
    const char* name;
    build_bytes build;
    bool writes_refused; // Windows refuses to lift the protection of the game's code
    bool says_nothing_works;
};

void PrintTo(const tune_key_case& c, std::ostream* out) {
    *out << c.name;
}

class StartUpWithATuneKey : public StartUp, public ::testing::WithParamInterface<tune_key_case> {
  protected:
    void SetUp() override { lay_out(GetParam().build); }
};

TEST_P(StartUpWithATuneKey, TheLogSaysOnceWhenTheTuneKeysDoNothing) {
    std::string text = settings_text; // 16 lines
    for (int line = 17; line <= 31; ++line)
        text += "\n";
    dir->write_settings(text + "tune_key F8\n");
    os::stand_in::current().fail_protect_switch = GetParam().writes_refused;
    load_module();
    const std::string log = test_host::module_log_text();
    const std::string says = "tune_key F8: the tune keys need the game's per-frame call or its "
                             "aim call, and corvane could change neither";
    const std::size_t at = log.find(says);
    if (!GetParam().says_nothing_works) {
        EXPECT_EQ(at, std::string::npos) << log;
    } else {
        EXPECT_NE(at, std::string::npos) << log;
        EXPECT_EQ(log.find(says, at + 1), std::string::npos) << "said more than once";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Builds, StartUpWithATuneKey,
    ::testing::Values(tune_key_case{"b1001", build_1001, false, false},
                      tune_key_case{"b1011", build_1011, false, false},
                      tune_key_case{"unknown", build_unknown, false, false},
                      tune_key_case{"b1001_writes_refused", build_1001, true, true},
                      tune_key_case{"b1011_writes_refused", build_1011, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Builds, StartUpWithoutFrameHook,
                         ::testing::Values(build_1011, build_unknown),
                         [](const auto& info) { return std::string(info.param.name); });

// --- a game whose code is not laid out as corvane knows it ---------------------------------

// What the aim call site holds on a build that is not 1001 or 1002.
struct foreign_site_case {
    const char* name;
    build_bytes build;
    std::vector<std::uint8_t> site_bytes; // empty: the site cannot be read
};

void PrintTo(const foreign_site_case& c, std::ostream* out) {
    *out << c.name;
}

constexpr std::uint32_t aim_camera = 0x521500;

class StartUpOnForeignCode : public StartUp,
                             public ::testing::WithParamInterface<foreign_site_case> {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StartUp::lay_out(GetParam().build));
        os::stand_in::unguard_code_pages();
        if (GetParam().site_bytes.empty()) {
            os::stand_in::current().unreadable_from = aim_call_site;
            os::stand_in::current().unreadable_to = aim_call_site + 5;
        } else {
            site = std::make_unique<test_host::bytes_patch>(aim_call_site, GetParam().site_bytes);
        }
        os::stand_in::guard_code_pages(test_host::image_begin, test_host::code_end);
    }
    void TearDown() override {
        test_host::reset_module(); // the module's teardowns, then the site's own bytes back
        os::stand_in::unguard_code_pages();
        site.reset();
        take_down();
    }
    std::unique_ptr<test_host::bytes_patch> site;
};

// Nothing of the game changes: no patch, no value, no per-frame hook; the settings file is not
// even read. The module still loads and unloads.
TEST_P(StartUpOnForeignCode, ChangesNothingInTheGame) {
    const std::vector<std::uint8_t> code_before = test_host::read_bytes(aim_call_site, 5);
    const std::vector<std::uint8_t> data_before =
        test_host::read_bytes(0x8CC4A0, 0x8CC530 - 0x8CC4A0);
    const float code_value_before = test_host::read<float>(0x521632);
    auto& os_state = os::stand_in::current();
    os_state.protect_calls.clear();

    load_module();

    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), code_before);
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(test_host::read_bytes(0x8CC4A0, 0x8CC530 - 0x8CC4A0), data_before)
        << "lines 3 to 9 and the rows";
    EXPECT_EQ(test_host::read<float>(0x521632), code_value_before) << "line 5";
    EXPECT_TRUE(os_state.flushes.empty()) << "nothing was written into the game's code";
    for (const auto& call : os_state.protect_calls)
        EXPECT_NE(call.address, 0x521632u) << "line 5's place was not even touched";
    EXPECT_EQ(os_state.opens_for_reading, 0);
    EXPECT_TRUE(plugin::weapon_offset_list()->empty());

    frames->run_frame();
    EXPECT_EQ(frames->log, (std::vector<std::string>{"host"}));
    EXPECT_TRUE(os_state.key_queries.empty());

    injector::run_teardowns();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), code_before);
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(plugin::weapon_offset_list(), nullptr);
}

std::vector<std::uint8_t> call_of(std::uint32_t target) {
    return test_host::rel32_instruction(0xE8, aim_call_site, test_host::at(target));
}

INSTANTIATE_TEST_SUITE_P(
    Sites, StartUpOnForeignCode,
    ::testing::Values(foreign_site_case{"unknown_build_other_code",
                                        build_unknown,
                                        {0x8B, 0x45, 0x08, 0x89, 0xC1}},
                      foreign_site_case{"b1011_calling_another_function", build_1011,
                                        call_of(aim_camera + 0x40)},
                      foreign_site_case{"b3200_jumping_to_the_aim_camera", build_3200,
                                        test_host::rel32_instruction(0xE9, aim_call_site,
                                                                     test_host::at(aim_camera))},
                      foreign_site_case{"unknown_build_site_unreadable", build_unknown, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- a game whose program Windows moved away from 0x400000 --------------------------------

constexpr std::uint32_t moved_base = 0x410000;
constexpr std::uint32_t moved(std::uint32_t host_address) {
    return host_address - 0x400000 + moved_base;
}

// The moved program as corvane would find it: build 1001's probe bytes, or an unknown build
// whose aim call (where the program lies) calls its aim camera, as the check of unknown builds
// wants. Either way corvane must change nothing: some of what it writes and calls would be
// taken at the fixed places.
class StartUpOnAMovedProgram : public StartUp, public ::testing::WithParamInterface<build_bytes> {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StartUp::lay_out(build_unknown));
        os::stand_in::unguard_code_pages();
        const build_bytes& b = GetParam();
        if (!b.bytes.empty())
            moved_parts.push_back(
                std::make_unique<test_host::bytes_patch>(moved(b.address), b.bytes));
        moved_parts.push_back(std::make_unique<test_host::bytes_patch>(
            moved(aim_call_site), test_host::rel32_instruction(0xE8, moved(aim_call_site),
                                                               test_host::at(moved(aim_camera)))));
        os::stand_in::guard_code_pages(test_host::image_begin, test_host::code_end);
        os::stand_in::current().process_module = test_host::at(moved_base);
    }
    void TearDown() override {
        test_host::reset_module();
        os::stand_in::unguard_code_pages();
        moved_parts.clear();
        take_down();
    }
    std::vector<std::unique_ptr<test_host::bytes_patch>> moved_parts;
};

TEST_P(StartUpOnAMovedProgram, ChangesWritesAndCallsNothingAndSaysWhereTheProgramIs) {
    // Both call sites, where the program's fixed places put them and where it lies.
    const auto sites = [this] {
        return std::vector<std::vector<std::uint8_t>>{
            test_host::read_bytes(aim_call_site, 5), test_host::read_bytes(moved(aim_call_site), 5),
            frames->site_bytes(), test_host::read_bytes(moved(per_frame_site), 5)};
    };
    const std::vector<std::vector<std::uint8_t>> sites_before = sites();
    const std::vector<std::uint8_t> data_before =
        test_host::read_bytes(0x8CC4A0, 0x8CC530 - 0x8CC4A0);
    auto& os_state = os::stand_in::current();
    os_state.protect_calls.clear();

    load_module();

    EXPECT_EQ(sites(), sites_before);
    EXPECT_EQ(test_host::read_bytes(0x8CC4A0, 0x8CC530 - 0x8CC4A0), data_before);
    EXPECT_TRUE(os_state.protect_calls.empty());
    EXPECT_TRUE(os_state.flushes.empty());
    EXPECT_EQ(os_state.opens_for_reading, 0) << "the settings file is not even read";
    EXPECT_TRUE(aim->calls.vector_sets.empty()) << "no function of the game is called";
    EXPECT_TRUE(aim_offsets().empty()) << "the game's aim camera runs as the game's own";
    EXPECT_TRUE(aim->calls.find_player_args.empty());
    const std::string log = test_host::module_log_text();
    EXPECT_NE(log.find("the game's program lies at 0x00410000, not at 0x00400000"),
              std::string::npos)
        << log;

    injector::run_teardowns();
    EXPECT_EQ(sites(), sites_before);
}

INSTANTIATE_TEST_SUITE_P(Builds, StartUpOnAMovedProgram,
                         ::testing::Values(build_1001, build_unknown),
                         [](const auto& info) { return std::string(info.param.name); });

// On builds 1001 and 1002 corvane redirects the aim call whatever the site holds, as it always
// has: another plug-in may have redirected it first, and its bytes come back at unload.
class StartUpAfterAnotherPlugin : public StartUp,
                                  public ::testing::WithParamInterface<build_bytes> {
  protected:
    void SetUp() override { lay_out(GetParam()); }
};

TEST_P(StartUpAfterAnotherPlugin, StillRedirectsTheAimCallAndGivesTheOtherPluginItsBytesBack) {
    os::stand_in::unguard_code_pages();
    const std::vector<std::uint8_t> other_plugin = call_of(0x7E0000);
    const test_host::bytes_patch redirected(aim_call_site, other_plugin);
    os::stand_in::guard_code_pages(test_host::image_begin, test_host::code_end);

    load_module();
    EXPECT_EQ(test_host::call_destination(aim_call_site), address_of_aim_hook());
    expect_settings_applied();
    // corvane calls the game's camera itself: the other plug-in's aim hook is passed by, and
    // the log says so.
    EXPECT_NE(test_host::module_log_text().find(
                  "aim call at 0x527A95: it led to another plug-in's code at 0x007E0000 rather "
                  "than to the game's aim camera: that plug-in's aim hook does not run while "
                  "corvane is loaded"),
              std::string::npos)
        << test_host::module_log_text();

    injector::run_teardowns();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), other_plugin);
    os::stand_in::unguard_code_pages(); // before `redirected` puts the host's call back
}

// Another plug-in's JMP on the per-frame call: corvane leaves it alone, and the aim runs the
// per-frame work instead, as on a build whose per-frame call corvane does not change.
TEST_P(StartUpAfterAnotherPlugin, APerFrameCallItCannotChangeLeavesTheWorkToTheAim) {
    os::stand_in::unguard_code_pages();
    const test_host::bytes_patch jump(
        per_frame_site,
        test_host::rel32_instruction(0xE9, per_frame_site, test_host::at(0x7E0000)));
    os::stand_in::guard_code_pages(test_host::image_begin, test_host::code_end);

    load_module();
    EXPECT_EQ(test_host::call_destination(aim_call_site), address_of_aim_hook_with_frame_work());
    EXPECT_EQ(test_host::read_bytes(per_frame_site, 1), std::vector<std::uint8_t>{0xE9});
    EXPECT_NE(test_host::module_log_text().find(
                  "but its per-frame call could not be changed, so the keys, live reload and the "
                  "tune keys work while you aim"),
              std::string::npos)
        << test_host::module_log_text();
    os::stand_in::current().keys_down = {plugin::key_x};
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{-1.5f, 0.25f, 0.125f}}));

    injector::run_teardowns();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
    os::stand_in::unguard_code_pages(); // before `jump` puts the host's call back
}

// The aim hooks of other plug-ins on the aim call, as tests lay them: each counts its aims and
// passes them on to what the site called before it. Slots 0 and 1 are copies of corvane loaded
// before this one, slot 2 a plug-in loaded after it.
int other_aims[3] = {};
std::uintptr_t other_aim_next[3] = {};

template <int slot>
void* __thiscall other_aim_hook(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                                std::uint32_t f3) {
    ++other_aims[slot];
    volatile auto next = reinterpret_cast<plugin::host_aim_camera_fn>(other_aim_next[slot]);
    return next(object, target, f1, f2, f3);
}
constexpr std::uintptr_t other_aim_hooks[3] = {
    reinterpret_cast<std::uintptr_t>(&other_aim_hook<0>),
    reinterpret_cast<std::uintptr_t>(&other_aim_hook<1>),
    reinterpret_cast<std::uintptr_t>(&other_aim_hook<2>)};
constexpr int later_slot = 2;

// A plug-in that hooks both calls after corvane, the plain way: it keeps the five bytes it
// replaced and writes them back when it goes, whatever stands there then. Its hooks pass every
// call on to what the site called before it.
std::uintptr_t later_frame_next = 0;

void* later_frame_hook() {
    test_host::frame_host::current->log.push_back("later");
    volatile auto next = reinterpret_cast<void* (*)()>(later_frame_next);
    return next();
}

struct later_plugin {
    injector::scoped_call aim, frame;
    later_plugin() {
        EXPECT_EQ(aim.attach(aim_call_site, other_aim_hooks[later_slot]),
                  injector::patch_status::done);
        EXPECT_EQ(frame.attach(per_frame_site, reinterpret_cast<std::uintptr_t>(&later_frame_hook)),
                  injector::patch_status::done);
        other_aim_next[later_slot] = aim.previous();
        later_frame_next = frame.previous();
    }
};

// corvane unloads first: it leaves the sites it shares to the later plug-in and says so, and
// that plug-in goes on working, its calls reaching the game's own functions. Then the later
// plug-in goes, and the game's calls reach the game through what corvane left. The next load of
// corvane takes that over (on a build it checks too: what it left stands for the game's own
// call), and its unload gives the game its own bytes back; the load after that finds the jumps
// that stand for those bytes. No load after the first asks for memory.
class StartUpWithALaterPlugin : public StartUp, public ::testing::WithParamInterface<build_bytes> {
  protected:
    void SetUp() override { lay_out(GetParam()); }
    static bool hooks_frames() { return GetParam().name == build_1001.name; }
};

TEST_P(StartUpWithALaterPlugin, ItKeepsWorkingAndTheGameRunsAfterEveryUnload) {
    const std::size_t blocks = os::stand_in::current().code_memory.size();
    const std::size_t jumps = 1; // one allocation for both calls
    load_module();
    EXPECT_EQ(os::stand_in::current().code_memory.size(), blocks + jumps);
    auto later = std::make_unique<later_plugin>();
    other_aims[later_slot] = 0;
    const std::vector<std::array<float, 3>> corvane_aims = {{0.5f, 0.25f, 0.125f}};
    EXPECT_EQ(aim_offsets(), corvane_aims);
    frames->log.clear();
    frames->run_frame();
    EXPECT_EQ(frames->log, (std::vector<std::string>{"later", "host"}));

    injector::run_teardowns();
    const std::string log = test_host::module_log_text();
    for (const char* site : {"aim call at 0x527A95", "per-frame call at 0x53E981"}) {
        const bool shared = hooks_frames() || site[0] == 'a';
        EXPECT_EQ(log.find(std::string("unloading: the ") + site +
                           " was left to another plug-in that changed it after corvane") !=
                      std::string::npos,
                  shared)
            << site << " in\n"
            << log;
    }
    EXPECT_TRUE(aim_offsets().empty()) << "the game's own aim, through the later plug-in";
    frames->log.clear();
    frames->run_frame();
    EXPECT_EQ(frames->log, (std::vector<std::string>{"later", "host"}));
    EXPECT_EQ(other_aims[later_slot], 2);

    later.reset();
    EXPECT_TRUE(aim_offsets().empty());
    frames->log.clear();
    frames->run_frame();
    EXPECT_EQ(frames->log, (std::vector<std::string>{"host"}));

    for (int load = 0; load < 2; ++load) {
        test_host::reset_module();
        load_module();
        EXPECT_EQ(os::stand_in::current().code_memory.size(), blocks + jumps) << "used again";
        EXPECT_EQ(aim_offsets(), corvane_aims);
        injector::run_teardowns();
        EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
        EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, StartUpWithALaterPlugin, ::testing::Values(build_1001, build_1011),
                         [](const auto& info) { return std::string(info.param.name); });

// On a build whose aim call is checked first, a copy of corvane loaded while one or two others
// are (each over the one before) finds the site calling their jumps: that stands for the game's
// own call, so it aims, as it would on 1001. Once it is gone the copies before it aim again, and
// once they are gone too the site holds the game's own bytes.
struct earlier_copies_case {
    build_bytes build;
    int copies;
};

void PrintTo(const earlier_copies_case& c, std::ostream* out) {
    *out << c.build.name << "_after_" << c.copies;
}

class StartUpOverEarlierCopies : public StartUp,
                                 public ::testing::WithParamInterface<earlier_copies_case> {
  protected:
    void SetUp() override { lay_out(GetParam().build); }
};

// Earlier copies of corvane on the aim call: each one's share counts its aims and keeps the
// game's target; like corvane, each calls the game's camera itself, so the copy loaded last
// decides the aim.
template <int slot> const float* __cdecl earlier_copy_share(const float* target, float*) noexcept {
    ++other_aims[slot];
    return target;
}
constexpr std::uintptr_t earlier_copy_shares[2] = {
    reinterpret_cast<std::uintptr_t>(&earlier_copy_share<0>),
    reinterpret_cast<std::uintptr_t>(&earlier_copy_share<1>)};

TEST_P(StartUpOverEarlierCopies, ItAimsAndLeavesThemWorking) {
    const int copies = GetParam().copies;
    std::vector<std::unique_ptr<injector::resident_call>> earlier;
    for (int copy = 0; copy < copies; ++copy) {
        auto& call = earlier.emplace_back(
            std::make_unique<injector::resident_call>(injector::resident_kind::retarget));
        ASSERT_EQ(call->attach(aim_call_site, earlier_copy_shares[copy], 0x521500),
                  injector::patch_status::done);
    }
    other_aims[0] = other_aims[1] = 0;

    load_module();
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}))
        << test_host::module_log_text();
    EXPECT_EQ(other_aims[0] + other_aims[1], 0) << "the copy loaded last decides the aim";

    injector::run_teardowns();
    EXPECT_TRUE(aim_offsets().empty());
    for (int copy = 0; copy < copies; ++copy)
        EXPECT_EQ(other_aims[copy], copy == copies - 1 ? 1 : 0)
            << "copy " << copy << ": the newest copy left decides the aim again";

    while (!earlier.empty())
        earlier.pop_back();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
}

INSTANTIATE_TEST_SUITE_P(Builds, StartUpOverEarlierCopies,
                         ::testing::Values(earlier_copies_case{build_1011, 1},
                                           earlier_copies_case{build_1011, 2},
                                           earlier_copies_case{build_unknown, 2}),
                         [](const auto& info) {
                             return std::string(info.param.build.name) + "_after_" +
                                    std::to_string(info.param.copies);
                         });

// Where Windows gives no memory that may run code for the resident jumps, no call is changed,
// the log says so in those words (not "out of memory"), and the game runs as it was.
TEST_F(StartUp, NoMemoryForTheResidentJumpsLeavesTheCallsAsTheyWere) {
    os::stand_in::current().refuse_running_code = true;
    load_module();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_TRUE(aim_offsets().empty());
    const std::string log = test_host::module_log_text();
    EXPECT_NE(log.find("aim call at 0x527A95: left as it was: Windows gave corvane no memory "
                       "that may run code"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("out of memory"), std::string::npos) << log;
    injector::run_teardowns();
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
}

INSTANTIATE_TEST_SUITE_P(Builds, StartUpAfterAnotherPlugin,
                         ::testing::Values(build_1001, build_1002),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// Faults the OS can hand the module at load, in a running host and at unload. Whatever fails,
// the module must neither crash nor leave a call site pointing into it after unload.
TEST_F(StartUp, EveryProtectionChangeRefusedLeavesTheGamesCodeAsItWasAndRuns) {
    // The code pages stay read+execute: one byte written into them would fault here.
    auto& os_state = os::stand_in::current();
    os_state.fail_protect_switch = true;
    os_state.fail_protect_restore = true;
    os_state.keys_down = {plugin::key_x};
    const float code_value = test_host::read<float>(0x521632);

    load_module();
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
    EXPECT_EQ(test_host::read<float>(0x521632), code_value) << "line 5 goes into the code";
    expect_settings_applied(); // the values the game keeps in its data
    // The game runs its own frame and aims as it always did: corvane is never called.
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{}));

    // Nothing was changed, so unloading puts nothing back.
    const std::size_t calls_at_load = os_state.protect_calls.size();
    injector::run_teardowns();
    EXPECT_EQ(frames->site_bytes(), frames->original_call_bytes());
    EXPECT_EQ(test_host::read_bytes(aim_call_site, 5), test_host::original_aim_call_bytes());
    EXPECT_EQ(os_state.protect_calls.size(), calls_at_load);
    // A switch that failed is never followed by a restore with a made-up old protection.
    for (const auto& call : os_state.protect_calls)
        EXPECT_EQ(call.new_protection, os::page_execute_readwrite);
    EXPECT_FALSE(os_state.protect_calls.empty());
}

TEST_F(StartUp, ModuleHandleNotFoundShowsTheBoxOnceAndReadsBesideTheExecutable) {
    auto& os_state = os::stand_in::current();
    os_state.module_from_address_fails = true;
    // The executable's path is what GetModuleFileNameW gives for a null module; the settings
    // file written by the fixture lies in that directory too.
    std::u16string& game = os_state.module_paths[nullptr];
    game = os_state.module_paths[os_state.plugin_module];
    game.replace(game.rfind(u'/') + 1, std::u16string::npos, u"game.exe");
    dir->write_settings(std::string(settings_text).replace(0, 8, "reload 1"));

    load_module();
    expect_settings_applied();
    frames->run_frame(); // reloads, and must not ask for the module again
    frames->run_frame();

    ASSERT_EQ(os_state.error_boxes.size(), 1u);
    EXPECT_EQ(os_state.error_boxes[0].text, "FILESYSTEM\nFailed to retrieve plugin dir path");
    EXPECT_EQ(os_state.error_boxes[0].caption, "corvane");
    EXPECT_EQ(os_state.file_name_queries, std::vector<void*>{nullptr});
}

TEST_F(StartUp, SettingsFileVanishingOrBecomingADirectoryBetweenFramesKeepsTheValues) {
    dir->write_settings(std::string(settings_text).replace(0, 8, "reload 1"));
    load_module();
    expect_settings_applied();
    const std::string path = os::stand_in::utf8(plugin::settings_file_path());

    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    expect_settings_applied();

    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(frames->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    expect_settings_applied();
    EXPECT_EQ(aim_offsets(), (std::vector<std::array<float, 3>>{{0.5f, 0.25f, 0.125f}}));
    ASSERT_EQ(rmdir(path.c_str()), 0);

    // Back again, with a new weapon type: the reload picks it up on the next frame.
    dir->write_settings(std::string(settings_text).replace(0, 8, "reload 1") + "-1 1 2 3\n");
    frames->run_frame();
    EXPECT_EQ(plugin::weapon_offset_list()->size(), 2u);
}

} // namespace
