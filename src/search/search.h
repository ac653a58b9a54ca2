// search: the search below the root.
//
// The first half of this header is the toolkit both programs' searches share: scores
// and limits, the triangular table of principal variations, the input and clock poll,
// draw detection and the legality test after a move. The second half is varkon's
// search: `search` is a fail-soft alpha-beta search with a principal-variation flag,
// null move, razoring, futility and late-move pruning and reductions, extensions and
// draw detection; `quiesce` resolves captures at its leaves. varkon's root search, time
// rule and tables make up its search policy.
#pragma once

#include <cstdint>

#include "core/position.h"
#include "search/hash.h"
#include "search/stats.h"
#include "search/think.h"

namespace varkon {

// ---- shared toolkit --------------------------------------------------------------------

constexpr int INFINITE_SCORE = 32000;
constexpr int MATE_VALUE = 31999;
constexpr int SEARCH_ABORTED = 654321;
constexpr int PLY_LIMIT = 106;

extern Move pv_table[MAX_PLY][MAX_PLY];
extern int pv_length[MAX_PLY];
extern int seldepth;

// Clears the lines and the poll state (start of every search, and start-up).
void reset_search_state();

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
void update_pv(int i);
// How many moves of the root's line, from its first on, are legal one after the other
// from the game position (the root moves of ply 0 must be generated). `visit`, when
// given, sees each position's key and the line's move there before the move is made.
int playable_pv_length(void (*visit)(HashKey key, const Move& m) = nullptr);

// The root's bookkeeping once the root move at position i has been searched to v, in a
// root search with the window (alpha0, beta), `alpha` and `best` as they stand: the move's
// ordering key for the next iteration, root_best and root_score, the line. A first move
// failing low ends the root search (the driver widens the window), and so does a cutoff
// (v becomes beta): then it returns true, and the root search returns v.
bool root_move_searched(int i, int& v, int legal, int alpha0, int beta, int& alpha, int& best);

// Gives the root move that was best in the last iteration the ordering key `score`, so that
// the next iteration searches it first.
void put_root_best_first(int score);

// Makes move i of the current ply; when it leaves the mover's king attacked, takes it back
// and returns false. Otherwise the new ply's in_check tells whether the move gives check.
bool make_legal_move(int i);
// Before making a move of the side to move, not in check, that is neither castling, nor a
// promotion, nor en passant: whether it surely leaves the own king safe and surely gives
// no check (false means "perhaps not": the move must be made to know).
bool surely_legal_and_quiet(const Move& m);

// The tablebases' score of the current position (side to move's view, the search's
// scale) when the tables in use cover it, counted in the probe counters; -1: no answer.
int tablebase_score();

// Draw by the fifty-move rule, by too little material (no pawns, `mat_value` at most a
// knight) or by a repetition since the last irreversible move.
bool is_draw();

// The most a move may take of a clock with `left` centiseconds: a reserve stays for the
// moves to come and for the time the move takes to reach the front end, a tenth of the
// clock and at least 30 centiseconds (half the clock when less than a second is left).
// Always at least 1.
std::int32_t clock_cap(std::uint32_t left);

// Resets the poll counter, the deadline and the stop state for a new search.
void start_poll_clock(std::uint32_t start, std::int32_t time_alloc, int interval);
// Moves the deadline (the fail-low time extension).
void extend_deadline(std::int32_t time_alloc);
// The input and clock poll of a search node: counts the node and, every poll interval,
// asks the protocol's input handler and the clock. True when the search must stop.
bool poll();
// Counts a node for the poll without polling (quiescence nodes).
void count_poll_node();
// True once a poll has stopped the search.
bool search_stopped();

// ---- varkon's search ---------------------------------------------------------------------

int search(int alpha, int beta, int depth, bool null_ok, bool pv);
int quiesce(int alpha, int beta, bool pv);

// varkon's root search: one iteration of `iteration` plies within (alpha, beta).
int search_root(int iteration, int alpha, int beta);
// Clears varkon's move-ordering tables for a new search.
void prepare_varkon_search();

// varkon's time rule: sets the time allotted to the coming search from the clock
// settings and limits, starts the poll clock and returns the allotment (centiseconds).
TimeBudget allocate_time();

// varkon's search: its node search, root search, time rule and tables.
const SearchPolicy& varkon_search_policy();

}  // namespace varkon
