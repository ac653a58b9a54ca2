// varkon_classic's evaluation: worked values of its terms, the lazy test and both caches
// (its colour symmetry: test_eval.cpp).
#include <gtest/gtest.h>

#include "eval/eval_classic.h"
#include "search/hash_classic.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

// The scratch and the counters of the tests' evaluations of the game position.
EvalState state;
SearchStats stats;

class EvalClassic : public ::testing::Test {
protected:
    // Single-entry caches: emptying them before each evaluation costs nothing.
    void SetUp() override {
        test::use_classic();
        hash_classic::allocate(0);
        stats = SearchStats{};
    }
    void set(const std::string& fen) { ASSERT_TRUE(test::set_fen(fen)) << fen; }
};

// Evaluation of `fen` with empty caches, so that every call sees the same cache state.
int cold_eval(const std::string& fen, int alpha = -32000, int beta = 32000) {
    EXPECT_TRUE(test::set_fen(fen)) << fen;
    hash_classic::wipe();
    return evaluate_classic(game(), state, stats, alpha, beta);
}

struct Terms {
    int phase, pawns, pieces, kings, traps;
};
Terms terms_of(const std::string& fen) {
    EXPECT_TRUE(test::set_fen(fen)) << fen;
    hash_classic::wipe();
    const Position& pos = game();
    const int phase = phase_classic(pos);
    const int pawns = eval_pawns_classic(pos, state, stats, phase);  // first: the other terms read its files
    return {phase, pawns, eval_pieces_classic(pos, state, phase), eval_kings_classic(pos, state, phase),
            eval_traps_classic(pos)};
}

}  // namespace

TEST_F(EvalClassic, WorkedExamplesOfTheTerms) {
    const struct {
        const char* fen;
        int Terms::*term;
        int value;
    } cases[] = {
        {"4k3/4PP2/8/8/8/8/8/4K3 b - -", &Terms::pawns, (100 + 211 + 2) + (100 + 11)},  // f7 passed beside e7
        {"4k3/8/8/8/1P1P4/2P5/8/4K3 w - -", &Terms::pawns, 26 + (0 - 4 + 11) + 26},  // c3 backward
        {"4k3/8/2p5/8/1P1P4/2P5/8/4K3 w - -", &Terms::pawns, 15 + 0 + 15 + 10},      // c6 stops them
        {"6k1/pppp1ppp/8/8/8/8/PPPPRPPP/4R1K1 w - -", &Terms::pieces, 10 + 10 + 10},  // doubled on an open file
        // Rooks listed a1, h1, a2, h2: pairs on the half-open a-file and the open h-file; the better counts.
        {"6k1/p7/8/8/8/8/R6R/R5KR w - -", &Terms::pieces, 5 + 5 + 10 + 10 + 10},
        // g1 behind f2, g2, h2: 10 + 3 x 10; e8 adds nothing only with both castling rights.
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1RK1 w kq -", &Terms::kings, 40},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1RK1 w k -", &Terms::kings, 60},
        // Files in front without own pawns: -40, or -20 with an enemy pawn on them.
        {"rnbq1rk1/ppppp3/8/8/8/8/PPPPP1PP/RNBQ1RK1 w - -", &Terms::kings, (10 - 40 + 20) - (10 - 40 - 20 - 20)},
        {"4k3/B1p5/1p6/8/8/8/8/4K3 w - -", &Terms::traps, -200},
        {"5k1r/7p/8/8/8/8/8/4K3 w - -", &Terms::traps, 40},
        {"K1nr3b/4pppp/8/8/8/8/4PPPP/k1NR3B b - -", &Terms::phase, 2},  // shelter terms with kings on the far rank
    };
    for (const auto& c : cases) EXPECT_EQ(terms_of(c.fen).*c.term, c.value) << c.fen;
    // No pawns and at most one minor piece: a draw, not cached.
    const auto stored = stats.evalhash_full;
    EXPECT_EQ(cold_eval("8/8/4k3/8/8/2KN4/8/8 w - -"), 0);
    EXPECT_EQ(stats.evalhash_full, stored);
    EXPECT_GT(cold_eval("8/8/4k3/8/8/2KR4/8/8 w - -"), 400);
}

TEST_F(EvalClassic, LazyTestSkipsThePieceTermsOutsideTheWidenedWindow) {
    const std::string fen = "rnbqkbnr/pppppppp/8/8/8/2N5/PPPPPPPP/R1BQKBNR w KQkq -";
    const int full = cold_eval(fen), pieces = terms_of(fen).pieces;
    ASSERT_EQ(pieces, 8 - 10 + 10 + 10);  // knights c3 and g1 against b8 and g8
    const int rest = full - pieces;
    const auto lazy = stats.lazy_count, counted = stats.eval_count;
    EXPECT_EQ(cold_eval(fen, rest + 150, rest + 151), rest);
    EXPECT_EQ(cold_eval(fen, rest - 151, rest - 150), rest);
    EXPECT_EQ(stats.lazy_count, lazy + 2);
    EXPECT_EQ(cold_eval(fen, rest + 149, rest + 151), full);
    EXPECT_EQ(cold_eval(fen, rest - 151, rest - 149), full);
    EXPECT_EQ(stats.eval_count, counted + 2);
}

TEST_F(EvalClassic, EvaluationCacheHitsOnlyWithTheSameCastlingRights) {
    // White king on e1: -20 once a castling right is gone; the position key does not show it.
    const std::string both = "rn2k1nr/pppppppp/8/8/8/8/PPPPPPPP/RN2K1NR w KQkq -";
    const std::string one = "rn2k1nr/pppppppp/8/8/8/8/PPPPPPPP/RN2K1NR w Kkq -";
    const int fresh_one = cold_eval(one), with_both = cold_eval(both);
    EXPECT_EQ(with_both - fresh_one, 20);
    const auto hits = stats.eval_hits;
    EXPECT_EQ(evaluate_classic(game(), state, stats, -32000, 32000), with_both);
    EXPECT_EQ(stats.eval_hits, hits + 1);
    set(one);
    EXPECT_EQ(evaluate_classic(game(), state, stats, -32000, 32000), fresh_one);
    EXPECT_EQ(stats.eval_hits, hits + 1);
}

TEST_F(EvalClassic, PawnCacheHitsOnTheSameSkeletonInTheSamePhase) {
    hash_classic::allocate(16);  // room for several pawn structures
    const std::string a = "rn2k1nr/ppp2ppp/8/8/4P3/8/PPP2PPP/RN2K1NR w - -";
    const std::string b = "rn2k1nr/ppp2ppp/8/8/4P3/8/PPP2PPP/RN1RK1N1 w - -";  // a rook on the open d-file
    const std::string ending = "4k3/ppp2ppp/8/8/4P3/8/PPP2PPP/4K3 w - -";      // the same pawns in phase 3
    const Terms fresh_b = terms_of(b), fresh_ending = terms_of(ending);
    ASSERT_NE(fresh_b.pawns, fresh_ending.pawns);
    hash_classic::wipe();
    for (const std::string& fen : {a, std::string("4k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - -")}) {
        set(fen);  // the second leaves other files behind
        eval_pawns_classic(game(), state, stats, phase_classic(game()));
    }
    const auto hits = stats.phash_hits;
    set(b);
    EXPECT_EQ(eval_pawns_classic(game(), state, stats, phase_classic(game())), fresh_b.pawns);
    EXPECT_EQ(stats.phash_hits, hits + 1);
    EXPECT_EQ(eval_pieces_classic(game(), state, phase_classic(game())), fresh_b.pieces);  // the rook reads the files of the hit
    set(ending);
    EXPECT_EQ(eval_pawns_classic(game(), state, stats, phase_classic(game())), fresh_ending.pawns);
    EXPECT_EQ(stats.phash_hits, hits + 1);
}
