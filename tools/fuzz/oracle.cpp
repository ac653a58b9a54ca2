#include "oracle.h"

#include <sstream>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/input.h"
#include "core/moves.h"
#include "core/output.h"
#include "core/position.h"
#include "core/precalc.h"
#include "frontend/utils.h"
#include "random_text.h"

namespace fuzz {

using namespace varkon;

void init_oracle() {
    init_tables();
    new_game();
}

bool load(const GameLine& line) {
    if (line.fen.empty()) {
        new_game();
    } else {
        std::istringstream in(line.fen);
        std::string f[4];
        for (auto& field : f) in >> field;
        if (!setup_fen(f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str())) return false;
    }
    for (const std::string& m : line.moves)
        if (!play(m)) return false;
    return true;
}

std::vector<std::string> legal_moves() {
    ply = 0;
    ply_state[0].move_start = 1;
    ply_state[0].in_check = king_in_check(side);
    generate_moves();
    std::vector<std::string> moves;
    for (int i = 1; i < ply_state[1].move_start; ++i) {
        make_move(i);
        if (!king_in_check(-side)) moves.push_back(move_to_text(move_stack[i]).s);
        unmake_move(i);
    }
    return moves;
}

std::vector<std::string> reversible_moves() {
    std::vector<std::string> moves;
    for (const std::string& m : legal_moves()) {
        const int from = parse_square(m.c_str()), to = parse_square(m.c_str() + 2);
        const int piece = board[from] < 0 ? -board[from] : board[from];
        const bool castling = piece == KING && (to - from == 2 || from - to == 2);
        if (piece != PAWN && board[to] == EMPTY && !castling) moves.push_back(m);
    }
    return moves;
}

bool play(const std::string& move) {
    if (!looks_like_move(move)) return false;
    const int i = find_coordinate_move(move.c_str());
    if (i == 0 || move != move_to_text(move_stack[i]).s) return false;
    play_move(i);
    return true;
}

std::uint64_t count_leaves(int depth) {
    ply = 0;
    return perft(depth);
}

std::uint64_t position_key() { return hash_history[game_ply]; }

std::string current_fen() {
    std::string squares;
    for (int rank = 8; rank >= 1; --rank)
        for (int file = 1; file <= 8; ++file) {
            const int c = board[square_at(file, rank)];
            const char letter = piece_letter[c < 0 ? -c : c];
            squares.push_back(c == EMPTY ? '.' : c > 0 ? static_cast<char>(letter - 'a' + 'A') : letter);
        }
    const auto& flags = ply_state[0].castle;
    std::string castling;
    for (int f = 0; f < 4; ++f)
        if (flags[f]) castling.push_back("KQkq"[f]);
    return placement_text(squares) + (side == WHITE ? " w " : " b ") + (castling.empty() ? "-" : castling) + " " +
           (ply_state[0].ep ? square_name[ply_state[0].ep] : "-");
}

bool looks_like_move(const std::string& t) {
    auto square = [&](std::size_t i) { return t[i] >= 'a' && t[i] <= 'h' && t[i + 1] >= '1' && t[i + 1] <= '8'; };
    if (t.size() != 4 && t.size() != 5) return false;
    return square(0) && square(2) && (t.size() == 4 || std::string("qrbn").find(t[4]) != std::string::npos);
}

}  // namespace fuzz
