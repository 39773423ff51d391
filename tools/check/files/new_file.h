// What corvane-check writes (the picture of --svg, the starter file of --template): only a new
// file, never under a name that Windows would turn into another file or a device, and, when it
// writes nothing, plain words that say why and where to go next.
#pragma once

#include <string>

namespace check {

// What the new file is for: each kind refuses the names of the files it must never stand in for.
enum class new_file_kind { picture, settings };

// Why the name `path` is refused before anything is tried, in one sentence; empty when it is
// fine. Refused: a colon after the drive part (a hidden stream of another file), a name ending
// in a dot or a blank (Windows drops them, and writes another name), a Windows device name
// (CON, NUL, COM1...: any case, any extension), and the endings of the module's own files and
// programs (and, for a picture, of the settings file).
std::string refused_name(const std::string& path, new_file_kind kind);

// Creates the file `path` holding `content`, or appends to `err` why nothing was written: a
// refused name, or the reason the write failed. True when written.
bool write_new(const std::string& path, const std::string& content, new_file_kind kind,
               std::string& err);

} // namespace check
