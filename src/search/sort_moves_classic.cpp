#include "search/sort_moves_classic.h"

#include <cstdlib>

#include "search/sort_moves.h"
#include "search/swap.h"

namespace varkon {

namespace {

enum Stage : int { HASH_MOVE, KEY_CAPTURES, GOOD_CAPTURES, KILLER_1, KILLER_2, KEY_REST, REST };

// The picker's place in the list of each ply, and the ply's hash move.
struct PickState {
    int stage;
    int hash_from, hash_to;
};
PickState pick[MAX_PLY + 2];

inline int ply_end() { return ply_state[ply + 1].move_start; }

inline void swap_moves(int a, int b) {
    const Move t = move_stack[a];
    move_stack[a] = move_stack[b];
    move_stack[b] = t;
}

// Brings the first move from..to found among positions i.. to i; false when there is none.
bool bring_forward(int i, int from, int to) {
    if (from == 0 || to == 0) return false;
    for (int j = i, end = ply_end(); j < end; ++j)
        if (move_stack[j].from == from && move_stack[j].to == to) {
            if (j != i) swap_moves(i, j);
            return true;
        }
    return false;
}

}  // namespace

int classic_capture_key(const Move& m) {
    const int victim = piece_value[m.captured];
    if (m.promotion != 0) return victim + piece_value[m.promotion] + 3999900;
    const int capturer = piece_value[std::abs(m.piece)];
    if (victim >= capturer) return victim - capturer + CLASSIC_GOOD_CAPTURE;
    const int exchange = see(m.from, m.to);
    return exchange >= 0 ? exchange + CLASSIC_GOOD_CAPTURE : exchange;
}

void classic_pick_start(int hash_from, int hash_to) { pick[ply] = PickState{HASH_MOVE, hash_from, hash_to}; }

void classic_pick_move(int i) {
    PickState& p = pick[ply];
    switch (p.stage) {
        case HASH_MOVE:
            p.stage = KEY_CAPTURES;
            if (bring_forward(i, p.hash_from, p.hash_to)) return;
            [[fallthrough]];
        case KEY_CAPTURES:
            for (int j = i, end = ply_end(); j < end; ++j) {
                Move& m = move_stack[j];
                m.score = m.captured != 0 ? classic_capture_key(m) : -CLASSIC_GOOD_CAPTURE;
            }
            p.stage = GOOD_CAPTURES;
            [[fallthrough]];
        case GOOD_CAPTURES:
            select_best(i);
            if (move_stack[i].score >= CLASSIC_GOOD_CAPTURE) return;
            p.stage = KILLER_1;
            [[fallthrough]];
        case KILLER_1:
            p.stage = KILLER_2;
            if (bring_forward(i, killers[ply][0].from, killers[ply][0].to)) return;
            [[fallthrough]];
        case KILLER_2:
            p.stage = KEY_REST;
            if (bring_forward(i, killers[ply][1].from, killers[ply][1].to)) return;
            [[fallthrough]];
        case KEY_REST:
            for (int j = i, end = ply_end(); j < end; ++j) {
                Move& m = move_stack[j];
                m.score = history[m.from][m.to] + CLASSIC_QUIET;
            }
            p.stage = REST;
            [[fallthrough]];
        default: select_best(i); return;
    }
}

void classic_store_killer(int i) {
    const Move& m = move_stack[i];
    if (m.captured != 0 || m.promotion != 0 || m.ep_square != 0) return;
    HashMove* k = killers[ply];
    if (m.from == k[0].from || m.to == k[0].to) return;
    k[1] = k[0];
    k[0] = HashMove{m.from, m.to};
}

}  // namespace varkon
