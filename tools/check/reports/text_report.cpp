// The report for people: an aligned table of the 31 positions, the warnings, the notes and a
// summary, all within the report's width (check_text.h): long cells and sentences go on at word
// boundaries on the lines below, under their own column.
#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace check {

using plugin::line_kind;

namespace {

// The table's columns: the line number, what the line sets (with the game's address, for
// modders), the start of the line's text, and what corvane takes from it, which gets the rest.
constexpr std::size_t number_width = 4;
constexpr std::size_t gap = 2;
constexpr std::size_t text_width = 22;
constexpr std::size_t list_indent = 11;    // "  line 12  " before a finding's sentence
constexpr std::size_t hint_indent = 17;    // "           hint: "
constexpr std::size_t summary_indent = 22; // "  reload every frame  "

// `text` at the right of `width` columns, added to `out`.
void append_right(std::string& out, const std::string& text, std::size_t width) {
    out.append(text.size() < width ? width - text.size() : 0, ' ').append(text);
}

// What a position sets, short enough for its column; the game's address follows.
std::string short_setting(const plugin::settings_position& position) {
    std::string name;
    switch (position.kind) {
    case line_kind::reload_flag:
        name = "reload every frame";
        break;
    case line_kind::ignored:
        name = "heading";
        break;
    case line_kind::host_float:
        name = "aim value";
        break;
    case line_kind::code_float:
        name = "aim code";
        break;
    case line_kind::aim_row:
        name = "aim row " + std::to_string(position.row);
        break;
    case line_kind::weapon:
        name = position.setting; // "weapon offset 3"
        break;
    }
    return position.host_address ? name + " " + hex_address(position.host_address) : name;
}

// The "sets" column: each position's words (by line number, from 1) and the column's width, the
// same for every report, so made once.
struct sets_column {
    std::vector<std::string> by_line;
    std::size_t width = 4;
};

const sets_column& the_sets_column() {
    static const sets_column column = [] {
        sets_column made;
        made.by_line.resize(plugin::settings_line_count + 1);
        for (const plugin::settings_position& position : plugin::settings_positions) {
            made.by_line.at(static_cast<std::size_t>(position.line)) = short_setting(position);
            made.width = std::max(made.width, columns(short_setting(position)));
        }
        return made;
    }();
    return column;
}

// Findings as a player reads them: a run of identical ones (the same finding, sentence and
// hint on lines one after another in the list) said once, with the lines it is about.
struct finding_run {
    const check_warning* finding;
    std::vector<int> lines;
};

std::vector<finding_run> runs_of(const std::vector<check_warning>& findings) {
    std::vector<finding_run> runs;
    for (const check_warning& finding : findings) {
        if (!runs.empty()) {
            const check_warning& last = *runs.back().finding;
            if (finding_name(last) == std::string_view(finding_name(finding)) &&
                last.message == finding.message && last.hint == finding.hint) {
                runs.back().lines.push_back(finding.line);
                continue;
            }
        }
        runs.push_back({&finding, {finding.line}});
    }
    return runs;
}

// "line 3", "lines 3 and 4", "lines 6 to 9", "lines 3, 4 and 6 to 9" for lines in order.
std::string lines_named(const std::vector<int>& lines) {
    std::vector<std::string> spans;
    for (std::size_t i = 0; i < lines.size();) {
        std::size_t end = i;
        while (end + 1 < lines.size() && lines[end + 1] == lines[end] + 1)
            ++end;
        if (end - i >= 2) {
            spans.push_back(std::to_string(lines[i]) + " to " + std::to_string(lines[end]));
        } else {
            for (std::size_t j = i; j <= end; ++j)
                spans.push_back(std::to_string(lines[j]));
        }
        i = end + 1;
    }
    std::string text = lines.size() == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < spans.size(); ++i)
        text += (i == 0 ? "" : i + 1 == spans.size() ? " and " : ", ") + spans[i];
    return text;
}

std::string entry_name(const offset_entry& entry) {
    return entry.weapon_type == -1 ? std::string("-1 (default)")
                                   : std::to_string(entry.weapon_type);
}

// `warnings` and `notes`: how many the report shows, a run of identical ones counted once.
void append_summary(std::string& out, const check_result& result, std::size_t warnings,
                    std::size_t notes) {
    int values_set = 0, values_total = 0, row_values_set = 0;
    for (const position_report& report : result.positions) {
        const line_kind kind = report.position->kind;
        const bool present = report.state != line_state::past_end;
        if (kind == line_kind::host_float || kind == line_kind::code_float) {
            ++values_total;
            if (present && report.values.count >= 1) ++values_set;
        } else if (kind == line_kind::aim_row) {
            if (present) row_values_set += std::min(report.values.count, plugin::row_value_count);
        }
    }
    const auto row = [&out](const char* what, const std::string& text) {
        append_hanging(out, "  " + padded(what, summary_indent - 2), text, summary_indent);
    };
    out += "\nsummary:\n";
    row("lines read",
        std::to_string(result.lines_read) + " of " + std::to_string(plugin::settings_line_count) +
            (result.extra_lines ? ", then " + std::to_string(result.extra_lines) + " ignored"
                                : std::string()));
    row("reload every frame", result.reload_each_frame
                                  ? "on (" + std::to_string(result.reload_each_frame) + ")"
                                  : std::string("off"));
    row("aim-camera values",
        std::to_string(values_set) + " of " + std::to_string(values_total) + " set" +
            (values_set < values_total ? "; the game keeps its own for the others" : ""));
    row("aim rows",
        std::to_string(row_values_set) + " of " + std::to_string(plugin::row_values_in_all) +
            " values set" +
            (row_values_set < plugin::row_values_in_all ? "; the game keeps its own for the others"
                                                        : ""));
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
    const std::size_t n = warnings;
    const std::string counts =
        (n == 0 ? std::string() : std::to_string(n) + (n == 1 ? " warning" : " warnings")) +
        (n == 0 || notes == 0 ? "" : ", ") +
        (notes == 0 ? std::string() : std::to_string(notes) + (notes == 1 ? " note" : " notes"));
    if (!result.not_read_until.empty())
        row("result", "not read: corvane will not read this file until " + result.not_read_until +
                          (counts.empty() ? "" : " (" + counts + ")"));
    else
        row("result", n == 0 ? "clean: corvane reads this file as shown" +
                                   (counts.empty() ? "" : ", " + counts)
                             : counts);
}

} // namespace

std::string text_report(const check_result& result) {
    std::string out;
    // A report with every line read and a few findings: the string is not made again and again
    // as it grows.
    out.reserve(8192);
    out.append("corvane-check: ").append(result.file).append("\n\n");
    const sets_column& sets = the_sets_column();
    const std::size_t takes_at = number_width + gap + sets.width + gap + text_width + gap;
    const std::size_t takes_width = report_width - takes_at;
    out.append("line").append(gap, ' ');
    append_padded(out, "sets", sets.width + gap);
    append_padded(out, "text", text_width + gap);
    out += "corvane takes\n";
    for (const position_report& report : result.positions) {
        const std::string text = report.state == line_state::past_end
                                     ? std::string("(past the end)")
                                     : for_display(report.text, text_width);
        const std::size_t row_start = out.size();
        append_right(out, std::to_string(report.position->line), number_width);
        out.append(gap, ' ');
        append_padded(out, sets.by_line.at(static_cast<std::size_t>(report.position->line)),
                      sets.width);
        out.append(gap, ' ');
        append_padded(out, text, text_width);
        out.append(gap, ' ');
        const std::size_t takes_start = out.size();
        append_wrapped(out, report.takes, takes_width, takes_width, takes_at);
        // A row with nothing taken ends where its text does.
        if (out.size() == takes_start)
            while (out.size() > row_start && out.back() == ' ')
                out.pop_back();
        out += '\n';
    }
    out += named_lines_text(result);
    const auto list = [&out](const char* heading, const std::vector<finding_run>& runs) {
        out += heading;
        for (const finding_run& run : runs) {
            const std::string lines = "  " + lines_named(run.lines) + " ";
            // Lines that do not fit before the sentence's column stand on a line of their own.
            if (lines.size() > list_indent) out.append(lines, 0, lines.size() - 1) += '\n';
            append_hanging(out,
                           lines.size() > list_indent ? std::string(list_indent, ' ')
                                                      : padded(lines, list_indent),
                           run.finding->message, list_indent);
            if (!run.finding->hint.empty())
                append_hanging(out, std::string(list_indent, ' ') + "hint: ", run.finding->hint,
                               hint_indent);
        }
    };
    const std::vector<finding_run> warnings = runs_of(result.warnings);
    const std::vector<finding_run> notes = runs_of(result.notes);
    if (warnings.empty())
        out += "\nno warnings\n";
    else
        list("\nwarnings:\n", warnings);
    if (!notes.empty()) list("\nnotes (no need to act):\n", notes);
    append_summary(out, result, warnings.size(), notes.size());
    return out;
}

} // namespace check
