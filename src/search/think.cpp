#include "search/think.h"

#include <algorithm>
#include <memory>

#include "book/book.h"
#include "core/attacks.h"
#include "core/clock.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "egtb/probe_egtb.h"
#include "search/hash.h"
#include "search/search_tools.h"

namespace varkon {

namespace {

constexpr int ASPIRATION = 20;
constexpr int MAX_ITERATION = 99;

void quiet_line(const IterationLine&) {}
void quiet_move(const Move&, int, int, std::uint32_t) {}
void quiet_bound(const IterationLine&, const Move&, bool) {}
void quiet_root(const Move&) {}
void quiet_result(const ThinkResult&) {}
void quiet_note(const char*) {}

// The policy of the running program, and the worker of the main search thread (made at
// start-up, see last_search(); it keeps its storage from one search to the next).
struct Driver {
    const SearchPolicy* policy = nullptr;
    std::unique_ptr<SearchWorker> main;
};
Driver driver;

// One search: the worker, the request and the time budget.
struct Search {
    SearchWorker& w;
    const SearchRequest& r;
    const SearchPolicy& p;
    TimeBudget budget{1, 1, 500};

    IterationLine line_of(LineBound bound) {
        IterationLine line;
        line.depth = w.iteration;
        line.seldepth = w.seldepth;
        line.score = w.root_score;
        line.bound = bound;
        line.elapsed_cs = w.elapsed_cs();
        line.nodes = w.stats.nodes;
        line.tbhits = w.stats.egtb_hits;
        line.pv = w.pv_table[0];
        line.pv_length = playable_pv_length(w);
        return line;
    }

    void report(LineBound bound) { r.output->iteration(line_of(bound)); }

    // True when the limits of the request say the search is complete.
    bool limits_reached() const {
        if (r.max_depth > 0 && w.iteration >= r.max_depth) return true;
        if (r.mate_moves > 0 && w.root_score > MATE_BOUND && (32000 - w.root_score) / 2 <= r.mate_moves) return true;
        return false;
    }

    // The first legal root move with the squares of `from`-`to`, or 0.
    int legal_root_move(int from, int to) {
        Position& pos = w.pos;
        for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) {
            const Move& m = pos.move_stack[i];
            if (m.from != from || m.to != to) continue;
            make_move(pos, i);
            const bool legal = !king_in_check(pos, -pos.side);
            unmake_move(pos, i);
            if (legal) return i;
        }
        return 0;
    }

    // The root move the opening book chooses, if any.
    bool book_move() {
        const Position& pos = w.pos;
        if (r.mode == SearchMode::ponder || r.mode == SearchMode::analysis || !book_options.on || pos.fen_loaded ||
            pos.game_ply > p.book_ply_limit)
            return false;
        const HashKey key = pos.key();
        const BookMove b = book_probe(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32));
        if (b.from == 0) return false;
        const int i = legal_root_move(b.from, b.to);
        if (i == 0) return false;
        w.root_best = pos.move_stack[i];
        w.root_score = 0;
        book_state.last_bookmove_number = pos.game_ply;
        r.output->book_move(w.root_best);
        return true;
    }

    // Iterative deepening with aspiration windows from the sixth iteration on; a root search
    // outside its window is repeated with the window widened on that side.
    void iterate() {
        int alpha = -INFINITE_SCORE, beta = INFINITE_SCORE;
        for (w.iteration = 1; w.iteration <= MAX_ITERATION; ++w.iteration) {
            const int iteration = w.iteration;
            if (iteration >= 6) {
                alpha = std::max(-INFINITE_SCORE, w.root_score - ASPIRATION);
                beta = std::min(INFINITE_SCORE, w.root_score + ASPIRATION);
            }
            w.seldepth = iteration;
            if (p.search_root(w, iteration, alpha, beta) == SEARCH_ABORTED) return;
            if (w.root_score <= alpha && iteration >= 6) {
                for (int k = 1;; k *= 2) {
                    report(LineBound::upper);
                    // A fail low late in the move's time earns more time, as long as the clock
                    // has it to spare; a fixed time per move stays fixed.
                    const std::int32_t alloc = budget.alloc;
                    if (!w.poll.pondering && r.movetime < 0 &&
                        static_cast<std::int64_t>(r.clock.time_left) - 3LL * alloc > 3000 &&
                        static_cast<std::int32_t>(w.elapsed_cs()) > alloc / 2)
                        extend_deadline(w, std::min<std::int32_t>(3 * alloc, budget.cap));
                    alpha = std::max(-INFINITE_SCORE, w.root_score - ASPIRATION * k);
                    w.seldepth = iteration;
                    if (p.search_root(w, iteration, alpha, beta) == SEARCH_ABORTED) return;
                    if (alpha <= -INFINITE_SCORE || w.root_score > alpha) break;
                }
            } else if (w.root_score >= beta && iteration >= 6) {
                for (int k = 1;; k *= 2) {
                    report(LineBound::lower);
                    beta = std::min(INFINITE_SCORE, w.root_score + ASPIRATION * k);
                    w.seldepth = iteration;
                    if (p.search_root(w, iteration, alpha, beta) == SEARCH_ABORTED) return;
                    if (beta >= INFINITE_SCORE || w.root_score < beta) break;
                }
            }
            report(LineBound::none);
            if (limits_reached()) return;
        }
    }

    // Keeps only the root moves named by "searchmoves".
    void restrict_root_moves() {
        if (r.searchmoves.empty()) return;
        Position& pos = w.pos;
        int out = pos.ply_state[0].move_start;
        for (int i = out; i < pos.ply_state[1].move_start; ++i)
            for (const Move& m : r.searchmoves)
                if (same_move(m, pos.move_stack[i])) {
                    pos.move_stack[out++] = pos.move_stack[i];
                    break;
                }
        pos.ply_state[1].move_start = out;
    }

    // The first legal root move, for a search stopped before any move was completed.
    Move first_legal_root_move() {
        const Position& pos = w.pos;
        for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) {
            const Move& m = pos.move_stack[i];
            if (legal_root_move(m.from, m.to) == i) return m;
        }
        return Move{};
    }

    void run(const Position& game) {
        w.start_search(game, r, now_cs());
        w.prefetch = p.tables.prefetch;
        p.prepare(w);
        p.tables.clear_for_search();
        egtb_init_once();
        Position& pos = w.pos;
        pos.ply = 0;
        pos.ply_state[0].move_start = 1;
        pos.ply_state[0].in_check = king_in_check(pos, pos.side);
        generate_moves(pos);
        restrict_root_moves();
        p.order_root(w);
        budget = p.time_budget(r);
        w.stats.time_limit = static_cast<std::uint64_t>(budget.alloc);
        start_poll_clock(w, w.start_cs, budget.alloc, budget.poll_interval);

        ThinkResult result;
        if (book_move()) {
            result.book = true;
        } else if (p.decide_early == nullptr || !p.decide_early(w, result)) {
            iterate();
        }

        const std::uint32_t spent = std::max<std::uint32_t>(1, w.elapsed_cs());
        w.stats.nps = w.stats.nodes * 100 / spent;
        if (w.root_best.from == 0 || w.root_best.to == 0) w.root_best = first_legal_root_move();
        if (w.poll.wait_for_stop && r.wait != nullptr) {
            while (w.poll.wait_for_stop) {
                const PollAction a = r.wait();
                if (a == PollAction::ponderhit) w.poll.pondering = false;
                if (a != PollAction::none) break;
            }
        }
        if (!result.single) {
            result.best = w.root_best;
            result.score = w.root_score;
            result.depth = w.iteration;
            if (!result.book && same_move(w.pv_table[0][0], w.root_best) && playable_pv_length(w) >= 2)
                result.ponder = w.pv_table[0][1];
        }
        if (p.after_search != nullptr) p.after_search(w, result);
        r.output->best_move(result);
    }
};

}  // namespace

const SearchOutput silent_search_output = {quiet_line, quiet_move, quiet_bound, quiet_root,
                                           quiet_root, quiet_result, quiet_note};

void set_search_policy(const SearchPolicy& policy) { driver.policy = &policy; }
const SearchPolicy& search_policy() { return *driver.policy; }

const SearchWorker& last_search() {
    if (!driver.main) driver.main = std::make_unique<SearchWorker>();
    return *driver.main;
}

void play_result(Position& game, const ThinkResult& result) {
    if (result.best.from == 0) return;
    game.move_stack[0] = result.best;
    play_move(game, 0);
}

void think(const Position& game, const SearchRequest& request) {
    if (!driver.main) driver.main = std::make_unique<SearchWorker>();
    Search search{*driver.main, request, *driver.policy};
    search.run(game);
}

}  // namespace varkon
