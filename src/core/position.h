// position: the position record and the vocabulary every other module uses.
//
// The board is a 10 x 12 mailbox (a1 = 21, h8 = 98, border squares hold OFF_BOARD);
// pieces are 1..6 for pawn..king, White positive and Black negative. Everything a move
// changes apart from the board itself is kept once per search ply in `ply_state`, so
// taking a move back only restores the board. The module makes the start position,
// computes position keys from scratch and prints the board display (core/setup sets up
// other positions).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/precalc.h"

namespace varkon {

using Square = int;
using Side = int;
using HashKey = std::uint64_t;

constexpr int EMPTY = 0;
constexpr int PAWN = 1;
constexpr int KNIGHT = 2;
constexpr int BISHOP = 3;
constexpr int ROOK = 4;
constexpr int QUEEN = 5;
constexpr int KING = 6;
constexpr int OFF_BOARD = 100;

constexpr Side WHITE = 1;
constexpr Side BLACK = -1;

constexpr int MAX_PLY = 108;            // search plies 0..107
// Room kept in the game history above the game's last ply for a search line.
constexpr int GAME_PLY_RESERVE = MAX_PLY + 4;
// A side has at most 16 men and none of them has more than 27 moves (a queen in the
// middle of an empty board; a promoting pawn has 3 x 4), plus two castlings and two
// en-passant captures: the moves of any ply fit with room to spare.
constexpr int MOVES_PER_PLY = 1024;
static_assert(MOVES_PER_PLY >= 16 * 27 + 2 + 2);
constexpr int MOVE_STACK_SIZE = MAX_PLY * MOVES_PER_PLY + 1;
// The most pieces of one code a legal game can reach: two rooks, bishops or knights and
// eight promoted ones (a queen and eight promoted queens make nine). Positions set up
// from outside are held to the same bound (see setup_fen).
constexpr int MAX_PIECES_PER_CODE = 2 + 8;

// A move record. `captured` and `promotion` are piece types (positive), `piece` the
// signed code of the mover, `ep_square` the square of the pawn an en-passant capture
// removes, `castling` 1 king side / 2 queen side, `score` the ordering key.
struct Move {
    std::int8_t piece;
    std::int8_t from;
    std::int8_t to;
    std::int8_t captured;
    std::int8_t promotion;
    std::int8_t castling;
    std::int8_t ep_square;
    std::int32_t score;
};

// The squares of every piece, in 13 lists indexed by code + 6; entry 0 of a list is
// its count, entries 1..count the squares.
struct PieceList {
    std::int8_t sq[13][MAX_PIECES_PER_CODE + 1];
};

// Castling flag order inside PlyState::castle.
constexpr int WHITE_KING_SIDE = 0;
constexpr int WHITE_QUEEN_SIDE = 1;
constexpr int BLACK_KING_SIDE = 2;
constexpr int BLACK_QUEEN_SIDE = 3;

// State of one search ply. Everything before `in_check` is copied one ply up by
// make_move; `in_check` and `move_start` belong to the ply's own move generation.
struct PlyState {
    std::uint64_t occupied;   // the occupied squares (bit sq64 of each piece's square)
    PieceList piece_lists;
    std::uint8_t castle[4];
    int ep;           // en-passant target square or 0
    int mat_value;    // material of both sides, pawns included
    int mat_white;
    int mat_black;
    int pieces;       // non-pawn pieces of both sides, kings included
    int pawns;
    HashKey pawn_key; // the key of the pawns alone (both colours), for the pawn caches
    int in_check;
    int move_start;   // first index of this ply's moves in move_stack
};

// What a take-back needs of each move played in the game, indexed by the game_ply it
// was played from: the move, and the castling rights and en-passant square before it.
struct PlayedMove {
    Move move;
    std::uint8_t castle[4];
    int ep;
};

// One position with everything a line of play through it needs: the board, the state of
// each ply above the game position (ply 0), the move stack the plies generate into, and
// the game history (the key and fifty-move counter of every position of the game and of
// the search line above it, and the moves played). Large (the move stack alone is over a
// megabyte): allocate it on the heap. Each searching thread has one of its own; the
// protocols keep the game in another.
struct Position {
    std::int8_t board[120];
    Side side = WHITE;
    int ply = 0;
    int game_ply = 1;
    int move_count = 0;
    int fen_loaded = 0;   // set up from a FEN (or an edit) rather than the start position
    PlyState ply_state[MAX_PLY + 2];
    // Indexed by game_ply; the size follows the game (see reserve_game_history).
    std::vector<HashKey> hash_history;
    std::vector<int> fifty;
    std::vector<PlayedMove> game_moves;
    Move move_stack[MOVE_STACK_SIZE];

    Position();
    Position(const Position&) = delete;
    Position& operator=(const Position&) = delete;

    PlyState& cur() { return ply_state[ply]; }
    const PlyState& cur() const { return ply_state[ply]; }
    int piece_count(int code) const { return ply_state[ply].piece_lists.sq[code + 6][0]; }
    Square king_square(Side s) const { return ply_state[ply].piece_lists.sq[6 + 6 * s][1]; }
    HashKey key() const { return hash_history[static_cast<std::size_t>(game_ply)]; }
    // Material balance from the side to move's view, and the non-pawn material of both sides.
    int mat_balance() const { return side * (ply_state[ply].mat_white - ply_state[ply].mat_black); }
    int non_pawn_material() const;
};

// ---- constant data ---------------------------------------------------------------
extern const char* const square_name[99];
extern const char piece_letter[8];      // " pnbrqk"
extern const std::array<std::array<HashKey, 16>, 64> key_table;

// The material values of the running program, indexed by piece type 0..6; set once at
// start-up (set_piece_values), read everywhere.
extern int piece_value[7];
void set_piece_values(const int (&values)[7]);

// ---- small helpers ---------------------------------------------------------------
inline int file_of_sq(Square q) { return q % 10; }
inline int rank_of_sq(Square q) { return q / 10 - 1; }
inline int square_at(int file, int rank) { return file + 10 * (rank + 1); }
inline bool is_white_piece(int code) { return code > 0 && code != OFF_BOARD; }
inline HashKey piece_key(Square q, int code) { return key_table[sq64[q]][code + 6]; }
// The change of the side-to-move term of the key.
inline HashKey side_change_key() { return key_table[0][15] ^ key_table[0][13]; }
inline int Position::non_pawn_material() const {
    return ply_state[ply].mat_value - ply_state[ply].pawns * piece_value[PAWN];
}
// Removes `square` from the list of `code`: the list's last entry takes its place.
inline void list_remove(PieceList& pl, int code, int square) {
    std::int8_t* list = pl.sq[code + 6];
    const int n = list[0];
    for (int k = 1; k <= n; ++k)
        if (list[k] == square) {
            list[k] = list[n];
            list[0] = static_cast<std::int8_t>(n - 1);
            return;
        }
}
// Overwrites the entry `from` of the list of `code` with `to`.
inline void list_move(PieceList& pl, int code, int from, int to) {
    std::int8_t* list = pl.sq[code + 6];
    for (int k = 1; k <= list[0]; ++k)
        if (list[k] == from) {
            list[k] = static_cast<std::int8_t>(to);
            return;
        }
}
// Makes the game history hold at least `plies` entries. Moves the storage, so it is
// called only outside a search: by new_game and when a move is played into the game.
void reserve_game_history(Position& pos, int plies);
// The number of entries the game history holds now.
inline int game_history_size(const Position& pos) { return static_cast<int>(pos.hash_history.size()); }

// Makes `to` the game position of `from` (board, ply 0 state, game history and moves), at
// ply 0, with room for a search line above it; the move stack is not copied.
void copy_game(Position& to, const Position& from);

// ---- operations --------------------------------------------------------------------
// The start position, at game ply 1 with an empty game history.
void new_game(Position& pos);
void rebuild_piece_lists(Position& pos);
HashKey compute_key(const Position& pos, Side s);
// Values shown beside the board; the evaluation lines are printed only when present.
struct BoardDisplay {
    bool show_balance = false;   // rank 4 line "mat_balance   = "
    int mat_balance = 0;
    int mat_value = 0;           // rank 3 line
    bool show_eval = false;      // rank 1 line "pos_value     = "
    int pos_value = 0;
};
void show_board(const Position& pos, std::FILE* out, const BoardDisplay& values);

// Whether the king and the rook of castling flag `flag` stand on their home squares: a
// castling right stands only while they do.
bool castling_pieces_home(const Position& pos, int flag);

// True when lists, counts, material and key of the current ply agree with the board.
bool position_consistent(const Position& pos);

}  // namespace varkon

#if defined(VARKON_CHECKS)
#include <cstdio>
#include <cstdlib>
#define VARKON_ASSERT(cond)                                                            \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)
#else
#define VARKON_ASSERT(cond) ((void)0)
#endif
