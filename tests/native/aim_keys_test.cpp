// The aim mode frame by frame: the player's own keys, a toggle key, a gamepad button through the
// stand-in's fake controller and clock, and the swing of the sideways factor the aim hook uses.
#include "aim_host.h"
#include "frame_host.h"

#include "injector/branch.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

namespace {

using plugin::named_setting;

class AimKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        plugin::prepare_gamepad(); // as start-up does, before any frame
    }
    void TearDown() override {
        test_host::reset_module();
        test_host::reset_platform();
    }

    // The named settings as a file would give them: "name value" lines from line 32.
    static void use(const std::vector<std::string>& lines) {
        plugin::named_reading reading;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            plugin::named_line read;
            ASSERT_TRUE(reading.offer(32 + static_cast<int>(i), lines[i].c_str(), &read));
            ASSERT_EQ(read.problem, plugin::named_problem::none) << lines[i];
        }
        plugin::set_aim_key_settings(reading.values());
    }

    // One frame at `ms` on the stand-in's clock.
    static void frame_at(std::uint32_t ms) {
        os::stand_in::current().milliseconds = ms;
        plugin::update_aim_keys();
    }
};

// One frame: the keys held and the fake controller's buttons, then the mode after it.
struct key_frame {
    std::vector<int> keys_down;
    std::uint16_t pad_buttons;
    std::uint8_t mode_after;
};

struct toggle_case {
    const char* name;
    std::vector<std::string> settings;
    std::vector<key_frame> frames;
    std::vector<int> queried_each_frame; // empty: not checked
};

void PrintTo(const toggle_case& c, std::ostream* out) {
    *out << c.name;
}

class AimKeysFrames : public AimKeys, public ::testing::WithParamInterface<toggle_case> {};

TEST_P(AimKeysFrames, SetTheModeFrameByFrame) {
    const toggle_case& c = GetParam();
    use(c.settings);
    auto& os_state = os::stand_in::current();
    os_state.pad_slot = 0;
    int frame = 0;
    for (const key_frame& f : c.frames) {
        SCOPED_TRACE(::testing::Message() << "frame " << ++frame);
        os_state.keys_down = f.keys_down;
        os_state.pad.buttons = f.pad_buttons;
        os_state.key_queries.clear();
        frame_at(16u * static_cast<std::uint32_t>(frame));
        EXPECT_EQ(plugin::aim_mode, f.mode_after);
        if (!c.queried_each_frame.empty()) {
            EXPECT_EQ(os_state.key_queries, c.queried_each_frame);
        }
    }
}

constexpr int key_q = 'Q', key_m = 'M', key_z = plugin::key_z, key_x = plugin::key_x;
constexpr int mouse4 = 0x05;
constexpr std::uint16_t pad_a = 0x1000, pad_b = 0x2000;

std::vector<key_frame> held(std::vector<int> keys, std::uint16_t pad, int frames,
                            std::uint8_t mode) {
    return std::vector<key_frame>(static_cast<std::size_t>(frames), key_frame{keys, pad, mode});
}

std::vector<key_frame> operator+(std::vector<key_frame> a, const std::vector<key_frame>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AimKeysFrames,
    ::testing::Values(
        toggle_case{"toggle_key_held_for_many_frames_swaps_once",
                    {"key_toggle Q"},
                    held({}, 0, 2, 0) + held({key_q}, 0, 30, 1) + held({}, 0, 5, 1),
                    {key_q, key_z, key_x}},
        toggle_case{"toggle_key_held_from_the_first_frame_swaps_once",
                    {"key_toggle Q"},
                    held({key_q}, 0, 30, 1),
                    {}},
        toggle_case{"toggle_key_press_release_press_swaps_twice",
                    {"key_toggle Q"},
                    {{{key_q}, 0, 1}, {{}, 0, 1}, {{key_q}, 0, 0}, {{key_q}, 0, 0}, {{}, 0, 0}},
                    {}},
        toggle_case{"toggle_on_a_mouse_button",
                    {"key_toggle Mouse4"},
                    {{{mouse4}, 0, 1}, {{}, 0, 1}, {{mouse4}, 0, 0}},
                    {}},
        toggle_case{"a_held_mode_key_wins_over_the_toggle",
                    {"key_toggle Q"},
                    {{{key_q, key_z}, 0, 0}, {{}, 0, 0}, {{key_q, key_x}, 0, 1}},
                    {}},
        toggle_case{"pad_button_held_for_many_frames_swaps_once",
                    {"pad_toggle A"},
                    held({}, 0, 1, 0) + held({}, pad_a, 20, 1) + held({}, pad_b, 5, 1),
                    {}},
        toggle_case{"pad_button_press_release_press_swaps_twice",
                    {"pad_toggle A"},
                    {{{}, pad_a, 1}, {{}, pad_b, 1}, {{}, pad_a | pad_b, 0}, {{}, 0, 0}},
                    {}},
        toggle_case{"key_and_pad_pressed_in_one_frame_swap_once",
                    {"key_toggle Q", "pad_toggle A"},
                    {{{key_q}, pad_a, 1}, {{}, pad_a, 1}, {{}, 0, 1}, {{key_q}, pad_a, 0}},
                    {}},
        toggle_case{"own_mirrored_key_replaces_x",
                    {"key_mirrored M"},
                    {{{key_x}, 0, 0}, {{key_m}, 0, 1}, {{}, 0, 1}, {{key_z}, 0, 0}},
                    {}},
        toggle_case{"a_key_set_to_none_is_not_asked",
                    {"key_normal none", "key_mirrored Mouse4"},
                    {{{mouse4}, 0, 1}, {{key_z}, 0, 1}},
                    {mouse4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AimKeys, OwnMirroredKeyIsAskedInPlaceOfX) {
    use({"key_mirrored M"});
    auto& os_state = os::stand_in::current();
    frame_at(0);
    EXPECT_EQ(os_state.key_queries, (std::vector<int>{key_z, key_m}));
}

// A load reads named lines from line 32 to 95, and among the weapon lines too, without taking
// them for weapons; each load starts again from the defaults.
TEST_F(AimKeys, ALoadReadsNamedLinesWhereTheyMayStand) {
    const test_host::aim_host host; // the game's functions a load calls
    test_host::plugin_dir dir;
    std::vector<std::string> lines = {"reload 0", "--"};
    for (int n = 3; n <= 9; ++n)
        lines.push_back("value 1.5");
    lines.push_back("--");
    for (int r = 0; r < 4; ++r)
        lines.push_back("row 1 2 3 4 5 6 7");
    lines.push_back("--");
    lines.push_back("22 0.5 0.2 0.1"); // line 16
    lines.push_back("key_mirrored M"); // line 17: among the weapon lines
    lines.resize(31);
    lines.push_back("swing_ms 100"); // line 32
    lines.resize(94);
    lines.push_back("mirror_factor -2"); // line 95: the last read
    lines.push_back("key_toggle Q");     // line 96: not read
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    dir.write_settings(text);
    plugin::create_weapon_offset_list();
    plugin::load_aiming_settings();

    const plugin::named_values& settings = plugin::aim_key_settings();
    EXPECT_EQ(settings[named_setting::key_mirrored].whole, 'M');
    EXPECT_EQ(settings[named_setting::swing_ms].whole, 100);
    EXPECT_EQ(settings[named_setting::mirror_factor].number, -2.0f);
    EXPECT_EQ(settings[named_setting::key_toggle].whole, 0);
    ASSERT_NE(plugin::weapon_offset_list(), nullptr);
    EXPECT_EQ(plugin::weapon_offset_list()->size(), 1u) << "the named line added no weapon";

    dir.write_settings("reload 0\n");
    plugin::load_aiming_settings();
    EXPECT_EQ(plugin::aim_key_settings(), plugin::named_values{}) << "back to the defaults";
}

// --- the gamepad ------------------------------------------------------------------------------

// The library is loaded at start-up; a frame never enters the loader, with pad_toggle set or not.
TEST_F(AimKeys, NoGamepadIsAskedWithoutPadToggleAndNoFrameLoadsItsLibrary) {
    for (std::uint32_t ms = 0; ms < 3000; ms += 16)
        frame_at(ms);
    EXPECT_EQ(os::stand_in::current().pad_queries, 0);
    use({"pad_toggle A"});
    for (std::uint32_t ms = 3000; ms < 6000; ms += 16)
        frame_at(ms);
    EXPECT_GT(os::stand_in::current().pad_queries, 0);
    EXPECT_EQ(os::stand_in::current().gamepad_library_loads, 1) << "at start-up only";
}

// An empty slot can take long to answer: with no controller, one slot is asked a second, each
// in turn, never all four in one frame.
TEST_F(AimKeys, EmptySlotsAreAskedOneASecondInTurn) {
    use({"pad_toggle A"});
    auto& os_state = os::stand_in::current();
    std::vector<std::uint32_t> asked_at; // the frames that asked
    int queries_before = 0;
    for (std::uint32_t ms = 5000; ms < 9500; ms += 7) {
        frame_at(ms);
        if (os_state.pad_queries != queries_before) {
            EXPECT_EQ(os_state.pad_queries - queries_before, 1) << ms;
            asked_at.push_back(ms);
        }
        queries_before = os_state.pad_queries;
    }
    EXPECT_EQ(os_state.gamepad_library_loads, 1);
    EXPECT_EQ(os_state.pad_slots_asked, (std::vector<int>{0, 1, 2, 3, 0}));
    ASSERT_EQ(asked_at.size(), 5u) << "asked at start, then about every second";
    for (std::size_t i = 1; i < asked_at.size(); ++i) {
        EXPECT_GE(asked_at[i] - asked_at[i - 1], 1000u);
        EXPECT_LT(asked_at[i] - asked_at[i - 1], 1000u + 7u);
    }
}

TEST_F(AimKeys, EmptySlotsWaitASecondAcrossTheClockRunningRound) {
    use({"pad_toggle A"});
    auto& os_state = os::stand_in::current();
    const std::uint32_t start = 0xFFFFFF00u; // 256 ms before the 32-bit clock runs round
    frame_at(start);
    const int first = os_state.pad_queries;
    for (std::uint32_t ms = start + 16; ms != start + 992; ms += 16)
        frame_at(ms);
    EXPECT_EQ(os_state.pad_queries, first) << "asked again within the second";
    frame_at(start + 1000);
    EXPECT_EQ(os_state.pad_queries, 2 * first);
}

TEST_F(AimKeys, AControllerFoundIsAskedEveryFrameUntilUnplugged) {
    use({"pad_toggle RightTrigger"});
    auto& os_state = os::stand_in::current();
    os_state.pad_slot = 2;
    os_state.pad.right_trigger = 200;
    frame_at(0);
    frame_at(1000);
    EXPECT_EQ(plugin::aim_mode, 0);
    frame_at(2000);
    EXPECT_EQ(os_state.pad_slots_asked, (std::vector<int>{0, 1, 2})) << "one slot a second";
    EXPECT_EQ(plugin::aim_mode, 1);
    os_state.pad.right_trigger = plugin::pad_trigger_threshold; // barely touched: released
    frame_at(2016);
    EXPECT_EQ(os_state.pad_slots_asked.back(), 2) << "only the connected slot";
    EXPECT_EQ(os_state.pad_queries, 4);
    EXPECT_EQ(plugin::aim_mode, 1);
    os_state.pad.right_trigger = 255;
    frame_at(2032);
    EXPECT_EQ(plugin::aim_mode, 0);

    os_state.pad_slot = -1; // unplugged
    frame_at(2048);
    const int after_unplug = os_state.pad_queries;
    frame_at(2900);
    EXPECT_EQ(os_state.pad_queries, after_unplug) << "empty slots wait a second";
    os_state.pad_slot = 2; // plugged in again
    os_state.pad.right_trigger = 0;
    os_state.pad.buttons = 0;
    frame_at(3048);
    EXPECT_EQ(os_state.pad_queries, after_unplug + 1);
    EXPECT_EQ(os_state.pad_slots_asked.back(), 2) << "the slot it left is asked first";
}

// Each trigger by its own name: the one named swaps the mode when pulled, the other never does.
struct trigger_case {
    const char* name;
    const char* setting;
    std::uint8_t left, right; // how far each trigger is pulled
    std::uint8_t mode_after;
};

void PrintTo(const trigger_case& c, std::ostream* out) {
    *out << c.name;
}

class AimKeysTriggers : public AimKeys, public ::testing::WithParamInterface<trigger_case> {};

TEST_P(AimKeysTriggers, OnlyTheNamedTriggerSwaps) {
    const trigger_case& c = GetParam();
    use({c.setting});
    auto& os_state = os::stand_in::current();
    os_state.pad_slot = 0;
    os_state.pad.left_trigger = c.left;
    os_state.pad.right_trigger = c.right;
    for (std::uint32_t ms = 0; ms <= 64; ms += 16)
        frame_at(ms);
    ASSERT_EQ(os_state.pad_slots_asked.front(), 0) << "the controller was asked";
    EXPECT_EQ(plugin::aim_mode, c.mode_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AimKeysTriggers,
    ::testing::Values(
        trigger_case{"left_named_left_pulled", "pad_toggle LeftTrigger", 255, 0, 1},
        trigger_case{"left_named_right_pulled", "pad_toggle LeftTrigger", 0, 255, 0},
        trigger_case{"right_named_right_pulled", "pad_toggle RightTrigger", 0, 255, 1},
        trigger_case{"right_named_left_pulled", "pad_toggle RightTrigger", 255, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AimKeys, WithoutAGamepadLibraryTheKeysStillWork) {
    use({"pad_toggle A", "key_toggle Q"});
    auto& os_state = os::stand_in::current();
    os_state.gamepad_library_present = false;
    plugin::prepare_gamepad(); // start-up finds none
    const int loads = os_state.gamepad_library_loads;
    os_state.keys_down = {key_q};
    for (std::uint32_t ms = 0; ms < 3000; ms += 16)
        frame_at(ms);
    EXPECT_EQ(os_state.gamepad_library_loads, loads) << "no frame tries again";
    EXPECT_EQ(os_state.pad_queries, 0);
    EXPECT_EQ(plugin::aim_mode, 1);
}

// --- the swing --------------------------------------------------------------------------------

struct swing_point {
    float from, to;
    std::uint32_t elapsed;
    int swing_ms;
    float factor;
};

TEST(swing_factor, follows_the_eased_curve_from_its_start_to_its_end) {
    const swing_point points[] = {
        {1, -3, 0, 0, -3},         // 0 is instant
        {1, -3, 0, 400, 1},        // starts where it was
        {1, -3, 200, 400, -1},     // halfway at half the time
        {1, -3, 100, 400, 0.375f}, // a quarter of the time: 5/32 of the way (eased in)
        {1, -3, 300, 400, -2.375f}, {1, -3, 400, 400, -3}, // there at the time
        {1, -3, 100000, 400, -3},                          // and stays there
        {-3, 1, 200, 400, -1},                             // the same back
        {-1, 1, 1000, 2000, 0},                            // from the middle of an earlier swing
        {2, 2, 5, 400, 2},
    };
    for (const swing_point& p : points) {
        const plugin::aim_swing swing{p.from, p.to, 123};
        EXPECT_FLOAT_EQ(plugin::swing_factor(swing, p.elapsed, p.swing_ms), p.factor)
            << p.from << " to " << p.to << " at " << p.elapsed << " of " << p.swing_ms;
    }
}

TEST(swing_factor, never_overshoots_and_never_turns_back) {
    const float ends[] = {1.0f, -3.0f, -10.0f, 10.0f, 0.1f, -0.0f, 1.0000001f, 3.4e-38f};
    for (float from : ends)
        for (float to : ends)
            for (int swing_ms : {1, 3, 7, 250, 2000}) {
                float last = from;
                for (std::uint32_t t = 0; t <= static_cast<std::uint32_t>(swing_ms) + 1; ++t) {
                    const float f = plugin::swing_factor({from, to, 0}, t, swing_ms);
                    ASSERT_GE(f, std::fmin(from, to)) << from << " " << to << " " << t;
                    ASSERT_LE(f, std::fmax(from, to)) << from << " " << to << " " << t;
                    ASSERT_TRUE(to >= from ? f >= last : f <= last) << from << " " << to;
                    last = f;
                }
                ASSERT_EQ(last, to);
            }
}

TEST_F(AimKeys, SwingTakesItsTimeAndTurnsBackFromWhereItIs) {
    use({"swing_ms 400", "mirror_factor -3"});
    auto& os_state = os::stand_in::current();
    frame_at(1000);
    EXPECT_EQ(plugin::aim_factor(), 1.0f);
    os_state.keys_down = {key_x};
    frame_at(1000);
    EXPECT_EQ(plugin::aim_factor(), 1.0f) << "the swing starts where the factor is";
    frame_at(1200);
    EXPECT_FLOAT_EQ(plugin::aim_factor(), -1.0f) << "halfway at half the time";
    frame_at(1300);
    const float three_quarters = plugin::aim_factor();
    EXPECT_FLOAT_EQ(three_quarters, -2.375f);

    os_state.keys_down = {key_z}; // back, mid-swing
    frame_at(1300);
    EXPECT_EQ(plugin::aim_factor(), three_quarters) << "no jump when turning back";
    frame_at(1301);
    EXPECT_GT(plugin::aim_factor(), three_quarters);
    EXPECT_LT(plugin::aim_factor(), three_quarters + 0.01f) << "it eases in";
    frame_at(1500);
    EXPECT_FLOAT_EQ(plugin::aim_factor(), (three_quarters + 1.0f) / 2.0f);
    frame_at(1700);
    EXPECT_EQ(plugin::aim_factor(), 1.0f);
    // 2^32 ms later the 32-bit clock has run round to just after this swing began: it stays.
    frame_at(1300 + 144);
    EXPECT_EQ(plugin::aim_factor(), 1.0f);
}

TEST_F(AimKeys, SwingZeroJumpsToTheFactorOfTheMode) {
    use({"mirror_factor 2.5"});
    auto& os_state = os::stand_in::current();
    os_state.keys_down = {key_x};
    frame_at(10);
    EXPECT_EQ(plugin::aim_factor(), 2.5f);
    os_state.keys_down = {key_z};
    frame_at(11);
    EXPECT_EQ(plugin::aim_factor(), 1.0f);
}

TEST_F(AimKeys, AFactorChangedByAReloadAppliesInTheOtherMode) {
    use({});
    auto& os_state = os::stand_in::current();
    os_state.keys_down = {key_x};
    frame_at(10);
    EXPECT_EQ(plugin::aim_factor(), -3.0f);
    use({"mirror_factor -1.5"});
    frame_at(20);
    EXPECT_EQ(plugin::aim_factor(), -1.5f);
}

// The default factor with no swing gives exactly the offsets the fixed keys gave: x as it is in
// the normal mode, x * -3 in the other.
class AimKeysHook : public AimKeys {
  protected:
    void SetUp() override {
        AimKeys::SetUp();
        host = std::make_unique<test_host::aim_host>();
        plugin::create_weapon_offset_list();
        ASSERT_EQ(host->hook_aim_site(), injector::patch_status::done);
        host->player.set_weapon(2, 22);
    }
    void TearDown() override {
        AimKeys::TearDown();
        host.reset();
    }
    float aimed_x(float x) {
        plugin::begin_weapon_offset_load();
        plugin::set_weapon_offset({22, {x, 1.0f, 0.0f}});
        host->calls = {};
        int object = 0;
        float target[3] = {};
        host->call_aim_site(&object, target, 0, 0, 0);
        EXPECT_EQ(host->calls.transforms.size(), 1u);
        return host->calls.transforms.empty() ? 0.0f : host->calls.transforms[0].offset[0];
    }
    std::unique_ptr<test_host::aim_host> host;
};

TEST_F(AimKeysHook, DefaultFactorGivesTheSameBitsAsTheFixedKeys) {
    use({"mirror_factor -3", "swing_ms 0"});
    const float xs[] = {0.5f,
                        -0.3f,
                        0.1f,
                        -0.0f,
                        1e-40f, // a subnormal
                        std::numeric_limits<float>::max(),
                        -std::numeric_limits<float>::infinity(),
                        1.0f / 3.0f};
    auto& os_state = os::stand_in::current();
    for (const float x : xs) {
        os_state.keys_down = {key_z};
        frame_at(0);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(aimed_x(x)), std::bit_cast<std::uint32_t>(x)) << x;
        os_state.keys_down = {key_x};
        frame_at(1);
        const float mirrored = x * -3.0f; // what the fixed X key gave
        EXPECT_EQ(std::bit_cast<std::uint32_t>(aimed_x(x)), std::bit_cast<std::uint32_t>(mirrored))
            << x;
    }
}

// The starter file lists every named line, commented out at its default, so that taking away
// the one '#' switches it on; as shipped it sets nothing.
TEST(starter_file, ends_with_every_named_line_commented_out_at_its_default) {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/aimingSets.dat", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_GT(lines.size(), 31u);

    plugin::named_reading as_shipped, switched_on;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        EXPECT_FALSE(as_shipped.offer(number, lines[i].c_str())) << "line " << number;
        if (number <= 31 || lines[i].rfind("#", 0) != 0) continue;
        const std::string uncommented = lines[i].substr(1);
        const std::string first_word = uncommented.substr(0, uncommented.find(' '));
        if (!plugin::find_named_setting(first_word.c_str(), static_cast<int>(first_word.size())))
            continue; // a heading
        plugin::named_line read;
        ASSERT_TRUE(switched_on.offer(number, uncommented.c_str(), &read)) << lines[i];
        EXPECT_EQ(read.problem, plugin::named_problem::none) << lines[i];
        ASSERT_NE(read.row, nullptr) << lines[i];
        EXPECT_EQ(read.value, read.row->default_value) << lines[i];
    }
    for (int i = 0; i < plugin::named_setting_count; ++i)
        EXPECT_NE(switched_on.values().given_by[i], 0) << plugin::named_settings_table[i].name;
}

} // namespace
