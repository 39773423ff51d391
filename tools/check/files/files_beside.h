// Finding the files corvane-check looks at when it is given no names: the settings file in its
// own folder (and, when that is missing, the usual ways a save goes astray), and the programs
// there that may be the game.
#pragma once

#include <string>
#include <vector>

namespace check {

// How a file that may hold the player's settings was found.
enum class settings_found_as {
    exact,        // aimingSets.dat, where the module looks
    other_case,   // the same name with other capitals, on a system where that matters
    other_name,   // aimingSets.dat.txt, aimingSets (1).dat, aimingSet.dat...: a name corvane
                  // does not look for, given by an editor, a browser, Explorer or a slip
    in_subfolder, // in a folder below, where the module does not look
};

struct settings_candidate {
    std::string path;  // full path, UTF-8
    std::string shown; // the path from the folder searched, as the player would type it
    settings_found_as how = settings_found_as::exact;
};

// Where corvane.dll lies, seen from the checker's own folder: beside it, or else in a folder
// directly below it (a loader's plug-ins folder), the first in name order. A second copy in
// another of those places is named too: a game that loads both runs two copies of corvane.
struct module_place {
    bool found = false;
    std::string folder; // the folder that holds it, UTF-8; the checker's own when not found
    std::string below;  // the folder below's name, as the player sees it; empty when beside
    std::vector<std::string> others; // the folders below that hold another copy, by name
};
module_place find_module(const std::string& folder);

// Plain words for a module found in a folder below, or not found at all, and for other copies;
// empty when it lies beside the checker alone.
std::string module_place_text(const module_place& place);

// The settings file in `folder`: the exact name alone when it is there as a file; otherwise
// every near miss in the folder and in the folders right below it, in name order.
std::vector<settings_candidate> look_for_settings(const std::string& folder);

// `name` in `folder`, with the system's separator; UTF-8.
std::string path_in(const std::string& folder, const std::string& name);

// Files beside the settings file at `settings_path` whose names are near misses of its name (a
// copy's, one with an extension added) and that were saved after it: a player may have edited
// one of them, which corvane does not read. corvane's own backup is none of them.
std::vector<settings_candidate> newer_near_misses(const std::string& settings_path);

// What has to happen before corvane reads a file found other than exactly where it looks:
// "it is renamed to aimingSets.dat", "it is moved up into the folder that holds corvane.dll".
std::string not_read_until(const settings_candidate& found);

// What has to happen before corvane reads the settings file at `path` (UTF-8; made absolute
// first) from a corvane.dll beside it, when its path or corvane's own is too long for corvane
// (plugin/settings/settings_files.h decides); empty when both fit.
std::string not_read_until_path_fits(const std::string& path);

// The same for a file checked where no corvane.dll was found.
std::string not_read_without_module();

// What a name given on the command line is, so a player is told "not found" or "a folder"
// rather than a system's message.
enum class path_kind { missing, folder, file };
path_kind kind_of_path(const std::string& path);

// Why a file named on the command line cannot be read, in plain words: `what` names it ("the
// settings file"), `error` is the system's word for a file that is there.
std::string unreadable_text(const std::string& path, const char* what, const std::string& error);

// Plain words for a folder without the exact name: what was found instead, and what to do.
std::string missing_settings_text(const std::string& folder,
                                  const std::vector<settings_candidate>& found);

// The programs in `folder` that may be the game: every .exe but corvane-check itself, in name
// order, as full UTF-8 paths.
std::vector<std::string> programs_in(const std::string& folder);

} // namespace check
