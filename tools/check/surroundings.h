// What corvane-check asks the system about itself: the folder it lies in, and whether it has its
// console window to itself, as when a player double-clicks it in Explorer and the window would
// otherwise close before the report can be read. Tests put their own answers in.
#pragma once

#include <cstdio>
#include <string>

namespace check {

// The answers, as plain functions so a test can give a fixed folder or pretend to be started
// from Explorer.
struct surroundings {
    std::string (*program_folder)();   // UTF-8, with no trailing separator; empty if unknown
    unsigned (*programs_on_console)(); // 1: nothing else shares the console window
    void (*wait_for_enter)();
};

// The system's answers, or the ones a test put in.
const surroundings& current_surroundings();

// Puts a test's answers in (nullptr: the system's again). The answers must outlive their use.
void set_surroundings_for_tests(const surroundings* answers);

// The system's own answers; one file per system provides them.
const surroundings& system_surroundings();

// Opens a file named in UTF-8, as fopen does; on Windows through the wide functions, so a folder
// named in any script works whatever the system's code page.
std::FILE* open_utf8(const std::string& path, const char* mode);

// Makes the console show the UTF-8 the checker prints (Windows' console starts in another code
// page); elsewhere nothing to do.
void use_utf8_console();

} // namespace check
