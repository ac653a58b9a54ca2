// eval: the static evaluation of the current position, in centipawns from the side to
// move's point of view.
//
// Each program has an evaluation of its own; the running program chooses one at start-up
// (select_evaluation) and every caller goes through evaluate(). `evaluate_standard` is
// varkon's: material, pawn structure with its cache, piece placement and mobility, king
// placement and shelter, with two lazy exits outside the window.
#pragma once

#include "core/position.h"

namespace varkon {

using EvaluateFn = int (*)(int alpha, int beta);

void select_evaluation(EvaluateFn f);
// The running program's evaluation; exact inside the window widened by its lazy margins.
int evaluate(int alpha, int beta);

}  // namespace varkon
