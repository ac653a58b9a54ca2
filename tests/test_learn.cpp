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

struct Entry {
    HashKey key;
    const char* move;
    std::int32_t weight;
};

void write_book(const std::string& path, const std::vector<Entry>& entries) {
    std::ofstream out(path, std::ios::binary);
    for (const Entry& e : entries) {
        BookRecord r{static_cast<std::uint32_t>(e.key), static_cast<std::uint32_t>(e.key >> 32), e.weight,
                     static_cast<std::uint8_t>(parse_square(e.move)), static_cast<std::uint8_t>(parse_square(e.move + 2))};
        unsigned char bytes[BOOK_RECORD_SIZE] = {};
        encode_book_record(r, bytes);
        out.write(reinterpret_cast<const char*>(bytes), BOOK_RECORD_SIZE);
    }
}

std::vector<std::int32_t> weights(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::int32_t> w;
    unsigned char bytes[BOOK_RECORD_SIZE];
    while (in.read(reinterpret_cast<char*>(bytes), BOOK_RECORD_SIZE)) w.push_back(decode_book_record(bytes).weight);
    return w;
}

const char* learn_result = "";
Side learn_colour = 0;

}  // namespace

TEST(Learn, TheEnginesMovesUpToItsLastBookMoveLearnByItsColour) {
    test::use_classic();
    const test::WorkDir dir;
    // 1. e4 e5 2. Nf3 Nc6, each position's key noted before its move.
    HashKey key[5];
    const char* moves[] = {"e2e4", "e7e5", "g1f3", "b8c6"};
    for (int g = 1; g <= 4; ++g) {
        key[g] = hash_history[game_ply];
        ASSERT_EQ(game_ply, g);
        ASSERT_TRUE(parse_coordinate_move(moves[g - 1]));
    }
    book_name = dir.file("learn.dat");
    const std::vector<Entry> book = {{key[1], "d2d4", 10}, {key[1], "e2e4", 40}, {key[2], "e7e5", 200},
                                     {key[3], "g1f3", 200}, {key[4], "b8c6", 3}};
    auto learn = [](const char* result, Side colour, int last_book_move) {
        learn_result = result;
        learn_colour = colour;
        last_bookmove_number = last_book_move;
        return test::capture_stdout([] { learn_from_result(learn_result, learn_colour); });
    };

    // White won with book moves up to its second move: both of its moves rise, nothing else.
    write_book(book_name, book);
    EXPECT_NE(learn(" 1-0 {White mates}", WHITE, 3).find("updating bookfile..."), std::string::npos);
    EXPECT_EQ(weights(book_name), (std::vector<std::int32_t>{10, 45, 200, 220, 3}));
    // Black lost: its two moves fall; a book move limit of 2 stops after the first.
    write_book(book_name, book);
    learn(" 1-0", BLACK, 4);
    EXPECT_EQ(weights(book_name), (std::vector<std::int32_t>{10, 40, 180, 200, -2}));
    write_book(book_name, book);
    learn("1/2-1/2", BLACK, 2);
    EXPECT_EQ(weights(book_name), (std::vector<std::int32_t>{10, 40, 190, 200, 3}));
    // No colour (the engine played no side) or no result: the book stays as it was.
    write_book(book_name, book);
    learn("1-0", 0, 4);
    learn("*", WHITE, 4);
    EXPECT_EQ(weights(book_name), (std::vector<std::int32_t>{10, 40, 200, 200, 3}));
    book_name = "book.dat";
}
