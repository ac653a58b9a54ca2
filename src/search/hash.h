// hash: varkon's transposition table, made and sized together with the pawn cache.
//
// The table keeps search results by the full 64-bit position key in buckets of four
// entries; a lookup gives a usable score, or only a move to try first, or nothing. Its
// size follows the Hash setting; the pawn cache (eval/pawn_cache.h) is a fixed 2^20
// entries made and released with it. Both tables are allocated zero-filled and never left
// unallocated: when memory is short the module says so and settles for a smaller table.
#pragma once

#include <cstdint>

#include "core/position.h"
#include "core/stats.h"
#include "core/table_memory.h"

namespace varkon {

constexpr int UPPER_BOUND = 1;
constexpr int LOWER_BOUND = 2;
constexpr int EXACT = 3;
constexpr int NO_HASH_SCORE = 123456;   // a lookup without a usable score
constexpr int MATE_BOUND = 31000;       // stored scores are clamped to +-MATE_BOUND

constexpr int HASH_MB_MIN = 2;
constexpr int HASH_MB_MAX = 1024;
constexpr int HASH_MB_DEFAULT = 128;
constexpr std::uint32_t BUCKET_SIZE = 4;

// Four entries of 16 bytes, one 64-byte cache line: a lookup costs one memory access.
// Every searching thread reads and writes the table at once, so an entry is a key word and
// a data word (core/table_memory.h: a racing read never yields a wrong entry). The data
// word holds the score (16 bits, side to move's view, clamped), the remaining depth (8 bits:
// a search depth never exceeds 2 x 99 + 2 units), the age (only the current game_ply has to
// be told from others, so its low 8 bits), the bound and the move's two squares.
struct alignas(64) HashBucket {
    SharedEntry entry[BUCKET_SIZE];
};
static_assert(sizeof(HashBucket) == 64, "a bucket is one cache line");

// The move to try first at a search ply, as a lookup found it (0, 0: none).
struct HashMove {
    std::int8_t from;
    std::int8_t to;
};

// The Hash setting in megabytes; always the size the tables in use were made for.
int hash_size_mb();
// Buckets of the table in use, a power of two.
std::uint32_t hash_bucket_count();

// Releases both tables; a built-in bucket and pawn entry take their place.
void hash_free_tables();
// The Hash option: clamps `mb` to 2..1024; a value other than hash_mb sizes and allocates
// the tables anew (every stored result is lost), the current value does nothing.
void hash_resize(int mb);
// Sets the Hash setting to `mb` (clamped to 2..1024) and allocates both tables anew,
// zero-filled, releasing those held before. When the memory cannot be had it prints a
// message and halves the size (the Hash setting first, then the pawn cache) until an
// allocation succeeds.
void hash_allocate(int mb);
// Empties the first bucket and the first pawn-cache entry (start of every search); every
// other entry stays and is recognised by its key.
void hash_clear();
// Empties both tables completely.
void hash_clear_all();

// Looks the position up. Sets `move` to the stored move when the key is found, else to
// (0, 0); a move is only ever tried after the search has found it among the moves it
// generated for the position. Returns the stored score when it is deep enough and decides the node: at a `pv`
// node only an EXACT score, elsewhere an upper bound <= alpha or a lower bound >= beta;
// otherwise NO_HASH_SCORE.
int hash_probe(HashKey key, int alpha, int beta, int depth, bool pv, HashMove& move);
// Stores a result; alpha and beta are the window the node was entered with, from and to
// the best move (0 when none: an entry of the same position then keeps its move).
// `game_ply` ages the entry; a store into an empty entry counts in stats.hash_full.
void hash_store(HashKey key, int score, int from, int to, int alpha, int beta, int depth, int game_ply,
                SearchStats& stats);

// Asks the processor to bring the position's bucket into the cache ahead of its lookup.
void hash_prefetch(HashKey key);

}  // namespace varkon
