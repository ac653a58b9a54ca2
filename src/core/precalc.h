// precalc: geometry of the mailbox board, looked up instead of computed.
//
// Constant tables (directions, file and rank of a square, the start position) are data
// of the program; init_tables() fills the two-square reach tables, the tropism distance
// and the per-square target lists once at start-up. All tables are read-only
// afterwards. Two-square tables are flat arrays indexed a * 99 + b.
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

extern std::uint8_t king_reach[99 * 99];
extern std::uint8_t knight_reach[99 * 99];
extern std::uint8_t bishop_reach[99 * 99];
extern std::uint8_t rook_reach[99 * 99];
extern std::int8_t step_toward[99 * 99];     // step from a towards b on a shared line, else 0
extern std::int8_t distance[99 * 99];        // min(|file difference|, |rank difference|)
extern std::int8_t knight_moves[99 * 9];     // count, then targets in knight_offsets order
extern std::int8_t king_moves[99 * 9];       // count, then targets in king_dirs order

inline bool is_playing_square(int q) { return q >= 21 && q <= 98 && file_of[q] != 0; }

void init_tables();

}  // namespace varkon
