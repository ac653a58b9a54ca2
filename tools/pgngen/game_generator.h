// game_generator: large collections of random but plausible chess games as PGN, for
// measuring the book builder at the sizes users build books from.
//
// Every move is legal and written in standard SAN (piece letters, disambiguation among
// the legal moves only, "x", "=Q", "+" and "#"). Moves are drawn with a preference for
// captures, development, central pawns and castling and against putting a piece where an
// enemy attacks it, so the first moves of the games repeat as in real collections while
// later positions spread out. Games last about 80 half-moves (from 20 to 140) unless
// they end in mate or stalemate; each carries the seven standard tags and a result.
// The same seed always gives the same text.
//
// Plays the games on a position of its own with the engine's move generation.
#pragma once

#include <cstdint>
#include <cstdio>

namespace pgngen {

// Writes `games` games to `out`. False when writing failed.
bool write_games(std::FILE* out, long long games, std::uint64_t seed);

}  // namespace pgngen
