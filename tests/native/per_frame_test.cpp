// The per-frame handler: the Z and X keys that set the aim mode, and the live reload of the
// settings file while its first line asks for it.
#include "frame_host.h"

#include "platform/os.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/frame/per_frame.h"
#include "plugin/load/settings_load.h"
#include "plugin/log/module_log.h"
#include "plugin/settings/file_values.h"
#include "plugin/settings/named_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using plugin::key_x;
using plugin::key_z;

class PerFrame : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        plugin::note_start_up_finished(); // as after start-up: frames come only then
    }
    void TearDown() override {
        test_host::reset_module();
        test_host::reset_platform();
    }
};

struct key_frame {
    std::vector<int> keys_down;
    std::uint8_t mode_after;
    std::vector<int> queries;
};

struct key_case {
    const char* name;
    std::uint8_t mode_before;
    std::vector<key_frame> frames;
};

void PrintTo(const key_case& c, std::ostream* out) {
    *out << c.name;
}

class PerFrameKeys : public PerFrame, public ::testing::WithParamInterface<key_case> {};

TEST_P(PerFrameKeys, SetTheAimModeFrameByFrame) {
    auto& os_state = os::stand_in::current();
    plugin::aim_mode = GetParam().mode_before;
    int frame = 0;
    for (const key_frame& f : GetParam().frames) {
        SCOPED_TRACE(::testing::Message() << "frame " << ++frame);
        os_state.keys_down = f.keys_down;
        os_state.key_queries.clear();
        plugin::per_frame_handler();
        EXPECT_EQ(plugin::aim_mode, f.mode_after);
        EXPECT_EQ(os_state.key_queries, f.queries);
    }
    EXPECT_TRUE(os_state.file_name_queries.empty()) << "the settings were read without reload";
}

const std::vector<int> z_then_x = {key_z, key_x};
const std::vector<int> z_only = {key_z};

INSTANTIATE_TEST_SUITE_P(
    Cases, PerFrameKeys,
    ::testing::Values(
        key_case{"no_key_keeps_zero", 0, {{{}, 0, z_then_x}, {{}, 0, z_then_x}}},
        key_case{"z_and_x_together_give_zero_without_asking_x", 1, {{{key_z, key_x}, 0, z_only}}},
        key_case{"x_then_released_stays_one_until_z",
                 0,
                 {{{key_x}, 1, z_then_x},
                  {{}, 1, z_then_x},
                  {{}, 1, z_then_x},
                  {{key_z}, 0, z_only},
                  {{}, 0, z_then_x}}},
        key_case{"other_keys_change_nothing", 1, {{{0x41, 0x59, 0x10}, 1, z_then_x}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Each settings load opens the file once: counting opens counts loads.
int loads_since(std::size_t& seen) {
    const auto opens = static_cast<std::size_t>(os::stand_in::current().opens_for_reading);
    const int loads = static_cast<int>(opens - seen);
    seen = opens;
    return loads;
}

// Up to line 5, the one whose value goes into the host's code.
std::string settings_with_reload(int value) {
    return "reload " + std::to_string(value) + "\n-\nline3 1.0\nline4 2.0\nline5 3.0\n";
}

class PerFrameReload : public PerFrame, public ::testing::WithParamInterface<int> {};

TEST_P(PerFrameReload, EveryFrameLoadsTheFileWhileTheFlagIsNonZero) {
    const int flag = GetParam();
    const test_host::plugin_dir dir;
    dir.write_settings(settings_with_reload(flag));
    std::size_t seen = 0;
    plugin::load_aiming_settings(); // the start-up load sets the flag from the file
    ASSERT_EQ(loads_since(seen), 1);
    ASSERT_EQ(plugin::reload_each_frame, flag);

    std::vector<int> loads;
    for (int frame = 0; frame < 3; ++frame) {
        plugin::per_frame_handler();
        loads.push_back(loads_since(seen));
    }
    EXPECT_EQ(loads, std::vector<int>(3, flag != 0 ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(Flags, PerFrameReload, ::testing::Values(1, 2, -1, INT_MIN, 0),
                         [](const auto& info) {
                             return info.param < 0
                                        ? "minus" + std::to_string(-(long long)info.param)
                                        : std::to_string(info.param);
                         });

// A frame can come on the game's thread while start-up, on the loading thread, is still at
// work: until start-up has finished, the handler polls no key, reads nothing and logs nothing.
TEST_F(PerFrame, BeforeStartUpHasFinishedAFrameDoesNothing) {
    const test_host::plugin_dir dir;
    dir.write_settings(settings_with_reload(1));
    plugin::open_module_log(u"/game/corvane.log");
    plugin::load_aiming_settings();
    plugin::weapon_in_hand.type = 22;
    auto& os_state = os::stand_in::current();
    const std::string log = os_state.files.at("/game/corvane.log");
    const int opens = os_state.opens_for_reading;
    os_state.keys_down = {key_x};
    plugin::forget_start_up_finished();

    plugin::per_frame_handler();
    EXPECT_TRUE(os_state.key_queries.empty());
    EXPECT_EQ(plugin::aim_mode, 0);
    EXPECT_EQ(os_state.opens_for_reading, opens);
    EXPECT_EQ(os_state.files.at("/game/corvane.log"), log);

    plugin::note_start_up_finished();
    plugin::per_frame_handler();
    EXPECT_EQ(os_state.key_queries, (std::vector<int>{key_z, key_x}));
    EXPECT_EQ(plugin::aim_mode, 1);
    EXPECT_EQ(os_state.opens_for_reading, opens + 1);
    EXPECT_NE(os_state.files.at("/game/corvane.log"), log) << "the weapon in hand is logged";
}

TEST_F(PerFrame, FrameWhoseLoadReadsZeroIsTheLastToLoad) {
    const test_host::plugin_dir dir;
    dir.write_settings(settings_with_reload(1));
    std::size_t seen = 0;
    plugin::load_aiming_settings();
    loads_since(seen);

    std::vector<int> loads;
    plugin::per_frame_handler();
    loads.push_back(loads_since(seen));
    dir.write_settings(settings_with_reload(0)); // edited while the game runs
    for (int frame = 0; frame < 3; ++frame) {
        plugin::per_frame_handler();
        loads.push_back(loads_since(seen));
    }
    EXPECT_EQ(loads, (std::vector<int>{1, 1, 0, 0}));
    EXPECT_EQ(plugin::reload_each_frame, 0);
}

} // namespace
