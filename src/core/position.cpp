#include "core/position.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/attacks.h"

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

int code_of_letter(char c) {
    switch (c) {
        case 'P': return PAWN;
        case 'N': return KNIGHT;
        case 'B': return BISHOP;
        case 'R': return ROOK;
        case 'Q': return QUEEN;
        case 'K': return KING;
        case 'p': return -PAWN;
        case 'n': return -KNIGHT;
        case 'b': return -BISHOP;
        case 'r': return -ROOK;
        case 'q': return -QUEEN;
        case 'k': return -KING;
        default: return 0;
    }
}

void clear_playing_squares(Position& pos) {
    for (int q = 21; q <= 98; ++q)
        if (pos.board[q] != OFF_BOARD) pos.board[q] = EMPTY;
}

// Material a game can reach: one king per side, at most eight pawns, and pawns plus
// surplus pieces (each promotion turns a pawn into one) at most eight per side. So no
// code has more than MAX_PIECES_PER_CODE pieces, and a promotion always finds room in
// its piece list.
bool reachable_material(const Position& pos) {
    int count[13] = {};
    for (int q = 21; q <= 98; ++q)
        if (pos.board[q] != OFF_BOARD && pos.board[q] != EMPTY) ++count[pos.board[q] + 6];
    for (int s : {WHITE, BLACK}) {
        auto n = [&](int type) { return count[6 + s * type]; };
        auto surplus = [](int have, int initial) { return have > initial ? have - initial : 0; };
        int promoted = surplus(n(QUEEN), 1) + surplus(n(ROOK), 2) + surplus(n(BISHOP), 2) +
                       surplus(n(KNIGHT), 2);
        if (n(KING) != 1 || n(PAWN) > 8 || n(PAWN) + promoted > 8) return false;
    }
    static_assert(MAX_PIECES_PER_CODE >= 2 + 8, "a code may reach its initial number plus eight promotions");
    return true;
}

// The castling flags each square's king or rook carries: a right stands only while
// its king and its rook are on their squares.
struct CastlingSquares {
    int flag, king, rook, code;
};
constexpr CastlingSquares castling_squares[4] = {
    {WHITE_KING_SIDE, 25, 28, WHITE}, {WHITE_QUEEN_SIDE, 25, 21, WHITE},
    {BLACK_KING_SIDE, 95, 98, BLACK}, {BLACK_QUEEN_SIDE, 95, 91, BLACK}};

void drop_impossible_castling(Position& pos) {
    for (const CastlingSquares& c : castling_squares)
        if (pos.board[c.king] != c.code * KING || pos.board[c.rook] != c.code * ROOK) pos.cur().castle[c.flag] = 0;
}

// Derived state, key and checks after a position was put on the board. False when the
// position is not one the engine can play: its material cannot be reached, or the side
// that is not to move is in check (its king could be captured).
bool finish_setup(Position& pos) {
    if (!reachable_material(pos)) return false;
    drop_impossible_castling(pos);
    rebuild_piece_lists(pos);
    if (king_in_check(pos, -pos.side)) return false;
    pos.hash_history[pos.game_ply] = compute_key(pos, pos.side);
    pos.fen_loaded = 1;
    return true;
}

// A refused position leaves the start position; the caller reports the refusal in the
// form of its protocol.
bool fen_error(Position& pos) {
    new_game(pos);
    return false;
}

}  // namespace

const std::array<std::array<HashKey, 16>, 64> key_table = make_key_table();

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
    for (auto& list : s.piece_lists.sq) list[0] = 0;
    for (int q = 21; q <= 98; ++q) {
        int c = board[q];
        if (c == EMPTY || c == OFF_BOARD) continue;
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

bool setup_fen(Position& pos, const char* placement, const char* side_field, const char* castling_field,
               const char* ep_field) {
    new_game(pos);
    clear_playing_squares(pos);
    std::int8_t* board = pos.board;

    const char* p = placement ? placement : "";
    while (*p == ' ' || *p == '\t') ++p;
    int rank = 8, file = 1;
    bool complete = false;
    for (; !complete; ++p) {
        char c = *p;
        if (c == '/') {
            if (--rank < 1) return fen_error(pos);
            file = 1;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
            if (file > 9) return fen_error(pos);  // rank longer than eight squares
        } else if (int code = code_of_letter(c); code != 0) {
            if (file > 8) return fen_error(pos);
            board[square_at(file, rank)] = static_cast<std::int8_t>(code);
            ++file;
        } else {
            return fen_error(pos);  // foreign character or end of text
        }
        complete = rank == 1 && file == 9;
    }

    // An absent side field means White to move; otherwise anything but "w" is Black.
    const char* sf = side_field ? side_field : "";
    const Side side = pos.side = (sf[0] == '\0' || sf[0] == 'w') ? WHITE : BLACK;

    PlyState& s = pos.ply_state[0];
    for (auto& flag : s.castle) flag = 0;
    const char* cf = castling_field ? castling_field : "";
    for (int i = 0; i < 4 && cf[i] != '\0'; ++i) {
        switch (cf[i]) {
            case 'K': s.castle[WHITE_KING_SIDE] = 1; break;
            case 'Q': s.castle[WHITE_QUEEN_SIDE] = 1; break;
            case 'k': s.castle[BLACK_KING_SIDE] = 1; break;
            case 'q': s.castle[BLACK_QUEEN_SIDE] = 1; break;
            default: break;
        }
    }

    // The en-passant square is kept only when a pawn can just have passed over it: the
    // capture it allows removes that pawn, so a stray field must not name an empty square.
    s.ep = 0;
    const char* ef = ep_field ? ep_field : "";
    if (ef[0] >= 'a' && ef[0] <= 'h') {
        int target = square_at(ef[0] - 'a' + 1, side == WHITE ? 6 : 3);
        int pawn_sq = target - 10 * side;
        int origin = target + 10 * side;
        if (board[pawn_sq] == -side * PAWN && board[target] == EMPTY && board[origin] == EMPTY)
            s.ep = target;
    }
    if (!finish_setup(pos)) return fen_error(pos);
    return true;
}

bool edit_board(Position& pos, const char* (*next_token)()) {
    new_game(pos);
    int colour = WHITE;
    for (const char* tok = next_token(); tok != nullptr && tok[0] != '.'; tok = next_token()) {
        if (tok[0] == 'c') {
            colour = BLACK;
        } else if (tok[0] == '#') {
            clear_playing_squares(pos);
        } else {
            int code = code_of_letter(tok[0]);
            bool clear = tok[0] == 'x';
            if ((code <= 0 && !clear) || tok[1] < 'a' || tok[1] > 'h' || tok[2] < '1' || tok[2] > '8')
                continue;
            int q = square_at(tok[1] - 'a' + 1, tok[2] - '0');
            pos.board[q] = clear ? EMPTY : static_cast<std::int8_t>(code * colour);
        }
    }
    if (!finish_setup(pos)) return fen_error(pos);
    return true;
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
    HashKey pawn_key = 0;
    for (int q = 0; q < 120; ++q) {
        int c = board[q];
        if (!is_playing_square(q)) {
            if (c != OFF_BOARD) return false;
            continue;
        }
        if (c == OFF_BOARD || c < -KING || c > KING) return false;
        if (c != EMPTY) ++occupied;
    }
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
    for (const CastlingSquares& c : castling_squares)
        if (s.castle[c.flag] && (board[c.king] != c.code * KING || board[c.rook] != c.code * ROOK)) return false;
    return listed_count == occupied && pawns == s.pawns && pieces == s.pieces &&
           white == s.mat_white && black == s.mat_black && s.mat_value == white + black && pawn_key == s.pawn_key &&
           compute_key(pos, pos.side) == pos.key();
}

}  // namespace varkon
