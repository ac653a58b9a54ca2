// The opening book: the lookup against small books written here and the shipped book; the
// builder's books read back, PGN as it is found in the wild, builds that fail without
// harming the book there; learning, alone and beside another learner; the console dialogue.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "apps/programs.h"
#include "book/book.h"
#include "core/messages.h"
#include "core/notation.h"
#include "core/moves.h"
#include "frontend/command_input.h"
#include "frontend/console.h"
#include "frontend/learn.h"
#include "frontend/startup.h"
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
std::string repeat(const std::string& text, int n) { return n > 0 ? text + repeat(text, n - 1) : ""; }

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
std::vector<int> weights_of(const std::string& path) {
    std::vector<int> weights;
    for (const BookRecord& r : read_book(path)) weights.push_back(r.weight);
    return weights;
}
BookRecord rec(HashKey key, const std::string& move, int weight) {
    return {static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32), weight,
            static_cast<std::uint8_t>(parse_square(move.c_str())), static_cast<std::uint8_t>(parse_square(move.c_str() + 2))};
}
HashKey key_of(const BookRecord& r) { return static_cast<HashKey>(r.key_high) << 32 | r.key_low; }

// The records of a book that are legal moves of positions reached from the start position
// along the book's own moves: all of them in a book that matches the engine's keys.
std::size_t reachable_records(const std::vector<BookRecord>& all) {
    std::multimap<HashKey, BookRecord> by_key;
    for (const BookRecord& r : all) by_key.insert({key_of(r), r});
    std::set<HashKey> seen;
    std::size_t reached = 0;
    Position& pos = game();
    std::function<void()> walk = [&] {
        if (!seen.insert(pos.key()).second) return;
        const auto range = by_key.equal_range(pos.key());
        for (auto it = range.first; it != range.second; ++it) {
            const std::string move = std::string(square_name[it->second.from]) + square_name[it->second.to];
            if (!parse_coordinate_move(pos, move.c_str()) && !parse_coordinate_move(pos, (move + "q").c_str())) continue;
            ++reached;
            walk();
            take_back(pos);
        }
    };
    start_game();
    walk();
    return reached;
}

// Everything the book prints, collected through its output function.
std::string said;
void collect_said(const char* line) { said += line; }
std::string said_by(const std::function<void()>& f) {
    said.clear();
    f();
    return said;
}

std::vector<std::string> table_calls;
void note_free() { table_calls.push_back("free"); }
void note_allocate(int) { table_calls.push_back(access("t.dat", F_OK) == 0 ? "allocate after book" : "allocate"); }

class Book : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        start = game().key();
        book_options.name = path = dir + "/book.dat";
        book_options.style = 1;
        std::srand(7);
        set_message_output(collect_said);
    }
    void TearDown() override {
        set_message_output(nullptr);
        book_build_end();
        book_options.name = "book.dat";
        test::use_varkon();
    }
    // Probes `key` `n` times: what was printed; the moves chosen in `chosen` ("-": none).
    std::string probe(HashKey key, int n = 1) {
        chosen.clear();
        return said_by([&] {
            for (int i = 0; i < n; ++i) {
                const BookMove m = book_probe(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32));
                chosen.insert(m.from ? std::string(square_name[m.from]) + square_name[m.to] : "-");
            }
        });
    }
    // Builds `book` (in dir unless absolute) from PGN text, or from the file `pgn_path`.
    std::string build(const std::string& pgn_text, const std::string& book, int min_count, std::string pgn_path = "") {
        if (pgn_path.empty()) write_bytes(pgn_path = dir + "/games.pgn", pgn_text);
        const std::string target = book[0] == '/' ? book : dir + "/" + book;
        return said_by([&] { built = build_book(pgn_path, target, min_count, 0, &counts); });
    }
    std::string bytes(const std::string& name) { return read_bytes(dir + "/" + name); }
    // Plays 1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 in a new game; keys[g] is the key of the
    // position of the move at game_ply g, and at(g, weight) the record of that move.
    void play_game() {
        start_game();
        for (int g = 1; g <= 8; ++g) {
            keys[g] = game().key();
            ASSERT_EQ(parse_coordinate_move(game(), names[g]), 1);
        }
    }
    BookRecord at(int g, int weight) const { return rec(keys[g], names[g], weight); }
    // The WinBoard "result" command's learning from the game played; what it printed.
    std::string learn(const char* result, Side colour, int last_book_move) {
        book_state.last_bookmove_number = last_book_move;
        return said_by([&] { learn_from_result(game(), result, colour); });
    }

    const test::WorkDir work;
    HashKey start = 0, keys[9] = {};
    const char* names[9] = {"", "e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6", "b5a4", "g8f6"};
    std::string dir = work.path(), path;
    std::set<std::string> chosen;
    BookBuildCounts counts;
    bool built = false;
};

const std::string learn_head = "\n\nupdating bookfile...\n";

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
    for (int i = 20; i >= 0; --i) many_printed += std::to_string(21 - i) + ". " + move(i) + "  " + std::to_string(i + 1) + "\n";
    BookRecord off = rec(start, "e2e4", 50), border = rec(start, "e2e4", 40);
    off.from = 255;
    border.to = 30;
    std::string garbage(100003, '\0'), raw(8, '\0');
    for (char& c : garbage) c = static_cast<char>(std::rand());
    // The layout: key low, key high, weight, little-endian; from, to; two bytes never read.
    for (int i = 0; i < 8; ++i) raw[i] = static_cast<char>(start >> (8 * i));
    raw += std::string("\xfe\xff\xff\xff\x23\x37\x7f\x7f", 8);  // -2, e2 (35) to e4 (55)
    const std::pair<std::string, std::string> cases[] = {
        {book({rec(start, "e2e4", 312)}), "1. e2e4  312\n"},
        {raw, "1. e2e4  -2\n"},
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
        // Best takes the first, Normal one of the first two, Risky any; other styles none.
        for (int style = 0; style <= 4; ++style) {
            const std::size_t n = style == 1 ? 1 : style == 2 ? 2 : style == 3 ? ranked.size() : 0;
            std::set<std::string> expected(ranked.begin(), ranked.begin() + std::min(n, ranked.size()));
            if (expected.empty()) expected.insert("-");
            book_options.style = style;
            EXPECT_EQ(probe(start), printed);
            EXPECT_EQ(book_state.entries, static_cast<int>(bytes.size() / 16));
            probe(start, 300);
            EXPECT_EQ(chosen, expected) << printed << "style " << style;
        }
    }
    // No book: missing, a directory, a FIFO without a writer, an endless device. Every probe
    // says so at once and tries again the next time.
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    for (const std::string& name : {dir + "/missing.dat", dir, dir + "/fifo", std::string("/dev/zero")}) {
        book_options.name = name;
        EXPECT_EQ(probe(start, 2), "can't open book file!\ncan't open book file!\n") << name;
        EXPECT_EQ(chosen, std::set<std::string>{"-"});
    }
    book_state.last_bookmove_number = 7;
    start_game();  // the counters belong to the game
    EXPECT_EQ(book_state.entries, 0);
    EXPECT_EQ(book_state.last_bookmove_number, 0);
}

// A relative name not in the working directory: beside the program, else in the data
// directory of an installation.
TEST_F(Book, RelativeNameFallsBackBesideTheProgram) {
    const std::string name = "test_book_" + std::to_string(getpid()) + ".dat";
    const std::filesystem::path program_dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::filesystem::path data_dir = (program_dir / VARKON_DATA_FROM_BIN).lexically_normal();
    const bool made_data_dir = std::filesystem::create_directories(data_dir);
    const std::string beside = program_dir.string() + "/" + name, installed = (data_dir / name).string();
    write_bytes(installed, book_bytes({rec(start, "c2c4", 4)}));
    const std::filesystem::path old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    book_options.name = name;
    EXPECT_EQ(probe(start), "1. c2c4  4\n");
    write_bytes(beside, book_bytes({rec(start, "e2e4", 5)}));
    EXPECT_EQ(probe(start), "1. e2e4  5\n");
    write_bytes(name, book_bytes({rec(start, "d2d4", 6)}));
    EXPECT_EQ(probe(start), "1. d2d4  6\n");  // a book of that name in the working directory comes first
    EXPECT_EQ(std::string(book_file_path(dir + "/none.dat")), dir + "/none.dat");  // absolute: as it is
    std::filesystem::current_path(old);
    std::filesystem::remove(beside);
    std::filesystem::remove(installed);
    if (made_data_dir) {  // share/varkon and share, each only when nothing else is in it
        std::error_code ignored;
        if (std::filesystem::remove(data_dir, ignored)) std::filesystem::remove(data_dir.parent_path(), ignored);
    }
}

// The book built with the engine matches its keys, and the lookup reads it: 1.d4 first.
TEST_F(Book, ShippedBookMatchesTheEngine) {
    const std::vector<BookRecord> all = read_book(SHIPPED_BOOK);
    ASSERT_GT(all.size(), 3000u);
    EXPECT_EQ(reachable_records(all), all.size());
    for (const BookRecord& r : all) ASSERT_GE(r.weight, SHIPPED_BOOK_MIN_PLAYED);
    book_options.name = SHIPPED_BOOK;
    EXPECT_TRUE(probe(start).starts_with("1. d2d4  ")) << said;
    EXPECT_EQ(chosen, std::set<std::string>{"d2d4"});
}

// Two identical games with minimum 2: each pair of the first 60 half-moves once, weight 2,
// grouped by bucket. With minimum 3 an empty book is made where there was none.
TEST_F(Book, MinimumCount) {
    const std::string all = read_bytes(TEST_DATA_DIR "/selfplay-games.pgn"), game = all.substr(0, all.find("[Event ", 1));
    build(game + "\n" + game, "two.dat", 2);
    EXPECT_EQ(counts.games, 2);
    EXPECT_EQ(counts.move_errors, 0);
    const std::vector<BookRecord> recs = read_book(dir + "/two.dat");
    EXPECT_EQ(counts.book_moves, 60);
    EXPECT_EQ(reachable_records(recs), 60u);
    EXPECT_EQ(weights_of(dir + "/two.dat"), std::vector<int>(60, 2));
    EXPECT_TRUE(std::is_sorted(recs.begin(), recs.end(),
                               [](const BookRecord& a, const BookRecord& b) { return key_of(a) % 5000 < key_of(b) % 5000; }));
    build(game + "\n" + game, "three.dat", 3);
    EXPECT_TRUE(built && std::filesystem::exists(dir + "/three.dat") && bytes("three.dat").empty());
}

// Comments, variations, annotations, move numbers against their moves, a byte-order mark,
// CR-LF line ends, overlong lines and tokens, games without results, games set up from a
// FEN position, text past the 60th half-move: the same book as the plain games.
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
    // Past the 60th half-move nothing is replayed, but results, tags and comments still count.
    const std::string long_game = repeat("Nf3 Nf6 Ng1 Ng8 ", 16) + "{ 1-0 } ( 0-1 ) 1-O 1/2-1/2\n";
    const struct { std::string pgn; int games, move_errors; std::string plain; int records; } cases[] = {
        {messy, 4, 1,
         "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O 1-0\n1. d4 d5 2. c4 e6 *\n1. c4 e5 2. Nc3 *\n1. Nf3 d5 2. g3 *\n",
         9 + 4 + 3 + 3},
        {"[FEN \"8/8/8/8/8/8/8/K1k5 w - - 0 1\"]\n\n1. e4 e5 *\n1. d4 *\n[SetUp \"1\"]\n"
         "[FEN \"8/8/8/8/8/8/8/K1k5 w - - 0 1\"]\n\n1. Kb1\n\n[Event \"next\"]\n1. c4 *\n",
         4, 0, "1. d4 *\n1. c4 *\n", 2},
        {long_game + long_game + "[Event \"x\"]\n" + long_game + "1. e4", 4, 0,
         repeat(repeat("Nf3 Nf6 Ng1 Ng8 ", 15) + "*\n", 3) + "e4 *", 5},
        {read_bytes(TEST_DATA_DIR "/pgn-features.pgn"), 12, 0, read_bytes(TEST_DATA_DIR "/pgn-features-stripped.pgn"), 559},
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
// Stale temporary files of an interrupted build in the working directory are left alone
// and never leak into the book.
TEST_F(Book, BookIsWrittenWholeAndStaleFilesStayOut) {
    build("1. e4 e5 2. Nf3 *\n", "ref.dat", 1);
    build("1. e4 e5 *\n", "b.dat", 1);
    const std::string old = bytes("b.dat"), stale = book_bytes({rec(start, "a2a4", 50)});
    const int fd = open((dir + "/b.dat").c_str(), O_RDONLY);
    std::string stale_file;
    for (const BookRecord& r : read_book(dir + "/ref.dat"))
        write_bytes(stale_file = dir + "/tempfile_" + std::to_string(key_of(r) % 5000 + 1) + ".dat", stale);
    const std::vector<std::string> names = list_dir(dir);
    const std::filesystem::path wd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    build("1. e4 e5 2. Nf3 *\n", "b.dat", 1);
    std::filesystem::current_path(wd);
    EXPECT_TRUE(bytes("b.dat") == bytes("ref.dat"));
    char buf[64];
    EXPECT_EQ(read(fd, buf, sizeof buf), 32);
    EXPECT_TRUE(std::string(buf, 32) == old);
    close(fd);
    EXPECT_EQ(list_dir(dir), names);
    EXPECT_TRUE(read_bytes(stale_file) == stale);
}

// A build that fails, or finds no book move, keeps the book that is there and says why; it
// leaves no partial book or temporary files, and never blocks or reads forever on a
// directory, a FIFO or a device given as the PGN file.
TEST_F(Book, FailedBuildKeepsTheBook) {
    build("1. e4 e5 *\n", "good.dat", 1);
    const std::string good = bytes("good.dat");
    ASSERT_EQ(good.size(), 32u);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(dir + "/tmp");
    const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", (dir + "/tmp").c_str(), 1);
    std::filesystem::remove(dir + "/games.pgn");
    const std::vector<std::string> before = list_dir(dir);
    const std::string kept = "no book moves: book file kept!\n";
    const struct { std::string pgn, path, book; int min_count; std::string message; } cases[] = {
        {"", dir + "/tmp", "good.dat", 1, "can't read pgn file!\n"},
        {"", dir + "/fifo", "good.dat", 1, "can't read pgn file!\n"},
        {"", "/dev/zero", "good.dat", 1, "can't read pgn file!\n"},
        {"", dir + "/none.pgn", "good.dat", 1, "pgn file not found!\n"},
        {"", "", "good.dat", 1, kept},
        {"[Event \"tags only\"]\n[Site \"?\"]\n", "", "good.dat", 1, kept},
        {"\xEF\xBB\xBF", "", "good.dat", 1, kept},
        {"1. e4 *\n", "", "good.dat", 2, kept},
        // No such directory (the temporary files go to TMPDIR); a directory or a device,
        // which is never replaced.
        {"1. e4 *\n", "", "no/such/dir/book.dat", 1, "\ncan't open book file!\n"},
        {"1. e4 *\n", "", "tmp", 1, "can't open book file!\n"},
        {"1. e4 *\n", "", "/dev/null", 1, "can't open book file!\n"},
    };
    for (const auto& c : cases) {
        const std::string out = build(c.pgn, c.book, c.min_count, c.path);
        EXPECT_NE(out.find(c.message), std::string::npos) << c.path << c.pgn << ": " << out;
        EXPECT_FALSE(built);
        EXPECT_TRUE(bytes("good.dat") == good);
        std::filesystem::remove(dir + "/games.pgn");
        EXPECT_EQ(list_dir(dir), before);
        EXPECT_TRUE(list_dir(dir + "/tmp").empty());
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
}

// After a result the engine's moves in the game, from its first to its last book move, move
// by the result (other moves stay), also when no lookup counted the records before; the
// first record of a move changes, its reserved bytes kept; an incomplete last record is
// not touched.
TEST_F(Book, LearningMovesTheWeightsOfTheEnginesMoves) {
    play_game();
    std::string book = book_bytes({rec(keys[1], "d2d4", 7), at(1, 40), at(2, 3), at(4, 200), at(5, 100),
                                   at(6, -1000000000), at(7, 200), at(1, 99)});
    book[16 + 14] = '\xab';
    book += book_bytes({at(8, 5)}).substr(0, 15);
    write_bytes(path, book);
    ASSERT_EQ(book_state.entries, 0);
    EXPECT_EQ(learn(" 1-0", WHITE, 7), learn_head + "last_bookmove_number= 7\n1. e2e4 score = 40 --> 45 + - 5\n"
                                                    "5. f1b5 score = 100 --> 110 + - 10\n7. b5a4 score = 200 --> 220 + - 20\n");
    EXPECT_EQ(learn("1-0", BLACK, 8), learn_head + "last_bookmove_number= 8\n2. e7e5 score = 3 --> -2 + - -5\n"
                                                   "4. b8c6 score = 200 --> 180 + - -20\n"
                                                   "6. a7a6 score = -1000000000 --> -1000000000 + - 0\n");
    EXPECT_EQ(learn(" 1/2-1/2", WHITE, 5), learn_head + "last_bookmove_number= 5\n1. e2e4 score = 45 --> 43 + - -2\n"
                                                       "5. f1b5 score = 110 --> 105 + - -5\n");
    EXPECT_EQ(learn(" 0-1 {Black mates}", WHITE, 1), learn_head + "last_bookmove_number= 1\n1. e2e4 score = 43 --> 38 + - -5\n");
    // Nothing to learn: no book move, no result, the engine's colour unknown (force mode).
    EXPECT_EQ(learn(" 1-0", WHITE, 0), learn_head + "last_bookmove_number= 0\n");
    EXPECT_EQ(learn(" *", WHITE, 7), learn_head + "no result ?\n");
    EXPECT_EQ(learn(" 1-0", 0, 7), learn_head + "engine colour unknown, book not updated!\n");
    const std::string now = bytes("book.dat");
    ASSERT_EQ(now.size(), book.size());
    EXPECT_EQ(now.substr(16 + 14, 2), std::string("\xab\0", 2));
    EXPECT_EQ(now.substr(128), book.substr(128));
    EXPECT_EQ(weights_of(path), (std::vector<int>{7, 38, -2, 180, 105, -1000000000, 220, 99}));
}

// A book that cannot be written, or that another learner holds, is left as it was; two
// learners at once lose no update; a learner killed at any moment leaves whole records.
TEST_F(Book, LearningNeverDamagesTheBook) {
    play_game();
    const std::string book = book_bytes({at(1, 40), at(3, 40)});
    write_bytes(path, book);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    for (const std::string& name : {dir + "/missing.dat", dir, dir + "/fifo", std::string("/dev/zero")}) {
        book_options.name = name;
        EXPECT_EQ(learn(" 1-0", WHITE, 3), learn_head + "can't open book file!\n") << name;
    }
    book_options.name = path;
    // Read-only, tried by another user when the test runs as root, who may write anything.
    ASSERT_EQ(chmod(path.c_str(), 0444) | chmod(dir.c_str(), 0755), 0);
    pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(learn(" 1-0", WHITE, 3) == learn_head + "can't open book file!\n" ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    // Another learner holds the book: this one waits a moment, then says so, or goes on when
    // the lock is released meanwhile.
    const int other = open(path.c_str(), O_RDWR);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_EQ(learn(" 1-0", WHITE, 3), learn_head + "book file is locked, not updated!\n");
    EXPECT_TRUE(bytes("book.dat") == book);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        flock(other, LOCK_UN);
    });
    EXPECT_EQ(learn(" 1-0", WHITE, 3), learn_head + "last_bookmove_number= 3\n1. e2e4 score = 40 --> 45 + - 5\n"
                                                   "3. g1f3 score = 40 --> 45 + - 5\n");
    release.join();
    close(other);

    auto learner = [&](int wins) {  // a process learning from `wins` wins, or until it is killed
        if ((pid = fork()) != 0) return pid;
        set_message_output([](const char*) {});
        for (int k = 0; wins == 0 || k < wins; ++k) learn(" 1-0", WHITE, 7);
        _exit(0);
    };
    write_bytes(path, book_bytes({at(1, -1000)}));
    for (pid_t p : {learner(40), learner(40)}) waitpid(p, &status, 0);
    EXPECT_EQ(weights_of(path), std::vector<int>{-1000 + 2 * 40 * 5});
    write_bytes(path, book_bytes({at(1, -1000000), at(3, -1000000), at(5, -1000000), at(7, -1000000)}));
    pid = learner(0);
    for (int wait = 0; wait < 400 && read_book(path)[3].weight == -1000000; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // until it has learnt
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    const std::vector<int> w = weights_of(path);
    ASSERT_EQ(w.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(key_of(read_book(path)[i]), keys[2 * i + 1]);
        EXPECT_TRUE(w[i] > -1000000 && w[i] < 0 && w[i] % 5 == 0 && w[i] >= w[3] && w[i] - w[3] <= 5) << w[i];
    }
}

// The four questions and the messages of both programs; a book name of any length up to
// the bound of a path; end of input during the questions.
TEST_F(Book, ConsoleDialogue) {
    write_bytes(dir + "/g.pgn", "1. e4 e5 *\n1. d4 *\n");
    write_bytes(dir + "/h.pgn", repeat("1. e4 e5 *\n", 9));
    int status = -1;
    const std::string prompts =
        "name of the pgn file               \t\t: name of the book file              \t\t: "
        "minimum of played moves (1-100)    \t\t: how many games to build (0=all)    \t\t: ";
    std::string out = test::run_engine(VARKON_BIN, "build\ng.pgn\nbook.dat\n1\n0\nquit\n", &status, dir);
    EXPECT_EQ(status, 0);
    // Not on a terminal: plain progress lines, the last one of each phase always.
    EXPECT_NE(out.find("\n\n" + prompts + "\nbuilding book...\ngames = 2 , move_errors = 0 , 100% of the file , "),
              std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("write: 5000 / 5000\t book_moves = 3\n\n\nready!\n")) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos);

    const std::string long_name = "a_very_long_book_name_" + std::string(200, 'x') + ".dat", too_long(PATH_MAX, 'y');
    write_bytes(dir + "/Varkon.ini", "");  // varkon_classic's configuration: the built-in defaults
    out = test::run_engine(VARKON_CLASSIC_BIN,
                           "build nothing.pgn x.dat 2 0 build h.pgn " + long_name + " 1 7 build h.pgn " + too_long +
                               " 1 0 build " + too_long + " x.dat 1 0 quit",
                           &status, dir);
    EXPECT_EQ(status, 0);
    for (const std::string& part : {prompts + "\nbuilding book...\npgn file not found!\n",
                                    std::string("games = 7 , move_errors = 0 , "), prompts + "book name too long!\n",
                                    prompts + "pgn file name too long!\n"})
        EXPECT_NE(out.find(part), std::string::npos) << part << out;
    EXPECT_EQ(out.find("games = 8"), std::string::npos);
    EXPECT_EQ(weights_of(dir + "/" + long_name), (std::vector<int>{7, 7}));
    EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"Varkon.ini", long_name, "book.dat", "g.pgn", "h.pgn"}));

    for (const char* program : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        out = test::run_engine(program, "build g.pgn", &status, dir);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(out.ends_with("name of the book file              \t\t: ")) << out;
    }
}

// The tables are released before the questions and allocated again after the build, also
// when it fails; the new book becomes the book only when it was built.
TEST_F(Book, TablesAreReleasedForTheBuild) {
    static SearchPolicy noting = *varkon_program().search;
    noting.tables.release = note_free;
    noting.tables.allocate = note_allocate;
    static Program with_tables = varkon_program();
    with_tables.search = &noting;
    init_program(with_tables);
    set_message_output(collect_said);   // the start-up put back the standard output
    table_calls.clear();
    write_bytes(dir + "/t.pgn", "1. e4 *\n");
    const std::filesystem::path old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    const struct { const char* answers; std::vector<std::string> calls; bool ready; int min; } runs[] = {
        {"missing.pgn t.dat 2 0", {"free", "allocate"}, false, 2},
        {"t.pgn t.dat 1000 0", {"free", "allocate after book"}, true, 100},
        {"t.pgn t.dat -5 0", {"free", "allocate after book"}, true, 1},
    };
    for (const auto& run : runs) {
        table_calls.clear();
        std::filesystem::remove("t.dat");
        book_options.name = "old.dat";
        unread_line(run.answers);
        EXPECT_EQ(test::capture_stdout(book_build).ends_with("\n\nready!\n"), run.ready);
        EXPECT_EQ(table_calls, run.calls);
        EXPECT_EQ(book_options.name, run.ready ? "t.dat" : "old.dat");
        EXPECT_EQ(book_options.min_played, run.min);
    }
    std::filesystem::current_path(old);
    EXPECT_EQ(said_by([] { EXPECT_FALSE(set_book_name("") || set_book_name(std::string(PATH_MAX, 'z'))); }),
              "no book name!\nbook name too long!\n");
    EXPECT_TRUE(set_book_name(std::string(PATH_MAX - 1, 'z')));
}
