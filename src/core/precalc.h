// precalc: geometry of the mailbox board, looked up instead of computed.
//
// Every table is computed by the compiler and read-only: directions, file and rank of a
// square, the start position, the two-square reach tables, the tropism distance and the
// per-square target lists. Two-square tables are flat arrays indexed a * 99 + b. Sets of
// squares are 64-bit words, bit i for square i of a1 = 0 .. h8 = 63 (sq64 of a mailbox
// square, sq120 back).
#pragma once

#include <array>
#include <cstdint>

namespace varkon {

inline constexpr int king_dirs[8] = {-9, -11, 9, 11, -1, 10, 1, -10};   // diagonals first
extern const int knight_offsets[8];
extern const int bishop_dirs[4];
extern const int rook_dirs[4];
extern const std::array<int, 120> rank_of;      // 1..8 on playing squares, 0 elsewhere
extern const std::array<int, 120> file_of;      // 1..8 on playing squares, 0 elsewhere
extern const std::array<int, 100> diagonal_a8h1;
extern const std::array<int, 100> diagonal_a1h8;
extern const std::array<int, 99> sq64;          // a1 = 0 .. h8 = 63, 0 on border squares
extern const std::array<std::int8_t, 64> sq120; // the mailbox square of a1 = 0 .. h8 = 63
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

// ray_mask[i][d]: the squares from square i (0..63) outward in direction king_dirs[d] to
// the edge, i excluded.
extern const std::array<std::array<std::uint64_t, 8>, 64> ray_mask;
extern const std::array<std::uint64_t, 64> knight_mask;   // the squares a knight on i reaches

inline bool is_playing_square(int q) { return q >= 21 && q <= 98 && file_of[q] != 0; }

inline std::uint64_t square_bit(int q) { return std::uint64_t{1} << sq64[q]; }

// Whether direction king_dirs[d] goes up the square numbering (+9, +11, +10, +1).
constexpr bool rising_direction(int d) { return d == 2 || d == 3 || d == 5 || d == 6; }

// The index (0..63) of the first square of `squares` (a subset of ray_mask[i][D]) seen
// from i in direction D; 63 (rising) or 0 (falling) when the set is empty: squares from
// which no square lies further in that direction.
template <int D>
inline int first_on_ray(std::uint64_t squares) {
    if constexpr (rising_direction(D))
        return __builtin_ctzll(squares | std::uint64_t{1} << 63);
    else
        return 63 - __builtin_clzll(squares | 1);
}

// The squares a slider on i (0..63) sees in direction D with `occupied` standing: every
// square up to and including the first occupied one.
template <int D>
inline std::uint64_t ray_attacks(int i, std::uint64_t occupied) {
    return ray_mask[i][D] ^ ray_mask[first_on_ray<D>(occupied & ray_mask[i][D])][D];
}

// The squares a bishop (D 0..3), rook (4..7) or queen (0..7) on i sees.
template <int... Ds>
inline std::uint64_t slider_attacks(int i, std::uint64_t occupied) {
    return (ray_attacks<Ds>(i, occupied) | ...);
}

// The number of squares in a set (portable: no population-count instruction assumed).
inline int count_squares(std::uint64_t b) {
    b = b - ((b >> 1) & 0x5555555555555555ULL);
    b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
    b = (b + (b >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>((b * 0x0101010101010101ULL) >> 56);
}

}  // namespace varkon
