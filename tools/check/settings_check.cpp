// The walk over a settings file: each of the 31 positions read as the module reads it, checked,
// and described; then what lies beyond line 31.
#include "tools/check/settings_check.h"

#include "plugin/settings/settings_files.h"
#include "tools/check/check_text.h"
#include "tools/check/files/files_beside.h"
#include "tools/check/files/surroundings.h"
#include "tools/check/rules/line_shift.h"
#include "tools/check/rules/line_warnings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace check {

using plugin::line_kind;

bool offset_entry::leaves_aim_alone() const {
    return x == 0.0f && y == 0.0f && z == 0.0f; // -0.0 counts as zero, a NaN does not
}

bool offset_entry::finite() const {
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

const char* read_error_name(read_error error) {
    switch (error) {
    case read_error::not_found:
        return "not_found";
    case read_error::is_a_folder:
        return "is_a_folder";
    case read_error::not_readable:
        return "not_readable";
    case read_error::none:
        break;
    }
    return "none";
}

const char* warning_name(warning_code code) {
    return plugin::finding_name(code);
}

const char* finding_name(const check_warning& finding) {
    return finding.named == named_code::none ? warning_name(finding.code)
                                             : named_code_name(finding.named);
}

int check_result::exit_status() const {
    if (!readable || !not_read_until.empty()) return 2;
    return warnings.empty() ? 0 : 1;
}

float check_result::mirror_factor() const {
    return named.in_effect[plugin::named_setting::mirror_factor].number;
}

std::string check_result::mode_keys(bool mirrored) const {
    using plugin::named_setting;
    std::string words;
    const auto add = [&words](const std::string& part) {
        words += (words.empty() ? "" : ", or ") + part;
    };
    const int held =
        named.in_effect[mirrored ? named_setting::key_mirrored : named_setting::key_normal].whole;
    if (held != 0) add(std::string("key ") + plugin::key_display_name(held).text);
    if (const int key = named.in_effect[named_setting::key_toggle].whole)
        add(std::string(plugin::key_display_name(key).text) + " to swap");
    if (const int bit = named.in_effect[named_setting::pad_toggle].whole)
        add(std::string(plugin::pad_display_name(static_cast<std::uint32_t>(bit)).text) +
            " to swap");
    return words.empty() ? "no key chosen" : words;
}

namespace {

// Counts what tells a text file from another kind: NUL bytes, which no editor writes into
// text, and control characters, which only a program, a picture or an archive is full of.
struct byte_counts {
    enum byte_kind : unsigned char { text, nul, control };
    std::size_t total = 0;
    std::size_t of_kind[3] = {};

    // Every byte of every line passes here: one look-up each, no test.
    static constexpr std::array<byte_kind, 256> kinds = [] {
        std::array<byte_kind, 256> table{};
        for (unsigned c = 0; c < 256; ++c)
            table[c] = c == 0                                                           ? nul
                       : (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F ? control
                                                                                        : text;
        return table;
    }();

    void add(const char* line, std::size_t length) {
        total += length;
        for (std::size_t i = 0; i < length; ++i)
            ++of_kind[kinds[static_cast<unsigned char>(line[i])]];
    }
    bool any_nul() const { return of_kind[nul] > 0; }
    // A quarter of the bytes is far beyond any text: a stray control character is one in
    // thousands.
    bool not_text() const { return any_nul() || of_kind[control] * 4 > total; }
};

// A file that is not text gets one finding that says so, in place of a finding for each of
// its 31 lines, which would all come from the same cause.
void say_not_text(check_result& result, const byte_counts& bytes) {
    result.warnings.clear();
    result.notes.clear();
    result.warnings.push_back(
        {1, warning_code::not_text,
         std::string("this is not a text file: it holds ") +
             (bytes.any_nul() ? "NUL bytes" : "many characters no editor shows") +
             ", as a program, a picture or an archive does. corvane reads it as text anyway "
             "and takes whatever numbers it finds, as shown above",
         "take aimingSets.dat from the zip again, or write a fresh one with corvane-check "
         "--template FILE, then copy your own values over"});
}

// Why the file named `result.file` could not be read: it is not there, it is a folder, or the
// system refused it (its own words, the one case where they help). A file that was opened was
// there, whatever its name says now.
void cannot_read(check_result& result, bool opened) {
    const int system_error = errno;
    result.readable = false;
    switch (kind_of_path(result.file)) {
    case path_kind::missing:
        if (opened) break;
        result.error_code = read_error::not_found;
        result.error = "not found";
        return;
    case path_kind::folder:
        result.error_code = read_error::is_a_folder;
        result.error = "a folder, not a file";
        return;
    case path_kind::file:
        break;
    }
    result.error_code = read_error::not_readable;
    result.error = std::strerror(system_error);
}

// A tune key set for a file corvane cannot save into: the tunes move the aim point in the game
// and are lost when it ends.
void say_if_tunes_not_saved(check_result& result) {
    using plugin::named_setting;
    if (!result.readable || result.named.in_effect[named_setting::tune_key].whole == 0) return;
    const replaceable can = can_replace(result.file);
    if (can == replaceable::yes) return;
    const bool file = can == replaceable::file_read_only;
    result.warnings.push_back(
        {result.named.in_effect.given_by[static_cast<int>(named_setting::tune_key)],
         warning_code::tunes_not_saved,
         std::string("tune_key is set, but ") +
             (file ? "this file is read-only" : "the folder that holds this file is read-only") +
             ": the keys move the aim point in the game, but corvane cannot save a tune into " +
             plugin::settings_file_name + ", so it is lost when the game ends",
         file ? "clear the file's read-only mark (Properties in Explorer), then start the game "
                "again"
              : "move the game to a folder you may write to, or give yourself the right to "
                "write to this one"});
    std::stable_sort(
        result.warnings.begin(), result.warnings.end(),
        [](const check_warning& a, const check_warning& b) { return a.line < b.line; });
}

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
    case line_kind::code_float:
        if (!present || v.count == 0) return "nothing: the game keeps its value";
        return format_float(v.floats[0]);
    case line_kind::aim_row: {
        if (!present || v.count == 0) return "nothing: the row stays as the game has it";
        std::string s;
        for (int i = 0; i < v.count; ++i) {
            if (i) s += ' ';
            s += format_float(v.floats[i]);
        }
        if (v.count < 7) s += " (the rest as the game has them)";
        return s;
    }
    case line_kind::weapon:
        if (!present) return "no entry";
        if (plugin::is_blank_line(report.text.c_str())) return "unused";
        if (plugin::is_named_line(position.line, report.text.c_str()))
            return "no entry: a named line";
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

} // namespace

check_result check_settings_stream(plugin::settings_reader& reader, const std::string& name) {
    check_result result;
    result.file = name;
    if (!reader.begin()) {
        cannot_read(result, true);
        return result;
    }
    result.readable = true;
    result.encoding = reader.encoding();
    line_checker checker(result);
    char buffer[plugin::line_buffer_size];
    byte_counts bytes;
    int first_missing = 0;
    result.positions.reserve(plugin::settings_line_count);
    for (const plugin::settings_position& position : plugin::settings_positions) {
        position_report report;
        report.position = &position;
        const plugin::line_read got =
            first_missing ? plugin::line_read::absent : reader.read_line(buffer);
        if (got == plugin::line_read::absent) {
            if (!first_missing && reader.failed()) {
                cannot_read(result, true);
                return result;
            }
            if (!first_missing) first_missing = position.line;
        } else {
            ++result.lines_read;
            bytes.add(buffer, reader.last_length());
            report.state =
                got == plugin::line_read::overlong ? line_state::overlong : line_state::read;
            report.text = without_line_end(buffer);
            report.values = plugin::parse_settings_line(position.kind, buffer);
            if (position.kind == line_kind::reload_flag && report.values.count >= 1)
                result.reload_each_frame = report.values.integer;
        }
        result.positions.push_back(std::move(report));
        checker.check(result.positions.back(), got, buffer);
    }
    std::vector<std::string> after_line_31; // as read, without their line ends
    if (!first_missing) {
        while (reader.read_line(buffer) != plugin::line_read::absent) {
            bytes.add(buffer, reader.last_length());
            after_line_31.push_back(without_line_end(buffer));
        }
    }
    if (bytes.not_text()) {
        say_not_text(result, bytes);
    } else {
        check_named_lines(after_line_31, result);
        explain_line_shift(result);
    }
    for (position_report& report : result.positions)
        report.takes = describe_takes(report, result);
    return result;
}

check_result check_settings_file(const std::string& path) {
    std::FILE* const file = open_utf8(path, "rb");
    if (!file) {
        check_result result;
        result.file = path;
        cannot_read(result, false);
        return result;
    }
    plugin::settings_reader reader(file);
    check_result result = check_settings_stream(reader, path);
    std::fclose(file);
    say_if_tunes_not_saved(result);
    return result;
}

} // namespace check
