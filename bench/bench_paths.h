// bench_paths: the engine's hot paths measured one by one (generation, make/unmake, the
// legality and check tests, move selection, quiescence of both programs).
#pragma once

namespace varkon {

// Prints the processor time of each path per unit of work, at the leaves of fixed trees.
void bench_paths();

}  // namespace varkon
