#include "support/engine_setup.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/attacks.h"
#include "core/clock.h"
#include "core/notation.h"
#include "frontend/startup.h"

namespace test {

using namespace varkon;

void use_varkon() { init_program(varkon_program()); }
void use_classic() { init_program(classic_program()); }

bool set_fen(const std::string& fen) {
    std::istringstream in(fen);
    std::string f[4];
    for (auto& s : f) in >> s;
    return set_up_game(f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str());
}

std::string capture_stdout(void (*f)()) {
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    const int saved = dup(1);
    dup2(fileno(file), 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

std::string mirror_fen(const std::string& fen) {
    std::istringstream in(fen);
    std::string placement, side, castling = "-", ep = "-", rank, mirrored;
    in >> placement >> side >> castling >> ep;
    std::istringstream ranks(placement);
    while (std::getline(ranks, rank, '/')) mirrored = rank + (mirrored.empty() ? "" : "/") + mirrored;
    const auto swap_case = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
        return text;
    };
    if (ep.size() == 2) ep[1] = static_cast<char>('1' + ('8' - ep[1]));
    return swap_case(mirrored) + " " + (side == "w" ? "b" : "w") + " " + swap_case(castling) + " " + ep;
}

std::string text(const Move& m) { return m.from == 0 ? "" : move_to_text(m).s; }

Recorded recorded;

namespace {
void on_line(const IterationLine& l) { recorded.lines.push_back(l); }
void on_move(const Move&, int, int, std::uint32_t) {}
void on_bound(const IterationLine&, const Move&, bool) {}
void on_book(const Move&) {}
void on_single(const Move&) { ++recorded.single_replies; }
void on_best(const ThinkResult& r) { recorded.result = r; }
void on_note(const char*) {}
}  // namespace

const SearchOutput recording_output = {on_line, on_move, on_bound, on_book, on_single, on_best, on_note};

void record_search() { recorded = Recorded{}; }

SearchRequest depth_request(int depth, std::uint64_t nodes) {
    SearchRequest r;
    r.clock_limits = false;
    r.max_depth = depth;
    r.max_nodes = nodes;
    r.output = &recording_output;
    return r;
}

std::string think_with(const SearchRequest& request) {
    SearchRequest r = request;
    r.output = &recording_output;
    recorded.lines.clear();
    think(game(), r);
    return text(recorded.result.best);
}

std::string think_to(int depth, std::uint64_t nodes) { return think_with(depth_request(depth, nodes)); }

SearchWorker& NodeSearch::start() {
    SearchWorker& w = *worker;
    w.start_search(game(), request, now_cs());
    search_policy().prepare(w);
    Position& pos = w.pos;
    pos.ply_state[0].move_start = 1;
    pos.ply_state[0].in_check = king_in_check(pos, pos.side);
    return w;
}

std::string current_fen(const Position& pos) {
    std::string fen;
    for (int rank = 8; rank >= 1; --rank) {
        int empty = 0;
        for (int file = 1; file <= 8; ++file) {
            const int c = pos.board[square_at(file, rank)];
            if (c == EMPTY) {
                ++empty;
                continue;
            }
            if (empty) fen += static_cast<char>('0' + empty);
            empty = 0;
            const char l = piece_letter[c < 0 ? -c : c];
            fen += c > 0 ? static_cast<char>(std::toupper(l)) : l;
        }
        if (empty) fen += static_cast<char>('0' + empty);
        if (rank > 1) fen += '/';
    }
    fen += pos.side == WHITE ? " w " : " b ";
    const auto& c = pos.ply_state[0].castle;
    std::string castling = std::string(c[WHITE_KING_SIDE] ? "K" : "") + (c[WHITE_QUEEN_SIDE] ? "Q" : "") +
                           (c[BLACK_KING_SIDE] ? "k" : "") + (c[BLACK_QUEEN_SIDE] ? "q" : "");
    fen += (castling.empty() ? "-" : castling) + " ";
    fen += pos.ply_state[0].ep ? square_name[pos.ply_state[0].ep] : "-";
    return fen;
}

std::vector<std::string> pgn_positions(const std::string& path, std::size_t max_positions, int* unread) {
    std::vector<std::string> fens;
    std::ifstream in(path);
    const auto pos = std::make_unique<Position>();
    std::string line, token;
    while (fens.size() < max_positions && std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') continue;
        std::istringstream words(line);
        while (words >> token && fens.size() < max_positions) {
            if (token == "1-0" || token == "0-1" || token == "1/2-1/2" || token == "*") {
                new_game(*pos);
            } else if (!std::isdigit(static_cast<unsigned char>(token[0]))) {
                if (parse_san_move(*pos, token.c_str())) {
                    fens.push_back(current_fen(*pos));
                } else if (unread) {
                    ++*unread;
                }
            }
        }
    }
    return fens;
}

std::vector<std::string> epd_positions(const std::string& path) {
    std::vector<std::string> fens;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string f[4];
        if (words >> f[0] >> f[1] >> f[2] >> f[3]) fens.push_back(f[0] + " " + f[1] + " " + f[2] + " " + f[3]);
    }
    return fens;
}

}  // namespace test
