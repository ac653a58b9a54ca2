// init: what makes a program of the engine, and its start-up.
//
// The two programs share every module; a Program record supplies what differs between
// them: texts, material values, defaults, and the behaviour modules chosen once at
// start-up (console commands, protocol options, board display values).
#pragma once

#include "core/position.h"
#include "eval/eval.h"

namespace varkon {

struct ConsoleCommand {
    const char* word;
    void (*run)();
};

struct UciOption;

struct Program {
    const char* version;             // "5.24"
    const char* banner;              // printed as it stands at start-up
    int piece_values[7];             // by piece type
    bool unbuffered_streams;         // stdin and stdout without stream buffers
    int book_style;                  // default book style
    const char* egtb_path;           // default tablebase path
    const ConsoleCommand* commands;  // console commands in the order they are tested; ends with {nullptr}
    const UciOption* uci_options;    // ends with an entry whose name is nullptr
    BoardDisplay (*board_values)();  // the values printed beside the board
    EvaluateFn evaluation;           // the program's static evaluation (nullptr: none yet)
    void (*allocate_tables)();       // sizes and allocates the hash tables (start-up, after a release)
    void (*free_tables)();           // releases them (the book builder needs the room)
    bool tablebases_at_start;        // initialise the tablebases at start-up, not at the first search
};

// The program that is running.
const Program& program();

// Start-up: stream set-up, banner, start position, tables, random seed; then the
// console loop. Never returns.
[[noreturn]] void start_program(const Program& p);

// Installs `p` as the running program and brings up the global state without starting
// the console (used by start_program and by tests).
void init_program(const Program& p);

}  // namespace varkon
