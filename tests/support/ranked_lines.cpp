#include "support/ranked_lines.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "core/notation.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

namespace test {

namespace {

// Whether every move of `pv` is legal in turn from `fen`.
bool legal_from(const std::string& fen, const std::string& pv) {
    use_varkon();
    if (!set_fen(fen)) return false;
    std::istringstream moves(pv);
    for (std::string m; moves >> m;)
        if (varkon::parse_coordinate_move(varkon::game(), m.c_str()) != 1) return false;
    return true;
}

std::string first_move(const std::string& pv) { return pv.substr(0, pv.find(' ')); }

std::set<std::string> first_moves(const std::vector<RankedLine>& round) {
    std::set<std::string> moves;
    for (const RankedLine& l : round) moves.insert(first_move(l.pv));
    return moves;
}

// A round as GUIs rely on it: one depth, distinct first moves, every line legal from
// `fen`, scores from best to worst, the answer (and its ponder move) the first line's.
void expect_sound_round(const std::string& fen, const std::vector<RankedLine>& round, const std::string& out) {
    ASSERT_FALSE(round.empty()) << out;
    EXPECT_EQ(first_moves(round).size(), round.size()) << out;
    for (std::size_t k = 0; k < round.size(); ++k) {
        EXPECT_EQ(round[k].depth, round[0].depth) << out;
        EXPECT_TRUE(legal_from(fen, round[k].pv)) << round[k].pv;
        if (k > 0) {
            EXPECT_LE(round[k].score, round[k - 1].score) << out;
        }
    }
    const std::string answer = out.substr(out.rfind("bestmove"));
    EXPECT_EQ(last_bestmove(out), first_move(round[0].pv)) << out;
    std::istringstream words(round[0].pv + " " + answer.substr(0, answer.find('\n')));
    std::string pv1, pv2, word, ponder;
    words >> pv1 >> pv2;
    while (words >> word)
        if (word == "ponder") words >> ponder;
    if (!ponder.empty()) {
        EXPECT_EQ(ponder, pv2) << out;
    }
}

}  // namespace

std::vector<RankedLine> last_round(const std::string& out) {
    static const std::regex ranked("info depth (\\d+) seldepth \\d+ multipv (\\d+) score (cp|mate) (-?\\d+)[^\n]* pv ([^\n]*?) *\n");
    std::vector<std::vector<RankedLine>> rounds;
    for (std::sregex_iterator it(out.begin(), out.end(), ranked), end; it != end; ++it) {
        const std::smatch& m = *it;
        const int rank = std::stoi(m[2]), n = std::stoi(m[4]);
        RankedLine line{std::stoi(m[1]), m[3] == "cp" ? n : n > 0 ? 30000 - n : -30000 - n, m[5]};
        if (rank == 1)
            rounds.push_back({line});
        else if (!rounds.empty() && rounds.back().size() == static_cast<std::size_t>(rank - 1) &&
                 rounds.back()[0].depth == line.depth)
            rounds.back().push_back(line);
        else
            rounds.push_back({});   // out of turn: no round
    }
    std::vector<RankedLine> last;
    for (const auto& round : rounds)
        if (round.size() >= last.size()) last = round;
    return last;
}

void check_multipv_dialogue(const char* bin) {
    const std::string middle = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
    const std::string few = "7k/8/8/8/8/8/PP6/K7 w - - 0 1";   // five legal moves
    EngineProcess engine(bin);
    ASSERT_TRUE(engine.ask("uci\nsetoption name OwnBook value false\nsetoption name MultiPV value 4\n"
                           "position fen " + middle + "\ngo depth 6\n",
                           "bestmove"));
    std::string out = engine.output();
    std::vector<RankedLine> round = last_round(out);
    ASSERT_EQ(round.size(), 4u) << out;
    EXPECT_EQ(round[0].depth, 6) << out;
    expect_sound_round(middle, round, out);
    EXPECT_EQ(count(out, " multipv 4 "), 6) << out;   // every iteration, no bound lines between
    EXPECT_EQ(count(out, "info depth "), count(out, " multipv ")) << out;

    // More lines than legal moves: all of them.
    ASSERT_TRUE(engine.ask("setoption name MultiPV value 64\nposition fen " + few + "\ngo depth 5\n", "bestmove"));
    round = last_round(engine.output());
    EXPECT_EQ(first_moves(round), (std::set<std::string>{"a1b1", "a2a3", "a2a4", "b2b3", "b2b4"})) << engine.output();
    expect_sound_round(few, round, engine.output());

    // "searchmoves": the lines are those moves', however many are asked for.
    ASSERT_TRUE(engine.ask("setoption name MultiPV value 3\nposition fen " + middle + "\ngo depth 5 searchmoves d2d4 b1c3\n",
                           "bestmove"));
    round = last_round(engine.output());
    EXPECT_EQ(first_moves(round), (std::set<std::string>{"d2d4", "b1c3"})) << engine.output();
    expect_sound_round(middle, round, engine.output());

    // Analysis: stopped at any moment, the answer is the move of the last best line shown.
    engine.take_output();
    engine.send("position fen " + middle + "\ngo infinite\n");
    ASSERT_TRUE(engine.wait_for(" multipv 3 "));
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for_line("bestmove"));
    out = engine.output();
    std::istringstream shown(out);
    std::string best;
    for (std::string line; std::getline(shown, line);) {
        if (line.rfind("info depth ", 0) != 0) continue;
        EXPECT_NE(line.find(" multipv "), std::string::npos) << line;
        if (line.find(" multipv 1 ") != std::string::npos) best = word_after(line, " pv ");
    }
    EXPECT_EQ(best, last_bestmove(out)) << out;

    // Back to one line: no ranks, every line the best one's.
    ASSERT_TRUE(engine.ask("setoption name MultiPV value 1\nposition fen " + middle + "\ngo depth 6\n", "bestmove"));
    out = engine.output();
    EXPECT_EQ(out.find("multipv"), std::string::npos) << out;
    EXPECT_EQ(word_after(out, " pv "), last_bestmove(out)) << out;
    EXPECT_EQ(engine.quit(), 0);
}

}  // namespace test
