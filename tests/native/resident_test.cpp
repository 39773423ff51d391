// Call sites patched through resident code, with other plug-ins on the same site, unloaded in
// every order, and unloaded while a thread of the game is inside the module's share, the game's
// function or neither. The site's CALL is executed for real after each step: a site that led
// into a module that is gone would run freed memory here too.
#include "frame_host.h"

#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/resident.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_host::frame_host;
using injector::patch_status;
using injector::resident_kind;

constexpr std::uint32_t test_site = test_host::spare_call_site;

// Three plug-ins on the site: "a" and "b" the module's way, each a share that logs its name
// before the game's function; "p" the plain way, a hook the site calls that logs its name and
// calls what its own patch says the site called before it.
std::uintptr_t plain_next = 0;

void log_word(const char* word) {
    frame_host::current->log.push_back(word);
}

template <int which> void __cdecl share(std::uint32_t phase) noexcept {
    if (phase == 0) log_word(which == 0 ? "a" : "b");
}
template <int which> std::uintptr_t share_address() {
    return reinterpret_cast<std::uintptr_t>(&share<which>);
}

void* __cdecl plain_hook() {
    log_word("p");
    volatile auto next = reinterpret_cast<void* (*)()>(plain_next);
    return next();
}

// One plug-in on the site: the module's way (a resident call), or the plain way of a plug-in
// that keeps the five bytes it replaced and writes them back when it goes, whatever stands there.
struct plugin_on_site {
    std::optional<injector::resident_call> resident;
    std::optional<injector::scoped_call> plain;

    template <int which> static std::unique_ptr<plugin_on_site> load_resident() {
        auto plugin = std::make_unique<plugin_on_site>();
        EXPECT_EQ(plugin->resident.emplace().attach(test_site, share_address<which>()),
                  patch_status::done);
        return plugin;
    }
    static std::unique_ptr<plugin_on_site> load_plain() {
        auto plugin = std::make_unique<plugin_on_site>();
        EXPECT_EQ(plugin->plain.emplace().attach(test_site,
                                                 reinterpret_cast<std::uintptr_t>(&plain_hook)),
                  patch_status::done);
        plain_next = plugin->plain->previous();
        return plugin;
    }
};

class ResidentCalls : public test_host::spare_site_test {
  protected:
    void SetUp() override {
        spare_site_test::SetUp();
        blocks_before = code_memory_blocks();
    }

    static std::size_t code_memory_blocks() { return os::stand_in::current().code_memory.size(); }

    // How the process maps the page at `address`: "r-x", "rw-", ... as /proc/self/maps says.
    static std::string mapped_access(std::uintptr_t address) {
        std::ifstream maps("/proc/self/maps");
        std::string line;
        while (std::getline(maps, line)) {
            unsigned long from = 0, to = 0;
            char access[5] = {};
            if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, access) != 3) continue;
            if (from <= address && address < to) return std::string(access, 3);
        }
        return "not mapped";
    }

    // One frame: who ran, in order; the host's result must come back whatever ran before it.
    std::vector<std::string> frame() {
        host->log.clear();
        EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
        return host->log;
    }
    using words = std::vector<std::string>;

    std::size_t blocks_before = 0;
};

TEST_F(ResidentCalls, SiteRunsTheShareAroundTheGamesFunctionAndGetsItsBytesBack) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);

    EXPECT_EQ(call.previous(), test_host::host_per_frame);
    EXPECT_EQ(injector::read_branch_target(test_site), call.entry());
    EXPECT_EQ(test_host::call_destination(test_site), share_address<0>());
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    EXPECT_EQ(frame(), (words{"a", "host"}));

    const std::uintptr_t entry = call.entry();
    EXPECT_EQ(call.release(), patch_status::done);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    EXPECT_EQ(frame(), (words{"host"}));
    EXPECT_EQ(call.release(), patch_status::done) << "nothing held any more";
    EXPECT_EQ(os::stand_in::current().paused_milliseconds, 0u) << "nobody inside: no wait";

    // The code outlives the unload, leading home: a thread of the game that took the site's
    // CALL just before still finds it and goes on to the game's own function.
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    using entry_fn = void* (*)();
    volatile auto through_code = reinterpret_cast<entry_fn>(entry);
    host->log.clear();
    EXPECT_EQ(through_code(), reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_EQ(host->log, (words{"host"}));

    // Load after load, the site calls that same code again: no memory is asked for.
    for (int load = 0; load < 2; ++load) {
        ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);
        EXPECT_EQ(call.entry(), entry);
        EXPECT_EQ(call.previous(), test_host::host_per_frame);
        EXPECT_EQ(frame(), (words{"a", "host"}));
        EXPECT_EQ(call.release(), patch_status::done);
        EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    }
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
}

// Both kinds of call share one allocation: the second site finds the slot the first left free.
TEST_F(ResidentCalls, BothKindsOfCallShareOneAllocation) {
    const test_host::aim_host aim;
    injector::resident_call frame_call;
    injector::resident_call aim_call(resident_kind::retarget);
    ASSERT_EQ(frame_call.attach(test_site, share_address<0>()), patch_status::done);
    ASSERT_EQ(aim_call.attach(0x527A95, share_address<1>(), 0x521500), patch_status::done);
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    EXPECT_EQ(frame_call.entry() & ~0xFFFu, aim_call.entry() & ~0xFFFu);
}

// The new code is flushed to the processor before the site is written to call it.
TEST_F(ResidentCalls, NewCodeIsFlushedBeforeTheSiteCallsIt) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);
    const auto& flushes = os::stand_in::current().flushes;
    const std::uintptr_t block = call.entry() & ~0xFFFu;
    std::size_t code_flush = flushes.size(), site_flush = flushes.size();
    for (std::size_t i = 0; i < flushes.size(); ++i) {
        if (flushes[i].address <= call.entry() && call.entry() < flushes[i].address + flushes[i].size &&
            flushes[i].address >= block)
            code_flush = std::min(code_flush, i);
        if (flushes[i].address >= test_site && flushes[i].address < test_site + 5)
            site_flush = std::min(site_flush, i);
    }
    ASSERT_LT(site_flush, flushes.size()) << "the site's write was flushed";
    EXPECT_LT(code_flush, site_flush);
}

// Resident code left behind is used again only for a site that does just what it stands for:
// the same bytes, leading to the same place. Here it was left by the frame host's site, and
// another site holds its bytes but leads elsewhere, or leads to the same function with other
// bytes.
TEST_F(ResidentCalls, CodeLeftBehindServesOnlyASiteThatDoesWhatItStandsFor) {
    injector::resident_call first;
    ASSERT_EQ(first.attach(test_site, share_address<0>()), patch_status::done);
    ASSERT_EQ(first.release(), patch_status::done);

    constexpr std::uint32_t other_site = test_site + 0x100;
    const auto* const host_function = test_host::at(test_host::host_per_frame);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uintptr_t leads_to;
    } sites[] = {
        {"same bytes, elsewhere", host->original_call_bytes(),
         other_site + 5 + (test_host::host_per_frame - (test_site + 5))},
        {"same function, other bytes",
         test_host::rel32_instruction(0xE8, other_site, host_function), test_host::host_per_frame},
    };
    for (const auto& site : sites) {
        SCOPED_TRACE(site.name);
        const test_host::bytes_patch laid(other_site, site.bytes);
        const std::size_t blocks = code_memory_blocks();
        injector::resident_call call;
        ASSERT_EQ(call.attach(other_site, share_address<1>()), patch_status::done);
        EXPECT_EQ(call.previous(), site.leads_to);
        EXPECT_EQ(code_memory_blocks(), blocks + 1) << "code of its own";
        EXPECT_EQ(call.release(), patch_status::done);
        EXPECT_EQ(test_host::read_bytes(other_site, 5), site.bytes);
    }
    EXPECT_EQ(frame(), (words{"host"}));
}

// A site whose write Windows refuses is left as it was: code left behind goes home again, so the
// next load still finds it unused; new memory is given back.
TEST_F(ResidentCalls, ARefusedWriteLeavesNothingInUseAndGivesNewMemoryBack) {
    auto& os_state = os::stand_in::current();
    os_state.fail_protect_switch = true;
    injector::resident_call call;
    EXPECT_EQ(call.attach(test_site, share_address<0>()), patch_status::refused);
    EXPECT_FALSE(call.attached());
    EXPECT_EQ(code_memory_blocks(), blocks_before) << "new memory given back";

    os_state.fail_protect_switch = false;
    ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);
    const std::uintptr_t entry = call.entry();
    ASSERT_EQ(call.release(), patch_status::done);

    os_state.fail_protect_switch = true;
    EXPECT_EQ(call.attach(test_site, share_address<0>()), patch_status::refused);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    EXPECT_EQ(frame(), (words{"host"}));

    os_state.fail_protect_switch = false;
    ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);
    EXPECT_EQ(call.entry(), entry);
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    EXPECT_EQ(frame(), (words{"a", "host"}));
}

// Windows gives no memory, or will not let it run: the site is left as it was, and says why.
TEST_F(ResidentCalls, NoMemoryThatMayRunLeavesTheSiteAsItWas) {
    auto& os_state = os::stand_in::current();
    for (bool* refusal : {&os_state.refuse_code_memory, &os_state.refuse_running_code}) {
        *refusal = true;
        injector::resident_call call;
        EXPECT_EQ(call.attach(test_site, share_address<0>()), patch_status::no_code_memory);
        EXPECT_FALSE(call.attached());
        EXPECT_EQ(code_memory_blocks(), blocks_before) << "nothing kept";
        EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
        EXPECT_EQ(frame(), (words{"host"}));
        *refusal = false;
    }
}

// The code page runs and is never writable; the data page the code reads is writable and never
// runs. Laying a second site in the same block writes the data page alone.
TEST_F(ResidentCalls, TheCodePageRunsReadOnlyAndTheDataPageNeverRuns) {
    const test_host::aim_host aim;
    injector::resident_call frame_call, aim_call(resident_kind::retarget);
    ASSERT_EQ(frame_call.attach(test_site, share_address<0>()), patch_status::done);
    ASSERT_EQ(aim_call.attach(0x527A95, share_address<1>(), 0x521500), patch_status::done);
    const std::uintptr_t block = frame_call.entry() & ~std::uintptr_t{0xFFF};
    ASSERT_EQ(aim_call.entry() & ~std::uintptr_t{0xFFF}, block);
    EXPECT_EQ(mapped_access(block), "r-x");
    EXPECT_EQ(mapped_access(block + 0x1000), "rw-");
    EXPECT_EQ(frame(), (words{"a", "host"}));
}

// Memory that carries the mark is resident code only where it holds exactly the code the module
// lays there; an earlier layout's mark is never taken for this one.
TEST_F(ResidentCalls, MemoryIsTakenForResidentCodeOnlyWhereItHoldsExactlyThatCode) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);
    const std::uintptr_t entry = call.entry();
    const std::uintptr_t offset = entry & 0xFFF;
    ASSERT_TRUE(injector::resident_at(entry));
    EXPECT_FALSE(injector::resident_at(entry + 1));

    auto* const copy = static_cast<std::uint8_t*>(os::allocate_code_memory(0x2000));
    ASSERT_NE(copy, nullptr);
    const auto* const block = reinterpret_cast<const std::uint8_t*>(entry - offset);
    const auto copy_entry = reinterpret_cast<std::uintptr_t>(copy) + offset;
    const struct {
        const char* name;
        void (*change)(std::uint8_t* code);
    } cases[] = {
        {"its code copied elsewhere (it reads another block's cells)", [](std::uint8_t*) {}},
        {"the mark alone", [](std::uint8_t* code) { std::memset(code + 8, 0xCC, 0xF8); }},
        {"an earlier layout", [](std::uint8_t* code) { code[7] = '\1'; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memcpy(copy, block, 0x2000);
        c.change(copy);
        EXPECT_FALSE(injector::resident_at(copy_entry));
    }
}

// A copy of the module that finds the site calling resident code another copy still uses chains
// to it instead of taking it over; the bytes the site held before the first copy are found
// through every copy laid over it.
TEST_F(ResidentCalls, CodeInUseIsNeverTakenOverAndTheFirstBytesAreFoundThroughEveryCopy) {
    const auto game_bytes = host->original_call_bytes();
    std::vector<std::unique_ptr<injector::resident_call>> copies;
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        const std::uintptr_t before = injector::read_branch_target(test_site);
        auto& call = copies.emplace_back(std::make_unique<injector::resident_call>());
        ASSERT_EQ(call->attach(test_site, share_address<0>()), patch_status::done);
        if (n > 1) {
            EXPECT_EQ(call->previous(), before);
        }
        std::uint8_t now[5];
        std::memcpy(now, test_host::at(test_site), sizeof now);
        const std::uint8_t* const original = injector::resident_original(now, test_site);
        ASSERT_NE(original, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(original, original + 5), game_bytes);
    }
    EXPECT_EQ(frame(), (words{"a", "a", "a", "a", "host"}));
    while (!copies.empty())
        copies.pop_back();
    EXPECT_EQ(host->site_bytes(), game_bytes);
}

// Plug-in A (the module's way) loads first, B second; B is another copy of the module or a
// plug-in of the plain way. They unload in load order or in reverse. After every step the frame
// runs, and every plug-in still loaded still runs; none that is gone is ever reached.
struct unload_case {
    const char* name;
    bool second_plain;
    bool first_goes_first;
    std::vector<std::string> after_first_unload; // who runs once one of them is gone
};

void PrintTo(const unload_case& c, std::ostream* out) {
    *out << c.name;
}

class ResidentCallsInEveryOrder : public ResidentCalls,
                                  public ::testing::WithParamInterface<unload_case> {};

TEST_P(ResidentCallsInEveryOrder, NeverCrashNeverUnhookTheOther) {
    const unload_case& c = GetParam();
    auto first = plugin_on_site::load_resident<0>();
    auto second = c.second_plain ? plugin_on_site::load_plain() : plugin_on_site::load_resident<1>();
    const std::string second_name = c.second_plain ? "p" : "b";
    EXPECT_EQ(frame(), (words{second_name, "a", "host"}));

    (c.first_goes_first ? first : second).reset();
    EXPECT_EQ(frame(), c.after_first_unload);

    (c.first_goes_first ? second : first).reset();
    EXPECT_EQ(frame(), (words{"host"}));

    // What stays behind is used again: the next load that finds the site calling code no
    // module uses takes it over, and at its unload the site gets the game's own bytes back. The
    // load after that finds the code that stands for those bytes; no load asks for memory.
    for (int load = 0; load < 2; ++load) {
        auto again = plugin_on_site::load_resident<1>();
        EXPECT_EQ(frame(), (words{"b", "host"}));
        again.reset();
        EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
        EXPECT_EQ(frame(), (words{"host"}));
    }
    EXPECT_EQ(code_memory_blocks(), blocks_before + (c.second_plain ? 1 : 2));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ResidentCallsInEveryOrder,
    ::testing::Values(unload_case{"copy_in_load_order", false, true, {"b", "host"}},
                      unload_case{"copy_in_reverse", false, false, {"a", "host"}},
                      unload_case{"plain_in_load_order", true, true, {"p", "host"}},
                      unload_case{"plain_in_reverse", true, false, {"a", "host"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Unloading while threads of the game run -------------------------------------------------

// A share that a thread of the game can be held in, as corvane's own work (a key poll, a reload)
// may take a while.
std::atomic<int> entered{0};
std::atomic<bool> hold{false};
void __cdecl held_share(std::uint32_t phase) noexcept {
    if (phase != 0) return;
    entered.fetch_add(1);
    while (hold.load())
        std::this_thread::yield();
}

// At release the code first leads home, then waits while a thread of the game is counted inside
// the share, until the unload's deadline at the latest; only then does the site get its bytes
// back. Nobody inside: no wait at all.
struct leaving_case {
    const char* name;
    int pauses_inside; // pauses during which the thread stays in the share (-1: it never leaves)
    std::uint32_t paused;
};

void PrintTo(const leaving_case& c, std::ostream* out) {
    *out << c.name;
}

class ResidentCallsLetThreadsLeave : public ResidentCalls,
                                     public ::testing::WithParamInterface<leaving_case> {};

TEST_P(ResidentCallsLetThreadsLeave, BeforeTheSiteGetsItsBytesBack) {
    const leaving_case& c = GetParam();
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, reinterpret_cast<std::uintptr_t>(&held_share)),
              patch_status::done);
    const std::uintptr_t entry = call.entry();
    entered = 0;
    hold = c.pauses_inside != 0;
    std::thread game([&] {
        using entry_fn = void* (*)();
        volatile auto site_caller = reinterpret_cast<entry_fn>(entry);
        EXPECT_EQ(site_caller(), reinterpret_cast<void*>(test_host::per_frame_result));
    });
    if (c.pauses_inside != 0) {
        while (entered.load() == 0)
            std::this_thread::yield();
    } else {
        game.join();
    }

    auto& os_state = os::stand_in::current();
    int pauses = 0;
    os_state.during_pause = [&] {
        ++pauses;
        EXPECT_EQ(injector::read_branch_target(test_site), entry) << "the site waits its turn";
        EXPECT_EQ(call.threads_inside(), 1);
        if (pauses != c.pauses_inside) return;
        hold = false;
        while (call.threads_inside() != 0) // it leaves the share, counted out, before the next
            std::this_thread::yield();
    };
    EXPECT_EQ(call.release(), patch_status::done);
    os_state.during_pause = nullptr;
    hold = false;
    if (game.joinable()) game.join();

    EXPECT_EQ(os_state.paused_milliseconds, c.paused);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
}

INSTANTIATE_TEST_SUITE_P(Threads, ResidentCallsLetThreadsLeave,
                         ::testing::Values(leaving_case{"none_inside", 0, 0},
                                           leaving_case{"one_leaving_after_a_while", 5, 5},
                                           leaving_case{"one_that_never_leaves", -1,
                                                        injector::unload_deadline_ms}),
                         [](const auto& info) { return std::string(info.param.name); });

// The game's own function runs while nothing of the module is on the stack: a frame function that
// unloads the module (or is still running when another thread does) returns through the resident
// code to the game, the unload does not wait for it, and the module's work after the frame no
// longer runs.
TEST_F(ResidentCalls, AnUnloadFromInsideTheGamesFunctionDoesNotWaitAndTheFrameReturns) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, reinterpret_cast<std::uintptr_t>(&held_share)),
              patch_status::done);
    std::vector<std::uint8_t> site_after_unload;
    host->during_host = [&] {
        injector::begin_unload(false);
        EXPECT_EQ(call.release(), patch_status::done);
        site_after_unload = host->site_bytes();
    };
    entered = 0;
    EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    host->during_host = nullptr;
    injector::forget_unload();

    EXPECT_EQ(entered.load(), 1) << "the share ran before the game's function only";
    EXPECT_EQ(site_after_unload, host->original_call_bytes());
    EXPECT_EQ(os::stand_in::current().paused_milliseconds, 0u);
}

// The aim's kind: the camera runs from the resident code, with the point the share chose kept in
// the resident code's own frame, so an unload while the camera runs neither waits nor takes the
// point away, and the camera's result reaches the game.
TEST_F(ResidentCalls, AnUnloadWhileTheCameraRunsLetsTheAimFinishWithItsPoint) {
    test_host::aim_host aim;
    auto* const player = &aim.player;
    player->set_weapon(0, 22);
    static const float offset_point[3] = {0.5f, 0.25f, 0.125f};
    struct share_of_test {
        static const float* __cdecl choose(const float*, float* room) noexcept {
            std::memcpy(room, offset_point, sizeof offset_point);
            return room;
        }
    };
    injector::resident_call call(resident_kind::retarget);
    ASSERT_EQ(call.attach(0x527A95, reinterpret_cast<std::uintptr_t>(&share_of_test::choose),
                          0x521500),
              patch_status::done);
    aim.during_camera = [&] {
        injector::begin_unload(false);
        EXPECT_EQ(call.release(), patch_status::done);
    };
    float target[3] = {7, 8, 9};
    EXPECT_EQ(aim.call_aim_site(&aim, target, 1, 2, 3), test_host::camera_result);
    aim.during_camera = nullptr;
    injector::forget_unload();

    ASSERT_EQ(aim.calls.camera.size(), 1u);
    EXPECT_EQ(aim.calls.camera[0].target_value, (std::array<float, 3>{0.5f, 0.25f, 0.125f}));
    EXPECT_EQ(aim.calls.camera[0].words, (std::array<std::uint32_t, 3>{1, 2, 3}));
    EXPECT_EQ(os::stand_in::current().paused_milliseconds, 0u);
    EXPECT_EQ(test_host::read_bytes(0x527A95, 5), test_host::original_aim_call_bytes());
    // Unloaded, the site is the game's own: the camera gets the game's target.
    EXPECT_EQ(aim.call_aim_site(&aim, target, 1, 2, 3), test_host::camera_result);
    EXPECT_EQ(aim.calls.camera[1].target_value, (std::array<float, 3>{7, 8, 9}));
}

// A retarget share a thread of the game can be held in, as held_share for the around kind.
const float* __cdecl held_retarget_share(const float* target, float*) noexcept {
    entered.fetch_add(1);
    while (hold.load())
        std::this_thread::yield();
    return target;
}

// The unload leads every site home at once and waits within one deadline for all of them: with a
// thread that never leaves the share of each site, it costs the deadline once, not once a site.
TEST_F(ResidentCalls, OneDeadlineForTheWholeUnload) {
    test_host::aim_host aim;
    injector::resident_call frame_call, aim_call(resident_kind::retarget);
    ASSERT_EQ(frame_call.attach(test_site, reinterpret_cast<std::uintptr_t>(&held_share)),
              patch_status::done);
    ASSERT_EQ(aim_call.attach(0x527A95, reinterpret_cast<std::uintptr_t>(&held_retarget_share),
                              0x521500),
              patch_status::done);
    entered = 0;
    hold = true;
    std::thread frame_thread([entry = frame_call.entry()] {
        volatile auto site_caller = reinterpret_cast<void* (*)()>(entry);
        site_caller();
    });
    std::thread aim_thread([&aim] {
        float target[3] = {7, 8, 9};
        EXPECT_EQ(aim.call_aim_site(&aim, target, 1, 2, 3), test_host::camera_result);
    });
    while (entered.load() != 2)
        std::this_thread::yield();

    injector::begin_unload(false);
    EXPECT_EQ(injector::resident_at(frame_call.entry())->share, 0u) << "led home before any wait";
    EXPECT_EQ(injector::resident_at(aim_call.entry())->share, 0u) << "led home before any wait";
    EXPECT_EQ(frame_call.release(), patch_status::done);
    EXPECT_EQ(aim_call.release(), patch_status::done);
    EXPECT_EQ(os::stand_in::current().paused_milliseconds, injector::unload_deadline_ms);
    hold = false;
    frame_thread.join();
    aim_thread.join();
    injector::forget_unload();
}

// Work the unload waits for whole (a save) is waited for past the deadline, and the deadline
// counts again from its end; work that ended before the unload began changes nothing. Once an
// unload has given up on a thread, no such work begins.
struct awaited_work_case {
    const char* name;
    bool ended_before_the_unload; // work held and ended a while before the unload began
    std::uint32_t ends_at;        // pauses of the unload after which work held in it ends; 0: none
    std::uint32_t paused;
};

void PrintTo(const awaited_work_case& c, std::ostream* out) {
    *out << c.name;
}

class ResidentCallsAwaitedWork : public ResidentCalls,
                                 public ::testing::WithParamInterface<awaited_work_case> {};

TEST_P(ResidentCallsAwaitedWork, HoldsTheDeadlineUntilItEnds) {
    const awaited_work_case& c = GetParam();
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, reinterpret_cast<std::uintptr_t>(&held_share)),
              patch_status::done);
    entered = 0;
    hold = true;
    std::thread game([entry = call.entry()] {
        volatile auto site_caller = reinterpret_cast<void* (*)()>(entry);
        site_caller();
    });
    while (entered.load() == 0)
        std::this_thread::yield();

    auto& os_state = os::stand_in::current();
    os_state.milliseconds = 100;
    if (c.ended_before_the_unload) {
        ASSERT_TRUE(injector::unload_waits_for());
    }
    os_state.milliseconds = 600;
    std::optional<injector::unload_waits_for> save;
    if (c.ends_at) {
        ASSERT_TRUE(save.emplace());
    }
    os_state.during_pause = [&] {
        if (os_state.paused_milliseconds == c.ends_at) save.reset();
    };
    injector::begin_unload(false);
    EXPECT_EQ(call.release(), patch_status::done);
    EXPECT_EQ(os_state.paused_milliseconds, c.paused);
    EXPECT_FALSE(injector::unload_waits_for()) << "granted after the unload gave up";
    hold = false;
    game.join();
    os_state.during_pause = nullptr;
    injector::forget_unload();
    EXPECT_TRUE(injector::unload_waits_for()) << "a fresh load grants it again";
}

INSTANTIATE_TEST_SUITE_P(
    Work, ResidentCallsAwaitedWork,
    ::testing::Values(
        awaited_work_case{"none", false, 0, injector::unload_deadline_ms},
        awaited_work_case{"ended_before_the_unload", true, 0, injector::unload_deadline_ms},
        awaited_work_case{"longer_than_the_deadline", false, 3 * injector::unload_deadline_ms,
                          4 * injector::unload_deadline_ms},
        awaited_work_case{"ending_just_before_the_deadline", false,
                          injector::unload_deadline_ms - 1, 2 * injector::unload_deadline_ms - 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Windows ends the process: its other threads are gone, so nothing waits and nothing of the game
// is written; the sites keep calling the resident code, which leads home.
TEST_F(ResidentCalls, AtTheProcessExitNothingWaitsAndNothingIsWritten) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, share_address<0>()), patch_status::done);
    const std::uintptr_t entry = call.entry();
    auto& os_state = os::stand_in::current();
    os_state.protect_calls.clear();

    injector::begin_unload(true);
    EXPECT_EQ(call.release(), patch_status::done);
    injector::forget_unload();

    EXPECT_TRUE(os_state.protect_calls.empty());
    EXPECT_EQ(os_state.paused_milliseconds, 0u);
    EXPECT_EQ(injector::read_branch_target(test_site), entry);
    EXPECT_EQ(frame(), (words{"host"}));
}

} // namespace
