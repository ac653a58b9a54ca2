// Making and unmaking moves: per-ply state, incremental keys, null move, take-back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "core/attacks.h"
#include "core/notation.h"
#include "core/moves.h"
#include "core/perft.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

class Moves : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
    Position& pos = game();
};

// Generates at ply 0 and returns the index of the move from -> to (first match), or 0.
int root_move(int from, int to, int promotion = 0) {
    Position& pos = game();
    generate_root(pos);
    for (int i = 1; i < pos.move_count; ++i)
        if (pos.move_stack[i].from == from && pos.move_stack[i].to == to && pos.move_stack[i].promotion == promotion) return i;
    return 0;
}

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

// What the consistency checks cannot see: the en-passant square, the fifty-move counter,
// where the castling rook lands, and the null move.
TEST_F(Moves, EnPassantSquareFiftyCounterCastlingRookAndNullMove) {
    int i = root_move(35, 55);
    make_move(pos, i);
    EXPECT_EQ(pos.ply_state[1].ep, 45);
    EXPECT_EQ(pos.fifty[2], 0);
    unmake_move(pos, i);
    make_move(pos, i = root_move(27, 46));
    EXPECT_EQ(pos.fifty[2], 1);
    EXPECT_EQ(pos.ply_state[1].ep, 0);
    unmake_move(pos, i);

    ASSERT_TRUE(test::set_fen("r3k2r/8/8/8/8/8/8/R3K2R b KQkq -"));
    make_move(pos, i = root_move(95, 93));
    EXPECT_EQ(pos.board[94], -ROOK);
    EXPECT_EQ(pos.board[91], EMPTY);
    EXPECT_EQ(std::memcmp(pos.ply_state[1].castle, "\1\1\0\0", 4), 0);
    unmake_move(pos, i);
    EXPECT_EQ(pos.board[91], -ROOK);
    EXPECT_EQ(pos.board[94], EMPTY);

    make_null_move(pos);
    EXPECT_EQ(pos.hash_history[2], pos.hash_history[1] ^ side_change_key());
    EXPECT_EQ(pos.side, WHITE);
    unmake_null_move(pos);
    EXPECT_EQ(pos.side, BLACK);
}

// Any move to or from a rook's corner ends that right: a rook captured there takes it
// along, and another rook that later stands there cannot castle. Both colours.
TEST_F(Moves, CastlingRightEndsWithTheRookCapturedOnItsCorner) {
    struct Case {
        std::string fen;
        std::vector<const char*> moves;
        int flag, king_from, king_to;
    } cases[] = {
        {"4k2r/7r/8/8/8/8/8/B3K3 w k -", {"a1h8", "h7h6", "h8a1", "h6h8", "e1d1"}, BLACK_KING_SIDE, 95, 97},
        {test::mirror_fen("4k2r/7r/8/8/8/8/8/B3K3 w k -"), {"a8h1", "h2h3", "h1a8", "h3h1", "e8d8"},
         WHITE_KING_SIDE, 25, 27},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(test::set_fen(c.fen));
        for (const char* m : c.moves) ASSERT_EQ(parse_coordinate_move(pos, m), 1) << m;
        EXPECT_EQ(pos.ply_state[0].castle[c.flag], 0) << c.fen;
        EXPECT_EQ(root_move(c.king_from, c.king_to), 0) << c.fen;
    }
}

// Eight promotions to one piece kind: ten rooks in one list, through make, unmake and perft.
TEST_F(Moves, TenPiecesOfOneCode) {
    ASSERT_TRUE(test::set_fen("k7/p1P5/1p6/8/8/8/RRRRRRRR/1R2K3 w - -"));
    const int i = root_move(83, 93, ROOK);
    ASSERT_NE(i, 0);
    make_move(pos, i);
    EXPECT_EQ(pos.piece_count(ROOK), 10);
    EXPECT_TRUE(position_consistent(pos));
    unmake_move(pos, i);
    EXPECT_EQ(pos.piece_count(ROOK), 9);
    ASSERT_EQ(parse_coordinate_move(pos, "c7c8r"), 1);
    EXPECT_EQ(perft(pos, 1).nodes, 1u);   // the rook on c8 checks: only Kb7
    perft(pos, 4);
    EXPECT_TRUE(position_consistent(pos));
}

// A game far longer than any real one (shuffling knights): every move is accepted, the
// positions keep their keys, and the game can be taken back to its start.
TEST_F(Moves, GameHistoryGrowsWithTheGame) {
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    const HashKey start = pos.hash_history[1];
    for (int n = 0; n < 30000; ++n) ASSERT_EQ(parse_coordinate_move(pos, shuffle[n % 4]), 1) << n;
    EXPECT_EQ(pos.game_ply, 30001);
    EXPECT_EQ(pos.hash_history[pos.game_ply], start);
    EXPECT_EQ(pos.side, WHITE);
    EXPECT_EQ(perft(pos, 3).nodes, 8902u);   // a search line above the game still has its room
    EXPECT_GE(game_history_size(pos), pos.game_ply + MAX_PLY);
    while (take_back(pos)) {}
    EXPECT_EQ(pos.game_ply, 1);
    EXPECT_EQ(pos.hash_history[1], start);
    EXPECT_EQ(compute_key(pos, pos.side), start);
}

// Long random games: every make/unmake pair restores board, lists and material, the
// incremental key always equals the key computed from scratch, and take-back undoes
// played moves exactly.
TEST_F(Moves, RandomGamesKeepStateConsistent) {
    std::mt19937 rng(12345);
    for (int played = 0; played < 40; ++played) {
        new_game(pos);
        std::vector<std::pair<std::vector<std::int8_t>, PlyState>> history;
        for (int n = 0; n < 200; ++n) {
            generate_root(pos);
            std::vector<int> legal;
            const int end = pos.move_count;
            for (int i = 1; i < end; ++i) {
                std::int8_t saved_board[120];
                std::memcpy(saved_board, pos.board, sizeof pos.board);
                const PlyState saved = pos.ply_state[0];
                make_move(pos, i);
                ASSERT_EQ(pos.hash_history[pos.game_ply], compute_key(pos, pos.side));
                ASSERT_TRUE(position_consistent(pos));
                if (!king_in_check(pos, -pos.side)) legal.push_back(i);
                unmake_move(pos, i);
                ASSERT_EQ(std::memcmp(saved_board, pos.board, sizeof pos.board), 0);
                ASSERT_TRUE(same_state(saved, pos.ply_state[0]));
            }
            if (legal.empty() || pos.fifty[pos.game_ply] >= 100) break;
            history.emplace_back(std::vector<std::int8_t>(pos.board, pos.board + 120), pos.ply_state[0]);
            play_move(pos, legal[rng() % legal.size()]);
            ASSERT_TRUE(position_consistent(pos));
        }
        // Take the whole game back move by move.
        while (!history.empty()) {
            ASSERT_TRUE(take_back(pos));
            ASSERT_EQ(std::vector<std::int8_t>(pos.board, pos.board + 120), history.back().first);
            ASSERT_TRUE(same_state(history.back().second, pos.ply_state[0]));
            history.pop_back();
        }
        EXPECT_FALSE(take_back(pos));
    }
}
