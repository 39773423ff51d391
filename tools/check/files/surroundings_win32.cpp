// corvane-check's surroundings on Windows.
#include "tools/check/files/surroundings.h"

#include "plugin/settings/settings_files.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace check {

namespace {

std::wstring wide(const std::string& utf8) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
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
    return utf8(folder);
}

write_failure failure_of(DWORD error, const std::wstring& path) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return write_failure::exists;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        return write_failure::invalid_name;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return write_failure::folder_missing;
    case ERROR_ACCESS_DENIED:
        // A folder of that name answers "access denied" too: it is there, and left alone.
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES
                   ? write_failure::exists
                   : write_failure::not_allowed;
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
        return write_failure::not_allowed;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return write_failure::disk_full;
    default:
        return write_failure::other;
    }
}

unsigned programs_on_console() {
    DWORD processes[4];
    return GetConsoleProcessList(processes, 4);
}

bool input_is_console() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    return input != nullptr && input != INVALID_HANDLE_VALUE &&
           GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode);
}

void wait_for_enter() {
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
}

const surroundings windows = {program_folder, programs_on_console, input_is_console, wait_for_enter,
                              unlimited_room};

} // namespace

const surroundings& system_surroundings() {
    return windows;
}

std::FILE* open_utf8(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

write_failure write_new_file(const std::string& path, const std::string& content) {
    const std::wstring name = wide(path);
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure_of(GetLastError(), name);
    const std::size_t room = current_surroundings().room_on_disk();
    DWORD error = ERROR_SUCCESS;
    std::size_t done = 0;
    while (done < content.size()) {
        if (done >= room) {
            error = ERROR_DISK_FULL;
            break;
        }
        DWORD written = 0;
        const std::size_t left = std::min(content.size(), room) - done;
        const DWORD want = static_cast<DWORD>(left < (1u << 20) ? left : (1u << 20));
        if (!WriteFile(file, content.data() + done, want, &written, nullptr) || written == 0) {
            error = GetLastError();
            if (error == ERROR_SUCCESS) error = ERROR_DISK_FULL;
            break;
        }
        done += written;
    }
    if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS) return write_failure::none;
    DeleteFileW(name.c_str()); // created here a moment ago: nobody else's file
    const write_failure failure = failure_of(error, name);
    return failure == write_failure::exists ? write_failure::other : failure;
}

replaceable can_replace(const std::string& path) {
    const std::wstring name = wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return replaceable::file_read_only;
    // A folder's read-only mark means nothing to Windows: whether a file can be made there
    // says it, and the file corvane makes first when it saves is the one to try.
    const std::size_t separator = name.find_last_of(L"\\/");
    const std::wstring folder =
        separator == std::wstring::npos ? std::wstring() : name.substr(0, separator + 1);
    const std::wstring probe = folder + wide(plugin::settings_new_name);
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return replaceable::yes;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT
               ? replaceable::folder_read_only
               : replaceable::yes;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** const wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide_args) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(utf8(wide_args[i]));
    LocalFree(wide_args);
    return args;
}

utf8_console::utf8_console() {
    const UINT current = GetConsoleOutputCP();
    if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) previous_ = current;
}

utf8_console::~utf8_console() {
    if (previous_) SetConsoleOutputCP(previous_);
}

} // namespace check
