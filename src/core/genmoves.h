// genmoves: the moves of the side to move at the position's current ply, written into its
// move stack.
//
// Moves are pseudo-legal, except in check (the ply's in_check flag set), where every
// candidate is tested before it is stored, so a position in check yields only legal
// moves. The generation order is fixed (pieces by kind, pawns first, each list in list
// order, then castling, then en passant): it is the order equal-scored moves are tried in.
#pragma once

#include "core/position.h"

namespace varkon {

// Writes the ply's moves from move_start of the ply on and sets move_start of ply + 1.
void generate_moves(Position& pos);
// The same, captures only (capture-promotions included, castling and pushes excluded).
void generate_captures(Position& pos);

}  // namespace varkon
