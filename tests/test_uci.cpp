// The UCI protocol of varkon, driven through pipes against the built program.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
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

// Whether every move of `line` (coordinate notation, blank-separated) is legal in turn
// from the position `fen`, checked with the engine's own move generator.
bool legal_line(const std::string& fen, const std::string& line) {
    test::use_varkon();
    if (!test::set_fen(fen)) return false;
    std::istringstream moves(line);
    for (std::string m; moves >> m;)
        if (varkon::parse_coordinate_move(m.c_str()) != 1) return false;
    return true;
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
    engine.send("position fen 6k1/5ppp/8/8/8/8/8/R5K1 w - -\ngo ponder wtime 1000 btime 1000\n");
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
        ASSERT_TRUE(engine.wait_for_line("bestmove", clock_ms[me] + 2000)) << "move " << n;
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

TEST_F(Uci, PartialLinesWaitAndAnyLineEndEndsALine) {
    // A person typing at the console: half a command must neither block nor end the search.
    engine.send("setoption name OwnBook value false\nposition startpos\ngo movetime 300\nisre");
    ASSERT_TRUE(engine.wait_for("bestmove", 5000));
    EXPECT_EQ(engine.output().find("readyok"), std::string::npos);
    engine.send("ady\risready\r\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok\nreadyok\nreadyok\n"));
    engine.send("quit\r");
    EXPECT_EQ(engine.wait_exit(), 0);
}

TEST_F(Uci, EveryGoStandsOnItsOwn) {
    // Increments of an earlier "go" do not carry over: 10 s without increment is sudden
    // death and allots a fraction of a second, not 1.85 s.
    engine.send("setoption name OwnBook value false\nposition startpos\n"
                "go wtime 1000 btime 1000 winc 3000 binc 3000 depth 1\n");
    ASSERT_TRUE(engine.wait_for_line("bestmove"));
    engine.take_output();
    engine.send("position startpos moves e2e4\ngo wtime 10000 btime 10000\n");
    const auto start = Clock::now();
    ASSERT_TRUE(engine.wait_for_line("bestmove", 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1200));
    // A bare "go" has no limit: it answers on "stop".
    engine.take_output();
    engine.send("position startpos\ngo\n");
    EXPECT_FALSE(engine.wait_for("bestmove", 700)) << engine.output();
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    // "uci" again re-identifies and keeps the options set.
    engine.take_output();
    engine.send("uci\nposition startpos\ngo depth 1\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    EXPECT_EQ(engine.output().find("<bookmove>"), std::string::npos);
    // A refused position is never searched in place of another.
    engine.take_output();
    engine.send("position fen 8/8/8/8/8/8/8/8 w - - 0 1\ngo depth 2\n");
    ASSERT_TRUE(engine.wait_for("bestmove 0000\n"));
    EXPECT_NE(engine.output().find("info string"), std::string::npos);
    engine.send("setoption name Hash value nan\nsetoption name Hash value inf\nsetoption name NalimovCache value -nan\n"
                "position startpos\ngo depth 3\n");
    ASSERT_TRUE(engine.wait_for("bestmove "));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}

TEST_F(Uci, PrintedLinesAndPonderMovesAreLegal) {
    struct Case {
        const char* fen;
        const char* go;
    } cases[] = {
        {"k7/8/1QK5/8/8/8/8/8 w - - 0 1", "go depth 1"},           // the best move mates: no reply
        {"4r3/2p5/8/1P1R4/1K4k1/8/8/8 w - - 0 1", "go depth 1"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "go depth 10"},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", "go movetime 1500"},
    };
    engine.send("setoption name OwnBook value false\n");
    for (const Case& c : cases) {
        engine.take_output();
        engine.send(std::string("position fen ") + c.fen + "\n" + c.go + "\n");
        ASSERT_TRUE(engine.wait_for_line("bestmove", 20000)) << c.fen;
        const std::string out = engine.output();
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, std::regex("bestmove (\\S+)( ponder (\\S+))?\n")));
        EXPECT_TRUE(legal_line(c.fen, m[1].str() + " " + m[3].str())) << out;
        std::regex info("nodes (\\d+) (nps (\\d+) )?pv ([^\n]*)");
        std::regex time_re("time (\\d+) ");
        for (std::sregex_iterator it(out.begin(), out.end(), info), end; it != end; ++it) {
            EXPECT_TRUE(legal_line(c.fen, (*it)[4])) << (*it)[0];
            if ((*it)[3].matched) {  // nodes per second of the real elapsed time
                std::smatch t;
                const std::string line = it->prefix().str().substr(it->prefix().str().rfind("info"));
                ASSERT_TRUE(std::regex_search(line, t, time_re));
                const double expected = std::stod((*it)[1]) * 1000.0 / std::stod(t[1]);
                EXPECT_NEAR(std::stod((*it)[3]), expected, expected * 0.01 + 1) << (*it)[0];
            }
        }
        if (c.fen[0] == 'k') {
            EXPECT_EQ(m[3].str(), "");
        }
    }
}

TEST_F(Uci, PerftIsBoundedAndStops) {
    engine.send("go perft 30\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok"));
    EXPECT_NE(engine.output().find("info string perft depth 30"), std::string::npos);
    engine.send("go perft 8\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    engine.send("stop\nisready\n");
    ASSERT_TRUE(engine.wait_for("perft stopped\nreadyok\n", 5000));
    engine.send("go perft 8\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(8000), 0);
}

// Under UCI the engine writes protocol lines only: the book's list and its messages are
// "info string" notes, as are the engine's own remarks.
TEST_F(Uci, OnlyProtocolLinesAfterUci) {
    engine.send("position startpos\ngo depth 2\nposition startpos moves e2e4 e2e4\n"
                "setoption name BookName value /nonexistent/book.dat\nposition startpos moves e2e4\ngo depth 2\n"
                "position fen nonsense\ngo depth 1\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n", 20000));
    const std::string out = engine.output();
    EXPECT_NE(out.find("info string 1. "), std::string::npos);  // the book's candidates
    EXPECT_NE(out.find("info string can't open book file!"), std::string::npos);
    std::istringstream lines(out.substr(out.find("uciok")));
    const std::regex uci_line("^(|uciok|readyok|info .*|bestmove \\S+( ponder \\S+)?)$");
    for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::regex_match(line, uci_line)) << line;
}
