#include "egtb/syzygy.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tbprobe.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/setup.h"

namespace varkon {

namespace {

constexpr std::uint8_t WDL_MAGIC[4] = {0x71, 0xE8, 0x23, 0x5D};
constexpr std::uint8_t DTZ_MAGIC[4] = {0xD7, 0x66, 0x0C, 0xA5};
constexpr int MAX_TB_PIECES = 7;
constexpr char PIECE_LETTERS[] = " PNBRQK";   // by piece type
constexpr int TRIAL_TIMEOUT_MS = 30000;       // the most a table's trial may take
constexpr const char* LINK_PREFIX = "varkon-syzygy-";

// One table file found in the directories of the path.
struct TableFile {
    std::string name;       // "KRvKN.rtbw"
    std::string path;       // where it was found
    TbMaterial material;
    bool wdl = true;
    std::uint64_t size = 0;
    std::string stamp;      // size, time of change and inode: the file as it was found
    bool rejected = false;
};

// The tables handed to the prober, shared by every search of the process; and the options.
struct Registry {
    SyzygyOptions options;
    int largest = 0;                       // largest win/draw/loss table in use
    std::vector<std::uint64_t> materials;  // keys of the win/draw/loss tables in use, sorted
    std::string link_dir;                  // the directory of links the prober reads
    bool prober_loaded = false;            // the prober was handed tables
    std::string loaded;                    // the path and the files of the last load
    SyzygyReport report;                   // and its report
    bool cleanup_registered = false;
};
Registry reg;

// ---- materials -------------------------------------------------------------------------

// A key of a material whatever side holds which half: the smaller of the two packings.
std::uint64_t material_key(const int (&a)[6], const int (&b)[6]) {
    std::uint64_t ka = 0, kb = 0;
    for (int t = PAWN; t <= QUEEN; ++t) {
        ka |= static_cast<std::uint64_t>(a[t]) << (4 * (t - 1)) | static_cast<std::uint64_t>(b[t]) << (20 + 4 * (t - 1));
        kb |= static_cast<std::uint64_t>(b[t]) << (4 * (t - 1)) | static_cast<std::uint64_t>(a[t]) << (20 + 4 * (t - 1));
    }
    return std::min(ka, kb);
}

std::uint64_t material_key(const TbMaterial& m) { return material_key(m.count[0], m.count[1]); }

std::uint64_t position_material_key(const Position& pos) {
    const PieceList& pl = pos.cur().piece_lists;
    int white[6] = {}, black[6] = {};
    for (int t = PAWN; t <= QUEEN; ++t) {
        white[t] = pl.sq[6 + t][0];
        black[t] = pl.sq[6 - t][0];
    }
    return material_key(white, black);
}

std::string material_text(const TbMaterial& m) {
    std::string s;
    for (int side = 0; side < 2; ++side) {
        s += side == 0 ? "K" : "vK";
        for (int t = QUEEN; t >= PAWN; --t) s.append(static_cast<std::size_t>(m.count[side][t]), PIECE_LETTERS[t]);
    }
    return s;
}

// ---- the prober's view of a position ---------------------------------------------------

struct Boards {
    std::uint64_t white = 0, black = 0, kings = 0, queens = 0, rooks = 0, bishops = 0, knights = 0, pawns = 0;
    unsigned ep = 0;
    bool white_to_move = true;
};

Boards boards_of(const Position& pos) {
    Boards b;
    const PlyState& st = pos.cur();
    std::uint64_t* by_type[7] = {nullptr, &b.pawns, &b.knights, &b.bishops, &b.rooks, &b.queens, &b.kings};
    for (int type = PAWN; type <= KING; ++type)
        for (const Side s : {WHITE, BLACK}) {
            const std::int8_t* list = st.piece_lists.sq[6 + s * type];
            for (int k = 1; k <= list[0]; ++k) {
                const std::uint64_t bit = 1ULL << sq64[list[k]];
                *by_type[type] |= bit;
                (s == WHITE ? b.white : b.black) |= bit;
            }
        }
    b.ep = st.ep != 0 ? static_cast<unsigned>(sq64[st.ep]) : 0;
    b.white_to_move = pos.side == WHITE;
    return b;
}

unsigned probe_wdl_raw(const Position& pos) {
    const Boards b = boards_of(pos);
    return tb_probe_wdl(b.white, b.black, b.kings, b.queens, b.rooks, b.bishops, b.knights, b.pawns, 0, 0, b.ep,
                        b.white_to_move);
}

// Fathom's square (a1 = 0) on the board of the engine.
int board_square(unsigned sq) { return 21 + static_cast<int>(sq % 8) + 10 * static_cast<int>(sq / 8); }

// ---- the files ---------------------------------------------------------------------------

int count_pieces(const TbMaterial& m, int side) {
    int n = 1;
    for (int t = PAWN; t <= QUEEN; ++t) n += m.count[side][t];
    return n;
}

bool name_of_table_file(const std::string& file, TbMaterial& m, bool& wdl) {
    if (file.size() < 6) return false;
    const std::string ext = file.substr(file.size() - 5);
    if (ext != ".rtbw" && ext != ".rtbz") return false;
    wdl = ext == ".rtbw";
    return tb_material_of_name(file.substr(0, file.size() - 5), m);
}

std::string describe_errno(const char* what) { return std::string(what) + " (" + std::strerror(errno) + ")"; }

// The codes the header uses for a piece: 1..6 White pawn..king, 9..14 Black's.
std::vector<int> header_codes(const TbMaterial& m) {
    std::vector<int> codes;
    for (int side = 0; side < 2; ++side) {
        codes.push_back(side * 8 + KING);
        for (int t = PAWN; t <= QUEEN; ++t)
            for (int k = 0; k < m.count[side][t]; ++k) codes.push_back(side * 8 + t);
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

// Whether the n piece bytes at `p` hold the material's pieces: in the low halves, and in the
// high halves too (the other side to move's order) unless those are all zero.
bool pieces_match(const std::uint8_t* p, int n, const std::vector<int>& codes) {
    std::vector<int> low, high;
    for (int i = 0; i < n; ++i) {
        low.push_back(p[i] & 15);
        high.push_back(p[i] >> 4);
    }
    std::sort(low.begin(), low.end());
    std::sort(high.begin(), high.end());
    return low == codes && (high == codes || std::all_of(high.begin(), high.end(), [](int c) { return c == 0; }));
}

}  // namespace

int TbMaterial::pieces() const { return count_pieces(*this, 0) + count_pieces(*this, 1); }

bool tb_material_of_name(const std::string& name, TbMaterial& out) {
    out = TbMaterial{};
    const std::size_t v = name.find('v');
    if (v == std::string::npos || name.find('v', v + 1) != std::string::npos) return false;
    const std::string half[2] = {name.substr(0, v), name.substr(v + 1)};
    for (int side = 0; side < 2; ++side) {
        const std::string& h = half[side];
        if (h.empty() || h[0] != 'K') return false;
        int last = QUEEN;   // pieces come queen first, pawns last
        for (std::size_t i = 1; i < h.size(); ++i) {
            const char* at = std::strchr(PIECE_LETTERS + 1, h[i]);
            const int t = at != nullptr && h[i] != '\0' ? static_cast<int>(at - PIECE_LETTERS) : 0;
            if (t < PAWN || t > QUEEN || t > last) return false;
            last = t;
            ++out.count[side][t];
        }
    }
    return out.pieces() >= 3 && out.pieces() <= MAX_TB_PIECES;
}

std::string syzygy_file_problem(const std::string& path, const TbMaterial& material, bool wdl) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return describe_errno("cannot be read");
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // Every table file is padded to 16 bytes past a multiple of 64; the smallest is 80.
    if (size < 80) return "too short to be a table (" + std::to_string(size) + " bytes): truncated?";
    if (size % 64 != 16) return "its size (" + std::to_string(size) + " bytes) is not that of a whole table file: truncated or damaged";
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return describe_errno("cannot be opened");
    std::uint8_t head[64];
    const ssize_t got = pread(fd, head, sizeof head, 0);
    close(fd);
    if (got != static_cast<ssize_t>(sizeof head)) return "cannot be read";
    if (std::memcmp(head, wdl ? WDL_MAGIC : DTZ_MAGIC, 4) != 0) {
        if (std::memcmp(head, wdl ? DTZ_MAGIC : WDL_MAGIC, 4) == 0)
            return wdl ? "holds a distance-to-zeroing table, not win/draw/loss (renamed?)"
                       : "holds a win/draw/loss table, not distance-to-zeroing (renamed?)";
        return "not a Syzygy table (its first bytes are wrong)";
    }
    const int pieces = material.pieces();
    const bool pawns = material.count[0][PAWN] + material.count[1][PAWN] > 0;
    const int declared = head[4] >> 4, flags = head[4] & 15;
    if (declared != pieces)
        return "its header is for " + std::to_string(declared) + " pieces, the name says " + std::to_string(pieces) +
               ": another table renamed?";
    if ((flags & 2) != (pawns ? 2 : 0))
        return "its header does not fit " + material_text(material) + ": another table renamed, or damaged";
    // The pieces follow one order byte (two for pawns of both colours).
    const std::vector<int> codes = header_codes(material);
    const bool both_pawns = material.count[0][PAWN] > 0 && material.count[1][PAWN] > 0;
    if (!pieces_match(head + 6, pieces, codes) && !(both_pawns && pieces_match(head + 7, pieces, codes)))
        return "its header holds other pieces than " + material_text(material) + ": another table renamed, or damaged";
    return "";
}

namespace {

// ---- the directory of links the prober reads --------------------------------------------

std::string temp_root() {
    const char* t = std::getenv("TMPDIR");
    return t != nullptr && t[0] == '/' ? t : "/tmp";
}

void remove_link_dir(const std::string& dir) {
    if (dir.empty()) return;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) unlink((dir + "/" + e->d_name).c_str());
        closedir(d);
    }
    rmdir(dir.c_str());
}

// The links go at the end of the process; the prober's mappings go with the process.
void remove_links_at_exit() {
    remove_link_dir(reg.link_dir);
    reg.link_dir.clear();
}

// Directories of links left by processes that ended without removing them (killed).
void remove_stale_link_dirs() {
    const std::string root = temp_root();
    DIR* d = opendir(root.c_str());
    if (d == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, LINK_PREFIX, std::strlen(LINK_PREFIX)) != 0) continue;
        const long pid = std::strtol(e->d_name + std::strlen(LINK_PREFIX), nullptr, 10);
        struct stat st;
        const std::string dir = root + "/" + e->d_name;
        if (pid <= 0 || pid == getpid() || lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            continue;
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) stale.push_back(dir);
    }
    closedir(d);
    for (const std::string& dir : stale) remove_link_dir(dir);
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

// Hands the prober the directory of links, or "" for none. Its own initialisation releases
// what it held before (its separate release, tb_free, leaves it unable to load tables
// again, so it is never called). What it prints about files and mappings goes nowhere:
// every file handed to it has been checked, and the protocols own standard output.
void init_prober(const std::string& dir) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int out = dup(1), err = dup(2), null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
    }
    tb_init(dir.c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    if (out >= 0) {
        dup2(out, 1);
        close(out);
    }
    if (err >= 0) {
        dup2(err, 2);
        close(err);
    }
    if (null >= 0) close(null);
    reg.prober_loaded = !dir.empty();
}

// ---- the trial of the files, in a process of its own ----------------------------------------

struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
};

// Win, draw or loss alone (the fifty-move rule aside): +1, 0, -1.
int plain(unsigned wdl) { return wdl >= TB_CURSED_WIN ? 1 : wdl == TB_DRAW ? 0 : -1; }

// What one move on must say: the best of the moves for the side to move (+1, 0, -1), or
// 2 when a position after a move has no table (the sample proves nothing).
struct Trial {
    Position& pos;
    std::vector<std::uint64_t>& available;   // materials with a sound win/draw/loss file, sorted
    Rng rng;

    bool has(const Position& p) const {
        const PlyState& st = p.cur();
        return st.pieces + st.pawns == 2 || std::binary_search(available.begin(), available.end(), position_material_key(p));
    }

    bool any_legal_move() {
        pos.cur().in_check = king_in_check(pos, pos.side);
        generate_moves(pos);
        for (int i = pos.cur().move_start; i < pos.ply_state[pos.ply + 1].move_start; ++i) {
            make_move(pos, i);
            const bool legal = !king_in_check(pos, -pos.side);
            unmake_move(pos, i);
            if (legal) return true;
        }
        return false;
    }

    // The value of the position after a move, for the side to move there; 2: unknown.
    int value_here() {
        const PlyState& st = pos.cur();
        if (st.pieces + st.pawns == 2) return 0;
        if (!any_legal_move()) return king_in_check(pos, pos.side) ? -1 : 0;
        if (!has(pos)) return 2;
        const unsigned r = probe_wdl_raw(pos);
        return r == TB_RESULT_FAILED ? 2 : plain(r);
    }

    // The best value over the legal moves (-2: none legal, 2: unknown).
    int best_move_value() {
        pos.cur().in_check = king_in_check(pos, pos.side);
        generate_moves(pos);
        int best = -2;
        for (int i = pos.ply_state[0].move_start; i < pos.ply_state[1].move_start; ++i) {
            make_move(pos, i);
            if (king_in_check(pos, -pos.side)) {
                unmake_move(pos, i);
                continue;
            }
            const int v = value_here();
            unmake_move(pos, i);
            if (v == 2) return 2;
            best = std::max(best, -v);
        }
        return best;
    }

    std::string fen() const {
        std::string s;
        for (int rank = 7; rank >= 0; --rank) {
            int empty = 0;
            for (int file = 0; file < 8; ++file) {
                const int code = pos.board[21 + file + 10 * rank];
                if (code == EMPTY) {
                    ++empty;
                    continue;
                }
                if (empty) s += static_cast<char>('0' + empty);
                empty = 0;
                const char c = PIECE_LETTERS[std::abs(code)];
                s += code > 0 ? c : static_cast<char>(c - 'A' + 'a');
            }
            if (empty) s += static_cast<char>('0' + empty);
            if (rank) s += '/';
        }
        return s + (pos.side == WHITE ? " w - -" : " b - -");
    }

    // A random legal position of the material (either side may hold either half).
    bool random_position(const TbMaterial& m) {
        char board[64];
        std::memset(board, 0, sizeof board);
        const bool swap = rng.below(2) != 0;
        for (int side = 0; side < 2; ++side) {
            const bool white = (side == 0) != swap;
            for (int t = PAWN; t <= KING; ++t)
                for (int k = 0; k < (t == KING ? 1 : m.count[side][t]); ++k) {
                    int sq;
                    do sq = t == PAWN ? 8 + rng.below(48) : rng.below(64);
                    while (board[sq] != 0);
                    const char c = PIECE_LETTERS[t];
                    board[sq] = white ? c : static_cast<char>(c - 'A' + 'a');
                }
        }
        std::string placement;
        for (int rank = 7; rank >= 0; --rank) {
            int empty = 0;
            for (int file = 0; file < 8; ++file) {
                const char c = board[8 * rank + file];
                if (c == 0) {
                    ++empty;
                    continue;
                }
                if (empty) placement += static_cast<char>('0' + empty);
                empty = 0;
                placement += c;
            }
            if (empty) placement += static_cast<char>('0' + empty);
            if (rank) placement += '/';
        }
        if (!setup_fen(pos, placement.c_str(), rng.below(2) ? "w" : "b", "-", "-")) return false;
        pos.ply = 0;
        pos.ply_state[0].move_start = 1;
        return true;
    }

    // Whether every material one capture or promotion away has a sound table.
    bool successors_available(const TbMaterial& m) const {
        bool all = true;
        auto need = [&](const TbMaterial& x) {
            if (x.pieces() > 2) all = all && std::binary_search(available.begin(), available.end(), material_key(x));
        };
        for (int side = 0; side < 2; ++side) {
            for (int t = PAWN; t <= QUEEN; ++t) {
                if (m.count[1 - side][t] == 0) continue;
                TbMaterial x = m;
                --x.count[1 - side][t];
                need(x);
                if (m.count[side][PAWN] == 0) continue;
                for (int p = KNIGHT; p <= QUEEN; ++p) {
                    TbMaterial y = x;
                    --y.count[side][PAWN];
                    ++y.count[side][p];
                    need(y);
                }
            }
            if (m.count[side][PAWN] > 0)
                for (int p = KNIGHT; p <= QUEEN; ++p) {
                    TbMaterial y = m;
                    --y.count[side][PAWN];
                    ++y.count[side][p];
                    need(y);
                }
        }
        return all;
    }

    // "" when the file answers soundly for a sample of its positions, else why not.
    std::string run(const TableFile& f) {
        if (!f.wdl && !std::binary_search(available.begin(), available.end(), material_key(f.material)))
            return "not used: the win/draw/loss file of its material is missing or left out";
        const bool complete = successors_available(f.material);
        const int samples = static_cast<int>(std::clamp<std::uint64_t>(f.size / (f.wdl ? 64 : 512), f.wdl ? 64 : 32, f.wdl ? 1500 : 200));
        int done = 0;
        for (int attempt = 0; done < samples && attempt < 50 * samples; ++attempt) {
            if (!random_position(f.material)) continue;
            const unsigned wdl = probe_wdl_raw(pos);
            if (wdl == TB_RESULT_FAILED) {
                if (complete) return "the prober gives no answer for " + fen() + ": damaged, left out";
                continue;
            }
            if (wdl > TB_WIN) return "the prober gives an impossible answer for " + fen() + ": damaged, left out";
            if (f.wdl) {
                const int expected = best_move_value();
                if (expected == 2) continue;
                const int moves_say = expected == -2 ? (king_in_check(pos, pos.side) ? -1 : 0) : expected;
                if (plain(wdl) != moves_say)
                    return "it gives " + std::to_string(plain(wdl)) + " for " + fen() + ", the moves from there give " +
                           std::to_string(moves_say) + ": damaged, left out";
            } else {
                if (!any_legal_move()) continue;
                const Boards b = boards_of(pos);
                const unsigned r = tb_probe_root(b.white, b.black, b.kings, b.queens, b.rooks, b.bishops, b.knights,
                                                 b.pawns, 0, 0, b.ep, b.white_to_move, nullptr);
                if (r == TB_RESULT_FAILED) {
                    if (complete) return "the prober gives no distance for " + fen() + ": damaged, left out";
                    continue;
                }
                const unsigned dtz = TB_GET_DTZ(r), result = TB_GET_WDL(r);
                const bool sound = result == wdl && (wdl == TB_DRAW ? dtz == 0 : dtz > 0) &&
                                   ((wdl == TB_WIN || wdl == TB_LOSS) ? dtz <= 100 : wdl == TB_DRAW || dtz > 100);
                if (!sound)
                    return "its distance " + std::to_string(dtz) + " for " + fen() + " does not fit the result " +
                           std::to_string(static_cast<int>(wdl) - 2) + ": damaged, left out";
            }
            ++done;
        }
        return "";
    }
};

// Writes all of a line to the trial's pipe.
void send_line(int fd, const std::string& line) {
    const char* p = line.data();
    std::size_t n = line.size();
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w <= 0) return;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

// The child: tries the files from `first` on, reporting "S i" before and "V i <reason>" after
// each (an empty reason: sound).
[[noreturn]] void trial_child(int fd, const std::vector<TableFile>& files, std::size_t first, const std::string& dir) {
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
    }
    tb_init(dir.c_str());
    std::vector<std::uint64_t> available;
    for (const TableFile& f : files)
        if (f.wdl && !f.rejected) available.push_back(material_key(f.material));
    std::sort(available.begin(), available.end());
    available.erase(std::unique(available.begin(), available.end()), available.end());
    auto pos = std::make_unique<Position>();
    for (std::size_t i = first; i < files.size(); ++i) {
        if (files[i].rejected) continue;
        send_line(fd, "S " + std::to_string(i) + "\n");
        std::uint64_t seed = 0x9E3779B97F4A7C15ULL;
        for (char c : files[i].name) seed = (seed ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
        Trial t{*pos, available, Rng{seed | 1}};
        std::string why = t.run(files[i]);
        std::replace(why.begin(), why.end(), '\n', ' ');
        if (!why.empty() && files[i].wdl) {
            const auto at = std::lower_bound(available.begin(), available.end(), material_key(files[i].material));
            if (at != available.end() && *at == material_key(files[i].material)) available.erase(at);
        }
        send_line(fd, "V " + std::to_string(i) + " " + why + "\n");
    }
    send_line(fd, "E\n");
    _exit(0);
}

// Tries the files (sorted so that a table comes after those its captures and promotions
// lead to); marks those that fail, with the reason in `problems`.
void run_trials(std::vector<TableFile>& files, const std::string& dir, std::vector<std::string>& problems) {
    std::size_t next = 0;
    while (next < files.size()) {
        int fds[2];
        if (pipe(fds) != 0) {
            problems.push_back("the tables could not be tried (" + std::string(std::strerror(errno)) + "): none is used");
            for (TableFile& f : files) f.rejected = true;
            return;
        }
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            trial_child(fds[1], files, next, dir);
        }
        close(fds[1]);
        if (child < 0) {
            close(fds[0]);
            problems.push_back("the tables could not be tried (" + std::string(std::strerror(errno)) + "): none is used");
            for (TableFile& f : files) f.rejected = true;
            return;
        }
        std::string buffer;
        long current = -1;   // the table being tried
        bool finished = false, timed_out = false;
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            const int ready = poll(&p, 1, TRIAL_TIMEOUT_MS);
            if (ready == 0) {
                timed_out = true;
                break;
            }
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            char chunk[4096];
            const ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t eol; (eol = buffer.find('\n')) != std::string::npos; buffer.erase(0, eol + 1)) {
                const std::string line = buffer.substr(0, eol);
                if (line == "E") finished = true;
                if (line.size() < 3) continue;
                char* end = nullptr;
                const long i = std::strtol(line.c_str() + 2, &end, 10);
                if (i < 0 || static_cast<std::size_t>(i) >= files.size()) continue;
                if (line[0] == 'S') current = i;
                if (line[0] == 'V') {
                    current = -1;
                    next = static_cast<std::size_t>(i) + 1;
                    const std::string why = *end == ' ' ? std::string(end + 1) : std::string();
                    if (!why.empty()) {
                        files[static_cast<std::size_t>(i)].rejected = true;
                        problems.push_back(files[static_cast<std::size_t>(i)].path + ": " + why);
                    }
                }
            }
        }
        close(fds[0]);
        if (timed_out) kill(child, SIGKILL);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (finished) return;
        if (current < 0) {
            // Ended between two tables, or before the first: the prober itself fails here.
            problems.push_back("the prober could not try the tables: none is used");
            for (TableFile& f : files) f.rejected = true;
            return;
        }
        TableFile& f = files[static_cast<std::size_t>(current)];
        f.rejected = true;
        const std::string how = timed_out ? "the prober did not answer on it within " + std::to_string(TRIAL_TIMEOUT_MS / 1000) + " s"
                                : WIFSIGNALED(status) ? "the prober crashed on it (signal " + std::to_string(WTERMSIG(status)) + ")"
                                                      : "the prober failed on it";
        problems.push_back(f.path + ": " + how + ": damaged, left out");
        unlink((dir + "/" + f.name).c_str());
        next = static_cast<std::size_t>(current) + 1;
    }
}

// The table files of the directories of `path`, each name from the first directory that has
// a sound file of that name; files left out go to `problems`, directories that give none to
// `directories`.
std::vector<TableFile> find_files(const std::string& path, std::vector<std::string>& problems,
                                  std::vector<std::string>& directories) {
    std::vector<TableFile> files;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string dir = path.substr(start, end - start);
        start = end + 1;
        if (dir.empty()) continue;
        struct stat st;
        if (stat(dir.c_str(), &st) != 0) {
            directories.push_back(dir + ": " + (errno == ENOENT ? std::string("no such directory") : describe_errno("cannot be read")));
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            directories.push_back(dir + ": not a directory");
            continue;
        }
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) {
            directories.push_back(dir + ": " + describe_errno("cannot be read"));
            continue;
        }
        std::vector<std::string> names;
        while (const dirent* e = readdir(d)) names.emplace_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        int found = 0;
        for (const std::string& name : names) {
            TableFile f;
            if (!name_of_table_file(name, f.material, f.wdl)) continue;
            ++found;
            f.name = name;
            f.path = dir + (dir.back() == '/' ? "" : "/") + name;
            const bool taken = std::any_of(files.begin(), files.end(), [&](const TableFile& g) { return g.name == name; });
            if (taken) continue;
            const std::string why = syzygy_file_problem(f.path, f.material, f.wdl);
            if (!why.empty()) {
                problems.push_back(f.path + ": " + why + ": left out");
                continue;
            }
            stat(f.path.c_str(), &st);
            f.size = static_cast<std::uint64_t>(st.st_size);
            f.stamp = std::to_string(f.size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                      std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ino);
            files.push_back(f);
        }
        if (found == 0) directories.push_back(dir + ": no Syzygy table files (.rtbw, .rtbz) in it");
    }
    return files;
}

}  // namespace

SyzygyOptions& syzygy_options() { return reg.options; }

void syzygy_release() {
    if (reg.prober_loaded) init_prober("");
    remove_link_dir(reg.link_dir);
    reg.link_dir.clear();
    reg.largest = 0;
    reg.materials.clear();
    reg.loaded.clear();
    reg.report = SyzygyReport{};
}

SyzygyReport syzygy_load() {
    if (reg.options.path.empty()) {
        syzygy_release();
        return SyzygyReport{};
    }
    SyzygyReport report;
    std::vector<TableFile> files = find_files(reg.options.path, report.problems, report.directories);
    // The same files as the last load (a front end may send its path again and again).
    std::string loaded = reg.options.path;
    for (const TableFile& f : files) loaded += "\n" + f.path + " " + f.stamp;
    if (!reg.loaded.empty() && loaded == reg.loaded) return reg.report;
    syzygy_release();
    if (!reg.cleanup_registered) {
        reg.cleanup_registered = true;
        std::atexit(remove_links_at_exit);
    }
    remove_stale_link_dirs();
    if (!files.empty()) {
        std::string dir = temp_root() + "/" + LINK_PREFIX + std::to_string(getpid()) + "-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) {
            report.problems.push_back(describe_errno(("no directory for the tables could be made in " + temp_root()).c_str()) +
                                      ": none is used");
            return report;
        }
        reg.link_dir = dir;
        for (TableFile& f : files)
            if (symlink(absolute(f.path).c_str(), (dir + "/" + f.name).c_str()) != 0) {
                f.rejected = true;
                report.problems.push_back(f.path + ": " + describe_errno("cannot be linked") + ": left out");
            }
        // Tables with fewer pieces first, then with fewer pawns; win/draw/loss before distance.
        std::stable_sort(files.begin(), files.end(), [](const TableFile& a, const TableFile& b) {
            const int pa = a.material.count[0][PAWN] + a.material.count[1][PAWN];
            const int pb = b.material.count[0][PAWN] + b.material.count[1][PAWN];
            if (a.material.pieces() != b.material.pieces()) return a.material.pieces() < b.material.pieces();
            if (pa != pb) return pa < pb;
            return a.wdl && !b.wdl;
        });
        run_trials(files, dir, report.problems);
        for (const TableFile& f : files) {
            if (f.rejected) {
                unlink((dir + "/" + f.name).c_str());
                continue;
            }
            ++report.files;
            if (f.wdl) {
                reg.materials.push_back(material_key(f.material));
                reg.largest = std::max(reg.largest, f.material.pieces());
            }
        }
        std::sort(reg.materials.begin(), reg.materials.end());
        report.largest = reg.largest;
        if (report.files > 0) init_prober(dir);
    }
    reg.loaded = loaded;
    reg.report = report;
    return report;
}

int syzygy_cardinality() { return std::min(reg.largest, reg.options.probe_limit); }

bool syzygy_holds(const Position& pos) {
    return std::binary_search(reg.materials.begin(), reg.materials.end(), position_material_key(pos));
}

bool syzygy_probe_wdl(const Position& pos, TbOutcome& out) {
    const unsigned r = probe_wdl_raw(pos);
    if (r > TB_WIN) return false;
    out = static_cast<TbOutcome>(static_cast<int>(r) - 2);
    return true;
}

bool syzygy_root_moves(const Position& pos, std::vector<SyzygyRootMove>& out) {
    out.clear();
    const Boards b = boards_of(pos);
    const unsigned rule50 = reg.options.rule50 ? static_cast<unsigned>(std::clamp(pos.fifty[pos.game_ply], 0, 100)) : 0;
    unsigned results[TB_MAX_MOVES];
    const unsigned r = tb_probe_root(b.white, b.black, b.kings, b.queens, b.rooks, b.bishops, b.knights, b.pawns, rule50,
                                     0, b.ep, b.white_to_move, results);
    if (r == TB_RESULT_FAILED || r == TB_RESULT_CHECKMATE || r == TB_RESULT_STALEMATE) return false;
    static constexpr int promoted[5] = {0, QUEEN, ROOK, BISHOP, KNIGHT};
    for (int i = 0; i < TB_MAX_MOVES && results[i] != TB_RESULT_FAILED; ++i) {
        const unsigned m = results[i];
        const unsigned wdl = TB_GET_WDL(m), promotes = TB_GET_PROMOTES(m);
        if (wdl > TB_WIN || promotes > 4) return false;
        out.push_back(SyzygyRootMove{board_square(TB_GET_FROM(m)), board_square(TB_GET_TO(m)), promoted[promotes],
                                     static_cast<TbOutcome>(static_cast<int>(wdl) - 2), static_cast<int>(TB_GET_DTZ(m))});
    }
    return !out.empty();
}

}  // namespace varkon
