// The recording stand-in behind os.h for native tests. See os_stand_in.h.
#include "platform/os_stand_in.h"

#include "platform/os.h"
#include "platform/utf16_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {
namespace stand_in {

state& current() {
    static state s;
    return s;
}

namespace {

constexpr std::uintptr_t page_size = 0x1000;

// The protection flags of a Windows PAGE_ value.
int prot_of(std::uint32_t protection) {
    switch (protection) {
    case 0x01: // PAGE_NOACCESS
        return PROT_NONE;
    case 0x02: // PAGE_READONLY
        return PROT_READ;
    case 0x04: // PAGE_READWRITE
    case 0x08: // PAGE_WRITECOPY
        return PROT_READ | PROT_WRITE;
    case 0x10: // PAGE_EXECUTE
        return PROT_EXEC;
    case 0x20: // PAGE_EXECUTE_READ
        return PROT_READ | PROT_EXEC;
    default: // PAGE_EXECUTE_READWRITE, PAGE_EXECUTE_WRITECOPY
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    }
}

// Gives the code pages among the whole pages that hold [address, address + size) `prot`.
void protect_code_pages(std::uintptr_t address, std::uint32_t size, int prot) {
    const std::uintptr_t from = address & ~(page_size - 1);
    const std::uintptr_t to = (address + size + page_size - 1) & ~(page_size - 1);
    for (const auto& [begin, end] : current().code_pages) {
        const std::uintptr_t low = std::max(from, begin);
        const std::uintptr_t high = std::min(to, end);
        if (low < high) mprotect(reinterpret_cast<void*>(low), high - low, prot);
    }
}

} // namespace

void reset() {
    unguard_code_pages();
    current() = state{}; // code memory given out stays mapped: see state::code_memory
}

void unguard_code_pages() {
    for (const auto& [begin, end] : current().code_pages)
        mprotect(reinterpret_cast<void*>(begin), end - begin, PROT_READ | PROT_WRITE | PROT_EXEC);
    current().code_pages.clear();
}

void guard_code_pages(std::uintptr_t from, std::uintptr_t to) {
    const std::uintptr_t begin = from & ~(page_size - 1);
    const std::uintptr_t end = (to + page_size - 1) & ~(page_size - 1);
    current().code_pages.emplace_back(begin, end);
    mprotect(reinterpret_cast<void*>(begin), end - begin, PROT_READ | PROT_EXEC);
}

std::u16string utf16(const std::string& utf8_text) {
    return std::filesystem::path(utf8_text).u16string();
}

std::string utf8(const std::u16string& utf16_text) {
    std::string text(3 * utf16_text.size() + 1, '\0'); // at most three bytes a unit
    text.resize(utf8_from_utf16(utf16_text.c_str(), text.data(), text.size()));
    return text;
}

int state::open_files() const {
    return static_cast<int>(std::count_if(handles.begin(), handles.end(),
                                          [](const std::string& path) { return !path.empty(); }));
}

namespace {
std::string* open_file(file* f) {
    auto& s = current();
    const auto index = reinterpret_cast<std::uintptr_t>(f) - 1;
    if (index >= s.handles.size() || s.handles[index].empty()) return nullptr;
    return &s.files[s.handles[index]];
}
} // namespace

} // namespace stand_in

bool virtual_protect(void* address, std::uint32_t size, std::uint32_t new_protection,
                     std::uint32_t* old_protection) noexcept {
    auto& s = stand_in::current();
    s.protect_calls.push_back({reinterpret_cast<std::uintptr_t>(address), size, new_protection});
    const bool is_switch = new_protection == page_execute_readwrite;
    *old_protection = s.reported_old_protection;
    const bool granted = is_switch ? !s.fail_protect_switch : !s.fail_protect_restore;
    if (granted)
        stand_in::protect_code_pages(reinterpret_cast<std::uintptr_t>(address), size,
                                     stand_in::prot_of(new_protection));
    return granted;
}

bool is_readable(const void* address, std::uint32_t size) noexcept {
    const auto& s = stand_in::current();
    const auto from = reinterpret_cast<std::uintptr_t>(address);
    return from + size <= s.unreadable_from || from >= s.unreadable_to;
}

void* process_module_handle() noexcept {
    auto& s = stand_in::current();
    ++s.process_module_queries;
    return s.process_module;
}

bool module_handle_from_address(const void*, void** module) noexcept {
    auto& s = stand_in::current();
    *module = s.module_from_address_fails ? nullptr : s.plugin_module;
    return !s.module_from_address_fails;
}

std::uint32_t module_file_name(void* module, char16_t* buffer, std::uint32_t size) noexcept {
    auto& s = stand_in::current();
    s.file_name_queries.push_back(module);
    if (size == 0) return 0;
    const auto found = s.module_paths.find(module);
    const std::u16string path = found == s.module_paths.end() ? std::u16string() : found->second;
    // Like the real call: truncate to size - 1 characters, terminate, and return `size` when
    // the path did not fit.
    const std::uint32_t n = std::min<std::uint32_t>(path.size(), size - 1);
    std::copy_n(path.data(), n, buffer);
    buffer[n] = u'\0';
    return path.size() >= size ? size : n;
}

std::FILE* open_for_reading(const char16_t* path) noexcept {
    auto& s = stand_in::current();
    ++s.opens_for_reading;
    s.last_opened_for_reading = path;
    constexpr std::size_t longest = 1024; // UTF-16 units; each takes 3 bytes of UTF-8 at most
    if (s.last_opened_for_reading.size() > longest) return nullptr;
    char utf8[3 * longest + 1];
    utf8_from_utf16(path, utf8, sizeof utf8);
    return std::fopen(utf8, "rb");
}

std::int16_t key_state(int virtual_key) noexcept {
    auto& s = stand_in::current();
    s.key_queries.push_back(virtual_key);
    const bool down =
        std::find(s.keys_down.begin(), s.keys_down.end(), virtual_key) != s.keys_down.end();
    return down ? static_cast<std::int16_t>(0x8000) : 0;
}

bool load_gamepad_library() noexcept {
    auto& s = stand_in::current();
    ++s.gamepad_library_loads;
    return s.gamepad_library_present;
}

bool read_gamepad(int slot, gamepad_state* state) noexcept {
    auto& s = stand_in::current();
    ++s.pad_queries;
    s.pad_slots_asked.push_back(slot);
    if (!s.gamepad_library_present || slot != s.pad_slot) return false;
    *state = s.pad;
    return true;
}

void show_error_box(const char* text, const char* caption) noexcept {
    stand_in::current().error_boxes.push_back({text, caption});
}

void flush_instruction_cache(const void* address, std::uint32_t size) noexcept {
    auto& s = stand_in::current();
    s.flushes.push_back({reinterpret_cast<std::uintptr_t>(address), size});
    if (s.after_flush) s.after_flush(s.flushes.back());
}

void pause_milliseconds(std::uint32_t milliseconds) noexcept {
    auto& s = stand_in::current();
    s.paused_milliseconds += milliseconds;
    s.milliseconds += milliseconds; // GetTickCount moves on as Sleep's time passes
    if (s.during_pause) s.during_pause();
}

void* allocate_code_memory(std::uint32_t size) noexcept {
    auto& s = stand_in::current();
    if (s.refuse_code_memory) return nullptr;
    void* const memory =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    s.code_memory.push_back({memory, size});
    return memory;
}

bool seal_code_memory(void* memory, std::uint32_t code_size) noexcept {
    if (stand_in::current().refuse_running_code) return false;
    constexpr std::uint32_t page = 0x1000;
    return mprotect(memory, (code_size + page - 1) / page * page, PROT_READ | PROT_EXEC) == 0;
}

void free_code_memory(void* memory) noexcept {
    auto& blocks = stand_in::current().code_memory;
    const auto it = std::find_if(blocks.begin(), blocks.end(),
                                 [memory](const auto& block) { return block.first == memory; });
    if (it == blocks.end()) return; // not given out here, or given back already: a test sees it
    munmap(memory, it->second);
    blocks.erase(it);
}

void* next_code_memory(const void* after) noexcept {
    void* next = nullptr;
    for (const auto& block : stand_in::current().code_memory)
        if (block.first > after && (!next || block.first < next)) next = block.first;
    return next;
}

file* create_file(const char16_t* path) noexcept {
    auto& s = stand_in::current();
    if (s.refuse_files) return nullptr;
    const std::string name = stand_in::utf8(path);
    s.files[name].clear();
    s.handles.push_back(name);
    return reinterpret_cast<file*>(s.handles.size());
}

bool append_to_file(file* f, const char* bytes, std::uint32_t size) noexcept {
    auto& s = stand_in::current();
    ++s.appends;
    std::string* const contents = stand_in::open_file(f);
    if (!contents || contents->size() + size > s.full_at) return false;
    const std::string& path = s.handles[reinterpret_cast<std::uintptr_t>(f) - 1];
    if (!s.refuse_appends_ending.empty() && path.ends_with(s.refuse_appends_ending)) return false;
    contents->append(bytes, size);
    return true;
}

void close_file(file* f) noexcept {
    auto& s = stand_in::current();
    const auto index = reinterpret_cast<std::uintptr_t>(f) - 1;
    if (index < s.handles.size()) s.handles[index].clear();
}

bool flush_file(file* f) noexcept {
    auto& s = stand_in::current();
    const auto index = reinterpret_cast<std::uintptr_t>(f) - 1;
    if (index >= s.handles.size() || s.handles[index].empty()) return false;
    s.flushed.push_back(s.handles[index]);
    if (s.during_flush) s.during_flush(s.handles[index]);
    return !s.fail_flush;
}

bool process_virtualized() noexcept {
    return stand_in::current().virtualized;
}

std::uint32_t environment_variable(const char16_t* name, char16_t* buffer,
                                   std::uint32_t size) noexcept {
    const auto& environment = stand_in::current().environment;
    const auto found = environment.find(stand_in::utf8(name));
    if (found == environment.end()) return 0;
    const std::u16string value = stand_in::utf16(found->second);
    if (value.size() >= size) return 0;
    std::copy(value.begin(), value.end(), buffer);
    buffer[value.size()] = u'\0';
    return static_cast<std::uint32_t>(value.size());
}

bool file_exists(const char16_t* path) noexcept {
    const std::string name = stand_in::utf8(path);
    return stand_in::current().files.count(name) != 0 || access(name.c_str(), F_OK) == 0;
}

bool place_file(const char16_t* from, const char16_t* to) noexcept {
    auto& s = stand_in::current();
    ++s.placed;
    if (file_exists(to)) {
        s.replaced.emplace_back(stand_in::utf8(from), stand_in::utf8(to));
        return false;
    }
    return replace_file(from, to);
}

bool replace_file(const char16_t* from, const char16_t* to) noexcept {
    auto& s = stand_in::current();
    const std::string source = stand_in::utf8(from);
    const std::string target = stand_in::utf8(to);
    s.replaced.emplace_back(source, target);
    if (!s.refuse_replace_ending.empty() && target.ends_with(s.refuse_replace_ending)) return false;
    const auto kept = s.files.find(source);
    if (kept == s.files.end()) return std::rename(source.c_str(), target.c_str()) == 0;
    std::FILE* const out = std::fopen(target.c_str(), "wb");
    if (!out) return false;
    const bool whole =
        std::fwrite(kept->second.data(), 1, kept->second.size(), out) == kept->second.size();
    if (std::fclose(out) != 0 || !whole) return false;
    s.files.erase(kept);
    return true;
}

bool is_read_only(const char16_t* path) noexcept {
    struct stat status {};
    return ::stat(stand_in::utf8(path).c_str(), &status) == 0 && (status.st_mode & S_IWUSR) == 0;
}

bool delete_file(const char16_t* path) noexcept {
    auto& s = stand_in::current();
    const std::string name = stand_in::utf8(path);
    s.deleted.push_back(name);
    if (s.files.erase(name) != 0) return true;
    return std::remove(name.c_str()) == 0;
}

std::uint32_t monotonic_milliseconds() noexcept {
    return stand_in::current().milliseconds;
}

} // namespace os
