#include "search/search_classic.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "eval/eval.h"
#include "search/hash_classic.h"
#include "search/search.h"
#include "search/sort_moves.h"
#include "search/sort_moves_classic.h"
#include "search/swap.h"

namespace varkon {

namespace {

constexpr int PLY = CLASSIC_PLY;
constexpr int TABLEBASE_MIN_DEPTH = 8 * PLY;

// Extensions, in units (16 a ply); the sum granted to one move is cut back to a ply.
constexpr int CHECK_EXT = 16;
constexpr int ONE_REPLY_EXT = 12;
constexpr int MATE_THREAT_EXT = 12;
constexpr int PAWN_PUSH_EXT = 12;
constexpr int RECAPTURE_EXT = 8;
constexpr int MAX_EXT = PLY;
constexpr int EXTENSION_PLY_LIMIT = 80;   // no extensions deeper than this

// Futility: quiet moves are pruned one ply before the horizon (frontier) when the static
// score plus 300 cannot reach alpha, two plies before it (pre-frontier) with 500; three
// plies before it (pre-pre-frontier) a node 900 below alpha is searched a ply shallower.
constexpr int FRONTIER_MARGIN = 300;
constexpr int PRE_FRONTIER_MARGIN = 500;
constexpr int RAZOR_MARGIN = 900;

constexpr int NULL_REDUCTION = 2 * PLY;        // R = 2 ...
constexpr int NULL_REDUCTION_DEEP = 3 * PLY;   // ... and 3 above NULL_DEEP
constexpr int NULL_DEEP = 6 * PLY;
constexpr int IID_DEPTH = 3 * PLY;
constexpr int IID_REDUCTION = 2 * PLY;
constexpr int QUIESCE_DELTA = 100;

// Depths go into the table in quarter plies (every depth here is a multiple of 4 units),
// so its 8 bits hold 63 plies.
constexpr int TABLE_UNIT = 4;

// The capture made at each ply (its square and the victim's value; square 0: none), for
// the recapture extension.
struct LastCapture {
    int square;
    int value;
};
LastCapture last_capture[MAX_PLY + 2];

// A ponder search that ended: the position it searched (after the predicted move), the
// predicted move, the reply found and its line, score, depth, nodes and time.
struct KeptPonder {
    bool valid = false;
    HashKey key = 0;
    int game_ply = 0;
    Move predicted{};
    Move reply{};
    Move expected{};   // the answer expected to the reply; from = 0: none
    int score = 0;
    int depth = 0;
    std::uint64_t nodes = 0;
    std::uint32_t time_cs = 0;
};
KeptPonder kept;

inline bool no_move(const Move& m) { return m.from == 0 || m.to == 0; }

// The extension of the move just made (now at `ply`) from the node's own extension.
int extension_of(const Move& m, int node_extension, bool gives_check) {
    if (ply > EXTENSION_PLY_LIMIT) return 0;
    int ext = node_extension;
    if (gives_check) {
        ext += CHECK_EXT;
        ++stats.check_ext;
    }
    const LastCapture& before = last_capture[ply - 1];
    if (m.captured != 0 && m.to == before.square && piece_value[m.captured] == before.value) {
        ext += RECAPTURE_EXT;
        ++stats.recapture_ext;
    }
    if (reaches_seventh(m)) {
        ext += PAWN_PUSH_EXT;
        ++stats.pawn_promotion_ext;
    }
    if (ext == 0) return 0;
    ++stats.extended_count;
    return std::min(ext, MAX_EXT);
}

// Records the capture of the move just made for the recapture test of the next ply.
inline void note_capture(const Move& m) {
    last_capture[ply] = m.captured != 0 ? LastCapture{m.to, piece_value[m.captured]} : LastCapture{0, 0};
}

// Whether side s has a piece other than king and pawns (a null move is then no zugzwang risk).
inline bool has_pieces(Side s) {
    return piece_count(KNIGHT * s) + piece_count(BISHOP * s) + piece_count(ROOK * s) + piece_count(QUEEN * s) > 0;
}

inline void reached(int p) {
    if (static_cast<std::uint64_t>(p) > stats.extended_depth) stats.extended_depth = static_cast<std::uint64_t>(p);
}

// The static score used for the futility tests of a node below alpha.
inline int futility_eval(int alpha) { return evaluate(alpha - RAZOR_MARGIN, alpha - FRONTIER_MARGIN + 1); }

// The quiescence keys: victim less capturer (promotions: victim and promoted piece), quiet
// evasions below every capture. The static exchange is left until a capture that may lose
// material is about to be searched.
void key_quiesce_moves() {
    for (int i = ply_state[ply].move_start, end = ply_state[ply + 1].move_start; i < end; ++i) {
        Move& m = move_stack[i];
        if (m.promotion != 0)
            m.score = piece_value[m.captured] + piece_value[m.promotion];
        else if (m.captured != 0)
            m.score = piece_value[m.captured] - piece_value[std::abs(m.piece)];
        else
            m.score = -INFINITE_SCORE;
    }
}

}  // namespace

int classic_quiesce(int alpha, int beta) {
    count_poll_node();
    ++stats.nodes;
    ++stats.qsearch_count;
    reached(ply);
    if (ply > PLY_LIMIT) return evaluate(alpha, beta);
    const bool in_check = ply_state[ply].in_check != 0;
    int best, stand = 0;
    if (in_check) {
        best = -INFINITE_SCORE;
        generate_moves();
    } else {
        stand = evaluate(alpha, beta);
        if (stand >= beta) return stand;
        best = stand;
        if (stand > alpha) alpha = stand;
        generate_captures();
    }
    key_quiesce_moves();
    int legal = 0;
    for (int i = ply_state[ply].move_start; i < ply_state[ply + 1].move_start; ++i) {
        select_best(i);
        const Move& m = move_stack[i];
        if (!in_check && m.promotion == 0) {
            // Captures that cannot bring the score near alpha, and captures that lose
            // material by static exchange, are left out.
            if (m.ep_square == 0 && stand + piece_value[m.captured] + QUIESCE_DELTA <= alpha && surely_legal_and_quiet(m))
                continue;
            if (m.score < 0 && see(m.from, m.to) < 0) continue;
        }
        if (!make_legal_move(i)) continue;
        ++legal;
        const int v = -classic_quiesce(-beta, -alpha);
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
    if (in_check && legal == 0) return ply - MATE_VALUE;
    return best;
}

int classic_search(int alpha, int beta, int depth, bool null_ok, bool pv) {
    pv_length[ply] = ply;
    if (depth < PLY) return classic_quiesce(alpha, beta);
    if (ply >= PLY_LIMIT) return evaluate(alpha, beta);
    ++stats.nodes;
    reached(ply);
    if (ply > seldepth) seldepth = ply;
    if (poll()) return SEARCH_ABORTED;
    if (is_draw()) return 0;

    // Neither side can do better than mate at the next ply or worse than mate here.
    alpha = std::max(alpha, ply - MATE_VALUE);
    beta = std::min(beta, MATE_VALUE - ply - 1);
    if (alpha >= beta) return alpha;

    const HashKey key = hash_history[game_ply];
    const bool in_check = ply_state[ply].in_check != 0;
    const int null_reduction = depth > NULL_DEEP ? NULL_REDUCTION_DEEP : NULL_REDUCTION;
    const int entry_alpha = alpha;
    int hash_from = 0, hash_to = 0;
    bool avoid_null = false, mate_threat = false;
    if (pv && hash_classic::probe_move(key, hash_from, hash_to)) {
        // A line node takes only the move (the stored principal variation, usually), so
        // that its line is searched and shown in full.
    } else {
        const hash_classic::Probe h =
            hash_classic::probe(key, alpha, beta, depth / TABLE_UNIT, ply, (null_reduction + PLY) / TABLE_UNIT);
        // Mate scores come back as mate at this very ply, which is not their distance:
        // they order the moves but never answer the node.
        if (!pv && h.score != hash_classic::NO_SCORE && std::abs(h.score) < hash_classic::MATE_BOUND) {
            ++stats.hash_hits;
            return h.score;
        }
        hash_from = h.from;
        hash_to = h.to;
        avoid_null = h.avoid_null;
        mate_threat = h.avoid_null && h.threat;
    }
    // The tablebases answer nodes with eight plies or more still to search.
    if (depth > TABLEBASE_MIN_DEPTH)
        if (const int v = tablebase_score(); v != -1) return v;

    const bool prunable = !pv && !in_check && std::abs(beta) < hash_classic::MATE_BOUND;
    int eval = -INFINITE_SCORE;
    if (prunable && depth < 4 * PLY) {
        eval = futility_eval(alpha);
        // Pre-pre-frontier: far below alpha, the node is searched a ply less deep.
        if (depth >= 3 * PLY && eval + RAZOR_MARGIN <= alpha && ply_state[ply].pieces > 3) {
            depth -= PLY;
            ++stats.razor_count;
        }
    }
    if (prunable && null_ok && !avoid_null && depth >= 2 * PLY && has_pieces(side)) {
        make_null_move();
        last_capture[ply] = LastCapture{0, 0};
        int v = -classic_search(-beta, 1 - beta, depth - null_reduction - PLY, false, false);
        unmake_null_move();
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (v >= beta) {
            ++stats.nullmove_hits;
            if (v > hash_classic::MATE_BOUND) v = beta;
            hash_classic::store(key, v, beta - 1, beta, depth / TABLE_UNIT, 0, 0, false);
            return v;
        }
        if (v < -hash_classic::MATE_BOUND) mate_threat = true;
    }

    if (pv && depth >= IID_DEPTH && hash_from == 0) {
        const int v = classic_search(alpha, beta, depth - IID_REDUCTION, true, true);
        if (v == SEARCH_ABORTED) return SEARCH_ABORTED;
        ++stats.inter_iterativ_deep;
        if (pv_length[ply] > ply) {
            hash_from = pv_table[ply][ply].from;
            hash_to = pv_table[ply][ply].to;
        }
        pv_length[ply] = ply;
    }

    generate_moves();
    const int first = ply_state[ply].move_start, end = ply_state[ply + 1].move_start;
    int node_extension = 0;
    if (in_check && end - first == 1) {
        node_extension += ONE_REPLY_EXT;
        ++stats.one_reply_ext;
    }
    if (mate_threat) {
        node_extension += MATE_THREAT_EXT;
        ++stats.mate_threat_ext;
    }
    // Frontier and pre-frontier: quiet moves that cannot bring the score up to alpha.
    int margin = 0;
    if (prunable && node_extension == 0 && depth < 3 * PLY)
        margin = depth < 2 * PLY ? FRONTIER_MARGIN : PRE_FRONTIER_MARGIN;
    const bool futile = margin != 0 && eval + margin <= alpha;

    int best = -INFINITE_SCORE, best_index = 0, legal = 0;
    classic_pick_start(hash_from, hash_to);
    for (int i = first; i < end; ++i) {
        classic_pick_move(i);
        const Move& m = move_stack[i];
        const bool quiet = is_quiet(m) && !reaches_seventh(m);
        if (futile && quiet && surely_legal_and_quiet(m)) {
            ++legal;
            ++stats.razor_count;
            best = std::max(best, eval + margin);
            continue;
        }
        if (!make_legal_move(i)) continue;
        ++legal;
        note_capture(m);
        const bool gives_check = ply_state[ply].in_check != 0;
        const int ext = extension_of(m, node_extension, gives_check);
        const int newdepth = depth - PLY + ext;
        int v;
        if (legal == 1) {
            v = -classic_search(-beta, -alpha, newdepth, true, pv);
        } else if (futile && quiet && !gives_check) {
            unmake_move(i);
            ++stats.razor_count;
            best = std::max(best, eval + margin);
            continue;
        } else {
            v = -classic_search(-alpha - 1, -alpha, newdepth, true, false);
            if (pv && v > alpha && v < beta && v != -SEARCH_ABORTED)
                v = -classic_search(-beta, -alpha, newdepth, true, true);
        }
        unmake_move(i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (v > best) {
            best = v;
            if (v > alpha) {
                alpha = v;
                best_index = i;
                update_pv(i);
                if (v >= beta) {
                    ++stats.beta_cutoffs;
                    if (is_quiet(move_stack[i])) {
                        classic_store_killer(i);
                        credit_history(i, depth / 8);
                    }
                    break;
                }
            }
        }
    }
    if (legal == 0) best = in_check ? ply - MATE_VALUE : 0;
    const int from = best_index != 0 ? move_stack[best_index].from : 0;
    const int to = best_index != 0 ? move_stack[best_index].to : 0;
    hash_classic::store(key, best, entry_alpha, beta, depth / TABLE_UNIT, from, to, mate_threat);
    return best;
}

namespace {

void store_line_move(HashKey key, const Move& m) { hash_classic::store_pv_move(key, m.from, m.to); }

}  // namespace

int classic_search_root(int iteration_plies, int alpha0, int beta) {
    const int depth = iteration_plies * PLY;
    ++stats.nodes;
    int alpha = alpha0, best = -INFINITE_SCORE, legal = 0;
    const int first = ply_state[0].move_start, end = ply_state[1].move_start;
    last_capture[0] = LastCapture{0, 0};
    if (const Move last = played_move(game_ply - 1); last.captured != 0)
        last_capture[0] = LastCapture{last.to, piece_value[last.captured]};
    put_root_best_first(CLASSIC_GOOD_CAPTURE * 2);
    for (int i = first; i < end; ++i) {
        select_best(i);
        if (!make_legal_move(i)) continue;
        ++legal;
        const Move& m = move_stack[i];
        note_capture(m);
        search_output().current_move(m, legal, iteration_plies, think_elapsed_cs());
        const int newdepth = depth - PLY + extension_of(m, 0, ply_state[1].in_check != 0);
        int v;
        if (legal == 1) {
            v = -classic_search(-beta, -alpha, newdepth, true, true);
        } else {
            v = -classic_search(-alpha - 1, -alpha, newdepth, true, false);
            if (v > alpha && v != -SEARCH_ABORTED) v = -classic_search(-beta, -alpha, newdepth, true, true);
        }
        unmake_move(i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (root_move_searched(i, v, legal, alpha0, beta, alpha, best)) return v;
    }
    if (legal == 0) {
        root_score = ply_state[0].in_check ? -MATE_VALUE : 0;
        return root_score;
    }
    // The line goes into the table, so that the next iteration (and the next move's
    // search, two plies on) tries it first.
    playable_pv_length(store_line_move);
    return root_score;
}

// ---- the classic steps of the think driver -------------------------------------------

TimeBudget classic_allocate_time() {
    const std::uint32_t own = time_left == 0 ? 1 : time_left;
    std::int64_t alloc;
    if (increment != 0)
        alloc = (std::int64_t{increment} * 10 + own) / 10;
    else if (moves_to_go != 0 && moves_left != 0)
        alloc = std::max<std::int64_t>(0, std::int64_t{own} - 500) / moves_left;
    else
        alloc = own / 30;
    std::int32_t cap = clock_cap(own);
    if (test_suite_mode) {
        // The clock is the time for this one position: there is no game to lose on time.
        alloc = own;
        cap = static_cast<std::int32_t>(std::min<std::uint32_t>(own, std::numeric_limits<std::int32_t>::max()));
    } else if (alloc > cap) {
        alloc = cap;
    }
    if (limits.movetime >= 0) alloc = limits.movetime;
    const auto time_alloc = static_cast<std::int32_t>(std::max<std::int64_t>(1, alloc));
    stats.time_limit = static_cast<std::uint64_t>(time_alloc);
    start_poll_clock(think_start_cs(), time_alloc, time_alloc >= 500 ? 500 : 50);
    return TimeBudget{time_alloc, cap};
}

bool ponder_result_kept() { return kept.valid; }
void forget_ponder_result() { kept.valid = false; }

namespace {

void prepare_classic_search() { clear_ordering_tables(); }

// The root keys of the first iteration: the table's move for the position, then the
// captures as the picker keys them, then the rest in generation order.
void classic_order_root() {
    int from = 0, to = 0;
    hash_classic::probe_move(hash_history[game_ply], from, to);
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start; ++i) {
        Move& m = move_stack[i];
        if (m.from == from && m.to == to)
            m.score = 2 * CLASSIC_GOOD_CAPTURE;
        else
            m.score = m.captured != 0 ? classic_capture_key(m) : CLASSIC_QUIET;
    }
}

// The legal root moves: how many (counting stops at 2) and the first one's index.
int count_root_moves(int& first_legal) {
    int n = 0;
    first_legal = 0;
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start && n < 2; ++i) {
        make_move(i);
        const bool legal = !king_in_check(-side);
        unmake_move(i);
        if (!legal) continue;
        if (n++ == 0) first_legal = i;
    }
    return n;
}

// The kept reply, when the opponent played the predicted move and the ponder search had
// at least this search's time: it becomes the result at once.
bool replay_kept_reply(int root_moves) {
    const KeptPonder k = kept;
    kept.valid = false;
    if (!k.valid || root_moves < 2 || k.key != hash_history[game_ply] || k.game_ply != game_ply ||
        !same_move(played_move(game_ply - 1), k.predicted) || k.time_cs < stats.time_limit)
        return false;
    int index = 0;
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start && index == 0; ++i)
        if (same_move(move_stack[i], k.reply)) index = i;
    if (index == 0) return false;
    root_best = move_stack[index];
    root_score = k.score;
    iteration = k.depth;
    pv_table[0][0] = root_best;
    pv_table[0][1] = k.expected;
    pv_length[0] = no_move(k.expected) ? 1 : 2;
    IterationLine line{k.depth, k.depth, k.score, LineBound::none, k.time_cs, k.nodes, 0, pv_table[0],
                       playable_pv_length()};
    search_output().iteration(line);
    return true;
}

bool classic_decide_early(ThinkResult& result) {
    if (pondering || analyzing) return false;
    int only = 0;
    const int root_moves = count_root_moves(only);
    if (root_moves == 1) {
        kept.valid = false;
        root_best = move_stack[only];
        root_score = 0;
        result.best = root_best;
        result.score = 0;
        result.single = true;
        search_output().single_reply(root_best);
        return true;
    }
    return replay_kept_reply(root_moves);
}

// Keeps a finished ponder search; after a move played, counts down the moves to the
// next time control.
void classic_after_search(const ThinkResult& result) {
    if (pondering && !analyzing) {
        kept = KeptPonder{};
        if (no_move(result.best) || result.book || result.single || result.depth < 1 || game_ply < 1) return;
        kept.valid = true;
        kept.key = hash_history[game_ply];
        kept.game_ply = game_ply;
        kept.predicted = played_move(game_ply - 1);
        kept.reply = result.best;
        kept.expected = result.ponder;
        kept.score = result.score;
        kept.depth = result.depth;
        kept.nodes = stats.nodes;
        kept.time_cs = think_elapsed_cs();
        return;
    }
    if (pondering || analyzing || test_suite_mode || no_move(result.best) || moves_to_go == 0) return;
    moves_left = moves_left > 1 ? moves_left - 1 : moves_to_go;
}

int classic_hash_mb() { return hash_classic::hash_mb(); }

const SearchPolicy classic_policy = {
    {hash_classic::allocate, hash_classic::release, hash_classic::clear, hash_classic::wipe, classic_hash_mb},
    prepare_classic_search,
    classic_order_root,
    classic_allocate_time,
    classic_search_root,
    classic_decide_early,
    classic_after_search,
    60,
};

}  // namespace

const SearchPolicy& classic_search_policy() { return classic_policy; }

}  // namespace varkon
