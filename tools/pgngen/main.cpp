// varkon_pgngen: writes a collection of random but plausible games as PGN.
//
//   varkon_pgngen GAMES [SEED] [FILE]
//
// GAMES games (a number, "1000000" or "1e6"), drawn with SEED (default 1), to FILE or to
// standard output. The same GAMES and SEED always give the same file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "game_generator.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s GAMES [SEED] [FILE]\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const double games = std::strtod(argv[1], &end);
    const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    if (*end != '\0' || games < 0 || games > 1e12) {
        std::fprintf(stderr, "%s: GAMES must be a number of games\n", argv[0]);
        return 2;
    }
    std::FILE* out = argc > 3 ? std::fopen(argv[3], "wb") : stdout;
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    const bool written = pgngen::write_games(out, static_cast<long long>(games), seed);
    if ((out != stdout && std::fclose(out) != 0) || !written) {
        std::fprintf(stderr, "%s: write error\n", argv[0]);
        return 1;
    }
    return 0;
}
