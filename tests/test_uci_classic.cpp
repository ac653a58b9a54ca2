// The UCI dialect of varkon_classic, driven through pipes.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/engine_process.h"
#include "support/ranked_lines.h"

namespace {

// The word after `key` that follows `line_start`.
std::string word_after(const std::string& out, const std::string& line_start, const std::string& key) {
    const auto at = out.find(key, out.find(line_start)) + key.size();
    return out.substr(at, out.find(' ', at) - at);
}

class ClassicUci : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.ask("uci\n", "uciok")); }
    // Sends `commands` and returns everything printed up to the "bestmove" line.
    std::string search(const std::string& commands) {
        EXPECT_TRUE(engine.ask(commands, "bestmove")) << commands;
        return engine.output();
    }
    test::EngineProcess engine{VARKON_CLASSIC_BIN};
};

}  // namespace

TEST_F(ClassicUci, EveryOptionTakesEffect) {
    // The book is on at start-up (its move is marked as such, then scored by a short search
    // of that move); "OwnBook" false switches it off.
    const std::string booked = search("position startpos\ngo depth 3\n");
    EXPECT_NE(booked.find("info string book move " + test::last_bestmove(booked) + "\ninfo depth 1 "), std::string::npos)
        << booked;
    const std::string searched = search("setoption name OwnBook value false\ngo depth 3\n");
    EXPECT_NE(searched.find("info depth 3 "), std::string::npos);
    EXPECT_EQ(searched.find("book move"), std::string::npos);
    // Hash waits for "isready"; so does a tablebase setting, with the tables made anew.
    engine.take_output();
    engine.send("setoption name Hash value 8\nsetoption name Clear Hash\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(engine.output(), "");
    engine.send("isready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n"));
    EXPECT_NE(engine.output().find("SEARCH_HASH \t\t: 4 MB"), std::string::npos) << engine.output();
    for (const char* option : {"NalimovPath value /nonexistent", "NalimovCache value 7", "Hash value 2"}) {
        ASSERT_TRUE(engine.ask(std::string("setoption name ") + option + "\nisready\nisready\n", "readyok"));
        ASSERT_TRUE(engine.wait_for("readyok\nreadyok\n"));
        EXPECT_TRUE(std::regex_search(engine.output(), std::regex("SEARCH_HASH[^\n]*\n[^\n]*\n[^\n]*\n\n(info string [^\n]*\n)*readyok\nreadyok")))
            << option << engine.output();
    }
    // A Hash given without "isready" still applies before the next search.
    EXPECT_NE(search("setoption name Hash value 16\ngo depth 1\n").find("SEARCH_HASH \t\t: 8 MB"), std::string::npos);
    EXPECT_NE(search("setoption name BookName value /nonexistent/book.dat\nsetoption name OwnBook value true\n"
                     "setoption name BookStyle value Risky\ngo depth 1\n")
                  .find("can't open book file!"),
              std::string::npos);
}

// The only reply is answered at once, after a short search of it that gives its score and line.
TEST_F(ClassicUci, OnlyReplyComesWithAScoredLine) {
    const std::string out = search("position fen 7k/8/8/8/8/8/6q1/7K w - -\ngo wtime 10000 btime 10000\n");
    EXPECT_TRUE(std::regex_search(out, std::regex("info depth \\d+ seldepth \\d+ score cp -?\\d+ time \\d+ nodes \\d+ pv h1g2 [^\n]*\n\nbestmove h1g2"))) << out;
}

TEST_F(ClassicUci, SearchLines) {
    engine.send("setoption name OwnBook value false\n");
    // The clocks before a timed search; a move to ponder on once the game is past its first ply.
    std::string out = search("position startpos moves e2e4\ngo wtime 60000 btime 30000 depth 5\n");
    EXPECT_NE(out.find("\ncomp_time= 3000  opp_time= 6000\n"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\nbestmove \\S+ ponder \\S+\n"))) << out;
    out = search("position startpos\ngo depth 5\n");
    EXPECT_TRUE(std::regex_search(out, std::regex("\nbestmove \\S+\n"))) << out;
    // An idle "stop" or "ponderhit" does not cut the next search short.
    EXPECT_NE(search("stop\nponderhit\ngo depth 5\n").find("info depth 5 "), std::string::npos);
    // "go infinite" analyses (the book is not asked) and answers only after "stop".
    engine.send("setoption name OwnBook value true\n");
    engine.take_output();
    const auto start = std::chrono::steady_clock::now();
    engine.send("go infinite\n");
    ASSERT_TRUE(engine.wait_for_line("info depth 8 ", 60000));
    const auto seen = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const long shown = std::stol(word_after(engine.output(), "info depth 8 ", "time "));
    EXPECT_LE(shown, seen + 20);
    EXPECT_GE(shown, seen / 2 - 20);  // milliseconds, not centiseconds
    ASSERT_TRUE(engine.wait_for(" nps ", 60000));
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for_line("bestmove"));
    out = engine.output();
    EXPECT_EQ(out.find("comp_time"), std::string::npos);
    // Times in milliseconds, nodes per second of that time once three seconds have passed;
    // the current move from the eighth iteration on.
    const auto currmove = out.find("info  currmove");
    EXPECT_TRUE(currmove == std::string::npos || currmove > out.find("info depth 7 ")) << out;
    std::smatch m;
    const std::regex timing("time (\\d+) nodes (\\d+)( nps (\\d+))?");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), timing); it != std::sregex_iterator(); ++it) {
        const double ms = std::stod((*it)[1]), nodes = std::stod((*it)[2]);
        EXPECT_EQ((*it)[3].matched, ms >= 3000) << (*it)[0];
        if ((*it)[3].matched) {
            EXPECT_NEAR(std::stod((*it)[4]), nodes * 1000 / ms, nodes / ms + 1);
        }
    }
    // "go perft" counts in the position set.
    ASSERT_TRUE(engine.ask("position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -\ngo perft 2\n",
                           "Nodes searched: "));
    EXPECT_NE(engine.output().find("\nNodes searched: 2039\n"), std::string::npos) << engine.output();
    EXPECT_EQ(engine.quit(), 0);
}

// MultiPV as varkon's (see test_uci.cpp), in this program's search.
TEST(ClassicUciMultiPv, TheBestLinesOfEveryIteration) { test::check_multipv_dialogue(VARKON_CLASSIC_BIN); }
