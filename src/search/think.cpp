// The think driver: time allocation, iterative deepening with aspiration windows, the
// root search and the analysis output.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "book/book.h"
#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/output.h"
#include "egtb/probe_egtb.h"
#include "frontend/utils.h"
#include "search/hash.h"
#include "search/search.h"
#include "search/sort_moves.h"

namespace varkon {

std::uint32_t time_left = 6000;
std::uint32_t increment = 0;
std::uint32_t moves_left = 30;
int pondering = 0;
int ponder_option = 1;
SearchLimits limits;
Move root_best;
int root_score = 0;
int iteration = 0;

namespace {

constexpr int ASPIRATION = 20;
constexpr int MAX_ITERATION = 99;

std::uint32_t search_start = 0;
std::int32_t time_alloc = 1;
std::int32_t time_cap = 1;   // no allotment may reach this close to the end of the clock
int root_alpha = -INFINITE_SCORE, root_beta = INFINITE_SCORE;

std::uint32_t elapsed_cs() { return now_cs() - search_start; }

bool same_move(const Move& a, const Move& b) {
    return a.from == b.from && a.to == b.to && a.promotion == b.promotion;
}

}  // namespace

std::int32_t allocate_time() {
    std::uint32_t left = time_left == 0 ? 1 : time_left;
    std::int64_t alloc;
    if (increment != 0)
        alloc = left / 30 + increment / 2;
    else if (moves_left == 0)
        alloc = left / 45;
    else if (moves_left == 1)
        alloc = left / 2;
    else
        alloc = left / (moves_left + 1);
    // Keep a reserve on the clock for the moves to come and for the time the move takes to
    // reach the front end: a tenth of the clock, at least 30 centiseconds (or half the clock
    // when less than a second is left).
    const std::int64_t reserve = std::max<std::int64_t>(left / 10, std::min<std::int64_t>(left / 2, 30));
    time_cap = static_cast<std::int32_t>(std::max<std::int64_t>(1, left - reserve));
    if (alloc > time_cap) alloc = time_cap;
    if (limits.movetime >= 0) alloc = limits.movetime;
    time_alloc = static_cast<std::int32_t>(alloc < 1 ? 1 : alloc);
    stats.time_limit = static_cast<std::uint64_t>(time_alloc);
    const int interval = (left >= 30000 && !pondering && limits.max_nodes == 0) ? 10000 : 500;
    start_poll_clock(search_start, time_alloc, interval);
    return time_alloc;
}

namespace {

void print_pv() {
    for (int c = 0; c < 12 && c < MAX_PLY && pv_table[0][c].from != 0; ++c)
        std::printf("%s ", move_to_text(pv_table[0][c]).s);
}

void print_info(int bound) {
    const std::uint64_t t = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(elapsed_cs()) * 10);
    std::printf("info depth %d seldepth %d", iteration, seldepth);
    const int a = std::abs(root_score);
    if (a <= MATE_BOUND)
        std::printf(" score cp %d", root_score);
    else
        std::printf(" score mate %d", root_score > 0 ? (32000 - a) / 2 : -((32000 - a) / 2));
    if (bound == 1) std::printf(" upperbound ");
    if (bound == 2) std::printf(" lowerbound ");
    std::printf(" time %llu nodes %llu", static_cast<unsigned long long>(t), static_cast<unsigned long long>(stats.nodes));
    if (t >= 1000) std::printf(" nps %llu", static_cast<unsigned long long>(stats.nodes / (t / 1000)));
    std::printf(" pv ");
    print_pv();
    if (stats.egtb_hits != 0) std::printf(" tbhits %llu", static_cast<unsigned long long>(stats.egtb_hits));
    std::printf("\n");
}

int search_root(int depth) {
    ++stats.nodes;
    const int alpha0 = root_alpha, beta = root_beta;
    int alpha = alpha0, best = -INFINITE_SCORE, legal = 0;
    pv_length[0] = 0;
    const int first = ply_state[0].move_start, end = ply_state[1].move_start;
    for (int i = first; i < end; ++i)
        if (same_move(move_stack[i], root_best)) {
            move_stack[i].score = 2000000;
            break;
        }
    for (int i = first; i < end; ++i) {
        select_best(i);
        if (!make_legal_move(i)) continue;
        ++legal;
        const Move& m = move_stack[i];
        if (elapsed_cs() >= 100)
            std::printf("info currmove %s%s currmovenumber %d\n", square_name[m.from], square_name[m.to], legal);
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
        Move& moved = move_stack[i];
        if (legal == 1 && v <= alpha0) {
            root_score = alpha0;
            root_best = moved;
            return v;
        }
        moved.score = v >= beta ? beta : v > alpha ? v : alpha0;
        if (v > best) {
            best = v;
            if (v > alpha) {
                root_score = v;
                root_best = moved;
                update_pv(i);
                alpha = v;
                if (v >= beta) {
                    ++stats.beta_cutoffs;
                    root_score = beta;
                    return beta;
                }
            }
        }
    }
    if (legal > 0) return root_score;
    root_score = ply_state[0].in_check ? -MATE_VALUE : 0;
    return root_score;
}

// True when the limits given with "go" say the search is complete.
bool limits_reached() {
    if (limits.max_depth > 0 && iteration >= limits.max_depth) return true;
    if (limits.mate_moves > 0 && root_score > MATE_BOUND && (32000 - root_score) / 2 <= limits.mate_moves)
        return true;
    return false;
}

// The root move the opening book chooses, if any: the first root move with its squares.
bool book_move() {
    if (pondering || !book_on || fen_loaded || game_ply > 60) return false;
    const HashKey key = hash_history[game_ply];
    const BookMove b = book_probe(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32));
    if (b.from == 0) return false;
    for (int i = ply_state[0].move_start; i < ply_state[1].move_start; ++i) {
        const Move& m = move_stack[i];
        if (m.from != b.from || m.to != b.to) continue;
        make_move(i);
        const bool legal = !king_in_check(-side);
        unmake_move(i);
        if (!legal) continue;
        root_best = m;
        root_score = 0;
        last_bookmove_number = game_ply;
        std::printf("1\t0\t0\t0\t%s%s <bookmove>\n", square_name[m.from], square_name[m.to]);
        return true;
    }
    return false;
}

void iterate() {
    root_best = Move{};
    root_score = 0;
    if (book_move()) return;
    root_alpha = -INFINITE_SCORE;
    root_beta = INFINITE_SCORE;
    for (iteration = 1; iteration <= MAX_ITERATION; ++iteration) {
        if (iteration >= 6) {
            root_alpha = std::max(-INFINITE_SCORE, root_score - ASPIRATION);
            root_beta = std::min(INFINITE_SCORE, root_score + ASPIRATION);
        }
        seldepth = iteration;
        if (search_root(2 * iteration) == SEARCH_ABORTED) return;
        if (root_score <= root_alpha && iteration >= 6) {
            for (int k = 1;; k *= 2) {
                print_info(1);
                if (!pondering && static_cast<std::int64_t>(time_left) - 3LL * time_alloc > 3000 &&
                    static_cast<std::int32_t>(elapsed_cs()) > time_alloc / 2)
                    extend_deadline(std::min<std::int32_t>(3 * time_alloc, time_cap));
                root_alpha = std::max(-INFINITE_SCORE, root_score - ASPIRATION * k);
                seldepth = iteration;
                if (search_root(2 * iteration) == SEARCH_ABORTED) return;
                if (root_alpha <= -INFINITE_SCORE || root_score > root_alpha) break;
            }
        } else if (root_score >= root_beta && iteration >= 6) {
            for (int k = 1;; k *= 2) {
                print_info(2);
                root_beta = std::min(INFINITE_SCORE, root_score + ASPIRATION * k);
                seldepth = iteration;
                if (search_root(2 * iteration) == SEARCH_ABORTED) return;
                if (root_beta >= INFINITE_SCORE || root_score < root_beta) break;
            }
        }
        print_info(0);
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
        make_move(i);
        const bool legal = !king_in_check(-side);
        unmake_move(i);
        if (legal) return move_stack[i];
    }
    return Move{};
}

}  // namespace

void clear_search_state() {
    std::memset(&stats, 0, sizeof stats);
    std::memset(pv_table, 0, sizeof pv_table);
    std::memset(pv_length, 0, sizeof pv_length);
    clear_ordering_tables();
    hash_clear();
}

void think() {
    search_start = now_cs();
    clear_search_state();
    egtb_init_once();
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
    restrict_root_moves();
    score_moves();
    allocate_time();
    iterate();

    const std::uint32_t spent = std::max<std::uint32_t>(1, elapsed_cs());
    stats.nps = stats.nodes * 100 / spent;
    if (root_best.from == 0 || root_best.to == 0) root_best = first_legal_root_move();
    if (limits.wait_for_stop && wait_input != nullptr) {
        while (limits.wait_for_stop) {
            if (wait_input() != PollAction::none) break;
        }
    }
    if (root_best.from == 0) {
        std::printf("\nbestmove 0000\n");
        return;
    }
    std::printf("\nbestmove %s", move_to_text(root_best).s);
    const Move& reply = pv_table[0][1];
    if (ponder_option && same_move(pv_table[0][0], root_best) && reply.from != 0 && reply.to != 0)
        std::printf(" ponder %s", move_to_text(reply).s);
    std::printf("\n");
    move_stack[0] = root_best;
    if (history_has_room()) play_move(0);
}

}  // namespace varkon
