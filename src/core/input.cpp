#include "core/input.h"

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"

namespace varkon {

namespace {

int promotion_of(char c) {
    switch (c) {
        case 'Q': case 'q': return QUEEN;
        case 'R': case 'r': return ROOK;
        case 'B': case 'b': return BISHOP;
        case 'N': case 'n': return KNIGHT;
        default: return 0;
    }
}

int piece_type_of(char c) {
    switch (c) {
        case 'K': return KING;
        case 'Q': return QUEEN;
        case 'R': return ROOK;
        case 'B': return BISHOP;
        case 'N': return KNIGHT;
        default: return 0;
    }
}

// Generates the moves of the game position (ply 0).
void generate_root() {
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
}

bool legal_here(const Move& m) {
    return ply_state[0].in_check || !leaves_king_attacked(m.from, m.to, m.ep_square);
}

bool text_equals(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

int play_if_found(int index) {
    if (index == 0) return 0;
    play_move(index);
    return 1;
}

}  // namespace

Square parse_square(const char* t) {
    if (t[0] < 'a' || t[0] > 'h' || t[1] < '1' || t[1] > '8') return 0;
    return (t[0] - 'a' + 1) + 10 * (t[1] - '0' + 1);
}

int find_coordinate_move(const char* text) {
    const bool long_enough = text[0] != '\0' && text[1] != '\0';
    const int from = long_enough ? parse_square(text) : 0;
    const int to = long_enough ? parse_square(text + 2) : 0;
    const int promotion = long_enough && text[2] && text[3] ? promotion_of(text[4]) : 0;
    generate_root();
    for (int i = 1; i < move_count; ++i) {
        const Move& m = move_stack[i];
        if (m.from == from && m.to == to && m.promotion == promotion && legal_here(m)) return i;
    }
    return 0;
}

int find_san_move(const char* text) {
    char t[16];
    int len = 0;
    while (text[len] != '\0' && len < 15) {
        t[len] = text[len];
        ++len;
    }
    if (text[len] != '\0') return 0;  // far longer than any move
    t[len] = '\0';
    if (len > 0 && (t[len - 1] == '+' || t[len - 1] == '#')) t[--len] = '\0';
    if (len == 0) return 0;

    int type = piece_type_of(t[0]);
    int target = 0, file_hint = 0, rank_hint = 0, promotion = 0;
    bool castling = false;
    if (t[0] == 'O' || t[0] == '0' || t[0] == 'o') {
        const bool short_castle = text_equals(t, "O-O") || text_equals(t, "0-0") || text_equals(t, "o-o");
        const bool long_castle = text_equals(t, "O-O-O") || text_equals(t, "0-0-0") || text_equals(t, "o-o-o");
        if (!short_castle && !long_castle) return 0;
        type = KING;
        castling = true;
        target = side == WHITE ? (short_castle ? 27 : 23) : (short_castle ? 97 : 93);
    } else {
        int i = 0;
        if (type != 0 || t[0] == 'P') i = 1;  // a piece letter, or an explicit pawn letter
        if (type == 0) type = PAWN;
        while (i < 10 && t[i] != '\0') {
            const char c = t[i];
            if (c == '+' || c == '#') {
                i += t[i + 1] ? 2 : 1;
            } else if (c == 'x' || c == '-') {
                if (t[i + 1] && parse_square(t + i + 1)) {
                    target = parse_square(t + i + 1);
                    i += 3;
                } else {
                    i += t[i + 1] ? 2 : 1;
                }
            } else if (c == '=') {
                promotion = promotion_of(t[i + 1]);
                if (promotion == 0) promotion = QUEEN;
                break;
            } else if (parse_square(t + i)) {
                if (target != 0) {  // long algebraic: the first square names the mover
                    file_hint = file_of[target];
                    rank_hint = rank_of[target];
                }
                target = parse_square(t + i);
                const char p = t[i + 2];
                if (p == 'q' || p == 'n' || p == 'b' || p == 'r') {
                    promotion = promotion_of(p);
                    i += 3;
                } else {
                    i += 2;
                }
            } else {
                if (c >= 'a' && c <= 'h')
                    file_hint = c - 'a' + 1;
                else
                    rank_hint = c - '0';
                i += 1;
            }
        }
    }
    if (target == 0) return 0;

    const int code = type * side;
    generate_root();
    for (int i = 1; i < move_count; ++i) {
        const Move& m = move_stack[i];
        if (board[m.from] != code || m.to != target) continue;
        if (m.promotion != 0 && m.promotion != promotion) continue;
        if (castling != (m.castling != 0)) continue;
        if (file_hint && file_of[m.from] != file_hint) continue;
        if (rank_hint && rank_of[m.from] != rank_hint) continue;
        if (legal_here(m)) return i;
    }
    return 0;
}

bool has_legal_move() {
    generate_root();
    for (int i = 1; i < move_count; ++i)
        if (legal_here(move_stack[i])) return true;
    return false;
}

int parse_coordinate_move(const char* text) { return play_if_found(find_coordinate_move(text)); }

int parse_san_move(const char* text) { return play_if_found(find_san_move(text)); }

}  // namespace varkon
