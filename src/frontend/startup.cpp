#include "frontend/startup.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "book/book.h"
#include "core/messages.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "frontend/console.h"
#include "frontend/game.h"
#include "frontend/tablebases.h"
#include "search/think.h"

namespace varkon {

namespace {

// Every shared module's state to its start-up values, the tables aside; then the
// program's own modules.
void init_state(const Program& p) {
    set_program(p);
    set_piece_values(p.piece_values);
    book_options.on = 1;
    book_options.style = p.book_style;
    book_options.name = "book.dat";
    egtb_settings().path = p.egtb_path;
    syzygy_release();
    syzygy_options() = SyzygyOptions{};
    start_game();
    set_search_policy(*p.search);
    set_search_threads(1);
    // The main search worker is made now, before the tables and the tablebase cache: when
    // memory is short those shrink or go, rather than the first search failing for it.
    last_search();
    set_protocol_output(*p.console_output);
    set_message_output(nullptr);
    if (p.reset != nullptr) p.reset();
}

void print_line(const char* text) { std::printf("%s\n", text); }

void seed_random() {
    std::srand(static_cast<unsigned>(std::clock()));
    std::srand(static_cast<unsigned>(std::rand()));
}

}  // namespace

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
    if (p.tablebases_at_start) {
        egtb_init_once(false);
        // The Syzygy path of the program's settings (Varkon.ini).
        if (!syzygy_options().path.empty()) load_syzygy_tables(syzygy_options().path, print_line, print_line);
    }
    console_loop();
}

}  // namespace varkon
