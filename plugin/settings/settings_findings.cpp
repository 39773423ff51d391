#include "plugin/settings/settings_findings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace plugin {

const char* finding_name(finding_code code) noexcept {
    switch (code) {
    case finding_code::number_as_label:
        return "number_as_label";
    case finding_code::missing_values:
        return "missing_values";
    case finding_code::value_left_alone:
        return "value_left_alone";
    case finding_code::weapon_incomplete:
        return "weapon_incomplete";
    case finding_code::weapon_duplicate:
        return "weapon_duplicate";
    case finding_code::past_end:
        return "past_end";
    case finding_code::overlong_line:
        return "overlong_line";
    case finding_code::values_joined:
        return "values_joined";
    case finding_code::partly_read:
        return "partly_read";
    case finding_code::not_finite:
        return "not_finite";
    case finding_code::weapon_type_spelling:
        return "weapon_type_spelling";
    case finding_code::weapon_type_hexadecimal:
        return "weapon_type_hexadecimal";
    case finding_code::extra_lines:
        return "extra_lines";
    case finding_code::byte_order_mark:
        return "byte_order_mark";
    case finding_code::utf16_file:
        return "utf16_file";
    case finding_code::reload_every_frame:
        return "reload_every_frame";
    case finding_code::line_shifted:
        return "line_shifted";
    case finding_code::not_text:
        return "not_text";
    case finding_code::tunes_not_saved:
        return "tunes_not_saved";
    case finding_code::newer_copy:
        return "newer_copy";
    }
    return "unknown";
}

namespace {

constexpr int first_weapon_line = 16;
constexpr int longest_line = line_buffer_size - 1;
constexpr int quoted_word_limit = 60; // longer words are shown cut, with "..."

// Appends formatted text to a finding's sentence; a sentence that would not fit is cut.
void say(settings_finding& finding, const char* format, ...) {
    const std::size_t used = std::strlen(finding.sentence);
    if (used + 1 >= sizeof finding.sentence) return;
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(finding.sentence + used, sizeof finding.sentence - used, format, args);
    va_end(args);
}

settings_finding& add(line_findings& found, int line, finding_code code,
                      finding_severity severity = finding_severity::warning) {
    settings_finding& finding = found.items[found.count++];
    finding.line = line;
    finding.code = code;
    finding.severity = severity;
    finding.sentence[0] = '\0';
    return finding;
}

const char* skip_blanks(const char* p) {
    while (is_blank(*p))
        ++p;
    return p;
}

const char* word_end(const char* p) {
    while (*p != '\0' && !is_blank(*p))
        ++p;
    return p;
}

// 'word', cut to a readable length.
void say_quoted(settings_finding& finding, const char* begin, const char* end) {
    const int length = static_cast<int>(end - begin);
    if (length <= quoted_word_limit)
        say(finding, "'%.*s'", length, begin);
    else
        say(finding, "'%.*s...'", quoted_word_limit - 3, begin);
}

void say_missing_values(settings_finding& finding, const settings_position& position, int count) {
    switch (position.kind) {
    case line_kind::reload_flag:
        say(finding, "no whole number after the label: reloading keeps its setting (off when the "
                     "game starts)");
        break;
    case line_kind::host_float:
        say(finding, "no number after the label: the game keeps its own value");
        break;
    case line_kind::code_float:
        say(finding, "no number after the label: the game's aim-camera code keeps its own value");
        break;
    case line_kind::aim_row:
        if (count == 0)
            say(finding,
                "no values after the label: the row stays as the game has it (a row takes %d "
                "numbers)",
                row_value_count);
        else if (count == row_value_count - 1)
            say(finding, "only %d of %d values: value %d of row %d stays as the game has it", count,
                row_value_count, row_value_count, position.row);
        else
            say(finding,
                "only %d of %d values: values %d to %d of row %d stay as the game has them", count,
                row_value_count, count + 1, row_value_count, position.row);
        break;
    case line_kind::weapon:
    case line_kind::ignored:
        break;
    }
}

void say_joined(settings_finding& finding, const settings_position& position, const char* text,
                int count, const char* fixed) {
    const int wanted = values_wanted(position.kind);
    const char* const joiner = std::strpbrk(text, "=:;,");
    say(finding, "'%c' stands where a blank belongs, so corvane reads ", joiner ? *joiner : ',');
    if (position.kind == line_kind::weapon)
        say(finding, "only %d of the 4 fields and makes no entry", count);
    else if (count == 0)
        say(finding, "no value from this line");
    else
        say(finding, "only %d of the %d values", count, wanted);
    say(finding, ". Written as ");
    say_quoted(finding, fixed, fixed + std::strlen(fixed));
    say(finding, " it sets what it says");
}

// The first missing line decides what the end of the file costs. Ending among the weapon lines
// only leaves weapon slots unused, which is what a short file means; ending earlier leaves host
// values and rows unset.
void say_past_end(line_findings& found, int line) {
    bool values = false, rows = false;
    for (int l = line; l < first_weapon_line; ++l) {
        const line_kind kind = settings_positions[l - 1].kind;
        values = values || kind == line_kind::host_float || kind == line_kind::code_float ||
                 kind == line_kind::reload_flag;
        rows = rows || kind == line_kind::aim_row;
    }
    settings_finding& finding =
        add(found, line, finding_code::past_end,
            values || rows ? finding_severity::warning : finding_severity::note);
    if (line == 1)
        say(finding, "the file is empty: nothing is set");
    else
        say(finding, "the file ends after line %d: lines %d to %d set nothing", line - 1, line,
            settings_line_count);
    if (values) say(finding, "; the game keeps its own values");
    if (rows) say(finding, "; the aim rows without a line stay as the game has them");
    say(finding, "; no weapon entries from those lines");
}

bool is_joiner(char c) {
    return c == '=' || c == ':' || c == ';' || c == ',';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whether a number starts at `p`: a sign or a point may come before its first digit.
bool starts_number(const char* p) {
    if (*p == '+' || *p == '-') ++p;
    if (*p == '.') ++p;
    return is_digit(*p);
}

// Writes `text` with blanks where joiners stand between a label and its values, or between
// values; `comma_is_point` turns a comma between two digits into a decimal point instead. Sets
// `joined` when anything but a decimal comma was changed. The result never grows longer.
void unjoin(const settings_position& position, const char* text, bool comma_is_point,
            char (&out)[line_buffer_size], bool& joined) {
    joined = false;
    std::size_t o = 0;
    const auto put = [&](char c) {
        if (o + 1 < sizeof out) out[o++] = c;
    };
    const char* p = text;
    while (is_blank(*p) && *p != '\n' && *p != '\r')
        put(*p++);
    if (has_label(position.kind)) {
        const char* const end = word_end(p);
        const char* split = nullptr;
        for (const char* q = p; q < end && !split; ++q) {
            if (!is_joiner(*q)) continue;
            const char* r = q;
            while (r < end && is_joiner(*r))
                ++r;
            if (r < end && starts_number(r)) split = q;
        }
        const char* const label_end = split ? split : end;
        while (p < label_end)
            put(*p++);
        if (split) {
            put(' ');
            while (is_joiner(*p))
                ++p;
            joined = true;
        } else {
            // A joiner standing alone after the label ("label = 1.5"), or before the first value
            // ("label =1.5").
            const char* q = skip_blanks(p);
            const char* r = q;
            while (is_joiner(*r))
                ++r;
            if (r != q && starts_number(skip_blanks(r))) {
                put(' ');
                p = skip_blanks(r);
                joined = true;
            }
        }
    }
    for (; *p != '\0' && *p != '\n' && *p != '\r'; ++p) {
        const char c = *p;
        const bool after_number = o > 0 && (is_digit(out[o - 1]) || out[o - 1] == '.');
        if ((c != ',' && c != ';') || !after_number) {
            put(c);
            continue;
        }
        if (c == ',' && comma_is_point && is_digit(p[1])) {
            put('.');
            continue;
        }
        if (is_blank(p[1]) || p[1] == '\0') {
            joined = true; // "22, 0.5": the comma goes, the blank stays
            continue;
        }
        if (starts_number(p + 1)) {
            put(' ');
            joined = true;
            continue;
        }
        put(c);
    }
    out[o] = '\0';
}

} // namespace

bool joined_values(const settings_position& position, const char* text, const line_values& values,
                   char (&fixed)[line_buffer_size]) noexcept {
    const line_kind kind = position.kind;
    if (kind == line_kind::ignored || values.count >= values_wanted(kind)) return false;
    if (!std::strpbrk(text, "=:;,")) return false;
    bool joined_as_point = false, joined_as_list = false;
    char as_list[line_buffer_size];
    unjoin(position, text, true, fixed, joined_as_point);
    unjoin(position, text, false, as_list, joined_as_list);
    const int point_count = parse_settings_line(kind, fixed).count;
    const int list_count = parse_settings_line(kind, as_list).count;
    if (list_count > point_count) {
        std::memcpy(fixed, as_list, sizeof fixed);
        return joined_as_list && list_count > values.count;
    }
    return joined_as_point && point_count > values.count;
}

bool is_number_word(const char* begin, const char* end) noexcept {
    char word[line_buffer_size];
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (length == 0 || length >= sizeof word) return false;
    std::memcpy(word, begin, length);
    word[length] = '\0';
    if (std::strpbrk(word, "0123456789") == nullptr) return false;
    float value = 0;
    int used = 0;
    return std::sscanf(word, "%f%n", &value, &used) == 1 &&
           static_cast<std::size_t>(used) == length;
}

line_findings settings_findings::take(const settings_position& position, line_read read,
                                      const char* text, const line_values& values) noexcept {
    line_findings found;
    const int line = position.line;
    if (read == line_read::absent) {
        if (!ended_) say_past_end(found, line);
        ended_ = true;
        return found;
    }
    if (read == line_read::overlong)
        say(add(found, line, finding_code::overlong_line),
            "longer than %d characters: only its first %d are read, the rest is skipped",
            longest_line, longest_line);

    const line_kind kind = position.kind;
    const int count = values.count;
    char fixed[line_buffer_size];
    if (joined_values(position, text, values, fixed)) {
        say_joined(add(found, line, finding_code::values_joined), position, text, count, fixed);
        return found;
    }
    if (has_label(kind)) {
        const char* label = skip_blanks(text);
        if (line == 1 && std::strncmp(label, utf8_byte_order_mark, utf8_byte_order_mark_size) == 0)
            label += utf8_byte_order_mark_size;
        const char* const label_end = word_end(label);
        const bool labelled = label != label_end;
        const bool number_label = labelled && is_number_word(label, label_end);
        if (number_label) {
            settings_finding& finding = add(found, line, finding_code::number_as_label);
            say(finding, "the first word, ");
            say_quoted(finding, label, label_end);
            say(finding, ", is a number, so it is read as the label and %s",
                count == 0 ? "the line sets nothing"
                           : "the values are taken from the next word on");
        }
        if (count < values_wanted(kind) && !(number_label && count == 0)) {
            // A label alone leaves the game's own values, like a missing number, on purpose.
            const bool deliberate = labelled && count == 0 && *skip_blanks(label_end) == '\0' &&
                                    kind != line_kind::reload_flag;
            say_missing_values(
                add(found, line,
                    deliberate ? finding_code::value_left_alone : finding_code::missing_values,
                    deliberate ? finding_severity::note : finding_severity::warning),
                position, count);
        }
        return found;
    }
    if (kind != line_kind::weapon || is_blank_line(text)) return found; // blank: a slot unused
    if (count < values_wanted(kind)) {
        settings_finding& finding = add(found, line, finding_code::weapon_incomplete);
        if (count == 0)
            say(finding, "no weapon type at the start: no entry");
        else
            say(finding, "only %d of the 4 fields (type, x, y, z): no entry", count);
        return found;
    }
    for (int i = 0; i < given_count_; ++i) {
        if (given_[i].type != values.integer) continue;
        settings_finding& finding = add(found, line, finding_code::weapon_duplicate);
        if (values.integer == -1)
            say(finding, "the default (-1)");
        else
            say(finding, "weapon type %ld", static_cast<long>(values.integer));
        say(finding,
            " was already given on line %d: this line changes nothing (the first entry "
            "wins)",
            given_[i].line);
        return found;
    }
    if (given_count_ < settings_line_count) given_[given_count_++] = {values.integer, line};
    return found;
}

} // namespace plugin
