// think: the think driver, the one way the front ends make the engine choose a move.
//
// The driver is shared by both programs: it resets the search state, builds the root
// move list (restricted by "searchmoves"), sets the time limit, asks the opening book and
// deepens iteratively with aspiration windows. What the programs do differently comes
// from two records chosen once: the search policy of the running program (its node
// search, its tables, its time rule, the steps of the driver it adds) and the search
// output of the protocol in charge (every line the driver and the search print, and what
// is done with the chosen move). The driver itself prints nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "core/position.h"

namespace varkon {

// ---- clock settings (centiseconds), set by the front end before think() ----------
extern std::uint32_t time_left;
extern std::uint32_t increment;
extern std::uint32_t moves_left;   // 0: the rest of the game
// The clock does not stop the search ("go ponder"/"infinite"). Under WinBoard a ponder
// search runs in the position after the reply the engine expects, which is then the last
// move of the game (game_moves[game_ply - 1]); the front end takes it back afterwards.
extern int pondering;

// Clock settings of the WinBoard protocol, which varkon_classic's time rule also reads.
extern std::uint32_t moves_to_go;     // moves per time control; 0: the whole game
extern std::uint32_t base_time;       // the time of one control
extern std::uint32_t opponent_clock;  // the opponent's remaining time
// The search analyses (no move is played; it runs until a command arrives; the book is
// not asked).
extern int analyzing;
// An EPD test suite runs: the whole clock is the time of the one move to find.
extern int test_suite_mode;

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
// The protocol's look at its input during a search: it tells whether a command is
// waiting and acts on it, without blocking. Installed by the protocol in charge;
// nullptr: none.
extern PollAction (*poll_input)();
// After a search that must wait for "stop": reads (blocking) and acts on the next command.
extern PollAction (*wait_input)();

// ---- root state ----------------------------------------------------------------------
extern Move root_best;       // best root move so far; from = to = 0: none
extern int root_score;
extern int iteration;        // 1..99; the root is searched to this many plies

// ---- what the driver reports ---------------------------------------------------------
enum class LineBound { none, upper, lower };

// One line of analysis: after an iteration, or after a root search outside its window.
struct IterationLine {
    int depth;
    int seldepth;
    int score;
    LineBound bound;
    std::uint32_t elapsed_cs;
    std::uint64_t nodes;
    std::uint64_t tbhits;
    const Move* pv;     // the principal variation, every move legal in turn
    int pv_length;
};

// The outcome of a search.
struct ThinkResult {
    Move best{};         // from = 0: no legal move
    Move ponder{};       // the expected reply, from = 0: none
    int score = 0;
    int depth = 0;       // the last completed iteration
    bool book = false;   // taken from the opening book
    bool single = false; // the only legal move, played without a search
};

// The lines of the protocol in charge. Every member must be set (a protocol that has no
// such line installs a function that does nothing).
struct SearchOutput {
    void (*iteration)(const IterationLine& line);
    // A root move being searched, its number among the legal moves, the iteration and
    // the time since the start.
    void (*current_move)(const Move& m, int number, int depth, std::uint32_t elapsed_cs);
    // The first root move of an iteration failed high (`high`) or low.
    void (*first_move_bound)(const IterationLine& line, const Move& m, bool high);
    void (*book_move)(const Move& m);
    void (*single_reply)(const Move& m);
    // The chosen move: the protocol announces it and, if it plays it, plays it on the
    // engine's board (play_result).
    void (*best_move)(const ThinkResult& result);
    // A note for the user (the protocol may frame it, as UCI's "info string").
    void (*note)(const char* text);
};
void set_search_output(const SearchOutput& out);
const SearchOutput& search_output();

// ---- what a program's search supplies ------------------------------------------------
// The search tables of a program: sized from one Hash value in megabytes.
struct TableOps {
    void (*allocate)(int megabytes);   // releases and sizes anew
    void (*release)();
    void (*clear_for_search)();        // what every search start clears
    void (*clear_all)();               // empties them completely
    int (*size_mb)();                  // the Hash value of the tables in use
};

// The time of one search: the allotment, and the most any extension may reach.
struct TimeBudget {
    std::int32_t alloc;
    std::int32_t cap;
};

struct SearchPolicy {
    TableOps tables;
    // Clears the per-search state of the program's search (ordering tables, lines).
    void (*prepare)();
    // Orders the root moves for the first iteration.
    void (*order_root)();
    // Sets the time limit of the coming search from the clock settings and limits, and
    // starts the poll clock (start_poll_clock).
    TimeBudget (*allocate_time)();
    // Searches the root to `iteration` plies within (alpha, beta); sets root_best and
    // root_score; returns root_score or SEARCH_ABORTED.
    int (*search_root)(int iteration, int alpha, int beta);
    // A step before the search that may already decide the move (e.g. a single legal
    // reply); nullptr: none.
    bool (*decide_early)(ThinkResult& result);
    // Sees every finished search (e.g. to keep a ponder result); nullptr: none.
    void (*after_search)(const ThinkResult& result);
    int book_ply_limit;   // the book is asked while game_ply is at most this
};
void set_search_policy(const SearchPolicy& policy);
const SearchPolicy& search_policy();

// Chooses a move for the side to move and hands it to the output's best_move.
void think();
// Plays a result's move on the engine's board (the game position at ply 0).
void play_result(const ThinkResult& result);

// The centiseconds since the current think() began.
std::uint32_t think_elapsed_cs();
// The time of the current think()'s start (now_cs).
std::uint32_t think_start_cs();

// The clock settings of a new game: 60 s for 30 moves, no increment, not pondering.
void reset_clock_settings();
// Clears the driver's state: limits, root state, clock settings to their defaults.
void reset_think_state();

}  // namespace varkon
