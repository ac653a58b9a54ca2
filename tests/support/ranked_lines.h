// The several best lines ("multipv 1..k") a UCI search prints: read back, and a dialogue
// that checks them, run against each program from its own test file.
#pragma once

#include <string>
#include <vector>

namespace test {

// One ranked line: its depth, its score (centipawns; a mate in n as +-(30000 - n)) and the
// moves of its pv.
struct RankedLine {
    int depth = 0;
    int score = 0;
    std::string pv;
};

// The last complete round of ranked lines in `out`: "multipv 1" to "multipv k" of one
// depth, one after another, k being the most ranks a round of `out` holds.
std::vector<RankedLine> last_round(const std::string& out);

// Drives the UCI program `bin` through searches of several lines (fixed depth, more lines
// than moves, "searchmoves", "go infinite" and back to one line) and checks the lines.
void check_multipv_dialogue(const char* bin);

}  // namespace test
