// The WinBoard protocol of varkon_classic, driven through pipes as xboard drives it.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "core/notation.h"
#include "frontend/winboard.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

namespace {

using std::chrono::milliseconds;
using test::Clock;
using test::millis_since;

const char* const middlegame = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8";

std::string session(const std::string& input) {
    int status = -1;
    std::string out = test::run_engine(VARKON_CLASSIC_BIN, "xboard\n" + input, &status);
    EXPECT_EQ(status, 0) << out;
    return out.substr(out.find("PAWN_HASH"));
}

class Winboard : public ::testing::Test {
protected:
    void SetUp() override {
        engine.send("xboard\nprotover 2\naccepted draw\n");
        ASSERT_TRUE(engine.wait_for("feature done=1\n"));
        engine.take_output();
    }
    // Sends `commands` and waits for the engine's move; returns it ("" when none came).
    std::string answer(const std::string& commands) {
        return engine.ask(commands, "move ") ? test::word_after(engine.output(), "move ") : "";
    }
    test::EngineProcess engine{VARKON_CLASSIC_BIN};
};

}  // namespace

TEST(WinboardSession, AnswersInOrderAndRejectsBadInput) {
    const std::string out = session(
        "protover 1\nping 3\nprotover 2\nping 7\nhard\neasy\nics -\ncomputer\nhint\nforce\nfoo\ne3e4\n"
        "level\nlevel 40 x 0\ntime abc\notim\nping\nresult\nname\nsetboard\nundo\nremove\n" +
        std::string(100000, 'q') + "\n" + std::string("\x01\xff\0e2e4\r\ne7e5\nping 8\nquit\n", 26));
    EXPECT_NE(out.find("pong 3\nfeature ping=1 setboard=1 san=0 ics=1 time=1\nfeature draw=1 analyze=1 name=1 smp=1\n"
                       "feature memory=1 exclude=1 nps=0\nfeature myname=\"Varkon 5.11c\" \nfeature egt=\"syzygy,nalimov\"\n"
                       "feature option=\"USE_BOOK -check 1\"\nfeature option=\"BOOK_NAME -file book.dat\"\n"
                       "feature option=\"BOOK_STYLE -combo *best /// normal /// random\"\n"
                       "feature option=\"RESIGN -check 0\"\nfeature option=\"RESIGN_VALUE -spin -600 -999 -100\"\n"
                       "feature option=\"RESIGN_COUNT -spin 6 1 254\"\nfeature option=\"DRAW -check 0\"\n"
                       "feature option=\"LOGFILE -check 0\"\nfeature done=1\npong 7\nponder ON\nponder OFF\nics -\n\n"
                       "Illegal move: foo\nIllegal move: e3e4\n"
                       "Error (missing value): level\nError (bad value): level 40 x 0\nError (bad value): time abc\n"
                       "Error (missing value): otim\nError (missing value): ping\n\n\nupdating bookfile...\nno result ?\n"
                       "Error (bad FEN): setboard\n"
                       "Error (command not legal now): undo\nError (command not legal now): remove\nIllegal move: qqq"),
              std::string::npos)
        << out;
    // Binary bytes are shown as "?"; nothing before moved a piece: 1.e4 e5 are legal.
    EXPECT_NE(out.find("Illegal move: ??\npong 8\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Hint:"), std::string::npos);
}

TEST_F(Winboard, SetboardAndEditSetWholePositionsOrNone) {
    const char* const ending = "4k3/8/8/8/8/8/4P3/4K3";
    // Four fields and then a command on the next line; blanks anywhere.
    engine.send(std::string("setboard ") + ending + " w - -\nping 1\nsetboard   " + ending + "   w  -  -  0  1  \nping 2\n");
    ASSERT_TRUE(engine.wait_for("pong 2\n"));
    // Refused set-ups leave the ending: e1d1 is legal there, not in the start position.
    for (const char* bad : {"8/8/8/8/8/8/8/8 w - -", "4k3/8/8/8/8/8/8/r3K3 b - -", "rnbqkbnr/pppppppp w", "x y z",
                            "4k3/8/8/8/8/8/4P3/4K3 x - -"}) {
        ASSERT_TRUE(engine.ask(std::string("setboard ") + bad + "\nping 3\n", "pong 3"));
        EXPECT_NE(engine.output().find("Error (bad FEN): setboard\n"), std::string::npos) << bad;
    }
    ASSERT_TRUE(engine.ask("edit\n#\nKa1\n.\nping 4\n", "pong 4"));  // no black king: refused as well
    EXPECT_NE(engine.output().find("Error (illegal position): edit\n"), std::string::npos);
    ASSERT_TRUE(engine.ask("e1d1\nremove\nundo\nping 5\n", "pong 5"));
    EXPECT_EQ(engine.output(), "Error (command not legal now): remove\npong 5\n");
    // Edit keeps the side to move: black is to move, and a black move is answered.
    engine.send("e1d1\nedit\n#\nKe1\nRh1\nc\nKe8\nPa7\n.\ngo\n");
    EXPECT_TRUE(engine.wait_for_line("move ")) << engine.output();
    EXPECT_NE(engine.output().find("1. black"), std::string::npos);
}

TEST_F(Winboard, EndOfTheGameAsTheEngineSeesIt) {
    struct Case {
        const char* setup;
        const char* lines;
    } cases[] = {
        {"setboard k7/P7/Kp6/1P6/8/8/8/8 w - -", "move a6b6\n1/2-1/2 {stalemate}\n"},
        {"ics freechess.org\nsetboard 6k1/5ppp/8/8/8/8/8/R5K1 w - -",
         "move a1a8\ntellics whisper 1-0 {white mates}\n1-0 {white mates}\ntellics seek\n"},
        {"ics freechess.org\nsetboard r5k1/8/8/8/8/8/5PPP/6K1 b - -",
         "move a8a1\ntellics whisper 0-1 {blacks mates}\n0-1 {black mates}\ntellics seek\n"},
        {"ics freechess.org\nsetboard 6k1/8/8/8/8/8/5PPP/r5K1 w - -",
         "tellics whisper 0-1 {black mates}\n0-1 {black mates}\ntellics seek\n"},
        {"ics -\nsetboard 8/8/8/4k3/8/8/3r4/4K1B1 w - -", "move e1d2\n1/2-1/2 {draw by insufficient material}\n"},
        // The black king's only moves repeat the position a third time.
        {"setboard 7k/7p/7P/8/8/8/8/K4R2 b - -\nforce\nh8g8\na1b1\ng8h8\nb1a1\nh8g8\na1b1\ng8h8\nb1a1",
         "move h8g8\n1/2-1/2 {draw by 3-fold repetition}\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(engine.ask(std::string("new\nlevel 0 0:03 0\n") + c.setup + "\ngo\nping 9\n", "pong 9")) << c.setup;
        EXPECT_NE(engine.output().find(std::string(c.lines) + "pong 9\n"), std::string::npos) << engine.output();
    }
    // A hundred plies without capture or pawn move.
    std::string shuffle = "new\nlevel 0 0:03 0\nsetboard n3k3/8/8/8/8/8/8/N3K3 w - -\nforce\n";
    for (int i = 0; i < 99; ++i) shuffle += i % 4 == 0 ? "e1d1\n" : i % 4 == 1 ? "e8d8\n" : i % 4 == 2 ? "d1e1\n" : "d8e8\n";
    EXPECT_TRUE(engine.ask(shuffle + "go\n", "1/2-1/2 {draw by 50 moves rule}"));
}

// Castling rights belong to a position: a king that went away and came back does not
// repeat the position it left with the right to castle.
TEST(WinboardRules, ThreefoldRepetitionCountsCastlingRights) {
    test::use_classic();
    const char* moves[] = {"e2e4", "e7e5", "e1e2", "e8e7", "e2e1", "e7e8", "e1e2", "e8e7", "e2e1", "e7e8",
                           "e1e2", "e8e7", "e2e1", "e7e8"};
    int played = 0;
    for (const char* m : moves) {
        ASSERT_EQ(varkon::parse_coordinate_move(varkon::game(), m), 1) << m;
        ++played;
        // After 1.e4 e5 the kings walk e2 and back twice: by the keys alone the position
        // after 1...e5 would count three times after ten plies, but then both sides could
        // still castle. Positions of the second round repeat for real from ply 12 on.
        EXPECT_EQ(varkon::threefold_repetition(), played >= 12) << played;
    }
    EXPECT_EQ(varkon::game().game_ply, 15);  // the check leaves the game as it was
}

TEST_F(Winboard, ClockSettingsAreReadWhole) {
    // No "time": the clock is the level's base, minutes and seconds, and the increment's
    // fraction counts. Either search takes a real share of it, and never all of it.
    struct Case {
        const char* level;
        int min_ms, max_ms;
    } cases[] = {{"level 0 0:30 0", 300, 30000}, {"level 0 0:02 0.5", 150, 2000}};
    for (const Case& c : cases) {
        const auto start = Clock::now();
        EXPECT_NE(answer(std::string("new\n") + c.level + "\nsetboard " + middlegame + "\ngo\n"), "");
        EXPECT_GE(millis_since(start), c.min_ms) << c.level;
        EXPECT_LT(millis_since(start), c.max_ms) << c.level;
    }
}

TEST_F(Winboard, NeverLosesOnTime) {
    // Increments beyond the clock, one-second controls, tenths of a second left.
    struct Case {
        const char* level;
        int time_cs;
    } cases[] = {{"level 0 0:01 5", 100}, {"level 40 0:01 0", 100}, {"level 1 0:01 0", 100},
                 {"level 0 1 0", 30},     {"level 0 0:05 10", 20},  {"level 2 0:10 0", 20}};
    for (const Case& c : cases) {
        const auto start = Clock::now();
        const std::string move = answer(std::string("new\n") + c.level + "\nsetboard " + middlegame + "\ntime " +
                                        std::to_string(c.time_cs) + "\notim 100\ngo\n");
        EXPECT_NE(move, "");
        EXPECT_LT(millis_since(start), c.time_cs * 10) << c.level << " time " << c.time_cs;
    }
}

TEST_F(Winboard, CommandsWhileThinkingEndTheSearchAndAllCount) {
    engine.send(std::string("new\nlevel 0 10 0\npost\nsetboard ") + middlegame + "\ngo\n");
    ASSERT_TRUE(engine.wait_for("\n4\t"));  // thinking
    const auto start = Clock::now();
    engine.send("ping 1\nforce\nping 2\n");
    ASSERT_TRUE(engine.wait_for("pong 2\n", 5000));
    EXPECT_LT(millis_since(start), 3000);
    const std::string out = engine.output();
    const auto move = out.find("\nmove "), pong1 = out.find("pong 1\n");
    ASSERT_NE(move, std::string::npos);
    EXPECT_LT(move, pong1);
    // A thinking line: depth, score, time, nodes, then the line of moves.
    EXPECT_TRUE(std::regex_search(out, std::regex("\n\\d+\t-?\\d+\t\\d+\t\\d+\t [a-h][1-8][a-h][1-8]"))) << out;
    // "?" moves now.
    const auto again = Clock::now();
    engine.take_output();
    engine.send("undo\ngo\n");
    std::this_thread::sleep_for(milliseconds(300));
    engine.send("?\n");
    ASSERT_TRUE(engine.wait_for_line("move ", 3000));
    EXPECT_LT(millis_since(again), 2500);
    // A stale hint (the position changed) is not given.
    engine.take_output();
    engine.send("undo\nhint\nping 3\n");
    ASSERT_TRUE(engine.wait_for("pong 3\n"));
    EXPECT_EQ(engine.output().find("Hint:"), std::string::npos);
}

TEST_F(Winboard, AnalysisRunsUntilACommandAndStatusRequestsDoNotRestartIt) {
    engine.send("new\npost\nanalyze\n");
    ASSERT_TRUE(engine.wait_for("\n5\t", 10000)) << engine.output();
    engine.take_output();
    engine.send(".\n.\n");
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(engine.output().find("\n1\t"), std::string::npos);  // not restarted
    engine.send("e2e4\n");  // a move restarts it in the new position, and is not answered
    ASSERT_TRUE(engine.wait_for("\t e7e5", 10000));
    engine.send("new\n");  // analysis goes on in a new game
    ASSERT_TRUE(engine.wait_for("\t e2e4", 10000));
    engine.send("hint\nexit\nping 1\n");
    ASSERT_TRUE(engine.wait_for("pong 1\n"));
    EXPECT_EQ(engine.output().find("move "), std::string::npos);
    EXPECT_NE(engine.output().find("Hint: "), std::string::npos);  // the best move of the analysis
}

TEST_F(Winboard, QuitOrEndOfInputWhileThinkingOrPondering) {
    engine.send(std::string("new\nlevel 0 10 0\nhard\nsetboard ") + middlegame + "\ngo\n");
    std::this_thread::sleep_for(milliseconds(300));
    auto start = Clock::now();
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(5000), 0);
    EXPECT_LT(millis_since(start), 2000);

    // Pondering: after its answer to a move the engine thinks on, in the position after
    // the reply it expects, until the opponent speaks.
    // (a3-a4 stays legal whatever black answers to a2-a3 here.)
    test::EngineProcess ponderer(VARKON_CLASSIC_BIN);
    ponderer.send(std::string("xboard\nnew\npost\nlevel 0 10 0\nhard\nsetboard ") + middlegame + "\na2a3\ntime 1000\ngo\n");
    ASSERT_TRUE(ponderer.wait_for_line("move "));
    ponderer.take_output();
    ponderer.send("time 1000\na3a4\n");
    ASSERT_TRUE(ponderer.wait_for_line("move "));
    std::this_thread::sleep_for(milliseconds(500));
    ponderer.send("hint\n");
    ASSERT_TRUE(ponderer.wait_for_line("Hint: "));
    const std::string out = ponderer.output();
    const std::string expected = out.substr(out.find("Hint: ") + 6, 4);
    EXPECT_NE(out.find("\t " + expected, out.find("\nmove ")), std::string::npos) << out;  // the ponder lines
    start = Clock::now();
    EXPECT_EQ(ponderer.wait_exit(5000), 0);  // end of input while pondering
    EXPECT_LT(millis_since(start), 2000);
}

TEST(WinboardSettings, DrawOffersAcceptanceAndResignation) {
    const test::WorkDir dir("RESIGN on\nDRAW on\n");
    test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
    // 80 plies played, a dead draw, the opponent offers: accepted before the move.
    std::string game = "xboard\nprotover 2\naccepted draw\nnew\nsetboard 4k3/8/8/8/8/8/8/4K3 w - -\nforce\n";
    const char* const walk[] = {"e1d2", "e8d7", "d2e1", "d7e8"};
    for (int i = 0; i < 80; ++i) game += std::string(walk[i % 4]) + "\n";
    engine.send(game + "draw\notim 7000\ngo\nping 1\n");
    ASSERT_TRUE(engine.wait_for("pong 1\n"));
    EXPECT_TRUE(std::regex_search(engine.output(), std::regex("offer draw\nmove \\S+\n"))) << engine.output();
    // Hopeless: the sixth move in a row scored beyond the resign value resigns.
    engine.take_output();
    engine.send("new\nics chess.server\nlevel 0 0:30 0\nsetboard 4k3/8/8/8/8/8/QQ6/K7 b - -\n");
    const char* const white[] = {"go", "a1b1", "b1c1", "c1d1", "d1e1", "e1f1"};  // never repeating
    for (int n = 1; n <= 6; ++n) {
        engine.send(std::string(white[n - 1]) + "\n");
        ASSERT_TRUE(engine.wait_for_line("move ")) << n;
        engine.send("ping " + std::to_string(n) + "\n");
        ASSERT_TRUE(engine.wait_for("pong " + std::to_string(n) + "\n"));
        const bool resigned = engine.output().find("1-0 {resign}") != std::string::npos;
        EXPECT_EQ(resigned, n == 6) << engine.output();
        if (n < 6) engine.take_output();
    }
    EXPECT_TRUE(std::regex_search(engine.output(), std::regex("move \\S+\ntellics whisper 1-0 \\{resign\\}\ntellics seek\n1-0 \\{resign\\}\n")))
        << engine.output();
    EXPECT_EQ(engine.quit(), 0);
}
