// eval_cache_classic: the two caches of varkon_classic's evaluation, shared by every
// searching thread: `eval_hash` (finished evaluations by position and castling rights) and
// `pawn_hash` (pawn-structure scores with their file masks, by pawn key and phase).
//
// Each is a table of 16-byte entries (core/table_memory.h) looked up at the key's index
// only. The search's table module sizes both from the Hash setting, a quarter of it each,
// together with its own table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/position.h"
#include "core/stats.h"

namespace varkon::eval_cache_classic {

constexpr int NO_SCORE = 123456;   // a probe without a stored score

// Sizes both caches for `megabytes` each (negative counts as 0), zero-filled.
void allocate(int megabytes);
void release();
// Prints the size lines of the two caches ("EVAL_HASH ...", "PAWN_HASH ...").
void print_sizes();
std::size_t eval_entries();
std::size_t pawn_entries();
// Search start: zeroes only the first 32-bit word of each cache's first entry.
void clear();
// Zeroes every entry of both caches.
void wipe();

// The stored evaluation (side to move's view) or NO_SCORE; a hit counts in stats.eval_hits.
int eval_probe(HashKey key, SearchStats& stats);
// Always replaces; a store into an empty entry counts in stats.evalhash_full.
void eval_store(HashKey key, int score, SearchStats& stats);

// A pawn-structure score (White's view) and the files without pawns of each colour
// (bit f - 1 set: file f holds no pawn of that colour).
struct PawnInfo {
    int score;
    std::uint8_t no_pawn_white;
    std::uint8_t no_pawn_black;
};
// True and `info` filled when the key is stored; a hit counts in stats.phash_hits.
bool pawn_probe(HashKey key, PawnInfo& info, SearchStats& stats);
// Always replaces; a store into an empty entry counts in stats.phash_full.
void pawn_store(HashKey key, const PawnInfo& info, SearchStats& stats);

// Ask the processor to bring an entry into the cache ahead of its probe: the evaluation
// entry of an eval key, the pawn entry of a pawn key (of any phase: the phase changes only
// the two low bits of the index, inside one cache line).
void eval_prefetch(HashKey key);
void pawn_prefetch(HashKey pawn_key);

}  // namespace varkon::eval_cache_classic
