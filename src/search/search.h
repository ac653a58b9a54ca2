// search: choosing a move.
//
// `search` is a fail-soft alpha-beta search with a principal-variation flag, null move,
// razoring, futility and late-move pruning and reductions, extensions and draw
// detection; `quiesce` resolves captures at its leaves. `think` is the one entry point
// of the front ends: it clears the search state, sets the time limit, asks the opening
// book and deepens iteratively, printing the analysis and the best move, which it plays
// on its own board. While searching, the engine polls standard input and the clock
// every so many nodes; the protocol in charge decides what a waiting command means.
#pragma once

#include <cstdint>
#include <vector>

#include "core/position.h"
#include "search/hash.h"

namespace varkon {

constexpr int INFINITE_SCORE = 32000;
constexpr int MATE_VALUE = 31999;
constexpr int SEARCH_ABORTED = 654321;
constexpr int PLY_LIMIT = 106;

// Counters of the current search; reset by every search.
struct SearchStats {
    std::uint64_t time_limit, nodes, nps, beta_cutoffs, qsearch_count, qsearch_cutoffs;
    std::uint64_t eval_count, lazy_count, hash_full, hash_hits, evalhash_full, eval_hits;
    std::uint64_t phash_full, phash_hits, avoid_nullmoves, nullmove_hits, hmoves_count;
    std::uint64_t inter_iterativ_deep, razor_count, extended_count, extended_depth;
    std::uint64_t check_ext, mate_threat_ext, recapture_ext, pawn_promotion_ext, one_reply_ext;
    std::uint64_t egtb_probes, egtb_hits;
};
extern SearchStats stats;

// ---- clock settings (centiseconds), set by the front end before think() ----------
extern std::uint32_t time_left;
extern std::uint32_t increment;
extern std::uint32_t moves_left;   // 0: the rest of the game
extern int pondering;              // the clock does not stop the search ("go ponder"/"infinite")
extern int ponder_option;          // name a move to ponder on after "bestmove"

// Limits a front end may add to the clock for one search.
struct SearchLimits {
    int max_depth = 0;                 // iterations (plies); 0: none
    std::uint64_t max_nodes = 0;       // 0: none
    int mate_moves = 0;                // stop once a mate in this many moves is found; 0: none
    std::int32_t movetime = -1;        // fixed time per move in centiseconds; -1: from the clock
    bool clock = true;                 // the clock settings limit the search
    bool wait_for_stop = false;        // never answer before "stop" (or "ponderhit")
    std::vector<Move> searchmoves;     // root moves to consider; empty: all
};
extern SearchLimits limits;

// What a command found waiting during a search asks for.
enum class PollAction { none, stop, ponderhit };
// Reads and handles what is waiting on standard input; installed by the protocol in
// charge (nullptr: waiting input is left alone).
extern PollAction (*poll_input)();
// What the search does after think() has printed its move when waiting for "stop".
extern PollAction (*wait_input)();

// ---- search state ------------------------------------------------------------------
extern Move pv_table[MAX_PLY][MAX_PLY];
extern int pv_length[MAX_PLY];
extern int seldepth;
extern Move root_best;
extern int root_score;
extern int iteration;

// A move that captures nothing, promotes nothing and is no castling.
inline bool is_quiet(const Move& m) {
    return m.captured == 0 && m.promotion == 0 && m.castling == 0 && m.ep_square == 0;
}

int search(int alpha, int beta, int depth, bool null_ok, bool pv);
int quiesce(int alpha, int beta, bool pv);
void update_pv(int i);
// Makes move i of the current ply; when it leaves the mover's king attacked, takes it back
// and returns false. Otherwise the new ply's in_check tells whether the move gives check.
bool make_legal_move(int i);
// Resets the poll counter, the deadline and the stop state for a new search.
void start_poll_clock(std::uint32_t start, std::int32_t time_alloc, int interval);
// Moves the deadline (the fail-low time extension).
void extend_deadline(std::int32_t time_alloc);

// Sets the time allotted to the coming search from the clock settings and limits, and
// returns it (centiseconds).
std::int32_t allocate_time();
// Chooses, prints and plays a move for the side to move.
void think();
// Clears the per-search tables, counters and limits' clock state.
void clear_search_state();

}  // namespace varkon
