#include "frontend/testsuite.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "core/notation.h"
#include "frontend/command_input.h"
#include "frontend/console.h"
#include "frontend/dialogue.h"
#include "frontend/game.h"
#include "frontend/program.h"
#include "frontend/textfile.h"
#include "frontend/winboard.h"
#include "search/think.h"

namespace varkon {

namespace {

// Longest EPD line kept (the rest of a longer line is skipped), longest file name typed.
constexpr std::size_t MAX_EPD_LINE = 1 << 16;
constexpr std::size_t MAX_FILE_NAME = 4095;
// Seconds per position: at least 1; the upper bound keeps the clock within its range.
constexpr long long MAX_TEST_TIME = 1000000;

// ---- reading EPD lines --------------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\0' || c == '\v' || c == '\f'; }

// The next blank-separated word of `line` from `at` on; empty at the end.
std::string next_word(const std::string& line, std::size_t& at) {
    while (at < line.size() && is_blank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !is_blank(line[at])) ++at;
    return line.substr(start, at - start);
}

bool is_castling_field(const std::string& w) {
    return w == "-" || (!w.empty() && w.size() <= 4 && w.find_first_not_of("KQkq") == std::string::npos);
}
bool is_ep_field(const std::string& w) {
    return w == "-" || (w.size() == 2 && w[0] >= 'a' && w[0] <= 'h' && (w[1] == '3' || w[1] == '6'));
}
bool is_counter(const std::string& w) {
    return !w.empty() && w.size() <= 6 && w.find_first_not_of("0123456789") == std::string::npos;
}

// A move operand without what follows the move: check and mate signs, annotation marks.
std::string move_operand(const std::string& w) { return w.substr(0, w.find_first_of("+#!?:")); }

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    for (std::string w = next_word(text, at); !w.empty(); w = next_word(text, at)) words.push_back(w);
    return words;
}

// One operation: an opcode and its operands.
void read_operation(const std::string& text, EpdPosition& p) {
    const std::vector<std::string> words = words_of(text);
    if (words.empty()) return;
    const std::string& opcode = words[0];
    if (opcode == "bm" || opcode == "am") {
        std::vector<std::string>& moves = opcode == "bm" ? p.best : p.avoid;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::string m = move_operand(words[i]);
            if (!m.empty()) moves.push_back(m);
        }
    } else if (opcode == "id" && words.size() > 1) {
        p.id.clear();
        for (std::size_t i = 1; i < words.size(); ++i) p.id += (i > 1 ? " " : "") + words[i];
    }
}

// ---- the run -------------------------------------------------------------------------

struct SuiteRun {
    const SearchOutput* shown = nullptr;   // the thinking lines
    bool terminal = false;                 // standard input is a terminal
    ThinkResult result;
};
SuiteRun run;

void show_iteration(const IterationLine& line) { run.shown->iteration(line); }
void show_current_move(const Move& m, int number, int depth, std::uint32_t elapsed) {
    run.shown->current_move(m, number, depth, elapsed);
}
void show_bound(const IterationLine& line, const Move& m, bool high) { run.shown->first_move_bound(line, m, high); }
void show_book_move(const Move& m) { run.shown->book_move(m); }
void show_single_reply(const Move& m) { run.shown->single_reply(m); }
void show_note(const char* text) { protocol_output().note(text); }
void record_move(const ThinkResult& r) { run.result = r; }

// A line typed at a terminal; what waits on a pipe is a script's next command instead.
bool typed_at_terminal() { return run.terminal && input_available(); }

// During a search: a line typed at the terminal ends it (and the run, before the next
// position); nothing is read.
PollAction poll_terminal() { return typed_at_terminal() ? PollAction::stop : PollAction::none; }

const SearchOutput suite_output = {show_iteration, show_current_move, show_bound,  show_book_move,
                                   show_single_reply, record_move,     show_note};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

// Text for the screen and the results file alike.
void both(std::FILE* results, const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputs(text.c_str(), results);
}

std::string joined(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) s += (s.empty() ? "" : " ") + w;
    return s;
}

// The expected moves as the result line shows them.
std::string expected_text(const EpdPosition& p) {
    if (!p.best.empty()) return joined(p.best);
    if (!p.avoid.empty()) return "am " + joined(p.avoid);
    return "none";
}

// The engine's move in SAN; "-" when it has none.
std::string san_of(const Move& m) {
    if (m.from == 0) return "-";
    const int index = find_coordinate_move(game(), move_to_text(m).s);
    return index != 0 ? san_text(game(), index).s : move_to_text(m).s;
}

bool same_squares(const Move& a, const Move& b) {
    return a.from == b.from && a.to == b.to && a.promotion == b.promotion;
}

bool names_move(const std::string& text, const Move& m, const std::string& san) {
    const int index = find_san_move(game(), text.c_str());
    return index != 0 ? same_squares(game().move_stack[index], m) : text == san;
}

bool any_names(const std::vector<std::string>& texts, const Move& m, const std::string& san) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return names_move(t, m, san); });
}

struct Totals {
    int done = 0;
    int solved = 0;
    std::uint64_t centiseconds = 0;
    std::uint64_t nodes = 0;
    std::int64_t depth = 0;
};

void print_summary(std::FILE* results, const Totals& t) {
    const std::uint64_t seconds = t.centiseconds / 100;
    const std::uint64_t h = seconds / 3600, m = (seconds - 3600 * h) / 60, s = seconds - 3600 * h - 60 * m;
    // Under a second in all, the speed comes from the centiseconds (none at all: 0).
    const std::uint64_t nps = seconds > 0             ? t.nodes / seconds
                              : t.centiseconds > 0 ? t.nodes * 100 / t.centiseconds
                                                   : 0;
    const long long depth = t.done > 0 ? static_cast<long long>(t.depth / t.done) : 0;
    const std::string time = format("%llu hours %llu minutes %llu seconds \n", static_cast<unsigned long long>(h),
                                    static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
    const std::string rest = format("nodes       = %llu\nNPS         = %llu\ndepth       = %lld\n",
                                    static_cast<unsigned long long>(t.nodes), static_cast<unsigned long long>(nps), depth);
    const std::string head = format("\nend of testsuite\n\npositions   = %d\nsolved      = %d\nunsolved    = %d\n",
                                    t.done, t.solved, t.done - t.solved);
    std::fputs((head + "time need   = " + time + rest).c_str(), stdout);
    std::fputs((head + "solved time = " + time + rest).c_str(), results);
}

// Asks one question; false at the end of input.
bool ask(const char* question, std::string& answer) {
    std::fputs(question, stdout);
    return read_word(answer, MAX_FILE_NAME);
}

// After the last answer of a dialogue: the end of its line is taken too, so that it does
// not count as a line typed to stop the run. Commands sent on the same line stay.
void end_answer_line() {
    std::string rest;
    if (read_line(rest) && rest.find_first_not_of(" \t") != std::string::npos) unread_line(rest);
}

// Searches one position for `test_time` seconds and reports it. False when the run
// ends here (interactive "b", or the end of input at that question).
bool run_position(const EpdPosition& p, long long test_time, bool interactive, void (*statistics)(),
                  std::FILE* results, Totals& totals) {
    std::printf("setboard %s %s %s %s\n", p.fields[0].c_str(), p.fields[1].c_str(), p.fields[2].c_str(),
                p.fields[3].c_str());
    if (!p.best.empty()) std::printf("bm= %s\n", joined(p.best).c_str());
    if (!p.avoid.empty()) std::printf("am= %s\n", joined(p.avoid).c_str());
    if (p.best.empty() && p.avoid.empty()) std::printf("bm= none\n");
    std::printf("id= %s\n", p.id.c_str());

    // One move in test_time seconds, under either time rule: the whole clock (test-suite
    // mode) and the fixed move time say the same.
    const auto clock = static_cast<std::uint32_t>(test_time * 100);
    SearchRequest r;
    r.mode = SearchMode::test_suite;
    r.clock.time_left = r.clock.opponent_clock = r.clock.base_time = clock;
    r.clock.moves_left = r.clock.moves_to_go = 1;
    r.clock.increment = 0;
    r.movetime = static_cast<std::int32_t>(clock);
    r.output = &suite_output;
    r.poll = poll_terminal;

    console_board();
    search_policy().tables.clear_for_search();
    run.result = ThinkResult{};
    const std::uint32_t start = now_cs();
    search_game(r);
    const std::uint32_t elapsed = now_cs() - start;

    const Move best = run.result.best;
    const std::string san = san_of(best);
    ++totals.done;
    totals.centiseconds += elapsed;
    totals.nodes += last_search().stats.nodes;
    totals.depth += run.result.depth;
    const bool solved = epd_solved(p, best);
    if (solved) ++totals.solved;

    const std::string line = format("%d. %s\t%s\t%s%s time = %u\t", totals.done, p.id.c_str(), expected_text(p).c_str(),
                                    san.c_str(), solved ? " !\t:-)\t" : " ?\t:-(\t", elapsed);
    std::fputs("\n", stdout);
    both(results, line);
    both(results, format("solved = %d\n", totals.solved));

    if (!interactive) return true;
    if (statistics != nullptr) statistics();
    std::fputs("\n<n>ext / <b>reak ? \n", stdout);
    std::fflush(stdout);
    std::string answer;
    if (!read_word(answer)) return false;
    end_answer_line();
    return answer[0] != 'b';
}

void run_file(std::FILE* epd, std::FILE* results, long long test_time, bool interactive, void (*statistics)()) {
    Totals totals;
    std::string line;
    int line_number = 0;
    while (read_text_line(epd, line, MAX_EPD_LINE)) {
        ++line_number;
        // A line typed at the terminal stops the run; it is left for the console.
        if (typed_at_terminal()) return;
        EpdPosition p;
        const EpdLine kind = parse_epd_line(line, p);
        if (kind == EpdLine::empty) continue;
        if (kind == EpdLine::end) break;
        start_game();
        if (kind == EpdLine::malformed) {
            both(results, format("line %d: no position (fields missing), skipped\n", line_number));
            continue;
        }
        if (!set_up_game(p.fields[0].c_str(), p.fields[1].c_str(), p.fields[2].c_str(), p.fields[3].c_str())) {
            both(results, format("line %d: illegal position, skipped\n", line_number));
            continue;
        }
        if (!run_position(p, test_time, interactive, statistics, results, totals)) return;
    }
    print_summary(results, totals);
}

}  // namespace

EpdLine parse_epd_line(const std::string& line, EpdPosition& p) {
    p = EpdPosition{};
    std::size_t at = 0;
    p.fields[0] = next_word(line, at);
    if (p.fields[0].empty()) return EpdLine::empty;
    if (p.fields[0][0] == '*') return EpdLine::end;
    std::size_t before = at;
    p.fields[1] = next_word(line, at);
    if (p.fields[1] != "w" && p.fields[1] != "b") return EpdLine::malformed;
    // Castling rights and the en-passant square may be left out, and a FEN's two move
    // counters may follow them: each field is taken only when it looks like one.
    p.fields[2] = p.fields[3] = "-";
    before = at;
    if (std::string w = next_word(line, at); is_castling_field(w)) {
        p.fields[2] = w;
        before = at;
    } else {
        at = before;
    }
    if (std::string w = next_word(line, at); is_ep_field(w)) {
        p.fields[3] = w;
        before = at;
    } else {
        at = before;
    }
    for (int counter = 0; counter < 2; ++counter) {
        if (!is_counter(next_word(line, at))) break;
        before = at;
    }
    // The operations, each ended by ";" (the last one may lack it); quoted text may hold ";".
    std::string operation;
    bool quoted = false;
    for (std::size_t i = before; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') quoted = !quoted;
        if (c == ';' && !quoted) {
            read_operation(operation, p);
            operation.clear();
        } else {
            operation += c;
        }
    }
    read_operation(operation, p);
    return EpdLine::position;
}

bool epd_solved(const EpdPosition& p, const Move& move) {
    if (move.from == 0 || (p.best.empty() && p.avoid.empty())) return false;
    const std::string san = san_of(move);
    if (!p.best.empty() && !any_names(p.best, move, san)) return false;
    return !any_names(p.avoid, move, san);
}

void run_test_suite(void (*statistics)()) {
    std::string epd_name, results_name, time_text, mode;
    if (!ask("\nname of epd testsuite: ", epd_name) || !ask("\nname of output file: ", results_name) ||
        !ask("\ntime in seconds: ", time_text) || !ask("\n<i>nteraktiv / <a>utomatic ? ", mode))
        return;
    end_answer_line();
    const bool interactive = mode[0] == 'i';

    std::string why;
    std::FILE* epd = open_text_file(epd_name.c_str(), &why);
    if (epd == nullptr) {
        std::printf("\nUnable to open file. (%s)\n", why.c_str());
        return;
    }
    // The results never overwrite the test suite itself.
    std::FILE* results = same_file(epd_name.c_str(), results_name.c_str()) ? nullptr
                                                                            : create_text_file(results_name.c_str(), &why);
    if (results == nullptr) {
        if (why.empty()) why = "it is the epd file";
        std::printf("\nUnable to open results file. (%s)\n", why.c_str());
        std::fclose(epd);
        return;
    }

    std::printf("\n-------------------- epd testsuite: %s --------------------\n\n", epd_name.c_str());
    std::fputs("\n-------------------- this is a epd testsuite file from Varkon --------------------\n\n", results);
    errno = 0;
    const long long test_time = std::clamp(std::strtoll(time_text.c_str(), nullptr, 10), 1LL, MAX_TEST_TIME);
    std::printf("test_time = %lld seconds per move\n", test_time);
    std::fprintf(results, "EPD file  = %s\ntest_time = %lld seconds per move\n", epd_name.c_str(), test_time);
    both(results, "\n\n");

    // The suite's own output and input handling for its searches: its thinking lines are
    // WinBoard's, as "post" shows them, its notes the protocol's in charge, and whatever
    // waits on the input is left for the console.
    run.shown = &winboard_thinking_output;
    run.terminal = ::isatty(0) != 0;

    run_file(epd, results, test_time, interactive, statistics);

    std::fclose(epd);
    const bool write_error = std::ferror(results) != 0;
    if (std::fclose(results) != 0 || write_error)
        std::printf("the results file %s could not be written completely\n", results_name.c_str());
    std::fflush(stdout);
}

}  // namespace varkon
