// winboard: the WinBoard (xboard protocol 2) loop of varkon_classic.
//
// After the console command "xboard" the engine reads WinBoard commands line by line for
// the rest of the process. The loop keeps the game and the clocks, answers the opponent's
// moves, ponders on the opponent's time, analyses, and announces the end of the game, draw
// offers and resignation after the engine's own moves. While the engine thinks (its own
// move, a ponder search or analysis), any complete command line that arrives ends the
// search at once and is carried out afterwards, in order; only a "." status request (and
// an empty line) is passed over without ending it.
#pragma once

#include "search/request.h"

namespace varkon {

// The console command "xboard": installs the WinBoard output and input poll and enters the
// loop for good. The process ends inside it ("quit", or the end of input: exit status 0).
[[noreturn]] void enter_xboard();

// The lines of a search under WinBoard: thinking output while "post" is on; after the
// search, the engine's move and what follows it (result lines, draw offers, resignation).
// Ponder searches and analysis print no move.
extern const SearchOutput winboard_search_output;

// WinBoard's thinking lines as "post" shows them, whatever the mode (the EPD test suite
// prints them), and nothing else: the chosen move is neither announced nor played.
extern const SearchOutput winboard_thinking_output;

// Whether the game position has occurred three times since the last irreversible move
// (position keys of the same side to move, with equal castling rights and no en-passant
// capture in the earliest of them).
bool threefold_repetition();

// Brings modes, flags, clocks and settings to their start-up values.
void reset_winboard_state();

}  // namespace varkon
