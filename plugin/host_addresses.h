// The host game's fixed addresses, as laid out at its preferred base: its functions, the code
// the module patches or reads, and the data the settings file writes. Facts only, with no access
// to the host, so that the settings parser and the settings checker can name them too.
#pragma once

#include <cstdint>

namespace plugin {

namespace host_addresses {
// Host functions.
inline constexpr std::uint32_t find_player = 0x56E210;
inline constexpr std::uint32_t aim_camera = 0x521500;
inline constexpr std::uint32_t transform_offset = 0x5334F0;
inline constexpr std::uint32_t vector_set = 0x411B50;
// Host code.
inline constexpr std::uint32_t aim_call_site = 0x527A95;     // 5-byte CALL of aim_camera
inline constexpr std::uint32_t aim_code_constant = 0x521632; // float inside aim_camera's code
// Host data.
inline constexpr std::uint32_t aim_value_line3 = 0x8CC4B4;
inline constexpr std::uint32_t aim_value_line4 = 0x8CC4B8;
inline constexpr std::uint32_t aim_value_line6 = 0x8CC4B0;
inline constexpr std::uint32_t aim_value_line7 = 0x8CC4AC;
inline constexpr std::uint32_t aim_value_line8 = 0x8CC4A8;
inline constexpr std::uint32_t aim_value_line9 = 0x8CC4A0;
inline constexpr std::uint32_t aim_rows = 0x8CC4C0; // 4 rows of 7 floats, 112 bytes
} // namespace host_addresses

} // namespace plugin
