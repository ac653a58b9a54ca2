#include "frontend/console_classic.h"

#include <cstdio>

#include "core/stats.h"
#include "frontend/console.h"
#include "frontend/game.h"
#include "frontend/log.h"
#include "frontend/testsuite.h"
#include "frontend/uci.h"
#include "search/think.h"

namespace varkon {

void console_bench_classic() {
    const char* const* f = bench_position(0);
    set_up_game(f[0], f[1], f[2], f[3]);
    show_board(game(), stdout, board_display_values());
    SearchRequest request;
    request.clock.moves_to_go = 1;
    request.clock.moves_left = 1;
    request.clock.base_time = 6000;
    request.clock.time_left = 6000;
    console_think(request);
    print_statistics_report();
    console_resume();
}

void console_uci_classic() {
    close_log();
    enter_uci();
}

void console_testsuite() { run_test_suite(console_info); }

void print_statistics_report() { print_statistics(last_search().stats, stdout); }

}  // namespace varkon
