// Reading a settings file the way the module's C runtime shows it to the module.
//
// The module opens the file in Windows text mode ("r"): "\r\n" reads as "\n", and a Ctrl-Z byte
// ends the file. The checker must see the same lines on every system it runs on.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace check {

// The text that Windows text mode reads from a file holding `bytes`.
std::string windows_text_mode(std::string_view bytes);

// Opens the file at `path` so that the module's line reader sees what the module would: the real
// text mode on Windows, a copy made by windows_text_mode elsewhere. Null, with errno set, when
// the file cannot be read.
std::FILE* open_as_the_module_does(const std::string& path);

} // namespace check
