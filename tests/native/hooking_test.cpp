// Chained call hooks on a host call site, run by executing the patched CALL for real.
#include "frame_host.h"

#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_host::frame_host;

constexpr std::uint32_t test_site = test_host::spare_call_site;
using test_hooker = injector::function_hooker<injector::resident_call, test_site, void*()>;

void* as_result(std::uintptr_t value) {
    return reinterpret_cast<void*>(value);
}

void log_word(const std::string& word) {
    frame_host::current->log.push_back(word);
}

// A hook that logs `word` before the host's function and `word'` after it.
test_hooker::hook_type around(std::string word) {
    return {[word] { log_word(word); }, [word] { log_word(word + "'"); }};
}

// Installs `hook` with `hooker`; every site these tests patch holds a call, so patching goes
// through as asked.
void install(test_hooker& hooker, test_hooker::hook_type hook) {
    EXPECT_EQ(hooker.install(std::move(hook)), injector::patch_status::done);
}

class CallHooks : public test_host::spare_site_test {
  protected:
    static std::shared_ptr<test_hooker::manager_type> manager() {
        return test_hooker::site_manager();
    }
    // Where the site leads in the end: the share its resident code runs.
    std::uintptr_t site_destination() const { return test_host::call_destination(test_site); }
    static std::uintptr_t share() { return reinterpret_cast<std::uintptr_t>(&test_hooker::site_share); }
};

TEST_F(CallHooks, OneHookRunsBeforeAndAfterTheHostWhoseResultReachesTheCallerUntouched) {
    test_hooker hooker;
    install(hooker, around("hook"));

    EXPECT_EQ(site_destination(), share());
    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->log, (std::vector<std::string>{"hook", "host", "hook'"}));
    EXPECT_EQ(host->host_runs, 1);
}

TEST_F(CallHooks, NewestHookRunsFirstBeforeTheHostAndLastAfterIt) {
    test_hooker a, b, c;
    install(a, around("A"));
    install(b, around("B"));
    install(c, around("C"));

    host->run_frame();
    host->run_frame();

    const std::vector<std::string> one_frame = {"C", "B", "A", "host", "A'", "B'", "C'"};
    std::vector<std::string> two_frames = one_frame;
    two_frames.insert(two_frames.end(), one_frame.begin(), one_frame.end());
    EXPECT_EQ(host->log, two_frames);
}

TEST_F(CallHooks, MoreHooksThanTheStackKeepsCopiesOfStillRunInOrder) {
    std::vector<std::unique_ptr<test_hooker>> hookers;
    std::vector<std::string> expected, way_out;
    for (int i = 0; i < 11; ++i) {
        const std::string word = "h" + std::to_string(i);
        hookers.push_back(std::make_unique<test_hooker>());
        install(*hookers.back(), around(word));
        expected.insert(expected.begin(), word);
        way_out.push_back(word + "'");
    }
    expected.push_back("host");
    expected.insert(expected.end(), way_out.begin(), way_out.end());

    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->log, expected);
}

// Hooks with one part or none: each phase runs what there is.
TEST_F(CallHooks, AHookMayHaveOnlyOnePart) {
    test_hooker before_only, after_only;
    install(before_only, {[] { log_word("before"); }, nullptr});
    install(after_only, {nullptr, [] { log_word("after"); }});

    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->log, (std::vector<std::string>{"before", "host", "after"}));
}

TEST_F(CallHooks, InstallingAgainReplacesTheHookInPlaceWithoutTouchingTheSite) {
    test_hooker a, b;
    install(a, around("A"));
    install(b, around("B"));
    os::stand_in::current().protect_calls.clear();

    install(a, around("A2")); // still the oldest entry

    EXPECT_TRUE(os::stand_in::current().protect_calls.empty());
    EXPECT_EQ(manager()->hook_count(), 2u);
    host->run_frame();
    EXPECT_EQ(host->log, (std::vector<std::string>{"B", "A2", "host", "A2'", "B'"}));
}

TEST_F(CallHooks, CopyTakesOverTheRegistrationAsTheNewestEntry) {
    std::optional<test_hooker> a(std::in_place);
    test_hooker b;
    install(*a, around("A"));
    install(b, around("B"));

    const test_hooker copy(*a);
    a.reset(); // the source has nothing left to remove

    EXPECT_TRUE(copy.is_installed());
    EXPECT_EQ(manager()->hook_count(), 2u);
    EXPECT_EQ(site_destination(), share());
    host->run_frame();
    EXPECT_EQ(host->log, (std::vector<std::string>{"A", "B", "host", "B'", "A'"}));
}

TEST_F(CallHooks, LastHookGoneRestoresTheSiteAndTheNextInstallReadsTheCallAgain) {
    {
        test_hooker first;
        install(first, around("first"));
        EXPECT_EQ(site_destination(), share());
    }
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
    EXPECT_FALSE(manager()->is_site_patched());
    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));

    host->call_other_host_function();
    test_hooker second;
    install(second, around("second"));
    host->log.clear();

    EXPECT_EQ(host->run_frame(), as_result(test_host::other_result));
    EXPECT_EQ(host->log, (std::vector<std::string>{"second", "other host", "second'"}));
    EXPECT_EQ(reinterpret_cast<std::uint32_t>(manager()->host_function_address()),
              test_host::host_per_frame_other);
}

class CallHooksOneOfTwoRemoved : public CallHooks, public ::testing::WithParamInterface<bool> {};

TEST_P(CallHooksOneOfTwoRemoved, TheOtherRunsAloneOnAStillPatchedSite) {
    const bool remove_newer = GetParam();
    std::optional<test_hooker> older(std::in_place), newer(std::in_place);
    install(*older, around("older"));
    install(*newer, around("newer"));

    (remove_newer ? newer : older).reset();

    EXPECT_EQ(site_destination(), share());
    EXPECT_EQ(manager()->hook_count(), 1u);
    const std::string left = remove_newer ? "older" : "newer";
    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->log, (std::vector<std::string>{left, "host", left + "'"}));
}

INSTANTIATE_TEST_SUITE_P(Which, CallHooksOneOfTwoRemoved, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "newer" : "older"; });

// Failing hooks: whatever they do, the host's frame runs exactly once and the caller gets the
// host's result.
struct failure_case {
    const char* name;
    std::vector<test_hooker::hook_type> hooks; // oldest first
};

void PrintTo(const failure_case& c, std::ostream* out) {
    *out << c.name;
}

class CallHooksContainFailures : public CallHooks,
                                 public ::testing::WithParamInterface<failure_case> {};

TEST_P(CallHooksContainFailures, HostRunsOnceAndItsResultIsReturned) {
    std::vector<std::unique_ptr<test_hooker>> hookers;
    for (const auto& hook : GetParam().hooks) {
        hookers.push_back(std::make_unique<test_hooker>());
        install(*hookers.back(), hook);
    }

    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->host_runs, 1);
    // The hooks stay in place: the next frame fails the same way and again runs the host once.
    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->host_runs, 2);
}

const test_hooker::hook_type throws_before = {[] { throw std::runtime_error("before"); }, nullptr};
const test_hooker::hook_type throws_after = {nullptr, [] { throw 42; }}; // not a std::exception
const test_hooker::hook_type logs = around("ok");

INSTANTIATE_TEST_SUITE_P(
    Cases, CallHooksContainFailures,
    ::testing::Values(failure_case{"throws_before", {throws_before}},
                      failure_case{"throws_after", {throws_after}},
                      failure_case{"empty_hook", {test_hooker::hook_type()}},
                      failure_case{"older_throws_under_newer", {throws_before, logs}},
                      failure_case{"newer_throws_after", {logs, throws_after}},
                      failure_case{"empty_older_hook", {test_hooker::hook_type(), logs}}),
    [](const auto& info) { return std::string(info.param.name); });

// The last hook goes only once the site leads home and the threads of the game inside the hooks
// have left: a thread still running the hook finds it whole, and the entry goes after.
TEST_F(CallHooks, TheLastHookStaysWholeWhileAThreadOfTheGameRunsIt) {
    static std::atomic<bool> inside, hold;
    inside = false;
    hold = true;
    std::string seen;
    auto hooker = std::make_unique<test_hooker>();
    install(*hooker, {[&seen, word = std::string("the hook, whole")] {
                          inside = true;
                          while (hold.load())
                              std::this_thread::yield();
                          seen = word;
                      },
                      nullptr});
    std::thread game([this] { host->run_frame(); });
    while (!inside.load())
        std::this_thread::yield();

    // The stand-in's clock moves a millisecond a pause, whatever the thread does meanwhile: the
    // first pause lets the hook go on and waits until the thread has left the share, so the
    // unload's deadline never passes while it is inside.
    const std::uintptr_t entry = injector::read_branch_target(test_site);
    int pauses = 0;
    os::stand_in::current().during_pause = [&] {
        if (++pauses != 1) return;
        EXPECT_EQ(manager()->hook_count(), 1u) << "gone under a running thread";
        hold = false;
        while (injector::resident_at(entry)->threads_inside != 0)
            std::this_thread::yield();
    };
    hooker.reset();
    os::stand_in::current().during_pause = nullptr;
    hold = false;
    game.join();

    EXPECT_GT(pauses, 0) << "the removal waited for the thread in the hook";
    EXPECT_EQ(seen, "the hook, whole");
    EXPECT_EQ(manager()->hook_count(), 0u);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
}

// Windows refusing to lift the protection: the site keeps its own CALL and is not taken as
// patched, the game's frame runs as before, the last hook's removal puts nothing back, and the
// next install, once Windows allows it, patches the site.
TEST_F(CallHooks, RefusedPatchLeavesTheSiteUnpatchedAndTheNextInstallPatchesIt) {
    auto& os_state = os::stand_in::current();
    os_state.fail_protect_switch = true;
    {
        test_hooker refused;
        EXPECT_EQ(refused.install(around("never")), injector::patch_status::refused);
        EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
        EXPECT_FALSE(manager()->is_site_patched());
        EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
        EXPECT_EQ(host->log, (std::vector<std::string>{"host"}));
        os_state.protect_calls.clear();
    }
    EXPECT_TRUE(os_state.protect_calls.empty()) << "nothing to put back";

    os_state.fail_protect_switch = false;
    test_hooker allowed;
    install(allowed, around("hook"));
    EXPECT_EQ(site_destination(), share());
    host->log.clear();
    EXPECT_EQ(host->run_frame(), as_result(test_host::per_frame_result));
    EXPECT_EQ(host->log, (std::vector<std::string>{"hook", "host", "hook'"}));
}

class CallHooksSiteWithoutBranch : public CallHooks,
                                   public ::testing::WithParamInterface<std::vector<std::uint8_t>> {
};

// Only the game's own kind of call is patched: anything else, another plug-in's JMP detour or
// CALL through a cell included, is left exactly as it is.
TEST_P(CallHooksSiteWithoutBranch, AttachLeavesTheSiteUntouched) {
    const test_host::bytes_patch no_branch(test_site, GetParam());
    test_hooker hooker;
    EXPECT_EQ(hooker.install(around("never")), injector::patch_status::not_a_call);

    EXPECT_EQ(host->site_bytes(), GetParam());
    EXPECT_FALSE(manager()->is_site_patched());
    EXPECT_EQ(manager()->host_function_address(), nullptr);
    for (const auto& call : os::stand_in::current().protect_calls)
        EXPECT_NE(call.size, 5u) << "five bytes were saved for a patch";
}

INSTANTIATE_TEST_SUITE_P(
    Contents, CallHooksSiteWithoutBranch,
    ::testing::Values(std::vector<std::uint8_t>{0x90, 0x90, 0x90, 0x90, 0x90},
                      std::vector<std::uint8_t>{0xFF, 0xD0, 0x90, 0x90, 0x90},  // call eax
                      std::vector<std::uint8_t>{0xE9, 0x00, 0x10, 0x00, 0x00},  // jmp detour
                      std::vector<std::uint8_t>{0xFF, 0x15, 0x00, 0x00, 0x7F},  // call [cell]
                      std::vector<std::uint8_t>{0xFF, 0x25, 0x00, 0x00, 0x7F})); // jmp [cell]

// What the probe teardown below saw: it runs between the retained hookers' release and the
// drop of the module's reference to the manager.
struct unload_observation {
    bool ran = false;
    std::vector<std::uint8_t> site_bytes;
    bool manager_alive = false;
};
unload_observation observed;
std::weak_ptr<test_hooker::manager_type> watched_manager;

void observe_unload() {
    observed.ran = true;
    observed.site_bytes = test_host::read_bytes(test_site, 5);
    observed.manager_alive = !watched_manager.expired();
}

TEST_F(CallHooks, RetainedHookOutlivesItsHookerAndUnloadRestoresTheSiteBeforeTheManagerGoes) {
    watched_manager = manager(); // creates the manager and registers the drop of its reference
    observed = {};
    injector::register_teardown(&observe_unload);
    {
        test_hooker local;
        install(local, around("kept"));
        injector::retain_hooker(local);
    }
    host->run_frame();
    EXPECT_EQ(host->log, (std::vector<std::string>{"kept", "host", "kept'"}));

    injector::run_teardowns();

    ASSERT_TRUE(observed.ran);
    EXPECT_EQ(observed.site_bytes, host->original_call_bytes());
    EXPECT_TRUE(observed.manager_alive);
    EXPECT_TRUE(watched_manager.expired());
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());
}

} // namespace
