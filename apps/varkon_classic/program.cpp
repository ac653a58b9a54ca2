// varkon_classic: the WinBoard and UCI engine.
#include <string>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "eval/eval_classic.h"
#include "apps/programs.h"
#include "frontend/config.h"
#include "frontend/log.h"
#include "frontend/main.h"
#include "frontend/testsuite.h"
#include "frontend/uci.h"
#include "frontend/winboard.h"
#include "search/search_classic.h"
#include "search/stats.h"

namespace varkon {

namespace {

// "uci" switches the log off: under UCI the option "LogFile" switches it.
void console_uci() {
    close_log();
    enter_uci();
}

void print_report() { print_statistics(stdout); }

// An interactive run shows the statistics report after each position.
void console_testsuite() { run_test_suite(console_info); }

const ConsoleCommand commands[] = {
    {"xboard", enter_xboard},   {"quit", console_quit},     {"uci", console_uci},
    {"info", console_info},     {"build", book_build},      {"bench", console_bench_classic},
    {"board", console_board},   {"bookon", console_bookon}, {"bookoff", console_bookoff},
    {"testsuite", console_testsuite}, {"epd", console_testsuite},
    {nullptr, nullptr},
};

std::string fixed(const char* text) { return text; }

// The option list shows fixed defaults; every option takes effect. Hash and the tablebase
// settings wait for the next "isready"; "Clear Hash" is accepted and does nothing.
const UciOption options[] = {
    {"Hash", "spin", [] { return fixed("2"); }, 2, 512, nullptr, set_option_pending_hash},
    {"NalimovPath", "string", [] { return egtb_path; }, 0, 0, nullptr, set_option_nalimov_path_marked},
    {"NalimovCache", "spin", [] { return fixed("2"); }, 2, 32, nullptr, set_option_nalimov_cache_marked},
    {"Ponder", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_ponder},
    {"OwnBook", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_own_book},
    {"LogFile", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_log_file},
    {"BookName", "string", [] { return book_name; }, 0, 0, nullptr, set_option_book_name},
    {"BookStyle", "combo", [] { return fixed("Normal"); }, 0, 0, " var Best var Normal var Risky", set_option_book_style},
    {nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr},
};

// The UCI dialogue of this program: tables made anew at "isready", "go infinite" as
// analysis and the clocks shown before a search. (The log's switch at "uci" and the
// tablebases' re-initialisation join here when those modules exist.)
// The tablebases are made anew (registry and cache) when a changed path or cache size
// is applied.
void reinit_tablebases() { egtb_init(false); }

const UciDialect uci_dialect = {nullptr, apply_pending_tables, analyse_infinite_or_show_clocks, reinit_tablebases};

// Material as this program shows it: the balance for the side to move, and the
// material of the pieces other than pawns; then the evaluation.
BoardDisplay board_values() {
    BoardDisplay v;
    v.show_balance = true;
    v.mat_balance = mat_balance();
    v.mat_value = non_pawn_material();
    v.show_eval = true;
    v.pos_value = evaluate_classic(-32000, 32000);
    return v;
}

// Start-up after the shared steps: the configuration file (and the tables of its size),
// then the log when the file asks for it.
void startup() {
    read_config();
    if (configuration().log) open_log();
}

const Program program_data = {
    "5.11c",
    "Winboard Chess Engine\nVarkon 5.11c\nAuthor Dravenholt\n\n",
    {0, 100, 300, 300, 500, 900, 0},
    false,
    1,
    "c:/tb",
    2,
    commands,
    options,
    board_values,
    evaluate_classic,
    &classic_search_policy(),
    &console_search_output,
    &classic_uci_search_output,
    &uci_dialect,
    print_report,
    true,
    startup,
    true,
};

}  // namespace

const Program& classic_program() { return program_data; }

}  // namespace varkon
