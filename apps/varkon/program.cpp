// varkon: the UCI engine.
#include <string>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "apps/programs.h"
#include "frontend/main.h"
#include "frontend/uci.h"

namespace varkon {

namespace {

const ConsoleCommand commands[] = {
    {"quit", console_quit},     {"uci", enter_uci},           {"build", book_build},
    {"board", console_board},   {"bookon", console_bookon},   {"bookoff", console_bookoff},
    {"perft", console_perft},
    {nullptr, nullptr},
};

std::string text_of(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

const UciOption options[] = {
    {"Hash", "spin", [] { return std::string("128"); }, 2, 1024, nullptr, nullptr},
    {"NalimovPath", "string", [] { return egtb_path; }, 0, 0, nullptr, nullptr},
    {"NalimovCache", "spin", [] { return text_of(egtb_cache_size); }, 2, 32, nullptr, nullptr},
    {"Ponder", "check", [] { return std::string("true"); }, 0, 0, nullptr, nullptr},
    {"OwnBook", "check", [] { return std::string("true"); }, 0, 0, nullptr, nullptr},
    {"Clear Hash", "button", nullptr, 0, 0, nullptr, nullptr},
    {"BookName", "string", [] { return book_name; }, 0, 0, nullptr, nullptr},
    // Best: the shipped book's most played move is its main line (see the README).
    {"BookStyle", "combo", [] { return std::string("Best"); }, 0, 0, " var Best var Normal var Risky", nullptr},
    {nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr},
};

BoardDisplay board_values() {
    BoardDisplay v;
    v.mat_value = cur().mat_value;
    return v;
}

const Program program_data = {
    "5.24",
    "Varkon 5.24\nby Dravenholt\n\n",
    {0, 90, 325, 325, 500, 975, 0},
    true,
    1,
    "c:\\tb",
    commands,
    options,
    board_values,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

const Program& varkon_program() { return program_data; }

}  // namespace varkon
