#include "search/sort_moves.h"

#include <cstdlib>

#include "search/search_tools.h"

namespace varkon {

namespace {

constexpr int HASH_MOVE_KEY = 2000000;

}  // namespace

void score_moves(SearchWorker& w) {
    Position& pos = w.pos;
    const PlyFrame& frame = w.frames[pos.ply];
    const HashMove h = frame.hash_move;
    const HashMove k1 = frame.killers[0], k2 = frame.killers[1];
    for (int i = pos.cur().move_start, end = pos.ply_state[pos.ply + 1].move_start; i < end; ++i) {
        Move& m = pos.move_stack[i];
        int key;
        if (m.from == h.from && m.to == h.to)
            key = HASH_MOVE_KEY;
        else if (m.ep_square != 0)
            key = 1000000;
        else if (m.captured != 0 && m.promotion != 0)
            key = piece_value[m.promotion] + piece_value[m.captured] + 999910;
        else if (m.captured != 0)
            key = piece_value[m.captured] - piece_value[std::abs(m.piece)] + 1000000;
        else if (m.promotion != 0)
            key = piece_value[m.promotion] + 999910;
        else if (m.from == k1.from && m.to == k1.to)
            key = 500000;
        else if (m.from == k2.from && m.to == k2.to)
            key = 400000;
        else
            key = w.history[m.from][m.to] + 50000;
        m.score = key;
    }
}

void score_captures(Position& pos) {
    for (int i = pos.cur().move_start, end = pos.ply_state[pos.ply + 1].move_start; i < end; ++i) {
        Move& m = pos.move_stack[i];
        if (m.promotion != 0)
            m.score = piece_value[m.promotion] + piece_value[m.captured] - piece_value[PAWN];
        else if (m.ep_square == 0)
            m.score = piece_value[m.captured] - piece_value[std::abs(m.piece)];
        else
            m.score = 0;
    }
}

void pick_move(SearchWorker& w, int i) {
    Position& pos = w.pos;
    int& stage = w.frames[pos.ply].pick_stage;
    switch (stage) {
        case 1: {
            stage = 2;
            const HashMove h = w.frames[pos.ply].hash_move;
            if (h.from != 0 && h.to != 0)
                for (int j = i, end = pos.ply_state[pos.ply + 1].move_start; j < end; ++j)
                    if (pos.move_stack[j].from == h.from && pos.move_stack[j].to == h.to) {
                        const Move t = pos.move_stack[i];
                        pos.move_stack[i] = pos.move_stack[j];
                        pos.move_stack[j] = t;
                        return;
                    }
            stage = 3;
            score_moves(w);
            select_best(pos, i);
            return;
        }
        case 2:
            stage = 3;
            score_moves(w);
            select_best(pos, i);
            return;
        default: select_best(pos, i); return;
    }
}

void store_killer(SearchWorker& w, int i) {
    const Move& m = w.pos.move_stack[i];
    if (m.captured != 0 || m.promotion != 0 || m.ep_square != 0) return;
    HashMove* k = w.frames[w.pos.ply].killers;
    if (k[0].from == m.from && k[0].to == m.to) return;
    k[1] = k[0];
    k[0] = HashMove{m.from, m.to};
}

}  // namespace varkon
