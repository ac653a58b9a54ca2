#include "egtb/tbboard.h"

#include <array>
#include <bit>

namespace varkon {

namespace {

constexpr int PAWN_T = 1, KNIGHT_T = 2, BISHOP_T = 3, ROOK_T = 4, QUEEN_T = 5, KING_T = 6;

constexpr bool on_board(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }

constexpr std::array<std::uint64_t, 64> step_masks(const int (&df)[8], const int (&dr)[8]) {
    std::array<std::uint64_t, 64> m{};
    for (int s = 0; s < 64; ++s)
        for (int k = 0; k < 8; ++k) {
            const int f = s % 8 + df[k], r = s / 8 + dr[k];
            if (on_board(f, r)) m[s] |= 1ULL << (r * 8 + f);
        }
    return m;
}

constexpr int king_df[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int king_dr[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int knight_df[8] = {1, 2, 2, 1, -1, -2, -2, -1};
constexpr int knight_dr[8] = {2, 1, -1, -2, -2, -1, 1, 2};
constexpr auto king_mask = step_masks(king_df, king_dr);
constexpr auto knight_mask = step_masks(knight_df, knight_dr);

// Squares a pawn of colour c on s attacks.
constexpr std::array<std::array<std::uint64_t, 64>, 2> pawn_attack_masks() {
    std::array<std::array<std::uint64_t, 64>, 2> m{};
    for (int c = 0; c < 2; ++c)
        for (int s = 0; s < 64; ++s) {
            const int r = s / 8 + (c == TB_WHITE ? 1 : -1);
            for (int df : {-1, 1})
                if (on_board(s % 8 + df, r)) m[c][s] |= 1ULL << (r * 8 + s % 8 + df);
        }
    return m;
}
constexpr auto pawn_attacks = pawn_attack_masks();

// For two squares on a common line: the squares strictly between them, and which
// sliders move along that line (bit 0 rook line, bit 1 bishop line).
struct Lines {
    std::array<std::array<std::uint64_t, 64>, 64> between{};
    std::array<std::array<std::uint8_t, 64>, 64> kind{};
};
constexpr Lines make_lines() {
    Lines l{};
    for (int a = 0; a < 64; ++a)
        for (int k = 0; k < 8; ++k) {
            const int df = king_df[k], dr = king_dr[k];
            const std::uint8_t kind = (df == 0 || dr == 0) ? 1 : 2;
            std::uint64_t between = 0;
            for (int f = a % 8 + df, r = a / 8 + dr; on_board(f, r); f += df, r += dr) {
                const int b = r * 8 + f;
                l.between[a][b] = between;
                l.kind[a][b] = kind;
                between |= 1ULL << b;
            }
        }
    return l;
}
constexpr Lines lines = make_lines();

constexpr int slider_kind(int type) { return type == ROOK_T ? 1 : type == BISHOP_T ? 2 : type == QUEEN_T ? 3 : 0; }

// The squares from each square outwards in the eight directions of king_df/king_dr.
struct Rays {
    std::array<std::array<std::uint64_t, 64>, 8> ray{};
};
constexpr Rays make_rays() {
    Rays r{};
    for (int k = 0; k < 8; ++k)
        for (int s = 0; s < 64; ++s)
            for (int f = s % 8 + king_df[k], rk = s / 8 + king_dr[k]; on_board(f, rk); f += king_df[k], rk += king_dr[k])
                r.ray[k][s] |= 1ULL << (rk * 8 + f);
    return r;
}
constexpr Rays rays = make_rays();
// Directions along ranks and files, and along diagonals; the first two of each go
// towards lower squares.
constexpr int rook_dirs[4] = {1, 3, 4, 6}, bishop_dirs[4] = {0, 2, 5, 7};
// The direction (index into king_df/king_dr) of a step (df, dr), at (dr + 1) * 3 + df + 1.
constexpr int direction_of[9] = {0, 1, 2, 3, -1, 4, 5, 6, 7};

inline std::uint64_t ray_targets(const int* dirs, int s, std::uint64_t occ) {
    std::uint64_t t = 0;
    for (int d = 0; d < 4; ++d) {
        std::uint64_t r = rays.ray[dirs[d]][s];
        if (const std::uint64_t block = r & occ) r ^= rays.ray[dirs[d]][d < 2 ? 63 - std::countl_zero(block) : std::countr_zero(block)];
        t |= r;
    }
    return t;
}

std::uint64_t slider_targets(int type, int s, std::uint64_t occ) {
    const int want = slider_kind(type);
    return ((want & 1) ? ray_targets(rook_dirs, s, occ) : 0) | ((want & 2) ? ray_targets(bishop_dirs, s, occ) : 0);
}

std::uint64_t piece_targets(int type, int colour, int s, std::uint64_t occ) {
    switch (type) {
        case KING_T: return king_mask[s];
        case KNIGHT_T: return knight_mask[s];
        case PAWN_T: return pawn_attacks[colour][s];
        default: return slider_targets(type, s, occ);
    }
}

// Slot of the piece of colour c on s, or -1.
int slot_on(const TbBoard& b, int c, int s) {
    for (int i = 0; i < b.set[c].n; ++i)
        if (b.set[c].sq[i] == s) return i;
    return -1;
}

// Whether a piece of `type` and `colour` on `from` attacks `to` with the occupancy occ.
inline bool hits(int type, int colour, int from, int to, std::uint64_t occ) {
    switch (type) {
        case KING_T: return king_mask[from] >> to & 1;
        case KNIGHT_T: return knight_mask[from] >> to & 1;
        case PAWN_T: return pawn_attacks[colour][from] >> to & 1;
        default: return (lines.kind[from][to] & slider_kind(type)) && (lines.between[from][to] & occ) == 0;
    }
}

void remove_slot(TbSet& set, int i) {
    for (int k = i; k + 1 < set.n; ++k) {
        set.type[k] = set.type[k + 1];
        set.sq[k] = set.sq[k + 1];
    }
    --set.n;
}

// Restores signature order (king first, then types from queen down to pawn).
void sort_set(TbSet& set) {
    for (int i = 2; i < set.n; ++i)
        for (int k = i; k > 1 && set.type[k] > set.type[k - 1]; --k) {
            std::swap(set.type[k], set.type[k - 1]);
            std::swap(set.sq[k], set.sq[k - 1]);
        }
}

// Rank a pawn of colour c starts on, and the rank it stands on after its double step.
inline int start_rank(int c) { return c == TB_WHITE ? 1 : 6; }
inline int forward(int c) { return c == TB_WHITE ? 8 : -8; }

// Whether pawn of colour `c` on `s` has a pawn of colour `other` beside it.
bool pawn_beside(const TbBoard& b, int s, int other) {
    const TbSet& set = b.set[other];
    for (int i = 1; i < set.n; ++i)
        if (set.type[i] == PAWN_T && tb_rank(set.sq[i]) == tb_rank(s) &&
            (set.sq[i] == s - 1 || set.sq[i] == s + 1))
            return true;
    return false;
}

}  // namespace

std::uint64_t tb_occupancy(const TbBoard& b) {
    std::uint64_t occ = 0;
    for (const TbSet& set : b.set)
        for (int i = 0; i < set.n; ++i) occ |= 1ULL << set.sq[i];
    return occ;
}

bool tb_attacked(const TbBoard& b, int sq, int by, std::uint64_t occ) {
    const TbSet& set = b.set[by];
    for (int i = 0; i < set.n; ++i) {
        const int p = set.sq[i];
        switch (set.type[i]) {
            case KING_T:
                if (king_mask[p] >> sq & 1) return true;
                break;
            case KNIGHT_T:
                if (knight_mask[p] >> sq & 1) return true;
                break;
            case PAWN_T:
                if (pawn_attacks[by][p] >> sq & 1) return true;
                break;
            default:
                if ((lines.kind[p][sq] & slider_kind(set.type[i])) && (lines.between[p][sq] & occ) == 0) return true;
                break;
        }
    }
    return false;
}

bool tb_in_check(const TbBoard& b, int colour) {
    return tb_attacked(b, b.set[colour].sq[0], 1 - colour, tb_occupancy(b));
}

bool tb_legal(const TbBoard& b) {
    std::uint64_t occ = 0;
    int count = 0;
    for (int c = 0; c < 2; ++c) {
        const TbSet& set = b.set[c];
        if (set.n < 1 || set.n > TB_MAX_SET || set.type[0] != KING_T) return false;
        for (int i = 0; i < set.n; ++i) {
            const int s = set.sq[i], t = set.type[i];
            if (s < 0 || s >= 64 || t < PAWN_T || t > KING_T || (i > 0 && t == KING_T)) return false;
            if (t == PAWN_T && (tb_rank(s) == 0 || tb_rank(s) == 7)) return false;
            occ |= 1ULL << s;
            ++count;
        }
    }
    if (std::popcount(occ) != count) return false;
    if (king_mask[b.set[0].sq[0]] >> b.set[1].sq[0] & 1) return false;
    if (b.stm != TB_WHITE && b.stm != TB_BLACK) return false;
    const int mover = b.stm, other = 1 - mover;
    if (tb_attacked(b, b.set[other].sq[0], mover, occ)) return false;
    if (b.ep == TB_NO_EP) return true;
    // The other side's pawn stepped from `origin` over `ep` to `pawn`.
    const int ep = b.ep;
    if (ep < 0 || ep >= 64 || tb_rank(ep) != (mover == TB_WHITE ? 5 : 2)) return false;
    const int pawn = ep - forward(mover), origin = ep + forward(mover);
    const int slot = slot_on(b, other, pawn);
    if (slot < 0 || b.set[other].type[slot] != PAWN_T) return false;
    if (occ >> ep & 1 || occ >> origin & 1) return false;
    TbBoard before = b;
    before.set[other].sq[slot] = origin;
    before.ep = TB_NO_EP;
    const std::uint64_t occ_before = (occ & ~(1ULL << pawn)) | 1ULL << origin;
    return !tb_attacked(before, b.set[mover].sq[0], other, occ_before);
}

void tb_apply(TbBoard& b, const TbMove& m) {
    const int c = b.stm;
    TbSet& set = b.set[c];
    const int from = set.sq[m.slot];
    set.sq[m.slot] = m.to;
    if (m.captured_slot >= 0) remove_slot(b.set[1 - c], m.captured_slot);
    if (m.promotion != 0) {
        set.type[m.slot] = m.promotion;
        sort_set(set);
    }
    b.ep = m.double_step ? (from + m.to) / 2 : TB_NO_EP;
    b.stm = 1 - c;
}

namespace {

// The legal moves of b, or with `conversions_only` its captures and promotions.
int legal_moves(const TbBoard& b, TbMove* out, bool conversions_only) {
    const int c = b.stm, o = 1 - c;
    const std::uint64_t occ = tb_occupancy(b);
    std::uint64_t own = 0, theirs = 0;
    for (int i = 0; i < b.set[c].n; ++i) own |= 1ULL << b.set[c].sq[i];
    theirs = occ & ~own;
    int n = 0;
    const int king = b.set[c].sq[0];
    const bool in_check = tb_attacked(b, king, o, occ);
    auto add = [&](int slot, int to, int captured, int promotion, int dbl) {
        const TbMove m{static_cast<std::int8_t>(slot), static_cast<std::int8_t>(to), static_cast<std::int8_t>(captured),
                       static_cast<std::int8_t>(promotion), static_cast<std::int8_t>(dbl)};
        // Out of check, a move can only expose the king when the king moves, when the
        // piece leaves a line through the king, or when a pawn is taken en passant.
        if (conversions_only && captured < 0 && promotion == 0) return;
        const int from = b.set[c].sq[slot];
        if (!in_check && slot != 0 && lines.kind[king][from] == 0 && !(captured >= 0 && to == b.ep)) {
            out[n++] = m;
            return;
        }
        TbBoard after = b;
        tb_apply(after, m);
        if (!tb_in_check(after, c)) out[n++] = m;
    };
    const TbSet& set = b.set[c];
    for (int i = 0; i < set.n; ++i) {
        const int s = set.sq[i], t = set.type[i];
        if (t == PAWN_T) {
            const int f = forward(c), last = c == TB_WHITE ? 7 : 0;
            auto pawn_to = [&](int to, int captured) {
                if (tb_rank(to) == last)
                    for (int p = QUEEN_T; p >= KNIGHT_T; --p) add(i, to, captured, p, 0);
                else
                    add(i, to, captured, 0, 0);
            };
            const int one = s + f;
            if (!(occ >> one & 1)) {
                pawn_to(one, -1);
                const int two = one + f;
                if (tb_rank(s) == start_rank(c) && !(occ >> two & 1)) add(i, two, -1, 0, 1);
            }
            for (std::uint64_t t2 = pawn_attacks[c][s] & theirs; t2; t2 &= t2 - 1) {
                const int to = std::countr_zero(t2);
                pawn_to(to, slot_on(b, o, to));
            }
            if (b.ep != TB_NO_EP && (pawn_attacks[c][s] >> b.ep & 1)) {
                const int victim = slot_on(b, o, b.ep - f);
                if (victim >= 0 && b.set[o].type[victim] == PAWN_T) add(i, b.ep, victim, 0, 0);
            }
            continue;
        }
        for (std::uint64_t t2 = piece_targets(t, c, s, occ) & (conversions_only ? theirs : ~own); t2; t2 &= t2 - 1) {
            const int to = std::countr_zero(t2);
            add(i, to, (theirs >> to & 1) ? slot_on(b, o, to) : -1, 0, 0);
        }
    }
    return n;
}

}  // namespace

int tb_moves(const TbBoard& b, TbMove* out) { return legal_moves(b, out, false); }

int tb_unmoves(const TbBoard& b, TbBoard* out, int max) {
    const int mover = 1 - b.stm;  // the side that made the last move
    const std::uint64_t occ = tb_occupancy(b);
    int n = 0;
    auto add = [&](int slot, int from) {
        if (n >= max) return;
        TbBoard& p = out[n];
        p = b;
        p.set[mover].sq[slot] = from;
        p.stm = mover;
        p.ep = TB_NO_EP;
        const std::uint64_t occ_before = (occ & ~(1ULL << b.set[mover].sq[slot])) | 1ULL << from;
        if (!tb_attacked(p, p.set[b.stm].sq[0], mover, occ_before)) ++n;
    };
    const TbSet& set = b.set[mover];
    const int f = forward(mover);
    if (b.ep != TB_NO_EP) {
        const int pawn = b.ep + f, origin = b.ep - f;
        const int slot = slot_on(b, mover, pawn);
        if (slot >= 0 && set.type[slot] == PAWN_T && !(occ >> b.ep & 1) && !(occ >> origin & 1)) add(slot, origin);
        return n;
    }
    for (int i = 0; i < set.n; ++i) {
        const int s = set.sq[i], t = set.type[i];
        if (t == PAWN_T) {
            const int one = s - f;
            if (occ >> one & 1) continue;
            if (tb_rank(one) != 0 && tb_rank(one) != 7) add(i, one);
            const int two = one - f;
            // A double step next to a pawn of the side now to move gives that side an
            // en-passant right: that is another position than `b`.
            if (tb_rank(two) == start_rank(mover) && !(occ >> two & 1) && !pawn_beside(b, s, b.stm)) add(i, two);
            continue;
        }
        const std::uint64_t from = t == KING_T ? king_mask[s] : t == KNIGHT_T ? knight_mask[s] : slider_targets(t, s, occ);
        for (std::uint64_t t2 = from & ~occ; t2; t2 &= t2 - 1) add(i, std::countr_zero(t2));
    }
    return n;
}

int tb_ep_variants(const TbBoard& b, TbBoard* out, int max) {
    const int other = 1 - b.stm;
    const TbSet& set = b.set[other];
    int n = 0;
    for (int i = 1; i < set.n && n < max; ++i) {
        if (set.type[i] != PAWN_T) continue;
        const int s = set.sq[i];
        if (tb_rank(s) != (other == TB_WHITE ? 3 : 4) || !pawn_beside(b, s, b.stm)) continue;
        TbBoard v = b;
        v.ep = s - forward(other);
        if (tb_legal(v)) out[n++] = v;
    }
    return n;
}

bool tb_each_quiet_successor(const TbBoard& b, TbVisitor visit, void* context) {
    const int c = b.stm, o = 1 - c;
    const std::uint64_t occ = tb_occupancy(b);
    const int king = b.set[c].sq[0];
    if (tb_attacked(b, king, o, occ)) {
        // In check: the full generator, which tests every move.
        TbMove moves[TB_MAX_MOVES];
        const int n = tb_moves(b, moves);
        for (int k = 0; k < n; ++k) {
            if (moves[k].captured_slot >= 0 || moves[k].promotion != 0) continue;
            TbBoard a = b;
            tb_apply(a, moves[k]);
            if (!visit(a, context)) return false;
        }
        return true;
    }
    TbBoard a = b;
    a.stm = o;
    a.ep = TB_NO_EP;
    const TbSet& set = b.set[c];
    const int f = forward(c), last = c == TB_WHITE ? 7 : 0;
    for (int i = 1; i < set.n; ++i) {
        const int s = set.sq[i], type = set.type[i];
        // Out of check only a piece on a line through its king can expose it.
        const bool may_pin = lines.kind[king][s] != 0;
        auto go = [&](int to, int ep) {
            a.set[c].sq[i] = to;
            a.ep = ep;
            if (may_pin && tb_attacked(a, king, o, (occ & ~(1ULL << s)) | 1ULL << to)) return true;
            return visit(a, context);
        };
        if (type == PAWN_T) {
            const int one = s + f;
            if (!(occ >> one & 1) && tb_rank(one) != last) {
                if (!go(one, TB_NO_EP)) return false;
                const int two = one + f;
                if (tb_rank(s) == start_rank(c) && !(occ >> two & 1) && !go(two, one)) return false;
            }
        } else {
            for (std::uint64_t t = piece_targets(type, c, s, occ) & ~occ; t; t &= t - 1)
                if (!go(std::countr_zero(t), TB_NO_EP)) return false;
        }
        a.set[c].sq[i] = s;
        a.ep = TB_NO_EP;
    }
    const std::uint64_t without_king = occ & ~(1ULL << king);
    std::uint64_t guarded = 0;
    for (int i = 0; i < b.set[o].n; ++i) guarded |= piece_targets(b.set[o].type[i], o, b.set[o].sq[i], without_king);
    for (std::uint64_t t = king_mask[king] & ~occ & ~guarded; t; t &= t - 1) {
        a.set[c].sq[0] = std::countr_zero(t);
        if (!visit(a, context)) return false;
    }
    return true;
}

bool tb_each_predecessor(const TbBoard& b, TbVisitor visit, void* context) {
    TbBoard before[TB_MAX_MOVES], variants[4];
    const int n = tb_unmoves(b, before, TB_MAX_MOVES);
    for (int k = 0; k < n; ++k) {
        if (!visit(before[k], context)) return false;
        const int m = tb_ep_variants(before[k], variants, 4);
        for (int e = 0; e < m; ++e)
            if (!visit(variants[e], context)) return false;
    }
    return true;
}

int tb_unmove_squares(const TbBoard& b, TbSquares* out) {
    if (b.ep != TB_NO_EP) return 0;
    const int mover = 1 - b.stm;
    const std::uint64_t occ = tb_occupancy(b);
    const TbSet& set = b.set[mover];
    const int f = forward(mover);
    int n = 0;
    for (int i = 0; i < set.n; ++i) {
        const int s = set.sq[i], t = set.type[i];
        std::uint64_t from = 0;
        if (t == PAWN_T) {
            const int one = s - f;
            if (occ >> one & 1) continue;
            if (tb_rank(one) != 0 && tb_rank(one) != 7) from |= 1ULL << one;
            const int two = one - f;
            // A double step next to a pawn of the side now to move gives that side an
            // en-passant right: that is another position than `b`.
            if (tb_rank(two) == start_rank(mover) && !(occ >> two & 1) && !pawn_beside(b, s, b.stm)) from |= 1ULL << two;
        } else {
            from = (t == KING_T ? king_mask[s] : t == KNIGHT_T ? knight_mask[s] : slider_targets(t, s, occ)) & ~occ;
        }
        if (from) out[n++] = TbSquares{i, from};
    }
    return n;
}

std::uint64_t tb_pseudo_quiet_targets(const TbBoard& b, int slot) {
    const int c = b.stm;
    const std::uint64_t occ = tb_occupancy(b);
    const int s = b.set[c].sq[slot], type = b.set[c].type[slot];
    if (type != PAWN_T) return piece_targets(type, c, s, occ) & ~occ;
    const int f = forward(c), one = s + f;
    if ((occ >> one & 1) || tb_rank(one) == (c == TB_WHITE ? 7 : 0)) return 0;
    std::uint64_t to = 1ULL << one;
    if (tb_rank(s) == start_rank(c) && !(occ >> (one + f) & 1)) to |= 1ULL << (one + f);
    return to;
}

bool tb_each_pseudo_conversion(const TbBoard& b, TbVisitor visit, void* context) {
    const int c = b.stm, o = 1 - c;
    const std::uint64_t occ = tb_occupancy(b);
    std::uint64_t theirs = 0;
    for (int i = 1; i < b.set[o].n; ++i) theirs |= 1ULL << b.set[o].sq[i];
    const TbSet& set = b.set[c];
    const int f = forward(c), last = c == TB_WHITE ? 7 : 0;
    // Moves piece i to `to`, taking the piece in `victim` (-1: none) and turning into
    // `promotion` (0: none).
    auto go = [&](int i, int to, int victim, int promotion) {
        TbBoard a = b;
        a.set[c].sq[i] = to;
        if (victim >= 0) remove_slot(a.set[o], victim);
        if (promotion != 0) {
            a.set[c].type[i] = promotion;
            sort_set(a.set[c]);
        }
        a.stm = o;
        a.ep = TB_NO_EP;
        return visit(a, context);
    };
    for (int i = 0; i < set.n; ++i) {
        const int s = set.sq[i], t = set.type[i];
        if (t != PAWN_T) {
            for (int k = 1; k < b.set[o].n; ++k)
                if (hits(t, c, s, b.set[o].sq[k], occ) && !go(i, b.set[o].sq[k], k, 0)) return false;
            continue;
        }
        const int one = s + f;
        const bool promotes = tb_rank(one) == last;
        if (promotes && !(occ >> one & 1))
            for (int p = QUEEN_T; p >= KNIGHT_T; --p)
                if (!go(i, one, -1, p)) return false;
        for (std::uint64_t x = pawn_attacks[c][s] & theirs; x; x &= x - 1) {
            const int to = std::countr_zero(x), victim = slot_on(b, o, to);
            if (!promotes) {
                if (!go(i, to, victim, 0)) return false;
                continue;
            }
            for (int p = QUEEN_T; p >= KNIGHT_T; --p)
                if (!go(i, to, victim, p)) return false;
        }
        if (b.ep != TB_NO_EP && (pawn_attacks[c][s] >> b.ep & 1)) {
            const int victim = slot_on(b, o, b.ep - f);
            if (victim >= 0 && b.set[o].type[victim] == PAWN_T && !go(i, b.ep, victim, 0)) return false;
        }
    }
    return true;
}

bool tb_has_quiet_move(const TbBoard& b) {
    const int c = b.stm, o = 1 - c;
    const std::uint64_t occ = tb_occupancy(b);
    const int king = b.set[c].sq[0];
    // The king first: most positions have a step to a square nothing guards.
    const std::uint64_t without_king = occ & ~(1ULL << king);
    std::uint64_t guarded = 0;
    for (int i = 0; i < b.set[o].n; ++i) guarded |= piece_targets(b.set[o].type[i], o, b.set[o].sq[i], without_king);
    if (king_mask[king] & ~occ & ~guarded) return true;
    const bool in_check = tb_attacked(b, king, o, occ);
    TbBoard a = b;
    for (int i = 1; i < b.set[c].n; ++i) {
        const int s = b.set[c].sq[i];
        std::uint64_t to = tb_pseudo_quiet_targets(b, i);
        if (to == 0) continue;
        // Out of check only a piece on a line through its king can expose it.
        if (!in_check && lines.kind[king][s] == 0) return true;
        for (; to; to &= to - 1) {
            const int sq = std::countr_zero(to);
            a.set[c].sq[i] = sq;
            if (!tb_attacked(a, king, o, (occ & ~(1ULL << s)) | 1ULL << sq)) return true;
        }
        a.set[c].sq[i] = s;
    }
    return false;
}

TbSurvey tb_survey(const TbBoard& b) {
    TbSurvey out{false, false, false};
    std::uint64_t occ = 0;
    for (const TbSet& set : b.set)
        for (int i = 0; i < set.n; ++i) {
            const std::uint64_t bit = 1ULL << set.sq[i];
            if (occ & bit) return out;
            occ |= bit;
        }
    const int c = b.stm, o = 1 - c;
    const TbSet& mine = b.set[c];
    const TbSet& theirs = b.set[o];
    bool legal = true, convert = b.ep != TB_NO_EP;
    for (int i = 0; i < mine.n; ++i) {
        const int type = mine.type[i], s = mine.sq[i];
        legal = legal && !hits(type, c, s, theirs.sq[0], occ);
        convert = convert || (type == PAWN_T && tb_rank(s) == (c == TB_WHITE ? 6 : 1));
        for (int k = 1; k < theirs.n && !convert; ++k) convert = hits(type, c, s, theirs.sq[k], occ);
    }
    out.legal = b.ep != TB_NO_EP ? tb_legal(b) : legal;
    out.in_check = tb_attacked(b, mine.sq[0], o, occ);
    out.may_convert = convert;
    return out;
}

TbRowSurvey tb_row_survey(const TbBoard& b, int colour, int slot) {
    TbRowSurvey out{~0ULL, 0, 0};
    const int c = b.stm, o = 1 - c;
    // The other pieces' squares; where two share one, every square is illegal.
    std::uint64_t occ = 0;
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < b.set[k].n; ++i) {
            if (k == colour && i == slot) continue;
            const std::uint64_t bit = 1ULL << b.set[k].sq[i];
            if (occ & bit) return out;
            occ |= bit;
        }
    // The squares of the varying piece where `from` attacks `to`, `from` and `to` being
    // pieces (colour, slot) with the varying one as either.
    auto where_attacks = [&](int fc, int fi, int tc, int ti) -> std::uint64_t {
        const bool from_x = fc == colour && fi == slot, to_x = tc == colour && ti == slot;
        const int type = b.set[fc].type[fi];
        if (from_x) {
            // The squares from which a piece of its type reaches the target.
            const int t = b.set[tc].sq[ti];
            return type == PAWN_T ? pawn_attacks[1 - fc][t] : piece_targets(type, fc, t, occ);
        }
        const int from = b.set[fc].sq[fi];
        if (to_x) return type == PAWN_T ? pawn_attacks[fc][from] : piece_targets(type, fc, from, occ);
        const int to = b.set[tc].sq[ti];
        if (!hits(type, fc, from, to, occ)) return 0;
        // A slider's attack is blocked by the varying piece standing between.
        return slider_kind(type) ? ~lines.between[from][to] : ~0ULL;
    };
    std::uint64_t bad = 0, check = 0, convert = 0;
    for (int i = 0; i < b.set[c].n; ++i) {
        bad |= where_attacks(c, i, o, 0);
        for (int k = 1; k < b.set[o].n; ++k) convert |= where_attacks(c, i, o, k);
        if (b.set[c].type[i] == PAWN_T) {
            const int last = c == TB_WHITE ? 6 : 1;
            if (c == colour && i == slot) convert |= 0xFFULL << (8 * last);
            else if (tb_rank(b.set[c].sq[i]) == last) convert = ~0ULL;
        }
    }
    for (int i = 0; i < b.set[o].n; ++i) check |= where_attacks(o, i, c, 0);
    out.illegal = bad | occ;
    out.check = check;
    out.convert = convert;
    return out;
}

}  // namespace varkon
