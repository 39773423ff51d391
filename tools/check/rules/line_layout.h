// Where the module's parser found a line's label and each value it took, as character spans.
//
// The module parses a line with one scanf call and reports only how many values it took; the
// checker needs the places too, to quote the word a number stopped in, or the word parsing
// stopped at. Scanning value by value with the same conversions and "%n" finds them.
#pragma once

#include "plugin/settings/settings_parser.h"

#include <cstddef>
#include <string>
#include <vector>

namespace check {

// Characters [begin, end) of a line's text.
struct span {
    std::size_t begin = 0, end = 0;
};

// A line laid out: its label, if its kind has one and the line holds a word, then one span per
// value the parser takes, and where parsing stopped after the last of them.
struct line_layout {
    span label;
    bool has_label = false;
    std::vector<span> values;
    std::size_t stop = 0;
};

// Lays out `text` (a line without its line end) as a line of `kind`: as many value spans as the
// module's parser takes values from it, never more than the kind takes.
line_layout lay_out(plugin::line_kind kind, const std::string& text);

// The text of a span.
std::string text_of(const std::string& text, span s);

// Whether the number that ends at `end` stops where its word goes on with something that looks
// like part of it ("1,5", "1.5.2", "08"); punctuation such as "1.0//" ends a number plainly.
bool cut_short(const std::string& text, std::size_t end);

} // namespace check
