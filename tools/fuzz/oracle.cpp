#include "oracle.h"

#include <sstream>

#include <memory>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/notation.h"
#include "core/perft.h"
#include "core/position.h"
#include "core/setup.h"
#include "random_text.h"

namespace fuzz {

using namespace varkon;

namespace {

// The position the oracle judges in.
std::unique_ptr<Position> position;

Position& pos() { return *position; }

}  // namespace

void init_oracle() { position = std::make_unique<Position>(); }

bool load(const GameLine& line) {
    if (line.fen.empty()) {
        new_game(pos());
    } else {
        std::istringstream in(line.fen);
        std::string f[4];
        for (auto& field : f) in >> field;
        if (!setup_fen(pos(), f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str())) return false;
    }
    for (const std::string& m : line.moves)
        if (!play(m)) return false;
    return true;
}

std::vector<std::string> legal_moves() {
    Position& p = pos();
    generate_root(p);
    std::vector<std::string> moves;
    for (int i = 1; i < p.ply_state[1].move_start; ++i) {
        make_move(p, i);
        if (!king_in_check(p, -p.side)) moves.push_back(move_to_text(p.move_stack[i]).s);
        unmake_move(p, i);
    }
    return moves;
}

std::vector<std::string> reversible_moves() {
    std::vector<std::string> moves;
    for (const std::string& m : legal_moves()) {
        const int from = parse_square(m.c_str()), to = parse_square(m.c_str() + 2);
        const std::int8_t* board = pos().board;
        const int piece = board[from] < 0 ? -board[from] : board[from];
        const bool castling = piece == KING && (to - from == 2 || from - to == 2);
        if (piece != PAWN && board[to] == EMPTY && !castling) moves.push_back(m);
    }
    return moves;
}

bool play(const std::string& move) {
    if (!looks_like_move(move)) return false;
    const int i = find_coordinate_move(pos(), move.c_str());
    if (i == 0 || move != move_to_text(pos().move_stack[i]).s) return false;
    play_move(pos(), i);
    return true;
}

std::uint64_t count_leaves(int depth) {
    pos().ply = 0;
    return perft(pos(), depth).nodes;
}

std::uint64_t position_key() { return pos().key(); }

std::string current_fen() {
    const Position& p = pos();
    const std::int8_t* board = p.board;
    std::string squares;
    for (int rank = 8; rank >= 1; --rank)
        for (int file = 1; file <= 8; ++file) {
            const int c = board[square_at(file, rank)];
            const char letter = piece_letter[c < 0 ? -c : c];
            squares.push_back(c == EMPTY ? '.' : c > 0 ? static_cast<char>(letter - 'a' + 'A') : letter);
        }
    const auto& flags = p.ply_state[0].castle;
    std::string castling;
    for (int f = 0; f < 4; ++f)
        if (flags[f]) castling.push_back("KQkq"[f]);
    return placement_text(squares) + (p.side == WHITE ? " w " : " b ") + (castling.empty() ? "-" : castling) + " " +
           (p.ply_state[0].ep ? square_name[p.ply_state[0].ep] : "-");
}

bool looks_like_move(const std::string& t) {
    auto square = [&](std::size_t i) { return t[i] >= 'a' && t[i] <= 'h' && t[i + 1] >= '1' && t[i + 1] <= '8'; };
    if (t.size() != 4 && t.size() != 5) return false;
    return square(0) && square(2) && (t.size() == 4 || std::string("qrbn").find(t[4]) != std::string::npos);
}

}  // namespace fuzz
