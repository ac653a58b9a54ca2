// varkon: the UCI engine.
#include <string>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "apps/programs.h"
#include "frontend/main.h"
#include "frontend/uci.h"
#include "search/hash.h"

namespace varkon {

namespace {

const ConsoleCommand commands[] = {
    {"quit", console_quit},     {"uci", enter_uci},           {"build", book_build},
    {"bench", console_bench},   {"board", console_board},     {"bookon", console_bookon},
    {"bookoff", console_bookoff},
    {"perft", console_perft},
    {nullptr, nullptr},
};

std::string text_of(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

const UciOption options[] = {
    {"Hash", "spin", [] { return std::to_string(hash_mb); }, HASH_MB_MIN, HASH_MB_MAX, nullptr, set_option_hash},
    {"NalimovPath", "string", [] { return egtb_path; }, 0, 0, nullptr, set_option_nalimov_path},
    {"NalimovCache", "spin", [] { return text_of(egtb_cache_size); }, 2, 32, nullptr, set_option_nalimov_cache},
    {"Ponder", "check", [] { return std::string("true"); }, 0, 0, nullptr, set_option_ponder},
    {"OwnBook", "check", [] { return std::string("true"); }, 0, 0, nullptr, set_option_own_book},
    {"Clear Hash", "button", nullptr, 0, 0, nullptr, set_option_clear_hash},
    {"BookName", "string", [] { return book_name; }, 0, 0, nullptr, set_option_book_name},
    {"BookStyle", "combo", [] { return std::string(book_style == 1 ? "Best" : book_style == 3 ? "Risky" : "Normal"); }, 0, 0, " var Best var Normal var Risky",
     set_option_book_style},
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
    evaluate_standard,
    [] {
        hash_size_tables();
        hash_alloc_tables();
    },
    hash_free_tables,
    false,
};

}  // namespace

const Program& varkon_program() { return program_data; }

}  // namespace varkon
