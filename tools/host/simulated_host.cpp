#include "simulated_host.h"

#include <windows.h>

#include <psapi.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

// The host's address range, owned by the program through the link options that place this
// section at 0x401000.
__attribute__((section(".host"), used)) unsigned char host_section[0x8D0000 - 0x401000] = {1};

namespace sim {

namespace {

void* at(std::uint32_t host_address) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(host_address));
}

void put(std::uint32_t host_address, const std::vector<std::uint8_t>& bytes) {
    std::memcpy(at(host_address), bytes.data(), bytes.size());
}

template <typename T> void put_value(std::uint32_t host_address, const T& value) {
    std::memcpy(at(host_address), &value, sizeof value);
}

std::vector<std::uint8_t> rel32(std::uint8_t opcode, std::uint32_t host_address,
                                std::uint32_t target) {
    const std::uint32_t rel = target - (host_address + 5);
    return {opcode, static_cast<std::uint8_t>(rel), static_cast<std::uint8_t>(rel >> 8),
            static_cast<std::uint8_t>(rel >> 16), static_cast<std::uint8_t>(rel >> 24)};
}

template <typename F> std::uint32_t address_of(F function) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
}

std::vector<std::uint8_t> word_bytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Host-like caller of the aim camera, cdecl (object, target, f1, f2, f3):
//   push esi; mov esi, esp; push [esi+18h]; push [esi+14h]; push [esi+10h]; push [esi+0Ch];
//   mov ecx, [esi+8]; CALL (the aim call site)
const std::vector<std::uint8_t> aim_caller_head = {
    0x56, 0x89, 0xE6, 0xFF, 0x76, 0x18, 0xFF, 0x76, 0x14,
    0xFF, 0x76, 0x10, 0xFF, 0x76, 0x0C, 0x8B, 0x4E, 0x08,
};
// Host-like caller of the per-frame function, cdecl, no arguments:
//   push esi; mov esi, esp; CALL (the per-frame call site)
const std::vector<std::uint8_t> frame_caller_head = {0x56, 0x89, 0xE6};
// Both callers end alike: the callee must have left ESP where it was (and kept ESI):
//   cmp esp, esi; je +7; mov esp, esi; mov eax, stack_imbalance; pop esi; ret
const std::vector<std::uint8_t> caller_tail =
    joined({{0x39, 0xF4, 0x74, 0x07, 0x89, 0xF4, 0xB8}, word_bytes(stack_imbalance), {0x5E, 0xC3}});

const std::uint32_t aim_caller = address::aim_call_site - 18;
const std::uint32_t frame_caller = address::frame_call_site - 3;

// Player record layout: the fields the module reads, and the host's own placement fields.
constexpr std::size_t player_size = 0x5A0 + 256 * 28 + 16;
constexpr std::uint32_t player_position = 0x30; // three floats
constexpr std::uint32_t player_heading = 0x3C;  // radians about z
constexpr std::uint32_t player_status_flags = 0x46C;
constexpr std::uint32_t player_weapon_slots = 0x5A0;
constexpr std::uint32_t player_slot_stride = 28;
constexpr std::uint32_t player_active_slot = 0x718;

// The object the host makes its aim camera call on.
struct camera_object {
    std::uint32_t words[16];
} host_camera;

} // namespace

simulated_host* simulated_host::current = nullptr;

struct simulated_host::hooks {
    static void* __cdecl find_player(std::int32_t which) {
        simulated_host* host = current;
        if (!host || !host->player_present_ || which != -1) return nullptr;
        return host->player_.data();
    }

    static void* __thiscall aim_camera(void* object, float* target, std::uint32_t f1,
                                       std::uint32_t f2, std::uint32_t f3) {
        if (current->during_camera) current->during_camera();
        aim_outcome& seen = current->current_aim_;
        ++seen.camera_calls;
        seen.camera.object = object;
        std::memcpy(seen.camera.target.data(), target, sizeof seen.camera.target);
        seen.camera.words = {f1, f2, f3};
        return at(camera_result);
    }

    static void* __thiscall transform_offset(void* player, float* result, const float* offset) {
        float position[3];
        float heading;
        const auto* record = static_cast<const std::uint8_t*>(player);
        std::memcpy(position, record + player_position, sizeof position);
        std::memcpy(&heading, record + player_heading, sizeof heading);
        const float c = std::cos(heading);
        const float s = std::sin(heading);
        result[0] = position[0] + (c * offset[0] - s * offset[1]);
        result[1] = position[1] + (s * offset[0] + c * offset[1]);
        result[2] = position[2] + offset[2];

        aim_outcome& seen = current->current_aim_;
        ++seen.transform_calls;
        seen.transform_offset = {offset[0], offset[1], offset[2]};
        seen.transform_result = {result[0], result[1], result[2]};
        return result;
    }

    static void* __thiscall vector_set(float* vector, const float* values) {
        std::memcpy(vector, values, 3 * sizeof(float));
        if (current) ++current->vector_set_calls_;
        return vector;
    }

    static void* __cdecl frame_function() {
        void* const result = at(frame_result_base + ++current->frames_);
        if (current->during_frame) current->during_frame();
        return result;
    }
};

const char* build_name(host_build build) {
    switch (build) {
    case host_build::b1001:
        return "1001";
    case host_build::b1002:
        return "1002";
    case host_build::b1011:
        return "1011";
    case host_build::unknown:
        return "unknown";
    case host_build::other_code:
        return "other_code";
    }
    return "?";
}

float simulated_host::default_value(std::uint32_t address) {
    switch (address) {
    case 0x8CC4B4:
        return 1.5f;
    case 0x8CC4B8:
        return 2.5f;
    case address::aim_code_constant:
        return 0.75f;
    case 0x8CC4B0:
        return 3.5f;
    case 0x8CC4AC:
        return 4.5f;
    case 0x8CC4A8:
        return 5.5f;
    case 0x8CC4A0:
        return 6.5f;
    }
    return 0.0f;
}

float simulated_host::default_row_value(int row, int column) {
    return -static_cast<float>(row * 10 + column + 1);
}

simulated_host::simulated_host(host_build build) : build_(build), player_(player_size, 0) {
    if (current) throw std::runtime_error("only one simulated host at a time");
    lay_image();
    current = this;
    set_placement({100.0f, 200.0f, 300.0f}, 0.0f);
    set_weapon(0, 0);
}

simulated_host::~simulated_host() {
    current = nullptr;
}

void simulated_host::lay_image() {
    if (reinterpret_cast<std::uintptr_t>(host_section) != address::image_begin)
        throw std::runtime_error("the program does not own the host's address range "
                                 "(link it with the host image options)");
    DWORD old = 0;
    if (!VirtualProtect(host_section, sizeof host_section, PAGE_EXECUTE_READWRITE, &old))
        throw std::runtime_error("cannot make the host image writable");

    // Code is int3 padding until laid; data starts out zero.
    std::memset(at(address::image_begin), 0xCC, address::data_begin - address::image_begin);
    std::memset(at(address::data_begin), 0, address::image_end - address::data_begin);

    // The bytes the build probes read.
    const std::vector<std::uint8_t> other_prologue = {0x55, 0x8B, 0xEC, 0x83};
    switch (build_) {
    case host_build::b1001:
        put(address::build_probe, {0x55, 0x8B, 0xEC, 0x53});
        break;
    case host_build::b1002:
        put(address::build_probe, {0xE9, 0x7B, 0x19, 0x16});
        break;
    case host_build::b1011:
        put(address::build_probe, other_prologue);
        put(address::build_probe_1011, {0xBF, 0x94, 0x00, 0x00});
        break;
    case host_build::unknown:
    case host_build::other_code:
        put(address::build_probe, other_prologue);
        break;
    }

    // The two host-like callers around the call sites.
    put(aim_caller, aim_caller_head);
    put(address::aim_call_site,
        build_ == host_build::other_code ? other_code_aim_site_bytes() : original_aim_site_bytes());
    put(address::aim_call_site + 5, caller_tail);
    put(frame_caller, frame_caller_head);
    put(address::frame_call_site, original_frame_site_bytes());
    put(address::frame_call_site + 5, caller_tail);

    // The host functions, reached through jumps at their host addresses.
    put(address::aim_camera, rel32(0xE9, address::aim_camera, address_of(&hooks::aim_camera)));
    put(address::find_player, rel32(0xE9, address::find_player, address_of(&hooks::find_player)));
    put(address::transform_offset,
        rel32(0xE9, address::transform_offset, address_of(&hooks::transform_offset)));
    put(address::vector_set, rel32(0xE9, address::vector_set, address_of(&hooks::vector_set)));
    put(address::frame_function,
        rel32(0xE9, address::frame_function, address_of(&hooks::frame_function)));

    // The host's own values.
    for (const value_slot& slot : value_slots)
        put_value(slot.address, default_value(slot.address));
    for (int row = 0; row < aim_row_count; ++row)
        for (int column = 0; column < aim_row_length; ++column)
            put_value(address::aim_rows + 4 * (row * aim_row_length + column),
                      default_row_value(row, column));

    // Code pages read+execute, data read+write, as the host's sections are.
    if (!VirtualProtect(at(address::image_begin), address::data_begin - address::image_begin,
                        PAGE_EXECUTE_READ, &old) ||
        !VirtualProtect(at(address::data_begin), address::image_end - address::data_begin,
                        PAGE_READWRITE, &old))
        throw std::runtime_error("cannot set the host image's page protections");
    FlushInstructionCache(GetCurrentProcess(), at(address::image_begin),
                          address::image_end - address::image_begin);
}

std::vector<std::uint8_t> simulated_host::original_aim_site_bytes() {
    return rel32(0xE8, address::aim_call_site, address::aim_camera);
}

std::vector<std::uint8_t> simulated_host::other_code_aim_site_bytes() {
    return joined({{0xB8}, word_bytes(camera_result)});
}

std::vector<std::uint8_t> simulated_host::original_frame_site_bytes() {
    return rel32(0xE8, address::frame_call_site, address::frame_function);
}

void simulated_host::set_weapon(std::uint8_t slot, std::int32_t weapon_type) {
    player_[player_active_slot] = slot;
    std::memcpy(&player_[player_weapon_slots + slot * player_slot_stride], &weapon_type, 4);
}

void simulated_host::set_status_flags(std::uint32_t flags) {
    std::memcpy(&player_[player_status_flags], &flags, 4);
}

void simulated_host::set_placement(const std::array<float, 3>& position, float heading) {
    std::memcpy(&player_[player_position], position.data(), sizeof(float) * 3);
    std::memcpy(&player_[player_heading], &heading, sizeof heading);
}

aim_outcome simulated_host::aim(const std::array<float, 3>& target) {
    using caller_fn =
        std::uint32_t(__cdecl*)(const void*, float*, std::uint32_t, std::uint32_t, std::uint32_t);
    current_aim_ = aim_outcome{};
    std::array<float, 3> host_target = target;
    const volatile caller_fn caller = reinterpret_cast<caller_fn>(at(aim_caller));
    current_aim_.result = caller(&host_camera, host_target.data(), host_aim_words[0],
                                 host_aim_words[1], host_aim_words[2]);
    return current_aim_;
}

const void* simulated_host::camera() {
    return &host_camera;
}

std::uint32_t simulated_host::run_frame() {
    using caller_fn = std::uint32_t(__cdecl*)();
    const volatile caller_fn caller = reinterpret_cast<caller_fn>(at(frame_caller));
    return caller();
}

float simulated_host::read_float(std::uint32_t address) const {
    float value;
    std::memcpy(&value, at(address), sizeof value);
    return value;
}

std::vector<std::uint8_t> simulated_host::read_bytes(std::uint32_t address,
                                                     std::size_t size) const {
    std::vector<std::uint8_t> bytes(size);
    std::memcpy(bytes.data(), at(address), size);
    return bytes;
}

std::vector<std::uint8_t> simulated_host::bytes_at(std::uint32_t address) const {
    return read_bytes(address, 5);
}

std::uint32_t simulated_host::branch_target(std::uint32_t address) const {
    std::int32_t rel;
    std::memcpy(&rel, at(address + 1), 4);
    return address + 5 + static_cast<std::uint32_t>(rel);
}

std::uint32_t simulated_host::call_destination(std::uint32_t site) const {
    const std::uint32_t called = branch_target(site);
    // corvane's resident code begins by asking its cell whether it leads home:
    //   cmp dword [cell], 0; jne +6; jmp [home]
    std::uint8_t code[17];
    std::memcpy(code, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(called)),
                sizeof code);
    if (code[0] != 0x83 || code[1] != 0x3D || code[7] != 0x75 || code[9] != 0xFF ||
        code[10] != 0x25)
        return called;
    std::uint32_t cell, home, share, destination;
    std::memcpy(&cell, code + 2, sizeof cell);
    std::memcpy(&home, code + 11, sizeof home);
    std::memcpy(&share, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(cell)),
                sizeof share);
    if (share != 0) return share;
    std::memcpy(&destination, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(home)),
                sizeof destination);
    return destination;
}

void simulated_host::lay_code(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    DWORD old = 0;
    if (!VirtualProtect(at(address), bytes.size(), PAGE_EXECUTE_READWRITE, &old))
        throw std::runtime_error("cannot make the host's code writable");
    put(address, bytes);
    VirtualProtect(at(address), bytes.size(), old, &old);
    FlushInstructionCache(GetCurrentProcess(), at(address), bytes.size());
}

std::vector<std::uint8_t> simulated_host::branch_bytes(std::uint8_t opcode, std::uint32_t address,
                                                       std::uint32_t target) {
    return rel32(opcode, address, target);
}

std::uint32_t simulated_host::page_protection(std::uint32_t address) const {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(at(address), &info, sizeof info) == 0) return 0;
    return info.Protect;
}

// --- the module ----------------------------------------------------------------------------

namespace {

std::vector<key_poll> polls;
std::function<void()> inside_key_poll;

SHORT WINAPI counted_get_key_state(int key) {
    polls.push_back({key, simulated_host::current ? simulated_host::current->frames() : 0});
    if (inside_key_poll) inside_key_poll();
    return GetKeyState(key);
}

std::function<void()> inside_file_flush;

BOOL WINAPI slowed_flush_file_buffers(HANDLE file) {
    if (inside_file_flush) inside_file_flush();
    return FlushFileBuffers(file);
}

int folder_counter = 0;

} // namespace

std::function<void()>& during_file_flush() {
    return inside_file_flush;
}

std::vector<key_poll>& key_polls() {
    return polls;
}

std::function<void()>& during_key_poll() {
    return inside_key_poll;
}

plugin_module::plugin_module(const std::string& dll_path, const std::wstring& name_tail) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return;
    // A fresh folder: one left behind by a process that died (Wine reuses process ids) is
    // skipped, never reused.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        wide_folder_ = std::wstring(temp) + L"corvane_host_" +
                       std::to_wstring(GetCurrentProcessId()) + L"_" +
                       std::to_wstring(++folder_counter) +
                       (name_tail.empty() ? L"" : L" " + name_tail) + L"\\";
        if (CreateDirectoryW(wide_folder_.c_str(), nullptr)) break;
        const DWORD error = GetLastError();
        wide_folder_.clear();
        if (error != ERROR_ALREADY_EXISTS) return;
    }
    if (wide_folder_.empty()) return;
    folder_ = utf8(wide_folder_);
    ready_ = CopyFileW(utf16(windows_path(dll_path)).c_str(), path_of(L"corvane.dll").c_str(),
                       FALSE) != 0;
}

plugin_module::~plugin_module() {
    unload();
    if (wide_folder_.empty()) return;
    DeleteFileW(path_of(L"corvane.dll").c_str());
    DeleteFileW(path_of(L"aimingSets.dat").c_str());
    DeleteFileW(path_of(L"aimingSets.dat.bak").c_str());
    DeleteFileW(path_of(L"aimingSets.dat.new").c_str());
    const std::wstring log = path_of(L"corvane.log");
    if (!DeleteFileW(log.c_str())) RemoveDirectoryW(log.c_str()); // a test's folder
    RemoveDirectoryW(wide_folder_.c_str());
}

namespace {

bool read_file(const std::wstring& path, std::string& text) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return false;
    text.clear();
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

} // namespace

std::vector<std::string> plugin_module::log_lines() const {
    std::string text;
    std::vector<std::string> lines;
    if (!read_file(path_of(L"corvane.log"), text)) return lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // "[     0.016 s] " comes first.
        const std::size_t time_end = line.find(" s] ");
        if (line.rfind("[", 0) == 0 && time_end != std::string::npos) line.erase(0, time_end + 4);
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

bool plugin_module::write_settings(const std::string& bytes) const {
    std::FILE* file = _wfopen(path_of(L"aimingSets.dat").c_str(), L"wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string plugin_module::read_file_named(const wchar_t* name) const {
    std::string bytes;
    if (!read_file(path_of(name), bytes)) bytes.clear();
    return bytes;
}

bool plugin_module::remove_settings() const {
    return DeleteFileW(path_of(L"aimingSets.dat").c_str()) != 0;
}

bool plugin_module::load() {
    if (handle_ || !ready_) return false;
    HMODULE module = LoadLibraryW(path_of(L"corvane.dll").c_str());
    if (!module) return false;
    handle_ = module;
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    size_ = nt->OptionalHeader.SizeOfImage;
    return true;
}

bool plugin_module::unload() {
    if (!handle_) return false;
    const bool freed = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
    handle_ = nullptr;
    size_ = 0;
    return freed && GetModuleHandleW(path_of(L"corvane.dll").c_str()) == nullptr;
}

std::uint32_t plugin_module::base() const {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle_));
}

bool plugin_module::contains(std::uint32_t address) const {
    return handle_ && address >= base() && address - base() < size_;
}

bool plugin_module::count_key_polls() const {
    return route_import("user32.dll", "GetKeyState", address_of(&counted_get_key_state));
}

bool plugin_module::route_file_flushes() const {
    return route_import("kernel32.dll", "FlushFileBuffers", address_of(&slowed_flush_file_buffers));
}

bool plugin_module::route_import(const char* dll, const char* name,
                                 std::uint32_t replacement) const {
    if (!handle_) return false;
    auto* base = static_cast<std::uint8_t*>(handle_);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    bool patched = false;
    for (auto* descriptor =
             reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
        if (descriptor->OriginalFirstThunk == 0) continue; // names gone once bound
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) continue;
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) != 0) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, 4, PAGE_READWRITE, &old)) return false;
            slots->u1.Function = replacement;
            VirtualProtect(&slots->u1.Function, 4, old, &old);
            patched = true;
        }
    }
    return patched;
}

// --- the rest of the process ---------------------------------------------------------------

void set_keys(bool z_down, bool x_down) {
    set_key(key_z, z_down);
    set_key(key_x, x_down);
}

void set_key(int key, bool down) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[key & 0xFF] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

std::size_t private_bytes() {
    // Windows counts a process's private bytes as the memory committed to it alone; so does this,
    // region by region, as the process sees its address space. Wine's own figure
    // (PagefileUsage) is the anonymous memory of the Unix process instead, which under an i386
    // emulator holds the emulator's translated code too, and grows with every load of the DLL.
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* const next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

std::string windows_path(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string converted = "Z:" + path;
    for (char& c : converted)
        if (c == '/') c = '\\';
    return converted;
}

bool read_text_file(const std::string& path, std::string& text) {
    return read_file(utf16(windows_path(path)), text);
}

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring utf16(const std::string& utf8_text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(),
                                         static_cast<int>(utf8_text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(), static_cast<int>(utf8_text.size()),
                        out.data(), size);
    return out;
}

} // namespace sim
