#include "tools/check/files/game_build.h"

#include "injector/host_address.h"
#include "plugin/host_addresses.h"
#include "plugin/log/code_bytes.h"
#include "plugin/log/game_build_words.h"
#include "runtime/game_process_event.h"
#include "runtime/game_version.h"
#include "tools/check/check_text.h"
#include "tools/check/files/surroundings.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

namespace check {

namespace {

// Where the module's host addresses start: the game's preferred base.
constexpr std::uint32_t host_base = injector::host_preferred_base;

// Section flags from the program's section table.
constexpr std::uint32_t section_executes = 0x20000000;
constexpr std::uint32_t section_writable = 0x80000000;

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

std::uint32_t little_endian(const unsigned char* bytes, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

// One row of the section table: where a section lies in memory and where its bytes lie in the
// file.
struct section {
    std::uint32_t address = 0; // relative to the image's base
    std::uint32_t memory_size = 0;
    std::uint32_t file_offset = 0;
    std::uint32_t file_size = 0; // bytes the loader copies from the file; the rest are zeros
    std::uint32_t flags = 0;
};

// Where a probe's four bytes come from when the program is loaded.
struct probe_place {
    unanswered_reason unanswered = unanswered_reason::none; // none: read them at `offset`
    std::uint32_t offset = 0;
    bool rewritable = false; // in code the program may rewrite once it runs
};

// The parts of a 32-bit Windows program's headers that say where its bytes go in memory.
class program_layout {
  public:
    // Reads the headers; on failure says why through `reason`.
    bool read(std::FILE* file, unanswered_reason& reason) {
        file_ = file;
        const long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
        if (end < 0) return fail(reason, unanswered_reason::cannot_open);
        file_size_ = static_cast<std::uint64_t>(end);

        unsigned char dos[64];
        if (!read_at(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
            return fail(reason, unanswered_reason::not_a_program);
        const std::uint32_t pe = little_endian(dos + 0x3C, 4);
        unsigned char header[24];
        if (!read_at(pe, header, sizeof header) || little_endian(header, 4) != 0x00004550)
            return fail(reason, unanswered_reason::not_a_program); // "PE\0\0"
        const std::uint32_t machine = little_endian(header + 4, 2);
        const std::uint32_t section_count = little_endian(header + 6, 2);
        const std::uint32_t optional_size = little_endian(header + 20, 2);

        if (machine != 0x14C) return fail(reason, unanswered_reason::not_32_bit);
        unsigned char optional[64];
        if (optional_size < sizeof optional) return fail(reason, unanswered_reason::not_a_program);
        if (!read_at(pe + 24, optional, sizeof optional))
            return fail(reason, unanswered_reason::cut_short);
        if (little_endian(optional, 2) != 0x10B) return fail(reason, unanswered_reason::not_32_bit);
        section_alignment_ = little_endian(optional + 32, 4);
        can_move_ = read_can_move(pe, optional_size, little_endian(header + 22, 2));

        const std::uint64_t table = std::uint64_t{pe} + 24 + optional_size;
        for (std::uint32_t i = 0; i < section_count; ++i) {
            unsigned char row[40];
            if (!read_at(table + 40 * i, row, sizeof row))
                return fail(reason, unanswered_reason::cut_short);
            section s;
            s.memory_size = little_endian(row + 8, 4);
            s.address = little_endian(row + 12, 4);
            s.file_size = little_endian(row + 16, 4);
            s.file_offset = little_endian(row + 20, 4);
            s.flags = little_endian(row + 36, 4);
            // A section maps at most its memory size, rounded up to whole pages, of its file
            // bytes; a memory size of 0 means its file size.
            if (s.memory_size == 0)
                s.memory_size = s.file_size;
            else if (s.file_size > round_up(s.memory_size))
                s.file_size = round_up(s.memory_size);
            sections_.push_back(s);
        }
        return true;
    }

    // Where the `size` bytes at `host_address` come from once the program is loaded.
    probe_place place_of(std::uint32_t host_address, std::uint32_t size = 4) const {
        const std::uint64_t at = std::uint64_t{host_address} - host_base;
        probe_place place;
        for (const section& s : sections_) {
            if (at < s.address || at >= std::uint64_t{s.address} + s.memory_size) continue;
            place.rewritable = (s.flags & section_executes) && (s.flags & section_writable);
            if (at + size > std::uint64_t{s.address} + s.file_size) {
                place.unanswered = unanswered_reason::filled_when_run;
                return place;
            }
            const std::uint64_t offset = s.file_offset + (at - s.address);
            place.offset = static_cast<std::uint32_t>(offset);
            if (offset + size > file_size_) place.unanswered = unanswered_reason::cut_short;
            return place;
        }
        place.unanswered = unanswered_reason::outside_the_image;
        return place;
    }

    bool read_at(std::uint64_t offset, unsigned char* bytes, std::size_t size) const {
        if (offset + size > file_size_ || offset > 0x7FFFFFFF) return false;
        return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0 &&
               std::fread(bytes, 1, size, file_) == size;
    }

    bool can_move() const { return can_move_; }

  private:
    // Whether Windows may place the program elsewhere than its preferred base: the header's
    // dynamic-base flag, and relocations that are neither stripped nor empty.
    bool read_can_move(std::uint32_t pe, std::uint32_t optional_size,
                       std::uint32_t characteristics) const {
        constexpr std::uint32_t relocations_stripped = 0x0001, dynamic_base = 0x0040;
        constexpr std::uint32_t relocations_entry = 96 + 5 * 8; // in the optional header
        unsigned char flags[2], entry[8], count[4];
        if (characteristics & relocations_stripped) return false;
        if (optional_size < relocations_entry + sizeof entry) return false;
        if (!read_at(pe + 24 + 70, flags, sizeof flags) ||
            !(little_endian(flags, 2) & dynamic_base))
            return false;
        if (!read_at(pe + 24 + 92, count, sizeof count) || little_endian(count, 4) <= 5)
            return false;
        return read_at(pe + 24 + relocations_entry, entry, sizeof entry) &&
               little_endian(entry + 4, 4) != 0;
    }

    static bool fail(unanswered_reason& reason, unanswered_reason why) {
        reason = why;
        return false;
    }

    std::uint64_t round_up(std::uint32_t size) const {
        const std::uint64_t page = section_alignment_ ? section_alignment_ : 0x1000;
        return (size + page - 1) / page * page;
    }

    std::FILE* file_ = nullptr;
    std::uint64_t file_size_ = 0;
    std::uint32_t section_alignment_ = 0;
    bool can_move_ = false;
    std::vector<section> sections_;
};

// Whether corvane will leave this game alone: its aim call site, read from the file, holds
// other bytes than the call the builds corvane knows hold there. A site the file cannot answer
// (as the program's code there is filled in when it runs) leaves the answer to corvane.log.
void look_at_aim_call(game_build& build, const program_layout& layout) {
    namespace a = plugin::host_addresses;
    const probe_place place = layout.place_of(a::aim_call_site, sizeof build.aim_site_bytes);
    unsigned char bytes[sizeof build.aim_site_bytes];
    if (place.unanswered != unanswered_reason::none || place.rewritable ||
        !layout.read_at(place.offset, bytes, sizeof bytes))
        return;
    std::copy(std::begin(bytes), std::end(bytes), build.aim_site_bytes);
    build.changes_nothing = !plugin::changes_this_game(build.code, build.aim_site_bytes,
                                                       a::aim_call_site, a::aim_camera);
}

game_build cannot_tell(game_build build, unanswered_reason reason, std::uint32_t address = 0) {
    build.verdict = build_verdict::cannot_tell;
    build.reason = reason;
    build.probe_address = address;
    return build;
}

} // namespace

game_build identify_game_build(const std::string& path) {
    game_build build;
    build.file = path;
    const file_handle file(open_utf8(path, "rb"));
    if (!file) return cannot_tell(build, unanswered_reason::cannot_open);

    program_layout layout;
    unanswered_reason reason{};
    if (!layout.read(file.get(), reason)) return cannot_tell(build, reason);
    build.can_move = layout.can_move();

    // The module's probes, in its order: the first that matches names the build, so a probe the
    // file cannot answer stops the reading just where the module would go on in memory. Code the
    // program may rewrite once it runs can hold other bytes by the time the module looks, so a
    // probe that fails there leaves the answer open unless a later one matches.
    const std::uint32_t first_address = runtime::version_probes[0].host_address;
    std::uint32_t rewritable_miss = 0;
    for (const runtime::version_probe& probe : runtime::version_probes) {
        const probe_place place = layout.place_of(probe.host_address);
        if (rewritable_miss && place.unanswered != unanswered_reason::none)
            return cannot_tell(build, unanswered_reason::filled_when_run, rewritable_miss);
        if (place.unanswered != unanswered_reason::none)
            return cannot_tell(build, place.unanswered, probe.host_address);
        unsigned char bytes[4];
        if (!layout.read_at(place.offset, bytes, sizeof bytes))
            return cannot_tell(build, unanswered_reason::cut_short, probe.host_address);
        const std::uint32_t value = little_endian(bytes, 4);
        if (probe.host_address == first_address) {
            build.first_probe_read = true;
            build.first_probe_value = value;
        }
        if (value == probe.expected) {
            build.code = probe.code;
            build.probe_address = probe.host_address;
            build.verdict = runtime::builds_with_frame_hook(probe.code)
                                ? build_verdict::keys_and_reload
                                : build_verdict::settings_only;
            look_at_aim_call(build, layout);
            return build;
        }
        if (place.rewritable && !rewritable_miss) rewritable_miss = probe.host_address;
    }
    if (rewritable_miss)
        return cannot_tell(build, unanswered_reason::filled_when_run, rewritable_miss);
    build.verdict = build_verdict::not_recognised;
    look_at_aim_call(build, layout);
    return build;
}

namespace {

const char* reason_words(unanswered_reason reason) {
    switch (reason) {
    case unanswered_reason::cannot_open:
        return "the file cannot be opened";
    case unanswered_reason::not_a_program:
        return "it is not a Windows program";
    case unanswered_reason::not_32_bit:
        return "it is not a 32-bit Windows program, and the game is one";
    case unanswered_reason::cut_short:
        return "the file is cut short";
    case unanswered_reason::filled_when_run:
        return "the part of the game that tells the build is filled in only when the game "
               "runs (a packed or protected executable)";
    case unanswered_reason::outside_the_image:
        return "the file has nothing where the game keeps the part that tells the build; it "
               "may not be the game's executable";
    case unanswered_reason::none:
        break;
    }
    return "";
}

} // namespace

std::string four_bytes(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", value & 0xFF, value >> 8 & 0xFF,
                  value >> 16 & 0xFF, value >> 24);
    return text;
}

const char* build_verdict_name(build_verdict verdict) {
    switch (verdict) {
    case build_verdict::keys_and_reload:
        return "keys_and_reload";
    case build_verdict::settings_only:
        return "settings_only";
    case build_verdict::not_recognised:
        return "not_recognised";
    case build_verdict::cannot_tell:
        break;
    }
    return "cannot_tell";
}

const char* unanswered_reason_name(unanswered_reason reason) {
    switch (reason) {
    case unanswered_reason::cannot_open:
        return "cannot_open";
    case unanswered_reason::not_a_program:
        return "not_a_program";
    case unanswered_reason::not_32_bit:
        return "not_32_bit";
    case unanswered_reason::cut_short:
        return "cut_short";
    case unanswered_reason::filled_when_run:
        return "filled_when_run";
    case unanswered_reason::outside_the_image:
        return "outside_the_image";
    case unanswered_reason::none:
        break;
    }
    return "none";
}

std::string game_build_text(const game_build& build) {
    std::string text = "game: " + build.file + "\n  ";
    const std::string code = std::to_string(build.code);
    const std::string works = build.changes_nothing ? plugin::left_alone_words(true)
                                                    : plugin::game_build_words(build.code);
    switch (build.verdict) {
    case build_verdict::keys_and_reload:
    case build_verdict::settings_only:
        text += "build " + code + ": " + works + ".";
        break;
    case build_verdict::not_recognised:
        text += "a build the module does not recognise: " + works + ".";
        break;
    case build_verdict::cannot_tell:
        text += "cannot tell which build this is: " + std::string(reason_words(build.reason)) + ".";
        break;
    }
    std::string where;
    if (build.verdict == build_verdict::not_recognised && build.first_probe_read)
        where = hex_address(runtime::version_probes[0].host_address) + ": " +
                four_bytes(build.first_probe_value);
    else if (build.probe_address != 0)
        where = hex_address(build.probe_address);
    if (build.changes_nothing)
        where += "; " + hex_address(plugin::host_addresses::aim_call_site) + ": " +
                 plugin::text_of_bytes(build.aim_site_bytes).text;
    if (!where.empty()) text += "  [" + where + "]";
    if (build.can_move && !build.changes_nothing)
        text += std::string("\n  note: ") + plugin::movable_program_words();
    return text + "\n";
}

} // namespace check
