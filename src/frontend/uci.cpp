#include "frontend/uci.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "book/book.h"
#include "core/input.h"
#include "core/moves.h"
#include "egtb/probe_egtb.h"
#include "frontend/init.h"
#include "frontend/interupt.h"
#include "frontend/main.h"
#include "frontend/utils.h"
#include "search/hash.h"
#include "search/search.h"

namespace varkon {

namespace {

using Tokens = std::vector<std::string>;

// Clocks from the last "go" (centiseconds).
std::int64_t white_time = 1000, black_time = 1000;
std::int64_t white_inc = 0, black_inc = 0;
bool infinite_search = false;     // the running search is "go infinite" (not "go ponder")
bool quit_requested = false;
std::vector<std::string> pending;  // commands that arrived during a search

Tokens split(const std::string& line) {
    Tokens tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\0')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\0') ++i;
        if (i > start) tokens.emplace_back(line, start, i - start);
    }
    return tokens;
}

// A signed decimal number as a GUI writes it; anything unreadable is 0 and the result
// is kept within the range of a 32-bit integer.
std::int64_t number(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return std::clamp<long long>(v, INT_MIN, INT_MAX);
}

// Milliseconds from the GUI to centiseconds, never negative.
std::int64_t centiseconds(const std::string& text) { return std::max<std::int64_t>(0, number(text) / 10); }

// "position [startpos | fen <fields>] [moves <move>...]"
void uci_position(const Tokens& t, std::size_t i) {
    while (i < t.size()) {
        const std::string& word = t[i++];
        if (word == "startpos") {
            new_game();
        } else if (word == "fen") {
            // Up to six fields; a FEN given without its counters ends where "moves" begins.
            const char* field[6] = {"", "", "", "", "", ""};
            for (int f = 0; f < 6 && i < t.size() && t[i] != "moves"; ++f) field[f] = t[i++].c_str();
            setup_fen(field[0], field[1], field[2], field[3]);
        } else {
            continue;
        }
        if (i < t.size() && t[i] == "moves") {
            for (++i; i < t.size(); ++i)
                if (!parse_coordinate_move(t[i].c_str())) {
                    std::printf("illegal move %s\n", t[i].c_str());
                    return;
                }
        }
    }
}

void uci_go(const Tokens& t, std::size_t i) {
    limits = SearchLimits{};
    limits.clock = false;
    bool clock_given = false, moves_to_go_given = false, other_limit = false;
    pondering = 0;
    infinite_search = false;
    for (; i < t.size(); ++i) {
        const std::string& w = t[i];
        const bool has_value = i + 1 < t.size();
        if (w == "perft" && has_value) {
            perft_divide(static_cast<int>(number(t[i + 1])));
            return;
        } else if (w == "searchmoves") {
            while (i + 1 < t.size()) {
                const int index = find_coordinate_move(t[i + 1].c_str());
                if (index == 0) break;
                limits.searchmoves.push_back(move_stack[index]);
                ++i;
            }
        } else if (w == "infinite" || w == "ponder") {
            pondering = 1;
            limits.wait_for_stop = true;
            infinite_search = infinite_search || w == "infinite";
        } else if (!has_value) {
            break;
        } else if (w == "wtime") {
            white_time = centiseconds(t[++i]);
            clock_given = true;
        } else if (w == "btime") {
            black_time = centiseconds(t[++i]);
            clock_given = true;
        } else if (w == "winc") {
            white_inc = centiseconds(t[++i]);
        } else if (w == "binc") {
            black_inc = centiseconds(t[++i]);
        } else if (w == "movestogo") {
            moves_left = static_cast<std::uint32_t>(std::max<std::int64_t>(0, number(t[++i])));
            moves_to_go_given = true;
        } else if (w == "depth") {
            limits.max_depth = static_cast<int>(std::clamp<std::int64_t>(number(t[++i]), 1, 99));
            other_limit = true;
        } else if (w == "mate") {
            limits.mate_moves = static_cast<int>(std::clamp<std::int64_t>(number(t[++i]), 1, 50));
            other_limit = true;
        } else if (w == "nodes") {
            limits.max_nodes = static_cast<std::uint64_t>(std::max<std::int64_t>(1, number(t[++i])));
            other_limit = true;
        } else if (w == "movetime") {
            limits.movetime = static_cast<std::int32_t>(std::max<std::int64_t>(1, centiseconds(t[++i])));
        }
    }
    // A clock without "movestogo" is sudden death; a search limited only by depth, nodes
    // or mate runs without the clock; a bare "go" uses the clock settings in force.
    if (clock_given && !moves_to_go_given) moves_left = 0;
    // A mate in n moves lies within 2n - 1 plies; deeper iterations cannot find one.
    if (limits.mate_moves > 0 && limits.max_depth == 0) limits.max_depth = std::min(99, 2 * limits.mate_moves + 1);
    limits.clock = clock_given || (!other_limit && limits.movetime < 0);
    time_left = static_cast<std::uint32_t>(side == WHITE ? white_time : black_time);
    increment = static_cast<std::uint32_t>(side == WHITE ? white_inc : black_inc);
    think();
    limits = SearchLimits{};
    if (quit_requested) quit_program();
    if (!pending.empty()) {
        std::string lines;
        for (const std::string& l : pending) lines += (lines.empty() ? "" : "\n") + l;
        pending.clear();
        unread_line(lines);
    }
}

// A command line that arrived while the engine is searching.
PollAction searching_command() {
    std::string line;
    if (!read_line(line)) {
        quit_requested = true;
        return PollAction::stop;
    }
    for (const std::string& w : split(line)) {
        if (w == "stop") return PollAction::stop;
        if (w == "quit") {
            quit_requested = true;
            return PollAction::stop;
        }
        if (w == "isready") {
            std::printf("readyok\n");
            return PollAction::none;
        }
        if (w == "ponderhit") {
            if (infinite_search) return PollAction::none;
            pondering = 0;
            limits.wait_for_stop = false;
            return PollAction::ponderhit;
        }
    }
    if (!line.empty()) pending.push_back(line);
    return PollAction::none;
}

void uci_setoption(const Tokens& t, std::size_t i) {
    // "setoption name <name words> [value <value words>]"
    if (i < t.size() && t[i] == "name") ++i;
    std::string name, value;
    for (; i < t.size() && t[i] != "value"; ++i) name += (name.empty() ? "" : " ") + t[i];
    for (++i; i < t.size(); ++i) value += (value.empty() ? "" : " ") + t[i];
    for (const UciOption* o = program().uci_options; o->name != nullptr; ++o) {
        if (strcasecmp(o->name, name.c_str()) != 0 || o->set == nullptr) continue;
        double n = 0;
        if (std::strcmp(o->type, "spin") == 0) n = std::clamp(std::strtod(value.c_str(), nullptr), o->min, o->max);
        o->set(value, n);
        return;
    }
}

}  // namespace

void uci_identify() {
    white_time = black_time = 1000;
    white_inc = black_inc = 0;
    time_left = 1000;
    increment = 0;
    pondering = 0;
    book_on = 1;
    moves_left = 1;
    ponder_option = 1;
    std::printf("\nid name Varkon %s\nid author Dravenholt\n", program().version);
    for (const UciOption* o = program().uci_options; o->name != nullptr; ++o) {
        std::printf("option name %s type %s", o->name, o->type);
        if (o->shown_default) std::printf(" default %s", o->shown_default().c_str());
        if (std::strcmp(o->type, "spin") == 0) std::printf(" min %g max %g", o->min, o->max);
        if (o->vars) std::printf("%s", o->vars);
        std::printf("\n");
    }
    std::printf("uciok\n");
}

bool uci_command(const std::string& line) {
    const Tokens t = split(line);
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::string& w = t[i];
        if (w == "quit") quit_program();
        if (w == "isready") {
            egtb_reinit_if_requested();
            std::printf("readyok\n");
        } else if (w == "uci") {
            uci_identify();
        } else if (w == "setoption") {
            uci_setoption(t, i + 1);
        } else if (w == "position") {
            uci_position(t, i + 1);
        } else if (w == "go") {
            uci_go(t, i + 1);
        } else if (w == "board") {
            console_board();
        } else if (w == "stop" || w == "ponderhit" || w == "ucinewgame") {
            // Nothing is running: nothing to stop.
        } else {
            continue;
        }
        return true;
    }
    return false;
}

void uci_loop() {
    poll_input = searching_command;
    wait_input = searching_command;
    std::string line;
    for (;;) {
        if (!read_line(line)) quit_program();
        uci_command(line);
    }
}

void enter_uci() {
    uci_identify();
    uci_loop();
}

// ---- option setters shared by the programs' option tables --------------------------

void set_option_hash(const std::string&, double mb) { hash_resize(static_cast<int>(mb)); }
void set_option_clear_hash(const std::string&, double) { hash_clear_all(); }
void set_option_nalimov_path(const std::string& v, double) {
    if (!v.empty()) egtb_path = v;
}
void set_option_nalimov_cache(const std::string&, double mb) { egtb_cache_size = mb; }
void set_option_nalimov_path_reinit(const std::string& v, double) {
    set_option_nalimov_path(v, 0);
    egtb_request_reinit();
}
void set_option_nalimov_cache_reinit(const std::string&, double mb) {
    egtb_cache_size = static_cast<unsigned>(mb);
    egtb_request_reinit();
}
void set_option_ponder(const std::string& v, double) { ponder_option = v == "true"; }
void set_option_own_book(const std::string& v, double) { book_on = v == "true"; }
void set_option_book_name(const std::string& v, double) {
    if (!v.empty()) book_name = v;
}
void set_option_book_style(const std::string& v, double) {
    book_style = v == "Normal" ? 2 : v == "Risky" ? 3 : 1;
}

}  // namespace varkon
