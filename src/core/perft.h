// perft: the perft move-tree counter, the standard check of move generation and of
// making and unmaking moves.
#pragma once

#include <cstdint>

#include "core/position.h"

namespace varkon {

// Asked every so many interior nodes of a long count; true ends the count early.
using PerftPoll = bool (*)();

struct PerftCount {
    std::uint64_t nodes = 0;
    bool stopped = false;   // the poll ended the count: `nodes` is incomplete
};

// Number of legal move sequences of exactly `depth` plies from the position's current ply
// (depth 0 or less counts the position itself). Leaves the position unchanged.
PerftCount perft(Position& pos, int depth, PerftPoll poll = nullptr);

// The same split by root move: `each` sees every legal move of the game position (ply 0),
// in generation order, with its count (not called for a move whose count was stopped).
// Depth 0 or less counts the position itself and sees no move.
PerftCount perft_divide(Position& pos, int depth, PerftPoll poll, void (*each)(const Move& m, std::uint64_t nodes));

}  // namespace varkon
