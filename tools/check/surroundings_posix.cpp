// corvane-check's surroundings where it runs natively (a developer's machine): the program's
// folder from /proc, and no console window of its own to keep open.
#include "tools/check/surroundings.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace check {

namespace {

std::string program_folder() {
    char name[4096];
    const ssize_t length = readlink("/proc/self/exe", name, sizeof name);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof name) return {};
    const std::string path(name, static_cast<std::size_t>(length));
    const std::size_t separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

unsigned programs_on_console() {
    return 0; // a terminal window stays open after the program ends
}

void wait_for_enter() {}

const surroundings posix = {program_folder, programs_on_console, wait_for_enter};

} // namespace

const surroundings& system_surroundings() {
    return posix;
}

std::FILE* open_utf8(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

void use_utf8_console() {}

} // namespace check
