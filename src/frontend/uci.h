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

#include "search/request.h"

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
    // A "go" has been read into `request`; the hook may change the request before the
    // search starts; nullptr: nothing.
    void (*on_go)(const UciGo& go, SearchRequest& request);
};

// The lines of a search under UCI, and at the console (the same, with notes and the book
// line printed as they stand).
extern const SearchOutput uci_search_output;
extern const SearchOutput console_search_output;

// Pieces of those lines for a dialect's own output: one "info" line, with nodes per
// second once `nps_from_ms` milliseconds have passed; "bestmove" (with the move to ponder
// on when `with_ponder` and the search has one), after which the move is played on the
// game; an "info string" note.
void print_info_line(const IterationLine& line, std::uint64_t nps_from_ms);
void announce_best_move(const ThinkResult& r, bool with_ponder);
void uci_note(const char* text);

// Prints the identification and option list of the running program and enters the loop.
[[noreturn]] void enter_uci();
[[noreturn]] void uci_loop();
void uci_identify();

// Handles one UCI command line; returns false when the line holds no known command.
bool uci_command(const std::string& line);

// Option setters the programs' option tables share.
void set_option_hash(const std::string& text, double mb);
void set_option_clear_hash(const std::string& text, double);
void set_option_threads(const std::string& text, double threads);
void set_option_nalimov_path(const std::string& text, double);
void set_option_nalimov_cache(const std::string& text, double mb);
// The Syzygy options; a path loads the tables at once and reports them as "info string"s.
void set_option_syzygy_path(const std::string& text, double);
void set_option_syzygy_probe_depth(const std::string& text, double plies);
void set_option_syzygy_rule50(const std::string& text, double);
void set_option_syzygy_probe_limit(const std::string& text, double pieces);
void set_option_ponder(const std::string& text, double);
void set_option_move_overhead(const std::string& text, double ms);
void set_option_analyse_mode(const std::string& text, double);
void set_option_multipv(const std::string& text, double lines);
void set_option_own_book(const std::string& text, double);
void set_option_book_name(const std::string& text, double);
void set_option_book_style(const std::string& text, double);

}  // namespace varkon
