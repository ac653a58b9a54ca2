#include "eval/eval.h"

#include <cstring>

#include <array>

#include "core/precalc.h"
#include "eval/pawn_cache.h"

namespace varkon {

namespace {

// ---- tables ------------------------------------------------------------------------
// A table is read at the piece's own-view square: rows are own ranks 8 down to 1, columns
// files a to h. Each term has a middlegame half [0] and an endgame half [1].
using Table = std::array<std::int8_t, 64>;
using PhaseTables = std::array<Table, 2>;

constexpr PhaseTables pawn_table = {{
    {0,   0,   0,   0,   0,   0,   0,   0,
     -10, 0,   0,   0,   0,   0,   0,   -10,
     -10, 0,   0,   0,   0,   0,   0,   -10,
     -10, 0,   0,   10,  10,  0,   0,   -10,
     -10, 0,   0,   10,  10,  0,   0,   -10,
     -10, 0,   0,   0,   0,   0,   0,   -10,
     0,   0,   0,   -10, -10, 0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0},
    {0,   0,   0,   0,   0,   0,   0,   0,
     8,   10,  10,  12,  12,  10,  10,  8,
     6,   8,   8,   10,  10,  8,   8,   6,
     4,   6,   6,   8,   8,   6,   6,   4,
     2,   4,   4,   6,   6,   4,   4,   2,
     1,   2,   2,   4,   4,   2,   2,   1,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0},
}};

constexpr PhaseTables knight_table = {{
    {-40, -6,  -4,  -4,  -4,  -4,  -6,  -40,
     -20, 0,   0,   0,   0,   0,   0,   -20,
     -10, 7,   8,   8,   8,   8,   7,   -10,
     -10, 7,   7,   8,   8,   7,   7,   -10,
     -10, 6,   7,   8,   8,   7,   6,   -10,
     -10, 5,   8,   6,   6,   8,   5,   -10,
     -20, 0,   0,   5,   5,   0,   0,   -20,
     -40, -10, -4,  -4,  -4,  -4,  -10, -40},
    {-10, -7,  -5,  -5,  -5,  -5,  -5,  -10,
     -7,  2,   4,   4,   4,   4,   2,   -7,
     -5,  7,   8,   8,   8,   8,   7,   -5,
     -5,  7,   7,   8,   8,   7,   7,   -5,
     -5,  6,   7,   8,   8,   7,   6,   -5,
     -5,  3,   8,   6,   6,   8,   3,   -5,
     -7,  0,   3,   5,   5,   3,   0,   -7,
     -10, -7,  -5,  -5,  -5,  -5,  -7,  -10},
}};

constexpr PhaseTables bishop_table = {{
    {0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   7,   8,   8,   7,   0,   0,
     0,   7,   7,   8,   8,   7,   7,   0,
     0,   7,   7,   8,   8,   7,   7,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   5,   0,   0,   0,   0,   5,   0,
     0,   0,   -7,  0,   0,   -7,  0,   0},
    {0,   0,   0,   0,   0,   0,   0,   0,
     0,   5,   5,   7,   7,   5,   5,   0,
     0,   5,   7,   7,   7,   7,   5,   0,
     0,   7,   7,   8,   8,   7,   7,   0,
     0,   7,   7,   8,   8,   7,   7,   0,
     0,   5,   7,   7,   7,   7,   5,   0,
     0,   5,   5,   7,   7,   5,   5,   0,
     0,   0,   0,   0,   0,   0,   0,   0},
}};

constexpr PhaseTables rook_table = {{
    {0,   2,   4,   6,   6,   4,   2,   0,
     0,   2,   4,   6,   6,   4,   2,   0,
     0,   2,   4,   6,   6,   4,   2,   0,
     0,   2,   4,   6,   6,   4,   2,   0,
     0,   2,   4,   6,   6,   4,   2,   0,
     0,   2,   4,   6,   6,   4,   2,   0,
     0,   2,   4,   6,   6,   4,   2,   0,
     0,   4,   6,   8,   8,   6,   4,   0},
    {},
}};

constexpr PhaseTables queen_table = {{
    {0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0,
     0,   0,   3,   3,   3,   0,   0,   0,
     0,   0,   0,   3,   0,   0,   0,   0},
    {0,   0,   0,   0,   0,   0,   0,   0,
     0,   5,   5,   5,   5,   5,   5,   0,
     0,   5,   7,   7,   7,   7,   5,   0,
     0,   5,   7,   8,   8,   7,   5,   0,
     0,   5,   7,   8,   8,   7,   5,   0,
     0,   3,   5,   5,   5,   5,   3,   0,
     0,   0,   3,   3,   3,   3,   0,   0,
     0,   0,   0,   0,   0,   0,   0,   0},
}};

constexpr PhaseTables king_table = {{
    {-99, -99, -99, -99, -99, -99, -99, -99,
     -99, -99, -99, -99, -99, -99, -99, -99,
     -99, -99, -99, -99, -99, -99, -99, -99,
     -99, -99, -99, -99, -99, -99, -99, -99,
     -50, -50, -50, -50, -50, -50, -50, -50,
     -30, -30, -30, -30, -30, -30, -30, -30,
     -5,  -5,  -15, -25, -25, -15, -5,  -5,
     15,  10,  5,   -15, 0,   -15, 10,  15},
    {-25, -15, -10, -5,  -5,  -10, -15, -25,
     -15, 3,   5,   5,   5,   5,   3,   -15,
     -10, 5,   7,   7,   7,   7,   5,   -10,
     -5,  5,   7,   15,  15,  7,   5,   -5,
     -5,  5,   7,   15,  15,  7,   5,   -5,
     -10, 5,   7,   7,   7,   7,   5,   -10,
     -15, 3,   5,   5,   5,   5,   3,   -15,
     -25, -15, -10, -5,  -5,  -10, -15, -25},
}};

constexpr int passed_bonus[9] = {0, 0, 5, 10, 20, 30, 60, 90, 0};   // by own rank 1..8

constexpr int PAWN_BESIDE = 2;
constexpr int DOUBLED_PAWN = -10;
constexpr int ISOLATED_PAWN = -10;
constexpr int BACKWARD_PAWN = -8;
constexpr int PASSED_PAIR_ADVANCED = 50;
constexpr int ENDGAME_PIECE_MATERIAL = 3300;   // non-pawn material of both sides at most this

constexpr int TRAPPED_BISHOP = -100;
constexpr int BISHOP_PAIR = 50;
constexpr int ROOK_HALF_OPEN_FILE = 10;
constexpr int ROOK_OPEN_FILE = 20;
constexpr int TROPISM_DISTANCE = 4;
constexpr int TRAPPED_ROOK = -50;
constexpr int SHELTER_ONE = 30;
constexpr int SHELTER_TWO = 15;
constexpr int ENEMY_PAWN_IN_FRONT = -20;

// ---- geometry ---------------------------------------------------------------------
constexpr int A1 = 21, B1 = 22, C1 = 23, F1 = 26, G1 = 27, H1 = 28;
constexpr int B6 = 72, G6 = 77, A7 = 81, C7 = 83, F7 = 86, H7 = 88;

// The square seen from the other side: ranks reflected between 4 and 5, file kept.
constexpr int flip(int q) { return q % 10 + 10 * (11 - q / 10); }
// `q` given from White's side, as seen by side `s`.
constexpr int relative(Side s, int q) { return s == WHITE ? q : flip(q); }

// Table index of every square for White (the square itself) and for Black (flipped).
constexpr std::array<std::array<std::uint8_t, 99>, 2> make_table_index() {
    std::array<std::array<std::uint8_t, 99>, 2> t{};
    for (int q = 21; q <= 98; ++q) {
        const int f = q % 10, r = q / 10 - 1;
        if (f < 1 || f > 8) continue;
        t[0][q] = static_cast<std::uint8_t>((8 - r) * 8 + f - 1);
        t[1][q] = static_cast<std::uint8_t>((r - 1) * 8 + f - 1);
    }
    return t;
}
constexpr auto table_index = make_table_index();

// Per file 0..9 (0 and 9 always empty): pawns of each colour, and the rearmost rank of the
// colour's pawns seen from its own side (White: lowest, 9 when none; Black: highest, 0).
struct PawnFileInfo {
    int count[2][10];
    int rearmost[2][10];
};

inline int colour_index(Side s) { return s == WHITE ? 0 : 1; }
inline int own_rank(Side s, int q) { return s == WHITE ? rank_of[q] : 9 - rank_of[q]; }

// The terms of one position, with the scratch they read and leave.
struct Terms {
    const Position& pos;
    const std::int8_t* board;
    int endgame;
    std::uint8_t pawn_mask[2];

    Terms(const Position& p, const EvalState& state)
        : pos(p), board(p.board), endgame(state.endgame), pawn_mask{state.pawn_mask[0], state.pawn_mask[1]} {}

    int table_value(const PhaseTables& t, Side s, int q) const { return t[endgame][table_index[colour_index(s)][q]]; }

    // The squares of the pieces of `code`, skipping entries that hold no square.
    template <typename F>
    void for_each_piece(int code, F f) const {
        const std::int8_t* list = pos.cur().piece_lists.sq[code + 6];
        for (int k = 1; k <= list[0]; ++k)
            if (list[k] != 0) f(static_cast<int>(list[k]));
    }

    // ---- pawn structure -------------------------------------------------------------------

    int pawn_terms(Side s, int q, const PawnFileInfo& info) const {
        const int c = colour_index(s), o = 1 - c;
        const int f = file_of[q], r = rank_of[q];
        int t = table_value(pawn_table, s, q);
        const bool pawn_on_left = board[q - 1] == s * PAWN;
        if (pawn_on_left) t += PAWN_BESIDE;
        if (info.count[c][f] >= 2) t += DOUBLED_PAWN;
        if (info.count[c][f - 1] == 0 && info.count[c][f + 1] == 0) {
            t += ISOLATED_PAWN;
        } else {
            const int behind_left = s * (info.rearmost[c][f - 1] - r), behind_right = s * (info.rearmost[c][f + 1] - r);
            if (behind_left > 0 && behind_right > 0) t += BACKWARD_PAWN;
        }
        if (info.count[o][f - 1] == 0 && info.count[o][f] == 0 && info.count[o][f + 1] == 0) {
            t += passed_bonus[own_rank(s, q)];
            if (own_rank(s, q) >= 6 && pawn_on_left) t += PASSED_PAIR_ADVANCED;
        }
        return t;
    }

    int score_pawns() {
        PawnFileInfo info;
        for (int f = 0; f < 10; ++f) {
            info.count[0][f] = info.count[1][f] = 0;
            info.rearmost[0][f] = 9;
            info.rearmost[1][f] = 0;
        }
        pawn_mask[0] = pawn_mask[1] = 0;
        for (Side s : {WHITE, BLACK}) {
            const int c = colour_index(s);
            for_each_piece(s * PAWN, [&](int q) {
                const int f = file_of[q], r = rank_of[q];
                ++info.count[c][f];
                if (s * (info.rearmost[c][f] - r) > 0) info.rearmost[c][f] = r;
                pawn_mask[c] = static_cast<std::uint8_t>(pawn_mask[c] | 1u << (f - 1));
            });
        }
        int score = 0;
        for_each_piece(PAWN, [&](int q) { score += pawn_terms(WHITE, q, info); });
        for_each_piece(-PAWN, [&](int q) { score -= pawn_terms(BLACK, q, info); });
        return score;
    }

    // ---- pieces -----------------------------------------------------------------------------
    // Mobility: the empty squares a piece on q reaches, a slider's along each of its
    // directions up to the first occupied square.
    template <int... Ds>
    int slider_mobility(int q) const {
        const std::uint64_t occupied = pos.cur().occupied;
        return count_squares(slider_attacks<Ds...>(sq64[q], occupied) & ~occupied);
    }

    int knight_mobility(int q) const { return count_squares(knight_mask[sq64[q]] & ~pos.cur().occupied); }

    int side_pieces(Side s) const {
        const int c = colour_index(s);
        const int enemy_king = pos.king_square(-s);
        const bool enemy_king_home = own_rank(s, enemy_king) == 8;
        auto near_enemy_king = [&](int q) { return distance[q * 99 + enemy_king] <= TROPISM_DISTANCE; };
        int t = 0;

        for_each_piece(s * KNIGHT, [&](int q) {
            t += table_value(knight_table, s, q) + 4 * (knight_mobility(q) - 4);
            if (near_enemy_king(q)) t += 20;
        });

        for_each_piece(s * BISHOP, [&](int q) {
            t += table_value(bishop_table, s, q) + 5 * (slider_mobility<0, 1, 2, 3>(q) - 6);
            if (near_enemy_king(q)) t += 20;
            const int enemy_pawn = -s * PAWN;
            if (q == relative(s, A7) && board[relative(s, B6)] == enemy_pawn && board[relative(s, C7)] == enemy_pawn)
                t += TRAPPED_BISHOP;
            if (q == relative(s, H7) && board[relative(s, G6)] == enemy_pawn && board[relative(s, F7)] == enemy_pawn)
                t += TRAPPED_BISHOP;
        });
        if (pos.piece_count(s * BISHOP) == 2) t += BISHOP_PAIR;

        for_each_piece(s * ROOK, [&](int q) {
            t += table_value(rook_table, s, q) + 2 * (slider_mobility<4, 5, 6, 7>(q) - 7);
            if (near_enemy_king(q)) t += 10;
            const unsigned file_bit = 1u << (file_of[q] - 1);
            if ((pawn_mask[c] & file_bit) == 0) t += (pawn_mask[1 - c] & file_bit) ? ROOK_HALF_OPEN_FILE : ROOK_OPEN_FILE;
            if (enemy_king_home && own_rank(s, q) >= 7) t += endgame ? 40 : 20;
        });

        for_each_piece(s * QUEEN, [&](int q) {
            t += table_value(queen_table, s, q) + slider_mobility<0, 1, 2, 3, 4, 5, 6, 7>(q) - 13;
            if (near_enemy_king(q)) t += 40;
            if (enemy_king_home && own_rank(s, q) >= 7) t += endgame ? 20 : 10;
        });
        return t;
    }

    // ---- king ---------------------------------------------------------------------------------
    int side_king(Side s) const {
        const int k = pos.king_square(s);
        int t = table_value(king_table, s, k);
        const int rook = s * ROOK;
        if ((k == relative(s, F1) || k == relative(s, G1)) &&
            (board[relative(s, H1)] == rook || board[relative(s, G1)] == rook))
            t += TRAPPED_ROOK;
        if ((k == relative(s, B1) || k == relative(s, C1)) &&
            (board[relative(s, A1)] == rook || board[relative(s, B1)] == rook))
            t += TRAPPED_ROOK;
        if (!endgame) {
            // The squares in front lie on the board array even for a king on its last rank:
            // they are border squares then, which hold no pawn.
            const int up = 10 * s;
            for (int q = k + up - 1; q <= k + up + 1; ++q) {
                if (board[q] == s * PAWN) t += SHELTER_ONE;
                else if (board[q] == -s * PAWN) t += ENEMY_PAWN_IN_FRONT;
                if (board[q + up] == s * PAWN) t += SHELTER_TWO;
            }
        }
        return t;
    }
};

// Piece and king terms already computed, by position key. They depend on the board alone
// (the side to move only turns the sign of the whole score), so a hit gives exactly what
// computing them again would; the search asks for the same position several times (the
// static evaluation of a node, then the stand-pat of its razoring or quiescence search).
int piece_and_king_terms(const Position& pos, EvalState& state) {
    // The key of the board with White to move, the same for either side to move.
    const HashKey key = pos.key() ^ (pos.side == WHITE ? 0 : side_change_key());
    PieceTermsEntry& e = state.piece_terms[key & (PIECE_TERMS_SLOTS - 1)];
    if (e.key == key && key != 0) return e.terms;
    e.key = key;
    const Terms terms(pos, state);
    e.terms = terms.side_pieces(WHITE) - terms.side_pieces(BLACK) + terms.side_king(WHITE) - terms.side_king(BLACK);
    return e.terms;
}

}  // namespace

void EvalState::clear() { std::memset(static_cast<void*>(piece_terms.get()), 0, PIECE_TERMS_SLOTS * sizeof(PieceTermsEntry)); }

int eval_pawn_structure(const Position& pos, EvalState& state, SearchStats& stats) {
    const HashKey key = pos.cur().pawn_key;
    const PawnCacheEntry slot = pawn_cache_load(key);
    if (slot.key == key && slot.endgame == state.endgame) {
        state.pawn_mask[0] = slot.white_mask;
        state.pawn_mask[1] = slot.black_mask;
        ++stats.phash_hits;
        return slot.score;
    }
    Terms terms(pos, state);
    const int score = terms.score_pawns();
    state.pawn_mask[0] = terms.pawn_mask[0];
    state.pawn_mask[1] = terms.pawn_mask[1];
    if (slot.key == 0) ++stats.phash_full;
    pawn_cache_store(PawnCacheEntry{key, static_cast<std::int16_t>(score), static_cast<std::uint8_t>(state.endgame),
                                    state.pawn_mask[0], state.pawn_mask[1]});
    return score;
}

int eval_pieces(const Position& pos, const EvalState& state) {
    const Terms terms(pos, state);
    return terms.side_pieces(WHITE) - terms.side_pieces(BLACK);
}

int eval_king(const Position& pos, const EvalState& state) {
    const Terms terms(pos, state);
    return terms.side_king(WHITE) - terms.side_king(BLACK);
}

int evaluate_standard(const Position& pos, EvalState& state, SearchStats& stats, int alpha, int beta) {
    const PlyState& st = pos.cur();
    const Side side = pos.side;
    int total = st.mat_white - st.mat_black;
    int score = side == WHITE ? total : -total;
    if (score + LAZY_MARGIN_MATERIAL < alpha || score - LAZY_MARGIN_MATERIAL > beta) return score;

    state.endgame = pos.non_pawn_material() <= ENDGAME_PIECE_MATERIAL ? 1 : 0;
    total += eval_pawn_structure(pos, state, stats);
    score = side == WHITE ? total : -total;
    if (score + LAZY_MARGIN_PAWNS < alpha || score - LAZY_MARGIN_PAWNS > beta) return score;

    total += piece_and_king_terms(pos, state);
    ++stats.eval_count;
    return side == WHITE ? total : -total;
}

}  // namespace varkon
