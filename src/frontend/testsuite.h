// testsuite: the EPD test suite of varkon_classic (console commands "testsuite" and "epd").
//
// Asks for an EPD file, a results file, the seconds per position and the mode, then
// searches every position of the file for that time and compares the engine's move with
// the position's "bm" moves (playing any of them solves it) and "am" moves (moves to
// avoid: any other move solves it). A result line per position and a summary are printed
// and written to the results file. In interactive mode the statistics report follows each
// position with the question whether to go on. A line typed at a terminal stops the run
// before the next position; input waiting on a pipe (a script's next commands) does not.
//
// The search runs in test-suite mode (the whole clock is the time of the move) with an
// output of its own: the thinking lines are WinBoard's "post" lines, the chosen move is
// recorded and neither announced nor played.
#pragma once

#include <string>
#include <vector>

#include "core/position.h"

namespace varkon {

// One position of an EPD file.
struct EpdPosition {
    std::string fields[4];           // placement, side to move, castling rights, en passant
    std::vector<std::string> best;   // "bm": moves that solve it, check and annotation signs cut off
    std::vector<std::string> avoid;  // "am": moves that fail it, likewise
    std::string id = "?";            // "id"
};

enum class EpdLine { position, empty, end, malformed };

// Reads one line of an EPD file: four position fields (castling rights and en passant may
// be missing; a FEN's two move counters may follow), then operations ended by ";". A line
// whose first word starts with "*" ends the suite.
EpdLine parse_epd_line(const std::string& line, EpdPosition& position);

// Whether `move`, a legal move of the game position, solves `position`: it is one of the
// best moves (when any are given) and none of the moves to avoid. A position with neither
// is never solved. A move text that names no legal move is compared as text with the
// engine's SAN.
bool epd_solved(const EpdPosition& position, const Move& move);

// The console command: the dialogue and the run. `statistics` prints the search
// statistics report shown in interactive mode (nullptr: none).
void run_test_suite(void (*statistics)());

}  // namespace varkon
