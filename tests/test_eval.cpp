// The colour symmetry of both evaluations over real and odd positions; varkon's lazy exits,
// pawn cache and worked examples of its pawn, piece and king terms.
#include <gtest/gtest.h>

#include <cstdlib>

#include "eval/eval.h"
#include "eval/eval_classic.h"
#include "frontend/program.h"
#include "search/hash.h"
#include "search/hash_classic.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

constexpr int FULL = 32000;

// The scratch and the counters of the tests' evaluations of the game position.
EvalState state;
SearchStats stats;

void start_evaluations() {
    state.clear();
    stats = SearchStats{};
}

class Eval : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        hash_clear_all();
        start_evaluations();
    }
    // The full-window score, which also fixes `endgame` and `pawn_mask` for the terms.
    static int full(const std::string& fen) {
        EXPECT_TRUE(test::set_fen(fen)) << fen;
        return evaluate_standard(game(), state, stats, -FULL, FULL);
    }
};

int whole() { return evaluate_standard(game(), state, stats, -FULL, FULL); }
int pawn_structure() { return eval_pawn_structure(game(), state, stats); }
int pieces() { return eval_pieces(game(), state); }
int king() { return eval_king(game(), state); }

// The running program's evaluation of the game position.
int program_eval(int alpha, int beta) { return program().evaluation(game(), state, stats, alpha, beta); }
int classic_cold_eval(int alpha, int beta) {  // every call sees the same (empty) caches
    hash_classic::wipe();
    return program_eval(alpha, beta);
}

}  // namespace

// Both evaluations: a position and its colour mirror score alike in every window, the same
// placement with the other side to move scores the negated value, and a lazy value lies
// beyond the window by at least the smaller lazy margin.
TEST(Evaluations, MirroredPositionsScoreAlikeInEveryWindow) {
    test::use_varkon();
    start_evaluations();
    std::vector<std::string> fens = test::pgn_positions(TEST_DATA_DIR "/selfplay-games.pgn", 3000);
    for (const std::string& f : test::epd_positions(TEST_DATA_DIR "/bratko-kopec.epd")) fens.push_back(f);
    ASSERT_GT(fens.size(), 3000u);
    // Positions no game reaches: promoted armies, nine queens, pawns on the back ranks,
    // three rooks or bishops of one colour, castling flags whatever the king squares,
    // trapped bishops, kings on the far rank in the middlegame (the squares in front are
    // border squares).
    for (const char* f : {"8/6kR/8/8/8/bq6/1rqqqqqq/K1nqnbrq b - -", "P3k3/8/8/8/8/8/8/p3K3 b - -",
                          "PPPPPPPP/8/8/k7/8/8/pppppppp/K7 w - -", "K7/pppppppp/8/8/8/8/PPPPPPPP/7k w - -",
                          "QQQQQQQQ/Q7/8/8/8/8/qqqqqqqq/kq5K w - -", "qqq2n1K/8/8/8/8/8/8/QQQ2N1k w - -",
                          "4k3/B1p2p1B/1p4p1/8/8/8/8/4K3 w - -", "K6k/PPPPPPPP/8/8/8/8/pppppppp/8 b - -",
                          "4k3/pppppppp/8/8/8/8/1PPPPPPP/RR2K3 w - -", "k7/8/8/8/8/8/8/1RRRK3 w - -",
                          "B3k3/8/8/8/8/8/8/B3K2B w - -", "7K/pppppppp/8/8/8/8/PPPPPPPP/k7 w KQkq -",
                          "br1n3K/pppp4/8/8/8/8/PPPP4/BR1N3k w - -", "K1nr3b/4pppp/8/8/8/8/4PPPP/k1NR3B b - -"})
        fens.push_back(f);
    const struct {
        void (*use)();
        int (*eval)(int alpha, int beta);
        int margin;
    } programs[] = {{test::use_varkon, program_eval, LAZY_MARGIN_PAWNS}, {test::use_classic, classic_cold_eval, CLASSIC_LAZY_MARGIN}};
    for (const auto& p : programs) {
        p.use();
        for (const std::string& fen : fens) {
            std::string other = fen;
            char& to_move = other[other.find(' ') + 1];
            to_move = to_move == 'w' ? 'b' : 'w';
            ASSERT_TRUE(test::set_fen(fen)) << fen;
            const int v = p.eval(-FULL, FULL), material = game().mat_balance();
            if (test::set_fen(other)) {  // unless the side to move is in check: no such position
                ASSERT_EQ(p.eval(-FULL, FULL), -v) << fen;
            }
            const std::string mirror = test::mirror_fen(fen);
            ASSERT_TRUE(test::set_fen(mirror));
            ASSERT_EQ(p.eval(-FULL, FULL), v) << fen;
            const int windows[][2] = {{v - 1, v + 1},       {v + 160, v + 170},      {v - 400, v - 390},
                                      {v + 900, v + 901},   {v + 149, v + 150},      {v - 151, v - 150},
                                      {v + 39, v + 99},     {v - 40, v + 20},        {v + 300, v + 360},
                                      {material + 321, material + 330}, {material - 330, material - 321}};
            for (const auto& w : windows) {
                test::set_fen(fen);
                const int r = p.eval(w[0], w[1]);
                EXPECT_TRUE(r == v || r + p.margin <= w[0] || r - p.margin >= w[1]) << fen << " window " << w[0];
                test::set_fen(mirror);
                ASSERT_EQ(p.eval(w[0], w[1]), r) << fen << " window " << w[0];
            }
        }
    }
}

TEST_F(Eval, LazyExitsAtTheirExactMargins) {
    // Two pawns up: material 180, with the pawn structure 192, in all 182.
    ASSERT_EQ(full("4k3/8/8/8/8/8/PP6/6K1 w - -"), 182);
    const struct {
        char side;
        int alpha, beta, want;
    } cases[] = {
        // Material strictly more than 320 outside the window, else material and pawns
        // strictly more than 150 outside, else the full score.
        {'w', 501, 580, 180},  {'w', 500, 580, 192},   {'w', -220, -141, 180}, {'w', -220, -140, 192},
        {'w', 343, 344, 192},  {'w', 342, 344, 182},   {'w', 32, 41, 192},     {'w', 32, 42, 182},
        {'b', 141, FULL, -180}, {'b', 140, FULL, -192}, {'b', -344, -343, -192}, {'b', -344, -342, -182},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::set_fen(std::string("4k3/8/8/8/8/8/PP6/6K1 ") + c.side + " - -"));
        const std::uint64_t counted = stats.eval_count;
        EXPECT_EQ(evaluate_standard(game(), state, stats, c.alpha, c.beta), c.want) << c.side << " " << c.alpha << " " << c.beta;
        EXPECT_EQ(stats.eval_count - counted, std::abs(c.want) == 182 ? 1u : 0u) << c.alpha;
    }
}

TEST_F(Eval, PawnCacheHitsOnTheSameSkeletonAndMissesOnTheOtherPhase) {
    const std::string a = "r3k3/p4ppp/8/8/4P3/8/PP3PPP/4K2R w - -";
    const std::string b = "4r1k1/p4ppp/8/8/4P3/8/PP3PPP/2R3K1 b - -";  // rooks on an open and a half-open file
    const int cold_b = full(b), pieces_b = pieces();
    hash_clear_all();
    full(a);
    full("4k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - -");  // other pawns, other files
    std::uint64_t hits = stats.phash_hits;
    EXPECT_EQ(full(b), cold_b);
    EXPECT_EQ(stats.phash_hits, ++hits);
    EXPECT_EQ(pieces(), pieces_b);  // the rooks read the files the hit brought back
    // Same pawns, enough pieces for the middlegame: a miss, scored with the other half.
    full("rqqqk3/p4ppp/8/8/4P3/8/PP3PPP/QQQ1K2R w - -");
    EXPECT_EQ(state.endgame, 0);
    EXPECT_EQ(stats.phash_hits, hits);
    EXPECT_EQ(pawn_structure(), 22);  // e4 counts 10 in the middlegame half, 6 in the endgame half
    EXPECT_EQ(stats.phash_hits, hits + 1);
}

TEST_F(Eval, WorkedExamplesOfTheScoreAndItsTerms) {
    const struct {
        const char* fen;
        int (*term)();
        int value;
    } cases[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", whole, 0},
        {"k7/8/8/8/8/8/8/3K4 w - -", whole, 20},                              // endgame table: d1 -5, a8 -25
        {"4k3/8/8/4P3/4P3/8/8/4K3 w - -", pawn_structure, 24},          // e4 6-10-10+20, e5 8-10-10+30
        {"4k3/8/5PP1/8/8/8/8/4K3 w - -", pawn_structure, 188},          // f6 8+60, g6 8+2+60+50
        {"4k3/8/8/3P4/1P6/2P5/8/4K3 w - -", pawn_structure, 66},        // c3 backward 2-8+10, b4 24, d5 38
        {"4k3/8/8/4P3/3p4/8/8/4K3 w - -", pawn_structure, 0},           // neither passed
        {"8/8/8/7k/8/8/8/N3K3 w - -", pieces, 2},                       // king within 4 ranks: +20
        {"7k/8/8/8/8/8/8/3R3K w - -", pieces, 42},                      // open file: 2 x (13 - 7) + 10 + 20
        {"7k/3p4/8/8/8/8/8/3R3K w - -", pieces, 28},                    // half-open: 2 x (11 - 7) + 10 + 10
        {"R6k/8/8/8/8/8/8/7K b - -", pieces, 82},                       // eighth rank, king there: +40
        {"4k3/8/8/8/8/8/8/B3K2B w - -", pieces, 100},                   // bishop pair: 25 + 25 + 50
        {"4k3/8/8/8/8/1P6/b1P5/4K3 w - -", pieces, 105},                // black bishop trapped: -(-25 + 20 - 100)
        {"4k3/8/8/8/8/8/5PPP/6KR w - -", king, -60},                    // endgame: g1 -15, rook -50, e8 -5
        {"qqr1k3/3Pp3/4p3/8/8/8/5PPP/QQR3KR b - -", king, 25},          // (10 - 50 + 3 x 30) - (30 + 15 - 20)
        {"1rk4q/8/8/8/8/8/8/QQR1K3 b - -", king, 45},                   // black c8 5, rook on b8 -50
    };
    for (const auto& c : cases) {
        full(c.fen);
        EXPECT_EQ(c.term(), c.value) << c.fen;
    }
}

TEST(EvalDisplay, BoardShowsTheSideToMovesEvaluation) {
    const std::string out = test::run_engine(VARKON_BIN, "uci\nposition fen 7k/8/8/8/8/8/8/N3K3 b - -\nboard\nquit\n");
    // A knight down: -(325 + (-10 + 4 x (2 - 4)) + (-5 + 25)), on the board's first rank and after it.
    EXPECT_NE(out.find("1 | n |   |   |   | k |   |   |   |\tpos_value     = -327\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n\npos_value : -327\n"), std::string::npos) << out;
}
