// Where the module's parser found a line's label and each value it took, as character spans.
//
// The module parses a line and reports only how many values it took; corvane-check needs the
// places too, to quote the word a number stopped in or the word parsing stopped at, and the
// module needs them to rewrite a weapon line's numbers in place (settings_edit.h). Scanning value
// by value with the same conversions and "%n" finds them. Free of any OS or host access, like
// settings_parser.h.
#pragma once

#include "plugin/settings/settings_parser.h"

#include <cstddef>
#include <string>
#include <vector>

namespace plugin {

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

// Where the blanks from `p` end, and where the word from `p` ends (is_blank decides both).
std::size_t skip_blanks(const std::string& text, std::size_t p);
std::size_t word_end(const std::string& text, std::size_t p);

// Lays out `text` (a line without its line end) as a line of `kind`: as many value spans as the
// module's parser takes values from it, never more than the kind takes.
line_layout lay_out(line_kind kind, const std::string& text);

} // namespace plugin
