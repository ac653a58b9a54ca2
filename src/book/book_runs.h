// book_runs: the counting behind the book builder, in bounded memory whatever the size
// of the collection.
//
// Each (position, move) pair is counted in a hash table, together with the number of the
// count that saw it first. When the table fills the memory it may use, its pairs are
// sorted and written to a temporary file (a run) and the table starts afresh. At the end
// the runs and the table are merged: equal pairs add up, pairs counted fewer times than
// the minimum are dropped, and the rest come out grouped by the key's remainder modulo
// 5000 (the book's buckets, in order) and within a bucket in the order in which the pairs
// were first counted. The result does not depend on how often the table was spilled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/position.h"

namespace varkon {

constexpr int BOOK_BUCKETS = 5000;

// One pair and its count; in memory and, as it stands, in the runs (which live only as
// long as the build that wrote them).
struct PairCount {
    HashKey key;
    std::uint64_t first;    // the number of the count that saw the pair first
    std::uint32_t count;    // 0: an empty slot of the table
    std::uint8_t from, to;
    std::uint16_t bucket;   // key % BOOK_BUCKETS, set when the pairs are sorted
};

class PairCounter {
public:
    PairCounter() = default;
    ~PairCounter() { clear(); }
    PairCounter(const PairCounter&) = delete;
    PairCounter& operator=(const PairCounter&) = delete;

    // Starts counting; runs go to `dir`, which must exist. `memory` bounds, in bytes, the
    // table (while it grows, the old and the new one together) and the merge buffers.
    void start(const std::string& dir, std::size_t memory);
    // Counts one occurrence. False when the table was full and its run could not be
    // written; the build cannot go on then (the pairs of that run are lost).
    bool add(HashKey key, int from, int to);

    // Merges what was counted, calling `bucket_done` with each bucket (0..4999) that has
    // pairs counted at least `min_count` times, in bucket order, its pairs in book order.
    // Merging many runs takes passes that write runs of their own; `stop` is asked now and
    // then during them. Stops, false, when `bucket_done` returns false, `stop` returns
    // true, or a run cannot be read or written.
    using BucketSink = std::function<bool(int bucket, std::span<const PairCount> pairs)>;
    bool merge(int min_count, const BucketSink& bucket_done, bool (*stop)() = nullptr);

    // Frees the memory and removes the runs; the counter can be started again.
    void clear();

    int runs_written() const { return runs_written_; }     // runs spilled from the table
    std::size_t peak_bytes() const { return peak_bytes_; }  // the most memory used at once
    // What went wrong when add or merge failed other than by being stopped, as a message
    // for the user ("can't write temp file!"); nullptr when nothing did.
    const char* failure() const { return failure_; }

private:
    // A pair counted but not yet in the table.
    struct Waiting {
        HashKey key;
        std::uint64_t number, hash;
        std::uint8_t from, to;
    };
    static constexpr std::size_t WAITING = 4;

    static std::uint64_t hash(HashKey key, int from, int to);
    bool count_waiting(std::size_t n);  // puts the n oldest waiting pairs in the table
    bool insert(const Waiting& w);
    bool grow();
    bool spill();
    std::size_t sort_table();   // pairs to the front of the table, sorted; their number
    std::string run_name(int n) const;
    int new_run();              // a new run file open for writing; -1 when it cannot be made
    bool write_run(std::size_t n);  // the first n pairs of the table as a new run
    bool merge_pass(std::size_t fan_in, bool (*stop)());
    void release_table();
    void note_memory(std::size_t bytes);

    std::string dir_;
    std::size_t memory_ = 0;
    PairCount* table_ = nullptr;
    std::size_t capacity_ = 0;   // slots, a power of two
    int shift_ = 64;             // a key's slot is its hash's top bits
    std::size_t used_ = 0;
    std::uint64_t counted_ = 0;  // numbers the counts
    Waiting waiting_[WAITING];
    std::size_t waiting_begin_ = 0, waiting_end_ = 0;
    std::vector<int> runs_;      // numbers of the run files on disk, oldest first
    int next_run_ = 0;
    int runs_written_ = 0;
    std::size_t peak_bytes_ = 0;
    const char* failure_ = nullptr;
};

}  // namespace varkon
