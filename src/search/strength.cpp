#include "search/strength.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <vector>

#include "core/moves.h"
#include "search/search_tools.h"

namespace varkon {

namespace {

// The limits grow with a level: the node budget doubles every LEVELS_PER_DOUBLING from
// FLOOR_NODES at level 1000, the iterations grow by one every LEVELS_PER_ITERATION from
// FLOOR_DEPTH, and the margin of the root move choice shrinks linearly from FLOOR_MARGIN
// to nothing at MARGIN_ENDS.
constexpr double FLOOR_NODES = 200;
constexpr int LEVELS_PER_DOUBLING = 100;
constexpr int FLOOR_DEPTH = 2;
constexpr int LEVELS_PER_ITERATION = 80;
constexpr int FLOOR_MARGIN = 150;
constexpr int MARGIN_ENDS = 1800;

// The calibration: the level that plays at an Elo setting, measured in matches against
// Stockfish's own UCI_Elo at 2 s + 0.02 s a game (the README's table); linear between the
// rows. Above the last measured row the level grows nearly as the setting.
struct ScalePoint {
    int elo;
    int level;
};
constexpr ScalePoint SCALE[] = {{STRENGTH_ELO_MIN, 1120}, {1160, 1350}, {1590, 1700}, {STRENGTH_ELO_MAX, 2800}};

int level_of(int elo) {
    const int e = std::clamp(elo, STRENGTH_ELO_MIN, STRENGTH_ELO_MAX);
    std::size_t k = 1;
    while (k + 1 < std::size(SCALE) && SCALE[k].elo < e) ++k;
    const ScalePoint& a = SCALE[k - 1];
    const ScalePoint& b = SCALE[k];
    return a.level + (b.level - a.level) * (e - a.elo) / (b.elo - a.elo);
}
// Two plies and the quiescence search: every root move is seen with the opponent's
// replies, so that a piece left en prise or a mate in one is never taken for a fair move.
constexpr int SCORING_PLIES = 2;

// A well-mixed 64-bit function of the seed (splitmix64's finaliser).
std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Searches the root move `m` alone to `plies` plies with a full window: the worker's root
// move, score and line become that move's.
int search_one_root_move(SearchWorker& w, RootSearch search_root, const Move& m, int plies) {
    Position& pos = w.pos;
    const int first = pos.ply_state[0].move_start;
    pos.move_stack[first] = m;
    pos.ply_state[1].move_start = first + 1;
    w.root_best = Move{};
    w.iteration = plies;
    w.seldepth = plies;
    search_root(w, plies, -INFINITE_SCORE, INFINITE_SCORE);
    return w.root_score;
}

}  // namespace

StrengthLimits strength_limits(int elo) {
    const int e = level_of(elo) - 1000;
    StrengthLimits s;
    s.nodes = static_cast<std::uint64_t>(std::llround(FLOOR_NODES * std::exp2(static_cast<double>(e) / LEVELS_PER_DOUBLING)));
    s.depth = FLOOR_DEPTH + e / LEVELS_PER_ITERATION;
    const int span = MARGIN_ENDS - 1000;
    s.margin = std::max(0, FLOOR_MARGIN * (span - e) / span);
    s.scoring_plies = SCORING_PLIES;
    return s;
}

SearchRequest limited_request(const SearchRequest& r) {
    SearchRequest limited = r;
    if (r.strength_elo <= 0) return limited;
    const StrengthLimits s = strength_limits(r.strength_elo);
    limited.max_nodes = r.max_nodes == 0 ? s.nodes : std::min(r.max_nodes, s.nodes);
    limited.max_depth = r.max_depth == 0 ? s.depth : std::min(r.max_depth, s.depth);
    return limited;
}

int draw_within_margin(const int* scores, int n, int keep, int margin, std::uint64_t seed) {
    if (margin <= 0 || n <= 1) return keep;
    int best = scores[keep];
    for (int i = 0; i < n; ++i) best = std::max(best, scores[i]);
    const auto weight = [&](int i) -> std::uint64_t {
        if (i == keep) return static_cast<std::uint64_t>(margin) + 1;
        const int behind = best - scores[i];
        return behind <= margin ? static_cast<std::uint64_t>(margin - behind) + 1 : 0;
    };
    std::uint64_t total = 0;
    for (int i = 0; i < n; ++i) total += weight(i);
    std::uint64_t pick = mix(seed) % total;
    for (int i = 0; i < n; ++i) {
        const std::uint64_t wi = weight(i);
        if (pick < wi) return i;
        pick -= wi;
    }
    return keep;
}

void choose_weaker_root_move(SearchWorker& w, RootSearch search_root, const SearchRequest& r) {
    if (r.strength_elo <= 0 || w.root_best.from == 0) return;
    const StrengthLimits s = strength_limits(r.strength_elo);
    if (s.margin == 0) return;
    Position& pos = w.pos;
    const int first = pos.ply_state[0].move_start, end = pos.ply_state[1].move_start;

    // The search's answer, kept to be restored when the draw falls on it.
    const Move searched = w.root_best;
    const int searched_score = w.root_score, searched_iteration = w.iteration, searched_seldepth = w.seldepth;
    const int searched_length = w.pv_length[0];
    Move searched_line[MAX_PLY];
    std::copy(w.pv_table[0], w.pv_table[0] + MAX_PLY, searched_line);

    std::vector<Move> legal;
    for (int i = first; i < end; ++i)
        if (move_is_legal(pos, i)) legal.push_back(pos.move_stack[i]);
    const std::vector<Move> root(pos.move_stack + first, pos.move_stack + end);

    // The scoring searches print nothing, read no input and run to their end.
    SearchRequest quiet = r;
    quiet.output = &silent_search_output;
    quiet.poll = nullptr;
    quiet.max_nodes = 0;
    const SearchRequest* own = w.request;
    w.request = &quiet;
    const PollState poll = w.poll;
    w.poll.stopped = false;
    w.poll.counter = 0;
    w.poll.interval = INT_MAX;

    std::vector<int> scores(legal.size());
    int keep = 0;
    for (std::size_t k = 0; k < legal.size(); ++k) {
        scores[k] = search_one_root_move(w, search_root, legal[k], s.scoring_plies);
        if (same_move(legal[k], searched)) keep = static_cast<int>(k);
    }
    const int chosen = draw_within_margin(scores.data(), static_cast<int>(legal.size()), keep, s.margin, r.strength_seed);
    if (chosen == keep) {
        w.root_best = searched;
        w.root_score = searched_score;
        w.iteration = searched_iteration;
        w.seldepth = searched_seldepth;
        w.pv_length[0] = searched_length;
        std::copy(searched_line, searched_line + MAX_PLY, w.pv_table[0]);
    } else {
        search_one_root_move(w, search_root, legal[chosen], s.scoring_plies);
    }

    std::copy(root.begin(), root.end(), pos.move_stack + first);
    pos.ply_state[1].move_start = end;
    w.poll = poll;
    w.request = own;
}

}  // namespace varkon
