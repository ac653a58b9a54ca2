#include "frontend/utils.h"

#include <chrono>
#include <cstdio>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/output.h"

namespace varkon {

std::uint32_t now_cs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>((ms / 1000) * 100 + (ms % 1000) / 10);
}

namespace {

// Counts below the current ply; the moves of the ply are generated pseudo-legally and a
// move is counted when it does not leave the mover's king attacked.
std::uint64_t count_leaves(int depth) {
    if (depth <= 0 || ply >= MAX_PLY - 1) return 1;
    ply_state[ply].in_check = 0;
    generate_moves();
    const int first = ply_state[ply].move_start, last = ply_state[ply + 1].move_start;
    std::uint64_t total = 0;
    for (int i = first; i < last; ++i) {
        make_move(i);
        if (!king_in_check(-side)) total += depth == 1 ? 1 : count_leaves(depth - 1);
        unmake_move(i);
    }
    return total;
}

}  // namespace

std::uint64_t perft(int depth) { return count_leaves(depth); }

std::uint64_t perft_divide(int depth) {
    if (depth <= 0) {
        std::printf("\nNodes searched: 1\n");
        return 1;
    }
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
    const int last = ply_state[1].move_start;
    std::uint64_t total = 0;
    for (int i = 1; i < last; ++i) {
        make_move(i);
        if (!king_in_check(-side)) {
            const std::uint64_t n = count_leaves(depth - 1);
            total += n;
            std::printf("%s: %llu\n", move_to_text(move_stack[i]).s, static_cast<unsigned long long>(n));
        }
        unmake_move(i);
    }
    std::printf("\nNodes searched: %llu\n", static_cast<unsigned long long>(total));
    return total;
}

}  // namespace varkon
