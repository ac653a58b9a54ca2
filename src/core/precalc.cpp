#include "core/precalc.h"

#include <cstdlib>

namespace varkon {

const int king_dirs[8] = {-9, -11, 9, 11, -1, 10, 1, -10};
const int knight_offsets[8] = {19, 21, 12, -8, -19, -21, -12, 8};
const int bishop_dirs[4] = {-9, -11, 9, 11};
const int rook_dirs[4] = {-1, 10, 1, -10};

namespace {

constexpr bool on_board(int q) { return q >= 21 && q <= 98 && q % 10 != 0 && q % 10 != 9; }

template <std::size_t N, typename F>
constexpr std::array<int, N> square_table(F f) {
    std::array<int, N> t{};
    for (int q = 0; q < static_cast<int>(N); ++q) t[q] = on_board(q) ? f(q % 10, q / 10 - 1) : 0;
    return t;
}

constexpr std::array<std::int8_t, 120> make_start_board() {
    constexpr std::int8_t back[8] = {4, 2, 3, 5, 6, 3, 2, 4};
    std::array<std::int8_t, 120> b{};
    for (int q = 0; q < 120; ++q) {
        if (!on_board(q)) {
            b[q] = 100;
            continue;
        }
        int f = q % 10, r = q / 10 - 1;
        b[q] = r == 1 ? back[f - 1] : r == 2 ? 1 : r == 7 ? -1 : r == 8 ? -back[f - 1] : 0;
    }
    return b;
}

}  // namespace

const std::array<int, 120> rank_of = square_table<120>([](int, int r) { return r; });
const std::array<int, 120> file_of = square_table<120>([](int f, int) { return f; });
const std::array<int, 100> diagonal_a8h1 = square_table<100>([](int f, int r) { return r + f - 1; });
const std::array<int, 100> diagonal_a1h8 = square_table<100>([](int f, int r) { return f - r + 8; });
const std::array<int, 99> sq64 = square_table<99>([](int f, int r) { return (r - 1) * 8 + f - 1; });
const std::array<std::int8_t, 120> start_board = make_start_board();

std::uint8_t king_reach[99 * 99];
std::uint8_t knight_reach[99 * 99];
std::uint8_t bishop_reach[99 * 99];
std::uint8_t rook_reach[99 * 99];
std::int8_t step_toward[99 * 99];
std::int8_t distance[99 * 99];
std::int8_t knight_moves[99 * 9];
std::int8_t king_moves[99 * 9];

void init_tables() {
    for (int a = 21; a <= 98; ++a) {
        if (!on_board(a)) continue;
        for (int b = 21; b <= 98; ++b) {
            if (!on_board(b) || b == a) continue;
            int i = a * 99 + b;
            int df = std::abs(file_of[a] - file_of[b]), dr = std::abs(rank_of[a] - rank_of[b]);
            distance[i] = static_cast<std::int8_t>(df < dr ? df : dr);
            king_reach[i] = knight_reach[i] = 0;
            for (int d : king_dirs)
                if (a + d == b) king_reach[i] = 1;
            for (int d : knight_offsets)
                if (a + d == b) knight_reach[i] = 1;
            bishop_reach[i] = diagonal_a8h1[a] == diagonal_a8h1[b] || diagonal_a1h8[a] == diagonal_a1h8[b];
            rook_reach[i] = file_of[a] == file_of[b] || rank_of[a] == rank_of[b];
            step_toward[i] = 0;
            for (int d : king_dirs)
                for (int s = a + d; on_board(s); s += d)
                    if (s == b) step_toward[i] = static_cast<std::int8_t>(d);
        }
    }
    for (int c = 0; c < 99; ++c) {
        knight_moves[c * 9] = king_moves[c * 9] = 0;
        if (!on_board(c)) continue;
        for (int k = 0; k < 8; ++k) {
            if (on_board(c + knight_offsets[k]))
                knight_moves[c * 9 + 1 + knight_moves[c * 9]++] = static_cast<std::int8_t>(c + knight_offsets[k]);
            if (on_board(c + king_dirs[k]))
                king_moves[c * 9 + 1 + king_moves[c * 9]++] = static_cast<std::int8_t>(c + king_dirs[k]);
        }
    }
}

}  // namespace varkon
