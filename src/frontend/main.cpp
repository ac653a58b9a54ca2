#include "frontend/main.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "book/book.h"
#include "frontend/init.h"
#include "frontend/interupt.h"
#include "frontend/utils.h"

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

void console_board() {
    BoardDisplay values = program().board_values();
    if (program().evaluation != nullptr) {
        values.show_eval = true;
        values.pos_value = evaluate(-32000, 32000);
    }
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

}  // namespace varkon
