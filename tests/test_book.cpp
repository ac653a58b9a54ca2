// The opening book: the lookup against small book files written here and the shipped book;
// the builder's books read back record by record, its temporary files, PGN as it is found
// in the wild, and the console dialogue of both programs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "apps/programs.h"
#include "book/book.h"
#include "core/input.h"
#include "core/moves.h"
#include "frontend/interupt.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

std::string read_bytes(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}
void write_bytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
std::vector<std::string> list_dir(const std::string& path) {  // sorted
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}
// Makes `path` the working directory for the life of the object.
struct InDirectory {
    explicit InDirectory(const std::string& path) { std::filesystem::current_path(path); }
    ~InDirectory() { std::filesystem::current_path(old); }
    const std::filesystem::path old = std::filesystem::current_path();
};

std::string book_bytes(const std::vector<BookRecord>& records) {
    std::string bytes(records.size() * BOOK_RECORD_SIZE, '\0');
    for (std::size_t i = 0; i < records.size(); ++i)
        encode_book_record(records[i], reinterpret_cast<unsigned char*>(&bytes[i * BOOK_RECORD_SIZE]));
    return bytes;
}
std::vector<BookRecord> read_book(const std::string& path) {
    const std::string bytes = read_bytes(path);
    std::vector<BookRecord> records;
    for (std::size_t at = 0; at + BOOK_RECORD_SIZE <= bytes.size(); at += BOOK_RECORD_SIZE)
        records.push_back(decode_book_record(reinterpret_cast<const unsigned char*>(bytes.data() + at)));
    return records;
}
BookRecord rec(HashKey key, const std::string& move, int weight) {
    return {static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32), weight,
            static_cast<std::uint8_t>(parse_square(move.c_str())), static_cast<std::uint8_t>(parse_square(move.c_str() + 2))};
}
HashKey key_of(const BookRecord& r) { return static_cast<HashKey>(r.key_high) << 32 | r.key_low; }
using Entry = std::tuple<HashKey, int, int, int>;  // key, from, to, weight
Entry entry_of(const BookRecord& r) { return {key_of(r), r.from, r.to, r.weight}; }
void add(HashKey k, const char* move) {
    book_add(static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k >> 32), parse_square(move), parse_square(move + 2));
}

std::string repeat(const std::string& text, int n) {
    std::string all;
    while (n-- > 0) all += text;
    return all;
}

// Lookups and builds run in-process with their output captured: arguments and results.
HashKey probe_key;
int draws = 1;
std::set<std::string> chosen;  // the moves the probes chose ("-": none)
void run_probes() {
    chosen.clear();
    for (int i = 0; i < draws; ++i) {
        const BookMove m = book_probe(static_cast<std::uint32_t>(probe_key), static_cast<std::uint32_t>(probe_key >> 32));
        chosen.insert(m.from ? std::string(square_name[m.from]) + square_name[m.to] : "-");
    }
}
std::string build_pgn, build_target;
int build_min = 1, write_count = -1;
BookBuildCounts counts;
bool build_ok = false;
void run_build() { build_ok = build_book(build_pgn, build_target, build_min, 0, &counts); }
void run_write() { build_ok = book_write(&write_count); }

HashKey fill_key = 0;  // the keys fill_key + 5000 * i share a bucket
std::string bucket_file(const std::string& temp_dir, HashKey k) {
    return temp_dir + "/tempfile_" + std::to_string(k % 5000 + 1) + ".dat";
}
void fill_bucket() {
    for (int i = 1; i <= 500; ++i) add(fill_key + 5000ULL * i, "d2d4");
}

std::vector<std::string> table_calls;
void note_free() { table_calls.push_back("free"); }
void note_allocate(int) { table_calls.push_back(access("t.dat", F_OK) == 0 ? "allocate after book" : "allocate"); }

class Book : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        start = hash_history[game_ply];
        dir = std::filesystem::temp_directory_path().string() + "/varkon_test_XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        book_name = path = dir + "/book.dat";
        book_style = 1;
        std::srand(7);
    }
    void TearDown() override {
        book_build_end();
        book_name = "book.dat";
        test::use_varkon();
        std::filesystem::remove_all(dir);
    }
    // Probes `key` `n` times; returns what was printed.
    std::string probe(HashKey key, int n = 1) {
        probe_key = key;
        draws = n;
        return test::capture_stdout(run_probes);
    }
    // Builds `book` (in dir) from PGN text; returns the printed output.
    std::string build(const std::string& pgn_text, const std::string& book, int min_count) {
        write_bytes(dir + "/games.pgn", pgn_text);
        build_pgn = dir + "/games.pgn";
        build_target = dir + "/" + book;
        build_min = min_count;
        return test::capture_stdout(run_build);
    }
    std::string bytes(const std::string& name) { return read_bytes(dir + "/" + name); }

    HashKey start = 0;
    std::string dir, path;
};

}  // namespace

TEST_F(Book, RankedListAndChoice) {
    const HashKey other = start ^ 0x9e3779b97f4a7c15ULL;
    auto book = [&](std::vector<BookRecord> recs) {  // between two records of another position
        recs.insert(recs.begin(), rec(other, "d2d4", 9));
        recs.push_back(rec(other, "c2c4", 4));
        return book_bytes(recs);
    };
    std::vector<BookRecord> many;  // 25 records, the later the heavier: only the first 21 count
    std::string many_printed;
    auto move = [](int i) { return std::string{char('a' + i % 8), char('1' + i / 8), char('a' + i % 8), '8'}; };
    for (int i = 0; i < 25; ++i) many.push_back(rec(start, move(i), i + 1));
    for (int i = 20; i >= 0; --i)
        many_printed += std::to_string(21 - i) + ". " + move(i) + "  " + std::to_string(i + 1) + "\n";
    BookRecord off = rec(start, "e2e4", 50), border = rec(start, "e2e4", 40);
    off.from = 255;
    border.to = 30;
    std::string garbage(100003, '\0');
    for (char& c : garbage) c = static_cast<char>(std::rand());
    const std::pair<std::string, std::string> cases[] = {
        {book({rec(start, "e2e4", 312)}), "1. e2e4  312\n"},
        // Equal weights keep file order; among the heaviest the first in the file wins.
        {book({rec(start, "d2d4", 3), rec(start, "e2e4", 3), rec(start, "g1f3", 3)}), "1. d2d4  3\n2. e2e4  3\n3. g1f3  3\n"},
        {book({rec(start, "c2c4", 1), rec(start, "d2d4", 7), rec(start, "e2e4", 7)}), "1. d2d4  7\n2. e2e4  7\n3. c2c4  1\n"},
        // Weights lowered by learning rank below every positive one and stay candidates.
        {book({rec(start, "a2a3", -5), rec(start, "b2b3", 0), rec(start, "c2c3", 3), rec(start, "d2d3", -1)}),
         "1. c2c3  3\n2. b2b3  0\n3. d2d3  -1\n4. a2a3  -5\n"},
        {book(many), many_printed},
        // Damage: an empty file, a last record cut short (even when its key matches), squares
        // off the board (never printed through the square names, never chosen), random bytes.
        {"", ""},
        {book({rec(start, "g1f3", 4), rec(start, "e2e4", 99)}).substr(0, 45), "1. g1f3  4\n"},
        {book({off, border, rec(start, "b1c3", 1)}), "1. b1c3  1\n"},
        {garbage, ""},
    };
    for (const auto& [bytes, printed] : cases) {
        write_bytes(path, bytes);
        std::vector<std::string> ranked;
        std::istringstream lines(printed);
        for (std::string number, m, weight; lines >> number >> m >> weight;) ranked.push_back(m);
        // Best takes the first, Normal draws among the first two, Risky among all; any other
        // style prints the list and chooses nothing.
        for (int style = 0; style <= 4; ++style) {
            const std::size_t n = style == 1 ? 1 : style == 2 ? 2 : style == 3 ? ranked.size() : 0;
            std::set<std::string> expected(ranked.begin(), ranked.begin() + std::min(n, ranked.size()));
            if (expected.empty()) expected.insert("-");
            book_style = style;
            EXPECT_EQ(probe(start), printed);
            EXPECT_EQ(book_entries, static_cast<int>(bytes.size() / 16));
            probe(start, 300);
            EXPECT_EQ(chosen, expected) << printed << "style " << style;
        }
    }
    book_name = dir + "/missing.dat";
    EXPECT_EQ(probe(start, 2), "can't open book file!\ncan't open book file!\n");  // every probe tries again
    EXPECT_EQ(chosen, std::set<std::string>{"-"});
    last_bookmove_number = 7;
    new_game();  // the counters belong to the game
    EXPECT_EQ(book_entries, 0);
    EXPECT_EQ(last_bookmove_number, 0);
}

TEST_F(Book, RecordLayoutIsLittleEndian) {
    unsigned char b[16];
    encode_book_record({0x04030201u, 0x08070605u, -2, 21, 98}, b);
    const unsigned char expected[16] = {1, 2, 3, 4, 5, 6, 7, 8, 0xfe, 0xff, 0xff, 0xff, 21, 98, 0, 0};
    EXPECT_EQ(std::memcmp(b, expected, 16), 0);
    EXPECT_EQ(book_bytes({decode_book_record(b)}), std::string(reinterpret_cast<char*>(b), 16));
}

TEST_F(Book, RelativeNameFallsBackBesideTheProgram) {
    const std::string name = "test_book_" + std::to_string(getpid()) + ".dat";
    const std::string beside = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/" + name;
    write_bytes(beside, book_bytes({rec(start, "e2e4", 5)}));
    {
        InDirectory in(dir);
        book_name = name;
        EXPECT_EQ(probe(start), "1. e2e4  5\n");
        write_bytes(name, book_bytes({rec(start, "d2d4", 6)}));
        EXPECT_EQ(probe(start), "1. d2d4  6\n");  // a book of that name in the working directory comes first
        EXPECT_EQ(std::string(book_file_path(dir + "/none.dat")), dir + "/none.dat");  // absolute: as it is
    }
    std::filesystem::remove(beside);
}

// The book built with the engine: every record is a legal move of a position reached from
// the start position along the book's own moves, so it matches the engine's keys; and the
// lookup reads it, 1.d4 the most played first move.
TEST_F(Book, ShippedBookMatchesTheEngine) {
    const std::vector<BookRecord> all = read_book(SHIPPED_BOOK);
    ASSERT_GT(all.size(), 3000u);
    std::multimap<HashKey, BookRecord> by_key;
    for (const BookRecord& r : all) {
        EXPECT_GE(r.weight, SHIPPED_BOOK_MIN_PLAYED);
        by_key.insert({key_of(r), r});
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

    book_name = SHIPPED_BOOK;
    EXPECT_TRUE(probe(start).starts_with("1. d2d4  ")) << probe(start);
    EXPECT_EQ(chosen, std::set<std::string>{"d2d4"});
}

TEST_F(Book, MinimumCount) {
    const std::string all = read_bytes(TEST_DATA_DIR "/selfplay-games.pgn"), game = all.substr(0, all.find("[Event ", 1));
    // The pairs of the game's first 60 half-moves, replayed here, each played twice.
    std::multiset<Entry> expected;
    std::istringstream words(game.substr(game.find("\n1.")));
    new_game();
    for (std::string w; words >> w && game_ply <= 60;) {
        if (std::isdigit(static_cast<unsigned char>(w[0]))) continue;
        const int i = find_san_move(w.c_str());
        ASSERT_NE(i, 0) << w;
        expected.emplace(hash_history[game_ply], move_stack[i].from, move_stack[i].to, 2);
        play_move(i);
    }
    ASSERT_EQ(game_ply, 61);
    build(game + "\n" + game, "two.dat", 2);
    EXPECT_EQ(counts.games, 2);
    EXPECT_EQ(counts.move_errors, 0);
    const std::vector<BookRecord> recs = read_book(dir + "/two.dat");
    EXPECT_EQ(counts.book_moves, static_cast<int>(recs.size()));
    EXPECT_TRUE(std::is_sorted(recs.begin(), recs.end(), [](const BookRecord& a, const BookRecord& b) {
        return key_of(a) % 5000 < key_of(b) % 5000;
    })) << "grouped by bucket, in bucket order";
    std::multiset<Entry> got;
    for (const BookRecord& r : recs) got.insert(entry_of(r));
    EXPECT_EQ(got, expected);

    // Too few plays: the book is created empty. The minimum is clamped into 1..100.
    const std::string hundred = repeat("1. e4 e5 *\n", 100);
    const struct { std::string pgn; int min_count, records; } cases[] = {
        {game + "\n" + game, 3, 0}, {hundred, 1000, 2}, {hundred.substr(11), 1000, 0}, {"1. e4 *", 0, 1}};
    for (const auto& c : cases) {
        build(c.pgn, "min.dat", c.min_count);
        EXPECT_TRUE(build_ok);
        EXPECT_TRUE(std::filesystem::exists(dir + "/min.dat"));
        EXPECT_EQ(read_book(dir + "/min.dat").size(), static_cast<std::size_t>(c.records)) << c.min_count;
    }
}

// Spills to the temporary files, their failures, and the merge of each bucket.
TEST_F(Book, SpilledPairsAreMerged) {
    book_add(1, 2, 31, 51);  // no build in progress: nothing happens
    ASSERT_TRUE(book_build_begin(dir + "/spill.dat", 2));
    const std::string temp = dir + "/" + list_dir(dir).at(0);  // the private directory
    // A spill that cannot open its file loses that spill.
    fill_key = 0x0000000100000007ULL;
    ASSERT_EQ(rmdir(temp.c_str()), 0);
    EXPECT_EQ(test::capture_stdout(fill_bucket), "can't open temp file! \n");
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    // A pair spilled twice, and counted again in memory, makes one record.
    for (unsigned spills = 1; spills <= 2; ++spills) {
        add(fill_key, "e2e4");
        for (int i = 1; i < 500; ++i) add(fill_key + 5000ULL * (i + 500 * spills), "d2d4");  // the 500th spills
        EXPECT_EQ(read_bytes(bucket_file(temp, fill_key)).size(), spills * 500 * 16);
    }
    for (int i = 0; i < 698; ++i) add(fill_key, "e2e4");
    // A temporary file that is gone at the merge loses its bucket; the merge goes on.
    fill_key = 5;
    test::capture_stdout(fill_bucket);
    ASSERT_EQ(unlink(bucket_file(temp, fill_key).c_str()), 0);
    book_spill(0), book_spill(5001);  // no such buckets: nothing happens
    EXPECT_NE(test::capture_stdout(run_write).find("\ncan't open temp file!\n"), std::string::npos);
    EXPECT_TRUE(build_ok);
    EXPECT_EQ(write_count, 1);
    book_build_end();
    EXPECT_EQ(list_dir(dir), std::vector<std::string>{"spill.dat"});
    const std::vector<BookRecord> recs = read_book(dir + "/spill.dat");
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(entry_of(recs[0]), Entry(0x0000000100000007ULL, parse_square("e2"), parse_square("e4"), 700));

    // With minimum 1 every pair stays, in the order of its first occurrence.
    ASSERT_TRUE(book_build_begin(dir + "/all.dat", 1));
    for (int i = 0; i < 1200; ++i) add(5000ULL * (i % 600), "g1f3");
    test::capture_stdout(run_write);
    const std::vector<BookRecord> all = read_book(dir + "/all.dat");
    ASSERT_EQ(all.size(), 600u);
    for (int i = 0; i < 600; ++i) EXPECT_EQ(entry_of(all[i]), Entry(5000ULL * i, parse_square("g1"), parse_square("f3"), 2));
}

// Comments, variations, annotations, move numbers against their moves, a byte-order mark,
// CR-LF line ends, overlong lines and tokens, games without results, games set up from a
// FEN position (not replayed from the start position): the same book as the plain games.
TEST_F(Book, PgnFromTheWildBuildsTheBookOfThePlainGames) {
    const std::string long_tag(20000, 'x'), long_token = "Nf3" + std::string(297, '!');  // no move
    const std::string messy =
        "\xEF\xBB\xBF[Event \"messy\"]\r\n[Site \"" + long_tag + "\"]\r\n\r\n"
        "1.e4 {a comment about 1-0, 2. Nf3 Nc6 and a ( bracket} e5 2.Nf3!? Nc6?!$2 $14 3.Bb5\r\n"
        "(3.Bc4 Bc5 {nested} (3...Nf6 4.Ng5) 4.c3) 3...a6 4.Ba4 ; a comment to the line end 1-0\r\n"
        "{c} 4... Nf6 5.O-O 1-0\r\n"
        "% an escaped line 0-1\n"
        "\n[Event \"no result\"]\n\n1. d4 d5 2. c4 e6\n"
        "\n[Event \"after it\"]\n\n1. c4 e5 2. " + long_token + " Nc3 (2. Nf3 Nc6 *\n"
        "\n[Event \"last\"]\n[FENCE \"not a FEN tag\"]\n\n1. Nf3 d5 2. g3";
    const struct { std::string pgn; int games, move_errors; std::string plain; int records; } cases[] = {
        {messy, 4, 1,
         "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O 1-0\n1. d4 d5 2. c4 e6 *\n1. c4 e5 2. Nc3 *\n1. Nf3 d5 2. g3 *\n",
         9 + 4 + 3 + 3},
        {"[FEN \"8/8/8/8/8/8/8/K1k5 w - - 0 1\"]\n\n1. e4 e5 *\n1. d4 *\n[SetUp \"1\"]\n"
         "[FEN \"8/8/8/8/8/8/8/K1k5 w - - 0 1\"]\n\n1. Kb1\n\n[Event \"next\"]\n1. c4 *\n",
         4, 0, "1. d4 *\n1. c4 *\n", 2},
        {read_bytes(TEST_DATA_DIR "/pgn-features.pgn"), 12, 0,
         read_bytes(TEST_DATA_DIR "/pgn-features-stripped.pgn"), 559},
    };
    for (const auto& c : cases) {
        build(c.plain, "plain.dat", 1);
        EXPECT_EQ(counts.move_errors, 0);
        EXPECT_EQ(counts.book_moves, c.records);
        build(c.pgn, "wild.dat", 1);
        EXPECT_EQ(counts.games, c.games);
        EXPECT_EQ(counts.move_errors, c.move_errors);
        EXPECT_TRUE(bytes("wild.dat") == bytes("plain.dat")) << c.plain.substr(0, 100);
    }
}

// The book appears whole under its name: a reader of the old book still reads all of it.
// Stale temporary files of an interrupted build, beside the book and in the working
// directory, never leak into it and are left alone. A failed build leaves nothing behind.
TEST_F(Book, BookIsWrittenWholeAndTemporaryFilesGo) {
    const std::string pgn = "1. e4 e5 2. Nf3 *\n1. e4 c5 *\n";
    build(pgn, "ref.dat", 1);
    build("1. e4 e5 *\n", "b.dat", 1);
    const std::string old = bytes("b.dat");
    const int fd = open((dir + "/b.dat").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const std::string work = dir + "/work";
    std::filesystem::create_directory(work);
    for (const BookRecord& r : read_book(dir + "/ref.dat"))
        for (const std::string& d : {dir, work}) write_bytes(bucket_file(d, key_of(r)), bytes("ref.dat"));
    const std::vector<std::string> before = list_dir(dir), stale = list_dir(work);
    {
        InDirectory in(work);
        build(pgn, "b.dat", 1);
    }
    EXPECT_TRUE(bytes("b.dat") == bytes("ref.dat"));
    char buf[64];
    EXPECT_EQ(read(fd, buf, sizeof buf), 32);
    EXPECT_TRUE(std::string(buf, 32) == old);
    close(fd);
    EXPECT_EQ(list_dir(work), stale);
    for (const std::string& name : stale) EXPECT_TRUE(read_bytes(work + "/" + name) == bytes("ref.dat"));

    // The book's directory does not exist (the temporary files go to TMPDIR); the book name
    // is a directory, so the complete book cannot be renamed into place.
    const std::string tmp = dir + "/tmp", saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    std::filesystem::create_directory(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    EXPECT_NE(build(pgn, "no/such/dir/book.dat", 1).find("\ncan't open book file!\n"), std::string::npos);
    EXPECT_FALSE(build_ok);
    EXPECT_NE(build(pgn, "tmp", 1).find("can't write book file!\n"), std::string::npos);
    EXPECT_FALSE(build_ok);
    EXPECT_TRUE(list_dir(tmp).empty());
    saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
    std::filesystem::remove(tmp);
    EXPECT_EQ(list_dir(dir), before);  // no partial book, no temporary directory
}

TEST_F(Book, ConsoleDialogue) {
    write_bytes(dir + "/g.pgn", "1. e4 e5 *\n1. d4 *\n");
    write_bytes(dir + "/h.pgn", repeat("1. e4 e5 *\n", 9));
    int status = -1;
    const std::string prompts =
        "name of the pgn file               \t\t: name of the book file              \t\t: "
        "minimum of played moves (1-100)    \t\t: how many games to build (0=all)    \t\t: ";
    std::string out = test::run_engine(VARKON_BIN, "build\ng.pgn\nbook.dat\n1\n0\nquit\n", &status, dir);
    EXPECT_EQ(status, 0);
    const std::string head = "Varkon 5.24\nby Dravenholt\n\n" + prompts +
                             "\nbuilding book...\ngames = 1 , move_errors = 0\rgames = 2 , move_errors = 0\r"
                             "\n\nwriting moves from temp files to book file...\nwrite: ";
    EXPECT_TRUE(out.starts_with(head)) << out;
    EXPECT_TRUE(out.ends_with("\t book_moves = 3\r\n\nready!\n")) << out;
    EXPECT_EQ(read_book(dir + "/book.dat").size(), 3u);

    // Missing PGN, a game limit, the book name bound (15 characters), and varkon_classic,
    // which reports the sizes of its tables each time it allocates them again.
    out = test::run_engine(VARKON_CLASSIC_BIN, "build nothing.pgn x.dat 2 0 build h.pgn a_very_long_book_name.dat 1 7 quit",
                           &status, dir);
    EXPECT_EQ(status, 0);
    const std::string sizes = "SEARCH_HASH \t\t: 1 MB , 65536 entries, size of search_hash = 16\n"
                              "EVAL_HASH  \t\t: 0 MB , 1 entries, size of eval_hash = 16\n"
                              "PAWN_HASH   \t\t: 0 MB , 1 entries, size of pawn_hash = 16\n\n";
    EXPECT_NE(out.find(prompts + "\nbuilding book...\npgn file not found!\n" + sizes + prompts), std::string::npos)
        << out;
    EXPECT_NE(out.find("games = 7 , move_errors = 0\r\n"), std::string::npos);
    EXPECT_EQ(out.find("games = 8"), std::string::npos);
    const std::vector<BookRecord> limited = read_book(dir + "/a_very_long_boo");
    ASSERT_EQ(limited.size(), 2u);
    EXPECT_EQ(limited[0].weight, 7);
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"a_very_long_boo", "book.dat", "g.pgn", "h.pgn"}));

    // End of input in the middle of the questions ends either program cleanly.
    for (const char* program : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        out = test::run_engine(program, "build g.pgn", &status, dir);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(out.ends_with("name of the book file              \t\t: ")) << out;
    }
}

// The tables are released before the questions and allocated again after the book is
// written, also when the build fails; the answers become the book settings.
TEST_F(Book, TablesAreReleasedForTheBuild) {
    static SearchPolicy noting = *varkon_program().search;
    noting.tables.release = note_free;
    noting.tables.allocate = note_allocate;
    static Program with_tables = varkon_program();
    with_tables.search = &noting;
    init_program(with_tables);
    table_calls.clear();
    write_bytes(dir + "/t.pgn", "1. e4 *\n");
    InDirectory in(dir);
    const struct { const char* answers; std::vector<std::string> calls; bool ready; int min; } runs[] = {
        {"missing.pgn t.dat 2 0", {"free", "allocate"}, false, 2},
        {"t.pgn t.dat 1000 0", {"free", "allocate after book"}, true, 100},
        {"t.pgn t.dat -5 0", {"free", "allocate after book"}, true, 1},
    };
    for (const auto& run : runs) {
        table_calls.clear();
        std::filesystem::remove("t.dat");
        unread_line(run.answers);
        EXPECT_EQ(test::capture_stdout(book_build).ends_with("\n\nready!\n"), run.ready);
        EXPECT_EQ(table_calls, run.calls);
        EXPECT_EQ(book_name, "t.dat");
        EXPECT_EQ(min_played, run.min);
    }
}
