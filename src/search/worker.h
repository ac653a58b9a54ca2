// worker: the state of one search, one per searching thread.
//
// A SearchWorker holds everything a search changes as it runs: its own copy of the game
// position with the ply stack and move stack above it, the per-ply frames (the table's
// move, killers, the move picker's stage, the capture made into the ply), the history
// table, the principal variations, the counters, the evaluation's scratch, the poll and
// the root's state. Process-wide are only the tables shared by design (transposition
// tables and caches, book, tablebases) and the settings. What is cleared for each search
// (start_search) is kept apart from what lives across searches (the position's storage,
// the evaluation's piece-terms cache).
#pragma once

#include <atomic>
#include <cstdint>

#include "core/position.h"
#include "core/stats.h"
#include "eval/eval.h"
#include "search/hash.h"
#include "search/request.h"

namespace varkon {

// The search's state at one ply.
struct PlyFrame {
    HashMove hash_move{};      // the table's move of the node at this ply (0, 0: none)
    HashMove killers[2]{};     // quiet moves that caused cutoffs here; slot 0 is the newer
    int pick_stage = 0;        // where the node's move picker stands
    int capture_square = 0;    // the capture made into this ply: its square (0: none)
    int capture_value = 0;     // and the value of the piece taken
};

class SearchThreads;

// The poll: nodes counted since the last look, how many between two looks, the deadline
// and whether the search has been stopped or is pondering; in a parallel search, the
// threads it belongs to.
struct PollState {
    int counter = 0;
    int interval = 500;
    std::uint32_t clock_start = 0;
    std::int32_t deadline_cs = 1;   // allowed time since clock_start
    bool stopped = false;
    bool pondering = false;         // the clock does not stop the search
    bool wait_for_stop = false;     // the answer waits for "stop" (or "ponderhit")
    // The threads of a parallel search (nullptr: the search runs alone). The main thread
    // adds the helpers' published counts to its own; a helper reads no input and no clock
    // and stops when the main thread raises the threads' stop flag.
    SearchThreads* threads = nullptr;
    bool helper = false;
};

// The last iteration a search completed: its depth, best move, score and line.
struct CompletedIteration {
    int depth = 0;   // 0: none
    int seldepth = 0;
    int score = 0;
    Move best{};
    Move pv[MAX_PLY];
    int pv_length = 0;
};

// A helper's counts as it last published them, for the main thread to read while the
// helper searches on (its own counters stay plain).
struct PublishedCounts {
    std::atomic<std::uint64_t> nodes{0};
    std::atomic<std::uint64_t> tbhits{0};
};

// The root's result from the Syzygy tables (search/tablebase_root).
struct RootTables {
    bool decided = false;   // the root moves were ranked and narrowed by the tables
    int score = 0;          // the tables' score of the root
};

struct SearchWorker {
    Position pos;
    SearchStats stats;
    EvalState eval;
    PlyFrame frames[MAX_PLY + 2];
    int history[99][99];            // [from][to]: credit of quiet moves that cut off
    Move pv_table[MAX_PLY][MAX_PLY];
    int pv_length[MAX_PLY];
    int seldepth = 0;
    PollState poll;
    const SearchRequest* request = nullptr;   // the search under way
    // Asks for the table entries a position just reached by a move will look up: the
    // running program's (set as its search starts), nothing before.
    void (*prefetch)(const Position& pos) = +[](const Position&) {};
    std::uint32_t start_cs = 0;               // when it began

    // The root.
    Move root_best{};   // best root move so far; from = to = 0: none
    int root_score = 0;
    int iteration = 0;  // 1..99; the root is searched to this many plies
    // The first move of the last line shown, the best one when several are (from = 0: none
    // shown yet).
    Move shown_first{};
    RootTables root_tables;
    CompletedIteration completed;
    PublishedCounts published;

    SearchWorker();
    SearchWorker(const SearchWorker&) = delete;
    SearchWorker& operator=(const SearchWorker&) = delete;

    // Makes ready for a search of `game` under `r`: the position copied, counters, lines,
    // poll, root state and published counts cleared (ordering tables are the policy's to
    // clear).
    void start_search(const Position& game, const SearchRequest& r, std::uint32_t now);
    // Empties killers and history.
    void clear_ordering();
    // Publishes the node and tablebase-hit counts (a helper, as it polls).
    void publish_counts() {
        published.nodes.store(stats.nodes, std::memory_order_relaxed);
        published.tbhits.store(stats.egtb_hits, std::memory_order_relaxed);
    }
    // Centiseconds since the search began.
    std::uint32_t elapsed_cs() const;
    const SearchOutput& output() const { return *request->output; }
};

}  // namespace varkon
