// In-process set-up of the engine's global state for unit tests.
#pragma once

#include <string>
#include <vector>

#include "apps/programs.h"
#include "core/position.h"

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

}  // namespace test

namespace test {

// FEN (four fields) of the game position.
std::string current_fen();
// FENs of the positions along the games of a PGN file (moves read with the SAN parser),
// at most `max_positions` of them.
std::vector<std::string> pgn_positions(const std::string& path, std::size_t max_positions);
// FENs of an EPD file's positions.
std::vector<std::string> epd_positions(const std::string& path);

}  // namespace test
