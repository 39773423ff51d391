// The command line of corvane-check.
#include "tools/check/settings_check.h"

#include "corvane/version.h"
#include "plugin/settings.h"
#include "tools/check/files_beside.h"
#include "tools/check/game_build.h"
#include "tools/check/surroundings.h"

#include <cstdio>

namespace check {

namespace {

constexpr const char usage[] =
    "usage: corvane-check [--json] [--svg OUT.svg] [--game GAME.exe] [FILE]\n"
    "       corvane-check --template FILE\n"
    "       corvane-check --version\n"
    "Tells what the module will do with each line of the settings file FILE. Without FILE it\n"
    "checks aimingSets.dat in its own folder, and the game's program beside it.\n"
    "  --json           the report as JSON, for tools\n"
    "  --svg OUT.svg    also draw the weapons' aim points around the player into OUT.svg\n"
    "  --game GAME.exe  also tell which build of the game GAME.exe is, and what works on it\n"
    "  --template FILE  write a complete starter settings file to FILE (never over another)\n"
    "  --version        print the version of corvane this checker belongs to\n"
    "Exit status: 0 the file reads cleanly (notes or not), 1 it has warnings, 2 it cannot be\n"
    "read or is not where the module looks.\n";

constexpr const char press_enter[] = "\nPress Enter to close this window.\n";

bool write_file(const std::string& path, const std::string& content) {
    std::FILE* const file = open_utf8(path, "wb");
    if (!file) return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && written;
}

bool file_exists(const std::string& path) {
    std::FILE* const file = open_utf8(path, "rb");
    if (file) std::fclose(file);
    return file != nullptr;
}

// The starter file as Windows editors write it: CR LF line ends and no byte-order mark.
std::string with_windows_line_ends(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

int write_template(const std::string& path, std::string& out, std::string& err) {
    if (file_exists(path)) {
        err += "corvane-check: '" + path +
               "' already exists and is left as it is; name a new file, or delete that one "
               "first\n";
        return 2;
    }
    if (!write_file(path, with_windows_line_ends(settings_template()))) {
        err += "corvane-check: cannot write '" + path + "'\n";
        return 2;
    }
    out += "wrote a starter settings file to " + path + "\n";
    return 0;
}

// What the command was asked to do.
struct request {
    bool json = false;
    bool template_wanted = false;
    std::string template_file;
    std::string svg_path;
    std::string game_path;
    std::string file;
};

// The programs beside the checker worth reporting: the ones of a build the module knows, or,
// when none is, every one, so the player sees what each is.
std::vector<game_build> builds_beside(const std::string& folder) {
    std::vector<game_build> all, known;
    for (const std::string& program : programs_in(folder)) {
        all.push_back(identify_game_build(program));
        if (all.back().verdict == build_verdict::keys_and_reload ||
            all.back().verdict == build_verdict::settings_only)
            known.push_back(all.back());
    }
    return known.empty() ? all : known;
}

std::string builds_text(const std::vector<game_build>& builds, bool looked_beside) {
    std::string text;
    for (const game_build& build : builds)
        text += "\n" + game_build_text(build);
    if (builds.empty() && looked_beside)
        text += "\ngame: no program beside corvane-check. Put corvane-check in the game's folder, "
                "or name the game's program with --game, to learn whether the keys and live "
                "reload work on its build.\n";
    return text;
}

} // namespace

int run_check_command(const std::vector<std::string>& args, std::string& out, std::string& err) {
    request r;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            out += usage;
            return 0;
        } else if (arg == "--version") {
            out += std::string("corvane-check ") + corvane::version + "\n";
            return 0;
        } else if (arg == "--json") {
            r.json = true;
        } else if (arg == "--template") {
            r.template_wanted = true;
            if (has_value && args[i + 1].rfind("-", 0) != 0) r.template_file = args[++i];
        } else if (arg == "--svg" && has_value) {
            r.svg_path = args[++i];
        } else if (arg == "--game" && has_value) {
            r.game_path = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            err += "corvane-check: unknown option '" + arg + "'\n" + usage;
            return 2;
        } else if (r.file.empty()) {
            r.file = arg;
        } else {
            err += "corvane-check: give one settings file\n" + std::string(usage);
            return 2;
        }
    }
    if (r.template_wanted) {
        if (!r.file.empty() || r.json || !r.svg_path.empty() || !r.game_path.empty()) {
            err += "corvane-check: --template takes nothing else\n" + std::string(usage);
            return 2;
        }
        if (!r.template_file.empty()) return write_template(r.template_file, out, err);
        out += settings_template();
        return 0;
    }

    std::vector<game_build> builds;
    if (!r.game_path.empty()) builds.push_back(identify_game_build(r.game_path));
    const bool beside = r.file.empty();
    if (beside) {
        const std::string folder = current_surroundings().program_folder();
        if (folder.empty()) {
            err += "corvane-check: cannot tell which folder it is in; name the settings file\n" +
                   std::string(usage);
            return 2;
        }
        if (r.game_path.empty()) builds = builds_beside(folder);
        const std::vector<settings_candidate> found = look_for_settings(folder);
        if (found.empty() || found[0].how != settings_found_as::exact) {
            check_result missing;
            missing.file = path_in(folder, plugin::settings_file_name);
            missing.error = "not found";
            if (r.json) {
                out += json_report(missing, builds);
                return missing.exit_status();
            }
            out += missing_settings_text(folder, found);
            if (!found.empty()) {
                out += "\nWhat the module would make of " + found[0].shown + " as " +
                       plugin::settings_file_name + " beside corvane.dll:\n\n" +
                       text_report(check_settings_file(found[0].path));
            }
            out += builds_text(builds, true);
            return missing.exit_status();
        }
        r.file = found[0].path;
    }

    const check_result result = check_settings_file(r.file);
    if (!result.readable) {
        err += "corvane-check: cannot read '" + r.file + "': " + result.error + "\n";
        if (r.json) out += json_report(result, builds);
        return result.exit_status();
    }
    out += r.json ? json_report(result, builds) : text_report(result) + builds_text(builds, beside);
    if (!r.svg_path.empty()) {
        if (!write_file(r.svg_path, aim_points_svg(result))) {
            err += "corvane-check: cannot write '" + r.svg_path + "'\n";
            return 2;
        }
        if (!r.json) out += "\naim points drawn in " + r.svg_path + "\n";
    }
    return result.exit_status();
}

int run_check_program(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    use_utf8_console();
    std::string out_text, err_text;
    const int status = run_check_command(args, out_text, err_text);
    std::fwrite(out_text.data(), 1, out_text.size(), out);
    std::fflush(out);
    std::fwrite(err_text.data(), 1, err_text.size(), err);
    std::fflush(err);
    // Started from Explorer, the window closes with the program: keep it open to be read.
    const surroundings& around = current_surroundings();
    if (around.programs_on_console() == 1) {
        std::fputs(press_enter, out);
        std::fflush(out);
        around.wait_for_enter();
    }
    return status;
}

} // namespace check
