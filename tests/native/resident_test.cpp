// Call sites patched through resident jumps, with other plug-ins on the same site, unloaded in
// every order. The site's CALL is executed for real after each step: a site that led into a
// module that is gone would run freed memory here too.
#include "frame_host.h"

#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/resident.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using test_host::frame_host;

constexpr std::uint32_t test_site = test_host::spare_call_site;

// Three hooks, standing for three plug-ins on the site: each logs its name and passes the call
// on to what its own patch says the site called before it.
struct hook_slot {
    const char* name;
    std::uintptr_t next = 0;
};
hook_slot hook_slots[] = {{"a"}, {"b"}, {"p"}};

template <int slot> void* hook() {
    frame_host::current->log.push_back(hook_slots[slot].name);
    volatile auto next = reinterpret_cast<void* (*)()>(hook_slots[slot].next);
    return next();
}
template <int slot> std::uintptr_t hook_address() {
    return reinterpret_cast<std::uintptr_t>(&hook<slot>);
}

// One plug-in on the site: corvane's way (a resident call), or the plain way of a plug-in that
// keeps the five bytes it replaced and writes them back when it goes, whatever stands there then.
struct plugin_on_site {
    std::optional<injector::resident_call> resident;
    std::optional<injector::scoped_call> plain;

    template <int slot> static std::unique_ptr<plugin_on_site> load(bool plain_way) {
        auto plugin = std::make_unique<plugin_on_site>();
        injector::patch_status status;
        if (plain_way) {
            status = plugin->plain.emplace().attach(test_site, hook_address<slot>());
            hook_slots[slot].next = plugin->plain->previous();
        } else {
            status = plugin->resident.emplace().attach(test_site, hook_address<slot>());
            hook_slots[slot].next = plugin->resident->previous();
        }
        EXPECT_EQ(status, injector::patch_status::done);
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

    // One frame: who ran, in order; the host's result must come back whatever ran before it.
    std::vector<std::string> frame() {
        host->log.clear();
        EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
        return host->log;
    }
    using words = std::vector<std::string>;

    std::size_t blocks_before = 0;
};

TEST_F(ResidentCalls, SiteLeadsThroughItsJumpToTheHookAndGetsItsBytesBack) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::done);
    hook_slots[0].next = call.previous();

    EXPECT_EQ(call.previous(), test_host::host_per_frame);
    EXPECT_EQ(injector::read_branch_target(test_site), call.entry());
    EXPECT_EQ(test_host::call_destination(test_site), hook_address<0>());
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    EXPECT_EQ(frame(), (words{"a", "host"}));

    const std::uintptr_t entry = call.entry();
    EXPECT_EQ(call.release(), injector::patch_status::done);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    EXPECT_EQ(frame(), (words{"host"}));
    EXPECT_EQ(call.release(), injector::patch_status::done) << "nothing held any more";

    // The jump outlives the unload, leading home: a thread of the game that took the site's
    // CALL just before still finds it and goes on to the game's own function.
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    using entry_fn = void* (*)();
    volatile auto through_jump = reinterpret_cast<entry_fn>(entry);
    EXPECT_EQ(through_jump(), reinterpret_cast<void*>(test_host::per_frame_result));

    // Load after load, the site calls that same jump again: no memory is asked for.
    for (int load = 0; load < 2; ++load) {
        ASSERT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::done);
        EXPECT_EQ(call.entry(), entry);
        EXPECT_EQ(call.previous(), test_host::host_per_frame);
        EXPECT_EQ(frame(), (words{"a", "host"}));
        EXPECT_EQ(call.release(), injector::patch_status::done);
        EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    }
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
}

// A jump left behind is used again only for a site that does just what it stands for: the same
// bytes, leading to the same place. Here it was left by the frame host's site, and another site
// holds its bytes but leads elsewhere, or leads to the same function with other bytes.
TEST_F(ResidentCalls, AJumpLeftBehindServesOnlyASiteThatDoesWhatItStandsFor) {
    injector::resident_call first;
    ASSERT_EQ(first.attach(test_site, hook_address<0>()), injector::patch_status::done);
    ASSERT_EQ(first.release(), injector::patch_status::done);

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
        ASSERT_EQ(call.attach(other_site, hook_address<1>()), injector::patch_status::done);
        EXPECT_EQ(call.previous(), site.leads_to);
        EXPECT_EQ(code_memory_blocks(), blocks + 1) << "a jump of its own";
        EXPECT_EQ(call.release(), injector::patch_status::done);
        EXPECT_EQ(test_host::read_bytes(other_site, 5), site.bytes);
    }
    EXPECT_EQ(frame(), (words{"host"}));
}

// A site whose write Windows refuses is left as it was, and the jump it would have called goes
// home again, so the next load still finds it unused.
TEST_F(ResidentCalls, ARefusedWriteLeavesTheJumpLeftBehindFreeForTheNextLoad) {
    injector::resident_call call;
    ASSERT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::done);
    hook_slots[0].next = call.previous();
    const std::uintptr_t entry = call.entry();
    ASSERT_EQ(call.release(), injector::patch_status::done);

    os::stand_in::current().fail_protect_switch = true;
    EXPECT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::refused);
    EXPECT_FALSE(call.attached());
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    EXPECT_EQ(frame(), (words{"host"}));

    os::stand_in::current().fail_protect_switch = false;
    ASSERT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::done);
    EXPECT_EQ(call.entry(), entry);
    EXPECT_EQ(code_memory_blocks(), blocks_before + 1);
    EXPECT_EQ(frame(), (words{"a", "host"}));
}

// At release the jump first leads home, then the threads of the game get the time to leave it
// and the hooks: a moment, then as long as one runs a site trampoline, at most a second. Only
// then does the site get its bytes back.
struct leaving_case {
    const char* name;
    int pauses_inside; // pauses during which a thread stays in a trampoline (-1: it never leaves)
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
    ASSERT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::done);
    hook_slots[0].next = call.previous();
    const std::uintptr_t entry = call.entry();
    auto& os_state = os::stand_in::current();
    injector::threads_in_trampolines = c.pauses_inside != 0 ? 1 : 0;
    int pauses = 0;
    os_state.during_pause = [&] {
        ++pauses;
        EXPECT_EQ(injector::read_branch_target(test_site), entry) << "the site waits its turn";
        EXPECT_EQ(frame(), (words{"host"})) << "a call taking the jump now goes home";
        if (pauses == c.pauses_inside) injector::threads_in_trampolines = 0;
    };
    EXPECT_EQ(call.release(), injector::patch_status::done);
    os_state.during_pause = nullptr;
    injector::threads_in_trampolines = 0;

    EXPECT_EQ(os_state.paused_milliseconds, c.paused);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
}

INSTANTIATE_TEST_SUITE_P(Threads, ResidentCallsLetThreadsLeave,
                         ::testing::Values(leaving_case{"none_inside", 0, 20},
                                           leaving_case{"one_leaving_after_a_while", 5, 20 + 4},
                                           leaving_case{"one_that_never_leaves", -1, 20 + 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResidentCalls, NoMemoryLeavesTheSiteAsItWas) {
    os::stand_in::current().refuse_code_memory = true;
    injector::resident_call call;
    EXPECT_THROW(static_cast<void>(call.attach(test_site, hook_address<0>())), std::bad_alloc);
    EXPECT_FALSE(call.attached());
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    EXPECT_EQ(frame(), (words{"host"}));
}

TEST_F(ResidentCalls, ASiteWithNothingToCallIsLeftAlone) {
    const test_host::bytes_patch not_a_call(test_site, {0x90, 0x90, 0x90, 0x90, 0x90});
    injector::resident_call call;
    EXPECT_EQ(call.attach(test_site, hook_address<0>()), injector::patch_status::not_a_call);
    EXPECT_FALSE(call.attached());
    EXPECT_EQ(test_host::read_bytes(test_site, 5),
              (std::vector<std::uint8_t>{0x90, 0x90, 0x90, 0x90, 0x90}));
    EXPECT_EQ(code_memory_blocks(), blocks_before);
}

// Plug-in A (corvane's way) loads first, B second; B is another copy of corvane or a plug-in of
// the plain way. They unload in load order or in reverse. After every step the frame runs, and
// every plug-in still loaded still runs its hook; none that is gone is ever reached.
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
    auto first = plugin_on_site::load<0>(false);
    auto second = c.second_plain ? plugin_on_site::load<2>(true) : plugin_on_site::load<1>(false);
    const std::string second_name = c.second_plain ? "p" : "b";
    EXPECT_EQ(frame(), (words{second_name, "a", "host"}));

    (c.first_goes_first ? first : second).reset();
    EXPECT_EQ(frame(), c.after_first_unload);

    (c.first_goes_first ? second : first).reset();
    EXPECT_EQ(frame(), (words{"host"}));

    // What stays behind is used again: the next load that finds the site calling a jump no
    // module uses takes it over, and at its unload the site gets the game's own bytes back. The
    // load after that finds the jump that stands for those bytes; no load asks for memory.
    for (int load = 0; load < 2; ++load) {
        auto again = plugin_on_site::load<1>(false);
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

// A copy of the module that finds the site calling a jump another copy still uses chains to it
// instead of taking it over.
TEST_F(ResidentCalls, AJumpInUseIsNeverTakenOver) {
    auto first = plugin_on_site::load<0>(false);
    auto second = plugin_on_site::load<1>(false);
    EXPECT_NE(second->resident->entry(), first->resident->entry());
    EXPECT_EQ(second->resident->previous(), first->resident->entry());
    EXPECT_EQ(code_memory_blocks(), blocks_before + 2);
}

} // namespace
