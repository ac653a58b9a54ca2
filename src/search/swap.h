// swap: static exchange evaluation — the material outcome, for the side to move, of the
// capture sequence that starts with the piece on `from` taking on `to`, each side always
// recapturing with its least valuable attacker and free to stop. The board is changed for
// the count and put back.
#pragma once

#include "core/position.h"

namespace varkon {

int see(Position& pos, Square from, Square to);

}  // namespace varkon
