#include "tools/check/files/virtual_store.h"

#include "platform/os.h"
#include "platform/utf16_text.h"
#include "platform/windows_rules.h"
#include "plugin/log/virtual_store_words.h"
#include "plugin/settings/settings_files.h"
#include "tools/check/check_text.h"
#include "tools/check/files/files_beside.h"
#include "tools/check/files/surroundings.h"

#include <iterator>
#include <optional>
#include <utility>

namespace check {

namespace {

// The player's local application data folder, UTF-8; empty when the environment has none.
std::string local_app_data() {
    constexpr auto name = os::utf16_from_ascii(os::local_app_data_variable);
    char16_t folder[os::max_path + 1];
    if (os::environment_variable(name.text, folder, std::size(folder)) == 0) return {};
    char utf8[3 * (os::max_path + 1)];
    return std::string(utf8, os::utf8_from_utf16(folder, utf8, sizeof utf8));
}

// The bytes of the file at `path`; none when it cannot be opened or read.
std::optional<std::string> bytes_of(const std::string& path) {
    std::FILE* const file = open_utf8(path, "rb");
    if (!file) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    const bool whole = std::ferror(file) == 0;
    std::fclose(file);
    return whole ? std::optional<std::string>(std::move(bytes)) : std::nullopt;
}

} // namespace

std::string virtual_store_path(const std::string& local, const std::string& path) {
    if (local.empty()) return {};
    const char* const rest = os::path_after_drive(path.c_str());
    const bool separated = *rest == '\\' || *rest == '/';
    return local + '\\' + os::virtual_store_folder + (separated ? "" : "\\") + rest;
}

std::string virtual_store_text(const std::string& folder) {
    const std::string local = local_app_data();
    if (local.empty()) return {};
    std::string text;
    for (const bool settings : {true, false}) {
        const char* const name = settings ? plugin::settings_file_name : plugin::log_file_name;
        const std::string copy = virtual_store_path(local, path_in(folder, name));
        if (kind_of_path(copy) != path_kind::file) continue;
        const std::optional<std::string> copied = bytes_of(copy);
        if (copied && copied == bytes_of(path_in(folder, name))) continue;
        const std::string said =
            settings ? std::string(name) + ": Windows keeps a second copy in " + copy +
                           ", and it differs from the file in the game's folder. The game reads "
                           "that copy, not the file this report is about: " +
                           plugin::virtual_store_why + ". To end the split, " +
                           plugin::virtual_store_cure + ".\n"
                     : std::string(name) + ": the game writes corvane's log into " + copy +
                           ", not beside " + plugin::module_file_name + ": " +
                           plugin::virtual_store_why + ".\n";
        text += '\n' + wrap_lines(said, report_width);
    }
    return text;
}

} // namespace check
