#include "core/notation.h"

#include <cstdlib>
#include <cstring>

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

bool legal_here(Position& pos, const Move& m) {
    return pos.ply_state[0].in_check || !leaves_king_attacked(pos, m.from, m.to, m.ep_square);
}

bool text_equals(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

int play_if_found(Position& pos, int index) {
    if (index == 0) return 0;
    play_move(pos, index);
    return 1;
}

}  // namespace

void generate_root(Position& pos) {
    pos.ply = 0;
    pos.ply_state[0].move_start = 1;
    pos.ply_state[0].in_check = king_in_check(pos, pos.side);
    generate_moves(pos);
}

Square parse_square(const char* t) {
    if (t[0] < 'a' || t[0] > 'h' || t[1] < '1' || t[1] > '8') return 0;
    return (t[0] - 'a' + 1) + 10 * (t[1] - '0' + 1);
}

int find_coordinate_move(Position& pos, const char* text) {
    const bool long_enough = text[0] != '\0' && text[1] != '\0';
    const int from = long_enough ? parse_square(text) : 0;
    const int to = long_enough ? parse_square(text + 2) : 0;
    const int promotion = long_enough && text[2] && text[3] ? promotion_of(text[4]) : 0;
    generate_root(pos);
    for (int i = 1; i < pos.move_count; ++i) {
        const Move& m = pos.move_stack[i];
        if (m.from == from && m.to == to && m.promotion == promotion && legal_here(pos, m)) return i;
    }
    return 0;
}

int find_san_move(Position& pos, const char* text) {
    const Side side = pos.side;
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
    generate_root(pos);
    for (int i = 1; i < pos.move_count; ++i) {
        const Move& m = pos.move_stack[i];
        if (pos.board[m.from] != code || m.to != target) continue;
        if (m.promotion != 0 && m.promotion != promotion) continue;
        if (castling != (m.castling != 0)) continue;
        if (file_hint && file_of[m.from] != file_hint) continue;
        if (rank_hint && rank_of[m.from] != rank_hint) continue;
        if (legal_here(pos, m)) return i;
    }
    return 0;
}

bool has_legal_move(Position& pos) {
    generate_root(pos);
    for (int i = 1; i < pos.move_count; ++i)
        if (legal_here(pos, pos.move_stack[i])) return true;
    return false;
}

int parse_coordinate_move(Position& pos, const char* text) { return play_if_found(pos, find_coordinate_move(pos, text)); }

int parse_san_move(Position& pos, const char* text) { return play_if_found(pos, find_san_move(pos, text)); }

// ---- writing ------------------------------------------------------------------------

MoveText move_to_text(const Move& m) {
    MoveText t{};
    std::memcpy(t.s, square_name[m.from], 2);
    std::memcpy(t.s + 2, square_name[m.to], 2);
    if (m.promotion != 0) t.s[4] = piece_letter[m.promotion];
    return t;
}

MoveText san_text(const Position& pos, int index) {
    MoveText t{};
    if (index < 0) return t;
    const Move& m = pos.move_stack[index];
    char* out = t.s;
    if (m.castling != 0) {
        std::strcpy(out, m.from <= m.to ? "O-O" : "O-O-O");
        return t;
    }
    const int type = std::abs(m.piece);
    if (type != PAWN) {
        *out++ = "  NBRQK"[type];
        if (type != KING) {
            // Another piece of the same kind reaching the square: name the file, or the
            // rank when that piece shares the file, or both when neither alone tells.
            bool other = false, same_file = false, same_rank = false;
            for (int i = pos.cur().move_start; i < pos.ply_state[pos.ply + 1].move_start; ++i) {
                const Move& o = pos.move_stack[i];
                if (o.to != m.to || o.piece != m.piece || o.from == m.from) continue;
                other = true;
                if (file_of[o.from] == file_of[m.from]) same_file = true;
                if (rank_of[o.from] == rank_of[m.from]) same_rank = true;
            }
            if (other && (!same_file || same_rank)) *out++ = square_name[m.from][0];
            if (same_file) *out++ = square_name[m.from][1];
        }
    } else if (m.captured != 0) {
        *out++ = square_name[m.from][0];
    }
    if (m.captured != 0) *out++ = 'x';
    std::memcpy(out, square_name[m.to], 2);
    out += 2;
    if (m.promotion != 0) {
        *out++ = '=';
        *out++ = piece_letter[m.promotion];
    }
    return t;
}

}  // namespace varkon
