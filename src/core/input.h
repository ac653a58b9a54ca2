// input: reading moves, in coordinate notation (protocols) and SAN (PGN files).
//
// A text never becomes a move by itself: it only selects one of the legal moves that
// generate_moves produces for the game position, so an unmatched text leaves the
// position as it was.
#pragma once

#include "core/position.h"

namespace varkon {

// "e4" -> 55; anything but a file letter and a rank digit gives 0.
Square parse_square(const char* text);
// Index in move_stack of the legal move of the game position that the text names, or 0.
// Both regenerate the moves of ply 0.
int find_coordinate_move(const char* text);
int find_san_move(const char* text);
// Whether the side to move in the game position has a legal move (regenerates the moves
// of ply 0).
bool has_legal_move();
// Find the move and play it in the game; 1 when played, 0 when no legal move matches.
int parse_coordinate_move(const char* text);
int parse_san_move(const char* text);

}  // namespace varkon
