// varkon: the UCI engine.
#include <string>

#include "apps/programs.h"
#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "eval/eval.h"
#include "frontend/console.h"
#include "frontend/uci.h"
#include "search/hash.h"
#include "search/search.h"
#include "search/think.h"
#include "search/threads.h"

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
    {"Hash", "spin", [] { return std::to_string(hash_size_mb()); }, HASH_MB_MIN, HASH_MB_MAX, nullptr, set_option_hash},
    {"NalimovPath", "string", [] { return egtb_settings().path; }, 0, 0, nullptr, set_option_nalimov_path},
    {"NalimovCache", "spin", [] { return text_of(egtb_settings().cache_mb); }, 2, 32, nullptr, set_option_nalimov_cache},
    {"SyzygyPath", "string", [] { return syzygy_options().path.empty() ? std::string("<empty>") : syzygy_options().path; }, 0, 0, nullptr, set_option_syzygy_path},
    {"SyzygyProbeDepth", "spin", [] { return std::to_string(syzygy_options().probe_depth); }, 1, 100, nullptr, set_option_syzygy_probe_depth},
    {"Syzygy50MoveRule", "check", [] { return std::string(syzygy_options().rule50 ? "true" : "false"); }, 0, 0, nullptr, set_option_syzygy_rule50},
    {"SyzygyProbeLimit", "spin", [] { return std::to_string(syzygy_options().probe_limit); }, 0, 7, nullptr, set_option_syzygy_probe_limit},
    {"Ponder", "check", [] { return std::string("true"); }, 0, 0, nullptr, set_option_ponder},
    {"OwnBook", "check", [] { return std::string("true"); }, 0, 0, nullptr, set_option_own_book},
    {"Clear Hash", "button", nullptr, 0, 0, nullptr, set_option_clear_hash},
    {"Threads", "spin", [] { return std::to_string(search_threads()); }, 1, MAX_SEARCH_THREADS, nullptr, set_option_threads},
    {"BookName", "string", [] { return book_options.name; }, 0, 0, nullptr, set_option_book_name},
    {"BookStyle", "combo", [] { return std::string(book_options.style == 1 ? "Best" : book_options.style == 3 ? "Risky" : "Normal"); }, 0, 0, " var Best var Normal var Risky",
     set_option_book_style},
    {"Move Overhead", "spin", [] { return std::string("10"); }, 0, 5000, nullptr, set_option_move_overhead},
    {"UCI_AnalyseMode", "check", [] { return std::string("false"); }, 0, 0, nullptr, set_option_analyse_mode},
    {"MultiPV", "spin", [] { return std::string("1"); }, 1, 64, nullptr, set_option_multipv},
    {nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr},
};

BoardDisplay board_values(const Position& pos) {
    BoardDisplay v;
    v.mat_value = pos.cur().mat_value;
    return v;
}

const Program program_data = {
    .version = "5.24",
    .banner = "Varkon 5.24\nby Dravenholt\n\n",
    .piece_values = {0, 90, 325, 325, 500, 975, 0},
    .unbuffered_streams = true,
    .book_style = 1,
    .egtb_path = "c:\\tb",
    .hash_mb = HASH_MB_DEFAULT,
    .commands = commands,
    .uci_options = options,
    .board_values = board_values,
    .evaluation = evaluate_standard,
    .search = &varkon_search_policy(),
    .console_output = &console_search_output,
    .uci_output = &uci_search_output,
};

}  // namespace

const Program& varkon_program() { return program_data; }

}  // namespace varkon
