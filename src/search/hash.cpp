#include "search/hash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "core/stats.h"
#include "core/table_memory.h"
#include "eval/pawn_cache.h"

namespace varkon {

namespace {

// A bucket counts as four entries of 24 bytes when the table is sized, whatever the
// entries really take: the bucket count for a Hash value is the same on every build.
constexpr std::uint64_t SIZING_BUCKET_BYTES = 96;

// The table in use and the sizes being tried. One bucket always exists: the table points
// at it whenever no storage is allocated (before start-up, while released, and as the last
// resort when not even the smallest table can be had), so that a lookup never meets a
// missing table.
struct Table {
    HashBucket spare;
    HashBucket* buckets = &spare;
    std::uint32_t mask = 0;              // of the storage in use
    int mb = HASH_MB_DEFAULT;            // the Hash setting
    std::uint32_t bucket_count = 1;      // the sizes to allocate
    std::uint32_t pawn_count = 1;
};
Table tt;

void use_spare_table() {
    tt.spare = HashBucket{};
    tt.buckets = &tt.spare;
    tt.mask = 0;
}

std::uint32_t largest_power_of_two(std::uint64_t n) {
    std::uint32_t p = 1;
    while (p <= n / 2) p <<= 1;
    return p;
}

HashBucket& bucket_of(HashKey key) { return tt.buckets[static_cast<std::uint32_t>(key) & tt.mask]; }

bool holds(const HashEntry& e, std::uint32_t low, std::uint32_t high) {
    return e.key_low == low && e.key_high == high;
}

// Sizes the tables for the Hash setting: the table from it, the pawn cache fixed.
void size_tables() {
    tt.bucket_count = largest_power_of_two(static_cast<std::uint64_t>(tt.mb) * 1048576u / SIZING_BUCKET_BYTES);
    tt.pawn_count = PAWN_HASH_ENTRIES;
}

// Chooses the next smaller tables after a failed allocation; false when there is none.
bool shrink_tables() {
    if (tt.mb > HASH_MB_MIN) {
        const int smaller = tt.mb / 2 < HASH_MB_MIN ? HASH_MB_MIN : tt.mb / 2;
        messagef("could not allocate the hash tables for Hash %d MB, trying %d MB\n", tt.mb, smaller);
        tt.mb = smaller;
        size_tables();
        return true;
    }
    if (tt.bucket_count == 1 && tt.pawn_count == 1) return false;
    if (tt.bucket_count > 1) tt.bucket_count /= 2;
    if (tt.pawn_count > 1) tt.pawn_count /= 2;
    messagef("could not allocate the hash tables, trying %u buckets and %u pawn entries\n", tt.bucket_count,
             tt.pawn_count);
    return true;
}

std::size_t search_bytes(std::uint32_t buckets) { return std::size_t{buckets} * sizeof(HashBucket); }

// Allocates both tables for the sizes chosen, shrinking them while memory is short.
void allocate_tables() {
    hash_free_tables();
    for (;;) {
        auto* buckets = static_cast<HashBucket*>(table_alloc(search_bytes(tt.bucket_count)));
        if (buckets != nullptr && pawn_cache_allocate(tt.pawn_count)) {
            tt.buckets = buckets;
            tt.mask = tt.bucket_count - 1;
            return;
        }
        table_free(buckets, search_bytes(tt.bucket_count));
        pawn_cache_release();
        if (!shrink_tables()) break;
    }
    messagef("could not allocate the hash tables, using one bucket\n");
}

}  // namespace

int hash_size_mb() { return tt.mb; }

std::uint32_t hash_bucket_count() { return tt.mask + 1; }

void hash_free_tables() {
    if (tt.buckets != &tt.spare) table_free(tt.buckets, search_bytes(tt.mask + 1));
    pawn_cache_release();
    use_spare_table();
}

void hash_allocate(int mb) {
    tt.mb = mb < HASH_MB_MIN ? HASH_MB_MIN : mb > HASH_MB_MAX ? HASH_MB_MAX : mb;
    hash_free_tables();
    size_tables();
    allocate_tables();
}

void hash_resize(int mb) {
    if (mb < HASH_MB_MIN) mb = HASH_MB_MIN;
    if (mb > HASH_MB_MAX) mb = HASH_MB_MAX;
    if (mb != tt.mb) hash_allocate(mb);
}

void hash_clear() {
    tt.buckets[0] = HashBucket{};
    pawn_cache_clear_first();
}

void hash_clear_all() {
    std::memset(static_cast<void*>(tt.buckets), 0, sizeof(HashBucket) * (tt.mask + std::size_t{1}));
    pawn_cache_clear_all();
}

int hash_probe(HashKey key, int alpha, int beta, int depth, bool pv, HashMove& move) {
    move = HashMove{0, 0};
    const auto low = static_cast<std::uint32_t>(key), high = static_cast<std::uint32_t>(key >> 32);
    for (const HashEntry& e : bucket_of(key).entry) {
        if (!holds(e, low, high)) continue;
        move = HashMove{e.from, e.to};
        if (e.depth < depth) return NO_HASH_SCORE;
        if (pv) return e.bound == EXACT ? e.score : NO_HASH_SCORE;
        if ((e.bound == UPPER_BOUND && e.score <= alpha) || (e.bound == LOWER_BOUND && e.score >= beta))
            return e.score;
        return NO_HASH_SCORE;
    }
    return NO_HASH_SCORE;
}

void hash_store(HashKey key, int score, int from, int to, int alpha, int beta, int depth, int game_ply,
                SearchStats& stats) {
    const int bound = score >= beta ? LOWER_BOUND : score > alpha ? EXACT : UPPER_BOUND;
    if (score >= MATE_BOUND) score = MATE_BOUND;
    if (score <= -MATE_BOUND) score = -MATE_BOUND;
    const auto low = static_cast<std::uint32_t>(key), high = static_cast<std::uint32_t>(key >> 32);

    HashEntry* entries = bucket_of(key).entry;
    const auto age = static_cast<std::uint8_t>(game_ply);
    HashEntry* slot = nullptr;
    for (std::uint32_t i = 0; i < BUCKET_SIZE && slot == nullptr; ++i) {
        HashEntry& e = entries[i];
        const bool empty = e.key_low == 0 && e.key_high == 0;
        if (empty || holds(e, low, high)) {
            if (empty) ++stats.hash_full;
            slot = &e;
        }
    }
    const bool same_or_empty = slot != nullptr;
    if (!same_or_empty) {
        // Victim: prefer an entry of another game_ply that is not EXACT, then the shallower
        // entry; ties keep the earlier entry.
        slot = &entries[0];
        for (std::uint32_t i = 0; i < BUCKET_SIZE; ++i) {
            const HashEntry& e = entries[i];
            const int preference = (e.depth < slot->depth ? 1 : 0) + (slot->age == age ? 2 : 0) -
                                   (e.age == age || e.bound == EXACT ? 2 : 0);
            if (preference > 0) slot = &entries[i];
        }
    }
    slot->key_low = low;
    slot->key_high = high;
    slot->score = static_cast<std::int16_t>(score);
    slot->bound = static_cast<std::uint8_t>(bound);
    slot->depth = static_cast<std::uint8_t>(depth);
    slot->age = age;
    if (!same_or_empty || (from != 0 && to != 0)) {
        slot->from = static_cast<std::int8_t>(from);
        slot->to = static_cast<std::int8_t>(to);
    }
}

void hash_prefetch(HashKey key) { __builtin_prefetch(&bucket_of(key)); }

}  // namespace varkon
