// varkon_tbgen: makes the engine's endgame tablebase files.
//
//   varkon_tbgen [-j N] [--verify] DIR [signature ...]
//   varkon_tbgen [-j N] DIR --all PIECES
//
// Writes the .nbw and .nbb files of each signature (all 35 three- and four-piece ones
// when none is named) into DIR, first making the tables they depend on that DIR lacks.
// With --all, every table of up to PIECES pieces, keeping those finished before. -j sets
// the number of threads (default: one per core). With --verify, each named table is then
// checked against its positions' successors. Ctrl-C stops the work and leaves no
// partial file. DIR is made, with its parents, when it does not exist.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "egtb/tbgen.h"
#include "egtb/tbindex.h"

namespace {

std::atomic<bool> stop_requested{false};

extern "C" void on_signal(int) { stop_requested.store(true); }

void usage() {
    std::fprintf(stderr,
                 "usage: varkon_tbgen [-j N] [--verify] DIR [signature ...]\n"
                 "       varkon_tbgen [-j N] DIR --all PIECES\n");
}

bool number_argument(const char* text, int low, int high, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace varkon;
    bool verify = false;
    int all = 0;
    TbGenOptions options;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--verify") == 0) {
            verify = true;
        } else if (std::strcmp(argv[i], "-j") == 0) {
            if (!has_value || !number_argument(argv[++i], 1, 1024, &options.threads)) return usage(), 2;
        } else if (std::strncmp(argv[i], "-j", 2) == 0 && argv[i][2] != '\0') {
            if (!number_argument(argv[i] + 2, 1, 1024, &options.threads)) return usage(), 2;
        } else if (std::strcmp(argv[i], "--all") == 0) {
            if (!has_value || !number_argument(argv[++i], 3, 5, &all)) return usage(), 2;
        } else {
            args.emplace_back(argv[i]);
        }
    }
    if (args.empty() || (all != 0 && args.size() > 1)) {
        usage();
        return 2;
    }
    // The first Ctrl-C asks the generator to stop cleanly, a second one ends the program.
    struct sigaction action {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    options.stop = &stop_requested;
    options.log = stdout;

    const std::string dir = args[0];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "*** cannot make the directory %s: %s\n", dir.c_str(), error.message().c_str());
        return 1;
    }
    tb_init_index();
    std::vector<std::string> names(args.begin() + 1, args.end());
    if (names.empty() && all == 0)
        for (int t = 1; t <= 35; ++t) names.emplace_back(tb_name(t));
    const auto start = std::chrono::steady_clock::now();
    TbGenStats stats;
    bool ok = true;
    if (all != 0) {
        ok = tbgen_make_all(dir, all, options, &stats);
    } else {
        for (const std::string& name : names)
            if (!(ok = tbgen_make(dir, name, options, &stats))) break;
    }
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d tables made", stats.tables_made);
    if (all != 0) std::printf(", %d kept from before", stats.tables_kept);
    std::printf(", %llu positions, in %.1f s\n", static_cast<unsigned long long>(stats.positions), t);
    if (stop_requested.load()) {
        std::printf("stopped: the tables not finished are not there; run again to go on\n");
        return 130;
    }
    if (!ok) return 1;
    if (!verify) return 0;
    int status = 0;
    for (const std::string& name : names) {
        const auto vstart = std::chrono::steady_clock::now();
        const long long wrong = tbgen_verify(dir, name, stdout, options.threads);
        const double vt = std::chrono::duration<double>(std::chrono::steady_clock::now() - vstart).count();
        if (wrong == 0) std::printf("%s verified in %.1f s\n", name.c_str(), vt);
        else std::printf("%s: %lld wrong entries\n", name.c_str(), wrong), status = 1;
    }
    return status;
}
