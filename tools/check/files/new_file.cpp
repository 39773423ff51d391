#include "tools/check/files/new_file.h"

#include "plugin/settings/settings_files.h"
#include "tools/check/check_text.h"
#include "tools/check/files/surroundings.h"

#include <string_view>

namespace check {

namespace {

// The endings a new file never has: programs, corvane itself and its log; a picture not the
// settings file's either (a forgotten picture name puts the settings file's in its place).
constexpr std::string_view never_endings[] = {".dat", ".dll", ".exe", ".log"};

bool settings_ending(std::string_view ending) {
    const std::string_view name = plugin::settings_file_name;
    return name.substr(name.find('.')) == ending;
}

// Names Windows gives its devices: "NUL.svg" opens the device, whatever the extension.
constexpr std::string_view device_names[] = {"con", "prn", "aux", "nul"};
constexpr std::string_view numbered_devices[] = {"com", "lpt"};

const char* option_of(new_file_kind kind) {
    return kind == new_file_kind::picture ? "--svg" : "--template";
}

std::string example_of(new_file_kind kind) {
    return kind == new_file_kind::picture ? "aim.svg" : plugin::settings_file_name;
}

bool is_drive_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The device a file name stands for ("nul" for "NUL.svg" or "nul .txt"), or empty.
std::string device_of(const std::string& name) {
    std::string stem = lower_ascii(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (std::string_view device : device_names)
        if (stem == device) return stem;
    for (std::string_view device : numbered_devices)
        if (stem.size() == 4 && stem.compare(0, 3, device) == 0 && stem[3] >= '1' && stem[3] <= '9')
            return stem;
    return {};
}

// Plain words for a file that was not written, and where to go next: one wording for --svg
// and --template.
std::string not_written_text(const std::string& path, write_failure failure, new_file_kind kind) {
    const std::string name = quoted(path);
    switch (failure) {
    case write_failure::exists:
        return "nothing was written: " + name + " already exists and is left as it is " +
               "(corvane-check never writes over a file). Name a new file, or move that one " +
               "away first.";
    case write_failure::invalid_name:
        return "nothing was written: " + name + " is not a name the system allows for a file " +
               "(a character such as ? * < > | \" in it, or too long). Choose a plain name, " +
               "such as " + example_of(kind) + ".";
    case write_failure::folder_missing:
        return "nothing was written: the folder of " + name + " does not exist. Check its " +
               "name, or choose a folder that exists, such as Documents.";
    case write_failure::not_allowed:
        return "nothing was written: the folder of " + name + " is read-only or protected. " +
               "Choose a folder you can write to, such as Documents.";
    case write_failure::disk_full:
        return "nothing was written to " + name + ": the disk is full. Free some space, or " +
               "choose a folder on another disk.";
    case write_failure::none:
    case write_failure::other:
        break;
    }
    return "nothing was written to " + name + ": the system would not create or fill it, " +
           "and gave no reason corvane-check knows. Try again, or choose another folder.";
}

} // namespace

std::string refused_name(const std::string& path, new_file_kind kind) {
    const std::string shown = quoted(path);
    const std::string instead = " Name a file of its own, such as " + example_of(kind) + ".";
    const bool drive = path.size() >= 2 && is_drive_letter(path[0]) && path[1] == ':';
    if (path.find(':', drive ? 2 : 0) != std::string::npos)
        return shown + " has a colon after the drive part: Windows would write into a hidden " +
               "part of the file named before it, not a file of its own." + instead;
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        std::string kept = name;
        while (!kept.empty() && (kept.back() == '.' || kept.back() == ' '))
            kept.pop_back();
        return shown + " ends in a dot or a blank, which Windows drops from a name: it would " +
               "write " + quoted(kept) + " instead." + instead;
    }
    if (const std::string device = device_of(name); !device.empty())
        return shown + " is the name of a Windows device (" + device +
               "), not of a file, whatever follows the dot." + instead;
    const std::string folded = lower_ascii(name);
    const bool picture = kind == new_file_kind::picture;
    for (std::string_view ending : never_endings) {
        if (folded.ends_with(ending) && (picture || !settings_ending(ending)))
            return shown + " ends in " + std::string(ending) + ", and " + option_of(kind) +
                   " never writes a file ending in " +
                   (picture ? ".dat, .dll, .exe or .log (settings, programs, corvane's log)."
                            : ".dll, .exe or .log (programs, corvane's log).") +
                   instead;
    }
    return {};
}

bool write_new(const std::string& path, const std::string& content, new_file_kind kind,
               std::string& err) {
    std::string why = refused_name(path, kind);
    if (why.empty()) {
        const write_failure failure = write_new_file(path, content);
        if (failure == write_failure::none) return true;
        why = not_written_text(path, failure, kind);
    } else {
        why = "nothing was written: " + why;
    }
    err += wrap_lines("corvane-check: " + why + "\n", report_width);
    return false;
}

} // namespace check
