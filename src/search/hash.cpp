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

// The fields of an entry's data word.
inline int score_of(std::uint64_t d) { return static_cast<std::int16_t>(d & 0xFFFF); }
inline int depth_of(std::uint64_t d) { return static_cast<int>(d >> 16 & 0xFF); }
inline int age_of(std::uint64_t d) { return static_cast<int>(d >> 24 & 0xFF); }
inline int bound_of(std::uint64_t d) { return static_cast<int>(d >> 32 & 0xFF); }
inline std::int8_t from_of(std::uint64_t d) { return static_cast<std::int8_t>(d >> 40 & 0xFF); }
inline std::int8_t to_of(std::uint64_t d) { return static_cast<std::int8_t>(d >> 48 & 0xFF); }
inline std::uint64_t move_bits(std::uint64_t d) { return d & 0xFFFF0000000000ULL; }

inline std::uint64_t data_word(int score, int depth, int age, int bound) {
    return static_cast<std::uint16_t>(score) | std::uint64_t{static_cast<std::uint8_t>(depth)} << 16 |
           std::uint64_t{static_cast<std::uint8_t>(age)} << 24 | std::uint64_t{static_cast<std::uint8_t>(bound)} << 32;
}
inline std::uint64_t move_word(int from, int to) {
    return std::uint64_t{static_cast<std::uint8_t>(from)} << 40 | std::uint64_t{static_cast<std::uint8_t>(to)} << 48;
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
#pragma GCC unroll 4
    for (const SharedEntry& stored : bucket_of(key).entry) {
        const EntryValue e = load_entry(stored);
        if (e.key != key) continue;
        const std::uint64_t d = e.data;
        move = HashMove{from_of(d), to_of(d)};
        if (depth_of(d) < depth) return NO_HASH_SCORE;
        const int bound = bound_of(d), score = score_of(d);
        if (pv) return bound == EXACT ? score : NO_HASH_SCORE;
        if ((bound == UPPER_BOUND && score <= alpha) || (bound == LOWER_BOUND && score >= beta)) return score;
        return NO_HASH_SCORE;
    }
    return NO_HASH_SCORE;
}

void hash_store(HashKey key, int score, int from, int to, int alpha, int beta, int depth, int game_ply,
                SearchStats& stats) {
    const int bound = score >= beta ? LOWER_BOUND : score > alpha ? EXACT : UPPER_BOUND;
    if (score >= MATE_BOUND) score = MATE_BOUND;
    if (score <= -MATE_BOUND) score = -MATE_BOUND;

    SharedEntry* entries = bucket_of(key).entry;
    EntryValue seen[BUCKET_SIZE];
#pragma GCC unroll 4
    for (std::uint32_t i = 0; i < BUCKET_SIZE; ++i) seen[i] = load_entry(entries[i]);
    const int age = static_cast<std::uint8_t>(game_ply);
    int slot = -1;
    for (std::uint32_t i = 0; i < BUCKET_SIZE && slot < 0; ++i) {
        const bool empty = seen[i].key == 0;
        if (empty || seen[i].key == key) {
            if (empty) ++stats.hash_full;
            slot = static_cast<int>(i);
        }
    }
    const bool same_or_empty = slot >= 0;
    if (!same_or_empty) {
        // Victim: prefer an entry of another game_ply that is not EXACT, then the shallower
        // entry; ties keep the earlier entry.
        slot = 0;
        for (std::uint32_t i = 0; i < BUCKET_SIZE; ++i) {
            const std::uint64_t e = seen[i].data, victim = seen[slot].data;
            const int preference = (depth_of(e) < depth_of(victim) ? 1 : 0) + (age_of(victim) == age ? 2 : 0) -
                                   (age_of(e) == age || bound_of(e) == EXACT ? 2 : 0);
            if (preference > 0) slot = static_cast<int>(i);
        }
    }
    const std::uint64_t move =
        !same_or_empty || (from != 0 && to != 0) ? move_word(from, to) : move_bits(seen[slot].data);
    store_entry(entries[slot], key, data_word(score, depth, age, bound) | move);
}

void hash_prefetch(HashKey key) { __builtin_prefetch(&bucket_of(key)); }

}  // namespace varkon
