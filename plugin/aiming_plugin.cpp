#include "plugin/aiming_plugin.h"

#include "corvane/version.h"
#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/host_address.h"
#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/utf16_text.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/frame/per_frame.h"
#include "plugin/host.h"
#include "plugin/load/settings_load.h"
#include "plugin/log/code_bytes.h"
#include "plugin/log/game_build_words.h"
#include "plugin/log/module_log.h"
#include "plugin/log/settings_log.h"
#include "plugin/log/tune_log.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/settings_save.h"
#include "runtime/game_process_event.h"
#include "runtime/game_version.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace plugin {

namespace {

constexpr char aim_call[] = "aim call";
constexpr char frame_call[] = "per-frame call";
constexpr char now_calls_corvane[] = "now calls corvane";

// The aim call site's patch: through a resident jump, so that unloading never leaves the host
// calling into a module that is gone, whichever plug-in on the site unloads first.
injector::resident_call* aim_site_bytes = nullptr;
std::uintptr_t aim_site = 0;

// "aim call at 0x527A95" in `out`.
const char* site_words(const char* what, std::uint32_t host_address, std::uintptr_t address,
                       char (&out)[96]) {
    std::snprintf(out, sizeof out, "%s at %s", what, text_of_address(host_address, address).text);
    return out;
}

// Where the aim call led to other code than the game's camera before corvane: another copy of
// corvane, whose aim the one loaded last decides, or another plug-in's hook, which does not run
// while corvane is loaded, since corvane calls the game's camera itself.
void log_aim_call_led_elsewhere(const char* what, std::uintptr_t previous) {
    if (previous == injector::translate_host_address(host_addresses::aim_camera)) return;
    if (injector::resident_at(previous)) {
        log_line("%s: it led to another copy of corvane, loaded before this one: this copy's "
                 "aimingSets.dat decides the aim while it is loaded",
                 what);
        return;
    }
    log_line("%s: it led to another plug-in's code at 0x%08" PRIXPTR
             " rather than to the game's aim camera: that plug-in's aim hook does not run while "
             "corvane is loaded (corvane calls the game's camera itself), and runs again once "
             "corvane is unloaded",
             what, previous);
}

void restore_aim_call_site() noexcept {
    const injector::patch_status status = aim_site_bytes->restore_bytes();
    if (status != injector::patch_status::done) {
        char where[96], what[128];
        std::snprintf(what, sizeof what, "unloading: the %s",
                      site_words(aim_call, host_addresses::aim_call_site, aim_site, where));
        log_patch(what, "its own bytes were put back", status);
    }
    delete aim_site_bytes;
    aim_site_bytes = nullptr;
}

void redirect_aim_call(std::uintptr_t site) {
    aim_site = site;
    aim_site_bytes = new injector::resident_call(injector::resident_kind::retarget);
    injector::register_teardown(&restore_aim_call_site);
    // The game's camera at its fixed address, whatever the site called before.
    const injector::patch_status status = aim_site_bytes->attach(
        site, reinterpret_cast<std::uintptr_t>(&aim_weapon_hook), host_addresses::aim_camera);
    char what[96];
    site_words(aim_call, host_addresses::aim_call_site, site, what);
    log_patch(what, now_calls_corvane, status, site);
    // A call left as it was has nothing to be put back at unload.
    const bool made = injector::was_made(status);
    note_call_site(aim_call, host_addresses::aim_call_site, site,
                   made ? aim_site_bytes->kept() : std::span<const std::uint8_t>{});
    if (made) log_aim_call_led_elsewhere(what, aim_site_bytes->previous());
}

void log_module_loaded() {
    const os::utf8_path path(module_file_path());
    if (module_found_itself())
        log_line("corvane %s, loaded from %s", corvane::version, path.c_str());
    else
        log_line("corvane %s: it could not find its own file, so it looks for its settings beside "
                 "the game's executable, %s",
                 corvane::version, path.c_str());
}

// "game build 1011 (0x83EC8B55 at 0x401000)", or "game build not recognised (...)", in `out`:
// the build and the four bytes that name builds 1001 and 1002.
const char* build_words(std::int32_t code, char (&out)[64]) {
    std::uint32_t probed = 0; // stays 0 where nothing can be read
    read_host_bytes(injector::host_code_address(runtime::main_probe_address), &probed,
                    sizeof probed);
    char build[32] = "game build not recognised";
    if (code != 0) std::snprintf(build, sizeof build, "game build %" PRId32, code);
    std::snprintf(out, sizeof out, "%s (0x%08" PRIX32 " at 0x%06" PRIX32 ")", build, probed,
                  runtime::main_probe_address);
    return out;
}

// Whether the game's per-frame call runs corvane's per-frame work.
bool frame_call_hooked(const runtime::game_process_event& event) {
    return event.hook_status && injector::was_made(*event.hook_status);
}

// Whether the aim call leads to corvane.
bool aim_call_hooked() {
    return aim_site_bytes && aim_site_bytes->attached();
}

// Where the per-frame call does not run corvane's per-frame work, the aim does, while the player
// aims: from now on the aim call runs the share that runs that work first.
void run_frame_work_on_aim_where_needed(const runtime::game_process_event& event) {
    if (frame_call_hooked(event) || !aim_call_hooked()) return;
    arm_frame_work_on_aim();
    aim_site_bytes->lead_to(reinterpret_cast<std::uintptr_t>(&aim_hook_with_frame_work));
}

// The game build, and whether keys and live reload work on it: every frame where the per-frame
// call is hooked, else while the player aims.
void log_game_build(const runtime::game_process_event& event) {
    const std::int32_t code = runtime::identify_game_version();
    const std::uintptr_t site = injector::host_code_address(runtime::per_frame_call_site);
    char what[96];
    site_words(frame_call, runtime::per_frame_call_site, site, what);
    if (!event.hook_status) {
        char build[64];
        log_line("%s: %s", build_words(code, build), game_build_words(code));
        note_call_site(frame_call, runtime::per_frame_call_site, site, {});
        return;
    }
    if (injector::was_made(*event.hook_status)) {
        log_line("game build %" PRId32 ": %s", code, game_build_words(code));
        log_patch(what, "now calls corvane after the game's own frame work", *event.hook_status,
                  site);
        note_call_site(frame_call, runtime::per_frame_call_site, site,
                       runtime::per_frame_hooker::site_manager()->kept_site_bytes());
        return;
    }
    log_line("game build %" PRId32 ", but its per-frame call could not be changed, so %s", code,
             aim_call_hooked() ? frame_work_on_aim_words() : "the keys and live reload are off");
    log_patch(what, now_calls_corvane, *event.hook_status, site);
    note_call_site(frame_call, runtime::per_frame_call_site, site, {});
}

// The tune keys are read by the per-frame work, which the per-frame call or the aim runs: without
// either, a tune key set in the file does nothing, and the log says so once.
void log_tune_keys_if_unavailable(const runtime::game_process_event& event) {
    const int tune_key = aim_key_settings()[named_setting::tune_key].whole;
    if (tune_key != 0 && !frame_call_hooked(event) && !aim_call_hooked())
        log_tune_keys_unavailable(tune_key);
}

// Whether this game's code is laid out as corvane knows it (see changes_this_game); when it is
// not, says so and what the aim call site holds instead.
bool game_is_known(std::int32_t code, std::uintptr_t site) {
    std::uint8_t bytes[5] = {}; // no call where nothing can be read
    const bool readable = read_host_bytes(site, bytes, sizeof bytes);
    // A call of what a copy of corvane laid, still loaded or gone, stands for the bytes the site
    // held before the first copy changed it.
    if (const std::uint8_t* original = injector::resident_original(bytes, site))
        std::memcpy(bytes, original, sizeof bytes);
    if (changes_this_game(code, bytes, site,
                          injector::translate_host_address(host_addresses::aim_camera)))
        return true;
    char build[64];
    log_line("%s: %s: at %s, where the builds corvane knows call the game's aim camera, this one "
             "holds %s",
             build_words(code, build), left_alone_words(false),
             text_of_address(host_addresses::aim_call_site, site).text,
             readable ? text_of_bytes(bytes).text : "nothing that can be read");
    return false;
}

// Whether the game's program lies where corvane knows it; when it does not, says so.
bool program_in_its_place() {
    const std::uintptr_t base = injector::host_module_base();
    if (program_at_its_usual_place(base)) return true;
    log_line(moved_program_format, static_cast<unsigned>(base));
    return false;
}

} // namespace

void start_aiming_plugin() noexcept {
    try {
        find_where_files_are_kept();
        open_module_log(log_file_path());
        log_files_in_virtual_store();
        log_module_loaded();
        if (program_in_its_place()) {
            const std::int32_t code = runtime::identify_game_version();
            const std::uintptr_t site = injector::host_code_address(host_addresses::aim_call_site);
            if (game_is_known(code, site)) {
                redirect_aim_call(site);
                take_game_aim_rows();
                log_game_values();
                load_aiming_settings();
                // Before any frame or aim can run the per-frame work: it never enters Windows'
                // loader.
                prepare_gamepad();
                register_per_frame_handler();
                const auto& event = runtime::game_process_event::instance();
                run_frame_work_on_aim_where_needed(event);
                log_game_build(event);
                log_tune_keys_if_unavailable(event);
            }
        }
    } catch (...) {
        // Out of memory at load: whatever was set up stays consistent and is undone at unload.
        log_line("start-up stopped early: the game is out of memory; what corvane set up so far "
                 "stays and is undone at unload");
    }
    note_start_up_finished();
}

} // namespace plugin
