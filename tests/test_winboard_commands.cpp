// varkon_classic under WinBoard: the bound lines of its thinking output and the commands
// of the protocol's later versions (st, sd, nps, memory, option, exclude/include).
#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "support/engine_process.h"
#include "support/workdir.h"

namespace {

using std::chrono::milliseconds;
using test::Clock;
using test::millis_since;

struct Line {
    int depth;
    int score;
    long long nodes;
    char kind;  // ' ' a score, '?' an upper bound, '!' a lower bound
    bool operator==(const Line&) const = default;
};

// The thinking lines of a WinBoard search: "depth score time nodes  moves", a bound marked
// by "?" or "!" after its one move.
std::vector<Line> winboard_lines(const std::string& out) {
    std::vector<Line> lines;
    const std::regex re("(^|\n)(\\d+)\t(-?\\d+)\t\\d+\t(\\d+)\t ([^\n]*)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it) {
        const std::string moves = (*it)[5];
        const char last = moves.empty() ? ' ' : moves.back();
        lines.push_back({std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoll((*it)[4]),
                         last == '?' || last == '!' ? last : ' '});
    }
    return lines;
}

// The same from the "info" lines of varkon_classic's UCI mode.
std::vector<Line> uci_lines(const std::string& out) {
    std::vector<Line> lines;
    const std::regex re("info depth (\\d+) seldepth \\d+ score cp (-?\\d+) ?(upperbound|lowerbound)? +time \\d+ nodes (\\d+)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it) {
        const std::string bound = (*it)[3];
        lines.push_back({std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoll((*it)[4]),
                         bound.empty() ? ' ' : bound == "upperbound" ? '?' : '!'});
    }
    return lines;
}

std::string winboard_search(const std::string& fen, int depth) {
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    engine.send("xboard\nprotover 2\nnew\npost\nforce\nlevel 0 100 0\nsetboard " + fen + "\nsd " +
                std::to_string(depth) + "\ngo\n");
    EXPECT_TRUE(engine.wait_for_line("move ", 60000)) << engine.output();
    return engine.output();
}

std::string uci_search(const std::string& fen, int depth) {
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    engine.send("uci\nposition fen " + fen + "\ngo depth " + std::to_string(depth) + "\n");
    EXPECT_TRUE(engine.wait_for_line("bestmove", 60000)) << engine.output();
    return engine.output();
}

class WinboardCommands : public ::testing::Test {
protected:
    void SetUp() override {
        engine.send("xboard\nprotover 2\n");
        ASSERT_TRUE(engine.wait_for("feature done=1\n"));
    }
    test::EngineProcess engine{VARKON_CLASSIC_BIN};
};

}  // namespace

// The same fixed-depth search under both protocols: every line UCI prints without a bound
// is WinBoard's plain line, every UCI upper bound a "?" line (the first move failed low),
// and a "!" line is a lower bound UCI shows too; no bound is ever shown as a score.
TEST(WinboardThinking, BoundsAreMarkedAndNeverShownAsScores) {
    const struct {
        const char* fen;
        int depth;
        char mark;
    } cases[] = {{"6k1/5pp1/7p/8/8/8/5PPP/3Q2K1 b - -", 6, '?'},
                 {"2r3k1/1p2q1pp/2b1pr2/p1pp4/6Q1/1P1PP1R1/P1PN2PP/5RK1 w - -", 6, '!'}};
    for (const auto& c : cases) {
        const std::string wb_out = winboard_search(c.fen, c.depth), uci_out = uci_search(c.fen, c.depth);
        const std::vector<Line> wb = winboard_lines(wb_out), uci = uci_lines(uci_out);
        const auto only = [](const std::vector<Line>& lines, char kind) {
            std::vector<Line> kept;
            std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [&](const Line& l) { return l.kind == kind; });
            return kept;
        };
        EXPECT_EQ(only(wb, ' '), only(uci, ' ')) << wb_out << uci_out;
        EXPECT_EQ(only(wb, '?'), only(uci, '?')) << wb_out << uci_out;
        for (const Line& l : only(wb, '!')) EXPECT_NE(std::find(uci.begin(), uci.end(), l), uci.end()) << wb_out << uci_out;
        EXPECT_FALSE(only(wb, c.mark).empty()) << wb_out;
        // A bound line shows the first root move alone, its mark the last character.
        EXPECT_TRUE(std::regex_search(wb_out, std::regex("\n\\d+\t-?\\d+\t\\d+\t\\d+\t [a-h][1-8][a-h][1-8][!?]\n")));
    }
}

TEST_F(WinboardCommands, SearchTimeAndDepthLimitsUntilNew) {
    // "st": the seconds of every move, within them and not far below; "level" replaces it.
    const char* const middlegame = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8";
    auto move_ms = [&](const std::string& commands) {
        const auto start = Clock::now();
        EXPECT_TRUE(engine.ask(std::string("new\n") + commands + "\nsetboard " + middlegame + "\ngo\n", "move ", 20000));
        return millis_since(start);
    };
    const int st = move_ms("level 0 100 0\nst 1");
    EXPECT_GE(st, 400);
    // The engine stops at 0.9 s; the rest is room for the pipes of a busy machine.
    EXPECT_LT(st, 1200);
    EXPECT_LT(move_ms("st 1\nlevel 0 0:02 0"), 400);
    // "sd": no line deeper, whatever the clock; "new" lifts it, "level" and "st" keep it.
    ASSERT_TRUE(engine.ask("new\npost\nsd 3\nlevel 0 100 0\nst 100\nsetboard " + std::string(middlegame) + "\ngo\n", "move "));
    EXPECT_TRUE(std::regex_search(engine.output(), std::regex("\n3\t[^\n]*\nmove "))) << engine.output();
    ASSERT_TRUE(engine.ask("new\npost\nlevel 0 0:20 0\nsetboard " + std::string(middlegame) + "\ngo\n", "move "));
    EXPECT_NE(engine.output().find("\n4\t"), std::string::npos) << engine.output();
    // Node rates are not offered; odd values change nothing.
    ASSERT_TRUE(engine.ask("nps 1000\nst\nst 0\nst -1\nst x\nsd\nsd 0\nsd x\nping 1\n", "pong 1"));
    EXPECT_EQ(engine.output(), "Error (unknown command): nps\nError (missing value): st\nError (bad value): st 0\n"
                               "Error (bad value): st -1\nError (bad value): st x\nError (missing value): sd\n"
                               "Error (bad value): sd 0\nError (bad value): sd x\npong 1\n");
}

TEST_F(WinboardCommands, MemorySizesTheTablesAsHashDoes) {
    // Half for the search table, kept when the size stays; at least 2 MB in all.
    ASSERT_TRUE(engine.ask("memory 40\nmemory 40\nmemory 0\nmemory\nmemory x\nping 1\n", "pong 1"));
    const std::string out = engine.output();
    EXPECT_EQ(test::count(out, "SEARCH_HASH"), 2) << out;
    EXPECT_NE(out.find("SEARCH_HASH \t\t: 16 MB"), std::string::npos) << out;
    EXPECT_NE(out.find("SEARCH_HASH \t\t: 1 MB"), std::string::npos) << out;
    EXPECT_NE(out.find("Error (missing value): memory\nError (bad value): memory x\npong 1\n"), std::string::npos) << out;
}

// The settings of Varkon.ini as options: shown with the values in use, changed for the
// session, the file untouched.
TEST(WinboardOptions, SettingsOfTheFileChangeForTheSession) {
    const char* const ini = "RESIGN on\nRESIGN_VALUE -300\nRESIGN_COUNT 6\nBOOK_STYLE normal\n";
    const test::WorkDir dir(ini);
    test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
    engine.send("xboard\nprotover 2\n");
    ASSERT_TRUE(engine.wait_for("feature done=1\n"));
    for (const char* feature : {"feature memory=1 exclude=1 nps=0\n", "feature option=\"RESIGN -check 1\"\n",
                                "feature option=\"RESIGN_VALUE -spin -300 -999 -100\"\n",
                                "feature option=\"BOOK_STYLE -combo best /// *normal /// random\"\n",
                                "feature option=\"LOGFILE -check 0\"\n", "feature option=\"BOOK_NAME -file book.dat\"\n"})
        EXPECT_NE(engine.output().find(feature), std::string::npos) << feature << engine.output();
    // Odd names and values are refused; ranges are those of the file.
    ASSERT_TRUE(engine.ask("option RESIGN=2\noption NOPE=1\noption DRAW\noption BOOK_STYLE=wild\n"
                           "option RESIGN_VALUE=x\noption RESIGN_VALUE=-5000\noption RESIGN_COUNT=0\noption LOGFILE=1\n"
                           "protover 2\n",
                           "feature done=1"));
    const std::string out = engine.output();
    EXPECT_NE(out.find("Error (bad value): option RESIGN=2\nError (unknown option): option NOPE=1\n"
                       "Error (missing value): option DRAW\nError (bad value): option BOOK_STYLE=wild\n"
                       "Error (bad value): option RESIGN_VALUE=x\nopen logfile...\n"),
              std::string::npos)
        << out;
    for (const char* feature : {"RESIGN_VALUE -spin -900 -999 -100", "RESIGN_COUNT -spin 1 1 254", "LOGFILE -check 1"})
        EXPECT_NE(out.find(feature), std::string::npos) << feature << out;
    EXPECT_TRUE(dir.exists("Varkon_v5.11c.log"));
    // One hopeless move now resigns; with resigning off it does not.
    const std::string hopeless = "new\nlevel 0 0:30 0\nsetboard 4k3/8/8/8/8/8/QQ6/K7 b - -\ngo\nping 2\n";
    ASSERT_TRUE(engine.ask(hopeless, "pong 2"));
    EXPECT_NE(engine.output().find("1-0 {resign}"), std::string::npos) << engine.output();
    ASSERT_TRUE(engine.ask("option RESIGN=0\noption LOGFILE=0\n" + hopeless, "pong 2"));
    EXPECT_EQ(engine.output().find("{resign}"), std::string::npos) << engine.output();
    // The book: off, then on again with another style; the file stays as it was.
    ASSERT_TRUE(engine.ask("option USE_BOOK=0\nnew\npost\nlevel 0 0:03 0\ngo\n", "move "));
    EXPECT_EQ(engine.output().find("<bookmove>"), std::string::npos);
    ASSERT_TRUE(engine.ask("option USE_BOOK=1\noption BOOK_STYLE=best\nnew\npost\ngo\n", "move "));
    EXPECT_NE(engine.output().find("\t" + test::word_after(engine.output(), "move ") + " <bookmove>"), std::string::npos);
    EXPECT_EQ(engine.quit(), 0);
    EXPECT_EQ(dir.read("Varkon.ini"), ini);
}

// Analysis over the root moves left by "exclude" and "include"; a new position has all.
TEST_F(WinboardCommands, ExcludedMovesAreLeftOutOfTheAnalysis) {
    // The bishop takes the queen.
    engine.send("new\nforce\nsetboard rnb1kbnr/pppp1ppp/8/4p1q1/3P4/2N5/PPP1PPPP/R1BQKBNR w KQkq -\npost\nanalyze\n");
    ASSERT_TRUE(engine.wait_for("\t c1g5 ")) << engine.output();
    // A thinking line whose first move matches `move`.
    const auto first_move = [](const std::string& move) {
        return std::regex("(^|\n)\\d+\t-?\\d+\t\\d+\t\\d+\t " + move);
    };
    // Sends `commands`, then forgets what came before the analysis started again. The
    // output kept may begin in the middle of a line.
    auto send_and_restart = [&](const std::string& commands) {
        engine.send(commands + "ping 1\n");
        EXPECT_TRUE(engine.wait_for("pong 1\n"));
        engine.take_output();
    };
    auto depth_5_after = [&](const std::string& commands) {
        send_and_restart(commands);
        return engine.wait_for_line("5\t");
    };
    auto c1g5_after = [&](const std::string& commands) {
        send_and_restart(commands);
        return engine.wait_for("\t c1g5 ");
    };
    EXPECT_TRUE(depth_5_after("exclude c1g5\n")) << engine.output();
    EXPECT_FALSE(std::regex_search(engine.output(), first_move("c1g5"))) << engine.output();
    EXPECT_TRUE(c1g5_after("include c1g5\n")) << engine.output();
    // Nothing to analyse until a move is included; then that move alone.
    send_and_restart("exclude all\n");
    EXPECT_FALSE(engine.wait_for("\t ", 1000)) << engine.output();
    // With one move the first depths may all come before "pong": wait for any line of it.
    send_and_restart("include a2a3\n");
    EXPECT_TRUE(engine.wait_for("\t a2a3")) << engine.output();
    const std::string lines = engine.output().substr(0, engine.output().rfind('\n'));
    EXPECT_FALSE(std::regex_search(lines, first_move("(?!a2a3)"))) << lines;
    // Another position (a move and its take-back) considers every move again.
    EXPECT_TRUE(c1g5_after("exclude all\na2a3\nundo\n")) << engine.output();
    ASSERT_TRUE(engine.ask("exit\nexclude\nexclude e9e9\ninclude a1a1\nping 2\n", "pong 2"));
    EXPECT_EQ(engine.output().substr(engine.output().find("Error")),
              "Error (missing value): exclude\nError (illegal move): exclude e9e9\nError (illegal move): include a1a1\npong 2\n");
}
