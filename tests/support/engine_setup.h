// In-process set-up of the engine for unit tests: the program, the protocols' game and
// searches run by the tests themselves.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/programs.h"
#include "core/position.h"
#include "frontend/game.h"
#include "search/think.h"
#include "search/worker.h"

namespace test {

// Installs the program (material values, defaults, tables) and the start position.
void use_varkon();
void use_classic();
// Sets the game position from a whole FEN text; true when it was accepted.
bool set_fen(const std::string& fen);
// Runs `f` with stdout redirected and returns what it printed.
std::string capture_stdout(void (*f)());
// Colour-mirrored FEN: board reflected between ranks 4 and 5, colours and side swapped.
std::string mirror_fen(const std::string& fen);
// Coordinate text of a move; "" for no move.
std::string text(const varkon::Move& m);

// What the think driver reported through the recording output, which prints and plays
// nothing.
struct Recorded {
    varkon::ThinkResult result;
    std::vector<varkon::IterationLine> lines;   // their pv pointers are not kept
    int single_replies = 0;
};
extern Recorded recorded;
extern const varkon::SearchOutput recording_output;
// Forgets what was recorded.
void record_search();
// A search to `depth` plies (or `nodes` nodes) without a clock, through the recording output.
varkon::SearchRequest depth_request(int depth, std::uint64_t nodes = 0);
// Searches the game position under `request` (its lines and result recorded; the lines of
// an earlier search forgotten); returns the move chosen.
std::string think_with(const varkon::SearchRequest& request);
std::string think_to(int depth, std::uint64_t nodes = 0);

// A search driven node by node by a test: a worker of its own, with a copy of the game
// position, under a request without a clock.
struct NodeSearch {
    varkon::SearchRequest request = depth_request(0);
    std::unique_ptr<varkon::SearchWorker> worker = std::make_unique<varkon::SearchWorker>();
    // Copies the game position into the worker (ply 0, its check flag set) and prepares
    // the running program's search as a search start does; returns the worker.
    varkon::SearchWorker& start();
};

// FEN (four fields) of a position (at ply 0).
std::string current_fen(const varkon::Position& pos);
// FENs of the positions along the games of a PGN file (moves read with the SAN parser),
// at most `max_positions` of them; `unread` counts the moves the parser refused.
std::vector<std::string> pgn_positions(const std::string& path, std::size_t max_positions, int* unread = nullptr);
// FENs of an EPD file's positions.
std::vector<std::string> epd_positions(const std::string& path);

}  // namespace test
