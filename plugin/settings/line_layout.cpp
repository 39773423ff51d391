#include "plugin/settings/line_layout.h"

#include <cstdio>

namespace plugin {

namespace {

// The conversion the module's format uses for value `index` of a line of `kind`.
const char* conversion(line_kind kind, int index) {
    if (index > 0 || !starts_with_integer(kind)) return "%f%n";
    return integer_in_any_base(kind) ? "%i%n" : "%d%n";
}

} // namespace

line_layout lay_out(line_kind kind, const std::string& text) {
    line_layout layout;
    layout.values.reserve(static_cast<std::size_t>(values_wanted(kind)));
    const char* const s = text.c_str();
    std::size_t p = skip_blanks(text, 0);
    if (has_label(kind) && p < text.size()) {
        layout.label.begin = p;
        layout.label.end = p = word_end(text, p);
        layout.has_label = true;
    }
    for (int i = 0; i < values_wanted(kind); ++i) {
        p = skip_blanks(text, p);
        if (p == text.size()) break;
        // A plain number, as almost every value is, ends where its word ends; scanf is asked
        // only about the rest.
        const bool integer = i == 0 && starts_with_integer(kind);
        if (const char* const end = plain_number_end(s + p, integer)) {
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

std::size_t skip_blanks(const std::string& text, std::size_t p) {
    while (p < text.size() && is_blank(text[p]))
        ++p;
    return p;
}

std::size_t word_end(const std::string& text, std::size_t p) {
    while (p < text.size() && !is_blank(text[p]))
        ++p;
    return p;
}

} // namespace plugin
