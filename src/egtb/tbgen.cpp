#include "egtb/tbgen.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <thread>
#include <vector>

#include "egtb/tbfiles.h"
#include "egtb/tbindex.h"
#include "egtb/tbprogress.h"
#include "egtb/tbsolve.h"

namespace varkon {

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int worker_count(int asked) {
    if (asked > 0) return asked;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

// The signatures a capture or a promotion in table t leads to.
std::vector<int> dependencies(int t) {
    std::vector<int> out;
    const std::string name = tb_name(t);
    const std::size_t k2 = name.find('k', 1);
    int counts[2][6] = {};
    auto type_of = [](char c) { return c == 'p' ? 1 : c == 'n' ? 2 : c == 'b' ? 3 : c == 'r' ? 4 : 5; };
    for (std::size_t i = 1; i < name.size(); ++i)
        if (i != k2) ++counts[i < k2 ? 0 : 1][type_of(name[i])];
    auto add = [&](int c[2][6]) {
        const int found = tb_material(c);
        const int u = found < 0 ? -found : found;
        if (u != 0 && std::find(out.begin(), out.end(), u) == out.end()) out.push_back(u);
    };
    // A capture takes a piece of either side; a promotion turns a pawn into a piece, and
    // may take a piece of the other side at the same time.
    for (int c = 0; c < 2; ++c)
        for (int type = 1; type <= 5; ++type) {
            if (counts[c][type] == 0) continue;
            --counts[c][type];
            add(counts);
            ++counts[c][type];
        }
    for (int c = 0; c < 2; ++c) {
        if (counts[c][1] == 0) continue;
        --counts[c][1];
        for (int p = 2; p <= 5; ++p) {
            ++counts[c][p];
            add(counts);
            for (int taken = 2; taken <= 5; ++taken) {
                if (counts[1 - c][taken] == 0) continue;
                --counts[1 - c][taken];
                add(counts);
                ++counts[1 - c][taken];
            }
            --counts[c][p];
        }
        ++counts[c][1];
    }
    return out;
}

// Appends t to `order` after the tables it depends on, those for which `wanted` holds.
template <class Wanted>
void add_in_order(int t, Wanted&& wanted, std::vector<int>& order, std::vector<char>& seen) {
    if (seen[static_cast<std::size_t>(t)]) return;
    seen[static_cast<std::size_t>(t)] = 1;
    if (!wanted(t)) return;
    for (int u : dependencies(t)) add_in_order(u, wanted, order, seen);
    order.push_back(t);
}

std::string megabytes(std::uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f MB", static_cast<double>(bytes) / (1 << 20));
    return buf;
}

// Whether the machine has the memory for the largest table of `plan`; says so when not.
bool memory_suffices(const std::vector<int>& plan, const TbGenOptions& options) {
    int largest = 0;
    std::uint64_t need = 0;
    for (int t : plan)
        if (tb_solve_memory(t) > need) need = tb_solve_memory(t), largest = t;
    if (largest == 0) return true;
    const std::uint64_t have = options.memory ? options.memory : tbgen_memory_available();
    if (have == 0 || need <= have) return true;
    std::fprintf(stderr, "*** %s needs %s of memory to generate, but only %s %s: nothing done\n", tb_name(largest),
                 megabytes(need).c_str(), megabytes(have).c_str(),
                 options.memory ? "are allowed" : "are available");
    return false;
}

// Makes table t from the tables it depends on, which must be in the directory.
bool make_one(const std::string& dir, int t, const TbGenOptions& options, TbGenStats& stats) {
    const std::string name = tb_name(t);
    TbTableStore store(dir);
    TbSubTables subs;
    for (int u : dependencies(t)) {
        if (!store.load(u)) {
            std::fprintf(stderr, "*** %s needs the table %s, which cannot be read in %s\n", name.c_str(), tb_name(u), dir.c_str());
            return false;
        }
        for (int side = 0; side < 2; ++side) subs.side[u][side] = store.get(u, side);
    }
    const std::uint64_t positions = static_cast<std::uint64_t>(tb_count(t, 0)) + tb_count(t, 1);
    std::FILE* log = options.log;
    if (log) {
        std::fprintf(log, "%s: %" PRIu64 " positions, %s of memory\n", name.c_str(), positions,
                     megabytes(tb_solve_memory(t)).c_str());
        std::fflush(log);
    }
    TbProgress progress(log, log != nullptr && isatty(fileno(log)), name, positions);
    TbSolveOptions solve;
    solve.threads = worker_count(options.threads);
    solve.stop = options.stop;
    solve.progress = &progress;
    std::vector<std::int8_t> bytes[2];
    const bool stopped_before = !tb_solve(t, subs, solve, bytes);
    std::remove(tb_sidecar_name(dir, t).c_str());
    for (int side = 0; side < 2 && !stopped_before; ++side) {
        const std::string file = tb_file_name(dir, t, side);
        if (!tb_write_file(file, bytes[side].data(), bytes[side].size(), options.stop)) {
            if (!(options.stop && options.stop->load())) std::fprintf(stderr, "*** cannot write %s\n", file.c_str());
            progress.finish("stopped");
            return false;
        }
    }
    if (stopped_before) {
        progress.finish("stopped");
        return false;
    }
    if (!tb_write_sidecar(dir, t)) std::fprintf(stderr, "*** cannot write %s\n", tb_sidecar_name(dir, t).c_str());
    ++stats.tables_made;
    stats.positions += positions;
    progress.finish("written");
    return true;
}

void add_stats(TbGenStats* to, const TbGenStats& from) {
    if (to == nullptr) return;
    to->tables_made += from.tables_made;
    to->tables_kept += from.tables_kept;
    to->positions += from.positions;
    to->seconds += from.seconds;
}

bool make_plan(const std::string& dir, const std::vector<int>& plan, const TbGenOptions& options, TbGenStats& stats) {
    for (int t : plan)
        if (!make_one(dir, t, options, stats)) return false;
    return true;
}

}  // namespace

std::uint64_t tbgen_memory_available() {
    if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kb = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
        std::fclose(f);
        if (found) return static_cast<std::uint64_t>(kb) * 1024;
    }
    struct sysinfo info;
    if (sysinfo(&info) == 0) return (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
    return 0;
}

std::uint64_t tbgen_memory_needed(const std::string& name) {
    tb_init_index();
    const int t = tb_number(name);
    return t == 0 ? 0 : tb_solve_memory(t);
}

bool tbgen_make(const std::string& dir, const std::string& name, const TbGenOptions& options, TbGenStats* stats) {
    tb_init_index();
    const int t = tb_number(name);
    if (t == 0) {
        std::fprintf(stderr, "*** %s is not a tablebase signature\n", name.c_str());
        return false;
    }
    std::vector<int> plan;
    std::vector<char> seen(TB_TABLES + 1, 0);
    add_in_order(t, [&](int u) { return !tb_files_present(dir, u) || tb_check_sidecar(dir, u) == TbSidecar::DIFFERS; },
                 plan, seen);
    if (!memory_suffices(plan, options)) return false;
    TbGenStats local;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = make_plan(dir, plan, options, local);
    local.seconds = seconds_since(start);
    add_stats(stats, local);
    return ok;
}

bool tbgen_make(const std::string& dir, const std::string& name, std::FILE* log, TbGenStats* stats) {
    TbGenOptions options;
    options.log = log;
    return tbgen_make(dir, name, options, stats);
}

bool tbgen_make_all(const std::string& dir, int pieces, const TbGenOptions& options, TbGenStats* stats) {
    tb_init_index();
    if (pieces < 3 || pieces > 5) {
        std::fprintf(stderr, "*** tables have 3, 4 or 5 pieces, not %d\n", pieces);
        return false;
    }
    std::vector<int> order;
    std::vector<char> seen(TB_TABLES + 1, 0);
    for (int t = 1; t <= TB_TABLES; ++t)
        if (tb_piece_count(t) <= pieces) add_in_order(t, [](int) { return true; }, order, seen);
    // The memory is weighed before any work, for the tables without a record of being done.
    std::vector<int> unfinished;
    for (int t : order)
        if (!tb_files_present(dir, t) || access(tb_sidecar_name(dir, t).c_str(), F_OK) != 0) unfinished.push_back(t);
    if (!memory_suffices(unfinished, options)) return false;
    TbGenStats local;
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (int t : order) {
        if (options.stop && options.stop->load()) {
            ok = false;
            break;
        }
        if (tb_files_present(dir, t)) {
            const TbSidecar sidecar = tb_check_sidecar(dir, t);
            bool sound = sidecar == TbSidecar::MATCHES;
            if (sidecar == TbSidecar::MISSING) {
                // Files made elsewhere or before records were kept: checked position by position.
                sound = tbgen_verify(dir, tb_name(t), options.log, options.threads) == 0;
                if (sound) tb_write_sidecar(dir, t);
            }
            if (sound) {
                ++local.tables_kept;
                if (options.log) std::fprintf(options.log, "%s: finished before, checked\n", tb_name(t));
                continue;
            }
            if (options.log) std::fprintf(options.log, "%s: files do not check out, made again\n", tb_name(t));
        }
        if (!make_one(dir, t, options, local)) {
            ok = false;
            break;
        }
    }
    local.seconds = seconds_since(start);
    add_stats(stats, local);
    return ok;
}

long long tbgen_verify(const std::string& dir, const std::string& name, std::FILE* log, int threads) {
    tb_init_index();
    const int t = tb_number(name);
    if (t == 0) return -1;
    TbTableStore store(dir);
    if (!store.load(t)) return -1;
    TbSubTables subs;
    for (int u : dependencies(t)) {
        if (!store.load(u)) return -1;
        for (int side = 0; side < 2; ++side) subs.side[u][side] = store.get(u, side);
    }
    const std::int8_t* own[2] = {store.get(t, 0), store.get(t, 1)};
    return tb_check(t, own, subs, worker_count(threads), log);
}

}  // namespace varkon
