// precalc: geometry of the mailbox board, looked up instead of computed.
//
// Every table is computed by the compiler and read-only: directions, file and rank of a
// square, the start position, the two-square reach tables, the tropism distance and the
// per-square target lists. Two-square tables are flat arrays indexed a * 99 + b.
#pragma once

#include <array>
#include <cstdint>

namespace varkon {

extern const int king_dirs[8];       // -9, -11, +9, +11 (diagonal), -1, +10, +1, -10
extern const int knight_offsets[8];
extern const int bishop_dirs[4];
extern const int rook_dirs[4];
extern const std::array<int, 120> rank_of;      // 1..8 on playing squares, 0 elsewhere
extern const std::array<int, 120> file_of;      // 1..8 on playing squares, 0 elsewhere
extern const std::array<int, 100> diagonal_a8h1;
extern const std::array<int, 100> diagonal_a1h8;
extern const std::array<int, 99> sq64;          // a1 = 0 .. h8 = 63, 0 on border squares
extern const std::array<std::int8_t, 120> start_board;

using SquarePairTable = std::array<std::uint8_t, 99 * 99>;
using SquarePairSteps = std::array<std::int8_t, 99 * 99>;
using SquareTargets = std::array<std::int8_t, 99 * 9>;

// Whether a piece of that kind on a reaches b on an empty board (a != b).
extern const SquarePairTable king_reach;
extern const SquarePairTable knight_reach;
extern const SquarePairTable bishop_reach;
extern const SquarePairTable rook_reach;
extern const SquarePairSteps step_toward;   // step from a towards b on a shared line, else 0
extern const SquarePairSteps distance;      // min(|file difference|, |rank difference|)
extern const SquareTargets knight_moves;    // count, then targets in knight_offsets order
extern const SquareTargets king_moves;      // count, then targets in king_dirs order

inline bool is_playing_square(int q) { return q >= 21 && q <= 98 && file_of[q] != 0; }

}  // namespace varkon
