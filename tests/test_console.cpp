// Start-up, the console commands and the first UCI commands, against the built programs.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

#include "support/engine_process.h"
#include "support/workdir.h"

namespace {

// varkon_classic runs in a directory of its own with an empty configuration file.
std::string run(const char* bin, const std::string& input, int* status = nullptr) {
    const test::WorkDir dir("");
    return test::run_engine(bin, input, status, dir.path());
}

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Console, BannersAndQuit) {
    int status = -1;
    EXPECT_EQ(run(VARKON_BIN, "quit\n", &status), "Varkon 5.24\nby Dravenholt\n\n");
    EXPECT_EQ(status, 0);
    // varkon_classic reads its configuration, reports the sizes of its three hash tables
    // (Hash 2 MB) and the tablebases it found at start-up.
    EXPECT_EQ(run(VARKON_CLASSIC_BIN, "quit\n", &status),
              "Winboard Chess Engine\nVarkon 5.11c\nAuthor Dravenholt\n\nreading config file...\n"
              "SEARCH_HASH \t\t: 1 MB , 65536 entries, size of search_hash = 16\n"
              "EVAL_HASH  \t\t: 0 MB , 1 entries, size of eval_hash = 16\n"
              "PAWN_HASH   \t\t: 0 MB , 1 entries, size of pawn_hash = 16\n\n"
              "0 pieces endgame tablebases found\n");
    EXPECT_EQ(status, 0);
}

TEST(Console, EndOfInputAndGarbageEndCleanly) {
    int status = -1;
    std::string garbage(5000, 'x');
    static const char junk[] = "\0\x01\xff\xfe board \n\n\t BOARD Board perft";
    garbage += std::string(junk, sizeof junk - 1);
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        std::string out = run(bin, garbage, &status);
        EXPECT_EQ(status, 0) << bin;
        EXPECT_EQ(count(out, "pawns         = 16"), 1) << out;  // only the exact word "board"
    }
    EXPECT_NE(run(VARKON_BIN, "uci\nposition startpos moves e2e4\n", &status).find("uciok"), std::string::npos);
    EXPECT_EQ(status, 0);
}

TEST(Console, BookSwitchesAndPerftPrompt) {
    const std::string out = run(VARKON_BIN, "bookoff bookon perft 3\nquit\n");
    const auto off = out.find("book is off\n"), on = out.find("book is on\n");
    ASSERT_NE(off, std::string::npos);
    ASSERT_NE(on, std::string::npos);
    EXPECT_LT(off, on);
    EXPECT_NE(out.find("depth: \nKnoten    =         8902 \nTime      = "), std::string::npos) << out;
    EXPECT_NE(out.find("\nnodes/s   = "), std::string::npos);
    // "perft" always counts from the start position; varkon_classic has no perft.
    EXPECT_NE(run(VARKON_BIN, "uci\nposition fen 4k3/8/8/8/8/8/8/4K3 w - -\nquit\n").find("uciok"), std::string::npos);
    EXPECT_EQ(run(VARKON_CLASSIC_BIN, "perft 1\nxboard\nquit\n").find("Knoten"), std::string::npos);
}

TEST(Console, UciIdentification) {
    EXPECT_NE(run(VARKON_BIN, "uci\nquit\n").find(
                  "\n\nid name Varkon 5.24\nid author Dravenholt\n"
                  "option name Hash type spin default 128 min 2 max 1024\n"
                  "option name NalimovPath type string default c:\\tb\n"
                  "option name NalimovCache type spin default 2 min 2 max 32\n"
                  "option name Ponder type check default true\n"
                  "option name OwnBook type check default true\n"
                  "option name Clear Hash type button\n"
                  "option name BookName type string default book.dat\n"
                  "option name BookStyle type combo default Best var Best var Normal var Risky\n"
                  "uciok\n"),
              std::string::npos);
    EXPECT_NE(run(VARKON_CLASSIC_BIN, "uci\nquit\n").find(
                  "\nid name Varkon 5.11c\nid author Dravenholt\n"
                  "option name Hash type spin default 2 min 2 max 512\n"
                  "option name NalimovPath type string default c:/tb\n"
                  "option name NalimovCache type spin default 2 min 2 max 32\n"
                  "option name Ponder type check default false\n"
                  "option name OwnBook type check default false\n"
                  "option name LogFile type check default false\n"
                  "option name BookName type string default book.dat\n"
                  "option name BookStyle type combo default Normal var Best var Normal var Risky\n"
                  "uciok\n"),
              std::string::npos);
}

TEST(Console, UciPositionAndBadInput) {
    std::string out = run(VARKON_BIN,
                          "uci\nisready\njunk isready\nposition startpos moves e2e4 e2e4 e7e5\ngo perft 1\n"
                          "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/ w KQkq - 0 1\n"
                          "position fen 8/8/8/8/8/8/8/7 w - - 0 1\ngo perft 1\n"
                          "position fen 4k3/8/8/8/8/8/8/4K3 w - moves e1d1 e8d8\ngo perft 1\nquit\n");
    EXPECT_EQ(count(out, "readyok\n"), 2);
    EXPECT_NE(out.find("illegal move e2e4\n"), std::string::npos);
    // After the illegal repetition, e7e5 is not played: Black still has its 20 moves.
    EXPECT_NE(out.find("a7a6: 1\n"), std::string::npos);
    EXPECT_NE(out.find("info string fen error\n"), std::string::npos);
    EXPECT_NE(out.find("Nodes searched: 20\n"), std::string::npos);  // the fen error left the start position
    EXPECT_NE(out.find("\nNodes searched: 5\n"), std::string::npos);  // a FEN without counters, then moves
}

TEST(Console, GamesLongerThanAnyFixedHistory) {
    // 2000 plies of knights shuffling back and forth, as a GUI sends every move of a game.
    std::string moves;
    const char* cycle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int i = 0; i < 2000; ++i) moves += std::string(" ") + cycle[i % 4];
    const std::string out = run(VARKON_BIN, "uci\nposition startpos moves" + moves + "\ngo perft 1\nquit\n");
    EXPECT_EQ(out.find("illegal move"), std::string::npos);
    EXPECT_NE(out.find("Nodes searched: 20\n"), std::string::npos);
}

TEST(Console, BenchShowsTheFirstPositionAndWaitsForAKey) {
    test::EngineProcess engine(VARKON_BIN);
    engine.send("bench\n");
    ASSERT_TRUE(engine.wait_for("8 |   |   |-r |-r |   |   |-k |   |\t1. black\n"));
    EXPECT_FALSE(engine.wait_for("info depth", 500));
    EXPECT_EQ(engine.wait_exit(), 0);  // end of input while waiting ends the program
}

TEST(Console, PerftDepthsAreReadSafelyAndCountsStop) {
    const std::string out = run(VARKON_BIN, "perft 36\nperft 99999999999\nperft -3\nperft x\nquit\n");
    EXPECT_NE(out.find("depth 36 is too deep"), std::string::npos) << out;
    EXPECT_NE(out.find("depth 99999999999 is too deep"), std::string::npos);
    EXPECT_EQ(count(out, "Knoten    =            1 \n"), 2);  // a negative or unreadable depth counts as 0
    test::EngineProcess engine(VARKON_BIN);
    engine.send("perft 9\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(8000), 0);
    test::EngineProcess bench(VARKON_BIN);
    bench.send("bench\n\n");
    ASSERT_TRUE(bench.wait_for("info depth 2"));
    bench.send("stop\nboard\n");  // the bench ends; the command sent after it runs
    ASSERT_TRUE(bench.wait_for("pos_value : "));
    bench.send("quit\n");
    EXPECT_EQ(bench.wait_exit(8000), 0);
}

TEST(Console, ClassicIgnoresInterruptsAndEntersWinboard) {
    test::EngineProcess classic(VARKON_CLASSIC_BIN);
    ASSERT_TRUE(classic.wait_for("PAWN_HASH"));
    kill(classic.pid(), SIGINT);  // as xboard sends it to interrupt a thinking engine
    classic.send("info\nxboard\nping 1\n");
    EXPECT_TRUE(classic.wait_for("pong 1\n"));
    classic.send("quit\n");
    EXPECT_EQ(classic.wait_exit(), 0);
}
