// The real Windows services behind os.h.
#include "platform/os.h"

#include "platform/windows_rules.h"

#include <windows.h>
// after windows.h, which it needs
#include <xinput.h>

#include <iterator>

namespace os {

bool virtual_protect(void* address, std::uint32_t size, std::uint32_t new_protection,
                     std::uint32_t* old_protection) noexcept {
    DWORD old = 0;
    const BOOL ok = VirtualProtect(address, size, new_protection, &old);
    *old_protection = old;
    return ok != 0;
}

bool is_readable(const void* address, std::uint32_t size) noexcept {
    const auto* at = static_cast<const char*>(address);
    const auto* end = at + size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(at, &info, sizeof info) == 0) return false;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (info.State != MEM_COMMIT || (info.Protect & readable) == 0 ||
            (info.Protect & PAGE_GUARD) != 0)
            return false;
        at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

void* process_module_handle() noexcept {
    return GetModuleHandleA(nullptr);
}

bool module_handle_from_address(const void* address, void** module) noexcept {
    HMODULE handle = nullptr;
    const BOOL ok = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                       static_cast<LPCSTR>(address), &handle);
    *module = handle;
    return ok != 0;
}

std::uint32_t module_file_name(void* module, char16_t* buffer, std::uint32_t size) noexcept {
    return GetModuleFileNameW(static_cast<HMODULE>(module), reinterpret_cast<wchar_t*>(buffer),
                              size);
}

std::FILE* open_for_reading(const char16_t* path) noexcept {
    return _wfopen(reinterpret_cast<const wchar_t*>(path), L"rb");
}

std::int16_t key_state(int virtual_key) noexcept {
    return GetKeyState(virtual_key);
}

namespace {

using xinput_get_state = DWORD(WINAPI*)(DWORD, XINPUT_STATE*);

// Tried in this order: the newest first; the last ships with every Windows since Vista.
constexpr const wchar_t* gamepad_libraries[] = {L"xinput1_4.dll", L"xinput1_3.dll",
                                                L"xinput9_1_0.dll"};

xinput_get_state gamepad_get_state = nullptr;
bool gamepad_load_tried = false;

} // namespace

bool load_gamepad_library() noexcept {
    if (gamepad_load_tried) return gamepad_get_state != nullptr;
    gamepad_load_tried = true;
    // From the system folder by its full path, and its own dependencies from there too: a file
    // of the same name in the game's folder (or anywhere else Windows would look first) is never
    // loaded into the game.
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    for (const wchar_t* name : gamepad_libraries) {
        char16_t path[MAX_PATH + 20];
        if (!library_in_folder(reinterpret_cast<const char16_t*>(folder), length,
                               reinterpret_cast<const char16_t*>(name), path, std::size(path)))
            continue;
        const HMODULE library = LoadLibraryExW(reinterpret_cast<const wchar_t*>(path), nullptr,
                                               LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!library) continue;
        // Through void (*)(), the one function type any other may be cast from without a warning.
        gamepad_get_state = reinterpret_cast<xinput_get_state>(
            reinterpret_cast<void (*)()>(GetProcAddress(library, "XInputGetState")));
        if (gamepad_get_state) return true;
        FreeLibrary(library);
    }
    return false;
}

bool read_gamepad(int slot, gamepad_state* state) noexcept {
    if (!gamepad_get_state) return false;
    XINPUT_STATE read{};
    if (gamepad_get_state(static_cast<DWORD>(slot), &read) != ERROR_SUCCESS) return false;
    state->buttons = read.Gamepad.wButtons;
    state->left_trigger = read.Gamepad.bLeftTrigger;
    state->right_trigger = read.Gamepad.bRightTrigger;
    return true;
}

void show_error_box(const char* text, const char* caption) noexcept {
    MessageBoxA(GetActiveWindow(), text, caption, MB_ICONERROR);
}

void flush_instruction_cache(const void* address, std::uint32_t size) noexcept {
    FlushInstructionCache(GetCurrentProcess(), address, size);
}

void* allocate_code_memory(std::uint32_t size) noexcept {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool seal_code_memory(void* memory, std::uint32_t code_size) noexcept {
    DWORD old_protection;
    return VirtualProtect(memory, code_size, PAGE_EXECUTE_READ, &old_protection) != 0;
}

void free_code_memory(void* memory) noexcept {
    VirtualFree(memory, 0, MEM_RELEASE);
}

void* next_code_memory(const void* after) noexcept {
    MEMORY_BASIC_INFORMATION info;
    const char* at = static_cast<const char*>(after);
    if (at) {
        if (VirtualQuery(at, &info, sizeof info) == 0) return nullptr;
        at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    while (VirtualQuery(at, &info, sizeof info) != 0) {
        if (starts_code_memory(
                {info.State, info.Type, info.Protect, info.BaseAddress, info.AllocationBase}))
            return info.BaseAddress;
        const char* const next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= at) return nullptr; // the top of the address space
        at = next;
    }
    return nullptr;
}

file* create_file(const char16_t* path) noexcept {
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<file*>(handle);
}

bool append_to_file(file* f, const char* bytes, std::uint32_t size) noexcept {
    DWORD written = 0;
    const BOOL ok = WriteFile(reinterpret_cast<HANDLE>(f), bytes, size, &written, nullptr);
    return ok != 0 && written == size;
}

void close_file(file* f) noexcept {
    CloseHandle(reinterpret_cast<HANDLE>(f));
}

bool flush_file(file* f) noexcept {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(f)) != 0;
}

bool replace_file(const char16_t* from, const char16_t* to) noexcept {
    return MoveFileExW(reinterpret_cast<const wchar_t*>(from), reinterpret_cast<const wchar_t*>(to),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool process_virtualized() noexcept {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    if (!advapi) advapi = LoadLibraryW(L"advapi32.dll");
    if (!advapi) return false;
    using open_token_fn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE*);
    using token_information_fn = BOOL(WINAPI*)(HANDLE, int, void*, DWORD, DWORD*);
    const auto open_token = reinterpret_cast<open_token_fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(advapi, "OpenProcessToken")));
    const auto token_information = reinterpret_cast<token_information_fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(advapi, "GetTokenInformation")));
    if (!open_token || !token_information) return false;
    HANDLE token = nullptr;
    if (!open_token(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    constexpr int token_virtualization_enabled = 24; // TOKEN_INFORMATION_CLASS, Vista and later
    DWORD enabled = 0, size = 0;
    const BOOL asked =
        token_information(token, token_virtualization_enabled, &enabled, sizeof enabled, &size);
    CloseHandle(token);
    return asked && enabled != 0;
}

std::uint32_t environment_variable(const char16_t* name, char16_t* buffer,
                                   std::uint32_t size) noexcept {
    const DWORD length = GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name),
                                                 reinterpret_cast<wchar_t*>(buffer), size);
    return length < size ? length : 0;
}

bool place_file(const char16_t* from, const char16_t* to) noexcept {
    return MoveFileExW(reinterpret_cast<const wchar_t*>(from), reinterpret_cast<const wchar_t*>(to),
                       MOVEFILE_WRITE_THROUGH) != 0;
}

bool file_exists(const char16_t* path) noexcept {
    return GetFileAttributesW(reinterpret_cast<const wchar_t*>(path)) != INVALID_FILE_ATTRIBUTES;
}

bool is_read_only(const char16_t* path) noexcept {
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool delete_file(const char16_t* path) noexcept {
    return DeleteFileW(reinterpret_cast<const wchar_t*>(path)) != 0;
}

void pause_milliseconds(std::uint32_t milliseconds) noexcept {
    Sleep(milliseconds);
}

std::uint32_t monotonic_milliseconds() noexcept {
    return GetTickCount();
}

} // namespace os
