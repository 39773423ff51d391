// What corvane-check asks the system about itself: the folder it lies in, and whether it has its
// console window to itself, as when a player double-clicks it in Explorer and the window would
// otherwise close before the report can be read, and whether its input is that console. Tests put
// their own answers in.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace check {

// The answers, as plain functions so a test can give a fixed folder or pretend to be started
// from Explorer.
struct surroundings {
    std::string (*program_folder)();   // UTF-8, with no trailing separator; empty if unknown
    unsigned (*programs_on_console)(); // 1: nothing else shares the console window
    // Whether standard input is that console, as when Explorer starts the checker; a tool that
    // starts it with a pipe has no one to press Enter.
    bool (*input_is_console)();
    void (*wait_for_enter)();
    // How many bytes of a new file the disk takes before it is full; the system's answer is
    // "as many as it has" (SIZE_MAX), a test's a small number, so that a write fails part-way.
    std::size_t (*room_on_disk)();
};

// The system's room_on_disk: no limit of its own, the disk says when it is full.
std::size_t unlimited_room();

// The system's answers, or the ones a test put in.
const surroundings& current_surroundings();

// Puts a test's answers in (nullptr: the system's again). The answers must outlive their use.
void set_surroundings_for_tests(const surroundings* answers);

// The system's own answers; one file per system provides them.
const surroundings& system_surroundings();

// Opens a file named in UTF-8, as fopen does; on Windows through the wide functions, so a folder
// named in any script works whatever the system's code page.
std::FILE* open_utf8(const std::string& path, const char* mode);

// Why a new file was not written. The player is told which, in words of their own
// (tools/check/files/new_file.h), so they know where to go next.
enum class write_failure {
    none,           // written
    exists,         // a file (or folder) of that name is there: it is left as it is
    invalid_name,   // the system allows no file of that name (a character, or too long)
    folder_missing, // the folder the name points into does not exist
    not_allowed,    // the folder is read-only or protected
    disk_full,      // the disk is full (what was created is removed again)
    other,
};

// Creates the file `path` (UTF-8) and writes `content` into it, only when nothing of that name
// exists: the test and the creation are one step, so no file is ever written over, whatever it
// is. A file it created but could not fill is removed again.
write_failure write_new_file(const std::string& path, const std::string& content);

// Whether corvane can put a new aimingSets.dat in the place of the one at `path` (UTF-8), as it
// does when it saves a tune: not when the file is read-only, nor when its folder is. Nothing is
// left changed there (Windows is asked by creating corvane's own new file, deleted on closing).
enum class replaceable { yes, file_read_only, folder_read_only };
replaceable can_replace(const std::string& path);

// The command line's arguments as UTF-8, the program's name left out. On Windows they are taken
// from the wide command line, since `argv` holds them in the ANSI code page, which cannot spell
// every folder's name.
std::vector<std::string> program_arguments(int argc, char** argv);

// Makes the console show the UTF-8 the checker prints (Windows' console starts in another code
// page) while it lives, and puts the console's own code page back when it ends; elsewhere
// nothing to do.
class utf8_console {
  public:
    utf8_console();
    ~utf8_console();
    utf8_console(const utf8_console&) = delete;
    utf8_console& operator=(const utf8_console&) = delete;

  private:
    // The code page to put back; 0: none to put back. Only Windows has one.
    [[maybe_unused]] unsigned previous_ = 0;
};

} // namespace check
