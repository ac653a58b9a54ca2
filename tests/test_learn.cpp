// Book learning as the WinBoard "result" command starts it: the game's keys and moves
// reach the book by the engine's colour.
#include <gtest/gtest.h>

#include <fstream>

#include "book/book.h"
#include "core/input.h"
#include "frontend/learn.h"
#include "support/engine_setup.h"
#include "support/workdir.h"

using namespace varkon;

namespace {

const char* learn_result = "";
Side learn_colour = 0;

std::vector<std::int32_t> weights(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::int32_t> w;
    unsigned char bytes[BOOK_RECORD_SIZE];
    while (in.read(reinterpret_cast<char*>(bytes), BOOK_RECORD_SIZE)) w.push_back(decode_book_record(bytes).weight);
    return w;
}

}  // namespace

TEST(Learn, TheEnginesMovesUpToItsLastBookMoveLearnByItsColour) {
    test::use_classic();
    const test::WorkDir dir;
    // 1. e4 e5 2. Nf3 Nc6: a record for each move (weights 40, 200, 200, 3) and one for
    // 1. d4 (10), which was not played.
    const char* moves[] = {"d2d4", "e2e4", "e7e5", "g1f3", "b8c6"};
    const std::int32_t start_weights[] = {10, 40, 200, 200, 3};
    std::string book;
    for (int i = 0; i < 5; ++i) {
        const HashKey key = hash_history[game_ply];
        unsigned char bytes[BOOK_RECORD_SIZE] = {};
        encode_book_record({static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32), start_weights[i],
                            static_cast<std::uint8_t>(parse_square(moves[i])), static_cast<std::uint8_t>(parse_square(moves[i] + 2))},
                           bytes);
        book.append(reinterpret_cast<const char*>(bytes), BOOK_RECORD_SIZE);
        if (i > 0) {
            ASSERT_TRUE(parse_coordinate_move(moves[i]));
        }
    }
    book_name = dir.file("learn.dat");
    auto learn = [&](const char* result, Side colour, int last_book_move) {
        dir.write("learn.dat", book);
        learn_result = result;
        learn_colour = colour;
        last_bookmove_number = last_book_move;
        test::capture_stdout([] { learn_from_result(learn_result, learn_colour); });
        return weights(book_name);
    };
    using W = std::vector<std::int32_t>;
    // White won with book moves up to its second move: both its moves rise, nothing else.
    EXPECT_EQ(learn(" 1-0 {White mates}", WHITE, 3), (W{10, 45, 200, 220, 3}));
    // Black lost: its moves fall; with its last book move at game_ply 2, only the first.
    EXPECT_EQ(learn(" 1-0", BLACK, 4), (W{10, 40, 180, 200, -2}));
    EXPECT_EQ(learn("1/2-1/2", BLACK, 2), (W{10, 40, 190, 200, 3}));
    // The engine played no side, or there is no result: the book stays as it was.
    EXPECT_EQ(learn("1-0", 0, 4), (W{10, 40, 200, 200, 3}));
    EXPECT_EQ(learn("*", WHITE, 4), (W{10, 40, 200, 200, 3}));
    book_name = "book.dat";
}
