// Live tuning of weapon offsets: a settings file edited between loads, each load made by the
// module's own loader, and the aim camera called through the hooked site after every load.
#include "aim_host.h"
#include "allocation_count.h"
#include "frame_host.h"

#include "injector/branch.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace {

using offset = std::array<float, 3>;

constexpr std::uint32_t aim_call_site = 0x527A95;

struct entry {
    std::int32_t type;
    offset xyz;
    bool operator==(const entry&) const = default;
};

void PrintTo(const entry& e, std::ostream* out) {
    *out << "{" << e.type << ": " << e.xyz[0] << ", " << e.xyz[1] << ", " << e.xyz[2] << "}";
}

// Lines 1 to 15 (reloading on), then the given weapon lines; the file ends after the last one.
std::string settings_text(const std::vector<std::string>& weapon_lines) {
    std::string text = "Reload 1\n--\n";
    for (int n = 3; n <= 9; ++n)
        text += "Value " + std::to_string(n) + "\n";
    text += "--\n";
    for (int r = 0; r < 4; ++r)
        text += "Row 1 2 3 4 5 6 7\n";
    text += "--\n";
    for (const auto& line : weapon_lines)
        text += line + "\n";
    return text;
}

class WeaponReload : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<test_host::aim_host>();
        plugin::create_weapon_offset_list();
        ASSERT_EQ(host->hook_aim_site(), injector::patch_status::done);
        dir = std::make_unique<test_host::plugin_dir>();
    }
    void TearDown() override {
        test_host::reset_module();
        dir.reset();
        host.reset();
    }

    void load(const std::vector<std::string>& weapon_lines) {
        dir->write_settings(settings_text(weapon_lines));
        plugin::load_aiming_settings();
    }

    // The offset the hook hands the host's transform for `weapon`, or none when it passes the
    // host's call through.
    std::optional<offset> aimed_offset(std::int32_t weapon, std::uint8_t mode) {
        host->player.set_weapon(1, weapon);
        plugin::publish_aim_factor(plugin::mode_factor(mode, plugin::named_values{}));
        host->calls = {};
        float target[3] = {7, 8, 9};
        EXPECT_EQ(host->call_aim_site(&object, target, 0, 0, 0), test_host::camera_result);
        if (host->calls.transforms.empty()) return std::nullopt;
        EXPECT_EQ(host->calls.transforms.size(), 1u);
        return host->calls.transforms[0].offset;
    }

    static std::vector<entry> entries() {
        std::vector<entry> out;
        for (const auto& e : *plugin::weapon_offset_list())
            out.push_back({e.weapon_type, {e.offset[0], e.offset[1], e.offset[2]}});
        return out;
    }

    std::unique_ptr<test_host::aim_host> host;
    std::unique_ptr<test_host::plugin_dir> dir;
    int object = 0;
};

struct aim_check {
    std::int32_t weapon;
    std::uint8_t mode;
    std::optional<offset> transformed; // none: the host's call passed through
};

struct reload_step {
    std::vector<std::string> weapon_lines;
    std::vector<aim_check> aims; // right after this load
};

struct reload_case {
    const char* name;
    std::vector<reload_step> steps;
    std::vector<entry> list_after;
};

void PrintTo(const reload_case& c, std::ostream* out) {
    *out << c.name;
}

class WeaponReloadSequence : public WeaponReload,
                             public ::testing::WithParamInterface<reload_case> {};

TEST_P(WeaponReloadSequence, TheNextAimFollowsTheFile) {
    const reload_case& c = GetParam();
    for (std::size_t n = 0; n < c.steps.size(); ++n) {
        load(c.steps[n].weapon_lines);
        for (const aim_check& a : c.steps[n].aims) {
            SCOPED_TRACE("load " + std::to_string(n) + ", weapon " + std::to_string(a.weapon) +
                         ", mode " + std::to_string(a.mode));
            EXPECT_EQ(aimed_offset(a.weapon, a.mode), a.transformed);
        }
    }
    EXPECT_EQ(entries(), c.list_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WeaponReloadSequence,
    ::testing::Values(
        reload_case{"first_load_as_before",
                    {{{"22 0.5 0.2 0.1", "-1 1 2 3", "0x16 9 9 9", "010 4 4 4", "30 1"},
                      {{22, 0, offset{0.5f, 0.2f, 0.1f}},
                       {25, 0, offset{1, 2, 3}},
                       {8, 0, offset{4, 4, 4}},
                       {30, 0, offset{1, 2, 3}}}}},
                    {{22, {0.5f, 0.2f, 0.1f}}, {-1, {1, 2, 3}}, {8, {4, 4, 4}}}},
        reload_case{"retune_an_existing_type",
                    {{{"22 0.5 0.2 0.1"}, {{22, 0, offset{0.5f, 0.2f, 0.1f}}}},
                     {{"22 1 2 3"}, {{22, 0, offset{1, 2, 3}}}},
                     {{"22 1 2 3"}, {{22, 0, offset{1, 2, 3}}}}},
                    {{22, {1, 2, 3}}}},
        reload_case{
            "retune_the_default",
            {{{"22 1 1 1", "-1 2 2 2"}, {{25, 0, offset{2, 2, 2}}}},
             {{"22 1 1 1", "-1 3 3 3"}, {{25, 0, offset{3, 3, 3}}, {22, 0, offset{1, 1, 1}}}}},
            {{22, {1, 1, 1}}, {-1, {3, 3, 3}}}},
        reload_case{"a_type_twice_in_one_file_across_reloads",
                    {{{"22 1 1 1", "22 2 2 2", "-1 5 5 5"}, {{22, 0, offset{1, 1, 1}}}},
                     {{"22 3 3 3", "22 2 2 2", "-1 5 5 5"}, {{22, 0, offset{3, 3, 3}}}},
                     {{"22 2 2 2", "22 3 3 3", "-1 5 5 5"}, {{22, 0, offset{2, 2, 2}}}},
                     {{"22 2 2 2", "22 3 3 3", "-1 5 5 5"}, {{22, 0, offset{2, 2, 2}}}}},
                    {{22, {2, 2, 2}}, {-1, {5, 5, 5}}}},
        reload_case{"a_type_removed_from_the_file_keeps_its_last_offset",
                    {{{"22 1 1 1", "23 2 2 2"}, {{23, 0, offset{2, 2, 2}}}},
                     {{"22 4 4 4", "23 5 5 5"}, {{22, 0, offset{4, 4, 4}}}},
                     {{"23 6 6 6"}, {{22, 0, offset{4, 4, 4}}, {23, 0, offset{6, 6, 6}}}}},
                    {{22, {4, 4, 4}}, {23, {6, 6, 6}}}},
        reload_case{
            "x_mode_on_a_retuned_offset",
            {{{"22 0.5 0.2 0.1"}, {{22, 1, offset{-1.5f, 0.2f, 0.1f}}}},
             {{"22 0.25 1 2"}, {{22, 1, offset{-0.75f, 1, 2}}, {22, 0, offset{0.25f, 1, 2}}}}},
            {{22, {0.25f, 1, 2}}}},
        reload_case{"a_type_retuned_to_zero_keeps_the_games_aim_despite_the_default",
                    {{{"22 1 1 1", "-1 9 9 9"}, {{22, 0, offset{1, 1, 1}}}},
                     {{"22 0 0 0", "-1 9 9 9"},
                      {{22, 0, std::nullopt}, {22, 1, std::nullopt}, {25, 0, offset{9, 9, 9}}}},
                     {{"22 0 0 1", "-1 9 9 9"}, {{22, 0, offset{0, 0, 1}}}}},
                    {{22, {0, 0, 1}}, {-1, {9, 9, 9}}}},
        reload_case{
            "a_type_new_in_a_later_load_takes_over_from_the_default",
            {{{"-1 9 9 9"}, {{25, 0, offset{9, 9, 9}}}},
             {{"-1 9 9 9", "25 1 2 3"}, {{25, 0, offset{1, 2, 3}}, {26, 0, offset{9, 9, 9}}}}},
            {{-1, {9, 9, 9}}, {25, {1, 2, 3}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Reloading each frame is the steady state: a load that changes nothing, or only retunes, must
// not allocate in the module.
TEST_F(WeaponReload, ReloadsThatAppendNothingAllocateNothing) {
    std::vector<std::string> lines;
    for (int i = 0; i < 16; ++i)
        lines.push_back(std::to_string(100 + i) + " 1 2 3");
    load(lines);
    ASSERT_EQ(entries().size(), 16u);
    // Room in the test doubles' records, so that only the module's allocations are counted.
    os::stand_in::current().protect_calls.reserve(64);
    os::stand_in::current().flushes.reserve(64);
    host->calls.vector_sets.reserve(64);

    std::uint64_t before = test_host::allocations_on_this_thread();
    plugin::load_aiming_settings();
    EXPECT_EQ(test_host::allocations_on_this_thread() - before, 0u) << "unchanged";

    lines[0] = "100 4 5 6";
    lines[15] = "100 7 8 9"; // the same type again: the line sets nothing
    dir->write_settings(settings_text(lines));
    before = test_host::allocations_on_this_thread();
    plugin::load_aiming_settings();
    EXPECT_EQ(test_host::allocations_on_this_thread() - before, 0u) << "retuned";
    EXPECT_EQ(aimed_offset(100, 0), (offset{4, 5, 6}));
}

} // namespace
