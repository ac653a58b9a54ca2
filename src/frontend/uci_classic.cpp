#include "frontend/uci_classic.h"

#include <cmath>
#include <cstdint>

#include "core/notation.h"
#include "egtb/probe_egtb.h"
#include "frontend/dialogue.h"
#include "frontend/game.h"
#include "frontend/program.h"
#include "search/think.h"

namespace varkon {

namespace {

// The settings waiting for "isready".
struct PendingTables {
    int hash_mb = 0;      // the pending Hash size; 0: none given
    bool marked = false;  // the tables are to be made anew
};
PendingTables pending_tables;

// When the tables are marked, sizes them anew with the pending Hash size (the size in use
// when none was given) and makes the tablebases anew (registry and cache).
void apply_pending_tables() {
    if (!pending_tables.marked) return;
    pending_tables.marked = false;
    const TableOps& tables = program().search->tables;
    tables.allocate(pending_tables.hash_mb != 0 ? pending_tables.hash_mb : tables.size_mb());
    egtb_init(false);
}

// "go infinite" analyses (a clock of 99999999 centiseconds, one move to go, no
// increment); any other "go" prints the clocks as "\ncomp_time= <own>  opp_time=
// <opponent>" (centiseconds).
void analyse_infinite_or_show_clocks(const UciGo& go, SearchRequest& r) {
    if (go.infinite) {
        r.mode = SearchMode::analysis;
        r.clock.time_left = r.clock.base_time = 99999999;
        r.clock.moves_left = r.clock.moves_to_go = 1;
        r.clock.increment = 0;
        return;
    }
    say("\ncomp_time= %u  opp_time= %u\n", static_cast<unsigned>(go.own_time), static_cast<unsigned>(go.opponent_time));
}

void print_classic_info(const IterationLine& line) { print_info_line(line, 3000); }

// The move being searched, from the eighth iteration on.
void print_classic_current_move(const Move& m, int number, int depth, std::uint32_t) {
    if (depth >= 8) say("info  currmove %s currmovenumber %d\n", move_to_text(m).s, number);
}

void print_classic_best_move(const ThinkResult& r) { announce_best_move(r, game().game_ply > 1); }

void no_bound_line(const IterationLine&, const Move&, bool) {}
void no_move_line(const Move&) {}
// A book move is marked as such before the lines that score it.
void print_classic_book_move(const Move& m) { say("info string book move %s\n", move_to_text(m).s); }

}  // namespace

const UciDialect classic_uci_dialect = {nullptr, apply_pending_tables, analyse_infinite_or_show_clocks};

const SearchOutput classic_uci_search_output = {print_classic_info,      print_classic_current_move,
                                                no_bound_line,           print_classic_book_move,
                                                no_move_line,            print_classic_best_move,
                                                uci_note};

void set_option_pending_hash(const std::string&, double mb) {
    pending_tables.hash_mb = static_cast<int>(mb);
    if (pending_tables.hash_mb != program().search->tables.size_mb()) pending_tables.marked = true;
}
void set_option_nalimov_path_marked(const std::string& v, double n) {
    set_option_nalimov_path(v, n);
    pending_tables.marked = true;
}
void set_option_nalimov_cache_marked(const std::string&, double mb) {
    egtb_settings().cache_mb = std::floor(mb);
    pending_tables.marked = true;
}

}  // namespace varkon
