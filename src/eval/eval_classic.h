// eval_classic: the static evaluation of varkon_classic, in centipawns from the side to
// move's point of view.
//
// The score is the material balance plus the pawn structure, fixed penalties for trapped
// pieces, king placement and shelter and, unless the score so far lies 150 or more
// outside the window, the placement and activity of knights, bishops, rooks and queens.
// Every term is computed from White's point of view with piece-square tables chosen by
// game phase (0 opening .. 3 ending) and is colour-symmetric: a position and its mirror
// image (ranks reflected, colours and side to move swapped) evaluate alike. Finished
// evaluations and pawn structures are cached in the eval_hash and pawn_hash tables of
// eval_cache_classic; a cached result is always the one a fresh evaluation would give.
#pragma once

#include "core/position.h"
#include "core/stats.h"
#include "eval/eval.h"

namespace varkon {

constexpr int CLASSIC_LAZY_MARGIN = 150;

// The evaluation: exact when the result lies inside the window widened by 150 on either
// side; otherwise possibly the score without the piece terms (counted in
// stats.lazy_count), which is then not cached. Counts stats.eval_count for full
// evaluations. Pawnless positions in phase 3 with at most one minor piece score 0.
int evaluate_classic(const Position& pos, EvalState& state, SearchStats& stats, int alpha, int beta);
// Asks the processor for the cache entries the evaluation of `pos` reads first: its
// evaluation entry and, when the move into it changed the pawns, its pawn entry.
void prefetch_classic_caches(const Position& pos, bool pawns_changed);

// Game phase of the position from its counts of pieces (kings included) and
// pawns: 0 when both exceed 13, else 1 when both exceed 8, else 2 when both exceed 6,
// else 3.
int phase_classic(const Position& pos);

// The terms, White's view, for the position evaluated in `phase`. eval_pawns_classic also
// records in `state` which files hold no pawn of each colour, which the piece and king
// terms read: call it first for the position.
int eval_pawns_classic(const Position& pos, EvalState& state, SearchStats& stats, int phase);
int eval_pieces_classic(const Position& pos, EvalState& state, int phase);
int eval_kings_classic(const Position& pos, EvalState& state, int phase);
// Trapped bishops on a7/h7 (a2/h2) and a rook on h1 (h8) shut in by its own king.
int eval_traps_classic(const Position& pos);

}  // namespace varkon
