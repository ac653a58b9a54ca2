// uci: the UCI protocol loop, its identification and its option table.
//
// After "uci" the engine reads UCI commands line by line for the rest of the process.
// Unknown words before a command are skipped, as the protocol asks. Besides the protocol's
// commands the loop knows "board", the console's board display, to look at a position.
// Options are one table per program: the same rows print the option list and parse
// "setoption". What else a program's UCI differs in is a small dialect record of hooks the
// one loop calls at fixed points ("uci", "isready", "go"), chosen by the Program.
#pragma once

#include <cstdint>
#include <string>

#include "search/think.h"

namespace varkon {

struct UciOption {
    const char* name;                 // as printed and as matched (case-insensitively)
    const char* type;                 // "spin", "check", "string", "combo", "button"
    std::string (*shown_default)();   // value printed after "default" (nullptr: none)
    double min, max;                  // spin limits: values are clamped into them
    const char* vars;                 // combo choices, printed as they stand
    void (*set)(const std::string& text, double number);  // number: the clamped spin value
};

// A "go" about to search, as the dialect's hook sees it.
struct UciGo {
    bool infinite;                 // "go infinite"
    std::uint32_t own_time;        // the clock of the side to move, centiseconds
    std::uint32_t opponent_time;   // the other clock
};

struct UciDialect {
    // "uci" has come, before the identification is printed; nullptr: nothing.
    void (*on_uci)();
    // Before "readyok" of an idle "isready", and before every search; nullptr: nothing.
    void (*on_isready)();
    // A "go" has been read and its clock set; the hook may change the settings of the
    // search (think.h) before it starts; nullptr: nothing.
    void (*on_go)(const UciGo& go);
    // Called by apply_pending_tables after a tablebase option changed; nullptr: nothing.
    void (*reinit_tablebases)();
};

// Name a move to ponder on after "bestmove" (the "Ponder" option).
extern int ponder_option;

// The lines of a search under UCI, and at the console (the same, with notes and the book
// line printed as they stand).
extern const SearchOutput uci_search_output;
extern const SearchOutput console_search_output;
// varkon_classic's UCI lines: times in milliseconds, nodes per second after three seconds,
// the current move from the eighth iteration on, no book line, and a move to ponder on
// whenever the search has one and the game is past its first ply.
extern const SearchOutput classic_uci_search_output;

// Prints the identification and option list of the running program and enters the loop.
[[noreturn]] void enter_uci();
[[noreturn]] void uci_loop();
void uci_identify();

// Handles one UCI command line; returns false when the line holds no known command.
bool uci_command(const std::string& line);

// Option setters the programs' option tables share.
void set_option_hash(const std::string& text, double mb);
void set_option_clear_hash(const std::string& text, double);
void set_option_nalimov_path(const std::string& text, double);
void set_option_nalimov_cache(const std::string& text, double mb);
// varkon_classic: the same, taking effect at the next "isready".
void set_option_ponder(const std::string& text, double);
void set_option_own_book(const std::string& text, double);
void set_option_book_name(const std::string& text, double);
void set_option_book_style(const std::string& text, double);

// Settings that wait for the next "isready" (or "go"): the Hash size is kept as the
// pending size, and a change of it or of a tablebase setting marks the tables for
// re-initialisation.
void set_option_pending_hash(const std::string& text, double mb);
void set_option_nalimov_path_marked(const std::string& text, double);
void set_option_nalimov_cache_marked(const std::string& text, double mb);   // whole megabytes
// The isready hook of such a dialect: when the tables are marked, sizes them anew with the
// pending Hash size (the size in use when none was given) and calls the dialect's
// reinit_tablebases.
void apply_pending_tables();
// The go hook of varkon_classic: "go infinite" analyses (analyzing set, a clock of
// 99999999 centiseconds, one move to go, no increment); any other "go" prints the clocks as
// "\ncomp_time= <own>  opp_time= <opponent>" (centiseconds).
void analyse_infinite_or_show_clocks(const UciGo& go);

}  // namespace varkon
