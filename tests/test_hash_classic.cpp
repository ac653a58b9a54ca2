// varkon_classic's hash tables: sizing and its report, the three-entry search table (mate
// scores, null-move hint, PV moves), clearing, and running short of memory.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "eval/eval_cache_classic.h"
#include "search/hash_classic.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;
namespace hc = varkon::hash_classic;
namespace ec = varkon::eval_cache_classic;

namespace {

class HashClassic : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_classic();
        hc::allocate(2);
        hc::wipe();
    }
    SearchStats stats;   // what the lookups and stores count
};

// A key whose index in a table of 65536 entries is `index`; `tag` tells keys apart.
HashKey key_at(std::uint32_t index, std::uint32_t tag) {
    return (static_cast<HashKey>(tag) << 32) | (static_cast<HashKey>(tag) << 16) | index;
}

}  // namespace

TEST_F(HashClassic, SizesAndReleasedTables) {
    // Shares that are no power of two are cut down: 50 MB -> 32 MB, 25 MB -> 16 MB.
    EXPECT_EQ(test::capture_stdout([] { hc::allocate(100); }),
              "SEARCH_HASH \t\t: 32 MB , 2097152 entries, size of search_hash = 16\n"
              "EVAL_HASH  \t\t: 16 MB , 1048576 entries, size of eval_hash = 16\n"
              "PAWN_HASH   \t\t: 16 MB , 1048576 entries, size of pawn_hash = 16\n\n");
    EXPECT_EQ(hc::hash_mb(), 100);
    hc::release();  // released tables keep working on their single built-in entry
    hc::store(99, 5, -100, 100, 4, 31, 41, false, stats);
    EXPECT_EQ(hc::probe(99, -100, 100, 4, 0, 8, stats).score, 5);
}

TEST_F(HashClassic, StoreTakesTheFirstOfThreeEntriesNotDeeperAndLookupDecidesByBound) {
    HashKey k[7];
    for (std::uint32_t i = 1; i < 7; ++i) k[i] = key_at(0x1234, i);
    const auto full = stats.hash_full;
    const int depth[7] = {0, 5, 3, 4, 5, 2, 1};
    // k1 entry 0; k2 entry 1 (entry 0 is deeper); k3 replaces k2; k4 replaces k1 (as
    // deep, not deeper); k5 entry 2 (entries 0, 1 deeper); k6 nowhere (all three deeper).
    for (int i = 1; i < 7; ++i) hc::store(k[i], 10 * i, -100, 100, depth[i], 30 + i, 40 + i, false, stats);
    for (int i : {1, 2, 6}) EXPECT_EQ(hc::probe(k[i], -100, 100, 0, 0, 8, stats).from, 0) << i;
    for (int i : {3, 4, 5}) EXPECT_EQ(hc::probe(k[i], -100, 100, depth[i], 0, 8, stats).score, 10 * i) << i;
    EXPECT_EQ(stats.hash_full, full + 3);
    const hc::Probe p = hc::probe(k[4], -100, 100, 6, 0, 8, stats);  // too shallow: only the move
    EXPECT_TRUE(p.score == hc::NO_SCORE && p.from == 34 && p.to == 44);
    hc::store(key_at(9, 1), 150, 0, 100, 8, 0, 0, false, stats);  // a lower bound
    EXPECT_EQ(hc::probe(key_at(9, 1), 0, 150, 8, 0, 8, stats).score, 150);
    EXPECT_EQ(hc::probe(key_at(9, 1), 0, 151, 8, 0, 8, stats).score, hc::NO_SCORE);
    hc::store(key_at(10, 1), -20, 0, 100, 400, 0, 0, false, stats);  // an upper bound; depths kept in 8 bits
    EXPECT_EQ(hc::probe(key_at(10, 1), -20, 10, 300, 0, 8, stats).score, -20);
    EXPECT_EQ(hc::probe(key_at(10, 1), -21, 10, 0, 0, 8, stats).score, hc::NO_SCORE);
    // Mate scores are kept only when exact, and read back as mate at the probing ply.
    hc::store(k[1], 31990, -32000, 32000, 6, 31, 41, false, stats);
    EXPECT_EQ(hc::probe(k[1], -32000, 32000, 6, 7, 8, stats).score, 32000 - 7);
    hc::store(k[2], -31990, -100, 100, 9, 31, 41, false, stats);
    EXPECT_EQ(hc::probe(k[2], -32000, 32000, 0, 0, 8, stats).from, 0);
}

TEST_F(HashClassic, UpperBoundTellsTheNullMoveIsPointless) {
    const HashKey key = key_at(20, 1);
    hc::store(key, -50, 0, 100, 10, 31, 41, true, stats);  // fails low: an upper bound, with a threat
    const auto avoided = stats.avoid_nullmoves;
    const hc::Probe p = hc::probe(key, -300, 0, 18, 3, 8, stats);  // 10 >= 18 - 8, -50 < 0
    EXPECT_TRUE(p.score == hc::NO_SCORE && p.avoid_null && p.threat);
    EXPECT_FALSE(hc::probe(key, -300, 0, 19, 3, 8, stats).avoid_null);    // not deep enough
    EXPECT_FALSE(hc::probe(key, -300, -50, 18, 3, 8, stats).avoid_null);  // not below beta
    EXPECT_EQ(stats.avoid_nullmoves, avoided + 1);
    hc::store(key_at(21, 1), 500, 0, 100, 10, 31, 41, true, stats);  // a lower bound: no hint
    EXPECT_FALSE(hc::probe(key_at(21, 1), -300, 1000, 18, 3, 8, stats).avoid_null);
}

TEST_F(HashClassic, MoveLookupPrincipalVariationAndClear) {
    const HashKey first = key_at(40, 1), second = key_at(40, 2);
    hc::store(first, 10, -100, 100, 8, 31, 41, false, stats);
    hc::store(second, 20, -100, 100, 4, 32, 42, false, stats);  // entry 1
    int from = 0, to = 0;
    EXPECT_TRUE(hc::probe_move(first, from, to, stats) && from == 31 && to == 41);
    EXPECT_FALSE(hc::probe_move(second, from, to, stats));  // only the first entry is read
    hc::store_pv_move(first, 31, 41, stats);  // the same key and move: left as it is
    EXPECT_EQ(hc::probe(first, -100, 100, 8, 0, 8, stats).score, 10);
    hc::store_pv_move(first, 35, 55, stats);  // another move: a shallow upper bound of 0
    const hc::Probe p = hc::probe(first, 0, 100, 0, 0, 8, stats);
    EXPECT_TRUE(p.score == 0 && p.from == 35 && p.to == 55);
    // A search start empties only the first entry of each table.
    hc::store(key_at(0, 1), 10, -100, 100, 4, 31, 41, false, stats);
    ec::eval_store(key_at(0, 1), 33, stats);
    hc::clear();
    EXPECT_TRUE(hc::probe(key_at(0, 1), -100, 100, 4, 0, 8, stats).from == 0 && ec::eval_probe(key_at(0, 1), stats) == ec::NO_SCORE);
    EXPECT_EQ(hc::probe(second, -100, 100, 4, 0, 8, stats).score, 20);
}

TEST_F(HashClassic, ShortOfMemoryTheTablesShrink) {
    if (test::address_sanitizer) GTEST_SKIP() << "address-space limits and the address sanitizer do not mix";
    // In a child process with little address space to spare, 512 MB cannot be had.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::size_t used = test::address_space(getpid());
        const rlimit rl = {used + (96u << 20), used + (96u << 20)};
        if (used == 0 || setrlimit(RLIMIT_AS, &rl) != 0) _exit(10);
        const std::string out = test::capture_stdout([] { hc::allocate(512); });
        if (out.find("not enough memory for search_hash of 16777216 entries, trying 8388608 entries\n") ==
            std::string::npos)
            _exit(11);
        const std::size_t n = hc::search_entries();
        if (n >= 16777216u || n < 65536u || (n & (n - 1)) != 0 || ec::pawn_entries() >= 8388608u) _exit(12);
        char line[128];
        std::snprintf(line, sizeof line, "SEARCH_HASH \t\t: %zu MB , %zu entries", n * 16 / 1048576, n);
        if (out.find(line) == std::string::npos) _exit(14);
        // The smaller tables work, up to their last entry and its spares.
        for (int s = 0; s < 3; ++s) hc::store((n - 1) | HashKey(s) << 40, 42 + s, -100, 100, 6 - s, 0, 0, false, stats);
        if (hc::probe((n - 1) | HashKey{2} << 40, -100, 100, 4, 0, 8, stats).score != 44) _exit(15);
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
