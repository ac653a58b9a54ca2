#include "core/position.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>


namespace varkon {

int piece_value[7] = {0, 90, 325, 325, 500, 975, 0};

const char piece_letter[8] = " pnbrqk";

const char* const square_name[99] = {
    "--", "--", "--", "--", "--", "--", "--", "--", "--", "--",
    "--", "--", "--", "--", "--", "--", "--", "--", "--", "--",
    "--", "a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "--",
    "--", "a2", "b2", "c2", "d2", "e2", "f2", "g2", "h2", "--",
    "--", "a3", "b3", "c3", "d3", "e3", "f3", "g3", "h3", "--",
    "--", "a4", "b4", "c4", "d4", "e4", "f4", "g4", "h4", "--",
    "--", "a5", "b5", "c5", "d5", "e5", "f5", "g5", "h5", "--",
    "--", "a6", "b6", "c6", "d6", "e6", "f6", "g6", "h6", "--",
    "--", "a7", "b7", "c7", "d7", "e7", "f7", "g7", "h7", "--",
    "--", "a8", "b8", "c8", "d8", "e8", "f8", "g8", "h8"};

namespace {

// The key table is drawn once, at build time, from a fixed seed: keys (and so opening
// books) are the same from run to run and between the two programs.
constexpr std::array<std::array<HashKey, 16>, 64> make_key_table() {
    std::array<std::array<HashKey, 16>, 64> t{};
    std::uint64_t state = 0x5641524B4F4E3532ULL;  // "VARKON52"
    for (auto& row : t)
        for (auto& k : row) {
            state += 0x9E3779B97F4A7C15ULL;
            std::uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            k = z ^ (z >> 31);
        }
    return t;
}

// The castling flags each square's king or rook carries: a right stands only while
// its king and its rook are on their squares.
struct CastlingSquares {
    int flag, king, rook, code;
};
constexpr CastlingSquares castling_squares[4] = {
    {WHITE_KING_SIDE, 25, 28, WHITE}, {WHITE_QUEEN_SIDE, 25, 21, WHITE},
    {BLACK_KING_SIDE, 95, 98, BLACK}, {BLACK_QUEEN_SIDE, 95, 91, BLACK}};
static_assert(castling_squares[BLACK_QUEEN_SIDE].flag == BLACK_QUEEN_SIDE, "the table is indexed by flag");

}  // namespace

const std::array<std::array<HashKey, 16>, 64> key_table = make_key_table();

bool castling_pieces_home(const Position& pos, int flag) {
    const CastlingSquares& c = castling_squares[flag];
    return pos.board[c.king] == c.code * KING && pos.board[c.rook] == c.code * ROOK;
}

void set_piece_values(const int (&values)[7]) {
    for (int t = 0; t < 7; ++t) piece_value[t] = values[t];
}

Position::Position() { new_game(*this); }

void reserve_game_history(Position& pos, int plies) {
    if (plies <= game_history_size(pos)) return;
    const std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(plies), 2 * pos.hash_history.size());
    pos.hash_history.resize(size);
    pos.fifty.resize(size);
}

void copy_game(Position& to, const Position& from) {
    std::memcpy(to.board, from.board, sizeof to.board);
    to.side = from.side;
    to.ply = 0;
    to.game_ply = from.game_ply;
    to.move_count = 0;
    to.fen_loaded = from.fen_loaded;
    to.ply_state[0] = from.ply_state[0];
    const auto n = static_cast<std::size_t>(from.game_ply) + 1;
    reserve_game_history(to, from.game_ply + 1 + GAME_PLY_RESERVE);
    std::copy_n(from.hash_history.begin(), n, to.hash_history.begin());
    std::copy_n(from.fifty.begin(), n, to.fifty.begin());
    to.game_moves.assign(from.game_moves.begin(),
                         from.game_moves.begin() + static_cast<std::ptrdiff_t>(std::min(n, from.game_moves.size())));
}

void new_game(Position& pos) {
    reserve_game_history(pos, 1024 + GAME_PLY_RESERVE);
    pos.game_ply = 1;
    pos.ply = 0;
    std::memcpy(pos.board, start_board.data(), sizeof pos.board);
    pos.side = WHITE;
    rebuild_piece_lists(pos);
    PlyState& s = pos.ply_state[0];
    s.move_start = 1;
    s.in_check = 0;
    for (auto& flag : s.castle) flag = 1;
    s.ep = 0;
    pos.fifty[1] = 0;
    pos.hash_history[1] = compute_key(pos, WHITE);
    pos.fen_loaded = 0;
}

void rebuild_piece_lists(Position& pos) {
    const std::int8_t* board = pos.board;
    PlyState& s = pos.cur();
    s.mat_value = s.mat_white = s.mat_black = s.pieces = s.pawns = 0;
    s.pawn_key = 0;
    s.occupied = 0;
    for (auto& list : s.piece_lists.sq) list[0] = 0;
    for (int q = 21; q <= 98; ++q) {
        int c = board[q];
        if (c == EMPTY || c == OFF_BOARD) continue;
        s.occupied |= square_bit(q);
        if (c == PAWN || c == -PAWN) {
            ++s.pawns;
            s.pawn_key ^= piece_key(q, c);
        } else {
            ++s.pieces;
        }
        std::int8_t* list = s.piece_lists.sq[c + 6];
        if (list[0] < MAX_PIECES_PER_CODE) list[1 + list[0]++] = static_cast<std::int8_t>(q);
        int v = piece_value[std::abs(c)];
        s.mat_value += v;
        (c > 0 ? s.mat_white : s.mat_black) += v;
    }
}

HashKey compute_key(const Position& pos, Side s) {
    const PieceList& pl = pos.cur().piece_lists;
    HashKey key = 0;
    for (int i = 0; i <= 12; ++i)
        for (int k = 1; k <= pl.sq[i][0]; ++k)
            if (pl.sq[i][k] != 0) key ^= key_table[sq64[pl.sq[i][k]]][i];
    return key ^ key_table[0][14 + s];
}

void show_board(const Position& pos, std::FILE* out, const BoardDisplay& v) {
    static const char* const line = "\n  +---+---+---+---+---+---+---+---+ \n";
    const PlyState& s = pos.cur();
    std::fputs(line, out);
    for (int rank = 8; rank >= 1; --rank) {
        std::fprintf(out, "%d", rank);
        for (int file = 1; file <= 8; ++file) {
            int c = pos.board[square_at(file, rank)];
            std::fprintf(out, " |%c%c", c < 0 ? '-' : ' ', piece_letter[std::abs(c)]);
        }
        std::fputs(" |\t", out);
        switch (rank) {
            case 8: std::fprintf(out, "%d. %s", pos.game_ply, pos.side == WHITE ? "white" : "black"); break;
            case 7:
                std::fprintf(out, "castle = %s%s%s%s , ep = %s", s.castle[WHITE_KING_SIDE] ? "K" : "",
                             s.castle[BLACK_KING_SIDE] ? "k" : "", s.castle[WHITE_QUEEN_SIDE] ? "Q" : "",
                             s.castle[BLACK_QUEEN_SIDE] ? "q" : "", s.ep ? square_name[s.ep] : "");
                break;
            case 6: std::fprintf(out, "pieces        = %d", s.pieces); break;
            case 5: std::fprintf(out, "pawns         = %d", s.pawns); break;
            case 4:
                if (v.show_balance) std::fprintf(out, "mat_balance   = %d", v.mat_balance);
                break;
            case 3: std::fprintf(out, "mat_value     = %d", v.mat_value); break;
            case 2: std::fprintf(out, "50 moves rule = %d", pos.fifty[pos.game_ply]); break;
            case 1:
                if (v.show_eval) std::fprintf(out, "pos_value     = %d", v.pos_value);
                break;
        }
        std::fputs(line, out);
    }
    std::fputs("    a   b   c   d   e   f   g   h\n\n", out);
}

bool position_consistent(const Position& pos) {
    const std::int8_t* board = pos.board;
    const PlyState& s = pos.cur();
    bool listed[120] = {};
    int occupied = 0, listed_count = 0, pawns = 0, pieces = 0, white = 0, black = 0;
    std::uint64_t occupied_squares = 0;
    HashKey pawn_key = 0;
    for (int q = 0; q < 120; ++q) {
        int c = board[q];
        if (!is_playing_square(q)) {
            if (c != OFF_BOARD) return false;
            continue;
        }
        if (c == OFF_BOARD || c < -KING || c > KING) return false;
        if (c != EMPTY) {
            ++occupied;
            occupied_squares |= square_bit(q);
        }
    }
    if (occupied_squares != s.occupied) return false;
    for (int i = 0; i <= 12; ++i) {
        int n = s.piece_lists.sq[i][0];
        if (n < 0 || n > MAX_PIECES_PER_CODE || (i == 6 && n != 0)) return false;
        for (int k = 1; k <= n; ++k) {
            int q = s.piece_lists.sq[i][k];
            if (!is_playing_square(q) || listed[q] || board[q] != i - 6) return false;
            listed[q] = true;
            ++listed_count;
            int type = std::abs(i - 6);
            (type == PAWN ? pawns : pieces) += 1;
            if (type == PAWN) pawn_key ^= piece_key(q, i - 6);
            (i > 6 ? white : black) += piece_value[type];
        }
    }
    for (int flag = 0; flag < 4; ++flag)
        if (s.castle[flag] && !castling_pieces_home(pos, flag)) return false;
    return listed_count == occupied && pawns == s.pawns && pieces == s.pieces &&
           white == s.mat_white && black == s.mat_black && s.mat_value == white + black && pawn_key == s.pawn_key &&
           compute_key(pos, pos.side) == pos.key();
}

}  // namespace varkon
