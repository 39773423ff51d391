// The command line of corvane-check: what it was asked, what it looks at, and what it prints
// in which order. Writing files is new_file.h's job, the starter file settings_template.cpp's.
#include "tools/check/settings_check.h"

#include "corvane/version.h"
#include "plugin/settings/settings_files.h"
#include "tools/check/check_text.h"
#include "tools/check/files/files_beside.h"
#include "tools/check/files/game_build.h"
#include "tools/check/files/new_file.h"
#include "tools/check/files/surroundings.h"
#include "tools/check/files/virtual_store.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace check {

namespace {

constexpr const char usage[] =
    "usage: corvane-check [--json] [--svg OUT.svg] [--game GAME.exe] [FILE]\n"
    "       corvane-check --template [FILE]\n"
    "       corvane-check --version\n"
    "Tells what corvane will do with each line of the settings file FILE. Without\n"
    "FILE it checks aimingSets.dat in its own folder, and the game's program there.\n"
    "  --json           the report as JSON, for tools\n"
    "  --svg OUT.svg    also draw the weapons' aim points around the player\n"
    "  --game GAME.exe  also tell which build of the game it is, and what works\n"
    "  --template FILE  write a starter settings file to FILE (never over a file)\n"
    "  --version        print the version of corvane this checker belongs to\n"
    "Exit status: 0 the file reads cleanly (notes or not), 1 it has warnings, 2 it\n"
    "cannot be read or is not where corvane looks.\n";

constexpr const char press_enter[] = "\nPress Enter to close this window.\n";

// What the command was asked to do.
struct request {
    bool json = false;
    bool template_wanted = false;
    std::string template_file;
    std::string svg_path;
    std::string game_path;
    std::string file;
};

// The programs beside the checker worth reporting: the ones of a build corvane knows, or,
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
        text += '\n' + wrap_lines(game_build_text(build), report_width);
    if (builds.empty() && looked_beside)
        text += '\n' + wrap_lines("game: no program beside corvane-check. Put corvane-check in the "
                                  "game's folder, or name the game's program with --game, to "
                                  "learn whether the keys and live reload work on its build.\n",
                                  report_width);
    return text;
}

// A copy of the settings file saved after it, beside it: the player may have edited the copy.
void say_newer_copies(check_result& result) {
    const std::size_t separator = result.file.find_last_of("/\\");
    if (result.file.substr(separator == std::string::npos ? 0 : separator + 1) !=
        plugin::settings_file_name)
        return;
    std::vector<check_warning> notes;
    for (const settings_candidate& copy : newer_near_misses(result.file))
        notes.push_back(
            {1, warning_code::newer_copy,
             copy.shown + " beside it was saved after it; corvane reads only " +
                 plugin::settings_file_name + ", so what " + copy.shown + " holds does not count",
             "if " + copy.shown + " is the file you edited, copy its lines into " +
                 plugin::settings_file_name + ", or delete " + plugin::settings_file_name +
                 " and rename " + copy.shown + " to " + plugin::settings_file_name});
    result.notes.insert(result.notes.begin(), notes.begin(), notes.end());
}

} // namespace

int run_check_command(const std::vector<std::string>& args, std::string& out, std::string& err) {
    request r;
    // Every option is taken once, and a value is never a word that starts with '-': "--svg
    // --json" is an option without its file, not a picture named "--json".
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0;
        if (arg.size() > 1 && arg[0] == '-') {
            if (std::find(seen.begin(), seen.end(), arg) != seen.end()) {
                err += "corvane-check: " + arg + " is given twice\n" + std::string(usage);
                return 2;
            }
            seen.push_back(arg);
        }
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
            if (has_value) r.template_file = args[++i];
        } else if (arg == "--svg" && has_value) {
            r.svg_path = args[++i];
        } else if (arg == "--game" && has_value) {
            r.game_path = args[++i];
        } else if (arg == "--svg" || arg == "--game") {
            err += "corvane-check: " + arg + " needs a file name after it (" + arg +
                   (arg == "--svg" ? " aim.svg" : " game.exe") + ")\n" + usage;
            return 2;
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
        if (!r.template_file.empty()) return write_starter_file(r.template_file, out, err);
        out += settings_template();
        return 0;
    }
    // A refused picture name is said before anything is checked.
    if (!r.svg_path.empty()) {
        if (const std::string why = refused_name(r.svg_path, new_file_kind::picture);
            !why.empty()) {
            err += wrap_lines("corvane-check: nothing was written: " + why + "\n", report_width);
            return 2;
        }
    }

    std::vector<game_build> builds;
    if (!r.game_path.empty()) {
        if (kind_of_path(r.game_path) != path_kind::file) {
            err += wrap_lines(
                "corvane-check: " + unreadable_text(r.game_path, "the game's program", "") + "\n",
                report_width);
            return 2;
        }
        builds.push_back(identify_game_build(r.game_path));
    }
    const bool beside = r.file.empty();
    std::optional<module_place> module; // where corvane.dll lies, when the checker looked
    check_result result;
    std::string closing; // said last, where the player reads it
    if (beside) {
        const std::string folder = current_surroundings().program_folder();
        if (folder.empty()) {
            err += "corvane-check: cannot tell which folder it is in; name the settings file\n" +
                   std::string(usage);
            return 2;
        }
        if (r.game_path.empty()) builds = builds_beside(folder);
        // corvane reads the settings beside itself: find it first, and check the file there.
        module = find_module(folder);
        const std::string module_words = wrap_lines(module_place_text(*module), report_width);
        const std::vector<settings_candidate> found = look_for_settings(module->folder);
        if (found.empty()) {
            if (!r.svg_path.empty())
                err += wrap_lines("corvane-check: no picture was drawn: there is no settings file "
                                  "to draw it from\n",
                                  report_width);
            check_result missing;
            missing.file = path_in(module->folder, plugin::settings_file_name);
            missing.error_code = read_error::not_found;
            missing.error = "not found";
            if (r.json) {
                out += json_report(missing, builds, &*module);
                return missing.exit_status();
            }
            out += module_words + (module_words.empty() ? "" : "\n");
            out += wrap_lines(missing_settings_text(module->folder, found), report_width);
            if (!module->below.empty() &&
                kind_of_path(path_in(folder, plugin::settings_file_name)) == path_kind::file)
                out += wrap_lines("  The " + std::string(plugin::settings_file_name) +
                                      " beside corvane-check is not the one corvane reads: move "
                                      "it into " +
                                      module->below + ".\n",
                                  report_width);
            out += builds_text(builds, true);
            return missing.exit_status();
        }
        result = check_settings_file(found[0].path);
        if (found[0].how != settings_found_as::exact) {
            // What the file would do under the right name, but never a clean bill for a file
            // corvane will not read where it lies.
            result.not_read_until = not_read_until(found[0]);
            if (r.json) {
                out += json_report(result, builds, &*module);
                return result.exit_status();
            }
            out += module_words + (module_words.empty() ? "" : "\n");
            out += wrap_lines(missing_settings_text(module->folder, found), report_width);
            out += '\n';
            out += wrap_lines("What corvane would make of " + found[0].shown + " as " +
                                  plugin::settings_file_name + " beside " +
                                  plugin::module_file_name + ":\n",
                              report_width);
            out += '\n';
            closing =
                "corvane will not read " + found[0].shown + " until " + result.not_read_until + ".";
        } else if (!module->found) {
            // No corvane here to read it: what it holds, but never "clean".
            result.not_read_until = not_read_without_module();
            closing =
                "corvane will not read " + found[0].shown + " until " + result.not_read_until + ".";
            if (!r.json) out += module_words + "\n";
        } else if (!r.json && !module_words.empty()) {
            out += module_words + "\n";
        }
    } else {
        result = check_settings_file(r.file);
    }
    const module_place* const looked = module ? &*module : nullptr;
    if (result.readable) say_newer_copies(result);
    // corvane reads nothing from a path too long for it, whatever the file holds.
    if (result.readable && result.not_read_until.empty()) {
        result.not_read_until = not_read_until_path_fits(result.file);
        if (!result.not_read_until.empty())
            closing =
                "corvane will not read " + result.file + " until " + result.not_read_until + ".";
    }

    if (!result.readable) {
        err += wrap_lines(
            "corvane-check: " + unreadable_text(result.file, "the settings file", result.error) +
                "\n",
            report_width);
        if (r.json) out += json_report(result, builds, looked);
        return result.exit_status();
    }
    out += r.json ? json_report(result, builds, looked)
                  : text_report(result) + builds_text(builds, beside) +
                        (looked ? virtual_store_text(looked->folder) : std::string());
    if (!r.svg_path.empty()) {
        if (!write_new(r.svg_path, aim_points_svg(result), new_file_kind::picture, err)) return 2;
        if (!r.json) out += "\naim points drawn in " + r.svg_path + "\n";
    }
    if (!closing.empty() && !r.json) out += '\n' + wrap_lines(closing + "\n", report_width);
    return result.exit_status();
}

int run_check_program(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    const utf8_console console; // the console's own code page is back when this ends
    std::string out_text, err_text;
    const int status = run_check_command(args, out_text, err_text);
    std::fwrite(out_text.data(), 1, out_text.size(), out);
    std::fflush(out);
    std::fwrite(err_text.data(), 1, err_text.size(), err);
    std::fflush(err);
    // Started from Explorer, the window closes with the program: keep it open to be read. A
    // tool that starts it (its input a pipe, or JSON asked for) never waits and reads only what
    // it asked for.
    const surroundings& around = current_surroundings();
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    if (!json && around.programs_on_console() == 1 && around.input_is_console()) {
        std::fputs(press_enter, out);
        std::fflush(out);
        around.wait_for_enter();
    }
    return status;
}

} // namespace check
