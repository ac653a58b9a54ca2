#include "search/threads.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "search/worker.h"

namespace varkon {

SearchThreads::~SearchThreads() {
    wait();
    remove_from(0);
}

void SearchThreads::helper_loop(Slot& slot, int helper) {
    std::unique_ptr<SearchWorker> worker;
    try {
        worker = std::make_unique<SearchWorker>();
    } catch (const std::bad_alloc&) {
    }
    std::unique_lock lock(mutex_);
    slot.worker = std::move(worker);
    slot.ready = slot.worker != nullptr;
    slot.failed = !slot.ready;
    done_.notify_all();
    if (slot.failed) return;
    std::uint64_t seen = generation_;
    for (;;) {
        wake_.wait(lock, [&] { return slot.quit || generation_ != seen; });
        if (slot.quit) return;
        seen = generation_;
        const Job job = job_;
        void* const context = context_;
        lock.unlock();
        job(*slot.worker, helper, context);
        lock.lock();
        if (--running_ == 0) done_.notify_all();
    }
}

void SearchThreads::remove_from(std::size_t first) {
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = first; i < slots_.size(); ++i) slots_[i]->quit = true;
    }
    wake_.notify_all();
    for (std::size_t i = first; i < slots_.size(); ++i)
        if (slots_[i]->thread.joinable()) slots_[i]->thread.join();
    slots_.resize(std::min(first, slots_.size()));
}

int SearchThreads::resize(int count) {
    wait();
    const auto wanted = static_cast<std::size_t>(std::clamp(count, 0, MAX_SEARCH_THREADS - 1));
    if (wanted < slots_.size()) remove_from(wanted);
    while (slots_.size() < wanted) {
        auto slot = std::make_unique<Slot>();
        Slot& s = *slot;
        const int number = static_cast<int>(slots_.size()) + 1;
        try {
            s.thread = std::thread([this, &s, number] { helper_loop(s, number); });
        } catch (const std::system_error&) {
            break;
        }
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return s.ready || s.failed; });
        const bool failed = s.failed;
        lock.unlock();
        if (failed) {
            s.thread.join();
            break;
        }
        slots_.push_back(std::move(slot));
    }
    return helpers();
}

void SearchThreads::start(Job job, void* context) {
    if (slots_.empty()) return;
    stop_.store(false, std::memory_order_relaxed);
    // The counts of the last search must not be read as this one's.
    for (const auto& s : slots_) {
        s->worker->published.nodes.store(0, std::memory_order_relaxed);
        s->worker->published.tbhits.store(0, std::memory_order_relaxed);
    }
    {
        std::lock_guard lock(mutex_);
        job_ = job;
        context_ = context;
        running_ = static_cast<int>(slots_.size());
        ++generation_;
    }
    wake_.notify_all();
}

void SearchThreads::wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return running_ == 0; });
}

bool SearchThreads::busy() {
    std::lock_guard lock(mutex_);
    return running_ != 0;
}

std::uint64_t SearchThreads::published_nodes() const {
    std::uint64_t sum = 0;
    for (const auto& s : slots_) sum += s->worker->published.nodes.load(std::memory_order_relaxed);
    return sum;
}

std::uint64_t SearchThreads::published_tbhits() const {
    std::uint64_t sum = 0;
    for (const auto& s : slots_) sum += s->worker->published.tbhits.load(std::memory_order_relaxed);
    return sum;
}

}  // namespace varkon
