#include "core/perft.h"

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"

namespace varkon {

namespace {

// Interior nodes between two looks at the poll.
constexpr int PERFT_POLL_INTERVAL = 1 << 8;

struct Counter {
    Position& pos;
    PerftPoll poll;
    int until_poll = PERFT_POLL_INTERVAL;
    bool stopped = false;

    bool should_stop() {
        if (--until_poll > 0) return stopped;
        until_poll = PERFT_POLL_INTERVAL;
        if (!stopped && poll != nullptr && poll()) stopped = true;
        return stopped;
    }

    // Counts below the current ply; the moves of the ply are generated pseudo-legally and
    // a move is counted when it does not leave the mover's king attacked.
    std::uint64_t leaves(int depth) {
        if (depth <= 0 || pos.ply >= MAX_PLY - 1) return 1;
        if (should_stop()) return 0;
        pos.cur().in_check = 0;
        generate_moves(pos);
        const int first = pos.cur().move_start, last = pos.ply_state[pos.ply + 1].move_start;
        std::uint64_t total = 0;
        for (int i = first; i < last; ++i) {
            make_move(pos, i);
            if (!king_in_check(pos, -pos.side)) total += depth == 1 ? 1 : leaves(depth - 1);
            unmake_move(pos, i);
        }
        return total;
    }
};

}  // namespace

PerftCount perft(Position& pos, int depth, PerftPoll poll) {
    Counter c{pos, poll};
    const std::uint64_t n = c.leaves(depth);
    return PerftCount{n, c.stopped};
}

PerftCount perft_divide(Position& pos, int depth, PerftPoll poll, void (*each)(const Move& m, std::uint64_t nodes)) {
    if (depth <= 0) return PerftCount{1, false};
    pos.ply = 0;
    pos.ply_state[0].move_start = 1;
    pos.ply_state[0].in_check = king_in_check(pos, pos.side);
    generate_moves(pos);
    const int last = pos.ply_state[1].move_start;
    Counter c{pos, poll};
    std::uint64_t total = 0;
    for (int i = 1; i < last && !c.stopped; ++i) {
        make_move(pos, i);
        if (!king_in_check(pos, -pos.side)) {
            const std::uint64_t n = c.leaves(depth - 1);
            total += n;
            if (!c.stopped) each(pos.move_stack[i], n);
        }
        unmake_move(pos, i);
    }
    return PerftCount{total, c.stopped};
}

}  // namespace varkon
