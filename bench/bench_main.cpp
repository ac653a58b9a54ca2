// Speed benchmarks of the engine's hot paths. Not a test: it reports figures.
//
//   varkon_bench            run every benchmark
//   varkon_bench perft      perft leaves per second
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/programs.h"
#include "core/position.h"
#include "frontend/utils.h"

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

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "all";
    if (which == "all" || which == "perft") bench_perft();
    return 0;
}
