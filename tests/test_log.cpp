// varkon_classic's log, against the built program: what it copies, when it is open, and
// what happens when it cannot be made.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/engine_process.h"

namespace {

const char* const LOG = "Varkon_v5.11c.log";
const std::string header = "========================================\nLog file for Varkon v5.11c\n"
                           "========================================\n\n";

}  // namespace

TEST(Log, CopiesTheConsoleExactlyAndStopsAtUci) {
    // The same dialogue with and without the log shows the same (but for the note that the
    // log is opened); the log holds the commands and every line shown.
    const std::string input = "board\nbookoff bookon\nuci\nisready\nquit\n";
    const test::WorkDir with("LOGFILE on\n"), without("LOGFILE off\n");
    const std::string logged_out = test::run_engine(VARKON_CLASSIC_BIN, input, nullptr, with.path());
    std::string expected = test::run_engine(VARKON_CLASSIC_BIN, input, nullptr, without.path());
    const std::size_t board_at = expected.find("\n  +---");
    const std::string board = expected.substr(board_at, expected.find("pos_value : ") - board_at);
    expected.replace(expected.find(": off\n"), 6, ": on\n");
    expected.insert(expected.find("\n\n", expected.find("PAWN_HASH")) + 2, "open logfile...\n");
    EXPECT_EQ(logged_out, expected);
    EXPECT_FALSE(without.exists(LOG));
    // The tablebases are set up after the log is opened: their report is in it.
    EXPECT_EQ(with.read(LOG), header + "0 pieces endgame tablebases found\nboard\n" + board +
                                  "pos_value : 0\nbookoff bookon\nbook is off\nbook is on\nuci\n");
}

TEST(Log, TheUciOptionOpensItOnceAndClosesIt) {
    const test::WorkDir dir("");
    test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
    engine.send("uci\nsetoption name LogFile value true\nsetoption name LogFile value true\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n"));
    EXPECT_EQ(engine.take_output().find("open logfile...\n"), engine.output().rfind("open logfile...\n"));
    // A line that arrives in pieces is logged once, whole; a CR ends a line as well; a
    // command kept during the search and carried out after it is logged once.
    const std::string start = "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 moves ";
    engine.send(start + "e2");
    ASSERT_FALSE(engine.wait_for("never", 200));
    engine.send("e4\rgo depth 7\r\nboard\n");
    ASSERT_TRUE(engine.wait_for("pos_value : "));
    engine.send("setoption name LogFile value maybe\nsetoption name LogFile value false\nsetoption name LogFile value false\nquit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
    const std::string log = dir.read(LOG);
    EXPECT_TRUE(log.starts_with(header + "setoption name LogFile value true\nisready\nreadyok\n" + start +
                                "e2e4\ngo depth 7\n"))
        << log;
    EXPECT_EQ(log.find("\nboard\n"), log.rfind("\nboard\n"));
    EXPECT_EQ(log.find("pos_value : "), log.rfind("pos_value : "));
    EXPECT_LT(log.find("\nboard\n"), log.find("\nbestmove"));  // read during the search
    EXPECT_TRUE(log.ends_with("\nsetoption name LogFile value maybe\nsetoption name LogFile value false\n")) << log;
}

// After every search (an EPD run's, a WinBoard game's) the log holds its statistics
// report, which standard output does not show.
TEST(Log, HoldsTheStatisticsReportOfEverySearch) {
    const test::WorkDir dir("LOGFILE on\n");
    dir.write("suite.epd", "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - bm Ra8; id \"mate\";\n");
    const std::string out = test::run_engine(VARKON_CLASSIC_BIN, "epd\nsuite.epd\nr.txt\n1\na\nxboard\nnew\nsd 2\ngo\n",
                                             nullptr, dir.path());
    const std::string log = dir.read(LOG);
    EXPECT_EQ(out.find("time_limit: "), std::string::npos);
    EXPECT_EQ(test::count(log, "\n\ntime_limit: "), 2) << log;
    EXPECT_LT(log.find("\n1\t31998\t"), log.find("time_limit: "));
    EXPECT_NE(log.find("\negtb_probes: ", log.find("\nmove ")), std::string::npos) << log;
}

// Each attempt to open the log (start-up, the UCI option) reports its failure once.
TEST(Log, ALogThatCannotBeCreatedIsReportedAndTheEngineGoesOn) {
    const test::WorkDir dir("LOGFILE on\n");
    std::filesystem::create_directory(dir.file(LOG));
    const std::string out = test::run_engine(VARKON_CLASSIC_BIN, "board\nuci\nsetoption name LogFile value true\nquit\n",
                                             nullptr, dir.path());
    const std::string failed = "can't create log file Varkon_v5.11c.log (Is a directory)\n";
    EXPECT_NE(out.find("\n" + failed), std::string::npos) << out;
    EXPECT_NE(out.find("\ninfo string " + failed), std::string::npos);  // in the protocol's form
    EXPECT_EQ(out.find(failed, out.find(failed) + 1), out.rfind(failed));
    EXPECT_NE(out.find("pos_value : "), std::string::npos);
}
