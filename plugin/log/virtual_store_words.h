// Windows' VirtualStore in the words corvane.log and corvane-check both use: why a file of the
// game's folder has a second copy elsewhere, which one the game reads, and how to end the split.
#pragma once

namespace plugin {

// Why Windows keeps the game's files elsewhere: said after "<file>: ".
inline constexpr char virtual_store_why[] =
    "the game's folder is one Windows protects (under Program Files), and the game runs without "
    "administrator rights, so Windows writes the game's files, corvane's too, into a copy of the "
    "folder in your VirtualStore folder, and from then on the game reads the copy there, not the "
    "file in its own folder";

// How the player ends the split.
inline constexpr char virtual_store_cure[] =
    "delete the copy in VirtualStore (after writing any numbers you want to keep from it into "
    "the file in the game's folder), or move the game out of Program Files (for instance to "
    "C:\\Games)";

} // namespace plugin
