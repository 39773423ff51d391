// Changing one weapon's offset in the settings file's bytes, as players tune it with keys in the
// game, so that corvane can save it into aimingSets.dat.
//
// Free of any OS or host access: it takes the file's bytes exactly as on disk and gives the new
// bytes. The file is read by the module's own reader, parser and named-line rules, so the line
// changed is the one corvane reads that weapon from, and nothing else moves: the other lines,
// the spacing, a comment after the numbers, the line ends (LF or CR LF, and any lone CR) and the
// encoding (8-bit, UTF-8 with or without its mark, UTF-16 in either byte order) all stay byte
// for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plugin {

// What an edit found and did.
enum class weapon_edit_status : std::uint8_t {
    rewritten,     // the weapon's own line: the numbers that differ were rewritten
    unchanged,     // its own line already holds exactly these three numbers: nothing to write
    new_line,      // no line of its own: written into the first empty weapon slot
    no_empty_slot, // no line of its own, and no empty slot among lines 16 to 31
    not_placeable, // a safety net, nothing is written: the bytes do not split into the lines
                   // corvane reads, or the changed line would not read back as the new numbers
                   // (a number glued to the text before or after it, as the 8 of "08 1 2 3",
                   // or pushed past the 511 characters corvane reads of a line)
};

// Why it exists: what the caller tells the player after an edit: what happened, and where.
struct weapon_edit {
    weapon_edit_status status;
    int line; // 1-based: the line written or found; 0 when there is none
};

// Gives `weapon_type` the offset `offset` (x, y, z) in `file`, the settings file's bytes.
//
// - The weapon's own line is the first of lines 16 to 31 that corvane's load takes as a weapon
//   line for that type: not a named line, and all four values read with the type equal to
//   `weapon_type`. On it, only the numbers whose value differs, bit for bit, from what the new
//   number's text reads back as are replaced by that text; the type stays as it is written
//   ("0x16" stays "0x16").
// - Without such a line, the first empty slot takes "<type> <x> <y> <z>": a line among 16 to 31
//   that holds only blanks (its blanks are replaced, its line end stays), or else, in a file of
//   15 lines or more that ends before line 31 (and not at a byte 0x1A), the line after its last.
//   A line that holds anything a player wrote (a comment, half a weapon line, a named line) is
//   never taken.
// - A number's text is the shortest that reads back as the same float, as text_of in
//   plugin/settings/number_text.h writes it ("0.45", "-1.5"), and "0" for -0 (so a line's 0 stays as
//   it is). A NaN is written "nan" or "-nan", which read back as the parser's NaN of that sign.
//
// `out` receives the whole new file for rewritten and new_line only; otherwise it is left alone.
weapon_edit edit_weapon_offset(std::string_view file, std::int32_t weapon_type,
                               const float (&offset)[3], std::string& out);

} // namespace plugin
