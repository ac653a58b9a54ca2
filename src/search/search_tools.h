// search_tools: what both programs' searches are built from.
//
// Scores and limits, the triangular table of principal variations, the input and clock
// poll, draw detection, the legality test after a move, the selection of the next move
// by its ordering key, the history credit, the tablebase probe and the root's
// bookkeeping. Everything works on the SearchWorker of the search that calls it.
#pragma once

#include <cstdint>

#include "core/position.h"
#include "search/worker.h"

namespace varkon {

constexpr int INFINITE_SCORE = 32000;
constexpr int MATE_VALUE = 31999;
constexpr int SEARCH_ABORTED = 654321;
constexpr int PLY_LIMIT = 106;

// A move that captures nothing, promotes nothing and is no castling.
inline bool is_quiet(const Move& m) {
    return m.captured == 0 && m.promotion == 0 && m.castling == 0 && m.ep_square == 0;
}
inline bool same_move(const Move& a, const Move& b) {
    return a.from == b.from && a.to == b.to && a.promotion == b.promotion;
}
// A pawn moving to its seventh or eighth rank.
inline bool reaches_seventh(const Move& m) { return (m.piece == PAWN && m.to >= 81) || (m.piece == -PAWN && m.to <= 38); }

// Copies the line of ply + 1 behind the move at position i into the line of ply.
void update_pv(SearchWorker& w, int i);
// How many moves of the root's line, from its first on, are legal one after the other
// from the game position (the root moves of ply 0 must be generated). `visit`, when
// given, sees each position's key and the line's move there before the move is made.
int playable_pv_length(SearchWorker& w, void (*visit)(SearchWorker& w, HashKey key, const Move& m) = nullptr);

// The root's bookkeeping once the root move at position i has been searched to v, in a
// root search with the window (alpha0, beta), `alpha` and `best` as they stand: the move's
// ordering key for the next iteration, root_best and root_score, the line. A first move
// failing low ends the root search (the driver widens the window), and so does a cutoff
// (v becomes beta): then it returns true, and the root search returns v. A first move
// that fails low or high is shown through the output's first_move_bound.
bool root_move_searched(SearchWorker& w, int i, int& v, int legal, int alpha0, int beta, int& alpha, int& best);

// Shows a line through the request's output and notes its first move (of the best line,
// when several are shown).
void show_line(SearchWorker& w, const IterationLine& line);

// Gives the root move that was best in the last iteration the ordering key `score`, so that
// the next iteration searches it first.
void put_root_best_first(SearchWorker& w, int score);

// Makes move i of the current ply; when it leaves the mover's king attacked, takes it back
// and returns false. Otherwise the new ply's in_check tells whether the move gives check.
bool make_legal_move(SearchWorker& w, int i);
// Before making a move of the side to move, not in check, that is neither castling, nor a
// promotion, nor en passant: whether it surely leaves the own king safe and surely gives
// no check (false means "perhaps not": the move must be made to know).
bool surely_legal_and_quiet(const Position& pos, const Move& m);

// Brings the best-keyed move among positions i.. of the ply's list to position i.
void select_best(Position& pos, int i);
// Credits the cutoff move at position i with depth x depth; halves the table when large.
void credit_history(SearchWorker& w, int i, int depth);

// Tablebase scores: a win the tables prove (and the fifty-move rule cannot spoil, when it
// counts) scores TB_WIN_SCORE less the ply it was found at, just below the mate scores,
// which only a mate the search or the Nalimov tables see reaches; a loss the opposite.
constexpr int TB_WIN_SCORE = 30800;
constexpr int NO_TB_SCORE = 2 * INFINITE_SCORE;   // no answer from the tables

// The tablebases' score of the current position (side to move's view, the search's scale),
// counted in the probe counters; NO_TB_SCORE: no answer. The Syzygy tables answer for
// positions of their material without castling rights, at a node `depth_plies` from the
// horizon as the options say (with the fifty-move rule counting, only right after a capture
// or pawn move, when the counter is 0); the Nalimov tables, when `nalimov_deep_enough`, for
// the materials the Syzygy tables do not hold.
int tablebase_score(SearchWorker& w, int depth_plies, bool nalimov_deep_enough);

// Draw by the fifty-move rule, by too little material (no pawns, `mat_value` at most a
// knight) or by a repetition since the last irreversible move.
bool is_draw(const Position& pos);

// Resets the poll counter, the deadline and the stop state for a new search.
void start_poll_clock(SearchWorker& w, std::uint32_t start, std::int32_t time_alloc, int interval);
// Moves the deadline (the fail-low time extension).
void extend_deadline(SearchWorker& w, std::int32_t time_alloc);
// The input and clock poll of a search node: counts the node and, every poll interval,
// asks the protocol's input handler and the clock (the main thread) or publishes its
// counts and reads the threads' stop flag (a helper). True when the search must stop.
bool poll(SearchWorker& w);
// The nodes and tablebase hits of the search so far: the main thread's own and, while
// helpers search with it, the counts they published last.
std::uint64_t search_nodes(const SearchWorker& w);
std::uint64_t search_tbhits(const SearchWorker& w);
// Counts a node for the poll without polling (quiescence nodes).
inline void count_poll_node(SearchWorker& w) { ++w.poll.counter; }

}  // namespace varkon
