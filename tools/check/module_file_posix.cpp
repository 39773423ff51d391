// Elsewhere the file is read whole and its Windows text-mode reading handed over as a new file.
#include "tools/check/module_file.h"

#include <cerrno>

namespace check {

std::FILE* open_as_the_module_does(const std::string& path) {
    std::FILE* const raw = std::fopen(path.c_str(), "rb");
    if (!raw) return nullptr;
    std::string bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, raw)) > 0)
        bytes.append(chunk, got);
    const bool failed = std::ferror(raw);
    const int error = errno;
    std::fclose(raw);
    if (failed) {
        errno = error;
        return nullptr;
    }
    const std::string text = windows_text_mode(bytes);
    std::FILE* const copy = std::tmpfile();
    if (!copy) return nullptr;
    if (std::fwrite(text.data(), 1, text.size(), copy) != text.size()) {
        std::fclose(copy);
        return nullptr;
    }
    std::rewind(copy);
    return copy;
}

} // namespace check
