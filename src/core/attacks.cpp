#include "core/attacks.h"

#include <cstring>

namespace varkon {

namespace {

// Whether the slider on `from` sees `q` along their common line, nothing standing between.
inline bool line_clear(const std::int8_t* board, int q, int from) {
    const int d = step_toward[q * 99 + from];
    int s = q + d;
    while (s != from) {
        if (board[s] != EMPTY) return false;
        s += d;
    }
    return true;
}

template <int S>  // S = WHITE or BLACK: the attacking colour
inline int attacked_by(const Position& pos, int q) {
    const std::int8_t* board = pos.board;
    const PieceList& pl = pos.cur().piece_lists;
    const int row = q * 99;
    if (pl.sq[6 + 6 * S][0] != 0 && king_reach[row + pl.sq[6 + 6 * S][1]]) return 1;
    if (S == WHITE) {
        if (board[q - 9] == PAWN || board[q - 11] == PAWN) return 1;
    } else {
        if (board[q + 9] == -PAWN || board[q + 11] == -PAWN) return 1;
    }
    const std::int8_t* knights = pl.sq[6 + S * KNIGHT];
    for (int k = 1; k <= knights[0]; ++k)
        if (knight_reach[row + knights[k]]) return 1;
    const std::int8_t* bishops = pl.sq[6 + S * BISHOP];
    for (int k = 1; k <= bishops[0]; ++k)
        if (bishop_reach[row + bishops[k]] && line_clear(board, q, bishops[k])) return 1;
    const std::int8_t* rooks = pl.sq[6 + S * ROOK];
    for (int k = 1; k <= rooks[0]; ++k)
        if (rook_reach[row + rooks[k]] && line_clear(board, q, rooks[k])) return 1;
    const std::int8_t* queens = pl.sq[6 + S * QUEEN];
    for (int k = 1; k <= queens[0]; ++k)
        if ((bishop_reach[row + queens[k]] || rook_reach[row + queens[k]]) && line_clear(board, q, queens[k]))
            return 1;
    return 0;
}

}  // namespace

int find_checkers(const Position& pos, Side s, Square* squares, int max) {
    const std::int8_t* board = pos.board;
    const PieceList& pl = pos.cur().piece_lists;
    const std::int8_t* own_king = pl.sq[6 + 6 * s];
    if (own_king[0] == 0) return 0;
    const int k = own_king[1], row = k * 99, e = -s;  // e: the attacking colour
    int n = 0;
    auto found = [&](int q) {
        if (n < max) squares[n] = q;
        ++n;
    };
    // An enemy pawn checks from the squares diagonally in front of the king.
    if (board[k + 10 * s + 1] == e * PAWN) found(k + 10 * s + 1);
    if (board[k + 10 * s - 1] == e * PAWN) found(k + 10 * s - 1);
    const std::int8_t* list = pl.sq[6 + e * KNIGHT];
    for (int i = 1; i <= list[0]; ++i)
        if (knight_reach[row + list[i]]) found(list[i]);
    list = pl.sq[6 + e * BISHOP];
    for (int i = 1; i <= list[0]; ++i)
        if (bishop_reach[row + list[i]] && line_clear(board, k, list[i])) found(list[i]);
    list = pl.sq[6 + e * ROOK];
    for (int i = 1; i <= list[0]; ++i)
        if (rook_reach[row + list[i]] && line_clear(board, k, list[i])) found(list[i]);
    list = pl.sq[6 + e * QUEEN];
    for (int i = 1; i <= list[0]; ++i)
        if ((bishop_reach[row + list[i]] || rook_reach[row + list[i]]) && line_clear(board, k, list[i])) found(list[i]);
    return n;
}

int attacked_by_white(const Position& pos, Square q) { return attacked_by<WHITE>(pos, q); }
int attacked_by_black(const Position& pos, Square q) { return attacked_by<BLACK>(pos, q); }

int king_in_check(const Position& pos, Side s) {
    const PieceList& pl = pos.cur().piece_lists;
    if (s == WHITE) return pl.sq[12][0] ? attacked_by<BLACK>(pos, pl.sq[12][1]) : 0;
    return pl.sq[0][0] ? attacked_by<WHITE>(pos, pl.sq[0][1]) : 0;
}

int leaves_king_attacked(Position& pos, Square from, Square to, Square ep_square) {
    std::int8_t* board = pos.board;
    const Side side = pos.side;
    ++pos.ply;
    PieceList& pl = pos.cur().piece_lists;
    std::memcpy(&pl, &pos.ply_state[pos.ply - 1].piece_lists, sizeof pl);
    if (ep_square != 0) {
        list_remove(pl, board[ep_square], ep_square);
        board[ep_square] = EMPTY;
    } else if (board[to] != EMPTY) {
        list_remove(pl, board[to], to);
    }
    const int mover = board[from];
    list_move(pl, mover, from, to);
    const std::int8_t captured = board[to];
    board[to] = static_cast<std::int8_t>(mover);
    board[from] = EMPTY;
    const int result = king_in_check(pos, side);
    board[from] = static_cast<std::int8_t>(mover);
    board[to] = captured;
    if (ep_square != 0) board[ep_square] = static_cast<std::int8_t>(-side * PAWN);
    --pos.ply;
    return result;
}

}  // namespace varkon
