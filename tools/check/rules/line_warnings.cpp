#include "tools/check/rules/line_warnings.h"

#include "tools/check/check_text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace check {

using plugin::line_kind;

namespace {

constexpr char reload_hint[] = "write 1 (on) or 0 (off) after the label";

bool is_number_word(const std::string& word) {
    return plugin::is_number_word(word.data(), word.data() + word.size());
}

// The number a word means when read as plain decimal digits with an optional sign ("08" is 8,
// "-010" is -10); empty for any other word.
std::string decimal_meaning(const std::string& word) {
    const std::size_t digits = word.find_first_not_of("+-");
    if (digits > 1 || digits == std::string::npos || digits == word.size() ||
        word.find_first_not_of("0123456789", digits) != std::string::npos)
        return "";
    errno = 0;
    const long long value = std::strtoll(word.c_str(), nullptr, 10);
    return errno == 0 ? std::to_string(value) : "";
}

} // namespace

void line_checker::check(position_report& report, plugin::line_read read, const char* raw) {
    report_ = &report;
    line_ = report.position->line;
    kind_ = report.position->kind;
    const bool present = read != plugin::line_read::absent;
    layout_ = present ? plugin::lay_out(kind_, report.text) : plugin::line_layout{};

    if (line_ == 1) check_encoding(present ? raw : "");
    const plugin::line_findings found = findings_.take(*report.position, read, raw, report.values);
    // A line whose values are glued together has one warning, which shows it rewritten: what
    // the glued word's number stops at is part of that.
    bool spelling_checked =
        !present || std::any_of(found.items, found.items + found.count, [](const auto& finding) {
            return finding.code == warning_code::values_joined;
        });
    bool duplicate = false;
    for (int i = 0; i < found.count; ++i) {
        const plugin::settings_finding& finding = found.items[i];
        // What a number's spelling does explains what the line then fails to set.
        if (!spelling_checked && finding.code != warning_code::overlong_line &&
            finding.code != warning_code::number_as_label) {
            check_value_spelling();
            spelling_checked = true;
        }
        duplicate = duplicate || finding.code == warning_code::weapon_duplicate;
        add({line_, finding.code, finding.sentence, hint_for(finding)}, finding.severity);
    }
    if (!spelling_checked) check_value_spelling();

    const plugin::line_values& values = report.values;
    if (kind_ == line_kind::reload_flag && values.count >= 1 && values.integer != 0)
        note(warning_code::reload_every_frame,
             "reloading every frame is on (" + std::to_string(values.integer) +
                 "): corvane reads this file again on every frame",
             "fine while tuning, then set it to 0. While it is on, every change you save takes "
             "effect on the next frame, weapon offsets included; a weapon type you take out of "
             "the file keeps its last offset until the game is restarted");
    if (kind_ == line_kind::weapon && present && values.count == plugin::values_wanted(kind_) &&
        !duplicate)
        result_.offsets.push_back(
            {line_, values.integer, values.floats[0], values.floats[1], values.floats[2]});
}

void line_checker::add(check_warning finding, finding_severity severity) {
    (severity == finding_severity::note ? result_.notes : result_.warnings)
        .push_back(std::move(finding));
}

void line_checker::warn(warning_code code, std::string message, std::string hint) {
    add({line_, code, std::move(message), std::move(hint)}, finding_severity::warning);
}

void line_checker::note(warning_code code, std::string message, std::string hint) {
    add({line_, code, std::move(message), std::move(hint)}, finding_severity::note);
}

void line_checker::check_encoding(const std::string& raw) {
    if (result_.encoding != plugin::settings_encoding::eight_bit)
        note(warning_code::utf16_file,
             std::string("the file is saved as UTF-16 (Unicode") +
                 (result_.encoding == plugin::settings_encoding::utf16_be ? ", big-endian" : "") +
                 "): corvane reads the text it holds; a letter outside ASCII reads as '?', "
                 "which a label or a comment may hold",
             "fine as it is: UTF-8, ANSI and Unicode all work");
    else if (raw.rfind(plugin::utf8_byte_order_mark, 0) == 0)
        note(warning_code::byte_order_mark,
             "the file starts with a mark some editors put at the start of a file (Notepad's "
             "\"UTF-8 with BOM\"), which becomes part of line 1's label",
             "harmless while line 1 starts with a label, as it should");
}

// Numbers that stop inside a word, weapon types in other bases, and inf or nan.
void line_checker::check_value_spelling() {
    const std::string& text = report_->text;
    const plugin::line_values& values = report_->values;
    for (std::size_t i = 0; i < layout_.values.size(); ++i) {
        const plugin::span v = layout_.values[i];
        const bool integer = i == 0 && plugin::starts_with_integer(kind_);
        const bool cut = cut_short(text, v.end);
        // A whole plain number, as almost every value is, needs nothing more.
        if (!cut && !(i == 0 && kind_ == line_kind::weapon) &&
            (integer || std::isfinite(values.floats[float_index(i)])))
            continue;
        const std::string word = text_of(text, {v.begin, word_end(text, v.begin)});
        const std::string read = text_of(text, v);
        if (i == 0 && kind_ == line_kind::weapon) {
            check_weapon_type(word, read, v.end);
            continue;
        }
        if (cut) {
            const std::string value = integer ? std::to_string(values.integer)
                                              : format_float(values.floats[float_index(i)]);
            std::string hint = "write each value as a plain number, with blanks between";
            if (text[v.end] == ',') {
                std::string fixed = word;
                for (char& c : fixed)
                    if (c == ',') c = '.';
                hint = "write decimals with a point: " + fixed;
            } else if (integer) {
                hint = std::string("line 1 takes a whole number: ") + reload_hint;
            }
            const std::string rest = quoted(word.substr(read.size()));
            const bool next_value_there =
                i + 1 < layout_.values.size() && layout_.values[i + 1].begin == v.end;
            warn(warning_code::partly_read,
                 quoted(word) + " is read as " + value + "; the rest, " + rest +
                     (next_value_there                               ? ", is read as the next value"
                      : values.count == plugin::values_wanted(kind_) ? ", is ignored"
                                                                     : ", ends the line"),
                 hint);
        }
        if (!integer) {
            const float f = values.floats[float_index(i)];
            if (!std::isfinite(f)) {
                const std::string what =
                    std::isnan(f) ? " is not a number"
                    : read.find_first_of("iI") != std::string::npos
                        ? " is an infinite value"
                        : " is too large to store and becomes " + format_float(f);
                warn(warning_code::not_finite,
                     quoted(read) + what +
                         (kind_ == line_kind::weapon ? ": the aim point cannot be computed"
                                                     : ", and the game receives it as it is"),
                     "use an ordinary number");
            }
        }
    }
}

// A weapon type is read as "%i" reads it: hexadecimal after 0x or 0X, octal after a leading 0,
// decimal otherwise. Hexadecimal is a documented form that nobody writes by accident; a leading
// zero is the trap, since it silently turns the number octal, and 8 or 9 then end it early.
void line_checker::check_weapon_type(const std::string& word, const std::string& read,
                                     std::size_t end) {
    const std::int32_t type = report_->values.integer;
    const std::string type_text = std::to_string(type);
    const std::string meant = decimal_meaning(word);
    if (cut_short(report_->text, end)) {
        const bool rest_is_x = layout_.values.size() > 1 && layout_.values[1].begin == end;
        warn(warning_code::weapon_type_spelling,
             quoted(word) + " is read as weapon type " + type_text + ", and the rest, " +
                 quoted(word.substr(read.size())) +
                 (rest_is_x ? ", as x: every value after it moves one place" : ", ends the line"),
             !meant.empty() ? "a leading 0 makes an octal number, which has no 8 or 9: write " +
                                  meant + " for weapon type " + meant
                            : std::string("write the weapon type as a whole decimal number"));
        return;
    }
    const std::size_t digits = read.find_first_not_of("+-");
    const std::string number = digits == std::string::npos ? "" : read.substr(digits);
    const bool hexadecimal =
        number.size() >= 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
    if (hexadecimal && number.size() == 2) {
        warn(warning_code::weapon_type_spelling,
             quoted(read) + " has no digits after the 0x and is read as weapon type 0",
             "write the weapon type in decimal, or its hexadecimal digits after 0x");
        return;
    }
    if (std::strtoll(read.c_str(), nullptr, 0) != type) {
        warn(warning_code::weapon_type_spelling,
             quoted(read) + " is beyond the range of weapon types and is read as " + type_text,
             "weapon types run from -2147483648 to 2147483647; write -1 for the default");
        return;
    }
    if (hexadecimal) {
        note(warning_code::weapon_type_hexadecimal,
             read + " is weapon type " + type_text + ", written in hexadecimal",
             "nothing to do: " + type_text + " would mean the same");
    } else if (number.size() > 1 && number[0] == '0' && meant != type_text) {
        warn(warning_code::weapon_type_spelling,
             quoted(read) + " is read as weapon type " + type_text + ", not " + meant +
                 ": a leading 0 makes it an octal number",
             "drop the leading zero: write " + meant + " (or " + type_text + ", if type " +
                 type_text + " is the one you mean)");
    }
}

int line_checker::float_index(std::size_t value_index) const {
    // The weapon type and line 1's number are integers; every other value is a float.
    return kind_ == line_kind::weapon ? static_cast<int>(value_index) - 1
                                      : static_cast<int>(value_index);
}

// What to do about a finding corvane's own rules made.
std::string line_checker::hint_for(const plugin::settings_finding& finding) const {
    switch (finding.code) {
    case warning_code::overlong_line:
        return "shorten the line; the lines after it still keep their places";
    case warning_code::number_as_label:
        return "start the line with a one-word label, e.g. 'value " + label_text() + "'";
    case warning_code::missing_values:
        return missing_values_hint();
    case warning_code::values_joined: {
        char fixed[plugin::line_buffer_size];
        plugin::joined_values(*report_->position, report_->text.c_str(), report_->values, fixed);
        return std::string(plugin::has_label(kind_) ? "a blank between the label and each value"
                                                    : "a blank between the values") +
               ", no '=', ':', ';' or ',': write the line as " + quoted(fixed);
    }
    case warning_code::value_left_alone:
        if (kind_ == line_kind::aim_row)
            return "fine if you mean to keep the game's own row; else add its " +
                   std::to_string(plugin::row_value_count) + " numbers after the label";
        return "fine if you mean to keep the game's own value; else add a number";
    case warning_code::weapon_incomplete:
        return weapon_incomplete_hint();
    case warning_code::weapon_duplicate:
        for (const offset_entry& entry : result_.offsets)
            if (entry.weapon_type == report_->values.integer)
                return "remove this line, or change the offset on line " +
                       std::to_string(entry.line);
        return "remove this line";
    case warning_code::past_end:
        return finding.severity == finding_severity::note
                   ? "fine if you need no more weapons; blank lines keep the file whole"
                   : "the file needs all 31 lines. Line " + std::to_string(line_) +
                         " of the starter file, to paste back: " + quoted(starter_line(line_)) +
                         " (corvane-check --template FILE writes the whole starter file)";
    default:
        return "";
    }
}

std::string line_checker::label_text() const {
    std::string label = text_of(report_->text, layout_.label);
    if (line_ == 1 && label.rfind(plugin::utf8_byte_order_mark, 0) == 0)
        label.erase(0, plugin::utf8_byte_order_mark_size);
    return label;
}

std::string line_checker::word_from(std::size_t p) const {
    const std::string& text = report_->text;
    p = skip_blanks(text, p);
    return text_of(text, {p, word_end(text, p)});
}

// The word where parsing stopped (empty at the end of the line); `cut` when it is the rest of a
// number that stopped inside its word and a warning of this line, shown above, explains it.
std::string line_checker::stopper(bool& cut) const {
    cut =
        !layout_.values.empty() && cut_short(report_->text, layout_.values.back().end) &&
        std::any_of(result_.warnings.begin(), result_.warnings.end(), [&](const check_warning& w) {
            return w.line == line_ && (w.code == warning_code::partly_read ||
                                       w.code == warning_code::weapon_type_spelling);
        });
    return word_from(layout_.stop);
}

std::string line_checker::missing_values_hint() const {
    const int count = report_->values.count;
    const int wanted = plugin::values_wanted(kind_);
    bool cut = false;
    const std::string stop_word = stopper(cut);
    if (!layout_.has_label)
        return "the line is empty: it needs a label and " + plural(wanted, "value", "values");
    if (cut) return "a number was cut short: see the warning above";
    if (kind_ == line_kind::reload_flag)
        return (stop_word.empty() ? std::string() : quoted(stop_word) + " is not a number: ") +
               reload_hint;
    if (!stop_word.empty()) {
        std::string hint = quoted(stop_word) + " is not a number";
        if (count == 0 && !is_number_word(stop_word))
            hint += ": a label is one word; join words with '_', e.g. '" + label_text() + "_" +
                    stop_word + "'";
        return hint;
    }
    if (kind_ == line_kind::aim_row)
        return "fine if you mean to keep the game's own values for the rest; else add " +
               plural(wanted - count, "value", "values") + " after the last one";
    return "add " + plural(wanted - count, "value", "values") + " after " +
           (count > 0 ? "the last one" : "the label");
}

std::string line_checker::weapon_incomplete_hint() const {
    bool cut = false;
    const std::string stop_word = stopper(cut);
    if (report_->values.count == 0)
        return "weapon lines have no label: start with the weapon type, then x, y and z "
               "(e.g. '22 0.5 0.2 0.1')";
    if (cut) return "a number was cut short: see the warning above";
    if (!stop_word.empty())
        return quoted(stop_word) + " stands where a number belongs: give all four, weapon type, " +
               "x, y and z, before any words of your own";
    return "give all four: weapon type, x, y, z";
}

} // namespace check
