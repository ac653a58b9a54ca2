// sort_moves: the order in which the search tries the moves of a node.
//
// Each generated move receives an ordering key in its `score` (hash move, captures by
// victim less attacker, promotions, killers, history); the picker hands moves out one at
// a time by selection, best key first, so a node that cuts off early never pays for a
// full sort. `killers` and `history` are learned during a search and cleared before each.
#pragma once

#include "core/position.h"
#include "search/hash.h"

namespace varkon {

extern HashMove killers[MAX_PLY][2];   // slot 0 is the newer
extern int history[99][99];              // [from][to]
extern int pick_stage[MAX_PLY];

void clear_ordering_tables();
// Keys of the main search for every move of the current ply.
void score_moves();
// Keys of the quiescence search.
void score_captures();
// Brings the best-keyed move among positions i.. of the ply's list to position i.
void select_best(int i);
// Leaves the move to try next at position i (hash move first, then by key).
void pick_move(int i);
// Records a quiet move that caused a cutoff as a killer of the ply.
void store_killer(int i);
// Credits the cutoff move at position i with depth x depth; halves the table when large.
void credit_history(int i, int depth);

}  // namespace varkon
