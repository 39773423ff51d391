// The report for tools: the same facts as the text report, as one JSON document.
#include "runtime/game_version.h"
#include "tools/check/check_text.h"
#include "tools/check/files/files_beside.h"
#include "tools/check/settings_check.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>

namespace check {

using plugin::line_kind;
using json = nlohmann::ordered_json; // members in the order written, as people read them

namespace {

// A float as the shortest decimal that reads back as it (0.1f is 0.1, not 0.10000000149...);
// inf and nan, which JSON cannot hold, as null.
json number(float value) {
    if (!std::isfinite(value)) return nullptr;
    return std::strtod(format_float(value).c_str(), nullptr);
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

json line_json(const position_report& report) {
    const plugin::settings_position& position = *report.position;
    json line = {
        {"line", position.line}, {"kind", kind_name(position.kind)}, {"sets", position.setting}};
    if (position.host_address) line["host_address"] = hex_address(position.host_address);
    if (position.kind == line_kind::aim_row) line["row"] = position.row;
    line["state"] = state_name(report.state);
    if (report.state != line_state::past_end) line["text"] = report.text;
    json values = json::array();
    const plugin::line_values& v = report.values;
    const bool integer_first = plugin::starts_with_integer(position.kind);
    for (int i = 0; report.state != line_state::past_end && i < v.count; ++i) {
        if (integer_first && i == 0)
            values.push_back(v.integer);
        else
            values.push_back(number(v.floats[integer_first ? i - 1 : i]));
    }
    line["values"] = std::move(values);
    line["values_wanted"] = plugin::values_wanted(position.kind);
    line["takes"] = report.takes;
    return line;
}

json offset_json(const offset_entry& entry, float mirror_factor) {
    return {{"line", entry.line},
            {"weapon_type", entry.weapon_type},
            {"default", entry.weapon_type == -1},
            {"offset", {number(entry.x), number(entry.y), number(entry.z)}},
            {"x_mode_offset",
             {number(entry.x_mirrored(mirror_factor)), number(entry.y), number(entry.z)}},
            {"leaves_aim_alone", entry.leaves_aim_alone()}};
}

json findings_json(const std::vector<check_warning>& findings) {
    json list = json::array();
    for (const check_warning& finding : findings)
        list.push_back({{"line", finding.line},
                        {"code", finding_name(finding)},
                        {"message", finding.message},
                        {"hint", finding.hint}});
    return list;
}

// A named setting's value as tools want it: a key's virtual-key code, a button's bit, the
// milliseconds, the factor.
json named_value_json(const plugin::named_setting_row& row, const plugin::named_value& value) {
    if (row.kind == plugin::named_kind::factor) return number(value.number);
    return value.whole;
}

json named_line_json(const named_line_report& line, const check_result& result) {
    const plugin::named_setting_row* const row = line.read.row;
    json entry = {{"line", line.read.line},
                  {"text", line.text},
                  {"name", line.name()},
                  {"value_text", line.value()},
                  {"setting", row ? json(row->name) : json(nullptr)},
                  {"counts", line.counts()}};
    entry["sets"] = line.counts() ? json(row->description) : json(nullptr);
    entry["value"] = line.counts() ? named_value_json(*row, line.read.value) : json(nullptr);
    entry["value_shown"] = line.counts()
                               ? json(plugin::named_value_display(*row, line.read.value).text)
                               : json(nullptr);
    if (!line.suggestion.empty()) entry["suggestion"] = line.suggestion;
    std::vector<check_warning> warnings, notes;
    for (const check_warning& w : result.warnings)
        if (w.line == line.read.line && w.named != named_code::none) warnings.push_back(w);
    for (const check_warning& n : result.notes)
        if (n.line == line.read.line && n.named != named_code::none) notes.push_back(n);
    entry["warnings"] = findings_json(warnings);
    entry["notes"] = findings_json(notes);
    return entry;
}

// Every named setting with the value in effect and the line that gave it (null: the default).
json named_settings_json(const named_lines_check& named) {
    json settings = json::object();
    for (const plugin::named_setting_row& row : plugin::named_settings_table) {
        const int index = static_cast<int>(row.setting);
        const plugin::named_value& value = named.in_effect.value[index];
        const int given_by = named.in_effect.given_by[index];
        settings[row.name] = {{"value", named_value_json(row, value)},
                              {"shown", plugin::named_value_display(row, value).text},
                              {"line", given_by ? json(given_by) : json(nullptr)},
                              {"sets", row.description}};
    }
    return settings;
}

json game_json(const game_build& build) {
    json game = {{"file", build.file}, {"verdict", build_verdict_name(build.verdict)}};
    game["build"] = build.code ? json(build.code) : json(nullptr);
    // Whether corvane will change anything in this game at all, whether its keys and live reload
    // work there (wherever it changes the game: on every frame on the builds whose per-frame call
    // it changes, else while the player aims), and whether on every frame: null where the
    // program cannot tell.
    const bool told = build.verdict != build_verdict::cannot_tell;
    game["changes_game"] = told ? json(!build.changes_nothing) : json(nullptr);
    game["keys_and_reload"] = told ? json(!build.changes_nothing) : json(nullptr);
    game["keys_every_frame"] =
        told ? json(build.verdict == build_verdict::keys_and_reload && !build.changes_nothing)
             : json(nullptr);
    // Windows may place such a program elsewhere, and there corvane changes nothing.
    game["may_be_moved"] = build.can_move;
    if (build.reason != unanswered_reason::none)
        game["reason"] = unanswered_reason_name(build.reason);
    if (build.probe_address) game["probe_address"] = hex_address(build.probe_address);
    if (build.first_probe_read) {
        game["first_probe_address"] = hex_address(runtime::version_probes[0].host_address);
        game["first_probe_bytes"] = four_bytes(build.first_probe_value);
    }
    return game;
}

} // namespace

std::string json_report(const check_result& result, const std::vector<game_build>& games,
                        const module_place* module) {
    json doc = {{"file", result.file}, {"readable", result.readable}};
    if (!result.readable) {
        doc["error_code"] = read_error_name(result.error_code);
        doc["error"] = result.error;
    }
    if (!result.not_read_until.empty()) doc["not_read_until"] = result.not_read_until;
    doc["exit_status"] = result.exit_status();
    if (result.readable) {
        doc["lines_read"] = result.lines_read;
        doc["extra_lines"] = result.extra_lines;
        doc["reload_each_frame"] = result.reload_each_frame;
        json& lines = doc["lines"] = json::array();
        for (const position_report& report : result.positions)
            lines.push_back(line_json(report));
        json& offsets = doc["weapon_offsets"] = json::array();
        for (const offset_entry& entry : result.offsets)
            offsets.push_back(offset_json(entry, result.mirror_factor()));
        json& named = doc["named_lines"] = json::array();
        for (const named_line_report& line : result.named.lines)
            named.push_back(named_line_json(line, result));
        doc["named_settings"] = named_settings_json(result.named);
        doc["warnings"] = findings_json(result.warnings);
        doc["notes"] = findings_json(result.notes);
    }
    if (!games.empty()) {
        json& list = doc["games"] = json::array();
        for (const game_build& game : games)
            list.push_back(game_json(game));
    }
    if (module) {
        doc["module"] = {{"found", module->found},
                         {"folder", module->found ? json(module->folder) : json(nullptr)},
                         {"below", module->below.empty() ? json(nullptr) : json(module->below)},
                         {"other_copies", module->others}};
    }
    // A line's text is whatever bytes the file holds: bytes that are not UTF-8 come out as
    // U+FFFD, and everything outside ASCII as \u escapes, so the document is always valid.
    return doc.dump(2, ' ', true, json::error_handler_t::replace) + "\n";
}

} // namespace check
