// Speed benchmarks of the engine's hot paths. Not a test: it reports figures.
//
//   varkon_bench            run every benchmark
//   varkon_bench perft      perft leaves per second
//   varkon_bench eval       full evaluations per second, per program
//   varkon_bench paths      the hot paths one by one: generation, make/unmake, legality and
//                           check tests, move selection, quiescence of both programs
//   varkon_bench tt         transposition-table stores and probes per second
//   varkon_bench search     fixed-depth searches: the node-count signature, nodes per second
//   varkon_bench classic    the same for varkon_classic's own search (its Hash setting, 2 MB)
//   varkon_bench threads [R] the parallel search: nodes per second and time to a fixed depth
//                           on the bench positions with 1, 2 (and more) threads, best of R
//                           rounds; the time quit takes during a search on 64 threads
//   varkon_bench epd [T] [F] tactical test set F (Bratko-Kopec by default) at T centiseconds a
//                           position (default 100), for both programs; not part of "all";
//                           VARKON_BENCH_NODES=N stops each search after N nodes as well
//                           (a measure the load of the machine does not change)
//   varkon_bench book       book builder: games per second and records written for the
//                           collections in data/ and tests/data/, beside Debian's
//                           `polyglot make-book` on the same files when it is installed
//   varkon_bench book-large [N [FILE]]  book builder on N generated games (default 50000;
//                           1e6 for a million): time, processor time, peak memory and
//                           games per second, beside polyglot's; FILE keeps the collection
//                           (an existing FILE is used as it is)
//   varkon_bench egtb [DIR] tablebase generator: the 35 three- and four-piece tables, then
//                           probes per second through the block cache (in DIR, or a
//                           temporary directory removed afterwards)
//   varkon_bench egtb5 [DIR [SIG]]  the same, then one five-piece table (krbkr)
//   varkon_bench syzygy [DIR] Syzygy tables (tests/data/syzygy by default): the time to load
//                           them, win/draw/loss probes per second cold and hot, then both
//                           programs' searches of 6-8 piece positions with and without them
//   varkon_bench tbgen [DIR [J]]  tablebase generator on J threads (default: every core):
//                           the 35 three- and four-piece tables, then krbkr in a process
//                           of its own (time, processor time, peak memory)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <thread>
#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "apps/programs.h"
#include "bench_paths.h"
#include "book/book.h"
#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/notation.h"
#include "core/perft.h"
#include "core/position.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "egtb/tbgen.h"
#include "egtb/tbindex.h"
#include "eval/eval.h"
#include "frontend/game.h"
#include "frontend/program.h"
#include "frontend/startup.h"
#include "game_generator.h"
#include "search/hash.h"
#include "search/hash_classic.h"
#include "search/search_tools.h"
#include "search/think.h"

using namespace varkon;

namespace {

// The depth of varkon_classic's search signature.
constexpr int CLASSIC_BENCH_DEPTH = 8;

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
        set_up_game(c.fen[0], c.fen[1], c.fen[2], c.fen[3]);
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t n = perft(game(), c.depth).nodes;
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
    {"r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R", "w", "KQ", "-"},
    {"2q1rr1k/3bbnnp/p2p1pp1/2pPp3/PpP1P1P1/1P2BNNP/2BQ1PRK/7R", "b", "-", "-"},
    {"2r3k1/1q3ppp/p3p3/1p1nP3/3P4/P2Q1N2/1P3PPP/2R3K1", "b", "-", "-"},
    {"8/5pk1/6p1/3R4/1p5P/1r4P1/5PK1/8", "w", "-", "-"},
    {"8/8/4kpp1/3p1b2/p6P/2B5/6P1/6K1", "b", "-", "-"},
};

// One line per program whose evaluation is measured, with how to empty its caches.
const struct {
    const char* name;
    const Program& (*program)();
    void (*clear_caches)();
} eval_programs[] = {
    {"varkon", varkon_program, hash_clear_all},
    {"varkon_classic", classic_program, hash_classic::wipe},
};

// The evaluation of one program at the leaves of a tree.
struct LeafVisit {
    Position& pos;
    EvalState& state;
    SearchStats& stats;
    const Program& program;

    // Visits the legal move sequences of `depth` plies and, when `with_eval` is set,
    // evaluates each leaf with the full window, as a search meets its leaves.
    std::uint64_t leaves(int depth, bool with_eval, long long& sum) {
        if (depth == 0) {
            if (with_eval) sum += program.evaluation(pos, state, stats, -32000, 32000);
            return 1;
        }
        pos.cur().in_check = 0;
        generate_moves(pos);
        const int first = pos.cur().move_start, last = pos.ply_state[pos.ply + 1].move_start;
        std::uint64_t n = 0;
        for (int i = first; i < last; ++i) {
            make_move(pos, i);
            if (!king_in_check(pos, -pos.side)) n += leaves(depth - 1, with_eval, sum);
            unmake_move(pos, i);
        }
        return n;
    }
};

// Full evaluations per second at the leaves of two-ply trees, from empty caches: they
// answer as they would in a search (the pawn cache when a leaf keeps its predecessor's pawns). The time
// of walking the trees alone is subtracted; the best of several passes is kept because
// the machine may be shared.
void bench_eval() {
    constexpr int PASSES = 15;
    for (const auto& entry : eval_programs) {
        init_program(entry.program());
        long long sum = 0;
        std::uint64_t leaves = 0;
        EvalState state;
        SearchStats stats;
        LeafVisit visit{game(), state, stats, entry.program()};
        auto pass = [&](bool with_eval) {
            entry.clear_caches();  // every pass meets the caches as a new search would
            state.clear();
            leaves = 0;
            const auto start = std::chrono::steady_clock::now();
            for (const auto& f : eval_positions) {
                set_up_game(f[0], f[1], f[2], f[3]);
                leaves += visit.leaves(2, with_eval, sum);
            }
            return seconds_since(start);
        };
        double with_eval = 1e9, walk_only = 1e9;
        for (int i = 0; i < PASSES; ++i) {
            with_eval = std::min(with_eval, pass(true));
            walk_only = std::min(walk_only, pass(false));
        }
        const double t = with_eval - walk_only;
        std::printf("eval %-15s %llu leaves a pass, %llu full evaluations, pawn cache %.0f%% hits: "
                    "%6.2f M evaluations/s (%.0f ns each; checksum %lld)\n",
                    entry.name, static_cast<unsigned long long>(leaves),
                    static_cast<unsigned long long>(stats.eval_count),
                    100.0 * static_cast<double>(stats.phash_hits) / static_cast<double>(leaves * PASSES),
                    static_cast<double>(leaves) / t / 1e6, t / static_cast<double>(leaves) * 1e9, sum);
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
    SearchStats stats;
    auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < keys.size(); ++i)
        hash_store(keys[i], static_cast<int>(i % 2001) - 1000, 31, 41, -100, 100, static_cast<int>(i % 20), 1, stats);
    const double store_time = seconds_since(start);

    long long answered = 0;
    HashMove move{};
    start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < keys.size(); ++i)
        answered += hash_probe(keys[i ^ 1], -100, 100, 4, (i & 3) == 0, move) != NO_HASH_SCORE;
    const double probe_time = seconds_since(start);
    const double n = static_cast<double>(keys.size());
    std::printf("tt   Hash %d MB (%u buckets): %.0f stores in %5.2f s = %6.2f M stores/s\n", hash_size_mb(),
                hash_bucket_count(), n, store_time, n / store_time / 1e6);
    std::printf("tt   %.0f probes in %5.2f s = %6.2f M probes/s (%lld answered)\n", n, probe_time,
                n / probe_time / 1e6, answered);
}

// The positions of the search benchmarks.
const char* const search_positions[][4] = {
    {"2rr2k1/1b3ppp/pb2p3/1p2P3/1P2BPnq/P1N3P1/1B2Q2P/R4R1K", "b", "-", "-"},
    {"1r1q2k1/R4p2/3Pb2p/4Q1p1/1p2B3/2p3P1/1P3P1P/6K1", "w", "-", "-"},
    {"r4rk1/2p1b1p1/p3q3/np1p4/3P1BR1/2P2Q1P/P1B2P2/R6K", "w", "-", "-"},
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "w", "KQkq", "-"},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R", "w", "KQkq", "-"},
    {"r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R", "w", "KQ", "-"},
    {"8/5pk1/6p1/3R4/1p5P/1r4P1/5PK1/8", "w", "-", "-"},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8", "w", "-", "-"},
};

// Fixed-depth searches of fixed positions from empty tables, by one program. The total
// node count is the signature of the program's search and evaluation: it changes only when
// one of them does. Nodes per second are given by the wall clock and by the processor
// time of the process (the machine may be shared).
void bench_search(const char* name, const Program& program, void (*clear_tables)(), int depth) {
    const auto& positions = search_positions;
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    init_program(program);
    if (const char* mb = std::getenv("VARKON_BENCH_HASH")) program.search->tables.allocate(std::atoi(mb));
    std::fflush(stdout);
    dup2(saved, 1);
    std::uint64_t total = 0;
    double total_time = 0, total_cpu = 0;
    for (const auto& f : positions) {
        set_up_game(f[0], f[1], f[2], f[3]);
        clear_tables();
        SearchRequest request;
        request.max_depth = depth;
        request.clock_limits = false;
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu_start = std::clock();
        think(game(), request);
        const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
        const double t = seconds_since(start);
        const SearchStats& stats = last_search().stats;
        total += stats.nodes;
        total_time += t;
        total_cpu += cpu;
        std::printf("%s depth %d: %10llu nodes in %6.2f s = %5.2f M nodes/s  %s %s\n", name, depth,
                    static_cast<unsigned long long>(stats.nodes), t, static_cast<double>(stats.nodes) / t / 1e6,
                    f[0], f[1]);
    }
    close(saved);
    close(null);
    std::printf("%s signature (depth %d): %llu nodes; %.2f s; %.2f M nodes/s (%.2f M nodes per processor second)\n",
                name, depth, static_cast<unsigned long long>(total), total_time,
                static_cast<double>(total) / total_time / 1e6, static_cast<double>(total) / total_cpu / 1e6);
}

// The moves an EPD line names after `tag` ("bm" or "am"), up to the next ";", as SAN
// without check, mate and annotation signs.
std::vector<std::string> epd_moves(const std::string& line, const std::string& tag) {
    std::vector<std::string> moves;
    const std::size_t at = line.find(" " + tag + " ");
    if (at == std::string::npos) return moves;
    const std::size_t end = line.find(';', at);
    std::string list = line.substr(at + tag.size() + 2, end == std::string::npos ? std::string::npos : end - at - tag.size() - 2);
    std::string word;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        const char c = i < list.size() ? list[i] : ' ';
        if (c != ' ') {
            if (std::strchr("+#!?", c) == nullptr) word += c;
            continue;
        }
        if (!word.empty()) moves.push_back(word);
        word.clear();
    }
    return moves;
}

// A tactical test set at a fixed time per position, for both programs: a position counts
// as solved when the move chosen is one of its best moves (bm) and none of its moves to
// avoid (am).
void bench_epd(int centiseconds, const std::string& path) {
    std::vector<std::string> lines;
    {
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (f == nullptr) {
            std::printf("epd: cannot open %s\n", path.c_str());
            return;
        }
        char buf[1024];
        while (std::fgets(buf, sizeof buf, f)) lines.emplace_back(buf, std::strcspn(buf, "\r\n"));
        std::fclose(f);
    }
    const struct {
        const char* name;
        const Program& (*program)();
    } programs[] = {{"varkon", varkon_program}, {"varkon_classic", classic_program}};
    for (const auto& p : programs) {
        std::fflush(stdout);
        const int saved = dup(1), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        init_program(p.program());
        book_options.on = 0;
        int solved = 0, total = 0;
        std::string missed;
        for (const std::string& line : lines) {
            char fen[4][100];
            if (std::sscanf(line.c_str(), "%99s %99s %99s %99s", fen[0], fen[1], fen[2], fen[3]) != 4) continue;
            if (!set_up_game(fen[0], fen[1], fen[2], fen[3])) continue;
            Position& pos = game();
            std::vector<Move> best_moves, avoid_moves;
            for (const std::string& m : epd_moves(line, "bm"))
                if (const int i = find_san_move(pos, m.c_str()); i != 0) best_moves.push_back(pos.move_stack[i]);
            for (const std::string& m : epd_moves(line, "am"))
                if (const int i = find_san_move(pos, m.c_str()); i != 0) avoid_moves.push_back(pos.move_stack[i]);
            p.program().search->tables.clear_all();
            SearchRequest request;
            request.movetime = centiseconds;
            request.clock_limits = false;
            if (const char* n = std::getenv("VARKON_BENCH_NODES")) request.max_nodes = std::strtoull(n, nullptr, 10);
            think(pos, request);
            const Move chosen = last_search().root_best;
            bool ok = !best_moves.empty() || !avoid_moves.empty();
            for (const Move& m : avoid_moves) ok = ok && !same_move(m, chosen);
            if (!best_moves.empty()) {
                bool found = false;
                for (const Move& m : best_moves) found = found || same_move(m, chosen);
                ok = ok && found;
            }
            ++total;
            solved += ok;
            if (!ok) {
                const std::size_t id = line.find("id ");
                missed += " " + (id == std::string::npos ? std::to_string(total) : line.substr(id + 3, line.find(';', id) - id - 3));
            }
        }
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(null);
        std::printf("epd %-15s %d of %d solved at %d.%02d s a position (%s); missed:%s\n", p.name, solved, total,
                    centiseconds / 100, centiseconds % 100, path.c_str(), missed.c_str());
    }
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

// CPU seconds (user and system) used so far by this process or by its waited-for children.
double cpu_seconds(int who) {
    rusage u;
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The parallel search: for each program, the bench positions searched to the signature
// depth from empty tables with 1, 2 (and, where the machine has more processors, up to
// their number of) threads; the time to reach the depth and the nodes per second (all
// threads' nodes over the wall time), summed over the positions, each the best of
// `rounds` rounds (rounds alternate between the thread counts, so that each meets the same
// load of a shared machine). Then the time `quit` takes to end varkon in the middle of a
// search on 64 threads.
void bench_threads(int rounds) {
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    std::vector<int> counts = {1, 2};
    for (int n = 4; n <= static_cast<int>(processors); n *= 2) counts.push_back(n);
    const struct {
        const char* name;
        const Program& (*program)();
        int depth;
    } programs[] = {{"varkon", varkon_program, 10}, {"varkon_classic", classic_program, CLASSIC_BENCH_DEPTH}};
    std::printf("threads: %u processors; best of %d round(s)\n", processors, rounds);
    for (const auto& p : programs) {
        std::fflush(stdout);
        const int saved = dup(1), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        init_program(p.program());
        std::fflush(stdout);
        dup2(saved, 1);
        std::vector<double> best_time(counts.size(), 1e30), best_nps(counts.size(), 0), cpu_of_best(counts.size(), 0);
        for (int round = 0; round < rounds; ++round)
            for (std::size_t c = 0; c < counts.size(); ++c) {
                set_search_threads(counts[c]);
                std::uint64_t nodes = 0;
                double wall = 0, cpu = 0;
                for (const auto& f : search_positions) {
                    set_up_game(f[0], f[1], f[2], f[3]);
                    p.program().search->tables.clear_all();
                    SearchRequest request;
                    request.max_depth = p.depth;
                    request.clock_limits = false;
                    dup2(null, 1);
                    const double cpu_start = cpu_seconds(RUSAGE_SELF);
                    const auto start = std::chrono::steady_clock::now();
                    think(game(), request);
                    wall += seconds_since(start);
                    cpu += cpu_seconds(RUSAGE_SELF) - cpu_start;
                    std::fflush(stdout);
                    dup2(saved, 1);
                    nodes += last_search().stats.nodes;
                }
                const double nps = static_cast<double>(nodes) / wall;
                std::printf("%s depth %d, %d thread(s), round %d: %llu nodes in %.2f s (processor %.2f s) = %.2f M nodes/s\n",
                            p.name, p.depth, counts[c], round + 1, static_cast<unsigned long long>(nodes), wall, cpu,
                            nps / 1e6);
                std::fflush(stdout);   // before the next search sends standard output to /dev/null
                if (wall < best_time[c]) {
                    best_time[c] = wall;
                    cpu_of_best[c] = cpu;
                }
                best_nps[c] = std::max(best_nps[c], nps);
            }
        for (std::size_t c = 1; c < counts.size(); ++c)
            std::printf("%s: %d threads: nodes per second %.2fx those of 1 thread, time to depth %d %.2fx\n", p.name,
                        counts[c], best_nps[c] / best_nps[0], p.depth, best_time[c] / best_time[0]);
        set_search_threads(1);
        close(saved);
        close(null);
    }
    // quit during a search on 64 threads.
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return;
    const std::string program = std::filesystem::path(self).parent_path() / "varkon";
    std::FILE* engine = popen((program + " >/dev/null").c_str(), "w");
    if (engine == nullptr) return;
    std::fputs("uci\nsetoption name Threads value 64\nposition startpos\ngo infinite\n", engine);
    std::fflush(engine);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto start = std::chrono::steady_clock::now();
    std::fputs("quit\n", engine);
    std::fflush(engine);
    const int status = pclose(engine);
    std::printf("quit during a search on 64 threads: the process ended after %.0f ms (exit status %d)\n",
                seconds_since(start) * 1000, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

// The builder beside polyglot on each collection. Their runs alternate, so that both meet
// the same load on a shared machine; the best wall time and the best CPU time of each count.
void bench_book() {
    init_program(varkon_program());
    const std::string src = VARKON_SOURCE_DIR;
    const std::string files[] = {src + "/data/eco-openings.pgn", src + "/tests/data/selfplay-games.pgn"};
    const std::string polyglot = find_polyglot();
    char dir[] = "/tmp/varkon_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    const std::string out = std::string(dir) + "/book.dat", bin = std::string(dir) + "/book.bin";
    constexpr int runs = 10;
    constexpr int min_count = 1;
    std::printf("book build, first 60 half-moves, minimum count %d, best of %d runs (wall / CPU)\n", min_count, runs);
    for (const std::string& pgn : files) {
        const char* name = std::strrchr(pgn.c_str(), '/') + 1;
        const std::string command = polyglot + " make-book -pgn '" + pgn + "' -bin '" + bin +
                                    "' -max-ply 60 -min-game " + std::to_string(min_count) + " >/dev/null 2>&1";
        double best = 1e9, best_cpu = 1e9, pbest = 1e9, pbest_cpu = 1e9;
        BookBuildCounts counts;
        for (int i = 0; i < runs; ++i) {
            std::fflush(stdout);
            const int saved = dup(1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            close(null);
            double cpu = cpu_seconds(RUSAGE_SELF);
            auto start = std::chrono::steady_clock::now();
            build_book(pgn, out, min_count, 0, &counts);
            std::fflush(stdout);
            best = std::min(best, seconds_since(start));
            best_cpu = std::min(best_cpu, cpu_seconds(RUSAGE_SELF) - cpu);
            dup2(saved, 1);
            close(saved);
            if (polyglot.empty()) continue;
            cpu = cpu_seconds(RUSAGE_CHILDREN);
            start = std::chrono::steady_clock::now();
            if (std::system(command.c_str()) != 0) continue;
            pbest = std::min(pbest, seconds_since(start));
            pbest_cpu = std::min(pbest_cpu, cpu_seconds(RUSAGE_CHILDREN) - cpu);
        }
        std::printf("varkon   %-20s %6lld games in %6.3f s / %6.3f s = %8.0f games/s, %6lld records written\n", name,
                    counts.games, best, best_cpu, static_cast<double>(counts.games) / best, counts.book_moves);
        if (polyglot.empty()) continue;
        std::printf("polyglot %-20s %6lld games in %6.3f s / %6.3f s = %8.0f games/s, %6ld records written"
                    "  (varkon %.2fx its speed, %.2fx in CPU time)\n",
                    name, counts.games, pbest, pbest_cpu, static_cast<double>(counts.games) / pbest, file_records(bin), pbest / best,
                    pbest_cpu / best_cpu);
        std::remove(bin.c_str());
    }
    if (polyglot.empty()) std::printf("polyglot not installed: no comparison\n");
    std::remove(out.c_str());
    rmdir(dir);
}

// What a child process cost: wall time, processor time and its peak resident memory.
struct ChildCost {
    bool ok = false;
    double wall = 0, cpu = 0;
    long peak_kb = 0;
};

// Runs `work` in a child process (its output to /dev/null) and measures it alone.
ChildCost measure_child(const std::function<int()>& work) {
    ChildCost cost;
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return cost;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        _exit(work());
    }
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) != pid) return cost;
    cost.wall = seconds_since(start);
    cost.cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    cost.peak_kb = u.ru_maxrss;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

// The builder on a large generated collection, beside polyglot on the same file: time,
// processor time and peak memory of each, measured in a process of its own. The collection
// is made (seed 1) in a temporary directory, or in `kept` (and kept there; an existing file
// of that name is used as it is).
void bench_book_large(long long games, const std::string& kept) {
    char dir[] = "/tmp/varkon_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    const std::string pgn = kept.empty() ? std::string(dir) + "/games.pgn" : kept;
    const std::string book = std::string(dir) + "/book.dat", bin = std::string(dir) + "/book.bin";
    struct stat st;
    if (stat(pgn.c_str(), &st) != 0) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(pgn.c_str(), "wb");
        const bool written = f != nullptr && pgngen::write_games(f, games, 1);
        if (f == nullptr || std::fclose(f) != 0 || !written || stat(pgn.c_str(), &st) != 0) {
            std::printf("book-large: cannot write %s\n", pgn.c_str());
            return;
        }
        std::printf("generated %lld games (%.0f MB) in %.1f s\n", games, static_cast<double>(st.st_size) / 1e6,
                    seconds_since(start));
    }
    constexpr int min_count = 1;
    std::printf("book build of %s (%.0f MB), first 60 half-moves, minimum count %d\n", pgn.c_str(),
                static_cast<double>(st.st_size) / 1e6, min_count);
    BookBuildCounts counts;
    const ChildCost ours = measure_child([&] {
        const bool built = build_book(pgn, book, min_count, 0, &counts);
        // The counts, for the parent: games, records, runs.
        std::FILE* f = std::fopen((book + ".counts").c_str(), "w");
        if (f != nullptr) {
            std::fprintf(f, "%lld %lld %d\n", counts.games, counts.book_moves, counts.runs);
            std::fclose(f);
        }
        return built ? 0 : 1;
    });
    if (std::FILE* f = std::fopen((book + ".counts").c_str(), "r")) {
        if (std::fscanf(f, "%lld %lld %d", &counts.games, &counts.book_moves, &counts.runs) != 3) counts = {};
        std::fclose(f);
    }
    auto show = [&](const char* who, const ChildCost& c, long long records, const std::string& more) {
        if (!c.ok) {
            std::printf("%-9s failed\n", who);
            return;
        }
        std::printf("%-9s %lld games in %.1f s (processor %.1f s) = %.0f games/s, peak memory %.0f MB, %lld records%s\n",
                    who, counts.games, c.wall, c.cpu, static_cast<double>(counts.games) / c.wall,
                    static_cast<double>(c.peak_kb) / 1024, records, more.c_str());
    };
    show("varkon", ours, counts.book_moves, ", " + std::to_string(counts.runs) + " sorted runs spilled");
    const std::string polyglot = find_polyglot();
    if (polyglot.empty()) {
        std::printf("polyglot not installed: no comparison (apt-get install polyglot)\n");
    } else {
        const ChildCost theirs = measure_child([&] {
            execl(polyglot.c_str(), "polyglot", "make-book", "-pgn", pgn.c_str(), "-bin", bin.c_str(), "-max-ply", "60",
                  "-min-game", std::to_string(min_count).c_str(), static_cast<char*>(nullptr));
            return 127;
        });
        show("polyglot", theirs, file_records(bin), "");
        if (ours.ok && theirs.ok)
            std::printf("varkon: %.2fx polyglot's speed, %.2fx its processor time, %.2fx its peak memory\n",
                        theirs.wall / ours.wall, ours.cpu / theirs.cpu,
                        static_cast<double>(ours.peak_kb) / static_cast<double>(theirs.peak_kb));
    }
    for (const std::string& f : {book, book + ".counts", bin}) std::remove(f.c_str());
    if (kept.empty()) std::remove(pgn.c_str());
    rmdir(dir);
}

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// FEN of a tablebase position.
std::string fen_of(const TbBoard& b) {
    char board[64] = {};
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < b.set[c].n; ++i) {
            const char letter = " pnbrqk"[b.set[c].type[i]];
            board[b.set[c].sq[i]] = static_cast<char>(c == TB_WHITE ? letter - 32 : letter);
        }
    std::string placement;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const char p = board[rank * 8 + file];
            if (p == 0) {
                ++empty;
                continue;
            }
            if (empty) placement += static_cast<char>('0' + empty);
            empty = 0;
            placement += p;
        }
        if (empty) placement += static_cast<char>('0' + empty);
        if (rank) placement += '/';
    }
    return placement;
}

// Makes `names` in dir with `threads` workers (0: one per core) and reports the time taken.
bool bench_generate(const std::string& dir, const std::vector<std::string>& names, const char* what, int threads) {
    TbGenStats stats;
    TbGenOptions options;
    options.threads = threads;
    const auto start = std::chrono::steady_clock::now();
    const double cpu = cpu_seconds();
    for (const std::string& n : names)
        if (!tbgen_make(dir, n, options, &stats)) return false;
    const double t = seconds_since(start), c = cpu_seconds() - cpu;
    std::printf("tbgen %s: %d tables, %llu positions in %.1f s (%.1f s of processor time) = %.2f M positions/s\n", what,
                stats.tables_made, static_cast<unsigned long long>(stats.positions), t, c,
                static_cast<double>(stats.positions) / t / 1e6);
    return true;
}

// Makes one table in a process of its own, whose peak memory is the table's alone; its
// tables of fewer pieces must be in dir.
void bench_generate_alone(const std::string& dir, const std::string& name, int threads) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        TbGenOptions options;
        options.threads = threads;
        _exit(tbgen_make(dir, name, options) ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("tbgen %s: failed\n", name.c_str());
        return;
    }
    const double t = seconds_since(start);
    const double c = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    tb_init_index();
    const int table = tb_number(name);
    const std::uint64_t positions = static_cast<std::uint64_t>(tb_count(table, 0)) + tb_count(table, 1);
    std::printf("tbgen %s: %llu positions in %.1f s (%.1f s of processor time), peak memory %.0f MB "
                "(%.2f bytes a position)\n",
                name.c_str(), static_cast<unsigned long long>(positions), t, c, static_cast<double>(usage.ru_maxrss) / 1024,
                static_cast<double>(usage.ru_maxrss) * 1024 / static_cast<double>(positions));
}

// Probes through a 2 MB cache of positions drawn from the tables `first` to `last`; the
// time of setting the positions up alone is subtracted.
void bench_probe(const std::string& dir, int first, int last, const char* what) {
    init_program(varkon_program());
    egtb_settings().path = dir;
    egtb_settings().cache_mb = 2.0;
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    egtb_init();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
    std::vector<std::array<std::string, 2>> positions;
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (int t = first; t <= last; ++t)
        for (int n = 0; n < 3000 * 35 / (last - first + 1); ++n) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            const int side = static_cast<int>(state >> 40 & 1);
            TbBoard b;
            if (tb_decode(t, side, static_cast<std::uint32_t>(state % tb_count(t, side)), b) && tb_legal(b) && b.ep == TB_NO_EP)
                positions.push_back({fen_of(b), side ? "b" : "w"});
        }
    constexpr int PASSES = 5;
    long long answered = 0;
    auto pass = [&](bool probe) {
        const auto start = std::chrono::steady_clock::now();
        for (const auto& p : positions) {
            set_up_game(p[0].c_str(), p[1].c_str(), "-", "-");
            if (probe) answered += egtb_probe(game()) != -1;
        }
        return seconds_since(start);
    };
    double with_probe = 1e9, setup_only = 1e9;
    for (int i = 0; i < PASSES; ++i) {
        with_probe = std::min(with_probe, pass(true));
        setup_only = std::min(setup_only, pass(false));
    }
    const double t = with_probe - setup_only;
    const auto c = egtb_cache_counters();
    std::printf("egtb probe %s: %zu positions, 2 MB cache, %.0f%% of reads from cached blocks: "
                "%.2f M probes/s (%.0f ns each; %lld answered)\n",
                what, positions.size(), 100.0 * static_cast<double>(c.hits) / static_cast<double>(c.reads),
                static_cast<double>(positions.size()) / t / 1e6, t / static_cast<double>(positions.size()) * 1e9,
                answered / PASSES);
    egtb_release();
}

// Runs `f` with standard output sent to /dev/null.
void quietly(const std::function<void()>& f) {
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
}

// Processor seconds of this process and of its waited-for children.
double all_cpu_seconds() { return cpu_seconds(RUSAGE_SELF) + cpu_seconds(RUSAGE_CHILDREN); }

void bench_syzygy(const std::string& dir) {
    quietly([] { init_program(varkon_program()); });
    // Positions of every three- and four-piece material, drawn through the index of the
    // engine's own tables; those of materials the Syzygy tables hold are probed.
    tb_init_index();
    std::vector<std::array<std::string, 2>> all;
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (int t = 1; t <= 35; ++t)
        for (int n = 0; n < 1500; ++n) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            const int side = static_cast<int>(state >> 40 & 1);
            TbBoard b;
            if (tb_decode(t, side, static_cast<std::uint32_t>(state % tb_count(t, side)), b) && tb_legal(b) && b.ep == TB_NO_EP)
                all.push_back({fen_of(b), side ? "b" : "w"});
        }
    syzygy_options().path = dir;
    const auto load_start = std::chrono::steady_clock::now();
    const double load_cpu = all_cpu_seconds();
    const SyzygyReport report = syzygy_load();
    std::printf("syzygy load of %s: %d files, up to %d pieces, %zu left out: %.2f s (%.2f processor s, the trial "
                "process included)\n",
                dir.c_str(), report.files, report.largest, report.problems.size(), seconds_since(load_start),
                all_cpu_seconds() - load_cpu);
    std::vector<std::array<std::string, 2>> positions;
    for (const auto& p : all) {
        set_up_game(p[0].c_str(), p[1].c_str(), "-", "-");
        if (syzygy_holds(game())) positions.push_back(p);
    }
    long long answered = 0;
    auto pass = [&](bool probe) {
        const std::clock_t start = std::clock();
        for (const auto& p : positions) {
            set_up_game(p[0].c_str(), p[1].c_str(), "-", "-");
            TbOutcome r;
            if (probe) answered += syzygy_probe_wdl(game(), r);
        }
        return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    };
    const double cold = pass(true);   // the prober maps and reads each table as it meets it
    double hot = 1e9, setup_only = 1e9;
    for (int i = 0; i < 5; ++i) {
        setup_only = std::min(setup_only, pass(false));
        hot = std::min(hot, pass(true));
    }
    const double n = static_cast<double>(positions.size());
    std::printf("syzygy probe (%zu positions of the tables' materials, %lld answered in 6 passes): cold %.2f M probes/s "
                "(%.0f ns each), hot %.2f M probes/s (%.0f ns each), processor time\n",
                positions.size(), answered, n / std::max(1e-9, cold - setup_only) / 1e6,
                (cold - setup_only) / n * 1e9, n / std::max(1e-9, hot - setup_only) / 1e6, (hot - setup_only) / n * 1e9);

    // Searches of positions with 6 to 8 pieces whose captures lead into the tables.
    const char* const endings[][2] = {
        {"8/5pk1/8/3r4/8/2R5/1P3K2/8", "w"},   {"4k3/8/3n4/8/8/2B1R3/6K1/r7", "w"},
        {"8/6k1/5p2/3n4/8/2R5/5PK1/8", "b"},   {"8/2k5/8/1p1q4/8/4Q3/5PK1/8", "w"},
        {"8/5k2/6p1/3r4/8/2R5/1P3PK1/8", "w"}, {"8/2p2k2/6p1/3r4/8/2R5/1P3PK1/8", "b"},
        {"3k4/8/2n5/8/3P4/2N5/3K3r/7R", "w"},  {"6k1/6p1/8/4q3/8/3Q4/6P1/6K1", "w"},
    };
    const struct {
        const char* name;
        const Program& program;
        int depth;
    } programs[] = {{"varkon", varkon_program(), 12}, {"varkon_classic", classic_program(), 9}};
    for (const auto& pr : programs) {
        double nps[2] = {};
        for (const bool with : {false, true}) {
            quietly([&] { init_program(pr.program); });
            book_options.on = 0;   // the endings are far from the book; its remarks would only clutter
            syzygy_options().path = with ? dir : "";
            quietly([] { syzygy_load(); });
            std::uint64_t nodes = 0, hits = 0;
            double cpu = 0;
            for (const auto& e : endings) {
                set_up_game(e[0], e[1], "-", "-");
                pr.program.search->tables.clear_all();
                SearchRequest request;
                request.max_depth = pr.depth;
                request.clock_limits = false;
                const std::clock_t start = std::clock();
                think(game(), request);
                cpu += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
                nodes += last_search().stats.nodes;
                hits += last_search().stats.egtb_hits;
            }
            nps[with] = static_cast<double>(nodes) / cpu;
            std::printf("syzygy search %s depth %d, %d positions of 6-8 pieces, %s tables: %llu nodes, %llu tbhits, "
                        "%.2f processor s, %.2f M nodes/s\n",
                        pr.name, pr.depth, static_cast<int>(std::size(endings)), with ? "with" : "without",
                        static_cast<unsigned long long>(nodes), static_cast<unsigned long long>(hits), cpu, nps[with] / 1e6);
        }
        std::printf("syzygy search %s: with the tables %.1f%% of the nodes per second without\n", pr.name,
                    100.0 * nps[1] / nps[0]);
    }
    syzygy_options() = SyzygyOptions{};
    syzygy_release();
}

// A directory for the tables: `given`, or a temporary one removed by the caller.
std::string table_dir(const std::string& given) {
    if (!given.empty()) return given;
    char tmp[] = "/tmp/varkon_bench_tb_XXXXXX";
    return mkdtemp(tmp) != nullptr ? tmp : "";
}

void bench_egtb(const std::string& given, const std::string& five) {
    tb_init_index();
    const std::string dir = table_dir(given);
    std::vector<std::string> small;
    for (int t = 1; t <= 35; ++t) small.emplace_back(tb_name(t));
    if (bench_generate(dir, small, "3 and 4 pieces", 0)) {
        bench_probe(dir, 1, 5, "(3-piece tables, all in the cache)");
        bench_probe(dir, 1, 35, "(35 tables, 150 MB)");
        if (!five.empty()) bench_generate_alone(dir, five, 0);
    }
    std::error_code ec;
    if (given.empty()) std::filesystem::remove_all(dir, ec);
}

// The generator's figures: the 35 three- and four-piece tables, then krbkr alone.
void bench_tbgen(const std::string& given, int threads) {
    tb_init_index();
    const std::string dir = table_dir(given);
    std::vector<std::string> small;
    for (int t = 1; t <= 35; ++t) small.emplace_back(tb_name(t));
    const unsigned cores = std::thread::hardware_concurrency();
    std::printf("tbgen: %d threads\n", threads > 0 ? threads : cores ? static_cast<int>(cores) : 1);
    // Tables already in a given directory are not made again: start afresh there.
    if (!given.empty())
        for (const std::string& n : small)
            for (const char* ext : {".nbw", ".nbb", ".sum"}) std::remove((dir + "/" + n + ext).c_str());
    if (bench_generate(dir, small, "3 and 4 pieces", threads)) {
        for (const char* ext : {".nbw", ".nbb", ".sum"}) std::remove((dir + "/krbkr" + ext).c_str());
        bench_generate_alone(dir, "krbkr", threads);
    }
    std::error_code ec;
    if (given.empty()) std::filesystem::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "all";
    if (which == "all" || which == "perft") bench_perft();
    if (which == "all" || which == "eval") bench_eval();
    if (which == "all" || which == "paths") bench_paths();
    if (which == "all" || which == "tt") bench_tt();
    const int depth = argc > 2 ? std::atoi(argv[2]) : 0;
    if (which == "all" || which == "search")
        bench_search("search", varkon_program(), hash_clear_all, depth > 0 ? depth : 10);
    if (which == "all" || which == "classic")
        bench_search("classic search", classic_program(), hash_classic::wipe, depth > 0 ? depth : CLASSIC_BENCH_DEPTH);
    if (which == "all" || which == "book") bench_book();
    if (which == "book-large") bench_book_large(argc > 2 ? static_cast<long long>(std::atof(argv[2])) : 50000, argc > 3 ? argv[3] : "");
    if (which == "epd")
        bench_epd(depth > 0 ? depth : 100, argc > 3 ? argv[3] : VARKON_SOURCE_DIR "/tests/data/bratko-kopec.epd");
    if (which == "threads") bench_threads(depth > 0 ? depth : 1);
    if (which == "egtb") bench_egtb(argc > 2 ? argv[2] : "", "");
    if (which == "egtb5") bench_egtb(argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : "krbkr");
    if (which == "syzygy") bench_syzygy(argc > 2 ? argv[2] : VARKON_SOURCE_DIR "/tests/data/syzygy");
    if (which == "tbgen") bench_tbgen(argc > 2 ? argv[2] : "", argc > 3 ? std::atoi(argv[3]) : 0);
    return 0;
}
