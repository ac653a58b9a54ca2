#include "search/hash_classic.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "core/stats.h"
#include "core/table_memory.h"
#include "eval/eval_cache_classic.h"

namespace varkon::hash_classic {

namespace {

// A search-table entry is a shared entry (core/table_memory.h); its data word holds the
// score (16 bits), the bound, the depth, the move's two squares and the threat flag.
struct SearchData {
    int score;
    int bound;
    int depth;
    int from;
    int to;
    bool threat;
};

inline SearchData decode(std::uint64_t d) {
    return {static_cast<std::int16_t>(d & 0xFFFF), static_cast<int>(d >> 16 & 0xFF), static_cast<int>(d >> 24 & 0xFF),
            static_cast<std::int8_t>(d >> 32 & 0xFF), static_cast<std::int8_t>(d >> 40 & 0xFF), (d >> 48 & 0xFF) != 0};
}

inline std::uint64_t encode(int score, int bound, int depth, int from, int to, bool threat) {
    return static_cast<std::uint16_t>(score) | std::uint64_t{static_cast<std::uint8_t>(bound)} << 16 |
           std::uint64_t{static_cast<std::uint8_t>(depth)} << 24 | std::uint64_t{static_cast<std::uint8_t>(from)} << 32 |
           std::uint64_t{static_cast<std::uint8_t>(to)} << 40 | std::uint64_t{threat ? 1u : 0u} << 48;
}

// The search table, and the Hash value the tables were last sized for.
struct SearchTable {
    EntryTable<SharedEntry, SPARE_ENTRIES> table{"SEARCH_HASH \t\t: ", "search_hash"};
    int configured_mb = 2;
};
SearchTable search_hash;

inline SharedEntry& first_entry(HashKey key) { return search_hash.table.first_entry(key); }

inline int clamp_depth(int depth) { return depth < 0 ? 0 : depth > 255 ? 255 : depth; }

}  // namespace

int hash_mb() { return search_hash.configured_mb; }

void allocate(int megabytes) {
    if (megabytes < 0) megabytes = 0;
    search_hash.configured_mb = megabytes;
    search_hash.table.allocate(entries_for_megabytes(megabytes / 2));
    eval_cache_classic::allocate(megabytes / 4);
    search_hash.table.print_size();
    eval_cache_classic::print_sizes();
    std::putchar('\n');
}

void release() {
    search_hash.table.release();
    eval_cache_classic::release();
}

std::size_t search_entries() { return search_hash.table.count; }

void clear() {
    clear_key_low_half(search_hash.table.entries[0]);
    eval_cache_classic::clear();
}

void wipe() {
    search_hash.table.wipe();
    eval_cache_classic::wipe();
}

void prefetch(HashKey key) { search_hash.table.prefetch(key, 3); }

Probe probe(HashKey key, int alpha, int beta, int depth, int ply, int null_reduction, SearchStats& stats) {
    Probe r;
    const SharedEntry* entries = &first_entry(key);
    EntryValue v = load_entry(entries[0]);
    if (v.key != key) {
        v = load_entry(entries[1]);
        if (v.key != key) {
            v = load_entry(entries[2]);
            if (v.key != key) return r;
        }
    }
    const SearchData e = decode(v.data);
    r.from = e.from;
    r.to = e.to;
    int score = e.score;
    if (score >= MATE_BOUND)
        score = 32000 - ply;
    else if (score <= -MATE_BOUND)
        score = ply - 31999;
    const int wanted = clamp_depth(depth);
    if (e.depth >= wanted && (e.bound == EXACT || (e.bound == UPPER_BOUND && score <= alpha) ||
                              (e.bound == LOWER_BOUND && score >= beta))) {
        r.score = score;
        return r;
    }
    if (e.bound == UPPER_BOUND && score < beta && e.depth >= wanted - null_reduction) {
        r.avoid_null = true;
        r.threat = e.threat;
        ++stats.avoid_nullmoves;
    }
    return r;
}

void store(HashKey key, int score, int alpha, int beta, int depth, int from, int to, bool threat, SearchStats& stats) {
    const Bound bound = score >= beta ? LOWER_BOUND : score > alpha ? EXACT : UPPER_BOUND;
    if (score > MATE_BOUND || score < -MATE_BOUND) {
        if (bound != EXACT) return;
        score = score > 0 ? MATE_BOUND : -MATE_BOUND;
    }
    const int d = clamp_depth(depth);
    SharedEntry* entries = &first_entry(key);
    for (int i = 0; i < 3; ++i) {
        const EntryValue v = load_entry(entries[i]);
        if (decode(v.data).depth > d) continue;
        if (v.key == 0) ++stats.hash_full;
        store_entry(entries[i], key, encode(score, bound, d, from, to, threat));
        return;
    }
}

bool probe_move(HashKey key, int& from, int& to, SearchStats& stats) {
    const EntryValue v = load_entry(first_entry(key));
    if (v.key != key) return false;
    const SearchData e = decode(v.data);
    from = e.from;
    to = e.to;
    ++stats.hmoves_count;
    return true;
}

void store_pv_move(HashKey key, int from, int to, SearchStats& stats) {
    SharedEntry& entry = first_entry(key);
    const EntryValue v = load_entry(entry);
    if (v.key == key) {
        const SearchData e = decode(v.data);
        if (e.from == from && e.to == to) return;
    }
    if (v.key == 0) ++stats.hash_full;
    store_entry(entry, key, encode(0, UPPER_BOUND, 0, from, to, false));
}

}  // namespace varkon::hash_classic
