// The UCI protocol of varkon, driven through pipes against the built program.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "core/input.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string last_bestmove(const std::string& out) {
    std::string move;
    std::regex re("\nbestmove (\\S+)");
    for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) move = (*it)[1];
    return move;
}

class Uci : public ::testing::Test {
protected:
    void SetUp() override { engine.send("uci\n"); ASSERT_TRUE(engine.wait_for("uciok\n")); }
    test::EngineProcess engine{VARKON_BIN};
};

}  // namespace

TEST_F(Uci, CommandsDuringAnInfiniteSearch) {
    engine.send("setoption name OwnBook value false\nposition startpos\ngo infinite\n");
    ASSERT_TRUE(engine.wait_for("info depth 3 "));
    engine.send("isready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n", 2000));          // answered while searching
    EXPECT_EQ(engine.output().find("bestmove"), std::string::npos);
    engine.send("position startpos moves e2e4\n");             // kept for after the search
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("bestmove ", 3000));
    engine.send("go perft 1\n");
    ASSERT_TRUE(engine.wait_for("Nodes searched: 20\n"));
    EXPECT_NE(engine.output().find("e7e5: 1"), std::string::npos);  // the position command was not lost
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}

TEST_F(Uci, InfiniteAndPonderWaitForTheirEnd) {
    // A single legal move and a forced mate: the search ends by itself, yet no answer
    // comes before "stop".
    engine.send("position fen 7k/8/8/8/8/8/6q1/7K w - -\ngo infinite\n");
    engine.send("position fen 6k1/5ppp/8/8/8/8/8/R5K1 w - -\ngo ponder\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(engine.output().find("bestmove"), std::string::npos);
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("bestmove h1g2"));
    engine.send("ponderhit\n");
    ASSERT_TRUE(engine.wait_for("bestmove a1a8"));
    // A "go" after a stopped ponder search is an ordinary timed search.
    engine.take_output();
    engine.send("go wtime 500 btime 500\n");
    ASSERT_TRUE(engine.wait_for("bestmove ", 3000));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}

TEST_F(Uci, QuitAndEndOfInputDuringASearch) {
    engine.send("position startpos moves d2d4\ngo infinite\n");
    ASSERT_TRUE(engine.wait_for("info depth 2 "));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
    EXPECT_NE(last_bestmove(engine.output()), "");

    test::EngineProcess other(VARKON_BIN);
    other.send("uci\nposition startpos\ngo infinite\n");
    ASSERT_TRUE(other.wait_for("info depth 2 "));
    EXPECT_EQ(other.wait_exit(), 0);
}

TEST_F(Uci, SearchLimits) {
    engine.send("setoption name OwnBook value false\nposition startpos\ngo depth 4\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    std::string out = engine.take_output();
    EXPECT_NE(out.find("info depth 4 "), std::string::npos);
    EXPECT_EQ(out.find("info depth 5 "), std::string::npos);

    engine.send("go nodes 20000\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    std::smatch m;
    out = engine.take_output();
    std::uint64_t most = 0;
    std::regex nodes(" nodes (\\d+)");
    for (std::sregex_iterator it(out.begin(), out.end(), nodes), end; it != end; ++it) most = std::max<std::uint64_t>(most, std::stoull((*it)[1]));
    EXPECT_LE(most, 20000u + 1000u);

    const auto start = Clock::now();
    engine.send("go movetime 300\n");
    ASSERT_TRUE(engine.wait_for("bestmove", 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    engine.take_output();

    engine.send("position fen 6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - -\ngo mate 2\n");
    ASSERT_TRUE(engine.wait_for("bestmove", 10000));
    out = engine.take_output();
    EXPECT_NE(out.find(" score mate 2 "), std::string::npos) << out;
    EXPECT_EQ(last_bestmove(out), "g2g1");

    engine.send("position startpos\ngo depth 3 searchmoves a2a3 h2h4\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    const std::string best = last_bestmove(engine.take_output());
    EXPECT_TRUE(best == "a2a3" || best == "h2h4") << best;

    engine.send("position fen 7k/5Q2/6K1/8/8/8/8/8 b - -\ngo depth 2\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    EXPECT_EQ(last_bestmove(engine.take_output()), "0000");
}

TEST_F(Uci, OptionsAndMalformedInput) {
    engine.send("setoption name Hash value 1\nsetoption name Hash value 99999999999\nsetoption name Hash value -5\n"
                "setoption name Nonsense value 3\nsetoption name BookStyle value Wild\nsetoption\n"
                "setoption name Clear Hash\nsetoption name NalimovCache value abc\n"
                "position startpos\ngo wtime -100 btime xyz winc 99999999999999 movestogo -3 depth 2\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok"));
    EXPECT_NE(last_bestmove(engine.output()), "");
    engine.send("setoption name BookName value /nonexistent/book.bin\nsetoption name OwnBook value true\n"
                "position startpos\ngo depth 2\n");
    ASSERT_TRUE(engine.wait_for("can't open book file!\n"));
    ASSERT_TRUE(engine.wait_for("bestmove"));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}

// Short games against itself under a fast clock: every answer is a legal move and no
// move takes more than the time left on the clock.
TEST(UciGames, PlaysLegalMovesWithinTheClock) {
    test::use_varkon();
    test::EngineProcess engine(VARKON_BIN);
    engine.send("uci\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok"));
    std::string moves;
    varkon::new_game();
    int clock_ms[2] = {3000, 3000};
    const int inc_ms = 50;
    for (int n = 0; n < 60; ++n) {
        engine.take_output();
        const int me = n % 2;
        engine.send("position startpos" + (moves.empty() ? "" : " moves" + moves) + "\ngo wtime " +
                    std::to_string(clock_ms[0]) + " btime " + std::to_string(clock_ms[1]) + " winc " +
                    std::to_string(inc_ms) + " binc " + std::to_string(inc_ms) + "\n");
        const auto start = Clock::now();
        ASSERT_TRUE(engine.wait_for("bestmove", clock_ms[me] + 2000)) << "move " << n;
        ASSERT_TRUE(engine.wait_for("\n", 100));
        const int used = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        clock_ms[me] += inc_ms - used;
        ASSERT_GT(clock_ms[me], 0) << "lost on time at move " << n;
        const std::string move = last_bestmove(engine.output());
        if (move == "0000") break;
        ASSERT_EQ(varkon::parse_coordinate_move(move.c_str()), 1) << "illegal " << move << " after" << moves;
        moves += " " + move;
    }
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}
