#include "game_generator.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include <memory>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/notation.h"
#include "core/position.h"

namespace pgngen {

namespace {

using namespace varkon;

// splitmix64: small, fast, and the same sequence on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    std::uint64_t state_;
};

// ---- the position: everything the generator asks of it -------------------------------

// Indices in move_stack of the legal moves of the position.
int legal_moves(Position& pos, int* out) {
    generate_root(pos);
    int n = 0;
    for (int i = 1; i < pos.move_count; ++i) {
        const Move& m = pos.move_stack[i];
        if (pos.ply_state[0].in_check || !leaves_king_attacked(pos, m.from, m.to, m.ep_square)) out[n++] = i;
    }
    return n;
}

bool attacked_by_opponent(const Position& pos, Square q) {
    return pos.side == WHITE ? attacked_by_black(pos, q) != 0 : attacked_by_white(pos, q) != 0;
}

// ---- choosing a move -------------------------------------------------------------------

// 0 in the four central squares, up to 3 in the corners.
int off_centre(Square q) {
    const int f = std::abs(2 * file_of[q] - 9), r = std::abs(2 * rank_of[q] - 9);
    return (f > r ? f : r) / 2;
}

// How much a player would like the move, in centipawns, from the mover's point of view.
int liking(const Position& pos, const Move& m) {
    const int type = std::abs(m.piece);
    const int value = piece_value[type];
    int s = 0;
    if (m.ep_square != 0)
        s += piece_value[PAWN];
    else if (m.captured != 0)
        s += piece_value[m.captured];
    if (m.promotion != 0) s += piece_value[m.promotion] - piece_value[PAWN];
    if (type != KING) {
        if (attacked_by_opponent(pos, m.to)) s -= value * 4 / 5;      // walks into an attack
        if (attacked_by_opponent(pos, m.from)) s += value / 2;        // gets out of one
    }
    const bool opening = pos.game_ply < 16;
    switch (type) {
        case PAWN: {
            const int file = file_of[m.from];
            if (opening) s += (file == 4 || file == 5) ? 25 : (file == 3 || file == 6) ? 5 : -15;
            s += 3 * (pos.side == WHITE ? rank_of[m.to] - rank_of[m.from] : rank_of[m.from] - rank_of[m.to]);
            break;
        }
        case KNIGHT:
        case BISHOP: s += 12 * (off_centre(m.from) - off_centre(m.to)) + (opening ? 10 : 0); break;
        case ROOK: s += opening ? -20 : 0; break;
        case QUEEN: s += opening ? -30 : 4 * (off_centre(m.from) - off_centre(m.to)); break;
        case KING: s += m.castling != 0 ? 60 : (pos.ply_state[0].mat_value > 4000 ? -80 : 0); break;
        default: break;
    }
    return s;
}

// Draws one of the legal moves, the better liked the likelier (softmax). Players know
// their openings: the choice widens from a few main moves to almost any sound one.
int choose(const Position& pos, const int* moves, int n, Random& random) {
    const double temperature = 5.0 + 0.6 * pos.game_ply;
    double weights[MOVES_PER_PLY];
    int best = -1000000;
    int likes[MOVES_PER_PLY];
    for (int k = 0; k < n; ++k) {
        likes[k] = liking(pos, pos.move_stack[moves[k]]);
        if (likes[k] > best) best = likes[k];
    }
    double total = 0;
    for (int k = 0; k < n; ++k) total += weights[k] = std::exp((likes[k] - best) / temperature);
    double pick = random.unit() * total;
    for (int k = 0; k < n; ++k)
        if ((pick -= weights[k]) < 0) return moves[k];
    return moves[n - 1];
}

// ---- writing -----------------------------------------------------------------------

// SAN of move_stack[index], disambiguated among the legal moves only; no check mark.
std::string san(const Position& pos, int index, const int* moves, int n) {
    const Move& m = pos.move_stack[index];
    if (m.castling != 0) return m.from < m.to ? "O-O" : "O-O-O";
    std::string t;
    const int type = std::abs(m.piece);
    if (type != PAWN) {
        t += "  NBRQK"[type];
        bool other = false, same_file = false, same_rank = false;
        for (int k = 0; k < n; ++k) {
            const Move& o = pos.move_stack[moves[k]];
            if (o.to != m.to || o.piece != m.piece || o.from == m.from) continue;
            other = true;
            same_file |= file_of[o.from] == file_of[m.from];
            same_rank |= rank_of[o.from] == rank_of[m.from];
        }
        if (other && (!same_file || same_rank)) t += square_name[m.from][0];
        if (same_file) t += square_name[m.from][1];
    } else if (m.captured != 0 || m.ep_square != 0) {
        t += square_name[m.from][0];
    }
    if (m.captured != 0 || m.ep_square != 0) t += 'x';
    t += square_name[m.to];
    if (m.promotion != 0) {
        t += '=';
        t += "  NBRQK"[m.promotion];
    }
    return t;
}

const char* const first_names[] = {"Anna", "Boris", "Carla", "David", "Elena", "Farid", "Greta", "Hugo",
                                   "Irina", "Jonas", "Kira", "Lev", "Mira", "Nils", "Olga", "Pavel"};

std::string player(Random& random) {
    return std::string(first_names[random.below(16)]) + " " + std::to_string(100 + random.below(900));
}

// One game, its tags, movetext and result, ending with a blank line.
std::string game_text(Position& pos, long long number, Random& random) {
    new_game(pos);
    const int length = 20 + random.below(31) + random.below(31) + random.below(31) + random.below(31);
    int moves[MOVES_PER_PLY];
    std::string movetext, result;
    std::size_t line_start = 0;
    auto put = [&](const std::string& word) {
        if (movetext.size() - line_start + 1 + word.size() > 79) {
            movetext += '\n';
            line_start = movetext.size();
        } else if (movetext.size() > line_start) {
            movetext += ' ';
        }
        movetext += word;
    };
    for (int half = 0;; ++half) {
        const int n = legal_moves(pos, moves);
        if (n == 0) {  // mate or stalemate
            if (pos.ply_state[0].in_check) {
                movetext.back() = '#';
                result = pos.side == WHITE ? "0-1" : "1-0";
            } else {
                result = "1/2-1/2";
            }
            break;
        }
        if (half == length) {
            const int lead = pos.ply_state[0].mat_white - pos.ply_state[0].mat_black, r = random.below(100);
            const int white_wins = lead > 300 ? 70 : lead < -300 ? 10 : 38, black_wins = lead < -300 ? 70 : lead > 300 ? 10 : 30;
            result = r < white_wins ? "1-0" : r < white_wins + black_wins ? "0-1" : "1/2-1/2";
            break;
        }
        const int chosen = choose(pos, moves, n, random);
        std::string word = san(pos, chosen, moves, n);
        play_move(pos, chosen);
        if (king_in_check(pos, pos.side)) word += '+';
        put(half % 2 == 0 ? std::to_string(half / 2 + 1) + ". " + word : word);
    }
    put(result);
    char date[16];
    std::snprintf(date, sizeof date, "%d.%02d.%02d", 1990 + random.below(35), 1 + random.below(12), 1 + random.below(28));
    std::string text;
    text.reserve(movetext.size() + 256);
    text += "[Event \"Generated games\"]\n[Site \"?\"]\n[Date \"";
    text += date;
    text += "\"]\n[Round \"" + std::to_string(number) + "\"]\n";
    text += "[White \"" + player(random) + "\"]\n[Black \"" + player(random) + "\"]\n";
    text += "[Result \"" + result + "\"]\n";
    text += "[WhiteElo \"" + std::to_string(1500 + random.below(1200)) + "\"]\n";
    text += "[BlackElo \"" + std::to_string(1500 + random.below(1200)) + "\"]\n\n";
    text += movetext;
    text += "\n\n";
    return text;
}

}  // namespace

bool write_games(std::FILE* out, long long games, std::uint64_t seed) {
    Random random(seed);
    const auto pos = std::make_unique<Position>();
    for (long long g = 1; g <= games; ++g) {
        const std::string text = game_text(*pos, g, random);
        if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) return false;
    }
    return std::fflush(out) == 0;
}

}  // namespace pgngen
