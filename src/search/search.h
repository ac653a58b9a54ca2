// search: varkon's search below the root and its search policy.
//
// `search` is a fail-soft alpha-beta search with a principal-variation flag, null move,
// razoring, futility and late-move pruning and reductions, extensions and draw detection;
// `quiesce` resolves captures at its leaves. varkon's root search, time rule (in
// time_control) and tables make up its search policy.
#pragma once

#include "search/think.h"
#include "search/worker.h"

namespace varkon {

int search(SearchWorker& w, int alpha, int beta, int depth, bool null_ok, bool pv);
int quiesce(SearchWorker& w, int alpha, int beta, bool pv);

// varkon's root search: one iteration of `iteration` plies within (alpha, beta).
int search_root(SearchWorker& w, int iteration, int alpha, int beta);

// varkon's search: its node search, root search, time rule and tables.
const SearchPolicy& varkon_search_policy();

}  // namespace varkon
