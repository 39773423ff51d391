#include "tools/check/check_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace check {

std::string text_of(const std::string& text, plugin::span s) {
    return text.substr(s.begin, s.end - s.begin);
}

bool cut_short(const std::string& text, std::size_t end) {
    if (end >= text.size() || is_blank(text[end])) return false;
    const unsigned char c = static_cast<unsigned char>(text[end]);
    return std::isalnum(c) || std::strchr(",.+-", c) != nullptr;
}

std::string format_float(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string lower_ascii(std::string text) {
    for (char& c : text)
        c = lower_ascii(c);
    return text;
}

int edit_distance(const std::string& a, const std::string& b, int limit) {
    // The usual table, by rows, of which three are kept: the one before the last, the last, and
    // the current. A cell i letters into `a` and j into `b` is |i - j| at least (each letter one
    // has more is one change): with a limit only the band of cells within it of the diagonal is
    // worked out, and the cells just outside it read as beyond the limit.
    const int longest = static_cast<int>(std::max(a.size(), b.size()));
    const int bound = std::clamp(limit, 0, longest);
    const int beyond = bound + 1;
    const int length_gap = static_cast<int>(a.size()) - static_cast<int>(b.size());
    if (length_gap > bound || -length_gap > bound) return beyond;
    // The names compared are short: their rows fit on the stack, and only a long word needs the
    // heap.
    constexpr std::size_t short_word = 32;
    int on_stack[3 * (short_word + 2)];
    std::vector<int> on_heap;
    int* rows = on_stack;
    const std::size_t width = b.size() + 2; // one cell more, past the end of a row's band
    if (b.size() > short_word) {
        on_heap.resize(3 * width);
        rows = on_heap.data();
    }
    int* before = rows;
    int* last = before + width;
    int* current = last + width;
    const int n = static_cast<int>(b.size());
    for (int j = 0; j <= n; ++j)
        last[j] = j <= bound + 1 ? j : beyond;
    for (int i = 1; i <= static_cast<int>(a.size()); ++i) {
        const int from = std::max(1, i - bound), to = std::min(n, i + bound);
        current[0] = i;
        if (from > 1) current[from - 1] = beyond;
        for (int j = from; j <= to; ++j) {
            const int changed = a[i - 1] == b[j - 1] ? 0 : 1;
            current[j] = std::min({last[j] + 1, current[j - 1] + 1, last[j - 1] + changed});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        current[to + 1] = beyond;
        std::swap(before, last);
        std::swap(last, current);
    }
    return std::min(last[n], beyond);
}

std::string quoted(const std::string& word) {
    return "'" + word + "'";
}

std::string plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string hex_address(std::uint32_t address) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(address));
    return buffer;
}

std::string without_line_end(const char* line) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

namespace {

bool continues_character(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::size_t columns(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        if (!continues_character(c)) ++n;
    return n;
}

std::string for_display(const std::string& text, std::size_t width) {
    std::string clean;
    std::size_t start =
        text.rfind(plugin::utf8_byte_order_mark, 0) == 0 ? plugin::utf8_byte_order_mark_size : 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        clean += c == '\t' ? ' ' : (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    if (columns(clean) <= width) return clean;
    std::string cut;
    std::size_t n = 0;
    for (char c : clean) {
        if (!continues_character(c) && ++n > width - 3) break;
        cut += c;
    }
    return cut + "...";
}

namespace {

// Lays the words of `text` out in pieces of at most `width` columns, the later ones
// `later_width` (0: the same); a word longer than a piece gets one of its own. Tells `next_piece`
// where a new piece starts, and gives `add` the words of each piece with one blank between.
template <typename NextPiece, typename Add>
void lay_out_words(const std::string& text, std::size_t width, std::size_t later_width,
                   NextPiece next_piece, Add add) {
    if (later_width == 0) later_width = width;
    bool first_piece = true;
    std::size_t used = 0; // columns of the last piece
    std::size_t p = skip_blanks(text, 0);
    while (p < text.size()) {
        const std::size_t end = word_end(text, p);
        std::size_t word = 0;
        for (std::size_t i = p; i < end; ++i)
            word += continues_character(text[i]) ? 0 : 1;
        const std::size_t room = first_piece ? width : later_width;
        if (used != 0 && used + 1 + word > room) {
            next_piece();
            first_piece = false;
            used = 0;
        }
        if (used != 0) {
            add(" ", 1);
            ++used;
        }
        add(text.data() + p, end - p);
        used += word;
        p = skip_blanks(text, end);
    }
}

} // namespace

std::vector<std::string> wrap_words(const std::string& text, std::size_t width,
                                    std::size_t later_width) {
    std::vector<std::string> pieces(1);
    lay_out_words(
        text, width, later_width, [&pieces] { pieces.emplace_back(); },
        [&pieces](const char* part, std::size_t length) { pieces.back().append(part, length); });
    return pieces;
}

std::string wrap_lines(const std::string& text, std::size_t width) {
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        const bool ended = to != std::string::npos;
        if (!ended) to = text.size();
        const std::string line = text.substr(from, to - from);
        from = to + 1;
        if (columns(line) <= width) {
            out += line + (ended ? "\n" : "");
            continue;
        }
        const std::size_t indent = std::min(skip_blanks(line, 0), width / 2);
        const std::vector<std::string> pieces =
            wrap_words(line, width - indent, width - indent - 2);
        for (std::size_t i = 0; i < pieces.size(); ++i)
            out += std::string(indent + (i ? 2 : 0), ' ') + pieces[i] + "\n";
        if (!ended) out.pop_back();
    }
    return out;
}

std::string padded(const std::string& text, std::size_t width) {
    std::string out;
    append_padded(out, text, width);
    return out;
}

void append_padded(std::string& out, const std::string& text, std::size_t width) {
    const std::size_t used = columns(text);
    out.append(text).append(used < width ? width - used : 0, ' ');
}

std::string hanging(const std::string& first, const std::string& text, std::size_t indent) {
    std::string out;
    append_hanging(out, first, text, indent);
    return out;
}

void append_hanging(std::string& out, const std::string& first, const std::string& text,
                    std::size_t indent) {
    out += first;
    append_wrapped(out, text, report_width - columns(first), report_width - indent, indent);
    out += '\n';
}

void append_wrapped(std::string& out, const std::string& text, std::size_t width,
                    std::size_t later_width, std::size_t indent) {
    // Written straight into the paragraph: the pieces' own strings cost a block each.
    lay_out_words(
        text, width, later_width, [&out, indent] { out.append("\n").append(indent, ' '); },
        [&out](const char* part, std::size_t length) { out.append(part, length); });
}

} // namespace check
