#include "frontend/init.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "book/book.h"
#include "core/precalc.h"
#include "egtb/probe_egtb.h"
#include "frontend/main.h"

namespace varkon {

namespace {
const Program* running = nullptr;
}

const Program& program() { return *running; }

void init_program(const Program& p) {
    running = &p;
    set_piece_values(p.piece_values);
    book_style = p.book_style;
    egtb_path = p.egtb_path;
    init_tables();
    new_game();
    select_evaluation(p.evaluation);
    if (p.allocate_tables) p.allocate_tables();
    std::srand(static_cast<unsigned>(std::clock()));
    std::srand(static_cast<unsigned>(std::rand()));
}

void start_program(const Program& p) {
    if (p.unbuffered_streams) {
        std::setvbuf(stdin, nullptr, _IONBF, 0);
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    }
    std::fputs(p.banner, stdout);
    init_program(p);
    // A tablebase cache that cannot be had is reported; the engine plays on without tables.
    if (p.tablebases_at_start) egtb_init_once(false);
    console_loop();
}

}  // namespace varkon
