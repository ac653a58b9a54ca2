// setup: putting a position on the board from outside: a FEN, or WinBoard's edit mode.
//
// Only positions the engine can play are accepted: one king a side, no more pieces than
// promotions allow, the side not to move not in check. A refused position leaves the
// start position and prints nothing: the caller reports it in its protocol's form.
#pragma once

#include "core/position.h"

namespace varkon {

// Sets the position from the four leading FEN fields. Returns true on success. On a
// malformed placement, or a position no game can reach in the ways the engine relies on
// (not one king a side, more pieces than promotions allow, the side not to move in
// check), returns false, prints nothing (the caller reports it in its protocol's form) and
// leaves the start position. Castling flags whose king or rook is not on its square are
// dropped.
bool setup_fen(Position& pos, const char* placement, const char* side_field, const char* castling_field,
               const char* ep_field);

// Reads WinBoard edit-mode tokens through `next_token` (nullptr at end of input) until
// one that starts with "."; returns false and keeps the start position when the edited
// position is not one the engine can play (see setup_fen). Castling flags are kept only
// where king and rook stand on their squares.
bool edit_board(Position& pos, const char* (*next_token)());

}  // namespace varkon
