// Reading a settings file the way the module does, and describing each line's fate.
#include "tools/check/settings_check.h"
#include "tools/check/check_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

namespace check {

using plugin::line_kind;

bool offset_entry::leaves_aim_alone() const {
    return x == 0.0f && y == 0.0f && z == 0.0f; // -0.0 counts as zero, a NaN does not
}

bool offset_entry::finite() const {
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

const char* warning_name(warning_code code) {
    switch (code) {
    case warning_code::number_as_label:
        return "number_as_label";
    case warning_code::missing_values:
        return "missing_values";
    case warning_code::partly_read:
        return "partly_read";
    case warning_code::not_finite:
        return "not_finite";
    case warning_code::weapon_incomplete:
        return "weapon_incomplete";
    case warning_code::weapon_duplicate:
        return "weapon_duplicate";
    case warning_code::weapon_type_spelling:
        return "weapon_type_spelling";
    case warning_code::past_end:
        return "past_end";
    case warning_code::overlong_line:
        return "overlong_line";
    case warning_code::extra_lines:
        return "extra_lines";
    case warning_code::byte_order_mark:
        return "byte_order_mark";
    case warning_code::utf16_file:
        return "utf16_file";
    case warning_code::reload_every_frame:
        return "reload_every_frame";
    }
    return "unknown";
}

int check_result::exit_status() const {
    if (!readable) return 2;
    return warnings.empty() ? 0 : 1;
}

namespace {

constexpr char utf8_mark[] = "\xEF\xBB\xBF";
constexpr int first_weapon_line = 16;

bool is_labelled(line_kind kind) {
    return kind == line_kind::reload_flag || kind == line_kind::host_float ||
           kind == line_kind::code_float || kind == line_kind::aim_row;
}

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
    if (is_labelled(kind) && p < text.size()) {
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

    void check(position_report& report, const std::string& raw) {
        report_ = &report;
        line_ = report.position->line;
        kind_ = report.position->kind;
        const std::string& text = report.text;
        layout_ = lay_out(kind_, text, report.values.count);
        bool label_is_number = false;

        if (line_ == 1) check_encoding(raw);
        if (report.state == line_state::overlong)
            warn(warning_code::overlong_line,
                 "longer than 511 characters: only its first 511 are read, the rest is skipped",
                 "shorten the line; the lines after it still keep their places");
        if (is_labelled(kind_) && layout_.has_label) {
            std::string label =
                text.substr(layout_.label.begin, layout_.label.end - layout_.label.begin);
            if (line_ == 1 && label.rfind(utf8_mark, 0) == 0) label.erase(0, 3);
            if (is_number_word(label)) {
                label_is_number = true;
                warn(
                    warning_code::number_as_label,
                    "the first word, " + quoted(label) + ", is a number, so it is read as the " +
                        (report.values.count == 0
                             ? std::string("label and the line sets nothing")
                             : std::string("label and the values are taken from the next word on")),
                    "start the line with a one-word label, e.g. 'value " + label + "'");
            }
        }
        check_value_spelling();
        switch (kind_) {
        case line_kind::reload_flag:
        case line_kind::host_float:
        case line_kind::code_float:
        case line_kind::aim_row:
            if (report.values.count < plugin::values_wanted(kind_) &&
                !(label_is_number && report.values.count == 0))
                warn_missing_values();
            if (kind_ == line_kind::reload_flag && report.values.count >= 1 &&
                report.values.integer != 0)
                warn(warning_code::reload_every_frame,
                     "reloading every frame is on (" + std::to_string(report.values.integer) +
                         "): the module reads this file again on every frame",
                     "fine while tuning, then set it to 0. While it is on, host values and rows "
                     "change at once and new weapon types are added, but a weapon type already "
                     "loaded keeps its first offset until the game is restarted");
            break;
        case line_kind::weapon:
            check_weapon();
            break;
        case line_kind::ignored:
            break;
        }
    }

  private:
    void warn(warning_code code, std::string message, std::string hint) {
        result_.warnings.push_back({line_, code, std::move(message), std::move(hint)});
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

    void warn_missing_values() {
        const int count = report_->values.count;
        const int wanted = plugin::values_wanted(kind_);
        const plugin::settings_position& position = *report_->position;
        std::string message;
        switch (kind_) {
        case line_kind::reload_flag:
            message = "no whole number after the label: reloading keeps its setting (off when "
                      "the game starts)";
            break;
        case line_kind::host_float:
            message = "no number after the label: the host keeps its own value at " +
                      hex_address(position.host_address);
            break;
        case line_kind::code_float:
            message = "no number after the label: nothing is written into the host's code at " +
                      hex_address(position.host_address);
            break;
        default: {
            const std::string row = "row " + std::to_string(position.row);
            if (count == 0)
                message = "no values after the label: " + row +
                          " keeps its values (0.0 when the game starts), and reaches the host";
            else
                message = "only " + std::to_string(count) + " of 7 values: " +
                          (count == 6 ? "value 7 of " + row + " keeps its value"
                                      : "values " + std::to_string(count + 1) + " to 7 of " + row +
                                            " keep their value") +
                          " (0.0 when the game starts)";
            break;
        }
        }
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
        warn(warning_code::missing_values, message, hint);
    }

    void check_weapon() {
        position_report& report = *report_;
        const plugin::line_values& values = report.values;
        if (!has_text(report.text)) return; // a blank weapon line: a slot left unused
        if (values.count < 4) {
            bool cut = false;
            const std::string stop_word = stopper(cut);
            std::string hint;
            if (values.count == 0)
                hint = "weapon lines have no label: start with the weapon type, then x, y and z "
                       "(e.g. '22 0.5 0.2 0.1')";
            else if (cut)
                hint = "a number was cut short: see the warning above";
            else if (!stop_word.empty())
                hint = quoted(stop_word) + " is not a number";
            else
                hint = "give all four: weapon type, x, y, z";
            warn(warning_code::weapon_incomplete,
                 values.count == 0 ? std::string("no weapon type at the start: no entry")
                                   : "only " + std::to_string(values.count) +
                                         " of the 4 fields (type, x, y, z): no entry",
                 hint);
            return;
        }
        const auto earlier = given_.find(values.integer);
        if (earlier != given_.end()) {
            const std::string which = values.integer == -1
                                          ? std::string("the default (-1)")
                                          : "weapon type " + std::to_string(values.integer);
            warn(warning_code::weapon_duplicate,
                 which + " was already given on line " + std::to_string(earlier->second) +
                     ": this line changes nothing (the first entry wins)",
                 "remove this line, or change the offset on line " +
                     std::to_string(earlier->second));
            return;
        }
        given_[values.integer] = line_;
        result_.offsets.push_back(
            {line_, values.integer, values.floats[0], values.floats[1], values.floats[2]});
    }

    check_result& result_;
    position_report* report_ = nullptr;
    int line_ = 0;
    line_kind kind_{};
    line_layout layout_;
    std::map<std::int32_t, int> given_; // weapon type -> the line that gave it
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

void warn_past_end(check_result& result, int first_missing) {
    const int line = first_missing;
    bool values = false, rows = false;
    for (int l = line; l < first_weapon_line; ++l) {
        const line_kind kind = plugin::settings_positions[l - 1].kind;
        values = values || kind == line_kind::host_float || kind == line_kind::code_float ||
                 kind == line_kind::reload_flag;
        rows = rows || kind == line_kind::aim_row;
    }
    std::string message = line == 1 ? std::string("the file is empty: nothing is set")
                                    : "the file ends after line " + std::to_string(line - 1) +
                                          ": lines " + std::to_string(line) + " to 31 set nothing";
    if (values) message += "; the host keeps its own values";
    if (rows) message += "; the aim rows without a line stay 0.0 and still reach the host";
    if (line <= plugin::settings_line_count) message += "; no weapon entries from those lines";
    std::string hint = line >= first_weapon_line
                           ? "fine if you need no more weapons; blank lines keep the file whole"
                           : "the file needs all 31 lines: see corvane-check --template";
    result.warnings.push_back({line, warning_code::past_end, message, hint});
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
        if (first_missing == position.line) {
            warn_past_end(result, first_missing);
        } else if (!first_missing) {
            checker.check(result.positions.back(), buffer);
        }
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
