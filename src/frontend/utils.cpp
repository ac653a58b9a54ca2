#include "frontend/utils.h"

#include <cstdio>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/output.h"
#include "search/think.h"

namespace varkon {

namespace {

// Interior nodes between two looks at the input, and the state of the look.
constexpr int PERFT_POLL_INTERVAL = 1 << 8;
int perft_poll_counter = 0;
bool perft_stopped = false;

// Whether a command waiting on the input asks the count to stop.
bool perft_should_stop() {
    if (++perft_poll_counter < PERFT_POLL_INTERVAL) return perft_stopped;
    perft_poll_counter = 0;
    if (!perft_stopped && poll_input != nullptr && poll_input() == PollAction::stop)
        perft_stopped = true;
    return perft_stopped;
}

// Counts below the current ply; the moves of the ply are generated pseudo-legally and a
// move is counted when it does not leave the mover's king attacked.
std::uint64_t count_leaves(int depth) {
    if (depth <= 0 || ply >= MAX_PLY - 1) return 1;
    if (perft_should_stop()) return 0;
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

bool perft_was_stopped() { return perft_stopped; }

std::uint64_t perft(int depth) {
    perft_poll_counter = 0;
    perft_stopped = false;
    return count_leaves(depth);
}

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
    perft_poll_counter = 0;
    perft_stopped = false;
    for (int i = 1; i < last && !perft_stopped; ++i) {
        make_move(i);
        if (!king_in_check(-side)) {
            const std::uint64_t n = count_leaves(depth - 1);
            total += n;
            if (!perft_stopped)
                std::printf("%s: %llu\n", move_to_text(move_stack[i]).s, static_cast<unsigned long long>(n));
        }
        unmake_move(i);
    }
    if (perft_stopped) {
        std::printf("\nperft stopped\n");
        return 0;
    }
    std::printf("\nNodes searched: %llu\n", static_cast<unsigned long long>(total));
    return total;
}

}  // namespace varkon
