#include "core/genmoves.h"

#include <cstdlib>

#include "core/attacks.h"

namespace varkon {

namespace {

// The state of one generation: the position, where the next move goes and, in check,
// which moves can evade it.
//
// In check, a move of a piece other than the king can only be legal when it captures the
// single checking piece or steps between it and the king. Those squares are marked before
// an in-check generation so that other moves are refused without the full legality test.
struct Generation {
    Position& pos;
    const std::int8_t* board;
    int count;
    bool in_check = false;
    bool double_check = false;
    bool evasion_filter = false;   // a checker was found (the in_check flag agrees with the board)
    int own_king = 0;
    std::uint64_t evasion_mask[2] = {0, 0};   // bit q of the squares 0..127

    Generation(Position& p, int start) : pos(p), board(p.board), count(start) {}

    bool is_evasion_square(int q) const { return (evasion_mask[q >> 6] >> (q & 63)) & 1; }
    void mark(int q) { evasion_mask[q >> 6] |= std::uint64_t{1} << (q & 63); }

    void prepare_evasions() {
        Square checkers[2];
        const int n = find_checkers(pos, pos.side, checkers, 2);
        own_king = pos.king_square(pos.side);
        double_check = n > 1;
        evasion_filter = n > 0;
        if (n != 1) return;
        const int c = checkers[0];
        const int step = step_toward[own_king * 99 + c];
        const int type = std::abs(board[c]);
        if (type == BISHOP || type == ROOK || type == QUEEN)
            for (int q = own_king + step; q != c; q += step) mark(q);
        mark(c);
    }

    // A move that cannot be legal in check, decided without making it: a non-king move that
    // neither captures the checker nor blocks the check (`removed` is the square of a pawn
    // taken en passant).
    bool cannot_evade(int from, int to, int removed) const {
        if (!evasion_filter || from == own_king) return false;
        return double_check || !(is_evasion_square(to) || (removed != 0 && is_evasion_square(removed)));
    }

    [[gnu::always_inline]] void store(int from, int to, int captured, int promotion, int castling, int ep_square) {
        Move& m = pos.move_stack[count++];
        m.piece = board[from];
        m.from = static_cast<std::int8_t>(from);
        m.to = static_cast<std::int8_t>(to);
        m.captured = static_cast<std::int8_t>(captured);
        m.promotion = static_cast<std::int8_t>(promotion);
        m.castling = static_cast<std::int8_t>(castling);
        m.ep_square = static_cast<std::int8_t>(ep_square);
        m.score = 0;
    }

    // Out of line: the in-check test is rare, and keeping it apart lets the common path of
    // every add_ below be inlined into the generator's loops.
    [[gnu::noinline]] bool refused_evasion(int from, int to) {
        return cannot_evade(from, to, 0) || leaves_king_attacked(pos, from, to, 0);
    }

    bool illegal_in_check(int from, int to) { return in_check && refused_evasion(from, to); }

    [[gnu::always_inline]] void add_quiet(int from, int to) {
        if (!illegal_in_check(from, to)) store(from, to, 0, 0, 0, 0);
    }

    [[gnu::always_inline]] void add_capture(int from, int to) {
        const int victim = std::abs(board[to]);
        if (victim == KING || illegal_in_check(from, to)) return;
        store(from, to, victim, 0, 0, 0);
    }

    void add_promotions(int from, int to) {
        const int victim = std::abs(board[to]);
        if (victim == KING || illegal_in_check(from, to)) return;
        for (int t = QUEEN; t >= KNIGHT; --t) store(from, to, victim, t, 0, 0);
    }

    void add_ep(int from, int to, int ep_square) {
        if (in_check && (cannot_evade(from, to, ep_square) || leaves_king_attacked(pos, from, to, ep_square))) return;
        store(from, to, PAWN, 0, 0, ep_square);
    }

    // The king's square and the squares it passes and lands on must not be attacked.
    template <int S>
    bool castle_squares_safe(int type) const {
        const int e = S == WHITE ? 25 : 95;
        const int step = type == 1 ? 1 : -1;
        for (int k = 0; k < 3; ++k) {
            const int q = e + k * step;
            if (S == WHITE ? attacked_by_black(pos, q) : attacked_by_white(pos, q)) return false;
        }
        return true;
    }

    template <int S>
    void castling() {
        const std::uint8_t* castle = pos.cur().castle;
        const int e = S == WHITE ? 25 : 95;
        const int king_side = S == WHITE ? WHITE_KING_SIDE : BLACK_KING_SIDE;
        const int queen_side = S == WHITE ? WHITE_QUEEN_SIDE : BLACK_QUEEN_SIDE;
        const int rook = S * ROOK;
        if (castle[king_side] && board[e + 3] == rook && board[e + 1] == EMPTY && board[e + 2] == EMPTY &&
            castle_squares_safe<S>(1))
            store(e, e + 2, 0, 0, 1, 0);
        if (castle[queen_side] && board[e - 4] == rook && board[e - 1] == EMPTY && board[e - 2] == EMPTY &&
            board[e - 3] == EMPTY && castle_squares_safe<S>(2))
            store(e, e - 2, 0, 0, 2, 0);
    }

    template <int S, bool CAPTURES>
    void pawn(int f) {
        const int up = 10 * S;
        const int last_rank = S == WHITE ? 8 : 1;
        for (int t : {f + up + S, f + up - S}) {  // White: f + 11 then f + 9; Black: f - 11 then f - 9
            const int c = board[t];
            const bool enemy = S == WHITE ? c < 0 : (c > 0 && c != OFF_BOARD);
            if (!enemy) continue;
            if (rank_of[t] != last_rank)
                add_capture(f, t);
            else
                add_promotions(f, t);
        }
        if (CAPTURES) return;
        const int t = f + up;
        if (board[t] != EMPTY) return;
        if (rank_of[t] != last_rank) {
            add_quiet(f, t);
            if (rank_of[f] == (S == WHITE ? 2 : 7) && board[t + up] == EMPTY) add_quiet(f, t + up);
        } else {
            add_promotions(f, t);
        }
    }

    template <int S, bool CAPTURES>
    void steps(int f, const std::int8_t* targets) {
        for (int k = 1; k <= targets[0]; ++k) {
            const int t = targets[k];
            const int c = board[t];
            if (c == EMPTY) {
                if (!CAPTURES) add_quiet(f, t);
            } else if (c * S < 0) {
                add_capture(f, t);
            }
        }
    }

    // The capture of a slider on f (index i of 0..63) in direction D: the first piece on
    // the ray, when it is an enemy.
    template <int S, int D>
    void ray_capture(int f, int i, std::uint64_t occupied) {
        const std::uint64_t blockers = occupied & ray_mask[i][D];
        if (blockers == 0) return;
        const int t = sq120[first_on_ray<D>(blockers)];
        if (board[t] * S < 0) add_capture(f, t);
    }

    // The captures of a slider on f, direction by direction in the order given.
    template <int S, int... Ds>
    void slider_captures(int f) {
        const int i = sq64[f];
        const std::uint64_t occupied = pos.cur().occupied;
        (ray_capture<S, Ds>(f, i, occupied), ...);
    }

    // Walks each direction first_dir..last_dir of king_dirs from f up to the first piece or
    // the border (the border squares, never empty, end every walk).
    template <int S, bool CAPTURES>
    void slider(int f, int first_dir, int last_dir) {
        if constexpr (CAPTURES) {
            if (first_dir == 0 && last_dir == 3) return slider_captures<S, 0, 1, 2, 3>(f);
            if (first_dir == 4) return slider_captures<S, 4, 5, 6, 7>(f);
            return slider_captures<S, 0, 1, 2, 3, 4, 5, 6, 7>(f);
        }
        for (int d = first_dir; d <= last_dir; ++d) {
            const int step = king_dirs[d];
            int t = f + step;
            for (; board[t] == EMPTY; t += step)
                if (!CAPTURES) add_quiet(f, t);
            const int c = board[t];
            if (c * S < 0 && c != OFF_BOARD) add_capture(f, t);
        }
    }

    template <int S, bool CAPTURES>
    void all() {
        const PlyState& st = pos.cur();
        in_check = st.in_check != 0;
        if (in_check) prepare_evasions();
        const PieceList& pl = st.piece_lists;

        const std::int8_t* list = pl.sq[6 + S * PAWN];
        for (int k = 1; k <= list[0]; ++k) pawn<S, CAPTURES>(list[k]);
        list = pl.sq[6 + S * KNIGHT];
        for (int k = 1; k <= list[0]; ++k) steps<S, CAPTURES>(list[k], &knight_moves[list[k] * 9]);
        list = pl.sq[6 + S * BISHOP];
        for (int k = 1; k <= list[0]; ++k) slider<S, CAPTURES>(list[k], 0, 3);
        list = pl.sq[6 + S * ROOK];
        for (int k = 1; k <= list[0]; ++k) slider<S, CAPTURES>(list[k], 4, 7);
        list = pl.sq[6 + S * QUEEN];
        for (int k = 1; k <= list[0]; ++k) slider<S, CAPTURES>(list[k], 0, 7);
        list = pl.sq[6 + S * KING];
        for (int k = 1; k <= list[0]; ++k) {
            steps<S, CAPTURES>(list[k], &king_moves[list[k] * 9]);
            if (!CAPTURES && list[k] == (S == WHITE ? 25 : 95)) castling<S>();
        }
        if (const int e = st.ep; e != 0) {
            const int behind = e - 10 * S;  // the pawn that has just double-stepped
            for (int from : {behind - 1, behind + 1})
                if (board[from] == S * PAWN) add_ep(from, e, behind);
        }
        pos.move_count = count;
        pos.ply_state[pos.ply + 1].move_start = count;
    }
};

template <bool CAPTURES>
void generate(Position& pos) {
    Generation g(pos, pos.cur().move_start);
    if (pos.side == WHITE)
        g.all<WHITE, CAPTURES>();
    else
        g.all<BLACK, CAPTURES>();
}

}  // namespace

void generate_moves(Position& pos) { generate<false>(pos); }

void generate_captures(Position& pos) { generate<true>(pos); }

}  // namespace varkon
