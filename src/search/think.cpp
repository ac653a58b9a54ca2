#include "search/think.h"

#include <algorithm>
#include <limits>
#include <climits>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "book/book.h"
#include "core/attacks.h"
#include "core/clock.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "egtb/probe_egtb.h"
#include "search/hash.h"
#include "search/search_tools.h"
#include "search/strength.h"
#include "search/tablebase_root.h"
#include "search/threads.h"

namespace varkon {

namespace {

constexpr int ASPIRATION = 20;
constexpr int MAX_ITERATION = 99;
// The short search that scores a move chosen without a search (a book move, the only
// reply): at most this many iterations (all with a full window), in at most a tenth of the
// move's time.
constexpr int SHORT_SEARCH_DEPTH = 5;
constexpr int SHORT_SEARCH_SHARE = 10;
// Nodes between two looks of a helper at the stop flag (and publications of its counts).
constexpr int HELPER_POLL_INTERVAL = 256;
// The fewest nodes between two polls of the main thread when it shares a processor.
constexpr int MIN_MAIN_POLL_INTERVAL = 50;

void quiet_line(const IterationLine&) {}
void quiet_move(const Move&, int, int, std::uint32_t) {}
void quiet_bound(const IterationLine&, const Move&, bool) {}
void quiet_root(const Move&) {}
void quiet_result(const ThinkResult&) {}
void quiet_note(const char*) {}

// The policy of the running program, the worker of the main search thread (made at
// start-up, see last_search(); it keeps its storage from one search to the next) and the
// helper threads.
struct Driver {
    const SearchPolicy* policy = nullptr;
    std::unique_ptr<SearchWorker> main;
    SearchThreads helpers;
};
Driver driver;

// What the helpers of one search share: the game, the main thread's worker, the request
// they search under, the policy, the start time and the threads; and the count-down of the
// helpers still to copy the game (and the root moves the tables narrowed), which the main
// thread waits for before it searches, so that neither is read any more once the main
// thread's reports (which may touch the game) begin.
struct HelperJob {
    const Position* game;
    const SearchWorker* main;
    SearchRequest request;
    const SearchPolicy* policy;
    std::uint32_t start_cs;
    SearchThreads* threads;
    std::latch copied;
};

// The request of a helper: the main thread's limits of depth and root moves, nothing
// printed, no input, no clock (the main thread decides when the search ends).
SearchRequest helper_request(const SearchRequest& r) {
    SearchRequest h = r;
    h.output = &silent_search_output;
    h.poll = nullptr;
    h.wait = nullptr;
    h.wait_for_stop = false;
    h.clock_limits = false;
    h.movetime = -1;
    h.max_nodes = 0;
    h.mate_moves = 0;
    h.line_for_every_move = false;
    h.multipv = 1;
    return h;
}

// Whether helper h leaves out iteration d. Helpers deepen in blocks: helper h takes
// `size` iterations, leaves out as many, and so on, from a phase of its own, so that at any
// time they spread over the main thread's iteration and the next ones: helpers 1 and 2 on
// alternate iterations, 3 to 6 in blocks of two, 7 to 12 of three, 13 to 20 of four
// (then again from helper 21).
bool helper_skips(int h, int d) {
    int i = (h - 1) % 20, size = 1;
    while (i >= 2 * size) {
        i -= 2 * size;
        ++size;
    }
    return (d + i) / size % 2 == 1;
}

// The main thread's poll interval with `threads` threads: when they outnumber the
// processors it runs on a share of one, and looks at its input after proportionally fewer
// nodes of its own, so that a command is answered as soon as with one thread.
int main_poll_interval(int interval, int threads) {
    const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (threads <= processors) return interval;
    return std::max(MIN_MAIN_POLL_INTERVAL, static_cast<int>(static_cast<long long>(interval) * processors / threads));
}

// One search: the worker, the request and the time budget; `helper` is 0 on the main
// thread, else the helper's number.
struct Search {
    SearchWorker& w;
    const SearchRequest& r;
    const SearchPolicy& p;
    int helper = 0;
    TimeBudget budget{1, 1, 500};
    int depth_cap = 0;   // the most iterations of this search; 0: none but the request's
    // Several best lines: each line's last completed root search, best first once an
    // iteration has shown them (made once per search that shows more than one; empty for
    // a search of one line).
    std::vector<CompletedIteration> lines{};
    bool several() const { return !lines.empty(); }

    IterationLine line_of(LineBound bound) {
        IterationLine line;
        line.depth = w.iteration;
        line.seldepth = w.seldepth;
        line.score = reported_root_score(w, w.root_score);
        line.bound = line.score == w.root_score ? bound : LineBound::none;   // the tables' result is exact
        line.elapsed_cs = w.elapsed_cs();
        line.nodes = search_nodes(w);
        line.tbhits = search_tbhits(w);
        line.pv = w.pv_table[0];
        line.pv_length = playable_pv_length(w);
        line.multipv = several() ? 1 : 0;   // among several lines, the root's result is the best
        return line;
    }

    void report(LineBound bound) {
        if (helper == 0) show_line(w, line_of(bound));
    }

    // Keeps the iteration just completed: its depth, move, score and line.
    void complete_iteration() { keep_iteration(w.completed); }
    void keep_iteration(CompletedIteration& c) {
        c.depth = w.iteration;
        c.seldepth = w.seldepth;
        c.score = w.root_score;
        c.best = w.root_best;
        c.pv_length = std::min(w.pv_length[0], MAX_PLY);
        std::copy(w.pv_table[0], w.pv_table[0] + c.pv_length, c.pv);
    }

    // Makes a kept iteration the root's result: its move, score, selective depth and line.
    void take_line(const CompletedIteration& c) {
        w.seldepth = c.seldepth;
        w.root_best = c.best;
        w.root_score = c.score;
        std::copy(c.pv, c.pv + c.pv_length, w.pv_table[0]);
        w.pv_length[0] = c.pv_length;
    }

    // How many root moves are legal.
    int legal_root_moves() {
        Position& pos = w.pos;
        int n = 0;
        for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) n += move_is_legal(pos, i);
        return n;
    }

    // True when the limits of the request say the search is complete.
    bool limits_reached() const {
        if (r.max_depth > 0 && w.iteration >= r.max_depth) return true;
        if (depth_cap > 0 && w.iteration >= depth_cap) return true;
        if (r.mate_moves > 0 && w.root_score > MATE_BOUND && (32000 - w.root_score) / 2 <= r.mate_moves) return true;
        return false;
    }

    // The first legal root move with the squares of `from`-`to`, or 0.
    int legal_root_move(int from, int to) {
        Position& pos = w.pos;
        for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) {
            const Move& m = pos.move_stack[i];
            if (m.from == from && m.to == to && move_is_legal(pos, i)) return i;
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

    // One iteration's root search, with an aspiration window around the root score from the
    // sixth iteration on; a root search outside its window is repeated with the window
    // widened on that side, its bound shown when `show_bounds`. The search of the first (or
    // only) line finishes a first iteration cut short (see finish_first_iteration) and earns
    // more time on a fail low. False when the search was stopped.
    bool search_iteration(int iteration, bool first_line, bool show_bounds) {
        int alpha = -INFINITE_SCORE, beta = INFINITE_SCORE;
        if (iteration >= 6) {
            alpha = std::max(-INFINITE_SCORE, w.root_score - ASPIRATION);
            beta = std::min(INFINITE_SCORE, w.root_score + ASPIRATION);
        }
        w.seldepth = iteration;
        if (p.search_root(w, iteration, alpha, beta) == SEARCH_ABORTED) {
            if (iteration == 1 && first_line && r.line_for_every_move) finish_first_iteration();
            return false;
        }
        if (w.root_score <= alpha && iteration >= 6) {
            for (int k = 1;; k *= 2) {
                if (show_bounds) report(LineBound::upper);
                // A fail low late in the move's time earns more time, as long as the clock
                // has it to spare; a fixed time per move stays fixed.
                const std::int32_t alloc = budget.alloc;
                if (first_line && !w.poll.pondering && r.movetime < 0 &&
                    static_cast<std::int64_t>(r.clock.time_left) - 3LL * alloc > 3000 &&
                    static_cast<std::int32_t>(w.elapsed_cs()) > alloc / 2)
                    extend_deadline(w, std::min<std::int32_t>(3 * alloc, budget.cap));
                alpha = std::max(-INFINITE_SCORE, w.root_score - ASPIRATION * k);
                w.seldepth = iteration;
                if (p.search_root(w, iteration, alpha, beta) == SEARCH_ABORTED) return false;
                if (alpha <= -INFINITE_SCORE || w.root_score > alpha) break;
            }
        } else if (w.root_score >= beta && iteration >= 6) {
            for (int k = 1;; k *= 2) {
                if (show_bounds) report(LineBound::lower);
                beta = std::min(INFINITE_SCORE, w.root_score + ASPIRATION * k);
                w.seldepth = iteration;
                if (p.search_root(w, iteration, alpha, beta) == SEARCH_ABORTED) return false;
                if (beta >= INFINITE_SCORE || w.root_score < beta) break;
            }
        }
        return true;
    }

    // Iterative deepening of one best line, or of several when the request asks for more
    // than one and the root has more than one legal move. A helper leaves iterations out
    // by helper_skips, but never the last the request allows.
    void iterate() {
        const int count = r.multipv > 1 ? std::min(r.multipv, legal_root_moves()) : 1;
        if (count > 1) {
            iterate_lines(count);
            return;
        }
        const int last = r.max_depth > 0 ? std::min(r.max_depth, MAX_ITERATION) : MAX_ITERATION;
        for (w.iteration = 1; w.iteration <= MAX_ITERATION; ++w.iteration) {
            const int iteration = w.iteration;
            if (helper != 0 && iteration < last && helper_skips(helper, iteration)) continue;
            if (!search_iteration(iteration, true, true)) return;
            report(LineBound::none);
            complete_iteration();
            if (limits_reached()) return;
        }
    }

    // Iterative deepening of the `count` best lines. Every iteration searches the root once
    // for each line, line k among the root moves the lines before it did not take (from its
    // own score and line of the iteration before, for its window and ordering), so that each
    // line has a score of its own; then it shows the lines together, best first, and the
    // best one becomes the root's result. Stopped within an iteration after its first line,
    // the search keeps that first line, which was searched among all the moves.
    void iterate_lines(int count) {
        Position& pos = w.pos;
        const int first = pos.ply_state[0].move_start;
        lines.assign(static_cast<std::size_t>(count), CompletedIteration{});
        for (w.iteration = 1; w.iteration <= MAX_ITERATION; ++w.iteration) {
            for (int k = 0; k < count; ++k) {
                CompletedIteration& line = lines[static_cast<std::size_t>(k)];
                take_line(line);
                // The moves of the lines before this one stand at the front of the list,
                // left out of this root search.
                pos.ply_state[0].move_start = first + k;
                const bool searched = search_iteration(w.iteration, k == 0, false);
                pos.ply_state[0].move_start = first;
                if (!searched) {
                    if (k > 0) take_line(lines[0]);
                    return;
                }
                if (w.pv_length[0] == 0 || !same_move(w.pv_table[0][0], w.root_best)) {
                    w.pv_table[0][0] = w.root_best;
                    w.pv_length[0] = 1;
                }
                keep_iteration(line);
                for (int i = first + k; i < pos.ply_state[1].move_start; ++i)
                    if (same_move(pos.move_stack[i], w.root_best)) {
                        std::swap(pos.move_stack[i], pos.move_stack[first + k]);
                        break;
                    }
            }
            std::stable_sort(lines.begin(), lines.end(),
                             [](const CompletedIteration& a, const CompletedIteration& b) { return a.score > b.score; });
            for (int k = 0; k < count; ++k) {
                take_line(lines[static_cast<std::size_t>(k)]);
                IterationLine shown = line_of(LineBound::none);
                shown.multipv = k + 1;
                show_line(w, shown);
            }
            take_line(lines[0]);
            complete_iteration();
            if (limits_reached()) return;
        }
    }

    // A search stopped before its first iteration ended would answer a move it never
    // looked at: the first iteration (a few hundred nodes) is then finished with the stop
    // held back, so that the answer has a searched line and score.
    void finish_first_iteration() {
        PollState& poll = w.poll;
        const int interval = poll.interval;
        poll.stopped = false;
        poll.counter = 0;
        poll.interval = std::numeric_limits<int>::max();
        w.seldepth = 1;
        if (p.search_root(w, 1, -INFINITE_SCORE, INFINITE_SCORE) != SEARCH_ABORTED) report(LineBound::none);
        poll.stopped = true;
        poll.interval = interval;
    }

    // Scores a root move chosen without a search (a book move, the only reply) by a short
    // search of that move alone; the move stays the answer.
    void score_chosen_move(const Move& chosen) {
        Position& pos = w.pos;
        const int first = pos.ply_state[0].move_start;
        for (int i = first; i < pos.ply_state[1].move_start; ++i)
            if (same_move(pos.move_stack[i], chosen)) {
                std::swap(pos.move_stack[first], pos.move_stack[i]);
                break;
            }
        pos.ply_state[1].move_start = first + 1;
        w.root_best = Move{};   // the clock lets the first iteration end
        extend_deadline(w, std::max<std::int32_t>(1, budget.alloc / SHORT_SEARCH_SHARE));
        depth_cap = SHORT_SEARCH_DEPTH;
        iterate();
        w.root_best = pos.move_stack[first];
    }

    // Shows the answer's line when the last line shown does not begin with it: the move
    // became best in an iteration that did not finish (its score and line are those of
    // that iteration so far).
    void show_answer_line(const ThinkResult& result) {
        if (result.best.from == 0 || same_move(w.shown_first, result.best)) return;
        IterationLine line = line_of(LineBound::none);
        line.depth = std::max(1, w.iteration);
        line.score = result.score;
        if (line.pv_length == 0 || !same_move(line.pv[0], result.best)) {
            w.pv_table[0][0] = result.best;
            w.pv_length[0] = 1;
            line.pv_length = playable_pv_length(w);
        }
        show_line(w, line);
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

    // The root moves of the game position, generated, restricted and ordered.
    void set_up_root() {
        Position& pos = w.pos;
        pos.ply = 0;
        pos.ply_state[0].move_start = 1;
        pos.ply_state[0].in_check = king_in_check(pos, pos.side);
        generate_moves(pos);
        restrict_root_moves();
        p.order_root(w);
    }

    // A helper's share of a search: the same root, its own iterations, until the last
    // iteration allowed or the threads' stop flag.
    void run_helper(const Position& game, const SearchWorker& main, std::uint32_t start, SearchThreads& threads,
                    std::latch& copied) {
        w.start_search(game, r, start);
        w.prefetch = p.tables.prefetch;
        p.prepare(w);
        set_up_root();
        share_narrowed_root(main);
        copied.count_down();
        start_poll_clock(w, start, INT32_MAX, HELPER_POLL_INTERVAL);
        w.poll.threads = &threads;
        w.poll.helper = true;
        if (!threads.stop_requested()) iterate();
        w.publish_counts();
    }

    // When the tables narrowed the main thread's root moves, the helper searches the same
    // moves (read while the main thread waits for the helpers to start, so it changes
    // nothing meanwhile).
    void share_narrowed_root(const SearchWorker& main) {
        if (!main.root_tables.decided) return;
        Position& pos = w.pos;
        const int first = pos.ply_state[0].move_start;
        const int from = main.pos.ply_state[0].move_start, end = main.pos.ply_state[1].move_start;
        std::copy(main.pos.move_stack + from, main.pos.move_stack + end, pos.move_stack + first);
        pos.ply_state[1].move_start = first + (end - from);
        w.root_tables = main.root_tables;
    }

    // When a helper completed a deeper iteration than the main thread, its result is the
    // search's: the move, score and line of that iteration, reported as the last line.
    void adopt_deeper_helper(SearchThreads& threads) {
        const CompletedIteration* deepest = nullptr;
        for (int h = 1; h <= threads.helpers(); ++h) {
            const CompletedIteration& c = threads.worker(h).completed;
            if (c.depth > (deepest != nullptr ? deepest->depth : w.completed.depth) && c.best.from != 0) deepest = &c;
        }
        if (deepest == nullptr) return;
        w.completed = *deepest;
        w.iteration = deepest->depth;
        take_line(*deepest);
        report(LineBound::none);
    }

    // The iterations, with the helpers searching beside the main thread when there are
    // any (a search of limited strength runs alone). After the main thread's last
    // iteration the helpers are stopped and waited for, and their counts are added to the
    // main thread's.
    void deepen(const Position& game) {
        SearchThreads& threads = driver.helpers;
        if (threads.helpers() == 0 || r.strength_elo > 0) {
            iterate();
            return;
        }
        HelperJob job{&game, &w, helper_request(r), &p, w.start_cs, &threads, std::latch(threads.helpers())};
        w.poll.threads = &threads;
        w.poll.interval = main_poll_interval(w.poll.interval, threads.helpers() + 1);
        threads.start(
            [](SearchWorker& hw, int h, void* context) {
                HelperJob& j = *static_cast<HelperJob*>(context);
                Search helper_search{hw, j.request, *j.policy, h};
                helper_search.run_helper(*j.game, *j.main, j.start_cs, *j.threads, j.copied);
            },
            &job);
        job.copied.wait();
        iterate();
        threads.stop();
        threads.wait();
        w.poll.threads = nullptr;
        for (int h = 1; h <= threads.helpers(); ++h) add_counts(w.stats, threads.worker(h).stats);
        // Several lines are the main thread's alone: a helper's deeper line would come
        // without the others.
        if (!several()) adopt_deeper_helper(threads);
    }

    void run(const Position& game) {
        w.start_search(game, r, now_cs());
        w.prefetch = p.tables.prefetch;
        p.prepare(w);
        p.tables.clear_for_search();
        egtb_init_once();
        set_up_root();
        budget = p.time_budget(r);
        w.stats.time_limit = static_cast<std::uint64_t>(budget.alloc);
        start_poll_clock(w, w.start_cs, budget.alloc, budget.poll_interval);

        ThinkResult result;
        if (book_move()) {
            result.book = true;
            if (r.line_for_every_move) score_chosen_move(w.root_best);
        } else if (p.decide_early == nullptr || !p.decide_early(w, result)) {
            narrow_root_by_tables(w);
            deepen(game);
        } else if (result.single && r.line_for_every_move) {
            score_chosen_move(result.best);
            result.score = w.root_score;
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
            if (!result.book) choose_weaker_root_move(w, p.search_root, r);
            result.best = w.root_best;
            result.score = reported_root_score(w, w.root_score);
            result.depth = w.iteration;
            if (!result.book && same_move(w.pv_table[0][0], w.root_best) && playable_pv_length(w) >= 2)
                result.ponder = w.pv_table[0][1];
        }
        if (p.after_search != nullptr) p.after_search(w, result);
        if (r.line_for_every_move) show_answer_line(result);
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

int set_search_threads(int threads) {
    return driver.helpers.resize(std::clamp(threads, 1, MAX_SEARCH_THREADS) - 1) + 1;
}

int search_threads() { return driver.helpers.helpers() + 1; }

bool search_helpers_busy() { return driver.helpers.busy(); }

void think(const Position& game, const SearchRequest& request) {
    if (!driver.main) driver.main = std::make_unique<SearchWorker>();
    if (request.strength_elo > 0) {
        const SearchRequest limited = limited_request(request);
        Search search{*driver.main, limited, *driver.policy};
        search.run(game);
        return;
    }
    Search search{*driver.main, request, *driver.policy};
    search.run(game);
}

}  // namespace varkon
