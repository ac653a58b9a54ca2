// moves: moving a position forward and back along a line of play.
//
// make_move copies the current ply's state one ply up and edits the copy (pieces lists,
// material, castling rights, en-passant square, incremental key), so unmake_move only
// restores the board. A move played in the game is made at ply 0 and committed, so the
// game position always stays at ply 0.
#pragma once

#include <array>
#include <vector>

#include "core/position.h"

namespace varkon {

// Makes pos.move_stack[i] for the side to move; the move must be pseudo-legal here.
void make_move(Position& pos, int i);
// Takes back make_move(i); same index, reverse order.
void unmake_move(Position& pos, int i);
// Whether pos.move_stack[i], pseudo-legal here, leaves the mover's king unattacked: the
// move is made, tested and taken back. For the few moves of a root, not for the search.
bool move_is_legal(Position& pos, int i);
void make_null_move(Position& pos);
void unmake_null_move(Position& pos);
// After make_move at ply 0: copies ply 1's state down to ply 0.
void commit_move(Position& pos);
// Plays move_stack[i] (legal, generated at ply 0) in the game: records it, makes and
// commits it, and leaves ply at 0.
void play_move(Position& pos, int i);
// Undoes the last move played in the game; false when there is none.
bool take_back(Position& pos);

// The move played from game_ply g (1 <= g < game_ply); an empty move for any other g.
Move played_move(const Position& pos, int g);

// The whole game as it stands (position, keys, counters and the moves played with what
// a take-back needs), to be put back later as it was.
struct SavedGame {
    std::int8_t board[120];
    Side side;
    int game_ply;
    PlyState state;
    int fen_loaded;
    std::vector<HashKey> keys;
    std::vector<int> counters;
    std::vector<Move> moves;
    std::vector<std::array<std::uint8_t, 4>> castle;
    std::vector<int> ep;
};
SavedGame save_game(const Position& pos);
void restore_game(Position& pos, const SavedGame& saved);

}  // namespace varkon
