// The transposition table: lookups, stores, replacement, sizing, clearing, and the
// allocation when memory is short.
#include <gtest/gtest.h>

#include "eval/pawn_cache.h"
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
    }
    void TearDown() override { hash_resize(HASH_MB_DEFAULT); }
    // Lookups and stores as a search at game ply `game_ply` makes them; `move` is what the
    // last lookup found.
    int game_ply = 1;
    SearchStats stats;
    HashMove move{};
    int probe(HashKey key, int alpha, int beta, int depth, bool pv) { return hash_probe(key, alpha, beta, depth, pv, move); }
    void store(HashKey key, int score, int from, int to, int alpha, int beta, int depth) {
        hash_store(key, score, from, to, alpha, beta, depth, game_ply, stats);
    }
    bool found(HashKey key) {
        probe(key, -FULL, FULL, 0, false);
        return move.from != 0;
    }
};

}  // namespace

TEST_F(Hash, LookupSetsTheMoveAndDecidesByDepthBoundAndNodeWithClampedMateScores) {
    move = HashMove{22, 33};
    const HashKey key = key_in_bucket(1234, 99);
    EXPECT_EQ(probe(key, -FULL, FULL, 0, false), NO_HASH_SCORE);
    EXPECT_TRUE(move.from == 0 && move.to == 0);
    store(key, 50, 35, 55, 0, 100, 6);
    EXPECT_EQ(probe(key, 0, 100, 7, true), NO_HASH_SCORE);  // too shallow, but the move
    EXPECT_TRUE(move.from == 35 && move.to == 55);
    constexpr int NO = NO_HASH_SCORE;
    const struct {
        int stored, store_alpha, store_beta, alpha, beta, pv, want;
    } cases[] = {
        // Stored with the window (0, 100): EXACT only at a pv node, bounds only elsewhere.
        {50, 0, 100, 0, 100, 1, 50},   {50, 0, 100, 0, 100, 0, NO},     {-20, 0, 100, -20, 100, 0, -20},
        {-20, 0, 100, -21, 100, 0, NO}, {-20, 0, 100, -20, 100, 1, NO}, {300, 0, 100, 0, 300, 0, 300},
        {300, 0, 100, 0, 301, 0, NO},   {300, 0, 100, 0, 300, 1, NO},
        // Mate scores are clamped to 31000 after the bound is chosen: -31990 is an upper
        // bound (below alpha) though -31000 lies above beta; +31995 likewise a lower bound.
        {-31990, -31500, -31400, -31000, -30000, 0, -31000}, {-31990, -31500, -31400, -31001, 0, 0, NO},
        {31995, 31400, 31500, 30000, 31000, 0, 31000},       {31995, 31400, 31500, 0, 31001, 0, NO},
        {30999, -FULL, FULL, -FULL, FULL, 1, 30999},  // no mate score: kept as it is
    };
    for (const auto& c : cases) {
        store(key, c.stored, 35, 55, c.store_alpha, c.store_beta, 6);
        EXPECT_EQ(probe(key, c.alpha, c.beta, 6, c.pv), c.want) << c.stored << " " << c.alpha << " " << c.pv;
    }
}

TEST_F(Hash, AStoreWithoutAMoveKeepsTheMoveOfTheSamePositionOnly) {
    const HashKey key = key_in_bucket(900, 1);
    store(key, 10, 35, 55, -FULL, FULL, 2);
    store(key, 20, 0, 0, -FULL, FULL, 4);
    EXPECT_EQ(probe(key, -FULL, FULL, 4, true), 20);
    EXPECT_TRUE(move.from == 35 && move.to == 55);
    // An entry taken over by another position gets the new (absent) move.
    for (std::uint32_t high = 2; high <= 4; ++high) store(key_in_bucket(900, high), 0, 31, 41, -FULL, FULL, 9);
    ++game_ply;
    const HashKey newcomer = key_in_bucket(900, 5);
    store(newcomer, 1, 0, 0, -FULL, FULL, 1);
    EXPECT_EQ(probe(newcomer, -FULL, FULL, 1, true), 1);
    EXPECT_TRUE(move.from == 0 && move.to == 0);
}

TEST_F(Hash, ReplacementPrefersOldShallowEntries) {
    const struct {
        int depth[4], age[4], alpha[4];
        const char* survivors;
    } cases[] = {
        {{6, 2, 4, 2}, {5, 5, 5, 5}, {0, 0, 0, 0}, "1011"},     // all older bounds: the first shallowest goes
        {{2, 8, 1, 1}, {20, 5, 20, 5}, {0, 0, 0, -1}, "1011"},  // current and EXACT entries stay: the old deep goes
        {{5, 4, 3, 7}, {20, 20, 20, 20}, {0, 0, 0, 0}, "1101"}, // all current: the shallowest goes
        {{3, 3, 3, 3}, {5, 5, 5, 5}, {0, 0, 0, 0}, "0111"},     // all equal: the first goes
    };
    const std::uint32_t bucket = 4242;
    for (const auto& c : cases) {
        hash_clear_all();
        for (int i = 0; i < 4; ++i) {
            game_ply = c.age[i];
            // Score 0 with alpha -1, beta 1 is EXACT; with alpha 0 an upper bound.
            store(key_in_bucket(bucket, 10 + i), 0, 31, 41, c.alpha[i], 1, c.depth[i]);
        }
        game_ply = 20;
        store(key_in_bucket(bucket, 99), 0, 32, 42, -FULL, FULL, 3);
        std::string survivors;
        for (int i = 0; i < 4; ++i) survivors += found(key_in_bucket(bucket, 10 + i)) ? '1' : '0';
        EXPECT_EQ(survivors, c.survivors);
        EXPECT_TRUE(found(key_in_bucket(bucket, 99)));
    }
}

TEST_F(Hash, SizingFollowsTheHashSettingAndResizesOnlyOnAChange) {
    const HashKey key = key_in_bucket(77, 1);
    store(key, 12, 31, 41, -FULL, FULL, 4);
    const HashKey pawns = key_in_bucket(5, 6);
    pawn_cache_store(PawnCacheEntry{pawns, 33, 0, 1, 2});
    hash_resize(HASH_MB_DEFAULT);
    EXPECT_TRUE(probe(key, -FULL, FULL, 4, true) == 12 && pawn_cache_load(pawns).score == 33);
    const struct {
        int mb, kept;
        std::uint32_t buckets;
    } cases[] = {{3, 3, 32768}, {5000, HASH_MB_MAX, 8388608}, {1, HASH_MB_MIN, 16384}};
    for (const auto& c : cases) {
        hash_resize(c.mb);
        EXPECT_TRUE(hash_size_mb() == c.kept && hash_bucket_count() == c.buckets) << c.mb;
        const HashKey last = key_in_bucket(c.buckets - 1, 7);  // the whole table is usable
        store(last, 5, 31, 41, -FULL, FULL, 2);
        EXPECT_EQ(probe(last, -FULL, FULL, 2, true), 5);
    }
    EXPECT_TRUE(probe(key, -FULL, FULL, 4, true) == NO_HASH_SCORE && pawn_cache_load(pawns).key == 0);
}

TEST_F(Hash, ClearEmptiesOnlyTheFirstBucketClearAllEverything) {
    const HashKey first = key_in_bucket(0, 3), other = key_in_bucket(17, 3);
    store(first, 1, 31, 41, -FULL, FULL, 2);
    store(other, 2, 31, 41, -FULL, FULL, 2);
    const HashKey first_pawns = key_in_bucket(0, 9), other_pawns = key_in_bucket(17, 9);
    pawn_cache_store(PawnCacheEntry{first_pawns, 5, 0, 0, 0});
    pawn_cache_store(PawnCacheEntry{other_pawns, 6, 0, 0, 0});
    hash_clear();
    EXPECT_TRUE(!found(first) && found(other));
    EXPECT_TRUE(pawn_cache_load(first_pawns).key == 0 && pawn_cache_load(other_pawns).key == other_pawns);
    hash_clear_all();
    EXPECT_TRUE(!found(other) && pawn_cache_load(other_pawns).key == 0);
    hash_free_tables();  // released tables still answer
    store(other, 1, 31, 41, -FULL, FULL, 0);
    EXPECT_TRUE(found(other));
    hash_clear();
    hash_allocate(HASH_MB_DEFAULT);
}

TEST(HashAllocation, ShortMemoryGivesSmallerTablesNotACrash) {
    if (test::address_sanitizer) GTEST_SKIP() << "the address sanitizer reserves more than any limit allows";
    constexpr std::size_t MB = 1048576;
    // What the program needs besides its tables: its address space less the default tables.
    std::size_t base = 0;
    {
        test::EngineProcess p(VARKON_BIN);
        p.send("uci\nisready\n");
        ASSERT_TRUE(p.wait_for("readyok"));
        base = test::address_space(p.pid()) - 1048576 * sizeof(HashBucket) -
               PAWN_HASH_ENTRIES * sizeof(SharedEntry);
        ASSERT_GT(base, 0u);
    }
    // Room for the tables of Hash 64 (40 + 16 MB) but not for those of Hash 128 (80 + 16 MB);
    // then not even for the smallest setting: the pawn cache shrinks as well.
    const struct {
        std::size_t room;
        const char *message, *default_mb;
    } cases[] = {{70 * MB, "could not allocate the hash tables for Hash 128 MB, trying 64 MB\n", "64"},
                 {13 * MB, "could not allocate the hash tables, trying 8192 buckets and 524288 pawn entries\n", "2"}};
    for (const auto& c : cases) {
        test::EngineProcess p(VARKON_BIN, "", base + c.room);
        p.send("uci\nsetoption name Hash value 128\nboard\nquit\n");
        EXPECT_EQ(p.wait_exit(), 0);
        const std::string option = std::string("option name Hash type spin default ") + c.default_mb + " min 2";
        // At start-up the message stands alone; under UCI it is a note.
        const std::string under_uci = "info string could not allocate the hash tables for Hash 128 MB, trying 64 MB\n";
        for (const std::string& line : {std::string(c.message), option, under_uci, std::string("pos_value : 0\n")})
            EXPECT_NE(p.output().find(line), std::string::npos) << p.output();
    }
}
