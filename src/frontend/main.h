// main: the console loop and the console commands both programs share.
//
// The console reads whitespace-separated words; lines play no role. A word that names
// no command of the running program is ignored without a reply. End of input ends the
// process like "quit".
#pragma once

namespace varkon {

[[noreturn]] void console_loop();
// Ends the process with exit status 0.
[[noreturn]] void quit_program();

// Console commands.
void console_quit();
void console_board();
void console_bookon();
void console_bookoff();
void console_perft();

}  // namespace varkon
