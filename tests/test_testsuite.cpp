// The EPD test suite: reading EPD lines and judging moves in process; runs of the built
// varkon_classic from a script through pipes and from a terminal.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "core/input.h"
#include "frontend/testsuite.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"
#include "support/workdir.h"

using namespace varkon;

TEST(Epd, LinesAreReadWithTheirOperations) {
    EpdPosition p;
    ASSERT_EQ(parse_epd_line("1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b - - ; bm Qd1 + ; id BK.01", p), EpdLine::position);
    EXPECT_EQ(p.fields[0], "1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5");
    EXPECT_EQ(p.fields[1] + p.fields[2] + p.fields[3], "b--");
    EXPECT_EQ(p.best, std::vector<std::string>{"Qd1"});
    EXPECT_EQ(p.id, "BK.01");

    // Several moves, marks after them, a quoted id holding ";", the FEN counters, and
    // operations this reader does not know.
    ASSERT_EQ(parse_epd_line("r4rk1/8/8/8/8/8/8/R3K2R w KQ e3 0 12 bm Qg6+! Qh5#?; c0 \"x; y\"; id \"WAC.1; b\";", p),
              EpdLine::position);
    EXPECT_EQ(p.fields[2] + p.fields[3], "KQe3");
    EXPECT_EQ(p.best, (std::vector<std::string>{"Qg6", "Qh5"}));
    EXPECT_EQ(p.id, "\"WAC.1; b\"");
    ASSERT_EQ(parse_epd_line("8/8/8/8/8/8/8/K6k w am Kb2?? Ka2;bm e8=Q+", p), EpdLine::position);
    EXPECT_EQ(p.fields[2] + p.fields[3], "--");  // castling and en passant left out
    EXPECT_EQ(p.avoid, (std::vector<std::string>{"Kb2", "Ka2"}));
    EXPECT_EQ(p.best, std::vector<std::string>{"e8=Q"});  // no ";" after the last operation
    EXPECT_EQ(p.id, "?");

    EXPECT_EQ(parse_epd_line("", p), EpdLine::empty);
    EXPECT_EQ(parse_epd_line(" \t ", p), EpdLine::empty);
    EXPECT_EQ(parse_epd_line("*", p), EpdLine::end);
    EXPECT_EQ(parse_epd_line("  *** end", p), EpdLine::end);
    EXPECT_EQ(parse_epd_line("8/8/8/8/8/8/8/K6k", p), EpdLine::malformed);
    EXPECT_EQ(parse_epd_line("8/8/8/8/8/8/8/K6k ; bm Kb2;", p), EpdLine::malformed);
}

TEST(Epd, AnyBestMoveSolvesAndMovesToAvoidFail) {
    test::use_classic();
    auto move = [](const char* san) {
        const int i = find_san_move(san);
        EXPECT_NE(i, 0) << san;
        return move_stack[i];
    };
    auto with = [](std::vector<std::string> best, std::vector<std::string> avoid = {}) {
        EpdPosition p;
        p.best = std::move(best);
        p.avoid = std::move(avoid);
        return p;
    };
    ASSERT_TRUE(test::set_fen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -"));
    const Move mate = move("Ra8"), quiet = move("Kf1");
    EXPECT_TRUE(epd_solved(with({"Ra8"}), mate));
    EXPECT_TRUE(epd_solved(with({"Rb1", "Ra8"}), mate));
    EXPECT_FALSE(epd_solved(with({"Rb1", "Ra7"}), mate));
    EXPECT_TRUE(epd_solved(with({}, {"Ra8"}), quiet));
    EXPECT_FALSE(epd_solved(with({}, {"Ra8"}), mate));
    EXPECT_FALSE(epd_solved(with({"Ra8"}, {"Ra8"}), mate));
    EXPECT_FALSE(epd_solved(with({}), mate));            // nothing to compare with
    EXPECT_FALSE(epd_solved(with({"Ra8"}), Move{}));     // no move at all
    EXPECT_FALSE(epd_solved(with({"Zz9"}), mate));       // text that names no move

    // Promotions name their piece; a move is matched whatever the text's disambiguation.
    ASSERT_TRUE(test::set_fen("8/4P1k1/8/8/8/8/8/KN1N4 w - -"));
    const Move queen = move("e8=Q"), knight = move("e8=N"), from_b = move("Nbc3");
    EXPECT_TRUE(epd_solved(with({"e8=Q"}), queen));
    EXPECT_FALSE(epd_solved(with({"e8=Q"}), knight));
    EXPECT_TRUE(epd_solved(with({"Nb1c3"}), from_b));
    EXPECT_FALSE(epd_solved(with({"Ndc3"}), from_b));
}

// ---- runs of the built program ------------------------------------------------------------

namespace {

const char* const SUITE =
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - bm Ra8#; id \"mate\";\n"
    "\n"
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - am Ra8; id \"avoid\";\n"
    "8/8/8/8/8/8/8/8 w - - bm e4; id \"no kings\";\n"
    "8/8 ; id \"fields missing\";\n"
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - id \"no bm\";\n";  // and no "*" at the end

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

std::string run_suite(const test::WorkDir& dir, const std::string& answers) {
    return test::run_engine(VARKON_CLASSIC_BIN, "testsuite\n" + answers, nullptr, dir.path());
}

}  // namespace

TEST(EpdRun, AScriptRunsTheWholeSuiteAndItsResultsAreConsistent) {
    const test::WorkDir dir("");
    dir.write("suite.epd", SUITE);
    // The script's "quit" waits on the pipe during the run and ends the program after it.
    int status = -1;
    const std::string out = test::run_engine(VARKON_CLASSIC_BIN, "epd\nsuite.epd\nresults.txt\n1\na\nquit\n", &status,
                                             dir.path());
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("\n-------------------- epd testsuite: suite.epd --------------------\n\n"
                       "test_time = 1 seconds per move\n\n\nsetboard 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -\nbm= Ra8\nid= \"mate\"\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n1. \"mate\"\tRa8\tRa8 !\t:-)\t time = "), std::string::npos);
    EXPECT_NE(out.find("\n2. \"avoid\"\tam Ra8\tRa8 ?\t:-(\t time = "), std::string::npos);
    EXPECT_NE(out.find("\n3. \"no bm\"\tnone\tRa8 ?\t:-(\t time = "), std::string::npos);
    EXPECT_NE(out.find("bm= none\n"), std::string::npos);

    const std::string results = dir.read("results.txt");
    EXPECT_TRUE(results.starts_with("\n-------------------- this is a epd testsuite file from Varkon --------------------\n\n"
                                    "EPD file  = suite.epd\ntest_time = 1 seconds per move\n\n\n1. \"mate\"\tRa8\tRa8 !\t:-)\t"))
        << results;
    EXPECT_NE(results.find("\tsolved = 1\nline 4: illegal position, skipped\nline 5: no position (fields missing), skipped\n"
                           "3. \"no bm\""),
              std::string::npos)
        << results;
    EXPECT_NE(results.find("\nend of testsuite\n\npositions   = 3\nsolved      = 1\nunsolved    = 2\n"
                           "solved time = 0 hours 0 minutes 3 seconds \nnodes       = "),
              std::string::npos)
        << results;
    EXPECT_NE(out.find("\nend of testsuite\n\npositions   = 3\nsolved      = 1\nunsolved    = 2\ntime need   = "),
              std::string::npos);
    EXPECT_EQ(count(results, ":-)"), 1);
    EXPECT_EQ(count(results, ":-("), 2);
}

TEST(EpdRun, BadFilesAndAnswersGiveClearMessages) {
    const test::WorkDir dir("");
    dir.write("only_end.epd", "*\n");
    dir.write("suite.epd", SUITE);
    std::filesystem::create_directory(dir.file("a_directory"));
    EXPECT_NE(run_suite(dir, "missing.epd r.txt 1 a\n").find("\nUnable to open file. (No such file or directory)\n"),
              std::string::npos);
    EXPECT_NE(run_suite(dir, "a_directory r.txt 1 a\n").find("\nUnable to open file. (not a regular file)\n"),
              std::string::npos);
    EXPECT_FALSE(dir.exists("r.txt"));
    EXPECT_NE(run_suite(dir, "suite.epd no/such/dir.txt 1 a\n").find("\nUnable to open results file. ("),
              std::string::npos);
    // The results never overwrite the suite.
    EXPECT_NE(run_suite(dir, "suite.epd ./suite.epd 1 a\n").find("\nUnable to open results file. (it is the epd file)\n"),
              std::string::npos);
    EXPECT_EQ(dir.read("suite.epd"), SUITE);

    // No position at all: a time of 0 is 1 second, and the summary divides by nothing.
    std::string out = run_suite(dir, "only_end.epd r.txt 0 a\n");
    EXPECT_NE(out.find("test_time = 1 seconds per move\n"), std::string::npos);
    EXPECT_NE(out.find("positions   = 0\nsolved      = 0\nunsolved    = 0\ntime need   = 0 hours 0 minutes 0 seconds \n"
                       "nodes       = 0\nNPS         = 0\ndepth       = 0\n"),
              std::string::npos)
        << out;
    out = run_suite(dir, "only_end.epd r.txt 99999999999999999999999 a\n");
    EXPECT_NE(out.find("test_time = 1000000 seconds per move\n"), std::string::npos);
    // The end of input in the middle of the questions ends the program cleanly.
    int status = -1;
    test::run_engine(VARKON_CLASSIC_BIN, "testsuite\nsuite.epd\n", &status, dir.path());
    EXPECT_EQ(status, 0);
}

TEST(EpdRun, InteractiveBreakEndsWithoutSummary) {
    const test::WorkDir dir("");
    dir.write("suite.epd", SUITE);
    const std::string out = run_suite(dir, "suite.epd r.txt 1 i\nbreak\nboard\n");
    EXPECT_NE(out.find("solved = 1\n\n<n>ext / <b>reak ? \n"), std::string::npos) << out;
    EXPECT_EQ(count(out, "setboard"), 1);
    EXPECT_EQ(out.find("end of testsuite"), std::string::npos);
    EXPECT_NE(out.find("pos_value : "), std::string::npos);  // back at the console
}

// A line typed at a terminal stops the run before the next position, and is left for the
// console.
TEST(EpdRun, ALineTypedAtATerminalStopsTheRun) {
    const test::WorkDir dir("");
    dir.write("suite.epd", SUITE);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        execl(VARKON_CLASSIC_BIN, VARKON_CLASSIC_BIN, static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    auto wait_for = [&](const std::string& needle) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (out.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{terminal, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(terminal, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out.find(needle) != std::string::npos;
    };
    const std::string answers = "testsuite\nsuite.epd\nr.txt\n1\na\n";
    ASSERT_EQ(write(terminal, answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
    ASSERT_TRUE(wait_for("id= \"mate\"")) << out;
    ASSERT_EQ(write(terminal, "board\n", 6), 6);
    EXPECT_TRUE(wait_for("pos_value : "));
    ASSERT_EQ(write(terminal, "quit\n", 5), 5);
    int status = -1;
    waitpid(pid, &status, 0);
    close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(count(out, "setboard"), 1);
    EXPECT_EQ(out.find("end of testsuite"), std::string::npos);
    EXPECT_EQ(count(dir.read("r.txt"), "\t time = "), 1);
}
