// varkon_classic's log, against the built program: what it copies, when it is open, and
// what happens when it cannot be written.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/engine_process.h"
#include "support/workdir.h"

namespace {

const char* const LOG = "Varkon_v5.11c.log";
const std::string header = "========================================\nLog file for Varkon v5.11c\n"
                           "========================================\n\n";

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Log, CopiesTheConsoleExactlyAndStopsAtUci) {
    // The same dialogue with and without the log: the screen shows the same (apart from the
    // note that the log is opened), and the log holds the commands and every line shown.
    const std::string input = "board\nbookoff bookon\nuci\nisready\nquit\n";
    const test::WorkDir with("LOGFILE on\n"), without("LOGFILE off\n");
    const std::string logged_out = test::run_engine(VARKON_CLASSIC_BIN, input, nullptr, with.path());
    const std::string plain_out = test::run_engine(VARKON_CLASSIC_BIN, input, nullptr, without.path());
    std::string expected = plain_out;
    const std::string off = "LOGFILE     \t\t: off\n";
    expected.replace(expected.find(off), off.size(), "LOGFILE     \t\t: on\n");
    const std::string opened = "open logfile...\n";
    expected.insert(expected.find("\n\n", expected.find("PAWN_HASH")) + 2, opened);
    EXPECT_EQ(logged_out, expected);
    EXPECT_FALSE(without.exists(LOG));

    const std::string log = with.read(LOG);
    const std::size_t board_at = plain_out.find("\n  +---");
    const std::string board = plain_out.substr(board_at, plain_out.find("pos_value : ") - board_at);
    EXPECT_EQ(log, header + "board\n" + board + "pos_value : 0\nbookoff bookon\nbook is off\nbook is on\nuci\n");
}

TEST(Log, TheUciOptionOpensItOnceAndClosesIt) {
    const test::WorkDir dir("");
    test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
    engine.send("uci\nsetoption name LogFile value true\nsetoption name LogFile value true\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n"));
    EXPECT_EQ(count(engine.take_output(), "open logfile...\n"), 1);
    // A line that arrives in pieces is logged once, as one line; a CR ends a line as well.
    const std::string start = "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 moves ";
    engine.send(start + "e2");
    ASSERT_FALSE(engine.wait_for("never", 200));
    engine.send("e4\rgo depth 2\r\n");
    ASSERT_TRUE(engine.wait_for_line("bestmove"));
    engine.take_output();
    engine.send("setoption name LogFile value maybe\nsetoption name LogFile value false\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n"));
    engine.send("setoption name LogFile value false\nquit\n");
    EXPECT_EQ(engine.wait_exit(), 0);

    const std::string log = dir.read(LOG);
    EXPECT_TRUE(log.starts_with(header + "setoption name LogFile value true\nisready\nreadyok\n" + start +
                                "e2e4\ngo depth 2\ninfo depth 1 "))
        << log;
    EXPECT_NE(log.find("\nbestmove "), std::string::npos);
    EXPECT_TRUE(log.ends_with("setoption name LogFile value maybe\nsetoption name LogFile value false\n")) << log;
}

// Each attempt to open the log (start-up, the UCI option) reports the failure once.
TEST(Log, ALogThatCannotBeCreatedIsReportedAndTheEngineGoesOn) {
    const test::WorkDir dir("LOGFILE on\n");
    std::filesystem::create_directory(dir.file(LOG));
    test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
    engine.send("board\nuci\nsetoption name LogFile value true\nisready\n");
    ASSERT_TRUE(engine.wait_for("readyok\n"));
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
    const std::string& out = engine.output();
    EXPECT_EQ(count(out, "can't create log file Varkon_v5.11c.log (Is a directory)\n"), 2) << out;
    EXPECT_NE(out.find("\ninfo string can't create log file"), std::string::npos);  // in the protocol's form
    EXPECT_NE(out.find("pos_value : "), std::string::npos);
    EXPECT_EQ(count(out, "open logfile"), 0);
}
