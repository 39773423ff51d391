#include "plugin/settings/settings_parser.h"

#include "plugin/host_addresses.h"

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <system_error>
#include <type_traits>

namespace plugin {

namespace a = host_addresses;
using k = line_kind;

constexpr std::uint32_t row_bytes = row_value_count * sizeof(float);

const settings_position settings_positions[settings_line_count] = {
    {1, k::reload_flag, 0, 0, "reload every frame (non-zero: on)"},
    {2, k::ignored, 0, 0, "nothing (heading)"},
    {3, k::host_float, a::aim_value_line3, 0, "an aim-camera value of the game"},
    {4, k::host_float, a::aim_value_line4, 0, "an aim-camera value of the game"},
    {5, k::code_float, a::aim_code_constant, 0, "a value in the game's aim-camera code"},
    {6, k::host_float, a::aim_value_line6, 0, "an aim-camera value of the game"},
    {7, k::host_float, a::aim_value_line7, 0, "an aim-camera value of the game"},
    {8, k::host_float, a::aim_value_line8, 0, "an aim-camera value of the game"},
    {9, k::host_float, a::aim_value_line9, 0, "an aim-camera value of the game"},
    {10, k::ignored, 0, 0, "nothing (heading)"},
    {11, k::aim_row, a::aim_rows + 0 * row_bytes, 0, "aim row 0 of the game (7 values)"},
    {12, k::aim_row, a::aim_rows + 1 * row_bytes, 1, "aim row 1 of the game (7 values)"},
    {13, k::aim_row, a::aim_rows + 2 * row_bytes, 2, "aim row 2 of the game (7 values)"},
    {14, k::aim_row, a::aim_rows + 3 * row_bytes, 3, "aim row 3 of the game (7 values)"},
    {15, k::ignored, 0, 0, "nothing (heading)"},
    {16, k::weapon, 0, 0, "weapon offset 1"},
    {17, k::weapon, 0, 0, "weapon offset 2"},
    {18, k::weapon, 0, 0, "weapon offset 3"},
    {19, k::weapon, 0, 0, "weapon offset 4"},
    {20, k::weapon, 0, 0, "weapon offset 5"},
    {21, k::weapon, 0, 0, "weapon offset 6"},
    {22, k::weapon, 0, 0, "weapon offset 7"},
    {23, k::weapon, 0, 0, "weapon offset 8"},
    {24, k::weapon, 0, 0, "weapon offset 9"},
    {25, k::weapon, 0, 0, "weapon offset 10"},
    {26, k::weapon, 0, 0, "weapon offset 11"},
    {27, k::weapon, 0, 0, "weapon offset 12"},
    {28, k::weapon, 0, 0, "weapon offset 13"},
    {29, k::weapon, 0, 0, "weapon offset 14"},
    {30, k::weapon, 0, 0, "weapon offset 15"},
    {31, k::weapon, 0, 0, "weapon offset 16"},
};

namespace {

// The values behind a label; the label itself is skipped by hand (see skip_label).
constexpr const char reload_format[] = " %d";
constexpr const char float_format[] = " %f";
constexpr const char row_format[] = " %f %f %f %f %f %f %f";
static_assert(row_value_count == 7, "row_format and the sscanf call below read seven values");
constexpr const char weapon_format[] = "%i %f %f %f";

// Steps over the label: the first run of non-blank characters, whatever its length. A label
// longer than the 128-byte label buffer is skipped whole, so its tail is never taken for a
// value. Null when the line holds no label.
const char* skip_label(const char* text) {
    while (is_blank(*text))
        ++text;
    if (*text == '\0') return nullptr;
    while (*text != '\0' && !is_blank(*text))
        ++text;
    return text;
}

// A plain decimal of at most seven significant digits and eight decimals, as hand-tuned values
// are, is w / 10^k with both exact in a double. The quotient, rounded to 53 bits or more, then
// to a float, is the correctly rounded float, as scanf gives it: the exact quotient is never
// close enough to a midpoint between two floats for the first rounding to move it onto one.
bool short_decimal(const char* p, const char* end, float& out) {
    static constexpr double powers_of_ten[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    const bool negative = *p == '-';
    if (negative) ++p;
    std::uint32_t w = 0;
    int decimals = -1; // counts from the '.'
    for (; p != end; ++p) {
        if (*p == '.') {
            decimals = 0;
            continue;
        }
        w = w * 10 + static_cast<std::uint32_t>(*p - '0');
        if (w >= 10000000) return false;
        if (decimals >= 0 && ++decimals > 8) return false;
    }
    const double magnitude = static_cast<double>(w) / powers_of_ten[decimals < 0 ? 0 : decimals];
    out = static_cast<float>(negative ? -magnitude : magnitude);
    return true;
}

template <typename T> bool read_plain(const char*& p, T& out) {
    while (is_blank(*p))
        ++p;
    const char* const end = plain_number_end(p, std::is_integral_v<T>);
    if (!end) return false;
    if constexpr (std::is_same_v<T, float>) {
        // Longer decimals are rare in a hand-written file; sscanf reads them. (from_chars for
        // floats would do it faster, but its tables would double the size of the DLL.)
        if (!short_decimal(p, end, out)) return false;
        p = end;
        return true;
    }
    const auto [stop, error] = std::from_chars(p, end, out);
    if (error != std::errc() || stop != end) return false;
    p = end;
    return true;
}

// Reads `with_integer` (0 or 1) integers, then `floats` floats, all plain; false if any is not.
bool read_plain_values(const char* p, int with_integer, int floats, line_values& v) {
    if (with_integer && !read_plain(p, v.integer)) return false;
    for (int i = 0; i < floats; ++i)
        if (!read_plain(p, v.floats[i])) return false;
    v.count = with_integer + floats;
    return true;
}

int converted(int scanned) {
    return scanned > 0 ? scanned : 0; // EOF (nothing at all) counts as no value
}

} // namespace

// Plain numbers, which is what a hand-written file almost always holds, are read without sscanf:
// short decimals as an exact quotient (below), whole numbers with from_chars. For them both give
// exactly what scanf gives, at a fraction of the cost. Anything else (a sign '+', an exponent,
// hex, octal, inf, nan, text glued to the number, a value out of range, a long decimal) goes
// through sscanf, which stays the reference.
const char* plain_number_end(const char* p, bool integer) noexcept {
    const char* q = p;
    if (*q == '-') ++q;
    const char* const digits = q;
    while (*q >= '0' && *q <= '9')
        ++q;
    std::ptrdiff_t count = q - digits;
    if (integer) {
        // "%i" reads a leading 0 as octal; more than 9 digits may overflow.
        if (count == 0 || count > 9 || (digits[0] == '0' && count > 1)) return nullptr;
    } else if (*q == '.') {
        ++q;
        const char* const fraction = q;
        while (*q >= '0' && *q <= '9')
            ++q;
        count += q - fraction;
    }
    if (count == 0 || (*q != '\0' && !is_blank(*q))) return nullptr;
    return q;
}

bool is_blank_line(const char* text) noexcept {
    while (is_blank(*text))
        ++text;
    return *text == '\0';
}

line_values parse_settings_line(line_kind kind, const char* text) noexcept {
    line_values v;
    float* f = v.floats;
    if (kind == k::ignored) return v;
    if (kind == k::weapon) {
        if (read_plain_values(text, 1, 3, v)) return v;
        v = line_values{};
        v.count = converted(std::sscanf(text, weapon_format, &v.integer, &f[0], &f[1], &f[2]));
        return v;
    }
    const char* const values = skip_label(text);
    if (!values) return v;
    const int integer = starts_with_integer(kind) ? 1 : 0;
    if (read_plain_values(values, integer, values_wanted(kind) - integer, v)) return v;
    v = line_values{};
    switch (kind) {
    case k::reload_flag:
        v.count = converted(std::sscanf(values, reload_format, &v.integer));
        break;
    case k::host_float:
    case k::code_float:
        v.count = converted(std::sscanf(values, float_format, &f[0]));
        break;
    case k::aim_row:
        v.count = converted(
            std::sscanf(values, row_format, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]));
        break;
    case k::weapon:
    case k::ignored:
        break;
    }
    return v;
}

} // namespace plugin
