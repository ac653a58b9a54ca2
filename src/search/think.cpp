#include "search/think.h"

#include <algorithm>

#include "book/book.h"
#include "core/attacks.h"
#include "core/clock.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "egtb/probe_egtb.h"
#include "search/search.h"

namespace varkon {

std::uint32_t time_left = 6000;
std::uint32_t increment = 0;
std::uint32_t moves_left = 30;
int pondering = 0;
std::uint32_t moves_to_go = 30;
std::uint32_t base_time = 6000;
std::uint32_t opponent_clock = 6000;
int analyzing = 0;
int test_suite_mode = 0;
SearchLimits limits;
PollAction (*poll_input)() = nullptr;
PollAction (*wait_input)() = nullptr;
Move root_best;
int root_score = 0;
int iteration = 0;

namespace {

constexpr int ASPIRATION = 20;
constexpr int MAX_ITERATION = 99;

// The records in force, and what the driver keeps of the running search.
struct DriverState {
    const SearchPolicy* policy = nullptr;
    const SearchOutput* output = nullptr;
    std::uint32_t search_start = 0;
    TimeBudget budget{1, 1};
};
DriverState driver;

// Output of a program before any protocol installs its own: nothing at all.
void quiet_line(const IterationLine&) {}
void quiet_move(const Move&, int, int, std::uint32_t) {}
void quiet_bound(const IterationLine&, const Move&, bool) {}
void quiet_root(const Move&) {}
void quiet_note(const char*) {}
const SearchOutput quiet_output = {quiet_line, quiet_move, quiet_bound, quiet_root, quiet_root, play_result, quiet_note};

IterationLine line_of(LineBound bound) {
    IterationLine line;
    line.depth = iteration;
    line.seldepth = seldepth;
    line.score = root_score;
    line.bound = bound;
    line.elapsed_cs = think_elapsed_cs();
    line.nodes = stats.nodes;
    line.tbhits = stats.egtb_hits;
    line.pv = pv_table[0];
    line.pv_length = playable_pv_length();
    return line;
}

void report(LineBound bound) { driver.output->iteration(line_of(bound)); }

// True when the limits given with "go" say the search is complete.
bool limits_reached() {
    if (limits.max_depth > 0 && iteration >= limits.max_depth) return true;
    if (limits.mate_moves > 0 && root_score > MATE_BOUND && (32000 - root_score) / 2 <= limits.mate_moves)
        return true;
    return false;
}

// The first legal root move with the squares of `from`-`to`, or 0.
int legal_root_move(int from, int to) {
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start; ++i) {
        const Move& m = move_stack[i];
        if (m.from != from || m.to != to) continue;
        make_move(i);
        const bool legal = !king_in_check(-side);
        unmake_move(i);
        if (legal) return i;
    }
    return 0;
}

// The root move the opening book chooses, if any.
bool book_move() {
    if (pondering || analyzing || !book_on || fen_loaded || game_ply > driver.policy->book_ply_limit) return false;
    const HashKey key = hash_history[game_ply];
    const BookMove b = book_probe(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32));
    if (b.from == 0) return false;
    const int i = legal_root_move(b.from, b.to);
    if (i == 0) return false;
    root_best = move_stack[i];
    root_score = 0;
    last_bookmove_number = game_ply;
    driver.output->book_move(root_best);
    return true;
}

// Iterative deepening with aspiration windows from the sixth iteration on; a root search
// outside its window is repeated with the window widened on that side.
void iterate() {
    int alpha = -INFINITE_SCORE, beta = INFINITE_SCORE;
    const SearchPolicy& p = *driver.policy;
    for (iteration = 1; iteration <= MAX_ITERATION; ++iteration) {
        if (iteration >= 6) {
            alpha = std::max(-INFINITE_SCORE, root_score - ASPIRATION);
            beta = std::min(INFINITE_SCORE, root_score + ASPIRATION);
        }
        seldepth = iteration;
        if (p.search_root(iteration, alpha, beta) == SEARCH_ABORTED) return;
        if (root_score <= alpha && iteration >= 6) {
            for (int k = 1;; k *= 2) {
                report(LineBound::upper);
                // A fail low late in the move's time earns more time, as long as the clock
                // has it to spare.
                const std::int32_t alloc = driver.budget.alloc;
                if (!pondering && static_cast<std::int64_t>(time_left) - 3LL * alloc > 3000 &&
                    static_cast<std::int32_t>(think_elapsed_cs()) > alloc / 2)
                    extend_deadline(std::min<std::int32_t>(3 * alloc, driver.budget.cap));
                alpha = std::max(-INFINITE_SCORE, root_score - ASPIRATION * k);
                seldepth = iteration;
                if (p.search_root(iteration, alpha, beta) == SEARCH_ABORTED) return;
                if (alpha <= -INFINITE_SCORE || root_score > alpha) break;
            }
        } else if (root_score >= beta && iteration >= 6) {
            for (int k = 1;; k *= 2) {
                report(LineBound::lower);
                beta = std::min(INFINITE_SCORE, root_score + ASPIRATION * k);
                seldepth = iteration;
                if (p.search_root(iteration, alpha, beta) == SEARCH_ABORTED) return;
                if (beta >= INFINITE_SCORE || root_score < beta) break;
            }
        }
        report(LineBound::none);
        if (limits_reached()) return;
    }
}

// Keeps only the root moves named by "searchmoves".
void restrict_root_moves() {
    if (limits.searchmoves.empty()) return;
    int out = ply_state[0].move_start;
    for (int i = out; i < ply_state[1].move_start; ++i)
        for (const Move& m : limits.searchmoves)
            if (same_move(m, move_stack[i])) {
                move_stack[out++] = move_stack[i];
                break;
            }
    ply_state[1].move_start = out;
}

// The first legal root move, for a search stopped before any move was completed.
Move first_legal_root_move() {
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start; ++i) {
        const Move& m = move_stack[i];
        if (legal_root_move(m.from, m.to) == i) return m;
    }
    return Move{};
}

}  // namespace

void set_search_policy(const SearchPolicy& policy) { driver.policy = &policy; }
const SearchPolicy& search_policy() { return *driver.policy; }
void set_search_output(const SearchOutput& out) { driver.output = &out; }
const SearchOutput& search_output() { return driver.output ? *driver.output : quiet_output; }

std::uint32_t think_start_cs() { return driver.search_start; }
std::uint32_t think_elapsed_cs() { return now_cs() - driver.search_start; }

void reset_clock_settings() {
    time_left = 6000;
    increment = 0;
    moves_left = 30;
    pondering = 0;
    moves_to_go = 30;
    base_time = 6000;
    opponent_clock = 6000;
}

void reset_think_state() {
    reset_clock_settings();
    analyzing = 0;
    test_suite_mode = 0;
    limits = SearchLimits{};
    root_best = Move{};
    root_score = 0;
    iteration = 0;
    if (driver.output == nullptr) driver.output = &quiet_output;
    driver.budget = TimeBudget{1, 1};
}

void play_result(const ThinkResult& result) {
    if (result.best.from == 0) return;
    move_stack[0] = result.best;
    play_move(0);
}

void think() {
    if (driver.output == nullptr) driver.output = &quiet_output;
    const SearchPolicy& p = *driver.policy;
    driver.search_start = now_cs();
    reset_stats();
    reset_search_state();
    p.prepare();
    p.tables.clear_for_search();
    egtb_init_once();
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
    restrict_root_moves();
    p.order_root();
    driver.budget = p.allocate_time();
    root_best = Move{};
    root_score = 0;
    iteration = 0;

    ThinkResult result;
    if (book_move()) {
        result.book = true;
    } else if (p.decide_early == nullptr || !p.decide_early(result)) {
        iterate();
    }

    const std::uint32_t spent = std::max<std::uint32_t>(1, think_elapsed_cs());
    stats.nps = stats.nodes * 100 / spent;
    if (root_best.from == 0 || root_best.to == 0) root_best = first_legal_root_move();
    if (limits.wait_for_stop && wait_input != nullptr) {
        while (limits.wait_for_stop) {
            if (wait_input() != PollAction::none) break;
        }
    }
    if (!result.single) {
        result.best = root_best;
        result.score = root_score;
        result.depth = iteration;
        if (!result.book && same_move(pv_table[0][0], root_best) && playable_pv_length() >= 2)
            result.ponder = pv_table[0][1];
    }
    if (p.after_search != nullptr) p.after_search(result);
    driver.output->best_move(result);
}

}  // namespace varkon
