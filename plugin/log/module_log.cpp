#include "plugin/log/module_log.h"

#include "injector/branch.h"
#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/os.h"
#include "plugin/host.h"
#include "plugin/log/code_bytes.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace plugin {

namespace {

constexpr char line_end[] = "\r\n";
constexpr char last_line[] = "corvane.log has reached its limit of 1 MiB: nothing more is written "
                             "to it until the game loads corvane again; corvane goes on working";
constexpr char unloaded_line[] = "corvane is unloaded; the values it wrote into the game stay "
                                 "until the game restarts";
constexpr char unloaded_unchanged_line[] = "corvane is unloaded; it changed nothing in this game";
static_assert(sizeof unloaded_unchanged_line <= sizeof unloaded_line, "room for the longer one");
static_assert(log_size_limit == 1u << 20, "the last line names the limit");

// The widest time a line can start with: the clock's difference is 32 bits of milliseconds.
constexpr std::size_t widest_time = sizeof "[4294967.295 s] " - 1;
constexpr std::size_t max_call_sites = 4;
// A line of the unload report keeps at most this many characters of its text.
constexpr std::size_t unload_text_limit = 200;
// Room kept below the limit, so that a full log still ends with the unload report: the line
// that says the limit was reached, one line per noted call site and the closing line, each at
// its longest. Ordinary lines stop where this room begins.
constexpr std::uint32_t kept_room =
    (widest_time + sizeof last_line - 1 + sizeof line_end - 1) +
    max_call_sites * (widest_time + unload_text_limit + sizeof line_end - 1) +
    (widest_time + sizeof unloaded_line - 1 + sizeof line_end - 1);

struct call_site_note {
    const char* what;
    std::uint32_t host_address;
    std::uintptr_t address;
    std::uint8_t original[5];
    std::size_t size;
};

struct log_state {
    os::file* file = nullptr;
    std::uint32_t opened_at = 0;
    std::uint32_t written = 0;
    bool full = false;   // ordinary lines reached the kept room; only the unload report follows
    bool failed = false; // a write failed: nothing more is tried
    call_site_note sites[max_call_sites] = {};
    int site_count = 0;
    char line[1100] = {};
} the_log;

// The time since the log was opened, at most `text_limit` characters of the text and the line
// end, in the_log.line; its length.
std::size_t format_line(const char* text, std::size_t text_limit) noexcept {
    // Unsigned: right across the clock's wrap after 49.7 days.
    const std::uint32_t ms = os::monotonic_milliseconds() - the_log.opened_at;
    const int prefix = std::snprintf(the_log.line, sizeof the_log.line, "[%6" PRIu32 ".%03u s] ",
                                     ms / 1000, static_cast<unsigned>(ms % 1000));
    std::size_t length = prefix > 0 ? static_cast<std::size_t>(prefix) : 0;
    const std::size_t room = std::min(sizeof the_log.line - sizeof line_end - length, text_limit);
    const std::size_t text_length = std::min(std::strlen(text), room);
    std::memcpy(the_log.line + length, text, text_length);
    length += text_length;
    std::memcpy(the_log.line + length, line_end, sizeof line_end);
    return length + sizeof line_end - 1;
}

void append_line(std::size_t length) noexcept {
    if (!os::append_to_file(the_log.file, the_log.line, static_cast<std::uint32_t>(length))) {
        the_log.failed = true; // a full disk, or the file taken away: no more attempts
        return;
    }
    the_log.written += static_cast<std::uint32_t>(length);
}

void write(const char* text) noexcept {
    if (!module_log_open()) return;
    std::size_t length = format_line(text, sizeof the_log.line);
    if (the_log.written + length > log_size_limit - kept_room) {
        the_log.full = true;
        length = format_line(last_line, sizeof the_log.line);
    }
    append_line(length);
}

// A line of the unload report: written into the kept room when ordinary lines no longer fit.
void write_unload_line(const char* format, ...) noexcept
    __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));
void write_unload_line(const char* format, ...) noexcept {
    if (!the_log.file || the_log.failed) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    append_line(format_line(text, unload_text_limit));
}

void report_call_sites() noexcept {
    for (int i = 0; i < the_log.site_count; ++i) {
        const call_site_note& site = the_log.sites[i];
        const address_text where = text_of_address(site.host_address, site.address);
        if (site.size == 0) {
            write_unload_line("unloading: the %s at %s was never changed", site.what, where.text);
            continue;
        }
        if (injector::unloading_at_process_exit()) {
            write_unload_line("unloading: the game is quitting, so the %s at %s is left as it "
                              "is, leading to the game's own code",
                              site.what, where.text);
            continue;
        }
        std::uint8_t now[5] = {};
        if (!read_host_bytes(site.address, now, static_cast<std::uint32_t>(site.size))) {
            write_unload_line("unloading: the %s at %s cannot be read any more", site.what,
                              where.text);
            continue;
        }
        if (std::memcmp(now, site.original, site.size) == 0) {
            write_unload_line("unloading: the %s at %s has its own bytes back", site.what,
                              where.text);
            continue;
        }
        const auto resident =
            injector::resident_at(injector::relative_call_target(now, site.address));
        if (resident && resident->share == 0) {
            write_unload_line("unloading: the %s at %s could not get its own bytes back; it now "
                              "leads straight to the game's own code",
                              site.what, where.text);
            continue;
        }
        write_unload_line("unloading: the %s at %s was left to another plug-in that changed it "
                          "after corvane (it holds %s, not its own %s)",
                          site.what, where.text, text_of_bytes({now, site.size}).text,
                          text_of_bytes({site.original, site.size}).text);
    }
}

} // namespace

void open_module_log(const char16_t* path) noexcept {
    the_log = log_state{};
    if (!path) return;
    the_log.file = os::create_file(path);
    if (!the_log.file) return;
    the_log.opened_at = os::monotonic_milliseconds();
    try {
        injector::register_teardown(&close_module_log);
    } catch (...) {
        // Without a teardown the file stays open until the process ends; lines still reach it.
    }
}

bool module_log_open() noexcept {
    return the_log.file != nullptr && !the_log.full && !the_log.failed;
}

void log_line(const char* format, ...) noexcept {
    if (!module_log_open()) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    write(text);
}

void close_module_log() noexcept {
    if (!the_log.file) return;
    report_call_sites();
    // Call sites are noted with their bytes only once corvane changed one.
    const bool changed = std::any_of(the_log.sites, the_log.sites + the_log.site_count,
                                     [](const call_site_note& site) { return site.size != 0; });
    write_unload_line("%s", changed ? unloaded_line : unloaded_unchanged_line);
    os::close_file(the_log.file);
    the_log.file = nullptr;
}

log_text& log_text::add(const char* format, ...) noexcept {
    if (used_ + 1 >= sizeof text_) return *this;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text_ + used_, sizeof text_ - used_, format, args);
    va_end(args);
    if (n > 0) used_ = std::min(used_ + static_cast<std::size_t>(n), sizeof text_ - 1);
    return *this;
}

namespace {
// " (0x10527A95 here)" when the address moved with the executable, else nothing.
address_text relocation_text(std::uint32_t host_address, std::uintptr_t address) noexcept {
    address_text out{};
    if (address != host_address)
        std::snprintf(out.text, sizeof out.text, " (0x%08" PRIXPTR " here)", address);
    return out;
}

} // namespace

address_text text_of_address(std::uint32_t host_address, std::uintptr_t address) noexcept {
    address_text out{};
    const int n = std::snprintf(out.text, sizeof out.text, "0x%06" PRIX32, host_address);
    const address_text relocation = relocation_text(host_address, address);
    std::memcpy(out.text + n, relocation.text, sizeof out.text - static_cast<std::size_t>(n));
    out.text[sizeof out.text - 1] = '\0';
    return out;
}

void log_patch(const char* what, const char* done, injector::patch_status status,
               std::uintptr_t site) noexcept {
    using injector::patch_status;
    switch (status) {
    case patch_status::done:
        log_line("%s: %s", what, done);
        return;
    case patch_status::protection_kept_open:
        log_line("%s: %s, but Windows did not put that memory's write protection back afterwards",
                 what, done);
        return;
    case patch_status::unprotected:
        log_line("%s: %s, though Windows refused to lift that memory's write protection first "
                 "(it was read all the same)",
                 what, done);
        return;
    case patch_status::refused:
        log_line("%s: left as it was: Windows refused to lift that memory's write protection",
                 what);
        return;
    case patch_status::too_large:
        log_line("%s: left as it was: corvane tried to keep more of the game's bytes than it can "
                 "put back",
                 what);
        return;
    case patch_status::no_code_memory:
        log_line("%s: left as it was: Windows gave corvane no memory that may run code (the game, "
                 "or a security setting, may forbid new code in it)",
                 what);
        return;
    case patch_status::not_a_call: {
        std::uint8_t holds[5] = {};
        if (site == 0 || !read_host_bytes(site, holds, sizeof holds)) {
            log_line("%s: left as it was: the game's code there is not a call", what);
            return;
        }
        log_line("%s: left as it was: it holds %s, not the game's own kind of call (another "
                 "plug-in may have laid a jump there); corvane changes only that kind",
                 what, text_of_bytes(holds).text);
        return;
    }
    }
}

void note_call_site(const char* what, std::uint32_t host_address, std::uintptr_t address,
                    std::span<const std::uint8_t> original) noexcept {
    if (!the_log.file || the_log.site_count == static_cast<int>(std::size(the_log.sites))) return;
    call_site_note& site = the_log.sites[the_log.site_count++];
    site.what = what;
    site.host_address = host_address;
    site.address = address;
    site.size = std::min(original.size(), sizeof site.original);
    std::copy_n(original.begin(), site.size, site.original);
}

} // namespace plugin
