// corvane-check's surroundings where it runs natively (a developer's machine): the program's
// folder from /proc, and no console window of its own to keep open.
#include "tools/check/files/surroundings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

bool input_is_console() {
    return isatty(STDIN_FILENO) != 0;
}

void wait_for_enter() {}

const surroundings posix = {program_folder, programs_on_console, input_is_console, wait_for_enter,
                            unlimited_room};

} // namespace

const surroundings& system_surroundings() {
    return posix;
}

std::FILE* open_utf8(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

write_failure write_new_file(const std::string& path, const std::string& content) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) {
        switch (errno) {
        case EEXIST:
        case EISDIR:
            return write_failure::exists;
        case ENOENT:
        case ENOTDIR:
            return write_failure::folder_missing;
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ:
            return write_failure::invalid_name;
        case EACCES:
        case EPERM:
        case EROFS:
            return write_failure::not_allowed;
        case ENOSPC:
        case EDQUOT:
            return write_failure::disk_full;
        default:
            return write_failure::other;
        }
    }
    const std::size_t room = current_surroundings().room_on_disk();
    std::size_t done = 0;
    int error = 0;
    while (done < content.size()) {
        if (done >= room) {
            error = ENOSPC;
            break;
        }
        const ssize_t n =
            ::write(file, content.data() + done, std::min(content.size(), room) - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(file) != 0 && error == 0) error = errno;
    if (error == 0) return write_failure::none;
    ::unlink(path.c_str()); // created here a moment ago: nobody else's file
    return error == ENOSPC || error == EDQUOT ? write_failure::disk_full : write_failure::other;
}

replaceable can_replace(const std::string& path) {
    // The write bits, not access(): a check run as root would find everything writable.
    constexpr mode_t writable = S_IWUSR | S_IWGRP | S_IWOTH;
    struct stat file {};
    if (stat(path.c_str(), &file) == 0 && (file.st_mode & writable) == 0)
        return replaceable::file_read_only;
    const std::size_t separator = path.rfind('/');
    const std::string folder = separator == std::string::npos ? "." : path.substr(0, separator + 1);
    struct stat holder {};
    if (stat(folder.c_str(), &holder) == 0 && (holder.st_mode & writable) == 0)
        return replaceable::folder_read_only;
    return replaceable::yes;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

utf8_console::utf8_console() = default;
utf8_console::~utf8_console() = default;

} // namespace check
