// varkon_classic: the WinBoard and UCI engine.
#include <string>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "eval/eval_classic.h"
#include "apps/programs.h"
#include "frontend/main.h"
#include "frontend/uci.h"
#include "search/hash_classic.h"

namespace varkon {

namespace {

const ConsoleCommand commands[] = {
    {"quit", console_quit},     {"uci", enter_uci},   {"build", book_build},
    {"board", console_board},   {"bookon", console_bookon}, {"bookoff", console_bookoff},
    {nullptr, nullptr},
};

std::string fixed(const char* text) { return text; }

const UciOption options[] = {
    {"Hash", "spin", [] { return fixed("2"); }, 2, 512, nullptr, nullptr},
    {"NalimovPath", "string", [] { return egtb_path; }, 0, 0, nullptr, set_option_nalimov_path_reinit},
    {"NalimovCache", "spin", [] { return fixed("2"); }, 2, 32, nullptr, set_option_nalimov_cache_reinit},
    {"Ponder", "check", [] { return fixed("false"); }, 0, 0, nullptr, nullptr},
    {"OwnBook", "check", [] { return fixed("false"); }, 0, 0, nullptr, nullptr},
    {"LogFile", "check", [] { return fixed("false"); }, 0, 0, nullptr, nullptr},
    {"BookName", "string", [] { return book_name; }, 0, 0, nullptr, nullptr},
    {"BookStyle", "combo", [] { return fixed("Normal"); }, 0, 0, " var Best var Normal var Risky", nullptr},
    {nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr},
};

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

// The three hash tables, sized from the Hash setting (2 MB until it is configured).
void allocate_tables() { hash_classic::allocate(hash_classic::hash_mb()); }

const Program program_data = {
    "5.11c",
    "Winboard Chess Engine\nVarkon 5.11c\nAuthor Dravenholt\n\n",
    {0, 100, 300, 300, 500, 900, 0},
    false,
    1,
    "c:/tb",
    commands,
    options,
    board_values,
    evaluate_classic,
    allocate_tables,
    hash_classic::release,
    true,
};

}  // namespace

const Program& classic_program() { return program_data; }

}  // namespace varkon
