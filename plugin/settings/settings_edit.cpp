#include "plugin/settings/settings_edit.h"

#include "platform/utf16_text.h"
#include "plugin/settings/line_layout.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/number_text.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

namespace plugin {

namespace {

constexpr unsigned char end_of_file_mark = 0x1A;
constexpr std::size_t kept_characters = line_buffer_size - 1; // what the reader keeps of a line

// Whether line `line` (1-based) of the file is one of the weapon lines, 16 to 31.
bool is_weapon_line(int line) {
    return line >= 1 && line <= settings_line_count &&
           settings_positions[line - 1].kind == line_kind::weapon;
}

// The text the reader sees, character by character, and where each character's bytes lie in the
// file, so that a change made to the text can be made to the bytes. It follows the reader's rules
// (settings_reader.h) over the whole file at once; the lines it gives are checked against the
// reader's own before anything is written.
struct mapped_text {
    settings_encoding encoding = settings_encoding::eight_bit;
    std::string text; // as the reader decodes it: CR LF as "\n", UTF-16 outside ASCII as '?'
    std::vector<std::size_t> at; // at[i]: the first byte of character i; at[text.size()]: the end
    bool ended_by_mark = false;  // a 0x1A ended the text
};

mapped_text map_text(const unsigned char* bytes, std::size_t size) {
    mapped_text m;
    m.at.reserve(size + 1);
    const auto take = [&](char c, std::size_t from) {
        m.text += c;
        m.at.push_back(from);
    };
    std::size_t i = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        m.encoding = settings_encoding::utf16_le;
        i = 2;
    } else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        m.encoding = settings_encoding::utf16_be;
        i = 2;
    }
    if (m.encoding == settings_encoding::eight_bit) {
        while (i < size) {
            const unsigned char byte = bytes[i];
            if (byte == end_of_file_mark) {
                m.ended_by_mark = true;
                break;
            }
            const bool cr_lf = byte == '\r' && i + 1 < size && bytes[i + 1] == '\n';
            take(cr_lf ? '\n' : static_cast<char>(byte), i);
            i += cr_lf ? 2 : 1;
        }
    } else {
        const bool little = m.encoding == settings_encoding::utf16_le;
        const auto unit = [&](std::size_t from) -> unsigned {
            const unsigned first = bytes[from], second = bytes[from + 1];
            return little ? first | second << 8 : first << 8 | second;
        };
        while (size - i >= 2) {
            const unsigned u = unit(i);
            const bool pair_follows = size - i >= 4;
            if (u == end_of_file_mark) {
                m.ended_by_mark = true;
                break;
            }
            if (u == '\r' && pair_follows && unit(i + 2) == '\n') {
                take('\n', i);
                i += 4;
            } else if (u < 0x80) {
                take(static_cast<char>(u), i);
                i += 2;
            } else {
                const bool surrogates =
                    os::is_high_surrogate(u) && pair_follows && os::is_low_surrogate(unit(i + 2));
                take('?', i);
                i += surrogates ? 4 : 2;
            }
        }
    }
    m.at.push_back(i); // an odd last byte of UTF-16, or a 0x1A and what follows, lies beyond
    return m;
}

// One line of the mapped text: characters [begin, end), its "\n" included when it has one.
struct text_line {
    std::size_t begin = 0, end = 0;
};

std::vector<text_line> split_lines(const std::string& text) {
    std::vector<text_line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t newline = text.find('\n', begin);
        const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
        lines.push_back({begin, end});
        begin = end;
    }
    return lines;
}

// What the reader keeps of a line: its first 511 characters.
std::string kept_text(const std::string& line) {
    return line.substr(0, std::min(line.size(), kept_characters));
}

// The line as the parser sees it: up to its first NUL, without its "\n".
std::string parsed_text(const std::string& kept) {
    std::string seen(kept.c_str());
    if (!seen.empty() && seen.back() == '\n') seen.pop_back();
    return seen;
}

bool same_bits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether the whole line `line` (its characters, line end included) reads as `weapon_type` with
// exactly `numbers`, as corvane reads it.
bool reads_back(const std::string& line, std::int32_t weapon_type, const float (&numbers)[3]) {
    const line_values v = parse_settings_line(line_kind::weapon, kept_text(line).c_str());
    return v.count == values_wanted(line_kind::weapon) && v.integer == weapon_type &&
           same_bits(v.floats[0], numbers[0]) && same_bits(v.floats[1], numbers[1]) &&
           same_bits(v.floats[2], numbers[2]);
}

// A change of the text: characters [begin, end) become `text` (ASCII).
struct text_change {
    std::size_t begin, end;
    std::string text;
};

// `line`'s characters with the changes that fall in it made.
std::string changed_line(const mapped_text& m, const text_line& line,
                         const std::vector<text_change>& changes) {
    std::string out;
    std::size_t from = line.begin;
    for (const text_change& c : changes) {
        out.append(m.text, from, c.begin - from);
        out += c.text;
        from = c.end;
    }
    out.append(m.text, from, line.end - from);
    return out;
}

// The file with the changes made, in order, each in the file's encoding; every other byte as it
// was.
std::string changed_file(std::string_view file, const mapped_text& m,
                         const std::vector<text_change>& changes) {
    std::string out;
    out.reserve(file.size() + 128);
    std::size_t from = 0;
    for (const text_change& c : changes) {
        const std::size_t begin = m.at[c.begin];
        out.append(file.substr(from, begin - from));
        for (const char ch : c.text) {
            switch (m.encoding) {
            case settings_encoding::eight_bit:
                out += ch;
                break;
            case settings_encoding::utf16_le:
                out += ch;
                out += '\0';
                break;
            case settings_encoding::utf16_be:
                out += '\0';
                out += ch;
                break;
            }
        }
        from = m.at[c.end];
    }
    out.append(file.substr(from));
    return out;
}

// The three numbers as written, and the values they read back as (-0 is written "0").
struct new_numbers {
    std::string text[3];
    float value[3] = {};
};

bool write_numbers(const float (&offset)[3], new_numbers& numbers) {
    std::string line = "0";
    for (int i = 0; i < 3; ++i) {
        const float number = offset[i] == 0.0f ? 0.0f : offset[i];
        numbers.text[i] = text_of(number).text;
        line += ' ';
        line += numbers.text[i];
    }
    const line_values v = parse_settings_line(line_kind::weapon, line.c_str());
    if (v.count != values_wanted(line_kind::weapon)) return false;
    std::copy(v.floats, v.floats + 3, numbers.value);
    return true;
}

} // namespace

weapon_edit edit_weapon_offset(std::string_view file, std::int32_t weapon_type,
                               const float (&offset)[3], std::string& out) {
    const auto* const bytes = reinterpret_cast<const unsigned char*>(file.data());
    const mapped_text m = map_text(bytes, file.size());
    const std::vector<text_line> lines = split_lines(m.text);
    const weapon_edit not_placeable{weapon_edit_status::not_placeable, 0};

    // The lines corvane reads must be the lines mapped, or no byte offset can be trusted.
    settings_reader reader(file.data(), file.size());
    if (!reader.begin() || reader.encoding() != m.encoding) return not_placeable;
    std::vector<std::string> kept; // lines 1 to 31, those the file has, as the reader keeps them
    char buffer[line_buffer_size];
    for (int line = 1; line <= settings_line_count; ++line) {
        const bool mapped = static_cast<std::size_t>(line) <= lines.size();
        const bool read = reader.read_line(buffer) != line_read::absent;
        if (read != mapped) return not_placeable;
        if (!read) break;
        const text_line& l = lines[static_cast<std::size_t>(line - 1)];
        std::string text = kept_text(m.text.substr(l.begin, l.end - l.begin));
        if (text != std::string_view(buffer, reader.last_length())) return not_placeable;
        kept.push_back(std::move(text));
    }

    new_numbers numbers;
    if (!write_numbers(offset, numbers)) return not_placeable;
    const auto written = [&](int line, const std::vector<text_change>& changes,
                             weapon_edit_status status) {
        const text_line& l = lines[static_cast<std::size_t>(line - 1)];
        if (!reads_back(changed_line(m, l, changes), weapon_type, numbers.value))
            return not_placeable;
        out = changed_file(file, m, changes);
        return weapon_edit{status, line};
    };
    const int last_line = static_cast<int>(kept.size());

    // Its own line: the first weapon line for the type as the load takes them.
    named_walk named;
    for (int line = 1; line <= last_line; ++line) {
        const std::string& text = kept[static_cast<std::size_t>(line - 1)];
        if (!is_weapon_line(line) || named.weapon_line(line, text.c_str())) continue;
        const line_values v = parse_settings_line(line_kind::weapon, text.c_str());
        if (v.count != values_wanted(line_kind::weapon) || v.integer != weapon_type) continue;

        const line_layout layout = lay_out(line_kind::weapon, parsed_text(text));
        if (layout.values.size() != static_cast<std::size_t>(v.count)) return not_placeable;
        const std::size_t begin = lines[static_cast<std::size_t>(line - 1)].begin;
        std::vector<text_change> changes;
        for (int i = 0; i < 3; ++i) {
            if (same_bits(v.floats[i], numbers.value[i])) continue;
            const span s = layout.values[static_cast<std::size_t>(i) + 1];
            changes.push_back({begin + s.begin, begin + s.end, numbers.text[i]});
        }
        if (changes.empty()) return {weapon_edit_status::unchanged, line};
        return written(line, changes, weapon_edit_status::rewritten);
    }

    char type_text[16];
    std::snprintf(type_text, sizeof type_text, "%ld", static_cast<long>(weapon_type));
    const std::string new_line = std::string(type_text) + ' ' + numbers.text[0] + ' ' +
                                 numbers.text[1] + ' ' + numbers.text[2];

    // An empty slot among the lines the file has: its blanks give way to the new line.
    for (int line = 1; line <= last_line; ++line) {
        const std::string& text = kept[static_cast<std::size_t>(line - 1)];
        if (!is_weapon_line(line) || !is_blank_line(text.c_str())) continue;
        const text_line& l = lines[static_cast<std::size_t>(line - 1)];
        // A NUL byte ends the text corvane reads, not the line: what follows it is the player's
        // (every line but the first of a UTF-16 file without its mark begins with one).
        if (m.text.find('\0', l.begin) < l.end) continue;
        std::size_t blanks = parsed_text(text).size();
        // A line that goes on past the blanks corvane reads (past its 511th character) keeps
        // one blank, so that what follows stays apart from the new numbers.
        const std::size_t after = l.begin + blanks;
        if (blanks > 0 && after < l.end && m.text[after] != '\n' && m.text[after] != '\0') --blanks;
        return written(line, {{l.begin, l.begin + blanks, new_line}}, weapon_edit_status::new_line);
    }

    // The line after the file's last, when that is a weapon line and the file has really ended.
    if (!is_weapon_line(last_line + 1) || m.ended_by_mark)
        return {weapon_edit_status::no_empty_slot, 0};
    const bool cr_lf = !lines.empty() && m.text[lines.front().end - 1] == '\n' &&
                       m.at[lines.front().end] - m.at[lines.front().end - 1] ==
                           (m.encoding == settings_encoding::eight_bit ? 2u : 4u);
    const std::string line_end = cr_lf ? "\r\n" : "\n";
    std::string appended;
    if (!m.text.empty() && m.text.back() != '\n') {
        // The last line gets its line end first. After a lone CR it is CR LF whatever the file
        // uses, since an LF alone would join that CR and take it out of the line's text.
        appended = m.text.back() == '\r' ? "\r\n" : line_end;
    }
    appended += new_line + line_end;
    const std::size_t end = m.text.size();
    const std::vector<text_change> changes{{end, end, appended}};
    if (!reads_back(new_line + "\n", weapon_type, numbers.value)) return not_placeable;
    out = changed_file(file, m, changes);
    return {weapon_edit_status::new_line, last_line + 1};
}

} // namespace plugin
