#include "search/search.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/attacks.h"
#include "core/clock.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "egtb/probe_egtb.h"
#include "eval/eval.h"
#include "search/hash.h"
#include "search/sort_moves.h"

namespace varkon {

Move pv_table[MAX_PLY][MAX_PLY];
int pv_length[MAX_PLY];
int seldepth = 0;

namespace {

// Depths in half-ply units.
constexpr int EGTB_MIN_DEPTH = 16;
constexpr int RAZOR_DEPTH = 8;
constexpr int NULL_REDUCTION = 8;
constexpr int NULL_VERIFY_DEPTH = 12;
constexpr int NULL_VERIFY_REDUCTION = 10;
constexpr int IID_DEPTH = 10;
constexpr int IID_REDUCTION = 4;
constexpr int PRUNE_DEPTH = 14;
constexpr int LMR_DEPTH = 6;
constexpr int LMR_MOVES = 4;
constexpr int LMR_MOVES_PV = 12;
constexpr int DELTA_MARGIN = 50;
constexpr int futility_margin[8] = {200, 210, 220, 230, 240, 250, 260, 270};
constexpr int static_margin[14] = {80, 100, 120, 140, 160, 180, 200, 220, 240, 260, 280, 300, 320, 340};

// The poll: nodes counted since the last look, how many between two looks, the deadline
// and whether the search has been stopped.
struct PollState {
    int counter = 0;
    int interval = 500;
    std::uint32_t clock_start = 0;
    std::int32_t deadline_cs = 1;   // allowed time since clock_start
    bool stopped = false;
};
PollState poll_state;

}  // namespace

void reset_search_state() {
    std::memset(pv_table, 0, sizeof pv_table);
    std::memset(pv_length, 0, sizeof pv_length);
    seldepth = 0;
    poll_state = PollState{};
}

void count_poll_node() { ++poll_state.counter; }

bool search_stopped() { return poll_state.stopped; }

bool poll() {
    PollState& p = poll_state;
    if (++p.counter <= p.interval) return p.stopped;
    p.counter = 0;
    if (p.stopped) return true;
    if (poll_input != nullptr) {
        switch (poll_input()) {
            case PollAction::stop:
                p.stopped = true;
                limits.wait_for_stop = false;  // the awaited "stop" has come
                return true;
            case PollAction::ponderhit: pondering = 0; break;
            case PollAction::none: break;
        }
    }
    if (limits.max_nodes != 0 && stats.nodes >= limits.max_nodes) {
        p.stopped = true;
        return true;
    }
    const bool limited = limits.movetime >= 0 || limits.clock;
    if (limited && !pondering && root_best.from != 0 && root_best.to != 0 &&
        static_cast<std::int32_t>(now_cs() - p.clock_start) >= p.deadline_cs) {
        p.stopped = true;
        return true;
    }
    return false;
}

int tablebase_score() {
    if (!egtb_ready() || ply_state[ply].pieces + ply_state[ply].pawns > egtb_pieces) return -1;
    ++stats.egtb_probes;
    const int v = egtb_probe();
    if (v != -1) ++stats.egtb_hits;
    return v;
}

bool root_move_searched(int i, int& v, int legal, int alpha0, int beta, int& alpha, int& best) {
    Move& moved = move_stack[i];
    if (legal == 1 && v <= alpha0) {
        root_score = alpha0;
        root_best = moved;
        return true;
    }
    moved.score = v >= beta ? beta : v > alpha ? v : alpha0;
    if (v <= best) return false;
    best = v;
    if (v <= alpha) return false;
    root_score = v;
    root_best = moved;
    update_pv(i);
    alpha = v;
    if (v < beta) return false;
    ++stats.beta_cutoffs;
    root_score = v = beta;
    return true;
}

bool is_draw() {
    const PlyState& s = ply_state[ply];
    const int rule50 = fifty[game_ply];
    if (rule50 >= 100) return true;
    if (s.pawns == 0 && s.mat_value <= piece_value[KNIGHT]) return true;
    if (game_ply > 2) {
        const HashKey key = hash_history[game_ply];
        const int stop = game_ply - rule50;
        for (int g = game_ply - 2; g >= stop && g >= 1; g -= 2)
            if (hash_history[g] == key) return true;
    }
    return false;
}

void start_poll_clock(std::uint32_t start, std::int32_t time_alloc, int interval) {
    poll_state.clock_start = start;
    poll_state.deadline_cs = time_alloc;
    poll_state.interval = interval;
    poll_state.counter = 0;
    poll_state.stopped = false;
}

void extend_deadline(std::int32_t time_alloc) { poll_state.deadline_cs = time_alloc; }

std::int32_t clock_cap(std::uint32_t left) {
    const std::int64_t reserve = std::max<std::int64_t>(left / 10, std::min<std::int64_t>(left / 2, 30));
    return static_cast<std::int32_t>(std::max<std::int64_t>(1, std::int64_t{left} - reserve));
}

namespace {

// Whether the move just made can have put the opponent's king in check: the moved (or
// promoted) piece reaches the king's square, or a line through the king opens where a
// piece left (the mover's square, a pawn taken en passant), or the castling rook moved.
bool may_give_check(const Move& m) {
    const int row = king_square(side) * 99;
    if (bishop_reach[row + m.from] || rook_reach[row + m.from] || m.castling != 0) return true;
    if (m.ep_square != 0 && (bishop_reach[row + m.ep_square] || rook_reach[row + m.ep_square])) return true;
    switch (std::abs(board[m.to])) {
        case PAWN: return king_reach[row + m.to] != 0;
        case KNIGHT: return knight_reach[row + m.to] != 0;
        case BISHOP: return bishop_reach[row + m.to] != 0;
        case ROOK: return rook_reach[row + m.to] != 0;
        case QUEEN: return bishop_reach[row + m.to] || rook_reach[row + m.to];
        default: return false;
    }
}

}  // namespace

bool surely_legal_and_quiet(const Move& m) {
    const int own = king_square(side) * 99, enemy = king_square(-side) * 99;
    const int type = std::abs(m.piece);
    if (type == KING || bishop_reach[own + m.from] || rook_reach[own + m.from]) return false;
    if (bishop_reach[enemy + m.from] || rook_reach[enemy + m.from]) return false;
    switch (type) {
        case PAWN: return king_reach[enemy + m.to] == 0;
        case KNIGHT: return knight_reach[enemy + m.to] == 0;
        case BISHOP: return bishop_reach[enemy + m.to] == 0;
        case ROOK: return rook_reach[enemy + m.to] == 0;
        default: return bishop_reach[enemy + m.to] == 0 && rook_reach[enemy + m.to] == 0;
    }
}

void put_root_best_first(int score) {
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start; ++i)
        if (same_move(move_stack[i], root_best)) {
            move_stack[i].score = score;
            return;
        }
}

bool make_legal_move(int i) {
    // In check the generator stored only legal moves. Otherwise a move can only expose the
    // mover's king when the king itself moves, when a pawn taken en passant leaves the
    // rank, or when the piece leaves a line through the king.
    const Move& m = move_stack[i];
    const int king = king_square(side);
    const bool test = ply_state[ply].in_check == 0 &&
                      (m.piece == KING || m.piece == -KING || m.ep_square != 0 ||
                       bishop_reach[king * 99 + m.from] || rook_reach[king * 99 + m.from]);
    make_move(i);
    hash_prefetch(hash_history[game_ply]);
    if (test && king_in_check(-side)) {
        unmake_move(i);
        return false;
    }
    VARKON_ASSERT(!king_in_check(-side));
    VARKON_ASSERT(may_give_check(m) || !king_in_check(side));
    ply_state[ply].in_check = may_give_check(m) && king_in_check(side);
    return true;
}

void update_pv(int i) {
    const int p = ply;
    Move* row = pv_table[p];
    Move* next = pv_table[p + 1];
    for (int c = p + 1; c < pv_length[p + 1]; ++c) {
        row[c] = next[c];
        next[c].from = 0;
    }
    row[p] = move_stack[i];
    pv_length[p] = pv_length[p + 1] > p + 1 ? pv_length[p + 1] : p + 1;
}

int quiesce(int alpha, int beta, bool pv) {
    count_poll_node();
    ++stats.nodes;
    ++stats.qsearch_count;
    if (ply > PLY_LIMIT) return beta;
    const int entry_alpha = alpha;
    const bool in_check = ply_state[ply].in_check != 0;
    const int qdepth = in_check ? 1 : 0;
    const HashKey key = hash_history[game_ply];
    const int h = hash_probe(key, alpha, beta, qdepth, pv);
    if (h != NO_HASH_SCORE) {
        ++stats.hash_hits;
        return h;
    }
    int best, base = 0;
    if (in_check) {
        best = -INFINITE_SCORE;
        generate_moves();
    } else {
        const int stand = evaluate(alpha, beta);
        best = stand;
        if (stand >= beta) return stand;
        if (pv && stand > alpha) alpha = stand;
        generate_captures();
        base = stand + DELTA_MARGIN;
    }
    score_captures();
    int legal = 0;
    for (int i = ply_state[ply].move_start; i < ply_state[ply + 1].move_start; ++i) {
        select_best(i);
        const Move& m = move_stack[i];
        const bool delta_prunable = !pv && !in_check && m.promotion == 0 && m.ep_square == 0 &&
                                    base + piece_value[m.captured] < alpha;
        // A capture that is surely legal and gives no check is pruned without being made.
        if (delta_prunable && surely_legal_and_quiet(m)) {
#if defined(VARKON_CHECKS)
            make_move(i);
            VARKON_ASSERT(!king_in_check(-side) && !king_in_check(side));
            unmake_move(i);
#endif
            ++legal;
            continue;
        }
        if (!make_legal_move(i)) continue;
        ++legal;
        const bool gives_check = ply_state[ply].in_check != 0;
        if (delta_prunable && !gives_check) {
            unmake_move(i);
            continue;
        }
        const int v = -quiesce(-beta, -alpha, pv);
        unmake_move(i);
        if (v > best) {
            best = v;
            if (v > alpha) {
                alpha = v;
                if (v >= beta) {
                    ++stats.beta_cutoffs;
                    ++stats.qsearch_cutoffs;
                    return v;
                }
            }
        }
    }
    if (in_check && legal == 0) best = ply - MATE_VALUE;
    hash_store(key, best, 0, 0, entry_alpha, beta, qdepth);
    return best;
}

int search(int alpha, int beta, int depth, bool null_ok, bool pv) {
    // The node's line starts empty whatever way it returns, so that the parent never
    // copies a line left from an earlier node at this ply.
    pv_length[ply] = ply;
    if (depth < 2) return quiesce(alpha, beta, pv);
    if (ply >= PLY_LIMIT) return 0;
    ++stats.nodes;
    int best = -INFINITE_SCORE, eval = -INFINITE_SCORE;
    bool mate_threat = false;
    const int entry_alpha = alpha;
    if (ply > seldepth) seldepth = ply;
    if (poll()) return SEARCH_ABORTED;
    if (is_draw()) return 0;

    const HashKey key = hash_history[game_ply];
    const int h = hash_probe(key, alpha, beta, depth, pv);
    if (h != NO_HASH_SCORE) {
        ++stats.hash_hits;
        return h;
    }
    if (depth > EGTB_MIN_DEPTH)
        if (const int v = tablebase_score(); v != -1) return v;

    const bool in_check = ply_state[ply].in_check != 0;
    if (pv) {
        if (depth >= IID_DEPTH && (hash_move[ply].from == 0 || hash_move[ply].to == 0)) {
            const int r = search(alpha, beta, depth - IID_REDUCTION, true, true);
            if (r == SEARCH_ABORTED) return SEARCH_ABORTED;
            hash_move[ply].from = pv_table[ply][ply].from;
            hash_move[ply].to = pv_table[ply][ply].to;
            ++stats.inter_iterativ_deep;
        }
    } else if (!in_check && beta < MATE_BOUND) {
        eval = evaluate(-INFINITE_SCORE, INFINITE_SCORE);
        if (depth < RAZOR_DEPTH && eval + futility_margin[depth] < beta &&
            (hash_move[ply].from == 0 || hash_move[ply].to == 0)) {
            const int m = beta - futility_margin[depth];
            const int v = quiesce(m - 1, m, false);
            if (v < beta) return v;
        }
        if (null_ok) {
            if (depth < RAZOR_DEPTH) {
                const int v = eval - static_margin[depth];
                if (v >= beta) return v;
            }
            if (depth > 2 && eval >= beta) {
                make_null_move();
                int v = -search(-beta - 1, -beta, depth - NULL_REDUCTION, false, false);
                unmake_null_move();
                if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
                if (v >= beta) {
                    if (v > MATE_BOUND) v = beta;
                    if (depth < NULL_VERIFY_DEPTH) return v;
                    const int w = search(alpha, beta, depth - NULL_VERIFY_REDUCTION, false, false);
                    if (w == SEARCH_ABORTED) return SEARCH_ABORTED;
                    if (w >= beta) {
                        ++stats.nullmove_hits;
                        return v;
                    }
                }
                if (v < -MATE_BOUND) mate_threat = true;
            }
        }
    }

    generate_moves();
    const int first = ply_state[ply].move_start;
    int node_extension = 0;
    if (in_check && ply_state[ply + 1].move_start - first == 1) {
        node_extension = 1;
        ++stats.one_reply_ext;
    }
    if (mate_threat) {
        ++node_extension;
        ++stats.mate_threat_ext;
    }
    int best_index = 0, legal = 0;
    pick_stage[ply] = 1;
    const bool may_prune = !pv && !in_check && node_extension == 0;
    const HashMove node_hash_move = hash_move[ply];
    for (int i = first; i < ply_state[ply + 1].move_start; ++i) {
        pick_move(i);
        // A quiet move that is surely legal and surely gives no check is pruned, or not,
        // exactly as it would be after making it; deciding first saves making it.
        if (may_prune) {
            const Move& m = move_stack[i];
            if (is_quiet(m) && m.from != node_hash_move.from && m.to != node_hash_move.to && !reaches_seventh(m) &&
                surely_legal_and_quiet(m)) {
#if defined(VARKON_CHECKS)
                make_move(i);
                VARKON_ASSERT(!king_in_check(-side) && !king_in_check(side));
                unmake_move(i);
#endif
                const int reduced = depth - 4 > 0 ? depth - 4 : 0;
                if (depth < 16 && best > -MATE_BOUND && legal + 1 > 4 * depth) {
                    ++legal;
                    continue;
                }
                if (reduced < PRUNE_DEPTH && eval + static_margin[reduced] < beta) {
                    ++legal;
                    if (eval + static_margin[reduced] > best) best = eval + static_margin[reduced];
                    continue;
                }
            }
        }
        if (!make_legal_move(i)) continue;
        ++legal;
        const bool gives_check = ply_state[ply].in_check != 0;
        const Move& m = move_stack[i];
        int ext = node_extension;
        if (gives_check) {
            ext += 2;
            ++stats.check_ext;
        }
        if (reaches_seventh(m)) {
            ext += 1;
            ++stats.pawn_promotion_ext;
        }
        if (ply > 80) {
            ext = 0;
        } else if (ext > 2) {
            ext = 2;
            ++stats.extended_count;
        }
        const int newdepth = depth - 2 + ext;
        const int reduced = newdepth - 2 > 0 ? newdepth - 2 : 0;
        int v;
        if (pv && legal == 1) {
            v = -search(-beta, -alpha, newdepth, true, true);
        } else {
            const HashMove hm = hash_move[ply - 1];
            const bool prunable = !pv && !in_check && !gives_check && ext == 0 && is_quiet(m) &&
                                  m.from != hm.from && m.to != hm.to;
            if (prunable) {
                if (depth < 16 && best > -MATE_BOUND && legal > 4 * depth) {
                    unmake_move(i);
                    continue;
                }
                if (reduced < PRUNE_DEPTH) {
                    const int f = eval + static_margin[reduced];
                    if (f < beta) {
                        if (f > best) best = f;
                        unmake_move(i);
                        continue;
                    }
                }
            }
            const HashMove* k = killers[ply - 1];
            bool searched = false;
            v = 0;
            if (depth >= LMR_DEPTH && legal >= (pv ? LMR_MOVES_PV : LMR_MOVES) && !gives_check && ext == 0 &&
                is_quiet(m) && m.from != k[0].from && m.to != k[0].to && m.from != k[1].from && m.to != k[1].to) {
                v = -search(-alpha - 1, -alpha, reduced, true, false);
                searched = v <= alpha;
            }
            if (!searched && v != -SEARCH_ABORTED) {
                v = -search(-alpha - 1, -alpha, newdepth, true, false);
                if (pv && v > alpha && v < beta && v != -SEARCH_ABORTED)
                    v = -search(-beta, -alpha, newdepth, true, true);
            }
        }
        unmake_move(i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (v > best) {
            best = v;
            if (v > alpha) {
                alpha = v;
                update_pv(i);
                best_index = i;
                if (v >= beta) {
                    ++stats.beta_cutoffs;
                    store_killer(i);
                    break;
                }
            }
        }
    }
    if (legal == 0) best = in_check ? ply - MATE_VALUE : 0;
    if (best_index != 0 && best >= beta) credit_history(best_index, depth);
    if (best < entry_alpha) best_index = 0;
    const int from = best_index ? move_stack[best_index].from : 0;
    const int to = best_index ? move_stack[best_index].to : 0;
    hash_store(key, best, from, to, entry_alpha, beta, depth);
    return best;
}


int playable_pv_length(void (*visit)(HashKey key, const Move& m)) {
    int index[MAX_PLY];
    int n = 0;
    for (; n < pv_length[0] && n < MAX_PLY - 2; ++n) {
        const Move& m = pv_table[0][n];
        int first, last;
        if (n == 0) {
            first = ply_state[0].move_start;
            last = ply_state[1].move_start;
        } else {
            ply_state[ply].in_check = king_in_check(side);
            generate_moves();
            first = ply_state[ply].move_start;
            last = ply_state[ply + 1].move_start;
        }
        int found = 0;
        for (int i = first; i < last && found == 0; ++i)
            if (same_move(move_stack[i], m)) found = i;
        if (found == 0) break;
        make_move(found);
        if (king_in_check(-side)) {
            unmake_move(found);
            break;
        }
        if (visit != nullptr) visit(hash_history[game_ply - 1], move_stack[found]);
        index[n] = found;
    }
    for (int k = n - 1; k >= 0; --k) unmake_move(index[k]);
    return n;
}

// ---- varkon's root search, time rule and policy ------------------------------------------

// The root of one iteration, searched to 2 units per ply. The root's line stays that of
// the last move that raised alpha, across iterations, until a move of this one raises it:
// a fail-low line and an early stop still show it.
int search_root(int iteration_plies, int alpha0, int beta) {
    const int depth = 2 * iteration_plies;
    ++stats.nodes;
    int alpha = alpha0, best = -INFINITE_SCORE, legal = 0;
    const int first = ply_state[0].move_start, end = ply_state[1].move_start;
    put_root_best_first(2000000);
    for (int i = first; i < end; ++i) {
        select_best(i);
        if (!make_legal_move(i)) continue;
        ++legal;
        const Move& m = move_stack[i];
        search_output().current_move(m, legal, iteration_plies, think_elapsed_cs());
        const bool gives_check = ply_state[1].in_check != 0;
        int ext = 0;
        if (gives_check) {
            ext = 2;
            ++stats.check_ext;
        }
        const int newdepth = depth - 2 + ext;
        int v;
        if (legal == 1) {
            v = -search(-beta, -alpha, newdepth, true, true);
        } else {
            bool done = false;
            v = 0;
            if (depth >= 6 && legal >= 12 && !gives_check && is_quiet(m)) {
                v = -search(-alpha - 1, -alpha, std::max(newdepth - 2, 0), true, false);
                done = v <= alpha;
            }
            if (!done) {
                v = -search(-alpha - 1, -alpha, newdepth, true, false);
                if (v > alpha && v != -SEARCH_ABORTED) v = -search(-beta, -alpha, newdepth, true, true);
            }
        }
        unmake_move(i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (root_move_searched(i, v, legal, alpha0, beta, alpha, best)) return v;
    }
    if (legal > 0) return root_score;
    root_score = ply_state[0].in_check ? -MATE_VALUE : 0;
    return root_score;
}

void prepare_varkon_search() { clear_ordering_tables(); }

namespace {

int hash_size_in_use() { return hash_mb; }

}  // namespace

TimeBudget allocate_time() {
    const std::uint32_t left = time_left == 0 ? 1 : time_left;
    std::int64_t alloc;
    if (increment != 0)
        alloc = left / 30 + increment / 2;
    else if (moves_left == 0)
        alloc = left / 45;
    else if (moves_left == 1)
        alloc = left / 2;
    else
        alloc = left / (moves_left + 1);
    const std::int32_t cap = clock_cap(left);
    if (alloc > cap) alloc = cap;
    if (limits.movetime >= 0) alloc = limits.movetime;
    const auto time_alloc = static_cast<std::int32_t>(alloc < 1 ? 1 : alloc);
    stats.time_limit = static_cast<std::uint64_t>(time_alloc);
    const int interval = (left >= 30000 && !pondering && limits.max_nodes == 0) ? 10000 : 500;
    start_poll_clock(think_start_cs(), time_alloc, interval);
    return TimeBudget{time_alloc, cap};
}

namespace {

const SearchPolicy varkon_policy = {
    {hash_allocate, hash_free_tables, hash_clear, hash_clear_all, hash_size_in_use},
    prepare_varkon_search,
    score_moves,
    allocate_time,
    search_root,
    nullptr,
    nullptr,
    60,
};

}  // namespace

const SearchPolicy& varkon_search_policy() { return varkon_policy; }

}  // namespace varkon
