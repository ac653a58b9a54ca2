// main: the console loop and the console commands both programs share.
//
// The console reads whitespace-separated words; lines play no role. A word that names
// no command of the running program is ignored without a reply. End of input ends the
// process like "quit".
#pragma once

namespace varkon {

[[noreturn]] void console_loop();
// Releases the program's tables and ends the process with exit status 0.
[[noreturn]] void quit_program();

// Console commands.
void console_quit();
// The board display; with the program's evaluation on its last rank line and once more
// after the board as "pos_value : " and the score (full window).
void console_board();
void console_bookon();
void console_bookoff();
void console_perft();
void console_bench();
// The program's statistics report of the last search (nothing when it has none).
void console_info();

}  // namespace varkon
