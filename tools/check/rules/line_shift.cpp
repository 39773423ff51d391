#include "tools/check/rules/line_shift.h"

#include "tools/check/check_text.h"

#include <algorithm>
#include <sstream>

namespace check {

namespace {

using plugin::line_kind;

std::string trimmed(const std::string& text) {
    const std::size_t begin = skip_blanks(text, 0);
    std::size_t end = text.size();
    while (end > begin && plugin::is_blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// What marks a line of the starter file as its own: a labelled line's label, a heading's whole
// text. Weapon lines have no mark.
std::string mark_of(line_kind kind, const std::string& text) {
    if (plugin::has_label(kind))
        return lower_ascii(text.substr(0, word_end(text, skip_blanks(text, 0))));
    if (kind == line_kind::ignored) return lower_ascii(trimmed(text));
    return "";
}

// Below line 31 the starter file has a heading and switched-off named lines ("#key_normal Z ..."):
// a switched-off line is known by its first word, as a label is; the heading by its whole text.
// They show a line lost above as well, when they slide up among the weapon lines.
bool marked_by_first_word(int line, const std::string& text) {
    if (line <= plugin::settings_line_count)
        return plugin::has_label(plugin::settings_positions[line - 1].kind);
    const std::size_t begin = skip_blanks(text, 0);
    return begin + 1 < text.size() && text[begin] == '#' && !plugin::is_blank(text[begin + 1]);
}

// The starter file's marks, by line (index 0 is line 1), and which are known by their first word.
struct starter_mark_list {
    std::vector<std::string> marks;
    std::vector<bool> first_word;
};

const starter_mark_list& starter_marks() {
    static const starter_mark_list list = [] {
        starter_mark_list made;
        std::istringstream in(settings_template());
        std::string text;
        for (int line = 1; std::getline(in, text) || line <= plugin::settings_line_count; ++line) {
            if (!in) text.clear();
            const bool word = marked_by_first_word(line, text);
            const line_kind kind = line <= plugin::settings_line_count
                                       ? plugin::settings_positions[line - 1].kind
                                       : line_kind::ignored;
            made.marks.push_back(
                word ? lower_ascii(text.substr(0, word_end(text, skip_blanks(text, 0))))
                     : trimmed(mark_of(kind, text)));
            made.first_word.push_back(word);
        }
        return made;
    }();
    return list;
}

// Whether text[begin, end) is `mark` but for capitals (the mark is lower case already). Compared
// in place: this runs for every line of every file checked.
bool is_mark(const std::string& mark, const std::string& text, std::size_t begin, std::size_t end) {
    if (end - begin != mark.size()) return false;
    for (std::size_t i = 0; i < mark.size(); ++i)
        if (lower_ascii(text[begin + i]) != mark[i]) return false;
    return true;
}

// The starter lines that carry a mark, each with the kind of its mark: most lines of a file are
// compared with these few.
struct starter_mark {
    int line;
    bool label; // a label, else a heading's whole text
    const std::string* mark;
};

const std::vector<starter_mark>& marked_starter_lines() {
    static const std::vector<starter_mark> lines = [] {
        std::vector<starter_mark> list;
        const starter_mark_list& marks = starter_marks();
        for (std::size_t i = 0; i < marks.marks.size(); ++i) {
            const bool weapon = i < static_cast<std::size_t>(plugin::settings_line_count) &&
                                plugin::settings_positions[i].kind == line_kind::weapon;
            if (marks.marks[i].empty() || weapon) continue;
            list.push_back({static_cast<int>(i) + 1, marks.first_word[i], &marks.marks[i]});
        }
        return list;
    }();
    return lines;
}

// The starter line whose mark the text carries, or 0. A labelled starter line is known by the
// text's first word, a heading by its whole text.
int starter_line_of(const std::string& text) {
    const std::size_t begin = skip_blanks(text, 0);
    const std::size_t first_end = word_end(text, begin);
    std::size_t end = text.size();
    while (end > begin && plugin::is_blank(text[end - 1]))
        --end;
    for (const starter_mark& m : marked_starter_lines())
        if (is_mark(*m.mark, text, begin, m.label ? first_end : end)) return m.line;
    return 0;
}

std::string lines_count(int count) {
    return std::to_string(count) + " lines";
}

std::string lines_word(int count) {
    return count == 1 ? "a line seems" : std::to_string(count) + " lines seem";
}

// Looks at the lines of a checked file. A shift counts only when the next line that shows a
// place of its own agrees with it, so two lines swapped are not taken for one missing.
line_shift first_shifted_line(const check_result& result) {
    line_shift found;
    for (const position_report& report : result.positions) {
        if (report.state == line_state::past_end) break;
        const int starter = starter_line_of(report.text);
        if (starter == 0) continue;
        const int line = report.position->line;
        if (found.line == 0) {
            if (starter != line) found = {line, starter};
            continue;
        }
        // The next line that shows its place confirms the shift, or shows a swap.
        return starter - line == found.starter_line - found.line ? found : line_shift{};
    }
    return found;
}

} // namespace

void explain_line_shift(check_result& result) {
    const line_shift shift = first_shifted_line(result);
    if (shift.line == 0) return;
    const int missing = shift.lines_missing();
    const bool lost = missing > 0;
    const std::string above = " above line " + std::to_string(shift.line);
    const std::string cause = " (likely because of the " + std::string(lost ? "missing" : "extra") +
                              " line" + (std::abs(missing) == 1 ? "" : "s") + above + ")";
    for (check_warning& warning : result.warnings) {
        if (warning.line < shift.line) continue;
        // A named line's value or repeat is its own; only a word taken for a name may be a
        // weapon line pushed below the weapon lines.
        if (warning.named != named_code::none && warning.named != named_code::unknown_name)
            continue;
        warning.message += cause;
        // A line that carries another line's mark is the shift itself, not a mistake of its
        // own: the advice for the words in it would mislead.
        if (warning.line > static_cast<int>(result.positions.size())) continue;
        const position_report& report = result.positions[warning.line - 1];
        if (report.state != line_state::past_end && starter_line_of(report.text) != 0)
            warning.hint = "see line " + std::to_string(shift.line) + " first";
    }
    // The lines most likely missing are the starter file's from this place on: shown as they
    // are there, so the player can paste them back.
    std::string put_back = " Remove the extra line";
    if (lost) {
        put_back = std::string(" Put the missing line") + (missing == 1 ? "" : "s") +
                   " back above line " + std::to_string(shift.line) + "; the starter file has " +
                   (missing == 1 ? "there: " : "there, line by line: ");
        for (int i = 0; i < missing; ++i)
            put_back += (i ? ", " : "") + quoted(starter_line(shift.line + i));
    }
    const check_warning warning = {
        shift.line, warning_code::line_shifted,
        "line " + std::to_string(shift.line) + " holds what the starter file puts on line " +
            std::to_string(shift.starter_line) + ": " + lines_word(std::abs(missing)) + " to be " +
            (lost ? "missing" : "extra") + " above",
        "every line is read by its place, so from here on each line's values land " +
            (std::abs(missing) == 1 ? std::string("one line") : lines_count(std::abs(missing))) +
            (lost ? " too early." : " too late.") + put_back +
            " (corvane-check --template FILE writes the starter file to compare with)"};
    const auto at = std::find_if(result.warnings.begin(), result.warnings.end(),
                                 [&](const check_warning& w) { return w.line >= shift.line; });
    result.warnings.insert(at, warning);
}

} // namespace check
