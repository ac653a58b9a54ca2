#include "search/search_classic.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "eval/eval_classic.h"
#include "search/hash_classic.h"
#include "search/search_tools.h"
#include "search/sort_moves_classic.h"
#include "search/swap.h"
#include "search/time_control.h"

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
// The kept ponder search lives across searches: the next search may replay it.
KeptPonder kept;

inline bool no_move(const Move& m) { return m.from == 0 || m.to == 0; }

// The extension of the move just made (now at `ply`) from the node's own extension.
int extension_of(SearchWorker& w, const Move& m, int node_extension, bool gives_check) {
    SearchStats& stats = w.stats;
    const int ply = w.pos.ply;
    if (ply > EXTENSION_PLY_LIMIT) return 0;
    int ext = node_extension;
    if (gives_check) {
        ext += CHECK_EXT;
        ++stats.check_ext;
    }
    const PlyFrame& before = w.frames[ply - 1];
    if (m.captured != 0 && m.to == before.capture_square && piece_value[m.captured] == before.capture_value) {
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
inline void note_capture(SearchWorker& w, const Move& m) {
    PlyFrame& f = w.frames[w.pos.ply];
    f.capture_square = m.captured != 0 ? m.to : 0;
    f.capture_value = m.captured != 0 ? piece_value[m.captured] : 0;
}

// Whether side s has a piece other than king and pawns (a null move is then no zugzwang risk).
inline bool has_pieces(const Position& pos, Side s) {
    return pos.piece_count(KNIGHT * s) + pos.piece_count(BISHOP * s) + pos.piece_count(ROOK * s) +
               pos.piece_count(QUEEN * s) >
           0;
}

inline void reached(SearchWorker& w, int p) {
    if (static_cast<std::uint64_t>(p) > w.stats.extended_depth) w.stats.extended_depth = static_cast<std::uint64_t>(p);
}

inline int evaluate(SearchWorker& w, int alpha, int beta) { return evaluate_classic(w.pos, w.eval, w.stats, alpha, beta); }

// The static score used for the futility tests of a node below alpha.
inline int futility_eval(SearchWorker& w, int alpha) {
    return evaluate(w, alpha - RAZOR_MARGIN, alpha - FRONTIER_MARGIN + 1);
}

// The quiescence keys: victim less capturer (promotions: victim and promoted piece), quiet
// evasions below every capture. The static exchange is left until a capture that may lose
// material is about to be searched.
void key_quiesce_moves(Position& pos) {
    for (int i = pos.cur().move_start, end = pos.ply_state[pos.ply + 1].move_start; i < end; ++i) {
        Move& m = pos.move_stack[i];
        if (m.promotion != 0)
            m.score = piece_value[m.captured] + piece_value[m.promotion];
        else if (m.captured != 0)
            m.score = piece_value[m.captured] - piece_value[std::abs(m.piece)];
        else
            m.score = -INFINITE_SCORE;
    }
}

}  // namespace

int classic_quiesce(SearchWorker& w, int alpha, int beta) {
    Position& pos = w.pos;
    count_poll_node(w);
    ++w.stats.nodes;
    ++w.stats.qsearch_count;
    reached(w, pos.ply);
    if (pos.ply > PLY_LIMIT) return evaluate(w, alpha, beta);
    const bool in_check = pos.cur().in_check != 0;
    int best, stand = 0;
    if (in_check) {
        best = -INFINITE_SCORE;
        generate_moves(pos);
    } else {
        stand = evaluate(w, alpha, beta);
        if (stand >= beta) return stand;
        best = stand;
        if (stand > alpha) alpha = stand;
        generate_captures(pos);
    }
    key_quiesce_moves(pos);
    int legal = 0;
    for (int i = pos.cur().move_start; i < pos.ply_state[pos.ply + 1].move_start; ++i) {
        select_best(pos, i);
        const Move& m = pos.move_stack[i];
        if (!in_check && m.promotion == 0) {
            // Captures that cannot bring the score near alpha, and captures that lose
            // material by static exchange, are left out.
            if (m.ep_square == 0 && stand + piece_value[m.captured] + QUIESCE_DELTA <= alpha && surely_legal_and_quiet(pos, m))
                continue;
            if (m.score < 0 && see(pos, m.from, m.to) < 0) continue;
        }
        if (!make_legal_move(w, i)) continue;
        ++legal;
        const int v = -classic_quiesce(w, -beta, -alpha);
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
    if (in_check && legal == 0) return pos.ply - MATE_VALUE;
    return best;
}

int classic_search(SearchWorker& w, int alpha, int beta, int depth, bool null_ok, bool pv) {
    Position& pos = w.pos;
    w.pv_length[pos.ply] = pos.ply;
    if (depth < PLY) return classic_quiesce(w, alpha, beta);
    if (pos.ply >= PLY_LIMIT) return evaluate(w, alpha, beta);
    ++w.stats.nodes;
    reached(w, pos.ply);
    if (pos.ply > w.seldepth) w.seldepth = pos.ply;
    if (poll(w)) return SEARCH_ABORTED;
    if (is_draw(pos)) return 0;

    // Neither side can do better than mate at the next ply or worse than mate here.
    alpha = std::max(alpha, pos.ply - MATE_VALUE);
    beta = std::min(beta, MATE_VALUE - pos.ply - 1);
    if (alpha >= beta) return alpha;

    const HashKey key = pos.key();
    const bool in_check = pos.cur().in_check != 0;
    const int null_reduction = depth > NULL_DEEP ? NULL_REDUCTION_DEEP : NULL_REDUCTION;
    const int entry_alpha = alpha;
    int hash_from = 0, hash_to = 0;
    bool avoid_null = false, mate_threat = false;
    if (pv && hash_classic::probe_move(key, hash_from, hash_to, w.stats)) {
        // A line node takes only the move (the stored principal variation, usually), so
        // that its line is searched and shown in full.
    } else {
        const hash_classic::Probe h =
            hash_classic::probe(key, alpha, beta, depth / TABLE_UNIT, pos.ply, (null_reduction + PLY) / TABLE_UNIT, w.stats);
        // Mate scores come back as mate at this very ply, which is not their distance:
        // they order the moves but never answer the node.
        if (!pv && h.score != hash_classic::NO_SCORE && std::abs(h.score) < hash_classic::MATE_BOUND) {
            ++w.stats.hash_hits;
            return h.score;
        }
        hash_from = h.from;
        hash_to = h.to;
        avoid_null = h.avoid_null;
        mate_threat = h.avoid_null && h.threat;
    }
    // The Nalimov tables answer nodes with eight plies or more still to search.
    if (const int v = tablebase_score(w, depth / PLY, depth > TABLEBASE_MIN_DEPTH); v != NO_TB_SCORE) return v;

    const bool prunable = !pv && !in_check && std::abs(beta) < hash_classic::MATE_BOUND;
    int eval = -INFINITE_SCORE;
    if (prunable && depth < 4 * PLY) {
        eval = futility_eval(w, alpha);
        // Pre-pre-frontier: far below alpha, the node is searched a ply less deep.
        if (depth >= 3 * PLY && eval + RAZOR_MARGIN <= alpha && pos.cur().pieces > 3) {
            depth -= PLY;
            ++w.stats.razor_count;
        }
    }
    if (prunable && null_ok && !avoid_null && depth >= 2 * PLY && has_pieces(pos, pos.side)) {
        make_null_move(pos);
        w.frames[pos.ply].capture_square = w.frames[pos.ply].capture_value = 0;
        int v = -classic_search(w, -beta, 1 - beta, depth - null_reduction - PLY, false, false);
        unmake_null_move(pos);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (v >= beta) {
            ++w.stats.nullmove_hits;
            if (v > hash_classic::MATE_BOUND) v = beta;
            hash_classic::store(key, v, beta - 1, beta, depth / TABLE_UNIT, 0, 0, false, w.stats);
            return v;
        }
        if (v < -hash_classic::MATE_BOUND) mate_threat = true;
    }

    if (pv && depth >= IID_DEPTH && hash_from == 0) {
        const int v = classic_search(w, alpha, beta, depth - IID_REDUCTION, true, true);
        if (v == SEARCH_ABORTED) return SEARCH_ABORTED;
        ++w.stats.iid_searches;
        if (w.pv_length[pos.ply] > pos.ply) {
            hash_from = w.pv_table[pos.ply][pos.ply].from;
            hash_to = w.pv_table[pos.ply][pos.ply].to;
        }
        w.pv_length[pos.ply] = pos.ply;
    }

    generate_moves(pos);
    const int first = pos.cur().move_start, end = pos.ply_state[pos.ply + 1].move_start;
    int node_extension = 0;
    if (in_check && end - first == 1) {
        node_extension += ONE_REPLY_EXT;
        ++w.stats.one_reply_ext;
    }
    if (mate_threat) {
        node_extension += MATE_THREAT_EXT;
        ++w.stats.mate_threat_ext;
    }
    // Frontier and pre-frontier: quiet moves that cannot bring the score up to alpha.
    int margin = 0;
    if (prunable && node_extension == 0 && depth < 3 * PLY)
        margin = depth < 2 * PLY ? FRONTIER_MARGIN : PRE_FRONTIER_MARGIN;
    const bool futile = margin != 0 && eval + margin <= alpha;

    int best = -INFINITE_SCORE, best_index = 0, legal = 0;
    classic_pick_start(w, hash_from, hash_to);
    for (int i = first; i < end; ++i) {
        classic_pick_move(w, i);
        const Move& m = pos.move_stack[i];
        const bool quiet = is_quiet(m) && !reaches_seventh(m);
        if (futile && quiet && surely_legal_and_quiet(pos, m)) {
            ++legal;
            ++w.stats.razor_count;
            best = std::max(best, eval + margin);
            continue;
        }
        if (!make_legal_move(w, i)) continue;
        ++legal;
        note_capture(w, m);
        const bool gives_check = pos.cur().in_check != 0;
        const int ext = extension_of(w, m, node_extension, gives_check);
        const int newdepth = depth - PLY + ext;
        int v;
        if (legal == 1) {
            v = -classic_search(w, -beta, -alpha, newdepth, true, pv);
        } else if (futile && quiet && !gives_check) {
            unmake_move(pos, i);
            ++w.stats.razor_count;
            best = std::max(best, eval + margin);
            continue;
        } else {
            v = -classic_search(w, -alpha - 1, -alpha, newdepth, true, false);
            if (pv && v > alpha && v < beta && v != -SEARCH_ABORTED)
                v = -classic_search(w, -beta, -alpha, newdepth, true, true);
        }
        unmake_move(pos, i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (v > best) {
            best = v;
            if (v > alpha) {
                alpha = v;
                best_index = i;
                update_pv(w, i);
                if (v >= beta) {
                    ++w.stats.beta_cutoffs;
                    if (is_quiet(pos.move_stack[i])) {
                        classic_store_killer(w, i);
                        credit_history(w, i, depth / 8);
                    }
                    break;
                }
            }
        }
    }
    if (legal == 0) best = in_check ? pos.ply - MATE_VALUE : 0;
    const int from = best_index != 0 ? pos.move_stack[best_index].from : 0;
    const int to = best_index != 0 ? pos.move_stack[best_index].to : 0;
    hash_classic::store(key, best, entry_alpha, beta, depth / TABLE_UNIT, from, to, mate_threat, w.stats);
    return best;
}

namespace {

void store_line_move(SearchWorker& w, HashKey key, const Move& m) { hash_classic::store_pv_move(key, m.from, m.to, w.stats); }

}  // namespace

int classic_search_root(SearchWorker& w, int iteration_plies, int alpha0, int beta) {
    Position& pos = w.pos;
    const int depth = iteration_plies * PLY;
    ++w.stats.nodes;
    int alpha = alpha0, best = -INFINITE_SCORE, legal = 0;
    const int first = pos.ply_state[0].move_start, end = pos.ply_state[1].move_start;
    PlyFrame& root = w.frames[0];
    root.capture_square = root.capture_value = 0;
    if (const Move last = played_move(pos, pos.game_ply - 1); last.captured != 0) {
        root.capture_square = last.to;
        root.capture_value = piece_value[last.captured];
    }
    put_root_best_first(w, CLASSIC_GOOD_CAPTURE * 2);
    for (int i = first; i < end; ++i) {
        select_best(pos, i);
        if (!make_legal_move(w, i)) continue;
        ++legal;
        const Move& m = pos.move_stack[i];
        note_capture(w, m);
        w.output().current_move(m, legal, iteration_plies, w.elapsed_cs());
        const int newdepth = depth - PLY + extension_of(w, m, 0, pos.ply_state[1].in_check != 0);
        int v;
        if (legal == 1) {
            v = -classic_search(w, -beta, -alpha, newdepth, true, true);
        } else {
            v = -classic_search(w, -alpha - 1, -alpha, newdepth, true, false);
            if (v > alpha && v != -SEARCH_ABORTED) v = -classic_search(w, -beta, -alpha, newdepth, true, true);
        }
        unmake_move(pos, i);
        if (v == -SEARCH_ABORTED) return SEARCH_ABORTED;
        if (root_move_searched(w, i, v, legal, alpha0, beta, alpha, best)) return v;
    }
    if (legal == 0) {
        w.root_score = pos.ply_state[0].in_check ? -MATE_VALUE : 0;
        return w.root_score;
    }
    // The line goes into the table, so that the next iteration (and the next move's
    // search, two plies on) tries it first.
    playable_pv_length(w, store_line_move);
    return w.root_score;
}

// ---- the classic steps of the think driver -------------------------------------------

bool ponder_result_kept() { return kept.valid; }
void forget_ponder_result() { kept.valid = false; }

namespace {

void prepare_classic_search(SearchWorker& w) { w.clear_ordering(); }

// The root keys of the first iteration: the table's move for the position, then the
// captures as the picker keys them, then the rest in generation order.
void classic_order_root(SearchWorker& w) {
    Position& pos = w.pos;
    int from = 0, to = 0;
    hash_classic::probe_move(pos.key(), from, to, w.stats);
    for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) {
        Move& m = pos.move_stack[i];
        if (m.from == from && m.to == to)
            m.score = 2 * CLASSIC_GOOD_CAPTURE;
        else
            m.score = m.captured != 0 ? classic_capture_key(pos, m) : CLASSIC_QUIET;
    }
}

// The legal root moves: how many (counting stops at 2) and the first one's index.
int count_root_moves(Position& pos, int& first_legal) {
    int n = 0;
    first_legal = 0;
    for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start && n < 2; ++i) {
        if (!move_is_legal(pos, i)) continue;
        if (n++ == 0) first_legal = i;
    }
    return n;
}

// The kept reply, when the opponent played the predicted move and the ponder search had
// at least this search's time: it becomes the result at once.
bool replay_kept_reply(SearchWorker& w, int root_moves) {
    Position& pos = w.pos;
    const KeptPonder k = kept;
    kept.valid = false;
    if (!k.valid || root_moves < 2 || k.key != pos.key() || k.game_ply != pos.game_ply ||
        !same_move(played_move(pos, pos.game_ply - 1), k.predicted) || k.time_cs < w.stats.time_limit)
        return false;
    int index = 0;
    for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start && index == 0; ++i)
        if (same_move(pos.move_stack[i], k.reply)) index = i;
    if (index == 0) return false;
    w.root_best = pos.move_stack[index];
    w.root_score = k.score;
    w.iteration = k.depth;
    w.pv_table[0][0] = w.root_best;
    w.pv_table[0][1] = k.expected;
    w.pv_length[0] = no_move(k.expected) ? 1 : 2;
    IterationLine line{k.depth, k.depth, k.score, LineBound::none, k.time_cs, k.nodes, 0, w.pv_table[0],
                       playable_pv_length(w)};
    show_line(w, line);
    return true;
}

bool classic_decide_early(SearchWorker& w, ThinkResult& result) {
    const SearchMode mode = w.request->mode;
    if (mode == SearchMode::ponder || mode == SearchMode::analysis) return false;
    int only = 0;
    const int root_moves = count_root_moves(w.pos, only);
    if (root_moves == 1) {
        kept.valid = false;
        w.root_best = w.pos.move_stack[only];
        w.root_score = 0;
        result.best = w.root_best;
        result.score = 0;
        result.single = true;
        w.output().single_reply(w.root_best);
        return true;
    }
    return replay_kept_reply(w, root_moves);
}

// Keeps a finished ponder search (one that "ponderhit" did not turn into a search under
// the clock).
void classic_after_search(SearchWorker& w, const ThinkResult& result) {
    if (!w.poll.pondering) return;
    const Position& pos = w.pos;
    kept = KeptPonder{};
    if (no_move(result.best) || result.book || result.single || result.depth < 1 || pos.game_ply < 1) return;
    kept.valid = true;
    kept.key = pos.key();
    kept.game_ply = pos.game_ply;
    kept.predicted = played_move(pos, pos.game_ply - 1);
    kept.reply = result.best;
    kept.expected = result.ponder;
    kept.score = result.score;
    kept.depth = result.depth;
    kept.nodes = w.stats.nodes;
    kept.time_cs = w.elapsed_cs();
}

int classic_hash_mb() { return hash_classic::hash_mb(); }

// The search entries and the evaluation entry of the position, and its pawn entry when the
// move changed the pawns.
void prefetch_classic_tables(const Position& pos) {
    hash_classic::prefetch(pos.key());
    prefetch_classic_caches(pos, pos.cur().pawn_key != pos.ply_state[pos.ply - 1].pawn_key);
}

const SearchPolicy classic_policy = {
    {hash_classic::allocate, hash_classic::release, hash_classic::clear, hash_classic::wipe, classic_hash_mb, prefetch_classic_tables},
    prepare_classic_search,
    classic_order_root,
    classic_time_budget,
    classic_search_root,
    classic_decide_early,
    classic_after_search,
    60,
};

}  // namespace

const SearchPolicy& classic_search_policy() { return classic_policy; }

}  // namespace varkon
