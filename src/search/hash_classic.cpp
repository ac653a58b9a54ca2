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

struct SearchEntry {
    std::uint32_t key_low;
    std::uint32_t key_high;
    std::int16_t score;
    std::uint8_t bound;
    std::uint8_t depth;
    std::int8_t from;
    std::int8_t to;
    std::uint8_t threat;
    std::uint8_t unused;
};

// The search table, and the Hash value the tables were last sized for.
struct SearchTable {
    EntryTable<SearchEntry, SPARE_ENTRIES> table{"SEARCH_HASH \t\t: ", "search_hash"};
    int configured_mb = 2;
};
SearchTable search_hash;

inline std::uint32_t low_of(HashKey key) { return static_cast<std::uint32_t>(key); }
inline std::uint32_t high_of(HashKey key) { return static_cast<std::uint32_t>(key >> 32); }

inline bool holds(const SearchEntry& e, HashKey key) { return e.key_low == low_of(key) && e.key_high == high_of(key); }

inline bool is_empty(const SearchEntry& e) { return e.key_low == 0 && e.key_high == 0; }

inline void set_key(SearchEntry& e, HashKey key) {
    e.key_low = low_of(key);
    e.key_high = high_of(key);
}

inline SearchEntry& first_entry(HashKey key) { return search_hash.table.first_entry(key); }

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
    search_hash.table.entries[0].key_low = 0;
    eval_cache_classic::clear();
}

void wipe() {
    search_hash.table.wipe();
    eval_cache_classic::wipe();
}

void prefetch(HashKey key) { search_hash.table.prefetch(key, 3); }

Probe probe(HashKey key, int alpha, int beta, int depth, int ply, int null_reduction, SearchStats& stats) {
    Probe r;
    const SearchEntry* e = &first_entry(key);
    if (!holds(e[0], key)) {
        ++e;
        if (!holds(e[0], key)) {
            ++e;
            if (!holds(e[0], key)) return r;
        }
    }
    r.from = e->from;
    r.to = e->to;
    int score = e->score;
    if (score >= MATE_BOUND)
        score = 32000 - ply;
    else if (score <= -MATE_BOUND)
        score = ply - 31999;
    const int wanted = clamp_depth(depth);
    if (e->depth >= wanted && (e->bound == EXACT || (e->bound == UPPER_BOUND && score <= alpha) ||
                               (e->bound == LOWER_BOUND && score >= beta))) {
        r.score = score;
        return r;
    }
    if (e->bound == UPPER_BOUND && score < beta && e->depth >= wanted - null_reduction) {
        r.avoid_null = true;
        r.threat = e->threat != 0;
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
    SearchEntry* e = &first_entry(key);
    for (int i = 0; i < 3; ++i, ++e) {
        if (e->depth > d) continue;
        if (is_empty(*e)) ++stats.hash_full;
        set_key(*e, key);
        e->score = static_cast<std::int16_t>(score);
        e->bound = bound;
        e->depth = static_cast<std::uint8_t>(d);
        e->from = static_cast<std::int8_t>(from);
        e->to = static_cast<std::int8_t>(to);
        e->threat = threat ? 1 : 0;
        return;
    }
}

bool probe_move(HashKey key, int& from, int& to, SearchStats& stats) {
    const SearchEntry& e = first_entry(key);
    if (!holds(e, key)) return false;
    from = e.from;
    to = e.to;
    ++stats.hmoves_count;
    return true;
}

void store_pv_move(HashKey key, int from, int to, SearchStats& stats) {
    SearchEntry& e = first_entry(key);
    if (holds(e, key) && e.from == from && e.to == to) return;
    if (is_empty(e)) ++stats.hash_full;
    set_key(e, key);
    e.score = 0;
    e.bound = UPPER_BOUND;
    e.depth = 0;
    e.from = static_cast<std::int8_t>(from);
    e.to = static_cast<std::int8_t>(to);
    e.threat = 0;
}

}  // namespace varkon::hash_classic
