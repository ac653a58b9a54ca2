// Speed benchmarks of the engine's hot paths. Not a test: it reports figures.
//
//   varkon_bench            run every benchmark
//   varkon_bench perft      perft leaves per second
//   varkon_bench eval       full evaluations per second, per program
//   varkon_bench tt         transposition-table stores and probes per second
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apps/programs.h"
#include "core/position.h"
#include "eval/eval.h"
#include "frontend/utils.h"
#include "search/hash.h"

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

// Opening, middlegame and endgame positions for the evaluation benchmark.
const char* const eval_positions[][4] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "w", "KQkq", "-"},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R", "w", "KQkq", "-"},
    {"1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5", "b", "-", "-"},
    {"2q1rr1k/3bbnnp/p2p1pp1/2pPp3/PpP1P1P1/1P2BNNP/2BQ1PRK/7R", "b", "-", "-"},
    {"r1bqk2r/pp2bppp/2p5/3pP3/P2Q1P2/2N1B3/1PP3PP/R4RK1", "b", "kq", "-"},
    {"r2q1rk1/1ppnbppp/p2p1nb1/3Pp3/2P1P1P1/2N2N1P/PPB1QP2/R1B2RK1", "b", "-", "-"},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8", "w", "-", "-"},
    {"8/8/4kpp1/3p1b2/p6P/2B5/6P1/6K1", "b", "-", "-"},
    {"4k3/8/8/8/8/8/5PPP/6KR", "w", "-", "-"},
    {"8/8/8/8/8/8/8/k1K5", "w", "-", "-"},
};

// One line per program whose evaluation is measured.
const struct {
    const char* name;
    const Program& (*program)();
} eval_programs[] = {
    {"varkon", varkon_program},
};

void bench_eval() {
    constexpr int calls_per_position = 300000;
    for (const auto& entry : eval_programs) {
        const Program& p = entry.program();
        if (p.evaluation == nullptr) continue;
        init_program(p);
        long long checksum = 0;
        double seconds = 0;
        for (const auto& fen : eval_positions) {
            setup_fen(fen[0], fen[1], fen[2], fen[3]);
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < calls_per_position; ++i) checksum += evaluate(-32000, 32000);
            seconds += seconds_since(start);
        }
        const double calls = static_cast<double>(calls_per_position) * (sizeof eval_positions / sizeof eval_positions[0]);
        std::printf("eval %-15s %.0f full evaluations in %6.2f s = %6.2f M evaluations/s (checksum %lld)\n",
                    entry.name, calls, seconds, calls / seconds / 1e6, checksum);
    }
}

void bench_tt() {
    init_program(varkon_program());
    hash_resize(HASH_MB_DEFAULT);
    // Keys drawn once beforehand: the loops time the table, not the key generator.
    std::vector<HashKey> keys(1u << 22);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (HashKey& k : keys) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        k = state;
    }
    hash_clear_all();  // brings every page of the table in, so the loops see no page faults
    auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < keys.size(); ++i)
        hash_store(keys[i], static_cast<int>(i % 2001) - 1000, 31, 41, -100, 100, static_cast<int>(i % 20));
    const double store_time = seconds_since(start);

    long long answered = 0;
    start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < keys.size(); ++i)
        answered += hash_probe(keys[i ^ 1], -100, 100, 4, (i & 3) == 0) != NO_HASH_SCORE;
    const double probe_time = seconds_since(start);
    const double n = static_cast<double>(keys.size());
    std::printf("tt   Hash %d MB (%u buckets): %.0f stores in %5.2f s = %6.2f M stores/s\n", hash_mb,
                hash_bucket_count, n, store_time, n / store_time / 1e6);
    std::printf("tt   %.0f probes in %5.2f s = %6.2f M probes/s (%lld answered)\n", n, probe_time,
                n / probe_time / 1e6, answered);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "all";
    if (which == "all" || which == "perft") bench_perft();
    if (which == "all" || which == "eval") bench_eval();
    if (which == "all" || which == "tt") bench_tt();
    return 0;
}
