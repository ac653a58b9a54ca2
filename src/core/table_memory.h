// table_memory: storage for the engine's large tables (transposition tables, caches), the
// entry every searching thread may read and write at once, and the fixed-entry table that
// varkon_classic's tables are made of.
//
// A table is handed out zero-filled and already touched: every page is faulted in when
// the table is made, outside any search, so that the first search of a process runs at
// full speed instead of paying a page fault at each new page. Where the system offers
// large pages the storage asks for them, which also spares translation misses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/messages.h"

namespace varkon {

// `bytes` of zeroed, touched storage, aligned to a cache line at least; nullptr when the
// memory cannot be had.
void* table_alloc(std::size_t bytes);
// Returns storage of table_alloc; `bytes` must be the size it was made with.
void table_free(void* p, std::size_t bytes);

// ---- entries shared by the searching threads -------------------------------------------

// A 16-byte entry that several threads read and write without a lock: a key word and a
// data word, the key stored XOR the data, each accessed as a relaxed atomic. A read that
// races with a write may see one word of each entry, and then the key it decodes matches
// neither position (but for a chance of one in 2^64), so a lookup never takes another
// position's data for its own. An entry of zeros decodes as key 0 with data 0: empty.
// Outside a search (when no other thread runs) a table of them may be zeroed or copied as
// plain memory.
struct SharedEntry {
    std::uint64_t stored_key;   // key ^ data
    std::uint64_t data;
};
static_assert(sizeof(SharedEntry) == 16);

// An entry as read: its key and its data.
struct EntryValue {
    std::uint64_t key;
    std::uint64_t data;
};

inline EntryValue load_entry(const SharedEntry& e) {
    auto& words = const_cast<SharedEntry&>(e);
    const std::uint64_t stored = std::atomic_ref<std::uint64_t>(words.stored_key).load(std::memory_order_relaxed);
    const std::uint64_t data = std::atomic_ref<std::uint64_t>(words.data).load(std::memory_order_relaxed);
    return {stored ^ data, data};
}

inline void store_entry(SharedEntry& e, std::uint64_t key, std::uint64_t data) {
    std::atomic_ref<std::uint64_t>(e.stored_key).store(key ^ data, std::memory_order_relaxed);
    std::atomic_ref<std::uint64_t>(e.data).store(data, std::memory_order_relaxed);
}

// Sets the low half of an entry's key to zero, keeping the rest (the entry then holds no
// position it held before).
inline void clear_key_low_half(SharedEntry& e) {
    const EntryValue v = load_entry(e);
    store_entry(e, v.key & 0xFFFFFFFF00000000ULL, v.data);
}

// ---- tables of 16-byte entries with spares --------------------------------------------

constexpr std::size_t TABLE_ENTRY_BYTES = 16;
constexpr std::size_t MEGABYTE = 1048576;

// A table of `count` entries (a power of two) and `Spare` entries behind them, so that a
// key's index and the entries after it are always inside. It is either allocated or its
// built-in single entry with spares, so `entries` is never null and a lookup never meets
// a missing table. Allocation halves the size while memory is short, saying so.
template <typename Entry, std::size_t Spare>
struct EntryTable {
    static_assert(sizeof(Entry) == TABLE_ENTRY_BYTES);

    constexpr EntryTable(const char* label_text, const char* table_name) : label(label_text), name(table_name) {}
    EntryTable(const EntryTable&) = delete;
    EntryTable& operator=(const EntryTable&) = delete;

    const char* label;   // the size line's label
    const char* name;
    Entry builtin[1 + Spare] = {};
    Entry* entries = builtin;
    std::size_t count = 1;

    std::uint32_t mask() const { return static_cast<std::uint32_t>(count - 1); }
    bool allocated() const { return entries != builtin; }

    void release() {
        if (allocated()) table_free(entries, (count + Spare) * TABLE_ENTRY_BYTES);
        entries = builtin;
        count = 1;
        std::memset(static_cast<void*>(builtin), 0, sizeof builtin);
    }

    // Allocates room for `wanted` entries (a power of two), halving while memory is short.
    void allocate(std::size_t wanted) {
        release();
        for (std::size_t n = wanted; n > 1; n /= 2) {
            if (void* p = table_alloc((n + Spare) * TABLE_ENTRY_BYTES)) {
                entries = static_cast<Entry*>(p);
                count = n;
                return;
            }
            messagef("not enough memory for %s of %zu entries, trying %zu entries\n", name, n, n / 2);
        }
    }

    // "<label><megabytes> MB , <count> entries, size of <name> = 16"
    void print_size() const {
        std::printf("%s%zu MB , %zu entries, size of %s = %zu\n", label, count * TABLE_ENTRY_BYTES / MEGABYTE, count,
                    name, TABLE_ENTRY_BYTES);
    }

    void wipe() { std::memset(static_cast<void*>(entries), 0, (count + Spare) * TABLE_ENTRY_BYTES); }

    Entry& first_entry(std::uint64_t key) { return entries[static_cast<std::uint32_t>(key) & mask()]; }

    // Asks the processor to bring the `n` entries from a key's index into the cache (they
    // may straddle two cache lines).
    void prefetch(std::uint64_t key, std::size_t n = 1) const {
        const char* first = reinterpret_cast<const char*>(&entries[static_cast<std::uint32_t>(key) & mask()]);
        __builtin_prefetch(first);
        if (n > 1) __builtin_prefetch(first + n * TABLE_ENTRY_BYTES - 1);
    }
};

// The largest power of two not above the 16-byte entries that `megabytes` hold; at least 1.
inline std::size_t entries_for_megabytes(int megabytes) {
    const std::size_t fit = static_cast<std::size_t>(megabytes < 0 ? 0 : megabytes) * MEGABYTE / TABLE_ENTRY_BYTES;
    std::size_t n = 1;
    while (n * 2 <= fit) n *= 2;
    return n;
}

}  // namespace varkon
