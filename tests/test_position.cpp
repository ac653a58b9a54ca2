// FEN and edit-mode setup: what is accepted, what is refused, castling rights and keys.
#include <gtest/gtest.h>

#include "core/position.h"
#include "frontend/game.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

std::vector<int> squares(int code) {
    const std::int8_t* list = game().ply_state[0].piece_lists.sq[code + 6];
    return {list + 1, list + 1 + list[0]};
}

std::string castling_flags() {
    std::string f;
    for (int i = 0; i < 4; ++i) f += game().ply_state[0].castle[i] ? "KQkq"[i] : '-';
    return f;
}

// Tokens of a WinBoard edit, fed to edit_board.
std::vector<std::string> edit_tokens;
std::size_t edit_next = 0;
const char* next_edit_token() { return edit_next < edit_tokens.size() ? edit_tokens[edit_next++].c_str() : nullptr; }
bool edit(const std::vector<std::string>& tokens) {
    edit_tokens = tokens;
    edit_next = 0;
    return edit_game(next_edit_token);
}

class PositionSetUp : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
    Position& pos = game();
};

}  // namespace

TEST_F(PositionSetUp, StartPositionFromNewGameAndFromFen) {
    EXPECT_EQ(squares(PAWN), (std::vector<int>{31, 32, 33, 34, 35, 36, 37, 38}));   // the order generation follows
    const HashKey key = pos.hash_history[1];
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
    EXPECT_EQ(pos.hash_history[1], key);
    EXPECT_EQ(castling_flags(), "KQkq");
    EXPECT_EQ(pos.fen_loaded, 1);
    // Side to move is in the key, castling rights are not.
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b Kq -"));
    EXPECT_EQ(castling_flags(), "K--q");
    EXPECT_EQ(pos.hash_history[1], key ^ side_change_key());
}

TEST_F(PositionSetUp, EnPassantFieldNeedsThePawnThatPassed) {
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"));
    EXPECT_EQ(pos.ply_state[0].ep, 45);
    ASSERT_TRUE(test::set_fen("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6"));
    EXPECT_EQ(pos.ply_state[0].ep, 74);
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq d6"));
    EXPECT_EQ(pos.ply_state[0].ep, 0);
}

// A refused FEN prints the error and leaves the start position, whole and playable.
TEST_F(PositionSetUp, RefusedPositionsLeaveTheStartPosition) {
    const HashKey start = pos.hash_history[1];
    const char* bad[] = {
        "8/8/8/8/8/8/8/7 w - -",                          // rank 1 one square short
        "ppppppppp/8/8/8/8/8/8/K6k w - -",                // a rank of nine squares
        "7k/8/8/8/8/8/8/6K2 w - -",                       // digit beyond the rank
        "k7/8/8/8/8/8/8/8 w - -",                          // no white king
        "k7/8/8/8/8/8/8/KK6 w - -",                        // two white kings
        "k7/8/8/8/8/8/QQQQQQQQ/QQK5 w - -",                // ten queens
        "k7/8/8/8/8/8/RRRRRRRR/RRRK4 w - -",               // eleven rooks
        "k7/pppppppp/8/8/8/8/PPPPPPPP/QQQQQQQK w - -",     // more pieces than promotions allow
        "4k3/PPPPPPPP/8/8/8/8/8/4K3 w - -",                // Black, not to move, is in check
        "4k3/8/8/8/8/8/8/r3K3 b - -",                      // White, not to move, is in check
        "rnbqkbnr/pppxpppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - -",
        "",
        "\x01\xff\x80garbage w - -",
    };
    for (const char* fen : bad) {
        pos.ply_state[0].castle[0] = 0;
        EXPECT_FALSE(test::set_fen(fen)) << fen;
        EXPECT_EQ(pos.hash_history[1], start) << fen;
        EXPECT_EQ(pos.ply_state[0].castle[0], 1) << fen;
        EXPECT_EQ(pos.side, WHITE);
        EXPECT_TRUE(position_consistent(pos)) << fen;
    }
}

TEST_F(PositionSetUp, OddButReachablePositions) {
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/8/8/4K3"));   // placement only: White, no rights
    EXPECT_EQ(pos.side, WHITE);
    EXPECT_EQ(castling_flags(), "----");
    ASSERT_TRUE(test::set_fen("P3k3/8/8/8/8/8/8/p3K3 b - -"));  // pawns on the back ranks
    EXPECT_TRUE(position_consistent(pos));
    // Nine queens, ten rooks, ten knights: what eight promotions can make.
    ASSERT_TRUE(test::set_fen("8/6kR/8/8/8/bq6/1rqqqqqq/K1nqnbrq b - -"));
    EXPECT_EQ(pos.piece_count(-QUEEN), 9);
    ASSERT_TRUE(test::set_fen("k7/8/8/8/8/8/RRRRRRRR/RR2K3 b - -"));
    EXPECT_EQ(squares(ROOK).size(), 10u);
    ASSERT_TRUE(test::set_fen("k7/8/8/8/8/8/NNNNNNNN/NN2K3 b - -"));
    EXPECT_EQ(pos.piece_count(KNIGHT), 10);
    EXPECT_TRUE(position_consistent(pos));
}

// A castling flag stands only while its king and its rook are on their squares.
TEST_F(PositionSetUp, CastlingFlagsFollowKingAndRooks) {
    ASSERT_TRUE(test::set_fen("r3k3/8/8/8/8/8/8/4K2R w KQkq -"));
    EXPECT_EQ(castling_flags(), "K--q");
    ASSERT_TRUE(test::set_fen("r3k2r/8/8/8/8/8/8/R2K3R w KQkq -"));  // white king off e1
    EXPECT_EQ(castling_flags(), "--kq");
    ASSERT_TRUE(test::set_fen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"));
    EXPECT_EQ(castling_flags(), "KQkq");
    // Edit mode starts from the start position's four rights.
    ASSERT_TRUE(edit({"#", "Ke1", "Rh1", "Ra2", "c", "Ke8", "Ra8", "."}));
    EXPECT_EQ(castling_flags(), "K--q");
    EXPECT_TRUE(position_consistent(pos));
}

TEST_F(PositionSetUp, EditBoard) {
    ASSERT_TRUE(edit({"#", "Ke1", "Pe4", "xe4", "Qd1", "c", "Kh8", "Pa7", "Zz9", "."}));
    EXPECT_EQ(pos.board[25], KING);
    EXPECT_EQ(pos.board[55], EMPTY);
    EXPECT_EQ(pos.board[24], QUEEN);
    EXPECT_EQ(pos.board[98], -KING);
    EXPECT_EQ(pos.board[81], -PAWN);
    EXPECT_EQ(pos.fen_loaded, 1);
    EXPECT_TRUE(position_consistent(pos));
    // White to move (as new_game left it) while the black king stands in check: refused.
    start_game();
    const HashKey start = pos.hash_history[1];
    EXPECT_FALSE(edit({"#", "Ke1", "Qe4", "c", "Ke8", "."}));
    EXPECT_EQ(pos.hash_history[1], start);
    EXPECT_FALSE(edit({"#", "Ke1", "."}));   // no black king
    EXPECT_TRUE(position_consistent(pos));
}
