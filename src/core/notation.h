// notation: moves as text, read and written, in coordinate notation (the protocols: e2e4,
// e7e8q, castling as the king's move) and in SAN (PGN files: Nf3, exd6, R1a3, e8=q).
//
// A text never becomes a move by itself: it only selects one of the legal moves that
// generate_moves produces for the game position (ply 0), so an unmatched text leaves the
// position as it was.
#pragma once

#include "core/position.h"

namespace varkon {

// "e4" -> 55; anything but a file letter and a rank digit gives 0.
Square parse_square(const char* text);
// Generates the moves of the game position at ply 0: move_stack[1] to
// move_stack[move_count - 1].
void generate_root(Position& pos);
// Index in move_stack of the legal move of the game position that the text names, or 0.
// Both regenerate the moves of ply 0.
int find_coordinate_move(Position& pos, const char* text);
int find_san_move(Position& pos, const char* text);
// Whether the side to move in the game position has a legal move (regenerates the moves
// of ply 0).
bool has_legal_move(Position& pos);
// Find the move and play it in the game; 1 when played, 0 when no legal move matches.
int parse_coordinate_move(Position& pos, const char* text);
int parse_san_move(Position& pos, const char* text);

// ---- writing ------------------------------------------------------------------------
struct MoveText {
    char s[8];
};

// Coordinate notation; promotions carry the piece letter ("e7e8q").
MoveText move_to_text(const Move& m);
// SAN of the move at `index` of the current ply's move list (no check signs); empty for
// index -1.
MoveText san_text(const Position& pos, int index);

}  // namespace varkon
