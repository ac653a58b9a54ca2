// strength: a weaker engine on request (UCI_LimitStrength with UCI_Elo).
//
// A strength setting is an Elo figure on the scale of the README's calibration table. A
// calibration maps it to a level, and the level limits a search in three ways: a node
// budget that doubles every hundred levels, a cap on the iterations and, at lower levels, a
// choice among the root moves: after the search every root move is scored by a short
// search of its own, and the answer is drawn at random (from the request's seed) among the
// search's best move and the moves within a margin of the best score, nearer moves more
// often. The margin shrinks to nothing as the level grows; no move scoring more than the
// margin below the best is ever chosen, so a low setting gives away at most about a pawn
// and a half at a time and a high one plays the search's move. A limited search runs on
// one thread.
#pragma once

#include <cstdint>

#include "search/request.h"
#include "search/worker.h"

namespace varkon {

constexpr int STRENGTH_ELO_MIN = 1000;
constexpr int STRENGTH_ELO_MAX = 2800;
constexpr int STRENGTH_ELO_DEFAULT = 1500;   // what UCI_Elo shows before a GUI sets it

// What a setting allows a search.
struct StrengthLimits {
    std::uint64_t nodes;   // the node budget
    int depth;             // the most iterations
    int margin;            // centipawns below the best score a chosen move may lose; 0: no choice
    int scoring_plies;     // the depth of the short search that scores each root move
};

// The limits of a setting (clamped into STRENGTH_ELO_MIN..STRENGTH_ELO_MAX).
StrengthLimits strength_limits(int elo);

// A request under the limits of its strength setting: its node and depth limits are the
// tighter of its own and the setting's. A request without a setting is returned as it is.
SearchRequest limited_request(const SearchRequest& r);

// Draws among `n` scores: the index `keep` (the search's own choice) and every index whose
// score is at most `margin` below the best of them, with weights falling linearly from
// margin + 1 at the best score to 1 at the margin (`keep` weighs as the best). The same
// seed gives the same choice.
int draw_within_margin(const int* scores, int n, int keep, int margin, std::uint64_t seed);

// After a limited search of the worker's root moves (generated at ply 0): when the setting
// has a margin, scores the legal root moves and replaces the worker's root move, score and
// line by the move drawn among them. The search's input poll and clock are not consulted
// (the scoring takes a few thousand nodes at most). `search_root` is the program's root
// search, as its search policy names it.
using RootSearch = int (*)(SearchWorker& w, int iteration, int alpha, int beta);
void choose_weaker_root_move(SearchWorker& w, RootSearch search_root, const SearchRequest& r);

}  // namespace varkon
