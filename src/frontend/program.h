// program: the record of what the two programs of the engine differ in.
//
// The programs share every module; a Program record supplies what differs between them:
// data (texts, material values, defaults) and the behaviour records chosen once at
// start-up (its search policy with its tables, its evaluation, its console commands, its
// protocol options and outputs, its own start-up and reset steps). The header names the
// records it points to without needing them, so that any module can ask which program
// runs, and which protocol is in charge, without depending on the rest.
#pragma once

namespace varkon {

struct BoardDisplay;
struct EvalState;
struct Position;
struct SearchOutput;
struct SearchPolicy;
struct SearchStats;
struct UciDialect;
struct UciOption;

struct ConsoleCommand {
    const char* word;
    void (*run)();
};

struct Program {
    const char* version = "";                 // "5.24"
    const char* banner = "";                  // printed as it stands at start-up
    int piece_values[7] = {};                 // by piece type
    bool unbuffered_streams = false;          // stdin and stdout without stream buffers
    int book_style = 1;                       // default book style
    const char* egtb_path = "";               // default tablebase path
    int hash_mb = 2;                          // Hash setting of the tables made at start-up
    const ConsoleCommand* commands = nullptr; // in the order they are tested; ends with {nullptr}
    const UciOption* uci_options = nullptr;   // ends with an entry whose name is nullptr
    BoardDisplay (*board_values)(const Position& pos) = nullptr;   // the values beside the board
    // The program's static evaluation.
    int (*evaluation)(const Position& pos, EvalState& state, SearchStats& stats, int alpha, int beta) = nullptr;
    const SearchPolicy* search = nullptr;     // the program's search and its tables
    const SearchOutput* console_output = nullptr;   // what a search prints at the console
    const SearchOutput* uci_output = nullptr;       // what a search prints under UCI
    const UciDialect* uci_dialect = nullptr;  // what its UCI differs in; nullptr: nothing
    void (*statistics_report)() = nullptr;    // the report of "info"; nullptr: none
    bool ignore_interrupt = false;            // SIGINT is ignored from start-up
    // The program's own start-up steps after the shared ones (its configuration, its log);
    // they allocate the search tables. nullptr: the tables are allocated with hash_mb.
    void (*startup)() = nullptr;
    // Brings the program's own modules back to their start-up values (tests start anew
    // with it); nullptr: it has none.
    void (*reset)() = nullptr;
    bool tablebases_at_start = false;         // tablebases set up at start-up, not at the first search
};

// The program that is running (installed by start-up).
const Program& program();
void set_program(const Program& p);

// The output of the protocol in charge (the console, UCI, WinBoard), which installs it
// when it takes charge: its searches print through it, and so does every note of the
// front end's own modules. A silent one before any.
void set_protocol_output(const SearchOutput& out);
const SearchOutput& protocol_output();

}  // namespace varkon
