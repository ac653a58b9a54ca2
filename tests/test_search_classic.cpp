// varkon_classic's own search: mates and draws, its staged move ordering, its time rule,
// the only-reply and kept-ponder steps, the statistics report, and the built program's
// console bench and UCI games.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <regex>
#include <string>

#include "book/book.h"
#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/input.h"
#include "core/moves.h"
#include "core/output.h"
#include "frontend/utils.h"
#include "search/hash_classic.h"
#include "search/search.h"
#include "search/search_classic.h"
#include "search/sort_moves.h"
#include "search/sort_moves_classic.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

// What the driver reported, through an output that prints and plays nothing.
struct Seen {
    ThinkResult result;
    int lines = 0;
    int single_replies = 0;
} seen;

void on_line(const IterationLine&) { ++seen.lines; }
void on_move(const Move&, int, int, std::uint32_t) {}
void on_bound(const IterationLine&, const Move&, bool) {}
void on_book(const Move&) {}
void on_single(const Move&) { ++seen.single_replies; }
void on_best(const ThinkResult& r) { seen.result = r; }
void on_note(const char*) {}
const SearchOutput recording = {on_line, on_move, on_bound, on_book, on_single, on_best, on_note};

class SearchClassic : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_classic();
        hash_classic::wipe();
        set_search_output(recording);
        poll_input = nullptr;
        wait_input = nullptr;
        book_on = 0;
        seen = Seen{};
    }
    void TearDown() override {
        limits = SearchLimits{};
        pondering = 0;
        test_suite_mode = 0;
        forget_ponder_result();
    }
};

std::string text(const Move& m) { return m.from == 0 ? "" : move_to_text(m).s; }

// Searches the game position to `depth` plies (or `nodes` nodes) and returns the move.
std::string think_with(int depth, std::uint64_t nodes = 0) {
    limits = SearchLimits{};
    limits.clock = false;
    limits.max_depth = depth;
    limits.max_nodes = nodes;
    think();
    return text(seen.result.best);
}

std::string think_on(const std::string& fen, int depth) {
    EXPECT_TRUE(test::set_fen(fen)) << fen;
    return think_with(depth);
}

// The moves the picker hands out at the root, in order, as text.
std::vector<std::string> picked(int hash_from, int hash_to) {
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
    classic_pick_start(hash_from, hash_to);
    std::vector<std::string> order;
    for (int i = 1; i < ply_state[1].move_start; ++i) {
        classic_pick_move(i);
        order.push_back(text(move_stack[i]));
    }
    return order;
}

}  // namespace

TEST_F(SearchClassic, FindsMatesAndDraws) {
    const struct {
        const char* fen;
        const char* move;
        int score;
    } mates[] = {
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - -", "a1a8", 31998},
        {"6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - -", "g2g1", 31996},
        {"2r3k1/p4p2/3Rp2p/1p2P1pK/8/1P4P1/P3Q2P/1q6 b - -", "b1g6", 31994},
        {"8/8/8/8/8/5k2/3q4/6K1 w - -", "", -31997},  // both moves are mated at once
    };
    for (const auto& m : mates) {
        const std::string best = think_on(m.fen, 7);
        if (*m.move) {
            EXPECT_EQ(best, m.move) << m.fen;
        }
        EXPECT_EQ(seen.result.score, m.score) << m.fen;
    }
    EXPECT_EQ(think_on("7k/5Q2/6K1/8/8/8/8/8 b - -", 3), "");  // stalemate: no move, score 0
    EXPECT_EQ(seen.result.score, 0);
    // A repetition since the last irreversible move, and king and knight against king.
    new_game();
    for (const char* m : {"g1f3", "g8f6", "f3g1", "f6g8"}) ASSERT_EQ(parse_coordinate_move(m), 1);
    ply_state[0].in_check = 0;
    EXPECT_EQ(classic_search(-500, 500, 6 * CLASSIC_PLY, true, true), 0);
    ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2N5/8/4K3 w - -"));
    ply_state[0].in_check = 0;
    EXPECT_EQ(classic_search(-500, 500, 4 * CLASSIC_PLY, true, true), 0);
    ASSERT_TRUE(test::set_fen("8/8/4k3/8/8/2R5/8/4K3 w - -"));
    ply_state[0].in_check = 0;
    EXPECT_GT(classic_search(-1000, 1000, 4 * CLASSIC_PLY, true, true), 300);
}

TEST_F(SearchClassic, PickerStages) {
    // Captures: Nxb5 (rook, 4,000,200), exd5 (4,000,000), Nxd5 and Qxd5 lose material.
    ASSERT_TRUE(test::set_fen("4k3/8/4p3/1r1p4/4P3/2N5/8/3QK3 w - -"));
    clear_ordering_tables();
    killers[0][0] = HashMove{24, 44};   // Qd3
    killers[0][1] = HashMove{43, 51};   // Na4
    history[24][68] = 500;              // Qh5 leads the rest
    std::vector<std::string> order = picked(25, 34);  // hash move Kd2
    ASSERT_GE(order.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 6),
              (std::vector<std::string>{"e1d2", "c3b5", "e4d5", "d1d3", "c3a4", "d1h5"}));
    // Without a hash move, or with one not in the list, the captures come first.
    order = picked(22, 23);
    EXPECT_EQ(order[0], "c3b5");
    EXPECT_EQ(order.size(), picked(0, 0).size());
    // Killers: only quiet moves, and only when from and to both differ from slot 1.
    int capture = find_coordinate_move("c3b5"), quiet = find_coordinate_move("d1d2"), other = find_coordinate_move("c3e2");
    ASSERT_TRUE(capture && quiet && other);
    classic_store_killer(capture);
    classic_store_killer(quiet);  // d1: the from of slot 1
    EXPECT_TRUE(killers[0][0].from == 24 && killers[0][0].to == 44 && killers[0][1].to == 51);
    classic_store_killer(other);
    EXPECT_TRUE(killers[0][0].from == 43 && killers[0][0].to == 35 && killers[0][1].to == 44);
}

TEST_F(SearchClassic, TimeRule) {
    const auto alloc = [](std::uint32_t clock, std::uint32_t inc, std::uint32_t per_control, std::uint32_t left) {
        time_left = clock, increment = inc, moves_to_go = per_control, moves_left = left;
        return classic_allocate_time().alloc;
    };
    EXPECT_EQ(alloc(6000, 200, 30, 30), 800);    // (2000 + 6000) / 10
    EXPECT_EQ(alloc(30000, 0, 40, 20), 1475);    // (30000 - 500) / 20
    EXPECT_EQ(alloc(6000, 0, 0, 30), 200);       // 6000 / 30
    EXPECT_EQ(alloc(6000, 0, 40, 0), 200);       // no count of moves left: as without a control
    EXPECT_EQ(stats.time_limit, 200u);
    test_suite_mode = 1;
    EXPECT_EQ(alloc(1000, 0, 40, 20), 1000);     // the test suite's whole time
    test_suite_mode = 0;
    limits.movetime = 50;
    EXPECT_EQ(alloc(6000, 0, 40, 20), 50);
    limits = SearchLimits{};
    // Short clocks and increments beyond them never reach the end of the clock.
    for (std::uint32_t clock : {0u, 1u, 5u, 20u, 100u, 300u, 600u})
        for (std::uint32_t inc : {0u, 100u, 1000u, 10000u})
            for (std::uint32_t togo : {0u, 1u, 40u}) {
                const int a = alloc(clock, inc, togo, togo);
                EXPECT_GE(a, 1);
                EXPECT_LE(a, clock_cap(clock));
                EXPECT_TRUE(clock <= 1 || a < static_cast<int>(clock)) << clock << " " << inc << " " << togo;
            }
    // After each move played the moves to the control count down, and start again.
    new_game();
    time_left = 6000, increment = 0, moves_to_go = 2, moves_left = 2;
    think_with(1);
    EXPECT_EQ(moves_left, 1u);
    think_with(1);
    EXPECT_EQ(moves_left, 2u);
}

TEST_F(SearchClassic, OnlyReplyAndKeptPonderResult) {
    // In check with one legal move: played at once, without a search.
    ASSERT_TRUE(test::set_fen("k7/8/8/8/8/8/1q6/K7 w - -"));
    EXPECT_EQ(think_with(6), "a1b2");
    EXPECT_TRUE(seen.result.single && seen.single_replies == 1 && stats.nodes == 0);
    // A ponder search on the predicted move is kept; when the opponent plays that move
    // its reply is played at once.
    new_game();
    for (const char* m : {"e2e4", "e7e5"}) ASSERT_EQ(parse_coordinate_move(m), 1);
    pondering = 1;
    const std::string reply = think_with(0, 60000);
    pondering = 0;
    ASSERT_TRUE(ponder_result_kept());
    ASSERT_TRUE(take_back());
    ASSERT_EQ(parse_coordinate_move("e7e5"), 1);
    limits.movetime = 1;
    think();
    EXPECT_EQ(text(seen.result.best), reply);
    EXPECT_EQ(stats.nodes, 0u);
    EXPECT_FALSE(ponder_result_kept());
    // Another move than the predicted one: a search of its own.
    pondering = 1;
    think_with(0, 60000);
    pondering = 0;
    ASSERT_TRUE(ponder_result_kept() && take_back());
    ASSERT_EQ(parse_coordinate_move("c7c5"), 1);
    think_with(2);
    EXPECT_GT(stats.nodes, 0u);
    EXPECT_FALSE(ponder_result_kept());
}

TEST_F(SearchClassic, EveryCounterOfTheReportIsCounted) {
    static_assert(sizeof(SearchStats) == 28 * sizeof(std::uint64_t) && offsetof(SearchStats, egtb_probes) == 26 * 8);
    SearchStats sum{};
    // A middlegame, a race of passed pawns, a mate threat and recaptures.
    for (const char* fen : {"2rr2k1/1b3ppp/pb2p3/1p2P3/1P2BPnq/P1N3P1/1B2Q2P/R4R1K b - -",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", "1r4k1/5ppp/8/8/8/8/5PPP/6K1 w - -"}) {
        ASSERT_TRUE(test::set_fen(fen));
        think_with(8);
        const std::uint64_t* from = &stats.time_limit;
        std::uint64_t* to = &sum.time_limit;
        for (std::size_t k = 0; k < 28; ++k) to[k] += from[k];
    }
    // Every counter but the two set ones (time_limit 0, nps 2) and the tablebases' (26, 27).
    const std::uint64_t* counter = &sum.time_limit;
    for (std::size_t k = 1; k < 26; ++k)
        EXPECT_TRUE(k == 2 || counter[k] > 0) << "counter " << k;
    EXPECT_GT(stats.extended_depth, 8u);
}

TEST_F(SearchClassic, StatisticsReportText) {
    stats = SearchStats{};
    stats.time_limit = 5400, stats.nodes = 250000, stats.nps = 1000000, stats.beta_cutoffs = 30000;
    stats.qsearch_count = 200000, stats.qsearch_cutoffs = 90000, stats.eval_count = 99, stats.eval_hits = 7;
    stats.lazy_count = 1000, stats.hash_hits = 5000, stats.nullmove_hits = 500, stats.extended_depth = 23;
    std::FILE* f = std::tmpfile();
    print_statistics(f);
    std::rewind(f);
    char buf[2048] = {};
    buf[std::fread(buf, 1, sizeof buf - 1, f)] = 0;
    std::fclose(f);
    EXPECT_EQ(std::string(buf),
              "\n\ntime_limit: 5400\n"
              "nodes: 250000, nps: 1000000, beta_cutoffs: 30000, 12%\n"
              "qsearch_count: 200000, qsearch_cutoffs: 90000, 45%\n"
              "eval_count: 99, lazy_count: 1000, 0%\n"
              "hash_full: 0, hash_hits: 5000, 10%\n"
              "evalhash_full: 0, eval_hits: 7\n"
              "phash_full: 0, phash_hits: 0, 0%\n"
              "avoid_nullmoves: 0, nullmove_hits: 500, 1%\n"
              "hmoves_count: 0, inter_iterativ_deep: 0, razor_count: 0\n"
              "extended_count: 0, extended_depth: 23\n"
              "check_ext: 0, mate_threat_ext: 0\n"
              "recapture_ext: 0, pawn_promotion_ext: 0, one_reply_ext: 0\n"
              "egtb_probes: 0, egtb_hits: 0\n\n");
}

TEST(ClassicProgram, ConsoleBenchThenInfo) {
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    engine.send("bench\n");
    ASSERT_TRUE(engine.wait_for("info depth 5 "));  // the board, then the search at once
    EXPECT_NE(engine.output().find("|\t1. black\n"), std::string::npos);
    engine.send("stop\n");
    ASSERT_TRUE(engine.wait_for("egtb_probes: 0, egtb_hits: 0\n\n"));
    EXPECT_NE(engine.output().find("bestmove "), std::string::npos);
    EXPECT_NE(engine.output().find("\n\ntime_limit: 5400\nnodes: "), std::string::npos);
    engine.take_output();
    engine.send("info\n");
    ASSERT_TRUE(engine.wait_for("egtb_probes: 0, egtb_hits: 0\n\n"));
    EXPECT_EQ(engine.output().find("\n\ntime_limit: 5400\nnodes: "), 0u);
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}

// Mates through the program's UCI front end, then a whole game against itself under a
// fast clock: every answer a legal move, checked with the engine's own move generator.
TEST(ClassicProgram, UciMatesAndALegalGame) {
    test::use_classic();
    test::EngineProcess engine(VARKON_CLASSIC_BIN);
    engine.send("uci\n");
    ASSERT_TRUE(engine.wait_for("uciok\n"));
    const std::regex best("\nbestmove (\\S+)");
    std::smatch m;
    const std::pair<const char*, const char*> mates[] = {{"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "a1a8"},
                                                         {"6k1/pp4p1/2p5/2bp4/8/P5Pb/1P3rrP/2BRRN1K b - - 0 1", "g2g1"},
                                                         {"2r3k1/p4p2/3Rp2p/1p2P1pK/8/1P4P1/P3Q2P/1q6 b - - 0 1", "b1g6"}};
    for (const auto& [fen, move] : mates) {
        engine.take_output();
        engine.send(std::string("position fen ") + fen + "\ngo depth 7\n");
        ASSERT_TRUE(engine.wait_for_line("bestmove"));
        const std::string out = engine.output();
        ASSERT_TRUE(std::regex_search(out, m, best));
        EXPECT_EQ(m[1].str(), move) << fen;
        EXPECT_NE(out.find(" score mate "), std::string::npos) << out;
    }
    new_game();
    // The game goes on until mate, stalemate, the fifty-move rule, a threefold repetition,
    // bare kings or 400 half-moves.
    std::string moves;
    const auto over = [] {
        int seen_before = 0;
        for (int g = game_ply - 2; g >= game_ply - fifty[game_ply] && g >= 1; g -= 2)
            seen_before += hash_history[g] == hash_history[game_ply];
        return fifty[game_ply] >= 100 || seen_before >= 2 || ply_state[0].mat_value == 0;
    };
    for (int n = 0; n < 400 && !over(); ++n) {
        engine.take_output();
        engine.send("position startpos" + (moves.empty() ? "" : " moves" + moves) +
                    "\ngo wtime 300 btime 300 winc 10 binc 10\n");
        ASSERT_TRUE(engine.wait_for_line("bestmove", 5000)) << "move " << n;
        const std::string out = engine.output();
        ASSERT_TRUE(std::regex_search(out, m, best));
        if (m[1].str() == "0000") {
            EXPECT_EQ(perft(1), 0u) << "no move named after" << moves;
            break;
        }
        ASSERT_EQ(parse_coordinate_move(m[1].str().c_str()), 1) << "illegal " << m[1].str() << " after" << moves;
        moves += " " + m[1].str();
    }
    engine.send("quit\n");
    EXPECT_EQ(engine.wait_exit(), 0);
}
