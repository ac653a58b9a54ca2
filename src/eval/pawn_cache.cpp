#include "eval/pawn_cache.h"

#include <cstring>

#include "core/table_memory.h"

namespace varkon {

namespace {

// The storage in use: allocated, or the one built-in entry, so that a lookup never meets
// a missing table.
struct PawnCache {
    SharedEntry spare{};
    SharedEntry* entries = &spare;
    std::uint32_t mask = 0;

    std::size_t bytes() const { return (std::size_t{mask} + 1) * sizeof(SharedEntry); }
};
PawnCache cache;

inline SharedEntry& slot_of(HashKey key) { return cache.entries[static_cast<std::uint32_t>(key) & cache.mask]; }

}  // namespace

bool pawn_cache_allocate(std::uint32_t entries) {
    pawn_cache_release();
    auto* p = static_cast<SharedEntry*>(table_alloc(std::size_t{entries} * sizeof(SharedEntry)));
    if (p == nullptr) return false;
    cache.entries = p;
    cache.mask = entries - 1;
    return true;
}

void pawn_cache_release() {
    if (cache.entries != &cache.spare) table_free(cache.entries, cache.bytes());
    cache.spare = SharedEntry{};
    cache.entries = &cache.spare;
    cache.mask = 0;
}

std::uint32_t pawn_cache_entries() { return cache.mask + 1; }

void pawn_cache_clear_first() { cache.entries[0] = SharedEntry{}; }

void pawn_cache_clear_all() { std::memset(static_cast<void*>(cache.entries), 0, cache.bytes()); }

// The data word: score (16 bits), endgame flag, white and black file masks.
PawnCacheEntry pawn_cache_load(HashKey key) {
    const EntryValue v = load_entry(slot_of(key));
    PawnCacheEntry e;
    e.key = v.key;
    e.score = static_cast<std::int16_t>(v.data & 0xFFFF);
    e.endgame = static_cast<std::uint8_t>(v.data >> 16);
    e.white_mask = static_cast<std::uint8_t>(v.data >> 24);
    e.black_mask = static_cast<std::uint8_t>(v.data >> 32);
    return e;
}

void pawn_cache_store(const PawnCacheEntry& e) {
    const std::uint64_t data = static_cast<std::uint16_t>(e.score) | std::uint64_t{e.endgame} << 16 |
                               std::uint64_t{e.white_mask} << 24 | std::uint64_t{e.black_mask} << 32;
    store_entry(slot_of(e.key), e.key, data);
}

void pawn_cache_prefetch(std::uint32_t key_low) { __builtin_prefetch(&cache.entries[key_low & cache.mask]); }

}  // namespace varkon
