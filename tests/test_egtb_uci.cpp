// Tablebases through the programs' UCI front end, with tables made at test time: exact
// mate distances in the analysis, the initialisation at varkon's first search and at
// varkon_classic's "isready" after the path changed.
#include <gtest/gtest.h>

#include <regex>

#include "core/attacks.h"
#include "core/notation.h"
#include "core/moves.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"
#include "support/tb_dir.h"

namespace {

// The score of the last "info depth" line before the last "bestmove".
std::string last_score(const std::string& out) {
    std::string score;
    std::regex re("info depth \\d+ seldepth \\d+ score (mate -?\\d+|cp -?\\d+)");
    for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) score = (*it)[1];
    return score;
}

std::string search(test::EngineProcess& engine, const std::string& fen, int depth) {
    EXPECT_TRUE(engine.ask("position fen " + fen + "\ngo depth " + std::to_string(depth) + "\n", "bestmove ", 60000)) << fen;
    return engine.output();
}

TEST(EgtbUci, ExactMateScores) {
    test::TbDir dir({"kqk", "krk"});
    test::EngineProcess engine(VARKON_BIN);
    ASSERT_TRUE(engine.ask("uci\nsetoption name NalimovPath value " + dir.path() + "\n", "uciok"));
    std::string out = search(engine, "8/8/8/5k2/8/8/1Q6/K7 w - -", 11);
    EXPECT_NE(out.find("info string init egtb....\ninfo string egtb_path = " + dir.path() +
                       "\ninfo string egtb_cache_size = 2\ninfo string 3 pieces endgame tablebases found\n"),
              std::string::npos);  // at the first search, in the protocol's form
    EXPECT_EQ(last_score(out), "mate 10");
    EXPECT_TRUE(std::regex_search(out, std::regex(" tbhits \\d+ pv [a-h]"))) << out;   // before the moves
    EXPECT_EQ(last_score(search(engine, "8/8/8/8/8/2k5/1R6/K7 w - -", 11)), "mate 16");
    out = search(engine, "8/8/1r5k/8/8/8/8/1K6 w - -", 11);
    EXPECT_EQ(last_score(out), "mate -15");
    EXPECT_EQ(out.find("init egtb"), std::string::npos);   // once per process
    EXPECT_EQ(engine.quit(), 0);
}

// With the tables both sides play perfectly: from a position the table gives as mate in 16,
// each program against itself mates after exactly 16 moves of the winner, whatever the
// defence tries. The referee is the test process's own board.
TEST(EgtbUci, BothSidesPlayTheTablesToMate) {
    test::TbDir dir({"krk"});
    const std::string fen = "8/8/8/8/8/2k5/1R6/K7 w - -";
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        test::use_varkon();
        ASSERT_TRUE(test::set_fen(fen));
        varkon::Position& referee = varkon::game();
        test::EngineProcess engine(bin);
        ASSERT_TRUE(engine.ask("uci\nsetoption name NalimovPath value " + dir.path() + "\nisready\n", "readyok"));
        std::string moves;
        int winner_moves = 0;
        while (varkon::has_legal_move(referee) && winner_moves <= 16) {
            ASSERT_TRUE(engine.ask("position fen " + fen + " moves" + moves + "\ngo depth 12\n", "bestmove ")) << bin;
            const std::string m = test::word_after(engine.output(), "bestmove ");
            ASSERT_EQ(varkon::parse_coordinate_move(referee, m.c_str()), 1) << bin << ": " << m << " after" << moves;
            winner_moves += referee.side == varkon::BLACK;
            moves += " " + m;
        }
        EXPECT_EQ(winner_moves, 16) << bin << ":" << moves;
        EXPECT_TRUE(varkon::king_in_check(referee, referee.side)) << bin << ":" << moves;
        EXPECT_EQ(engine.quit(), 0);
    }
}

TEST(EgtbUci, PathAfterTheFirstSearchChangesNothing) {
    test::TbDir dir({"kqk"});
    test::EngineProcess engine(VARKON_BIN);
    ASSERT_TRUE(engine.ask("uci\nsetoption name NalimovPath value " + dir.path() + "/none\n", "uciok"));
    EXPECT_NE(search(engine, "8/8/8/5k2/8/8/1Q6/K7 w - -", 1).find("\ninfo string 0 pieces endgame tablebases found\n"), std::string::npos);
    engine.send("setoption name NalimovPath value " + dir.path() + "\n");
    const std::string out = search(engine, "8/8/8/5k2/8/8/1Q6/K7 w - -", 11);   // deep enough to probe
    EXPECT_NE(last_score(out), "mate 10");
    EXPECT_EQ(out.find("tbhits"), std::string::npos);
    EXPECT_EQ(engine.quit(), 0);
}

TEST(EgtbUci, ClassicInitialisesAtStartAndAtIsready) {
    test::TbDir dir({"kqk"});
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    ASSERT_TRUE(engine.wait_for("0 pieces endgame tablebases found\n"));
    ASSERT_TRUE(engine.ask("uci\nsetoption name NalimovPath value " + dir.path() + "\nisready\n", "readyok"));
    EXPECT_NE(engine.output().find("3 pieces endgame tablebases found\nreadyok\n"), std::string::npos);
    EXPECT_EQ(engine.output().find("init egtb"), std::string::npos);
    // This front end searches on its clock: analyse until the tables answer.
    engine.send("position fen 8/8/8/8/8/8/2Q5/k1K5 w - -\ngo infinite\n");
    EXPECT_TRUE(engine.wait_for(" tbhits ", 120000));
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("bestmove c2b1"));
    EXPECT_EQ(last_score(engine.output()), "mate 1");
    EXPECT_EQ(engine.quit(), 0);
}

TEST(EgtbUci, ClassicGoesOnWithoutACache) {
    if (test::address_sanitizer) GTEST_SKIP() << "the address sanitizer reserves more than any limit allows";
    // The address space varkon_classic needs with its 2 MB tablebase cache, then a limit
    // that leaves no room for the cache: the start-up says so and the engine plays on.
    std::size_t used = 0;
    {
        test::EngineProcess p(VARKON_CLASSIC_BIN);
        p.send("uci\nisready\n");
        ASSERT_TRUE(p.wait_for("readyok"));
        used = test::address_space(p.pid());
        ASSERT_GT(used, 0u);
    }
    test::EngineProcess p(VARKON_CLASSIC_BIN, "", used - 1536 * 1024);
    p.send("uci\nisready\nposition fen 8/8/8/8/8/8/2Q5/k1K5 w - -\ngo depth 2\n");
    ASSERT_TRUE(p.wait_for("bestmove c2b1"));
    EXPECT_NE(p.output().find("0 pieces endgame tablebases found\ncould not allocate egtb_cache_size.\n"), std::string::npos)
        << p.output();
    EXPECT_EQ(p.quit(), 0);
}

}  // namespace
