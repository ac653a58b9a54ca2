// main: the console loop and the console commands both programs share.
//
// The console reads whitespace-separated words; lines play no role. A word that names
// no command of the running program is ignored without a reply. End of input ends the
// process like "quit".
#pragma once

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
// The new book becomes `book_name` only when the build succeeds ("ready!"); a name too long
// to be a path is refused before anything is built. End of input during the questions
// ends the process.
void book_build();
// varkon_classic's bench: its one position under a one-minute clock for one move, then
// the statistics report; no key is waited for.
void console_bench_classic();
// The program's statistics report of the last search (nothing when it has none).
void console_info();

}  // namespace varkon
