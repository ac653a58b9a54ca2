// The EPD test suite: reading EPD lines and judging moves in process; runs of the built
// varkon_classic from a script through pipes and from a terminal.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "core/notation.h"
#include "frontend/testsuite.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

TEST(Epd, LinesAreReadWithTheirOperations) {
    EpdPosition p;
    ASSERT_EQ(parse_epd_line("1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b - - ; bm Qd1 + ; id BK.01", p), EpdLine::position);
    EXPECT_EQ(p.fields[0] + " " + p.fields[1] + p.fields[2] + p.fields[3], "1k1r4/pp1b1R2/3q2pp/4p3/2B5/4Q3/PPP2B2/2K5 b--");
    EXPECT_EQ(p.best, std::vector<std::string>{"Qd1"});
    EXPECT_EQ(p.id, "BK.01");
    // Several moves with their marks, a quoted text holding ";", the FEN counters,
    // operations this reader does not know.
    ASSERT_EQ(parse_epd_line("r3k3/8/8/8/8/8/8/R3K2R w KQ e3 0 12 bm Qg6+! Qh5#?; c0 \"x; y\"; id \"WAC.1; b\";", p),
              EpdLine::position);
    EXPECT_EQ(p.fields[2] + p.fields[3], "KQe3");
    EXPECT_EQ(p.best, (std::vector<std::string>{"Qg6", "Qh5"}));
    EXPECT_EQ(p.id, "\"WAC.1; b\"");
    // Castling and en passant left out; no ";" after the last operation.
    ASSERT_EQ(parse_epd_line("8/8/8/8/8/8/8/K6k w am Kb2?? Ka2;bm e8=Q+", p), EpdLine::position);
    EXPECT_EQ(p.fields[2] + p.fields[3] + p.id, "--?");
    EXPECT_EQ(p.avoid, (std::vector<std::string>{"Kb2", "Ka2"}));
    EXPECT_EQ(p.best, std::vector<std::string>{"e8=Q"});
    for (const char* line : {"", " \t "}) EXPECT_EQ(parse_epd_line(line, p), EpdLine::empty);
    for (const char* line : {"*", "  *** end"}) EXPECT_EQ(parse_epd_line(line, p), EpdLine::end);
    for (const char* line : {"8/8/8/8/8/8/8/K6k", "8/8/8/8/8/8/8/K6k ; bm Kb2;"})
        EXPECT_EQ(parse_epd_line(line, p), EpdLine::malformed);
}

TEST(Epd, AnyBestMoveSolvesAndMovesToAvoidFail) {
    test::use_classic();
    auto move = [](const char* san) { return game().move_stack[find_san_move(game(), san)]; };
    auto solved = [](std::vector<std::string> best, std::vector<std::string> avoid, const Move& m) {
        EpdPosition p;
        p.best = std::move(best);
        p.avoid = std::move(avoid);
        return epd_solved(p, m);
    };
    ASSERT_TRUE(test::set_fen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -"));
    const Move mate = move("Ra8"), quiet = move("Kf1");
    EXPECT_TRUE(solved({"Rb1", "Ra8"}, {}, mate));
    EXPECT_FALSE(solved({"Rb1", "Ra7"}, {}, mate));
    EXPECT_TRUE(solved({}, {"Ra8"}, quiet));
    EXPECT_FALSE(solved({}, {"Ra8"}, mate));
    EXPECT_FALSE(solved({"Ra8"}, {"Ra8"}, mate));
    EXPECT_FALSE(solved({}, {}, mate));          // nothing to compare with
    EXPECT_FALSE(solved({"Ra8"}, {}, Move{}));   // no move at all
    EXPECT_FALSE(solved({"Zz9"}, {}, mate));     // a text that names no move
    // Promotions name their piece; the move counts, not how the text tells it.
    ASSERT_TRUE(test::set_fen("8/4P1k1/8/8/8/8/8/KN1N4 w - -"));
    const Move queen = move("e8=Q"), knight = move("e8=N"), from_b = move("Nbc3");
    EXPECT_TRUE(solved({"e8=Q"}, {}, queen));
    EXPECT_FALSE(solved({"e8=Q"}, {}, knight));
    EXPECT_TRUE(solved({"Nb1c3"}, {}, from_b));
    EXPECT_FALSE(solved({"Ndc3"}, {}, from_b));
}

// ---- runs of the built program --------------------------------------------------------------

namespace {

const char* const SUITE =
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - bm Ra8#; id \"mate\";\n"
    "\n"
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - am Ra8; id \"avoid\";\n"
    "8/8/8/8/8/8/8/8 w - - bm e4; id \"no kings\";\n"
    "8/8 ; id \"fields missing\";\n"
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - id \"no bm\";\n";  // and no "*" at the end

std::string run_suite(const test::WorkDir& dir, const std::string& answers) {
    return test::run_engine(VARKON_CLASSIC_BIN, "testsuite\n" + answers, nullptr, dir.path());
}

}  // namespace

TEST(EpdRun, AScriptRunsTheWholeSuiteAndItsResultsAgree) {
    const test::WorkDir dir("");
    dir.write("suite.epd", SUITE);
    // The script's "quit" waits on the pipe during the run, and ends the program after it.
    int status = -1;
    const std::string out = test::run_engine(VARKON_CLASSIC_BIN, "epd\nsuite.epd\nresults.txt\n1\na\nquit\n", &status,
                                             dir.path());
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("\nsetboard 6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -\nbm= Ra8\nid= \"mate\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("bm= none\nid= \"no bm\"\n"), std::string::npos);
    // The thinking lines are WinBoard's "post" lines.
    EXPECT_TRUE(std::regex_search(out, std::regex("\n1\t31998\t\\d+\t\\d+\t a1a8  mate in 1\n"))) << out;
    EXPECT_EQ(out.find("info "), std::string::npos);
    EXPECT_NE(out.find("\nend of testsuite\n\npositions   = 3\nsolved      = 1\nunsolved    = 2\n"), std::string::npos);
    // The results file, its times aside.
    std::string results = dir.read("results.txt");
    for (std::size_t at = results.find("\t time = "); at != std::string::npos; at = results.find("\t time = ", at + 1))
        results.erase(at + 9, results.find_first_not_of("0123456789", at + 9) - at - 9);
    EXPECT_NE(results.find("EPD file  = suite.epd\ntest_time = 1 seconds per move\n\n\n"
                           "1. \"mate\"\tRa8\tRa8 !\t:-)\t time = \tsolved = 1\n"
                           "2. \"avoid\"\tam Ra8\tRa8 ?\t:-(\t time = \tsolved = 1\nline 4: illegal position, skipped\n"
                           "line 5: no position (fields missing), skipped\n3. \"no bm\"\tnone\tRa8 ?\t:-(\t time = \tsolved = 1\n\n"
                           "end of testsuite\n\npositions   = 3\nsolved      = 1\nunsolved    = 2\n"),
              std::string::npos)
        << results;
}

TEST(EpdRun, BadFilesAndAnswersGiveClearMessages) {
    const test::WorkDir dir("");
    dir.write("only_end.epd", "*\n");
    dir.write("suite.epd", SUITE);
    std::filesystem::create_directory(dir.file("a_directory"));
    const char* const cases[][2] = {
        {"missing.epd r.txt 1 a\n", "\nUnable to open file. (No such file or directory)\n"},
        {"a_directory r.txt 1 a\n", "\nUnable to open file. (not a regular file)\n"},
        {"suite.epd no/such/dir.txt 1 a\n", "\nUnable to open results file. (No such file or directory)\n"},
        {"suite.epd ./suite.epd 1 a\n", "\nUnable to open results file. (it is the epd file)\n"},
        // No position at all: a time of 0 is 1 second, and the summary divides by nothing.
        {"only_end.epd r.txt 0 a\n", "test_time = 1 seconds per move\n"},
        {"only_end.epd r.txt 0 a\n", "positions   = 0\n"},
        {"only_end.epd r.txt 0 a\n", "\nNPS         = 0\ndepth       = 0\n"},
        {"only_end.epd r.txt 99999999999999999999999 a\n", "test_time = 1000000 seconds per move\n"},
    };
    for (const auto& c : cases) EXPECT_NE(run_suite(dir, c[0]).find(c[1]), std::string::npos) << c[0];
    EXPECT_EQ(dir.read("suite.epd"), SUITE);  // the results never overwrite the suite
    // The end of input in the middle of the questions ends the program cleanly.
    int status = -1;
    test::run_engine(VARKON_CLASSIC_BIN, "testsuite\nsuite.epd\n", &status, dir.path());
    EXPECT_EQ(status, 0);
}

TEST(EpdRun, InteractiveBreakAndATerminalLineEndWithoutSummary) {
    const test::WorkDir dir("");
    dir.write("suite.epd", SUITE);
    const std::string out = run_suite(dir, "suite.epd r.txt 1 i\nbreak\nboard\n");
    // After each position: the statistics report, then the question.
    EXPECT_NE(out.find("solved = 1\n\n\ntime_limit: "), std::string::npos) << out;
    EXPECT_NE(out.find("egtb_probes: 0, egtb_hits: 0\n\n\n<n>ext / <b>reak ? \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("setboard"), out.rfind("setboard"));
    EXPECT_EQ(out.find("end of testsuite"), std::string::npos);
    EXPECT_NE(out.find("pos_value : "), std::string::npos);  // back at the console

    // At a terminal, a line typed during the run stops it and is then read by the console.
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.path().c_str()) == 0) execl(VARKON_CLASSIC_BIN, VARKON_CLASSIC_BIN, static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string shown;
    auto wait_for = [&](const std::string& text) {
        for (int tries = 0; tries < 200 && shown.find(text) == std::string::npos; ++tries) {
            pollfd p{terminal, POLLIN, 0};
            char buf[4096];
            ssize_t n = 0;
            if (poll(&p, 1, 100) > 0 && (n = read(terminal, buf, sizeof buf)) > 0) shown.append(buf, static_cast<std::size_t>(n));
        }
        return shown.find(text) != std::string::npos;
    };
    const std::string typed = "testsuite\nsuite.epd\nr.txt\n1\na\n";
    ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ASSERT_TRUE(wait_for("id= \"mate\"")) << shown;
    ASSERT_EQ(write(terminal, "board\n", 6), 6);
    EXPECT_TRUE(wait_for("pos_value : "));
    ASSERT_EQ(write(terminal, "quit\n", 5), 5);
    // Whatever the engine still writes is read, or it would wait on a full terminal and
    // never read "quit"; a program that does not end is killed.
    int status = -1;
    for (int tries = 0; tries < 100 && waitpid(pid, &status, WNOHANG) == 0; ++tries) {
        pollfd p{terminal, POLLIN, 0};
        char buf[4096];
        if (poll(&p, 1, 100) > 0 && read(terminal, buf, sizeof buf) <= 0) break;
    }
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(shown.find("setboard"), shown.rfind("setboard"));
    EXPECT_EQ(shown.find("end of testsuite"), std::string::npos);
}
