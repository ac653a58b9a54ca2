#include "core/moves.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "core/attacks.h"

namespace varkon {

namespace {

// The castling flags (bit f for flag f) lost by any move from or to a square: the king's
// and the rooks' home squares. A rook captured on its corner takes its right with it,
// and a piece that later stands there cannot revive it.
constexpr std::array<std::uint8_t, 120> make_castle_loss() {
    std::array<std::uint8_t, 120> t{};
    t[21] = 1 << WHITE_QUEEN_SIDE;
    t[28] = 1 << WHITE_KING_SIDE;
    t[25] = t[21] | t[28];
    t[91] = 1 << BLACK_QUEEN_SIDE;
    t[98] = 1 << BLACK_KING_SIDE;
    t[95] = t[91] | t[98];
    return t;
}
constexpr std::array<std::uint8_t, 120> castle_loss = make_castle_loss();

constexpr std::size_t COPIED_STATE = offsetof(PlyState, in_check);

inline int& material_of(PlyState& s, int code) { return code > 0 ? s.mat_white : s.mat_black; }

}  // namespace

void make_move(Position& pos, int i) {
    const Move m = pos.move_stack[i];
    std::int8_t* const board = pos.board;
    const int p = pos.ply, n = pos.game_ply;
    const Side side = pos.side;
    PlyState& s = pos.ply_state[p + 1];
    std::memcpy(&s, &pos.ply_state[p], COPIED_STATE);
    s.ep = 0;
    VARKON_ASSERT(n + 1 < game_history_size(pos));
    HashKey* const keys = pos.hash_history.data();
    int* const fifty = pos.fifty.data();
    HashKey key = keys[n];
    int rule50 = fifty[n] + 1;
    pos.ply = p + 1;
    pos.game_ply = n + 1;

    const int from = m.from, to = m.to;
    const int c = board[from];
    if (m.ep_square != 0) {
        const int q = m.ep_square, pawn = board[q];
        list_remove(s.piece_lists, pawn, q);
        key ^= piece_key(q, pawn);
        s.pawn_key ^= piece_key(q, pawn);
        s.mat_value -= piece_value[PAWN];
        material_of(s, pawn) -= piece_value[PAWN];
        --s.pawns;
        board[q] = EMPTY;
        s.occupied &= ~square_bit(q);
        rule50 = 0;
    } else if (m.captured != 0) {
        const int d = board[to], v = piece_value[m.captured];
        list_remove(s.piece_lists, d, to);
        key ^= piece_key(to, d);
        s.mat_value -= v;
        material_of(s, d) -= v;
        if (m.captured == PAWN) {
            --s.pawns;
            s.pawn_key ^= piece_key(to, d);
        } else {
            --s.pieces;
        }
        rule50 = 0;
    }

    if (const int lost = castle_loss[from] | castle_loss[to]; lost != 0)
        for (int f = 0; f < 4; ++f)
            if (lost & (1 << f)) s.castle[f] = 0;
    if (c == PAWN || c == -PAWN) {
        if (to - from == 20 * c) s.ep = to - 10 * c;
        s.pawn_key ^= piece_key(from, c) ^ (m.promotion ? 0 : piece_key(to, c));
        rule50 = 0;
    }

    list_move(s.piece_lists, c, from, to);
    key ^= piece_key(from, c) ^ piece_key(to, c);
    s.occupied = (s.occupied & ~square_bit(from)) | square_bit(to);
    board[to] = static_cast<std::int8_t>(c);
    board[from] = EMPTY;

    if (m.promotion != 0) {
        const int promoted = m.promotion * side;
        list_remove(s.piece_lists, c, to);
        key ^= piece_key(to, c) ^ piece_key(to, promoted);
        board[to] = static_cast<std::int8_t>(promoted);
        std::int8_t* list = s.piece_lists.sq[promoted + 6];
        VARKON_ASSERT(list[0] < MAX_PIECES_PER_CODE);
        list[1 + list[0]++] = static_cast<std::int8_t>(to);
        const int gain = piece_value[m.promotion] - piece_value[PAWN];
        s.mat_value += gain;
        material_of(s, c) += gain;
        ++s.pieces;
        --s.pawns;
        rule50 = 0;
    } else if (m.castling != 0) {
        const int rook = ROOK * side;
        const int rook_from = m.castling == 1 ? to + 1 : to - 2;
        const int rook_to = m.castling == 1 ? to - 1 : to + 1;
        list_move(s.piece_lists, rook, rook_from, rook_to);
        board[rook_to] = static_cast<std::int8_t>(rook);
        board[rook_from] = EMPTY;
        s.occupied ^= square_bit(rook_from) | square_bit(rook_to);
        key ^= piece_key(rook_from, rook) ^ piece_key(rook_to, rook);
    }

    keys[n + 1] = key ^ side_change_key();
    fifty[n + 1] = rule50;
    pos.side = -side;
    VARKON_ASSERT(position_consistent(pos));
}

namespace {

// Puts the board back as it stood before `m` was made by the side opposite to `s`.
void restore_board(std::int8_t* board, const Move& m, int s) {
    board[m.from] = board[m.to];
    board[m.to] = EMPTY;
    if (m.ep_square != 0)
        board[m.ep_square] = static_cast<std::int8_t>(s * PAWN);
    else if (m.captured != 0)
        board[m.to] = static_cast<std::int8_t>(s * m.captured);
    if (m.castling == 1) {
        board[m.to + 1] = static_cast<std::int8_t>(-ROOK * s);
        board[m.to - 1] = EMPTY;
    } else if (m.castling == 2) {
        board[m.to - 2] = static_cast<std::int8_t>(-ROOK * s);
        board[m.to + 1] = EMPTY;
    }
    if (m.promotion != 0) board[m.from] = static_cast<std::int8_t>(-s * PAWN);
}

}  // namespace

void unmake_move(Position& pos, int i) {
    --pos.ply;
    --pos.game_ply;
    restore_board(pos.board, pos.move_stack[i], pos.side);
    pos.side = -pos.side;
    VARKON_ASSERT(position_consistent(pos));
}

bool move_is_legal(Position& pos, int i) {
    make_move(pos, i);
    const bool legal = !king_in_check(pos, -pos.side);
    unmake_move(pos, i);
    return legal;
}

void make_null_move(Position& pos) {
    const int p = pos.ply, n = pos.game_ply;
    PlyState& s = pos.ply_state[p + 1];
    s.move_start = pos.ply_state[p].move_start;
    std::memcpy(&s, &pos.ply_state[p], COPIED_STATE);
    s.in_check = 0;
    s.ep = 0;
    pos.fifty[n + 1] = pos.fifty[n] + 1;
    pos.hash_history[n + 1] = pos.hash_history[n] ^ side_change_key();
    pos.side = -pos.side;
    pos.ply = p + 1;
    pos.game_ply = n + 1;
    VARKON_ASSERT(position_consistent(pos));
}

void unmake_null_move(Position& pos) {
    pos.side = -pos.side;
    --pos.ply;
    --pos.game_ply;
}

void commit_move(Position& pos) { std::memcpy(&pos.ply_state[0], &pos.ply_state[1], COPIED_STATE); }

void play_move(Position& pos, int i) {
    // The game grows by one ply; the history keeps room for a search line above it.
    reserve_game_history(pos, pos.game_ply + 1 + GAME_PLY_RESERVE);
    if (pos.game_moves.size() <= static_cast<std::size_t>(pos.game_ply))
        pos.game_moves.resize(static_cast<std::size_t>(game_history_size(pos)));
    PlayedMove& record = pos.game_moves[static_cast<std::size_t>(pos.game_ply)];
    record.move = pos.move_stack[i];
    std::memcpy(record.castle, pos.ply_state[0].castle, 4);
    record.ep = pos.ply_state[0].ep;
    pos.ply = 0;
    make_move(pos, i);
    commit_move(pos);
    pos.ply = 0;
}

bool take_back(Position& pos) {
    if (pos.game_ply <= 1) return false;
    const int g = pos.game_ply - 1;
    pos.game_ply = g;
    pos.ply = 0;
    const PlayedMove& record = pos.game_moves[static_cast<std::size_t>(g)];
    restore_board(pos.board, record.move, pos.side);
    pos.side = -pos.side;
    rebuild_piece_lists(pos);
    std::memcpy(pos.ply_state[0].castle, record.castle, 4);
    pos.ply_state[0].ep = record.ep;
    VARKON_ASSERT(position_consistent(pos));
    return true;
}

Move played_move(const Position& pos, int g) {
    if (g < 1 || g >= pos.game_ply || static_cast<std::size_t>(g) >= pos.game_moves.size()) return Move{};
    return pos.game_moves[static_cast<std::size_t>(g)].move;
}

SavedGame save_game(const Position& pos) {
    SavedGame g;
    std::memcpy(g.board, pos.board, sizeof pos.board);
    g.side = pos.side;
    g.game_ply = pos.game_ply;
    g.state = pos.ply_state[0];
    g.fen_loaded = pos.fen_loaded;
    g.keys.assign(pos.hash_history.begin(), pos.hash_history.begin() + pos.game_ply + 1);
    g.counters.assign(pos.fifty.begin(), pos.fifty.begin() + pos.game_ply + 1);
    for (int k = 0; k < pos.game_ply && static_cast<std::size_t>(k) < pos.game_moves.size(); ++k) {
        const PlayedMove& m = pos.game_moves[static_cast<std::size_t>(k)];
        g.moves.push_back(m.move);
        g.castle.push_back({m.castle[0], m.castle[1], m.castle[2], m.castle[3]});
        g.ep.push_back(m.ep);
    }
    return g;
}

void restore_game(Position& pos, const SavedGame& g) {
    reserve_game_history(pos, g.game_ply + 1 + GAME_PLY_RESERVE);
    std::memcpy(pos.board, g.board, sizeof pos.board);
    pos.side = g.side;
    pos.game_ply = g.game_ply;
    pos.ply = 0;
    pos.ply_state[0] = g.state;
    pos.fen_loaded = g.fen_loaded;
    std::copy(g.keys.begin(), g.keys.end(), pos.hash_history.begin());
    std::copy(g.counters.begin(), g.counters.end(), pos.fifty.begin());
    if (pos.game_moves.size() < g.moves.size()) pos.game_moves.resize(g.moves.size());
    for (std::size_t k = 0; k < g.moves.size(); ++k) {
        PlayedMove& m = pos.game_moves[k];
        m.move = g.moves[k];
        std::memcpy(m.castle, g.castle[k].data(), 4);
        m.ep = g.ep[k];
    }
    VARKON_ASSERT(position_consistent(pos));
}

}  // namespace varkon
