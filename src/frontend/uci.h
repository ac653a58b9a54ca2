// uci: the UCI protocol loop, its identification and its option table.
//
// After "uci" the engine reads UCI commands line by line for the rest of the process.
// Unknown words before a command are skipped, as the protocol asks. Besides the protocol's
// commands the loop knows "board", the console's board display, to look at a position.
// Options are one table per program: the same rows print the option list and parse
// "setoption".
#pragma once

#include <string>

namespace varkon {

struct UciOption {
    const char* name;                 // as printed and as matched (case-insensitively)
    const char* type;                 // "spin", "check", "string", "combo", "button"
    std::string (*shown_default)();   // value printed after "default" (nullptr: none)
    double min, max;                  // spin limits: values are clamped into them
    const char* vars;                 // combo choices, printed as they stand
    void (*set)(const std::string& text, double number);  // number: the clamped spin value
};

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
void set_option_nalimov_path_reinit(const std::string& text, double);
void set_option_nalimov_cache_reinit(const std::string& text, double mb);
void set_option_ponder(const std::string& text, double);
void set_option_own_book(const std::string& text, double);
void set_option_book_name(const std::string& text, double);
void set_option_book_style(const std::string& text, double);

}  // namespace varkon
