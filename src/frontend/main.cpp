#include "frontend/main.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "book/book.h"
#include "frontend/init.h"
#include "frontend/interupt.h"
#include "frontend/utils.h"
#include "search/search.h"

namespace varkon {

void quit_program() {
    if (program().free_tables != nullptr) program().free_tables();
    std::fflush(stdout);
    std::exit(0);
}

void console_loop() {
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

namespace {

// The values beside the board, with the evaluation when the program has one.
BoardDisplay display_values() {
    BoardDisplay values = program().board_values();
    if (program().evaluation != nullptr) {
        values.show_eval = true;
        values.pos_value = evaluate(-32000, 32000);
    }
    return values;
}

}  // namespace

void console_board() {
    const BoardDisplay values = display_values();
    show_board(stdout, values);
    if (values.show_eval) std::printf("pos_value : %d\n", values.pos_value);
}

void console_bookon() {
    book_on = 1;
    std::puts("book is on");
}

void console_bookoff() {
    book_on = 0;
    std::puts("book is off");
}

void console_perft() {
    std::fputs("depth: ", stdout);
    std::string word;
    if (!read_word(word)) quit_program();
    const int depth = std::atoi(word.c_str());
    const std::uint32_t start = now_cs();
    new_game();
    const std::uint64_t nodes = perft(depth);
    std::uint32_t elapsed = now_cs() - start;
    if (elapsed < 1) elapsed = 1;
    const float seconds = static_cast<float>(elapsed) / 100.0f;
    const auto speed = static_cast<long long>(static_cast<double>(nodes) / seconds);
    std::printf("\nKnoten    = %12llu \nTime      = %12.2f\nnodes/s   = %12lld \n\n",
                static_cast<unsigned long long>(nodes), static_cast<double>(seconds), speed);
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

}  // namespace

void book_build() {
    const Program& p = program();
    if (p.free_tables) p.free_tables();
    const std::string pgn = build_answer("name of the pgn file               \t\t: ");
    const std::string book = build_answer("name of the book file              \t\t: ");
    const int minimum = number_of(build_answer("minimum of played moves (1-100)    \t\t: "));
    const int limit = number_of(build_answer("how many games to build (0=all)    \t\t: "));
    min_played = minimum < 1 ? 1 : (minimum > 100 ? 100 : minimum);
    bool built = false;
    if (pgn.size() >= PATH_MAX)
        std::puts("pgn file name too long!");
    else if (book_name_valid(book))
        built = build_book(pgn, book, min_played, limit);
    if (p.allocate_tables) p.allocate_tables();
    if (!built) return;
    book_name = book;
    std::fputs("\n\nready!\n", stdout);
}

void console_bench() {
    for (int n = 0; n < 3; ++n) {
        const char* const* f = bench_positions[n];
        setup_fen(f[0], f[1], f[2], f[3]);
        show_board(stdout, display_values());
        wait_for_key(n == 0 ? 2 : 1);
        moves_left = 1;
        time_left = 6000;
        increment = 0;
        limits = SearchLimits{};
        think();
    }
}

}  // namespace varkon
