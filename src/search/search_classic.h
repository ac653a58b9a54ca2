// search_classic: varkon_classic's own search, an older design than varkon's.
//
// Depth counts CLASSIC_PLY (16) units per ply, so extensions can be fractions of a ply.
// `classic_search` is a fail-soft principal-variation alpha-beta search over the classic
// tables of hash_classic (the three-entry lookup, its null-move hint and threat flag, the
// move-only lookup, the stored principal variation), with null move, futility pruning
// at the last three plies (margins 300, 500 and 900) and extensions for check, mate
// threat, recapture, pawn push and single reply; `classic_quiesce` resolves captures,
// leaving out those that lose material by static exchange. The policy adds the classic
// time rule (time_control), the only-reply rule and the kept ponder result to the shared
// think driver.
// The rules in full are in the README ("varkon_classic's search").
#pragma once

#include "search/think.h"
#include "search/worker.h"

namespace varkon {

constexpr int CLASSIC_PLY = 16;

// The node search: same conventions as varkon's `search` (fail-soft, SEARCH_ABORTED on a
// stop); `depth` in CLASSIC_PLY units per ply.
int classic_search(SearchWorker& w, int alpha, int beta, int depth, bool null_ok, bool pv);
// The capture search at the leaves (all evasions when in check); never aborts.
int classic_quiesce(SearchWorker& w, int alpha, int beta);
// The root of one iteration of `iteration` plies within (alpha, beta).
int classic_search_root(SearchWorker& w, int iteration, int alpha, int beta);

// Whether a finished ponder search is kept for replay, and forgetting it.
bool ponder_result_kept();
void forget_ponder_result();

// varkon_classic's search: its node search, root search, time rule, steps of the think
// driver and tables.
const SearchPolicy& classic_search_policy();

}  // namespace varkon
