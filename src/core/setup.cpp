#include "core/setup.h"

#include <cstdlib>
#include <cstring>

#include "core/attacks.h"

namespace varkon {

namespace {

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
void drop_impossible_castling(Position& pos) {
    for (int flag = 0; flag < 4; ++flag)
        if (!castling_pieces_home(pos, flag)) pos.cur().castle[flag] = 0;
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

}  // namespace varkon
