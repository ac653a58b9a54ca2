// hash: the transposition table `search_hash` and the storage of the pawn cache.
//
// The table keeps search results by the full 64-bit position key in buckets of four
// entries; a lookup gives a usable score, or only a move to try first, or nothing. Its
// size follows the Hash setting `hash_mb`; the pawn cache is a fixed 2^20 entries whose
// contents belong to the evaluation, which reaches a slot through pawn_hash_slot().
// Both tables are allocated zero-filled and never left unallocated: when memory is
// short the module says so and settles for a smaller table.
#pragma once

#include <cstdint>

#include "core/position.h"

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
constexpr std::uint32_t PAWN_HASH_ENTRIES = 1u << 20;

// 16 bytes, so that a bucket of four is one 64-byte cache line: a lookup costs one
// memory access. A search depth never exceeds 2 x 99 + 2 units, so 8 bits hold it; the age
// only has to tell the current game_ply from others, so its low 8 bits are kept.
struct HashEntry {
    std::uint32_t key_low;
    std::uint32_t key_high;
    std::int16_t score;     // side to move's view, clamped
    std::uint8_t depth;     // remaining depth, two units per ply
    std::uint8_t age;       // game_ply of the storing node, modulo 256
    std::uint8_t bound;     // UPPER_BOUND, LOWER_BOUND or EXACT
    std::int8_t from;       // best move, 0 when none
    std::int8_t to;
    std::uint8_t unused;
};
static_assert(sizeof(HashEntry) == 16, "transposition entries are 16 bytes");

struct alignas(64) HashBucket {
    HashEntry entry[BUCKET_SIZE];
};

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

// The move to try first at each search ply, written by every hash_probe (0, 0: none).
struct HashMove {
    std::int8_t from;
    std::int8_t to;
};
extern HashMove hash_move[MAX_PLY + 2];

// The Hash setting in megabytes; always the size the tables in use were made for.
extern int hash_mb;
extern std::uint32_t hash_bucket_count;   // buckets of search_hash, a power of two
extern std::uint32_t pawn_hash_count;     // entries of pawn_hash, a power of two

// Computes hash_bucket_count from hash_mb and fixes the pawn cache size.
void hash_size_tables();
// Allocates both tables, zero-filled, for the computed sizes, releasing any tables held
// before. When the memory cannot be had it prints a message and halves the size (hash_mb
// first, then the pawn cache) until an allocation succeeds.
void hash_alloc_tables();
void hash_free_tables();
// The Hash option: clamps `mb` to 2..1024; a value other than hash_mb sizes and allocates
// the tables anew (every stored result is lost), the current value does nothing.
void hash_resize(int mb);
// Sets hash_mb to `mb` (clamped to 2..1024) and sizes and allocates the tables anew.
void hash_allocate(int mb);
// Empties the first bucket and the first pawn-cache entry (start of every search); every
// other entry stays and is recognised by its key.
void hash_clear();
// Empties both tables completely, and forgets the moves of the last lookups.
void hash_clear_all();

// Looks the position up. Sets hash_move[ply] to the stored move when the key is found.
// Returns the stored score when it is deep enough and decides the node: at a `pv` node
// only an EXACT score, elsewhere an upper bound <= alpha or a lower bound >= beta;
// otherwise NO_HASH_SCORE.
int hash_probe(HashKey key, int alpha, int beta, int depth, bool pv);
// Stores a result; alpha and beta are the window the node was entered with, from and to
// the best move (0 when none: an entry of the same position then keeps its move).
void hash_store(HashKey key, int score, int from, int to, int alpha, int beta, int depth);

// Asks the processor to bring the position's bucket into the cache ahead of its lookup.
void hash_prefetch(HashKey key);

// The pawn-cache slot of a pawn key's low half.
PawnHashEntry& pawn_hash_slot(std::uint32_t key_low);

}  // namespace varkon
