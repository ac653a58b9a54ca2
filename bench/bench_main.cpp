// Speed benchmarks of the engine's hot paths. Not a test: it reports figures.
//
//   varkon_bench            run every benchmark
//   varkon_bench perft      perft leaves per second
//   varkon_bench eval       evaluations per second
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/programs.h"
#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/position.h"
#include "eval/eval_classic.h"
#include "frontend/utils.h"
#include "search/hash_classic.h"
#include "search/search.h"

using namespace varkon;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void bench_perft() {
    init_program(varkon_program());
    struct Case {
        const char* name;
        const char* fen[4];
        int depth;
    } cases[] = {
        {"start position", {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "w", "KQkq", "-"}, 6},
        {"kiwipete", {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R", "w", "KQkq", "-"}, 5},
    };
    std::uint64_t all = 0;
    double all_time = 0;
    for (const auto& c : cases) {
        setup_fen(c.fen[0], c.fen[1], c.fen[2], c.fen[3]);
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t n = perft(c.depth);
        const double t = seconds_since(start);
        all += n;
        all_time += t;
        std::printf("perft %-15s depth %d: %11llu leaves in %6.2f s = %6.2f M leaves/s\n", c.name, c.depth,
                    static_cast<unsigned long long>(n), t, n / t / 1e6);
    }
    std::printf("perft total: %.2f M leaves/s\n", all / all_time / 1e6);
}

// Visits the legal move sequences of `depth` plies and evaluates each leaf with
// varkon_classic's evaluation (full window) when `evaluate` is set.
std::uint64_t classic_leaves(int depth, bool evaluate, long long& sum) {
    if (depth == 0) {
        if (evaluate) sum += evaluate_classic(-32000, 32000);
        return 1;
    }
    ply_state[ply].in_check = 0;
    generate_moves();
    const int first = ply_state[ply].move_start, last = ply_state[ply + 1].move_start;
    std::uint64_t n = 0;
    for (int i = first; i < last; ++i) {
        make_move(i);
        if (!king_in_check(-side)) n += classic_leaves(depth - 1, evaluate, sum);
        unmake_move(i);
    }
    return n;
}

// Full evaluations per second of varkon_classic's evaluation at the leaves of two-ply
// trees, as a search meets them: with the start-up Hash of 2 MB the evaluation cache
// (one entry) never answers for a new leaf, and the pawn cache answers when a leaf keeps
// its predecessor's pawns. The time of walking the trees alone is subtracted.
void bench_eval_classic() {
    init_program(classic_program());
    const char* fens[][4] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "w", "KQkq", "-"},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R", "w", "KQkq", "-"},
        {"r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R", "w", "KQ", "-"},
        {"8/5pk1/6p1/3R4/1p5P/1r4P1/5PK1/8", "w", "-", "-"},
        {"2r3k1/1q3ppp/p3p3/1p1nP3/3P4/P2Q1N2/1P3PPP/2R3K1", "b", "-", "-"},
    };
    long long sum = 0;
    std::uint64_t leaves = 0;
    auto pass = [&](bool evaluate) {
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < 4; ++round)
            for (const auto& f : fens) {
                setup_fen(f[0], f[1], f[2], f[3]);
                const std::uint64_t n = classic_leaves(2, evaluate, sum);
                if (evaluate) leaves += n;
            }
        return seconds_since(start);
    };
    // Best of several passes: the machine may be shared.
    stats = SearchStats{};
    double with_eval = 1e9, walk_only = 1e9;
    constexpr int PASSES = 25;
    for (int i = 0; i < PASSES; ++i) {
        with_eval = std::min(with_eval, pass(true));
        walk_only = std::min(walk_only, pass(false));
    }
    const double per_pass = static_cast<double>(leaves) / PASSES, t = with_eval - walk_only;
    std::printf("eval classic: %llu leaves, %llu full evaluations (%llu cache hits), pawn cache %.0f%% hits\n",
                static_cast<unsigned long long>(leaves), static_cast<unsigned long long>(stats.eval_count),
                static_cast<unsigned long long>(stats.eval_hits),
                100.0 * static_cast<double>(stats.phash_hits) / static_cast<double>(leaves));
    std::printf("eval classic: %.2f M evaluations/s (%.0f ns each; checksum %lld)\n", per_pass / t / 1e6,
                t / per_pass * 1e9, sum);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "all";
    if (which == "all" || which == "perft") bench_perft();
    if (which == "all" || which == "eval") bench_eval_classic();
    return 0;
}
