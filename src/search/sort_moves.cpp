#include "search/sort_moves.h"

#include <cstdlib>
#include <cstring>

#include "search/hash.h"

namespace varkon {

HashMove killers[MAX_PLY][2];
int history[99][99];
int pick_stage[MAX_PLY];

namespace {

constexpr int HASH_MOVE_KEY = 2000000;
constexpr int HISTORY_LIMIT = 50000;

inline int ply_end() { return ply_state[ply + 1].move_start; }

}  // namespace

void clear_ordering_tables() {
    std::memset(killers, 0, sizeof killers);
    std::memset(history, 0, sizeof history);
}

void score_moves() {
    const HashMove h = hash_move[ply];
    const HashMove k1 = killers[ply][0], k2 = killers[ply][1];
    for (int i = ply_state[ply].move_start, end = ply_end(); i < end; ++i) {
        Move& m = move_stack[i];
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
            key = history[m.from][m.to] + 50000;
        m.score = key;
    }
}

void score_captures() {
    for (int i = ply_state[ply].move_start, end = ply_end(); i < end; ++i) {
        Move& m = move_stack[i];
        if (m.promotion != 0)
            m.score = piece_value[m.promotion] + piece_value[m.captured] - piece_value[PAWN];
        else if (m.ep_square == 0)
            m.score = piece_value[m.captured] - piece_value[std::abs(m.piece)];
        else
            m.score = 0;
    }
}

void select_best(int i) {
    int best = i;
    for (int j = i + 1, end = ply_end(); j < end; ++j)
        if (move_stack[j].score > move_stack[best].score) best = j;
    if (best != i) {
        const Move t = move_stack[i];
        move_stack[i] = move_stack[best];
        move_stack[best] = t;
    }
}

void pick_move(int i) {
    switch (pick_stage[ply]) {
        case 1: {
            pick_stage[ply] = 2;
            const HashMove h = hash_move[ply];
            if (h.from != 0 && h.to != 0)
                for (int j = i, end = ply_end(); j < end; ++j)
                    if (move_stack[j].from == h.from && move_stack[j].to == h.to) {
                        const Move t = move_stack[i];
                        move_stack[i] = move_stack[j];
                        move_stack[j] = t;
                        return;
                    }
            pick_stage[ply] = 3;
            score_moves();
            select_best(i);
            return;
        }
        case 2:
            pick_stage[ply] = 3;
            score_moves();
            select_best(i);
            return;
        default: select_best(i); return;
    }
}

void store_killer(int i) {
    const Move& m = move_stack[i];
    if (m.captured != 0 || m.promotion != 0 || m.ep_square != 0) return;
    HashMove* k = killers[ply];
    if (k[0].from == m.from && k[0].to == m.to) return;
    k[1] = k[0];
    k[0] = HashMove{m.from, m.to};
}

void credit_history(int i, int depth) {
    const Move& m = move_stack[i];
    int& h = history[m.from][m.to];
    h += depth * depth;
    if (h > HISTORY_LIMIT)
        for (int from = 21; from <= 98; ++from)
            for (int to = 21; to <= 98; ++to) history[from][to] /= 2;
}

}  // namespace varkon
