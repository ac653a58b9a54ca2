#include "frontend/init.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/precalc.h"
#include "frontend/main.h"

namespace varkon {

namespace {
const Program* running = nullptr;
}

const Program& program() { return *running; }

void init_program(const Program& p) {
    running = &p;
    set_piece_values(p.piece_values);
    init_tables();
    new_game();
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
    console_loop();
}

}  // namespace varkon
