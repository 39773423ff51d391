// Which build of the game an executable on disk is, told before the game starts.
//
// The module tells the build at start-up from a few bytes of the game's code in memory; whether
// the Z and X keys and live reload work depends on the answer, and on a build other than 1001
// and 1002 whether it changes the game at all depends on the five bytes of its aim call. This
// reads the same bytes from the executable file, through its section table, so a player learns
// the answer without starting the game. The file is only ever opened for reading.
#pragma once

#include <cstdint>
#include <string>

namespace check {

// What the module will do on that build.
enum class build_verdict {
    keys_and_reload, // a build whose per-frame call the module hooks: everything works
    settings_only,   // another known build: the keys and reload work while the player aims
    not_recognised,  // every probe could be read and none matched
    cannot_tell,     // not a 32-bit Windows program, or a probe the file cannot answer
};

// Why the file cannot answer, when it cannot.
enum class unanswered_reason {
    none,
    cannot_open,       // the file cannot be opened
    not_a_program,     // no Windows program header
    not_32_bit,        // a Windows program, but not a 32-bit x86 one
    cut_short,         // the headers or a section's bytes end past the end of the file
    filled_when_run,   // the probe lies where the program fills its code only once it runs
    outside_the_image, // no section of the program covers the probe
};

// Everything the checker found in one executable.
struct game_build {
    std::string file;
    build_verdict verdict = build_verdict::cannot_tell;
    unanswered_reason reason = unanswered_reason::none;
    std::int32_t code = 0;               // the build, when recognised
    std::uint32_t probe_address = 0;     // the probe that matched, or that could not be answered
    bool first_probe_read = false;       // whether the file answers the first probe
    std::uint32_t first_probe_value = 0; // the four bytes it holds there, little-endian
    // On a build other than 1001 and 1002 whose aim call site the file holds: whether those five
    // bytes are not the call corvane knows, so that corvane will change nothing in this game,
    // and the bytes.
    bool changes_nothing = false;
    std::uint8_t aim_site_bytes[5] = {};
    // Whether the program asks Windows to place it anywhere and carries what Windows needs to
    // move it: where Windows does, corvane changes nothing in the game.
    bool can_move = false;
};

// Reads the executable at `path` (never writes it) and tells its build.
game_build identify_game_build(const std::string& path);

// Names for tools (the JSON report): "keys_and_reload", "cut_short"...
const char* build_verdict_name(build_verdict verdict);
const char* unanswered_reason_name(unanswered_reason reason);

// The four bytes as they lie in the file: "55 8B EC 53".
std::string four_bytes(std::uint32_t value);

// The finding in plain words for players, one short paragraph; addresses only at the end.
std::string game_build_text(const game_build& build);

} // namespace check
