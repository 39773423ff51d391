#include "frame_host.h"

#include "injector/resident.h"

#include "injector/branch.h"
#include "platform/os.h"
#include "platform/os_stand_in.h"
#include "plugin/host.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/settings_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace test_host {

namespace {

// sub esp, 12 (so the callee finds the stack aligned as a compiled caller would leave it),
// the CALL at the site, add esp, 12; ret. EAX passes through untouched.
constexpr std::uint8_t align_stack[] = {0x83, 0xEC, 0x0C};
constexpr std::uint8_t restore_stack_and_return[] = {0x83, 0xC4, 0x0C, 0xC3};

void* __cdecl fake_per_frame() {
    frame_host* const host = frame_host::current;
    host->log.push_back("host");
    ++host->host_runs;
    if (host->during_host) host->during_host();
    return reinterpret_cast<void*>(per_frame_result);
}

void* __cdecl fake_per_frame_other() {
    frame_host::current->log.push_back("other host");
    ++frame_host::current->host_runs;
    return reinterpret_cast<void*>(other_result);
}

using caller_fn = void*(__cdecl*)();

} // namespace

frame_host* frame_host::current = nullptr;

frame_host::frame_host(std::uint32_t call_site) : site_(call_site) {
    current = this;
    auto lay = [this](std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        patches_.push_back(std::make_unique<bytes_patch>(address, bytes));
    };
    lay(site_ - sizeof align_stack, {std::begin(align_stack), std::end(align_stack)});
    lay(site_, original_call_bytes());
    lay(site_ + 5, {std::begin(restore_stack_and_return), std::end(restore_stack_and_return)});
    lay(host_per_frame, rel32_instruction(0xE9, host_per_frame, (void*)&fake_per_frame));
    lay(host_per_frame_other,
        rel32_instruction(0xE9, host_per_frame_other, (void*)&fake_per_frame_other));
}

frame_host::~frame_host() {
    while (!patches_.empty())
        patches_.pop_back(); // newest first
    current = nullptr;
}

void* frame_host::run_frame() {
    volatile caller_fn caller = reinterpret_cast<caller_fn>(at(site_ - sizeof align_stack));
    return caller();
}

void frame_host::call_other_host_function() {
    const auto bytes = rel32_instruction(0xE8, site_, at(host_per_frame_other));
    std::memcpy(at(site_), bytes.data(), bytes.size());
}

std::vector<std::uint8_t> frame_host::original_call_bytes() const {
    return rel32_instruction(0xE8, site_, at(host_per_frame));
}

std::uintptr_t call_destination(std::uintptr_t site) {
    const std::uintptr_t called = injector::read_branch_target(site);
    if (called == 0) return 0;
    const auto resident = injector::resident_at(called);
    if (!resident) return called;
    return resident->share != 0 ? resident->share : resident->home;
}

void spare_site_test::SetUp() {
    ASSERT_TRUE(map_host_image());
    reset_platform();
    reset_module();
    host = std::make_unique<frame_host>(spare_call_site);
}

void spare_site_test::TearDown() {
    reset_module();
    host.reset();
}

std::vector<std::uint8_t> frame_host::site_bytes() const {
    return read_bytes(site_, 5);
}

plugin_dir::plugin_dir() {
    char name[] = "/tmp/corvane-frames-XXXXXX";
    if (mkdtemp(name))
        dir_ = name;
    else
        ADD_FAILURE() << "no temporary directory";
    auto& os_state = os::stand_in::current();
    os_state.module_paths[os_state.plugin_module] = os::stand_in::utf16(dir_ + "/corvane.dll");
    auto keep = [this](std::uint32_t address, std::size_t size) {
        kept_.push_back(std::make_unique<bytes_patch>(address, read_bytes(address, size)));
    };
    keep(0x8CC4A0, 0x8CC530 - 0x8CC4A0); // aim values and the four aim rows
    keep(0x521632, 4);                   // the float in the aim camera's code
}

plugin_dir::~plugin_dir() {
    if (dir_.empty()) return;
    for (const char* name : {"aimingSets.dat", "aimingSets.dat.bak", "aimingSets.dat.new"})
        std::remove((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
}

void plugin_dir::write_settings(const std::string& text) const {
    if (dir_.empty()) return;
    std::FILE* const file = std::fopen((dir_ + "/aimingSets.dat").c_str(), "wb");
    if (!file) {
        ADD_FAILURE() << "cannot write the settings file in " << dir_;
        return;
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string plugin_dir::read(const char* name) const {
    std::string bytes;
    if (std::FILE* const file = std::fopen((dir_ + "/" + name).c_str(), "rb")) {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.append(chunk, got);
        std::fclose(file);
    }
    return bytes;
}

bool plugin_dir::has(const char* name) const {
    return access((dir_ + "/" + name).c_str(), F_OK) == 0;
}

void module_setting::lay_out(const build_bytes& b) {
    take_down();
    ASSERT_TRUE(map_host_image());
    reset_platform();
    reset_module();
    aim = std::make_unique<aim_host>();
    frames = std::make_unique<frame_host>();
    if (!b.bytes.empty()) build = std::make_unique<bytes_patch>(b.address, b.bytes);
    std::vector<std::uint8_t> rows(4 * 7 * sizeof(float));
    for (int r = 0; r < 4; ++r)
        for (int i = 0; i < 7; ++i) {
            const float value = game_row_value(r, i);
            std::memcpy(rows.data() + (7 * r + i) * sizeof value, &value, sizeof value);
        }
    game_rows = std::make_unique<bytes_patch>(plugin::host_addresses::aim_rows, rows);
    for (const plugin::settings_position& position : plugin::settings_positions) {
        if (position.kind != plugin::line_kind::host_float &&
            position.kind != plugin::line_kind::code_float)
            continue;
        const float value = game_line_value(position.line);
        std::vector<std::uint8_t> bytes(sizeof value);
        std::memcpy(bytes.data(), &value, sizeof value);
        game_values.push_back(std::make_unique<bytes_patch>(position.host_address, bytes));
    }
    dir = std::make_unique<plugin_dir>();
}

void module_setting::take_down() {
    reset_module();
    os::stand_in::unguard_code_pages(); // the doubles put back what they found
    dir.reset();
    while (!game_values.empty())
        game_values.pop_back();
    game_rows.reset();
    build.reset();
    frames.reset();
    aim.reset();
}

std::string module_log_text() {
    const char16_t* path = plugin::log_file_path();
    if (!path) return {};
    const auto& files = os::stand_in::current().files;
    const auto found = files.find(os::stand_in::utf8(path));
    return found == files.end() ? std::string() : found->second;
}

} // namespace test_host
