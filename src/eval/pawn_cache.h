// pawn_cache: the storage of varkon's pawn cache, shared by every searching thread.
//
// A fixed 2^20 entries of pawn-structure scores by pawn key, whose contents belong to the
// evaluation (eval_pawn_structure), which reads and writes them by key. The
// search's table module makes and releases it together with the transposition table, so
// that one Hash setting governs both and a shortage of memory shrinks both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/position.h"

namespace varkon {

constexpr std::uint32_t PAWN_HASH_ENTRIES = 1u << 20;

// One pawn-cache entry as the evaluation reads and writes it. In the table each is a
// shared entry (core/table_memory.h), so that every searching thread may use the cache at
// once and a read that races with a write never yields a wrong entry.
struct PawnCacheEntry {
    HashKey key = 0;            // the pawn key; 0: empty
    std::int16_t score = 0;     // pawn-structure score, White's view
    std::uint8_t endgame = 0;   // the endgame flag the score was computed with
    std::uint8_t white_mask = 0;   // files holding white pawns (bit f - 1 for file f)
    std::uint8_t black_mask = 0;
};

// Makes the cache `entries` entries (a power of two) large, zero-filled, after releasing
// the one held; false (and the built-in single entry in use) when the memory cannot be had.
bool pawn_cache_allocate(std::uint32_t entries);
// Releases the storage; the built-in single entry takes its place.
void pawn_cache_release();
// Entries in use.
std::uint32_t pawn_cache_entries();
// Empties the first entry (start of every search): every other entry is recognised by
// its key.
void pawn_cache_clear_first();
// Empties every entry.
void pawn_cache_clear_all();

// The entry in the slot of a pawn key (by its low half), whatever position it holds.
PawnCacheEntry pawn_cache_load(HashKey key);
// Writes an entry into the slot of its key.
void pawn_cache_store(const PawnCacheEntry& e);
// Asks the processor to bring a pawn key's slot into the cache ahead of its lookup.
void pawn_cache_prefetch(std::uint32_t key_low);

}  // namespace varkon
