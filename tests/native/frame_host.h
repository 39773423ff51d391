// A host-like setting for the per-frame call: a caller whose 5-byte CALL stands at a host call
// site (0x53E981 unless a test picks another) and leads, through a JMP at a host address, to a
// double of the host's per-frame function. Tests execute that CALL for real, so whatever the
// module writes at the site is run by the CPU exactly as the host would run it.
#pragma once

#include "aim_host.h"
#include "host_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace test_host {

inline constexpr std::uint32_t per_frame_call_site = 0x53E981;
// Where the site's CALL leads: the host's per-frame function, and a second function that the
// site can be pointed at instead (as another build of the host might call).
inline constexpr std::uint32_t host_per_frame = 0x7F0000;
inline constexpr std::uint32_t host_per_frame_other = 0x7F0010;
// What each of the two returns; the caller hands it back to the test.
inline constexpr std::uintptr_t per_frame_result = 0x5EED0F00;
inline constexpr std::uintptr_t other_result = 0x0DD0F00D;

// Where the test host's code ends and its data begins: pages below are code pages.
inline constexpr std::uint32_t code_end = 0x8CC000;

// The probe bytes that make the test host look like one build or another.
struct build_bytes {
    const char* name;
    std::uint32_t address;
    std::vector<std::uint8_t> bytes; // empty: a host that matches no probe
};

inline void PrintTo(const build_bytes& b, std::ostream* out) {
    *out << b.name;
}

inline const build_bytes build_1001{"b1001", 0x401000, {0x55, 0x8B, 0xEC, 0x53}};
inline const build_bytes build_1002{"b1002", 0x401000, {0xE9, 0x7B, 0x19, 0x16}};
inline const build_bytes build_1011{"b1011", 0x8245BC, {0xBF, 0x94, 0x00, 0x00}};
inline const build_bytes build_3200{"b3200", 0x858D51, {0x33, 0xF6, 0x39, 0x35}};
inline const build_bytes build_unknown{"unknown", 0x401000, {}};

// Where the CALL at `site` leads in the end: where the module patched it, the share its resident
// code calls (the module's own code), or where that code leads home while it is unused.
std::uintptr_t call_destination(std::uintptr_t site);

class frame_host {
  public:
    explicit frame_host(std::uint32_t call_site = per_frame_call_site);
    ~frame_host();
    frame_host(const frame_host&) = delete;
    frame_host& operator=(const frame_host&) = delete;

    // Executes the caller, and with it the CALL at the site; returns what came back in EAX.
    void* run_frame();

    // Rewrites the site's CALL so that it leads to host_per_frame_other.
    void call_other_host_function();

    // The CALL of host_per_frame that the site held when this host was laid out.
    std::vector<std::uint8_t> original_call_bytes() const;
    std::vector<std::uint8_t> site_bytes() const;
    std::uint32_t site() const { return site_; }

    // "host" or "other host" for each run of a host function, in order; hooks and handlers
    // under test append their own words, so one vector shows the order of everything.
    std::vector<std::string> log;
    int host_runs = 0;
    // Run inside the host's per-frame function, when set: what the game's own frame does.
    std::function<void()> during_host;

    static frame_host* current;

  private:
    std::uint32_t site_;
    std::vector<std::unique_ptr<bytes_patch>> patches_;
};

// A call site of the toolkit's tests alone, away from the host's own sites.
inline constexpr std::uint32_t spare_call_site = 0x600000;

// A test of patches on the spare call site: the host image mapped, the OS stand-in and the
// module fresh, and a frame host whose CALL stands at that site; the module's teardowns run
// before the frame host puts its bytes back.
class spare_site_test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<frame_host> host;
};

// A temporary directory that the OS stand-in reports as the module's own, for the settings
// file. Keeps the host bytes that a settings load writes (the aim values and rows, and the float
// in the aim camera's code) and puts them back when it goes. Make it after reset_platform.
class plugin_dir {
  public:
    plugin_dir();
    ~plugin_dir();
    plugin_dir(const plugin_dir&) = delete;
    plugin_dir& operator=(const plugin_dir&) = delete;

    // Writes aimingSets.dat with exactly these bytes.
    void write_settings(const std::string& text) const;
    // The bytes of a file in the directory (empty when there is none), and whether it is there.
    std::string read(const char* name = "aimingSets.dat") const;
    bool has(const char* name) const;

  private:
    std::string dir_;
    std::vector<std::unique_ptr<bytes_patch>> kept_;
};

// What the module wrote into corvane.log so far, as the OS stand-in holds it; empty before the
// log is opened.
std::string module_log_text();

// The game's own aim rows as the test host holds them before the module starts: row r, value i
// is 10 * (r + 1) + i, so every value is told apart from any a settings file gives.
inline constexpr float game_row_value(int row, int value) {
    return static_cast<float>(10 * (row + 1) + value);
}

// The game's own value of settings line 3 to 9 (line 5's inside the aim camera's code) as the
// test host holds it before the module starts: 3.25 for line 3, and so on.
inline constexpr float game_line_value(int line) {
    return static_cast<float>(line) + 0.25f;
}

// A whole host for the module, as a test fixture: the aim call site and the host's functions
// (aim_host), the per-frame caller (frame_host), the probe bytes of a build, the game's own values
// and aim rows, and a module directory. lay_out makes them afresh; they are taken down newest
// first, each double putting back the bytes it found, after the module's own teardowns.
class module_setting : public ::testing::Test {
  protected:
    void TearDown() override { take_down(); }

    void lay_out(const build_bytes& build);
    void take_down();

    std::unique_ptr<aim_host> aim;
    std::unique_ptr<frame_host> frames;
    std::unique_ptr<bytes_patch> build;
    std::unique_ptr<bytes_patch> game_rows;
    std::vector<std::unique_ptr<bytes_patch>> game_values;
    std::unique_ptr<plugin_dir> dir;
};

} // namespace test_host
