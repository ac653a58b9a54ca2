// varkon_classic: the WinBoard and UCI engine.
#include <string>

#include "apps/programs.h"
#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "eval/eval_classic.h"
#include "frontend/config.h"
#include "frontend/console.h"
#include "frontend/console_classic.h"
#include "frontend/log.h"
#include "frontend/uci.h"
#include "frontend/uci_classic.h"
#include "frontend/winboard.h"
#include "search/search_classic.h"
#include "search/threads.h"

namespace varkon {

namespace {

const ConsoleCommand commands[] = {
    {"xboard", enter_xboard},   {"quit", console_quit},     {"uci", console_uci_classic},
    {"info", console_info},     {"build", book_build},      {"bench", console_bench_classic},
    {"board", console_board},   {"bookon", console_bookon}, {"bookoff", console_bookoff},
    {"testsuite", console_testsuite}, {"epd", console_testsuite},
    {nullptr, nullptr},
};

std::string fixed(const char* text) { return text; }

// The option list shows fixed defaults; every option takes effect. Hash and the Nalimov
// settings wait for the next "isready" (a Syzygy path loads at once), Threads takes effect
// at the next search; "Clear Hash" is accepted and does nothing.
const UciOption options[] = {
    {"Hash", "spin", [] { return fixed("2"); }, 2, 512, nullptr, set_option_pending_hash},
    {"NalimovPath", "string", [] { return egtb_settings().path; }, 0, 0, nullptr, set_option_nalimov_path_marked},
    {"NalimovCache", "spin", [] { return fixed("2"); }, 2, 32, nullptr, set_option_nalimov_cache_marked},
    {"SyzygyPath", "string", [] { return fixed("<empty>"); }, 0, 0, nullptr, set_option_syzygy_path},
    {"SyzygyProbeDepth", "spin", [] { return fixed("1"); }, 1, 100, nullptr, set_option_syzygy_probe_depth},
    {"Syzygy50MoveRule", "check", [] { return fixed("true"); }, 0, 0, nullptr, set_option_syzygy_rule50},
    {"SyzygyProbeLimit", "spin", [] { return fixed("7"); }, 0, 7, nullptr, set_option_syzygy_probe_limit},
    {"Ponder", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_ponder},
    {"OwnBook", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_own_book},
    {"LogFile", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_log_file},
    {"Threads", "spin", [] { return fixed("1"); }, 1, MAX_SEARCH_THREADS, nullptr, set_option_threads},
    {"BookName", "string", [] { return book_options.name; }, 0, 0, nullptr, set_option_book_name},
    {"BookStyle", "combo", [] { return fixed("Normal"); }, 0, 0, " var Best var Normal var Risky", set_option_book_style},
    {"Move Overhead", "spin", [] { return fixed("10"); }, 0, 5000, nullptr, set_option_move_overhead},
    {"UCI_AnalyseMode", "check", [] { return fixed("false"); }, 0, 0, nullptr, set_option_analyse_mode},
    {"MultiPV", "spin", [] { return fixed("1"); }, 1, 64, nullptr, set_option_multipv},
    {nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr},
};

// Material as this program shows it: the balance for the side to move, and the
// material of the pieces other than pawns; then the evaluation.
BoardDisplay board_values(const Position& pos) {
    BoardDisplay v;
    v.show_balance = true;
    v.mat_balance = pos.mat_balance();
    v.mat_value = pos.non_pawn_material();
    return v;
}

// Start-up after the shared steps: the configuration file (and the tables of its size),
// then the log when the file asks for it.
void startup() {
    read_config();
    if (configuration().log) open_log();
}

// The modules only this program has, back to their start-up values.
void reset() {
    close_log();
    reset_configuration();
    reset_winboard_state();
}

const Program program_data = {
    .version = "5.11c",
    .banner = "Winboard Chess Engine\nVarkon 5.11c\nAuthor Dravenholt\n\n",
    .piece_values = {0, 100, 300, 300, 500, 900, 0},
    .unbuffered_streams = false,
    .book_style = 1,
    .egtb_path = "c:/tb",
    .hash_mb = 2,
    .commands = commands,
    .uci_options = options,
    .board_values = board_values,
    .evaluation = evaluate_classic,
    .search = &classic_search_policy(),
    .console_output = &console_search_output,
    .uci_output = &classic_uci_search_output,
    .uci_dialect = &classic_uci_dialect,
    .statistics_report = print_statistics_report,
    .ignore_interrupt = true,
    .startup = startup,
    .reset = reset,
    .tablebases_at_start = true,
};

}  // namespace

const Program& classic_program() { return program_data; }

}  // namespace varkon
