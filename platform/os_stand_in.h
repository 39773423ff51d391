// Control of the recording stand-in that replaces the OS in native tests.
//
// Tests set the answers before running module code and read back what the module asked for.
// `reset()` returns everything to the defaults: every call succeeds, nothing is recorded.
#pragma once

#include "platform/os.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace os::stand_in {

// One VirtualProtect call as the module made it.
struct protect_call {
    std::uintptr_t address;
    std::uint32_t size;
    std::uint32_t new_protection;
    bool operator==(const protect_call&) const = default;
};

// One FlushInstructionCache call.
struct flush_call {
    std::uintptr_t address;
    std::uint32_t size;
    bool operator==(const flush_call&) const = default;
};

// One MessageBoxA call.
struct error_box {
    std::string text;
    std::string caption;
};

struct state {
    // VirtualProtect: calls in order; whether the switch (to 0x40) and the restore succeed;
    // the protection reported as "old" for a switch.
    std::vector<protect_call> protect_calls;
    bool fail_protect_switch = false;
    bool fail_protect_restore = false;
    std::uint32_t reported_old_protection = 0x20; // PAGE_EXECUTE_READ

    // Pages of the game's code, as a test declared them with guard_code_pages: read+execute, as
    // Windows maps them. VirtualProtect really changes their protection, so a write that comes
    // outside a protection change the module asked for faults here as it does in the game.
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> code_pages;

    // VirtualQuery: ranges that overlap [unreadable_from, unreadable_to) read as unmapped.
    std::uintptr_t unreadable_from = 0;
    std::uintptr_t unreadable_to = 0;

    // GetModuleHandleA(nullptr).
    void* process_module = reinterpret_cast<void*>(0x400000);
    int process_module_queries = 0;

    // GetModuleHandleExA and GetModuleFileNameW.
    bool module_from_address_fails = false;
    void* plugin_module = reinterpret_cast<void*>(0x10000000);
    std::map<void*, std::u16string> module_paths; // module -> full path; null is the executable
    std::vector<void*> file_name_queries;

    // _wfopen for reading: how often, and the last path as the module spelled it (kept without
    // allocating for a path no longer than one before, so a load costs no allocation here). The
    // file opened is the real one whose name is that path in UTF-8.
    int opens_for_reading = 0;
    std::u16string last_opened_for_reading;

    // GetKeyState: keys listed here are down; every query is recorded.
    std::vector<int> keys_down;
    std::vector<int> key_queries;

    // XInput: whether a library loads, how often loading was tried, the controller in
    // `pad_slot` (-1: none connected), and how many slots were asked.
    bool gamepad_library_present = true;
    int gamepad_library_loads = 0;
    int pad_slot = -1;
    gamepad_state pad;
    int pad_queries = 0;
    std::vector<int> pad_slots_asked; // every slot asked, in order

    // VirtualAlloc of code memory: the blocks given out and not given back (address, size), which
    // next_code_memory finds; and whether Windows gives none. reset() forgets the blocks, as a
    // new process would not have them, but leaves their memory mapped: the game's code laid out
    // by an earlier test may still lead into it.
    std::vector<std::pair<void*, std::uint32_t>> code_memory;
    bool refuse_code_memory = false;
    // VirtualProtect refusing to let code memory run (a game that forbids new code).
    bool refuse_running_code = false;

    // Sleep: the milliseconds the module asked to wait, all told (no real time passes, but the
    // stand-in's GetTickCount moves on by as much), and a test's look at that moment, when set:
    // the module waits for threads of the game meanwhile.
    std::uint32_t paused_milliseconds = 0;
    std::function<void()> during_pause;

    std::vector<error_box> error_boxes;

    std::vector<flush_call> flushes;
    // Called after each flush is recorded, when set: a test runs the game's code at that moment,
    // as a thread of the game could the instant a write into its code is complete.
    std::function<void(const flush_call&)> after_flush;

    // Files the module writes, kept in memory: path (in UTF-8) -> contents as they stand. A file
    // is created
    // (emptied) by create_file; `refuse_files` makes every creation fail (a read-only folder);
    // once a file holds `full_at` bytes, appends fail (a full disk). `handles` holds the path of
    // each handle given out, emptied when it is closed.
    std::map<std::string, std::string> files;
    bool refuse_files = false;
    std::size_t full_at = static_cast<std::size_t>(-1);
    std::vector<std::string> handles;
    int appends = 0;
    int open_files() const;
    // Appends to a file whose path ends with this fail (a disk that fills up as that file grows),
    // when not empty.
    std::string refuse_appends_ending;
    // FlushFileBuffers: the paths flushed, in order; whether it fails; and, when set, what runs
    // as each flush begins (a slow disk: a test holds the thread there).
    std::vector<std::string> flushed;
    bool fail_flush = false;
    std::function<void(const std::string& path)> during_flush;
    // MoveFileExW: each call (from, to), in order. A file kept here is moved onto the real disk at
    // `to`, so that the module's next read finds it there; `refuse_replace_ending` makes a
    // replacement of a path ending with it fail (the file is read-only or held by a program).
    std::vector<std::pair<std::string, std::string>> replaced;
    std::string refuse_replace_ending;
    // MoveFileExW without MOVEFILE_REPLACE_EXISTING (place_file): how often. Each is recorded in
    // `replaced` too; it fails where a file is at `to` already.
    int placed = 0;
    // DeleteFileW: the paths deleted; a file kept here is forgotten, a real one removed.
    std::vector<std::string> deleted;

    // TokenVirtualizationEnabled: whether the game runs virtualized (Wine never does); the
    // environment's variables by name (UTF-8 both), for the folders Windows protects and the
    // player's local application data.
    bool virtualized = false;
    std::map<std::string, std::string> environment;

    // GetTickCount: tests move it (and may let it wrap).
    std::uint32_t milliseconds = 0;
};

state& current();
// Back to the defaults; pages guarded as code become writable again first.
void reset();

// Makes the whole pages of [from, to) read+execute and code pages (see state::code_pages), until
// reset() or unguard_code_pages(). The range must be mapped; tests lay their code there first.
void guard_code_pages(std::uintptr_t from, std::uintptr_t to);
// Makes every guarded page writable again, and forgets them.
void unguard_code_pages();

// Tests name files in UTF-8, as the native file system does; the module is told and tells paths
// in UTF-16, as Windows spells them. These convert between the two.
std::u16string utf16(const std::string& utf8_text);
std::string utf8(const std::u16string& utf16_text);

} // namespace os::stand_in
