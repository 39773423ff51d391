// Reading a settings file the way the module does, and describing each line's fate.
#include "tools/check/settings_check.h"
#include "tools/check/check_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace check {

using plugin::line_kind;

bool offset_entry::leaves_aim_alone() const {
    return x == 0.0f && y == 0.0f && z == 0.0f; // -0.0 counts as zero, a NaN does not
}

bool offset_entry::finite() const {
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

const char* warning_name(warning_code code) {
    return plugin::finding_name(code);
}

int check_result::exit_status() const {
    if (!readable) return 2;
    return warnings.empty() ? 0 : 1;
}

namespace {

constexpr char utf8_mark[] = "\xEF\xBB\xBF";

bool has_text(const std::string& text) {
    for (char c : text)
        if (!is_blank(c)) return true;
    return false;
}

std::string plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Where the parser found the label and each value it took. The module parses with one scanf
// call per line; scanning value by value with the same conversions and "%n" finds the same
// places, which the module's parser does not report.
struct span {
    std::size_t begin = 0, end = 0;
};

struct line_layout {
    span label;
    bool has_label = false;
    std::vector<span> values;
    std::size_t stop = 0; // where parsing stopped after the last value taken
};

line_layout lay_out(line_kind kind, const std::string& text, int count) {
    line_layout layout;
    const char* const s = text.c_str();
    std::size_t p = skip_blanks(text, 0);
    if (plugin::has_label(kind) && p < text.size()) {
        layout.label.begin = p;
        layout.label.end = p = word_end(text, p);
        layout.has_label = true;
    }
    for (int i = 0; i < count; ++i) {
        p = skip_blanks(text, p);
        int used = 0, whole = 0;
        float real = 0;
        const bool integer =
            i == 0 && (kind == line_kind::weapon || kind == line_kind::reload_flag);
        const int got = !integer                    ? std::sscanf(s + p, "%f%n", &real, &used)
                        : kind == line_kind::weapon ? std::sscanf(s + p, "%i%n", &whole, &used)
                                                    : std::sscanf(s + p, "%d%n", &whole, &used);
        if (got != 1) break;
        layout.values.push_back({p, p + used});
        p += used;
    }
    layout.stop = p;
    return layout;
}

// Whether a whole word is a number: it holds a digit and "%f" reads all of it.
bool is_number_word(const std::string& word) {
    if (word.find_first_of("0123456789") == std::string::npos) return false;
    float value = 0;
    int used = 0;
    return std::sscanf(word.c_str(), "%f%n", &value, &used) == 1 &&
           static_cast<std::size_t>(used) == word.size();
}

// A number that stops where the word goes on with something that looks like part of it
// ("1,5", "1.5.2", "08"); punctuation such as "1.0//" ends a number without surprise.
bool cut_short(const std::string& text, std::size_t end) {
    if (end >= text.size() || is_blank(text[end])) return false;
    const unsigned char c = static_cast<unsigned char>(text[end]);
    return std::isalnum(c) || std::strchr(",.+-", c) != nullptr;
}

std::string quoted(const std::string& word) {
    return "'" + word + "'";
}

class line_checker {
  public:
    line_checker(check_result& result) : result_(result) {}

    // Checks one position as the module read it; `raw` is the line buffer, line end kept.
    void check(position_report& report, plugin::line_read read, const char* raw) {
        report_ = &report;
        line_ = report.position->line;
        kind_ = report.position->kind;
        layout_ = read == plugin::line_read::absent
                      ? line_layout{}
                      : lay_out(kind_, report.text, report.values.count);

        if (line_ == 1 && read != plugin::line_read::absent) check_encoding(raw);
        const plugin::line_findings found =
            findings_.take(*report.position, read, raw, report.values);
        bool spelling_checked = read == plugin::line_read::absent;
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
            add({line_, warning_code::reload_every_frame,
                 "reloading every frame is on (" + std::to_string(values.integer) +
                     "): the module reads this file again on every frame",
                 "fine while tuning, then set it to 0. While it is on, every change you save "
                 "takes effect on the next frame, weapon offsets included; a weapon type you "
                 "take out of the file keeps its last offset until the game is restarted"},
                finding_severity::note);
        if (kind_ == line_kind::weapon && read != plugin::line_read::absent &&
            values.count == plugin::values_wanted(kind_) && !duplicate)
            result_.offsets.push_back(
                {line_, values.integer, values.floats[0], values.floats[1], values.floats[2]});
    }

  private:
    void add(check_warning finding, finding_severity severity) {
        (severity == finding_severity::note ? result_.notes : result_.warnings)
            .push_back(std::move(finding));
    }

    void warn(warning_code code, std::string message, std::string hint) {
        add({line_, code, std::move(message), std::move(hint)}, finding_severity::warning);
    }

    // What to do about a finding the module's own rules made.
    std::string hint_for(const plugin::settings_finding& finding) const {
        switch (finding.code) {
        case warning_code::overlong_line:
            return "shorten the line; the lines after it still keep their places";
        case warning_code::number_as_label:
            return "start the line with a one-word label, e.g. 'value " + label_text() + "'";
        case warning_code::missing_values:
            return missing_values_hint();
        case warning_code::value_left_alone:
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
                       : "the file needs all 31 lines: see corvane-check --template";
        default:
            return "";
        }
    }

    std::string label_text() const {
        std::string label =
            report_->text.substr(layout_.label.begin, layout_.label.end - layout_.label.begin);
        if (line_ == 1 && label.rfind(utf8_mark, 0) == 0) label.erase(0, 3);
        return label;
    }

    std::string word_from(std::size_t p) const {
        const std::string& text = report_->text;
        p = skip_blanks(text, p);
        return text.substr(p, word_end(text, p) - p);
    }

    void check_encoding(const std::string& raw) {
        if (raw.rfind(utf8_mark, 0) == 0)
            warn(warning_code::byte_order_mark,
                 "the file starts with a UTF-8 byte-order mark, which becomes part of line 1's "
                 "label",
                 "harmless while line 1 starts with a label; to be safe, save the file as plain "
                 "UTF-8 (without the mark) or ANSI");
        else if (raw.rfind("\xFF\xFE", 0) == 0 || raw.rfind("\xFE\xFF", 0) == 0)
            warn(warning_code::utf16_file,
                 "the file is saved as UTF-16 (Unicode): the module reads it byte by byte and "
                 "finds no values in it",
                 "save it as plain text (ANSI or UTF-8)");
    }

    // Numbers that stop inside a word, weapon types in other bases, and inf or nan.
    void check_value_spelling() {
        const std::string& text = report_->text;
        const plugin::line_values& values = report_->values;
        for (std::size_t i = 0; i < layout_.values.size(); ++i) {
            const span v = layout_.values[i];
            const std::string word = text.substr(v.begin, word_end(text, v.begin) - v.begin);
            const std::string read = text.substr(v.begin, v.end - v.begin);
            const bool integer =
                i == 0 && (kind_ == line_kind::weapon || kind_ == line_kind::reload_flag);
            if (i == 0 && kind_ == line_kind::weapon) {
                check_weapon_type(word, read, values.integer, v.end);
                continue;
            }
            if (cut_short(text, v.end)) {
                const std::string value = integer ? std::to_string(values.integer)
                                                  : format_float(values.floats[float_index(i)]);
                std::string hint = "write each value as a plain number, with blanks between";
                if (text[v.end] == ',') {
                    std::string fixed = word;
                    for (char& c : fixed)
                        if (c == ',') c = '.';
                    hint = "write decimals with a point: " + fixed;
                } else if (integer) {
                    hint = "line 1 takes a whole number: 0 or 1";
                }
                const std::string rest = quoted(word.substr(read.size()));
                const bool next_value_there =
                    i + 1 < layout_.values.size() && layout_.values[i + 1].begin == v.end;
                warn(warning_code::partly_read,
                     quoted(word) + " is read as " + value + "; the rest, " + rest +
                         (next_value_there ? ", is read as the next value"
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
                            : " is too large for a float and becomes " + format_float(f);
                    warn(warning_code::not_finite,
                         quoted(read) + what +
                             (kind_ == line_kind::weapon ? ": the aim point cannot be computed"
                                                         : ", and the host receives it as it is"),
                         "use an ordinary number");
                }
            }
        }
    }

    int float_index(std::size_t value_index) const {
        // The weapon type and line 1's number are integers; every other value is a float.
        return kind_ == line_kind::weapon ? static_cast<int>(value_index) - 1
                                          : static_cast<int>(value_index);
    }

    void check_weapon_type(const std::string& word, const std::string& read, std::int32_t type,
                           std::size_t end) {
        const std::string type_text = std::to_string(type);
        if (cut_short(report_->text, end)) {
            const bool rest_is_x = layout_.values.size() > 1 && layout_.values[1].begin == end;
            warn(warning_code::weapon_type_spelling,
                 quoted(word) + " is read as weapon type " + type_text + ", and the rest, " +
                     quoted(word.substr(read.size())) +
                     (rest_is_x ? ", as x: every value after it moves one place"
                                : ", ends the line"),
                 "write the weapon type as a whole decimal number");
            return;
        }
        const std::size_t digits = read.find_first_not_of("+-");
        if (digits == std::string::npos) return;
        const std::string number = read.substr(digits);
        if (number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X')) {
            warn(warning_code::weapon_type_spelling,
                 read + " is weapon type " + type_text + " (0x means hexadecimal)",
                 "write " + type_text + " if that is the weapon type you mean");
        } else if (number.size() > 1 && number[0] == '0') {
            const std::string decimal =
                read.substr(0, digits) + std::to_string(std::strtoll(number.c_str(), nullptr, 10));
            if (decimal != type_text)
                warn(warning_code::weapon_type_spelling,
                     read + " is weapon type " + type_text + " (a leading 0 means octal)",
                     "drop the leading zero: write " + decimal + " for weapon type " + decimal);
        }
    }

    // The word where parsing stopped (empty at the end of the line); `cut` when it is the rest
    // of a number that stopped inside its word, which a warning of its own explains.
    std::string stopper(bool& cut) const {
        cut = !layout_.values.empty() && cut_short(report_->text, layout_.stop);
        return word_from(layout_.stop);
    }

    std::string missing_values_hint() const {
        const int count = report_->values.count;
        const int wanted = plugin::values_wanted(kind_);
        std::string hint;
        bool cut = false;
        const std::string stop_word = stopper(cut);
        if (!layout_.has_label) {
            hint = "the line is empty: it needs a label and " + plural(wanted, "value", "values");
        } else if (cut) {
            hint = "a number was cut short: see the warning above";
        } else if (!stop_word.empty()) {
            const std::string label =
                report_->text.substr(layout_.label.begin, layout_.label.end - layout_.label.begin);
            hint = quoted(stop_word) + " is not a number";
            if (count == 0 && !is_number_word(stop_word))
                hint += ": a label is one word; join words with '_', e.g. '" + label + "_" +
                        stop_word + "'";
        } else if (count == 0 && kind_ != line_kind::aim_row) {
            hint = kind_ == line_kind::reload_flag
                       ? "write 0 or 1 after the label"
                       : "fine if you mean to keep the game's own value; else add a number";
        } else {
            hint = "add " + plural(wanted - count, "value", "values") + " after " +
                   (count > 0 ? "the last one" : "the label");
        }
        return hint;
    }

    std::string weapon_incomplete_hint() const {
        bool cut = false;
        const std::string stop_word = stopper(cut);
        if (report_->values.count == 0)
            return "weapon lines have no label: start with the weapon type, then x, y and z "
                   "(e.g. '22 0.5 0.2 0.1')";
        if (cut) return "a number was cut short: see the warning above";
        if (!stop_word.empty()) return quoted(stop_word) + " is not a number";
        return "give all four: weapon type, x, y, z";
    }

    check_result& result_;
    position_report* report_ = nullptr;
    int line_ = 0;
    line_kind kind_{};
    line_layout layout_;
    plugin::settings_findings findings_;
};

std::string describe_takes(const position_report& report, const check_result& result) {
    const plugin::line_values& v = report.values;
    const plugin::settings_position& position = *report.position;
    const bool present = report.state != line_state::past_end;
    switch (position.kind) {
    case line_kind::ignored:
        return "-";
    case line_kind::reload_flag:
        if (!present || v.count == 0) return "nothing: reloading stays off";
        return std::to_string(v.integer) + (v.integer ? ": read again every frame" : ": read once");
    case line_kind::host_float:
        if (!present || v.count == 0) return "nothing: the host keeps its value";
        return format_float(v.floats[0]);
    case line_kind::code_float:
        if (!present || v.count == 0) return "nothing: the code stays as it is";
        return format_float(v.floats[0]);
    case line_kind::aim_row: {
        if (!present || v.count == 0) return "nothing: the row stays 0.0";
        std::string s;
        for (int i = 0; i < v.count; ++i) {
            if (i) s += ' ';
            s += format_float(v.floats[i]);
        }
        if (v.count < 7) {
            s += " (then 0.0 x";
            s += std::to_string(7 - v.count);
            s += ')';
        }
        return s;
    }
    case line_kind::weapon:
        if (!present) return "no entry";
        if (!has_text(report.text)) return "unused";
        if (v.count < 4) return "no entry";
        for (const offset_entry& entry : result.offsets) {
            if (entry.line != position.line) continue;
            std::string s = (entry.weapon_type == -1 ? std::string("default (-1)")
                                                     : "type " + std::to_string(entry.weapon_type));
            if (entry.leaves_aim_alone()) return s + ": zero, aim left alone";
            return s + ": " + format_float(entry.x) + " " + format_float(entry.y) + " " +
                   format_float(entry.z);
        }
        return "nothing: type " + std::to_string(v.integer) + " given earlier";
    }
    return "";
}

} // namespace

check_result check_settings_stream(std::FILE* file, const std::string& name) {
    check_result result;
    result.file = name;
    result.readable = true;
    line_checker checker(result);
    char buffer[plugin::line_buffer_size];
    int first_missing = 0;
    for (const plugin::settings_position& position : plugin::settings_positions) {
        position_report report;
        report.position = &position;
        const plugin::line_read got =
            first_missing ? plugin::line_read::absent : plugin::read_settings_line(file, buffer);
        if (got == plugin::line_read::absent) {
            if (!first_missing && std::ferror(file)) {
                result.readable = false;
                result.error = std::strerror(errno);
                return result;
            }
            if (!first_missing) first_missing = position.line;
        } else {
            ++result.lines_read;
            report.state =
                got == plugin::line_read::overlong ? line_state::overlong : line_state::read;
            report.text = without_line_end(buffer);
            report.values = plugin::parse_settings_line(position.kind, buffer);
            if (position.kind == line_kind::reload_flag && report.values.count >= 1)
                result.reload_each_frame = report.values.integer;
        }
        result.positions.push_back(report);
        checker.check(result.positions.back(), got, buffer);
    }
    if (!first_missing) {
        int after = 0, first_with_text = 0;
        while (plugin::read_settings_line(file, buffer) != plugin::line_read::absent) {
            ++after;
            if (has_text(buffer)) {
                ++result.extra_lines;
                if (!first_with_text) first_with_text = plugin::settings_line_count + after;
            }
        }
        if (result.extra_lines)
            result.warnings.push_back(
                {first_with_text, warning_code::extra_lines,
                 plural(result.extra_lines, "line", "lines") + " after line 31 " +
                     (result.extra_lines == 1 ? "holds" : "hold") +
                     " text that the module never reads",
                 "the module reads exactly 31 lines, each by its place: was a line added "
                 "above? (weapons go on lines 16 to 31)"});
    }
    for (position_report& report : result.positions)
        report.takes = describe_takes(report, result);
    return result;
}

namespace {

// The module opens the file in Windows text mode: "\r\n" reads as "\n" and a Ctrl-Z byte ends
// the file. On Windows the checker opens it the same way; elsewhere it reads the bytes and hands
// the module's reader a copy that looks the way Windows text mode shows the file.
std::FILE* open_as_the_module_does(const std::string& path) {
#ifdef _WIN32
    return std::fopen(path.c_str(), "r");
#else
    std::FILE* const raw = std::fopen(path.c_str(), "rb");
    if (!raw) return nullptr;
    std::string bytes;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, raw)) > 0)
        bytes.append(chunk, got);
    const bool failed = std::ferror(raw);
    const int error = errno;
    std::fclose(raw);
    if (failed) {
        errno = error;
        return nullptr;
    }
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += bytes[i];
    std::FILE* const copy = std::tmpfile();
    if (!copy) return nullptr;
    if (std::fwrite(text.data(), 1, text.size(), copy) != text.size()) {
        std::fclose(copy);
        return nullptr;
    }
    std::rewind(copy);
    return copy;
#endif
}

} // namespace

check_result check_settings_file(const std::string& path) {
    std::FILE* const file = open_as_the_module_does(path);
    if (!file) {
        check_result result;
        result.file = path;
        result.error = std::strerror(errno);
        return result;
    }
    check_result result = check_settings_stream(file, path);
    std::fclose(file);
    return result;
}

} // namespace check
