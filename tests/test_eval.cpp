// varkon's evaluation: symmetry over real positions, the lazy exits, the pawn cache and
// worked examples of the pawn, piece and king terms.
#include <gtest/gtest.h>

#include "eval/eval.h"
#include "search/hash.h"
#include "search/search.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

constexpr int FULL = 32000;

class Eval : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        hash_clear_all();
    }
    // Sets the position and evaluates it with the full window, which fixes `endgame` and
    // `pawn_mask` for the term functions.
    static int full(const std::string& fen) {
        EXPECT_TRUE(test::set_fen(fen)) << fen;
        return evaluate(-FULL, FULL);
    }
};

std::vector<std::string> real_positions() {
    std::vector<std::string> fens = test::pgn_positions(TEST_DATA_DIR "/selfplay-games.pgn", 4000);
    for (const std::string& f : test::epd_positions(TEST_DATA_DIR "/bratko-kopec.epd")) fens.push_back(f);
    return fens;
}

// Positions the board accepts though no game reaches them.
const char* const odd_positions[] = {
    "8/6kR/8/8/8/bq6/1rqqqqqq/K1nqnbrq b - -",
    "P3k3/8/8/8/8/8/8/p3K3 b - -",
    "PPPPPPPP/8/8/k7/8/8/pppppppp/K7 w - -",
    "K7/pppppppp/8/8/8/8/PPPPPPPP/7k w - -",
    "7K/8/8/8/8/8/8/k7 w - -",
    "QQQQQQQQ/Q7/8/8/8/8/qqqqqqqq/kq5K w - -",
};

}  // namespace

TEST_F(Eval, StartPositionIsLevelForEitherSide) {
    EXPECT_EQ(full("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"), 0);
    EXPECT_EQ(full("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -"), 0);
    EXPECT_EQ(full("4k3/8/8/8/8/8/8/4K3 w - -"), 0);
    EXPECT_EQ(endgame, 1);
    EXPECT_EQ(full("k7/8/8/8/8/8/8/3K4 w - -"), 20);  // bare kings: d1 -5 against a8 -25
}

TEST_F(Eval, MirroredPositionsScoreAlikeInEveryWindow) {
    std::vector<std::string> fens = real_positions();
    for (const char* f : odd_positions) fens.push_back(f);
    int checked = 0;
    for (const std::string& fen : fens) {
        const std::string mirror = test::mirror_fen(fen);
        if (!test::set_fen(mirror)) continue;  // more surplus pieces than the board accepts
        const int v = full(fen);
        const int material = mat_balance();
        ASSERT_EQ(full(mirror), v) << fen;
        // Same placement, other side to move: exactly the negation.
        std::string other = fen;
        other[other.find(' ') + 1] = other[other.find(' ') + 1] == 'w' ? 'b' : 'w';
        ASSERT_EQ(full(other), -v) << fen;

        const int windows[][2] = {{v - 1, v + 1},     {v + 160, v + 170},           {v - 400, v - 390},
                                  {v + 900, v + 901}, {material + 321, material + 330}, {material - 330, material - 321}};
        for (const auto& w : windows) {
            test::set_fen(fen);
            const int r = evaluate(w[0], w[1]);
            test::set_fen(mirror);
            ASSERT_EQ(evaluate(w[0], w[1]), r) << fen << " window " << w[0];
            // A lazy value lies beyond the window by more than the smaller margin.
            if (r != v) {
                ASSERT_TRUE(r + LAZY_MARGIN_PAWNS < w[0] || r - LAZY_MARGIN_PAWNS > w[1]) << fen;
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 4000);
}

TEST_F(Eval, LazyExitsAtTheirExactMargins) {
    // White is two pawns up: material 180, with the pawn structure 192, in all 182.
    const std::string fen = "4k3/8/8/8/8/8/PP6/6K1 w - -";
    const std::string black_to_move = "4k3/8/8/8/8/8/PP6/6K1 b - -";
    const int exact = full(fen);
    const int material = 180, with_pawns = 192;
    ASSERT_EQ(exact, 182);
    ASSERT_EQ(eval_pawn_structure(), with_pawns - material);

    auto counted = [&](int alpha, int beta) {
        const std::uint64_t before = stats.eval_count;
        const int r = evaluate(alpha, beta);
        EXPECT_EQ(stats.eval_count - before, r == exact ? 1u : 0u) << alpha << " " << beta;
        return r;
    };
    // First exit: strictly more than 320 outside the window.
    EXPECT_EQ(counted(material + 321, material + 400), material);
    EXPECT_NE(counted(material + 320, material + 400), material);
    EXPECT_EQ(counted(material - 400, material - 321), material);
    EXPECT_NE(counted(material - 400, material - 320), material);
    // Second exit: material and pawns strictly more than 150 outside.
    EXPECT_EQ(counted(with_pawns + 151, with_pawns + 152), with_pawns);
    EXPECT_EQ(counted(with_pawns + 150, with_pawns + 152), exact);
    EXPECT_EQ(counted(with_pawns - 160, with_pawns - 151), with_pawns);
    EXPECT_EQ(counted(with_pawns - 160, with_pawns - 150), exact);
    // The same margins from Black's side, with Black's view of the scores.
    ASSERT_TRUE(test::set_fen(black_to_move));
    EXPECT_EQ(evaluate(-material + 321, FULL), -material);
    EXPECT_EQ(evaluate(-with_pawns - 152, -with_pawns - 151), -with_pawns);
    EXPECT_EQ(evaluate(-with_pawns - 152, -with_pawns - 150), -exact);
}

TEST_F(Eval, PawnCacheKeysOnPawnsAndEndgame) {
    // Same pawns, different pieces: the second evaluation takes the pawn score from the
    // cache, with the pawn files the rooks need.
    const std::string a = "r3k3/p4ppp/8/8/4P3/8/PP3PPP/4K2R w - -";
    const std::string b = "4r1k1/p4ppp/8/8/4P3/8/PP3PPP/2R3K1 b - -";  // rooks on an open and a half-open file
    const int cold_b = full(b);
    hash_clear_all();
    full(a);
    const std::uint64_t hits = stats.phash_hits;
    EXPECT_EQ(full(b), cold_b);
    EXPECT_EQ(stats.phash_hits, hits + 1);

    // Same pawns, but enough pieces for the middlegame: a miss, scored with the other half.
    const std::string mg = "rqqqk3/p4ppp/8/8/4P3/8/PP3PPP/QQQ1K2R w - -";
    const int endgame_pawns = (full(a), eval_pawn_structure());
    const std::uint64_t before = stats.phash_hits;
    full(mg);
    EXPECT_EQ(endgame, 0);
    EXPECT_EQ(stats.phash_hits, before);
    EXPECT_NE(eval_pawn_structure(), endgame_pawns);
    EXPECT_EQ(stats.phash_hits, before + 1);
    EXPECT_EQ(endgame_pawns, 18);
    EXPECT_EQ(eval_pawn_structure(), 22);  // e4 counts 10 in the middlegame half, 6 in the endgame half
}

TEST_F(Eval, PawnStructureExamples) {
    const struct {
        const char* fen;
        int pawns;
    } cases[] = {
        {"4k3/8/8/8/8/8/P7/4K3 w - -", -5},                 // a2: isolated -10, passed +5
        {"4k3/8/8/4P3/4P3/8/8/4K3 w - -", 24},              // e4 6-10-10+20, e5 8-10-10+30
        {"4k3/8/8/8/3PP3/8/8/4K3 w - -", 54},               // d4 6+20, e4 6+2+20
        {"4k3/8/5PP1/8/8/8/8/4K3 w - -", 188},              // f6 8+60, g6 8+2+60+50
        {"4k3/8/8/3P4/1P6/2P5/8/4K3 w - -", 66},            // c3 backward: 2-8+10, b4 24, d5 38
        {"4k3/8/8/3P4/8/2P5/1P6/4K3 w - -", 47},            // b2 backward instead: -3, c3 12, d5 38
        {"4k3/8/8/4P3/3p4/8/8/4K3 w - -", 0},               // neither passed: 8-10 against 8-10
        {"4k3/8/8/8/8/8/8/p3K3 w - -", 10},                 // black a1: isolated, passed on its last rank: 0
        {"rqqqk3/8/8/8/8/8/P7/QQQ1K2R w - -", -5},          // middlegame a2: 0-10+5
        {"rqqqk3/8/5PP1/8/8/8/8/QQQ1K2R w - -", 172},       // middlegame f6 0+60, g6 0+2+60+50
    };
    for (const auto& c : cases) {
        full(c.fen);
        EXPECT_EQ(eval_pawn_structure(), c.pawns) << c.fen;
    }
    full("4k3/8/8/8/8/8/PP3P1P/4K3 w - -");
    EXPECT_EQ(pawn_mask[0], 0xa3);
    EXPECT_EQ(pawn_mask[1], 0);
}

TEST_F(Eval, PieceExamples) {
    const struct {
        const char* fen;
        int pieces;
    } cases[] = {
        {"7k/8/8/8/8/8/8/N3K3 w - -", -18},         // corner knight: -10 + 4 x (2 - 4)
        {"8/8/8/7k/8/8/8/N3K3 w - -", 2},           // king within 4 ranks: +20
        {"7k/8/8/8/8/8/8/3R3K w - -", 42},          // open file: 2 x (13 - 7) + 10 + 20
        {"7k/3p4/8/8/8/8/8/3R3K w - -", 28},        // half-open: 2 x (11 - 7) + 10 + 10
        {"7k/3p4/8/8/8/8/3P4/3R3K w - -", 8},       // own pawn on the file: 2 x (6 - 7) + 10
        {"R6k/8/8/8/8/8/8/7K w - -", 82},           // eighth rank with the king there: +40
        {"8/R6k/8/8/8/8/8/7K w - -", 42},           // king not on its back rank: nothing
        {"4k3/8/8/8/8/8/8/B3K2B w - -", 100},       // two bishops: 25 + 25 + 50
        {"B3k3/8/8/8/8/8/8/B3K2B w - -", 65},       // three bishops: no pair
        {"4k3/B1p5/1p6/8/8/8/8/4K3 w - -", -105},   // trapped bishop: -25 + 20 - 100
        {"4k3/B7/1p6/8/8/8/8/4K3 w - -", -5},       // one pawn does not trap it
        {"4k3/8/8/8/8/1P6/b1P5/4K3 w - -", 105},    // black bishop trapped on a2: -(-25 + 20 - 100)
    };
    for (const auto& c : cases) {
        full(c.fen);
        EXPECT_EQ(eval_pieces(), c.pieces) << c.fen;
    }
}

TEST_F(Eval, KingExamples) {
    const struct {
        const char* fen;
        int king;
    } cases[] = {
        {"4k3/8/8/8/8/8/5PPP/6KR w - -", -60},                  // endgame: g1 -15, rook -50, e8 -5
        {"qqr1k3/8/8/8/8/8/5PPP/QQR3KR w - -", 50},             // middlegame: 10 - 50 + 3 x 30
        {"qqr1k3/3Pp3/4p3/8/8/8/5PPP/QQR3KR w - -", 25},        // black: 30 + 15 - 20 in front of e8
        {"qqr1k3/8/8/8/8/6P1/5P1P/QQR3K1 w - -", 85},           // g1 10 + 30 + 30 + 15, no rook
        {"1rk4q/8/8/8/8/8/8/QQR1K3 w - -", 45},                 // black c8 5, b8 rook -50: +45
    };
    for (const auto& c : cases) {
        full(c.fen);
        EXPECT_EQ(eval_king(), c.king) << c.fen;
    }
}

TEST_F(Eval, OddPositionsStayInsideTheTables) {
    // Run under the address sanitizer, this shows that every square read is a real one.
    for (const char* fen : odd_positions) {
        full(fen);
        for (int alpha : {-FULL, -500, 0, 500}) evaluate(alpha, alpha + 1);
    }
    EXPECT_EQ(full("P3k3/8/8/8/8/8/8/p3K3 b - -"), 0);
}

TEST(EvalDisplay, BoardShowsTheEvaluationAtTheConsoleAndInUci) {
    const std::string out = test::run_engine(
        VARKON_BIN, "board\nuci\nposition fen 7k/8/8/8/8/8/8/N3K3 b - -\nboard\nquit\n");
    EXPECT_NE(out.find("1 | r | n | b | q | k | b | n | r |\tpos_value     = 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    a   b   c   d   e   f   g   h\n\npos_value : 0\n"), std::string::npos) << out;
    // Black to move, a knight down: -(325 - 18 + (-5 + 25)).
    EXPECT_NE(out.find("1 | n |   |   |   | k |   |   |   |\tpos_value     = -327\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n\npos_value : -327\n"), std::string::npos) << out;
}
