// Start-up and the console commands, against the built programs.
#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "support/engine_process.h"

TEST(Console, BannersAndQuit) {
    int status = -1;
    EXPECT_EQ(test::run_engine(VARKON_BIN, "quit\n", &status), "Varkon 5.24\nby Dravenholt\n\n");
    EXPECT_EQ(status, 0);
    // varkon_classic reads its configuration (the built-in defaults), reports its hash
    // tables and the tablebases it found at start-up.
    const std::string out = test::run_engine(VARKON_CLASSIC_BIN, "quit\n", &status);
    EXPECT_TRUE(out.starts_with("Winboard Chess Engine\nVarkon 5.11c\nAuthor Dravenholt\n\nreading config file...\n"
                                "SEARCH_HASH \t\t: 1 MB"))
        << out;
    EXPECT_TRUE(out.ends_with("\n\n0 pieces endgame tablebases found\n")) << out;
    EXPECT_EQ(status, 0);
}

TEST(Console, EndOfInputAndGarbageEndCleanly) {
    int status = -1;
    std::string garbage(5000, 'x');
    static const char junk[] = "\0\x01\xff\xfe board \n\n\t BOARD Board perft";
    garbage += std::string(junk, sizeof junk - 1);
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        const std::string out = test::run_engine(bin, garbage, &status);
        EXPECT_EQ(status, 0) << bin;
        EXPECT_EQ(test::count(out, "pawns         = 16"), 1) << out;  // only the exact word "board"
    }
}

TEST(Console, PerftDepthsAreReadSafelyAndCountsStop) {
    const std::string out = test::run_engine(VARKON_BIN, "perft 3\nperft 36\nperft 99999999999\nperft -3\nperft x\nquit\n");
    EXPECT_NE(out.find("depth: \nKnoten    =         8902 \nTime      = "), std::string::npos) << out;
    EXPECT_NE(out.find("depth 36 is too deep"), std::string::npos);
    EXPECT_NE(out.find("depth 99999999999 is too deep"), std::string::npos);
    EXPECT_EQ(test::count(out, "Knoten    =            1 \n"), 2);  // a negative or unreadable depth counts as 0
    test::EngineProcess engine(VARKON_BIN);
    engine.send("perft 9\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(engine.quit(), 0);
    // "quit" alone ends the count and the program, with the input still open: the rest of
    // the line the count was read from does not hold it back.
    test::EngineProcess counting(VARKON_BIN);
    counting.send("perft 9\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    counting.send("quit\n");
    const auto start = test::Clock::now();
    EXPECT_FALSE(counting.wait_for("never printed", 20000));
    EXPECT_LT(test::millis_since(start), 10000);
    EXPECT_EQ(counting.wait_exit(), 0);
}

// The bench shows its first position and waits for a key; the end of input then ends the
// program. After a key it searches until "stop", and the command sent after it runs.
TEST(Console, BenchWaitsForAKeyAndStops) {
    test::EngineProcess engine(VARKON_BIN), bench(VARKON_BIN);
    engine.send("bench\n");
    ASSERT_TRUE(engine.wait_for("8 |   |   |-r |-r |   |   |-k |   |\t1. black\n"));
    EXPECT_FALSE(engine.wait_for("info depth", 500));
    EXPECT_EQ(engine.wait_exit(), 0);
    bench.send("bench\n\n");
    ASSERT_TRUE(bench.wait_for("info depth 2"));
    bench.send("stop\nboard\n");
    ASSERT_TRUE(bench.wait_for("pos_value : "));
    EXPECT_EQ(bench.quit(), 0);
}

TEST(Console, ClassicIgnoresInterruptsAndEntersWinboard) {
    test::EngineProcess classic(VARKON_CLASSIC_BIN);
    ASSERT_TRUE(classic.wait_for("PAWN_HASH"));
    kill(classic.pid(), SIGINT);  // as xboard sends it to interrupt a thinking engine
    classic.send("info\nxboard\nping 1\n");
    EXPECT_TRUE(classic.wait_for("pong 1\n"));
    EXPECT_EQ(classic.quit(), 0);
}
