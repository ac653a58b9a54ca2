// varkon_classic's hash tables: sizing and its report, the three-entry search table
// (replacement, mate scores, null-move hint, move lookups, PV moves), clearing, and
// running short of memory.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "search/hash_classic.h"
#include "search/search.h"
#include "support/engine_setup.h"

using namespace varkon;
namespace hc = varkon::hash_classic;

namespace {

class HashClassic : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_classic();
        hc::allocate(2);
        hc::wipe();
    }
};

// A key whose index in a table of 65536 entries is `index`; `tag` tells keys apart.
HashKey key_at(std::uint32_t index, std::uint32_t tag) {
    return (static_cast<HashKey>(tag) << 32) | (static_cast<HashKey>(tag) << 16) | index;
}

std::string size_lines(int search_mb, std::size_t search_n, int eval_mb, std::size_t eval_n) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "SEARCH_HASH \t\t: %d MB , %zu entries, size of search_hash = 16\n"
                  "EVAL_HASH  \t\t: %d MB , %zu entries, size of eval_hash = 16\n"
                  "PAWN_HASH   \t\t: %d MB , %zu entries, size of pawn_hash = 16\n\n",
                  search_mb, search_n, eval_mb, eval_n, eval_mb, eval_n);
    return buf;
}

}  // namespace

TEST_F(HashClassic, SizeLinesForSeveralHashValues) {
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(2); }), size_lines(1, 65536, 0, 1));
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(16); }), size_lines(8, 524288, 4, 262144));
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(64); }), size_lines(32, 2097152, 16, 1048576));
    EXPECT_EQ(hc::hash_mb(), 64);
    // Shares that are no power of two are cut down: 50 MB -> 32 MB, 25 MB -> 16 MB.
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(100); }), size_lines(32, 2097152, 16, 1048576));
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(512); }), size_lines(256, 16777216, 128, 8388608));
    EXPECT_EQ(hc::search_entries(), 16777216u);
    EXPECT_EQ(hc::eval_entries(), 8388608u);
    EXPECT_EQ(hc::pawn_entries(), 8388608u);
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(2); }), size_lines(1, 65536, 0, 1));
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(0); }), size_lines(0, 1, 0, 1));
    // Released tables keep working on their single built-in entry.
    hc::release();
    hc::eval_store(12345, 77);
    EXPECT_EQ(hc::eval_probe(12345), 77);
    hc::store(99, 5, -100, 100, 4, 31, 41, false);
    EXPECT_EQ(hc::probe(99, -100, 100, 4, 0, 8).score, 5);
}

TEST_F(HashClassic, StoreTakesTheFirstOfThreeEntriesNotDeeper) {
    const std::uint32_t index = 0x1234;
    const HashKey a = key_at(index, 1), b = key_at(index, 2), c = key_at(index, 3), d = key_at(index, 4),
                  e = key_at(index, 5), f = key_at(index, 6);
    const auto full = stats.hash_full;
    hc::store(a, 10, -100, 100, 5, 31, 41, false);  // entry 0
    hc::store(b, 20, -100, 100, 3, 32, 42, false);  // entry 0 deeper: entry 1
    hc::store(c, 30, -100, 100, 4, 33, 43, false);  // replaces b
    EXPECT_EQ(hc::probe(b, -100, 100, 0, 0, 8).from, 0);
    EXPECT_EQ(hc::probe(c, -100, 100, 4, 0, 8).score, 30);
    hc::store(d, 40, -100, 100, 6, 34, 44, false);  // entry 0 is not deeper: replaces a
    EXPECT_EQ(hc::probe(a, -100, 100, 0, 0, 8).score, hc::NO_SCORE);
    hc::store(e, 50, -100, 100, 2, 35, 45, false);  // entries 0, 1 deeper: entry 2
    hc::store(f, 60, -100, 100, 1, 36, 46, false);  // all three deeper: nothing
    EXPECT_EQ(hc::probe(f, -100, 100, 0, 0, 8).from, 0);
    EXPECT_EQ(hc::probe(d, -100, 100, 6, 0, 8).score, 40);
    EXPECT_EQ(hc::probe(e, -100, 100, 2, 0, 8).score, 50);
    EXPECT_EQ(stats.hash_full, full + 3);
    // The three entries of the next index overlap: its first is entry 1 here (c).
    hc::store(key_at(index + 1, 7), 70, -100, 100, 9, 0, 0, false);
    EXPECT_EQ(hc::probe(c, -100, 100, 0, 0, 8).from, 0);
    EXPECT_EQ(hc::probe(e, -100, 100, 2, 0, 8).score, 50);
    EXPECT_EQ(stats.hash_full, full + 3);
    // Depths are kept in 8 bits.
    hc::store(key_at(9, 1), 15, -100, 100, 400, 0, 0, false);
    EXPECT_EQ(hc::probe(key_at(9, 1), -100, 100, 300, 0, 8).score, 15);
}

TEST_F(HashClassic, LookupAnswersByDepthAndBound) {
    const HashKey exact = key_at(1, 1), lower = key_at(2, 1), upper = key_at(3, 1);
    hc::store(exact, 25, 0, 100, 8, 31, 41, false);
    hc::store(lower, 150, 0, 100, 8, 32, 42, false);
    hc::store(upper, -20, 0, 100, 8, 33, 43, false);
    hc::Probe p = hc::probe(exact, 40, 60, 9, 0, 8);  // too shallow: only the move
    EXPECT_EQ(p.score, hc::NO_SCORE);
    EXPECT_EQ(p.from, 31);
    EXPECT_EQ(p.to, 41);
    EXPECT_EQ(hc::probe(exact, 40, 60, 8, 0, 8).score, 25);
    EXPECT_EQ(hc::probe(lower, 0, 150, 8, 0, 8).score, 150);
    EXPECT_EQ(hc::probe(lower, 0, 151, 8, 0, 8).score, hc::NO_SCORE);
    EXPECT_EQ(hc::probe(upper, -20, 10, 8, 0, 8).score, -20);
    EXPECT_EQ(hc::probe(upper, -21, 10, 8, 0, 8).score, hc::NO_SCORE);
    const hc::Probe missing = hc::probe(key_at(4, 1), -100, 100, 0, 0, 8);
    EXPECT_EQ(missing.score, hc::NO_SCORE);
    EXPECT_EQ(missing.from, 0);
    EXPECT_FALSE(missing.avoid_null);
}

TEST_F(HashClassic, MateScoresAreKeptOnlyWhenExactAndReadAtTheProbingPly) {
    const HashKey win = key_at(10, 1), loss = key_at(11, 1), bound = key_at(12, 1);
    hc::store(win, 31990, -32000, 32000, 6, 31, 41, false);
    hc::store(loss, -31985, -32000, 32000, 6, 0, 0, false);
    EXPECT_EQ(hc::probe(win, -32000, 32000, 6, 7, 8).score, 32000 - 7);
    EXPECT_EQ(hc::probe(win, -32000, 32000, 6, 2, 8).score, 32000 - 2);
    EXPECT_EQ(hc::probe(loss, -32000, 32000, 6, 4, 8).score, 4 - 31999);
    // A mate score outside the window is a bound: not stored at all.
    hc::store(bound, 31990, -100, 100, 6, 31, 41, false);
    hc::store(bound, -31990, -100, 100, 6, 31, 41, false);
    EXPECT_EQ(hc::probe(bound, -32000, 32000, 0, 0, 8).from, 0);
    // 31000 itself is no mate score beyond the bound and goes in as it is.
    hc::store(bound, 30999, -32000, 32000, 6, 0, 0, false);
    EXPECT_EQ(hc::probe(bound, -32000, 32000, 6, 3, 8).score, 30999);
}

TEST_F(HashClassic, UpperBoundTellsTheNullMoveIsPointless) {
    const HashKey key = key_at(20, 1);
    hc::store(key, -50, 0, 100, 10, 31, 41, true);  // fails low: UPPER_BOUND
    const auto avoided = stats.avoid_nullmoves;
    hc::Probe p = hc::probe(key, -300, 0, 18, 3, 8);  // 10 >= 18 - 8, -50 < 0
    EXPECT_EQ(p.score, hc::NO_SCORE);
    EXPECT_TRUE(p.avoid_null);
    EXPECT_TRUE(p.threat);
    EXPECT_EQ(stats.avoid_nullmoves, avoided + 1);
    EXPECT_FALSE(hc::probe(key, -300, 0, 19, 3, 8).avoid_null);    // not deep enough
    EXPECT_FALSE(hc::probe(key, -300, -50, 18, 3, 8).avoid_null);  // not below beta
    EXPECT_EQ(hc::probe(key, -50, 0, 10, 3, 8).score, -50);        // a usable score instead
    EXPECT_EQ(stats.avoid_nullmoves, avoided + 1);
    hc::store(key_at(21, 1), 500, 0, 100, 10, 31, 41, true);  // LOWER_BOUND: no hint
    EXPECT_FALSE(hc::probe(key_at(21, 1), -300, 1000, 18, 3, 8).avoid_null);
    hc::store(key_at(22, 1), -50, 0, 100, 10, 31, 41, false);
    p = hc::probe(key_at(22, 1), -300, 0, 18, 3, 8);
    EXPECT_TRUE(p.avoid_null);
    EXPECT_FALSE(p.threat);
}

TEST_F(HashClassic, MoveLookupAndPrincipalVariation) {
    const std::uint32_t index = 40;
    const HashKey first = key_at(index, 1), second = key_at(index, 2);
    hc::store(first, 10, -100, 100, 8, 31, 41, false);
    hc::store(second, 20, -100, 100, 4, 32, 42, false);  // entry 1
    const auto found = stats.hmoves_count;
    int from = 0, to = 0;
    EXPECT_TRUE(hc::probe_move(first, from, to));
    EXPECT_EQ(from, 31);
    EXPECT_EQ(to, 41);
    EXPECT_FALSE(hc::probe_move(second, from, to));  // only the first entry is read
    EXPECT_EQ(stats.hmoves_count, found + 1);

    // The same key and move in the first entry: left as it is.
    hc::store_pv_move(first, 31, 41);
    EXPECT_EQ(hc::probe(first, -100, 100, 8, 0, 8).score, 10);
    // Another move: written as a shallow upper bound of 0, whatever stood there.
    hc::store_pv_move(first, 35, 55);
    hc::Probe p = hc::probe(first, 0, 100, 0, 0, 8);
    EXPECT_EQ(p.score, 0);
    EXPECT_EQ(p.from, 35);
    EXPECT_EQ(p.to, 55);
    EXPECT_EQ(hc::probe(first, -100, 100, 1, 0, 8).score, hc::NO_SCORE);
    const HashKey other = key_at(index, 3);
    hc::store_pv_move(other, 36, 56);
    EXPECT_TRUE(hc::probe_move(other, from, to));
    EXPECT_EQ(from, 36);
    EXPECT_EQ(hc::probe(second, -100, 100, 4, 0, 8).score, 20);
}

TEST_F(HashClassic, CachesCountFirstFillsAndHits) {
    const auto full = stats.evalhash_full, hits = stats.eval_hits;
    const auto pfull = stats.phash_full, phits = stats.phash_hits;
    hc::eval_store(key_at(5, 1), -123);
    hc::eval_store(key_at(5, 1), -124);  // replaces; the entry is not new
    EXPECT_EQ(hc::eval_probe(key_at(5, 1)), -124);
    EXPECT_EQ(hc::eval_probe(key_at(5, 2)), hc::NO_SCORE);
    hc::pawn_store(key_at(6, 1), {-321, 0x81, 0x18});
    hc::PawnInfo info{};
    ASSERT_TRUE(hc::pawn_probe(key_at(6, 1), info));
    EXPECT_EQ(info.score, -321);
    EXPECT_EQ(info.no_pawn_white, 0x81);
    EXPECT_EQ(info.no_pawn_black, 0x18);
    EXPECT_FALSE(hc::pawn_probe(key_at(6, 2), info));
    EXPECT_EQ(stats.evalhash_full, full + 1);
    EXPECT_EQ(stats.eval_hits, hits + 1);
    EXPECT_EQ(stats.phash_full, pfull + 1);
    EXPECT_EQ(stats.phash_hits, phits + 1);
}

TEST_F(HashClassic, ClearEmptiesOnlyTheFirstEntryOfEachTable) {
    const HashKey at_zero = key_at(0, 1), elsewhere = key_at(7, 1);
    hc::store(at_zero, 10, -100, 100, 4, 31, 41, false);
    hc::store(elsewhere, 20, -100, 100, 4, 32, 42, false);
    hc::eval_store(at_zero, 33);
    hc::pawn_store(at_zero, {44, 0x0F, 0xF0});
    hc::clear();
    EXPECT_EQ(hc::probe(at_zero, -100, 100, 4, 0, 8).from, 0);
    EXPECT_EQ(hc::probe(elsewhere, -100, 100, 4, 0, 8).score, 20);
    EXPECT_EQ(hc::eval_probe(at_zero), hc::NO_SCORE);
    hc::PawnInfo info{};
    EXPECT_FALSE(hc::pawn_probe(at_zero, info));
}

#if defined(__SANITIZE_ADDRESS__)
#define VARKON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARKON_ASAN 1
#endif
#endif

TEST_F(HashClassic, ShortOfMemoryTheTablesShrink) {
#if defined(VARKON_ASAN)
    GTEST_SKIP() << "address-space limits and the address sanitizer do not mix";
#else
    // In a child process with little address space to spare, 512 MB cannot be had.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (96u << 20);
        const rlimit rl = {limit, limit};
        if (pages == 0 || setrlimit(RLIMIT_AS, &rl) != 0) _exit(10);
        const std::string out = test::capture_stdout([] { hc::allocate(512); });
        if (out.find("not enough memory for search_hash of 16777216 entries, trying 8388608 entries\n") ==
            std::string::npos)
            _exit(11);
        const std::size_t n = hc::search_entries();
        if (n >= 16777216u || n < 65536u || (n & (n - 1)) != 0) _exit(12);
        if (hc::eval_entries() >= 8388608u || hc::pawn_entries() >= 8388608u) _exit(13);
        char line[128];
        std::snprintf(line, sizeof line, "SEARCH_HASH \t\t: %zu MB , %zu entries", n * 16 / 1048576, n);
        if (out.find(line) == std::string::npos) _exit(14);
        // The smaller tables work, up to their last entry and its spares.
        const HashKey last = n - 1;
        hc::store(last, 42, -100, 100, 6, 31, 41, false);
        hc::store(last | (HashKey{1} << 40), 43, -100, 100, 5, 0, 0, false);
        hc::store(last | (HashKey{2} << 40), 44, -100, 100, 4, 0, 0, false);
        if (hc::probe(last | (HashKey{2} << 40), -100, 100, 4, 0, 8).score != 44) _exit(15);
        hc::pawn_store(12345, {7, 1, 2});
        hc::PawnInfo info{};
        if (!hc::pawn_probe(12345, info) || info.score != 7) _exit(16);
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}
