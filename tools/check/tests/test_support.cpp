#include "tools/check/tests/test_support.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace check_test {

void test_folder::SetUp() {
    char pattern[] = "/tmp/corvane_check_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
}

void test_folder::TearDown() {
    fs::remove_all(dir_);
}

std::string test_folder::write(const std::string& content, const std::string& name) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

std::string test_folder::read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

namespace {

std::string pretend_folder;
unsigned pretend_programs = 0;
bool pretend_console_input = true;
int pretend_waits = 0;
std::size_t pretend_room = SIZE_MAX;

const check::surroundings pretend = {
    [] { return pretend_folder; },        [] { return pretend_programs; },
    [] { return pretend_console_input; }, [] { ++pretend_waits; },
    [] { return pretend_room; },
};

} // namespace

pretend_surroundings::pretend_surroundings(std::string folder, unsigned programs,
                                           bool console_input) {
    pretend_folder = std::move(folder);
    pretend_programs = programs;
    pretend_console_input = console_input;
    pretend_waits = 0;
    pretend_room = SIZE_MAX;
    check::set_surroundings_for_tests(&pretend);
}

void pretend_surroundings::fill_disk_after(std::size_t bytes) {
    pretend_room = bytes;
}

pretend_surroundings::~pretend_surroundings() {
    check::set_surroundings_for_tests(nullptr);
}

int pretend_surroundings::waits() const {
    return pretend_waits;
}

void put(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    if (bytes.size() < at + size) bytes.resize(at + size);
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>(value >> 8 * i);
}

std::string program_bytes(const test_program& program) {
    std::string bytes(0x400, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put(bytes, 0x3C, 0x80);
    put(bytes, 0x80, 0x00004550); // "PE\0\0"
    put(bytes, 0x84, program.machine, 2);
    put(bytes, 0x86, static_cast<std::uint32_t>(program.sections.size()), 2);
    put(bytes, 0x94, 0xE0, 2); // size of the optional header
    put(bytes, 0x98, program.optional_magic, 2);
    put(bytes, 0x98 + 28, 0x400000); // preferred base
    put(bytes, 0x98 + 32, 0x1000);   // section alignment
    put(bytes, 0x98 + 60, 0x400);    // size of the headers
    if (program.dynamic_base) put(bytes, 0x98 + 70, 0x0040, 2);
    put(bytes, 0x98 + 92, 16);                                   // entries of the data directory
    put(bytes, 0x98 + 96 + 5 * 8 + 4, program.relocations_size); // the relocations' entry
    std::size_t file_offset = 0x400;
    for (std::size_t i = 0; i < program.sections.size(); ++i) {
        const test_section& s = program.sections[i];
        const std::size_t row = 0x178 + 40 * i;
        put(bytes, row + 8, s.memory_size);
        put(bytes, row + 12, s.address);
        put(bytes, row + 16, s.file_size);
        put(bytes, row + 20, static_cast<std::uint32_t>(file_offset));
        put(bytes, row + 36, s.flags);
        bytes.resize(file_offset + s.file_size);
        for (const auto& [host_address, value] : s.values)
            put(bytes, file_offset + (host_address - 0x400000 - s.address), value);
        file_offset += (s.file_size + 0x1FF) / 0x200 * 0x200;
    }
    if (program.cut_to) bytes.resize(program.cut_to);
    return bytes;
}

test_section code_with(std::uint32_t value, std::uint32_t flags) {
    return {0x1000, 0x2000, 0x400, flags, {{0x401000, value}}};
}

bool have_python() {
    return std::system("python3 -c pass >/dev/null 2>&1") == 0;
}

} // namespace check_test
