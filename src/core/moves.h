// moves: moving the one position forward and back along a line of play.
//
// make_move copies the current ply's state one ply up and edits the copy (pieces lists,
// material, castling rights, en-passant square, incremental key), so unmake_move only
// restores the board. A move played in the game is made at ply 0 and committed, so the
// game position always stays at ply 0.
#pragma once

#include "core/position.h"

namespace varkon {

// Makes move_stack[i] for the side to move; the move must be pseudo-legal here.
void make_move(int i);
// Takes back make_move(i); same index, reverse order.
void unmake_move(int i);
void make_null_move();
void unmake_null_move();
// After make_move at ply 0: copies ply 1's state down to ply 0.
void commit_move();
// Plays move_stack[i] (legal, generated at ply 0) in the game: records it, makes and
// commits it, and leaves ply at 0.
void play_move(int i);
// Undoes the last move played in the game; false when there is none.
bool take_back();

}  // namespace varkon
