#include "search/search.h"

#include <algorithm>
#include <cstdlib>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "eval/eval.h"
#include "eval/pawn_cache.h"
#include "search/hash.h"
#include "search/search_tools.h"
#include "search/sort_moves.h"
#include "search/time_control.h"

namespace varkon {

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

}  // namespace

int quiesce(SearchWorker& w, int alpha, int beta, bool pv) {
    Position& pos = w.pos;
    count_poll_node(w);
    ++w.stats.nodes;
    ++w.stats.qsearch_count;
    if (pos.ply > PLY_LIMIT) return beta;
    const int entry_alpha = alpha;
    const bool in_check = pos.cur().in_check != 0;
    const int qdepth = in_check ? 1 : 0;
    const HashKey key = pos.key();
    const int h = hash_probe(key, alpha, beta, qdepth, pv, w.frames[pos.ply].hash_move);
    if (h != NO_HASH_SCORE) {
        ++w.stats.hash_hits;
        return h;
    }
    int best, base = 0;
    if (in_check) {
        best = -INFINITE_SCORE;
        generate_moves(pos);
    } else {
        const int stand = evaluate_standard(pos, w.eval, w.stats, alpha, beta);
        best = stand;
        if (stand >= beta) return stand;
        if (pv && stand > alpha) alpha = stand;
        generate_captures(pos);
        base = stand + DELTA_MARGIN;
    }
    score_captures(pos);
    int legal = 0;
    for (int i = pos.cur().move_start; i < pos.ply_state[pos.ply + 1].move_start; ++i) {
        select_best(pos, i);
        const Move& m = pos.move_stack[i];
        const bool delta_prunable = !pv && !in_check && m.promotion == 0 && m.ep_square == 0 &&
                                    base + piece_value[m.captured] < alpha;
        // A capture that is surely legal and gives no check is pruned without being made.
        if (delta_prunable && surely_legal_and_quiet(pos, m)) {
#if defined(VARKON_CHECKS)
            make_move(pos, i);
            VARKON_ASSERT(!king_in_check(pos, -pos.side) && !king_in_check(pos, pos.side));
            unmake_move(pos, i);
#endif
            ++legal;
            continue;
        }
        if (!make_legal_move(w, i)) continue;
        ++legal;
        const bool gives_check = pos.cur().in_check != 0;
        if (delta_prunable && !gives_check) {
            unmake_move(pos, i);
            continue;
        }
        const int v = -quiesce(w, -beta, -alpha, pv);
        unmake_move(pos, i);
        if (v > best) {
            best = v;
            if (v > alpha) {
                alpha = v;
                if (v >= beta) {
                    ++w.stats.beta_cutoffs;
                    ++w.stats.qsearch_cutoffs;
                    return v;
                }
            }
        }
    }
    if (in_check && legal == 0) best = pos.ply - MATE_VALUE;
    hash_store(key, best, 0, 0, entry_alpha, beta, qdepth, pos.game_ply, w.stats);
    return best;
}

int search(SearchWorker& w, int alpha, int beta, int depth, bool null_ok, bool pv) {
    Position& pos = w.pos;
    // The node's line starts empty whatever way it returns, so that the parent never
    // copies a line left from an earlier node at this ply.
    w.pv_length[pos.ply] = pos.ply;
    if (depth < 2) return quiesce(w, alpha, beta, pv);
    if (pos.ply >= PLY_LIMIT) return 0;
    ++w.stats.nodes;
    int best = -INFINITE_SCORE, eval = -INFINITE_SCORE;
    bool mate_threat = false;
    const int entry_alpha = alpha;
    if (pos.ply > w.seldepth) w.seldepth = pos.ply;
    if (poll(w)) return SEARCH_ABORTED;
    if (is_draw(pos)) return 0;

    const HashKey key = pos.key();
    const int h = hash_probe(key, alpha, beta, depth, pv, w.frames[pos.ply].hash_move);
    if (h != NO_HASH_SCORE) {
        ++w.stats.hash_hits;
        return h;
    }
    if (const int v = tablebase_score(w, depth / 2, depth > EGTB_MIN_DEPTH); v != NO_TB_SCORE) return v;

    const bool in_check = pos.cur().in_check != 0;
    if (pv) {
        if (depth >= IID_DEPTH && (w.frames[pos.ply].hash_move.from == 0 || w.frames[pos.ply].hash_move.to == 0)) {
            const int r = search(w, alpha, beta, depth - IID_REDUCTION, true, true);
            if (r == SEARCH_ABORTED) return SEARCH_ABORTED;
            w.frames[pos.ply].hash_move.from = w.pv_table[pos.ply][pos.ply].from;
            w.frames[pos.ply].hash_move.to = w.pv_table[pos.ply][pos.ply].to;
            ++w.stats.iid_searches;
        }
    } else if (!in_check && beta < MATE_BOUND) {
        eval = evaluate_standard(pos, w.eval, w.stats, -INFINITE_SCORE, INFINITE_SCORE);
        if (depth < RAZOR_DEPTH && eval + futility_margin[depth] < beta &&
            (w.frames[pos.ply].hash_move.from == 0 || w.frames[pos.ply].hash_move.to == 0)) {
            const int m = beta - futility_margin[depth];
            const int v = quiesce(w, m - 1, m, false);
            if (v < beta) return v;
        }
        if (null_ok) {
            if (depth < RAZOR_DEPTH) {
                const int v = eval - static_margin[depth];
                if (v >= beta) return v;
            }
            if (depth > 2 && eval >= beta) {
                make_null_move(pos);
                int v = -search(w, -beta - 1, -beta, depth - NULL_REDUCTION, false, false);
                unmake_null_move(pos);
                if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
                if (v >= beta) {
                    if (v > MATE_BOUND) v = beta;
                    if (depth < NULL_VERIFY_DEPTH) return v;
                    const int verified = search(w, alpha, beta, depth - NULL_VERIFY_REDUCTION, false, false);
                    if (verified == SEARCH_ABORTED) return SEARCH_ABORTED;
                    if (verified >= beta) {
                        ++w.stats.nullmove_hits;
                        return v;
                    }
                }
                if (v < -MATE_BOUND) mate_threat = true;
            }
        }
    }

    generate_moves(pos);
    const int first = pos.cur().move_start;
    int node_extension = 0;
    if (in_check && pos.ply_state[pos.ply + 1].move_start - first == 1) {
        node_extension = 1;
        ++w.stats.one_reply_ext;
    }
    if (mate_threat) {
        ++node_extension;
        ++w.stats.mate_threat_ext;
    }
    int best_index = 0, legal = 0;
    w.frames[pos.ply].pick_stage = 1;
    const bool may_prune = !pv && !in_check && node_extension == 0;
    const HashMove node_hash_move = w.frames[pos.ply].hash_move;
    for (int i = first; i < pos.ply_state[pos.ply + 1].move_start; ++i) {
        pick_move(w, i);
        // A quiet move that is surely legal and surely gives no check is pruned, or not,
        // exactly as it would be after making it; deciding first saves making it.
        if (may_prune) {
            const Move& m = pos.move_stack[i];
            if (is_quiet(m) && m.from != node_hash_move.from && m.to != node_hash_move.to && !reaches_seventh(m) &&
                surely_legal_and_quiet(pos, m)) {
#if defined(VARKON_CHECKS)
                make_move(pos, i);
                VARKON_ASSERT(!king_in_check(pos, -pos.side) && !king_in_check(pos, pos.side));
                unmake_move(pos, i);
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
        if (!make_legal_move(w, i)) continue;
        ++legal;
        const bool gives_check = pos.cur().in_check != 0;
        const Move& m = pos.move_stack[i];
        int ext = node_extension;
        if (gives_check) {
            ext += 2;
            ++w.stats.check_ext;
        }
        if (reaches_seventh(m)) {
            ext += 1;
            ++w.stats.pawn_promotion_ext;
        }
        if (pos.ply > 80) {
            ext = 0;
        } else if (ext > 2) {
            ext = 2;
            ++w.stats.extended_count;
        }
        const int newdepth = depth - 2 + ext;
        const int reduced = newdepth - 2 > 0 ? newdepth - 2 : 0;
        int v;
        if (pv && legal == 1) {
            v = -search(w, -beta, -alpha, newdepth, true, true);
        } else {
            const HashMove hm = w.frames[pos.ply - 1].hash_move;
            const bool prunable = !pv && !in_check && !gives_check && ext == 0 && is_quiet(m) &&
                                  m.from != hm.from && m.to != hm.to;
            if (prunable) {
                if (depth < 16 && best > -MATE_BOUND && legal > 4 * depth) {
                    unmake_move(pos, i);
                    continue;
                }
                if (reduced < PRUNE_DEPTH) {
                    const int f = eval + static_margin[reduced];
                    if (f < beta) {
                        if (f > best) best = f;
                        unmake_move(pos, i);
                        continue;
                    }
                }
            }
            const HashMove* k = w.frames[pos.ply - 1].killers;
            bool searched = false;
            v = 0;
            if (depth >= LMR_DEPTH && legal >= (pv ? LMR_MOVES_PV : LMR_MOVES) && !gives_check && ext == 0 &&
                is_quiet(m) && m.from != k[0].from && m.to != k[0].to && m.from != k[1].from && m.to != k[1].to) {
                v = -search(w, -alpha - 1, -alpha, reduced, true, false);
                searched = v <= alpha;
            }
            if (!searched && v != -SEARCH_ABORTED) {
                v = -search(w, -alpha - 1, -alpha, newdepth, true, false);
                if (pv && v > alpha && v < beta && v != -SEARCH_ABORTED)
                    v = -search(w, -beta, -alpha, newdepth, true, true);
            }
        }
        unmake_move(pos, i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (v > best) {
            best = v;
            if (v > alpha) {
                alpha = v;
                update_pv(w, i);
                best_index = i;
                if (v >= beta) {
                    ++w.stats.beta_cutoffs;
                    store_killer(w, i);
                    break;
                }
            }
        }
    }
    if (legal == 0) best = in_check ? pos.ply - MATE_VALUE : 0;
    if (best_index != 0 && best >= beta) credit_history(w, best_index, depth);
    if (best < entry_alpha) best_index = 0;
    const int from = best_index ? pos.move_stack[best_index].from : 0;
    const int to = best_index ? pos.move_stack[best_index].to : 0;
    hash_store(key, best, from, to, entry_alpha, beta, depth, pos.game_ply, w.stats);
    return best;
}


// ---- varkon's root search, time rule and policy ------------------------------------------

// The root of one iteration, searched to 2 units per ply. The root's line stays that of
// the last move that raised alpha, across iterations, until a move of this one raises it:
// a fail-low line and an early stop still show it.
int search_root(SearchWorker& w, int iteration_plies, int alpha0, int beta) {
    Position& pos = w.pos;
    const int depth = 2 * iteration_plies;
    ++w.stats.nodes;
    int alpha = alpha0, best = -INFINITE_SCORE, legal = 0;
    const int first = pos.ply_state[0].move_start, end = pos.ply_state[1].move_start;
    put_root_best_first(w, 2000000);
    for (int i = first; i < end; ++i) {
        select_best(pos, i);
        if (!make_legal_move(w, i)) continue;
        ++legal;
        const Move& m = pos.move_stack[i];
        w.output().current_move(m, legal, iteration_plies, w.elapsed_cs());
        const bool gives_check = pos.ply_state[1].in_check != 0;
        int ext = 0;
        if (gives_check) {
            ext = 2;
            ++w.stats.check_ext;
        }
        const int newdepth = depth - 2 + ext;
        int v;
        if (legal == 1) {
            v = -search(w, -beta, -alpha, newdepth, true, true);
        } else {
            bool done = false;
            v = 0;
            if (depth >= 6 && legal >= 12 && !gives_check && is_quiet(m)) {
                v = -search(w, -alpha - 1, -alpha, std::max(newdepth - 2, 0), true, false);
                done = v <= alpha;
            }
            if (!done) {
                v = -search(w, -alpha - 1, -alpha, newdepth, true, false);
                if (v > alpha && v != -SEARCH_ABORTED) v = -search(w, -beta, -alpha, newdepth, true, true);
            }
        }
        unmake_move(pos, i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (root_move_searched(w, i, v, legal, alpha0, beta, alpha, best)) return v;
    }
    if (legal > 0) return w.root_score;
    w.root_score = pos.ply_state[0].in_check ? -MATE_VALUE : 0;
    return w.root_score;
}

namespace {

void prepare_varkon_search(SearchWorker& w) { w.clear_ordering(); }

int hash_size_in_use() { return hash_size_mb(); }

// The table bucket of the position, and its pawn-cache slot when the move changed the pawns.
void prefetch_tables(const Position& pos) {
    hash_prefetch(pos.key());
    const HashKey pawns = pos.cur().pawn_key;
    if (pawns != pos.ply_state[pos.ply - 1].pawn_key) pawn_cache_prefetch(static_cast<std::uint32_t>(pawns));
}

const SearchPolicy varkon_policy = {
    {hash_allocate, hash_free_tables, hash_clear, hash_clear_all, hash_size_in_use, prefetch_tables},
    prepare_varkon_search,
    score_moves,
    varkon_time_budget,
    search_root,
    nullptr,
    nullptr,
    60,
};

}  // namespace

const SearchPolicy& varkon_search_policy() { return varkon_policy; }

}  // namespace varkon
