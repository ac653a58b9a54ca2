// time_control: how long a search may take, by each program's time rule.
//
// A rule reads the request's clock and limits and gives the time allotted to the search,
// the most any extension may reach and how many nodes pass between two looks at the
// input and the clock. The driver starts the poll clock with it. Both rules take the
// request's move overhead off the allotment and its cap (never below 1), after movetime.
#pragma once

#include <cstdint>

#include "search/request.h"

namespace varkon {

struct TimeBudget {
    std::int32_t alloc;   // centiseconds allotted
    std::int32_t cap;     // the most an extension may reach
    int poll_interval;    // nodes between two polls
};

// The most a move may take of a clock with `left` centiseconds: a reserve stays for the
// moves to come and for the time the move takes to reach the front end, a tenth of the
// clock and at least 30 centiseconds (half the clock when less than a second is left).
// Always at least 1, at most the largest 32-bit time.
std::int32_t clock_cap(std::uint32_t left);

// varkon's rule: with an increment clock / 30 + increment / 2; else, in sudden death,
// clock / 45; with moves to go, clock / (moves + 1) (half the clock for the last move);
// never beyond clock_cap; movetime replaces it. Polls every 500 nodes, every 10,000 with
// five minutes or more on the clock when not pondering and without a node limit.
TimeBudget varkon_time_budget(const SearchRequest& r);

// varkon_classic's rule: with an increment (increment x 10 + clock) / 10; else, with moves
// per control and moves left set, (clock - 500) / moves left; else clock / 30; in
// test-suite mode the whole clock. Outside the test suite the allotment keeps the reserve
// of clock_cap; movetime replaces it. Polls every 500 nodes, every 50 below 5 seconds.
TimeBudget classic_time_budget(const SearchRequest& r);

}  // namespace varkon
