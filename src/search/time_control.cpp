#include "search/time_control.h"

#include <algorithm>
#include <limits>

namespace varkon {

namespace {

// The allotment and its cap less the request's move overhead, the time a move takes to
// reach the other side (never below 1).
TimeBudget less_overhead(TimeBudget b, const SearchRequest& r) {
    if (r.move_overhead > 0) {
        b.alloc = std::max<std::int32_t>(1, b.alloc - r.move_overhead);
        b.cap = std::max<std::int32_t>(1, b.cap - r.move_overhead);
    }
    return b;
}

}  // namespace

std::int32_t clock_cap(std::uint32_t left) {
    const std::int64_t reserve = std::max<std::int64_t>(left / 10, std::min<std::int64_t>(left / 2, 30));
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{left} - reserve, 1, std::numeric_limits<std::int32_t>::max()));
}

TimeBudget varkon_time_budget(const SearchRequest& r) {
    const SearchClock& c = r.clock;
    const std::uint32_t left = c.time_left == 0 ? 1 : c.time_left;
    std::int64_t alloc;
    if (c.increment != 0)
        alloc = left / 30 + c.increment / 2;
    else if (c.moves_left == 0)
        alloc = left / 45;
    else if (c.moves_left == 1)
        alloc = left / 2;
    else
        alloc = left / (c.moves_left + 1);
    const std::int32_t cap = clock_cap(left);
    if (alloc > cap) alloc = cap;
    if (r.movetime >= 0) alloc = r.movetime;
    const auto time_alloc = static_cast<std::int32_t>(alloc < 1 ? 1 : alloc);
    const bool pondering = r.mode == SearchMode::ponder;
    const int interval = (left >= 30000 && !pondering && r.max_nodes == 0) ? 10000 : 500;
    return less_overhead(TimeBudget{time_alloc, cap, interval}, r);
}

TimeBudget classic_time_budget(const SearchRequest& r) {
    const SearchClock& c = r.clock;
    const std::uint32_t own = c.time_left == 0 ? 1 : c.time_left;
    std::int64_t alloc;
    if (c.increment != 0)
        alloc = (std::int64_t{c.increment} * 10 + own) / 10;
    else if (c.moves_to_go != 0 && c.moves_left != 0)
        alloc = std::max<std::int64_t>(0, std::int64_t{own} - 500) / c.moves_left;
    else
        alloc = own / 30;
    std::int32_t cap = clock_cap(own);
    if (r.mode == SearchMode::test_suite) {
        // The clock is the time for this one position: there is no game to lose on time.
        alloc = own;
        cap = static_cast<std::int32_t>(std::min<std::uint32_t>(own, std::numeric_limits<std::int32_t>::max()));
    } else if (alloc > cap) {
        alloc = cap;
    }
    if (r.movetime >= 0) alloc = r.movetime;
    const auto time_alloc = static_cast<std::int32_t>(std::max<std::int64_t>(1, alloc));
    return less_overhead(TimeBudget{time_alloc, cap, time_alloc >= 500 ? 500 : 50}, r);
}

}  // namespace varkon
