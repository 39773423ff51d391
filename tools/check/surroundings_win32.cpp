// corvane-check's surroundings on Windows.
#include "tools/check/surroundings.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace check {

namespace {

std::wstring wide(const std::string& utf8) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string program_folder() {
    // Long enough for any path Windows gives; a name that fills it is cut and of no use.
    static wchar_t name[32768];
    const DWORD length = GetModuleFileNameW(nullptr, name, sizeof name / sizeof name[0]);
    if (length == 0 || length >= sizeof name / sizeof name[0]) return {};
    std::wstring folder(name, length);
    const std::size_t separator = folder.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return {};
    folder.resize(separator);
    const int size = WideCharToMultiByte(CP_UTF8, 0, folder.data(), static_cast<int>(folder.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, folder.data(), static_cast<int>(folder.size()), utf8.data(),
                        size, nullptr, nullptr);
    return utf8;
}

unsigned programs_on_console() {
    DWORD processes[4];
    return GetConsoleProcessList(processes, 4);
}

void wait_for_enter() {
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
}

const surroundings windows = {program_folder, programs_on_console, wait_for_enter};

} // namespace

const surroundings& system_surroundings() {
    return windows;
}

std::FILE* open_utf8(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

void use_utf8_console() {
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace check
