// Fuzz target: arbitrary bytes as the settings file, read (as 8-bit text, or as UTF-16 after a
// byte-order mark) and applied by the module's own reader and loader to a test host at the host's
// addresses.
//
// Stops (and so fails the run) on any crash or sanitizer report, and on any byte of the host
// image that changed outside the settings destinations: the aim values 0x8CC4A0..0x8CC4BC, the
// aim rows 0x8CC4C0..0x8CC530 and the float in the aim-camera code 0x521632..0x521636. Only the
// pages the loader has business with are accessible at all (the executable's header, which host
// variant detection reads; the vector-set function, which it calls; the code page and the data
// page that hold the destinations); touching any other page of the image faults.
//
// The same bytes then go through the edit of one weapon's offset (settings_edit.h), with a weapon
// type (mostly one the file gives a line) and three numbers chosen from the input's hash. Stops
// when the edit writes a file whose lines, read back by the module's reader and parser, do not
// give that type exactly the new numbers on the line it reported, as the first line the load
// takes for it, or read otherwise than before on any other line; and when a status does not fit
// the file (unchanged while the line holds other numbers, no empty slot beside a blank one, a
// refusal of a line whose new numbers could only read as written).
#include "host_image.h"

#include "injector/teardown.h"
#include "platform/os.h"
#include "platform/os_stand_in.h"
#include "plugin/host.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/line_layout.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_edit.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"
#include "plugin/settings/weapon_offsets.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint32_t page_size = 0x1000;
constexpr std::uint32_t mapping_begin = 0x400000; // the stand-in image's mapping
constexpr std::uint32_t mapping_end = 0x900000;

struct range {
    std::uint32_t begin, end;
};

// Where a settings file may write.
constexpr range destinations[] = {
    {0x8CC4A0, 0x8CC4BC}, // aim values of lines 3, 4 and 6 to 9
    {0x8CC4C0, 0x8CC530}, // the aim rows, 4 x 7 floats
    {0x521632, 0x521636}, // the float inside the aim-camera code
};

// The pages the loader may write (and read): those holding the destinations.
constexpr std::uint32_t writable_pages[] = {0x521000, 0x8CC000};
// Pages it may only read or execute.
constexpr std::uint32_t header_page = 0x400000; // host variant detection reads the header
constexpr std::uint32_t vector_set_page = plugin::host_addresses::vector_set & ~(page_size - 1);

std::uint8_t expected[2][page_size]; // what the writable pages hold before every input
int vector_set_calls = 0;

// The host's vector set: copies three floats. Both pointers must be the module's own memory.
void* __thiscall vector_set_double(float* vector, const float* values) {
    const auto in_image = [](const void* p) {
        const auto a = reinterpret_cast<std::uintptr_t>(p);
        return a >= mapping_begin && a < mapping_end;
    };
    if (in_image(vector) || in_image(values)) {
        std::fprintf(stderr, "vector set called on host image memory\n");
        std::abort();
    }
    std::memcpy(vector, values, 3 * sizeof(float));
    ++vector_set_calls;
    return vector;
}

bool in_destination(std::uint32_t address) {
    for (const range& r : destinations)
        if (address >= r.begin && address < r.end) return true;
    return false;
}

void protect(std::uint32_t begin, std::uint32_t end, int protection) {
    if (mprotect(test_host::at(begin), end - begin, protection) != 0) {
        std::perror("mprotect");
        std::abort();
    }
}

void set_up_host() {
    if (!test_host::map_host_image()) {
        std::fprintf(stderr, "the host image could not be mapped at 0x400000\n");
        std::abort();
    }
    os::stand_in::reset(); // the executable's base is 0x400000; every protection change works
    // Laid for good (no undoing patch): the page is read-only by the time the process exits.
    const auto jump =
        test_host::rel32_instruction(0xE9, plugin::host_addresses::vector_set,
                                     reinterpret_cast<const void*>(&vector_set_double));
    std::memcpy(test_host::at(plugin::host_addresses::vector_set), jump.data(), jump.size());

    // A pattern no destination starts with, so that a stray write of zeros shows too.
    for (int p = 0; p < 2; ++p) {
        for (std::uint32_t i = 0; i < page_size; ++i)
            expected[p][i] = static_cast<std::uint8_t>(i * 131 + 7 + p);
        std::memcpy(test_host::at(writable_pages[p]), expected[p], page_size);
    }

    protect(mapping_begin, mapping_end, PROT_NONE);
    protect(header_page, header_page + page_size, PROT_READ);
    protect(vector_set_page, vector_set_page + page_size, PROT_READ | PROT_EXEC);
    for (std::uint32_t page : writable_pages)
        protect(page, page + page_size, PROT_READ | PROT_WRITE);
}

// Every byte of the writable pages outside the destinations is as it was; the destinations
// are put back for the next input.
void check_and_restore_host() {
    for (int p = 0; p < 2; ++p) {
        auto* const page = static_cast<std::uint8_t*>(test_host::at(writable_pages[p]));
        if (std::memcmp(page, expected[p], page_size) == 0) continue;
        for (std::uint32_t i = 0; i < page_size; ++i) {
            const std::uint32_t address = writable_pages[p] + i;
            if (page[i] != expected[p][i] && !in_destination(address)) {
                std::fprintf(stderr, "host byte 0x%06X changed outside the destinations\n",
                             static_cast<unsigned>(address));
                std::abort();
            }
        }
        std::memcpy(page, expected[p], page_size);
    }
}

// --- the edit of one weapon's offset ---------------------------------------------------------

[[noreturn]] void edit_fault(const char* what, int line) {
    std::fprintf(stderr, "settings_fuzz: the edit %s (line %d)\n", what, line);
    std::abort();
}

// Every line of the file as the module's reader keeps it, line end and NUL bytes included.
std::vector<std::string> read_lines(std::string_view bytes) {
    plugin::settings_reader reader(bytes.data(), bytes.size());
    std::vector<std::string> lines;
    char buffer[plugin::line_buffer_size];
    while (reader.read_line(buffer) != plugin::line_read::absent)
        lines.emplace_back(buffer, reader.last_length());
    return lines;
}

constexpr int first_weapon_line = 16;

// The line among 16 to 31 that the load takes as `type`'s weapon line (0: none), and its values.
int weapon_line_of(const std::vector<std::string>& lines, std::int32_t type,
                   plugin::line_values& values) {
    const int last = std::min(static_cast<int>(lines.size()), plugin::settings_line_count);
    for (int n = first_weapon_line; n <= last; ++n) {
        const char* const text = lines[static_cast<std::size_t>(n - 1)].c_str();
        if (plugin::is_named_line(n, text)) continue;
        values = plugin::parse_settings_line(plugin::line_kind::weapon, text);
        if (values.count == 4 && values.integer == type) return n;
    }
    return 0;
}

// The first line among 16 to 31 that holds only blanks (0: none).
int blank_line_of(const std::vector<std::string>& lines) {
    const int last = std::min(static_cast<int>(lines.size()), plugin::settings_line_count);
    for (int n = first_weapon_line; n <= last; ++n) {
        // A NUL byte ends what corvane reads of a line, not the line: what follows is no blank.
        const std::string& line = lines[static_cast<std::size_t>(n - 1)];
        if (plugin::is_blank_line(line.c_str()) && line.find('\0') == std::string::npos) return n;
    }
    return 0;
}

// What a number reads back as once written: -0 as 0, a NaN as the parser's NaN of its sign.
std::uint32_t written_bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    if (f == 0.0f) return 0;
    if (std::isnan(f)) return (b & 0x80000000u) | 0x7FC00000u;
    return b;
}

bool holds(const plugin::line_values& values, const float (&offset)[3]) {
    for (int i = 0; i < 3; ++i) {
        std::uint32_t b;
        std::memcpy(&b, &values.floats[i], sizeof b);
        if (b != written_bits(offset[i])) return false;
    }
    return true;
}

// Whether new numbers written over a weapon line's may read otherwise: a long line, where one
// may be pushed past the 511 characters the reader keeps, or a number glued to the text before
// or after it ("08 1 2 3" reads type 0 and x 8; "22 0.5.2 0.1" reads x 0.5 and y .2).
bool may_not_read_back(const std::string& line) {
    if (line.size() >= 440) return true;
    std::string text(line.c_str());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const plugin::line_layout layout = plugin::lay_out(plugin::line_kind::weapon, text);
    for (std::size_t i = 1; i < layout.values.size(); ++i) {
        const plugin::span s = layout.values[i];
        if (!plugin::is_blank(text[s.begin - 1]) ||
            (s.end < text.size() && !plugin::is_blank(text[s.end])))
            return true;
    }
    return false;
}

// Numbers whose texts differ in length and form: short, long, with an exponent, not finite.
constexpr float chosen_numbers[] = {0.0f,  -0.0f,   1.0f,      -1.0f,   0.45f,  0.1f,
                                    -1.5f, 1e-7f,   123456.7f, 3.4e38f, 1e-45f, 1.17549435e-38f,
                                    7.0f,  -0.333f, INFINITY,  NAN};

void check_edit(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    std::uint32_t h = 2166136261u; // FNV-1a of the input, then xorshift for each choice
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    const auto next = [&h] {
        h ^= h << 13;
        h ^= h >> 17;
        h ^= h << 5;
        return h;
    };

    const std::vector<std::string> before = read_lines(file);
    std::vector<std::int32_t> types; // the types the file's weapon lines give
    const int last = std::min(static_cast<int>(before.size()), plugin::settings_line_count);
    for (int n = first_weapon_line; n <= last; ++n) {
        const char* const text = before[static_cast<std::size_t>(n - 1)].c_str();
        if (plugin::is_named_line(n, text)) continue;
        const plugin::line_values v = plugin::parse_settings_line(plugin::line_kind::weapon, text);
        if (v.count == 4) types.push_back(v.integer);
    }
    std::int32_t type;
    const std::uint32_t pick = next();
    if (!types.empty() && pick % 4 != 0)
        type = types[next() % types.size()];
    else
        type = pick % 8 == 0 ? static_cast<std::int32_t>(next())
                             : static_cast<std::int32_t>(next() % 64) - 1;
    float offset[3];
    for (float& f : offset) {
        const std::uint32_t r = next();
        if (r % 4 == 0) {
            const std::uint32_t b = next();
            std::memcpy(&f, &b, sizeof f);
        } else {
            f = chosen_numbers[r / 4 % (sizeof chosen_numbers / sizeof chosen_numbers[0])];
        }
    }

    const std::string untouched = "untouched";
    std::string out = untouched;
    const plugin::weapon_edit edit = plugin::edit_weapon_offset(file, type, offset, out);
    plugin::line_values values;
    const int own = weapon_line_of(before, type, values);
    const bool writes = edit.status == plugin::weapon_edit_status::rewritten ||
                        edit.status == plugin::weapon_edit_status::new_line;
    if (!writes && out != untouched) edit_fault("wrote without saying so", edit.line);

    switch (edit.status) {
    case plugin::weapon_edit_status::rewritten:
        if (edit.line != own) edit_fault("rewrote another line than the weapon's own", edit.line);
        break;
    case plugin::weapon_edit_status::new_line:
        if (own != 0) edit_fault("added a line for a type that has one", edit.line);
        if (edit.line != blank_line_of(before) &&
            (blank_line_of(before) != 0 || edit.line != static_cast<int>(before.size()) + 1))
            edit_fault("took another line than the first empty slot", edit.line);
        break;
    case plugin::weapon_edit_status::unchanged:
        if (edit.line != own || !holds(values, offset))
            edit_fault("left a line that holds other numbers", edit.line);
        return;
    case plugin::weapon_edit_status::no_empty_slot:
        if (own != 0 || blank_line_of(before) != 0)
            edit_fault("found no slot beside the weapon's own line or a blank one", edit.line);
        return;
    case plugin::weapon_edit_status::not_placeable:
        // Only a line whose new numbers may not read back as written may refuse.
        if (own == 0 || !may_not_read_back(before[static_cast<std::size_t>(own - 1)]))
            edit_fault("refused a file it could have written", own);
        return;
    }

    const std::vector<std::string> after = read_lines(out);
    const bool appended = static_cast<std::size_t>(edit.line) == before.size() + 1;
    if (after.size() != before.size() + (appended ? 1 : 0))
        edit_fault("changed the number of lines", edit.line);
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (static_cast<int>(i) + 1 == edit.line) continue;
        std::string text = after[i];
        if (appended && i + 1 == before.size() && !before[i].empty() && before[i].back() != '\n' &&
            !text.empty() && text.back() == '\n')
            text.pop_back(); // the line end the last line gained before the new one
        if (text != before[i]) edit_fault("changed another line", static_cast<int>(i) + 1);
    }
    if (weapon_line_of(after, type, values) != edit.line || !holds(values, offset))
        edit_fault("wrote a line that does not read back as the new numbers", edit.line);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_up_host();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each input meets a freshly loaded module: empty list, zeroed globals.
    injector::run_teardowns();
    plugin::forget_settings_state();
    os::stand_in::current().protect_calls.clear();
    plugin::create_weapon_offset_list();
    vector_set_calls = 0;

    plugin::settings_reader reader(data, size);
    plugin::load_aiming_settings_from(reader);

    check_and_restore_host();
    // One entry at most per weapon line, and each made through the host's vector set.
    const std::size_t entries = plugin::weapon_offset_list()->size();
    if (vector_set_calls > 16 || entries > static_cast<std::size_t>(vector_set_calls)) {
        std::fprintf(stderr, "%d vector sets and %u entries from one file\n", vector_set_calls,
                     static_cast<unsigned>(entries));
        std::abort();
    }

    check_edit(data, size);
    return 0;
}
