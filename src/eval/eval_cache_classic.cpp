#include "eval/eval_cache_classic.h"

#include "core/table_memory.h"

namespace varkon::eval_cache_classic {

namespace {

constexpr std::size_t SPARE_ENTRIES = 4;

// Both caches, shared by every search. An entry is a shared entry (core/table_memory.h):
// the eval cache's data word holds the score (16 bits); the pawn cache's the score and the
// two masks of files without pawns.
struct Caches {
    EntryTable<SharedEntry, SPARE_ENTRIES> eval_hash{"EVAL_HASH  \t\t: ", "eval_hash"};
    EntryTable<SharedEntry, SPARE_ENTRIES> pawn_hash{"PAWN_HASH   \t\t: ", "pawn_hash"};
};
Caches caches;

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
    clear_key_low_half(caches.eval_hash.entries[0]);
    clear_key_low_half(caches.pawn_hash.entries[0]);
}

void wipe() {
    caches.eval_hash.wipe();
    caches.pawn_hash.wipe();
}

int eval_probe(HashKey key, SearchStats& stats) {
    const EntryValue v = load_entry(caches.eval_hash.first_entry(key));
    if (v.key != key) return NO_SCORE;
    ++stats.eval_hits;
    return static_cast<std::int16_t>(v.data & 0xFFFF);
}

void eval_store(HashKey key, int score, SearchStats& stats) {
    SharedEntry& e = caches.eval_hash.first_entry(key);
    if (load_entry(e).key == 0) ++stats.evalhash_full;
    store_entry(e, key, static_cast<std::uint16_t>(score));
}

bool pawn_probe(HashKey key, PawnInfo& info, SearchStats& stats) {
    const EntryValue v = load_entry(caches.pawn_hash.first_entry(key));
    if (v.key != key) return false;
    ++stats.phash_hits;
    info.score = static_cast<std::int16_t>(v.data & 0xFFFF);
    info.no_pawn_white = static_cast<std::uint8_t>(v.data >> 16);
    info.no_pawn_black = static_cast<std::uint8_t>(v.data >> 24);
    return true;
}

void pawn_store(HashKey key, const PawnInfo& info, SearchStats& stats) {
    SharedEntry& e = caches.pawn_hash.first_entry(key);
    if (load_entry(e).key == 0) ++stats.phash_full;
    store_entry(e, key,
                static_cast<std::uint16_t>(info.score) | std::uint64_t{info.no_pawn_white} << 16 |
                    std::uint64_t{info.no_pawn_black} << 24);
}

void eval_prefetch(HashKey key) { caches.eval_hash.prefetch(key); }
void pawn_prefetch(HashKey pawn_key) { caches.pawn_hash.prefetch(pawn_key); }

}  // namespace varkon::eval_cache_classic
