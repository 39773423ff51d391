// End-to-end: the built corvane.dll loaded with LoadLibrary into the simulated host, driven only
// through the host's own code paths, files, keys and memory.
#include "dll_under_test.h"
#include "plugin/frame/per_frame.h"
#include "settings_bytes.h"
#include "simulated_host.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using sim::host_build;
using sim::simulated_host;
namespace address = sim::address;

using point = std::array<float, 3>;
const point host_target = {1000.0f, 2000.0f, 3000.0f};
const point player_position = {100.0f, 200.0f, 300.0f};

// A settings file in the module's shape: 31 lines whose position says what they set.
struct settings_file {
    std::string reload = "1";
    std::array<std::string, 7> values = {"10.25", "-3.5", "0.125", "42", "7.75", "8.5", "9.0625"};
    std::array<std::string, 4> rows = {
        "0.5 1.5 2.5 3.5 4.5 5.5 6.5",
        "10.5 11.5 12.5 13.5 14.5 15.5 16.5",
        "20.5 21.5 22.5 23.5 24.5 25.5 26.5",
        "30.5 31.5 32.5 33.5 34.5 35.5 36.5",
    };
    std::vector<std::string> weapons = {
        "22 0.5 0.2 0.1", "-1 0 1 0.25",      "30 0 0 0",
        "31 -0.0 0 0",    "0x20 -0.25 0 1.5", "22 9 9 9", // a repeated type: the first one counts
    };
    std::vector<std::string> named; // "name value" lines from line 32 on

    std::string text() const {
        static const char* const labels[7] = {"CameraDistance", "CameraHeight", "FieldOfView",
                                              "ShoulderShift",  "LookAhead",    "BlendSpeed",
                                              "ZoomScale"};
        std::string out = "ReloadEachFrame " + reload + "\n";
        out += "[camera]\n";
        for (int i = 0; i < 7; ++i)
            out += std::string(labels[i]) + " " + values[i] + "\n";
        out += "[rows]\n";
        for (int i = 0; i < 4; ++i)
            out += "Row" + std::to_string(i) + " " + rows[i] + "\n";
        out += "[weapons] type x y z\n";
        for (std::size_t i = 0; i < 16; ++i)
            out += (i < weapons.size() ? weapons[i] : std::string("#")) + "\n";
        for (const std::string& line : named)
            out += line + "\n";
        return out;
    }
};

// The first `count` lines of a file.
std::string first_lines(const std::string& text, int count) {
    std::size_t end = 0;
    for (int i = 0; i < count; ++i)
        end = text.find('\n', end) + 1;
    return text.substr(0, end);
}

float value_of(const settings_file& file, int line) {
    return std::stof(file.values[line - 3]);
}

float row_value(int row, int column) {
    return static_cast<float>(row * 10 + column) + 0.5f;
}

class corvane_e2e : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::set_keys(false, false);
        sim::key_polls().clear();
    }
    void TearDown() override {
        module.reset(); // unloads before the host goes
        host.reset();
        sim::set_keys(false, false);
    }

    // The host for `build`, the DLL copied beside `settings` (none: no file) into a folder whose
    // name ends in `name_tail`, `before_load` run on the prepared folder, and the DLL loaded.
    void start(host_build build, const std::optional<std::string>& settings,
               const std::function<void(sim::plugin_module&)>& before_load = {},
               const std::wstring& name_tail = L"") {
        host = std::make_unique<simulated_host>(build);
        module = std::make_unique<sim::plugin_module>(dll_under_test(), name_tail);
        ASSERT_TRUE(module->ready()) << "cannot copy " << dll_under_test();
        if (settings) {
            ASSERT_TRUE(module->write_settings(*settings));
        }
        if (before_load) before_load(*module);
        ASSERT_TRUE(module->load()) << "LoadLibrary failed: " << GetLastError();
        ASSERT_TRUE(module->count_key_polls());
    }

    // Aims with weapon `type` held; returns the outcome after checking what every path keeps.
    sim::aim_outcome aim_with(std::int32_t type) {
        host->set_weapon(3, type);
        const sim::aim_outcome outcome = host->aim(host_target);
        EXPECT_EQ(outcome.result, sim::camera_result);
        EXPECT_EQ(outcome.camera_calls, 1);
        EXPECT_EQ(outcome.camera.object, simulated_host::camera());
        EXPECT_EQ(outcome.camera.words, sim::host_aim_words);
        return outcome;
    }

    // The offset the module asked the host's transform for, or none when the aim was unchanged.
    std::optional<point> offset_used(std::int32_t type) {
        const sim::aim_outcome outcome = aim_with(type);
        if (outcome.transform_calls == 0) {
            EXPECT_EQ(outcome.camera.target, host_target);
            return std::nullopt;
        }
        EXPECT_EQ(outcome.transform_calls, 1);
        EXPECT_EQ(outcome.camera.target, outcome.transform_result);
        return outcome.transform_offset;
    }

    void frames(int count) {
        for (int i = 0; i < count; ++i) {
            const std::uint32_t result = host->run_frame();
            ASSERT_EQ(result, host->last_frame_result());
        }
    }

    std::unique_ptr<simulated_host> host;
    std::unique_ptr<sim::plugin_module> module;
};

// Fatal when a site still leads into the module: running the host's code would then jump into
// a module that is gone.
void assert_sites_original(const simulated_host& host) {
    ASSERT_EQ(host.bytes_at(address::aim_call_site), simulated_host::original_aim_site_bytes());
    ASSERT_EQ(host.bytes_at(address::frame_call_site), simulated_host::original_frame_site_bytes());
    for (std::uint32_t site : {address::aim_call_site, address::frame_call_site})
        EXPECT_EQ(host.page_protection(site), static_cast<std::uint32_t>(PAGE_EXECUTE_READ));
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// --- every build ---------------------------------------------------------------------------

class every_build : public corvane_e2e, public ::testing::WithParamInterface<host_build> {
  protected:
    bool hooks_frames() const {
        return GetParam() == host_build::b1001 || GetParam() == host_build::b1002;
    }
};

TEST_P(every_build, load_redirects_the_aim_call_and_hooks_frames_only_on_1001_and_1002) {
    ASSERT_NO_FATAL_FAILURE(start(GetParam(), settings_file{}.text()));

    EXPECT_EQ(host->bytes_at(address::aim_call_site)[0], 0xE8);
    EXPECT_TRUE(module->contains(host->call_destination(address::aim_call_site)));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 10.25f);
    sim::key_polls().clear(); // where the aim does the frame's work, that aim read the keys
    for (std::uint32_t code :
         {address::aim_call_site, address::frame_call_site, address::aim_code_constant})
        EXPECT_EQ(host->page_protection(code), static_cast<std::uint32_t>(PAGE_EXECUTE_READ));

    if (hooks_frames()) {
        EXPECT_EQ(host->bytes_at(address::frame_call_site)[0], 0xE8);
        EXPECT_TRUE(module->contains(host->call_destination(address::frame_call_site)));
    } else {
        EXPECT_EQ(host->bytes_at(address::frame_call_site),
                  simulated_host::original_frame_site_bytes());
    }

    // Frames: the host's result always comes back; only a hooked host polls keys and reloads.
    settings_file edited;
    edited.values[0] = "77.5";
    ASSERT_TRUE(module->write_settings(edited.text()));
    sim::set_keys(false, true);
    ASSERT_NO_FATAL_FAILURE(frames(3));
    EXPECT_EQ(sim::key_polls().size(), hooks_frames() ? 6u : 0u); // Z and X each frame
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), hooks_frames() ? 77.5f : 10.25f);
    // Where the frames are not corvane's, the aim does their work first, a frame's time after
    // it last did: X and the edit take effect in that very aim.
    Sleep(2 * plugin::frame_work_interval_on_aim_ms);
    EXPECT_EQ(offset_used(22), (point{-1.5f, 0.2f, 0.1f}));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 77.5f);
    EXPECT_EQ(sim::key_polls().size(), hooks_frames() ? 6u : 2u);
}

TEST_P(every_build, unload_restores_both_call_sites_and_loading_again_works) {
    ASSERT_NO_FATAL_FAILURE(start(GetParam(), settings_file{}.text()));
    sim::set_keys(false, true); // aim mode 1 where frames are hooked
    ASSERT_NO_FATAL_FAILURE(frames(2));
    sim::set_keys(false, false);
    const std::uint32_t aim_jump = host->branch_target(address::aim_call_site);

    ASSERT_TRUE(module->unload());
    ASSERT_NO_FATAL_FAILURE(assert_sites_original(*host));
    EXPECT_EQ(offset_used(22), std::nullopt); // the host's own aim path
    const std::uint32_t before = host->frames();
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(host->frames(), before + 2);

    // A second load starts afresh: redirected again, settings read again, aim mode 0.
    settings_file second;
    second.values[0] = "5.5";
    second.weapons = {"22 0.25 0 0"};
    ASSERT_TRUE(module->write_settings(second.text()));
    ASSERT_TRUE(module->load());
    EXPECT_TRUE(module->contains(host->call_destination(address::aim_call_site)));
    EXPECT_EQ(module->contains(host->call_destination(address::frame_call_site)), hooks_frames());
    EXPECT_EQ(host->branch_target(address::aim_call_site), aim_jump)
        << "the jump the first load left in the game's memory is found and used again";
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 5.5f);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(22), (point{0.25f, 0.0f, 0.0f}));
    ASSERT_TRUE(module->unload());
    ASSERT_NO_FATAL_FAILURE(assert_sites_original(*host));
}

INSTANTIATE_TEST_SUITE_P(builds, every_build,
                         ::testing::Values(host_build::b1001, host_build::b1002, host_build::b1011,
                                           host_build::unknown),
                         [](const auto& info) {
                             return std::string("build_") + sim::build_name(info.param);
                         });

// --- two copies of corvane on the same calls ------------------------------------------------

// Two copies of the DLL, each in its own folder with its own offset for weapon 22, loaded one
// after the other (the second hooks the calls after the first), then unloaded in load order or
// in reverse; on 1001, where both calls are hooked, and on 1011, where the aim call is checked
// first and the second copy finds it calling the first copy's jump. Neither order crashes the
// game or unhooks the copy that stays: it keeps its offset (and its keys, where there are any)
// until its own unload. What the first to go leaves in memory is used again by the next load,
// and that load's unload gives the game its own bytes back.
class two_copies : public corvane_e2e,
                   public ::testing::WithParamInterface<std::tuple<host_build, bool>> {
  protected:
    static host_build build() { return std::get<0>(GetParam()); }
    static bool hooks_frames() { return build() == host_build::b1001; }
    static bool first_goes_first() { return std::get<1>(GetParam()); }
};

TEST_P(two_copies, unloaded_in_either_order_never_crash_and_never_unhook_the_other) {
    settings_file first_file, second_file;
    first_file.weapons = {"22 0.5 0.2 0.1"};
    second_file.weapons = {"22 0.25 0 0"};
    ASSERT_NO_FATAL_FAILURE(start(build(), first_file.text()));
    auto second = std::make_unique<sim::plugin_module>(dll_under_test());
    ASSERT_TRUE(second->ready() && second->write_settings(second_file.text()));
    ASSERT_TRUE(second->load()) << "LoadLibrary failed: " << GetLastError();
    ASSERT_NE(second->base(), module->base()) << "the second copy must be a module of its own";
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(22), (point{0.25f, 0.0f, 0.0f})) << "the newest copy aims";

    std::unique_ptr<sim::plugin_module>& goes = first_goes_first() ? module : second;
    std::unique_ptr<sim::plugin_module>& stays = first_goes_first() ? second : module;
    const point stays_offset =
        first_goes_first() ? point{0.25f, 0.0f, 0.0f} : point{0.5f, 0.2f, 0.1f};
    ASSERT_TRUE(goes->unload());
    // The first copy to go leaves the sites that the other changed after it; the last copy
    // loaded gets its own bytes back.
    for (const char* site : {"aim call at 0x527A95", "per-frame call at 0x53E981"}) {
        if (!hooks_frames() && site[0] == 'p') continue;
        const std::string left = std::string("unloading: the ") + site +
                                 " was left to another plug-in that changed it after corvane";
        const std::string back = std::string("unloading: the ") + site + " has its own bytes back";
        const std::vector<std::string> lines = goes->log_lines();
        const bool said_left = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.rfind(left, 0) == 0;
        });
        EXPECT_EQ(said_left, first_goes_first()) << site;
        EXPECT_EQ(has_line(lines, back), !first_goes_first()) << site;
    }

    // The copy that stays still aims, and its keys still switch the mode: at the next frame where
    // corvane hooks frames, else at the first aim a frame's time after the last one that read
    // the keys (waited for here: an aim within that time reads none, however slow the machine).
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(22), stays_offset);
    sim::set_keys(false, true);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    if (!hooks_frames()) Sleep(2 * plugin::frame_work_interval_on_aim_ms);
    EXPECT_EQ(offset_used(22), (point{-3.0f * stays_offset[0], stays_offset[1], stays_offset[2]}));
    sim::set_keys(false, false);
    ASSERT_NO_FATAL_FAILURE(frames(2));

    ASSERT_TRUE(stays->unload());
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(22), std::nullopt) << "the game's own aim, with no copy loaded";

    // Loading again takes over what the first copy left; its unload puts the game's bytes back.
    ASSERT_TRUE(module->load());
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    ASSERT_TRUE(module->unload());
    ASSERT_NO_FATAL_FAILURE(assert_sites_original(*host));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_EQ(offset_used(22), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(orders, two_copies,
                         ::testing::Combine(::testing::Values(host_build::b1001, host_build::b1011),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string("build_") +
                                    sim::build_name(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_in_load_order" : "_in_reverse");
                         });

// --- a game whose code corvane does not know --------------------------------------------------

// A build that is not 1001 or 1002 and holds other code at the aim call site: the module loads
// and unloads, changes not one byte of the game, and its log says why.
TEST_F(corvane_e2e, a_build_with_other_code_at_the_aim_call_is_left_exactly_as_it_was) {
    host = std::make_unique<simulated_host>(host_build::other_code);
    const std::vector<std::uint8_t> code_before =
        host->read_bytes(address::image_begin, address::data_begin - address::image_begin);
    const std::vector<std::uint8_t> data_before =
        host->read_bytes(address::data_begin, address::image_end - address::data_begin);
    host.reset();
    ASSERT_NO_FATAL_FAILURE(start(host_build::other_code, settings_file{}.text()));

    EXPECT_EQ(host->bytes_at(address::aim_call_site), simulated_host::other_code_aim_site_bytes());
    EXPECT_EQ(host->read_bytes(address::image_begin, address::data_begin - address::image_begin),
              code_before)
        << "the aim call, line 5's value and the per-frame call, byte for byte";
    EXPECT_EQ(host->read_bytes(address::data_begin, address::image_end - address::data_begin),
              data_before)
        << "lines 3 to 9 and the rows, byte for byte";
    for (std::uint32_t code :
         {address::aim_call_site, address::frame_call_site, address::aim_code_constant})
        EXPECT_EQ(host->page_protection(code), static_cast<std::uint32_t>(PAGE_EXECUTE_READ));
    ASSERT_NO_FATAL_FAILURE(frames(3));
    EXPECT_TRUE(sim::key_polls().empty());

    const std::vector<std::string> at_load = module->log_lines();
    EXPECT_TRUE(has_line(at_load, "game build not recognised (0x83EC8B55 at 0x401000): this game "
                                  "build is not one corvane knows, so corvane changed nothing in "
                                  "this game: at 0x527A95, where the builds corvane knows call "
                                  "the game's aim camera, this one holds B8 A0 E7 A3 0C"))
        << ::testing::PrintToString(at_load);

    ASSERT_TRUE(module->unload());
    EXPECT_EQ(host->read_bytes(address::image_begin, address::data_begin - address::image_begin),
              code_before);
    EXPECT_EQ(host->read_bytes(address::data_begin, address::image_end - address::data_begin),
              data_before);
    const std::vector<std::string> at_unload = module->log_lines();
    ASSERT_FALSE(at_unload.empty());
    EXPECT_EQ(at_unload.back(), "corvane is unloaded; it changed nothing in this game");
}

// --- settings reaching the host ------------------------------------------------------------

TEST_F(corvane_e2e, every_value_of_the_file_reaches_its_host_address_and_nothing_else_changes) {
    host = std::make_unique<simulated_host>(host_build::b1001);
    const std::vector<std::uint8_t> data_before =
        host->read_bytes(address::data_begin, address::image_end - address::data_begin);
    host.reset();

    const settings_file file;
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    for (const sim::value_slot& slot : sim::value_slots)
        EXPECT_FLOAT_EQ(host->read_float(slot.address), value_of(file, slot.line))
            << "line " << slot.line;
    for (int row = 0; row < sim::aim_row_count; ++row)
        for (int column = 0; column < sim::aim_row_length; ++column)
            EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * (row * 7 + column)),
                            row_value(row, column))
                << "row " << row << " column " << column;

    // Outside the six floats and the row block the host's data is as it was.
    const std::vector<std::uint8_t> data_after =
        host->read_bytes(address::data_begin, address::image_end - address::data_begin);
    for (std::uint32_t offset = 0; offset < data_after.size(); ++offset) {
        const std::uint32_t at = address::data_begin + offset;
        const bool written =
            (at >= 0x8CC4A0 && at < 0x8CC4BC && !(at >= 0x8CC4A4 && at < 0x8CC4A8)) ||
            (at >= address::aim_rows && at < address::aim_rows + 112);
        if (!written) {
            EXPECT_EQ(data_after[offset], data_before[offset]) << std::hex << at;
        }
    }
}

TEST_F(corvane_e2e, a_missing_file_leaves_the_host_as_it_was) {
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, std::nullopt));
    for (const sim::value_slot& slot : sim::value_slots)
        EXPECT_FLOAT_EQ(host->read_float(slot.address),
                        simulated_host::default_value(slot.address));
    EXPECT_FLOAT_EQ(host->read_float(address::aim_rows), simulated_host::default_row_value(0, 0));
    EXPECT_EQ(offset_used(22), std::nullopt);
    ASSERT_NO_FATAL_FAILURE(frames(3)); // nothing to reload: reloading was never switched on
}

TEST_F(corvane_e2e, a_file_that_ends_early_sets_nothing_past_its_end) {
    const settings_file file;
    // Ends after line 12 without a newline: rows 0 and 1 set, 2 and 3 stay as the game has them.
    std::string text = first_lines(file.text(), 12);
    text.pop_back();
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, text));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4A0), value_of(file, 9));
    for (int column = 0; column < 7; ++column) {
        EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * column), row_value(0, column));
        EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * (7 + column)),
                        row_value(1, column));
        EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * (14 + column)),
                        simulated_host::default_row_value(2, column));
        EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * (21 + column)),
                        simulated_host::default_row_value(3, column));
    }
    EXPECT_EQ(offset_used(22), std::nullopt);
    EXPECT_EQ(offset_used(25), std::nullopt);
    EXPECT_EQ(host->vector_set_calls(), 0);
}

// Each aim row value the file does not give keeps the game's own; a full file sets all 28.
struct rows_case {
    const char* name;
    std::string text;
    std::array<int, 4> given; // how many values of each row the file gives
};

void PrintTo(const rows_case& c, std::ostream* os) {
    *os << c.name;
}

class rows_from_the_game : public corvane_e2e, public ::testing::WithParamInterface<rows_case> {};

TEST_P(rows_from_the_game, values_the_file_does_not_give_keep_the_games_own) {
    const rows_case& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, c.text));
    for (int row = 0; row < sim::aim_row_count; ++row)
        for (int column = 0; column < sim::aim_row_length; ++column)
            EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * (row * 7 + column)),
                            column < c.given[row] ? row_value(row, column)
                                                  : simulated_host::default_row_value(row, column))
                << "row " << row << " column " << column;
}

settings_file with_row(int row, const std::string& values) {
    settings_file file;
    file.rows[row] = values;
    return file;
}

INSTANTIATE_TEST_SUITE_P(
    files, rows_from_the_game,
    ::testing::Values(
        rows_case{"full_file", settings_file{}.text(), {7, 7, 7, 7}},
        rows_case{"row_with_three_numbers", with_row(1, "10.5 11.5 12.5").text(), {7, 3, 7, 7}},
        rows_case{"row_label_without_numbers", with_row(2, "").text(), {7, 7, 0, 7}},
        rows_case{"ends_after_line_9", first_lines(settings_file{}.text(), 9), {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(corvane_e2e, a_file_ending_after_two_weapon_lines_adds_just_those) {
    const std::string text = first_lines(settings_file{}.text(), 17); // weapons 22 and -1
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, text));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    EXPECT_EQ(offset_used(30), (point{0.0f, 1.0f, 0.25f})); // its own line is gone: -1 serves
    EXPECT_EQ(host->vector_set_calls(), 2);
}

TEST_F(corvane_e2e, an_over_long_line_is_consumed_whole_and_later_lines_keep_their_places) {
    settings_file file;
    file.values[0] = "10.25 " + std::string(700, 'x') + " 99"; // line 3, 700+ characters
    file.weapons[0] = "22 0.5 0.2 0.1 " + std::string(600, ' ') + "23 1 1 1";
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 10.25f);
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B8), value_of(file, 4));
    EXPECT_FLOAT_EQ(host->read_float(address::aim_code_constant), value_of(file, 5));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    EXPECT_EQ(offset_used(23), (point{0.0f, 1.0f, 0.25f})); // the tail made no entry of its own
}

// --- the aim rule --------------------------------------------------------------------------

struct aim_case {
    const char* name;
    std::int32_t weapon;
    std::uint8_t slot;
    std::uint32_t status_flags;
    bool player_present;
    std::optional<point> offset; // none: the host's own aim
};

class aim_rule : public corvane_e2e, public ::testing::WithParamInterface<aim_case> {};

TEST_P(aim_rule, the_aim_target_follows_the_weapon_offset) {
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, settings_file{}.text()));
    const aim_case& c = GetParam();
    host->set_player_present(c.player_present);
    host->set_status_flags(c.status_flags);
    host->set_weapon(c.slot, c.weapon);
    const sim::aim_outcome outcome = host->aim(host_target);

    EXPECT_EQ(outcome.result, sim::camera_result);
    ASSERT_EQ(outcome.camera_calls, 1);
    EXPECT_EQ(outcome.camera.object, simulated_host::camera());
    EXPECT_EQ(outcome.camera.words, sim::host_aim_words);
    if (!c.offset) {
        EXPECT_EQ(outcome.transform_calls, 0);
        EXPECT_EQ(outcome.camera.target, host_target);
        return;
    }
    ASSERT_EQ(outcome.transform_calls, 1);
    EXPECT_EQ(outcome.transform_offset, *c.offset);
    // The character faces along x: the point is the position moved by the offset.
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(outcome.camera.target[i], player_position[i] + (*c.offset)[i]);
}

INSTANTIATE_TEST_SUITE_P(
    cases, aim_rule,
    ::testing::Values(
        aim_case{"exact_type", 22, 0, 0, true, point{0.5f, 0.2f, 0.1f}},
        aim_case{"hex_type_in_file", 32, 0, 0, true, point{-0.25f, 0.0f, 1.5f}},
        aim_case{"high_slot_index", 22, 200, 0, true, point{0.5f, 0.2f, 0.1f}},
        aim_case{"unlisted_type_takes_the_default", 25, 0, 0, true, point{0.0f, 1.0f, 0.25f}},
        aim_case{"zero_offset_keeps_the_host_aim", 30, 0, 0, true, std::nullopt},
        aim_case{"negative_zero_offset_keeps_the_host_aim", 31, 0, 0, true, std::nullopt},
        aim_case{"flag_0x100_keeps_the_host_aim", 22, 0, 0x100, true, std::nullopt},
        aim_case{"other_flags_do_not", 22, 0, 0xFFFFFEFF, true, point{0.5f, 0.2f, 0.1f}},
        aim_case{"no_player_keeps_the_host_aim", 22, 0, 0, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// --- frames, keys and reloading --------------------------------------------------------------

class hooked_build : public corvane_e2e, public ::testing::WithParamInterface<host_build> {};

TEST_P(hooked_build, the_handler_runs_once_per_frame_after_the_host_function) {
    settings_file file;
    file.reload = "0";
    ASSERT_NO_FATAL_FAILURE(start(GetParam(), file.text()));
    ASSERT_NO_FATAL_FAILURE(frames(5)); // each frame's result checked as it comes back

    // Keys up: Z then X, once each per frame, after that frame's host work.
    const auto& polls = sim::key_polls();
    ASSERT_EQ(polls.size(), 10u);
    for (std::size_t i = 0; i < polls.size(); ++i) {
        EXPECT_EQ(polls[i].key, i % 2 == 0 ? sim::key_z : sim::key_x);
        EXPECT_EQ(polls[i].frame, i / 2 + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(builds, hooked_build,
                         ::testing::Values(host_build::b1001, host_build::b1002),
                         [](const auto& info) {
                             return std::string("build_") + sim::build_name(info.param);
                         });

struct key_step {
    bool z;
    bool x;
    int mode_after; // 0: normal, 1: x scaled by -3
};

struct key_case {
    const char* name;
    std::vector<key_step> steps;
};

class key_modes : public corvane_e2e, public ::testing::WithParamInterface<key_case> {};

TEST_P(key_modes, keys_set_the_mode_each_frame) {
    settings_file file;
    file.reload = "0";
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f})) << "mode 0 before any key";
    int step_number = 0;
    for (const key_step& step : GetParam().steps) {
        ++step_number;
        sim::set_keys(step.z, step.x);
        sim::key_polls().clear();
        ASSERT_NO_FATAL_FAILURE(frames(1));
        // With Z down the X key is not even asked about.
        EXPECT_EQ(sim::key_polls().size(), step.z ? 1u : 2u) << "step " << step_number;
        EXPECT_EQ(offset_used(22), (point{step.mode_after ? -1.5f : 0.5f, 0.2f, 0.1f}))
            << "step " << step_number;
    }
}

INSTANTIATE_TEST_SUITE_P(
    sequences, key_modes,
    ::testing::Values(key_case{"x_then_released_keeps_mode_1_until_z",
                               {{false, true, 1},
                                {false, false, 1},
                                {false, false, 1},
                                {true, false, 0},
                                {false, false, 0}}},
                      key_case{"z_and_x_together_give_0",
                               {{false, true, 1}, {true, true, 0}, {true, true, 0}}},
                      key_case{"z_alone_from_the_start", {{true, false, 0}, {false, false, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the player's own keys ------------------------------------------------------------------

constexpr int key_m = 'M', key_n = 'N', key_q = 'Q', mouse4 = 0x05;

// One frame: the keys that change before it (code, down), and the mode after it.
struct own_key_step {
    std::vector<std::pair<int, bool>> keys;
    int mode_after; // 0: normal, 1: x scaled by -3
};

struct own_key_case {
    const char* name;
    std::vector<std::string> named;
    std::vector<own_key_step> steps;
};

class own_keys : public corvane_e2e, public ::testing::WithParamInterface<own_key_case> {
  protected:
    void TearDown() override {
        for (int key : {key_m, key_n, key_q, mouse4})
            sim::set_key(key, false);
        corvane_e2e::TearDown();
    }
};

TEST_P(own_keys, the_named_keys_set_the_mode_each_frame) {
    settings_file file;
    file.reload = "0";
    file.named = GetParam().named;
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    int step_number = 0;
    for (const own_key_step& step : GetParam().steps) {
        ++step_number;
        for (const auto& [key, down] : step.keys)
            sim::set_key(key, down);
        ASSERT_NO_FATAL_FAILURE(frames(1));
        EXPECT_EQ(offset_used(22), (point{step.mode_after ? -1.5f : 0.5f, 0.2f, 0.1f}))
            << "step " << step_number;
    }
}

// n frames with no key changing, the mode staying `mode`.
std::vector<own_key_step> unchanged(int n, int mode) {
    return std::vector<own_key_step>(static_cast<std::size_t>(n), own_key_step{{}, mode});
}

std::vector<own_key_step> operator+(std::vector<own_key_step> a,
                                    const std::vector<own_key_step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    sequences, own_keys,
    ::testing::Values(
        own_key_case{"m_mirrors_and_x_does_nothing",
                     {"key_mirrored M"},
                     {{{{sim::key_x, true}}, 0},
                      {{{sim::key_x, false}, {key_m, true}}, 1},
                      {{{key_m, false}}, 1},
                      {{{sim::key_x, true}}, 1},
                      {{{sim::key_x, false}, {sim::key_z, true}}, 0}}},
        own_key_case{"q_held_for_many_frames_swaps_once",
                     {"key_toggle Q"},
                     std::vector<own_key_step>{{{{key_q, true}}, 1}} + unchanged(30, 1) +
                         std::vector<own_key_step>{{{{key_q, false}}, 1}, {{{key_q, true}}, 0}} +
                         unchanged(10, 0)},
        own_key_case{
            "a_mouse_button_swaps",
            {"key_toggle Mouse4"},
            {{{{mouse4, true}}, 1}, {{}, 1}, {{{mouse4, false}}, 1}, {{{mouse4, true}}, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(corvane_e2e, a_live_edit_changes_the_key_from_the_next_frame) {
    settings_file file; // reload 1
    file.named = {"key_mirrored M"};
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    sim::set_key(key_m, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_EQ(offset_used(22), (point{-1.5f, 0.2f, 0.1f}));
    sim::set_key(key_m, false);
    sim::set_keys(true, false);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_keys(false, false);
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));

    file.named = {"key_mirrored N"};
    ASSERT_TRUE(module->write_settings(file.text()));
    ASSERT_NO_FATAL_FAILURE(frames(1)); // this frame's reload reads the new key
    sim::set_key(key_m, true);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f})) << "M is no longer a key of corvane";
    sim::set_key(key_m, false);
    sim::set_key(key_n, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(key_n, false);
    EXPECT_EQ(offset_used(22), (point{-1.5f, 0.2f, 0.1f}));

    const std::vector<std::string> log = module->log_lines();
    EXPECT_NE(std::find(log.begin(), log.end(), "line 32, key_mirrored: changed from M to N"),
              log.end());
}

TEST_F(corvane_e2e, live_edits_take_effect_on_the_next_frame_until_reloading_is_switched_off) {
    settings_file file; // reload 1
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    ASSERT_NO_FATAL_FAILURE(frames(2));

    settings_file edited = file;
    edited.values[0] = "55.5";
    edited.values[2] = "0.625";
    edited.rows[3] = "1 2 3 4 5 6 7";
    edited.weapons = {"22 4 4 4", "40 0 0 2"}; // 22 is known already; 40 is new
    ASSERT_TRUE(module->write_settings(edited.text()));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 55.5f);
    EXPECT_FLOAT_EQ(host->read_float(address::aim_code_constant), 0.625f);
    EXPECT_EQ(host->page_protection(address::aim_code_constant),
              static_cast<std::uint32_t>(PAGE_EXECUTE_READ));
    EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * 27), 7.0f);
    EXPECT_EQ(offset_used(40), (point{0.0f, 0.0f, 2.0f}));
    EXPECT_EQ(offset_used(22), (point{4.0f, 4.0f, 4.0f})); // retuned

    // Deleted while reloading: every value keeps; recreated: the next frame reads it.
    ASSERT_TRUE(module->remove_settings());
    ASSERT_NO_FATAL_FAILURE(frames(3));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 55.5f);
    EXPECT_EQ(offset_used(40), (point{0.0f, 0.0f, 2.0f}));
    edited.values[0] = "66.5";
    ASSERT_TRUE(module->write_settings(edited.text()));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 66.5f);

    // Held open without sharing, as an editor may hold it: skipped until it is free again.
    {
        edited.values[0] = "67.5";
        ASSERT_TRUE(module->write_settings(edited.text()));
        HANDLE held =
            CreateFileW(module->path_of(L"aimingSets.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        ASSERT_NO_FATAL_FAILURE(frames(2));
        EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 66.5f);
        CloseHandle(held);
        ASSERT_NO_FATAL_FAILURE(frames(1));
        EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 67.5f);
    }

    // A first line of 0: that load is applied and is the last one.
    edited.reload = "0";
    edited.values[0] = "12.5";
    ASSERT_TRUE(module->write_settings(edited.text()));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 12.5f);
    edited.reload = "1";
    edited.values[0] = "13.5";
    edited.weapons = {"41 1 1 1"};
    ASSERT_TRUE(module->write_settings(edited.text()));
    ASSERT_NO_FATAL_FAILURE(frames(3));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 12.5f);
    EXPECT_EQ(offset_used(41), (point{0.0f, 1.0f, 0.25f})); // still the -1 entry
}

// Live tuning of the values players tune most: weapon 22 and the default change their offsets
// while frames run, from the next frame on, in both aim modes.
TEST_F(corvane_e2e, retuning_weapon_22_and_the_default_while_frames_run) {
    settings_file file; // reload 1; 22 and -1 given
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    EXPECT_EQ(offset_used(25), (point{0.0f, 1.0f, 0.25f}));

    file.weapons[0] = "22 0.75 0.3 0.1";
    file.weapons[1] = "-1 0.5 1 0";
    ASSERT_TRUE(module->write_settings(file.text()));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f})) << "nothing changes before a frame";
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_EQ(offset_used(22), (point{0.75f, 0.3f, 0.1f}));
    EXPECT_EQ(offset_used(25), (point{0.5f, 1.0f, 0.0f}));

    sim::set_keys(false, true); // X: the retuned x times -3
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_EQ(offset_used(22), (point{-2.25f, 0.3f, 0.1f}));
    EXPECT_EQ(offset_used(25), (point{-1.5f, 1.0f, 0.0f}));

    // Back to the first values, and a type taken out of the file keeps its last offset.
    file.weapons[0] = "22 0.5 0.2 0.1";
    file.weapons[1] = "#";
    ASSERT_TRUE(module->write_settings(file.text()));
    sim::set_keys(true, false);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    EXPECT_EQ(offset_used(25), (point{0.5f, 1.0f, 0.0f}));
}

// --- corvane.log ---------------------------------------------------------------------------

TEST_F(corvane_e2e, the_log_tells_what_load_edits_and_unload_did) {
    settings_file file;
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text()));
    const std::vector<std::string> at_load = module->log_lines();
    ASSERT_FALSE(at_load.empty()) << "no corvane.log beside the DLL";
    EXPECT_EQ(at_load.front(), "corvane 1.0.0, loaded from " + module->folder() + "corvane.dll");
    for (const std::string& line : {
             std::string("aim call at 0x527A95: now calls corvane"),
             "settings file " + module->settings_path() + ": read",
             std::string("line 21: weapon type 22 was already given on line 16: this line changes "
                         "nothing (the first entry wins)"),
             std::string("live reload (line 1): on, the file is read again on every frame (1)"),
             std::string("game build 1001: the keys and live reload work on this build"),
             std::string("per-frame call at 0x53E981: now calls corvane after the game's own "
                         "frame work"),
         })
        EXPECT_TRUE(has_line(at_load, line)) << line;

    ASSERT_NO_FATAL_FAILURE(frames(3));
    EXPECT_EQ(module->log_lines(), at_load) << "frames that change nothing write nothing";

    file.values[0] = "11.5";
    file.weapons[0] = "22 0.75 0.2 0.1";
    ASSERT_TRUE(module->write_settings(file.text()));
    ASSERT_NO_FATAL_FAILURE(frames(2));
    std::vector<std::string> expected = at_load;
    expected.push_back(
        "line 3, an aim-camera value of the game: changed from 10.25 to 11.5  [0x8CC4B4]");
    expected.push_back(
        "line 16, weapon offset 1: weapon 22 changed from 0.5 0.2 0.1 to 0.75 0.2 0.1");
    EXPECT_EQ(module->log_lines(), expected);

    ASSERT_TRUE(module->unload());
    expected.push_back("unloading: the aim call at 0x527A95 has its own bytes back");
    expected.push_back("unloading: the per-frame call at 0x53E981 has its own bytes back");
    expected.push_back(
        "corvane is unloaded; the values it wrote into the game stay until the game restarts");
    EXPECT_EQ(module->log_lines(), expected);
}

TEST_F(corvane_e2e, the_log_says_the_keys_work_while_aiming_on_an_unknown_build) {
    ASSERT_NO_FATAL_FAILURE(start(host_build::unknown, settings_file{}.text()));
    EXPECT_TRUE(has_line(module->log_lines(),
                         "game build not recognised (0x83EC8B55 at 0x401000): the keys, live "
                         "reload and the tune keys work while you aim: corvane does their work "
                         "when the game aims, not on every frame"));
}

// Tests run as root, so a read-only folder would not stop them: a folder named corvane.log
// stands in for a log that cannot be created.
TEST_F(corvane_e2e, a_log_that_cannot_be_created_changes_nothing_else) {
    settings_file file;
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text(), [](sim::plugin_module& m) {
        ASSERT_TRUE(CreateDirectoryW(m.path_of(L"corvane.log").c_str(), nullptr));
    }));
    EXPECT_TRUE(module->contains(host->call_destination(address::aim_call_site)));
    EXPECT_TRUE(module->contains(host->call_destination(address::frame_call_site)));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 10.25f);
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));

    file.values[0] = "11.5";
    file.weapons[0] = "22 0.75 0.2 0.1";
    ASSERT_TRUE(module->write_settings(file.text()));
    sim::set_keys(false, true);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(sim::key_polls().size(), 4u);
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 11.5f);
    EXPECT_EQ(offset_used(22), (point{-2.25f, 0.2f, 0.1f}));

    ASSERT_TRUE(module->unload());
    ASSERT_NO_FATAL_FAILURE(assert_sites_original(*host));
    EXPECT_EQ(GetFileAttributesW(module->path_of(L"corvane.log").c_str()) &
                  FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

// Whatever the file holds while reloading, the host keeps running and gets its results.
TEST_F(corvane_e2e, hostile_files_while_reloading_never_disturb_the_host) {
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, settings_file{}.text()));
    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 131 + 7) % 256);
    settings_file huge_numbers;
    huge_numbers.values = {"1e999", "-1e999", "nan", "0x1p200", "inf", "1e-50", "--3"};
    huge_numbers.weapons = {"99999999999 1 1 1", "0x 1 2 3", "2147483647 nan 0 0"};
    const std::vector<std::string> files = {
        "",
        "\n\n\n",
        binary,
        std::string(1 << 20, 'a'),
        huge_numbers.text(),
        "ReloadEachFrame 1\r\n" + std::string(40, '\n'),
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        ASSERT_TRUE(module->write_settings(files[i]));
        ASSERT_NO_FATAL_FAILURE(frames(3)) << "file " << i;
        aim_with(22); // checks result, object and floats on the way
    }
    // Every file above kept reloading on (no first line set it to 0): a good file still counts.
    settings_file good;
    good.values[0] = "3.25";
    ASSERT_TRUE(module->write_settings(good.text()));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 3.25f);
}

// --- folders and encodings -----------------------------------------------------------------

// A folder whose name the ANSI code page (1252 here) cannot spell, as a player's may be: the
// module finds itself there, reads and reloads its settings there and writes its log there.
TEST_F(corvane_e2e, a_folder_the_ansi_code_page_cannot_spell_holds_settings_and_log) {
    const std::wstring name = L"\u0418\u0433\u0440\u044b \u6e38\u620f";
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, &lost);
    ASSERT_TRUE(lost) << "the ANSI code page spells the folder's name";
    settings_file file;
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, file.text(), {}, name));
    ASSERT_NE(module->folder().find("\u0418\u0433\u0440\u044b \u6e38\u620f\\"), std::string::npos);

    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 10.25f);
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    file.values[0] = "11.5";
    file.weapons[0] = "22 0.75 0.2 0.1";
    ASSERT_TRUE(module->write_settings(file.text()));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 11.5f);
    EXPECT_EQ(offset_used(22), (point{0.75f, 0.2f, 0.1f}));

    ASSERT_TRUE(module->unload());
    const std::vector<std::string> log = module->log_lines();
    ASSERT_GE(log.size(), 3u) << "no corvane.log in the folder";
    EXPECT_EQ(log.front(), "corvane 1.0.0, loaded from " + module->folder() + "corvane.dll");
    EXPECT_TRUE(has_line(log, "settings file " + module->settings_path() + ": read"));
    EXPECT_TRUE(has_line(
        log, "line 3, an aim-camera value of the game: changed from 10.25 to 11.5  [0x8CC4B4]"));
    EXPECT_EQ(
        log.back(),
        "corvane is unloaded; the values it wrote into the game stay until the game restarts");
}

// Saved as "Unicode" (UTF-16LE, CR LF, letters outside ASCII in a heading), then saved again
// while the game runs as big-endian UTF-16 with other values: both read as their text.
TEST_F(corvane_e2e, a_utf16_file_then_a_reload_from_a_big_endian_one) {
    settings_file file;
    const auto text = [&file] {
        std::string t = file.text();
        t.replace(t.find("[camera]"), 8, "[\u043a\u0430\u043c\u0435\u0440\u0430 \U0001F3AF]");
        return t;
    };
    ASSERT_NO_FATAL_FAILURE(start(
        host_build::b1001, test_text::spelled(text(), test_text::spelling::utf16_le, "\r\n")));
    for (const sim::value_slot& slot : sim::value_slots)
        EXPECT_FLOAT_EQ(host->read_float(slot.address), value_of(file, slot.line))
            << "line " << slot.line;
    EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * 27), row_value(3, 6));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f}));
    EXPECT_EQ(offset_used(0x20), (point{-0.25f, 0.0f, 1.5f}));

    file.values[0] = "11.5";
    file.rows[3] = "30.5 31.5 32.5 33.5 34.5 35.5 99.5";
    file.weapons[0] = "22 0.75 0.2 0.1";
    ASSERT_TRUE(
        module->write_settings(test_text::spelled(text(), test_text::spelling::utf16_be, "\n")));
    ASSERT_NO_FATAL_FAILURE(frames(1));
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 11.5f);
    EXPECT_FLOAT_EQ(host->read_float(address::aim_rows + 4 * 27), 99.5f);
    EXPECT_EQ(offset_used(22), (point{0.75f, 0.2f, 0.1f}));
    EXPECT_EQ(offset_used(0x20), (point{-0.25f, 0.0f, 1.5f}));
    EXPECT_TRUE(has_line(
        module->log_lines(),
        "line 3, an aim-camera value of the game: changed from 10.25 to 11.5  [0x8CC4B4]"));
}

// --- memory --------------------------------------------------------------------------------

TEST_F(corvane_e2e, twenty_thousand_reloading_frames_leave_private_bytes_flat) {
    // Every 100 frames the player saves an edit: a value and weapon 22's offset go back and
    // forth, so each edit is a real change the module applies and logs.
    settings_file edits[2];
    edits[1].values[0] = "10.75";
    edits[1].weapons[0] = "22 0.75 0.2 0.1";
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, edits[0].text()));
    ASSERT_NO_FATAL_FAILURE(frames(100));
    const std::size_t after_warm_up = sim::private_bytes();
    ASSERT_GT(after_warm_up, 0u);
    int saved = 0;
    for (int frame = 100; frame < 20000; ++frame) {
        sim::set_keys(false, frame % 50 < 25);
        sim::key_polls().clear(); // keeps its capacity: no growth of its own
        if (frame % 100 == 0) {
            ASSERT_TRUE(module->write_settings(edits[++saved % 2].text()));
        }
        const std::uint32_t result = host->run_frame();
        ASSERT_EQ(result, host->last_frame_result());
        if (frame % 10 == 0) host->aim(host_target);
    }
    sim::key_polls().clear();
    const std::size_t at_end = sim::private_bytes();
    const long long growth = static_cast<long long>(at_end) - static_cast<long long>(after_warm_up);
    std::printf("private bytes: %zu KiB after 100 frames, %zu KiB after 20000 with %d edits "
                "(%+lld KiB)\n",
                after_warm_up / 1024, at_end / 1024, saved, growth / 1024);
    EXPECT_LT(std::llabs(growth), 1 << 20)
        << "private bytes after 100 frames: " << after_warm_up << ", after 20000: " << at_end;

    // The last edit (odd: the second file) is in force and is the log's last line.
    EXPECT_FLOAT_EQ(host->read_float(0x8CC4B4), 10.75f);
    sim::set_keys(false, false);
    ASSERT_NO_FATAL_FAILURE(frames(1)); // Z and X up: the aim mode stays as the last X left it
    const std::vector<std::string> log = module->log_lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(),
              "line 16, weapon offset 1: weapon 22 changed from 0.5 0.2 0.1 to 0.75 0.2 0.1");
}

// --- tuning with keys in the game ------------------------------------------------------------

constexpr int key_f8 = VK_F8;

class tune_keys : public corvane_e2e, public ::testing::WithParamInterface<const char*> {
  protected:
    void press(int key) {
        sim::set_key(key, true);
        ASSERT_NO_FATAL_FAILURE(frames(1));
        sim::set_key(key, false);
        ASSERT_NO_FATAL_FAILURE(frames(1));
    }
};

// With live reload off and on: the aim moves from the next aim, the file is written once the tune
// key is let go, with only the weapon's numbers changed, and the backup holds the file as it was.
TEST_P(tune_keys, move_the_aim_at_once_and_letting_go_saves_only_that_weapons_numbers) {
    settings_file file;
    file.reload = GetParam();
    file.weapons = {"22 0.5 0.2 0.1   my rifle", "-1 0 1 0.25", "", "30 0 0 0"};
    file.named = {"tune_key F8"};
    const std::string before = file.text();
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, before));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.1f})); // the weapon in hand

    sim::set_key(key_f8, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    ASSERT_NO_FATAL_FAILURE(press(VK_RIGHT));
    EXPECT_EQ(offset_used(22), (point{0.55f, 0.2f, 0.1f})) << "from the next aim";
    ASSERT_NO_FATAL_FAILURE(press(VK_UP));
    EXPECT_EQ(offset_used(22), (point{0.55f, 0.2f, 0.15f}));
    EXPECT_EQ(offset_used(40), (point{0, 1, 0.25f})) << "the default stays";
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), before) << "saved before letting go";

    sim::set_key(key_f8, false);
    ASSERT_NO_FATAL_FAILURE(frames(3));
    settings_file after = file;
    after.weapons[0] = "22 0.55 0.2 0.15   my rifle";
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), after.text());
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), before);
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.new"), "");
    EXPECT_EQ(offset_used(22), (point{0.55f, 0.2f, 0.15f}));
    EXPECT_TRUE(has_line(module->log_lines(),
                         "saved weapon type 22 on line 16 of aimingSets.dat: 0.5 0.2 0.1 -> 0.55 "
                         "0.2 0.15"));

    // Weapon 40 is on the default: it gets the empty line 18, and the default stays for others.
    EXPECT_EQ(offset_used(40), (point{0, 1, 0.25f}));
    sim::set_key(key_f8, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    ASSERT_NO_FATAL_FAILURE(press(VK_PRIOR)); // PageUp
    sim::set_key(key_f8, false);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(offset_used(40), (point{0, 1.05f, 0.25f}));
    EXPECT_EQ(offset_used(41), (point{0, 1, 0.25f}));
    after.weapons[2] = "40 0 1.05 0.25";
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), after.text());
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), before) << "kept once a session";
}

INSTANTIATE_TEST_SUITE_P(reload, tune_keys, ::testing::Values("0", "1"), [](const auto& info) {
    return std::string(info.param[0] == '0' ? "off" : "on");
});

// Each way an editor saves the file, with a word outside ASCII on the line tuned: the save keeps
// the spelling and the line ends, and changes nothing but the number that moved.
struct spelling_case {
    const char* name;
    test_text::spelling how;
    const char* eol;
};

void PrintTo(const spelling_case& c, std::ostream* out) {
    *out << c.name;
}

class tune_spelling : public corvane_e2e, public ::testing::WithParamInterface<spelling_case> {};

TEST_P(tune_spelling, a_save_keeps_the_files_spelling_and_line_ends) {
    settings_file file;
    file.reload = "0";
    file.weapons[0] = "22 0.5 0.2 0.1  \u0432\u0438\u043D\u0442\u043E\u0432\u043A\u0430 \U0001F3AF";
    file.named = {"tune_key F8"};
    const auto saved = [&](const settings_file& f) {
        return test_text::spelled(f.text(), GetParam().how, GetParam().eol);
    };
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, saved(file)));
    offset_used(22);
    sim::set_key(key_f8, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(VK_NEXT, true); // PageDown: nearer
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(VK_NEXT, false);
    sim::set_key(key_f8, false);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    settings_file after = file;
    after.weapons[0].replace(0, 14, "22 0.5 0.15 0.1");
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), saved(after));
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), saved(file));
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.15f, 0.1f}));
}

INSTANTIATE_TEST_SUITE_P(
    editors, tune_spelling,
    ::testing::Values(spelling_case{"ansi_crlf", test_text::spelling::eight_bit, "\r\n"},
                      spelling_case{"utf8_with_mark_lf", test_text::spelling::utf8_with_mark, "\n"},
                      spelling_case{"utf16_le_crlf", test_text::spelling::utf16_le, "\r\n"},
                      spelling_case{"utf16_be_lf", test_text::spelling::utf16_be, "\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(corvane_e2e, a_file_edited_while_tuning_is_not_written_over) {
    settings_file file;
    file.reload = "0";
    file.named = {"tune_key F8"};
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1002, file.text()));
    offset_used(22);
    sim::set_key(key_f8, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(VK_LEFT, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(VK_LEFT, false);
    EXPECT_EQ(offset_used(22), (point{0.45f, 0.2f, 0.1f}));
    settings_file edited = file;
    edited.weapons[0] = "22 0.7 0.2 0.1";
    ASSERT_TRUE(module->write_settings(edited.text()));
    sim::set_key(key_f8, false);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), edited.text());
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), "");
    EXPECT_EQ(offset_used(22), (point{0.7f, 0.2f, 0.1f})) << "the player's edit applies";
    EXPECT_TRUE(has_line(module->log_lines(),
                         "the tune of weapon type 22 (0.45 0.2 0.1) is dropped, not saved; the "
                         "file decides its aim"));
}

TEST_F(corvane_e2e, a_read_only_file_stays_as_it_was_and_the_log_says_why) {
    settings_file file;
    file.reload = "0";
    file.named = {"tune_key F8"};
    const std::string before = file.text();
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1001, before));
    const std::wstring path = module->path_of(L"aimingSets.dat");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    offset_used(22);
    sim::set_key(key_f8, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(VK_DOWN, true);
    ASSERT_NO_FATAL_FAILURE(frames(1));
    sim::set_key(VK_DOWN, false);
    sim::set_key(key_f8, false);
    ASSERT_NO_FATAL_FAILURE(frames(2));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), before);
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.new"), "");
    EXPECT_EQ(offset_used(22), (point{0.5f, 0.2f, 0.05f})) << "the tune stays in the game";
    EXPECT_TRUE(has_line(module->log_lines(),
                         "not saved: aimingSets.dat is marked read-only (in its Properties), "
                         "and corvane does not write a file that is; aimingSets.dat is as it "
                         "was, and corvane tries again when you next let go of the tune key"));
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), "") << "nothing at all written";
}

// On 1011 the tune keys work while the player aims: each aim, a frame's time after the one
// before, does the keys' work first, and letting go of the tune key saves at the next aim. The
// per-frame call stays the game's own throughout.
TEST_F(corvane_e2e, on_1011_the_tune_keys_work_while_aiming) {
    settings_file file;
    file.weapons = {"22 0.5 0.2 0.1"};
    file.named = {"tune_key F8"};
    const std::string before = file.text();
    ASSERT_NO_FATAL_FAILURE(start(host_build::b1011, before));
    // An aim a frame's time after the last one, which on this build runs the keys' work.
    const auto aim_later = [this] {
        Sleep(2 * plugin::frame_work_interval_on_aim_ms);
        return offset_used(22);
    };
    EXPECT_EQ(aim_later(), (point{0.5f, 0.2f, 0.1f}));
    sim::set_key(key_f8, true);
    EXPECT_EQ(aim_later(), (point{0.5f, 0.2f, 0.1f}));
    sim::set_key(VK_RIGHT, true);
    EXPECT_EQ(aim_later(), (point{0.55f, 0.2f, 0.1f})) << "in the aim that read the press";
    sim::set_key(VK_RIGHT, false);
    EXPECT_EQ(aim_later(), (point{0.55f, 0.2f, 0.1f}));
    ASSERT_NO_FATAL_FAILURE(frames(3));
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), before) << "frames save nothing";
    sim::set_key(key_f8, false);
    EXPECT_EQ(aim_later(), (point{0.55f, 0.2f, 0.1f}));
    settings_file after = file;
    after.weapons[0] = "22 0.55 0.2 0.1";
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat"), after.text());
    EXPECT_EQ(module->read_file_named(L"aimingSets.dat.bak"), before);
    EXPECT_EQ(host->bytes_at(address::frame_call_site),
              simulated_host::original_frame_site_bytes());
    EXPECT_FALSE(has_line(module->log_lines(), "tune_key F8: the tune keys need the game's "
                                               "per-frame call or its aim call, and corvane "
                                               "could change neither, so on this game they do "
                                               "nothing"));
}

} // namespace
