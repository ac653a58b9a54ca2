// Search, move ordering, static exchange and the think driver, in-process.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/input.h"
#include "search/hash.h"
#include "search/search.h"
#include "search/sort_moves.h"
#include "search/swap.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

class Search : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        hash_clear_all();
        limits = SearchLimits{};
        poll_input = nullptr;
        wait_input = nullptr;
    }
    void TearDown() override { limits = SearchLimits{}; }
};

// Searches the position (FEN) to a fixed depth and returns the printed output.
std::string think_to_depth(const std::string& fen, int depth) {
    EXPECT_TRUE(test::set_fen(fen)) << fen;
    limits = SearchLimits{};
    limits.max_depth = depth;
    limits.clock = false;
    return test::capture_stdout([] { think(); });
}

std::string bestmove(const std::string& out) {
    std::smatch m;
    return std::regex_search(out, m, std::regex("\nbestmove (\\S+)")) ? m[1].str() : "";
}

}  // namespace

TEST_F(Search, FindsMatesAndReportsTheirDistance) {
    std::string out = think_to_depth("6k1/5ppp/8/8/8/8/8/R5K1 w - -", 4);
    EXPECT_EQ(bestmove(out), "a1a8");
    EXPECT_NE(out.find(" score mate 1 "), std::string::npos) << out;
    out = think_to_depth("6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - -", 6);
    EXPECT_EQ(bestmove(out), "g2g1");
    EXPECT_NE(out.find(" score mate 2 "), std::string::npos) << out;
    out = think_to_depth("2r3k1/p4p2/3Rp2p/1p2P1pK/8/1P4P1/P3Q2P/1q6 b - -", 8);
    EXPECT_EQ(bestmove(out), "b1g6");
    EXPECT_NE(out.find(" score mate 3 "), std::string::npos) << out;
    // Being mated: the engine's move is followed by mate.
    out = think_to_depth("7k/8/8/8/8/8/5q2/6rK w - -", 3);
    EXPECT_EQ(bestmove(out), "0000");
    out = think_to_depth("8/8/8/8/8/5k2/3q4/7K w - -", 4);
    EXPECT_NE(out.find(" score mate -1 "), std::string::npos) << out;
}

TEST_F(Search, DrawsScoreZero) {
    // Stalemate at the root: no move to name.
    std::string out = think_to_depth("7k/5Q2/6K1/8/8/8/8/8 b - -", 3);
    EXPECT_EQ(bestmove(out), "0000");
    EXPECT_NE(out.find(" score cp 0 "), std::string::npos);
    // A repetition inside the game history: the search of the repeated position is 0.
    new_game();
    for (const char* m : {"g1f3", "g8f6", "f3g1", "f6g8"}) ASSERT_EQ(parse_coordinate_move(m), 1);
    ply = 0;
    ply_state[0].in_check = 0;
    EXPECT_EQ(search(-500, 500, 6, true, true), 0);
    // King and knight against king is a draw; king and rook against king is not.
    ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2N5/8/4K3 w - -"));
    ply_state[0].in_check = 0;
    EXPECT_EQ(search(-500, 500, 4, true, true), 0);
    ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2R5/8/4K3 w - -"));
    ply_state[0].in_check = 0;
    EXPECT_GT(search(-1000, 1000, 4, true, true), 300);
}

TEST_F(Search, QuiesceInCheckWithoutEvasionsIsMate) {
    ASSERT_TRUE(test::set_fen("R5k1/5ppp/8/8/8/8/8/6K1 b - -"));
    ply_state[0].in_check = king_in_check(side);
    ply_state[0].move_start = 1;
    EXPECT_EQ(quiesce(-32000, 32000, true), -MATE_VALUE);
}

TEST_F(Search, StaticExchange) {
    ASSERT_TRUE(test::set_fen("4k3/8/2p5/3n4/4P3/8/8/4K3 w - -"));  // pawn takes knight, pawn defends
    EXPECT_EQ(see(55, 64), 235);
    ASSERT_TRUE(test::set_fen("4k3/8/2p5/3p4/8/8/8/3QK3 w - -"));   // queen takes a defended pawn
    EXPECT_EQ(see(24, 64), -885);
    ASSERT_TRUE(test::set_fen("4k3/8/2p5/3n4/8/8/8/3RK2Q w - -"));  // rook takes, queen behind on the diagonal
    EXPECT_EQ(see(24, 64), -85);
    ASSERT_TRUE(test::set_fen("4k3/8/8/3n4/4P3/8/8/4K3 w - -"));
    EXPECT_EQ(see(55, 64), 325);
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/8/8/R3K3 w - -"));       // nothing on the target
    EXPECT_EQ(see(21, 81), 0);
    EXPECT_EQ(board[21], ROOK);  // the board is left as it was
}

TEST_F(Search, MoveOrderingTables) {
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = 0;
    generate_moves();
    // A hash move that is not in the list is ignored; the best-keyed move comes first.
    hash_move[0] = HashMove{35, 65};
    history[37][47] = 900;
    pick_stage[0] = 1;
    pick_move(1);
    EXPECT_EQ(move_stack[1].from, 37);
    EXPECT_EQ(move_stack[1].to, 47);
    // Killers: a capture never enters, a repeated slot-one move changes nothing.
    ASSERT_TRUE(test::set_fen("4k3/8/8/3p4/4P3/8/8/4K2R w K -"));
    ply_state[0].move_start = 1;
    generate_moves();
    std::memset(killers, 0, sizeof killers);
    int capture = find_coordinate_move("e4d5"), castle = find_coordinate_move("e1g1");
    ASSERT_NE(capture, 0);
    ASSERT_NE(castle, 0);
    store_killer(capture);
    EXPECT_EQ(killers[0][0].from, 0);
    store_killer(castle);
    store_killer(castle);
    EXPECT_EQ(killers[0][0].to, 27);
    EXPECT_EQ(killers[0][1].from, 0);
    // History: crossing 50,000 halves the whole table.
    clear_ordering_tables();
    history[25][27] = 49990;
    history[31][41] = 7;
    credit_history(castle, 4);
    EXPECT_EQ(history[25][27], 25003);
    EXPECT_EQ(history[31][41], 3);
}

TEST_F(Search, TimeAllotment) {
    limits = SearchLimits{};
    pondering = 0;
    time_left = 6000, increment = 0, moves_left = 30;
    EXPECT_EQ(allocate_time().alloc, 193);
    time_left = 30000, increment = 200, moves_left = 0;
    EXPECT_EQ(allocate_time().alloc, 1100);
    time_left = 60000, increment = 0, moves_left = 0;
    EXPECT_EQ(allocate_time().alloc, 1333);
    // Little time and a large increment: the allotment stays well below the clock.
    for (std::uint32_t left : {1u, 5u, 20u, 100u, 300u, 1000u})
        for (std::uint32_t inc : {0u, 100u, 1000u, 10000u})
            for (std::uint32_t togo : {0u, 1u, 2u, 40u}) {
                time_left = left, increment = inc, moves_left = togo;
                const int alloc = allocate_time().alloc;
                EXPECT_GE(alloc, 1);
                EXPECT_LE(alloc, clock_cap(left)) << left << " " << inc << " " << togo;
                EXPECT_TRUE(left <= 1 || alloc < static_cast<int>(left));
            }
}

// Iterations 1 to 5 use the whole window; a fail low or high is re-searched at the same
// depth after an upper- or lower-bound line.
TEST_F(Search, AspirationReSearchesRepeatTheDepth) {
    const std::string out = think_to_depth("r4rk1/2p1b1p1/p3q3/np1p4/3P1BR1/2P2Q1P/P1B2P2/R6K w - -", 9);
    std::regex line("info depth (\\d+) seldepth \\d+ score (cp|mate) -?\\d+( upperbound | lowerbound )?");
    int last_depth = 0;
    bool last_bound = false;
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        const int depth = std::stoi((*it)[1]);
        EXPECT_EQ(depth, last_bound ? last_depth : last_depth + 1);
        if ((*it)[3].matched) {
            EXPECT_GE(depth, 6);
        }
        last_bound = (*it)[3].matched;
        last_depth = depth;
    }
    EXPECT_EQ(last_depth, 9);
    EXPECT_FALSE(last_bound);
}
