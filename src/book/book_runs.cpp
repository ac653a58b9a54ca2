#include "book/book_runs.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace varkon {

namespace {

static_assert(sizeof(PairCount) == 24, "runs hold the pairs as they lie in memory");

constexpr std::size_t PAIR_BYTES = sizeof(PairCount);
constexpr std::size_t FIRST_CAPACITY = std::size_t{1} << 16;  // slots of a new table
constexpr std::size_t SMALLEST_CAPACITY = 64;
constexpr std::size_t MAX_FAN_IN = 64;               // runs merged at once
constexpr std::size_t FAN_IN_BYTES = 64 << 10;       // memory for each run merged at once
constexpr std::size_t BUFFER_BYTES = 1 << 20;        // the most one run's buffer takes
constexpr std::size_t SMALLEST_BUFFER_PAIRS = 256;
constexpr std::uint32_t MOST_COUNTED = INT32_MAX;    // a book weight is a signed 32-bit number

std::uint32_t move_of(const PairCount& p) { return static_cast<std::uint32_t>(p.from) << 8 | p.to; }

bool same_pair(const PairCount& a, const PairCount& b) {
    return a.key == b.key && a.from == b.from && a.to == b.to;
}

// The order of runs: by bucket, then by pair.
bool pair_less(const PairCount& a, const PairCount& b) {
    if (a.bucket != b.bucket) return a.bucket < b.bucket;
    if (a.key != b.key) return a.key < b.key;
    return move_of(a) < move_of(b);
}

void add_counts(PairCount& into, const PairCount& more) {
    into.count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{into.count} + more.count, MOST_COUNTED));
    into.first = std::min(into.first, more.first);
}

bool write_all(int fd, const void* data, std::size_t bytes) {
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd, p, std::min<std::size_t>(bytes, std::size_t{1} << 30));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to `bytes`; fewer only at the end of the file. -1 on a read error.
long long read_full(int fd, void* data, std::size_t bytes) {
    char* p = static_cast<char*>(data);
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::read(fd, p + got, bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

// A sorted sequence of pairs: a run read through a buffer, or pairs held in memory.
class Source {
public:
    Source(const PairCount* pairs, std::size_t n) : at_(pairs), end_(pairs + n) {}
    Source(int fd, std::size_t buffer_pairs) : fd_(fd), buffer_(buffer_pairs) { refill(); }
    ~Source() {
        if (fd_ >= 0) ::close(fd_);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    const PairCount* head() const { return at_ < end_ ? at_ : nullptr; }
    void next() {
        if (++at_ == end_ && fd_ >= 0) refill();
    }
    bool failed() const { return failed_; }

private:
    void refill() {
        const long long got = read_full(fd_, buffer_.data(), buffer_.size() * PAIR_BYTES);
        if (got < 0 || got % static_cast<long long>(PAIR_BYTES) != 0) failed_ = true;
        at_ = buffer_.data();
        end_ = at_ + (got > 0 ? static_cast<std::size_t>(got) / PAIR_BYTES : 0);
    }

    int fd_ = -1;
    std::vector<PairCount> buffer_;
    const PairCount* at_ = nullptr;
    const PairCount* end_ = nullptr;
    bool failed_ = false;
};

using Sources = std::vector<std::unique_ptr<Source>>;

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Zeroed memory for a table, on huge pages where the system gives them: a table filled at
// random costs a page fault and a TLB miss for almost every count on small pages.
PairCount* map_table(std::size_t bytes) {
    const std::size_t mapped = bytes + HUGE_PAGE;
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Only the aligned part is kept, so that it can be backed by whole huge pages.
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t used = (bytes + page - 1) / page * page;
    if (aligned > start) ::munmap(p, aligned - start);
    if (start + mapped > aligned + used) ::munmap(reinterpret_cast<void*>(aligned + used), start + mapped - aligned - used);
    ::madvise(reinterpret_cast<void*>(aligned), used, MADV_HUGEPAGE);
    return reinterpret_cast<PairCount*>(aligned);
}

void unmap_table(PairCount* table, std::size_t bytes) {
    if (table != nullptr) ::munmap(table, bytes);
}

// Merges sorted sources: `emit` sees each pair once, with the counts of all sources added
// up and the earliest first count; false when it returns false or a source cannot be read.
template <class Emit>
bool merge_sources(Sources& sources, Emit&& emit) {
    std::vector<std::size_t> heap;
    for (std::size_t i = 0; i < sources.size(); ++i)
        if (sources[i]->head() != nullptr) heap.push_back(i);
    auto later = [&](std::size_t a, std::size_t b) { return pair_less(*sources[b]->head(), *sources[a]->head()); };
    std::make_heap(heap.begin(), heap.end(), later);
    // Takes the smallest head, moving its source on.
    auto take = [&] {
        std::pop_heap(heap.begin(), heap.end(), later);
        Source& s = *sources[heap.back()];
        const PairCount p = *s.head();
        s.next();
        if (s.head() != nullptr)
            std::push_heap(heap.begin(), heap.end(), later);
        else
            heap.pop_back();
        return p;
    };
    while (!heap.empty()) {
        PairCount merged = take();
        while (!heap.empty() && same_pair(*sources[heap.front()]->head(), merged)) add_counts(merged, take());
        if (!emit(merged)) return false;
    }
    for (const auto& s : sources)
        if (s->failed()) return false;
    return true;
}

}  // namespace

void PairCounter::start(const std::string& dir, std::size_t memory) {
    clear();
    dir_ = dir;
    memory_ = memory;
    runs_written_ = 0;
    peak_bytes_ = 0;
    counted_ = 0;
    failure_ = nullptr;
}

void PairCounter::note_memory(std::size_t bytes) { peak_bytes_ = std::max(peak_bytes_, bytes); }

void PairCounter::release_table() {
    unmap_table(table_, capacity_ * PAIR_BYTES);
    table_ = nullptr;
    capacity_ = used_ = 0;
}

// Doubles the table while the old and the new one fit in the memory together; false
// (and the table as it was) when they do not.
bool PairCounter::grow() {
    std::size_t capacity = capacity_ * 2;
    if (capacity_ == 0) {
        capacity = FIRST_CAPACITY;
        while (capacity > SMALLEST_CAPACITY && capacity * PAIR_BYTES > memory_) capacity /= 2;
    } else if ((capacity_ + capacity) * PAIR_BYTES > memory_) {
        return false;
    }
    PairCount* table = map_table(capacity * PAIR_BYTES);
    if (table == nullptr) return false;
    note_memory((capacity_ + capacity) * PAIR_BYTES);
    const int shift = 64 - std::countr_zero(capacity);
    for (std::size_t i = 0; i < capacity_; ++i) {
        const PairCount& p = table_[i];
        if (p.count == 0) continue;
        std::size_t s = hash(p.key, p.from, p.to) >> shift;
        while (table[s].count != 0) s = (s + 1) & (capacity - 1);
        table[s] = p;
    }
    unmap_table(table_, capacity_ * PAIR_BYTES);
    table_ = table;
    capacity_ = capacity;
    shift_ = shift;
    return true;
}

// A pair's slot in a table of 2^k slots is the top k bits of its hash.
std::uint64_t PairCounter::hash(HashKey key, int from, int to) {
    const std::uint64_t move = static_cast<std::uint64_t>(from) << 8 | static_cast<std::uint64_t>(to);
    return (key ^ (move * 0xC2B2AE3D27D4EB4FULL)) * 0x9E3779B97F4A7C15ULL;
}

std::size_t PairCounter::sort_table() {
    std::size_t n = 0;
    for (std::size_t i = 0; i < capacity_; ++i)
        if (table_[i].count != 0) {
            PairCount p = table_[i];
            p.bucket = static_cast<std::uint16_t>(p.key % BOOK_BUCKETS);
            table_[n++] = p;
        }
    std::sort(table_, table_ + n, pair_less);
    return n;
}

std::string PairCounter::run_name(int n) const { return dir_ + "/tempfile_" + std::to_string(n) + ".dat"; }

int PairCounter::new_run() {
    const int n = ++next_run_;
    const int fd = ::open(run_name(n).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) runs_.push_back(n);
    return fd;
}

bool PairCounter::write_run(std::size_t n) {
    const int fd = new_run();
    const bool written = fd >= 0 && write_all(fd, table_, n * PAIR_BYTES);
    if ((fd >= 0 && ::close(fd) != 0) || !written) {
        failure_ = "can't write temp file!";
        return false;
    }
    ++runs_written_;
    return true;
}

bool PairCounter::spill() {
    if (!write_run(sort_table())) return false;
    std::memset(static_cast<void*>(table_), 0, capacity_ * PAIR_BYTES);
    used_ = 0;
    return true;
}

bool PairCounter::add(HashKey key, int from, int to) {
    // The pair waits a moment while its slot is fetched from memory: by the next count,
    // which comes after the next move is found, it is at hand.
    Waiting& w = waiting_[waiting_end_++ % WAITING];
    w = {key, counted_++, hash(key, from, to), static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to)};
    if (table_ != nullptr) {
        const PairCount* p = table_ + (w.hash >> shift_);
        __builtin_prefetch(p);
        __builtin_prefetch(reinterpret_cast<const char*>(p) + sizeof(PairCount) - 1);
    }
    return waiting_end_ - waiting_begin_ < WAITING || count_waiting(1);
}

bool PairCounter::count_waiting(std::size_t n) {
    for (; n > 0 && waiting_begin_ < waiting_end_; --n) {
        const Waiting w = waiting_[waiting_begin_++ % WAITING];
        if (!insert(w)) return false;
    }
    return true;
}

bool PairCounter::insert(const Waiting& w) {
    if (used_ >= capacity_ - capacity_ / 4 && !grow()) {
        if (capacity_ == 0) {
            failure_ = "not enough memory for the book table!";
            return false;
        }
        if (!spill()) return false;
    }
    for (std::size_t s = w.hash >> shift_;; s = (s + 1) & (capacity_ - 1)) {
        PairCount& p = table_[s];
        if (p.count == 0) {
            p = {w.key, w.number, 1, w.from, w.to, 0};
            ++used_;
            return true;
        }
        if (p.key == w.key && p.from == w.from && p.to == w.to) {
            if (p.count < MOST_COUNTED) ++p.count;
            return true;
        }
    }
}

// Merges the oldest `fan_in` runs into one.
bool PairCounter::merge_pass(std::size_t fan_in, bool (*stop)()) {
    const std::size_t buffer_pairs =
        std::clamp(memory_ / (fan_in + 1) / PAIR_BYTES, SMALLEST_BUFFER_PAIRS, BUFFER_BYTES / PAIR_BYTES);
    note_memory((fan_in + 1) * buffer_pairs * PAIR_BYTES);
    Sources sources;
    for (std::size_t i = 0; i < fan_in; ++i) {
        const int fd = ::open(run_name(runs_[i]).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            failure_ = "can't open temp file!";
            return false;
        }
        sources.push_back(std::make_unique<Source>(fd, buffer_pairs));
    }
    const int out = new_run();
    if (out < 0) {
        failure_ = "can't write temp file!";
        return false;
    }
    std::vector<PairCount> buffer;
    buffer.reserve(buffer_pairs);
    bool written = true;
    std::size_t merged = 0;
    const bool complete = merge_sources(sources, [&](const PairCount& p) {
        buffer.push_back(p);
        if (buffer.size() == buffer_pairs) {
            written = write_all(out, buffer.data(), buffer.size() * PAIR_BYTES);
            buffer.clear();
        }
        return written && (++merged % 65536 != 0 || stop == nullptr || !stop());
    });
    if (complete) written = write_all(out, buffer.data(), buffer.size() * PAIR_BYTES);
    if (::close(out) != 0) written = false;
    for (const auto& s : sources)
        if (s->failed()) failure_ = "can't read temp file!";
    if (!written) failure_ = "can't write temp file!";
    if (!complete || !written) return false;
    for (std::size_t i = 0; i < fan_in; ++i) ::unlink(run_name(runs_[i]).c_str());
    runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(fan_in));
    return true;
}

bool PairCounter::merge(int min_count, const BucketSink& bucket_done, bool (*stop)()) {
    if (!count_waiting(WAITING)) return false;
    const std::size_t fan_in = std::clamp<std::size_t>(memory_ / FAN_IN_BYTES, 2, MAX_FAN_IN);
    std::size_t held = sort_table();
    if (runs_.size() + (held > 0 ? 1 : 0) > fan_in) {
        // Too many runs to merge at once: the table becomes a run too, and the oldest runs
        // are merged until the rest can be.
        if (held > 0 && !write_run(held)) return false;
        held = 0;
        release_table();
        while (runs_.size() > fan_in)
            if (!merge_pass(fan_in, stop)) return false;
    }
    const std::size_t table_bytes = capacity_ * PAIR_BYTES;
    const std::size_t buffer_pairs = std::clamp((memory_ - std::min(memory_, table_bytes)) / (runs_.size() + 1) / PAIR_BYTES,
                                                SMALLEST_BUFFER_PAIRS, BUFFER_BYTES / PAIR_BYTES);
    note_memory(table_bytes + runs_.size() * buffer_pairs * PAIR_BYTES);
    Sources sources;
    for (const int run : runs_) {
        const int fd = ::open(run_name(run).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            failure_ = "can't open temp file!";
            return false;
        }
        sources.push_back(std::make_unique<Source>(fd, buffer_pairs));
    }
    if (held > 0) sources.push_back(std::make_unique<Source>(table_, held));

    std::vector<PairCount> bucket;
    int current = -1;
    auto flush = [&] {
        if (bucket.empty()) return true;
        std::sort(bucket.begin(), bucket.end(), [](const PairCount& a, const PairCount& b) { return a.first < b.first; });
        const bool go_on = bucket_done(current, bucket);
        bucket.clear();
        return go_on;
    };
    const bool complete = merge_sources(sources, [&](const PairCount& p) {
        if (p.bucket != current) {
            if (!flush()) return false;
            current = p.bucket;
        }
        if (p.count >= static_cast<std::uint32_t>(std::max(min_count, 1))) bucket.push_back(p);
        return true;
    });
    for (const auto& s : sources)
        if (s->failed()) failure_ = "can't read temp file!";
    return complete && flush();
}

void PairCounter::clear() {
    release_table();
    waiting_begin_ = waiting_end_ = 0;
    for (const int run : runs_) ::unlink(run_name(run).c_str());
    runs_.clear();
}

}  // namespace varkon
