// Making and unmaking moves: per-ply state, incremental keys, null move, take-back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/input.h"
#include "core/moves.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

class Moves : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
};

// Generates at ply 0 and returns the index of the move from -> to (first match), or 0.
int root_move(int from, int to, int promotion = 0) {
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
    for (int i = 1; i < move_count; ++i)
        if (move_stack[i].from == from && move_stack[i].to == to && move_stack[i].promotion == promotion) return i;
    return 0;
}

HashKey K(int q, int code) { return piece_key(q, code); }

// Per-ply state compared field by field, each piece list as a set of squares.
bool same_state(const PlyState& a, const PlyState& b) {
    for (int l = 0; l < 13; ++l) {
        std::vector<int> x(a.piece_lists.sq[l] + 1, a.piece_lists.sq[l] + 1 + a.piece_lists.sq[l][0]);
        std::vector<int> y(b.piece_lists.sq[l] + 1, b.piece_lists.sq[l] + 1 + b.piece_lists.sq[l][0]);
        std::sort(x.begin(), x.end());
        std::sort(y.begin(), y.end());
        if (x != y) return false;
    }
    return std::memcmp(a.castle, b.castle, 4) == 0 && a.ep == b.ep && a.mat_value == b.mat_value &&
           a.mat_white == b.mat_white && a.mat_black == b.mat_black && a.pieces == b.pieces && a.pawns == b.pawns;
}

}  // namespace

TEST_F(Moves, PawnDoubleStepSetsEnPassantAndUnmakeRestores) {
    const HashKey start = hash_history[1];
    int i = root_move(35, 55);
    ASSERT_NE(i, 0);
    make_move(i);
    EXPECT_EQ(ply_state[1].ep, 45);
    EXPECT_EQ(fifty[2], 0);
    EXPECT_EQ(hash_history[2], start ^ K(35, 1) ^ K(55, 1) ^ side_change_key());
    EXPECT_EQ(side, BLACK);
    unmake_move(i);
    EXPECT_EQ(board[35], PAWN);
    EXPECT_EQ(board[55], EMPTY);
    EXPECT_EQ(side, WHITE);
    EXPECT_EQ(ply_state[0].ep, 0);
    EXPECT_TRUE(position_consistent());
    i = root_move(27, 46);
    make_move(i);
    EXPECT_EQ(fifty[2], 1);
    EXPECT_EQ(ply_state[1].ep, 0);
}

TEST_F(Moves, CastlingPromotionAndCaptures) {
    ASSERT_TRUE(test::set_fen("r3k2r/1P6/8/8/8/8/8/R3K2R w KQkq -"));
    int i = root_move(25, 27);
    ASSERT_NE(i, 0);
    make_move(i);
    EXPECT_EQ(board[27], KING);
    EXPECT_EQ(board[26], ROOK);
    EXPECT_EQ(board[28], EMPTY);
    EXPECT_EQ(ply_state[1].castle[WHITE_KING_SIDE], 0);
    EXPECT_EQ(ply_state[1].castle[WHITE_QUEEN_SIDE], 0);
    EXPECT_EQ(ply_state[1].castle[BLACK_KING_SIDE], 1);
    unmake_move(i);
    EXPECT_EQ(board[28], ROOK);
    EXPECT_EQ(board[25], KING);

    // b7xa8=Q: the rook's value leaves Black, the queen's gain joins White.
    const PlyState before = ply_state[0];
    i = root_move(82, 91, QUEEN);
    ASSERT_NE(i, 0);
    make_move(i);
    EXPECT_EQ(ply_state[1].mat_value - before.mat_value, 885 - 500);
    EXPECT_EQ(ply_state[1].mat_white - before.mat_white, 885);
    EXPECT_EQ(ply_state[1].mat_black - before.mat_black, -500);
    EXPECT_EQ(ply_state[1].pieces, before.pieces + 1 - 1);
    EXPECT_EQ(ply_state[1].pawns, before.pawns - 1);
    EXPECT_EQ(ply_state[1].castle[BLACK_QUEEN_SIDE], 1);  // a captured rook leaves the flag
    unmake_move(i);
    EXPECT_EQ(board[82], PAWN);
    EXPECT_EQ(board[91], -ROOK);
}

TEST_F(Moves, EnPassantCaptureAndNullMove) {
    ASSERT_TRUE(test::set_fen("4k3/8/8/3Pp3/8/8/8/4K3 w - e6"));
    const PlyState before = ply_state[0];
    int i = root_move(64, 75);
    ASSERT_NE(i, 0);
    EXPECT_EQ(move_stack[i].ep_square, 65);
    make_move(i);
    EXPECT_EQ(board[65], EMPTY);
    EXPECT_EQ(ply_state[1].pawns, before.pawns - 1);
    EXPECT_EQ(ply_state[1].mat_value, before.mat_value - 90);
    unmake_move(i);
    EXPECT_EQ(board[65], -PAWN);
    EXPECT_EQ(board[75], EMPTY);
    EXPECT_EQ(board[64], PAWN);

    make_null_move();
    EXPECT_EQ(hash_history[2], hash_history[1] ^ side_change_key());
    EXPECT_EQ(ply_state[1].ep, 0);
    EXPECT_EQ(side, BLACK);
    unmake_null_move();
    EXPECT_EQ(side, WHITE);
    EXPECT_EQ(ply, 0);
}

// Long random games: every make/unmake pair restores board, lists and material, the
// incremental key always equals the key computed from scratch, and take-back undoes
// played moves exactly.
TEST_F(Moves, RandomGamesKeepStateConsistent) {
    std::mt19937 rng(12345);
    for (int game = 0; game < 40; ++game) {
        new_game();
        std::vector<std::pair<std::vector<std::int8_t>, PlyState>> history;
        for (int n = 0; n < 200; ++n) {
            ply = 0;
            ply_state[0].move_start = 1;
            ply_state[0].in_check = king_in_check(side);
            generate_moves();
            std::vector<int> legal;
            const int end = move_count;
            for (int i = 1; i < end; ++i) {
                std::int8_t saved_board[120];
                std::memcpy(saved_board, board, sizeof board);
                const PlyState saved = ply_state[0];
                make_move(i);
                ASSERT_EQ(hash_history[game_ply], compute_key(side));
                ASSERT_TRUE(position_consistent());
                if (!king_in_check(-side)) legal.push_back(i);
                unmake_move(i);
                ASSERT_EQ(std::memcmp(saved_board, board, sizeof board), 0);
                ASSERT_TRUE(same_state(saved, ply_state[0]));
            }
            if (legal.empty() || fifty[game_ply] >= 100) break;
            history.emplace_back(std::vector<std::int8_t>(board, board + 120), ply_state[0]);
            play_move(legal[rng() % legal.size()]);
            ASSERT_TRUE(position_consistent());
        }
        // Take the whole game back move by move.
        while (!history.empty()) {
            ASSERT_TRUE(take_back());
            ASSERT_EQ(std::vector<std::int8_t>(board, board + 120), history.back().first);
            ASSERT_TRUE(same_state(history.back().second, ply_state[0]));
            history.pop_back();
        }
        EXPECT_FALSE(take_back());
    }
}
