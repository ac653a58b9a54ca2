// think: the think driver, the one way the front ends make the engine choose a move.
//
// The driver is shared by both programs: it prepares a search worker with the game
// position, builds the root move list (restricted by "searchmoves"), sets the time limit,
// asks the opening book and deepens iteratively with aspiration windows, on helper threads
// too when the search has more than one (search/threads.h). What the programs
// do differently comes from two records: the search policy of the running program (its node
// search, its tables, its time rule, the steps of the driver it adds), chosen once at
// start-up, and the request of the protocol in charge (the clock, limits and mode, the
// output for every line the driver and the search print, and what is done with the
// chosen move). The driver itself prints nothing.
#pragma once

#include "core/position.h"
#include "search/request.h"
#include "search/time_control.h"
#include "search/worker.h"

namespace varkon {

// The search tables of a program: sized from one Hash value in megabytes.
struct TableOps {
    void (*allocate)(int megabytes);   // releases and sizes anew
    void (*release)();
    void (*clear_for_search)();        // what every search start clears
    void (*clear_all)();               // empties them completely
    int (*size_mb)();                  // the Hash value of the tables in use
    // Asks the processor for the entries the lookups of a position just reached by a move
    // will read, so that they arrive while the move is tested and the node begins.
    void (*prefetch)(const Position& pos);
};

struct SearchPolicy {
    TableOps tables;
    // Clears the per-search state of the program's search (its ordering tables).
    void (*prepare)(SearchWorker& w);
    // Orders the root moves for the first iteration.
    void (*order_root)(SearchWorker& w);
    // The time of the coming search, from the request's clock and limits.
    TimeBudget (*time_budget)(const SearchRequest& r);
    // Searches the root to `iteration` plies within (alpha, beta); sets root_best and
    // root_score; returns root_score or SEARCH_ABORTED.
    int (*search_root)(SearchWorker& w, int iteration, int alpha, int beta);
    // A step before the search that may already decide the move (e.g. a single legal
    // reply); nullptr: none.
    bool (*decide_early)(SearchWorker& w, ThinkResult& result);
    // Sees every finished search (e.g. to keep a ponder result); nullptr: none.
    void (*after_search)(SearchWorker& w, const ThinkResult& result);
    int book_ply_limit;   // the book is asked while game_ply is at most this
};
void set_search_policy(const SearchPolicy& policy);
const SearchPolicy& search_policy();

// Chooses a move for the side to move in `game` under `request` and hands it to the
// request's output (best_move), which may play it on `game`.
void think(const Position& game, const SearchRequest& request);
// The worker of the last (or running) search, for its counters and lines. The first call
// makes it: start-up calls it before the large tables are made.
const SearchWorker& last_search();

// The threads a search runs on, 1..256 (the main thread and its helpers). A change waits
// until no helper runs and takes effect at the next search, whose helpers are then all
// started and waiting. Returns the number in use: fewer than asked when the system gives
// no more threads, or no memory for their workers.
int set_search_threads(int threads);
int search_threads();
// Whether a helper thread is still searching (never, once think() has returned).
bool search_helpers_busy();

// Plays a result's move on a game position (at ply 0).
void play_result(Position& game, const ThinkResult& result);

}  // namespace varkon
