#include "search/swap.h"

#include <algorithm>
#include <cstdlib>

namespace varkon {

namespace {

constexpr int MAX_ATTACKERS = 17;

struct AttackerList {
    int value[MAX_ATTACKERS];
    int count = 0;
    int used = 0;
    void add(int v) {
        if (count < MAX_ATTACKERS) value[count++] = v;
    }
    // Takes the least valuable attacker not yet used (the first of equal values).
    int take() {
        int best = used;
        for (int k = used + 1; k < count; ++k)
            if (value[k] < value[best]) best = k;
        std::swap(value[used], value[best]);
        return value[used++];
    }
    bool exhausted() const { return used >= count; }
};

// Appends the attackers of `to` as the board stands to the list of their colour.
void collect(const std::int8_t* board, int to, AttackerList& white, AttackerList& black) {
    auto list_of = [&](int code) -> AttackerList& { return code > 0 ? white : black; };
    if (board[to + 11] == -PAWN) black.add(piece_value[PAWN]);
    if (board[to + 9] == -PAWN) black.add(piece_value[PAWN]);
    if (board[to - 11] == PAWN) white.add(piece_value[PAWN]);
    if (board[to - 9] == PAWN) white.add(piece_value[PAWN]);
    for (int d = 0; d < 8; ++d) {
        const int dir = king_dirs[d];
        const int slider = d < 4 ? BISHOP : ROOK;
        int s = to + dir;
        const int first = board[s];
        if (first == KING || first == -KING) {
            list_of(first).add(0);
            continue;
        }
        while (board[s] == EMPTY) s += dir;
        const int c = board[s];
        if (c == OFF_BOARD) continue;
        const int type = std::abs(c);
        if (type == slider || type == QUEEN) list_of(c).add(piece_value[type]);
    }
    for (int off : knight_offsets) {
        const int q = to + off;
        if (q < 0 || q >= 120) continue;
        if (board[q] == KNIGHT || board[q] == -KNIGHT) list_of(board[q]).add(piece_value[KNIGHT]);
    }
}

}  // namespace

int see(Position& pos, Square from, Square to) {
    std::int8_t* board = pos.board;
    const Side side = pos.side;
    AttackerList white, black;
    AttackerList& own = side == WHITE ? white : black;
    AttackerList& other = side == WHITE ? black : white;
    const int mover = board[from];
    board[from] = EMPTY;
    own.add(piece_value[std::abs(mover)]);
    own.used = 1;
    collect(board, to, white, black);
    const int target = board[to];
    const int v = target == EMPTY ? 0 : piece_value[std::abs(target)];
    if (other.count == 0) {
        board[from] = static_cast<std::int8_t>(mover);
        return v;
    }
    int balance = v, low = v, high = -32000;
    int last_own = own.value[0], last_other = 0;
    bool others_turn = true;
    for (;;) {
        AttackerList& x = others_turn ? other : own;
        if (x.exhausted()) break;
        const int value = x.take();
        if (others_turn) {
            balance -= last_own;
            high = std::max(high, balance);
            if (own.exhausted()) low = std::min(low, balance);
            last_other = value;
        } else {
            balance += last_other;
            low = std::min(low, balance);
            if (other.exhausted()) high = std::max(high, balance);
            last_own = value;
        }
        others_turn = !others_turn;
    }
    board[from] = static_cast<std::int8_t>(mover);
    return std::min(high, low);
}

}  // namespace varkon
