// varkon_classic's own search: its staged move ordering, the only-reply and kept-ponder
// steps, the counters of the statistics report and the built program's console bench.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "book/book.h"
#include "core/notation.h"
#include "core/moves.h"
#include "search/hash_classic.h"
#include "search/search_classic.h"
#include "search/sort_moves_classic.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

class SearchClassic : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_classic();
        hash_classic::wipe();
        test::record_search();
        book_options.on = 0;
    }
    void TearDown() override { forget_ponder_result(); }
};

// The moves the picker hands out at the root, in order, as text.
std::vector<std::string> picked(SearchWorker& w, int hash_from, int hash_to) {
    Position& pos = w.pos;
    generate_root(pos);
    classic_pick_start(w, hash_from, hash_to);
    std::vector<std::string> order;
    for (int i = 1; i < pos.ply_state[1].move_start; ++i) {
        classic_pick_move(w, i);
        order.push_back(test::text(pos.move_stack[i]));
    }
    return order;
}

// A ponder search of the game position to `nodes` nodes (the policy keeps its result for
// replay); returns the move chosen.
std::string ponder_to_nodes(std::uint64_t nodes) {
    SearchRequest r = test::depth_request(0, nodes);
    r.mode = SearchMode::ponder;
    return test::think_with(r);
}

}  // namespace

TEST_F(SearchClassic, PickerStages) {
    // Captures: Nxb5 (rook, 4,000,200), exd5 (4,000,000), Nxd5 and Qxd5 lose material.
    ASSERT_TRUE(test::set_fen("4k3/8/4p3/1r1p4/4P3/2N5/8/3QK3 w - -"));
    test::NodeSearch node;
    SearchWorker& w = node.start();   // ordering tables empty
    HashMove* killers = w.frames[0].killers;
    killers[0] = HashMove{24, 44};   // Qd3
    killers[1] = HashMove{43, 51};   // Na4
    w.history[24][68] = 500;         // Qh5 leads the rest
    std::vector<std::string> order = picked(w, 25, 34);  // hash move Kd2
    ASSERT_GE(order.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 6),
              (std::vector<std::string>{"e1d2", "c3b5", "e4d5", "d1d3", "c3a4", "d1h5"}));
    // Without a hash move, or with one not in the list, the captures come first.
    order = picked(w, 22, 23);
    EXPECT_EQ(order[0], "c3b5");
    EXPECT_EQ(order.size(), picked(w, 0, 0).size());
    // Killers: only quiet moves, and only when from and to both differ from slot 1.
    Position& pos = w.pos;
    int capture = find_coordinate_move(pos, "c3b5"), quiet = find_coordinate_move(pos, "d1d2"),
        other = find_coordinate_move(pos, "c3e2");
    ASSERT_TRUE(capture && quiet && other);
    classic_store_killer(w, capture);
    classic_store_killer(w, quiet);  // d1: the from of slot 1
    EXPECT_TRUE(killers[0].from == 24 && killers[0].to == 44 && killers[1].to == 51);
    classic_store_killer(w, other);
    EXPECT_TRUE(killers[0].from == 43 && killers[0].to == 35 && killers[1].to == 44);
}

TEST_F(SearchClassic, OnlyReplyAndKeptPonderResult) {
    // In check with one legal move: played at once, without a search.
    ASSERT_TRUE(test::set_fen("k7/8/8/8/8/8/1q6/K7 w - -"));
    EXPECT_EQ(test::think_to(6), "a1b2");
    EXPECT_TRUE(test::recorded.result.single && test::recorded.single_replies == 1 && last_search().stats.nodes == 0);
    // A ponder search on the predicted move is kept; when the opponent plays that move
    // its reply is played at once.
    Position& pos = game();
    start_game();
    for (const char* m : {"e2e4", "e7e5"}) ASSERT_EQ(parse_coordinate_move(pos, m), 1);
    const std::string reply = ponder_to_nodes(60000);
    ASSERT_TRUE(ponder_result_kept());
    ASSERT_TRUE(take_back(pos));
    ASSERT_EQ(parse_coordinate_move(pos, "e7e5"), 1);
    SearchRequest r = test::depth_request(0, 60000);
    r.movetime = 1;
    EXPECT_EQ(test::think_with(r), reply);
    EXPECT_EQ(last_search().stats.nodes, 0u);
    EXPECT_FALSE(ponder_result_kept());
    // Another move than the predicted one: a search of its own.
    ponder_to_nodes(60000);
    ASSERT_TRUE(ponder_result_kept() && take_back(pos));
    ASSERT_EQ(parse_coordinate_move(pos, "c7c5"), 1);
    test::think_to(2);
    EXPECT_GT(last_search().stats.nodes, 0u);
    EXPECT_FALSE(ponder_result_kept());
}

TEST_F(SearchClassic, EveryCounterOfTheReportIsCounted) {
    static_assert(sizeof(SearchStats) == 28 * sizeof(std::uint64_t) && offsetof(SearchStats, egtb_probes) == 26 * 8);
    SearchStats sum{};
    // A middlegame, a race of passed pawns, a mate threat and recaptures.
    for (const char* fen : {"2rr2k1/1b3ppp/pb2p3/1p2P3/1P2BPnq/P1N3P1/1B2Q2P/R4R1K b - -",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", "1r4k1/5ppp/8/8/8/8/5PPP/6K1 w - -"}) {
        ASSERT_TRUE(test::set_fen(fen));
        test::think_to(8);
        const std::uint64_t* from = &last_search().stats.time_limit;
        std::uint64_t* to = &sum.time_limit;
        for (std::size_t k = 0; k < 28; ++k) to[k] += from[k];
    }
    // Every counter but the two set ones (time_limit 0, nps 2) and the tablebases' (26, 27).
    const std::uint64_t* counter = &sum.time_limit;
    for (std::size_t k = 1; k < 26; ++k)
        EXPECT_TRUE(k == 2 || counter[k] > 0) << "counter " << k;
    EXPECT_GT(last_search().stats.extended_depth, 8u);
}

// The report before any search (no rates of nothing), after the console bench, and again.
TEST(ClassicProgram, ConsoleBenchThenInfo) {
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    ASSERT_TRUE(engine.ask("info\n", "egtb_probes: "));
    EXPECT_NE(engine.output().find("\n\ntime_limit: 0\nnodes: 0, nps: 0, beta_cutoffs: 0\n"), std::string::npos);
    ASSERT_TRUE(engine.ask("bench\n", "info depth 5 "));  // the board, then the search at once
    EXPECT_NE(engine.output().find("|\t1. black\n"), std::string::npos);
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("egtb_probes: 0, egtb_hits: 0\n\n"));
    EXPECT_NE(engine.output().find("bestmove "), std::string::npos);
    EXPECT_NE(engine.output().find("\n\ntime_limit: 5400\nnodes: "), std::string::npos);
    ASSERT_TRUE(engine.ask("info\n", "egtb_probes: 0, egtb_hits: 0"));
    EXPECT_EQ(engine.output().find("\n\ntime_limit: 5400\nnodes: "), 0u);
    EXPECT_EQ(engine.quit(), 0);
}
