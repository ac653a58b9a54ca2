// The book builder: books read back record by record, the console dialogue of both
// programs, the temporary files, and PGN as it is found in the wild.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "apps/programs.h"
#include "book/book.h"
#include "core/input.h"
#include "core/moves.h"
#include "support/book_files.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

using Pair = std::tuple<std::uint32_t, std::uint32_t, int, int>;

Pair pair_of(const BookRecord& r) { return {r.key_low, r.key_high, r.from, r.to}; }

// The first `count` games of a PGN file, as text.
std::string first_games(const std::string& path, int count) {
    const std::string all = test::read_bytes(path);
    std::size_t at = 0;
    for (int i = 0; i < count && at != std::string::npos; ++i) at = all.find("[Event ", at + 1);
    return all.substr(0, at);
}

// Build arguments for the in-process builder, run with its output captured.
std::string build_pgn, build_target;
int build_min = 1, build_limit = 0;
BookBuildCounts build_counts;
bool build_ok = false;
void run_build() { build_ok = build_book(build_pgn, build_target, build_min, build_limit, &build_counts); }
int write_count = -1;
void run_write() { build_ok = book_write(&write_count); }

class BookBuild : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        dir = test::make_temp_dir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        book_build_end();
        test::remove_tree(dir);
    }
    // Builds `book` (in dir) from PGN text; returns the printed output.
    std::string build(const std::string& pgn_text, const std::string& book, int min_count, int limit = 0) {
        test::write_bytes(dir + "/games.pgn", pgn_text);
        build_pgn = dir + "/games.pgn";
        build_target = dir + "/" + book;
        build_min = min_count;
        build_limit = limit;
        return test::capture_stdout(run_build);
    }
    std::vector<BookRecord> book(const std::string& name) { return test::read_book(dir + "/" + name); }

    std::string dir;
};

}  // namespace

TEST_F(BookBuild, TwoIdenticalGames) {
    const std::string game = first_games(TEST_DATA_DIR "/selfplay-games.pgn", 1);
    // The pairs of the game's first 60 half-moves, replayed here.
    std::map<Pair, int> expected;
    {
        std::istringstream words(game.substr(game.find("\n1.")));
        new_game();
        for (std::string w; words >> w && game_ply <= 60;) {
            if (std::isdigit(static_cast<unsigned char>(w[0]))) continue;
            const int i = find_san_move(w.c_str());
            ASSERT_NE(i, 0) << w;
            const HashKey k = hash_history[game_ply];
            expected[{static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k >> 32), move_stack[i].from,
                      move_stack[i].to}] += 2;
            play_move(i);
        }
    }
    ASSERT_EQ(game_ply, 61);
    build(game + "\n" + game, "two.dat", 2);
    EXPECT_TRUE(build_ok);
    EXPECT_EQ(build_counts.games, 2);
    EXPECT_EQ(build_counts.move_errors, 0);
    const std::vector<BookRecord> recs = book("two.dat");
    EXPECT_EQ(build_counts.book_moves, static_cast<int>(recs.size()));
    std::map<Pair, int> got;
    int last_bucket = 0;
    for (const BookRecord& r : recs) {
        EXPECT_TRUE(got.insert({pair_of(r), r.weight}).second) << "a pair written twice";
        const int bucket = static_cast<int>(((static_cast<HashKey>(r.key_high) << 32) | r.key_low) % 5000);
        EXPECT_GE(bucket, last_bucket) << "records grouped by bucket in bucket order";
        last_bucket = bucket;
    }
    EXPECT_EQ(got, expected);

    build(game + "\n" + game, "three.dat", 3);
    EXPECT_TRUE(build_ok);
    EXPECT_EQ(test::read_bytes(dir + "/three.dat"), "");  // created, and empty
    EXPECT_EQ(build_counts.book_moves, 0);
}

TEST_F(BookBuild, PairSpilledTwiceIsMergedIntoOneRecord) {
    const HashKey x = 0x0000000100000007ULL;  // every key below lands in the bucket of x
    auto add = [](HashKey k, const char* from_to) {
        book_add(static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k >> 32), parse_square(from_to),
                 parse_square(from_to + 2));
    };
    ASSERT_TRUE(book_build_begin(dir + "/spill.dat", 2));
    add(x, "e2e4");
    for (int i = 1; i < 500; ++i) add(x + 5000ULL * i, "d2d4");  // the 500th record spills the bucket
    std::vector<std::string> names = test::list_dir(dir);
    ASSERT_EQ(names.size(), 1u);  // the private directory of the temporary files
    const std::string temp = dir + "/" + names[0];
    const std::string spill_file = temp + "/tempfile_" + std::to_string(x % 5000 + 1) + ".dat";
    EXPECT_EQ(test::read_bytes(spill_file).size(), 500u * 16);
    add(x, "e2e4");
    for (int i = 500; i < 999; ++i) add(x + 5000ULL * i, "d2d4");
    EXPECT_EQ(test::read_bytes(spill_file).size(), 1000u * 16);
    for (int i = 0; i < 698; ++i) add(x, "e2e4");  // stays in the bucket until the merge
    test::capture_stdout(run_write);
    EXPECT_TRUE(build_ok);
    book_build_end();
    EXPECT_EQ(test::list_dir(dir), std::vector<std::string>{"spill.dat"});
    const std::vector<BookRecord> recs = book("spill.dat");
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(write_count, 1);
    EXPECT_EQ(recs[0].key_low, 7u);
    EXPECT_EQ(recs[0].key_high, 1u);
    EXPECT_EQ(recs[0].weight, 700);
    EXPECT_EQ(recs[0].from, parse_square("e2"));
    EXPECT_EQ(recs[0].to, parse_square("e4"));

    // With minimum 1 every pair stays, in the order of its first occurrence.
    ASSERT_TRUE(book_build_begin(dir + "/all.dat", 1));
    for (int i = 0; i < 1200; ++i) add(x + 5000ULL * (i % 600), "g1f3");
    test::capture_stdout(run_write);
    EXPECT_EQ(write_count, 600);
    const std::vector<BookRecord> all = book("all.dat");
    ASSERT_EQ(all.size(), 600u);
    for (int i = 0; i < 600; ++i) {
        EXPECT_EQ((static_cast<HashKey>(all[i].key_high) << 32 | all[i].key_low), x + 5000ULL * i);
        EXPECT_EQ(all[i].weight, 2);
    }
    book_build_end();
    book_add(1, 2, 31, 51);  // no build in progress: nothing happens
}

TEST_F(BookBuild, GameLimitCountsResults) {
    const std::string ten = first_games(TEST_DATA_DIR "/selfplay-games.pgn", 10);
    const std::string fifteen = first_games(TEST_DATA_DIR "/selfplay-games.pgn", 15);
    build(ten, "ten.dat", 1);
    EXPECT_EQ(build_counts.games, 10);
    build(fifteen, "limit.dat", 1, 10);
    EXPECT_EQ(build_counts.games, 10);
    EXPECT_TRUE(test::read_bytes(dir + "/limit.dat") == test::read_bytes(dir + "/ten.dat"));
    build(fifteen, "all.dat", 1, 0);
    EXPECT_EQ(build_counts.games, 15);
    EXPECT_GT(book("all.dat").size(), book("ten.dat").size());
}

// Comments, variations, annotations, move numbers against their moves, a byte-order mark,
// CR-LF line ends, overlong lines and tokens, games without results: the same book as the
// plain games, and no move errors but the one overlong token.
TEST_F(BookBuild, PgnFromTheWild) {
    const std::string long_tag(20000, 'x'), long_token(300, 'x');
    const std::string messy =
        "\xEF\xBB\xBF[Event \"messy\"]\r\n[Site \"" + long_tag + "\"]\r\n\r\n"
        "1.e4 {a comment about 1-0, 2. Nf3 Nc6 and a ( bracket} e5 2.Nf3!? Nc6?!$2 $14 3.Bb5\r\n"
        "(3.Bc4 Bc5 {nested} (3...Nf6 4.Ng5) 4.c3) 3...a6 4.Ba4 ; a comment to the line end 1-0\r\n"
        "{c} 4... Nf6 5.O-O 1-0\r\n"
        "% an escaped line 0-1\n"
        "\n[Event \"no result\"]\n\n1. d4 d5 2. c4 e6\n"
        "\n[Event \"after it\"]\n\n1. c4 e5 2. " + long_token + " Nc3 (2. Nf3 Nc6 *\n"
        "\n[Event \"last\"]\n[FENCE \"not a FEN tag\"]\n\n1. Nf3 d5 2. g3";
    const std::string plain =
        "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O 1-0\n1. d4 d5 2. c4 e6 *\n"
        "1. c4 e5 2. Nc3 *\n1. Nf3 d5 2. g3 *\n";
    build(messy, "messy.dat", 1);
    EXPECT_EQ(build_counts.games, 4);
    EXPECT_EQ(build_counts.move_errors, 1);
    build(plain, "plain.dat", 1);
    EXPECT_EQ(build_counts.move_errors, 0);
    EXPECT_EQ(build_counts.book_moves, 9 + 4 + 3 + 3);
    EXPECT_TRUE(test::read_bytes(dir + "/messy.dat") == test::read_bytes(dir + "/plain.dat"));

    // A game set up from a FEN position is not replayed from the start position.
    build("[FEN \"8/8/8/8/8/8/8/K1k5 w - - 0 1\"]\n\n1. e4 e5 *\n1. d4 *\n"
          "[SetUp \"1\"]\n[FEN \"8/8/8/8/8/8/8/K1k5 w - - 0 1\"]\n\n1. Kb1\n\n[Event \"next\"]\n1. c4 *\n",
          "fen.dat", 1);
    EXPECT_EQ(build_counts.games, 4);
    EXPECT_EQ(build_counts.move_errors, 0);
    EXPECT_EQ(book("fen.dat").size(), 2u);

    // Published games with annotations build the book of the same games stripped of them.
    const std::string features = test::read_bytes(TEST_DATA_DIR "/pgn-features.pgn");
    build(features, "features.dat", 1);
    EXPECT_EQ(build_counts.games, 12);
    EXPECT_EQ(build_counts.move_errors, 0);
    build(test::read_bytes(TEST_DATA_DIR "/pgn-features-stripped.pgn"), "stripped.dat", 1);
    EXPECT_EQ(build_counts.games, 12);
    EXPECT_GT(build_counts.book_moves, 500);
    EXPECT_TRUE(test::read_bytes(dir + "/features.dat") == test::read_bytes(dir + "/stripped.dat"));
}

TEST_F(BookBuild, TemporaryFilesNeverLeakOrStay) {
    const std::string pgn = "1. e4 e5 2. Nf3 *\n1. e4 c5 *\n";
    build(pgn, "clean.dat", 1);
    const std::string clean = test::read_bytes(dir + "/clean.dat");
    ASSERT_EQ(clean.size(), 4u * 16);

    // Stale files of an interrupted build, in the book's directory and the working one,
    // named for the buckets this build uses.
    new_game();
    const std::string stale = test::book_bytes({{static_cast<std::uint32_t>(hash_history[1]),
                                                 static_cast<std::uint32_t>(hash_history[1] >> 32), 1000, 31, 51}});
    std::set<int> buckets = {1};
    for (const char* move : {"e2e4", "e7e5", "g1f3"}) {
        buckets.insert(static_cast<int>(hash_history[game_ply] % 5000) + 1);
        ASSERT_EQ(parse_coordinate_move(move), 1);
    }
    const std::string work = dir + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    for (int b : buckets) {
        const std::string name = "/tempfile_" + std::to_string(b) + ".dat";
        test::write_bytes(dir + name, stale);
        test::write_bytes(work + name, stale);
    }
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(work.c_str()), 0);
    build(pgn, "again.dat", 1);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(test::read_bytes(dir + "/again.dat") == clean);
    EXPECT_EQ(test::list_dir(dir).size(), buckets.size() + 4);  // the stale files, games.pgn, work, two books
    EXPECT_EQ(test::list_dir(work).size(), buckets.size());
    EXPECT_TRUE(test::read_bytes(work + "/tempfile_1.dat") == stale);
    test::remove_tree(work);

    // A build that fails half-way leaves no temporary file behind, wherever it put them.
    const std::string tmp = dir + "/tmp";
    ASSERT_EQ(mkdir(tmp.c_str(), 0755), 0);
    const char* saved = std::getenv("TMPDIR");
    const std::string saved_tmp = saved ? saved : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string out = build(pgn, "no/such/dir/book.dat", 1);
    EXPECT_NE(out.find("\ncan't open book file!\n"), std::string::npos) << out;
    EXPECT_FALSE(build_ok);
    EXPECT_TRUE(test::list_dir(tmp).empty());
    // A book name that is a directory: the complete book cannot be renamed into place.
    out = build(pgn, "tmp", 1);
    EXPECT_NE(out.find("can't write book file!\n"), std::string::npos) << out;
    EXPECT_TRUE(test::list_dir(tmp).empty());
    if (saved) setenv("TMPDIR", saved_tmp.c_str(), 1); else unsetenv("TMPDIR");
    for (const std::string& name : test::list_dir(dir)) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
        EXPECT_EQ(name.find(".varkon-book"), std::string::npos) << name;
    }
}

TEST_F(BookBuild, BookIsReplacedWhole) {
    build("1. e4 e5 *\n", "b.dat", 1);
    const std::string old = test::read_bytes(dir + "/b.dat");
    ASSERT_EQ(old.size(), 32u);
    const int fd = open((dir + "/b.dat").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    build(first_games(TEST_DATA_DIR "/selfplay-games.pgn", 20), "b.dat", 1);
    EXPECT_GT(book("b.dat").size(), 500u);
    // A reader of the old book still reads all of it.
    char buf[64];
    EXPECT_EQ(read(fd, buf, sizeof buf), 32);
    EXPECT_TRUE(std::string(buf, 32) == old);
    close(fd);
}

TEST_F(BookBuild, ConsoleDialogue) {
    test::write_bytes(dir + "/g.pgn", "1. e4 e5 *\n1. d4 *\n");
    int status = -1;
    const std::string prompts =
        "name of the pgn file               \t\t: name of the book file              \t\t: "
        "minimum of played moves (1-100)    \t\t: how many games to build (0=all)    \t\t: ";
    std::string out = test::run_engine(VARKON_BIN, "build\ng.pgn\nbook.dat\n1\n0\nquit\n", &status, dir);
    EXPECT_EQ(status, 0);
    const std::string head = "Varkon 5.24\nby Dravenholt\n\n" + prompts +
                             "\nbuilding book...\ngames = 1 , move_errors = 0\rgames = 2 , move_errors = 0\r"
                             "\n\nwriting moves from temp files to book file...\nwrite: ";
    EXPECT_EQ(out.substr(0, head.size()), head) << out;
    const std::string tail = "\t book_moves = 3\r\n\nready!\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
    EXPECT_EQ(test::read_book(dir + "/book.dat").size(), 3u);
    EXPECT_EQ(test::list_dir(dir), (std::vector<std::string>{"book.dat", "g.pgn"}));

    // The minimum is clamped into 1..100: 0 keeps single moves, 1000 asks for 100.
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += "1. e4 e5 *\n";
    test::write_bytes(dir + "/h.pgn", hundred);
    test::write_bytes(dir + "/n.pgn", hundred.substr(11));
    test::run_engine(VARKON_BIN, "build g.pgn zero.dat 0 0 build h.pgn full.dat 1000 0 build n.pgn short.dat 1000 0",
                     &status, dir);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::read_book(dir + "/zero.dat").size(), 3u);
    const std::vector<BookRecord> full = test::read_book(dir + "/full.dat");
    ASSERT_EQ(full.size(), 2u);
    EXPECT_EQ(full[0].weight + full[1].weight, 200);
    EXPECT_TRUE(test::read_book(dir + "/short.dat").empty());

    // Missing PGN, a game limit, the book name bound, and varkon_classic.
    out = test::run_engine(VARKON_CLASSIC_BIN, "build nothing.pgn x.dat 2 0 build h.pgn a_very_long_book_name.dat 1 7 quit",
                           &status, dir);
    EXPECT_EQ(status, 0);
    // varkon_classic reports the sizes of its tables each time it allocates them again.
    const std::string sizes = "SEARCH_HASH \t\t: 1 MB , 65536 entries, size of search_hash = 16\n"
                              "EVAL_HASH  \t\t: 0 MB , 1 entries, size of eval_hash = 16\n"
                              "PAWN_HASH   \t\t: 0 MB , 1 entries, size of pawn_hash = 16\n\n";
    EXPECT_NE(out.find(prompts + "\nbuilding book...\npgn file not found!\n" + sizes + prompts), std::string::npos)
        << out;
    EXPECT_NE(out.find("games = 7 , move_errors = 0\r\n"), std::string::npos);
    EXPECT_EQ(out.find("games = 8"), std::string::npos);
    EXPECT_EQ(test::read_book(dir + "/a_very_long_boo").size(), 2u);  // 15 characters

    // End of input in the middle of the questions ends the program cleanly.
    out = test::run_engine(VARKON_BIN, "build g.pgn", &status, dir);
    EXPECT_EQ(status, 0);
    const std::string book_prompt = "name of the book file              \t\t: ";
    ASSERT_GE(out.size(), book_prompt.size());
    EXPECT_EQ(out.substr(out.size() - book_prompt.size()), book_prompt);
}

namespace {
std::vector<std::string> table_calls;
std::string table_book;
void note_free() { table_calls.push_back("free"); }
void note_allocate() { table_calls.push_back(access(table_book.c_str(), F_OK) == 0 ? "allocate after book" : "allocate"); }
void run_dialogue() { book_build(); }
}  // namespace

TEST_F(BookBuild, TablesAreReleasedForTheBuild) {
    static Program with_tables = varkon_program();
    with_tables.free_tables = note_free;
    with_tables.allocate_tables = note_allocate;
    init_program(with_tables);
    table_book = dir + "/t.dat";
    test::write_bytes(dir + "/t.pgn", "1. e4 *\n");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved_stdin = dup(0);
    dup2(fds[0], 0);
    const std::string answers = "missing.pgn t.dat 2 0\n" + dir + "/t.pgn " + table_book.substr(dir.size() + 1) + " 1 0\n";
    ASSERT_EQ(write(fds[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    table_calls.clear();
    std::string out = test::capture_stdout(run_dialogue);
    EXPECT_EQ(table_calls, (std::vector<std::string>{"free", "allocate"}));
    EXPECT_EQ(out.find("ready!"), std::string::npos);
    table_calls.clear();
    out = test::capture_stdout(run_dialogue);
    EXPECT_EQ(table_calls, (std::vector<std::string>{"free", "allocate after book"}));
    EXPECT_NE(out.find("\n\nready!\n"), std::string::npos);
    EXPECT_EQ(book_name, "t.dat");
    EXPECT_EQ(min_played, 1);
    ASSERT_EQ(chdir(cwd), 0);
    dup2(saved_stdin, 0);
    close(saved_stdin);
    close(fds[0]);
    close(fds[1]);
    book_name = "book.dat";
    test::use_varkon();
}

namespace {
std::string failing_dir;
HashKey failing_key = 0x0000000200000009ULL;
void add_bucket_full(int n) {
    for (int i = 0; i < n; ++i)
        book_add(static_cast<std::uint32_t>(failing_key + 5000ULL * i), static_cast<std::uint32_t>((failing_key + 5000ULL * i) >> 32), 31, 41);
}
}  // namespace

// A spill that cannot open its file loses that spill; a temporary file that is gone at the
// merge loses its bucket; the build goes on either way and cleans up after itself.
TEST_F(BookBuild, SpillAndMergeFailuresAreReported) {
    ASSERT_TRUE(book_build_begin(dir + "/f.dat", 1));
    std::vector<std::string> names = test::list_dir(dir);
    ASSERT_EQ(names.size(), 1u);
    failing_dir = dir + "/" + names[0];
    ASSERT_EQ(rmdir(failing_dir.c_str()), 0);
    EXPECT_EQ(test::capture_stdout([] { add_bucket_full(500); }), "can't open temp file! \n");
    ASSERT_EQ(mkdir(failing_dir.c_str(), 0700), 0);
    EXPECT_EQ(test::capture_stdout([] { add_bucket_full(500); }), "");  // spilled this time
    const std::string spilled = failing_dir + "/tempfile_" + std::to_string(failing_key % 5000 + 1) + ".dat";
    EXPECT_EQ(test::read_bytes(spilled).size(), 500u * 16);
    ASSERT_EQ(unlink(spilled.c_str()), 0);
    book_add(5, 0, 31, 51);  // another bucket, still in memory
    book_spill(0);
    book_spill(5001);  // no such buckets: nothing happens
    const std::string out = test::capture_stdout(run_write);
    EXPECT_NE(out.find("book_moves = 1\rcan't open temp file!\n"), std::string::npos) << out;
    EXPECT_TRUE(build_ok);
    EXPECT_EQ(write_count, 1);
    book_build_end();
    EXPECT_EQ(test::list_dir(dir), std::vector<std::string>{"f.dat"});
    EXPECT_EQ(test::read_book(dir + "/f.dat").size(), 1u);
}
