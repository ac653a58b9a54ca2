#include "frontend/init.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "book/book.h"
#include "core/precalc.h"
#include "egtb/probe_egtb.h"
#include "frontend/config.h"
#include "frontend/log.h"
#include "frontend/main.h"
#include "frontend/winboard.h"
#include "search/search.h"
#include "search/sort_moves.h"

namespace varkon {

namespace {
const Program* running = nullptr;

// Every module's state to its start-up values, the tables aside.
void init_state(const Program& p) {
    running = &p;
    close_log();
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
    reset_configuration();
    reset_winboard_state();
}

void seed_random() {
    std::srand(static_cast<unsigned>(std::clock()));
    std::srand(static_cast<unsigned>(std::rand()));
}

}  // namespace

const Program& program() { return *running; }

void init_program(const Program& p) {
    init_state(p);
    p.search->tables.allocate(p.hash_mb);
    seed_random();
}

void start_program(const Program& p) {
    // First of all, so that a front end's interrupt cannot end the program while it loads.
    if (p.ignore_interrupt) std::signal(SIGINT, SIG_IGN);
    if (p.unbuffered_streams) {
        std::setvbuf(stdin, nullptr, _IONBF, 0);
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    std::fputs(p.banner, stdout);
    if (p.startup == nullptr) {
        init_program(p);
    } else {
        init_state(p);
        seed_random();
        p.startup();
    }
    // A tablebase cache that cannot be had is reported; the engine plays on without tables.
    if (p.tablebases_at_start) egtb_init_once(false);
    console_loop();
}

}  // namespace varkon
