#include "search/tablebase_root.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "egtb/syzygy.h"
#include "search/hash.h"
#include "search/search_tools.h"

namespace varkon {

namespace {

// Ordering keys above any the programs give, so the tables' order comes first.
constexpr int KEY_BASE = 1 << 28;

// Whether the game position occurred before since the last capture or pawn move.
bool repeated(const Position& pos) {
    const int now = pos.game_ply;
    for (int g = now - 2; g >= now - pos.fifty[now] && g >= 1; g -= 2)
        if (pos.hash_history[g] == pos.hash_history[now]) return true;
    return false;
}

}  // namespace

void narrow_root_by_tables(SearchWorker& w) {
    w.root_tables = RootTables{};
    Position& pos = w.pos;
    const PlyState& st = pos.ply_state[0];
    if (st.pieces + st.pawns > syzygy_cardinality() || (st.castle[0] | st.castle[1] | st.castle[2] | st.castle[3]) != 0)
        return;
    std::vector<SyzygyRootMove> ranked;
    if (!syzygy_root_moves(pos, ranked)) return;
    const bool rule50 = syzygy_options().rule50;
    // The class of a move: its outcome, with the rule off cursed wins and blessed losses
    // counting as wins and losses.
    auto outcome_class = [&](const SyzygyRootMove& r) {
        const int o = static_cast<int>(r.outcome);
        return rule50 || o == 0 ? o : o > 0 ? 2 : -2;
    };
    const int first = st.move_start, end = pos.ply_state[1].move_start;
    // The ranking of each root move; moves the tables do not list are not legal.
    std::vector<const SyzygyRootMove*> of(static_cast<std::size_t>(end - first), nullptr);
    int best = INT_MIN;
    for (int i = first; i < end; ++i) {
        const Move& m = pos.move_stack[i];
        for (const SyzygyRootMove& r : ranked)
            if (r.from == m.from && r.to == m.to && r.promotion == m.promotion) of[static_cast<std::size_t>(i - first)] = &r;
        if (const SyzygyRootMove* r = of[static_cast<std::size_t>(i - first)]) best = std::max(best, outcome_class(*r));
    }
    if (best == INT_MIN) return;
    // Among the moves of the best class: in a win after a repetition only the fastest, in a
    // loss only the slowest.
    int bound = best == 2 ? INT_MAX : INT_MIN;
    const bool fastest = best == 2 && repeated(pos), slowest = best == -2;
    for (const SyzygyRootMove* r : of)
        if (r != nullptr && outcome_class(*r) == best) bound = best == 2 ? std::min(bound, r->dtz) : std::max(bound, r->dtz);
    int out = first;
    for (int i = first; i < end; ++i) {
        const SyzygyRootMove* r = of[static_cast<std::size_t>(i - first)];
        if (r == nullptr || outcome_class(*r) != best) continue;
        if ((fastest && r->dtz != bound) || (slowest && r->dtz != bound)) continue;
        Move m = pos.move_stack[i];
        m.score = best == 2 ? KEY_BASE - r->dtz : best == -2 ? KEY_BASE + r->dtz : KEY_BASE + m.score / 16;
        pos.move_stack[out++] = m;
    }
    pos.ply_state[1].move_start = out;
    w.root_tables.decided = true;
    w.root_tables.score = best == 2 ? TB_WIN_SCORE : best == -2 ? -TB_WIN_SCORE : 0;
}

int reported_root_score(const SearchWorker& w, int search_score) {
    if (!w.root_tables.decided) return search_score;
    const int tables = w.root_tables.score;
    // A mate the search found stands when it agrees with the tables.
    if ((tables > 0 && search_score > MATE_BOUND) || (tables < 0 && search_score < -MATE_BOUND)) return search_score;
    return tables;
}

}  // namespace varkon
