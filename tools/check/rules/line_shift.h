// A line missing or added above: the commonest mistake in a file read by position, since every
// line below it then sets what its neighbour should. The starter file's labels name the setting
// of their line, and its headings their part of the file, so a line that holds what the starter
// file puts on another line shows the shift, and how far.
#pragma once

#include "tools/check/settings_check.h"

namespace check {

// The first line that holds what the starter file puts elsewhere; line 0 when none does.
struct line_shift {
    int line = 0;
    int starter_line = 0;
    int lines_missing() const { return starter_line - line; } // negative: lines added
};

// Adds one warning at the first shifted line and names it, in the warnings from there on, as
// their likely cause.
void explain_line_shift(check_result& result);

} // namespace check
