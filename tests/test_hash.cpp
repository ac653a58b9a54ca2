// The transposition table: sizing, lookups, stores, replacement, clearing, and the
// allocation when memory is short.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "search/hash.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

constexpr int FULL = 32000;

// Keys sharing the low half share a bucket; the high half tells the positions apart.
HashKey key_in_bucket(std::uint32_t low, std::uint32_t high) { return (HashKey{high} << 32) | low; }

class Hash : public ::testing::Test {
protected:
    void SetUp() override {
        test::use_varkon();
        hash_resize(HASH_MB_DEFAULT);
        hash_clear_all();
        saved_game_ply_ = game_ply;
    }
    void TearDown() override {
        game_ply = saved_game_ply_;
        ply = 0;
        hash_resize(HASH_MB_DEFAULT);
    }
    static bool found(HashKey key) {
        hash_probe(key, -FULL, FULL, 0, false);
        return hash_move[ply].from != 0;
    }
    int saved_game_ply_ = 1;
};

}  // namespace

TEST_F(Hash, SizingFollowsTheHashSetting) {
    const struct {
        int mb;
        std::uint32_t buckets;
    } cases[] = {{2, 16384}, {100, 1048576}, {128, 1048576}, {1024, 8388608}, {64, 524288}, {3, 32768}};
    for (const auto& c : cases) {
        hash_resize(c.mb);
        EXPECT_EQ(hash_mb, c.mb);
        EXPECT_EQ(hash_bucket_count, c.buckets) << c.mb;
        EXPECT_EQ(pawn_hash_count, PAWN_HASH_ENTRIES) << c.mb;
        // The whole table is usable: the last bucket holds a result.
        const HashKey last = key_in_bucket(c.buckets - 1, 7);
        hash_store(last, 5, 31, 41, -FULL, FULL, 2);
        EXPECT_EQ(hash_probe(last, -FULL, FULL, 2, true), 5);
    }
    hash_resize(1);
    EXPECT_EQ(hash_mb, HASH_MB_MIN);
    hash_resize(5000);
    EXPECT_EQ(hash_mb, HASH_MB_MAX);
}

TEST_F(Hash, ResizeOnlyWhenTheValueChanges) {
    const HashKey key = key_in_bucket(77, 1);
    hash_store(key, 12, 31, 41, -FULL, FULL, 4);
    pawn_hash_slot(5) = PawnHashEntry{5, 6, 33, 0, 1, 2};
    hash_resize(HASH_MB_DEFAULT);
    EXPECT_EQ(hash_probe(key, -FULL, FULL, 4, true), 12);
    EXPECT_EQ(pawn_hash_slot(5).score, 33);
    hash_resize(64);
    EXPECT_EQ(hash_probe(key, -FULL, FULL, 4, true), NO_HASH_SCORE);
    EXPECT_EQ(pawn_hash_slot(5).key_low, 0u);
}

TEST_F(Hash, LookupSetsTheMoveAndDecidesByDepthBoundAndNode) {
    ply = 3;
    hash_move[3] = HashMove{22, 33};
    const HashKey key = key_in_bucket(1234, 99);
    EXPECT_EQ(hash_probe(key, -FULL, FULL, 0, false), NO_HASH_SCORE);
    EXPECT_EQ(hash_move[3].from, 0);
    EXPECT_EQ(hash_move[3].to, 0);

    hash_store(key, 50, 35, 55, 0, 100, 6);   // EXACT, depth 6
    EXPECT_EQ(hash_probe(key, 0, 100, 8, true), NO_HASH_SCORE);   // too shallow, but the move
    EXPECT_EQ(hash_move[3].from, 35);
    EXPECT_EQ(hash_move[3].to, 55);
    EXPECT_EQ(hash_probe(key, 0, 100, 6, true), 50);
    EXPECT_EQ(hash_probe(key, 0, 100, 6, false), NO_HASH_SCORE);  // EXACT never at a non-pv node
    EXPECT_EQ(hash_probe(key, 60, 100, 6, false), NO_HASH_SCORE);

    hash_store(key, -20, 35, 55, 0, 100, 6);  // UPPER_BOUND
    EXPECT_EQ(hash_probe(key, -20, 100, 6, true), NO_HASH_SCORE);  // bounds never at a pv node
    EXPECT_EQ(hash_probe(key, -20, 100, 6, false), -20);
    EXPECT_EQ(hash_probe(key, -21, 100, 6, false), NO_HASH_SCORE);

    hash_store(key, 300, 35, 55, 0, 100, 6);  // LOWER_BOUND
    EXPECT_EQ(hash_probe(key, 0, 300, 4, false), 300);
    EXPECT_EQ(hash_probe(key, 0, 301, 4, false), NO_HASH_SCORE);
    EXPECT_EQ(hash_probe(key, 0, 300, 4, true), NO_HASH_SCORE);
    EXPECT_EQ(hash_move[0].from, 0);  // other plies untouched
}

TEST_F(Hash, MateScoresAreClampedAfterTheBoundIsChosen) {
    const HashKey key = key_in_bucket(4321, 5);
    // -31990 is below alpha: an upper bound, stored as -31000 (which lies above beta).
    hash_store(key, -31990, 0, 0, -31500, -31400, 4);
    EXPECT_EQ(hash_probe(key, -31000, -30000, 4, false), -31000);
    EXPECT_EQ(hash_probe(key, -31001, 0, 4, false), NO_HASH_SCORE);
    // +31995 is at or above beta: a lower bound, stored as +31000 (below alpha).
    hash_store(key, 31995, 0, 0, 31400, 31500, 4);
    EXPECT_EQ(hash_probe(key, 30000, 31000, 4, false), 31000);
    EXPECT_EQ(hash_probe(key, 0, 31001, 4, false), NO_HASH_SCORE);
    hash_store(key, 31000, 0, 0, -FULL, FULL, 4);
    EXPECT_EQ(hash_probe(key, -FULL, FULL, 4, true), 31000);
    hash_store(key, 30999, 0, 0, -FULL, FULL, 4);
    EXPECT_EQ(hash_probe(key, -FULL, FULL, 4, true), 30999);
}

TEST_F(Hash, AStoreWithoutAMoveKeepsTheMoveOfTheSamePosition) {
    const HashKey key = key_in_bucket(900, 1);
    hash_store(key, 10, 35, 55, -FULL, FULL, 2);
    hash_store(key, 20, 0, 0, -FULL, FULL, 4);
    EXPECT_EQ(hash_probe(key, -FULL, FULL, 4, true), 20);
    EXPECT_EQ(hash_move[0].from, 35);
    EXPECT_EQ(hash_move[0].to, 55);
    hash_store(key, 30, 36, 56, -FULL, FULL, 4);
    hash_probe(key, -FULL, FULL, 4, true);
    EXPECT_EQ(hash_move[0].from, 36);

    // A replaced entry of another position takes the new (absent) move.
    for (std::uint32_t high = 2; high <= 4; ++high) hash_store(key_in_bucket(900, high), 0, 31, 41, -FULL, FULL, 9);
    ++game_ply;
    const HashKey newcomer = key_in_bucket(900, 5);
    hash_store(newcomer, 1, 0, 0, -FULL, FULL, 1);
    EXPECT_EQ(hash_probe(newcomer, -FULL, FULL, 1, true), 1);
    EXPECT_EQ(hash_move[0].from, 0);
    EXPECT_EQ(hash_move[0].to, 0);
}

TEST_F(Hash, ReplacementPrefersOldShallowEntries) {
    const std::uint32_t bucket = 4242;
    auto fill = [&](const int (&depth)[4], const int (&age)[4], const int (&bound_alpha)[4]) {
        hash_clear_all();
        for (int i = 0; i < 4; ++i) {
            game_ply = age[i];
            // score 0 with alpha -1, beta 1 is EXACT; with alpha 0 an upper bound.
            hash_store(key_in_bucket(bucket, 10 + i), 0, 31, 41, bound_alpha[i], 1, depth[i]);
        }
        game_ply = 20;
        hash_store(key_in_bucket(bucket, 99), 0, 32, 42, -FULL, FULL, 3);
    };
    auto survivors = [&] {
        std::string s;
        for (int i = 0; i < 4; ++i) s += found(key_in_bucket(bucket, 10 + i)) ? '1' : '0';
        return s;
    };

    // All older and not EXACT: the shallowest goes, the first of equal depth.
    fill({6, 2, 4, 2}, {5, 5, 5, 5}, {0, 0, 0, 0});
    EXPECT_EQ(survivors(), "1011");
    EXPECT_TRUE(found(key_in_bucket(bucket, 99)));
    // Entries of the current game_ply and EXACT entries are kept: the old deep one goes.
    fill({2, 8, 1, 1}, {20, 5, 20, 5}, {0, 0, 0, -1});
    EXPECT_EQ(survivors(), "1011");
    // All of the current game_ply: the shallowest goes.
    fill({5, 4, 3, 7}, {20, 20, 20, 20}, {0, 0, 0, 0});
    EXPECT_EQ(survivors(), "1101");
    // All equal: the first entry goes.
    fill({3, 3, 3, 3}, {5, 5, 5, 5}, {0, 0, 0, 0});
    EXPECT_EQ(survivors(), "0111");
}

TEST_F(Hash, ClearEmptiesOnlyTheFirstBucketClearAllEverything) {
    const HashKey first = key_in_bucket(0, 3), other = key_in_bucket(17, 3);
    hash_store(first, 1, 31, 41, -FULL, FULL, 2);
    hash_store(other, 2, 31, 41, -FULL, FULL, 2);
    pawn_hash_slot(0) = PawnHashEntry{0, 9, 5, 0, 0, 0};
    pawn_hash_slot(17) = PawnHashEntry{17, 9, 6, 0, 0, 0};
    hash_clear();
    EXPECT_FALSE(found(first));
    EXPECT_TRUE(found(other));
    EXPECT_EQ(pawn_hash_slot(0).key_high, 0u);
    EXPECT_EQ(pawn_hash_slot(17).key_high, 9u);
    hash_clear_all();
    EXPECT_FALSE(found(other));
    EXPECT_EQ(pawn_hash_slot(17).key_high, 0u);
}

TEST_F(Hash, ReleasedTablesStillAnswer) {
    hash_free_tables();
    EXPECT_EQ(hash_probe(key_in_bucket(5, 5), -FULL, FULL, 0, false), NO_HASH_SCORE);
    hash_store(key_in_bucket(5, 5), 1, 0, 0, -FULL, FULL, 0);
    hash_clear();
    hash_alloc_tables();
    EXPECT_EQ(hash_bucket_count, 1048576u);
    EXPECT_FALSE(found(key_in_bucket(5, 5)));
}

// ---- allocation when memory is short ----------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
#define VARKON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARKON_ASAN 1
#endif
#endif

namespace {

// Address space of a running program, in bytes.
[[maybe_unused]] std::size_t address_space(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoul(line.substr(7)) * 1024;
    return 0;
}

constexpr std::size_t MB = 1048576;

}  // namespace

TEST(HashAllocation, ShortMemoryGivesSmallerTablesNotACrash) {
#ifdef VARKON_ASAN
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#else
    // What the program needs besides its tables: its address space with the default tables
    // less what they take.
    std::size_t base = 0;
    {
        test::EngineProcess p(VARKON_BIN);
        p.send("uci\nisready\n");
        ASSERT_TRUE(p.wait_for("readyok"));
        const std::size_t tables = 1048576 * sizeof(HashBucket) + PAWN_HASH_ENTRIES * sizeof(PawnHashEntry);
        base = address_space(p.pid()) - tables;
        ASSERT_GT(base, 0u);
    }
    // Room for the tables of Hash 64 (40 + 16 MB) but not for those of Hash 128 (80 + 16 MB).
    {
        test::EngineProcess p(VARKON_BIN, "", base + 70 * MB);
        p.send("uci\nposition startpos moves e2e4\nboard\nquit\n");
        EXPECT_EQ(p.wait_exit(), 0);
        const std::string& out = p.output();
        EXPECT_NE(out.find("could not allocate the hash tables for Hash 128 MB, trying 64 MB\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("trying 32 MB"), std::string::npos) << out;
        EXPECT_NE(out.find("option name Hash type spin default 64 min 2 max 1024\n"), std::string::npos) << out;
        EXPECT_NE(out.find("pos_value : "), std::string::npos) << out;
    }
    // Not even room for the smallest setting: the pawn cache shrinks as well.
    {
        test::EngineProcess p(VARKON_BIN, "", base + 13 * MB);
        p.send("uci\nboard\nquit\n");
        EXPECT_EQ(p.wait_exit(), 0);
        const std::string& out = p.output();
        EXPECT_NE(out.find("trying 2 MB\n"), std::string::npos) << out;
        EXPECT_NE(out.find("could not allocate the hash tables, trying 8192 buckets and 524288 pawn entries\n"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("option name Hash type spin default 2 min 2 max 1024\n"), std::string::npos) << out;
        EXPECT_NE(out.find("pos_value : 0\n"), std::string::npos) << out;
    }
#endif
}
