// The checker's two reports: an aligned table for people, JSON for tools.
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
    int values_set = 0, values_total = 0, rows_whole = 0;
    bool code_set = false;
    for (const position_report& report : result.positions) {
        const line_kind kind = report.position->kind;
        const bool present = report.state != line_state::past_end;
        if (kind == line_kind::host_float) {
            ++values_total;
            if (present && report.values.count >= 1) ++values_set;
        } else if (kind == line_kind::code_float) {
            code_set = present && report.values.count >= 1;
        } else if (kind == line_kind::aim_row) {
            if (present && report.values.count == 7) ++rows_whole;
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
    row("host values", std::to_string(values_set) + " of " + std::to_string(values_total) +
                           " set; code constant " + (code_set ? "set" : "left as it is"));
    row("aim rows", std::to_string(rows_whole) + " of 4 complete");
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
    out += "line  " + pad("sets", sets_width) + "  " + pad("text", text_width) +
           "  the module takes\n";
    for (const position_report& report : result.positions) {
        const std::string text = report.state == line_state::past_end
                                     ? std::string("(past the end of the file)")
                                     : for_display(report.text, text_width);
        std::string row = right(std::to_string(report.position->line), 4) + "  " +
                          pad(report.position->setting, sets_width) + "  " + pad(text, text_width) +
                          "  " + report.takes;
        out += row + "\n";
    }
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

namespace {

// JSON strings are UTF-8; a settings file may hold any bytes, so every byte outside printable
// ASCII is written as \u00XX (its Latin-1 reading), which keeps the document valid.
std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        }
    }
    return out + "\"";
}

std::string json_number(float value) {
    return std::isfinite(value) ? format_float(value) : std::string("null");
}

const char* kind_name(line_kind kind) {
    switch (kind) {
    case line_kind::reload_flag:
        return "reload_flag";
    case line_kind::ignored:
        return "ignored";
    case line_kind::host_float:
        return "host_float";
    case line_kind::code_float:
        return "code_float";
    case line_kind::aim_row:
        return "aim_row";
    case line_kind::weapon:
        return "weapon";
    }
    return "unknown";
}

const char* state_name(line_state state) {
    switch (state) {
    case line_state::read:
        return "read";
    case line_state::overlong:
        return "overlong";
    case line_state::past_end:
        return "past_end";
    }
    return "unknown";
}

std::string json_values(const position_report& report) {
    std::string out = "[";
    const plugin::line_values& v = report.values;
    const line_kind kind = report.position->kind;
    const bool leading_integer = kind == line_kind::reload_flag || kind == line_kind::weapon;
    for (int i = 0; report.state != line_state::past_end && i < v.count; ++i) {
        if (i) out += ", ";
        if (leading_integer && i == 0)
            out += std::to_string(v.integer);
        else
            out += json_number(v.floats[leading_integer ? i - 1 : i]);
    }
    return out + "]";
}

} // namespace

std::string json_report(const check_result& result) {
    std::string out = "{\n";
    out += "  \"file\": " + json_string(result.file) + ",\n";
    out += "  \"readable\": " + std::string(result.readable ? "true" : "false") + ",\n";
    if (!result.readable) out += "  \"error\": " + json_string(result.error) + ",\n";
    out += "  \"exit_status\": " + std::to_string(result.exit_status()) + ",\n";
    if (result.readable) {
        out += "  \"lines_read\": " + std::to_string(result.lines_read) + ",\n";
        out += "  \"extra_lines\": " + std::to_string(result.extra_lines) + ",\n";
        out += "  \"reload_each_frame\": " + std::to_string(result.reload_each_frame) + ",\n";
        out += "  \"lines\": [\n";
        for (const position_report& report : result.positions) {
            const plugin::settings_position& position = *report.position;
            out += "    {\"line\": " + std::to_string(position.line) + ", \"kind\": \"" +
                   kind_name(position.kind) + "\", \"sets\": " + json_string(position.setting);
            if (position.host_address)
                out += ", \"host_address\": \"" + hex_address(position.host_address) + "\"";
            if (position.kind == line_kind::aim_row)
                out += ", \"row\": " + std::to_string(position.row);
            out += std::string(", \"state\": \"") + state_name(report.state) + "\"";
            if (report.state != line_state::past_end)
                out += ", \"text\": " + json_string(report.text);
            out += ", \"values\": " + json_values(report) +
                   ", \"values_wanted\": " + std::to_string(plugin::values_wanted(position.kind)) +
                   ", \"takes\": " + json_string(report.takes) + "}";
            out += &report != &result.positions.back() ? ",\n" : "\n";
        }
        out += "  ],\n  \"weapon_offsets\": [\n";
        for (const offset_entry& entry : result.offsets) {
            out += "    {\"line\": " + std::to_string(entry.line) +
                   ", \"weapon_type\": " + std::to_string(entry.weapon_type) +
                   ", \"default\": " + (entry.weapon_type == -1 ? "true" : "false") +
                   ", \"offset\": [" + json_number(entry.x) + ", " + json_number(entry.y) + ", " +
                   json_number(entry.z) + "], \"x_mode_offset\": [" +
                   json_number(entry.x_in_x_mode()) + ", " + json_number(entry.y) + ", " +
                   json_number(entry.z) +
                   "], \"leaves_aim_alone\": " + (entry.leaves_aim_alone() ? "true" : "false") +
                   "}";
            out += &entry != &result.offsets.back() ? ",\n" : "\n";
        }
        for (const auto* findings : {&result.warnings, &result.notes}) {
            out +=
                findings == &result.notes ? "  ],\n  \"notes\": [\n" : "  ],\n  \"warnings\": [\n";
            for (const check_warning& warning : *findings) {
                out += "    {\"line\": " + std::to_string(warning.line) + ", \"code\": \"" +
                       warning_name(warning.code) +
                       "\", \"message\": " + json_string(warning.message) +
                       ", \"hint\": " + json_string(warning.hint) + "}";
                out += &warning != &findings->back() ? ",\n" : "\n";
            }
        }
        out += "  ]\n";
    } else {
        out.erase(out.size() - 2); // no comma after the last member
        out += "\n";
    }
    return out + "}\n";
}

} // namespace check
