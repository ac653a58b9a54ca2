// hash_classic: the search table of varkon_classic, and the sizing of all three of its
// tables from one Hash value.
//
// The Hash setting (megabytes) is split into `search_hash` (half: search results for the
// alpha-beta search, here) and the evaluation's two caches (a quarter each: finished
// evaluations and pawn structures, eval/eval_cache_classic.h). Every table is an array of
// 16-byte entries whose count is a power of two, with 4 spare entries behind it, so a
// position may use the entry at its index and the two after it. The tables are never
// null: before the first allocation, after a release, or when memory runs short, a table
// falls back to a smaller size (at worst one built-in entry).
//
// Search table: a position lives in one of three consecutive entries. A store takes the
// first of them that is not deeper than the new result (nothing when all three are
// deeper). Mate scores are kept only when exact, as +-MATE_BOUND, and come back as mate
// at the probing ply. A probe also tells whether a null move is pointless here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/position.h"
#include "core/stats.h"

namespace varkon::hash_classic {

constexpr int NO_SCORE = 123456;   // a probe without a usable score; no stored score takes it
constexpr int MATE_BOUND = 31000;  // scores beyond +-31000 are mate scores
constexpr int SPARE_ENTRIES = 4;

enum Bound : std::uint8_t { UPPER_BOUND = 1, LOWER_BOUND = 2, EXACT = 3 };

// ---- sizing and lifetime -------------------------------------------------------------

// The Hash value (megabytes) the tables were last sized for; 2 until allocate() is called.
int hash_mb();
// Releases the tables, sizes them for `megabytes` (negative counts as 0), allocates them
// zero-filled and prints the three size lines. When memory runs short a table is halved
// until it fits, with a message naming the table; the size lines tell the sizes in use.
void allocate(int megabytes);
// Releases the three tables; they fall back to their built-in single entries.
void release();
// Entries of the search table in use (a power of two, spare entries not included).
std::size_t search_entries();
// Search start: zeroes only the first 32-bit word of each table's first entry.
void clear();
// Zeroes every entry of the three tables (e.g. between unrelated games or tests).
void wipe();

// ---- search table --------------------------------------------------------------------

// Asks the processor to bring a key's three entries into the cache ahead of its probe.
void prefetch(HashKey key);

// What a probe found. `score` is usable as the node's result (NO_SCORE: not usable);
// `from`/`to` is the stored move (0 when none or no entry); `avoid_null` says a null
// move cannot succeed here, and `threat` is the stored threat flag that goes with it.
struct Probe {
    int score = NO_SCORE;
    int from = 0;
    int to = 0;
    bool avoid_null = false;
    bool threat = false;
};

// Looks `key` up in its three entries; the first with the same key answers.
// - The move is handed back whatever the entry's depth and bound.
// - The score is usable when the entry is at least `depth` deep and it is EXACT, an
//   UPPER_BOUND <= alpha or a LOWER_BOUND >= beta. A stored +MATE_BOUND reads as
//   32000 - ply, -MATE_BOUND as ply - 31999.
// - Without a usable score, an UPPER_BOUND entry below beta and at least
//   depth - null_reduction deep sets avoid_null (counted in stats.avoid_nullmoves)
//   and hands back its threat flag.
// Depths are kept in 8 bits: every depth is read as clamped to 0..255.
Probe probe(HashKey key, int alpha, int beta, int depth, int ply, int null_reduction, SearchStats& stats);

// Stores a result found with the window (alpha, beta) the node was entered with: a
// LOWER_BOUND when score >= beta, EXACT when score > alpha, else an UPPER_BOUND. Mate
// scores (beyond +-MATE_BOUND) are stored only when EXACT. The entry taken is the first
// of the three whose depth is not greater than `depth`; a store into an empty entry
// counts in stats.hash_full. from/to are 0 when the node has no best move.
void store(HashKey key, int score, int alpha, int beta, int depth, int from, int to, bool threat, SearchStats& stats);

// The move of the first entry of the key's index, when that entry holds the key
// (counted in stats.hmoves_count); false otherwise.
bool probe_move(HashKey key, int& from, int& to, SearchStats& stats);

// Writes a move of the principal variation into the first entry of the key's index
// (score 0, UPPER_BOUND, depth 0, no threat), unless it holds that key and move already.
void store_pv_move(HashKey key, int from, int to, SearchStats& stats);

}  // namespace varkon::hash_classic
