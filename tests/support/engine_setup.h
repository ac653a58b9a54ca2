// In-process set-up of the engine's global state for unit tests.
#pragma once

#include <string>
#include <vector>

#include "apps/programs.h"
#include "core/position.h"
#include "search/think.h"

namespace test {

// Installs the program (material values, defaults) and the start position.
void use_varkon();
void use_classic();
// Sets a position from a whole FEN text; true when it was accepted.
bool set_fen(const std::string& fen);
// Runs `f` with stdout redirected and returns what it printed.
std::string capture_stdout(void (*f)());
// Colour-mirrored FEN: board reflected between ranks 4 and 5, colours and side swapped.
std::string mirror_fen(const std::string& fen);
// Generates the moves of the game position at ply 0: move_stack[1] to move_stack[move_count - 1].
void generate_root();
// Coordinate text of a move; "" for no move.
std::string text(const varkon::Move& m);

// What the search driver reported through an output that prints and plays nothing.
struct Recorded {
    varkon::ThinkResult result;
    std::vector<varkon::IterationLine> lines;   // their pv pointers are not kept
    int single_replies = 0;
};
extern Recorded recorded;
// Installs that output, with no input to poll, and forgets what was recorded.
void record_search();
// Searches the game position to `depth` plies (or `nodes` nodes), without a clock, through
// the recording output; returns the move chosen.
std::string think_to(int depth, std::uint64_t nodes = 0);

// FEN (four fields) of the game position.
std::string current_fen();
// FENs of the positions along the games of a PGN file (moves read with the SAN parser),
// at most `max_positions` of them; `unread` counts the moves the parser refused.
std::vector<std::string> pgn_positions(const std::string& path, std::size_t max_positions, int* unread = nullptr);
// FENs of an EPD file's positions.
std::vector<std::string> epd_positions(const std::string& path);

}  // namespace test
