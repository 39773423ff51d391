#include "tools/check/files/files_beside.h"

#include "plugin/settings/settings_files.h"
#include "tools/check/check_text.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace check {

namespace {

namespace fs = std::filesystem;

constexpr const char checker_program[] = "corvane-check.exe";

// A name this many letters off the settings file's is taken for a slip of the keyboard.
constexpr int near_miss_letters = 2;

fs::path path_of(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A name's stem without the marks a copy gets: "aimingsets (1)" from a browser's second
// download, "aimingsets - copy" or "copy of aimingsets" from Explorer (in any language: the
// words after " - " go). Folded to lower case already.
std::string without_copy_marks(std::string stem) {
    for (bool changed = true; changed;) {
        changed = false;
        const std::size_t open = stem.rfind('(');
        if (!stem.empty() && stem.back() == ')' && open != std::string::npos &&
            stem.find_first_not_of("0123456789", open + 1) == stem.size() - 1) {
            stem.erase(open);
            changed = true;
        }
        while (!stem.empty() && stem.back() == ' ') {
            stem.pop_back();
            changed = true;
        }
        const std::size_t dash = stem.find(" - ");
        if (dash != std::string::npos) {
            stem.erase(dash);
            changed = true;
        }
        if (stem.compare(0, 5, "copy ") == 0 && stem.find(" of ") != std::string::npos) {
            stem.erase(0, stem.find(" of ") + 4); // "copy of x", "copy (2) of x"
            changed = true;
        }
    }
    return stem;
}

// How a name in a folder relates to the settings file's, if at all: the same name, the same
// name in other capitals, or a near miss: the name with an extension added or changed
// ("aimingSets.dat.txt", "aimingSets.txt", "aimingSets.dat.dat"), a copy's name
// ("aimingSets (1).dat"), or a spelling one or two letters off ("aimingSet.dat"), in any case.
bool near_settings_name(const std::string& name, settings_found_as& how) {
    const std::string wanted = plugin::settings_file_name;
    // corvane's own files beside it: the backup of the file as it was, the new file of a save.
    const std::string folded_name = lower_ascii(name);
    if (folded_name == lower_ascii(plugin::settings_backup_name) ||
        folded_name == lower_ascii(plugin::settings_new_name))
        return false;
    if (name == wanted) {
        how = settings_found_as::exact;
        return true;
    }
    const std::string folded = lower_ascii(name), folded_wanted = lower_ascii(wanted);
    if (folded == folded_wanted) {
        how = settings_found_as::other_case;
        return true;
    }
    const std::size_t dot = folded_wanted.find('.');
    const std::string wanted_stem = folded_wanted.substr(0, dot);
    const std::string wanted_extension = folded_wanted.substr(dot); // ".dat"
    const std::string stem = without_copy_marks(folded.substr(0, folded.find('.')));
    if (stem.empty() || edit_distance(stem, wanted_stem, near_miss_letters) > near_miss_letters)
        return false;
    // Only an extension an editor or a slip gives the settings file: none, its own, ".txt",
    // or its own with more after it ("aimingSets.dat.txt"). A picture, a backup or a program
    // of that name is some other file.
    const std::string extension =
        folded.find('.') == std::string::npos ? std::string() : folded.substr(folded.find('.'));
    if (!extension.empty() && extension != wanted_extension && extension != ".txt" &&
        extension.compare(0, wanted_extension.size() + 1, wanted_extension + ".") != 0)
        return false;
    how = settings_found_as::other_name;
    return true;
}

std::vector<fs::directory_entry> entries_of(const fs::path& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    return entries;
}

bool is_file(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_regular_file(error);
}

bool is_folder(const fs::directory_entry& entry) {
    std::error_code error;
    return entry.is_directory(error);
}

} // namespace

module_place find_module(const std::string& folder) {
    const std::string wanted = lower_ascii(plugin::module_file_name);
    const auto holds_module = [&wanted](const fs::path& where) {
        for (const fs::directory_entry& entry : entries_of(where))
            if (is_file(entry) && lower_ascii(utf8_of(entry.path().filename())) == wanted)
                return true;
        return false;
    };
    const fs::path base = path_of(folder);
    module_place place{false, folder, {}, {}};
    if (holds_module(base)) place.found = true;
    for (const fs::directory_entry& entry : entries_of(base)) {
        if (!is_folder(entry) || !holds_module(entry.path())) continue;
        if (place.found) {
            place.others.push_back(utf8_of(entry.path().filename()));
            continue;
        }
        place = {true, utf8_of(entry.path()), utf8_of(entry.path().filename()), {}};
    }
    return place;
}

std::string module_place_text(const module_place& place) {
    const std::string module = plugin::module_file_name, name = plugin::settings_file_name;
    if (!place.found)
        return "There is no " + module +
               " beside corvane-check or in a folder directly below "
               "it. corvane reads " +
               name + " from the folder that holds " + module +
               ": put corvane-check in that folder and start it again.\n";
    std::string text;
    if (!place.below.empty())
        text = "Found " + module + " in the folder " + place.below +
               " below corvane-check: checking the " + name +
               " in that folder, the one corvane reads.\n";
    if (place.others.empty()) return text;
    std::string others;
    for (const std::string& other : place.others)
        others += (others.empty() ? "" : ", ") + other;
    return text + module + " is also in the folder" + (place.others.size() > 1 ? "s " : " ") +
           others +
           " below corvane-check. If the game loads plug-ins from there too, two copies of "
           "corvane run, each with the " +
           name + " beside it, and the one loaded last decides the aim: keep one copy.\n";
}

std::string not_read_without_module() {
    return std::string("it lies beside ") + plugin::module_file_name;
}

namespace {

// How many UTF-16 units Windows spells `utf8` with: one per character, two beyond U+FFFF.
std::size_t utf16_units(const std::string& utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

} // namespace

std::string not_read_until_path_fits(const std::string& path) {
    std::error_code error;
    fs::path full = fs::absolute(path_of(path), error);
    if (error) full = path_of(path);
    const std::size_t settings_units = utf16_units(utf8_of(full));
    const std::size_t module_units =
        utf16_units(utf8_of(full.parent_path() / plugin::module_file_name));
    if (plugin::path_beside_module_fits(settings_units) && plugin::module_path_fits(module_units))
        return "";
    return "it lies in a folder with a shorter path (" + std::string(plugin::path_too_long_words) +
           ": " + std::to_string(settings_units) + ")";
}

std::string path_in(const std::string& folder, const std::string& name) {
    return utf8_of(path_of(folder) / path_of(name));
}

std::string not_read_until(const settings_candidate& found) {
    const std::string name = plugin::settings_file_name;
    if (found.how != settings_found_as::in_subfolder) return "it is renamed to " + name;
    const std::string file = utf8_of(path_of(found.path).filename());
    return std::string("it is moved up into the folder that holds ") + plugin::module_file_name +
           (file == name ? std::string() : " and renamed to " + name);
}

path_kind kind_of_path(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path_of(path), error);
    if (fs::is_directory(status)) return path_kind::folder;
    return fs::exists(status) ? path_kind::file : path_kind::missing;
}

std::vector<settings_candidate> look_for_settings(const std::string& folder) {
    const fs::path base = path_of(folder);
    std::error_code error;
    const fs::path exact = base / plugin::settings_file_name;
    if (fs::is_regular_file(exact, error))
        return {{utf8_of(exact), plugin::settings_file_name, settings_found_as::exact}};

    std::vector<settings_candidate> found;
    std::vector<fs::path> below;
    for (const fs::directory_entry& entry : entries_of(base)) {
        settings_found_as how{};
        if (is_folder(entry))
            below.push_back(entry.path());
        else if (is_file(entry) && near_settings_name(utf8_of(entry.path().filename()), how))
            found.push_back({utf8_of(entry.path()), utf8_of(entry.path().filename()), how});
    }
    for (const fs::path& sub : below)
        for (const fs::directory_entry& entry : entries_of(sub)) {
            settings_found_as how{};
            if (is_file(entry) && near_settings_name(utf8_of(entry.path().filename()), how))
                found.push_back({utf8_of(entry.path()),
                                 utf8_of(sub.filename() / entry.path().filename()),
                                 settings_found_as::in_subfolder});
        }
    return found;
}

std::vector<settings_candidate> newer_near_misses(const std::string& settings_path) {
    std::error_code error;
    const fs::path exact = path_of(settings_path);
    const fs::file_time_type saved = fs::last_write_time(exact, error);
    if (error) return {};
    std::vector<settings_candidate> found;
    for (const fs::directory_entry& entry : entries_of(exact.parent_path())) {
        settings_found_as how{};
        if (entry.path().filename() == exact.filename() || !is_file(entry) ||
            !near_settings_name(utf8_of(entry.path().filename()), how))
            continue;
        const fs::file_time_type time = entry.last_write_time(error);
        if (!error && time > saved)
            found.push_back({utf8_of(entry.path()), utf8_of(entry.path().filename()), how});
    }
    return found;
}

std::string missing_settings_text(const std::string& folder,
                                  const std::vector<settings_candidate>& found) {
    const std::string name = plugin::settings_file_name;
    std::string text = "There is no " + name + " in " + folder + ".\n";
    for (const settings_candidate& candidate : found) {
        text += "  Found " + candidate.shown + ": ";
        switch (candidate.how) {
        case settings_found_as::exact:
            text += "this is the file corvane reads.\n";
            break;
        case settings_found_as::other_case:
            text += "the same name with other capitals. Where capitals matter, as here, corvane "
                    "will not read it: rename it to " +
                    name + ".\n";
            break;
        case settings_found_as::other_name:
            text += "corvane looks for " + name +
                    " exactly, so it will not read this file. Rename it to " + name +
                    " (if Windows hides the ends of file names, turn on \"File name extensions\" "
                    "in Explorer's View menu to see the whole name).\n";
            break;
        case settings_found_as::in_subfolder:
            text += "it is in a folder below, and corvane only looks in the folder that holds " +
                    std::string(plugin::module_file_name) + ". Move it up into that folder" +
                    (utf8_of(path_of(candidate.path).filename()) == name
                         ? std::string(".\n")
                         : " and rename it to " + name + ".\n");
            break;
        }
    }
    if (found.empty())
        text += "  corvane reads its settings from " + name + " in the folder that holds " +
                plugin::module_file_name +
                ". Put your file there, or write a starter "
                "file with:\n    corvane-check --template " +
                name + "\n";
    return text;
}

std::string unreadable_text(const std::string& path, const char* what, const std::string& error) {
    switch (kind_of_path(path)) {
    case path_kind::missing:
        return std::string(what) + " " + quoted(path) +
               " was not found. Check the name and the folder it is in.";
    case path_kind::folder:
        return quoted(path) + " is a folder, not " + what + ". Name " + what + " in it.";
    case path_kind::file:
        break;
    }
    return "cannot read " + quoted(path) + ": " + error;
}

std::vector<std::string> programs_in(const std::string& folder) {
    std::vector<std::string> programs;
    for (const fs::directory_entry& entry : entries_of(path_of(folder))) {
        const std::string name = lower_ascii(utf8_of(entry.path().filename()));
        if (!is_file(entry) || name == checker_program) continue;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
            programs.push_back(utf8_of(entry.path()));
    }
    return programs;
}

} // namespace check
