// Board geometry, FEN setup, keys and the board display.
#include <gtest/gtest.h>

#include "core/position.h"
#include "core/precalc.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

std::vector<int> targets(const std::int8_t* list) { return {list + 1, list + 1 + list[0]}; }

class Position : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
};

}  // namespace

TEST(Precalc, TargetListsRaysAndDistances) {
    test::use_varkon();
    EXPECT_EQ(targets(&knight_moves[21 * 9]), (std::vector<int>{42, 33}));
    EXPECT_EQ(targets(&knight_moves[54 * 9]), (std::vector<int>{73, 75, 66, 46, 35, 33, 42, 62}));
    EXPECT_EQ(targets(&king_moves[21 * 9]), (std::vector<int>{32, 31, 22}));
    EXPECT_EQ(targets(&king_moves[55 * 9]), (std::vector<int>{46, 44, 64, 66, 54, 65, 56, 45}));
    EXPECT_EQ(distance[21 * 99 + 98], 7);
    EXPECT_EQ(distance[21 * 99 + 28], 0);
    EXPECT_EQ(distance[21 * 99 + 42], 1);
    EXPECT_EQ(bishop_reach[21 * 99 + 98], 1);
    EXPECT_EQ(rook_reach[21 * 99 + 32], 0);
    EXPECT_EQ(king_reach[21 * 99 + 21], 0);
    EXPECT_EQ(sq64[21], 0);
    EXPECT_EQ(sq64[98], 63);
    EXPECT_STREQ(square_name[30], "--");
    EXPECT_STREQ(square_name[98], "h8");
}

TEST_F(Position, NewGameState) {
    const PlyState& s = ply_state[0];
    EXPECT_EQ(targets(s.piece_lists.sq[7]), (std::vector<int>{31, 32, 33, 34, 35, 36, 37, 38}));
    EXPECT_EQ(targets(s.piece_lists.sq[12]), (std::vector<int>{25}));
    EXPECT_EQ(s.pieces, 16);
    EXPECT_EQ(s.pawns, 16);
    EXPECT_EQ(s.mat_value, 7990);
    EXPECT_EQ(s.mat_white, 3995);
    EXPECT_EQ(game_ply, 1);
    EXPECT_EQ(fen_loaded, 0);
    EXPECT_TRUE(position_consistent());
}

TEST_F(Position, StartFenMatchesNewGame) {
    const HashKey key = hash_history[1];
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
    EXPECT_EQ(hash_history[1], key);
    EXPECT_EQ(fen_loaded, 1);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(ply_state[0].castle[f], 1);
    EXPECT_TRUE(position_consistent());
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b Kq -"));
    EXPECT_EQ(hash_history[1], key ^ key_table[0][15] ^ key_table[0][13]);
    EXPECT_EQ(ply_state[0].castle[WHITE_KING_SIDE], 1);
    EXPECT_EQ(ply_state[0].castle[WHITE_QUEEN_SIDE], 0);
    EXPECT_EQ(ply_state[0].castle[BLACK_KING_SIDE], 0);
    EXPECT_EQ(ply_state[0].castle[BLACK_QUEEN_SIDE], 1);
    // Castling rights are not part of the key.
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b - -"));
    EXPECT_EQ(hash_history[1], key ^ key_table[0][15] ^ key_table[0][13]);
}

TEST_F(Position, EnPassantFieldNeedsThePawnThatPassed) {
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"));
    EXPECT_EQ(ply_state[0].ep, 45);
    ASSERT_TRUE(test::set_fen("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6"));
    EXPECT_EQ(ply_state[0].ep, 74);
    // No pawn behind the named square: the field is ignored rather than trusted.
    ASSERT_TRUE(test::set_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq d6"));
    EXPECT_EQ(ply_state[0].ep, 0);
}

TEST_F(Position, MalformedPlacementsLeaveThePlayableStartPosition) {
    const HashKey start = hash_history[1];
    const char* bad[] = {
        "8/8/8/8/8/8/8/7 w - -",                          // rank 1 one square short
        "ppppppppp/8/8/8/8/8/8/K6k w - -",                // a rank of nine squares
        "7k/8/8/8/8/8/8/6K2 w - -",                       // digit beyond the rank
        "k7/8/8/8/8/8/8/8 w - -",                          // no white king
        "k7/8/8/8/8/8/8/KK6 w - -",                        // two white kings
        "k7/8/8/8/8/8/QQQQQQQQ/QQK5 w - -",                // ten queens
        "k7/pppppppp/8/8/8/8/PPPPPPPP/QQQQQQQK w - -",     // more pieces than promotions allow
        "rnbqkbnr/pppxpppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - -",    // foreign letter
        "",                                                // nothing at all
        "\x01\xff\x80garbage w - -",
    };
    for (const char* fen : bad) {
        ply_state[0].castle[0] = 0;
        static std::string current;
        current = fen;
        EXPECT_EQ(test::capture_stdout([] { test::set_fen(current); }), "fen error\n\n") << fen;
        EXPECT_EQ(hash_history[1], start) << fen;
        EXPECT_EQ(ply_state[0].castle[0], 1) << fen;
        EXPECT_EQ(side, WHITE);
        EXPECT_TRUE(position_consistent()) << fen;
    }
}

TEST_F(Position, MissingFieldsAndOddButPlayablePositions) {
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/8/8/4K3"));   // placement only
    EXPECT_EQ(side, WHITE);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(ply_state[0].castle[f], 0);
    ASSERT_TRUE(test::set_fen("P3k3/8/8/8/8/8/8/p3K3 b - -"));  // pawns on the back ranks
    EXPECT_EQ(side, BLACK);
    EXPECT_TRUE(position_consistent());
    ASSERT_TRUE(test::set_fen("8/6kR/8/8/8/bq6/1rqqqqqq/K1nqnbrq b - -"));  // nine queens
    EXPECT_EQ(piece_count(-QUEEN), 9);
}

TEST_F(Position, BoardDisplay) {
    std::string out = test::capture_stdout([] { show_board(stdout, BoardDisplay{false, 0, 7990, true, 0}); });
    EXPECT_NE(out.find("8 |-r |-n |-b |-q |-k |-b |-n |-r |\t1. white\n"), std::string::npos) << out;
    EXPECT_NE(out.find("|\tcastle = KkQq , ep = \n"), std::string::npos);
    EXPECT_NE(out.find("|\tpieces        = 16\n"), std::string::npos);
    EXPECT_NE(out.find("|\tpawns         = 16\n"), std::string::npos);
    EXPECT_NE(out.find("4 |   |   |   |   |   |   |   |   |\t\n"), std::string::npos);
    EXPECT_NE(out.find("|\tmat_value     = 7990\n"), std::string::npos);
    EXPECT_NE(out.find("|\t50 moves rule = 0\n"), std::string::npos);
    EXPECT_NE(out.find("1 | r | n | b | q | k | b | n | r |\tpos_value     = 0\n"), std::string::npos);
    const std::string tail = "\n  +---+---+---+---+---+---+---+---+ \n    a   b   c   d   e   f   g   h\n\n";
    EXPECT_EQ(out.rfind(tail), out.size() - tail.size());
    EXPECT_EQ(out.substr(0, 38), "\n  +---+---+---+---+---+---+---+---+ \n");
}
