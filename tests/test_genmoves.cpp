// Move generation order, check evasions, promotions, en passant and castling.
#include <gtest/gtest.h>

#include <random>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/notation.h"
#include "core/precalc.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

std::string generated(bool captures_only = false) {
    Position& pos = game();
    pos.ply = 0;
    pos.ply_state[0].move_start = 1;
    pos.ply_state[0].in_check = king_in_check(pos, pos.side);
    captures_only ? generate_captures(pos) : generate_moves(pos);
    std::string list;
    for (int i = 1; i < pos.move_count; ++i) list += std::string(move_to_text(pos.move_stack[i]).s) + " ";
    return list;
}

class GenMoves : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
    Position& pos = game();
};

}  // namespace

TEST_F(GenMoves, StartPositionOrder) {
    EXPECT_EQ(generated(), "a2a3 a2a4 b2b3 b2b4 c2c3 c2c4 d2d3 d2d4 e2e3 e2e4 f2f3 f2f4 g2g3 g2g4 h2h3 h2h4 "
                           "b1a3 b1c3 g1f3 g1h3 ");
    EXPECT_EQ(pos.ply_state[1].move_start, 21);
    EXPECT_EQ(generated(true), "");
}

TEST_F(GenMoves, PromotionsCapturesFirstThenPushes) {
    ASSERT_TRUE(test::set_fen("3r3k/4P3/8/8/8/8/8/K7 w - -"));
    EXPECT_EQ(generated().substr(0, 47), "e7d8q e7d8r e7d8b e7d8n e7e8q e7e8r e7e8b e7e8n");
    EXPECT_EQ(pos.move_stack[1].captured, ROOK);
    EXPECT_EQ(generated(true), "e7d8q e7d8r e7d8b e7d8n ");
}

TEST_F(GenMoves, InCheckOnlyLegalMoves) {
    // Knight check: king moves and the capture of the knight; no castling.
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/5n2/8/R3K2R w KQ -"));
    EXPECT_EQ(generated(), "e1f2 e1d1 e1e2 e1f1 ");
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/5n2/3P4/R3K2R w KQ -"));
    std::string moves = generated();
    EXPECT_EQ(moves.find("e1g1"), std::string::npos);
    EXPECT_EQ(moves.find("d2d3"), std::string::npos);
    // Checkmate: nothing at all.
    ASSERT_TRUE(test::set_fen("R5k1/5ppp/8/8/8/8/8/6K1 b - -"));
    EXPECT_EQ(generated(), "");
}

TEST_F(GenMoves, EnPassantOrder) {
    ASSERT_TRUE(test::set_fen("4k3/8/8/3PpP2/8/8/8/4K3 w - e6"));
    std::string moves = generated();
    EXPECT_EQ(moves.substr(moves.size() - 10), "d5e6 f5e6 ");
    EXPECT_EQ(pos.move_stack[pos.move_count - 2].ep_square, 65);
}

TEST_F(GenMoves, CastlingNeedsRookSafeSquaresAndNoCheck) {
    ASSERT_TRUE(test::set_fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"));
    std::string moves = generated();
    EXPECT_NE(moves.find("e1g1 e1c1"), std::string::npos);
    // f1 attacked: no king-side castling; b1 attacked does not matter.
    ASSERT_TRUE(test::set_fen("r3k2r/8/8/8/8/8/5r2/R3K2R w KQkq -"));
    EXPECT_EQ(generated().find("e1g1"), std::string::npos);
    ASSERT_TRUE(test::set_fen("1r2k2r/8/8/8/8/8/8/R3K2R w KQkq -"));
    EXPECT_NE(generated().find("e1c1"), std::string::npos);
    // The flag alone is not enough: the rook must stand on its corner.
    ASSERT_TRUE(test::set_fen("r3k3/8/8/8/8/8/8/R3K3 w KQkq -"));
    EXPECT_EQ(generated().find("e1g1"), std::string::npos);
}

// A black pawn on h7 must not see the border square beside it as a white piece.
TEST_F(GenMoves, BorderSquaresAreNoPieces) {
    ASSERT_TRUE(test::set_fen("7k/7p/8/8/8/8/8/K7 b - -"));
    EXPECT_EQ(generated(true), "");
}

// The square sets the capture generation and the mobility terms use agree with a walk of
// the mailbox board, over random occupancies (sparse and dense) from every square.
TEST(SquareSets, SliderAttacksAndCountsMatchABoardWalk) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 400; ++round) {
        std::uint64_t occupied = rng();
        if (round % 2) occupied &= rng() & rng();
        std::int8_t board[120];
        for (int q = 0; q < 120; ++q) board[q] = is_playing_square(q) ? EMPTY : OFF_BOARD;
        for (int i = 0; i < 64; ++i)
            if (occupied >> i & 1) board[sq120[i]] = PAWN;
        for (int i = 0; i < 64; ++i) {
            const int f = sq120[i];
            ASSERT_EQ(sq64[f], i);
            std::uint64_t diagonal = 0, line = 0;
            for (int d = 0; d < 8; ++d)
                for (int t = f + king_dirs[d]; board[t] != OFF_BOARD; t += king_dirs[d]) {
                    (d < 4 ? diagonal : line) |= square_bit(t);
                    if (board[t] != EMPTY) break;
                }
            ASSERT_EQ((slider_attacks<0, 1, 2, 3>(i, occupied)), diagonal) << i;
            ASSERT_EQ((slider_attacks<4, 5, 6, 7>(i, occupied)), line) << i;
            ASSERT_EQ(count_squares(diagonal | line), __builtin_popcountll(diagonal | line));
            int knight_targets = 0;
            for (int off : {19, 21, 12, -8, -19, -21, -12, 8})
                knight_targets += f + off >= 0 && f + off < 120 && board[f + off] != OFF_BOARD;
            ASSERT_EQ(count_squares(knight_mask[i]), knight_targets);
        }
    }
}
