// tablebase_root: the root move list as the Syzygy tables rank it.
//
// When the game position is in the tables (few enough pieces, no castling rights), its moves
// are ranked by their distance-to-zeroing results and only those that keep the best result
// stay to be searched: a win the fifty-move rule cannot spoil (every winning move stays,
// ordered by its distance; only the fastest ones once the position has repeated), any
// draw, or in a loss the moves that hold out longest. The search then chooses among them,
// and the root's result from the tables is what the reports show, unless the search finds
// a mate that agrees with it.
#pragma once

#include "search/worker.h"

namespace varkon {

// Narrows the root moves of ply 0 (generated, and restricted by "searchmoves") of the
// worker's position; sets the worker's root_tables.
void narrow_root_by_tables(SearchWorker& w);
// The score to report for the root, given the search's.
int reported_root_score(const SearchWorker& w, int search_score);

}  // namespace varkon
