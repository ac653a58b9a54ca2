// init: what makes a program of the engine, and its start-up.
//
// The two programs share every module; a Program record supplies what differs between
// them: data (texts, material values, defaults) and the behaviour records chosen once at
// start-up (its search policy with its tables, its evaluation, its console commands, its
// protocol options and output).
#pragma once

#include "core/position.h"
#include "eval/eval.h"
#include "search/think.h"

namespace varkon {

struct ConsoleCommand {
    const char* word;
    void (*run)();
};

struct UciOption;
struct UciDialect;

struct Program {
    const char* version;             // "5.24"
    const char* banner;              // printed as it stands at start-up
    int piece_values[7];             // by piece type
    bool unbuffered_streams;         // stdin and stdout without stream buffers
    int book_style;                  // default book style
    const char* egtb_path;           // default tablebase path
    int hash_mb;                     // Hash setting of the tables made at start-up
    const ConsoleCommand* commands;  // console commands in the order they are tested; ends with {nullptr}
    const UciOption* uci_options;    // ends with an entry whose name is nullptr
    BoardDisplay (*board_values)();  // the values printed beside the board
    EvaluateFn evaluation;           // the program's static evaluation
    const SearchPolicy* search;      // the program's search and its tables
    const SearchOutput* console_output;  // what a search prints at the console
    const SearchOutput* uci_output;      // what a search prints under UCI
    const UciDialect* uci_dialect = nullptr;  // what its UCI differs in; nullptr: nothing
    void (*statistics_report)() = nullptr;    // the report of "info"; nullptr: none
    bool ignore_interrupt = false;            // SIGINT is ignored from start-up
    // The program's own start-up steps after the shared ones (its configuration, its log);
    // they allocate the search tables. nullptr: the tables are allocated with hash_mb.
    void (*startup)() = nullptr;
    bool tablebases_at_start = false;    // tablebases set up at start-up, not at the first search
};

// The program that is running.
const Program& program();

// Start-up: the interrupt signal, stream set-up, banner, start position, tables, random
// seed (and the program's own start-up steps); then the console loop. Never returns.
[[noreturn]] void start_program(const Program& p);

// Installs `p` as the running program and brings every module's state to its start-up
// values without starting the console (used by start_program and by tests).
void init_program(const Program& p);

}  // namespace varkon
