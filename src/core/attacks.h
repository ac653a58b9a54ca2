// attacks: is a square attacked, is a side in check, would a move leave the king attacked.
//
// The tests read the board and the piece lists of the position's current ply and reject most
// pieces with one load from the precomputed reach tables before walking a line.
#pragma once

#include "core/position.h"

namespace varkon {

int attacked_by_white(const Position& pos, Square q);
int attacked_by_black(const Position& pos, Square q);
// Whether side s's king is attacked.
int king_in_check(const Position& pos, Side s);
// The squares of the pieces that give check to side s's king, at most `max` of them;
// returns how many there are (counting stops at `max`).
int find_checkers(const Position& pos, Side s, Square* squares, int max);
// Whether the move from -> to of the side to move (with ep_square the square of the
// pawn an en-passant capture removes, else 0) would leave the mover's king attacked.
// Castling is not handled; a promoting pawn is tested as a pawn on `to`. The position is
// changed for the test and put back.
int leaves_king_attacked(Position& pos, Square from, Square to, Square ep_square);

}  // namespace varkon
