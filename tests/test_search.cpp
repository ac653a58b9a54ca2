// The searches of both programs through the think driver (mates, draws, the time rules),
// and varkon's move ordering, static exchange and aspiration window, in-process.
#include <gtest/gtest.h>

#include "book/book.h"
#include "core/notation.h"
#include "frontend/program.h"
#include "search/search.h"
#include "search/search_classic.h"
#include "search/search_tools.h"
#include "search/sort_moves.h"
#include "search/swap.h"
#include "search/time_control.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

struct Engine {
    const char* name;
    void (*use)();
    int (*search)(SearchWorker& w, int alpha, int beta, int plies);   // the node search at the root
};
int varkon_search(SearchWorker& w, int alpha, int beta, int plies) { return search(w, alpha, beta, plies, true, true); }
int classic(SearchWorker& w, int alpha, int beta, int plies) {
    return classic_search(w, alpha, beta, plies * CLASSIC_PLY, true, true);
}
const Engine engines[] = {{"varkon", test::use_varkon, varkon_search}, {"classic", test::use_classic, classic}};

class Search : public ::testing::Test {
protected:
    void SetUp() override { use(engines[0]); }
    static void use(const Engine& e) {
        e.use();
        program().search->tables.clear_all();
        test::record_search();
        book_options.on = 0;
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
        start_game();
        for (const char* m : {"g1f3", "g8f6", "f3g1", "f6g8"}) ASSERT_EQ(parse_coordinate_move(game(), m), 1);
        test::NodeSearch node;
        EXPECT_EQ(e.search(node.start(), -500, 500, 6), 0) << e.name;
        ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2N5/8/4K3 w - -"));
        EXPECT_EQ(e.search(node.start(), -500, 500, 4), 0) << e.name;
        ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2R5/8/4K3 w - -"));
        EXPECT_GT(e.search(node.start(), -1000, 1000, 4), 300) << e.name;
    }
}

// Short clocks and increments beyond them never reach the end of the clock.
TEST_F(Search, TimeRulesKeepAReserve) {
    for (const Engine& e : engines) {
        use(e);
        SearchRequest r;
        for (std::uint32_t clock : {0u, 1u, 5u, 20u, 100u, 300u, 600u, 1000u})
            for (std::uint32_t inc : {0u, 100u, 1000u, 10000u})
                for (std::uint32_t togo : {0u, 1u, 2u, 40u})
                    for (std::uint32_t left : {togo, 0u}) {
                        r.clock.time_left = clock, r.clock.increment = inc, r.clock.moves_to_go = togo,
                        r.clock.moves_left = left;
                        const int a = program().search->time_budget(r).alloc;
                        EXPECT_GE(a, 1);
                        EXPECT_LE(a, clock_cap(clock)) << e.name << " " << clock << " " << inc << " " << togo;
                        EXPECT_TRUE(clock <= 1 || a < static_cast<int>(clock)) << e.name << " " << clock;
                    }
    }
    // The move overhead comes off every allotment and its cap, a fixed time per move included.
    for (const Engine& e : engines) {
        use(e);
        SearchRequest r;
        r.clock.time_left = 3000, r.clock.increment = 100;
        for (std::int32_t movetime : {-1, 200}) {
            r.movetime = movetime;
            r.move_overhead = 0;
            const TimeBudget plain = program().search->time_budget(r);
            r.move_overhead = 50;
            const TimeBudget less = program().search->time_budget(r);
            EXPECT_EQ(less.alloc, std::max(1, plain.alloc - 50)) << e.name << " " << movetime;
            EXPECT_EQ(less.cap, plain.cap - 50) << e.name;
            r.move_overhead = 500000;
            EXPECT_EQ(program().search->time_budget(r).alloc, 1);
            EXPECT_EQ(program().search->time_budget(r).cap, 1);
        }
    }
    // varkon_classic: a fixed time per move, the test suite's whole time.
    SearchRequest r;
    r.clock.time_left = 6000, r.clock.increment = 0, r.clock.moves_to_go = 40, r.clock.moves_left = 20;
    r.movetime = 50;
    EXPECT_EQ(classic_time_budget(r).alloc, 50);
    r.movetime = -1;
    r.mode = SearchMode::test_suite;
    r.clock.time_left = 1000;
    EXPECT_EQ(classic_time_budget(r).alloc, 1000);
}

TEST_F(Search, QuiesceInCheckWithoutEvasionsIsMate) {
    ASSERT_TRUE(test::set_fen("R5k1/5ppp/8/8/8/8/8/6K1 b - -"));
    test::NodeSearch node;
    EXPECT_EQ(quiesce(node.start(), -32000, 32000, true), -MATE_VALUE);
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
        EXPECT_EQ(see(game(), c.from, c.to), c.value) << c.fen;
    }
    EXPECT_EQ(game().board[21], ROOK);  // the board is left as it was
}

TEST_F(Search, MoveOrderingTables) {
    test::NodeSearch node;
    SearchWorker& w = node.start();
    Position& pos = w.pos;
    generate_root(pos);
    // A hash move that is not in the list is ignored; the best-keyed move comes first.
    w.frames[0].hash_move = HashMove{35, 65};
    w.history[37][47] = 900;
    w.frames[0].pick_stage = 1;
    pick_move(w, 1);
    EXPECT_TRUE(pos.move_stack[1].from == 37 && pos.move_stack[1].to == 47);
    // Killers: a capture never enters, a repeated slot-one move changes nothing.
    ASSERT_TRUE(test::set_fen("4k3/8/8/3p4/4P3/8/8/4K2R w K -"));
    node.start();
    const HashMove* killers = w.frames[0].killers;
    EXPECT_EQ(killers[0].from, 0);
    int capture = find_coordinate_move(pos, "e4d5"), castle = find_coordinate_move(pos, "e1g1");
    ASSERT_TRUE(capture && castle);
    store_killer(w, capture);
    EXPECT_EQ(killers[0].from, 0);
    store_killer(w, castle);
    store_killer(w, castle);
    EXPECT_EQ(killers[0].to, 27);
    EXPECT_EQ(killers[1].from, 0);
    // History: crossing 50,000 halves the whole table.
    w.clear_ordering();
    w.history[25][27] = 49990;
    w.history[31][41] = 7;
    credit_history(w, castle, 4);
    EXPECT_EQ(w.history[25][27], 25003);
    EXPECT_EQ(w.history[31][41], 3);
}

// The first five iterations search the whole window, the later ones a window around the
// last score; a root search that fails low or high is repeated at the same depth after an
// upper- or lower-bound line.
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
