#include "referee.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/attacks.h"
#include "core/moves.h"
#include "core/notation.h"
#include "core/position.h"

namespace match {

using namespace varkon;

namespace {

// The move the text names exactly as engines write it (promotions with their letter),
// or 0.
int find_exact(Position& pos, const std::string& text) {
    if (text.size() < 4 || text.size() > 5) return 0;
    const int i = find_coordinate_move(pos, text.c_str());
    return i != 0 && text == move_to_text(pos.move_stack[i]).s ? i : 0;
}

bool is_integer(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtoll(text.c_str(), &end, 10);
    return *end == '\0';
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

}  // namespace

Board::Board() : pos_(std::make_unique<Position>()), scratch_(std::make_unique<Position>()) { new_game(*pos_); }
Board::~Board() = default;

bool Board::reset(const std::vector<std::string>& moves) {
    new_game(*pos_);
    moves_.clear();
    for (const std::string& m : moves)
        if (!play(m)) return false;
    return true;
}

bool Board::play(const std::string& move) {
    const int i = find_exact(*pos_, move);
    if (i == 0) return false;
    play_move(*pos_, i);
    moves_.push_back(move);
    return true;
}

std::string Board::san(const std::string& move) {
    const int i = find_exact(*pos_, move);
    if (i == 0) return "";
    std::string text = san_text(*pos_, i).s;
    copy_game(*scratch_, *pos_);
    const int j = find_exact(*scratch_, move);
    play_move(*scratch_, j);
    if (king_in_check(*scratch_, scratch_->side)) text += has_legal_move(*scratch_) ? "+" : "#";
    return text;
}

std::string Board::from_san(const std::string& san) {
    const int i = find_san_move(*pos_, san.c_str());
    return i == 0 ? "" : move_to_text(pos_->move_stack[i]).s;
}

bool Board::legal_line(const std::vector<std::string>& moves, std::size_t* bad) {
    copy_game(*scratch_, *pos_);
    for (std::size_t k = 0; k < moves.size(); ++k) {
        const int i = find_exact(*scratch_, moves[k]);
        if (i == 0) {
            if (bad != nullptr) *bad = k;
            return false;
        }
        play_move(*scratch_, i);
    }
    return true;
}

Outcome Board::outcome() {
    Position& p = *pos_;
    if (!has_legal_move(p)) {
        if (!king_in_check(p, p.side)) return Outcome::stalemate;
        return p.side == WHITE ? Outcome::black_mates : Outcome::white_mates;
    }
    const int ply = p.game_ply;
    const int fifty = p.fifty[static_cast<std::size_t>(ply)];
    if (fifty >= 100) return Outcome::fifty_moves;
    int seen = 0;
    for (int g = ply - 2; g >= ply - fifty && g >= 1; g -= 2)
        if (p.hash_history[static_cast<std::size_t>(g)] == p.key()) ++seen;
    if (seen >= 2) return Outcome::repetition;
    // Kings alone, or with one knight or bishop: no mate is possible.
    const PlyState& s = p.cur();
    const int minors = p.piece_count(KNIGHT) + p.piece_count(-KNIGHT) + p.piece_count(BISHOP) + p.piece_count(-BISHOP);
    if (s.pawns == 0 && s.pieces <= 3 && s.pieces - 2 == minors) return Outcome::material;
    return Outcome::none;
}

bool Board::white_to_move() const { return pos_->side == WHITE; }

std::string Board::position_command(const std::vector<std::string>& extra) const {
    std::string line = "position startpos";
    if (!moves_.empty() || !extra.empty()) line += " moves";
    for (const std::string& m : moves_) line += " " + m;
    for (const std::string& m : extra) line += " " + m;
    return line;
}

std::vector<std::vector<std::string>> read_pgn_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> lines;
    Board board;
    std::vector<std::string> game;
    bool ok = true;
    auto finish = [&] {
        if (ok && !game.empty()) lines.push_back(game);
        game.clear();
        ok = true;
        board.reset({});
    };
    std::string text;
    int comment = 0;
    while (std::getline(in, text)) {
        if (!text.empty() && text[0] == '[') {
            if (!game.empty()) finish();
            continue;
        }
        for (std::string token : words(text)) {
            if (token.front() == '{') ++comment;
            if (comment > 0) {
                if (token.back() == '}') --comment;
                continue;
            }
            if (token == "1-0" || token == "0-1" || token == "1/2-1/2" || token == "*") {
                finish();
                continue;
            }
            const std::size_t dot = token.rfind('.');
            if (dot != std::string::npos) token = token.substr(dot + 1);
            while (!token.empty() && std::string("+#!?").find(token.back()) != std::string::npos) token.pop_back();
            if (token.empty() || token[0] == '$' || !ok) continue;
            const std::string move = board.from_san(token);
            if (move.empty() || !board.play(move)) {
                ok = false;
                continue;
            }
            game.push_back(move);
        }
    }
    finish();
    return lines;
}

// ---- the lines of a search ---------------------------------------------------------

void SearchWatch::begin(Board& board, const std::vector<std::string>& extra) {
    board_ = &board;
    extra_ = extra;
    active_ = true;
    v_ = Verdict{};
}

void SearchWatch::fault(const std::string& kind, const std::string& detail) { v_.faults.push_back(kind + ": " + detail); }

void SearchWatch::line(const std::string& text) {
    if (!active_) return;
    const std::vector<std::string> w = words(text);
    if (!w.empty() && w[0] == "info") info(w, text);
}

void SearchWatch::info(const std::vector<std::string>& w, const std::string& text) {
    static const char* const numeric[] = {"depth", "seldepth", "time", "nodes", "multipv", "currmovenumber",
                                          "hashfull", "nps", "tbhits", "sbhits", "cpuload"};
    auto is_numeric = [](const std::string& k) {
        return std::find_if(std::begin(numeric), std::end(numeric), [&](const char* n) { return k == n; }) != std::end(numeric);
    };
    auto is_key = [&](const std::string& k) {
        return is_numeric(k) || k == "score" || k == "pv" || k == "currmove" || k == "string" || k == "wdl" ||
               k == "refutation" || k == "currline" || k == "lowerbound" || k == "upperbound";
    };
    auto with_extra = [&](std::vector<std::string> moves) {
        moves.insert(moves.begin(), extra_.begin(), extra_.end());
        return moves;
    };
    // Of several ranked lines ("multipv"), the best one's score and first move stand for the
    // search; the others are checked alike.
    bool best_line = true;
    for (std::size_t i = 1; i < w.size(); ++i) {
        const std::string& k = w[i];
        if (k == "string" || k == "refutation" || k == "currline") return;   // the rest is theirs
        if (is_numeric(k)) {
            if (i + 1 >= w.size() || !is_integer(w[i + 1])) fault("bad-value", "\"" + text + "\": " + k);
            else if (k == "multipv") best_line = std::atoi(w[i + 1].c_str()) <= 1;
            ++i;
        } else if (k == "score") {
            if (i + 2 >= w.size() || (w[i + 1] != "cp" && w[i + 1] != "mate") || !is_integer(w[i + 2])) {
                fault("bad-score", "\"" + text + "\"");
                return;
            }
            const int n = std::atoi(w[i + 2].c_str());
            v_.scored = true;
            if (best_line) {
                v_.has_score = true;
                v_.score_cp = w[i + 1] == "cp" ? n : n > 0 ? 30000 - n : n < 0 ? -30000 - n : -30000;
            }
            i += 2;
            if (i + 1 < w.size() && (w[i + 1] == "lowerbound" || w[i + 1] == "upperbound")) ++i;
        } else if (k == "wdl") {
            if (i + 3 >= w.size() || !is_integer(w[i + 1]) || !is_integer(w[i + 2]) || !is_integer(w[i + 3]))
                fault("bad-value", "\"" + text + "\": wdl");
            i += 3;
        } else if (k == "currmove") {
            if (i + 1 >= w.size() || !board_->legal_line(with_extra({w[i + 1]})))
                fault("illegal-currmove", "\"" + text + "\"");
            ++i;
        } else if (k == "pv") {
            std::vector<std::string> pv(w.begin() + static_cast<std::ptrdiff_t>(i) + 1, w.end());
            for (const std::string& m : pv)
                if (is_key(m)) {
                    fault("field-after-pv", "\"" + text + "\": " + m);
                    return;
                }
            if (pv.empty()) return;
            std::size_t bad = 0;
            if (!board_->legal_line(with_extra(pv), &bad)) {
                fault("illegal-pv", "\"" + text + "\": " + with_extra(pv)[bad]);
                return;
            }
            if (best_line) v_.last_pv_first = pv[0];
            return;
        } else {
            fault("unknown-field", "\"" + text + "\": " + k);
            return;
        }
    }
}

Verdict SearchWatch::answer(const std::string& best, const std::string& ponder) {
    active_ = false;
    if (!v_.scored) fault("no-score", "no scored info line before \"bestmove " + best + "\"");
    else if (v_.last_pv_first != best)
        fault("pv-mismatch", "bestmove " + best + " after a last pv that begins with \"" + v_.last_pv_first + "\"");
    std::vector<std::string> reply = extra_;
    reply.push_back(best);
    reply.push_back(ponder);
    if (!ponder.empty() && !board_->legal_line(reply))
        fault("illegal-ponder", "ponder " + ponder + " after " + best);
    return v_;
}

}  // namespace match
