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
#include "host_image.h"

#include "injector/teardown.h"
#include "platform/os.h"
#include "platform/os_stand_in.h"
#include "plugin/host.h"
#include "plugin/settings/settings.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/weapon_offsets.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    return 0;
}
