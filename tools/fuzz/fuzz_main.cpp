// varkon_fuzz: the project's own fuzzer.
//
// It drives the built programs over pipes with random but plausible command sequences
// and checks what they answer (dialogue.h), and runs the book builder's PGN reader and
// the book probe on random and mutated files in-process (file_fuzz.h). Everything is
// drawn from one seed, so a run sends the same input again given the same seed; every
// fault is saved with what reproduces it. Exit status 1 when a fault was found.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "dialogue.h"
#include "engine.h"
#include "file_fuzz.h"
#include "oracle.h"
#include "report.h"

using namespace fuzz;

namespace fuzz {

const FaultClass fault_classes[] = {
    {"pv", "legality of the moves of \"info ... pv\" lines"},
    {"currmove", "legality of \"info currmove\" moves"},
    {"ponder", "legality of the move after \"ponder\""},
    {"partial-lines", "a line sent in two parts during a search, the search must not wait for its end"},
    {"cr-lines", "lines ended by a carriage return alone"},
    {"hash-nan", "setoption name Hash value nan"},
    {"book-devices", "a book or PGN file that is a device (/dev/zero, /dev/urandom) or a FIFO"},
    {"deep-perft", "\"go perft\" far too deep, then \"stop\""},
    {"book-keep", "a failed book build, or one without records, must keep the book that stood there"},
    {nullptr, nullptr}};

}  // namespace fuzz

namespace {

struct Options {
    std::string seed = "1";
    int seconds = 60;
    int files_share = 25;
    std::vector<std::string> engines;
    std::string out = "fuzz-out";
    std::set<std::string> skip;
    std::string replay;
};

// Programs and the protocols each speaks.
struct Target {
    std::string path;
    std::vector<std::unique_ptr<Dialogue> (*)()> dialogues;
};

std::FILE* report_out = stderr;

// The board code also runs in the fuzzer (the oracle) and can fail there first, on a
// position the program has not reached yet: the session's input is then saved on the way
// down, so that the fault still comes with its reproducer.
const Engine* session_engine = nullptr;
char last_words_path[PATH_MAX];
int report_fd = 2;

void last_words(int sig) {
    if (session_engine != nullptr) {
        const int fd = ::open(last_words_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            (void)!::write(fd, session_engine->input().data(), session_engine->input().size());
            ::close(fd);
        }
        static const char msg[] = "FAULT fuzzer crash: the board code failed inside the fuzzer; the session's input is in ";
        (void)!::write(report_fd, msg, sizeof msg - 1);
        (void)!::write(report_fd, last_words_path, std::strlen(last_words_path));
        (void)!::write(report_fd, "\n", 1);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

[[noreturn]] void usage(const char* why) {
    if (why) std::fprintf(report_out, "varkon_fuzz: %s\n", why);
    std::fprintf(report_out,
                 "usage: varkon_fuzz [--seed TEXT] [--time SECONDS] [--engine PATH]... [--files-share PERCENT]\n"
                 "                   [--out DIR] [--skip CLASS,...] [--list]\n"
                 "       varkon_fuzz --replay FAULT.in --engine PATH\n");
    std::exit(2);
}

std::string program_dir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--seed") {
            o.seed = value();
        } else if (a == "--time") {
            o.seconds = std::atoi(value().c_str());
            if (o.seconds <= 0) usage("--time needs a positive number of seconds");
        } else if (a == "--engine") {
            o.engines.push_back(value());
        } else if (a == "--files-share") {
            o.files_share = std::atoi(value().c_str());
            if (o.files_share < 0 || o.files_share > 100) usage("--files-share is a percentage");
        } else if (a == "--out") {
            o.out = value();
        } else if (a == "--skip") {
            std::stringstream list(value());
            for (std::string c; std::getline(list, c, ',');) {
                bool known = false;
                for (const FaultClass* f = fault_classes; f->name; ++f) known = known || c == f->name;
                if (!known) usage(("unknown fault class " + c + " (see --list)").c_str());
                o.skip.insert(c);
            }
        } else if (a == "--list") {
            for (const FaultClass* f = fault_classes; f->name; ++f) std::fprintf(report_out, "%-14s %s\n", f->name, f->what);
            std::exit(0);
        } else if (a == "--replay") {
            o.replay = value();
        } else {
            usage(("unknown argument " + a).c_str());
        }
    }
    if (o.engines.empty() && o.replay.empty()) o.engines = {program_dir() + "/varkon", program_dir() + "/varkon_classic"};
    return o;
}

// Sends a saved input with its recorded timing and prints what the program answers.
int replay(const Options& o) {
    if (o.engines.size() != 1) usage("--replay needs one --engine");
    std::string input, timing;
    if (!read_file(o.replay, input)) usage("cannot read the input file");
    const std::string base = o.replay.substr(0, o.replay.rfind(".in"));
    if (!read_file(base + ".timing", timing)) timing = "0 " + std::to_string(input.size()) + "\n";
    Engine e;
    e.on_line = [](const std::string& line) { std::fprintf(report_out, "%s\n", line.c_str()); };
    if (!e.start(o.engines[0], "")) usage("cannot start the program");
    const std::int64_t start = now_ms();
    std::istringstream t(timing);
    std::size_t at = 0;
    for (std::int64_t when, size; t >> when >> size && at < input.size();) {
        e.wait([] { return false; }, static_cast<int>(start + when - now_ms()));
        e.send(input.substr(at, static_cast<std::size_t>(size)));
        at += static_cast<std::size_t>(size);
    }
    const bool ended = e.wait_exit(10000);
    if (!e.errors().empty()) std::fprintf(report_out, "--- stderr:\n%s", e.errors().c_str());
    if (!ended) {
        std::fprintf(report_out, "--- still running 10 s after the input ended: killed\n");
        e.kill();
        return 1;
    }
    std::fprintf(report_out, "--- ended: %s %d\n", e.signal() ? "signal" : "status", e.signal() ? e.signal() : e.exit_code());
    return e.signal() || e.exit_code() ? 1 : 0;
}

std::vector<std::string> fens_of(const std::string& path, const char* prefix) {
    std::vector<std::string> fens;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (prefix && line.rfind(prefix, 0) != 0) continue;
        std::istringstream w(prefix ? line.substr(std::strlen(prefix)) : line);
        std::string f[4];
        if (w >> f[0] >> f[1] >> f[2] >> f[3]) fens.push_back(f[0] + " " + f[1] + " " + f[2] + " " + f[3]);
    }
    return fens;
}

// Syzygy table directories for SyzygyPath: copies of the test tables as they are, and
// beside them copies cut short, damaged, named after other material, or empty; the engine
// must leave the bad ones out with a message and play on.
void make_syzygy_dirs(FuzzContext& ctx, Rng& rng, const std::string& tables) {
    const std::string good = ctx.workdir + "/syzygy", bad = ctx.workdir + "/syzygy-bad";
    ::mkdir(good.c_str(), 0700);
    ::mkdir(bad.c_str(), 0700);
    for (const char* name : {"KQvK", "KRvK", "KPvK", "KQvKQ"}) {
        for (const char* ext : {".rtbw", ".rtbz"}) {
            std::string bytes;
            if (!read_file(tables + "/" + name + ext, bytes)) continue;
            write_file(good + "/" + name + ext, bytes);
            const int how = rng.below(4);
            std::string damaged = bytes;
            if (how == 0)
                damaged.resize(static_cast<std::size_t>(rng.below(static_cast<int>(bytes.size()))));
            else if (how == 1)
                damaged = mutate_bytes(rng, bytes, {});
            else if (how == 2)
                damaged = "";
            for (int i = 0; how == 3 && i < 8 && !damaged.empty(); ++i)   // bytes flipped in place
                damaged[static_cast<std::size_t>(rng.below(static_cast<int>(damaged.size())))] ^=
                    static_cast<char>(1 << rng.below(8));
            write_file(bad + "/" + name + ext, damaged);
        }
    }
    // Files named after material they do not hold.
    std::string bytes;
    if (read_file(tables + "/KQvK.rtbw", bytes)) write_file(bad + "/KRvKN.rtbw", bytes);
    if (read_file(tables + "/KRvKR.rtbz", bytes)) write_file(bad + "/KBvK.rtbz", bytes);
    if (read_file(tables + "/KNvK.rtbw", bytes)) write_file(bad + "/KQvKR.rtbw", bytes);
    const std::string w = ctx.workdir;
    ctx.syzygy_paths = {good, bad, good + ":" + bad, bad + ":" + good, "/nonexistent/syzygy", "", "<empty>",
                        ":::", w, w + "/tb", "/dev/null", good + "/KQvK.rtbw", std::string(300, 's'),
                        "syzygy", " " + good, good + "::/nonexistent"};
}

// The files BookName and NalimovPath may point at, made in the working directory.
void make_odd_files(FuzzContext& ctx, Rng& rng, const std::string& real_book) {
    const std::string& w = ctx.workdir;
    ::mkdir((w + "/tb").c_str(), 0700);
    write_file(w + "/empty.bin", "");
    write_file(w + "/odd.bin", junk_line(rng, 1 + 16 * rng.range(0, 40) + rng.range(1, 15)));
    std::string records;
    GameLine line;
    for (int i = 0; i < 200; ++i) {
        if (i % 10 == 0) line.moves.clear();
        load(line);
        const std::uint64_t key = position_key();
        const std::vector<std::string> moves = legal_moves();
        // Moves that are legal, moves that are not, squares off the board.
        unsigned char r[16] = {};
        for (int b = 0; b < 4; ++b) {
            r[b] = static_cast<unsigned char>(key >> (8 * b));
            r[4 + b] = static_cast<unsigned char>(key >> (32 + 8 * b));
        }
        r[8] = static_cast<unsigned char>(rng.range(1, 200));
        r[12] = static_cast<unsigned char>(rng.chance(90) ? rng.range(21, 98) : rng.below(256));
        r[13] = static_cast<unsigned char>(rng.chance(90) ? rng.range(21, 98) : rng.below(256));
        records.append(reinterpret_cast<const char*>(r), 16);
        if (!moves.empty()) line.moves.push_back(rng.pick(moves));
    }
    write_file(w + "/records.dat", records);
    // The programs' own book, where varkon_classic learns after "result": a copy, so
    // that the book beside the programs stays as it was built.
    if (!real_book.empty()) write_file(w + "/book.dat", real_book);
    ctx.book_files = {"book.dat", w + "/empty.bin", w + "/odd.bin", w + "/records.dat", w, w + "/missing/book.dat",
                      "/dev/null", w + "/my book.dat"};
    write_file(w + "/my book.dat", records.substr(0, 160));
    if (!real_book.empty()) {
        write_file(w + "/mutated.dat", mutate_bytes(rng, real_book, {}));
        ctx.book_files.push_back(w + "/mutated.dat");
    }
    ::unlink((w + "/fifo.bin").c_str());
    ::mkfifo((w + "/fifo.bin").c_str(), 0600);
    ctx.device_books = {"/dev/zero", "/dev/urandom", w + "/fifo.bin"};
}

std::string file_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// What the program's stderr says went wrong: "sanitizer", "assertion" (a consistency
// check of a debug build) or nothing.
std::string stderr_fault(const std::string& err) {
    if (err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos) return "sanitizer";
    if (err.find("check failed:") != std::string::npos) return "assertion";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    // The library prints (FEN errors, book lists): the report goes to the original stdout.
    report_fd = ::dup(1);
    report_out = ::fdopen(report_fd, "w");
    if (!report_out) report_out = stderr;
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::signal(SIGPIPE, SIG_IGN);

    const Options o = parse(argc, argv);
    if (!o.replay.empty()) return replay(o);

    init_oracle();
    const std::uint64_t seed = seed_of(o.seed);
    Rng rng(part_seed(seed, 0));
    ::mkdir(o.out.c_str(), 0700);
    char real[PATH_MAX];
    const std::string out = ::realpath(o.out.c_str(), real) ? real : o.out;
    FaultLog log(out, report_out);
    std::snprintf(last_words_path, sizeof last_words_path, "%s/fault-fuzzer-crash.in", out.c_str());
    for (int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::signal(sig, last_words);
    const std::int64_t start = now_ms();
    const std::int64_t end = start + 1000LL * o.seconds;
    const std::int64_t engines_end = start + 1000LL * o.seconds * (100 - o.files_share) / 100;

    const std::string source = VARKON_SOURCE_DIR;
    std::string real_book;
    const std::string first_engine = o.engines.front();
    read_file(first_engine.substr(0, first_engine.rfind('/') + 1) + "book.dat", real_book);

    FuzzContext ctx;
    ctx.workdir = out + "/work";
    ::mkdir(ctx.workdir.c_str(), 0700);
    ctx.skip = o.skip;
    ctx.end_ms = engines_end;
    Tally tally;
    ctx.tally = &tally;
    ctx.fens = fens_of(source + "/tests/data/tricky.perft", "epd ");
    for (const std::string& f : fens_of(source + "/tests/data/bratko-kopec.epd", nullptr)) ctx.fens.push_back(f);
    // Positions no opening reaches: promoted armies, lone kings, castling and en passant to come.
    for (const char* f : {"k7/p1P5/1p6/8/8/8/RRRRRRRR/1R2K3 w - -", "8/6kR/8/8/8/bq6/1rqqqqqq/K1nqnbrq b - -",
                          "4k2r/7r/8/8/8/8/8/B3K3 w k -", "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "k7/8/1QK5/8/8/8/8/8 w - -",
                          "4r3/2p5/8/1P1R4/1K4k1/8/8/8 w - -", "8/8/8/K2Pp2r/8/8/8/7k w - e6", "7k/8/8/8/8/8/8/K7 w - -"})
        ctx.fens.push_back(f);
    make_odd_files(ctx, rng, real_book);
    make_syzygy_dirs(ctx, rng, source + "/tests/data/syzygy");

    // Both programs speak UCI after "uci"; a program's other protocol (varkon_classic's
    // xboard) joins its list as a dialogue of its own, and sessions choose among them.
    std::vector<Target> targets;
    for (const std::string& path : o.engines) {
        targets.push_back({path, {make_uci_dialogue}});
        if (file_name(path).find("classic") != std::string::npos) targets.back().dialogues.push_back(make_xboard_dialogue);
    }

    std::fprintf(report_out, "varkon_fuzz: seed %s, %d s, programs:", o.seed.c_str(), o.seconds);
    for (const Target& t : targets) std::fprintf(report_out, " %s", t.path.c_str());
    if (!o.skip.empty()) {
        std::fprintf(report_out, "; leaving out:");
        for (const std::string& c : o.skip) std::fprintf(report_out, " %s", c.c_str());
    }
    std::fprintf(report_out, "\n");
    std::fflush(report_out);

    int sessions = 0;
    for (std::size_t next = 0; o.files_share < 100 && now_ms() < engines_end; ++next) {
        const Target& t = targets[next % targets.size()];
        Rng session_rng(part_seed(seed, 1 + next));
        const std::unique_ptr<Dialogue> d =
            t.dialogues[static_cast<std::size_t>(session_rng.below(static_cast<int>(t.dialogues.size())))]();
        Engine e;
        if (!e.start(t.path, ctx.workdir)) {
            std::fprintf(report_out, "varkon_fuzz: cannot start %s\n", t.path.c_str());
            return 2;
        }
        std::fflush(report_out);
        session_engine = &e;
        std::optional<Fault> fault = d->run(e, session_rng, ctx);
        session_engine = nullptr;
        ++sessions;
        if (e.running()) {
            e.kill();
        } else if (!e.ended()) {
            e.wait_exit(1000);
        }
        const std::string reported = stderr_fault(e.errors());
        if (!reported.empty() && (!fault || fault->kind == "crash" || fault->kind == "exit"))
            fault = Fault{reported, fault ? fault->detail : "a report on stderr"};
        if (e.exit_code() == 127 && sessions == 1) {
            std::fprintf(report_out, "varkon_fuzz: %s did not start\n", t.path.c_str());
            return 2;
        }
        if (!fault) continue;
        fault->detail += "\n--- last output:\n" + e.output_tail();
        if (!e.errors().empty()) fault->detail += "--- stderr:\n" + printable_text(e.errors(), 6000);
        log.add(file_name(t.path) + "-" + d->protocol(), *fault, {{".in", e.input()}, {".timing", e.timing()}},
                "session " + std::to_string(next + 1) + " of seed " + o.seed + ".\n"
                "  (cd " + ctx.workdir + " && " + t.path + " < <the saved .in file>)\n"
                "with the recorded timing (stops and partial lines at their moments):\n"
                "  varkon_fuzz --replay <the saved .in file> --engine " + t.path +
                "\n(run from " + ctx.workdir + ", which holds the files options point at)");
    }

    int file_cases = 0;
    FileTally file_tally;
    if (o.files_share > 0) {
        FileFuzzSetup fs;
        fs.workdir = out + "/files";
        for (const char* f : {"/tests/data/selfplay-games.pgn", "/tests/data/pgn-features.pgn",
                              "/tests/data/pgn-features-stripped.pgn", "/data/eco-openings.pgn"}) {
            std::string text;
            if (read_file(source + f, text)) fs.pgn_texts.push_back(text);
        }
        fs.real_book = real_book;
        fs.varkon = o.engines.front();
        fs.skip = o.skip;
        // Their share of the budget even when a slow session ran over its own.
        fs.end_ms = std::max(end, now_ms() + (end - start) * o.files_share / 100);
        fs.seed = part_seed(seed, 1ULL << 32);
        fs.tally = &file_tally;
        file_cases = fuzz_files(fs, log);
    }

    std::fprintf(report_out,
                 "varkon_fuzz: %d program sessions (%ld lines, %ld searches, %ld in known positions, %ld moves and %ld "
                 "perft counts judged), %d file cases (%ld books of %ld records built, %ld book moves probed) in %.0f s: "
                 "%d fault%s%s%s\n",
                 sessions, tally.lines, tally.searches, tally.judged, tally.moves, tally.perfts, file_cases, file_tally.books,
                 file_tally.records, file_tally.moves, (now_ms() - start) / 1000.0, log.count(), log.count() == 1 ? "" : "s",
                 log.count() ? ", saved in " : "", log.count() ? out.c_str() : "");
    return log.count() ? 1 : 0;
}
