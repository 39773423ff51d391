// corvane_host: the simulated host as a program.
//   corvane_host demo DLL [SETTINGS]   walks through what the module does to a running host
//   corvane_host soak DLL CYCLES       load, run and unload the module again and again
//   corvane_host quit-in-frame [DLL]   runs a frame whose game function ends the process (exit
//                                      code 42), with the module loaded when a DLL is named
#include "simulated_host.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using sim::host_build;
using sim::simulated_host;
namespace address = sim::address;
using point = std::array<float, 3>;

// --- the settings file as text ------------------------------------------------------------

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::string label_of(const std::string& line) {
    char label[128] = {};
    return std::sscanf(line.c_str(), "%127s", label) == 1 ? label : "(none)";
}

bool weapon_line(const std::string& line, std::int32_t& type, point& offset) {
    return std::sscanf(line.c_str(), "%i %f %f %f", &type, &offset[0], &offset[1], &offset[2]) == 4;
}

const char* const example_settings = "ReloadEachFrame 1\n"
                                     "[aim camera values]\n"
                                     "CameraDistance 2.75\n"
                                     "CameraHeight 0.6\n"
                                     "FieldOfView 0.9\n"
                                     "ShoulderShift 0.35\n"
                                     "LookAhead 4.0\n"
                                     "BlendSpeed 8.0\n"
                                     "ZoomScale 1.25\n"
                                     "[aim rows: seven values each]\n"
                                     "Row0 1 0 0 0 0.5 0.5 1\n"
                                     "Row1 0 1 0 0 0.5 0.5 1\n"
                                     "Row2 0 0 1 0 0.5 0.5 1\n"
                                     "Row3 0 0 0 1 0.5 0.5 1\n"
                                     "[weapons: type x y z]\n"
                                     "22 0.5 0.2 0.1\n"
                                     "25 -0.3 0.4 0.15\n"
                                     "31 0 0 0\n"
                                     "-1 0.2 0.1 0\n";

// --- printing -------------------------------------------------------------------------------

std::string hex_bytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char part[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(part, sizeof part, "%02X ", b);
        text += part;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::string point_text(const point& p) {
    char text[64];
    std::snprintf(text, sizeof text, "(%.2f, %.2f, %.2f)", p[0], p[1], p[2]);
    return text;
}

int failures = 0;

void check(bool ok, const char* what) {
    if (ok) return;
    ++failures;
    std::printf("  !! unexpected: %s\n", what);
}

void describe_site(const simulated_host& host, const sim::plugin_module* module, const char* name,
                   std::uint32_t site) {
    const std::uint32_t target = host.branch_target(site);
    const char* where = "";
    if (module && module->contains(host.call_destination(site)))
        where = "a jump corvane keeps in memory, into corvane.dll";
    else if (target == address::aim_camera)
        where = "the game's aim camera";
    else if (target == address::frame_function)
        where = "the game's per-frame work";
    std::printf("  %-15s 0x%06" PRIX32 ": %s   call 0x%08" PRIX32 " (%s)\n", name, site,
                hex_bytes(host.bytes_at(site)).c_str(), target, where);
}

// --- demo -------------------------------------------------------------------------------------

// What the scenes of the demo share: the host, the module, the settings file's lines and the
// weapons picked to show.
struct demo_state {
    simulated_host& host;
    sim::plugin_module& module;
    std::vector<std::string> lines;    // the demo's copy of the settings file, 31 lines
    std::vector<std::int32_t> weapons; // weapons to show; the last one has no line in the file
    std::vector<point> without;        // where each aims without the module
    std::int32_t unlisted = 99;        // a weapon type the file does not give
};

const point demo_position = {100.0f, 200.0f, 0.0f};
const point demo_target = {100.0f, 210.0f, 1.6f};

void show_introduction() {
    std::printf("corvane demo: corvane.dll inside a stand-in for the game (build 1001)\n"
                "  You will see the settings file reach the game, each weapon aim where its line\n"
                "  says, the X and Z keys, an edit of the file take effect on the next frame,\n"
                "  and the game get its own code back when corvane is unloaded.\n\n");
    std::printf("How it works: this program stands in for the game. It holds the game's code at\n"
                "the game's own addresses, with the two calls corvane changes (the aim camera at\n"
                "0x527A95, the per-frame work at 0x53E981) as real machine code, and its code is\n"
                "write-protected as the game's is. corvane.dll is loaded like any plug-in and is\n"
                "never called directly. Values marked * are the stand-in game's own.\n\n");
}

// The settings file to use, as 31 lines, with reloading switched on in the demo's copy.
std::vector<std::string> settings_lines(const std::string& settings_source) {
    std::string text;
    if (!settings_source.empty() && sim::read_text_file(settings_source, text)) {
        std::printf("Settings: %s\n", settings_source.c_str());
    } else {
        std::printf("Settings: %s could not be read; using a built-in example.\n",
                    settings_source.empty() ? "(none given)" : settings_source.c_str());
        text = example_settings;
    }
    std::vector<std::string> lines = split_lines(text);
    while (lines.size() < 31)
        lines.push_back("");

    // Reloading must be on for the live edit; the demo's own copy switches it on if needed.
    int reload = 0;
    char label[128] = {};
    if (std::sscanf(lines[0].c_str(), "%127s %d", label, &reload) < 2 || reload == 0) {
        lines[0] = (label[0] ? std::string(label) : std::string("ReloadEachFrame")) + " 1";
        std::printf("  (line 1 set to 1 in the demo's copy, so that the live edit below shows)\n");
    }
    return lines;
}

// The weapons to show: the first few of the file with an offset, the first with a zero offset,
// and one the file does not list; and where each aims before the module is loaded.
void pick_weapons(demo_state& demo) {
    std::vector<std::int32_t> listed;
    std::int32_t zero_offset_type = -1;
    for (int number = 16; number <= 31; ++number) {
        std::int32_t type;
        point offset;
        if (!weapon_line(demo.lines[number - 1], type, offset)) continue;
        listed.push_back(type);
        const bool zero = offset[0] == 0.0f && offset[1] == 0.0f && offset[2] == 0.0f;
        if (type != -1 && !zero && demo.weapons.size() < 3) demo.weapons.push_back(type);
        if (type != -1 && zero && zero_offset_type == -1) zero_offset_type = type;
    }
    if (zero_offset_type != -1) demo.weapons.push_back(zero_offset_type);
    while (std::find(listed.begin(), listed.end(), demo.unlisted) != listed.end())
        ++demo.unlisted;
    demo.weapons.push_back(demo.unlisted);
    for (std::int32_t type : demo.weapons) {
        demo.host.set_weapon(1, type);
        demo.without.push_back(demo.host.aim(demo_target).camera.target);
    }
}

bool load_module_scene(demo_state& demo, const std::string& dll) {
    if (!demo.module.ready() || !demo.module.write_settings(join_lines(demo.lines))) {
        std::printf("cannot prepare a working folder for %s\n", dll.c_str());
        return false;
    }
    std::printf("\nLoading corvane.dll from %s (aimingSets.dat beside it)\n",
                demo.module.folder().c_str());
    if (!demo.module.load()) {
        std::printf("LoadLibrary failed (error %lu)\n", GetLastError());
        return false;
    }
    std::printf("  loaded at 0x%08" PRIX32 "\n", demo.module.base());
    describe_site(demo.host, &demo.module, "aim call", address::aim_call_site);
    describe_site(demo.host, &demo.module, "per-frame call", address::frame_call_site);
    check(demo.module.contains(demo.host.call_destination(address::aim_call_site)),
          "aim call not redirected");
    check(demo.module.contains(demo.host.call_destination(address::frame_call_site)),
          "per-frame call not hooked");
    return true;
}

// A value as the demo prints it, marked * when it is the stand-in game's own.
std::string value_text(float value, bool games_own, int width) {
    char text[32];
    std::snprintf(text, sizeof text, "%*.4g%s", width, value, games_own ? "*" : " ");
    return text;
}

void settings_scene(const demo_state& demo) {
    std::printf("\nSettings that reached the game\n");
    std::printf("  line  %-24s %12s %12s   %s\n", "label", "game's own", "now", "in the game at");
    for (const sim::value_slot& slot : sim::value_slots) {
        const float own = simulated_host::default_value(slot.address);
        const float now = demo.host.read_float(slot.address);
        std::printf("  %4d  %-24s %s %s   0x%06" PRIX32 "%s\n", slot.line,
                    label_of(demo.lines[slot.line - 1]).c_str(), value_text(own, true, 11).c_str(),
                    value_text(now, now == own, 11).c_str(), slot.address,
                    slot.address == address::aim_code_constant ? " (in its code)" : "");
    }
    std::printf("  lines 11 to 14: the aim rows, seven values each (0x%06" PRIX32 ")\n",
                address::aim_rows);
    for (int row = 0; row < sim::aim_row_count; ++row) {
        std::printf("  %4d  %-24s", 11 + row, label_of(demo.lines[10 + row]).c_str());
        for (int column = 0; column < sim::aim_row_length; ++column) {
            const float now =
                demo.host.read_float(address::aim_rows + 4 * (row * sim::aim_row_length + column));
            const bool own = now == simulated_host::default_row_value(row, column);
            std::printf(" %s", value_text(now, own, 6).c_str());
        }
        std::printf("\n");
    }
    std::printf("  * the game's own value: the file leaves it as it is\n");
}

void aim_by_weapon_scene(demo_state& demo) {
    std::printf(
        "\nAim target by weapon\n  the player stands at %s facing +y; the game aims at %s\n",
        point_text(demo_position).c_str(), point_text(demo_target).c_str());
    std::printf("  %6s  %-24s  %-24s  %s\n", "weapon", "the game's own aim*", "with corvane.dll",
                "offset used");
    for (std::size_t i = 0; i < demo.weapons.size(); ++i) {
        demo.host.set_weapon(1, demo.weapons[i]);
        const sim::aim_outcome with = demo.host.aim(demo_target);
        check(with.result == sim::camera_result, "aim result changed on its way back");
        std::printf("  %6" PRId32 "  %-24s  %-24s  %s\n", demo.weapons[i],
                    point_text(demo.without[i]).c_str(), point_text(with.camera.target).c_str(),
                    with.transform_calls ? point_text(with.transform_offset).c_str()
                                         : "none (the game's own aim)");
    }
}

void aim_modes_scene(demo_state& demo) {
    const std::int32_t shown = demo.weapons.front();
    demo.host.set_weapon(1, shown);
    std::printf("\nAim modes, weapon %" PRId32 " (X: the x offset times -3; Z: back to normal)\n",
                shown);
    struct key_step {
        const char* what;
        bool z, x;
    };
    const key_step steps[] = {{"press X", false, true},
                              {"release X", false, false},
                              {"press Z", true, false},
                              {"release Z", false, false}};
    for (const key_step& step : steps) {
        sim::set_keys(step.z, step.x);
        const std::uint32_t result = demo.host.run_frame();
        check(result == demo.host.last_frame_result(), "frame result changed on its way back");
        const sim::aim_outcome outcome = demo.host.aim(demo_target);
        std::printf("  %-10s then a frame: aims at %-24s offset %s\n", step.what,
                    point_text(outcome.camera.target).c_str(),
                    outcome.transform_calls ? point_text(outcome.transform_offset).c_str() : "-");
    }
}

// The line of the file that gives weapon type `type`, or 0.
int line_of_weapon(const std::vector<std::string>& lines, std::int32_t type) {
    for (int number = 16; number <= 31; ++number) {
        std::int32_t given;
        point offset;
        if (weapon_line(lines[number - 1], given, offset) && given == type) return number;
    }
    return 0;
}

// The file changes while frames run: a value, weapon 22's offset (the type the sample file
// gives first), and a weapon type that is new. Each takes effect on the next frame.
void live_edit_scene(demo_state& demo) {
    std::printf("\nLive edit: the file changes while frames run\n");
    std::vector<std::string>& lines = demo.lines;
    const sim::value_slot first = sim::value_slots[0];
    const float old_value = demo.host.read_float(first.address);
    const float new_value = std::floor(old_value) + 1.5f;
    char edited[160];
    std::snprintf(edited, sizeof edited, "%s %.4f", label_of(lines[first.line - 1]).c_str(),
                  new_value);
    lines[first.line - 1] = edited;

    // Weapon 22 retuned: moved 0.25 further sideways and 0.1 up (added on line 31 if the file
    // does not give it).
    const std::int32_t retuned = 22;
    int retuned_line = line_of_weapon(lines, retuned);
    const bool listed = retuned_line != 0;
    point old_offset = {0.0f, 0.0f, 0.0f};
    std::int32_t type;
    if (listed)
        weapon_line(lines[retuned_line - 1], type, old_offset);
    else
        retuned_line = 31;
    char retuned_text[96];
    std::snprintf(retuned_text, sizeof retuned_text, "%" PRId32 " %.4g %.4g %.4g", retuned,
                  old_offset[0] + 0.25f, old_offset[1], old_offset[2] + 0.1f);
    point new_offset;
    weapon_line(retuned_text, type, new_offset); // exactly as the module reads it

    // A new weapon type, on the first weapon line that makes no entry (else on line 30).
    const std::int32_t new_weapon = demo.unlisted;
    int new_weapon_line = 30;
    for (int number = 16; number <= 31; ++number) {
        std::int32_t type;
        point offset;
        if (number == retuned_line || weapon_line(lines[number - 1], type, offset)) continue;
        new_weapon_line = number;
        break;
    }

    auto aim_with = [&](std::int32_t type) {
        demo.host.set_weapon(1, type);
        return demo.host.aim(demo_target);
    };
    const sim::aim_outcome new_before = aim_with(new_weapon);
    const sim::aim_outcome retuned_before = aim_with(retuned);
    lines[retuned_line - 1] = retuned_text;
    lines[new_weapon_line - 1] = std::to_string(new_weapon) + " 0 0 0.75";
    demo.module.write_settings(join_lines(lines));
    std::printf("  line %2d: \"%s\"\n", first.line, edited);
    std::printf("  line %2d: \"%s\" (weapon %" PRId32 " %s)\n", retuned_line, retuned_text, retuned,
                listed ? "retuned" : "added");
    std::printf("  line %2d: \"%" PRId32 " 0 0 0.75\" (a new weapon type)\n", new_weapon_line,
                new_weapon);
    std::printf("  before the next frame: line %d's value %8.4f   weapon %" PRId32
                " aims at %-24s weapon %" PRId32 " at %s\n",
                first.line, demo.host.read_float(first.address), retuned,
                point_text(retuned_before.camera.target).c_str(), new_weapon,
                point_text(new_before.camera.target).c_str());
    demo.host.run_frame();
    const sim::aim_outcome new_after = aim_with(new_weapon);
    const sim::aim_outcome retuned_after = aim_with(retuned);
    std::printf("  after the next frame:  line %d's value %8.4f   weapon %" PRId32
                " aims at %-24s weapon %" PRId32 " at %s\n",
                first.line, demo.host.read_float(first.address), retuned,
                point_text(retuned_after.camera.target).c_str(), new_weapon,
                point_text(new_after.camera.target).c_str());
    check(demo.host.read_float(first.address) == new_value, "the live edit did not reach the game");
    check(retuned_after.transform_calls == 1 && retuned_after.transform_offset == new_offset,
          "weapon 22's new offset did not take effect");
    check(retuned_after.camera.target != retuned_before.camera.target,
          "weapon 22's aim point did not move");
    check(new_after.transform_calls == 1 && new_after.transform_offset[2] == 0.75f,
          "the new weapon line did not take effect");
}

// The tune keys: the file names F8 as the tune key; holding it, Right and Up move the weapon in
// hand's aim point from the next aim, and letting go saves the two numbers into the file.
void tune_keys_scene(demo_state& demo) {
    const std::int32_t tuned = demo.weapons.front();
    std::printf("\nTuning weapon %" PRId32
                " with keys (tune_key F8: hold F8, press Right, then Up)\n",
                tuned);
    std::vector<std::string> lines = demo.lines;
    lines.push_back("tune_key F8");
    demo.module.write_settings(join_lines(lines));
    demo.host.run_frame(); // the reload reads the tune key
    const std::string before = demo.module.read_file_named(L"aimingSets.dat");
    demo.host.set_weapon(1, tuned);
    const sim::aim_outcome start = demo.host.aim(demo_target);
    auto tap = [&](int key) {
        sim::set_key(key, true);
        demo.host.run_frame();
        sim::set_key(key, false);
        demo.host.run_frame();
    };
    sim::set_key(VK_F8, true);
    demo.host.run_frame();
    tap(VK_RIGHT);
    tap(VK_UP);
    const sim::aim_outcome held = demo.host.aim(demo_target);
    const bool unsaved = demo.module.read_file_named(L"aimingSets.dat") == before;
    sim::set_key(VK_F8, false);
    demo.host.run_frame();
    const std::string after = demo.module.read_file_named(L"aimingSets.dat");
    const int line = line_of_weapon(split_lines(after), tuned);
    std::printf("  before:           aims at %-24s offset %s\n",
                point_text(start.camera.target).c_str(),
                start.transform_calls ? point_text(start.transform_offset).c_str() : "-");
    std::printf("  F8 held, 2 taps:  aims at %-24s offset %s (the file not written yet: %s)\n",
                point_text(held.camera.target).c_str(),
                held.transform_calls ? point_text(held.transform_offset).c_str() : "-",
                unsaved ? "yes" : "NO");
    std::printf("  F8 let go:        line %d of the file now reads \"%s\"\n", line,
                line ? split_lines(after)[line - 1].c_str() : "");
    std::printf("  aimingSets.dat.bak holds the file as it was: %s\n",
                demo.module.read_file_named(L"aimingSets.dat.bak") == before ? "yes" : "NO");
    check(held.transform_calls == 1 && start.transform_calls == 1 &&
              held.transform_offset[0] > start.transform_offset[0] &&
              held.transform_offset[2] > start.transform_offset[2],
          "the tune keys did not move the aim point right and up");
    check(unsaved, "the file was written while the tune key was held");
    check(after != before && line != 0, "letting go of the tune key saved nothing");
    check(demo.module.read_file_named(L"aimingSets.dat.bak") == before,
          "the backup does not hold the file as it was");
}

// Returns false when a call site kept the module's bytes: the host must not go on then.
bool unload_scene(demo_state& demo) {
    std::printf("\nUnloading corvane.dll\n");
    check(demo.module.unload(), "FreeLibrary left the module loaded");
    describe_site(demo.host, nullptr, "aim call", address::aim_call_site);
    describe_site(demo.host, nullptr, "per-frame call", address::frame_call_site);
    const bool aim_restored =
        demo.host.bytes_at(address::aim_call_site) == simulated_host::original_aim_site_bytes();
    const bool frame_restored =
        demo.host.bytes_at(address::frame_call_site) == simulated_host::original_frame_site_bytes();
    std::printf("  aim call restored: %s; per-frame call restored: %s\n",
                aim_restored ? "yes" : "NO", frame_restored ? "yes" : "NO");
    check(aim_restored && frame_restored, "a call site kept the module's bytes");
    if (!aim_restored || !frame_restored) {
        std::printf("\nDemo stopped: the game's code would now call into a module that is gone.\n");
        return false;
    }
    demo.host.set_weapon(1, demo.weapons.front());
    const sim::aim_outcome after = demo.host.aim(demo_target);
    const std::uint32_t frame_result = demo.host.run_frame();
    std::printf("  the game on its own again: aims at %s, frame result 0x%08" PRIX32 "\n",
                point_text(after.camera.target).c_str(), frame_result);
    check(after.camera.target == demo_target && frame_result == demo.host.last_frame_result(),
          "the game's own aim or frame misbehaves after unload");
    return true;
}

// What the module wrote about all of the above, for the player to read.
void log_scene(const demo_state& demo) {
    std::printf("\nThe log corvane wrote beside itself (%s)\n", demo.module.log_path().c_str());
    const std::vector<std::string> log = demo.module.log_lines();
    check(!log.empty(), "corvane.log is missing");
    for (const std::string& line : log)
        std::printf("  %s\n", line.c_str());
}

int demo(const std::string& dll, const std::string& settings_source) {
    show_introduction();
    simulated_host host(host_build::b1001);
    sim::plugin_module module(dll);
    demo_state demo{host, module, settings_lines(settings_source), {}, {}};
    host.set_placement(demo_position, 0.0f);

    std::printf("\nBefore loading\n");
    describe_site(host, nullptr, "aim call", address::aim_call_site);
    describe_site(host, nullptr, "per-frame call", address::frame_call_site);
    pick_weapons(demo);

    if (!load_module_scene(demo, dll)) return 1;
    settings_scene(demo);
    aim_by_weapon_scene(demo);
    aim_modes_scene(demo);
    live_edit_scene(demo);
    tune_keys_scene(demo);
    const bool unloaded = unload_scene(demo);
    log_scene(demo);
    sim::set_keys(false, false);
    if (!unloaded) return 1;

    if (failures)
        std::printf("\nDemo finished with %d unexpected result(s).\n", failures);
    else
        std::printf("\nDemo finished; everything behaved as described.\n");
    return failures ? 1 : 0;
}

// --- soak -------------------------------------------------------------------------------------

const char* const soak_settings = "ReloadEachFrame 1\n"
                                  "-\n"
                                  "A 1\nB 2\nC 0.5\nD 4\nE 5\nF 6\nG 7\n"
                                  "-\n"
                                  "R0 1 2 3 4 5 6 7\nR1 1 2 3 4 5 6 7\nR2 1 2 3 4 5 6 7\n"
                                  "R3 1 2 3 4 5 6 7\n"
                                  "-\n"
                                  "22 0.5 0.2 0.1\n-1 0 1 0\n";

// Where the two call sites lead while the module is loaded: the resident jumps it laid, which
// every later load must use again rather than ask for more memory.
using site_jumps = std::array<std::uint32_t, 2>;

// One cycle: load, 300 frames with reloading on and keys toggling, unload. Empty: all well.
std::string soak_cycle(simulated_host& host, sim::plugin_module& module, site_jumps& jumps) {
    const point target = {1.0f, 2.0f, 3.0f};
    if (!module.load()) return "LoadLibrary failed";
    if (!module.contains(host.call_destination(address::aim_call_site)))
        return "aim call not redirected";
    if (!module.contains(host.call_destination(address::frame_call_site)))
        return "per-frame call not hooked";
    jumps = {host.branch_target(address::aim_call_site),
             host.branch_target(address::frame_call_site)};
    host.set_weapon(2, 22);
    for (int frame = 0; frame < 300; ++frame) {
        const int phase = (frame / 10) % 4; // none, X, none, Z
        sim::set_keys(phase == 3, phase == 1);
        const std::uint32_t result = host.run_frame();
        if (result != host.last_frame_result()) return "frame result changed";
        const sim::aim_outcome outcome = host.aim(target);
        if (outcome.result != sim::camera_result || outcome.transform_calls != 1)
            return "aim path broken";
        const float want_x = phase == 1 || phase == 2 ? -1.5f : 0.5f;
        if (outcome.transform_offset[0] != want_x) return "aim mode does not follow the keys";
    }
    sim::set_keys(false, false);
    if (!module.unload()) return "FreeLibrary left the module loaded";
    if (host.bytes_at(address::aim_call_site) != simulated_host::original_aim_site_bytes())
        return "aim call site not restored";
    if (host.bytes_at(address::frame_call_site) != simulated_host::original_frame_site_bytes())
        return "per-frame call site not restored";
    const sim::aim_outcome after = host.aim(target);
    if (after.camera.target != target || after.transform_calls != 0 ||
        after.result != sim::camera_result)
        return "the host's own aim path misbehaves after unload";
    const std::uint32_t result = host.run_frame();
    if (result != host.last_frame_result()) return "the host's own frame misbehaves after unload";
    return "";
}

int soak(const std::string& dll, int cycles) {
    constexpr long long limit = 2 << 20;
    simulated_host host(host_build::b1001);
    sim::plugin_module module(dll);
    if (!module.ready() || !module.write_settings(soak_settings)) {
        std::printf("cannot prepare a working folder for %s\n", dll.c_str());
        return 1;
    }
    std::printf("corvane soak: %d cycles of load, 300 frames (reloading on, keys toggling), "
                "unload\n",
                cycles);
    const int report_every = cycles >= 10 ? cycles / 10 : 1;
    long long first = 0, last = 0, widest = 0;
    site_jumps first_jumps{}, jumps{};
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        std::string failure = soak_cycle(host, module, jumps);
        if (cycle == 1) first_jumps = jumps;
        if (failure.empty() && jumps != first_jumps)
            failure = "the calls led to other jumps than in cycle 1 (memory asked for again)";
        if (!failure.empty()) {
            std::printf("soak FAILED in cycle %d: %s\n", cycle, failure.c_str());
            return 1;
        }
        last = static_cast<long long>(sim::private_bytes());
        if (cycle == 1) first = last;
        if (std::llabs(last - first) > std::llabs(widest)) widest = last - first;
        if (cycle % report_every == 0 || cycle == cycles)
            std::printf("  cycle %5d/%d  private bytes %8lld KiB (%+lld KiB against cycle 1)\n",
                        cycle, cycles, last / 1024, (last - first) / 1024);
        if (std::llabs(last - first) > limit) {
            std::printf("soak FAILED in cycle %d: private bytes grew from %lld KiB to %lld KiB "
                        "(limit %lld KiB)\n",
                        cycle, first / 1024, last / 1024, limit / 1024);
            return 1;
        }
    }
    std::printf("soak passed: %d cycles, %d frames; private bytes %lld KiB after cycle 1, %lld "
                "KiB after the last, widest difference %+lld KiB (limit %lld KiB); call sites "
                "restored after every cycle, and led to the same jumps in every load\n",
                cycles, cycles * 300, first / 1024, last / 1024, widest / 1024, limit / 1024);
    return 0;
}

// The game quits from inside its frame (ExitProcess), with corvane loaded from DLL (as it lies,
// its settings beside it) or not: how long the quit takes is for the caller to measure.
int quit_in_frame(const char* dll) {
    simulated_host host(host_build::b1001);
    if (dll && !LoadLibraryW(sim::utf16(sim::windows_path(dll)).c_str())) {
        std::printf("corvane_host: cannot load %s\n", dll);
        return 1;
    }
    host.during_frame = [] { ExitProcess(42); };
    host.run_frame();
    std::printf("corvane_host: the frame came back instead of ending the process\n");
    return 1;
}

int usage() {
    std::printf("usage: corvane_host demo DLL [SETTINGS]\n"
                "       corvane_host soak DLL CYCLES\n"
                "       corvane_host quit-in-frame [DLL]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2 && std::string(argv[1]) == "quit-in-frame") return quit_in_frame(nullptr);
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    try {
        if (mode == "quit-in-frame") return quit_in_frame(argv[2]);
        if (mode == "demo") return demo(argv[2], argc > 3 ? argv[3] : "");
        if (mode == "soak") {
            const int cycles = argc > 3 ? std::atoi(argv[3]) : 200;
            if (cycles <= 0) return usage();
            return soak(argv[2], cycles);
        }
    } catch (const std::exception& error) {
        std::printf("corvane_host: %s\n", error.what());
        return 1;
    }
    return usage();
}
