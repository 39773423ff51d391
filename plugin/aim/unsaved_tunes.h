// The tunes not saved yet: the tune keys (plugin/aim/tune_keys.h) begin, move, save and drop
// them; the settings load keeps each in force, as a reload must never undo a tune; the log names
// them. Held here, below both, so that the load and the tune keys need not know each other.
#pragma once

#include <cstdint>
#include <vector>

namespace plugin {

// One weapon tuned and not saved yet.
struct pending_tune {
    std::int32_t weapon_type;
    float from[3]; // the offset in force when the tune began
    float now[3];  // the tuned one, in force since
    // How far each part moved since, all its steps added up (kept to the step's decimals): a
    // part moved back to where it began is that part of `from` again, to the last bit.
    double moved[3];
    bool own_line;              // false: it was on the default (-1), or had no offset at all
    bool not_read_said = false; // the log said it waits for corvane to read the file
};

// The tunes not saved yet, one a weapon, in the order they began. Changed by the tune keys only.
std::vector<pending_tune>& pending_tunes() noexcept;
// The tune of `weapon_type`, or null.
pending_tune* pending_tune_for(std::int32_t weapon_type) noexcept;

// A weapon whose dropped tune had given it an entry of its own while it was on the default: it
// follows the default again, load after load, until a line gives it one. May throw (memory).
void follow_the_default_again(std::int32_t weapon_type);

// The settings load tells each weapon line it applies, then the end of the weapon lines: a
// weapon whose dropped tune had given it an entry while it was on the default takes the
// default's offset again at each load (none: the game's own aim), until a line gives it one.
void weapon_line_read(std::int32_t weapon_type) noexcept;
void weapon_lines_read() noexcept;

// The settings load asks this for each weapon line it applies: when `weapon_type` has a tune
// that is not saved yet, `offset` becomes the tuned one and true is returned.
bool unsaved_tune_offset(std::int32_t weapon_type, float (&offset)[3]) noexcept;

// Forgets every tune. For test programs only (through forget_tune_keys).
void forget_unsaved_tunes() noexcept;

} // namespace plugin
