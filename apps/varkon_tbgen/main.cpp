// varkon_tbgen: makes the engine's endgame tablebase files.
//
//   varkon_tbgen [--verify] DIR [signature ...]
//
// Writes the .nbw and .nbb files of each signature (all 35 three- and four-piece ones
// when none is named) into DIR, first making the tables they depend on that DIR lacks.
// With --verify, each named table is then checked against its positions' successors.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "egtb/tbgen.h"
#include "egtb/tbindex.h"

int main(int argc, char** argv) {
    using namespace varkon;
    bool verify = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verify") == 0) verify = true;
        else args.emplace_back(argv[i]);
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: varkon_tbgen [--verify] DIR [signature ...]\n");
        return 2;
    }
    const std::string dir = args[0];
    tb_init_index();
    std::vector<std::string> names(args.begin() + 1, args.end());
    if (names.empty())
        for (int t = 1; t <= 35; ++t) names.emplace_back(tb_name(t));
    const auto start = std::chrono::steady_clock::now();
    TbGenStats stats;
    for (const std::string& name : names)
        if (!tbgen_make(dir, name, stdout, &stats)) return 1;
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d tables made, %llu positions, in %.1f s\n", stats.tables_made,
                static_cast<unsigned long long>(stats.positions), t);
    if (!verify) return 0;
    int status = 0;
    for (const std::string& name : names) {
        const auto vstart = std::chrono::steady_clock::now();
        const long long wrong = tbgen_verify(dir, name, stdout);
        const double vt = std::chrono::duration<double>(std::chrono::steady_clock::now() - vstart).count();
        if (wrong == 0) std::printf("%s verified in %.1f s\n", name.c_str(), vt);
        else std::printf("%s: %lld wrong entries\n", name.c_str(), wrong), status = 1;
    }
    return status;
}
