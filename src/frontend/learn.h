// learn: book learning after a game of varkon_classic under WinBoard.
//
// The WinBoard loop calls learn_from_result with the game when the "result" command ends
// it; the book (book_learn) then moves the weights of the records of the engine's moves in
// that game, from its first move up to its last book move, by the result.
#pragma once

#include "core/position.h"

namespace varkon {

// `result` is the rest of the "result" command line ("1-0 {White mates}", "0-1",
// "1/2-1/2", "*"...). `engine_colour` is WHITE or BLACK when the engine played that side
// in the game just ended, 0 when it played no side (force mode, analysis, a game it only
// watched): then nothing changes.
void learn_from_result(const Position& pos, const char* result, Side engine_colour);

}  // namespace varkon
