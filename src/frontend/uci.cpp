#include "frontend/uci.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <vector>

#include "book/book.h"
#include "core/messages.h"
#include "core/moves.h"
#include "core/notation.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "frontend/command_input.h"
#include "frontend/console.h"
#include "frontend/dialogue.h"
#include "frontend/game.h"
#include "frontend/program.h"
#include "frontend/tablebases.h"
#include "search/hash.h"
#include "search/think.h"

namespace varkon {

namespace {

using Tokens = std::vector<std::string>;

// The state of the loop and the settings of its options that only it reads.
struct UciState {
    bool infinite_search = false;      // the running search is "go infinite" (not "go ponder")
    bool quit_requested = false;
    bool position_refused = false;     // the last "position" named no playable position
    std::vector<std::string> pending;  // commands that arrived during a search
    bool work_ends_itself = false;     // the running search or count ends without "stop"
    bool input_ended = false;          // the input ended behind commands still to be run
    bool ponder_option = true;         // name a move to ponder on after "bestmove"
    int move_overhead_ms = 10;         // taken off every time allotment
    bool analyse_mode = false;         // the GUI analyses (searches run as they always do)
    int multipv = 1;                   // best lines shown by every iteration
};
UciState uci;

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
// is kept within the range of a 32-bit integer (strtoll saturates on overflow).
std::int64_t number(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return std::clamp<long long>(v, INT_MIN, INT_MAX);
}


// Messages of the lower modules (the book's candidate list, the tablebase report) as notes.
void message_note(const char* line) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) uci_note(text.c_str());
}

// Milliseconds from the GUI to centiseconds, never negative.
std::int64_t centiseconds(const std::string& text) { return std::max<std::int64_t>(0, number(text) / 10); }

// "position [startpos | fen <fields>] [moves <move>...]"
void uci_position(const Tokens& t, std::size_t i) {
    while (i < t.size()) {
        const std::string& word = t[i++];
        if (word == "startpos") {
            start_game();
            uci.position_refused = false;
        } else if (word == "fen") {
            // Up to six fields; a FEN given without its counters ends where "moves" begins.
            const char* field[6] = {"", "", "", "", "", ""};
            for (int f = 0; f < 6 && i < t.size() && t[i] != "moves"; ++f) field[f] = t[i++].c_str();
            uci.position_refused = !set_up_game(field[0], field[1], field[2], field[3], field[4]);
            if (uci.position_refused) uci_note("fen error");
        } else {
            continue;
        }
        if (i < t.size() && t[i] == "moves") {
            for (++i; i < t.size(); ++i)
                if (!parse_coordinate_move(game(), t[i].c_str())) {
                    say("info string illegal move %s\n", t[i].c_str());
                    return;
                }
        }
    }
}

// Perft depths beyond this take days; a larger request is refused rather than run.
constexpr int MAX_PERFT_DEPTH = 20;

PollAction read_searching_command();
PollAction poll_searching_command();

bool perft_stops() { return poll_searching_command() == PollAction::stop; }

void uci_go(const Tokens& t, std::size_t i) {
    // A "go" uses only the clock it states: nothing carries over from an earlier one.
    SearchRequest r;
    r.clock_limits = false;
    r.clock.moves_left = 0;
    std::int64_t white_time = 0, black_time = 0, white_inc = 0, black_inc = 0;
    bool clock_given = false;
    uci.infinite_search = false;
    for (; i < t.size(); ++i) {
        const std::string& w = t[i];
        const bool has_value = i + 1 < t.size();
        if (w == "perft" && has_value) {
            const std::int64_t depth = number(t[i + 1]);
            if (depth > MAX_PERFT_DEPTH) {
                say("info string perft depth %lld is too deep (at most %d)\n", static_cast<long long>(depth),
                    MAX_PERFT_DEPTH);
                return;
            }
            uci.work_ends_itself = true;
            print_perft_divide(static_cast<int>(depth), perft_stops);
            return;
        } else if (w == "searchmoves") {
            while (i + 1 < t.size()) {
                const int index = find_coordinate_move(game(), t[i + 1].c_str());
                if (index == 0) break;
                r.searchmoves.push_back(game().move_stack[index]);
                ++i;
            }
        } else if (w == "infinite" || w == "ponder") {
            // Both run without the clock until "stop" (or "ponderhit", which puts a ponder
            // search under its clock).
            r.mode = SearchMode::ponder;
            r.wait_for_stop = true;
            uci.infinite_search = uci.infinite_search || w == "infinite";
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
            r.clock.moves_left = static_cast<std::uint32_t>(std::max<std::int64_t>(0, number(t[++i])));
        } else if (w == "depth") {
            r.max_depth = static_cast<int>(std::clamp<std::int64_t>(number(t[++i]), 1, 99));
        } else if (w == "mate") {
            r.mate_moves = static_cast<int>(std::clamp<std::int64_t>(number(t[++i]), 1, 50));
        } else if (w == "nodes") {
            r.max_nodes = static_cast<std::uint64_t>(std::max<std::int64_t>(1, number(t[++i])));
        } else if (w == "movetime") {
            r.movetime = static_cast<std::int32_t>(std::max<std::int64_t>(1, centiseconds(t[++i])));
        }
    }
    // A clock without "movestogo" is sudden death; a "go" without a clock is limited only
    // by what it names (depth, nodes, mate, movetime), and a bare "go" runs until "stop".
    // A mate in n moves lies within 2n - 1 plies; deeper iterations cannot find one.
    if (r.mate_moves > 0 && r.max_depth == 0) r.max_depth = std::min(99, 2 * r.mate_moves + 1);
    r.clock_limits = clock_given;
    // A GUI that analyses wants every position searched: no book move, no only reply
    // answered unsearched.
    if (uci.analyse_mode && r.mode == SearchMode::play) r.mode = SearchMode::analysis;
    r.move_overhead = (uci.move_overhead_ms + 9) / 10;
    r.line_for_every_move = true;
    r.multipv = uci.multipv;
    uci.work_ends_itself = !r.wait_for_stop && (clock_given || r.max_depth > 0 || r.max_nodes > 0 || r.movetime >= 0);
    const Side side = game().side;
    r.clock.time_left = static_cast<std::uint32_t>(side == WHITE ? white_time : black_time);
    r.clock.increment = static_cast<std::uint32_t>(side == WHITE ? white_inc : black_inc);
    // The clock as the WinBoard-style time rule of varkon_classic reads it.
    r.clock.moves_to_go = r.clock.moves_left;
    r.clock.opponent_clock = static_cast<std::uint32_t>(side == WHITE ? black_time : white_time);
    if (uci.position_refused) {
        uci_note("no position to search: the last position command was refused");
        // An infinite or ponder search answers on "stop" (or "ponderhit") all the same.
        if (r.wait_for_stop)
            while (read_searching_command() == PollAction::none) {
            }
        say("bestmove 0000\n");
        return;
    }
    const UciDialect* d = program().uci_dialect;
    if (d != nullptr && d->on_isready != nullptr) d->on_isready();
    if (d != nullptr && d->on_go != nullptr)
        d->on_go(UciGo{uci.infinite_search, r.clock.time_left, r.clock.opponent_clock}, r);
    r.output = program().uci_output;
    r.poll = poll_searching_command;
    r.wait = read_searching_command;
    search_game(r);
}

// After a search or a count: ends the program when "quit" came, else hands the commands
// that arrived meanwhile back to the loop, in order.
void resume_after_search() {
    if (uci.quit_requested) quit_program();
    if (!uci.pending.empty()) {
        std::string lines;
        for (const std::string& l : uci.pending) lines += (lines.empty() ? "" : "\n") + l;
        uci.pending.clear();
        unread_line(lines);
    }
}

// A command line that arrived while the engine is searching.
// "stop" and "ponderhit" act at once; other commands are kept and carried out after the
// search, in order. "isready" is answered at once, and "quit" (or the end of input) ends
// the search and the program at once, unless commands sent before them are still kept:
// then they wait their turn. An end of input behind kept commands is a "quit" after
// them: until then every search or count that ends by itself runs to its end (one that
// only "stop" would end is ended at once, since none can come).
PollAction read_searching_command() {
    std::string line;
    if (!uci.input_ended && !read_line(line)) {
        if (uci.pending.empty()) {
            uci.quit_requested = true;
            return PollAction::stop;
        }
        uci.input_ended = true;
    }
    if (uci.input_ended) return uci.work_ends_itself ? PollAction::none : PollAction::stop;
    for (const std::string& w : split(line)) {
        if (w == "stop") return PollAction::stop;
        if (w == "quit") {
            if (!uci.pending.empty()) break;
            uci.quit_requested = true;
            return PollAction::stop;
        }
        if (w == "isready") {
            if (!uci.pending.empty()) break;
            say("readyok\n");
            return PollAction::none;
        }
        if (w == "ponderhit") return uci.infinite_search ? PollAction::none : PollAction::ponderhit;
    }
    if (!line.empty()) uci.pending.push_back(line);
    return PollAction::none;
}

PollAction poll_searching_command() { return input_available() ? read_searching_command() : PollAction::none; }

void uci_setoption(const Tokens& t, std::size_t i) {
    // "setoption name <name words> [value <value words>]"
    if (i < t.size() && t[i] == "name") ++i;
    std::string name, value;
    for (; i < t.size() && t[i] != "value"; ++i) name += (name.empty() ? "" : " ") + t[i];
    for (++i; i < t.size(); ++i) value += (value.empty() ? "" : " ") + t[i];
    for (const UciOption* o = program().uci_options; o->name != nullptr; ++o) {
        if (strcasecmp(o->name, name.c_str()) != 0 || o->set == nullptr) continue;
        double n = 0;
        if (std::strcmp(o->type, "spin") == 0) {
            // Text that is no number ("nan", "inf", words) reads as 0, as the protocol's
            // integer reading would, and is clamped like any other value.
            const double v = std::strtod(value.c_str(), nullptr);
            n = std::clamp(std::isfinite(v) ? v : 0.0, o->min, o->max);
        }
        o->set(value, n);
        return;
    }
}

}  // namespace

// Identification and option list. A "uci" sent again re-identifies only: options set
// with "setoption" keep their values.
void uci_identify() {
    const UciDialect* d = program().uci_dialect;
    if (d != nullptr && d->on_uci != nullptr) d->on_uci();
    say("\nid name Varkon %s\nid author Dravenholt\n", program().version);
    for (const UciOption* o = program().uci_options; o->name != nullptr; ++o) {
        std::string line = std::string("option name ") + o->name + " type " + o->type;
        if (o->shown_default) line += " default " + o->shown_default();
        if (std::strcmp(o->type, "spin") == 0) {
            char limits_text[64];
            std::snprintf(limits_text, sizeof limits_text, " min %g max %g", o->min, o->max);
            line += limits_text;
        }
        if (o->vars) line += o->vars;
        say("%s\n", line.c_str());
    }
    say("uciok\n");
}

bool uci_command(const std::string& line) {
    const Tokens t = split(line);
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::string& w = t[i];
        if (w == "quit") quit_program();
        if (w == "isready") {
            if (!uci.pending.empty()) break;
            const UciDialect* d = program().uci_dialect;
            if (d != nullptr && d->on_isready != nullptr) d->on_isready();
            say("readyok\n");
        } else if (w == "uci") {
            uci_identify();
        } else if (w == "setoption") {
            uci_setoption(t, i + 1);
        } else if (w == "position") {
            uci_position(t, i + 1);
        } else if (w == "go") {
            uci_go(t, i + 1);
            resume_after_search();
        } else if (w == "board") {
            console_board();
        } else if (w == "stop" || w == "ponderhit" || w == "ucinewgame") {
            // Nothing is running: nothing to stop. (A "stop" that crosses the answer of
            // the search it was meant for must not cut the next search short.)
        } else {
            continue;
        }
        return true;
    }
    return false;
}

void uci_loop() {
    set_protocol_output(*program().uci_output);
    set_message_output(message_note);
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

// ---- what a search prints under UCI ----------------------------------------------------

// One analysis line; nodes per second once `nps_from_ms` milliseconds have passed. Every
// field comes before "pv", since GUIs read all that follows it as moves.
void print_info_line(const IterationLine& line, std::uint64_t nps_from_ms) {
    const std::uint64_t t = std::max<std::uint64_t>(1, std::uint64_t{line.elapsed_cs} * 10);
    char text[160];
    std::string out;
    std::snprintf(text, sizeof text, "info depth %d seldepth %d", line.depth, line.seldepth);
    out += text;
    if (line.multipv > 0) {
        std::snprintf(text, sizeof text, " multipv %d", line.multipv);
        out += text;
    }
    const int a = std::abs(line.score);
    if (a <= MATE_BOUND)
        std::snprintf(text, sizeof text, " score cp %d", line.score);
    else
        std::snprintf(text, sizeof text, " score mate %d", line.score > 0 ? (32000 - a) / 2 : -((32000 - a) / 2));
    out += text;
    if (line.bound == LineBound::upper) out += " upperbound";
    if (line.bound == LineBound::lower) out += " lowerbound";
    std::snprintf(text, sizeof text, " time %llu nodes %llu", static_cast<unsigned long long>(t),
                  static_cast<unsigned long long>(line.nodes));
    out += text;
    if (t >= nps_from_ms) {
        std::snprintf(text, sizeof text, " nps %llu", static_cast<unsigned long long>(line.nodes * 1000 / t));
        out += text;
    }
    if (line.tbhits != 0) {
        std::snprintf(text, sizeof text, " tbhits %llu", static_cast<unsigned long long>(line.tbhits));
        out += text;
    }
    out += " pv ";
    for (int c = 0; c < 12 && c < line.pv_length; ++c) out += std::string(move_to_text(line.pv[c]).s) + " ";
    say("%s\n", out.c_str());
}

// "bestmove" with a move to ponder on when `with_ponder`, then the move is played.
void announce_best_move(const ThinkResult& r, bool with_ponder) {
    if (r.best.from == 0) {
        say("\nbestmove 0000\n");
        return;
    }
    if (with_ponder && r.ponder.from != 0)
        say("\nbestmove %s ponder %s\n", move_to_text(r.best).s, move_to_text(r.ponder).s);
    else
        say("\nbestmove %s\n", move_to_text(r.best).s);
    play_result(game(), r);
}

// A note for the user that is no protocol line: UCI GUIs take it as an "info string".
void uci_note(const char* text) { say("info string %s\n", text); }

namespace {

void print_info(const IterationLine& line) { print_info_line(line, 1000); }

// The move being searched, once a second has passed since the start. A promotion carries
// its piece letter, as every move the protocol names does.
void print_current_move(const Move& m, int number, int, std::uint32_t elapsed_cs) {
    if (elapsed_cs >= 100) say("info currmove %s currmovenumber %d\n", move_to_text(m).s, number);
}

void no_bound_line(const IterationLine&, const Move&, bool) {}
void no_single_reply(const Move&) {}

void print_book_line(const Move& m, const char* prefix) {
    say("%s1\t0\t0\t0\t%s%s <bookmove>\n", prefix, square_name[m.from], square_name[m.to]);
}

void print_best_move(const ThinkResult& r) { announce_best_move(r, uci.ponder_option); }

void uci_book_line(const Move& m) { print_book_line(m, "info string "); }
void console_book_line(const Move& m) { print_book_line(m, ""); }
void console_note(const char* text) { say("%s\n", text); }

}  // namespace

const SearchOutput uci_search_output = {print_info,       print_current_move, no_bound_line, uci_book_line,
                                        no_single_reply, print_best_move,    uci_note};
const SearchOutput console_search_output = {print_info,       print_current_move, no_bound_line, console_book_line,
                                            no_single_reply, print_best_move,    console_note};

// ---- option setters shared by the programs' option tables --------------------------

void set_option_hash(const std::string&, double mb) {
    const TableOps& tables = program().search->tables;
    if (static_cast<int>(mb) != tables.size_mb()) tables.allocate(static_cast<int>(mb));
}
void set_option_clear_hash(const std::string&, double) { program().search->tables.clear_all(); }
void set_option_threads(const std::string&, double threads) {
    const int wanted = static_cast<int>(threads);
    const int got = set_search_threads(wanted);
    if (got < wanted) {
        char text[96];
        std::snprintf(text, sizeof text, "only %d of %d threads could be started", got, wanted);
        uci_note(text);
    }
}
void set_option_nalimov_path(const std::string& v, double) {
    if (!v.empty()) egtb_settings().path = v;
}
void set_option_nalimov_cache(const std::string&, double mb) { egtb_settings().cache_mb = mb; }
void set_option_syzygy_path(const std::string& v, double) { load_syzygy_tables(v, uci_note, uci_note); }
void set_option_syzygy_probe_depth(const std::string&, double n) { syzygy_options().probe_depth = static_cast<int>(n); }
void set_option_syzygy_rule50(const std::string& v, double) { syzygy_options().rule50 = v == "true"; }
void set_option_syzygy_probe_limit(const std::string&, double n) { syzygy_options().probe_limit = static_cast<int>(n); }
void set_option_ponder(const std::string& v, double) { uci.ponder_option = v == "true"; }
void set_option_move_overhead(const std::string&, double ms) { uci.move_overhead_ms = static_cast<int>(ms); }
void set_option_analyse_mode(const std::string& v, double) { uci.analyse_mode = v == "true"; }
void set_option_multipv(const std::string&, double lines) { uci.multipv = static_cast<int>(lines); }
void set_option_own_book(const std::string& v, double) { book_options.on = v == "true"; }
void set_option_book_name(const std::string& v, double) { set_book_name(v); }
void set_option_book_style(const std::string& v, double) {
    book_options.style = v == "Normal" ? 2 : v == "Risky" ? 3 : 1;
}

}  // namespace varkon

