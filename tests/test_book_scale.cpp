// The book builder at the sizes users build books from: counting spilled to sorted runs
// gives the book built in memory (and today's books, byte for byte); damaged collections
// are read to their end with what was passed over counted; a build stopped in any phase,
// in-process, by Ctrl-C or by "quit" at a terminal, keeps the book and leaves no
// temporary files; progress on a terminal and elsewhere.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

#include "book/book.h"
#include "core/notation.h"
#include "core/messages.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

std::string read_file(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// FNV-1a, 64 bits: a fingerprint of a book's bytes.
std::uint64_t fingerprint(const std::string& bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return h;
}

// Every name under `dir`, at any depth.
std::vector<std::string> all_names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        names.push_back(std::filesystem::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

bool any_name_has(const std::string& dir, const std::string& part) {
    for (const std::string& n : all_names(dir))
        if (n.find(part) != std::string::npos) return true;
    return false;
}

std::string said;

// The stop request of the build under test.
std::function<bool()> stop_when;
bool stop_requested() { return stop_when && stop_when(); }

class BookScale : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        set_message_output([](const char* line) { said += line; });
    }
    void TearDown() override {
        set_message_output(nullptr);
        book_build_end();
        stop_when = nullptr;
        test::use_varkon();
    }
    // Builds `book` in dir from the file `pgn`; what it printed.
    std::string build(const std::string& pgn, const std::string& book, int min_count, std::size_t memory,
                      bool in_place = false) {
        BookBuildOptions o;
        o.memory = memory;
        o.progress_in_place = in_place;
        o.stop = stop_requested;
        said.clear();
        built = build_book(pgn, dir + "/" + book, min_count, o, &counts);
        return said;
    }
    std::string text_file(const std::string& name, const std::string& text) {
        work.write(name, text);
        return work.file(name);
    }

    const test::WorkDir work;
    const std::string dir = work.path();
    BookBuildCounts counts;
    bool built = false;
};

constexpr std::size_t KB = 1024;

}  // namespace

// However small the memory, the book is the one built in memory: with runs merged in one
// pass and in several. Books are those of the builder before runs existed, byte for byte.
TEST_F(BookScale, SpilledRunsGiveTheBookBuiltInMemory) {
    const std::string selfplay = TEST_DATA_DIR "/selfplay-games.pgn";
    const struct { int min_count; std::uint64_t fingerprint; std::size_t records; } books[] = {
        {1, 0x978aceba993e826bULL, 45429},
        {3, 0x18f9eb639f0cbbc0ULL, 728},
    };
    for (const auto& b : books) {
        std::string in_memory;
        for (const std::size_t memory : {BOOK_BUILD_MEMORY, 512 * KB, 64 * KB}) {
            build(selfplay, "book.dat", b.min_count, memory);
            ASSERT_TRUE(built) << said;
            const std::string bytes = read_file(dir + "/book.dat");
            EXPECT_EQ(bytes.size(), b.records * 16);
            EXPECT_EQ(fingerprint(bytes), b.fingerprint) << "memory " << memory;
            EXPECT_EQ(counts.games, 900);
            EXPECT_LE(counts.peak_memory, memory);
            if (memory == BOOK_BUILD_MEMORY) {
                EXPECT_EQ(counts.runs, 0);
                in_memory = bytes;
            } else {
                EXPECT_GT(counts.runs, memory == 64 * KB ? 20 : 1);  // merged in passes / at once
                EXPECT_TRUE(bytes == in_memory);
            }
            EXPECT_EQ(all_names(dir), std::vector<std::string>{"book.dat"});
        }
    }
}

// Counts of one pair in several runs add up; within a bucket a pair keeps the place of its
// first count, wherever the runs sorted it. A run that cannot be written ends the build
// rather than losing its pairs.
TEST_F(BookScale, RunsKeepCountsAndFirstPlaces) {
    auto add = [](HashKey k, const char* m) {
        return book_add(static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k >> 32), parse_square(m),
                        parse_square(m + 2));
    };
    const HashKey later_sorted = 7 + 5000ULL * 1000000007ULL, earlier_sorted = 7;  // both in bucket 7
    HashKey filler = 1;  // pairs counted once, below the minimum
    auto fill = [&](int n) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(add(filler += 5000 * 7 + 1, "g1f3"));
    };
    BookBuildOptions small;
    small.memory = KB;  // the smallest table: a run every 48 pairs
    ASSERT_TRUE(book_build_begin(dir + "/book.dat", 2, small));
    ASSERT_TRUE(add(later_sorted, "e2e4"));
    fill(100);
    ASSERT_TRUE(add(earlier_sorted, "d2d4"));
    for (int i = 0; i < 699; ++i) {
        ASSERT_TRUE(add(later_sorted, "e2e4"));
        fill(i % 3);
    }
    ASSERT_TRUE(add(earlier_sorted, "d2d4"));
    ASSERT_TRUE(book_write(&counts));
    book_build_end();
    EXPECT_GT(counts.runs, 10);
    ASSERT_EQ(read_file(dir + "/book.dat").size(), 32u);
    const std::string bytes = read_file(dir + "/book.dat");
    const BookRecord first = decode_book_record(reinterpret_cast<const unsigned char*>(bytes.data()));
    const BookRecord second = decode_book_record(reinterpret_cast<const unsigned char*>(bytes.data() + 16));
    EXPECT_EQ(first.key_high, later_sorted >> 32);
    EXPECT_EQ(first.key_low, static_cast<std::uint32_t>(later_sorted));
    EXPECT_EQ(first.weight, 700);
    EXPECT_EQ(second.key_high, 0u);
    EXPECT_EQ(second.key_low, 7u);
    EXPECT_EQ(second.weight, 2);
    EXPECT_EQ(all_names(dir), std::vector<std::string>{"book.dat"});

    std::filesystem::remove(dir + "/book.dat");
    ASSERT_TRUE(book_build_begin(dir + "/book.dat", 1, small));
    for (const std::string& name : all_names(dir)) std::filesystem::remove(dir + "/" + name);  // the temporary directory
    said.clear();
    bool counted = true;
    for (int i = 0; i < 100 && counted; ++i) counted = add(filler += 5000, "g1f3");
    EXPECT_FALSE(counted);
    EXPECT_EQ(said, "can't write temp file!\n");
    EXPECT_FALSE(add(filler += 5000, "g1f3"));  // the build is over
    EXPECT_FALSE(book_write(&counts));
    book_build_end();
    EXPECT_TRUE(all_names(dir).empty());
}

// A truncated last game, a 10 MB comment, a 1 MB line and a 1 MB token, a comment never
// closed, bytes in no known encoding: every game is read, the moves that can be are
// counted (the book of the plain games), and what was passed over is reported.
TEST_F(BookScale, DamagedCollectionsAreReadToTheEnd) {
    std::string comment;
    while (comment.size() < 10'000'000) comment += "a long comment, 1-0 [x] ( ) 2. Nf3\n[%clk 0:01:00] ";
    const std::string bad =
        "[Event \"a\"]\n[White \"M\xfcller\"]\n\n1. e4 e5 {" + comment + "} 2. Nf3 Nc6 *\n\n"
        "[Event \"b\"]\n[Site \"" + std::string(1 << 20, 'y') + "\"]\n\n1. d4 " + std::string(1 << 20, 'N') +
        " d5 {never closed\n\n"
        "[Event \"c\"]\n\n1. c4 \xff\xfe *\n\n"
        "[Event \"d\"]\n\n1. e4 c5 2. Nf";
    const std::string plain = "1. e4 e5 2. Nf3 Nc6 *\n1. d4 d5 *\n1. c4 *\n1. e4 c5 *\n";
    build(text_file("plain.pgn", plain), "plain.dat", 1, BOOK_BUILD_MEMORY);
    ASSERT_TRUE(built);
    const std::string out = build(text_file("bad.pgn", bad), "bad.dat", 1, BOOK_BUILD_MEMORY);
    ASSERT_TRUE(built) << out;
    EXPECT_TRUE(read_file(dir + "/bad.dat") == read_file(dir + "/plain.dat"));
    EXPECT_EQ(counts.games, 4);
    EXPECT_EQ(counts.move_errors, 3);  // the 1 MB token, the stray bytes, the cut move
    EXPECT_EQ(counts.games_without_result, 2);
    EXPECT_EQ(counts.open_comments, 1);
    EXPECT_EQ(counts.long_tokens, 1);
    EXPECT_EQ(counts.bad_text_lines, 2);
    EXPECT_NE(out.find("games = 4 , move_errors = 3 , 100% of the file , "), std::string::npos) << out;
    EXPECT_NE(out.find("\nskipped: 2 games without a result, 1 comment never closed, 1 token too long for a move, "
                       "2 lines not in UTF-8\n"),
              std::string::npos)
        << out;
    // Text in UTF-16 is refused whole; the book there stays.
    std::string utf16 = "\xff\xfe";
    for (const char c : std::string("[Event \"u\"]\n\n1. e4 e5 *\n")) utf16 += std::string{c, '\0'};
    EXPECT_NE(build(text_file("utf16.pgn", utf16), "plain.dat", 1, BOOK_BUILD_MEMORY).find("pgn file is in UTF-16, not read!\n"),
              std::string::npos);
    EXPECT_FALSE(built);
    EXPECT_TRUE(read_file(dir + "/bad.dat") == read_file(dir + "/plain.dat"));
}

// A build stopped while it reads (with runs on disk) or while it writes the book leaves the
// book as it was and nothing else behind.
TEST_F(BookScale, StoppedBuildKeepsTheBook) {
    const std::string selfplay = TEST_DATA_DIR "/selfplay-games.pgn";
    work.write("book.dat", "the old book");
    const std::vector<std::string> before = all_names(dir);
    const struct { const char* when; std::function<bool()> stop; } cases[] = {
        {"reading, runs written", [&] { return any_name_has(dir, "tempfile_"); }},
        {"writing the book", [&] { return any_name_has(dir, ".part"); }},
    };
    for (const auto& c : cases) {
        stop_when = c.stop;
        const std::string out = build(selfplay, "book.dat", 1, 64 * KB);
        EXPECT_FALSE(built) << c.when;
        EXPECT_TRUE(counts.interrupted) << c.when;
        EXPECT_NE(out.find("build stopped: book file kept!\n"), std::string::npos) << c.when << out;
        EXPECT_EQ(work.read("book.dat"), "the old book");
        EXPECT_EQ(all_names(dir), before) << c.when;
    }
}

// On a terminal the progress line rewrites itself with the share of the file read going
// up; elsewhere plain lines only.
TEST_F(BookScale, ProgressLines) {
    const std::string selfplay = TEST_DATA_DIR "/selfplay-games.pgn";
    int blocks = 0;
    stop_when = [&] {  // a slow reader: each block of the file takes 120 ms
        if (++blocks < 20) std::this_thread::sleep_for(std::chrono::milliseconds(120));
        return false;
    };
    const std::string out = build(selfplay, "book.dat", 1, BOOK_BUILD_MEMORY, true);
    ASSERT_TRUE(built);
    std::vector<int> shares;
    for (std::size_t at = 0; (at = out.find("% of the file , ", at)) != std::string::npos; ++at) {
        std::size_t start = out.rfind(" , ", at - 1);
        shares.push_back(std::stoi(out.substr(start + 3, at - start - 3)));
        const std::size_t end = out.find_first_of("\r\n", at);
        EXPECT_EQ(out[end], '\r');
    }
    ASSERT_GE(shares.size(), 3u) << out;
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_LT(shares.front(), 100);
    EXPECT_EQ(shares.back(), 100);
    EXPECT_NE(out.find("games = 900 , move_errors = 0 , 100% of the file , "), std::string::npos);
    EXPECT_NE(out.find("write: 5000 / 5000\t book_moves = 45429\r"), std::string::npos) << out;

    stop_when = nullptr;
    const std::string plain = build(selfplay, "book.dat", 1, BOOK_BUILD_MEMORY, false);
    EXPECT_EQ(plain.find('\r'), std::string::npos);
    EXPECT_EQ(test::count(plain, "% of the file"), 1);
}

namespace {

// A collection the programs take many seconds to read: one game over and over.
void write_big_collection(const test::WorkDir& work) {
    const std::string all = read_file(TEST_DATA_DIR "/selfplay-games.pgn");
    const std::string game = all.substr(0, all.find("[Event ", 1));
    std::string text;
    text.reserve(game.size() * 60000);
    for (int i = 0; i < 60000; ++i) text += game;
    work.write("big.pgn", text);
    work.write("book.dat", "the old book");
}

const char* const answers = "build\nbig.pgn\nbook.dat\n1\n0\n";

}  // namespace

// Ctrl-C during a build: the book stays, the temporary files go, and the program ends as
// the signal ends it.
TEST(BookScaleProgram, CtrlCStopsABuild) {
    const test::WorkDir work;
    write_big_collection(work);
    test::EngineProcess p(VARKON_BIN, work.path());
    p.send(answers);
    ASSERT_TRUE(p.wait_for("building book...\n"));
    ASSERT_EQ(kill(p.pid(), SIGINT), 0);
    const auto start = test::Clock::now();
    EXPECT_EQ(p.wait_exit(20000), -1);  // ended by the signal
    EXPECT_LT(test::millis_since(start), 15000);
    EXPECT_NE(p.output().find("build stopped: book file kept!"), std::string::npos) << p.output();
    EXPECT_EQ(work.read("book.dat"), "the old book");
    EXPECT_EQ(all_names(work.path()), (std::vector<std::string>{"big.pgn", "book.dat"}));
}

// "quit" typed at a terminal during a build ends it and then the program; the progress
// meanwhile rewrites one line.
TEST(BookScaleProgram, QuitAtATerminalStopsABuild) {
    const test::WorkDir work;
    write_big_collection(work);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int t = open(terminal.c_str(), O_RDWR);
        if (t < 0 || chdir(work.path().c_str()) != 0) _exit(126);
        dup2(t, 0), dup2(t, 1), dup2(t, 2);
        execl(VARKON_BIN, VARKON_BIN, static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    auto read_until = [&](const std::string& needle, int ms) {
        const auto start = test::Clock::now();
        while (out.find(needle) == std::string::npos && test::millis_since(start) < ms) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out.find(needle) != std::string::npos;
    };
    ASSERT_EQ(write(master, answers, std::strlen(answers)), static_cast<ssize_t>(std::strlen(answers)));
    EXPECT_TRUE(read_until("% of the file , ", 20000)) << out;
    ASSERT_EQ(write(master, "quit\n", 5), 5);
    EXPECT_TRUE(read_until("build stopped: book file kept!", 20000)) << out;
    int status = -1;
    for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) == 0; ++i) read_until("never", 50);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // The progress line ends with a bare carriage return; line ends reach a terminal as CR LF.
    const std::size_t line_end = out.find(" s", out.find("% of the file , ")) + 2;
    EXPECT_EQ(out[line_end], '\r') << out;
    EXPECT_NE(out[line_end + 1], '\n') << out;
    EXPECT_EQ(work.read("book.dat"), "the old book");
    EXPECT_EQ(all_names(work.path()), (std::vector<std::string>{"big.pgn", "book.dat"}));
}
