// The module's one door to the operating system.
//
// Every OS service the module uses goes through these functions. The Windows build links
// os_win32.cpp, which calls the real API; the native test build links os_stand_in.cpp, which
// records each call and answers as a test tells it to (see os_stand_in.h). Nothing else in the
// module includes <windows.h>.
#pragma once

#include <cstdint>
#include <cstdio>

// Linux GCC has no __thiscall keyword; the attribute gives the same calling form (object in
// ECX, callee removes its stack arguments) on free functions and function pointers.
#if !defined(_WIN32) && !defined(__thiscall)
#define __thiscall __attribute__((thiscall))
#endif
#if !defined(_WIN32) && !defined(__cdecl)
#define __cdecl __attribute__((cdecl))
#endif
// The printf dialect the C library's formatting follows, for format checks: MinGW names its own
// conforming one (the one the module uses) here; elsewhere it is the plain C library's.
#if !defined(_WIN32) && !defined(__MINGW_PRINTF_FORMAT)
#define __MINGW_PRINTF_FORMAT printf
#endif

namespace os {

inline constexpr std::uint32_t page_execute_readwrite = 0x40;
inline constexpr std::uint32_t page_execute_read = 0x20;

// VirtualProtect: switches the protection of [address, address + size) and reports the old one.
bool virtual_protect(void* address, std::uint32_t size, std::uint32_t new_protection,
                     std::uint32_t* old_protection) noexcept;

// VirtualQuery: whether every byte of [address, address + size) is committed and readable.
bool is_readable(const void* address, std::uint32_t size) noexcept;

// GetModuleHandleA(nullptr): the base of the process's executable.
void* process_module_handle() noexcept;

// GetModuleHandleExA(FROM_ADDRESS | UNCHANGED_REFCOUNT, address): the module holding `address`.
bool module_handle_from_address(const void* address, void** module) noexcept;

// Paths are held as Windows spells them, in UTF-16, so that a folder named in any script is
// found whatever the system's ANSI code page; platform/utf16_text.h shows them as UTF-8.
// The longest path the module works with, in UTF-16 units (MAX_PATH, its terminator not counted).
inline constexpr std::uint32_t max_path = 260;

// GetModuleFileNameW: the module's full path into `buffer` of `size` units; returns the length
// written. A path that does not fit is cut to size - 1 units and `size` is returned.
std::uint32_t module_file_name(void* module, char16_t* buffer, std::uint32_t size) noexcept;

// _wfopen(path, L"rb"): the file at the UTF-16 `path` opened for reading its bytes as they are;
// null when it cannot be opened. The caller closes it with fclose.
std::FILE* open_for_reading(const char16_t* path) noexcept;

// GetKeyState: the 16-bit key state; negative while the key is down.
std::int16_t key_state(int virtual_key) noexcept;

// MessageBoxA(GetActiveWindow(), text, caption, MB_ICONERROR).
void show_error_box(const char* text, const char* caption) noexcept;

// VirtualAlloc(MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE): `size` bytes of memory, zeroed, owned by
// the process rather than by any module, for code the process will run once it is sealed; null
// when Windows gives none.
void* allocate_code_memory(std::uint32_t size) noexcept;

// VirtualProtect(PAGE_EXECUTE_READ) of the pages that hold the first `code_size` bytes of what
// allocate_code_memory gave: from now on they run and are never written again; the pages after
// them stay read-write and do not run. False where Windows refuses (a game may forbid new code).
bool seal_code_memory(void* memory, std::uint32_t code_size) noexcept;

// VirtualFree(MEM_RELEASE) of what allocate_code_memory gave.
void free_code_memory(void* memory) noexcept;

// VirtualQuery, block by block upward from `after` (from the bottom when null): the start of the
// next memory of the kind allocate_code_memory gives, whichever module asked for it
// (starts_code_memory in platform/windows_rules.h); null past the last.
void* next_code_memory(const void* after) noexcept;

// FlushInstructionCache(GetCurrentProcess(), address, size): after code is written, so that the
// processor runs the new bytes.
void flush_instruction_cache(const void* address, std::uint32_t size) noexcept;

// A file the module writes (its log, the settings file it saves), open for writing. What lies
// behind it is the OS's business.
struct file;

// CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS): a new, empty file at `path`
// (an existing one is emptied), readable by other programs while it is open. Null when it
// cannot be created: a read-only folder, a folder of that name, the file held elsewhere.
file* create_file(const char16_t* path) noexcept;

// WriteFile: adds `size` bytes at the end. False when not all of them were written.
bool append_to_file(file* f, const char* bytes, std::uint32_t size) noexcept;

// CloseHandle.
void close_file(file* f) noexcept;

// FlushFileBuffers: what was appended is on the disk when this returns. False when Windows could
// not put it there.
bool flush_file(file* f) noexcept;

// MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH): the file at `from`
// takes the place of the one at `to` in one step, so a program reading `to` finds either the old
// file whole or the new one whole (Windows XP and later, on one volume). False, both files as they
// were, when Windows refuses: `to` is read-only, or held open by a program that does not let it go.
bool replace_file(const char16_t* from, const char16_t* to) noexcept;

// MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH): as replace_file, but only where nothing is at
// `to`: a file there is never written over (false, both files as they were).
bool place_file(const char16_t* from, const char16_t* to) noexcept;

// GetFileAttributesW: whether anything (a file, a folder) is at `path`.
bool file_exists(const char16_t* path) noexcept;

// GetFileAttributesW: whether the file at `path` is marked read-only.
bool is_read_only(const char16_t* path) noexcept;

// DeleteFileW. False when there was nothing to delete or Windows refused.
bool delete_file(const char16_t* path) noexcept;

// GetTokenInformation(TokenVirtualizationEnabled) of the process's own token: whether Windows
// virtualizes the game's file writes (an old game without a manifest run without administrator
// rights, UAC on): its writes into a folder Windows protects go to the player's VirtualStore
// folder, and from then on this process reads the copy there. advapi32 is found at run time
// (every game has it loaded); false where it or the call is missing (Windows XP: no such thing)
// or Windows says no. It may enter the loader: ask at start-up, never in a frame.
bool process_virtualized() noexcept;

// GetEnvironmentVariableW: the variable `name` into `buffer` of `size` units, terminated; its
// length, or 0 where it is not set or does not fit.
std::uint32_t environment_variable(const char16_t* name, char16_t* buffer,
                                   std::uint32_t size) noexcept;

// A game controller's buttons and triggers, as XInput reports them.
struct gamepad_state {
    std::uint16_t buttons = 0;     // XINPUT_GAMEPAD_* bits
    std::uint8_t left_trigger = 0; // 0 (released) to 255 (pulled all the way)
    std::uint8_t right_trigger = 0;
};
inline constexpr int gamepad_slots = 4; // XInput's controller slots, 0 to 3

// LoadLibraryExW(LOAD_WITH_ALTERED_SEARCH_PATH) of xinput1_4.dll, then xinput1_3.dll, then
// xinput9_1_0.dll, each by its full path in the system folder (so its own dependencies come from
// there too), and
// GetProcAddress(XInputGetState) in the first that loads. True once one gives it; the library
// stays loaded, and later calls answer at once with the first call's answer.
bool load_gamepad_library() noexcept;

// XInputGetState(slot): false when no controller is connected in `slot` (or no library was
// loaded). Asking an empty slot can take long on some systems.
bool read_gamepad(int slot, gamepad_state* state) noexcept;

// Sleep: lets the calling thread wait `milliseconds`.
void pause_milliseconds(std::uint32_t milliseconds) noexcept;

// GetTickCount: milliseconds since Windows started, wrapping to 0 after 49.7 days; take the
// difference of two readings as unsigned and it stays right across the wrap. (GetTickCount64
// would not wrap, but Windows XP, on which the game runs, does not have it.)
std::uint32_t monotonic_milliseconds() noexcept;

} // namespace os
