#include "tools/check/rules/named_lines_report.h"

#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <algorithm>
#include <cstring>

namespace check {

using plugin::named_kind;
using plugin::named_problem;

namespace {

constexpr std::size_t line_indent = 11; // "  line 32  "

// The lists of names a near miss is looked for in, made once: a file can hold many lines that
// need one.
const std::vector<std::string>& setting_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const plugin::named_setting_row& row : plugin::named_settings_table)
            list.push_back(row.name);
        return list;
    }();
    return names;
}

// The names of a table of keys or of buttons, then the name of none.
template <typename row>
std::vector<std::string> names_then_none(const row* rows, int count, const char* none) {
    std::vector<std::string> list;
    for (int i = 0; i < count; ++i)
        list.push_back(rows[i].name);
    list.push_back(none);
    return list;
}

const std::vector<std::string>& key_names() {
    static const std::vector<std::string> names = names_then_none(
        plugin::key_names, plugin::key_name_count, plugin::key_display_name(0).text);
    return names;
}

const std::vector<std::string>& button_names() {
    static const std::vector<std::string> names = names_then_none(
        plugin::pad_button_names, plugin::pad_button_name_count, plugin::pad_display_name(0).text);
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The module's sentence about a line, without the "line N: " it starts with where the line sets
// nothing: the report gives the line number in a column of its own.
std::string module_sentence(const named_line_report& line) {
    std::string text = plugin::describe_named_line(line.read, line.text.c_str()).text;
    const std::string prefix = "line " + std::to_string(line.read.line) + ": ";
    if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
    return text;
}

std::string default_text(const plugin::named_setting_row& row) {
    return plugin::named_value_display(row, row.default_value).text;
}

// What a line that sets nothing leaves in place, e.g. "without a line that sets it, swing_ms
// stays 0".
std::string stays_text(const plugin::named_setting_row& row) {
    return std::string("without a line that sets it, ") + row.name + " stays " + default_text(row);
}

// What a setting takes, e.g. "swing_ms takes a whole number of milliseconds from 0 to 2000".
std::string takes_text(const plugin::named_setting_row& row) {
    std::string text = std::string(row.name) + " takes " + plugin::named_kind_words(row.kind);
    if (row.kind == named_kind::milliseconds || row.kind == named_kind::factor)
        text += std::string(" from ") + plugin::named_range(row).text;
    return text;
}

// The suggestion for a line's unknown name or value, when one is close.
std::string suggestion_for(const named_line_report& line) {
    const plugin::named_line& read = line.read;
    if (read.problem == named_problem::unknown_name)
        return closest_name(line.name(), setting_names());
    if (read.problem != named_problem::invalid_value) return "";
    if (read.row->kind == named_kind::key) return closest_name(line.value(), key_names());
    if (read.row->kind == named_kind::pad_button) return closest_name(line.value(), button_names());
    return "";
}

named_code code_of(named_problem problem) {
    switch (problem) {
    case named_problem::none:
        return named_code::none;
    case named_problem::unknown_name:
        return named_code::unknown_name;
    case named_problem::no_value:
        return named_code::no_value;
    case named_problem::invalid_value:
        return named_code::bad_value;
    case named_problem::out_of_range:
        return named_code::out_of_range;
    case named_problem::repeat:
        return named_code::repeat;
    }
    return named_code::none;
}

// What to do about a line that sets nothing.
std::string hint_for(const named_line_report& line) {
    const plugin::named_line& read = line.read;
    const std::string did_you_mean = "did you mean " + quoted(line.suggestion) + "?";
    switch (read.problem) {
    case named_problem::none:
        return "";
    case named_problem::unknown_name: {
        if (!line.suggestion.empty()) return did_you_mean;
        const std::string name = line.name();
        if (plugin::is_number_word(name.data(), name.data() + name.size()))
            return "weapon lines go on lines " + std::to_string(plugin::named_among_weapons) +
                   " to " + std::to_string(plugin::settings_line_count) +
                   "; below them corvane reads only named lines, such as 'key_toggle Q'. Was a "
                   "line added above?";
        return "the settings a named line can give: " + joined(setting_names());
    }
    case named_problem::no_value:
        return "write the value after the name, e.g. '" + std::string(read.row->name) + " " +
               default_text(*read.row) + "'; " + stays_text(*read.row);
    case named_problem::invalid_value:
        if (!line.suggestion.empty()) {
            std::string stays = stays_text(*read.row);
            stays[0] = 'W'; // a sentence of its own after the question
            return did_you_mean + " " + stays;
        }
        if (read.row->kind == named_kind::pad_button)
            return "the buttons: " + joined(button_names()) + "; " + stays_text(*read.row);
        if (read.row->kind == named_kind::key)
            return "every key name is listed in the readme's \"Your own keys\"; " +
                   stays_text(*read.row);
        return takes_text(*read.row) + "; " + stays_text(*read.row);
    case named_problem::out_of_range:
        return takes_text(*read.row) + "; " + stays_text(*read.row);
    case named_problem::repeat:
        return "remove this line, or change line " + std::to_string(read.earlier_line);
    }
    return "";
}

void add_findings(const named_line_report& line, check_result& result) {
    const int at = line.read.line;
    if (line.read.problem != named_problem::none)
        result.warnings.push_back({at, warning_code{}, module_sentence(line), hint_for(line),
                                   code_of(line.read.problem)});
    if (at < plugin::named_first_line) {
        // A named line among the weapon lines adds no weapon: its weapon-line reading's finding
        // is expected here, not news.
        std::erase_if(result.warnings, [at](const check_warning& w) {
            return w.line == at && w.named == named_code::none &&
                   w.code == warning_code::weapon_incomplete;
        });
        result.notes.push_back({at, warning_code{},
                                quoted(line.name()) +
                                    " among the weapon lines is read as a named line: it adds no "
                                    "weapon",
                                "fine as it is; named lines usually go below line " +
                                    std::to_string(plugin::settings_line_count),
                                named_code::among_weapon_lines});
    }
}

// A line the walk read as a named line, with its findings.
void add_named_line(const plugin::named_line& read, const std::string& text, check_result& result) {
    named_line_report line;
    line.read = read;
    line.text = text;
    line.suggestion = suggestion_for(line);
    add_findings(line, result);
    result.named.lines.push_back(std::move(line));
}

// A weapon line whose first word is a setting's name misspelt: a named line meant here, which
// the weapon-line warning alone would not explain.
void suggest_on_weapon_line(const position_report& report, check_result& result) {
    // Only a weapon line already warned about gets a suggestion, so the names are compared for
    // those alone, not for every weapon line of every file.
    check_warning* const incomplete = [&]() -> check_warning* {
        for (check_warning& warning : result.warnings)
            if (warning.line == report.position->line &&
                warning.code == warning_code::weapon_incomplete &&
                warning.named == named_code::none)
                return &warning;
        return nullptr;
    }();
    if (!incomplete) return;
    const std::size_t begin = skip_blanks(report.text, 0);
    const std::string word = report.text.substr(begin, word_end(report.text, begin) - begin);
    const std::string meant = closest_name(word, setting_names());
    if (meant.empty()) return;
    incomplete->hint =
        "did you mean " + quoted(meant) + "? A named line among the weapon lines is read as one";
}

bool by_line(const check_warning& a, const check_warning& b) {
    return a.line < b.line;
}

} // namespace

const char* named_code_name(named_code code) {
    switch (code) {
    case named_code::none:
        return "none";
    case named_code::unknown_name:
        return "named_unknown_name";
    case named_code::no_value:
        return "named_no_value";
    case named_code::bad_value:
        return "named_bad_value";
    case named_code::out_of_range:
        return "named_out_of_range";
    case named_code::repeat:
        return "named_repeat";
    case named_code::among_weapon_lines:
        return "named_among_weapon_lines";
    case named_code::key_clash:
        return "named_key_clash";
    }
    return "unknown";
}

std::string named_line_report::name() const {
    return text.substr(static_cast<std::size_t>(read.name_at),
                       static_cast<std::size_t>(read.name_length));
}

std::string named_line_report::value() const {
    return text.substr(static_cast<std::size_t>(read.value_at),
                       static_cast<std::size_t>(read.value_length));
}

std::string closest_name(const std::string& word, const std::vector<std::string>& names) {
    const std::string folded = lower_ascii(word);
    const int allowed = std::min(2, static_cast<int>(columns(word)) / 3);
    std::string best;
    std::string folded_name; // one string for every name, its room kept from one to the next
    int best_distance = allowed + 1;
    for (const std::string& name : names) {
        // Each letter one word has more than the other is one change at least: a name whose
        // length alone puts it as far as the best so far cannot be nearer.
        const std::size_t longer = std::max(folded.size(), name.size());
        if (longer - std::min(folded.size(), name.size()) >=
            static_cast<std::size_t>(best_distance))
            continue;
        folded_name.assign(name);
        for (char& c : folded_name)
            c = lower_ascii(c);
        const int distance = edit_distance(folded, folded_name, best_distance - 1);
        if (distance < best_distance) {
            best = name;
            best_distance = distance;
        }
    }
    return best;
}

void check_named_lines(const std::vector<std::string>& after_line_31, check_result& result) {
    named_lines_check& named = result.named;
    plugin::named_walk walk;
    plugin::named_line read;
    for (const position_report& report : result.positions) {
        if (report.state == line_state::past_end ||
            report.position->line < plugin::named_among_weapons)
            continue;
        if (walk.weapon_line(report.position->line, report.text.c_str(), &read))
            add_named_line(read, report.text, result);
        else
            suggest_on_weapon_line(report, result);
    }
    int line = plugin::settings_line_count;
    for (const std::string& text : after_line_31) {
        ++line;
        if (walk.wants_more()) {
            if (walk.next_line(text.c_str(), &read)) add_named_line(read, text, result);
        } else if (plugin::is_named_line(plugin::named_last_line, text.c_str())) {
            // Past the last line read: what would be a named line a line earlier.
            if (!named.first_past_limit) named.first_past_limit = line;
            ++named.lines_past_limit;
        }
    }
    named.in_effect = walk.values();
    if (const plugin::key_clash clash = plugin::find_key_clash(named.in_effect))
        result.warnings.push_back(
            {named.in_effect.given_by[static_cast<int>(clash.key->setting)], warning_code{},
             plugin::describe_key_clash(named.in_effect, clash).text,
             clash.key->setting == plugin::named_setting::tune_key
                 ? "choose a key that corvane and the game do not use otherwise, such as F8"
                 : std::string("give each of corvane's keys a key of its own, or none"),
             named_code::key_clash});
    result.extra_lines = named.lines_past_limit;
    if (named.lines_past_limit)
        result.warnings.push_back(
            {named.first_past_limit, warning_code::extra_lines,
             plural(named.lines_past_limit, "line", "lines") + " after line " +
                 std::to_string(plugin::named_last_line) + " " +
                 (named.lines_past_limit == 1 ? "holds" : "hold") +
                 " text that corvane does not read",
             "corvane reads named lines up to line " + std::to_string(plugin::named_last_line) +
                 ", " + std::to_string(plugin::named_last_line - plugin::settings_line_count) +
                 " lines after line " + std::to_string(plugin::settings_line_count) +
                 ", so that a reload stays quick: move the ones you need higher up"});
    const float factor = result.mirror_factor();
    for (const offset_entry& entry : result.offsets)
        if (entry.mirrored_beyond_any_number(factor))
            result.warnings.push_back(
                {entry.line, warning_code::not_finite,
                 format_float(entry.x) + " times the other shoulder's factor " +
                     format_float(factor) + " is too large to store (" +
                     format_float(entry.x_mirrored(factor)) +
                     "): the aim point cannot be computed on the other shoulder",
                 "use an ordinary number"});
    std::stable_sort(result.warnings.begin(), result.warnings.end(), by_line);
    std::stable_sort(result.notes.begin(), result.notes.end(), by_line);
}

std::string named_lines_text(const check_result& result) {
    const named_lines_check& named = result.named;
    if (named.lines.empty()) return "";
    std::string out = "\nnamed lines (a name, then its value):\n";
    for (const named_line_report& line : named.lines) {
        const std::string head = "  line " + padded(std::to_string(line.read.line), 2) + "  ";
        const std::string written =
            line.read.value_length ? line.name() + " " + line.value() : line.name();
        out += head + for_display(written, report_width - line_indent) + "\n";
        const std::string indent(line_indent, ' ');
        if (line.counts())
            out += hanging(indent, std::string("sets ") + line.read.row->description, line_indent);
        else if (line.read.problem == named_problem::repeat)
            out += indent + "sets nothing: line " + std::to_string(line.read.earlier_line) +
                   " already set " + line.read.row->name + "\n";
        else
            out += indent + "sets nothing: see the warnings below\n";
    }
    out += "\nnamed settings in effect:\n";
    for (const plugin::named_setting_row& row : plugin::named_settings_table) {
        const int index = static_cast<int>(row.setting);
        const int given_by = named.in_effect.given_by[index];
        out += "  " + padded(row.name, 15) +
               padded(plugin::named_value_display(row, named.in_effect.value[index]).text, 15) +
               (given_by ? "from line " + std::to_string(given_by) : std::string("default")) + "\n";
    }
    return out;
}

} // namespace check
