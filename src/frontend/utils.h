// utils: the perft move-tree counter.
#pragma once

#include <cstdint>

namespace varkon {

// Number of legal move sequences of exactly `depth` plies from the current ply
// (depth 0 or less counts the position itself). Leaves the position unchanged. Every so
// many nodes it asks the protocol's input handler (poll_input) about waiting commands;
// when that says stop, the count ends early and perft_was_stopped() tells so.
std::uint64_t perft(int depth);
bool perft_was_stopped();
// Perft split by root move: one line "<move>: <count>" per legal move of the game
// position in generation order, an empty line and "Nodes searched: <total>"; a count
// stopped early prints "perft stopped" instead of the total.
std::uint64_t perft_divide(int depth);

}  // namespace varkon
