// The UCI protocol of varkon, driven through pipes against the built program.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "core/notation.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"
#include "support/ranked_lines.h"

namespace {

using std::chrono::milliseconds;

// Whether every move of `line` (coordinate notation, blank-separated) is legal in turn
// from the position `fen`, checked with the engine's own move generator.
bool legal_line(const std::string& fen, const std::string& line) {
    test::use_varkon();
    if (!test::set_fen(fen)) return false;
    std::istringstream moves(line);
    for (std::string m; moves >> m;)
        if (varkon::parse_coordinate_move(varkon::game(), m.c_str()) != 1) return false;
    return true;
}

class Uci : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.ask("uci\n", "uciok")); }
    test::EngineProcess engine{VARKON_BIN};
};

}  // namespace

// Both programs name themselves, then list options a GUI can read: each spin default
// within its bounds, each combo default among its values.
TEST(UciIdentification, BothProgramsListReadableOptions) {
    const std::regex option("option name (\\S.*) type (spin default (-?\\d+) min (-?\\d+) max (-?\\d+)|check default "
                            "(true|false)|string default \\S+|button|combo default (\\S+)((?: var \\S+)+))");
    for (const auto& [bin, id] : {std::pair{VARKON_BIN, "\nid name Varkon 5.24\nid author Dravenholt\n"},
                                  std::pair{VARKON_CLASSIC_BIN, "\nid name Varkon 5.11c\nid author Dravenholt\n"}}) {
        const std::string out = test::run_engine(bin, "uci\nquit\n");
        ASSERT_NE(out.find(id), std::string::npos) << out;
        std::istringstream lines(out.substr(out.find(id) + std::string(id).size()));
        int options = 0;
        std::string line;
        for (std::smatch m; std::getline(lines, line) && line != "uciok"; ++options) {
            ASSERT_TRUE(std::regex_match(line, m, option)) << line;
            if (m[3].matched) {
                EXPECT_TRUE(std::stoi(m[4]) <= std::stoi(m[3]) && std::stoi(m[3]) <= std::stoi(m[5])) << line;
            }
            if (m[7].matched) {
                EXPECT_NE((m[8].str() + " ").find(" var " + m[7].str() + " "), std::string::npos) << line;
            }
        }
        EXPECT_EQ(line, "uciok");
        EXPECT_GE(options, 8) << bin;
    }
}

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
    EXPECT_EQ(engine.quit(), 0);
}

TEST_F(Uci, InfiniteAndPonderWaitForTheirEnd) {
    // A single legal move and a forced mate: the search ends by itself, yet no answer
    // comes before "stop".
    engine.send("position fen 7k/8/8/8/8/8/6q1/7K w - -\ngo infinite\n");
    engine.send("position fen 6k1/5ppp/8/8/8/8/8/R5K1 w - -\ngo ponder wtime 1000 btime 1000\n");
    std::this_thread::sleep_for(milliseconds(700));
    EXPECT_EQ(engine.output().find("bestmove"), std::string::npos);
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("bestmove h1g2"));
    engine.send("ponderhit\n");
    ASSERT_TRUE(engine.wait_for("bestmove a1a8"));
    // A "go" after a stopped ponder search is an ordinary timed search.
    EXPECT_TRUE(engine.ask("go wtime 500 btime 500\n", "bestmove ", 3000));
}

TEST_F(Uci, QuitAndEndOfInputDuringASearch) {
    engine.send("position startpos moves d2d4\ngo infinite\n");
    ASSERT_TRUE(engine.wait_for("info depth 2 "));
    EXPECT_EQ(engine.quit(), 0);
    EXPECT_NE(test::last_bestmove(engine.output()), "");

    test::EngineProcess other(VARKON_BIN);
    other.send("uci\nposition startpos\ngo infinite\n");
    ASSERT_TRUE(other.wait_for("info depth 2 "));
    EXPECT_EQ(other.wait_exit(), 0);
}

TEST_F(Uci, SearchLimits) {
    ASSERT_TRUE(engine.ask("setoption name OwnBook value false\nposition startpos\ngo depth 4\n", "bestmove"));
    EXPECT_NE(engine.output().find("info depth 4 "), std::string::npos);
    EXPECT_EQ(engine.output().find("info depth 5 "), std::string::npos);

    ASSERT_TRUE(engine.ask("go nodes 20000\n", "bestmove"));
    const std::string out = engine.output();
    std::uint64_t most = 0;
    const std::regex nodes(" nodes (\\d+)");
    for (std::sregex_iterator it(out.begin(), out.end(), nodes), end; it != end; ++it)
        most = std::max<std::uint64_t>(most, std::stoull((*it)[1]));
    EXPECT_LE(most, 20000u + 1000u);

    const auto start = test::Clock::now();
    ASSERT_TRUE(engine.ask("go movetime 300\n", "bestmove", 5000));
    EXPECT_LT(test::millis_since(start), 3000);

    ASSERT_TRUE(engine.ask("position fen 6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - -\ngo mate 2\n", "bestmove"));
    EXPECT_NE(engine.output().find(" score mate 2 "), std::string::npos) << engine.output();
    EXPECT_EQ(test::last_bestmove(engine.output()), "g2g1");

    ASSERT_TRUE(engine.ask("position startpos\ngo depth 3 searchmoves a2a3 h2h4\n", "bestmove"));
    const std::string best = test::last_bestmove(engine.output());
    EXPECT_TRUE(best == "a2a3" || best == "h2h4") << best;
}

TEST_F(Uci, OptionsAndMalformedInput) {
    engine.send("setoption name Hash value 1\nsetoption name Hash value 99999999999\nsetoption name Hash value -5\n"
                "setoption name Nonsense value 3\nsetoption name BookStyle value Wild\nsetoption\n"
                "setoption name Clear Hash\nsetoption name NalimovCache value abc\nsetoption name Hash value nan\n"
                "setoption name Hash value inf\nsetoption name NalimovCache value -nan\n"
                "position startpos\ngo wtime -100 btime xyz winc 99999999999999 movestogo -3 depth 2\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok"));
    EXPECT_NE(test::last_bestmove(engine.output()), "");
    ASSERT_TRUE(engine.ask("setoption name BookName value /nonexistent/book.bin\nsetoption name OwnBook value true\n"
                           "position startpos\ngo depth 2\n",
                           "bestmove"));
    EXPECT_NE(engine.output().find("can't open book file!\n"), std::string::npos);
    EXPECT_EQ(engine.quit(), 0);
}

// Moves that are not legal end the list; a refused FEN leaves the start position; a FEN
// without its counters may be followed by moves; a game longer than any fixed history.
TEST(UciPosition, CommandsAndBadInput) {
    const char* const cycle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    std::string shuffle;
    for (int i = 0; i < 2000; ++i) shuffle += std::string(" ") + cycle[i % 4];
    const std::string out = test::run_engine(
        VARKON_BIN, "uci\nisready\njunk isready\nposition startpos moves e2e4 e2e4 e7e5\ngo perft 1\n"
                    "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/ w KQkq - 0 1\n"
                    "position fen 8/8/8/8/8/8/8/7 w - - 0 1\ngo perft 1\n"
                    "position fen 4k3/8/8/8/8/8/8/4K3 w - moves e1d1 e8d8\ngo perft 1\n"
                    "position startpos moves" + shuffle + "\ngo perft 1\nquit\n");
    EXPECT_EQ(test::count(out, "readyok\n"), 2);
    EXPECT_EQ(test::count(out, "illegal move"), 1);
    EXPECT_NE(out.find("illegal move e2e4\n"), std::string::npos);
    EXPECT_NE(out.find("a7a6: 1\n"), std::string::npos);  // e7e5 after the illegal move is not played
    EXPECT_NE(out.find("info string fen error\n"), std::string::npos);
    EXPECT_NE(out.find("\nNodes searched: 5\n"), std::string::npos);
    EXPECT_EQ(test::count(out, "Nodes searched: 20\n"), 3) << out;  // after 1.e4, the fen error, the long game
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
    ASSERT_TRUE(engine.ask("setoption name OwnBook value false\nposition startpos\n"
                           "go wtime 1000 btime 1000 winc 3000 binc 3000 depth 1\n",
                           "bestmove"));
    const auto start = test::Clock::now();
    ASSERT_TRUE(engine.ask("position startpos moves e2e4\ngo wtime 10000 btime 10000\n", "bestmove", 5000));
    EXPECT_LT(test::millis_since(start), 1200);
    // A bare "go" has no limit: it answers on "stop".
    EXPECT_FALSE(engine.ask("position startpos\ngo\n", "bestmove", 700)) << engine.output();
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("bestmove"));
    // "uci" again re-identifies and keeps the options set.
    ASSERT_TRUE(engine.ask("uci\nposition startpos\ngo depth 1\n", "bestmove"));
    EXPECT_EQ(engine.output().find("<bookmove>"), std::string::npos);
    // A refused position is never searched in place of another.
    ASSERT_TRUE(engine.ask("position fen 8/8/8/8/8/8/8/8 w - - 0 1\ngo depth 2\n", "bestmove 0000"));
    EXPECT_NE(engine.output().find("info string"), std::string::npos);
    // Stalemate: no move to name.
    EXPECT_TRUE(engine.ask("position fen 7k/5Q2/6K1/8/8/8/8/8 b - -\ngo depth 2\n", "bestmove 0000"));
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
        ASSERT_TRUE(engine.ask(std::string("position fen ") + c.fen + "\n" + c.go + "\n", "bestmove")) << c.fen;
        const std::string out = engine.output();
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, std::regex("bestmove (\\S+)( ponder (\\S+))?\n")));
        EXPECT_TRUE(legal_line(c.fen, m[1].str() + " " + m[3].str())) << out;
        if (c.fen[0] == 'k') {
            EXPECT_EQ(m[3].str(), "");
        }
        const std::regex info("time (\\d+) nodes (\\d+) (nps (\\d+) )?pv ([^\n]*)");
        EXPECT_GT(std::distance(std::sregex_iterator(out.begin(), out.end(), info), std::sregex_iterator()), 0);
        for (std::sregex_iterator it(out.begin(), out.end(), info), end; it != end; ++it) {
            EXPECT_TRUE(legal_line(c.fen, (*it)[5])) << (*it)[0];
            if ((*it)[3].matched) {  // nodes per second of the real elapsed time
                const double expected = std::stod((*it)[2]) * 1000.0 / std::stod((*it)[1]);
                EXPECT_NEAR(std::stod((*it)[4]), expected, expected * 0.01 + 1) << (*it)[0];
            }
        }
    }
}

TEST_F(Uci, PerftIsBoundedAndStops) {
    engine.send("go perft 30\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok"));
    EXPECT_NE(engine.output().find("info string perft depth 30"), std::string::npos);
    engine.send("go perft 8\n");
    std::this_thread::sleep_for(milliseconds(300));
    engine.send("stop\nisready\n");
    ASSERT_TRUE(engine.wait_for("perft stopped\nreadyok\n", 5000));
    engine.send("go perft 8\n");
    std::this_thread::sleep_for(milliseconds(300));
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

// The end of input is a "quit" in its turn: a piped script runs to its end (a search or
// count that ends by itself runs to its end, then what was sent after it); a search that
// only "stop" would end is not waited for.
TEST(UciScript, EndOfInputComesInItsTurn) {
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        int status = -1;
        std::string out = test::run_engine(bin, "uci\nposition fen 7r/6kp/p4n2/pNpP2P1/P1n1B3/r2R4/5N1P/1qbK3R b - - 0 1\n"
                                                "go perft 4\nposition startpos\ngo perft 3\n", &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out.find("perft stopped"), std::string::npos) << bin << out;
        EXPECT_NE(out.find("Nodes searched: 1235222\n"), std::string::npos) << bin;
        EXPECT_NE(out.find("Nodes searched: 8902\n"), std::string::npos) << bin;
        out = test::run_engine(bin, "uci\nsetoption name OwnBook value false\nposition startpos\ngo depth 5\n"
                                    "position startpos moves e2e4\ngo depth 2\n");
        EXPECT_NE(out.find("info depth 5 "), std::string::npos) << bin << out;
        EXPECT_EQ(test::count(out, "bestmove "), 2) << bin << out;
        out = test::run_engine(bin, "uci\nposition startpos\ngo infinite\nposition startpos moves e2e4\ngo perft 1\n", &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(out.find("bestmove "), std::string::npos) << bin;
        EXPECT_NE(out.find("\nNodes searched: 20\n"), std::string::npos) << bin;
    }
    // The console alike: the count runs to its end, then the command sent after it.
    const std::string out = test::run_engine(VARKON_BIN, "perft\n4\nboard\n");
    EXPECT_NE(out.find("Knoten    =       197281 \n"), std::string::npos) << out;
    EXPECT_EQ(test::count(out, "pawns         = 16"), 1) << out;
}

// A book move is marked as such, then scored by a short search of that move alone; the last
// line shown before every answer begins with the move. In analysis the book is not asked.
TEST_F(Uci, EveryAnswerComesAfterAScoredLineThatBeginsWithIt) {
    ASSERT_TRUE(engine.ask("position startpos\ngo wtime 10000 btime 10000\n", "bestmove"));
    std::string out = engine.output();
    std::string best = test::last_bestmove(out);
    EXPECT_NE(out.find(best + " <bookmove>\ninfo depth 1 "), std::string::npos) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("info depth (\\d+) [^\n]* score cp -?\\d+ [^\n]* pv (\\S+) [^\n]*\n\nbestmove")));
    EXPECT_LE(std::stoi(m[1]), 5);
    EXPECT_EQ(m[2], best);
    ASSERT_TRUE(engine.ask("setoption name UCI_AnalyseMode value true\ngo depth 3\n", "bestmove"));
    out = engine.output();
    EXPECT_EQ(out.find("<bookmove>"), std::string::npos);
    EXPECT_NE(out.find("info depth 3 "), std::string::npos);
    // The move overhead comes off the time of every move, a fixed time per move included.
    ASSERT_TRUE(engine.ask("setoption name UCI_AnalyseMode value false\nsetoption name OwnBook value false\n"
                           "setoption name Move Overhead value 2700\ngo movetime 3000\n",
                           "bestmove", 10000));
    out = engine.output();
    const std::string shown = test::word_after(out.substr(0, out.rfind("bestmove")), " time ");
    EXPECT_LT(std::stoi(shown), 2000) << out;
}

// MultiPV: every iteration shows the k best lines together, ranked, distinct, legal and
// sorted, the first the answer's; all the moves when k is larger; searchmoves and analysis
// alike; one line as before.
TEST(UciMultiPv, TheBestLinesOfEveryIteration) { test::check_multipv_dialogue(VARKON_BIN); }
