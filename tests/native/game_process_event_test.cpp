// The per-frame event: its handler lists, its one hook attempt, and what each execution of the
// host's CALL at 0x53E981 runs.
#include "frame_host.h"

#include "injector/branch.h"
#include "platform/os_stand_in.h"
#include "runtime/game_process_event.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
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
using runtime::handler;
using test_host::frame_host;

void log_word(const char* word) {
    frame_host::current->log.push_back(word);
}
void plain_f() {
    log_word("f");
}
void plain_g() {
    log_word("g");
}

class GameProcessEvent : public ::testing::Test {
  protected:
    void SetUp() override { start(build_1001); }
    void TearDown() override {
        test_host::reset_module();
        build.reset();
        host.reset();
    }

    void start(const build_bytes& b) {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<frame_host>();
        if (!b.bytes.empty()) build = std::make_unique<test_host::bytes_patch>(b.address, b.bytes);
    }

    static game_process_event& event() { return game_process_event::instance(); }
    static void add_pre(const handler& h) { event().add_handler(event().pre_handlers, h); }
    static void add_post(const handler& h) { event().add_handler(event().post_handlers, h); }

    std::unique_ptr<frame_host> host;
    std::unique_ptr<test_host::bytes_patch> build;
};

TEST_F(GameProcessEvent, PlainFunctionIsStoredOncePerListButInEachList) {
    add_post(plain_f);
    add_post(plain_f);
    add_pre(plain_f);
    add_post(plain_g);

    EXPECT_EQ(event().pre_handlers.size(), 1u);
    EXPECT_EQ(event().post_handlers.size(), 2u);
    host->run_frame();
    EXPECT_EQ(host->log, (std::vector<std::string>{"f", "host", "f", "g"}));
}

// A thread of the game may run a frame the instant the per-frame call is patched: by then the
// handler that asked for the hook is in its list, and the host's function is known.
TEST_F(GameProcessEvent, AFrameRunTheMomentTheCallIsPatchedRunsTheFirstHandler) {
    int frames_at_patch = 0;
    os::stand_in::current().after_flush = [&](const os::stand_in::flush_call& flush) {
        if (flush.address != test_host::per_frame_call_site + 1) return; // the CALL is whole now
        ++frames_at_patch;
        host->run_frame();
    };
    add_post([] { log_word("post"); });
    os::stand_in::current().after_flush = nullptr;

    EXPECT_EQ(frames_at_patch, 1);
    EXPECT_EQ(host->log, (std::vector<std::string>{"host", "post"}));
}

TEST_F(GameProcessEvent, ClosuresAreNeverFoldedAndRunOncePerEntry) {
    const handler closure = [] { log_word("c"); };
    add_post(closure);
    add_post(closure);
    add_post([] { plain_f(); }); // calls a stored plain function, but is a closure itself
    add_post(plain_f);           // so this one is not its duplicate

    EXPECT_EQ(event().post_handlers.size(), 4u);
    host->run_frame();
    EXPECT_EQ(host->log, (std::vector<std::string>{"host", "c", "c", "f", "f"}));
}

TEST_F(GameProcessEvent, HandlersAddedDuringTheWalkRunInTheSamePass) {
    static bool added;
    added = false;
    add_pre([] {
        log_word("p1");
        if (added) return;
        added = true;
        add_pre([] { log_word("p2"); });
        add_post([] { log_word("q"); });
    });

    host->run_frame();
    host->run_frame();
    EXPECT_EQ(host->log,
              (std::vector<std::string>{"p1", "p2", "host", "q", "p1", "p2", "host", "q"}));
}

// A failing pre handler ends the pre handlers of that frame; the host's function and the post
// handlers run all the same, each once.
TEST_F(GameProcessEvent, FailingPreHandlerStillLetsTheHostAndThePostHandlersRunOnce) {
    add_pre([] { throw std::runtime_error("pre"); });
    add_pre([] { log_word("second pre"); });
    add_post([] { log_word("post"); });

    EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
    EXPECT_EQ(host->log, (std::vector<std::string>{"host", "post"}));
}

class GameProcessEventHooked : public GameProcessEvent,
                               public ::testing::WithParamInterface<build_bytes> {
  protected:
    void SetUp() override { start(GetParam()); }
};

TEST_P(GameProcessEventHooked, EachExecutionRunsPreHostPostAndPassesTheHostResultOn) {
    add_post([] { log_word("post"); });
    add_pre([] { log_word("pre"); });

    EXPECT_EQ(test_host::call_destination(test_host::per_frame_call_site),
              reinterpret_cast<std::uintptr_t>(&runtime::per_frame_hooker::site_share));
    EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));

    add_post([] { log_word("later"); }); // from the next execution on
    EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));

    EXPECT_EQ(host->log,
              (std::vector<std::string>{"pre", "host", "post", "pre", "host", "post", "later"}));
}

INSTANTIATE_TEST_SUITE_P(Builds, GameProcessEventHooked, ::testing::Values(build_1001, build_1002),
                         [](const auto& info) { return std::string(info.param.name); });

class GameProcessEventNotHooked : public GameProcessEvent,
                                  public ::testing::WithParamInterface<build_bytes> {
  protected:
    void SetUp() override { start(GetParam()); }
};

TEST_P(GameProcessEventNotHooked, HandlersAreStoredAndTheSiteIsNeverTouched) {
    add_post([] { log_word("post"); });

    EXPECT_TRUE(event().hook_attempted);
    EXPECT_EQ(event().post_handlers.size(), 1u);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());

    // No second attempt: the next handler makes no host access at all, even on a host that
    // would now look like build 1001.
    const test_host::bytes_patch now_1001(build_1001.address, build_1001.bytes);
    os::stand_in::current() = {};
    add_pre([] { log_word("pre"); });
    EXPECT_TRUE(os::stand_in::current().protect_calls.empty());
    EXPECT_EQ(os::stand_in::current().process_module_queries, 0);
    EXPECT_EQ(host->site_bytes(), host->original_call_bytes());

    host->run_frame();
    EXPECT_EQ(host->log, (std::vector<std::string>{"host"}));
}

INSTANTIATE_TEST_SUITE_P(Builds, GameProcessEventNotHooked,
                         ::testing::Values(build_1011, build_3200, build_unknown),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
