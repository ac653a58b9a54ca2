// Parallel searches: the threads setting, searches of both programs on 2 to 8 threads (legal
// moves and lines, mates found, counts summed, several best lines), stops at any moment with no thread left
// searching after the answer, tables resized and tablebases probed around and during
// them; then the programs over their protocols (Threads, "cores", stop, ponderhit, isready,
// quit). Every test here is named Threads*: CI runs them under ThreadSanitizer.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <random>
#include <thread>

#include "book/book.h"
#include "core/moves.h"
#include "core/notation.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "frontend/program.h"
#include "core/genmoves.h"
#include "search/hash.h"
#include "search/hash_classic.h"
#include "search/search_tools.h"
#include "search/think.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"
#include "support/tb_dir.h"

using namespace varkon;

namespace {

struct Engine {
    const char* name;
    void (*use)();
};
const Engine engines[] = {{"varkon", test::use_varkon}, {"classic", test::use_classic}};

// What a search reported, checked as it is reported: every line legal from the game
// position, node counts and depths never going back.
struct Watch {
    int lines = 0;
    int illegal_lines = 0;
    int nodes_back = 0;
    int depth_back = 0;
    int last_depth = 0;
    std::uint64_t last_nodes = 0;
    int unranked = 0;   // lines without a rank
    Move best_shown{};  // the first move of the last best line
    ThinkResult result;
};
Watch watch;

void watch_line(const IterationLine& line) {
    ++watch.lines;
    watch.unranked += line.multipv == 0;
    if (line.multipv <= 1 && line.pv_length > 0) watch.best_shown = line.pv[0];
    if (line.nodes < watch.last_nodes) ++watch.nodes_back;
    watch.last_nodes = line.nodes;
    if (line.depth < watch.last_depth) ++watch.depth_back;
    watch.last_depth = line.depth;
    SavedGame saved = save_game(game());
    for (int i = 0; i < line.pv_length; ++i)
        if (parse_coordinate_move(game(), move_to_text(line.pv[i]).s) != 1) {
            ++watch.illegal_lines;
            break;
        }
    restore_game(game(), saved);
}
void watch_move(const Move&, int, int, std::uint32_t) {}
void watch_bound(const IterationLine&, const Move&, bool) {}
void watch_root(const Move&) {}
void watch_best(const ThinkResult& r) { watch.result = r; }
void watch_note(const char*) {}
const SearchOutput watching = {watch_line, watch_move, watch_bound, watch_root, watch_root, watch_best, watch_note};

// The input poll of a search that a command stops after a number of looks (0: never),
// with "ponderhit" at another.
struct Script {
    int looks = 0;
    int stop_at = 0;
    int ponderhit_at = 0;
};
Script script;
PollAction scripted_poll() {
    ++script.looks;
    if (script.looks == script.ponderhit_at) return PollAction::ponderhit;
    if (script.stop_at != 0 && script.looks >= script.stop_at) return PollAction::stop;
    return PollAction::none;
}
PollAction stop_now() { return PollAction::stop; }

// Searches the game position; true when the move chosen (and the move to ponder on) is
// legal, every line was, and no helper still runs.
bool search_checked(SearchRequest r) {
    watch = Watch{};
    r.output = &watching;
    think(game(), r);
    EXPECT_FALSE(search_helpers_busy());
    EXPECT_EQ(watch.illegal_lines, 0);
    EXPECT_EQ(watch.nodes_back, 0);
    EXPECT_EQ(watch.depth_back, 0);
    EXPECT_GE(last_search().stats.nodes, watch.last_nodes);  // the final count sums all threads
    const Move best = watch.result.best, ponder = watch.result.ponder;
    if (best.from == 0) return has_legal_move(game()) == 0;
    SavedGame saved = save_game(game());
    bool legal = parse_coordinate_move(game(), move_to_text(best).s) == 1;
    if (legal && ponder.from != 0) legal = parse_coordinate_move(game(), move_to_text(ponder).s) == 1;
    restore_game(game(), saved);
    return legal;
}

SearchRequest depth_request(int depth) {
    SearchRequest r;
    r.clock_limits = false;
    r.max_depth = depth;
    return r;
}

class Threads : public ::testing::Test {
protected:
    void TearDown() override { set_search_threads(1); }
    static void use(const Engine& e) {
        e.use();
        program().search->tables.clear_all();
        book_options.on = 0;
    }
};

const char* const positions[] = {
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ -",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
    "2rr2k1/1b3ppp/pb2p3/1p2P3/1P2BPnq/P1N3P1/1B2Q2P/R4R1K b - -",
};

}  // namespace

TEST_F(Threads, TheSettingIsClampedAndEveryThreadIsStarted) {
    use(engines[0]);
    EXPECT_EQ(set_search_threads(0), 1);
    EXPECT_EQ(search_threads(), 1);
    EXPECT_EQ(set_search_threads(8), 8);
    EXPECT_EQ(search_threads(), 8);
    EXPECT_EQ(set_search_threads(3), 3);
    EXPECT_EQ(search_threads(), 3);
    EXPECT_FALSE(search_helpers_busy());
    // A program starts anew with one thread.
    use(engines[1]);
    EXPECT_EQ(search_threads(), 1);
}

TEST_F(Threads, BothProgramsFindMatesAndPlayLegalLines) {
    const struct {
        const char* fen;
        int depth;
        const char* move;
    } mates[] = {
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - -", 4, "a1a8"},
        {"6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - -", 6, "g2g1"},
        {"2r3k1/p4p2/3Rp2p/1p2P1pK/8/1P4P1/P3Q2P/1q6 b - -", 8, "b1g6"},
    };
    for (const Engine& e : engines) {
        use(e);
        for (int threads : {2, 8}) {
            ASSERT_EQ(set_search_threads(threads), threads);
            for (const auto& m : mates) {
                ASSERT_TRUE(test::set_fen(m.fen));
                EXPECT_TRUE(search_checked(depth_request(m.depth))) << e.name << " " << m.fen;
                EXPECT_EQ(test::text(watch.result.best), m.move) << e.name << " " << threads << " " << m.fen;
                // (varkon's table keeps mate scores as +-MATE_BOUND, and a helper's entry may
                // answer a node of the main thread's line.)
                EXPECT_GE(watch.result.score, MATE_BOUND) << e.name << " " << threads << " " << m.fen;
                EXPECT_EQ(watch.result.depth, m.depth);
            }
            for (const char* fen : positions) {
                ASSERT_TRUE(test::set_fen(fen));
                EXPECT_TRUE(search_checked(depth_request(6))) << e.name << " " << threads << " " << fen;
                // The main thread shows every iteration, in order, up to the requested depth.
                EXPECT_GE(watch.lines, 6);
                EXPECT_EQ(watch.last_depth, 6) << e.name << " " << threads << " " << fen;
            }
        }
        // No legal move: nothing to search on any thread.
        ASSERT_TRUE(test::set_fen("7k/5Q2/6K1/8/8/8/8/8 b - -"));
        EXPECT_TRUE(search_checked(depth_request(5)));
    }
}

// Several best lines on several threads (the main thread's, beside helpers that search one):
// every line shown is ranked and legal, and the answer is the last best line's move,
// whether the search ends at its depth or is stopped early.
TEST_F(Threads, SeveralLinesBesideTheHelpers) {
    for (const Engine& e : engines) {
        use(e);
        ASSERT_EQ(set_search_threads(4), 4);
        for (const char* fen : {positions[0], positions[2]})
            for (int stop_at : {0, 3}) {
                ASSERT_TRUE(test::set_fen(fen));
                SearchRequest r = depth_request(6);
                r.multipv = 3;
                r.line_for_every_move = true;
                script = Script{};
                script.stop_at = stop_at;
                r.poll = scripted_poll;
                EXPECT_TRUE(search_checked(r)) << e.name << " " << fen;
                EXPECT_EQ(watch.unranked, 0) << e.name << " " << fen;
                EXPECT_EQ(test::text(watch.best_shown), test::text(watch.result.best)) << e.name << " " << fen << " " << stop_at;
            }
    }
}

// Stops by node limits, the clock, a command after a random number of looks, in play,
// ponder (with ponderhit) and analysis searches: a legal answer, and no helper left.
TEST_F(Threads, StopsAtAnyMomentAndNoThreadOutlivesTheAnswer) {
    std::mt19937 rng(17);
    for (const Engine& e : engines) {
        use(e);
        for (int round = 0; round < 8; ++round) {
            int threads = 2 + static_cast<int>(rng() % 7);
            ASSERT_TRUE(test::set_fen(positions[rng() % std::size(positions)]));
            SearchRequest r = depth_request(0);
            script = Script{};
            switch (round % 4) {
                case 0:
                    threads = 4 + static_cast<int>(rng() % 5);
                    r.max_nodes = 30000 + rng() % 50000;
                    break;
                case 1: r.movetime = 1 + static_cast<int>(rng() % 20); break;
                case 2:
                    r.mode = SearchMode::analysis;
                    script.stop_at = 1 + static_cast<int>(rng() % 400);
                    r.poll = scripted_poll;
                    break;
                default:
                    r.mode = SearchMode::ponder;
                    r.wait_for_stop = true;
                    r.clock_limits = true;
                    r.clock.time_left = 50;
                    script.ponderhit_at = 1 + static_cast<int>(rng() % 200);
                    r.poll = scripted_poll;
                    r.wait = stop_now;
                    break;
            }
            ASSERT_EQ(set_search_threads(threads), threads);
            EXPECT_TRUE(search_checked(r)) << e.name << " round " << round;
            if (r.max_nodes != 0) {
                // The limit counts the nodes of every thread (each thread alone would pass it).
                const std::uint64_t nodes = last_search().stats.nodes;
                EXPECT_TRUE(nodes >= r.max_nodes && nodes <= r.max_nodes + 150000) << e.name << " " << nodes;
            }
        }
    }
}

// The tables change size and are emptied between searches on several threads, as Hash,
// Clear Hash and a new game do: no helper may touch them meanwhile.
TEST_F(Threads, TablesResizedAndClearedBetweenSearches) {
    std::mt19937 rng(5);
    for (const Engine& e : engines) {
        use(e);
        const TableOps& tables = program().search->tables;
        for (int round = 0; round < 8; ++round) {
            ASSERT_EQ(set_search_threads(2 + round % 3), 2 + round % 3);
            tables.allocate(2 << (rng() % 4));
            if (round % 2 == 1) tables.clear_all();
            ASSERT_TRUE(test::set_fen(positions[round % std::size(positions)]));
            EXPECT_TRUE(search_checked(depth_request(5))) << e.name << " round " << round;
        }
        tables.allocate(program().hash_mb);
    }
}

// Every thread probes the tablebases through the one cache: exact mates from the tables,
// and the hits of all threads counted.
TEST_F(Threads, TablebaseProbesFromEveryThread) {
    test::TbDir dir({"kqk", "krk"});
    for (const Engine& e : engines) {
        use(e);
        egtb_settings().path = dir.path();
        egtb_settings().cache_mb = 1;   // a small cache: blocks come and go as the threads probe
        test::capture_stdout([] { egtb_init(false); });
        ASSERT_TRUE(egtb_ready());
        ASSERT_EQ(set_search_threads(4), 4);
        for (const char* fen : {"8/8/8/5k2/8/8/1Q6/K7 w - -", "8/8/8/8/8/2k5/1R6/K7 w - -", "8/8/1r5k/8/8/8/8/1K6 w - -"}) {
            ASSERT_TRUE(test::set_fen(fen));
            EXPECT_TRUE(search_checked(depth_request(12))) << e.name << " " << fen;
            EXPECT_GE(std::abs(watch.result.score), MATE_BOUND) << e.name << " " << fen;
            EXPECT_GT(last_search().stats.egtb_hits, 0u) << e.name << " " << fen;
        }
        egtb_release();
        egtb_settings().path = program().egtb_path;
        egtb_settings().cache_mb = 2.0;
    }
}

// The Syzygy tables narrow the root to the moves that keep the win, and the helpers copy
// that root while the main thread waits for them: whichever thread's iteration is taken,
// the answer is a kept move (the rook never left hanging) and the result the tables' win.
TEST_F(Threads, HelpersSearchTheRootMovesTheSyzygyTablesKeep) {
    for (const Engine& e : engines) {
        use(e);
        syzygy_options().path = TEST_DATA_DIR "/syzygy";
        ASSERT_GT(syzygy_load().files, 0);
        ASSERT_EQ(set_search_threads(4), 4);
        ASSERT_TRUE(test::set_fen("8/8/8/8/8/8/6R1/K3k3 w - -"));
        EXPECT_TRUE(search_checked(depth_request(7))) << e.name;
        const std::string m = move_to_text(watch.result.best).s;
        EXPECT_TRUE(m != "g2d2" && m != "g2e2" && m != "g2f2") << e.name << " " << m;
        EXPECT_EQ(watch.result.score, TB_WIN_SCORE) << e.name;
        syzygy_options() = SyzygyOptions{};
        syzygy_release();
    }
}

// A table entry is only a hint: a move it names is made only when the search generated it
// and it is legal. Entries whose moves are illegal (a pinned piece leaving the pin, a
// square with no piece of the side to move, squares off the board) for the root and for
// every position after a root move, all with deep exact scores: the answers stay legal.
TEST_F(Threads, MovesFromTheTableAreCheckedBeforeTheyAreMade) {
    for (const Engine& e : engines) {
        use(e);
        for (int threads : {1, 4}) {
            ASSERT_EQ(set_search_threads(threads), threads);
            program().search->tables.clear_all();
            ASSERT_TRUE(test::set_fen("6k1/4r3/8/8/8/8/4B3/4K3 w - -"));
            Position& pos = game();
            const HashKey root = pos.key();
            generate_moves(pos);
            Move pinned{};
            for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i)
                if (test::text(pos.move_stack[i]) == "e2d3") pinned = pos.move_stack[i];
            ASSERT_NE(pinned.from, 0);
            std::vector<std::pair<HashKey, std::pair<int, int>>> bad = {{root, {pinned.from, pinned.to}}};
            for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) {
                make_move(pos, i);
                bad.push_back({pos.key(), {pinned.from, 120}});  // a white bishop's square, off the board
                unmake_move(pos, i);
            }
            SearchStats stats;
            for (const auto& [key, m] : bad) {
                if (e.use == test::use_varkon) {
                    hash_store(key, 900, m.first, m.second, -30000, 30000, 120, pos.game_ply, stats);
                } else {
                    hash_classic::store(key, 900, -30000, 30000, 60, m.first, m.second, false, stats);
                    hash_classic::store_pv_move(key, m.first, m.second, stats);
                }
            }
            EXPECT_TRUE(search_checked(depth_request(5))) << e.name << " " << threads;
            EXPECT_NE(test::text(watch.result.best), "e2d3") << e.name << " " << threads;
        }
    }
}

// ---- the programs ---------------------------------------------------------------------------

namespace {

// The threads of a running process, from /proc (0 when unknown).
int process_threads(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    return 0;
}

// Whether every move of `line` is legal in turn after the moves `game` from the start.
bool legal_after(const std::string& game_moves, const std::string& line) {
    test::use_varkon();
    std::istringstream in(game_moves + " " + line);
    for (std::string m; in >> m;)
        if (parse_coordinate_move(game(), m.c_str()) != 1) return false;
    return true;
}

}  // namespace

TEST(ThreadsUci, OptionCommandsDuringASearchAndQuitOfSixtyFourThreads) {
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        test::EngineProcess e(bin);
        ASSERT_TRUE(e.ask("uci\nsetoption name OwnBook value false\nisready\n", "readyok"));
        EXPECT_NE(e.output().find("option name Threads type spin default 1 min 1 max 256\n"), std::string::npos) << bin;
        // Threads of the process besides the search's (a sanitizer may start one of its own
        // with the first thread the program makes).
        ASSERT_TRUE(e.ask("setoption name Threads value 3\nisready\n", "readyok"));
        const int others = process_threads(e.pid()) - 3;
        ASSERT_TRUE(e.ask("setoption name Threads value 4\nisready\n", "readyok"));
        EXPECT_EQ(process_threads(e.pid()), others + 4) << bin;
        // isready answered during the search; a Threads change waits for its end; stop ends
        // every thread's search.
        e.send("position startpos moves e2e4\ngo infinite\n");
        ASSERT_TRUE(e.wait_for("info depth 4"));
        ASSERT_TRUE(e.ask("isready\n", "readyok"));
        e.send("setoption name Threads value 2\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(process_threads(e.pid()), others + 4) << bin;
        ASSERT_TRUE(e.ask("stop\n", "bestmove"));
        EXPECT_TRUE(legal_after("e2e4", test::last_bestmove(e.output()))) << e.output();
        ASSERT_TRUE(e.ask("isready\n", "readyok"));
        EXPECT_EQ(process_threads(e.pid()), others + 2) << bin;
        // A ponder search: ponderhit puts all under the clock, and the move comes in time.
        e.send("position startpos moves e2e4 e7e5\ngo ponder wtime 3000 btime 3000\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto hit = test::Clock::now();
        ASSERT_TRUE(e.ask("ponderhit\n", "bestmove", 5000));
        EXPECT_LT(test::millis_since(hit), 3000);
        EXPECT_TRUE(legal_after("e2e4 e7e5", test::last_bestmove(e.output()))) << e.output();
        // Quit in the middle of a search on 64 threads: every thread ends with the process.
        ASSERT_TRUE(e.ask("setoption name Threads value 64\nisready\n", "readyok"));
        EXPECT_EQ(process_threads(e.pid()), others + 64) << bin;
        e.send("position startpos\ngo infinite\n");
        ASSERT_TRUE(e.wait_for("info depth 3"));
        e.send("quit\n");
        EXPECT_EQ(e.wait_exit(5000), 0) << bin;
    }
}

TEST(ThreadsWinboard, CoresSmpMoveNowAnalysisAndPondering) {
    const test::WorkDir dir("THREADS 3\nUSE_BOOK off\n");
    test::EngineProcess e(VARKON_CLASSIC_BIN, dir.path());
    e.send("xboard\nprotover 2\n");
    ASSERT_TRUE(e.wait_for("feature done=1\n"));
    EXPECT_NE(e.output().find("THREADS     \t\t: 3\n"), std::string::npos);
    EXPECT_NE(e.output().find(" smp=1"), std::string::npos);
    ASSERT_TRUE(e.ask("ping 1\n", "pong 1"));
    const int started = process_threads(e.pid());
    ASSERT_TRUE(e.ask("cores\ncores x\ncores 0\nping 2\n", "pong 2"));
    EXPECT_NE(e.output().find("Error (missing value): cores\nError (bad value): cores x\n"), std::string::npos);
    const int others = process_threads(e.pid()) - 1;
    EXPECT_EQ(started, others + 3);
    ASSERT_TRUE(e.ask("cores 6\nping 3\n", "pong 3"));
    EXPECT_EQ(process_threads(e.pid()), others + 6);
    // Move now while every thread thinks.
    e.send("new\nlevel 0 5 0\npost\ngo\n");
    ASSERT_TRUE(e.wait_for("\n5\t"));
    ASSERT_TRUE(e.ask("?\n", "move ", 3000));
    const std::string first = test::word_after(e.output(), "move ");
    EXPECT_TRUE(legal_after("", first)) << e.output();
    // Analysis on all threads until "exit"; then pondering, ended by the opponent's move.
    ASSERT_TRUE(e.ask("force\nanalyze\nping 4\n", "pong 4"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(e.ask("exit\nping 5\n", "pong 5"));
    e.send("new\nhard\nlevel 0 0:04 0\ngo\n");
    ASSERT_TRUE(e.wait_for_line("move ", 6000));
    const std::string mine = test::word_after(e.output(), "move ");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string reply = "e7e5";   // legal after any first move
    ASSERT_TRUE(legal_after(mine, reply));
    e.take_output();
    e.send(reply + "\n");
    ASSERT_TRUE(e.wait_for_line("move ", 6000)) << e.output();
    EXPECT_TRUE(legal_after(mine + " " + reply, test::word_after(e.output(), "move "))) << e.output();
    // The statistics report sums every thread's counts.
    ASSERT_TRUE(e.ask("info\nping 6\n", "pong 6"));
    EXPECT_NE(e.output().find("nodes: "), std::string::npos);
    EXPECT_EQ(e.quit(), 0);
}
