#include "core/precalc.h"

namespace varkon {

constexpr int knight_offsets[8] = {19, 21, 12, -8, -19, -21, -12, 8};
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

namespace {

constexpr int abs_of(int v) { return v < 0 ? -v : v; }
constexpr int file_at(int q) { return q % 10; }
constexpr int rank_at(int q) { return q / 10 - 1; }

// A table over pairs of distinct playing squares, `f(a, b)` at a * 99 + b, 0 elsewhere.
template <typename T, typename F>
constexpr std::array<T, 99 * 99> pair_table(F f) {
    std::array<T, 99 * 99> t{};
    for (int a = 21; a <= 98; ++a)
        for (int b = 21; b <= 98; ++b)
            if (on_board(a) && on_board(b) && a != b) t[a * 99 + b] = static_cast<T>(f(a, b));
    return t;
}

constexpr bool reached_by_step(const int (&offsets)[8], int a, int b) {
    for (int d : offsets)
        if (a + d == b) return true;
    return false;
}

constexpr int step_between(int a, int b) {
    int step = 0;
    for (int d : king_dirs)
        for (int s = a + d; on_board(s); s += d)
            if (s == b) step = d;
    return step;
}

// Per square: the count, then the playing squares one offset away, in the offsets' order.
constexpr SquareTargets target_lists(const int (&offsets)[8]) {
    SquareTargets t{};
    for (int c = 0; c < 99; ++c) {
        if (!on_board(c)) continue;
        for (int d : offsets)
            if (on_board(c + d)) t[c * 9 + 1 + t[c * 9]++] = static_cast<std::int8_t>(c + d);
    }
    return t;
}

}  // namespace

const SquarePairTable king_reach = pair_table<std::uint8_t>([](int a, int b) { return reached_by_step(king_dirs, a, b); });
const SquarePairTable knight_reach =
    pair_table<std::uint8_t>([](int a, int b) { return reached_by_step(knight_offsets, a, b); });
const SquarePairTable bishop_reach = pair_table<std::uint8_t>([](int a, int b) {
    return file_at(a) + rank_at(a) == file_at(b) + rank_at(b) || file_at(a) - rank_at(a) == file_at(b) - rank_at(b);
});
const SquarePairTable rook_reach =
    pair_table<std::uint8_t>([](int a, int b) { return file_at(a) == file_at(b) || rank_at(a) == rank_at(b); });
const SquarePairSteps step_toward = pair_table<std::int8_t>(step_between);
const SquarePairSteps distance = pair_table<std::int8_t>([](int a, int b) {
    const int df = abs_of(file_at(a) - file_at(b)), dr = abs_of(rank_at(a) - rank_at(b));
    return df < dr ? df : dr;
});
const SquareTargets knight_moves = target_lists(knight_offsets);

const std::array<std::int8_t, 64> sq120 = [] {
    std::array<std::int8_t, 64> t{};
    for (int i = 0; i < 64; ++i) t[i] = static_cast<std::int8_t>(21 + i % 8 + 10 * (i / 8));
    return t;
}();

namespace {

constexpr std::uint64_t bit_of(int q) { return std::uint64_t{1} << ((q / 10 - 2) * 8 + q % 10 - 1); }

}  // namespace

const std::array<std::array<std::uint64_t, 8>, 64> ray_mask = [] {
    std::array<std::array<std::uint64_t, 8>, 64> t{};
    for (int i = 0; i < 64; ++i)
        for (int d = 0; d < 8; ++d)
            for (int q = 21 + i % 8 + 10 * (i / 8) + king_dirs[d]; on_board(q); q += king_dirs[d]) t[i][d] |= bit_of(q);
    return t;
}();

const std::array<std::uint64_t, 64> knight_mask = [] {
    std::array<std::uint64_t, 64> t{};
    for (int i = 0; i < 64; ++i)
        for (int off : knight_offsets)
            if (const int q = 21 + i % 8 + 10 * (i / 8) + off; on_board(q)) t[i] |= bit_of(q);
    return t;
}();
const SquareTargets king_moves = target_lists(king_dirs);

}  // namespace varkon
