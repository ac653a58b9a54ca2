#include "eval/eval_classic.h"

#include <cstdint>

#include "core/position.h"
#include "core/precalc.h"
#include "eval/eval_cache_classic.h"

namespace varkon {

namespace {

// ---- board geometry of this evaluation ----------------------------------------------

constexpr bool on_board(int q) { return q >= 21 && q <= 98 && q % 10 != 0 && q % 10 != 9; }

// The square reflected between ranks 4 and 5 (a1 <-> a8); 0 off the board.
constexpr auto make_mirror() {
    struct T { int v[120]; } t{};
    for (int q = 0; q < 120; ++q) t.v[q] = on_board(q) ? (q % 10) + 10 * (10 - q / 10 + 1) : 0;
    return t;
}
constexpr auto mirror = make_mirror();

// 1 for files a-c, 2 for d and e, 3 for f-h; 0 off the board.
constexpr auto make_wing() {
    struct T { int v[120]; } t{};
    for (int q = 0; q < 120; ++q) t.v[q] = on_board(q) ? (q % 10 <= 3 ? 1 : q % 10 <= 5 ? 2 : 3) : 0;
    return t;
}
constexpr auto wing = make_wing();

// 1 << (f - 1) for the files 1..8; the border files 0 and 9 hold no bit and so never
// count as empty of pawns.
constexpr std::uint8_t file_bit[10] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 0};

constexpr int sq64_of(int q) { return (q / 10 - 2) * 8 + q % 10 - 1; }

// Index into a table printed rank 8 first, at the piece's own-view square.
template <int S>
constexpr int table_index(int q) {
    return S == WHITE ? sq64_of(mirror.v[q]) : sq64_of(q);
}
template <int S>
constexpr int own_rank(int q) {
    return S == WHITE ? q / 10 - 1 : 10 - q / 10;
}

// ---- piece-square tables, rows from own rank 8 down to own rank 1 --------------------

using Table = int[64];

constexpr Table pawn_0 = {
    0, 0, 0, 0, 0, 0, 0, 0,        0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,        0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 25, 25, -15, -15, -15, 0, 0, 0, 10, 10, -10, -10, -10,
    0, 0, 0, -10, -10, 0, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0};
constexpr Table pawn_1 = {
    0, 0, 0, 0, 0, 0, 0, 0,        0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,        0, 0, 0, 25, 25, 0, 0, 0,
    0, 0, 0, 25, 25, -15, -15, -15, 0, 0, 0, 10, 10, -15, -5, -5,
    0, 0, 0, -10, -10, 0, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0};
constexpr Table pawn_2 = {
    0, 0, 0, 0, 0, 0, 0, 0,           50, 50, 50, 50, 50, 50, 50, 50,
    20, 20, 20, 25, 25, 20, 20, 25,   10, 10, 10, 15, 15, 10, 10, 15,
    5, 5, 5, 15, 15, 5, 5, 10,        3, 3, 3, 5, 5, 3, 3, 5,
    0, 0, 0, -5, -5, 0, 0, 0,         0, 0, 0, 0, 0, 0, 0, 0};
constexpr Table pawn_3 = {
    0, 0, 0, 0, 0, 0, 0, 0,                 100, 100, 100, 100, 100, 100, 100, 100,
    55, 55, 55, 55, 55, 55, 55, 55,         25, 25, 25, 25, 25, 25, 25, 25,
    15, 15, 15, 15, 15, 15, 15, 15,         0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,                 0, 0, 0, 0, 0, 0, 0, 0};

constexpr Table knight_0 = {
    -8, -6, -4, -4, -4, -4, -6, -8,   -6, 0, 0, 0, 0, 0, 0, -6,
    -4, 7, 8, 8, 8, 8, 7, -4,         -4, 7, 7, 8, 8, 7, 7, -4,
    -4, 6, 7, 8, 8, 7, 6, -4,         -4, 5, 8, 6, 6, 8, 5, -4,
    -6, 0, 0, 5, 5, 0, 0, -6,         -8, -10, -4, -4, -4, -4, -10, -8};
constexpr Table knight_12 = {
    -10, -7, -5, -5, -5, -5, -5, -10, -7, 2, 4, 4, 4, 4, 2, -7,
    -5, 7, 8, 8, 8, 8, 7, -5,         -5, 7, 7, 8, 8, 7, 7, -5,
    -5, 6, 7, 8, 8, 7, 6, -5,         -5, 3, 8, 6, 6, 8, 3, -5,
    -7, 0, 3, 5, 5, 3, 0, -7,         -10, -10, -5, -5, -5, -5, -10, -10};
constexpr Table knight_3 = {
    -10, -7, -5, -5, -5, -5, -5, -10, -7, 2, 4, 4, 4, 4, 2, -7,
    -5, 7, 8, 8, 8, 8, 7, -5,         -5, 7, 7, 8, 8, 7, 7, -5,
    -5, 6, 7, 8, 8, 7, 6, -5,         -5, 3, 8, 6, 6, 8, 3, -5,
    -7, 0, 3, 5, 5, 3, 0, -7,         -10, -7, -5, -5, -5, -5, -7, -10};

constexpr Table bishop_01 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 7, 8, 8, 7, 0, 0,   0, 7, 7, 8, 8, 7, 7, 0,
    0, 7, 7, 8, 8, 7, 7, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 5, 0, 0, 0, 0, 5, 0,   0, 0, -7, 0, 0, -7, 0, 0};
constexpr Table bishop_2 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 7, 8, 8, 7, 0, 0,   0, 7, 7, 8, 8, 7, 7, 0,
    0, 7, 7, 8, 8, 7, 7, 0,   0, 0, 0, 7, 7, 0, 0, 0,
    0, 5, 0, 0, 0, 0, 5, 0,   0, 0, -5, 0, 0, -5, 0, 0};
constexpr Table bishop_3 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 5, 5, 7, 7, 5, 5, 0,
    0, 5, 7, 7, 7, 7, 5, 0,   0, 7, 7, 8, 8, 7, 7, 0,
    0, 7, 7, 8, 8, 7, 7, 0,   0, 5, 7, 7, 7, 7, 5, 0,
    0, 5, 5, 7, 7, 5, 5, 0,   0, 0, 0, 0, 0, 0, 0, 0};

constexpr Table rook_0 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 5, 5, 0, 0, 0};
constexpr Table rook_1 = {
    0, 0, 0, 0, 0, 0, 0, 0,   10, 10, 10, 10, 10, 10, 10, 10,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 5, 5, 0, 0, 0};
constexpr Table rook_2 = {
    0, 0, 0, 0, 0, 0, 0, 0,   10, 10, 10, 10, 10, 10, 10, 10,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0};
constexpr Table rook_3 = {
    0, 0, 0, 0, 0, 0, 0, 0,   5, 5, 5, 5, 5, 5, 5, 5,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0};

constexpr Table queen_0 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 3, 3, 3, 0, 0, 0,   0, 0, 0, 3, 0, 0, 0, 0};
constexpr Table queen_1 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 3, 3, 3, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0};
constexpr Table queen_2 = {
    0, 0, 0, 0, 0, 0, 0, 0,   10, 10, 10, 10, 10, 10, 10, 10,
    0, 5, 7, 7, 7, 7, 5, 0,   0, 5, 7, 8, 8, 7, 5, 0,
    0, 5, 7, 8, 8, 7, 5, 0,   0, 3, 5, 5, 5, 5, 3, 0,
    0, 0, 3, 3, 3, 3, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0};
constexpr Table queen_3 = {
    0, 0, 0, 0, 0, 0, 0, 0,   0, 5, 5, 5, 5, 5, 5, 0,
    0, 5, 7, 7, 7, 7, 5, 0,   0, 5, 7, 8, 8, 7, 5, 0,
    0, 5, 7, 8, 8, 7, 5, 0,   0, 3, 5, 5, 5, 5, 3, 0,
    0, 0, 3, 3, 3, 3, 0, 0,   0, 0, 0, 0, 0, 0, 0, 0};

constexpr Table king_01 = {
    -25, -25, -25, -25, -25, -25, -25, -25,   -25, -25, -25, -25, -25, -25, -25, -25,
    -25, -25, -25, -25, -25, -25, -25, -25,   -25, -25, -25, -25, -25, -25, -25, -25,
    -25, -25, -25, -25, -25, -25, -25, -25,   -25, -25, -25, -25, -25, -25, -25, -25,
    -5, -5, -25, -25, -25, -25, -5, -5,       10, 10, 10, -15, 0, -15, 10, 10};
constexpr Table king_2 = {};
constexpr Table king_3 = {
    -25, -15, -10, -5, -5, -10, -15, -25,   -15, 3, 5, 5, 5, 5, 3, -15,
    -10, 5, 7, 7, 7, 7, 5, -10,             -5, 5, 7, 7, 7, 7, 5, -5,
    -5, 5, 7, 7, 7, 7, 5, -5,               -10, 5, 7, 7, 7, 7, 5, -10,
    -15, 3, 5, 5, 5, 5, 3, -15,             -25, -15, -10, -5, -5, -10, -15, -25};

// By phase 0..3.
constexpr const int* pawn_table[4] = {pawn_0, pawn_1, pawn_2, pawn_3};
constexpr const int* knight_table[4] = {knight_0, knight_12, knight_12, knight_3};
constexpr const int* bishop_table[4] = {bishop_01, bishop_01, bishop_2, bishop_3};
constexpr const int* rook_table[4] = {rook_0, rook_1, rook_2, rook_3};
constexpr const int* queen_table[4] = {queen_0, queen_1, queen_2, queen_3};
constexpr const int* king_table[4] = {king_01, king_01, king_2, king_3};

// ---- weights --------------------------------------------------------------------------

constexpr int DOUBLED_PAWN = -11;
constexpr int ISOLATED_PAWN = -10;
constexpr int BACKWARD_PAWN = -4;
constexpr int PAWN_PAIR = 2;            // a friendly pawn directly to the left
constexpr int PASSED_PAWN = 11;
constexpr int PASSED_PAIR_FAR = 211;    // passed on own rank 6 or more with a pawn to its left
constexpr int TRAPPED_BISHOP = 200;
constexpr int SHUT_IN_ROOK = 40;

template <int S>
constexpr int colour_index() {
    return S == WHITE ? 0 : 1;
}

// The castling rights are read by the king term but are not part of the position key:
// the evaluation cache mixes them in.
constexpr HashKey castling_key[4] = {0x9D39247E33776D41ULL, 0x2AF7398005AAA5C7ULL, 0x44DB015024623547ULL,
                                     0x9C15F73E62A76AE2ULL};

// rear[f]: own rank of the colour's least advanced pawn on file f, 7 when it has none
// (files 0 and 9 always 7).
struct PawnFiles {
    int rear[2][10];
};

// The terms of one position. `no_pawn` holds the files without pawns of each colour
// ([0] White, [1] Black; bit f - 1: file f), which the pawn term leaves and the piece and
// king terms read.
struct ClassicTerms {
    const Position& pos;
    const std::int8_t* board;
    std::uint8_t* no_pawn;

    ClassicTerms(const Position& p, std::uint8_t* files_without_pawns)
        : pos(p), board(p.board), no_pawn(files_without_pawns) {}

    template <int S>
    std::uint8_t own_no_pawn() const {
        return no_pawn[colour_index<S>()];
    }
    template <int S>
    std::uint8_t enemy_no_pawn() const {
        return no_pawn[colour_index<-S>()];
    }
    template <int S>
    const std::int8_t* list_of(int type) const {
        return pos.cur().piece_lists.sq[6 + S * type];
    }

    // ---- pawns ----------------------------------------------------------------------------

    template <int S>
    int pawn_terms(const PawnFiles& files, int phase) const {
        const int* table = pawn_table[phase];
        const int* rear = files.rear[colour_index<S>()];
        const int* enemy_rear = files.rear[colour_index<-S>()];
        const std::uint8_t own_empty = own_no_pawn<S>(), enemy_empty = enemy_no_pawn<S>();
        const int own_pawn = S * PAWN, forward = S * 10;
        const std::int8_t* list = list_of<S>(PAWN);
        int score = 0;
        for (int k = 1; k <= list[0]; ++k) {
            const int q = list[k], f = file_of[q];
            int t = table[table_index<S>(q)];
            if (board[q - forward] == own_pawn || board[q - 2 * forward] == own_pawn) t += DOUBLED_PAWN;
            if ((own_empty & file_bit[f - 1]) && (own_empty & file_bit[f + 1])) t += ISOLATED_PAWN;
            const bool left_pawn = board[q - 1] == own_pawn;
            if (left_pawn) t += PAWN_PAIR;
            if (enemy_empty & file_bit[f]) {
                if (rear[f] < rear[f - 1] && rear[f] < rear[f + 1]) t += BACKWARD_PAWN;
                // Passed: the file's least advanced pawn stands level with or beyond the most
                // advanced enemy pawns of both neighbouring files.
                if (rear[f] >= 9 - enemy_rear[f - 1] && rear[f] >= 9 - enemy_rear[f + 1])
                    t += own_rank<S>(q) >= 6 && left_pawn ? PASSED_PAIR_FAR : PASSED_PAWN;
            }
            score += t;
        }
        return score;
    }

    template <int S>
    void collect_pawn_files(PawnFiles& files) {
        const std::int8_t* list = list_of<S>(PAWN);
        int* rear = files.rear[colour_index<S>()];
        for (int f = 0; f < 10; ++f) rear[f] = 7;
        std::uint8_t empty = 0xFF;
        for (int k = 1; k <= list[0]; ++k) {
            const int q = list[k], f = file_of[q], r = own_rank<S>(q);
            empty &= static_cast<std::uint8_t>(~file_bit[f]);
            if (r < rear[f]) rear[f] = r;
        }
        no_pawn[colour_index<S>()] = empty;
    }

    // ---- pieces ---------------------------------------------------------------------------

    // Empty squares along the four diagonals, halved.
    int bishop_mobility(int q) const {
        const std::uint64_t occupied = pos.cur().occupied;
        return count_squares(slider_attacks<0, 1, 2, 3>(sq64[q], occupied) & ~occupied) / 2;
    }

    template <int S>
    int piece_terms(int phase) const {
        const std::uint8_t own_empty = own_no_pawn<S>(), enemy_empty = enemy_no_pawn<S>();
        const int own_pawn = S * PAWN, enemy_pawn = -S * PAWN, forward = S * 10;
        int score = 0;

        const std::int8_t* list = list_of<S>(KNIGHT);
        for (int k = 1; k <= list[0]; ++k) {
            const int q = list[k];
            score += knight_table[phase][table_index<S>(q)];
            if (board[q + forward] == enemy_pawn) score += 10;
            if (board[q - forward] == own_pawn && wing.v[q] == 2) score -= 10;
        }

        list = list_of<S>(BISHOP);
        for (int k = 1; k <= list[0]; ++k) {
            const int q = list[k];
            score += bishop_table[phase][table_index<S>(q)] + bishop_mobility(q);
            if (k == 2) score += 40;
            if (board[q - forward] == own_pawn && wing.v[q] == 2) score -= 10;
            if (board[q + forward] == enemy_pawn) score += 7;
        }

        // Rooks: open and half-open files, and once more for two rooks sharing such a file
        // (the better file counts when several pairs do).
        list = list_of<S>(ROOK);
        int seen_files = 0, pair_bonus = 0;
        for (int k = 1; k <= list[0]; ++k) {
            const int q = list[k], f = file_of[q];
            score += rook_table[phase][table_index<S>(q)];
            if (!(own_empty & file_bit[f])) continue;
            const bool open = enemy_empty & file_bit[f];
            score += open ? 10 : 5;
            if (seen_files & file_bit[f]) {
                const int bonus = open ? 10 : 7;
                if (bonus > pair_bonus) pair_bonus = bonus;
            }
            seen_files |= file_bit[f];
        }
        score += pair_bonus;

        list = list_of<S>(QUEEN);
        const int home = S == WHITE ? 24 : 94;
        for (int k = 1; k <= list[0]; ++k) {
            const int q = list[k], f = file_of[q];
            score += queen_table[phase][table_index<S>(q)];
            if (phase == 0 && q != home) score -= 10;
            if (own_empty & file_bit[f]) score += (enemy_empty & file_bit[f]) ? 5 : 2;
        }
        return score;
    }

    // ---- kings ----------------------------------------------------------------------------

    template <int S>
    int king_terms(int phase) const {
        const int k = list_of<S>(KING)[1];
        int score = king_table[phase][table_index<S>(k)];
        if (phase == 3) return score;
        const std::uint8_t* castle = pos.cur().castle;
        if (wing.v[k] == 2) {
            const bool both_rights = S == WHITE ? castle[WHITE_KING_SIDE] && castle[WHITE_QUEEN_SIDE]
                                                : castle[BLACK_KING_SIDE] && castle[BLACK_QUEEN_SIDE];
            return both_rights ? score : score - 20;
        }
        // The three squares in front of the king; beyond the last rank they are border
        // squares (up to 20 past the board's playing squares, still inside its 120).
        const std::uint8_t own_empty = own_no_pawn<S>(), enemy_empty = enemy_no_pawn<S>();
        const int own_pawn = S * PAWN;
        for (int d : {9, 10, 11}) {
            const int q = k + S * d, f = file_of[q];
            if (own_empty & file_bit[f]) score -= (enemy_empty & file_bit[f]) ? 40 : 20;
            if (board[q] == own_pawn)
                score += 10;
            else if (board[q + S * 10] == own_pawn)
                score += 5;
            if (board[q] == OFF_BOARD || S * board[q] > PAWN) score += 3;
        }
        return score;
    }

    int traps() const {
        int score = 0;
        const int white_king = pos.king_square(WHITE), black_king = pos.king_square(BLACK);
        if (board[81] == BISHOP && board[72] == -PAWN && board[83] == -PAWN) score -= TRAPPED_BISHOP;   // a7: b6, c7
        if (board[88] == BISHOP && board[77] == -PAWN && board[86] == -PAWN) score -= TRAPPED_BISHOP;   // h7: g6, f7
        if (board[31] == -BISHOP && board[42] == PAWN && board[33] == PAWN) score += TRAPPED_BISHOP;    // a2: b3, c2
        if (board[38] == -BISHOP && board[47] == PAWN && board[36] == PAWN) score += TRAPPED_BISHOP;    // h2: g3, f2
        if (board[28] == ROOK && board[38] == PAWN && (white_king == 26 || white_king == 27)) score -= SHUT_IN_ROOK;
        if (board[98] == -ROOK && board[88] == -PAWN && (black_king == 96 || black_king == 97)) score += SHUT_IN_ROOK;
        return score;
    }
};

// The evaluation-cache key: the position key with the castling rights mixed in.
HashKey eval_key(const Position& pos) {
    const std::uint8_t* castle = pos.cur().castle;
    HashKey key = pos.key();
    for (int i = 0; i < 4; ++i)
        if (castle[i]) key ^= castling_key[i];
    return key;
}

}  // namespace

int phase_classic(const Position& pos) {
    const PlyState& s = pos.cur();
    if (s.pieces > 13 && s.pawns > 13) return 0;
    if (s.pieces > 8 && s.pawns > 8) return 1;
    if (s.pieces > 6 && s.pawns > 6) return 2;
    return 3;
}

int eval_pawns_classic(const Position& pos, EvalState& state, SearchStats& stats, int phase) {
    // The pawn key starts from the phase: the tables differ by phase, so a stored score
    // is only reused in the phase it was computed for.
    const HashKey key = static_cast<HashKey>(phase) ^ pos.cur().pawn_key;
    std::uint8_t* no_pawn = state.no_pawn;
    eval_cache_classic::PawnInfo info;
    if (eval_cache_classic::pawn_probe(key, info, stats)) {
        no_pawn[0] = info.no_pawn_white;
        no_pawn[1] = info.no_pawn_black;
        return info.score;
    }
    ClassicTerms terms(pos, no_pawn);
    PawnFiles files;
    terms.collect_pawn_files<WHITE>(files);
    terms.collect_pawn_files<BLACK>(files);
    info.score = terms.pawn_terms<WHITE>(files, phase) - terms.pawn_terms<BLACK>(files, phase);
    info.no_pawn_white = no_pawn[0];
    info.no_pawn_black = no_pawn[1];
    eval_cache_classic::pawn_store(key, info, stats);
    return info.score;
}

int eval_pieces_classic(const Position& pos, EvalState& state, int phase) {
    const ClassicTerms terms(pos, state.no_pawn);
    return terms.piece_terms<WHITE>(phase) - terms.piece_terms<BLACK>(phase);
}

int eval_kings_classic(const Position& pos, EvalState& state, int phase) {
    const ClassicTerms terms(pos, state.no_pawn);
    return terms.king_terms<WHITE>(phase) - terms.king_terms<BLACK>(phase);
}

int eval_traps_classic(const Position& pos) {
    std::uint8_t unused[2] = {0, 0};
    return ClassicTerms(pos, unused).traps();
}

void prefetch_classic_caches(const Position& pos, bool pawns_changed) {
    eval_cache_classic::eval_prefetch(eval_key(pos));
    if (pawns_changed) eval_cache_classic::pawn_prefetch(pos.cur().pawn_key);
}

int evaluate_classic(const Position& pos, EvalState& state, SearchStats& stats, int alpha, int beta) {
    const HashKey key = eval_key(pos);
    const int cached = eval_cache_classic::eval_probe(key, stats);
    if (cached != eval_cache_classic::NO_SCORE) return cached;

    const int phase = phase_classic(pos);
    if (phase == 3 && pos.cur().pawns == 0 && pos.non_pawn_material() < 301) return 0;

    const Side side = pos.side;
    const int white_view = eval_pawns_classic(pos, state, stats, phase) + eval_traps_classic(pos) +
                           eval_kings_classic(pos, state, phase);
    int score = side * white_view + pos.mat_balance();
    if (score - CLASSIC_LAZY_MARGIN < beta && score + CLASSIC_LAZY_MARGIN > alpha) {
        score += side * eval_pieces_classic(pos, state, phase);
        ++stats.eval_count;
        eval_cache_classic::eval_store(key, score, stats);
        return score;
    }
    ++stats.lazy_count;
    return score;
}

}  // namespace varkon
