// Reading and writing moves in coordinate notation and SAN.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>

#include "core/attacks.h"
#include "core/moves.h"
#include "core/notation.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

class Notation : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
    Position& pos = game();
};

// SAN of the move from -> to in the current (game) position.
std::string san_of(const char* coordinate) {
    Position& pos = game();
    int i = find_coordinate_move(pos, coordinate);
    return i ? san_text(pos, i).s : "?";
}

std::string played_san(const char* san) {
    Position& pos = game();
    int i = find_san_move(pos, san);
    return i ? move_to_text(pos.move_stack[i]).s : "-";
}

}  // namespace

TEST_F(Notation, CoordinateMoves) {
    EXPECT_EQ(parse_square("e4"), 55);
    for (const char* bad : {"i4", "e9", "e", ""}) EXPECT_EQ(parse_square(bad), 0) << bad;
    EXPECT_EQ(parse_coordinate_move(pos, "e2e5"), 0);
    EXPECT_EQ(pos.game_ply, 1);
    EXPECT_EQ(parse_coordinate_move(pos, "e2e4"), 1);
    EXPECT_EQ(pos.side, BLACK);
    EXPECT_EQ(pos.ply_state[0].ep, 45);
    EXPECT_EQ(pos.game_ply, 2);
    for (const char* junk : {"", "e", "e7", "e7e", "e7e5qq", "e7e5q", "\xff\xfe", "0000", "e7e6q"})
        EXPECT_EQ(parse_coordinate_move(pos, junk), 0) << junk;
    EXPECT_EQ(pos.game_ply, 2);
    ASSERT_TRUE(test::set_fen("4k3/P7/8/8/8/8/8/4K3 w - -"));
    EXPECT_EQ(parse_coordinate_move(pos, "a7a8"), 0);  // a promotion needs its letter
    EXPECT_EQ(parse_coordinate_move(pos, "a7a8N"), 1);
    EXPECT_EQ(pos.board[91], KNIGHT);
    // In check, castling is refused.
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/8/4r3/R3K2R w KQ -"));
    EXPECT_EQ(parse_coordinate_move(pos, "e1g1"), 0);
}

TEST_F(Notation, SanParsing) {
    EXPECT_EQ(played_san("Nf3"), "g1f3");
    EXPECT_EQ(played_san("e2e4"), "e2e4");  // long algebraic: the second square is the target
    EXPECT_EQ(played_san("Pe4"), "e2e4");
    EXPECT_EQ(played_san("Ke2"), "-");
    ASSERT_TRUE(test::set_fen("r3k3/8/8/R7/8/8/5N2/R3K2R w KQq -"));
    EXPECT_EQ(played_san("R1a3"), "a1a3");
    EXPECT_EQ(played_san("R5a3"), "a5a3");
    EXPECT_EQ(played_san("O-O+"), "e1g1");
    EXPECT_EQ(played_san("0-0-0"), "e1c1");
    EXPECT_EQ(played_san("O-O-O-O"), "-");
    ASSERT_TRUE(test::set_fen("7k/3P4/8/3p4/4P3/8/1N6/4K1N1 w - -"));
    EXPECT_EQ(played_san("exd5"), "e4d5");
    EXPECT_EQ(played_san("Nd3"), "b2d3");
    EXPECT_EQ(played_san("d8=Q"), "d7d8q");
    EXPECT_EQ(played_san("d8=N+"), "d7d8n");
    EXPECT_EQ(played_san("d8"), "-");
    EXPECT_EQ(played_san("Nbd3"), "b2d3");
    EXPECT_EQ(played_san("Ngd3"), "-");
    EXPECT_EQ(played_san("Qxx9=+#"), "-");
    EXPECT_EQ(played_san("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), "-");
}

TEST_F(Notation, SanText) {
    EXPECT_EQ(san_of("g1f3"), "Nf3");
    ASSERT_TRUE(test::set_fen("4k3/8/8/R3pP2/8/8/8/R3K1N1 w - e6"));
    EXPECT_EQ(san_of("f5e6"), "fxe6");
    EXPECT_EQ(san_of("a1a3"), "R1a3");
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/5N2/8/1N2K3 w - -"));
    EXPECT_EQ(san_of("b1d2"), "Nbd2");
    ASSERT_TRUE(test::set_fen("4k3/1P6/8/8/8/8/8/R3K3 w Q -"));
    EXPECT_EQ(san_of("b7b8q"), "b8=q");
    EXPECT_EQ(san_of("e1c1"), "O-O-O");
    EXPECT_EQ(san_of("a1a8"), "Ra8");  // mate, but no sign
}

// Every legal move of positions along real games survives text -> move in both notations.
TEST_F(Notation, RoundTripOverManyPositions) {
    std::ifstream in(std::string(TEST_DATA_DIR) + "/tricky.perft");
    std::vector<std::string> fens = {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"};
    for (std::string line; std::getline(in, line);)
        if (line.rfind("epd ", 0) == 0) fens.push_back(line.substr(4));
    int checked = 0;
    for (const auto& fen : fens) {
        ASSERT_TRUE(test::set_fen(fen)) << fen;
        for (int step = 0; step < 30; ++step) {
            generate_root(pos);
            std::vector<Move> legal;
            std::vector<std::string> sans;
            for (int i = 1; i < pos.move_count; ++i)
                if (pos.ply_state[0].in_check || !leaves_king_attacked(pos, pos.move_stack[i].from, pos.move_stack[i].to, pos.move_stack[i].ep_square)) {
                    legal.push_back(pos.move_stack[i]);
                    sans.push_back(san_text(pos, i).s);
                }
            if (legal.empty()) break;
            for (std::size_t k = 0; k < legal.size(); ++k) {
                const std::string coordinate = move_to_text(legal[k]).s;
                int i = find_coordinate_move(pos, coordinate.c_str());
                ASSERT_NE(i, 0) << fen << " " << coordinate;
                EXPECT_EQ(std::memcmp(&pos.move_stack[i], &legal[k], 7), 0);
                i = find_san_move(pos, sans[k].c_str());
                ASSERT_NE(i, 0) << fen << " " << sans[k];
                EXPECT_EQ(move_to_text(pos.move_stack[i]).s, coordinate) << fen << " " << sans[k];
                ++checked;
            }
            // Walk on with a deterministic choice.
            ASSERT_EQ(parse_coordinate_move(pos, move_to_text(legal[(step * 7) % legal.size()]).s), 1);
        }
    }
    EXPECT_GT(checked, 3000);
}

// Every move of 900 real games (promotions, castling, disambiguation) is read.
TEST_F(Notation, ReadsEveryMoveOfRealGames) {
    int unread = 0;
    EXPECT_GT(test::pgn_positions(TEST_DATA_DIR "/selfplay-games.pgn", SIZE_MAX, &unread).size(), 100000u);
    EXPECT_EQ(unread, 0);
}
