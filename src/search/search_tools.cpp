#include "search/search_tools.h"

#include <cstdlib>

#include "core/attacks.h"
#include "core/clock.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "search/hash.h"
#include "search/threads.h"

namespace varkon {

namespace {

constexpr int HISTORY_LIMIT = 50000;

// Whether the move just made can have put the opponent's king in check: the moved (or
// promoted) piece reaches the king's square, or a line through the king opens where a
// piece left (the mover's square, a pawn taken en passant), or the castling rook moved.
bool may_give_check(const Position& pos, const Move& m) {
    const int row = pos.king_square(pos.side) * 99;
    if (bishop_reach[row + m.from] || rook_reach[row + m.from] || m.castling != 0) return true;
    if (m.ep_square != 0 && (bishop_reach[row + m.ep_square] || rook_reach[row + m.ep_square])) return true;
    switch (std::abs(pos.board[m.to])) {
        case PAWN: return king_reach[row + m.to] != 0;
        case KNIGHT: return knight_reach[row + m.to] != 0;
        case BISHOP: return bishop_reach[row + m.to] != 0;
        case ROOK: return rook_reach[row + m.to] != 0;
        case QUEEN: return bishop_reach[row + m.to] || rook_reach[row + m.to];
        default: return false;
    }
}

// The first root move of an iteration fell outside the window: the output's bound line,
// with the root score (the window's bound) and that move alone.
void report_first_move_bound(SearchWorker& w, const Move& m, bool high) {
    const IterationLine line{w.iteration, w.seldepth, w.root_score, high ? LineBound::lower : LineBound::upper,
                             w.elapsed_cs(), w.stats.nodes, w.stats.egtb_hits, &m, 1};
    w.output().first_move_bound(line, m, high);
}

}  // namespace

std::uint64_t search_nodes(const SearchWorker& w) {
    return w.stats.nodes + (w.poll.threads != nullptr ? w.poll.threads->published_nodes() : 0);
}

std::uint64_t search_tbhits(const SearchWorker& w) {
    return w.stats.egtb_hits + (w.poll.threads != nullptr ? w.poll.threads->published_tbhits() : 0);
}

bool poll(SearchWorker& w) {
    PollState& p = w.poll;
    if (++p.counter <= p.interval) return p.stopped;
    p.counter = 0;
    if (p.stopped) return true;
    if (p.helper) {
        w.publish_counts();
        p.stopped = p.threads->stop_requested();
        return p.stopped;
    }
    const SearchRequest& r = *w.request;
    if (r.poll != nullptr) {
        switch (r.poll()) {
            case PollAction::stop:
                p.stopped = true;
                p.wait_for_stop = false;  // the awaited "stop" has come
                return true;
            case PollAction::ponderhit:
                p.pondering = false;  // from now on under the clock, and the answer need not wait
                p.wait_for_stop = false;
                break;
            case PollAction::none: break;
        }
    }
    if (r.max_nodes != 0 && search_nodes(w) >= r.max_nodes) {
        p.stopped = true;
        return true;
    }
    const bool limited = r.movetime >= 0 || r.clock_limits;
    if (limited && !p.pondering && w.root_best.from != 0 && w.root_best.to != 0 &&
        static_cast<std::int32_t>(now_cs() - p.clock_start) >= p.deadline_cs) {
        p.stopped = true;
        return true;
    }
    return false;
}

int tablebase_score(SearchWorker& w, int depth_plies, bool nalimov_deep_enough) {
    const Position& pos = w.pos;
    const PlyState& s = pos.cur();
    const int pieces = s.pieces + s.pawns;
    const int syzygy = syzygy_cardinality();
    if (pieces <= syzygy && (s.castle[0] | s.castle[1] | s.castle[2] | s.castle[3]) == 0) {
        const SyzygyOptions& o = syzygy_options();
        if ((pos.fifty[pos.game_ply] == 0 || !o.rule50) && (depth_plies >= o.probe_depth || pieces < syzygy)) {
            ++w.stats.egtb_probes;
            TbOutcome r;
            if (syzygy_probe_wdl(pos, r)) {
                ++w.stats.egtb_hits;
                const int wdl = static_cast<int>(r);
                const int decided = o.rule50 ? 2 : 1;   // without the rule, cursed wins are wins
                if (wdl >= decided) return TB_WIN_SCORE - pos.ply;
                if (wdl <= -decided) return pos.ply - TB_WIN_SCORE;
                return wdl;   // a draw; a win or loss the rule spoils scores one point off it
            }
        }
        if (syzygy_holds(pos)) return NO_TB_SCORE;
    }
    if (!nalimov_deep_enough || !egtb_ready() || pieces > egtb_pieces()) return NO_TB_SCORE;
    ++w.stats.egtb_probes;
    const int v = egtb_probe(pos);
    if (v == -1) return NO_TB_SCORE;
    ++w.stats.egtb_hits;
    return v;
}

bool root_move_searched(SearchWorker& w, int i, int& v, int legal, int alpha0, int beta, int& alpha, int& best) {
    Move& moved = w.pos.move_stack[i];
    if (legal == 1 && v <= alpha0) {
        w.root_score = alpha0;
        w.root_best = moved;
        report_first_move_bound(w, moved, false);
        return true;
    }
    moved.score = v >= beta ? beta : v > alpha ? v : alpha0;
    if (v <= best) return false;
    best = v;
    if (v <= alpha) return false;
    w.root_score = v;
    w.root_best = moved;
    update_pv(w, i);
    alpha = v;
    if (v < beta) return false;
    ++w.stats.beta_cutoffs;
    w.root_score = v = beta;
    if (legal == 1) report_first_move_bound(w, moved, true);
    return true;
}

bool is_draw(const Position& pos) {
    const PlyState& s = pos.cur();
    const int game_ply = pos.game_ply;
    const int rule50 = pos.fifty[game_ply];
    if (rule50 >= 100) return true;
    if (s.pawns == 0 && s.mat_value <= piece_value[KNIGHT]) return true;
    if (game_ply > 2) {
        const HashKey* keys = pos.hash_history.data();
        const HashKey key = keys[game_ply];
        const int stop = game_ply - rule50;
        for (int g = game_ply - 2; g >= stop && g >= 1; g -= 2)
            if (keys[g] == key) return true;
    }
    return false;
}

void start_poll_clock(SearchWorker& w, std::uint32_t start, std::int32_t time_alloc, int interval) {
    PollState& p = w.poll;
    p.clock_start = start;
    p.deadline_cs = time_alloc;
    p.interval = interval;
    p.counter = 0;
    p.stopped = false;
}

void extend_deadline(SearchWorker& w, std::int32_t time_alloc) { w.poll.deadline_cs = time_alloc; }

bool surely_legal_and_quiet(const Position& pos, const Move& m) {
    const int own = pos.king_square(pos.side) * 99, enemy = pos.king_square(-pos.side) * 99;
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

void show_line(SearchWorker& w, const IterationLine& line) {
    if (line.multipv <= 1) w.shown_first = line.pv_length > 0 ? line.pv[0] : Move{};
    w.output().iteration(line);
}

void put_root_best_first(SearchWorker& w, int score) {
    Position& pos = w.pos;
    for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i)
        if (same_move(pos.move_stack[i], w.root_best)) {
            pos.move_stack[i].score = score;
            return;
        }
}

bool make_legal_move(SearchWorker& w, int i) {
    Position& pos = w.pos;
    // In check the generator stored only legal moves. Otherwise a move can only expose the
    // mover's king when the king itself moves, when a pawn taken en passant leaves the
    // rank, or when the piece leaves a line through the king.
    const Move& m = pos.move_stack[i];
    const int king = pos.king_square(pos.side);
    const bool test = pos.cur().in_check == 0 &&
                      (m.piece == KING || m.piece == -KING || m.ep_square != 0 ||
                       bishop_reach[king * 99 + m.from] || rook_reach[king * 99 + m.from]);
    make_move(pos, i);
    w.prefetch(pos);
    if (test && king_in_check(pos, -pos.side)) {
        unmake_move(pos, i);
        return false;
    }
    VARKON_ASSERT(!king_in_check(pos, -pos.side));
    VARKON_ASSERT(may_give_check(pos, m) || !king_in_check(pos, pos.side));
    pos.cur().in_check = may_give_check(pos, m) && king_in_check(pos, pos.side);
    return true;
}

void update_pv(SearchWorker& w, int i) {
    const int p = w.pos.ply;
    Move* row = w.pv_table[p];
    Move* next = w.pv_table[p + 1];
    for (int c = p + 1; c < w.pv_length[p + 1]; ++c) {
        row[c] = next[c];
        next[c].from = 0;
    }
    row[p] = w.pos.move_stack[i];
    w.pv_length[p] = w.pv_length[p + 1] > p + 1 ? w.pv_length[p + 1] : p + 1;
}

void select_best(Position& pos, int i) {
    Move* moves = pos.move_stack;
    int best = i, best_score = moves[i].score;
    for (int j = i + 1, end = pos.ply_state[pos.ply + 1].move_start; j < end; ++j)
        if (moves[j].score > best_score) {
            best = j;
            best_score = moves[j].score;
        }
    if (best != i) {
        const Move t = moves[i];
        moves[i] = moves[best];
        moves[best] = t;
    }
}

void credit_history(SearchWorker& w, int i, int depth) {
    const Move& m = w.pos.move_stack[i];
    int& h = w.history[m.from][m.to];
    h += depth * depth;
    if (h > HISTORY_LIMIT)
        for (int from = 21; from <= 98; ++from)
            for (int to = 21; to <= 98; ++to) w.history[from][to] /= 2;
}

int playable_pv_length(SearchWorker& w, void (*visit)(SearchWorker& w, HashKey key, const Move& m)) {
    Position& pos = w.pos;
    int index[MAX_PLY];
    int n = 0;
    for (; n < w.pv_length[0] && n < MAX_PLY - 2; ++n) {
        const Move& m = w.pv_table[0][n];
        int first, last;
        if (n == 0) {
            first = pos.ply_state[0].move_start;
            last = pos.ply_state[1].move_start;
        } else {
            pos.cur().in_check = king_in_check(pos, pos.side);
            generate_moves(pos);
            first = pos.cur().move_start;
            last = pos.ply_state[pos.ply + 1].move_start;
        }
        int found = 0;
        for (int i = first; i < last && found == 0; ++i)
            if (same_move(pos.move_stack[i], m)) found = i;
        if (found == 0) break;
        make_move(pos, found);
        if (king_in_check(pos, -pos.side)) {
            unmake_move(pos, found);
            break;
        }
        if (visit != nullptr) visit(w, pos.hash_history[pos.game_ply - 1], pos.move_stack[found]);
        index[n] = found;
    }
    for (int k = n - 1; k >= 0; --k) unmake_move(pos, index[k]);
    return n;
}

}  // namespace varkon
