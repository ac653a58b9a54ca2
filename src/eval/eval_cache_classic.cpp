#include "eval/eval_cache_classic.h"

#include "core/table_memory.h"

namespace varkon::eval_cache_classic {

namespace {

constexpr std::size_t SPARE_ENTRIES = 4;

struct EvalEntry {
    std::uint32_t key_low;
    std::uint32_t key_high;
    std::int16_t score;
    std::uint8_t unused[6];
};

struct PawnEntry {
    std::uint32_t key_low;
    std::uint32_t key_high;
    std::int16_t score;
    std::uint8_t no_pawn_white;
    std::uint8_t no_pawn_black;
    std::uint8_t unused[4];
};

// Both caches, shared by every search.
struct Caches {
    EntryTable<EvalEntry, SPARE_ENTRIES> eval_hash{"EVAL_HASH  \t\t: ", "eval_hash"};
    EntryTable<PawnEntry, SPARE_ENTRIES> pawn_hash{"PAWN_HASH   \t\t: ", "pawn_hash"};
};
Caches caches;

template <typename Entry>
inline bool holds(const Entry& e, HashKey key) {
    return e.key_low == static_cast<std::uint32_t>(key) && e.key_high == static_cast<std::uint32_t>(key >> 32);
}

template <typename Entry>
inline bool is_empty(const Entry& e) {
    return e.key_low == 0 && e.key_high == 0;
}

template <typename Entry>
inline void set_key(Entry& e, HashKey key) {
    e.key_low = static_cast<std::uint32_t>(key);
    e.key_high = static_cast<std::uint32_t>(key >> 32);
}

}  // namespace

void allocate(int megabytes) {
    caches.eval_hash.allocate(entries_for_megabytes(megabytes));
    caches.pawn_hash.allocate(entries_for_megabytes(megabytes));
}

void release() {
    caches.eval_hash.release();
    caches.pawn_hash.release();
}

void print_sizes() {
    caches.eval_hash.print_size();
    caches.pawn_hash.print_size();
}

std::size_t eval_entries() { return caches.eval_hash.count; }
std::size_t pawn_entries() { return caches.pawn_hash.count; }

void clear() {
    caches.eval_hash.entries[0].key_low = 0;
    caches.pawn_hash.entries[0].key_low = 0;
}

void wipe() {
    caches.eval_hash.wipe();
    caches.pawn_hash.wipe();
}

int eval_probe(HashKey key, SearchStats& stats) {
    const EvalEntry& e = caches.eval_hash.first_entry(key);
    if (!holds(e, key)) return NO_SCORE;
    ++stats.eval_hits;
    return e.score;
}

void eval_store(HashKey key, int score, SearchStats& stats) {
    EvalEntry& e = caches.eval_hash.first_entry(key);
    if (is_empty(e)) ++stats.evalhash_full;
    set_key(e, key);
    e.score = static_cast<std::int16_t>(score);
}

bool pawn_probe(HashKey key, PawnInfo& info, SearchStats& stats) {
    const PawnEntry& e = caches.pawn_hash.first_entry(key);
    if (!holds(e, key)) return false;
    ++stats.phash_hits;
    info.score = e.score;
    info.no_pawn_white = e.no_pawn_white;
    info.no_pawn_black = e.no_pawn_black;
    return true;
}

void pawn_store(HashKey key, const PawnInfo& info, SearchStats& stats) {
    PawnEntry& e = caches.pawn_hash.first_entry(key);
    if (is_empty(e)) ++stats.phash_full;
    set_key(e, key);
    e.score = static_cast<std::int16_t>(info.score);
    e.no_pawn_white = info.no_pawn_white;
    e.no_pawn_black = info.no_pawn_black;
}

void eval_prefetch(HashKey key) { caches.eval_hash.prefetch(key); }
void pawn_prefetch(HashKey pawn_key) { caches.pawn_hash.prefetch(pawn_key); }

}  // namespace varkon::eval_cache_classic
