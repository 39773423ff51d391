// Fuzz target: arbitrary bytes as a settings file, through corvane-check's check: the file read
// through the module's own reader (8-bit or UTF-16), every line laid out, checked and described.
// The reports made from the result have their own target (fuzz/check_reports_fuzz.cpp), so this
// one spends its time on the check alone and goes deep into it.
//
// Stops (and so fails the run) on any crash or sanitizer report, on a result that does not hold
// all 31 positions, on a named line reported out of place or out of order, and on any line whose
// laid-out value spans differ in number from the values the module's own parser took from it
// (the checker would then quote or point at the wrong words).
#include "plugin/settings/line_layout.h"
#include "plugin/settings/settings_reader.h"
#include "tools/check/settings_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void fail(const char* what, const check::position_report* report = nullptr) {
    std::fprintf(stderr, "check_fuzz: %s", what);
    if (report)
        std::fprintf(stderr, " (line %d: \"%s\")", report->position->line, report->text.c_str());
    std::fprintf(stderr, "\n");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    plugin::settings_reader reader(data, size);
    const check::check_result result = check::check_settings_stream(reader, "fuzz.dat");
    if (!result.readable) fail("bytes in memory could not be read");
    if (result.positions.size() != static_cast<std::size_t>(plugin::settings_line_count))
        fail("the report does not hold every position");

    for (const check::position_report& report : result.positions) {
        if (report.state == check::line_state::past_end) continue;
        const plugin::line_layout layout = plugin::lay_out(report.position->kind, report.text);
        if (static_cast<int>(layout.values.size()) != report.values.count)
            fail("the layout and the module's parser disagree on the values", &report);
    }

    // Named lines are where the module reads them, in file order.
    int previous = 0;
    for (const check::named_line_report& line : result.named.lines) {
        if (line.read.line <= previous || line.read.line < plugin::named_among_weapons ||
            line.read.line > plugin::named_last_line)
            fail("a named line out of place or out of order");
        previous = line.read.line;
    }
    return 0;
}
