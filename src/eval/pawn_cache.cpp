#include "eval/pawn_cache.h"

#include <cstring>

#include "core/table_memory.h"

namespace varkon {

namespace {

// The storage in use: allocated, or the one built-in entry, so that a lookup never meets
// a missing table.
struct PawnCache {
    PawnHashEntry spare{};
    PawnHashEntry* entries = &spare;
    std::uint32_t mask = 0;

    std::size_t bytes() const { return (std::size_t{mask} + 1) * sizeof(PawnHashEntry); }
};
PawnCache cache;

}  // namespace

bool pawn_cache_allocate(std::uint32_t entries) {
    pawn_cache_release();
    auto* p = static_cast<PawnHashEntry*>(table_alloc(std::size_t{entries} * sizeof(PawnHashEntry)));
    if (p == nullptr) return false;
    cache.entries = p;
    cache.mask = entries - 1;
    return true;
}

void pawn_cache_release() {
    if (cache.entries != &cache.spare) table_free(cache.entries, cache.bytes());
    cache.spare = PawnHashEntry{};
    cache.entries = &cache.spare;
    cache.mask = 0;
}

std::uint32_t pawn_cache_entries() { return cache.mask + 1; }

void pawn_cache_clear_first() { cache.entries[0] = PawnHashEntry{}; }

void pawn_cache_clear_all() { std::memset(static_cast<void*>(cache.entries), 0, cache.bytes()); }

PawnHashEntry& pawn_cache_slot(std::uint32_t key_low) { return cache.entries[key_low & cache.mask]; }

void pawn_cache_prefetch(std::uint32_t key_low) { __builtin_prefetch(&cache.entries[key_low & cache.mask]); }

}  // namespace varkon
