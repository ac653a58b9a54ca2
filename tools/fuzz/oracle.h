// oracle: the engine's own board code, run in the fuzzer's process, as the judge of the
// moves a program under test prints. A position is kept as a line of play (a FEN or the
// start position, then moves) and set up afresh on the oracle's one position whenever it
// is needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

struct GameLine {
    std::string fen;                  // empty: the start position
    std::vector<std::string> moves;   // coordinate texts
};

// Makes the oracle's position, at the start position.
void init_oracle();
// Sets up `line`; false when its FEN is refused or one of its moves is not legal.
bool load(const GameLine& line);
// The legal moves of the position set up, as the engine writes them.
std::vector<std::string> legal_moves();
// The legal moves that take a piece other than a pawn to an empty square, castling
// excepted: moves that can be played back.
std::vector<std::string> reversible_moves();
// Plays `move` (exactly as the engine writes it) when it is legal in the position set
// up; false, with nothing changed, when it is not.
bool play(const std::string& move);
// Leaf count of the position set up.
std::uint64_t count_leaves(int depth);
// The position key of the position set up.
std::uint64_t position_key();
// The position set up as a FEN (four fields).
std::string current_fen();
// A coordinate move as the protocols write one: e2e4, e7e8q.
bool looks_like_move(const std::string& text);

}  // namespace fuzz
