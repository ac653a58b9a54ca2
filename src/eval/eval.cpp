#include "eval/eval.h"

namespace varkon {

namespace {
EvaluateFn selected = nullptr;
}

void select_evaluation(EvaluateFn f) { selected = f; }

int evaluate(int alpha, int beta) { return selected(alpha, beta); }

}  // namespace varkon
