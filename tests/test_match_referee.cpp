// The referee of varkon_match: what it counts as a fault in the lines of a search, since
// a referee that lets a fault through would pass an engine that a strict tournament
// manager warns about.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../tools/match/referee.h"

namespace {

// The kinds of the faults of one search's lines, answered by `best`.
std::vector<std::string> kinds(match::Board& board, const std::vector<std::string>& lines, const std::string& best,
                               const std::string& ponder = "", const std::vector<std::string>& extra = {}) {
    match::SearchWatch watch;
    watch.begin(board, extra);
    for (const std::string& l : lines) watch.line(l);
    std::vector<std::string> out;
    for (const std::string& f : watch.answer(best, ponder).faults) out.push_back(f.substr(0, f.find(':')));
    return out;
}

using Kinds = std::vector<std::string>;

}  // namespace

TEST(MatchReferee, JudgesTheLinesBeforeEveryAnswer) {
    match::Board board;
    ASSERT_TRUE(board.reset({"e2e4", "e7e5"}));
    const std::string good = "info depth 3 seldepth 5 score cp 20 time 4 nodes 900 tbhits 0 pv g1f3 b8c6 f1b5";
    EXPECT_EQ(kinds(board, {good}, "g1f3", "b8c6"), Kinds{});
    EXPECT_EQ(kinds(board, {"info depth 2 score mate 3 lowerbound nodes 5 pv g1f3", "info string anything pv x"}, "g1f3"),
              Kinds{});
    // No line, or lines without a score.
    EXPECT_EQ(kinds(board, {}, "g1f3"), Kinds{"no-score"});
    EXPECT_EQ(kinds(board, {"info depth 1 nodes 20 pv g1f3", "info currmove g1f3 currmovenumber 1"}, "g1f3"),
              Kinds{"no-score"});
    // The answer is not the first move of the last pv.
    EXPECT_EQ(kinds(board, {good, "info depth 4 score cp 10 pv d2d4 e5d4"}, "g1f3"), Kinds{"pv-mismatch"});
    // Several ranked lines: the answer is the best line's; every line's moves are checked.
    const std::vector<std::string> two = {"info depth 4 multipv 1 score cp 9 pv d2d4", "info depth 4 multipv 2 score cp 5 pv g1f3"};
    EXPECT_EQ(kinds(board, two, "d2d4"), Kinds{});
    EXPECT_EQ(kinds(board, two, "g1f3"), Kinds{"pv-mismatch"});
    EXPECT_EQ(kinds(board, {two[0], "info depth 4 multipv 2 score cp 5 pv g1g3"}, "d2d4"), Kinds{"illegal-pv"});
    // Fields after pv, unknown fields, bad values, illegal moves.
    EXPECT_EQ(kinds(board, {"info depth 3 score cp 1 pv g1f3 tbhits 4"}, "g1f3"), (Kinds{"field-after-pv", "pv-mismatch"}));
    EXPECT_EQ(kinds(board, {"info depth 3 speed 9 score cp 1 pv g1f3"}, "g1f3"), (Kinds{"unknown-field", "no-score"}));
    EXPECT_EQ(kinds(board, {"info depth x score cp 1 pv g1f3"}, "g1f3"), Kinds{"bad-value"});
    EXPECT_EQ(kinds(board, {"info score cp 1 pv g1f3 b8c6 f1b5 a7a6 b5c6 d7c6"}, "g1f3"), Kinds{});
    EXPECT_EQ(kinds(board, {"info score cp 1 pv g1f3 b8c6 c6c5"}, "g1f3"), (Kinds{"illegal-pv", "pv-mismatch"}));
    EXPECT_EQ(kinds(board, {"info currmove e1e3 score cp 1 pv g1f3"}, "g1f3"), Kinds{"illegal-currmove"});
    EXPECT_EQ(kinds(board, {good}, "g1f3", "b8b6"), Kinds{"illegal-ponder"});
    // A ponder search: its lines begin after the predicted reply.
    EXPECT_EQ(kinds(board, {"info depth 2 score cp 5 pv b8c6 f1b5"}, "b8c6", "f1b5", {"g1f3"}), Kinds{});
    EXPECT_EQ(kinds(board, {"info depth 2 score cp 5 pv g1f3 b8c6"}, "g1f3", "", {"g1f3"}), (Kinds{"illegal-pv", "pv-mismatch"}));
}
