// console: the console loop and the console commands both programs share.
//
// The console reads whitespace-separated words; lines play no role. A word that names
// no command of the running program is ignored without a reply. End of input ends the
// process like "quit".
#pragma once

#include <cstdint>

#include "core/perft.h"
#include "core/position.h"
#include "search/request.h"

namespace varkon {

[[noreturn]] void console_loop();
// Releases the program's tables, closes the log and ends the process with exit status 0.
[[noreturn]] void quit_program();

// Console commands.
void console_quit();
// The board display; with the program's evaluation on its last rank line and once more
// after the board as "pos_value : " and the score (full window).
void console_board();
void console_bookon();
void console_bookoff();
void console_perft();
// varkon's bench: three positions, a key press before each, half a minute each.
void console_bench();
// "build": asks for the PGN file, the book name, the minimum count and the number of
// games, releases the program's tables, builds the book and allocates the tables again.
// The new book becomes `book_options.name` only when the build succeeds ("ready!"); a name too long
// to be a path is refused before anything is built. End of input during the questions
// ends the process.
void book_build();
// The program's statistics report of the last search (nothing when it has none).
void console_info();

// The values beside the board of the game position, with the program's evaluation.
BoardDisplay board_display_values();

// A search of the game position from the console: the console's output and input poll
// (a line that arrives stops it or waits for afterwards; "quit" ends the program after
// the search). The request's output and polls are filled in here.
void console_think(SearchRequest& request);
// After the console's searches: the lines that arrived meanwhile go back to the console.
void console_resume();
// The bench positions (0..2): the four leading FEN fields.
const char* const* bench_position(int n);

// Perft of the game position split by root move: one line "<move>: <count>" per legal
// move in generation order, an empty line and "Nodes searched: <total>"; a count stopped
// early by `poll` prints "perft stopped" instead of the total.
PerftCount print_perft_divide(int depth, PerftPoll poll);

}  // namespace varkon
