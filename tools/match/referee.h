// referee: the board of a match game and the judge of what a UCI engine prints about it.
//
// A Board holds the game (the start position and the moves played) on the engine's own
// position code, tells legal moves and how a game ends by the rules, and writes SAN for
// the PGN record. A SearchWatch reads the lines of one engine's search as a strict
// tournament manager does: every field of an "info" line is known and well formed, every
// move of a "pv" is legal in turn, an answer comes after a scored line and agrees with
// the first move of the last "pv" printed (of the best line, "multipv 1", when several
// ranked lines are shown).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace varkon {
struct Position;
}

namespace match {

// How a game stands by the rules.
enum class Outcome { none, white_mates, black_mates, stalemate, fifty_moves, repetition, material };

class Board {
public:
    Board();
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Back to the start position, then plays `moves` (coordinate texts); false when one
    // of them is not legal (the moves before it stay played).
    bool reset(const std::vector<std::string>& moves);
    // Plays a move given in coordinate notation when it is legal; false, with nothing
    // changed, when it is not.
    bool play(const std::string& move);
    // SAN of a legal move of the position (empty when it is not legal), and the
    // coordinate text of the legal move a SAN text names (empty: none).
    std::string san(const std::string& move);
    std::string from_san(const std::string& san);
    // Whether `moves` are legal one after the other from this position (it is kept);
    // `bad` is the index of the first that is not.
    bool legal_line(const std::vector<std::string>& moves, std::size_t* bad = nullptr);
    Outcome outcome();
    bool white_to_move() const;
    int plies() const { return static_cast<int>(moves_.size()); }
    const std::vector<std::string>& moves() const { return moves_; }
    // "position startpos [moves ...]"
    std::string position_command(const std::vector<std::string>& extra = {}) const;

private:
    std::unique_ptr<varkon::Position> pos_, scratch_;
    std::vector<std::string> moves_;
};

// SAN move texts of a PGN file's games (headers, comments, numbers and results skipped),
// turned into coordinate moves on a Board; games that do not read are left out.
std::vector<std::vector<std::string>> read_pgn_lines(const std::string& path);

// What one search printed, as judged line by line.
struct Verdict {
    std::vector<std::string> faults;   // each: "kind: detail"
    bool scored = false;               // an "info" line with a score came
    bool has_score = false;            // the last score seen, from the engine's side
    int score_cp = 0;                  // mate scores as +-(30000 - moves)
    std::string last_pv_first;         // the first move of the last "pv" of a best line
};

class SearchWatch {
public:
    // A search of the position `board` holds now (after `extra` moves, the predicted
    // reply of a ponder search) begins.
    void begin(Board& board, const std::vector<std::string>& extra = {});
    // The predicted reply of a ponder search has been played on the board.
    void reached() { extra_.clear(); }
    // The lines that follow count for nothing (a ponder search whose reply did not come).
    void ignore() { active_ = false; }
    // One line of the engine during the search.
    void line(const std::string& text);
    // The answer: checks it against what came before; returns the verdict of the search.
    Verdict answer(const std::string& best, const std::string& ponder);
    bool active() const { return active_; }

private:
    void fault(const std::string& kind, const std::string& detail);
    void info(const std::vector<std::string>& w, const std::string& text);
    Board* board_ = nullptr;
    std::vector<std::string> extra_;
    bool active_ = false;
    Verdict v_;
};

}  // namespace match
