// syzygy: Syzygy endgame tables (win/draw/loss and distance to zeroing), probed through
// the libfathom prober.
//
// syzygy_load takes the table files of the directories of the path option and hands the
// sound ones to the prober. Table files are untrusted: each is checked (size, kind,
// header, the material its name says), then tried in a separate process, which probes a
// sample of its positions: the prober must neither fail nor crash there, and every answer
// must agree with the answers one move on. A file that fails is reported and left out.
// Only loading and releasing change what the prober holds: call them outside any search.
// The win/draw/loss probe is reentrant (any number of searches may probe at once); the
// root probe is not (the think driver calls it once, before the search).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/position.h"

namespace varkon {

struct SyzygyOptions {
    std::string path;       // directories separated by ':'; empty: no tables
    int probe_depth = 1;    // a search node is probed with at least this many plies to go
    bool rule50 = true;     // the fifty-move rule turns wins and losses it spoils into draws
    int probe_limit = 7;    // positions of at most this many pieces are probed
};
// The options in force (the protocols set them; a new path takes effect at syzygy_load).
SyzygyOptions& syzygy_options();

struct SyzygyReport {
    int files = 0;                          // table files in use
    int largest = 0;                        // pieces of the largest win/draw/loss table in use
    std::vector<std::string> problems;      // one line for each file left out
    std::vector<std::string> directories;   // one line for each directory that gives no tables
};
// Releases the tables in use and loads those of syzygy_options().path. When the path and its
// files are as they were at the last load, the tables in use stay and its report is given.
SyzygyReport syzygy_load();
// Releases the tables in use.
void syzygy_release();

// The most pieces (kings and pawns included) of a position the tables may answer for:
// the largest table in use, at most the probe limit; 0 when none is loaded.
int syzygy_cardinality();
// Whether a win/draw/loss table in use holds the position's material.
bool syzygy_holds(const Position& pos);

// A result from the view of the side to move.
enum class TbOutcome : int { loss = -2, blessed_loss = -1, draw = 0, cursed_win = 1, win = 2 };

// The result of the position at its current ply as if the fifty-move counter stood at 0
// (a cursed win is a win the fifty-move rule turns into a draw, a blessed loss the same
// for the loser). The position must have no castling rights. False: no answer.
bool syzygy_probe_wdl(const Position& pos, TbOutcome& out);

// One legal move of a root position as the distance-to-zeroing tables rank it.
struct SyzygyRootMove {
    int from, to;         // squares of the board
    int promotion;        // piece type, 0: none
    TbOutcome outcome;    // for the side to move, with the fifty-move counter of the root
                          // counted when the rule is on
    int dtz;              // plies to the next capture, pawn move or mate, from the root
};
// Every legal move of the position (at its current ply, no castling rights), ranked.
// False when the tables cannot answer for every move. Not reentrant.
bool syzygy_root_moves(const Position& pos, std::vector<SyzygyRootMove>& out);

// ---- parts of the loading, for tests ----------------------------------------------------

// The material of a table name ("KRPvKN"): counts of pawns, knights, bishops, rooks and
// queens of the side named first [0] and second [1]; false when the name is none.
struct TbMaterial {
    int count[2][6] = {};   // [side][piece type 1..5]
    int pieces() const;
};
bool tb_material_of_name(const std::string& name, TbMaterial& out);
// Why a file cannot be the table it is named after ("" when its size, kind, header and
// material are sound). `wdl`: a win/draw/loss file (else distance to zeroing).
std::string syzygy_file_problem(const std::string& path, const TbMaterial& material, bool wdl);

}  // namespace varkon
