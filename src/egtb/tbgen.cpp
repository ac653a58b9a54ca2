#include "egtb/tbgen.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "egtb/tbboard.h"
#include "egtb/tbindex.h"

namespace varkon {

namespace {

using Values = std::vector<std::int8_t>;

struct TableValues {
    Values side[2];
};

constexpr int UNKNOWN = 127;

// Distances are counted in plies inside the generator: a win in n moves is 2n - 1
// plies, a loss in n moves (mated after n own moves) 2n plies.
inline int win_byte(int plies) {
    const int n = (plies + 1) / 2;
    return n <= 126 ? 127 - n : -128;
}
inline int loss_byte(int plies) {
    const int n = plies / 2;
    return n <= 125 ? n - 126 : -127;
}

// A stored byte as plies from its side to move's view: >= 0 and odd a win, even a
// loss; -1 a draw; -2 no value. `beyond` is set for the markers of distances past the
// byte's range (their distance is a lower bound).
int byte_plies(int v, bool* beyond) {
    *beyond = v == -128 || v == -127;
    if (v == UNKNOWN) return -2;
    if (v == 0) return -1;
    if (v == -128) return 2 * 127 - 1;
    if (v == -127) return 2 * 126;
    if (v > 0) return 2 * (127 - v) - 1;
    return 2 * (v + 126);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string file_name(const std::string& dir, int t, int side) {
    return dir + "/" + tb_name(t) + (side == 0 ? ".nbw" : ".nbb");
}

bool file_size_is(const std::string& name, std::uint64_t size) {
    struct stat st;
    return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) == size;
}

bool read_values(const std::string& name, std::uint32_t count, Values& out) {
    if (!file_size_is(name, count)) return false;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) return false;
    out.resize(count);
    const bool ok = std::fread(out.data(), 1, count, f) == count;
    std::fclose(f);
    return ok;
}

// Writes under a temporary name and renames it into place, so that a table file is
// either whole or absent.
bool write_values(const std::string& name, const Values& v) {
    const std::string tmp = name + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(v.data(), 1, v.size(), f) == v.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(tmp.c_str(), name.c_str()) == 0;
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

// Tables read from the directory (or just made), kept in memory while they are needed.
class TableStore {
public:
    explicit TableStore(std::string dir) : dir_(std::move(dir)) {}
    const std::string& dir() const { return dir_; }
    // The table's values, loaded on first use; nullptr when its files are not sound.
    const TableValues* get(int t) {
        auto it = tables_.find(t);
        if (it != tables_.end()) return &it->second;
        TableValues v;
        for (int side = 0; side < 2; ++side)
            if (!read_values(file_name(dir_, t, side), tb_count(t, side), v.side[side])) return nullptr;
        return &(tables_[t] = std::move(v));
    }
    bool present(int t) const {
        return file_size_is(file_name(dir_, t, 0), tb_count(t, 0)) && file_size_is(file_name(dir_, t, 1), tb_count(t, 1));
    }
    void forget(int t) { tables_.erase(t); }

private:
    std::string dir_;
    std::map<int, TableValues> tables_;
};

void count_material(const TbBoard& b, int counts[2][6]) {
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 6; ++k) counts[c][k] = 0;
        for (int i = 1; i < b.set[c].n; ++i) ++counts[c][b.set[c].type[i]];
    }
}

// The byte of position `r` (any material of at most five pieces) from the tables; a
// position with the kings alone is a draw. 127 when no table holds it.
int table_value(TableStore& store, const TbBoard& r) {
    if (r.set[0].n == 1 && r.set[1].n == 1) return 0;
    int counts[2][6];
    count_material(r, counts);
    const int found = tb_material(counts);
    if (found == 0) return UNKNOWN;
    const int t = found > 0 ? found : -found;
    const TableValues* v = store.get(t);
    if (v == nullptr) return UNKNOWN;
    const int side = found > 0 ? r.stm : 1 - r.stm;
    const std::uint32_t index = found > 0 ? tb_index(t, side, r.set[0], r.set[1], r.ep, 0)
                                          : tb_index(t, side, r.set[1], r.set[0], r.ep, 1);
    if (index == TB_NO_INDEX) return UNKNOWN;
    return v->side[side][index];
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
    for (int c = 0; c < 2; ++c)
        for (int type = 1; type <= 5; ++type) {
            if (counts[c][type] == 0) continue;
            --counts[c][type];
            add(counts);
            if (type == 1)
                for (int p = 2; p <= 5; ++p) {
                    ++counts[c][p];
                    add(counts);
                    --counts[c][p];
                }
            ++counts[c][type];
        }
    return out;
}

// ---- retrograde analysis -------------------------------------------------------------

constexpr std::uint16_t UNRESOLVED = 0xFFFF;
constexpr std::uint16_t NOT_NODE = 0xFFFE;     // illegal, or a second index of a position
constexpr std::uint16_t TENTATIVE = 0x8000;    // | plies: a win by capture or promotion, unless a shorter one comes
constexpr std::uint16_t LOSS_BOUND = 0xC000;   // | plies: lost no sooner than this, once every move loses
constexpr std::uint16_t FLAGS = 0xC000;
constexpr std::uint8_t CANNOT_LOSE = 255;      // counter of a position with a drawing or winning conversion
constexpr int MAX_PLIES = 0x3FF0;

inline bool resolved(std::uint16_t d) { return d < TENTATIVE; }
inline bool tentative(std::uint16_t d) { return (d & FLAGS) == TENTATIVE; }
inline bool loss_bound(std::uint16_t d) { return d != UNRESOLVED && d != NOT_NODE && (d & FLAGS) == LOSS_BOUND; }

class Retro {
public:
    Retro(int t, TableStore& store, std::FILE* log) : t_(t), store_(store), log_(log) {
        std::string name = tb_name(t);
        pawns_ = name.find('p') != std::string::npos;
        for (int s = 0; s < 2; ++s) count_[s] = tb_count(t, s);
    }

    bool run() {
        const auto start = std::chrono::steady_clock::now();
        for (int s = 0; s < 2; ++s) {
            dist_[s].assign(count_[s], UNRESOLVED);
            cnt_[s].assign(count_[s], 0);
            done_[s].assign(count_[s], false);
        }
        for (int s = 0; s < 2; ++s)
            if (!initialise(s)) return false;
        if (log_) std::fprintf(log_, "%s: %u + %u positions set up in %.1f s\n", tb_name(t_), count_[0], count_[1], seconds_since(start));
        for (int d = 0; d <= horizon_; ++d) {
            std::uint64_t done = 0;
            for (int s = 0; s < 2; ++s) done += level(s, d);
            if (log_ && (d % 10 == 9 || d == horizon_) && count_[0] + count_[1] > 5000000)
                std::fprintf(log_, "%s: %d plies, %llu positions at the last, %.1f s\n", tb_name(t_), d + 1,
                             static_cast<unsigned long long>(done), seconds_since(start));
        }
        return true;
    }

    // The finished bytes of side s.
    Values bytes(int s) const {
        Values out(count_[s]);
        for (std::uint32_t i = 0; i < count_[s]; ++i) {
            std::uint16_t d = dist_[s][i];
            if (d == NOT_NODE) {
                TbBoard b;
                if (!tb_decode(t_, s, i, b) || !tb_legal(b)) {
                    out[i] = UNKNOWN;
                    continue;
                }
                d = dist_[s][tb_board_index(t_, b, true)];
            }
            out[i] = static_cast<std::int8_t>(!resolved(d) ? 0 : (d & 1) ? win_byte(d) : loss_byte(d));
        }
        return out;
    }

private:
    int weight(const TbBoard& b) const { return pawns_ ? 1 : tb_symmetries(b); }

    // Whether a decoded position can have a second index: in tables without pawns when
    // both kings stand on a long diagonal, with an en-passant right when two pawns could
    // take.
    bool may_have_twin(const TbBoard& b) const {
        if (b.ep != TB_NO_EP) return true;
        if (pawns_) return false;
        // Black-to-move sides are stored mirrored: their long diagonal is a8-h1.
        const int w = b.set[0].sq[0], k = b.set[1].sq[0];
        return ((w & 7) == (w >> 3) && (k & 7) == (k >> 3)) || ((w & 7) + (w >> 3) == 7 && (k & 7) + (k >> 3) == 7);
    }

    // The weight of the position a move leads to: only positions with both kings on one
    // long diagonal can be symmetric.
    int move_weight(const TbBoard& b, const TbMove& m) const {
        if (pawns_) return 1;
        int k[2] = {b.set[0].sq[0], b.set[1].sq[0]};
        if (m.slot == 0) k[b.stm] = m.to;
        const bool diagonal = (k[0] & 7) == (k[0] >> 3) && (k[1] & 7) == (k[1] >> 3);
        const bool anti = (k[0] & 7) + (k[0] >> 3) == 7 && (k[1] & 7) + (k[1] >> 3) == 7;
        if (!diagonal && !anti) return 1;
        TbBoard r = b;
        tb_apply(r, m);
        return tb_symmetries(r);
    }

    // Notes that position i of side s is decided (or may be) at `plies`.
    void schedule(int s, std::uint32_t i, int plies) {
        if (plies > horizon_) horizon_ = plies;
        if (static_cast<std::size_t>(plies) >= queue_[s].size()) queue_[s].resize(static_cast<std::size_t>(plies) + 1);
        queue_[s][static_cast<std::size_t>(plies)].push_back(i);
    }

    bool initialise(int s) {
        std::vector<std::uint16_t>& dist = dist_[s];
        std::vector<std::uint8_t>& cnt = cnt_[s];
        TbMove moves[TB_MAX_MOVES];
        for (std::uint32_t i = 0; i < count_[s]; ++i) {
            TbBoard b;
            if (!tb_decode(t_, s, i, b) || !tb_legal(b) || (may_have_twin(b) && tb_board_index(t_, b, true) != i)) {
                dist[i] = NOT_NODE;
                continue;
            }
            const int n = tb_moves(b, moves);
            if (n == 0) {
                if (tb_in_check(b, s)) {
                    dist[i] = 0;
                    schedule(s, i, 0);
                } else {
                    cnt[i] = CANNOT_LOSE;
                }
                continue;
            }
            int counter = 0, best_win = MAX_PLIES + 1, worst_loss = -1;
            bool draw = false;
            for (int k = 0; k < n; ++k) {
                if (moves[k].captured_slot < 0 && moves[k].promotion == 0) {
                    counter += move_weight(b, moves[k]);
                    continue;
                }
                TbBoard r = b;
                tb_apply(r, moves[k]);
                const int v = table_value(store_, r);
                bool beyond;
                const int p = byte_plies(v, &beyond);
                if (p == -2) {
                    std::fprintf(stderr, "*** %s: no value for a position after a capture or promotion\n", tb_name(t_));
                    return false;
                }
                if (p == -1) draw = true;
                else if (p % 2 == 0) best_win = std::min(best_win, p + 1);
                else worst_loss = std::max(worst_loss, p + 1);
            }
            if (best_win <= MAX_PLIES) {
                dist[i] = static_cast<std::uint16_t>(TENTATIVE | best_win);
                cnt[i] = CANNOT_LOSE;
                schedule(s, i, best_win);
            } else if (draw) {
                cnt[i] = CANNOT_LOSE;
            } else if (counter == 0) {
                dist[i] = static_cast<std::uint16_t>(worst_loss);
                schedule(s, i, worst_loss);
            } else {
                cnt[i] = static_cast<std::uint8_t>(counter);
                if (worst_loss >= 0) dist[i] = static_cast<std::uint16_t>(LOSS_BOUND | worst_loss);
            }
        }
        return true;
    }

    // Passes on the positions of side s decided at d plies; returns how many there were.
    std::uint64_t level(int s, int d) {
        std::vector<std::uint16_t>& dist = dist_[s];
        const int o = 1 - s;
        std::vector<std::uint16_t>& odist = dist_[o];
        std::vector<std::uint8_t>& ocnt = cnt_[o];
        const std::uint16_t tent = static_cast<std::uint16_t>(TENTATIVE | d);
        std::uint64_t done = 0;
        TbBoard before[TB_MAX_MOVES], variants[4];
        if (static_cast<std::size_t>(d) >= queue_[s].size()) return 0;
        std::vector<std::uint32_t> decided;
        decided.swap(queue_[s][static_cast<std::size_t>(d)]);
        for (const std::uint32_t i : decided) {
            if (dist[i] == tent) dist[i] = static_cast<std::uint16_t>(d);
            else if (dist[i] != d) continue;   // decided sooner after all
            if (done_[s][i]) continue;
            done_[s][i] = true;
            ++done;
            TbBoard b;
            tb_decode(t_, s, i, b);
            const int n = tb_unmoves(b, before, TB_MAX_MOVES);
            for (int k = 0; k < n; ++k) {
                const int nv = tb_ep_variants(before[k], variants, 4);
                for (int e = -1; e < nv; ++e) {
                    const TbBoard& p = e < 0 ? before[k] : variants[e];
                    const std::uint32_t j = tb_board_index(t_, p, true);
                    if (j >= count_[o]) continue;   // cannot happen for a legal position
                    std::uint16_t& x = odist[j];
                    if (d % 2 == 0) {
                        // Lost here: the position before wins in one ply more.
                        if (x == UNRESOLVED || loss_bound(x) || (tentative(x) && (x & ~FLAGS) > d + 1)) {
                            x = static_cast<std::uint16_t>(d + 1);
                            schedule(o, j, d + 1);
                        }
                    } else if (!resolved(x) && !tentative(x) && ocnt[j] != CANNOT_LOSE) {
                        // Won here: one more move of the position before loses.
                        ocnt[j] = static_cast<std::uint8_t>(ocnt[j] - weight(p));
                        if (ocnt[j] == 0) {
                            const int at = loss_bound(x) ? std::max(d + 1, static_cast<int>(x & ~FLAGS)) : d + 1;
                            x = static_cast<std::uint16_t>(at);
                            schedule(o, j, at);
                        }
                    }
                }
            }
        }
        return done;
    }

    int t_;
    TableStore& store_;
    std::FILE* log_;
    bool pawns_ = false;
    std::uint32_t count_[2];
    std::vector<std::uint16_t> dist_[2];
    std::vector<std::uint8_t> cnt_[2];
    int horizon_ = 0;
    std::vector<std::vector<std::uint32_t>> queue_[2];   // per side and plies: positions to pass on
    std::vector<bool> done_[2];
};

bool make(TableStore& store, int t, std::FILE* log, TbGenStats& stats, std::vector<int>& busy) {
    if (store.present(t)) return true;
    busy.push_back(t);
    for (int u : dependencies(t))
        if (std::find(busy.begin(), busy.end(), u) == busy.end() && !make(store, u, log, stats, busy)) return false;
    busy.pop_back();
    const auto start = std::chrono::steady_clock::now();
    Retro retro(t, store, log);
    if (!retro.run()) return false;
    for (int s = 0; s < 2; ++s) {
        const std::string name = file_name(store.dir(), t, s);
        if (!write_values(name, retro.bytes(s))) {
            std::fprintf(stderr, "*** cannot write %s\n", name.c_str());
            return false;
        }
    }
    store.forget(t);
    ++stats.tables_made;
    stats.positions += static_cast<std::uint64_t>(tb_count(t, 0)) + tb_count(t, 1);
    if (log) std::fprintf(log, "%s written (%u + %u positions) in %.2f s\n", tb_name(t), tb_count(t, 0), tb_count(t, 1), seconds_since(start));
    return true;
}

// The byte a legal position must hold, from its successors' values; sets `beyond` when
// a distance past the byte's range is involved.
int expected_byte(int t, const TbBoard& b, const TableValues& own, TableStore& store, bool* beyond) {
    TbMove moves[TB_MAX_MOVES];
    const int n = tb_moves(b, moves);
    *beyond = false;
    if (n == 0) return tb_in_check(b, b.stm) ? -126 : 0;
    int best_win = -1, worst_loss = -1;
    bool draw = false;
    for (int k = 0; k < n; ++k) {
        TbBoard r = b;
        tb_apply(r, moves[k]);
        int v;
        if (moves[k].captured_slot < 0 && moves[k].promotion == 0) {
            const std::uint32_t j = tb_board_index(t, r, false);
            v = j == TB_NO_INDEX ? UNKNOWN : own.side[r.stm][j];
        } else {
            v = table_value(store, r);
        }
        bool far;
        const int p = byte_plies(v, &far);
        *beyond = *beyond || far;
        if (p == -2) return 1000;   // a successor without a value: never matches
        if (p == -1) draw = true;
        else if (p % 2 == 0) best_win = best_win < 0 ? p + 1 : std::min(best_win, p + 1);
        else worst_loss = std::max(worst_loss, p + 1);
    }
    if (best_win >= 0) return win_byte(best_win);
    if (draw) return 0;
    return loss_byte(worst_loss);
}

}  // namespace

bool tbgen_make(const std::string& dir, const std::string& name, std::FILE* log, TbGenStats* stats) {
    tb_init_index();
    const int t = tb_number(name);
    if (t == 0) {
        std::fprintf(stderr, "*** %s is not a tablebase signature\n", name.c_str());
        return false;
    }
    TableStore store(dir);
    TbGenStats local;
    const auto start = std::chrono::steady_clock::now();
    std::vector<int> busy;
    const bool ok = make(store, t, log, local, busy);
    local.seconds = seconds_since(start);
    if (stats) {
        stats->tables_made += local.tables_made;
        stats->positions += local.positions;
        stats->seconds += local.seconds;
    }
    return ok;
}

long long tbgen_verify(const std::string& dir, const std::string& name, std::FILE* log) {
    tb_init_index();
    const int t = tb_number(name);
    if (t == 0) return -1;
    TableStore store(dir);
    const TableValues* own = store.get(t);
    if (own == nullptr) return -1;
    long long wrong = 0;
    for (int s = 0; s < 2; ++s)
        for (std::uint32_t i = 0; i < tb_count(t, s); ++i) {
            TbBoard b;
            const int stored = own->side[s][i];
            int want = UNKNOWN;
            bool beyond = false;
            if (tb_decode(t, s, i, b) && tb_legal(b)) want = expected_byte(t, b, *own, store, &beyond);
            if (want == stored || beyond) continue;
            if (log && wrong < 10)
                std::fprintf(log, "%s %s index %u: stored %d, successors give %d\n", name.c_str(), s ? "nbb" : "nbw", i,
                             stored, want);
            ++wrong;
        }
    return wrong;
}

}  // namespace varkon
