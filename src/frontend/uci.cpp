#include "frontend/uci.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "core/input.h"
#include "frontend/init.h"
#include "frontend/interupt.h"
#include "frontend/main.h"
#include "frontend/utils.h"

namespace varkon {

namespace {

using Tokens = std::vector<std::string>;

Tokens split(const std::string& line) {
    Tokens tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\0')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\0') ++i;
        if (i > start) tokens.emplace_back(line, start, i - start);
    }
    return tokens;
}

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
    for (; i < t.size(); ++i)
        if (t[i] == "perft" && i + 1 < t.size()) {
            perft_divide(std::atoi(t[i + 1].c_str()));
            return;
        }
}

}  // namespace

void uci_identify() {
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
            std::printf("readyok\n");
        } else if (w == "uci") {
            uci_identify();
        } else if (w == "position") {
            uci_position(t, i + 1);
        } else if (w == "go") {
            uci_go(t, i + 1);
        } else if (w == "board") {
            console_board();
        } else {
            continue;
        }
        return true;
    }
    return false;
}

void uci_loop() {
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

}  // namespace varkon
