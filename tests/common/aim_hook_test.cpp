// The aim hook, reached through a real CALL at 0x527A95 made the way the host makes it.
#include "aim_host.h"

#include "injector/branch.h"
#include "injector/resident.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <optional>

namespace {

using test_host::aim_host;

constexpr std::uint32_t aim_call_site = 0x527A95;

std::uint32_t bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

class AimHook : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        test_host::reset_platform();
        test_host::reset_module();
        host = std::make_unique<aim_host>();
        plugin::create_weapon_offset_list();
        ASSERT_EQ(host->hook_aim_site(), injector::patch_status::done);
        host->player.set_weapon(2, 22);
    }
    void TearDown() override {
        test_host::reset_module();
        host.reset();
    }

    void add(std::int32_t type, float x, float y, float z) {
        plugin::set_weapon_offset({type, {x, y, z}});
    }

    // One aim-camera call through the site, with recognisable host arguments.
    std::uint32_t aim() { return host->call_aim_site(&object, host_target, f1, f2, f3); }

    std::unique_ptr<aim_host> host;
    int object = 0;
    float host_target[3] = {7.0f, 8.0f, 9.0f};
    std::uint32_t f1 = bits(0.25f), f2 = bits(-4.5f), f3 = bits(1e-3f);
};

struct lookup_case {
    const char* name;
    std::vector<plugin::weapon_offset_entry> list;
    std::int32_t weapon;
    std::uint8_t mode;
    std::optional<std::array<float, 3>> offset_transformed; // none: unchanged call
};

void PrintTo(const lookup_case& c, std::ostream* out) {
    *out << c.name;
}

class AimHookLookup : public AimHook, public ::testing::WithParamInterface<lookup_case> {};

TEST_P(AimHookLookup, ChoosesTheOffsetOrPassesTheHostCallThrough) {
    const lookup_case& c = GetParam();
    for (const auto& e : c.list)
        add(e.weapon_type, e.offset[0], e.offset[1], e.offset[2]);
    host->player.set_weapon(3, c.weapon);
    plugin::publish_aim_factor(plugin::mode_factor(c.mode, plugin::named_values{}));

    EXPECT_EQ(aim(), test_host::camera_result);

    ASSERT_EQ(host->calls.camera.size(), 1u);
    const auto& camera = host->calls.camera[0];
    EXPECT_EQ(camera.object, &object);
    EXPECT_EQ(camera.words, (std::array<std::uint32_t, 3>{f1, f2, f3}));
    if (!c.offset_transformed) {
        EXPECT_TRUE(host->calls.transforms.empty());
        EXPECT_EQ(camera.target, host_target);
        return;
    }
    ASSERT_EQ(host->calls.transforms.size(), 1u);
    EXPECT_EQ(host->calls.transforms[0].player, &host->player);
    EXPECT_EQ(host->calls.transforms[0].offset, *c.offset_transformed);
    EXPECT_NE(camera.target, host_target);
    const auto& o = *c.offset_transformed;
    EXPECT_EQ(camera.target_value, (std::array<float, 3>{o[0] + test_host::transform_shift[0],
                                                         o[1] + test_host::transform_shift[1],
                                                         o[2] + test_host::transform_shift[2]}));
}

const float nan_value = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, AimHookLookup,
    ::testing::Values(
        lookup_case{"empty_list", {}, 22, 0, std::nullopt},
        lookup_case{"exact_type_before_default",
                    {{-1, {9, 9, 9}}, {22, {0.5f, 0.2f, 0.1f}}},
                    22,
                    0,
                    std::array<float, 3>{0.5f, 0.2f, 0.1f}},
        lookup_case{"default_for_other_types",
                    {{22, {0.5f, 0.2f, 0.1f}}, {-1, {1, 2, 3}}},
                    25,
                    0,
                    std::array<float, 3>{1, 2, 3}},
        lookup_case{"no_entry_no_default", {{22, {0.5f, 0.2f, 0.1f}}}, 25, 0, std::nullopt},
        lookup_case{
            "zero_offset_stops_search", {{22, {0, 0, 0}}, {-1, {1, 2, 3}}}, 22, 0, std::nullopt},
        lookup_case{"negative_zero_is_zero", {{22, {-0.0f, 0, 0}}}, 22, 0, std::nullopt},
        lookup_case{"first_of_two_wins",
                    {{22, {1, 1, 1}}, {22, {2, 2, 2}}},
                    22,
                    0,
                    std::array<float, 3>{1, 1, 1}},
        lookup_case{"mode_scales_x",
                    {{22, {0.5f, 0.2f, 0.1f}}},
                    22,
                    1,
                    std::array<float, 3>{-1.5f, 0.2f, 0.1f}},
        lookup_case{"any_nonzero_mode",
                    {{22, {0.5f, 0.2f, 0.1f}}},
                    22,
                    7,
                    std::array<float, 3>{-1.5f, 0.2f, 0.1f}},
        lookup_case{"zero_test_before_scaling", {{22, {0, 0, 0}}}, 22, 1, std::nullopt},
        lookup_case{
            "negative_weapon_type", {{-7, {1, 2, 3}}}, -7, 0, std::array<float, 3>{1, 2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

// The same lookups after a second load: the next call follows what that load did to the list.
struct reload_case {
    const char* name;
    std::vector<plugin::weapon_offset_entry> first_load, second_load;
    std::int32_t weapon;
    std::optional<std::array<float, 3>> before, after; // offset transformed; none: unchanged
};

void PrintTo(const reload_case& c, std::ostream* out) {
    *out << c.name;
}

class AimHookAfterReload : public AimHook, public ::testing::WithParamInterface<reload_case> {
  protected:
    static void load(const std::vector<plugin::weapon_offset_entry>& entries) {
        plugin::begin_weapon_offset_load();
        for (const auto& e : entries)
            plugin::set_weapon_offset(e);
    }
    // The offset the next call hands the transform, or none when it passes the call through.
    std::optional<std::array<float, 3>> next_aim() {
        host->calls = {};
        EXPECT_EQ(aim(), test_host::camera_result);
        if (host->calls.transforms.empty()) return std::nullopt;
        return host->calls.transforms.at(0).offset;
    }
};

TEST_P(AimHookAfterReload, TheNextCallFollowsTheList) {
    const reload_case& c = GetParam();
    host->player.set_weapon(3, c.weapon);
    load(c.first_load);
    EXPECT_EQ(next_aim(), c.before);
    load(c.second_load);
    EXPECT_EQ(next_aim(), c.after);
}

using offset3 = std::array<float, 3>;
std::vector<plugin::weapon_offset_entry> many_types_with_22() {
    std::vector<plugin::weapon_offset_entry> entries = {{22, {1, 2, 3}}};
    for (std::int32_t t = 200; t < 260; ++t)
        entries.push_back({t, {9, 9, 9}});
    entries.push_back({-1, {8, 8, 8}});
    return entries;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AimHookAfterReload,
    ::testing::Values(reload_case{"retuned_type",
                                  {{22, {1, 2, 3}}},
                                  {{22, {4, 5, 6}}},
                                  22,
                                  offset3{1, 2, 3},
                                  offset3{4, 5, 6}},
                      reload_case{"retuned_default",
                                  {{22, {1, 2, 3}}, {-1, {4, 5, 6}}},
                                  {{-1, {7, 8, 9}}},
                                  25,
                                  offset3{4, 5, 6},
                                  offset3{7, 8, 9}},
                      reload_case{"appended_type_takes_over_from_the_default",
                                  {{-1, {4, 5, 6}}},
                                  {{-1, {4, 5, 6}}, {25, {1, 1, 1}}},
                                  25,
                                  offset3{4, 5, 6},
                                  offset3{1, 1, 1}},
                      reload_case{"appended_default_serves_a_type_without_entry",
                                  {{22, {1, 2, 3}}},
                                  {{22, {1, 2, 3}}, {-1, {4, 5, 6}}},
                                  25,
                                  std::nullopt,
                                  offset3{4, 5, 6}},
                      reload_case{"retuned_to_zero_stops_the_search_at_the_call",
                                  {{22, {1, 2, 3}}, {-1, {4, 5, 6}}},
                                  {{22, {0, 0, 0}}, {-1, {4, 5, 6}}},
                                  22,
                                  offset3{1, 2, 3},
                                  std::nullopt},
                      reload_case{"retuned_from_zero",
                                  {{22, {0, 0, 0}}, {-1, {4, 5, 6}}},
                                  {{22, {0, 0, 1}}},
                                  22,
                                  std::nullopt,
                                  offset3{0, 0, 1}},
                      reload_case{"type_left_out_keeps_its_offset",
                                  {{22, {1, 2, 3}}, {-1, {4, 5, 6}}},
                                  {{-1, {4, 5, 6}}},
                                  22,
                                  offset3{1, 2, 3},
                                  offset3{1, 2, 3}},
                      reload_case{"reload_that_changed_nothing",
                                  {{22, {1, 2, 3}}, {-1, {4, 5, 6}}},
                                  {{22, {1, 2, 3}}, {-1, {4, 5, 6}}},
                                  22,
                                  offset3{1, 2, 3},
                                  offset3{1, 2, 3}},
                      reload_case{"appends_that_rebuild_the_lookup",
                                  {{22, {1, 2, 3}}},
                                  many_types_with_22(),
                                  22,
                                  offset3{1, 2, 3},
                                  offset3{1, 2, 3}},
                      reload_case{"appends_that_rebuild_the_lookup_then_a_miss",
                                  {{22, {1, 2, 3}}},
                                  many_types_with_22(),
                                  25,
                                  std::nullopt,
                                  offset3{8, 8, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AimHook, NanOffsetIsTransformedNotTreatedAsZero) {
    add(22, nan_value, 0.0f, 0.0f);
    EXPECT_EQ(aim(), test_host::camera_result);
    ASSERT_EQ(host->calls.transforms.size(), 1u);
    EXPECT_TRUE(std::isnan(host->calls.transforms[0].offset[0]));
    ASSERT_EQ(host->calls.camera.size(), 1u);
    EXPECT_NE(host->calls.camera[0].target, host_target);
}

TEST_F(AimHook, StandsAsideWhenPlayerMissingOrFlagged) {
    add(22, 1, 2, 3);
    host->player_present = false;
    EXPECT_EQ(aim(), test_host::camera_result);
    EXPECT_EQ(host->calls.find_player_args, std::vector<std::int32_t>{-1});

    host->player_present = true;
    host->player.set_status_flags(0x100 | 0x1);
    EXPECT_EQ(aim(), test_host::camera_result);

    host->player.set_status_flags(0xFEFF); // every bit but 0x100: the offset applies
    EXPECT_EQ(aim(), test_host::camera_result);

    ASSERT_EQ(host->calls.camera.size(), 3u);
    EXPECT_EQ(host->calls.camera[0].target, host_target);
    EXPECT_EQ(host->calls.camera[1].target, host_target);
    EXPECT_NE(host->calls.camera[2].target, host_target);
    EXPECT_EQ(host->calls.transforms.size(), 1u);
}

TEST_F(AimHook, FloatWordsReachTheHostBitForBitInEveryPath) {
    // Signalling NaN with a payload, a denormal, negative zero: an FPU round trip would alter
    // the first of them.
    f1 = 0x7F800001u;
    f2 = 0x00000001u;
    f3 = 0x80000000u;
    aim(); // empty list: unchanged call
    add(22, 1, 2, 3);
    aim(); // offset applied
    ASSERT_EQ(host->calls.camera.size(), 2u);
    for (const auto& call : host->calls.camera)
        EXPECT_EQ(call.words, (std::array<std::uint32_t, 3>{f1, f2, f3}));
}

TEST_F(AimHook, ActiveSlotIsAnUnsignedIndex) {
    add(41, 1, 2, 3);
    host->player.set_weapon(200, 41); // byte above 127: still slot 200, not -56
    aim();
    ASSERT_EQ(host->calls.transforms.size(), 1u);
}

TEST_F(AimHook, SiteCallsResidentCodeThatRunsTheHookAndThenTheGamesCamera) {
    EXPECT_EQ(test_host::read<std::uint8_t>(aim_call_site), 0xE8);
    const auto resident = injector::resident_at(injector::read_branch_target(aim_call_site));
    ASSERT_TRUE(resident);
    EXPECT_EQ(resident->kind, injector::resident_kind::retarget);
    EXPECT_EQ(resident->share, reinterpret_cast<std::uintptr_t>(&plugin::aim_weapon_hook));
    EXPECT_EQ(resident->callee, 0x521500u) << "the game's camera at its own address";
}

} // namespace
