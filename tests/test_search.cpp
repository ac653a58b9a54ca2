// The searches of both programs through the think driver (mates, draws, the time rules),
// and varkon's move ordering, static exchange and aspiration window, in-process.
#include <gtest/gtest.h>

#include <cstring>

#include "book/book.h"
#include "core/attacks.h"
#include "core/notation.h"
#include "search/hash.h"
#include "search/search.h"
#include "search/search_classic.h"
#include "search/sort_moves.h"
#include "search/swap.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

struct Engine {
    const char* name;
    void (*use)();
    int (*search)(int alpha, int beta, int plies);   // the node search at the root
};
int varkon_search(int alpha, int beta, int plies) { return search(alpha, beta, plies, true, true); }
int classic(int alpha, int beta, int plies) { return classic_search(alpha, beta, plies * CLASSIC_PLY, true, true); }
const Engine engines[] = {{"varkon", test::use_varkon, varkon_search}, {"classic", test::use_classic, classic}};

class Search : public ::testing::Test {
protected:
    void SetUp() override { use(engines[0]); }
    void TearDown() override {
        limits = SearchLimits{};
        test_suite_mode = 0;
    }
    static void use(const Engine& e) {
        e.use();
        program().search->tables.clear_all();
        test::record_search();
        book_on = 0;
    }
};

}  // namespace

TEST_F(Search, BothProgramsFindMatesAndDraws) {
    const struct {
        const char* fen;
        int depth;
        const char* move;   // nullptr: any
        int score;
    } cases[] = {
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - -", 4, "a1a8", 31998},                            // mate in 1
        {"6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - -", 6, "g2g1", 31996},          // in 2
        {"2r3k1/p4p2/3Rp2p/1p2P1pK/8/1P4P1/P3Q2P/1q6 b - -", 8, "b1g6", 31994},        // in 3
        {"8/8/8/8/8/5k2/3q4/6K1 w - -", 4, nullptr, -31997},                            // mated after either move
        {"7k/8/8/8/8/8/5q2/6rK w - -", 3, "", -MATE_VALUE},                            // mated: no move
        {"7k/5Q2/6K1/8/8/8/8/8 b - -", 3, "", 0},                                      // stalemate: no move
    };
    for (const Engine& e : engines) {
        use(e);
        for (const auto& c : cases) {
            ASSERT_TRUE(test::set_fen(c.fen));
            const std::string best = test::think_to(c.depth);
            if (c.move) {
                EXPECT_EQ(best, c.move) << e.name << " " << c.fen;
            }
            EXPECT_EQ(test::recorded.result.score, c.score) << e.name << " " << c.fen;
        }
        // A repetition since the last irreversible move; king and knight against king is a
        // draw, king and rook against king is not.
        new_game();
        for (const char* m : {"g1f3", "g8f6", "f3g1", "f6g8"}) ASSERT_EQ(parse_coordinate_move(m), 1);
        ply_state[0].in_check = 0;
        EXPECT_EQ(e.search(-500, 500, 6), 0) << e.name;
        ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2N5/8/4K3 w - -"));
        EXPECT_EQ(e.search(-500, 500, 4), 0) << e.name;
        ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2R5/8/4K3 w - -"));
        EXPECT_GT(e.search(-1000, 1000, 4), 300) << e.name;
    }
}

// Short clocks and increments beyond them never reach the end of the clock; varkon_classic
// counts the moves to the control down after each move and starts again.
TEST_F(Search, TimeRulesKeepAReserve) {
    for (const Engine& e : engines) {
        use(e);
        for (std::uint32_t clock : {0u, 1u, 5u, 20u, 100u, 300u, 600u, 1000u})
            for (std::uint32_t inc : {0u, 100u, 1000u, 10000u})
                for (std::uint32_t togo : {0u, 1u, 2u, 40u})
                    for (std::uint32_t left : {togo, 0u}) {
                        time_left = clock, increment = inc, moves_to_go = togo, moves_left = left;
                        const int a = program().search->allocate_time().alloc;
                        EXPECT_GE(a, 1);
                        EXPECT_LE(a, clock_cap(clock)) << e.name << " " << clock << " " << inc << " " << togo;
                        EXPECT_TRUE(clock <= 1 || a < static_cast<int>(clock)) << e.name << " " << clock;
                    }
    }
    // varkon_classic: a fixed time per move, the test suite's whole time.
    time_left = 6000, increment = 0, moves_to_go = 40, moves_left = 20;
    limits.movetime = 50;
    EXPECT_EQ(classic_allocate_time().alloc, 50);
    limits = SearchLimits{};
    test_suite_mode = 1;
    time_left = 1000;
    EXPECT_EQ(classic_allocate_time().alloc, 1000);
    test_suite_mode = 0;
    new_game();
    time_left = 6000, moves_to_go = 2, moves_left = 2;
    test::think_to(1);
    EXPECT_EQ(moves_left, 1u);
    test::think_to(1);
    EXPECT_EQ(moves_left, 2u);
}

TEST_F(Search, QuiesceInCheckWithoutEvasionsIsMate) {
    ASSERT_TRUE(test::set_fen("R5k1/5ppp/8/8/8/8/8/6K1 b - -"));
    ply_state[0].in_check = king_in_check(side);
    ply_state[0].move_start = 1;
    EXPECT_EQ(quiesce(-32000, 32000, true), -MATE_VALUE);
}

TEST_F(Search, StaticExchange) {
    const struct {
        const char* fen;
        int from, to, value;
    } cases[] = {
        {"4k3/8/2p5/3n4/4P3/8/8/4K3 w - -", 55, 64, 235},    // pawn takes knight, pawn defends
        {"4k3/8/2p5/3p4/8/8/8/3QK3 w - -", 24, 64, -885},    // queen takes a defended pawn
        {"4k3/8/2p5/3n4/8/8/8/3RK2Q w - -", 24, 64, -85},    // rook takes, queen behind on the diagonal
        {"4k3/8/8/3n4/4P3/8/8/4K3 w - -", 55, 64, 325},
        {"4k3/8/8/8/8/8/8/R3K3 w - -", 21, 81, 0},           // nothing on the target
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::set_fen(c.fen));
        EXPECT_EQ(see(c.from, c.to), c.value) << c.fen;
    }
    EXPECT_EQ(board[21], ROOK);  // the board is left as it was
}

TEST_F(Search, MoveOrderingTables) {
    test::generate_root();
    // A hash move that is not in the list is ignored; the best-keyed move comes first.
    hash_move[0] = HashMove{35, 65};
    history[37][47] = 900;
    pick_stage[0] = 1;
    pick_move(1);
    EXPECT_TRUE(move_stack[1].from == 37 && move_stack[1].to == 47);
    // Killers: a capture never enters, a repeated slot-one move changes nothing.
    ASSERT_TRUE(test::set_fen("4k3/8/8/3p4/4P3/8/8/4K2R w K -"));
    test::generate_root();
    std::memset(killers, 0, sizeof killers);
    int capture = find_coordinate_move("e4d5"), castle = find_coordinate_move("e1g1");
    ASSERT_TRUE(capture && castle);
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

// Iterations 1 to 9 use the whole window; a fail low or high is re-searched at the same
// depth after an upper- or lower-bound line.
TEST_F(Search, AspirationReSearchesRepeatTheDepth) {
    ASSERT_TRUE(test::set_fen("r4rk1/2p1b1p1/p3q3/np1p4/3P1BR1/2P2Q1P/P1B2P2/R6K w - -"));
    test::think_to(9);
    int last_depth = 0;
    bool last_bound = false;
    for (const IterationLine& line : test::recorded.lines) {
        EXPECT_EQ(line.depth, last_bound ? last_depth : last_depth + 1);
        last_bound = line.bound != LineBound::none;
        if (last_bound) {
            EXPECT_GE(line.depth, 6);
        }
        last_depth = line.depth;
    }
    EXPECT_EQ(last_depth, 9);
    EXPECT_FALSE(last_bound);
}
