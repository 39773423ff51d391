// Windows' VirtualStore, seen from corvane-check: an old game in a folder Windows protects (under
// Program Files), run without administrator rights, writes its files into a copy of its folder in
// the player's VirtualStore folder and from then on reads the copy there. A player who edits the
// file in the game's folder then sees nothing change. The checker looks for those copies of the
// settings file and of the log, and says which one the game reads and how to end the split.
#pragma once

#include <string>

namespace check {

// The copy in the player's VirtualStore folder (`local`: the local application data folder)
// that Windows keeps of `path` (UTF-8, a full path), by the rule the module follows
// (platform/windows_rules.h). Empty where `local` is.
std::string virtual_store_path(const std::string& local, const std::string& path);

// What the checker says of the VirtualStore copies of aimingSets.dat and corvane.log that belong
// to `folder` (the one that holds corvane.dll, UTF-8): for each that is there and differs from
// the file in the folder, which one the game reads and how to end the split; empty where there
// is none. The local application data folder is the environment's (LOCALAPPDATA).
std::string virtual_store_text(const std::string& folder);

} // namespace check
