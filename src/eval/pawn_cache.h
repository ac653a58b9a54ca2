// pawn_cache: the storage of varkon's pawn cache, shared by every searching thread.
//
// A fixed 2^20 entries of pawn-structure scores by pawn key, whose contents belong to the
// evaluation (eval_pawn_structure), which reaches a slot through pawn_cache_slot(). The
// search's table module makes and releases it together with the transposition table, so
// that one Hash setting governs both and a shortage of memory shrinks both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varkon {

constexpr std::uint32_t PAWN_HASH_ENTRIES = 1u << 20;

// One pawn-cache slot; written and read only by the evaluation.
struct PawnHashEntry {
    std::uint32_t key_low;
    std::uint32_t key_high;
    std::int16_t score;         // pawn-structure score, White's view
    std::uint8_t endgame;       // the endgame flag the score was computed with
    std::uint8_t white_mask;    // files holding white pawns (bit f - 1 for file f)
    std::uint8_t black_mask;
};
static_assert(sizeof(PawnHashEntry) == 16, "pawn cache entries are 16 bytes");

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

// The slot of a pawn key's low half.
PawnHashEntry& pawn_cache_slot(std::uint32_t key_low);
// Asks the processor to bring a pawn key's slot into the cache ahead of its lookup.
void pawn_cache_prefetch(std::uint32_t key_low);

}  // namespace varkon
