// sort_moves_classic: the order in which varkon_classic's search tries the moves of a node.
//
// The picker hands the moves out in stages, so that a node cutting off early pays for
// little: the hash move; the captures that do not lose material (keyed by static exchange,
// best first); killer slot 1; killer slot 2; then every other move by its history. The
// killers and history of the search worker and the selection step are those both searches
// share; ordering values are the running program's piece_value (0, 100, 300, 300, 500,
// 900, 0).
#pragma once

#include "core/position.h"
#include "search/worker.h"

namespace varkon {

// Keys of the capture stage: at least CLASSIC_GOOD_CAPTURE for a capture that does not
// lose material, and the remaining moves' keys lie between CLASSIC_QUIET and it.
constexpr int CLASSIC_GOOD_CAPTURE = 4000000;
constexpr int CLASSIC_QUIET = 3000000;

// The ordering key of a capture (captured != 0): a capture whose victim is worth less
// than its capturer gets its static exchange value, plus CLASSIC_GOOD_CAPTURE when that is
// not negative; a capture with promotion victim + promotion + 3,999,900; any other capture
// victim - capturer + CLASSIC_GOOD_CAPTURE.
int classic_capture_key(Position& pos, const Move& m);

// Starts the picker of the current ply; from/to is the ply's hash move (0: none).
void classic_pick_start(SearchWorker& w, int hash_from, int hash_to);
// Leaves the move to try next at position i (called for i = the ply's first move, then
// each next position in turn).
void classic_pick_move(SearchWorker& w, int i);
// Records the quiet move at position i, which caused a cutoff, as a killer of the ply,
// unless its from or its to equals that of killer slot 1.
void classic_store_killer(SearchWorker& w, int i);

}  // namespace varkon
