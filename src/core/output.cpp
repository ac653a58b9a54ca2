#include "core/output.h"

#include <cstdlib>
#include <cstring>

namespace varkon {

MoveText move_to_text(const Move& m) {
    MoveText t{};
    std::memcpy(t.s, square_name[m.from], 2);
    std::memcpy(t.s + 2, square_name[m.to], 2);
    if (m.promotion != 0) t.s[4] = piece_letter[m.promotion];
    return t;
}

MoveText san_text(int index) {
    MoveText t{};
    if (index < 0) return t;
    const Move& m = move_stack[index];
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
            for (int i = ply_state[ply].move_start; i < ply_state[ply + 1].move_start; ++i) {
                const Move& o = move_stack[i];
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
