#include "egtb/tbsolve.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "egtb/tbboard.h"
#include "egtb/tbprogress.h"

namespace varkon {

namespace {

// The bytes of the table files, which are also the working values: 1..126 a win in
// 127 - v moves, -126..-1 a loss in v + 126 moves, 0 a draw (or not decided yet), 127 no
// position, -128 and -127 a win and a loss longer than the bytes can tell.
constexpr std::int8_t ILLEGAL = 127, UNDECIDED = 0, WIN_BEYOND = -128, LOSS_BEYOND = -127;

// Inside the analysis distances count in plies: a win in n moves is 2n - 1 plies, a loss
// in n moves (mated after n own moves) 2n plies. The plies 0 to 251 have bytes of their
// own; the passes go over them in order.
constexpr int LEVELS = 252;

inline std::int8_t win_code(int plies) {
    const int n = (plies + 1) / 2;
    return static_cast<std::int8_t>(n <= 126 ? 127 - n : WIN_BEYOND);
}
inline std::int8_t loss_code(int plies) {
    const int n = plies / 2;
    return static_cast<std::int8_t>(n <= 125 ? n - 126 : LOSS_BEYOND);
}
inline std::int8_t level_code(int plies) { return plies & 1 ? win_code(plies) : loss_code(plies); }
// The plies of a byte with a distance of its own; -1 for the others.
inline int level_of(int c) {
    if (c >= 1 && c <= 126) return 253 - 2 * c;
    if (c >= -126 && c <= -1) return 252 + 2 * c;
    return -1;
}
inline bool is_win(int c) { return (c >= 1 && c <= 126) || c == WIN_BEYOND; }
inline bool is_loss(int c) { return (c >= -126 && c <= -1) || c == LOSS_BEYOND; }

// A byte of another table as plies from its side to move's view: >= 0 and odd a win,
// even a loss; -1 a draw; -2 no value. The bytes past the range count as their bound.
int byte_plies(int v) {
    if (v == ILLEGAL) return -2;
    if (v == 0) return -1;
    if (v == WIN_BEYOND) return 2 * 127 - 1;
    if (v == LOSS_BEYOND) return 2 * 126;
    if (v > 0) return 2 * (127 - v) - 1;
    return 2 * (v + 126);
}

// Runs work(worker) on `threads` threads, the caller's being worker 0, and waits for all.
template <class Work>
void on_workers(int threads, Work&& work) {
    if (threads <= 1) {
        work(0);
        return;
    }
    std::vector<std::thread> others;
    others.reserve(static_cast<std::size_t>(threads - 1));
    for (int w = 1; w < threads; ++w) others.emplace_back([&work, w] { work(w); });
    work(0);
    for (std::thread& th : others) th.join();
}

void count_material(const TbBoard& b, int counts[2][6]) {
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 6; ++k) counts[c][k] = 0;
        for (int i = 1; i < b.set[c].n; ++i) ++counts[c][b.set[c].type[i]];
    }
}

// The byte of a position after a capture or a promotion, from the table it is in; a
// position with the kings alone is a draw. 127 when no table holds it.
int sub_value(const TbSubTables& subs, const TbBoard& r) {
    if (r.set[0].n == 1 && r.set[1].n == 1) return 0;
    int counts[2][6];
    count_material(r, counts);
    const int found = tb_material(counts);
    if (found == 0) return ILLEGAL;
    const int t = found > 0 ? found : -found;
    const int side = found > 0 ? r.stm : 1 - r.stm;
    const std::int8_t* bytes = subs.side[t][side];
    if (bytes == nullptr) return ILLEGAL;
    const std::uint32_t index = found > 0 ? tb_index(t, side, r.set[0], r.set[1], r.ep, 0)
                                          : tb_index(t, side, r.set[1], r.set[0], r.ep, 1);
    return index == TB_NO_INDEX ? ILLEGAL : bytes[index];
}

inline bool converts(const TbMove& m) { return m.captured_slot >= 0 || m.promotion != 0; }

// Whether a decoded position can have a second index: in tables without pawns when both
// kings stand on a long diagonal, with an en-passant right when two pawns could take.
bool may_have_twin(const TbBoard& b, bool pawns) {
    if (b.ep != TB_NO_EP) return true;
    if (pawns) return false;
    // Black-to-move sides are stored mirrored: their long diagonal is a8-h1.
    const int w = b.set[0].sq[0], k = b.set[1].sq[0];
    return ((w & 7) == (w >> 3) && (k & 7) == (k >> 3)) || ((w & 7) + (w >> 3) == 7 && (k & 7) + (k >> 3) == 7);
}

class Solver {
public:
    Solver(int t, const TbSubTables& subs, const TbSolveOptions& options, std::vector<std::int8_t>* v)
        : t_(t), idx_(t), subs_(subs), threads_(std::max(1, options.threads)), stop_(options.stop), progress_(options.progress),
          v_(v) {
        const std::string name = tb_name(t);
        pawns_ = name.find('p') != std::string::npos;
        const std::size_t second_king = name.find('k', 1);
        ep_table_ = name.find('p') < second_king && name.find('p', second_king) != std::string::npos;
        for (int s = 0; s < 2; ++s) {
            count_[s] = tb_count(t, s);
            blocks_[s] = (count_[s] >> BLOCK_SHIFT) + 1;
        }
        for (int u = 1; u <= TB_TABLES; ++u)
            if (subs.side[u][0] != nullptr && subs.side[u][1] != nullptr) sub_index_[u] = std::make_unique<TbIndexer>(u);
        note_materials();
        const std::size_t largest = std::max(count_[0], count_[1]);
        candidates_.assign(largest / 64 + 1, 0);
        for (int s = 0; s < 2; ++s) pending_[s].assign(blocks_[s] * BLOCK_WORDS, 0);
        for (auto& side : any_pending_)
            for (auto& level : side) level.store(false, std::memory_order_relaxed);
    }

    bool run() {
        for (int s = 0; s < 2; ++s) v_[s].assign(count_[s], UNDECIDED);
        setup_done_.store(0);
        for (int s = 0; s < 2 && !halted(); ++s) set_up(s);
        if (halted()) return false;
        for (int d = 0; d < LEVELS && !halted(); ++d) {
            std::uint64_t now = 0;
            for (int s = 0; s < 2 && !halted(); ++s) {
                if (!any_pending_[s][d].load(std::memory_order_relaxed)) continue;
                now += pass_from(s, d);
                if (any_candidate_) verify_candidates(1 - s, d);
            }
            decided_ += now;
            if (progress_ && (now > 0 || d == 0)) progress_->pass(d + 1, decided_, now);
        }
        if (halted()) return false;
        beyond();
        if (halted()) return false;
        for (int s = 0; s < 2; ++s) fill_twins(s);
        return !halted();
    }

private:
    static constexpr int BLOCK_SHIFT = 12;
    static constexpr int BLOCK_WORDS = 4;                 // a bit for each of 256 plies
    static constexpr std::uint64_t CHUNK = 1ull << 16;    // indices a worker takes at a time

    bool halted() const {
        return failed_.load(std::memory_order_relaxed) || (stop_ && stop_->load(std::memory_order_relaxed));
    }

    // Runs body(worker, first, last) over [0, n) in pieces of `chunk`, on all workers.
    template <class Body>
    void for_chunks(std::uint64_t n, std::uint64_t chunk, Body&& body) {
        std::atomic<std::uint64_t> next{0};
        on_workers(threads_, [&](int worker) {
            while (!halted()) {
                const std::uint64_t first = next.fetch_add(1, std::memory_order_relaxed) * chunk;
                if (first >= n) return;
                body(worker, first, std::min(n, first + chunk));
            }
        });
    }

    void fail(const char* what) {
        if (!failed_.exchange(true)) std::fprintf(stderr, "*** %s: %s\n", tb_name(t_), what);
    }

    // Notes that index i of side s holds a position decided at `plies`, to be passed on
    // in the pass of that ply.
    void set_pending(int s, std::uint32_t i, int plies) {
        std::atomic_ref<std::uint64_t> word(pending_[s][(i >> BLOCK_SHIFT) * BLOCK_WORDS + plies / 64]);
        const std::uint64_t bit = 1ull << (plies % 64);
        if ((word.load(std::memory_order_relaxed) & bit) == 0) word.fetch_or(bit, std::memory_order_relaxed);
        std::atomic<bool>& any = any_pending_[s][plies];
        if (!any.load(std::memory_order_relaxed)) any.store(true, std::memory_order_relaxed);
    }

    // Takes the note of ply d off block `block` of side s; whether it was there.
    bool take_pending(int s, std::uint64_t block, int d) {
        std::atomic_ref<std::uint64_t> word(pending_[s][block * BLOCK_WORDS + d / 64]);
        const std::uint64_t bit = 1ull << (d % 64);
        if ((word.load(std::memory_order_relaxed) & bit) == 0) return false;
        word.fetch_and(~bit, std::memory_order_relaxed);
        return true;
    }

    // The byte of a position after a capture or a promotion, from the table it is in (127
    // for an illegal position); a position with the kings alone is a draw. NO_TABLE when
    // the table is not at hand.
    static constexpr int NO_TABLE = 1000;
    int sub_value(const TbBoard& r) const {
        if (r.set[0].n == 1 && r.set[1].n == 1) {
            const int a = r.set[0].sq[0], k = r.set[1].sq[0];
            const int df = (a & 7) - (k & 7), dr = (a >> 3) - (k >> 3);
            return df >= -1 && df <= 1 && dr >= -1 && dr <= 1 ? ILLEGAL : 0;
        }
        int counts[2][6];
        count_material(r, counts);
        const int found = material_of(counts);
        const int u = found > 0 ? found : -found;
        if (u == 0 || !sub_index_[u]) return NO_TABLE;
        // A table naming Black first holds the position with the colours exchanged.
        const int side = found > 0 ? r.stm : 1 - r.stm;
        const std::uint32_t index = sub_index_[u]->index(r, found < 0);
        return index < tb_count(u, side) ? subs_.side[u][side][index] : ILLEGAL;
    }

    // tb_material for the material after a capture or promotion, from the few such
    // materials noted beforehand.
    static std::uint32_t material_key(const int counts[2][6]) {
        std::uint32_t key = 0;
        for (int c = 0; c < 2; ++c)
            for (int t = 1; t <= 5; ++t) key = key * 4 + static_cast<std::uint32_t>(counts[c][t] & 3);
        return key;
    }
    int material_of(const int counts[2][6]) const {
        const std::uint32_t key = material_key(counts);
        for (const auto& [k, found] : materials_)
            if (k == key) return found;
        return tb_material(counts);
    }
    void note_materials() {
        const std::string name = tb_name(t_);
        const std::size_t k2 = name.find('k', 1);
        int counts[2][6] = {};
        auto type_of = [](char c) { return c == 'p' ? 1 : c == 'n' ? 2 : c == 'b' ? 3 : c == 'r' ? 4 : 5; };
        for (std::size_t i = 1; i < name.size(); ++i)
            if (i != k2) ++counts[i < k2 ? 0 : 1][type_of(name[i])];
        auto note = [&] { materials_.emplace_back(material_key(counts), tb_material(counts)); };
        for (int c = 0; c < 2; ++c)
            for (int taken = 0; taken <= 5; ++taken) {
                if (taken != 0 && counts[1 - c][taken] == 0) continue;
                if (taken != 0) --counts[1 - c][taken];
                note();
                if (counts[c][1] > 0)
                    for (int p = 2; p <= 5; ++p) {
                        --counts[c][1];
                        ++counts[c][p];
                        note();
                        --counts[c][p];
                        ++counts[c][1];
                    }
                if (taken != 0) ++counts[1 - c][taken];
            }
    }

    // The byte of a legal position from its moves alone: a mate, a stalemate, or the
    // values its captures and promotions reach; a win found so is the longest the
    // position can take and may shorten in the passes.
    std::int8_t first_value(const TbBoard& b) {
        int best_win = -1, worst_loss = -1;
        bool draw = false, any = false;
        tb_each_pseudo_conversion(b, [&](const TbBoard& r) {
            const int v = sub_value(r);
            if (v == NO_TABLE) {
                fail("no table for a position after a capture or promotion");
                return false;
            }
            if (v == ILLEGAL) return true;   // the move leaves its own king in check
            any = true;
            const int p = byte_plies(v);
            if (p == -1) draw = true;
            else if (p % 2 == 0) best_win = best_win < 0 ? p + 1 : std::min(best_win, p + 1);
            else worst_loss = std::max(worst_loss, p + 1);
            return true;
        });
        if (best_win >= 0) return win_code(best_win);
        if (draw) return UNDECIDED;
        if (tb_has_quiet_move(b)) return UNDECIDED;
        if (!any) return tb_in_check(b, b.stm) ? loss_code(0) : UNDECIDED;
        return loss_code(worst_loss);
    }

    void set_up(int s) {
        std::int8_t* v = v_[s].data();
        const std::uint64_t total = static_cast<std::uint64_t>(count_[0]) + count_[1];
        for_chunks(count_[s], CHUNK, [&](int worker, std::uint64_t first, std::uint64_t last) {
            TbIndexer::Cursor cursor;
            TbRowSurvey row{};
            std::uint32_t row_first = 0xFFFFFFFFu;
            for (std::uint64_t x = first; x < last; ++x) {
                const std::uint32_t i = static_cast<std::uint32_t>(x);
                // Decoding keeps pawns off the first and last ranks and the kings apart.
                const TbBoard* decoded = idx_.decode(cursor, s, i);
                TbSurvey survey{false, false, false};
                if (decoded && cursor.side == s && cursor.listed) {
                    // Along a row only the last piece moves: one survey for all of it.
                    if (cursor.first != row_first) {
                        row_first = cursor.first;
                        row = tb_row_survey(*decoded, cursor.set, cursor.slots[0]);
                    }
                    const int sq = decoded->set[cursor.set].sq[cursor.slots[0]];
                    survey.legal = !(row.illegal >> sq & 1);
                    survey.in_check = row.check >> sq & 1;
                    survey.may_convert = row.convert >> sq & 1;
                } else if (decoded) {
                    survey = tb_survey(*decoded);
                }
                if (!survey.legal || (may_have_twin(*decoded, pawns_) && idx_.index(*decoded) != i)) {
                    v[i] = ILLEGAL;
                    continue;
                }
                // Without a check or a capture or promotion nothing is decided yet.
                const std::int8_t c = !survey.may_convert && !survey.in_check ? UNDECIDED : first_value(*decoded);
                v[i] = c;
                const int level = level_of(c);
                if (level >= 0) set_pending(s, i, level);
            }
            const std::uint64_t done = setup_done_.fetch_add(last - first) + (last - first);
            if (worker == 0 && progress_) progress_->setting_up(static_cast<double>(done) / static_cast<double>(total));
        });
    }

    // The positions before b (with the other side to move), as indices of side
    // 1 - b.stm; calls f(j) for each.
    template <class F>
    void for_each_before(const TbBoard& b, F&& f) const {
        const int o = 1 - b.stm;
        const std::uint32_t count = count_[o];
        if (ep_table_) {
            // En-passant rights: position by position.
            tb_each_predecessor(b, [&](const TbBoard& p) {
                const std::uint32_t j = idx_.index(p);
                if (j < count) f(j);
                return true;
            });
            return;
        }
        // Positions before that are illegal hold 127 (or have no index): f leaves them.
        TbSquares sets[TB_MAX_SET];
        const int n = tb_unmove_squares(b, sets);
        for (int k = 0; k < n; ++k)
            each_index(b, o, o, sets[k], [&](std::uint32_t j) {
                if (j < count) f(j);
                return true;
            });
    }

    // The indices, with `side` to move, of b with piece (colour, set.slot) on each square
    // of the set in turn; f(index) says whether to go on. Returns false when it said stop.
    template <class F>
    bool each_index(const TbBoard& b, int side, int colour, const TbSquares& set, F&& f) const {
        TbIndexer::PieceMoves moves;
        idx_.prepare(b, side, colour, set.slot, moves);
        if (moves.quick) {
            for (std::uint64_t x = set.squares; x; x &= x - 1)
                if (!f(moves.at(std::countr_zero(x)))) return false;
            return true;
        }
        TbBoard p = b;
        p.stm = side;
        p.ep = TB_NO_EP;
        for (std::uint64_t x = set.squares; x; x &= x - 1) {
            p.set[colour].sq[set.slot] = std::countr_zero(x);
            if (!f(idx_.index(p))) return false;
        }
        return true;
    }

    // Passes on the positions of side s decided at d plies: the positions before a loss
    // win at d + 1, those before a win become candidates for a loss. Returns their number.
    std::uint64_t pass_from(int s, int d) {
        const int o = 1 - s;
        const std::int8_t code = level_code(d);
        const std::int8_t* v = v_[s].data();
        std::int8_t* ov = v_[o].data();
        std::atomic<std::uint64_t> counted{0};
        std::atomic<bool> candidates{false};
        for_chunks(count_[s], CHUNK, [&](int, std::uint64_t first, std::uint64_t last) {
            bool marked = false;
            std::uint64_t here = 0;
            TbIndexer::Cursor cursor;
            for (std::uint64_t block = first >> BLOCK_SHIFT; (block << BLOCK_SHIFT) < last; ++block) {
                if (!take_pending(s, block, d)) continue;
                const std::uint64_t end = std::min(last, (block + 1) << BLOCK_SHIFT);
                for (std::uint64_t x = block << BLOCK_SHIFT; x < end; ++x) {
                    // The positions of the ply are few among many: let memchr find them.
                    const void* at = std::memchr(v + x, code, end - x);
                    if (at == nullptr) break;
                    x = static_cast<std::uint64_t>(static_cast<const std::int8_t*>(at) - v);
                    ++here;
                    const TbBoard& b = *idx_.decode(cursor, s, static_cast<std::uint32_t>(x));
                    if (d % 2 == 0) {
                        const std::int8_t win = win_code(d + 1);
                        for_each_before(b, [&](std::uint32_t j) {
                            std::atomic_ref<std::int8_t> y(ov[j]);
                            const int c = y.load(std::memory_order_relaxed);
                            // Undecided, or a win by a capture or promotion that takes longer.
                            if (c == UNDECIDED || c == WIN_BEYOND || (c >= 1 && c <= 126 && level_of(c) > d + 1)) {
                                y.store(win, std::memory_order_relaxed);
                                set_pending(o, j, d + 1);
                            }
                        });
                    } else {
                        for_each_before(b, [&](std::uint32_t j) {
                            if (ov[j] != UNDECIDED) return;
                            std::atomic_ref<std::uint64_t> word(candidates_[j >> 6]);
                            const std::uint64_t bit = 1ull << (j & 63);
                            if ((word.load(std::memory_order_relaxed) & bit) == 0) word.fetch_or(bit, std::memory_order_relaxed);
                            marked = true;
                        });
                    }
                }
            }
            if (marked) candidates.store(true, std::memory_order_relaxed);
            counted.fetch_add(here, std::memory_order_relaxed);
        });
        any_candidate_ = candidates.load();
        return counted.load();
    }

    // The byte of undecided position b when every move reaches a win of the other side
    // decided by now, else 0. With `exact`, wins count only at d plies or fewer and the
    // loss is at the ply of its longest line; without, it is a loss beyond the bytes.
    std::int8_t loss_if_lost(const TbBoard& b, int d, bool exact) const {
        const int s = 1 - b.stm;
        const std::int8_t* sv = v_[s].data();
        // Moves that leave the own king in check reach indices of no position (127, or
        // none at all): they are no moves.
        const std::uint32_t count = count_[s];
        auto won = [&](std::uint32_t j) {
            if (j >= count) return true;
            const int c = exact ? sv[j] : std::atomic_ref<const std::int8_t>(sv[j]).load(std::memory_order_relaxed);
            if (exact) return c == ILLEGAL || (c >= 1 && c <= 126 && level_of(c) <= d);
            return c == ILLEGAL || is_win(c);
        };
        bool all_won = true;
        if (ep_table_) {
            all_won = tb_each_quiet_successor(b, [&](const TbBoard& r) { return won(idx_.index(r)); });
        } else {
            // Piece by piece, the king last: most positions fail at their first move.
            for (int k = 1; k <= b.set[b.stm].n && all_won; ++k) {
                const int slot = k % b.set[b.stm].n;
                const TbSquares set{slot, tb_pseudo_quiet_targets(b, slot)};
                if (set.squares) all_won = each_index(b, s, b.stm, set, won);
            }
        }
        if (!all_won) return UNDECIDED;
        int bound = d + 1;
        const bool all_lose = tb_each_pseudo_conversion(b, [&](const TbBoard& r) {
            const int v = sub_value(r);
            if (v == ILLEGAL) return true;
            const int p = byte_plies(v);
            bound = std::max(bound, p + 1);
            return p >= 0 && p % 2 == 1;
        });
        if (!all_lose) return UNDECIDED;
        return exact ? loss_code(bound) : LOSS_BEYOND;
    }

    // Decides the candidates of side o marked by the pass of ply d.
    void verify_candidates(int o, int d) {
        std::int8_t* ov = v_[o].data();
        for_chunks(candidates_.size(), CHUNK / 64, [&](int, std::uint64_t first, std::uint64_t last) {
            TbIndexer::Cursor cursor;
            take_candidates(ov, first, last, [&](std::uint32_t j) {
                const std::int8_t c = loss_if_lost(*idx_.decode(cursor, o, j), d, true);
                if (c == UNDECIDED) return;
                ov[j] = c;
                const int level = level_of(c);
                if (level >= 0) set_pending(o, j, level);
            });
        });
        any_candidate_ = false;
    }

    // Clears the candidate words first..last and calls f for each position they marked
    // that is still undecided in `ov`.
    template <class F>
    void take_candidates(const std::int8_t* ov, std::uint64_t first, std::uint64_t last, F&& f) {
        for (std::uint64_t w = first; w < last; ++w) {
            std::uint64_t bits = candidates_[w];
            candidates_[w] = 0;
            for (; bits; bits &= bits - 1) {
                const std::uint32_t j = static_cast<std::uint32_t>(w * 64 + static_cast<unsigned>(std::countr_zero(bits)));
                if (ov[j] == UNDECIDED) f(j);
            }
        }
    }

    // Past the plies with bytes of their own, only win, loss or draw is left to find out:
    // the positions decided beyond them are passed on in rounds, in no particular order.
    void beyond() {
        std::vector<std::uint32_t> list[2];
        for (int s = 0; s < 2; ++s)
            for (std::uint32_t i = 0; i < count_[s]; ++i)
                if (v_[s][i] == WIN_BEYOND || v_[s][i] == LOSS_BEYOND) list[s].push_back(i);
        while (!list[0].empty() || !list[1].empty()) {
            std::vector<std::uint32_t> next[2];
            for (int s = 0; s < 2 && !halted(); ++s) {
                const int o = 1 - s;
                std::int8_t* ov = v_[o].data();
                std::vector<std::vector<std::uint32_t>> found(static_cast<std::size_t>(threads_));
                for_chunks(list[s].size(), 1024, [&](int worker, std::uint64_t first, std::uint64_t last) {
                    for (std::uint64_t x = first; x < last; ++x) {
                        const std::uint32_t i = list[s][x];
                        const bool lost = is_loss(v_[s][i]);
                        TbBoard b;
                        idx_.decode(s, i, b);
                        for_each_before(b, [&](std::uint32_t j) {
                            std::atomic_ref<std::int8_t> y(ov[j]);
                            if (lost) {
                                std::int8_t expected = UNDECIDED;
                                if (y.compare_exchange_strong(expected, WIN_BEYOND, std::memory_order_relaxed))
                                    found[static_cast<std::size_t>(worker)].push_back(j);
                            } else if (y.load(std::memory_order_relaxed) == UNDECIDED) {
                                std::atomic_ref<std::uint64_t>(candidates_[j >> 6]).fetch_or(1ull << (j & 63),
                                                                                             std::memory_order_relaxed);
                            }
                        });
                    }
                });
                for_chunks(candidates_.size(), CHUNK / 64, [&](int worker, std::uint64_t first, std::uint64_t last) {
                    take_candidates(ov, first, last, [&](std::uint32_t j) {
                        TbBoard b;
                        idx_.decode(o, j, b);
                        if (loss_if_lost(b, 0, false) == UNDECIDED) return;
                        ov[j] = LOSS_BEYOND;
                        found[static_cast<std::size_t>(worker)].push_back(j);
                    });
                });
                for (const auto& f : found) next[o].insert(next[o].end(), f.begin(), f.end());
            }
            if (halted()) return;
            list[0].swap(next[0]);
            list[1].swap(next[1]);
        }
    }

    // A second index of a position takes the byte of the first.
    void fill_twins(int s) {
        std::int8_t* v = v_[s].data();
        for (const auto& [first, last] : tb_twin_ranges(t_, s))
            for (std::uint32_t i = first; i < last; ++i) {
                TbBoard b;
                if (v[i] != ILLEGAL || !tb_decode(t_, s, i, b) || !tb_legal(b)) continue;
                const std::uint32_t j = tb_board_index(t_, b, true);
                if (j != i) v[i] = v[j];
            }
    }

    int t_;
    TbIndexer idx_;
    const TbSubTables& subs_;
    std::unique_ptr<TbIndexer> sub_index_[TB_TABLES + 1];
    std::vector<std::pair<std::uint32_t, int>> materials_;   // after captures and promotions
    int threads_;
    const std::atomic<bool>* stop_;
    TbProgress* progress_;
    std::vector<std::int8_t>* v_;
    bool pawns_ = false;
    bool ep_table_ = false;   // pawns on both sides: positions with an en-passant right
    std::uint32_t count_[2];
    std::uint64_t blocks_[2];
    std::vector<std::uint64_t> candidates_;   // of the side being checked for losses
    std::vector<std::uint64_t> pending_[2];   // per block: the plies it holds positions of, to pass on
    std::atomic<bool> any_pending_[2][256];
    bool any_candidate_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> setup_done_{0};
    std::uint64_t decided_ = 0;
};

}  // namespace

std::uint64_t tb_solve_memory(int t) {
    const std::uint64_t n0 = tb_count(t, 0), n1 = tb_count(t, 1);
    return n0 + n1 + std::max(n0, n1) / 8 + (n0 + n1) / 128 + (1 << 20);
}

bool tb_solve(int t, const TbSubTables& subs, const TbSolveOptions& options, std::vector<std::int8_t> out[2]) {
    tb_init_index();
    Solver solver(t, subs, options, out);
    return solver.run();
}

long long tb_check(int t, const std::int8_t* const own[2], const TbSubTables& subs, int threads, std::FILE* log) {
    tb_init_index();
    struct Wrong {
        int side;
        std::uint32_t index;
        int stored, want;
        bool operator<(const Wrong& o) const { return side != o.side ? side < o.side : index < o.index; }
    };
    constexpr std::size_t SHOWN = 10;
    std::vector<std::vector<Wrong>> wrong(static_cast<std::size_t>(std::max(1, threads)));
    std::vector<long long> count(wrong.size(), 0);
    std::atomic<bool> missing{false};
    // The byte a legal position must hold from its successors' bytes; `beyond` is set
    // when a distance past the bytes' range is involved (it then is a bound only).
    auto expected = [&](const TbBoard& b, bool* beyond) {
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
            if (!converts(moves[k])) {
                const std::uint32_t j = tb_board_index(t, r, false);
                v = j < tb_count(t, r.stm) ? own[r.stm][j] : ILLEGAL;
            } else {
                v = sub_value(subs, r);
            }
            *beyond = *beyond || v == WIN_BEYOND || v == LOSS_BEYOND;
            const int p = byte_plies(v);
            if (p == -2) {
                if (converts(moves[k])) missing.store(true);
                return 1000;   // a successor without a value: never matches
            }
            if (p == -1) draw = true;
            else if (p % 2 == 0) best_win = best_win < 0 ? p + 1 : std::min(best_win, p + 1);
            else worst_loss = std::max(worst_loss, p + 1);
        }
        if (best_win >= 0) return static_cast<int>(win_code(best_win));
        if (draw) return 0;
        return static_cast<int>(loss_code(worst_loss));
    };
    for (int s = 0; s < 2; ++s) {
        std::atomic<std::uint64_t> next{0};
        const std::uint64_t n = tb_count(t, s);
        on_workers(static_cast<int>(wrong.size()), [&](int worker) {
            const std::size_t w = static_cast<std::size_t>(worker);
            for (;;) {
                const std::uint64_t first = next.fetch_add(1 << 14);
                if (first >= n) return;
                for (std::uint64_t x = first; x < std::min(n, first + (1 << 14)); ++x) {
                    const std::uint32_t i = static_cast<std::uint32_t>(x);
                    TbBoard b;
                    const int stored = own[s][i];
                    int want = ILLEGAL;
                    bool beyond = false;
                    if (tb_decode(t, s, i, b) && tb_legal(b)) want = expected(b, &beyond);
                    if (want == stored || beyond) continue;
                    if (wrong[w].size() < SHOWN) wrong[w].push_back({s, i, stored, want});
                    ++count[w];
                }
            }
        });
    }
    if (missing.load()) return -1;
    std::vector<Wrong> all;
    long long total = 0;
    for (std::size_t w = 0; w < wrong.size(); ++w) {
        all.insert(all.end(), wrong[w].begin(), wrong[w].end());
        total += count[w];
    }
    std::sort(all.begin(), all.end());
    if (log)
        for (std::size_t k = 0; k < all.size() && k < SHOWN; ++k)
            std::fprintf(log, "%s %s index %u: stored %d, successors give %d\n", tb_name(t), all[k].side ? "nbb" : "nbw",
                         all[k].index, all[k].stored, all[k].want);
    return total;
}

}  // namespace varkon
