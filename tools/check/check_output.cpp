// The report for people: an aligned table of the 31 positions, the warnings, the notes and a
// summary.
#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <cmath>
#include <cstring>

namespace check {

using plugin::line_kind;

namespace {

constexpr std::size_t text_width = 30;

std::string pad(const std::string& text, std::size_t width) {
    const std::size_t used = columns(text);
    return text + std::string(used < width ? width - used : 0, ' ');
}

std::string right(const std::string& text, std::size_t width) {
    return std::string(text.size() < width ? width - text.size() : 0, ' ') + text;
}

std::string entry_name(const offset_entry& entry) {
    return entry.weapon_type == -1 ? std::string("-1 (default)")
                                   : std::to_string(entry.weapon_type);
}

void append_summary(std::string& out, const check_result& result) {
    int values_set = 0, values_total = 0, row_values_set = 0;
    for (const position_report& report : result.positions) {
        const line_kind kind = report.position->kind;
        const bool present = report.state != line_state::past_end;
        if (kind == line_kind::host_float || kind == line_kind::code_float) {
            ++values_total;
            if (present && report.values.count >= 1) ++values_set;
        } else if (kind == line_kind::aim_row) {
            if (present) row_values_set += std::min(report.values.count, 7);
        }
    }
    const auto row = [&out](const char* what, const std::string& text) {
        out += "  " + pad(what, 20) + text + "\n";
    };
    out += "\nsummary:\n";
    row("lines read",
        std::to_string(result.lines_read) + " of 31" +
            (result.extra_lines ? ", then " + std::to_string(result.extra_lines) + " ignored"
                                : std::string()));
    row("reload every frame", result.reload_each_frame
                                  ? "on (" + std::to_string(result.reload_each_frame) + ")"
                                  : std::string("off"));
    row("aim-camera values",
        std::to_string(values_set) + " of " + std::to_string(values_total) + " set" +
            (values_set < values_total ? "; the game keeps its own for the others" : ""));
    row("aim rows", std::to_string(row_values_set) + " of 28 values set" +
                        (row_values_set < 28 ? "; the game keeps its own for the others" : ""));
    std::string moving, alone;
    for (const offset_entry& entry : result.offsets)
        (entry.leaves_aim_alone() ? alone : moving) +=
            (entry.leaves_aim_alone() ? alone : moving).empty() ? entry_name(entry)
                                                                : ", " + entry_name(entry);
    row("weapon offsets",
        result.offsets.empty()
            ? std::string("none: the aim camera is left alone for every weapon")
            : std::to_string(result.offsets.size()) +
                  (result.offsets.size() == 1 ? " entry" : " entries") +
                  (moving.empty() ? std::string() : ", moving the aim: " + moving));
    if (!alone.empty())
        row("aim left alone",
            (alone.find(',') == std::string::npos ? "weapon type " : "weapon types ") + alone +
                " (zero offset)");
    bool any_default = false;
    for (const offset_entry& entry : result.offsets)
        any_default = any_default || entry.weapon_type == -1;
    if (!result.offsets.empty())
        row("other weapons", any_default ? "use the default (-1) entry"
                                         : "no default (-1) entry: their aim is left alone");
    const std::size_t n = result.warnings.size();
    const std::size_t notes = result.notes.size();
    row("result",
        (n == 0 ? std::string("clean: the module reads this file as shown")
                : std::to_string(n) + (n == 1 ? " warning" : " warnings")) +
            (notes == 0 ? std::string()
                        : ", " + std::to_string(notes) + (notes == 1 ? " note" : " notes")));
}

} // namespace

std::string text_report(const check_result& result) {
    std::string out = "corvane-check: " + result.file + "\n\n";
    std::size_t sets_width = 4;
    for (const plugin::settings_position& position : plugin::settings_positions)
        sets_width = std::max(sets_width, std::strlen(position.setting));
    std::size_t takes_width = 0;
    for (const position_report& report : result.positions)
        takes_width = std::max(takes_width, columns(report.takes));
    // The game's addresses, for modders, in a column of their own at the end.
    out += "line  " + pad("sets", sets_width) + "  " + pad("text", text_width) + "  " +
           pad("the module takes", takes_width) + "  in the game at\n";
    for (const position_report& report : result.positions) {
        const std::string text = report.state == line_state::past_end
                                     ? std::string("(past the end of the file)")
                                     : for_display(report.text, text_width);
        const std::uint32_t address = report.position->host_address;
        std::string row = right(std::to_string(report.position->line), 4) + "  " +
                          pad(report.position->setting, sets_width) + "  " + pad(text, text_width) +
                          "  " + report.takes;
        if (address)
            row = pad(row, 6 + sets_width + 2 + text_width + 2 + takes_width) + "  " +
                  hex_address(address);
        out += row + "\n";
    }
    out += named_lines_text(result);
    const auto list = [&out](const char* heading, const std::vector<check_warning>& findings) {
        out += heading;
        for (const check_warning& finding : findings) {
            out += "  line " + pad(std::to_string(finding.line), 4) + finding.message + "\n";
            if (!finding.hint.empty()) out += "           hint: " + finding.hint + "\n";
        }
    };
    if (result.warnings.empty())
        out += "\nno warnings\n";
    else
        list("\nwarnings:\n", result.warnings);
    if (!result.notes.empty()) list("\nnotes (no need to act):\n", result.notes);
    append_summary(out, result);
    return out;
}

} // namespace check
