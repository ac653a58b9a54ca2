// request: what a protocol asks of a search, and the record of what the search reports.
//
// A protocol fills one SearchRequest (the clock, the limits, the mode, its output and its
// input poll) and hands it to think(); nothing else passes between them. The search
// writes nothing of the protocol's: what it finds reaches the protocol through the output
// record's lines and the result handed to its best_move.
#pragma once

#include <cstdint>
#include <vector>

#include "core/position.h"

namespace varkon {

// What kind of search it is.
enum class SearchMode {
    play,        // choose a move under the clock
    ponder,      // the clock does not stop the search (until "ponderhit" turns it into
                 // play); under WinBoard it runs in the position after the reply the engine
                 // expects, which is then the last move of the game
    analysis,    // no move is played; it runs until a command arrives; no book
    test_suite,  // an EPD test suite: the whole clock is the time of the one move to find
};

// The clock of the side to move and what the time rules read of the game's time control,
// in centiseconds.
struct SearchClock {
    std::uint32_t time_left = 6000;
    std::uint32_t increment = 0;
    std::uint32_t moves_left = 30;      // moves until the next control; 0: the rest of the game
    std::uint32_t moves_to_go = 30;     // moves per time control; 0: the whole game
    std::uint32_t base_time = 6000;     // the time of one control
    std::uint32_t opponent_clock = 6000;
};

// What a command found waiting during a search asks for.
enum class PollAction { none, stop, ponderhit };

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
    int multipv = 0;    // the line's rank among several best lines (1 = best); 0: one line only
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
    // The first root move of an iteration failed high (`high`) or low: the line's score is
    // the bound (the window's beta or alpha), its moves that root move alone. The driver's
    // bounded iteration line follows.
    void (*first_move_bound)(const IterationLine& line, const Move& m, bool high);
    void (*book_move)(const Move& m);
    void (*single_reply)(const Move& m);
    // The chosen move: the protocol announces it and, if it plays it, plays it on its game.
    void (*best_move)(const ThinkResult& result);
    // A note for the user (the protocol may frame it, as UCI's "info string").
    void (*note)(const char* text);
};

// An output that prints nothing and plays nothing.
extern const SearchOutput silent_search_output;

struct SearchRequest {
    SearchClock clock;
    SearchMode mode = SearchMode::play;
    int max_depth = 0;                 // iterations (plies); 0: none
    std::uint64_t max_nodes = 0;       // 0: none
    int mate_moves = 0;                // stop once a mate in this many moves is found; 0: none
    std::int32_t movetime = -1;        // fixed time per move in centiseconds; -1: from the clock
    std::int32_t move_overhead = 0;    // centiseconds taken off every time allotment (transmission)
    bool clock_limits = true;          // the clock limits the search
    bool wait_for_stop = false;        // never answer before "stop" (or "ponderhit")
    std::vector<Move> searchmoves;     // root moves to consider; empty: all
    // How many best lines every iteration shows (ranked 1.., best first; the answer is the
    // first line's move); never more than the root has legal moves to search.
    int multipv = 1;
    // Every answer comes after a scored line whose principal variation begins with the
    // move: a book move or an only reply is scored by a short search of that one move, and
    // a move found in an iteration that did not finish is shown before it is answered.
    bool line_for_every_move = false;
    const SearchOutput* output = &silent_search_output;
    // The protocol's look at its input during a search: whether a command is waiting, acted
    // on without blocking. nullptr: none.
    PollAction (*poll)() = nullptr;
    // After a search that must wait for "stop": reads (blocking) and acts on the next
    // command. nullptr: none.
    PollAction (*wait)() = nullptr;
};

}  // namespace varkon
