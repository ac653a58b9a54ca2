#include "search/hash_classic.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "search/stats.h"
#include "search/table_memory.h"

namespace varkon::hash_classic {

namespace {

constexpr std::size_t ENTRY_BYTES = 16;
constexpr std::size_t MEGABYTE = 1048576;

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

static_assert(sizeof(SearchEntry) == ENTRY_BYTES && sizeof(EvalEntry) == ENTRY_BYTES &&
              sizeof(PawnEntry) == ENTRY_BYTES);

// One table: `count` entries (a power of two) plus the spare ones, either allocated or
// the built-in single entry with its spares, so that `entries` is never null.
template <typename Entry>
struct Table {
    constexpr Table(const char* label_text, const char* table_name) : label(label_text), name(table_name) {}
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const char* label;
    const char* name;
    Entry builtin[1 + SPARE_ENTRIES] = {};
    Entry* entries = builtin;
    std::size_t count = 1;

    std::uint32_t mask() const { return static_cast<std::uint32_t>(count - 1); }
    bool allocated() const { return entries != builtin; }

    void release() {
        if (allocated()) table_free(entries, (count + SPARE_ENTRIES) * ENTRY_BYTES);
        entries = builtin;
        count = 1;
        std::memset(builtin, 0, sizeof builtin);
    }

    // Allocates room for `wanted` entries (a power of two), halving while memory is short.
    void allocate(std::size_t wanted) {
        release();
        for (std::size_t n = wanted; n > 1; n /= 2) {
            if (void* p = table_alloc((n + SPARE_ENTRIES) * ENTRY_BYTES)) {
                entries = static_cast<Entry*>(p);
                count = n;
                return;
            }
            messagef("not enough memory for %s of %zu entries, trying %zu entries\n", name, n, n / 2);
        }
    }

    void print_size() const {
        std::printf("%s%zu MB , %zu entries, size of %s = %zu\n", label, count * ENTRY_BYTES / MEGABYTE, count,
                    name, ENTRY_BYTES);
    }

    void wipe() { std::memset(static_cast<void*>(entries), 0, (count + SPARE_ENTRIES) * ENTRY_BYTES); }
};

Table<SearchEntry> search_hash("SEARCH_HASH \t\t: ", "search_hash");
Table<EvalEntry> eval_hash("EVAL_HASH  \t\t: ", "eval_hash");
Table<PawnEntry> pawn_hash("PAWN_HASH   \t\t: ", "pawn_hash");
int configured_mb = 2;

// The largest power of two not above the entries that `megabytes` hold; at least 1.
std::size_t entries_for(int megabytes) {
    const std::size_t fit = static_cast<std::size_t>(megabytes) * MEGABYTE / ENTRY_BYTES;
    std::size_t n = 1;
    while (n * 2 <= fit) n *= 2;
    return n;
}

inline std::uint32_t low_of(HashKey key) { return static_cast<std::uint32_t>(key); }
inline std::uint32_t high_of(HashKey key) { return static_cast<std::uint32_t>(key >> 32); }

template <typename Entry>
inline bool holds(const Entry& e, HashKey key) {
    return e.key_low == low_of(key) && e.key_high == high_of(key);
}

template <typename Entry>
inline bool is_empty(const Entry& e) {
    return e.key_low == 0 && e.key_high == 0;
}

template <typename Entry>
inline Entry& first_entry(Table<Entry>& t, HashKey key) {
    return t.entries[low_of(key) & t.mask()];
}

template <typename Entry>
inline void set_key(Entry& e, HashKey key) {
    e.key_low = low_of(key);
    e.key_high = high_of(key);
}

inline int clamp_depth(int depth) { return depth < 0 ? 0 : depth > 255 ? 255 : depth; }

}  // namespace

int hash_mb() { return configured_mb; }

void allocate(int megabytes) {
    if (megabytes < 0) megabytes = 0;
    configured_mb = megabytes;
    search_hash.allocate(entries_for(megabytes / 2));
    eval_hash.allocate(entries_for(megabytes / 4));
    pawn_hash.allocate(entries_for(megabytes / 4));
    search_hash.print_size();
    eval_hash.print_size();
    pawn_hash.print_size();
    std::putchar('\n');
}

void release() {
    search_hash.release();
    eval_hash.release();
    pawn_hash.release();
}

std::size_t search_entries() { return search_hash.count; }
std::size_t eval_entries() { return eval_hash.count; }
std::size_t pawn_entries() { return pawn_hash.count; }

void clear() {
    search_hash.entries[0].key_low = 0;
    eval_hash.entries[0].key_low = 0;
    pawn_hash.entries[0].key_low = 0;
}

void wipe() {
    search_hash.wipe();
    eval_hash.wipe();
    pawn_hash.wipe();
}

Probe probe(HashKey key, int alpha, int beta, int depth, int ply, int null_reduction) {
    Probe r;
    const SearchEntry* e = &first_entry(search_hash, key);
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

void store(HashKey key, int score, int alpha, int beta, int depth, int from, int to, bool threat) {
    const Bound bound = score >= beta ? LOWER_BOUND : score > alpha ? EXACT : UPPER_BOUND;
    if (score > MATE_BOUND || score < -MATE_BOUND) {
        if (bound != EXACT) return;
        score = score > 0 ? MATE_BOUND : -MATE_BOUND;
    }
    const int d = clamp_depth(depth);
    SearchEntry* e = &first_entry(search_hash, key);
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

bool probe_move(HashKey key, int& from, int& to) {
    const SearchEntry& e = first_entry(search_hash, key);
    if (!holds(e, key)) return false;
    from = e.from;
    to = e.to;
    ++stats.hmoves_count;
    return true;
}

void store_pv_move(HashKey key, int from, int to) {
    SearchEntry& e = first_entry(search_hash, key);
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

int eval_probe(HashKey key) {
    const EvalEntry& e = first_entry(eval_hash, key);
    if (!holds(e, key)) return NO_SCORE;
    ++stats.eval_hits;
    return e.score;
}

void eval_store(HashKey key, int score) {
    EvalEntry& e = first_entry(eval_hash, key);
    if (is_empty(e)) ++stats.evalhash_full;
    set_key(e, key);
    e.score = static_cast<std::int16_t>(score);
}

bool pawn_probe(HashKey key, PawnInfo& info) {
    const PawnEntry& e = first_entry(pawn_hash, key);
    if (!holds(e, key)) return false;
    ++stats.phash_hits;
    info.score = e.score;
    info.no_pawn_white = e.no_pawn_white;
    info.no_pawn_black = e.no_pawn_black;
    return true;
}

void pawn_store(HashKey key, const PawnInfo& info) {
    PawnEntry& e = first_entry(pawn_hash, key);
    if (is_empty(e)) ++stats.phash_full;
    set_key(e, key);
    e.score = static_cast<std::int16_t>(info.score);
    e.no_pawn_white = info.no_pawn_white;
    e.no_pawn_black = info.no_pawn_black;
}

}  // namespace varkon::hash_classic
