#include "search/hash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "search/stats.h"
#include "search/table_memory.h"

namespace varkon {

HashMove hash_move[MAX_PLY + 2];
int hash_mb = HASH_MB_DEFAULT;
std::uint32_t hash_bucket_count = 1;
std::uint32_t pawn_hash_count = 1;

namespace {

// A bucket counts as four entries of 24 bytes when the table is sized, whatever the
// entries really take: the bucket count for a Hash value is the same on every build.
constexpr std::uint64_t SIZING_BUCKET_BYTES = 96;

// One bucket and one pawn entry that always exist: the tables point at them whenever no
// storage is allocated (before start-up, while released, and as the last resort when not
// even the smallest tables can be had), so that a lookup never meets a missing table.
HashBucket spare_bucket;
PawnHashEntry spare_pawn_entry;

HashBucket* search_hash = &spare_bucket;
PawnHashEntry* pawn_hash = &spare_pawn_entry;
std::uint32_t bucket_mask = 0;       // of the storage in use
std::uint32_t pawn_index_mask = 0;

void use_spare_tables() {
    spare_bucket = HashBucket{};
    spare_pawn_entry = PawnHashEntry{};
    search_hash = &spare_bucket;
    pawn_hash = &spare_pawn_entry;
    bucket_mask = pawn_index_mask = 0;
}

std::uint32_t largest_power_of_two(std::uint64_t n) {
    std::uint32_t p = 1;
    while (p <= n / 2) p <<= 1;
    return p;
}

HashBucket& bucket_of(HashKey key) {
    return search_hash[static_cast<std::uint32_t>(key) & bucket_mask];
}

bool holds(const HashEntry& e, std::uint32_t low, std::uint32_t high) {
    return e.key_low == low && e.key_high == high;
}

// Chooses the next smaller tables after a failed allocation; false when there is none.
bool shrink_tables() {
    if (hash_mb > HASH_MB_MIN) {
        const int smaller = hash_mb / 2 < HASH_MB_MIN ? HASH_MB_MIN : hash_mb / 2;
        messagef("could not allocate the hash tables for Hash %d MB, trying %d MB\n", hash_mb, smaller);
        hash_mb = smaller;
        hash_size_tables();
        return true;
    }
    if (hash_bucket_count == 1 && pawn_hash_count == 1) return false;
    if (hash_bucket_count > 1) hash_bucket_count /= 2;
    if (pawn_hash_count > 1) pawn_hash_count /= 2;
    messagef("could not allocate the hash tables, trying %u buckets and %u pawn entries\n",
                hash_bucket_count, pawn_hash_count);
    return true;
}

std::size_t search_bytes(std::uint32_t buckets) { return std::size_t{buckets} * sizeof(HashBucket); }
std::size_t pawn_bytes(std::uint32_t entries) { return std::size_t{entries} * sizeof(PawnHashEntry); }

}  // namespace

void hash_size_tables() {
    hash_bucket_count =
        largest_power_of_two(static_cast<std::uint64_t>(hash_mb) * 1048576u / SIZING_BUCKET_BYTES);
    pawn_hash_count = PAWN_HASH_ENTRIES;
}

void hash_alloc_tables() {
    hash_free_tables();
    for (HashMove& m : hash_move) m = HashMove{0, 0};
    for (;;) {
        auto* buckets = static_cast<HashBucket*>(table_alloc(search_bytes(hash_bucket_count)));
        auto* pawns = static_cast<PawnHashEntry*>(table_alloc(pawn_bytes(pawn_hash_count)));
        if (buckets != nullptr && pawns != nullptr) {
            search_hash = buckets;
            pawn_hash = pawns;
            bucket_mask = hash_bucket_count - 1;
            pawn_index_mask = pawn_hash_count - 1;
            return;
        }
        table_free(buckets, search_bytes(hash_bucket_count));
        table_free(pawns, pawn_bytes(pawn_hash_count));
        if (!shrink_tables()) break;
    }
    messagef("could not allocate the hash tables, using one bucket\n");
}

void hash_free_tables() {
    if (search_hash != &spare_bucket) table_free(search_hash, search_bytes(bucket_mask + 1));
    if (pawn_hash != &spare_pawn_entry) table_free(pawn_hash, pawn_bytes(pawn_index_mask + 1));
    use_spare_tables();
}

void hash_allocate(int mb) {
    hash_mb = mb < HASH_MB_MIN ? HASH_MB_MIN : mb > HASH_MB_MAX ? HASH_MB_MAX : mb;
    hash_free_tables();
    hash_size_tables();
    hash_alloc_tables();
}

void hash_resize(int mb) {
    if (mb < HASH_MB_MIN) mb = HASH_MB_MIN;
    if (mb > HASH_MB_MAX) mb = HASH_MB_MAX;
    if (mb != hash_mb) hash_allocate(mb);
}

void hash_clear() {
    search_hash[0] = HashBucket{};
    pawn_hash[0] = PawnHashEntry{};
}

void hash_clear_all() {
    for (HashMove& m : hash_move) m = HashMove{0, 0};
    std::memset(static_cast<void*>(search_hash), 0, sizeof(HashBucket) * (bucket_mask + std::size_t{1}));
    std::memset(static_cast<void*>(pawn_hash), 0, sizeof(PawnHashEntry) * (pawn_index_mask + std::size_t{1}));
}

int hash_probe(HashKey key, int alpha, int beta, int depth, bool pv) {
    HashMove& move = hash_move[ply];
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

void hash_store(HashKey key, int score, int from, int to, int alpha, int beta, int depth) {
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

PawnHashEntry& pawn_hash_slot(std::uint32_t key_low) { return pawn_hash[key_low & pawn_index_mask]; }

}  // namespace varkon
