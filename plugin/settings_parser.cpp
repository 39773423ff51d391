#include "plugin/settings_parser.h"

#include "plugin/host.h"

#include <cstring>

namespace plugin {

namespace a = host_addresses;
using k = line_kind;

const settings_position settings_positions[settings_line_count] = {
    {1, k::reload_flag, 0, 0, "reload every frame (non-zero: on)"},
    {2, k::ignored, 0, 0, "nothing (heading)"},
    {3, k::host_float, a::aim_value_line3, 0, "host aim value at 0x8CC4B4"},
    {4, k::host_float, a::aim_value_line4, 0, "host aim value at 0x8CC4B8"},
    {5, k::code_float, a::aim_code_constant, 0, "aim-camera code constant at 0x521632"},
    {6, k::host_float, a::aim_value_line6, 0, "host aim value at 0x8CC4B0"},
    {7, k::host_float, a::aim_value_line7, 0, "host aim value at 0x8CC4AC"},
    {8, k::host_float, a::aim_value_line8, 0, "host aim value at 0x8CC4A8"},
    {9, k::host_float, a::aim_value_line9, 0, "host aim value at 0x8CC4A0"},
    {10, k::ignored, 0, 0, "nothing (heading)"},
    {11, k::aim_row, 0, 0, "aim row 0 (7 floats at 0x8CC4C0)"},
    {12, k::aim_row, 0, 1, "aim row 1 (7 floats at 0x8CC4DC)"},
    {13, k::aim_row, 0, 2, "aim row 2 (7 floats at 0x8CC4F8)"},
    {14, k::aim_row, 0, 3, "aim row 3 (7 floats at 0x8CC514)"},
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

// Label reads are bounded to the 128-byte label buffer.
constexpr const char reload_format[] = "%127s %d";
constexpr const char float_format[] = "%127s %f";
constexpr const char row_format[] = "%127s %f %f %f %f %f %f %f";
constexpr const char weapon_format[] = "%i %f %f %f";

int values_after_label(int scanned) {
    return scanned > 1 ? scanned - 1 : 0;
}

} // namespace

int values_wanted(line_kind kind) noexcept {
    switch (kind) {
    case k::reload_flag:
    case k::host_float:
    case k::code_float:
        return 1;
    case k::aim_row:
        return 7;
    case k::weapon:
        return 4;
    case k::ignored:
        return 0;
    }
    return 0;
}

line_values parse_settings_line(line_kind kind, const char* text) noexcept {
    line_values v;
    char label[label_buffer_size];
    float* f = v.floats;
    switch (kind) {
    case k::reload_flag:
        v.count = values_after_label(std::sscanf(text, reload_format, label, &v.integer));
        break;
    case k::host_float:
    case k::code_float:
        v.count = values_after_label(std::sscanf(text, float_format, label, &f[0]));
        break;
    case k::aim_row:
        v.count = values_after_label(
            std::sscanf(text, row_format, label, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]));
        break;
    case k::weapon: {
        const int scanned = std::sscanf(text, weapon_format, &v.integer, &f[0], &f[1], &f[2]);
        v.count = scanned > 0 ? scanned : 0;
        break;
    }
    case k::ignored:
        break;
    }
    return v;
}

line_read read_settings_line(std::FILE* file, char* buffer) noexcept {
    if (!std::fgets(buffer, line_buffer_size, file)) return line_read::absent;
    const std::size_t length = std::strlen(buffer);
    if (length == 0 || buffer[length - 1] == '\n' || length < line_buffer_size - 1)
        return line_read::read;
    // The buffer is full and holds no newline: drop the rest of this line.
    int c = std::fgetc(file);
    if (c == EOF || c == '\n') return line_read::read; // it was exactly 511 characters
    while (c != EOF && c != '\n')
        c = std::fgetc(file);
    return line_read::overlong;
}

} // namespace plugin
