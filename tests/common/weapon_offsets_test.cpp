// The weapon offset list across loads: what each weapon line does to it, what the list then holds,
// and what a lookup by weapon type answers.
#include "host_image.h"

#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <climits>
#include <limits>
#include <optional>
#include <ostream>
#include <vector>

namespace {

using plugin::weapon_change;
using offset = std::array<float, 3>;

std::array<std::uint32_t, 3> bits(const offset& o) {
    return {std::bit_cast<std::uint32_t>(o[0]), std::bit_cast<std::uint32_t>(o[1]),
            std::bit_cast<std::uint32_t>(o[2])};
}

// One weapon line, what it must do, and the offset its type held before it (for a known type).
struct line {
    std::int32_t type;
    offset xyz;
    weapon_change change;
    offset old = {};
};

// What the list holds: types in order with their offsets, compared bit for bit.
struct held {
    std::int32_t type;
    offset xyz;
    bool operator==(const held& other) const {
        return type == other.type && bits(xyz) == bits(other.xyz);
    }
};

void PrintTo(const held& h, std::ostream* out) {
    *out << "{" << h.type << ": " << h.xyz[0] << ", " << h.xyz[1] << ", " << h.xyz[2] << "}";
}

const char* change_name(weapon_change c) {
    switch (c) {
    case weapon_change::appended:
        return "appended";
    case weapon_change::retuned:
        return "retuned";
    case weapon_change::unchanged:
        return "unchanged";
    case weapon_change::repeated:
        return "repeated";
    }
    return "?";
}

std::vector<held> list_now() {
    std::vector<held> out;
    for (const auto& e : *plugin::weapon_offset_list())
        out.push_back({e.weapon_type, {e.offset[0], e.offset[1], e.offset[2]}});
    return out;
}

// The offset a lookup of `type` answers now, or none.
std::optional<offset> lookup(std::int32_t type) {
    const plugin::weapon_offset_entry* entry = plugin::find_weapon_offset(type);
    if (!entry) return std::nullopt;
    float o[3];
    plugin::read_weapon_offset(*entry, o);
    return offset{o[0], o[1], o[2]};
}

class WeaponOffsets : public ::testing::Test {
  protected:
    void SetUp() override {
        test_host::reset_module();
        plugin::create_weapon_offset_list();
    }
    void TearDown() override { test_host::reset_module(); }
};

const float nan_a = std::bit_cast<float>(0x7FC00001u);
const float nan_b = std::bit_cast<float>(0x7FC00002u);

struct sequence_case {
    const char* name;
    std::vector<std::vector<line>> loads;
    std::vector<held> list_after;
    std::vector<std::pair<std::int32_t, std::optional<offset>>> lookups_after;
};

void PrintTo(const sequence_case& c, std::ostream* out) {
    *out << c.name;
}

class WeaponOffsetLoads : public WeaponOffsets,
                          public ::testing::WithParamInterface<sequence_case> {};

TEST_P(WeaponOffsetLoads, EachLineReportsWhatItDidAndTheListFollowsTheFile) {
    const sequence_case& c = GetParam();
    for (std::size_t load = 0; load < c.loads.size(); ++load) {
        plugin::begin_weapon_offset_load();
        for (std::size_t n = 0; n < c.loads[load].size(); ++n) {
            const line& l = c.loads[load][n];
            SCOPED_TRACE("load " + std::to_string(load) + ", line " + std::to_string(n));
            const plugin::weapon_update update =
                plugin::set_weapon_offset({l.type, {l.xyz[0], l.xyz[1], l.xyz[2]}});
            EXPECT_STREQ(change_name(update.change), change_name(l.change));
            if (l.change != weapon_change::appended) {
                const offset old = {update.old_offset[0], update.old_offset[1],
                                    update.old_offset[2]};
                EXPECT_EQ(bits(old), bits(l.old));
            }
        }
    }
    EXPECT_EQ(list_now(), c.list_after);
    for (const auto& [type, expected] : c.lookups_after) {
        SCOPED_TRACE("lookup of " + std::to_string(type));
        const std::optional<offset> got = lookup(type);
        ASSERT_EQ(got.has_value(), expected.has_value());
        if (got) {
            EXPECT_EQ(bits(*got), bits(*expected));
        }
    }
}

using w = weapon_change;

INSTANTIATE_TEST_SUITE_P(
    Cases, WeaponOffsetLoads,
    ::testing::Values(
        sequence_case{"first_load_appends_in_order_and_the_first_line_wins",
                      {{{22, {1, 2, 3}, w::appended},
                        {-1, {4, 5, 6}, w::appended},
                        {22, {7, 8, 9}, w::repeated, {1, 2, 3}},
                        {8, {1, 1, 1}, w::appended}}},
                      {{22, {1, 2, 3}}, {-1, {4, 5, 6}}, {8, {1, 1, 1}}},
                      {{22, offset{1, 2, 3}}, {8, offset{1, 1, 1}}, {5, offset{4, 5, 6}}}},
        sequence_case{"a_later_load_retunes_in_place",
                      {{{22, {1, 2, 3}, w::appended}, {23, {4, 5, 6}, w::appended}},
                       {{23, {4, 5, 6}, w::unchanged, {4, 5, 6}},
                        {22, {0.5f, 0.25f, -1}, w::retuned, {1, 2, 3}}}},
                      {{22, {0.5f, 0.25f, -1}}, {23, {4, 5, 6}}},
                      {{22, offset{0.5f, 0.25f, -1}}, {23, offset{4, 5, 6}}}},
        sequence_case{"the_default_is_retuned_like_any_type",
                      {{{-1, {1, 2, 3}, w::appended}, {22, {4, 5, 6}, w::appended}},
                       {{-1, {9, 9, 9}, w::retuned, {1, 2, 3}}}},
                      {{-1, {9, 9, 9}}, {22, {4, 5, 6}}},
                      {{22, offset{4, 5, 6}}, {25, offset{9, 9, 9}}, {-1, offset{9, 9, 9}}}},
        sequence_case{
            "a_type_twice_in_one_file_on_every_reload",
            {{{22, {1, 1, 1}, w::appended}, {22, {2, 2, 2}, w::repeated, {1, 1, 1}}},
             {{22, {1, 1, 1}, w::unchanged, {1, 1, 1}}, {22, {2, 2, 2}, w::repeated, {1, 1, 1}}},
             {{22, {3, 3, 3}, w::retuned, {1, 1, 1}}, {22, {2, 2, 2}, w::repeated, {3, 3, 3}}},
             {{22, {2, 2, 2}, w::retuned, {3, 3, 3}}, {22, {3, 3, 3}, w::repeated, {2, 2, 2}}}},
            {{22, {2, 2, 2}}},
            {{22, offset{2, 2, 2}}}},
        sequence_case{"a_type_no_longer_in_the_file_keeps_its_last_offset",
                      {{{22, {1, 2, 3}, w::appended}, {-1, {4, 5, 6}, w::appended}},
                       {{-1, {7, 8, 9}, w::retuned, {4, 5, 6}}},
                       {}},
                      {{22, {1, 2, 3}}, {-1, {7, 8, 9}}},
                      {{22, offset{1, 2, 3}}, {30, offset{7, 8, 9}}}},
        sequence_case{"a_new_type_in_a_later_load_goes_at_the_end",
                      {{{22, {1, 2, 3}, w::appended}},
                       {{30, {4, 5, 6}, w::appended}, {22, {1, 2, 3}, w::unchanged, {1, 2, 3}}}},
                      {{22, {1, 2, 3}}, {30, {4, 5, 6}}},
                      {{30, offset{4, 5, 6}}, {31, std::nullopt}}},
        sequence_case{"offsets_are_compared_bit_for_bit",
                      {{{22, {0.0f, 1, nan_a}, w::appended}},
                       {{22, {0.0f, 1, nan_a}, w::unchanged, {0.0f, 1, nan_a}}},
                       {{22, {-0.0f, 1, nan_a}, w::retuned, {0.0f, 1, nan_a}}},
                       {{22, {-0.0f, 1, nan_b}, w::retuned, {-0.0f, 1, nan_a}}}},
                      {{22, {-0.0f, 1, nan_b}}},
                      {{22, offset{-0.0f, 1, nan_b}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WeaponOffsets, LinesBeforeAnyLoadBegunCountAsOneLoad) {
    EXPECT_EQ(plugin::set_weapon_offset({22, {1, 2, 3}}).change, weapon_change::appended);
    EXPECT_EQ(plugin::set_weapon_offset({22, {4, 5, 6}}).change, weapon_change::repeated);
    plugin::begin_weapon_offset_load();
    EXPECT_EQ(plugin::set_weapon_offset({22, {4, 5, 6}}).change, weapon_change::retuned);
}

TEST_F(WeaponOffsets, WithoutAListNothingIsSetOrFound) {
    test_host::reset_module();
    ASSERT_EQ(plugin::weapon_offset_list(), nullptr);
    plugin::begin_weapon_offset_load();
    EXPECT_EQ(plugin::set_weapon_offset({22, {1, 2, 3}}).change, weapon_change::repeated);
    EXPECT_EQ(plugin::find_weapon_offset(22), nullptr);
    EXPECT_EQ(plugin::find_weapon_offset(-1), nullptr);
}

// The extremes of the type's range, types spaced like table sizes, and enough of them that the
// table is rebuilt several times: every type finds its own entry, the default survives every
// rebuild, and an entry found once stays the same object.
TEST_F(WeaponOffsets, ManyTypesEachFindTheirOwnEntryThroughEveryRebuild) {
    std::vector<std::int32_t> types = {INT_MIN, INT_MAX, 0, -2};
    for (std::int32_t t = 1; t <= 300; ++t)
        types.push_back(t * 64); // spaced like a table's size: a poor hash would crowd them
    for (std::int32_t t = 1; t <= 40; ++t)
        types.push_back(t);

    plugin::begin_weapon_offset_load();
    ASSERT_EQ(plugin::set_weapon_offset({-1, {-1, -1, -1}}).change, weapon_change::appended);
    const plugin::weapon_offset_entry* const first = plugin::find_weapon_offset(types[0]);
    for (std::size_t i = 0; i < types.size(); ++i) {
        const float f = static_cast<float>(i);
        ASSERT_EQ(plugin::set_weapon_offset({types[i], {f, f, f}}).change, weapon_change::appended);
        // Every type added so far, at every size the table passes through.
        for (std::size_t j = 0; j <= i; j += 37) {
            const auto* found = plugin::find_weapon_offset(types[j]);
            ASSERT_NE(found, nullptr);
            ASSERT_EQ(found->weapon_type, types[j]) << "after " << i + 1 << " types";
        }
    }
    for (std::size_t i = 0; i < types.size(); ++i) {
        const float f = static_cast<float>(i);
        EXPECT_EQ(lookup(types[i]), (offset{f, f, f})) << types[i];
    }
    for (std::int32_t missing : {41, 65, -3, 300 * 64 + 1, INT_MIN + 1})
        EXPECT_EQ(lookup(missing), (offset{-1, -1, -1})) << missing;

    // The default was found for types[0] before it had an entry; types[0]'s own entry now.
    EXPECT_EQ(first->weapon_type, -1);
    const auto* own = plugin::find_weapon_offset(types[0]);
    plugin::begin_weapon_offset_load();
    EXPECT_EQ(plugin::set_weapon_offset({types[0], {5, 6, 7}}).change, weapon_change::retuned);
    EXPECT_EQ(plugin::find_weapon_offset(types[0]), own);
    EXPECT_EQ(lookup(types[0]), (offset{5, 6, 7}));
    EXPECT_EQ(plugin::weapon_offset_list()->size(), types.size() + 1);
}

// Small types (0 to 255) are answered without a search: each its own entry, else the -1 entry,
// whichever was added first, and so on after the table grows.
TEST_F(WeaponOffsets, SmallTypesAreAnsweredByTheirOwnEntryElseTheDefault) {
    plugin::begin_weapon_offset_load();
    ASSERT_EQ(plugin::set_weapon_offset({7, {7, 7, 7}}).change, weapon_change::appended);
    EXPECT_EQ(plugin::find_weapon_offset(8), nullptr) << "no default yet";
    ASSERT_EQ(plugin::set_weapon_offset({-1, {-1, -1, -1}}).change, weapon_change::appended);
    ASSERT_EQ(plugin::set_weapon_offset({9, {9, 9, 9}}).change, weapon_change::appended);
    const auto* const first_table = plugin::weapon_lookup::published.current.load();
    for (std::int32_t t = 300; t < 340; ++t) // the table grows
        ASSERT_EQ(plugin::set_weapon_offset({t, {1, 2, 3}}).change, weapon_change::appended);
    ASSERT_NE(plugin::weapon_lookup::published.current.load(), first_table);
    for (const std::int32_t t : {0, 7, 8, 9, 255}) {
        const float own = t == 7 || t == 9 ? static_cast<float>(t) : -1.0f;
        EXPECT_EQ(lookup(t), (offset{own, own, own})) << t;
    }
    EXPECT_EQ(lookup(256), (offset{-1, -1, -1})) << "searched: the default";
}

// Types whose search starts at the table's last slot: the second and third go round to the
// front, and so does the search for them and for a missing type that starts there too.
TEST_F(WeaponOffsets, SearchesGoRoundPastTheTablesEnd) {
    plugin::begin_weapon_offset_load();
    ASSERT_EQ(plugin::set_weapon_offset({-1, {-1, -1, -1}}).change, weapon_change::appended);
    const auto* table = plugin::weapon_lookup::published.current.load();
    ASSERT_NE(table, nullptr);
    std::vector<std::int32_t> at_last_slot;
    // Types past the small ones, which the table answers without a search.
    for (std::int32_t t = plugin::weapon_lookup::direct_types;
         at_last_slot.size() < 4 && t < 1'000'000; ++t)
        if (t != -1 && plugin::weapon_lookup::home_slot(t, table->shift) == table->mask)
            at_last_slot.push_back(t);
    ASSERT_EQ(at_last_slot.size(), 4u);

    for (int i = 0; i < 3; ++i) {
        const float f = static_cast<float>(i);
        ASSERT_EQ(plugin::set_weapon_offset({at_last_slot[i], {f, f, f}}).change,
                  weapon_change::appended);
    }
    ASSERT_EQ(plugin::weapon_lookup::published.current.load(), table) << "the table was rebuilt";
    for (int i = 0; i < 3; ++i) {
        const float f = static_cast<float>(i);
        EXPECT_EQ(lookup(at_last_slot[i]), (offset{f, f, f})) << at_last_slot[i];
    }
    EXPECT_EQ(lookup(at_last_slot[3]), (offset{-1, -1, -1}));
    plugin::begin_weapon_offset_load();
    EXPECT_EQ(plugin::set_weapon_offset({at_last_slot[2], {5, 5, 5}}).change,
              weapon_change::retuned);
    EXPECT_EQ(lookup(at_last_slot[2]), (offset{5, 5, 5}));
}

} // namespace
