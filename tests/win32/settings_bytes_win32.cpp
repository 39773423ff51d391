// The C runtime's text mode, as the module read its settings file before it read bytes itself.
#include "settings_bytes.h"

#include <filesystem>
#include <process.h>
#include <string>
#include <stdexcept>

namespace test_text {

std::optional<std::string> c_runtime_text_mode(const std::string& bytes) {
    // A name of this process's own: test programs may run side by side (ctest -j).
    const std::string name = (std::filesystem::temp_directory_path() /
                              ("corvane-text-mode-" + std::to_string(_getpid()) + ".dat"))
                                 .string();
    std::FILE* out = std::fopen(name.c_str(), "wb");
    if (!out) throw std::runtime_error("cannot write " + name);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    std::fclose(out);
    std::FILE* in = written ? std::fopen(name.c_str(), "r") : nullptr;
    if (!in) {
        std::remove(name.c_str());
        throw std::runtime_error("cannot write and reopen " + name);
    }
    // Character by character through the stream's buffer, as fgets reads.
    std::string text;
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in))
        text += static_cast<char>(c);
    std::fclose(in);
    std::remove(name.c_str());
    return text;
}

} // namespace test_text
