#include "tools/check/rules/line_layout.h"

#include "tools/check/check_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace check {

namespace {

// The conversion the module's format uses for value `index` of a line of `kind`.
const char* conversion(plugin::line_kind kind, int index) {
    if (index > 0 || !plugin::starts_with_integer(kind)) return "%f%n";
    return plugin::integer_in_any_base(kind) ? "%i%n" : "%d%n";
}

} // namespace

line_layout lay_out(plugin::line_kind kind, const std::string& text) {
    line_layout layout;
    layout.values.reserve(static_cast<std::size_t>(plugin::values_wanted(kind)));
    const char* const s = text.c_str();
    std::size_t p = skip_blanks(text, 0);
    if (plugin::has_label(kind) && p < text.size()) {
        layout.label.begin = p;
        layout.label.end = p = word_end(text, p);
        layout.has_label = true;
    }
    for (int i = 0; i < plugin::values_wanted(kind); ++i) {
        p = skip_blanks(text, p);
        if (p == text.size()) break;
        // A plain number, as almost every value is, ends where its word ends; scanf is asked
        // only about the rest.
        const bool integer = i == 0 && plugin::starts_with_integer(kind);
        if (const char* const end = plugin::plain_number_end(s + p, integer)) {
            layout.values.push_back({p, static_cast<std::size_t>(end - s)});
            p = static_cast<std::size_t>(end - s);
            continue;
        }
        int used = 0, whole = 0;
        float real = 0;
        const char* const format = conversion(kind, i);
        const int got = format[1] == 'f' ? std::sscanf(s + p, format, &real, &used)
                                         : std::sscanf(s + p, format, &whole, &used);
        if (got != 1) break;
        layout.values.push_back({p, p + used});
        p += used;
    }
    layout.stop = p;
    return layout;
}

std::string text_of(const std::string& text, span s) {
    return text.substr(s.begin, s.end - s.begin);
}

bool cut_short(const std::string& text, std::size_t end) {
    if (end >= text.size() || is_blank(text[end])) return false;
    const unsigned char c = static_cast<unsigned char>(text[end]);
    return std::isalnum(c) || std::strchr(",.+-", c) != nullptr;
}

} // namespace check
