// The report for tools: the same facts as the text report, as one JSON document.
#include "runtime/game_version.h"
#include "tools/check/check_text.h"
#include "tools/check/files/files_beside.h"
#include "tools/check/settings_check.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace check {

using plugin::line_kind;
using json = nlohmann::ordered_json; // members in the order written, as people read them

namespace {

// The library keeps an object's members in one vector, in the order written (ordered_json): an
// object given room for all its members at once, each added at the end, is built without the
// copies of every member that the vector's growth would make (a copy of a string each), and
// without the look-up of a key that is known to be new.
json object_with_room(std::size_t members) {
    json object = json::object();
    object.get_ref<json::object_t&>().reserve(members);
    return object;
}

void add(json& object, const char* key, json value) {
    object.get_ref<json::object_t&>().emplace_back(key, std::move(value));
}

json array_with_room(std::size_t items) {
    json array = json::array();
    array.get_ref<json::array_t&>().reserve(items);
    return array;
}

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
    json line = object_with_room(11);
    add(line, "line", position.line);
    add(line, "kind", kind_name(position.kind));
    add(line, "sets", position.setting);
    if (position.host_address) add(line, "host_address", hex_address(position.host_address));
    if (position.kind == line_kind::aim_row) add(line, "row", position.row);
    add(line, "state", state_name(report.state));
    if (report.state != line_state::past_end) add(line, "text", report.text);
    const plugin::line_values& v = report.values;
    const int count = report.state != line_state::past_end ? v.count : 0;
    json values = array_with_room(static_cast<std::size_t>(std::max(count, 0)));
    const bool integer_first = plugin::starts_with_integer(position.kind);
    for (int i = 0; i < count; ++i) {
        if (integer_first && i == 0)
            values.push_back(v.integer);
        else
            values.push_back(number(v.floats[integer_first ? i - 1 : i]));
    }
    add(line, "values", std::move(values));
    add(line, "values_wanted", plugin::values_wanted(position.kind));
    add(line, "takes", report.takes);
    return line;
}

json three(float x, float y, float z) {
    json numbers = array_with_room(3);
    numbers.push_back(number(x));
    numbers.push_back(number(y));
    numbers.push_back(number(z));
    return numbers;
}

json offset_json(const offset_entry& entry, float mirror_factor) {
    json offset = object_with_room(6);
    add(offset, "line", entry.line);
    add(offset, "weapon_type", entry.weapon_type);
    add(offset, "default", entry.weapon_type == -1);
    add(offset, "offset", three(entry.x, entry.y, entry.z));
    add(offset, "x_mode_offset", three(entry.x_mirrored(mirror_factor), entry.y, entry.z));
    add(offset, "leaves_aim_alone", entry.leaves_aim_alone());
    return offset;
}

json finding_json(const check_warning& finding) {
    json entry = object_with_room(4);
    add(entry, "line", finding.line);
    add(entry, "code", finding_name(finding));
    add(entry, "message", finding.message);
    add(entry, "hint", finding.hint);
    return entry;
}

json findings_json(const std::vector<check_warning>& findings) {
    json list = array_with_room(findings.size());
    for (const check_warning& finding : findings)
        list.push_back(finding_json(finding));
    return list;
}

// A named setting's value as tools want it: a key's virtual-key code, a button's bit, the
// milliseconds, the factor.
json named_value_json(const plugin::named_setting_row& row, const plugin::named_value& value) {
    if (row.kind == plugin::named_kind::factor) return number(value.number);
    return value.whole;
}

// The findings of `findings` about the named line on line `line`.
json named_findings_json(const std::vector<check_warning>& findings, int line) {
    json list = json::array();
    for (const check_warning& finding : findings)
        if (finding.line == line && finding.named != named_code::none)
            list.push_back(finding_json(finding));
    return list;
}

json named_line_json(const named_line_report& line, const check_result& result) {
    const plugin::named_setting_row* const row = line.read.row;
    json entry = object_with_room(12);
    add(entry, "line", line.read.line);
    add(entry, "text", line.text);
    add(entry, "name", line.name());
    add(entry, "value_text", line.value());
    add(entry, "setting", row ? json(row->name) : json(nullptr));
    add(entry, "counts", line.counts());
    add(entry, "sets", line.counts() ? json(row->description) : json(nullptr));
    add(entry, "value", line.counts() ? named_value_json(*row, line.read.value) : json(nullptr));
    add(entry, "value_shown",
        line.counts() ? json(plugin::named_value_display(*row, line.read.value).text)
                      : json(nullptr));
    if (!line.suggestion.empty()) add(entry, "suggestion", line.suggestion);
    add(entry, "warnings", named_findings_json(result.warnings, line.read.line));
    add(entry, "notes", named_findings_json(result.notes, line.read.line));
    return entry;
}

// Every named setting with the value in effect and the line that gave it (null: the default).
json named_settings_json(const named_lines_check& named) {
    json settings = object_with_room(std::size(plugin::named_settings_table));
    for (const plugin::named_setting_row& row : plugin::named_settings_table) {
        const int index = static_cast<int>(row.setting);
        const plugin::named_value& value = named.in_effect.value[index];
        const int given_by = named.in_effect.given_by[index];
        json setting = object_with_room(4);
        add(setting, "value", named_value_json(row, value));
        add(setting, "shown", plugin::named_value_display(row, value).text);
        add(setting, "line", given_by ? json(given_by) : json(nullptr));
        add(setting, "sets", row.description);
        add(settings, row.name, std::move(setting));
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
    json doc = object_with_room(17);
    add(doc, "file", result.file);
    add(doc, "readable", result.readable);
    if (!result.readable) {
        add(doc, "error_code", read_error_name(result.error_code));
        add(doc, "error", result.error);
    }
    if (!result.not_read_until.empty()) add(doc, "not_read_until", result.not_read_until);
    add(doc, "exit_status", result.exit_status());
    if (result.readable) {
        add(doc, "lines_read", result.lines_read);
        add(doc, "extra_lines", result.extra_lines);
        add(doc, "reload_each_frame", result.reload_each_frame);
        json lines = array_with_room(result.positions.size());
        for (const position_report& report : result.positions)
            lines.push_back(line_json(report));
        add(doc, "lines", std::move(lines));
        json offsets = array_with_room(result.offsets.size());
        for (const offset_entry& entry : result.offsets)
            offsets.push_back(offset_json(entry, result.mirror_factor()));
        add(doc, "weapon_offsets", std::move(offsets));
        json named = array_with_room(result.named.lines.size());
        for (const named_line_report& line : result.named.lines)
            named.push_back(named_line_json(line, result));
        add(doc, "named_lines", std::move(named));
        add(doc, "named_settings", named_settings_json(result.named));
        add(doc, "warnings", findings_json(result.warnings));
        add(doc, "notes", findings_json(result.notes));
    }
    if (!games.empty()) {
        json list = array_with_room(games.size());
        for (const game_build& game : games)
            list.push_back(game_json(game));
        add(doc, "games", std::move(list));
    }
    if (module) {
        add(doc, "module",
            {{"found", module->found},
             {"folder", module->found ? json(module->folder) : json(nullptr)},
             {"below", module->below.empty() ? json(nullptr) : json(module->below)},
             {"other_copies", module->others}});
    }
    // A line's text is whatever bytes the file holds: bytes that are not UTF-8 come out as
    // U+FFFD, and everything outside ASCII as \u escapes, so the document is always valid.
    return doc.dump(2, ' ', true, json::error_handler_t::replace) + "\n";
}

} // namespace check
