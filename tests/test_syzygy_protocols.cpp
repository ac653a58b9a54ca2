// Syzygy tables through both programs' front ends, with the tables of tests/data/syzygy:
// the options and the report when a path is set, the tables' result for 3- and 4-piece
// roots (and their several best lines), WinBoard's egtpath, Varkon.ini's SYZYGY_PATH, and
// a won ending played to mate with the fifty-move counter near its end.
#include <gtest/gtest.h>

#include <regex>

#include "core/attacks.h"
#include "core/notation.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"
#include "support/ranked_lines.h"

namespace {

const std::string tables = std::string(TEST_DATA_DIR) + "/syzygy";

// The score of the last "info depth" line.
std::string last_score(const std::string& out) {
    std::string score;
    std::regex re("info depth \\d+ seldepth \\d+ score (mate -?\\d+|cp -?\\d+)[^\\n]* pv [a-h]");
    for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) score = (*it)[1];
    return score;
}

// The sign of a reported score: a table win is "cp 30800", a found mate "mate N".
int sign_of(const std::string& score) {
    if (score == "cp 30800" || (score.rfind("mate ", 0) == 0 && score[5] != '-')) return 1;
    if (score == "cp -30800" || score.rfind("mate -", 0) == 0) return -1;
    return score == "cp 0" ? 0 : 9;
}

TEST(SyzygyProtocols, OptionsAndTheReport) {
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        test::EngineProcess engine(bin);
        ASSERT_TRUE(engine.ask("uci\n", "uciok"));
        for (const char* option : {"option name SyzygyPath type string default <empty>\n",
                                   "option name SyzygyProbeDepth type spin default 1 min 1 max 100\n",
                                   "option name Syzygy50MoveRule type check default true\n",
                                   "option name SyzygyProbeLimit type spin default 7 min 0 max 7\n"})
            EXPECT_NE(engine.output().find(option), std::string::npos) << bin << ": " << option;
        ASSERT_TRUE(engine.ask("setoption name SyzygyPath value " + tables + ":/nonexistent\nisready\n", "readyok"));
        EXPECT_NE(engine.output().find("info string Syzygy: /nonexistent: no such directory\n"
                                       "info string 4 pieces Syzygy tablebases found (16 files)\nreadyok"),
                  std::string::npos)
            << bin << engine.output();
        EXPECT_EQ(engine.quit(), 0);
    }
}

// Every root of 3 and 4 pieces gets the tables' result: a win scores just below the mates
// (or as the mate the search found), a draw 0; each still has a line.
TEST(SyzygyProtocols, RootsGetTheTablesResult) {
    const std::vector<std::pair<std::string, int>> roots = {
        {"8/8/8/5k2/8/8/1Q6/K7 w - -", 1},       {"8/8/8/8/8/2k5/2Q5/K7 b - -", 0},
        {"8/8/1r5k/8/8/8/8/1K6 w - -", -1},      {"8/8/8/8/8/4k3/4P3/4K3 w - -", 0},
        {"8/8/8/8/8/8/4P3/K6k w - -", 1},        {"8/8/2k5/8/8/4q3/8/1Q4K1 w - -", 0},
        {"8/8/2k5/8/2r5/8/5R2/5K2 w - -", 0},    {"8/8/8/8/8/2k5/1n6/K6R w - -", 1},
        {"8/8/8/8/8/8/4k3/K3n2R b - -", 0},      {"8/8/8/8/8/8/4k3/K3n2R w - -", 0},
    };
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        test::EngineProcess engine(bin);
        ASSERT_TRUE(engine.ask("uci\nsetoption name SyzygyPath value " + tables + "\nisready\n", "readyok"));
        for (const auto& [fen, expected] : roots) {
            ASSERT_TRUE(engine.ask("position fen " + fen + "\ngo depth 6\n", "bestmove ", 60000)) << fen;
            EXPECT_EQ(sign_of(last_score(engine.output())), expected) << bin << " " << fen << "\n" << engine.output();
        }
        // Several lines are those of the moves the tables keep: the 15 that hold the draw of
        // the 17 legal ones (Rc2 and Rf4 give the rook away), each with the tables' score.
        ASSERT_TRUE(engine.ask("setoption name MultiPV value 64\nposition fen 8/8/2k5/8/2r5/8/5R2/5K2 w - -\ngo depth 4\n",
                               "bestmove "));
        const std::vector<test::RankedLine> lines = test::last_round(engine.output());
        EXPECT_EQ(lines.size(), 15u) << bin << engine.output();
        for (const test::RankedLine& line : lines) {
            EXPECT_EQ(line.score, 0) << bin << engine.output();
            EXPECT_TRUE(line.pv.rfind("f2c2", 0) != 0 && line.pv.rfind("f2f4", 0) != 0) << line.pv;
        }
        EXPECT_EQ(engine.quit(), 0);
    }
}

TEST(SyzygyProtocols, WinboardEgtpath) {
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    ASSERT_TRUE(engine.ask("xboard\nprotover 2\n", "feature done=1"));
    EXPECT_NE(engine.output().find("feature egt=\"syzygy,nalimov\"\n"), std::string::npos);
    ASSERT_TRUE(engine.ask("egtpath syzygy /none\negtpath gaviota /x\negtpath syzygy " + tables + "\nping 1\n", "pong 1"));
    EXPECT_NE(engine.output().find("# Syzygy: /none: no such directory\n# 0 pieces Syzygy tablebases found (0 files)\n"
                                   "Error (unknown tablebase kind): egtpath gaviota\n"
                                   "# 4 pieces Syzygy tablebases found (16 files)\npong 1"),
              std::string::npos)
        << engine.output();
    ASSERT_TRUE(engine.ask("new\nsetboard 8/8/1r5k/8/8/8/8/1K6 w - -\npost\nlevel 0 0:03 0\ngo\n", "move "));
    const std::string out = engine.output();
    const std::regex line("\\n\\d+\\t(-?\\d+)\\t");
    std::string score = "0";
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
        score = (*it)[1];
    EXPECT_TRUE(score == "-30800" || std::stoi(score) < -31000) << out;
    EXPECT_EQ(engine.quit(), 0);
}

TEST(SyzygyProtocols, VarkonIniPath) {
    const test::WorkDir dir(("SYZYGY_PATH " + tables + "\n").c_str());
    test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
    EXPECT_TRUE(engine.wait_for("SYZYGY_PATH\t\t: " + tables + "\n"));
    EXPECT_TRUE(engine.wait_for("4 pieces Syzygy tablebases found (16 files)\n")) << engine.output();
    EXPECT_EQ(engine.quit(), 0);
}

// KRK won in 31 plies to the mate, with 66 plies of the fifty moves gone: each program
// against itself mates before the counter reaches 100 (the defender holds out longest).
TEST(SyzygyProtocols, WonEndingMatesWithinTheFiftyMoveRule) {
    const std::string fen = "8/8/8/4k3/8/8/7R/K7 w - -";
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        test::use_varkon();
        ASSERT_TRUE(test::set_fen(fen));
        varkon::Position& referee = varkon::game();
        referee.fifty[referee.game_ply] = 66;
        test::EngineProcess engine(bin);
        ASSERT_TRUE(engine.ask("uci\nsetoption name SyzygyPath value " + tables + "\nisready\n", "readyok"));
        std::string moves;
        while (varkon::has_legal_move(referee) && referee.fifty[referee.game_ply] < 100) {
            ASSERT_TRUE(engine.ask("position fen " + fen + " 66 1 moves" + moves + "\ngo depth 5\n", "bestmove ")) << bin;
            const std::string m = test::word_after(engine.output(), "bestmove ");
            ASSERT_EQ(varkon::parse_coordinate_move(referee, m.c_str()), 1) << bin << ": " << m << " after" << moves;
            moves += " " + m;
        }
        EXPECT_TRUE(varkon::king_in_check(referee, referee.side) && !varkon::has_legal_move(referee)) << bin << ":" << moves;
        EXPECT_EQ(engine.quit(), 0);
    }
}

}  // namespace
