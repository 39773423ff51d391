// Small text helpers shared by the checker's sources.
#pragma once

#include "plugin/settings/line_layout.h"
#include "plugin/settings/settings_parser.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace check {

// The width of everything the checker prints for people: one column less than a console
// window's 80, since a line that fills all 80 makes the console add a blank line after it.
inline constexpr std::size_t report_width = 79;

using plugin::is_blank;
using plugin::skip_blanks;
using plugin::word_end;

// The text of a span of a line laid out (plugin/settings/line_layout.h).
std::string text_of(const std::string& text, plugin::span s);

// Whether the number that ends at `end` stops where its word goes on with something that looks
// like part of it ("1,5", "1.5.2", "08"); punctuation such as "1.0//" ends a number plainly.
bool cut_short(const std::string& text, std::size_t end);

// The shortest text that reads back as the same float: "0.1", "-1.5", "inf".
std::string format_float(float value);

// The text with A to Z as a to z (names of files and labels compared without regard to case).
std::string lower_ascii(std::string text);
constexpr char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// How many single letters must be added, dropped, changed, or two neighbours swapped, to turn
// `a` into `b` (letters compared as they are: fold the case first where it does not matter).
// Tells a misspelt name from an unrelated one: "key_mirorred" is 1 from "key_mirrored".
// With a `limit`, any distance beyond it comes out as limit + 1, found without working out by
// how much: a search for names within a slip or two of a word costs a few letters a letter.
int edit_distance(const std::string& a, const std::string& b,
                  int limit = std::numeric_limits<int>::max());

// "'word'".
std::string quoted(const std::string& word);

// "1 line", "2 lines".
std::string plural(int n, const char* one, const char* many);

// "0x8CC4B4".
std::string hex_address(std::uint32_t address);

// A line as read, without its "\n" or "\r\n".
std::string without_line_end(const char* line);

// A line made fit for a terminal column: no byte-order mark, tabs as spaces, other control
// characters as '?', and cut to `width` columns with "..." when longer.
std::string for_display(const std::string& text, std::size_t width);

// Columns that UTF-8 text takes on a terminal (one per character).
std::size_t columns(std::string_view text);

// `text` broken at blanks into pieces of at most `width` columns (`later_width` from the second
// piece on, when given); a word longer than that (a long path) stays whole on a piece of its
// own. Blank text gives one empty piece.
std::vector<std::string> wrap_words(const std::string& text, std::size_t width,
                                    std::size_t later_width = 0);

// `text` broken as wrap_words breaks it, added to `out`: the first piece where `out` ends, each
// later one on a line of its own after `indent` blanks; no line end after the last piece.
void append_wrapped(std::string& out, const std::string& text, std::size_t width,
                    std::size_t later_width, std::size_t indent);

// `text` followed by blanks up to `width` columns (as it is when it is that wide already);
// append_padded adds the same to the end of `out`.
std::string padded(const std::string& text, std::size_t width);
void append_padded(std::string& out, const std::string& text, std::size_t width);

// `first` then `text`, broken to fit the report's width, its later lines indented by `indent`;
// every line ends in "\n". append_hanging adds the same paragraph to the end of `out`.
std::string hanging(const std::string& first, const std::string& text, std::size_t indent);
void append_hanging(std::string& out, const std::string& first, const std::string& text,
                    std::size_t indent);

// Every line of `text` longer than `width` columns broken at blanks, its later pieces indented
// two columns more than the line itself: a paragraph then reads as one item.
std::string wrap_lines(const std::string& text, std::size_t width);

} // namespace check
