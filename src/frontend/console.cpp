#include "frontend/console.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "book/book.h"
#include "core/clock.h"
#include "core/notation.h"
#include "eval/eval.h"
#include "frontend/command_input.h"
#include "frontend/dialogue.h"
#include "frontend/game.h"
#include "frontend/log.h"
#include "frontend/program.h"
#include "search/think.h"

namespace varkon {

void quit_program() {
    program().search->tables.release();
    std::fflush(stdout);
    close_log();
    std::exit(0);
}

namespace {

// What arrived while the console searched or counted.
struct ConsoleInput {
    bool quit_requested = false;
    bool stop_requested = false;
    bool input_ended = false;   // the input ended behind lines still to be run
    std::string deferred;   // lines for afterwards
    volatile std::sig_atomic_t build_signal = 0;   // the signal that arrived during a build
};
ConsoleInput console;

// A line that arrives while the console runs a search or a perft count: "stop" ends the
// work, "quit" ends it and then the program (after any commands sent before it); anything
// else is kept for afterwards. The end of input is a "quit" too: at once when nothing is
// kept, else after the kept lines, the work under way and theirs running to their end.
PollAction console_command() {
    if (console.input_ended || !input_available()) return PollAction::none;
    std::string line;
    if (!read_line(line)) {
        if (!console.deferred.empty()) {
            console.input_ended = true;
            return PollAction::none;
        }
        console.quit_requested = true;
        console.stop_requested = true;
        return PollAction::stop;
    }
    // A blank line, such as the rest of the line whose last word the console read before
    // the work began, is no command: it must not put a "quit" behind it.
    if (line.find_first_not_of(" \t") == std::string::npos) return PollAction::none;
    std::string word;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        const char c = i < line.size() ? line[i] : ' ';
        if (c != ' ' && c != '\t') {
            word += c;
            continue;
        }
        if (word == "quit" && !console.deferred.empty()) break;  // after the commands sent before it
        if (word == "quit") console.quit_requested = true;
        if (word == "quit" || word == "stop") {
            console.stop_requested = true;
            return PollAction::stop;
        }
        word.clear();
    }
    console.deferred += line + "\n";
    return PollAction::none;
}

// After a search or count: ends the program when asked to, else hands the kept lines
// back to the console.
void resume_console() {
    if (console.quit_requested) quit_program();
    if (!console.deferred.empty()) {
        console.deferred.pop_back();
        unread_line(console.deferred);
        console.deferred.clear();
    }
}

bool console_stops() { return console_command() == PollAction::stop; }

void print_divide_line(const Move& m, std::uint64_t nodes) {
    std::printf("%s: %llu\n", move_to_text(m).s, static_cast<unsigned long long>(nodes));
}

}  // namespace

PerftCount print_perft_divide(int depth, PerftPoll poll) {
    const PerftCount c = perft_divide(game(), depth, poll, print_divide_line);
    if (c.stopped)
        std::printf("\nperft stopped\n");
    else
        std::printf("\nNodes searched: %llu\n", static_cast<unsigned long long>(c.nodes));
    return c;
}

void console_think(SearchRequest& request) {
    request.output = program().console_output;
    request.poll = console_command;
    request.wait = nullptr;
    search_game(request);
    if (console.quit_requested) quit_program();
}

void console_resume() { resume_console(); }

void console_loop() {
    set_protocol_output(*program().console_output);
    std::string word;
    for (;;) {
        if (!read_word(word, 259)) quit_program();
        for (const ConsoleCommand* c = program().commands; c->word != nullptr; ++c)
            if (word == c->word) {
                c->run();
                break;
            }
    }
}

void console_quit() { quit_program(); }

BoardDisplay board_display_values() {
    BoardDisplay values = program().board_values(game());
    if (program().evaluation != nullptr) {
        EvalState state;
        SearchStats counters;
        values.show_eval = true;
        values.pos_value = program().evaluation(game(), state, counters, -32000, 32000);
    }
    return values;
}

void console_board() {
    const BoardDisplay values = board_display_values();
    show_board(game(), stdout, values);
    if (values.show_eval) std::printf("pos_value : %d\n", values.pos_value);
}

void console_info() {
    if (program().statistics_report != nullptr) program().statistics_report();
}

void console_bookon() {
    book_options.on = 1;
    std::puts("book is on");
}

void console_bookoff() {
    book_options.on = 0;
    std::puts("book is off");
}

namespace {

// Perft depths beyond this take days; a larger request is refused rather than run.
constexpr long MAX_PERFT_DEPTH = 20;

}  // namespace

void console_perft() {
    std::fputs("depth: ", stdout);
    std::string word;
    if (!read_word(word)) quit_program();
    // Text that is no number counts as depth 0, and so does a negative depth.
    errno = 0;
    long depth = std::strtol(word.c_str(), nullptr, 10);
    if (errno == ERANGE || depth > MAX_PERFT_DEPTH) {
        std::printf("\ndepth %s is too deep (at most %ld)\n", word.c_str(), MAX_PERFT_DEPTH);
        return;
    }
    if (depth < 0) depth = 0;
    const std::uint32_t start = now_cs();
    start_game();
    const PerftCount count = perft(game(), static_cast<int>(depth), console_stops);
    const std::uint64_t nodes = count.nodes;
    if (count.stopped) {
        std::printf("\nperft stopped\n");
        resume_console();
        return;
    }
    std::uint32_t elapsed = now_cs() - start;
    if (elapsed < 1) elapsed = 1;
    const float seconds = static_cast<float>(elapsed) / 100.0f;
    const auto speed = static_cast<long long>(static_cast<double>(nodes) / seconds);
    std::printf("\nKnoten    = %12llu \nTime      = %12.2f\nnodes/s   = %12lld \n\n",
                static_cast<unsigned long long>(nodes), static_cast<double>(seconds), speed);
    resume_console();   // what came during the count, and a "quit" among it
}

namespace {

// The bench positions: four leading FEN fields each.
const char* const bench_positions[][4] = {
    {"2rr2k1/1b3ppp/pb2p3/1p2P3/1P2BPnq/P1N3P1/1B2Q2P/R4R1K", "b", "-", "-"},
    {"1r1q2k1/R4p2/3Pb2p/4Q1p1/1p2B3/2p3P1/1P3P1P/6K1", "w", "-", "-"},
    {"r4rk1/2p1b1p1/p3q3/np1p4/3P1BR1/2P2Q1P/P1B2P2/R6K", "w", "-", "-"},
};

void wait_for_key(int characters) {
    for (int k = 0; k < characters; ++k)
        if (read_char() < 0) quit_program();
}

// One answer of the build dialogue; end of input ends the process. A word of PATH_MAX
// characters or more is cut by the reader, so it comes back as it was cut and is refused.
std::string build_answer(const char* question) {
    std::fputs(question, stdout);
    std::string word;
    if (!read_word(word, PATH_MAX)) quit_program();
    return word;
}

// A number answer: leading digits with an optional sign; anything else reads as 0.
int number_of(const std::string& word) {
    const long v = std::strtol(word.c_str(), nullptr, 10);
    return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
}

// A build ends early, keeping the book that is there, on Ctrl-C (or a request to end from
// outside) and on "quit" or "stop" typed at the console. Commands that arrive through a
// pipe or a file wait for the build: a script sends its "quit" right after the answers.
void note_build_signal(int signal_number) { console.build_signal = signal_number; }
bool build_stopped() { return console.build_signal != 0 || (::isatty(STDIN_FILENO) && console_command() == PollAction::stop); }

constexpr int build_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Builds with the signals above caught; a signal that stopped the build is raised again
// afterwards, once the temporary files are gone, to end the program as it would have.
bool build_caught(const std::string& pgn, const std::string& book, int minimum, int limit) {
    struct sigaction caught = {}, old[std::size(build_signals)];
    caught.sa_handler = note_build_signal;
    caught.sa_flags = SA_RESTART;
    sigemptyset(&caught.sa_mask);
    console.build_signal = 0;
    for (std::size_t i = 0; i < std::size(build_signals); ++i) {  // a signal ignored stays ignored
        sigaction(build_signals[i], nullptr, &old[i]);
        if (old[i].sa_handler != SIG_IGN) sigaction(build_signals[i], &caught, nullptr);
    }
    BookBuildOptions options;
    options.game_limit = limit;
    options.progress_in_place = ::isatty(STDOUT_FILENO) != 0;
    options.stop = build_stopped;
    const bool built = build_book(pgn, book, minimum, options);
    for (std::size_t i = 0; i < std::size(build_signals); ++i) sigaction(build_signals[i], &old[i], nullptr);
    if (console.build_signal != 0) {
        std::fflush(stdout);
        std::raise(console.build_signal);
    }
    return built;
}

}  // namespace

void book_build() {
    const TableOps& tables = program().search->tables;
    const int hash_size = tables.size_mb();
    tables.release();
    const std::string pgn = build_answer("name of the pgn file               \t\t: ");
    const std::string book = build_answer("name of the book file              \t\t: ");
    const int minimum = number_of(build_answer("minimum of played moves (1-100)    \t\t: "));
    const int limit = number_of(build_answer("how many games to build (0=all)    \t\t: "));
    book_options.min_played = minimum < 1 ? 1 : (minimum > 100 ? 100 : minimum);
    bool built = false;
    if (pgn.size() >= PATH_MAX)
        std::puts("pgn file name too long!");
    else if (book_name_valid(book))
        built = build_caught(pgn, book, book_options.min_played, limit);
    tables.allocate(hash_size);
    if (built) {
        book_options.name = book;
        std::fputs("\n\nready!\n", stdout);
    }
    resume_console();
}

void console_bench() {
    console.stop_requested = false;
    for (int n = 0; n < 3 && !console.stop_requested; ++n) {
        const char* const* f = bench_positions[n];
        set_up_game(f[0], f[1], f[2], f[3]);
        show_board(game(), stdout, board_display_values());
        wait_for_key(n == 0 ? 2 : 1);
        SearchRequest request;
        request.clock.moves_left = 1;
        request.clock.time_left = 6000;
        request.clock.increment = 0;
        console_think(request);
    }
    resume_console();
}

const char* const* bench_position(int n) { return bench_positions[n]; }

}  // namespace varkon
