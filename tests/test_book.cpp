// The book lookup against small book files written here, and the shipped book.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <algorithm>
#include <functional>
#include <vector>

#include "book/book.h"
#include "core/input.h"
#include "core/moves.h"
#include "core/output.h"
#include "support/book_files.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

BookMove probed;
std::uint32_t probe_low, probe_high;
void run_probe() { probed = book_probe(probe_low, probe_high); }

std::uint32_t low_of(HashKey k) { return static_cast<std::uint32_t>(k); }
std::uint32_t high_of(HashKey k) { return static_cast<std::uint32_t>(k >> 32); }

class Book : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        start = hash_history[game_ply];
        other = start ^ 0x9e3779b97f4a7c15ULL;
        dir = test::make_temp_dir();
        path = dir + "/book.dat";
        book_name = path;
        book_style = 1;
        std::srand(7);
    }
    void TearDown() override {
        book_name = "book.dat";
        test::remove_tree(dir);
    }
    BookRecord rec(HashKey key, const char* move, int weight) {
        return {low_of(key), high_of(key), weight, static_cast<std::uint8_t>(parse_square(move)),
                static_cast<std::uint8_t>(parse_square(move + 2))};
    }
    // Probes the start position; returns what was printed.
    std::string probe(HashKey key) {
        probe_low = low_of(key);
        probe_high = high_of(key);
        return test::capture_stdout(run_probe);
    }
    std::string chosen() const { return probed.from ? std::string(square_name[probed.from]) + square_name[probed.to] : "-"; }

    HashKey start = 0, other = 0;
    std::string dir, path;
};

}  // namespace

TEST_F(Book, OneMoveIsChosenInEveryStyle) {
    test::write_book(path, {rec(other, "d2d4", 9), rec(start, "e2e4", 312), rec(other, "c2c4", 4)});
    for (int style : {1, 2, 3})
        for (int i = 0; i < 20; ++i) {
            book_style = style;
            EXPECT_EQ(probe(start), "1. e2e4  312\n");
            EXPECT_EQ(chosen(), "e2e4") << style;
        }
    EXPECT_EQ(book_entries, 3);
    last_bookmove_number = 7;
    new_game();  // the counters belong to the game
    EXPECT_EQ(book_entries, 0);
    EXPECT_EQ(last_bookmove_number, 0);
}

TEST_F(Book, RankingByWeightFirstInFileFirst) {
    // Equal weights keep file order; among the heaviest the first in the file wins.
    test::write_book(path, {rec(start, "d2d4", 3), rec(start, "e2e4", 3), rec(start, "g1f3", 3)});
    EXPECT_EQ(probe(start), "1. d2d4  3\n2. e2e4  3\n3. g1f3  3\n");
    EXPECT_EQ(chosen(), "d2d4");
    test::write_book(path, {rec(start, "c2c4", 1), rec(start, "d2d4", 7), rec(start, "e2e4", 7)});
    EXPECT_EQ(probe(start), "1. d2d4  7\n2. e2e4  7\n3. c2c4  1\n");
    EXPECT_EQ(chosen(), "d2d4");
    // Weights lowered by learning rank below every positive one and stay candidates.
    test::write_book(path, {rec(start, "a2a3", -5), rec(start, "b2b3", 0), rec(start, "c2c3", 3),
                            rec(start, "d2d3", -1)});
    EXPECT_EQ(probe(start), "1. c2c3  3\n2. b2b3  0\n3. d2d3  -1\n4. a2a3  -5\n");
    EXPECT_EQ(chosen(), "c2c3");
}

TEST_F(Book, OnlyTheFirst21RecordsOfAPositionCount) {
    static const char* moves[] = {"a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4", "d2d3", "d2d4", "e2e3",
                                  "e2e4", "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4", "b1a3", "b1c3",
                                  "g1f3", "g1h3", "e2e4", "d2d4", "c2c4", "g1f3", "f2f4"};
    std::vector<BookRecord> recs;
    for (int i = 0; i < 25; ++i) recs.push_back(rec(start, moves[i], i + 1));  // the later, the heavier
    test::write_book(path, recs);
    const std::string out = probe(start);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 21);
    EXPECT_EQ(out.substr(0, 24), "1. e2e4  21\n2. g1h3  20\n");
    EXPECT_NE(out.find("\n21. a2a3  1\n"), std::string::npos);
    EXPECT_EQ(out.find("  22\n"), std::string::npos);
    EXPECT_EQ(book_entries, 25);
}

TEST_F(Book, NormalAndRiskyDraw) {
    test::write_book(path, {rec(start, "c2c4", 2), rec(start, "e2e4", 9), rec(start, "d2d4", 5)});
    std::set<std::string> normal, risky;
    for (int i = 0; i < 200; ++i) {
        book_style = 2;
        probe(start);
        normal.insert(chosen());
        book_style = 3;
        probe(start);
        risky.insert(chosen());
    }
    EXPECT_EQ(normal, (std::set<std::string>{"e2e4", "d2d4"}));
    EXPECT_EQ(risky, (std::set<std::string>{"e2e4", "d2d4", "c2c4"}));
    // Any other style: the list is printed, no move is chosen.
    for (int style : {0, 4, -1}) {
        book_style = style;
        EXPECT_EQ(probe(start), "1. e2e4  9\n2. d2d4  5\n3. c2c4  2\n");
        EXPECT_EQ(probed.from, 0);
    }
}

TEST_F(Book, BadFilesNeverCrash) {
    book_name = dir + "/missing.dat";
    EXPECT_EQ(probe(start), "can't open book file!\n");
    EXPECT_EQ(probed.from, 0);
    EXPECT_EQ(probe(start), "can't open book file!\n");  // every probe tries again

    test::write_bytes(path, "");
    book_name = path;
    EXPECT_EQ(probe(start), "");
    EXPECT_EQ(probed.from, 0);
    EXPECT_EQ(book_entries, 0);

    // A last record cut short is ignored, even when its key matches.
    std::string bytes = test::book_bytes({rec(other, "d2d4", 1), rec(start, "g1f3", 4)});
    bytes += test::book_bytes({rec(start, "e2e4", 99)}).substr(0, 13);
    test::write_bytes(path, bytes);
    EXPECT_EQ(probe(start), "1. g1f3  4\n");
    EXPECT_EQ(book_entries, 2);

    // Squares off the board are damage: never printed through the square names, never chosen.
    BookRecord bad = rec(start, "e2e4", 50);
    bad.from = 255;
    BookRecord border = rec(start, "e2e4", 40);
    border.to = 30;
    test::write_book(path, {bad, border, rec(start, "b1c3", 1)});
    EXPECT_EQ(probe(start), "1. b1c3  1\n");
    EXPECT_EQ(chosen(), "b1c3");

    // Random bytes: no key of ours, whatever the length.
    std::string garbage;
    std::srand(3);
    for (int i = 0; i < 100003; ++i) garbage.push_back(static_cast<char>(std::rand()));
    test::write_bytes(path, garbage);
    EXPECT_EQ(probe(start), "");
    EXPECT_EQ(book_entries, 100003 / 16);
}

TEST_F(Book, RecordLayoutIsLittleEndian) {
    unsigned char b[16];
    encode_book_record({0x04030201u, 0x08070605u, -2, 21, 98}, b);
    const unsigned char expected[16] = {1, 2, 3, 4, 5, 6, 7, 8, 0xfe, 0xff, 0xff, 0xff, 21, 98, 0, 0};
    EXPECT_EQ(std::memcmp(b, expected, 16), 0);
    EXPECT_EQ(test::book_bytes({decode_book_record(b)}), std::string(reinterpret_cast<char*>(b), 16));
}

TEST_F(Book, RelativeNameFallsBackBesideTheProgram) {
    char exe[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    std::string beside(exe);
    beside = beside.substr(0, beside.rfind('/') + 1);
    const std::string name = "test_book_" + std::to_string(getpid()) + ".dat";
    test::write_book(beside + name, {rec(start, "e2e4", 5)});
    char cwd[PATH_MAX + 1];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    book_name = name;
    EXPECT_EQ(probe(start), "1. e2e4  5\n");
    EXPECT_EQ(std::string(book_file_path(name)), beside + name);
    // A book of that name in the working directory comes first.
    test::write_book(dir + "/" + name, {rec(start, "d2d4", 6)});
    EXPECT_EQ(probe(start), "1. d2d4  6\n");
    EXPECT_EQ(std::string(book_file_path(name)), name);
    // Absolute names are taken as they are.
    EXPECT_EQ(std::string(book_file_path(dir + "/none.dat")), dir + "/none.dat");
    ASSERT_EQ(chdir(cwd), 0);
    std::remove((beside + name).c_str());
}

// The book built with the engine: every record is a legal move of a position reached from
// the start position along the book's own moves, so it matches the engine's keys.
TEST_F(Book, ShippedBookMatchesTheEngine) {
    const std::vector<BookRecord> all = test::read_book(SHIPPED_BOOK);
    ASSERT_GT(all.size(), 3000u);
    std::multimap<HashKey, BookRecord> by_key;
    for (const BookRecord& r : all) {
        EXPECT_GE(r.weight, SHIPPED_BOOK_MIN_PLAYED);
        by_key.insert({static_cast<HashKey>(r.key_high) << 32 | r.key_low, r});
    }
    std::set<HashKey> seen;
    std::size_t reached = 0;
    std::function<void()> walk = [&] {
        if (!seen.insert(hash_history[game_ply]).second) return;
        const auto range = by_key.equal_range(hash_history[game_ply]);
        for (auto it = range.first; it != range.second; ++it, ++reached) {
            const std::string move = std::string(square_name[it->second.from]) + square_name[it->second.to];
            ASSERT_TRUE(parse_coordinate_move(move.c_str()) || parse_coordinate_move((move + "q").c_str())) << move;
            walk();
            take_back();
        }
    };
    new_game();
    walk();
    EXPECT_EQ(reached, all.size());

    // The main lines lead: 1.d4 and 1.e4 from the start, 1...e5 and 1...c5 after 1.e4; and
    // the most played moves make the main line of the King's Indian.
    book_name = SHIPPED_BOOK;
    new_game();
    const std::string first = probe(hash_history[game_ply]);
    EXPECT_EQ(first.substr(0, first.find("\n3.")), "1. d2d4  4941\n2. e2e4  4434");
    ASSERT_EQ(parse_coordinate_move("e2e4"), 1);
    const std::string reply = probe(hash_history[game_ply]);
    EXPECT_EQ(reply.substr(0, reply.find("\n3.")), "1. e7e5  1673\n2. c7c5  1555");
    new_game();
    std::string line;
    for (int i = 0; i < 12; ++i) {
        probe(hash_history[game_ply]);
        line += chosen() + " ";
        ASSERT_EQ(parse_coordinate_move(chosen().c_str()), 1) << line;
    }
    EXPECT_EQ(line, "d2d4 g8f6 c2c4 g7g6 b1c3 f8g7 e2e4 d7d6 g1f3 e8g8 f1e2 e7e5 ");
}
