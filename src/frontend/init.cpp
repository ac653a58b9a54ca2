#include "frontend/init.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "book/book.h"
#include "core/precalc.h"
#include "egtb/probe_egtb.h"
#include "frontend/main.h"
#include "frontend/winboard.h"
#include "search/search.h"
#include "search/sort_moves.h"

namespace varkon {

namespace {
const Program* running = nullptr;
}

const Program& program() { return *running; }

void init_program(const Program& p) {
    running = &p;
    set_piece_values(p.piece_values);
    book_on = 1;
    book_style = p.book_style;
    book_name = "book.dat";
    egtb_path = p.egtb_path;
    init_tables();
    register_new_game_hook(book_new_game);
    new_game();
    select_evaluation(p.evaluation);
    clear_evaluation_cache();
    set_search_policy(*p.search);
    set_search_output(*p.console_output);
    reset_think_state();
    reset_search_state();
    reset_stats();
    clear_ordering_tables();
    reset_winboard_state();
    p.search->tables.allocate(p.hash_mb);
    std::srand(static_cast<unsigned>(std::clock()));
    std::srand(static_cast<unsigned>(std::rand()));
}

void start_program(const Program& p) {
    // First of all, so that a front end's interrupt cannot end the program while it loads.
    if (p.ignore_interrupt) std::signal(SIGINT, SIG_IGN);
    if (p.unbuffered_streams) {
        std::setvbuf(stdin, nullptr, _IONBF, 0);
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    std::fputs(p.banner, stdout);
    init_program(p);
    console_loop();
}

}  // namespace varkon
