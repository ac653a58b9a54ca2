#include "file_fuzz.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "book/book.h"
#include "core/precalc.h"
#include "engine.h"
#include "oracle.h"

namespace fuzz {

namespace {

constexpr int BATCH = 16;
constexpr int CASE_TIMEOUT_MS = 10000;

struct Probe {
    std::uint64_t key;
    bool reachable;                  // the key of a position a game reaches by `line`
    std::vector<std::string> line;   // moves from the start position
    int style;
};

struct Case {
    bool build = false;       // a book build from PGN, else book probes
    std::string bytes;        // the PGN text or the book file
    std::string path;         // what the library is given: the case's file, or a device or directory
    bool regular = true;      // `path` is the case's own file holding `bytes`
    int min_count = 1, game_limit = 0;
    bool old_book = false;    // a book stands where the build writes
    std::string old_bytes;
    std::vector<Probe> probes;
};

std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::vector<std::string> directory_entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

void remove_tree(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& n : directory_entries(path)) remove_tree(path + "/" + n);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

// ---- making cases (in the fuzzer) ------------------------------------------------------------

const std::vector<std::string>& pgn_tokens() {
    static const std::vector<std::string> t = {
        "{", "}", "(", ")", ";", "%", "$", "$255", "1.", "1...", "12...", "O-O", "O-O-O", "0-0", "o-o",
        "e8=Q", "exd6", "+", "#", "!!", "?", "!?", "[", "]", "\"", "\r", "\r\n", "\n", "\xEF\xBB\xBF",
        std::string(1, '\0'), "*", "1-0", "0-1", "1/2-1/2", "Nbd7", "Qxf7#", "P", "Pe4", "e2e4", "e7e8q",
        "[FEN \"8/8/8/8/8/8/8/K6k w - - 0 1\"]", "[SetUp \"1\"]", "\n\n[Event \"x\"]\n", "\xff\xfe", "\t"};
    return t;
}

std::string pgn_case(Rng& rng, const std::vector<std::string>& sources) {
    const int kind = rng.below(100);
    if (kind < 5) {
        static const std::vector<std::string> bare = {"", "\xEF\xBB\xBF", "[Event \"x\"]\n[Site \"y\"]\n", "\n\n\n", "*"};
        return rng.pick(bare);
    }
    if (kind < 12 || sources.empty()) return junk_line(rng, rng.range(1, 4000));
    const std::string& src = rng.pick(sources);
    std::size_t at = static_cast<std::size_t>(rng.below(static_cast<int>(src.size())));
    if (rng.chance(80)) {  // from the start of a game
        const std::size_t game = src.rfind("[Event", at);
        at = game == std::string::npos ? 0 : game;
    }
    std::string text = src.substr(at, static_cast<std::size_t>(rng.chance(90) ? rng.range(1, 16000) : rng.range(16000, 100000)));
    if (kind < 30) return text;   // real games, cut anywhere
    if (kind < 35) return std::string(static_cast<std::size_t>(rng.range(1, 20000)), "({[;"[rng.below(4)]) + text;  // deep nesting
    return mutate_bytes(rng, text, pgn_tokens());
}

std::string record(std::uint64_t key, std::int32_t weight, int from, int to) {
    unsigned char r[16] = {};
    for (int i = 0; i < 4; ++i) {
        r[i] = static_cast<unsigned char>(key >> (8 * i));
        r[4 + i] = static_cast<unsigned char>(key >> (32 + 8 * i));
        r[8 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(weight) >> (8 * i));
    }
    r[12] = static_cast<unsigned char>(from);
    r[13] = static_cast<unsigned char>(to);
    return std::string(reinterpret_cast<const char*>(r), 16);
}

// Keys of positions a game reaches from the start, with the moves that reach them.
std::vector<Probe> reachable_keys(Rng& rng, int n) {
    std::vector<Probe> keys;
    GameLine line;
    load(line);
    keys.push_back({position_key(), true, {}, 1});
    for (int k = 1; k < n; ++k) {
        if (line.moves.size() > 12 || rng.chance(20)) line.moves.clear();
        load(line);
        const std::vector<std::string> moves = legal_moves();
        if (moves.empty()) {
            line.moves.clear();
            continue;
        }
        line.moves.push_back(rng.pick(moves));
        load(line);
        keys.push_back({position_key(), true, line.moves, 1});
    }
    return keys;
}

std::string book_case(Rng& rng, const std::string& real_book, const std::vector<Probe>& keys) {
    const int kind = rng.below(100);
    if (kind < 30 && !real_book.empty()) return mutate_bytes(rng, real_book, {record(keys[0].key, 1, 35, 55)});
    if (kind < 40) return junk_line(rng, rng.range(0, 600));
    std::string bytes;
    const int n = rng.range(0, 200);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t key = rng.chance(80) ? rng.pick(keys).key : rng.next();
        const int from = rng.chance(80) ? rng.range(21, 98) : rng.below(256);
        const int to = rng.chance(80) ? rng.range(21, 98) : rng.below(256);
        const std::int32_t weight = rng.chance(90) ? rng.range(0, 1000) : static_cast<std::int32_t>(rng.next());
        bytes += record(key, weight, from, to);
    }
    if (rng.chance(20)) bytes += junk_line(rng, rng.range(1, 15));   // a cut record at the end
    return bytes;
}

Case make_case(Rng& rng, const FileFuzzSetup& s, const std::vector<Probe>& keys, const std::string& dir, int index) {
    Case c;
    c.build = rng.chance(60);
    c.path = dir + "/case-" + std::to_string(index) + (c.build ? ".pgn" : ".bin");
    c.bytes = c.build ? pgn_case(rng, s.pgn_texts) : book_case(rng, s.real_book, keys);
    const int odd = rng.below(100);
    if (odd < 3) {
        c.path = dir, c.regular = false;                    // a directory
    } else if (odd < 5) {
        c.path = "/dev/null", c.regular = false;
    } else if (odd < 7) {
        c.path = dir + "/missing", c.regular = false;
    } else if (odd < 9 && !s.skip.count("book-devices")) {
        c.path = rng.chance(50) ? "/dev/zero" : "/dev/urandom", c.regular = false;
    }
    if (c.build) {
        c.min_count = rng.range(1, 4);
        c.game_limit = rng.chance(80) ? 0 : rng.range(1, 20);
        c.old_book = rng.chance(40);
        if (c.old_book) c.old_bytes = record(keys[0].key, 5, 35, 55) + record(keys[0].key, 3, 34, 54);
    } else {
        const int n = rng.range(1, 6);
        for (int i = 0; i < n; ++i) {
            Probe p = rng.chance(85) ? rng.pick(keys) : Probe{rng.next(), false, {}, 1};
            p.style = rng.chance(90) ? rng.range(1, 3) : rng.range(-1, 5);
            c.probes.push_back(p);
        }
    }
    return c;
}

// ---- running cases (in the child) --------------------------------------------------------------

// What the cases of a batch got to: books written, their records, probes that chose a move.
long books_written = 0, records_written = 0, moves_chosen = 0;

// A fault found by a check: the message the child sends.
void report(int fd, int index, const std::string& kind, std::string detail) {
    for (char& ch : detail)
        if (ch == '\n') ch = ' ';
    const std::string msg = "F " + std::to_string(index) + " " + kind + " " + detail + "\n";
    (void)!::write(fd, msg.data(), msg.size());
}

void run_build(const Case& c, int index, const std::string& dir, int fd, const std::set<std::string>& skip) {
    const std::string book_dir = dir + "/build-" + std::to_string(index);
    ::mkdir(book_dir.c_str(), 0700);
    const std::string book = book_dir + "/book.dat";
    if (c.old_book) write_file(book, c.old_bytes);
    varkon::BookBuildCounts counts;
    const bool ok = varkon::build_book(c.path, book, c.min_count, c.game_limit, &counts);
    std::string out;
    const bool exists = read_file(book, out);
    for (const std::string& name : directory_entries(book_dir))
        if (name != "book.dat") report(fd, index, "temp-files", "the build left \"" + name + "\" beside the book");
    if (ok) {
        ++books_written;
        records_written += static_cast<long>(out.size() / 16);
        if (!exists || out.size() % 16 != 0) {
            report(fd, index, "book-file", "the build succeeded but the book is missing or not whole records");
            return;
        }
        if (static_cast<int>(out.size() / 16) != counts.book_moves)
            report(fd, index, "book-file", "the build counted " + std::to_string(counts.book_moves) + " records but wrote " +
                                               std::to_string(out.size() / 16));
        for (std::size_t at = 0; at + 16 <= out.size(); at += 16) {
            const auto* r = reinterpret_cast<const unsigned char*>(out.data() + at);
            const auto weight = static_cast<std::int32_t>(get32(r + 8));
            if (!varkon::is_playing_square(r[12]) || !varkon::is_playing_square(r[13]) || weight < c.min_count) {
                report(fd, index, "book-file", "record " + std::to_string(at / 16) + " has squares " + std::to_string(r[12]) +
                                                   "," + std::to_string(r[13]) + " and count " + std::to_string(weight));
                break;
            }
        }
    }
    if (c.old_book && !skip.count("book-keep") && (!exists || (out.empty() && !c.old_bytes.empty()) || (!ok && out != c.old_bytes)))
        report(fd, index, "book-lost", std::string("a ") + (ok ? "build without records" : "failed build") +
                                           " replaced or damaged the book that stood there");
    remove_tree(book_dir);
}

void run_probes(const Case& c, int index, int fd) {
    for (const Probe& p : c.probes) {
        varkon::book_options.name = c.path;
        varkon::book_options.style = p.style;
        const varkon::BookMove m = varkon::book_probe(static_cast<std::uint32_t>(p.key), static_cast<std::uint32_t>(p.key >> 32));
        if (!c.regular) continue;
        // The moves of the key as the file holds them: the first 21 with squares on the board.
        struct Cand {
            int from, to;
            std::int32_t weight;
        };
        std::vector<Cand> cand;
        for (std::size_t at = 0; at + 16 <= c.bytes.size() && cand.size() < varkon::MAX_BOOK_CANDIDATES; at += 16) {
            const auto* r = reinterpret_cast<const unsigned char*>(c.bytes.data() + at);
            if (get32(r) != static_cast<std::uint32_t>(p.key) || get32(r + 4) != static_cast<std::uint32_t>(p.key >> 32)) continue;
            if (varkon::is_playing_square(r[12]) && varkon::is_playing_square(r[13]))
                cand.push_back({r[12], r[13], static_cast<std::int32_t>(get32(r + 8))});
        }
        const std::string where = "key " + std::to_string(p.key) + " style " + std::to_string(p.style);
        if (varkon::book_state.entries != static_cast<int>(c.bytes.size() / 16))
            report(fd, index, "book-probe", "counted " + std::to_string(varkon::book_state.entries) + " records of " +
                                                std::to_string(c.bytes.size() / 16) + ", " + where);
        if (m.from == 0) {
            if (!cand.empty() && p.style >= 1 && p.style <= 3)
                report(fd, index, "book-probe", "no move chosen among " + std::to_string(cand.size()) + ", " + where);
            continue;
        }
        ++moves_chosen;
        std::vector<std::int32_t> weights;
        bool found = false;
        std::int32_t chosen = 0;
        // A damaged book may hold one move in several records: the engine chose one of them,
        // so the move counts with the heaviest.
        for (const Cand& k : cand) {
            weights.push_back(k.weight);
            if (k.from == m.from && k.to == m.to) chosen = found ? std::max(chosen, k.weight) : k.weight, found = true;
        }
        std::sort(weights.rbegin(), weights.rend());
        if (!found || p.style < 1 || p.style > 3)
            report(fd, index, "book-probe", "chose " + std::to_string(m.from) + "-" + std::to_string(m.to) +
                                                ", not one of the file's moves, " + where);
        else if ((p.style == 1 && chosen < weights[0]) || (p.style == 2 && weights.size() > 1 && chosen < weights[1]))
            report(fd, index, "book-probe", "chose a move played " + std::to_string(chosen) + " times over one played " +
                                                std::to_string(weights[0]) + " times, " + where);
    }
}

[[noreturn]] void run_batch(const std::vector<Case>& cases, const std::string& dir, int fd, const std::set<std::string>& skip) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string msg = "C " + std::to_string(i) + "\n";
        (void)!::write(fd, msg.data(), msg.size());
        if (cases[i].regular) write_file(cases[i].path, cases[i].bytes);
        if (cases[i].build)
            run_build(cases[i], static_cast<int>(i), dir, fd, skip);
        else
            run_probes(cases[i], static_cast<int>(i), fd);
    }
    const std::string tally = "S " + std::to_string(books_written) + " " + std::to_string(records_written) + " " +
                              std::to_string(moves_chosen) + "\nE\n";
    (void)!::write(fd, tally.data(), tally.size());
    ::_exit(0);
}

// ---- reporting -------------------------------------------------------------------------------

// A shell command that prints `text`: printf 'uci\nquit\n'.
std::string printf_command(const std::string& text) {
    std::string q = "printf '";
    for (char c : text) q += c == '\n' ? std::string("\\n") : c == '\'' ? std::string("'\\''") : c == '%' ? std::string("%%") : std::string(1, c);
    return q + "'";
}

void log_fault(FaultLog& log, const Case& c, const FileFuzzSetup& s, const Fault& f) {
    std::vector<std::pair<std::string, std::string>> files;
    std::string how;
    const std::string input = c.regular ? "<the saved ." + std::string(c.build ? "pgn" : "bin") + " file>" : c.path;
    if (c.regular) files.emplace_back(c.build ? ".pgn" : ".bin", c.bytes);
    if (c.build) {
        if (c.old_book) files.emplace_back(".old-book.dat", c.old_bytes);
        how = "In-process: build_book(" + input + ", <dir>/book.dat, min_count " + std::to_string(c.min_count) +
              ", game_limit " + std::to_string(c.game_limit) + ")" + (c.old_book ? " over the saved .old-book.dat" : "") +
              ".\nThrough the console (in a directory holding the input as case.pgn" +
              (c.old_book ? " and the old book as book.dat" : "") + "):\n  printf 'build\\ncase.pgn\\nbook.dat\\n" +
              std::to_string(c.min_count) + "\\n" + std::to_string(c.game_limit) + "\\nquit\\n' | " + s.varkon;
    } else {
        how = "In-process: book_name = " + input + "; then book_probe for each of:\n";
        for (const Probe& p : c.probes) {
            how += "  key " + std::to_string(p.key) + ", book_style " + std::to_string(p.style);
            if (p.reachable && p.style >= 1 && p.style <= 3) {
                std::string moves;
                for (const std::string& m : p.line) moves += " " + m;
                how += "; through UCI: " + printf_command("uci\nsetoption name BookName value " + (c.regular ? "case.bin" : c.path) +
                                                       "\nsetoption name BookStyle value " +
                                                       (p.style == 2 ? "Normal" : p.style == 3 ? "Risky" : "Best") +
                                                       "\nposition startpos" + (moves.empty() ? "" : " moves" + moves) +
                                                       "\ngo depth 1\nquit\n") + " | " + s.varkon;
            }
            how += "\n";
        }
    }
    log.add(c.build ? "pgn" : "book", f, files, how);
}

std::string stderr_kind(const std::string& err) {
    if (err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos) return "sanitizer";
    return err.find("check failed:") != std::string::npos ? "assertion" : "";
}

}  // namespace

int fuzz_files(const FileFuzzSetup& s, FaultLog& log) {
    ::mkdir(s.workdir.c_str(), 0700);
    Rng key_rng(part_seed(s.seed, 0));
    const std::vector<Probe> keys = reachable_keys(key_rng, 40);
    int done = 0;
    for (std::uint64_t batch = 1; now_ms() < s.end_ms; ++batch) {
        Rng rng(part_seed(s.seed, batch));
        const std::string dir = s.workdir + "/batch";
        remove_tree(dir);
        ::mkdir(dir.c_str(), 0700);
        std::vector<Case> cases;
        for (int i = 0; i < BATCH; ++i) cases.push_back(make_case(rng, s, keys, dir, i));
        const std::string err_path = dir + "/stderr.txt";
        int pipe_fd[2];
        if (::pipe(pipe_fd) != 0) return done;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipe_fd[0]);
            const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            run_batch(cases, dir, pipe_fd[1], s.skip);
        }
        ::close(pipe_fd[1]);
        if (pid < 0) {
            ::close(pipe_fd[0]);
            return done;
        }
        int current = -1;
        bool finished = false, killed = false;
        std::int64_t case_start = now_ms();
        std::string buf;
        for (;;) {
            pollfd p{pipe_fd[0], POLLIN, 0};
            ::poll(&p, 1, 100);
            char chunk[4096];
            const ssize_t n = (p.revents & (POLLIN | POLLHUP)) ? ::read(pipe_fd[0], chunk, sizeof chunk) : -1;
            if (n > 0) buf.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t nl; (nl = buf.find('\n')) != std::string::npos; buf.erase(0, nl + 1)) {
                const std::string msg = buf.substr(0, nl);
                if (msg[0] == 'C') {
                    current = std::atoi(msg.c_str() + 2);
                    case_start = now_ms();
                    ++done;
                } else if (msg[0] == 'S') {
                    long b = 0, r = 0, m = 0;
                    std::sscanf(msg.c_str() + 2, "%ld %ld %ld", &b, &r, &m);
                    s.tally->books += b, s.tally->records += r, s.tally->moves += m;
                } else if (msg[0] == 'E') {
                    finished = true;
                } else if (msg[0] == 'F') {
                    const std::size_t a = msg.find(' ', 2), b = msg.find(' ', a + 1);
                    const int index = std::atoi(msg.c_str() + 2);
                    log_fault(log, cases[static_cast<std::size_t>(index)], s,
                              Fault{msg.substr(a + 1, b - a - 1), msg.substr(b + 1)});
                }
            }
            if (n == 0) break;   // the child has ended
            if (now_ms() - case_start > CASE_TIMEOUT_MS) {
                ::kill(pid, SIGKILL);
                killed = true;
                break;
            }
        }
        ::close(pipe_fd[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::string err;
        read_file(err_path, err, 1 << 16);
        if (current >= 0 && (killed || !finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
            Fault f;
            const Case& c = cases[static_cast<std::size_t>(current)];
            if (killed) {
                f = {"hang", "no end within " + std::to_string(CASE_TIMEOUT_MS / 1000) + " s"};
            } else {
                f.kind = stderr_kind(err);
                if (f.kind.empty()) f.kind = WIFSIGNALED(status) ? "crash" : "exit";
                f.detail = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "status " + std::to_string(WEXITSTATUS(status));
                f.detail += "\n" + printable_text(err, 3000);
            }
            log_fault(log, c, s, f);
        }
    }
    remove_tree(s.workdir + "/batch");
    return done;
}

}  // namespace fuzz
