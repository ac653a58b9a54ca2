#include "bench_paths.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "apps/programs.h"
#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "frontend/game.h"
#include "frontend/program.h"
#include "frontend/startup.h"
#include "search/hash.h"
#include "search/hash_classic.h"
#include "search/search.h"
#include "search/search_classic.h"
#include "search/search_tools.h"
#include "search/worker.h"

namespace varkon {

namespace {

// Opening, middlegame and endgame positions; every operation is measured at the leaves
// of the two-ply trees below them.
const char* const path_positions[][4] = {
    {"r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R", "b", "KQkq", "-"},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R", "w", "KQkq", "-"},
    {"r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R", "w", "KQ", "-"},
    {"2q1rr1k/3bbnnp/p2p1pp1/2pPp3/PpP1P1P1/1P2BNNP/2BQ1PRK/7R", "b", "-", "-"},
    {"2r3k1/1q3ppp/p3p3/1p1nP3/3P4/P2Q1N2/1P3PPP/2R3K1", "b", "-", "-"},
    {"8/5pk1/6p1/3R4/1p5P/1r4P1/5PK1/8", "w", "-", "-"},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8", "w", "-", "-"},
};

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The leaves of the legal two-ply trees below the positions, each with its in_check flag
// set as the search sets it, handed to `at_leaf`.
template <typename F>
void walk(SearchWorker& w, int depth, F& at_leaf) {
    Position& pos = w.pos;
    if (depth == 0) {
        at_leaf(w);
        return;
    }
    generate_moves(pos);
    const int first = pos.cur().move_start, last = pos.ply_state[pos.ply + 1].move_start;
    for (int i = first; i < last; ++i) {
        make_move(pos, i);
        if (!king_in_check(pos, -pos.side)) {
            pos.cur().in_check = king_in_check(pos, pos.side);
            walk(w, depth - 1, at_leaf);
        }
        unmake_move(pos, i);
    }
}

template <typename F>
double timed_pass(SearchWorker& w, F at_leaf) {
    const double start = thread_seconds();
    for (const auto& f : path_positions) {
        set_up_game(f[0], f[1], f[2], f[3]);
        copy_game(w.pos, game());
        w.pos.cur().in_check = king_in_check(w.pos, w.pos.side);
        walk(w, 2, at_leaf);
    }
    return thread_seconds() - start;
}

// The processor time of `op` at every leaf less that of `base`, best of several passes
// each (the machine may be shared), in nanoseconds per unit; `units` counts the units of
// one pass of `op`.
template <typename Op, typename Base>
void report(SearchWorker& w, const char* what, const char* unit, Op op, Base base, std::uint64_t& units) {
    constexpr int PASSES = 9;
    double with_op = 1e9, base_only = 1e9;
    std::uint64_t per_pass = 0;
    for (int i = 0; i < PASSES; ++i) {
        units = 0;
        with_op = std::min(with_op, timed_pass(w, op));
        per_pass = units;
        base_only = std::min(base_only, timed_pass(w, base));
    }
    const double t = std::max(with_op - base_only, 1e-9);
    std::printf("paths %-28s %9llu %-12s %7.1f ns each (%6.2f M/s)\n", what, static_cast<unsigned long long>(per_pass),
                unit, t / static_cast<double>(per_pass) * 1e9, static_cast<double>(per_pass) / t / 1e6);
}

int moves_here(const Position& pos) { return pos.ply_state[pos.ply + 1].move_start - pos.cur().move_start; }

void core_paths(SearchWorker& w) {
    Position& pos = w.pos;
    std::uint64_t units = 0;
    auto nothing = [](SearchWorker&) {};
    report(w, "generate (all moves)", "generations",
           [&](SearchWorker&) {
               generate_moves(pos);
               ++units;
           },
           nothing, units);
    report(w, "generate (captures)", "generations",
           [&](SearchWorker&) {
               generate_captures(pos);
               ++units;
           },
           nothing, units);
    auto generate_only = [&](SearchWorker&) { generate_moves(pos); };
    report(w, "make + unmake", "moves",
           [&](SearchWorker&) {
               generate_moves(pos);
               const int first = pos.cur().move_start, last = first + moves_here(pos);
               for (int i = first; i < last; ++i) {
                   make_move(pos, i);
                   unmake_move(pos, i);
               }
               units += static_cast<std::uint64_t>(last - first);
           },
           generate_only, units);
    auto make_all = [&](SearchWorker&) {
        generate_moves(pos);
        const int first = pos.cur().move_start, last = first + moves_here(pos);
        for (int i = first; i < last; ++i) {
            make_move(pos, i);
            unmake_move(pos, i);
        }
    };
    report(w, "legality + check (search)", "moves",
           [&](SearchWorker& sw) {
               generate_moves(pos);
               const int first = pos.cur().move_start, last = first + moves_here(pos);
               for (int i = first; i < last; ++i)
                   if (make_legal_move(sw, i)) unmake_move(pos, i);
               units += static_cast<std::uint64_t>(last - first);
           },
           make_all, units);
    int sink = 0;
    report(w, "pruning test (no make)", "moves",
           [&](SearchWorker&) {
               generate_moves(pos);
               const int first = pos.cur().move_start, last = first + moves_here(pos);
               if (pos.cur().in_check == 0)
                   for (int i = first; i < last; ++i) {
                       const Move& m = pos.move_stack[i];
                       if (m.castling == 0 && m.promotion == 0 && m.ep_square == 0) sink += surely_legal_and_quiet(pos, m);
                   }
               units += static_cast<std::uint64_t>(last - first);
           },
           generate_only, units);
    report(w, "king attack test", "tests",
           [&](SearchWorker&) {
               sink += king_in_check(pos, WHITE) + king_in_check(pos, BLACK);
               units += 2;
           },
           nothing, units);
    report(w, "ordering (select all)", "selections",
           [&](SearchWorker&) {
               generate_moves(pos);
               const int first = pos.cur().move_start, last = first + moves_here(pos);
               for (int i = first; i < last; ++i) pos.move_stack[i].score = (i * 7919) % 1013;
               for (int i = first; i < last; ++i) select_best(pos, i);
               units += static_cast<std::uint64_t>(last - first);
           },
           [&](SearchWorker&) {
               generate_moves(pos);
               const int first = pos.cur().move_start, last = first + moves_here(pos);
               for (int i = first; i < last; ++i) pos.move_stack[i].score = (i * 7919) % 1013;
           },
           units);
    if (sink == -1) std::printf("%d\n", sink);
}

// Quiescence searches from every leaf with a null window at the leaf's material balance
// (most of a search's quiescence searches have a null window), tables emptied before each
// pass, so that every pass searches the same nodes.
void quiescence_path(SearchWorker& w, const char* name, void (*clear_tables)(), int (*qsearch)(SearchWorker&)) {
    SearchRequest request;
    w.request = &request;
    auto base = [&](SearchWorker&) {};
    constexpr int PASSES = 5;
    double best = 1e9, base_only = 1e9;
    std::uint64_t nodes = 0;
    for (int i = 0; i < PASSES; ++i) {
        clear_tables();
        w.eval.clear();
        w.stats = SearchStats{};
        best = std::min(best, timed_pass(w, [&](SearchWorker& sw) { qsearch(sw); }));
        nodes = w.stats.nodes;
        base_only = std::min(base_only, timed_pass(w, base));
    }
    const double t = std::max(best - base_only, 1e-9);
    std::printf("paths %-28s %9llu %-12s %7.1f ns each (%6.2f M/s)\n", name, static_cast<unsigned long long>(nodes),
                "nodes", t / static_cast<double>(nodes) * 1e9, static_cast<double>(nodes) / t / 1e6);
}

// Starts a program with its start-up lines (table sizes) kept off the report.
void start_quietly(const Program& program) {
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    init_program(program);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
}

}  // namespace

void bench_paths() {
    auto w = std::make_unique<SearchWorker>();
    start_quietly(varkon_program());
    core_paths(*w);
    quiescence_path(*w, "quiescence (varkon)", hash_clear_all,
                    [](SearchWorker& sw) {
                        const int m = sw.pos.mat_balance();
                        return quiesce(sw, m - 1, m, false);
                    });
    start_quietly(classic_program());
    quiescence_path(*w, "quiescence (varkon_classic)", hash_classic::wipe,
                    [](SearchWorker& sw) {
                        const int m = sw.pos.mat_balance();
                        return classic_quiesce(sw, m - 1, m);
                    });
}

}  // namespace varkon
