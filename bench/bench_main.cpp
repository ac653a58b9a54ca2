// Speed benchmarks of the engine's hot paths. Not a test: it reports figures.
//
//   varkon_bench            run every benchmark
//   varkon_bench perft      perft leaves per second
//   varkon_bench book       book builder: games per second and records written for the
//                           collections in data/ and tests/data/, beside Debian's
//                           `polyglot make-book` on the same files when it is installed
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/programs.h"
#include "book/book.h"
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

// The polyglot program, when installed (Debian puts it in /usr/games).
std::string find_polyglot() {
    for (const char* p : {"/usr/games/polyglot", "/usr/bin/polyglot", "/usr/local/bin/polyglot"})
        if (access(p, X_OK) == 0) return p;
    return "";
}

long file_records(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size / 16) : -1;
}

void bench_book() {
    init_program(varkon_program());
    const std::string src = VARKON_SOURCE_DIR;
    const std::string files[] = {src + "/data/eco-openings.pgn", src + "/tests/data/selfplay-games.pgn"};
    const std::string polyglot = find_polyglot();
    char dir[] = "/tmp/varkon_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    const std::string out = std::string(dir) + "/book.dat";
    constexpr int runs = 5;  // the best of five runs of each
    constexpr int min_count = 1;
    std::printf("book build, first 60 half-moves, minimum count %d, best of %d runs\n", min_count, runs);
    for (const std::string& pgn : files) {
        const char* name = std::strrchr(pgn.c_str(), '/') + 1;
        double best = 1e9;
        BookBuildCounts counts;
        for (int i = 0; i < runs; ++i) {
            std::fflush(stdout);
            const int saved = dup(1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            close(null);
            const auto start = std::chrono::steady_clock::now();
            build_book(pgn, out, min_count, 0, &counts);
            std::fflush(stdout);
            const double t = seconds_since(start);
            dup2(saved, 1);
            close(saved);
            if (t < best) best = t;
        }
        std::printf("varkon   %-20s %6d games in %6.3f s = %8.0f games/s, %6d records written\n", name, counts.games,
                    best, counts.games / best, counts.book_moves);
        if (polyglot.empty()) continue;
        const std::string bin = std::string(dir) + "/book.bin";
        const std::string command = polyglot + " make-book -pgn '" + pgn + "' -bin '" + bin +
                                    "' -max-ply 60 -min-game " + std::to_string(min_count) + " >/dev/null 2>&1";
        double pbest = 1e9;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (std::system(command.c_str()) != 0) break;
            const double t = seconds_since(start);
            if (t < pbest) pbest = t;
        }
        std::printf("polyglot %-20s %6d games in %6.3f s = %8.0f games/s, %6ld records written  (varkon %.2fx its speed)\n",
                    name, counts.games, pbest, counts.games / pbest, file_records(bin), pbest / best);
        std::remove(bin.c_str());
    }
    if (polyglot.empty()) std::printf("polyglot not installed: no comparison\n");
    std::remove(out.c_str());
    rmdir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "all";
    if (which == "all" || which == "perft") bench_perft();
    if (which == "all" || which == "book") bench_book();
    return 0;
}
