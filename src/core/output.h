// output: writing moves as text, in coordinate notation (e2e4, e7e8q, castling as the
// king's move) and in SAN (Nf3, exd6, R1a3, e8=q; no check signs).
#pragma once

#include "core/position.h"

namespace varkon {

struct MoveText {
    char s[8];
};

MoveText move_to_text(const Move& m);
// SAN of the move at `index` of the current ply's move list; empty for index -1.
MoveText san_text(int index);

}  // namespace varkon
