// Fuzz target: arbitrary bytes as a settings file, checked by corvane-check and then turned into
// everything it shows: the text report, the JSON report and the aim-point picture. The check on
// its own, and the agreement of its layout with the module's parser, is fuzz/check_fuzz.cpp's
// job; this one goes after what the reports may crash on or write wrongly.
//
// Stops (and so fails the run) on any crash or sanitizer report, on a JSON report that does not
// parse, on a picture that is not closed or holds a coordinate that is no number (nan or inf, as
// an offset whose other-shoulder point lies beyond any float once gave), and on a line of the
// named lines' part of the report wider than 80 columns.
#include "plugin/settings/settings_reader.h"
#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

bool json_parses(const std::string& text); // fuzz/json_parses.cpp

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "check_reports_fuzz: %s\n", what);
    std::abort();
}

// Whether an attribute of the picture holds "nan" or "inf": its coordinates are all attributes,
// and no other attribute it writes holds either word.
bool attribute_not_a_number(const std::string& svg) {
    for (std::size_t at = svg.find("=\""); at != std::string::npos; at = svg.find("=\"", at)) {
        const std::size_t end = svg.find('"', at + 2);
        if (end == std::string::npos) return false;
        const std::string_view value(svg.data() + at + 2, end - at - 2);
        if (value.find("nan") != value.npos || value.find("inf") != value.npos) return true;
        at = end + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    plugin::settings_reader reader(data, size);
    const check::check_result result = check::check_settings_stream(reader, "fuzz.dat");
    if (!result.readable) fail("bytes in memory could not be read");

    // The named lines' part of the report fits 80 columns whatever the lines hold.
    const std::string named = check::named_lines_text(result);
    const std::string_view lines = named;
    for (std::size_t at = 0, end; at < lines.size(); at = end + 1) {
        end = lines.find('\n', at);
        if (end == std::string_view::npos) end = lines.size();
        if (check::columns(lines.substr(at, end - at)) > 80)
            fail("a line of the named lines' report is wider than 80 columns");
    }

    // The text report is made for what it may crash on; its words are the checker tests' job.
    static_cast<void>(check::text_report(result));
    const std::string json = check::json_report(result);
    if (!json_parses(json)) fail("the JSON report does not parse");
    const std::string svg = check::aim_points_svg(result);
    if (svg.find("</svg>") == std::string::npos) fail("the picture is not closed");
    if (attribute_not_a_number(svg)) fail("a coordinate of the picture is not a number");
    return 0;
}
