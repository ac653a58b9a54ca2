// eval: the static evaluation of the current position, in centipawns from the side to
// move's point of view.
//
// Each program has an evaluation of its own; the running program chooses one at start-up
// (select_evaluation) and every caller goes through evaluate(). `evaluate_standard` is
// varkon's: material, pawn structure with its cache, piece placement and mobility, king
// placement and shelter, with two lazy exits outside the window. It keeps no state
// between calls but the pawn cache, whose storage the hash module provides.
#pragma once

#include <cstdint>

#include "core/position.h"

namespace varkon {

using EvaluateFn = int (*)(int alpha, int beta);

void select_evaluation(EvaluateFn f);
// The running program's evaluation; exact inside the window widened by its lazy margins.
int evaluate(int alpha, int beta);

// ---- varkon's evaluation ------------------------------------------------------------
constexpr int LAZY_MARGIN_MATERIAL = 320;
constexpr int LAZY_MARGIN_PAWNS = 150;

// Returns the material balance when it lies more than LAZY_MARGIN_MATERIAL outside the
// window (strictly), material and pawn structure when that lies more than
// LAZY_MARGIN_PAWNS outside, else the full score (counted in stats.eval_count).
int evaluate_standard(int alpha, int beta);
// Forgets the piece and king terms remembered by position (the pawn cache is the hash
// module's): the next evaluations compute everything afresh.
void clear_evaluation_cache();

// The terms, each from White's point of view. They read `endgame`, which the full
// evaluation sets first; eval_pieces reads the `pawn_mask` eval_pawn_structure leaves.
extern int endgame;                 // 1 when the non-pawn material of both sides is <= 3300
extern std::uint8_t pawn_mask[2];   // [0] White, [1] Black: bit f - 1 set when file f holds a pawn
int eval_pawn_structure();          // through the pawn cache; counts stats.phash_hits
int eval_pieces();
int eval_king();

}  // namespace varkon
