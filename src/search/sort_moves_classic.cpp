#include "search/sort_moves_classic.h"

#include <cstdlib>

#include "search/search_tools.h"
#include "search/swap.h"

namespace varkon {

namespace {

enum Stage : int { HASH_MOVE, KEY_CAPTURES, GOOD_CAPTURES, KILLER_1, KILLER_2, KEY_REST, REST };

inline void swap_moves(Move* moves, int a, int b) {
    const Move t = moves[a];
    moves[a] = moves[b];
    moves[b] = t;
}

// Brings the first move from..to found among positions i.. to i; false when there is none.
bool bring_forward(Position& pos, int i, int from, int to) {
    if (from == 0 || to == 0) return false;
    for (int j = i, end = pos.ply_state[pos.ply + 1].move_start; j < end; ++j)
        if (pos.move_stack[j].from == from && pos.move_stack[j].to == to) {
            if (j != i) swap_moves(pos.move_stack, i, j);
            return true;
        }
    return false;
}

}  // namespace

int classic_capture_key(Position& pos, const Move& m) {
    const int victim = piece_value[m.captured];
    if (m.promotion != 0) return victim + piece_value[m.promotion] + 3999900;
    const int capturer = piece_value[std::abs(m.piece)];
    if (victim >= capturer) return victim - capturer + CLASSIC_GOOD_CAPTURE;
    const int exchange = see(pos, m.from, m.to);
    return exchange >= 0 ? exchange + CLASSIC_GOOD_CAPTURE : exchange;
}

void classic_pick_start(SearchWorker& w, int hash_from, int hash_to) {
    PlyFrame& f = w.frames[w.pos.ply];
    f.pick_stage = HASH_MOVE;
    f.hash_move = HashMove{static_cast<std::int8_t>(hash_from), static_cast<std::int8_t>(hash_to)};
}

void classic_pick_move(SearchWorker& w, int i) {
    Position& pos = w.pos;
    PlyFrame& f = w.frames[pos.ply];
    const int end = pos.ply_state[pos.ply + 1].move_start;
    switch (f.pick_stage) {
        case HASH_MOVE:
            f.pick_stage = KEY_CAPTURES;
            if (bring_forward(pos, i, f.hash_move.from, f.hash_move.to)) return;
            [[fallthrough]];
        case KEY_CAPTURES:
            for (int j = i; j < end; ++j) {
                Move& m = pos.move_stack[j];
                m.score = m.captured != 0 ? classic_capture_key(pos, m) : -CLASSIC_GOOD_CAPTURE;
            }
            f.pick_stage = GOOD_CAPTURES;
            [[fallthrough]];
        case GOOD_CAPTURES:
            select_best(pos, i);
            if (pos.move_stack[i].score >= CLASSIC_GOOD_CAPTURE) return;
            f.pick_stage = KILLER_1;
            [[fallthrough]];
        case KILLER_1:
            f.pick_stage = KILLER_2;
            if (bring_forward(pos, i, f.killers[0].from, f.killers[0].to)) return;
            [[fallthrough]];
        case KILLER_2:
            f.pick_stage = KEY_REST;
            if (bring_forward(pos, i, f.killers[1].from, f.killers[1].to)) return;
            [[fallthrough]];
        case KEY_REST:
            for (int j = i; j < end; ++j) {
                Move& m = pos.move_stack[j];
                m.score = w.history[m.from][m.to] + CLASSIC_QUIET;
            }
            f.pick_stage = REST;
            [[fallthrough]];
        default: select_best(pos, i); return;
    }
}

void classic_store_killer(SearchWorker& w, int i) {
    const Move& m = w.pos.move_stack[i];
    if (m.captured != 0 || m.promotion != 0 || m.ep_square != 0) return;
    HashMove* k = w.frames[w.pos.ply].killers;
    if (m.from == k[0].from || m.to == k[0].to) return;
    k[1] = k[0];
    k[0] = HashMove{m.from, m.to};
}

}  // namespace varkon
