// threads: the helper threads of a parallel search, and what the threads of one search
// share besides the tables.
//
// A pool of helper threads, each with a SearchWorker of its own, sleeping on a condition
// variable between searches. The think driver starts one job on every helper at a search's
// start, raises the shared stop flag when its own search ends and waits until every helper
// has returned: outside a search no helper runs, so the tables may be resized or cleared.
// Helpers publish their node and tablebase-hit counts into relaxed atomics as they poll,
// so the main thread can report sums without the helpers' counting being atomic.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace varkon {

struct SearchWorker;

constexpr int MAX_SEARCH_THREADS = 256;

class SearchThreads {
public:
    using Job = void (*)(SearchWorker& w, int helper, void* context);

    SearchThreads() = default;
    ~SearchThreads();
    SearchThreads(const SearchThreads&) = delete;
    SearchThreads& operator=(const SearchThreads&) = delete;

    // Waits until no job runs, then makes the pool `helpers` threads (clamped to
    // 0..MAX_SEARCH_THREADS - 1), each started and waiting with its worker made. Returns
    // the number the pool has: fewer than asked when the system gives no more threads or
    // no more memory for their workers.
    int resize(int helpers);
    int helpers() const { return static_cast<int>(slots_.size()); }
    // The worker of helper 1 .. helpers(); read it only while no job runs.
    SearchWorker& worker(int helper) { return *slots_[static_cast<std::size_t>(helper - 1)]->worker; }

    // Lowers the stop flag and runs `job(worker, helper, context)` once on every helper
    // (helper = 1 .. helpers()); returns at once.
    void start(Job job, void* context);
    // Raises the stop flag, which the helpers' polls read.
    void stop() { stop_.store(true, std::memory_order_relaxed); }
    bool stop_requested() const { return stop_.load(std::memory_order_relaxed); }
    // Waits until every helper has returned from the job started last.
    void wait();
    // Whether a job is running on some helper.
    bool busy();

    // The sums of the node and tablebase-hit counts the helpers published last.
    std::uint64_t published_nodes() const;
    std::uint64_t published_tbhits() const;

private:
    struct Slot {
        std::thread thread;
        std::unique_ptr<SearchWorker> worker;
        bool ready = false;   // the thread runs and its worker is made
        bool failed = false;  // the worker could not be made: the thread ended
        bool quit = false;    // asked to end
    };
    void helper_loop(Slot& slot, int helper);
    void remove_from(std::size_t first);

    std::vector<std::unique_ptr<Slot>> slots_;
    std::mutex mutex_;
    std::condition_variable wake_;   // helpers: a job or the end
    std::condition_variable done_;   // the pool: a helper started, failed or finished its job
    std::uint64_t generation_ = 0;   // counts the jobs started
    int running_ = 0;                // helpers still in the job started last
    Job job_ = nullptr;
    void* context_ = nullptr;
    std::atomic<bool> stop_{false};
};

}  // namespace varkon
