// Fuzz target: arbitrary bytes as a settings file, through the whole of corvane-check: the file
// read through the module's own reader (8-bit or UTF-16), every line checked, then the text
// report, the JSON report and the aim-point picture.
//
// Stops (and so fails the run) on any crash or sanitizer report, on a JSON report that does not
// parse, on a named line reported out of place or wider than the report allows, and on any line
// whose laid-out value spans differ in number from the values the module's own parser took from
// it (the checker would then quote or point at the wrong words).
#include "plugin/settings_reader.h"
#include "tools/check/check_text.h"
#include "tools/check/line_layout.h"
#include "tools/check/settings_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

bool json_parses(const std::string& text); // fuzz/json_parses.cpp

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
        const check::line_layout layout = check::lay_out(report.position->kind, report.text);
        if (static_cast<int>(layout.values.size()) != report.values.count)
            fail("the layout and the module's parser disagree on the values", &report);
    }

    // Named lines are where the module reads them, in file order, and their part of the report
    // fits 80 columns whatever the lines hold.
    int previous = 0;
    for (const check::named_line_report& line : result.named.lines) {
        if (line.read.line <= previous || line.read.line < plugin::named_among_weapons ||
            line.read.line > plugin::named_last_line)
            fail("a named line out of place or out of order");
        previous = line.read.line;
    }
    const std::string named = check::named_lines_text(result);
    for (std::size_t at = 0, end; at < named.size(); at = end + 1) {
        end = named.find('\n', at);
        if (end == std::string::npos) end = named.size();
        if (check::columns(named.substr(at, end - at)) > 80)
            fail("a line of the named lines' report is wider than 80 columns");
    }

    // The text report is made for what it may crash on; its words are the checker tests' job.
    static_cast<void>(check::text_report(result));
    const std::string json = check::json_report(result);
    if (!json_parses(json)) fail("the JSON report does not parse");
    const std::string svg = check::aim_points_svg(result);
    if (svg.find("</svg>") == std::string::npos) fail("the picture is not closed");
    return 0;
}
