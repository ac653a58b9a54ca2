// sort_moves: the order in which varkon's search tries the moves of a node.
//
// Each generated move receives an ordering key in its `score` (hash move, captures by
// victim less attacker, promotions, killers, history); the picker hands moves out one at
// a time by selection, best key first, so a node that cuts off early never pays for a
// full sort. Killers and history live in the search worker, learned during a search and
// cleared before each.
#pragma once

#include "search/worker.h"

namespace varkon {

// Keys of the main search for every move of the current ply.
void score_moves(SearchWorker& w);
// Keys of the quiescence search.
void score_captures(Position& pos);
// Leaves the move to try next at position i (hash move first, then by key).
void pick_move(SearchWorker& w, int i);
// Records a quiet move that caused a cutoff as a killer of the ply.
void store_killer(SearchWorker& w, int i);

}  // namespace varkon
