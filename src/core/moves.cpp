#include "core/moves.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

namespace varkon {

namespace {

// What a take-back needs of each move played in the game, indexed by the game_ply it
// was played from: the move, and the castling rights and en-passant square before it.
struct PlayedMove {
    Move move;
    std::uint8_t castle[4];
    int ep;
};
std::vector<PlayedMove> game_moves;

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

void make_move(int i) {
    const Move& m = move_stack[i];
    const int p = ply, n = game_ply;
    PlyState& s = ply_state[p + 1];
    std::memcpy(&s, &ply_state[p], COPIED_STATE);
    s.ep = 0;
    VARKON_ASSERT(n + 1 < game_history_size());
    HashKey key = hash_history[n];
    int rule50 = fifty[n] + 1;
    ply = p + 1;
    game_ply = n + 1;

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
        key ^= piece_key(rook_from, rook) ^ piece_key(rook_to, rook);
    }

    hash_history[n + 1] = key ^ side_change_key();
    fifty[n + 1] = rule50;
    side = -side;
    VARKON_ASSERT(position_consistent());
}

namespace {

// Puts the board back as it stood before `m` was made by the side opposite to `s`.
void restore_board(const Move& m, int s) {
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

void unmake_move(int i) {
    --ply;
    --game_ply;
    restore_board(move_stack[i], side);
    side = -side;
    VARKON_ASSERT(position_consistent());
}

void make_null_move() {
    const int p = ply, n = game_ply;
    PlyState& s = ply_state[p + 1];
    s.move_start = ply_state[p].move_start;
    std::memcpy(&s, &ply_state[p], COPIED_STATE);
    s.in_check = 0;
    s.ep = 0;
    fifty[n + 1] = fifty[n] + 1;
    hash_history[n + 1] = hash_history[n] ^ side_change_key();
    side = -side;
    ply = p + 1;
    game_ply = n + 1;
    VARKON_ASSERT(position_consistent());
}

void unmake_null_move() {
    side = -side;
    --ply;
    --game_ply;
}

void commit_move() { std::memcpy(&ply_state[0], &ply_state[1], COPIED_STATE); }

void play_move(int i) {
    // The game grows by one ply; the history keeps room for a search line above it.
    reserve_game_history(game_ply + 1 + GAME_PLY_RESERVE);
    if (game_moves.size() <= static_cast<std::size_t>(game_ply))
        game_moves.resize(static_cast<std::size_t>(game_history_size()));
    PlayedMove& record = game_moves[static_cast<std::size_t>(game_ply)];
    record.move = move_stack[i];
    std::memcpy(record.castle, ply_state[0].castle, 4);
    record.ep = ply_state[0].ep;
    ply = 0;
    make_move(i);
    commit_move();
    ply = 0;
}

bool take_back() {
    if (game_ply <= 1) return false;
    const int g = game_ply - 1;
    game_ply = g;
    ply = 0;
    const PlayedMove& record = game_moves[static_cast<std::size_t>(g)];
    restore_board(record.move, side);
    side = -side;
    rebuild_piece_lists();
    std::memcpy(ply_state[0].castle, record.castle, 4);
    ply_state[0].ep = record.ep;
    VARKON_ASSERT(position_consistent());
    return true;
}

}  // namespace varkon

namespace varkon {

Move played_move(int g) {
    if (g < 1 || g >= game_ply || static_cast<std::size_t>(g) >= game_moves.size()) return Move{};
    return game_moves[static_cast<std::size_t>(g)].move;
}

SavedGame save_game() {
    SavedGame g;
    std::memcpy(g.board, board, sizeof board);
    g.side = side;
    g.game_ply = game_ply;
    g.state = ply_state[0];
    g.fen_loaded = fen_loaded;
    g.keys.assign(hash_history, hash_history + game_ply + 1);
    g.counters.assign(fifty, fifty + game_ply + 1);
    for (int k = 0; k < game_ply && static_cast<std::size_t>(k) < game_moves.size(); ++k) {
        const PlayedMove& m = game_moves[static_cast<std::size_t>(k)];
        g.moves.push_back(m.move);
        g.castle.push_back({m.castle[0], m.castle[1], m.castle[2], m.castle[3]});
        g.ep.push_back(m.ep);
    }
    return g;
}

void restore_game(const SavedGame& g) {
    reserve_game_history(g.game_ply + 1 + GAME_PLY_RESERVE);
    std::memcpy(board, g.board, sizeof board);
    side = g.side;
    game_ply = g.game_ply;
    ply = 0;
    ply_state[0] = g.state;
    fen_loaded = g.fen_loaded;
    std::copy(g.keys.begin(), g.keys.end(), hash_history);
    std::copy(g.counters.begin(), g.counters.end(), fifty);
    if (game_moves.size() < g.moves.size()) game_moves.resize(g.moves.size());
    for (std::size_t k = 0; k < g.moves.size(); ++k) {
        PlayedMove& m = game_moves[k];
        m.move = g.moves[k];
        std::memcpy(m.castle, g.castle[k].data(), 4);
        m.ep = g.ep[k];
    }
    VARKON_ASSERT(position_consistent());
}

}  // namespace varkon
