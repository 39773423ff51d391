// The command line of corvane-check.
#include "tools/check/settings_check.h"

#include "corvane/version.h"

#include <cstdio>

namespace check {

namespace {

constexpr const char usage[] =
    "usage: corvane-check [--json] [--svg OUT.svg] FILE\n"
    "       corvane-check --template > aimingSets.dat\n"
    "       corvane-check --version\n"
    "Tells what the module will do with each line of the settings file FILE.\n"
    "  --json          the report as JSON, for tools\n"
    "  --svg OUT.svg   also draw the weapons' aim points around the player into OUT.svg\n"
    "  --template      print a complete starter settings file\n"
    "  --version       print the version of corvane this checker belongs to\n"
    "Exit status: 0 the file reads cleanly (notes or not), 1 it has warnings, 2 it cannot be\n"
    "read.\n";

bool write_file(const std::string& path, const std::string& content) {
    std::FILE* const file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int run_check_command(const std::vector<std::string>& args, std::string& out, std::string& err) {
    bool json = false, template_wanted = false;
    std::string svg_path, file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out += usage;
            return 0;
        } else if (arg == "--version") {
            out += std::string("corvane-check ") + corvane::version + "\n";
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--template") {
            template_wanted = true;
        } else if (arg == "--svg" && i + 1 < args.size()) {
            svg_path = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            err += "corvane-check: unknown option '" + arg + "'\n" + usage;
            return 2;
        } else if (file.empty()) {
            file = arg;
        } else {
            err += "corvane-check: give one settings file\n" + std::string(usage);
            return 2;
        }
    }
    if (template_wanted) {
        if (!file.empty() || json || !svg_path.empty()) {
            err += "corvane-check: --template takes nothing else\n" + std::string(usage);
            return 2;
        }
        out += settings_template();
        return 0;
    }
    if (file.empty()) {
        err += usage;
        return 2;
    }

    const check_result result = check_settings_file(file);
    if (!result.readable) {
        err += "corvane-check: cannot read '" + file + "': " + result.error + "\n";
        if (json) out += json_report(result);
        return result.exit_status();
    }
    out += json ? json_report(result) : text_report(result);
    if (!svg_path.empty()) {
        if (!write_file(svg_path, aim_points_svg(result))) {
            err += "corvane-check: cannot write '" + svg_path + "'\n";
            return 2;
        }
        if (!json) out += "\naim points drawn in " + svg_path + "\n";
    }
    return result.exit_status();
}

} // namespace check
