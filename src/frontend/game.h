// game: the game the protocols play, one per process, and the steps that start one.
//
// Every protocol and console command speaks about this one game: its position at ply 0
// with the moves played. A search copies it into a worker of its own; the move a search
// chooses comes back through the protocol's output, which plays it here. Starting a game
// or setting up a position also starts the opening book's per-game state afresh.
#pragma once

#include "core/position.h"

namespace varkon {

struct SearchRequest;

// The game position.
Position& game();

// The start position.
void start_game();
// setup_fen and edit_board on the game (see core/setup.h for what they accept). A FEN's
// half-move clock field, when given and a number, sets the fifty-move counter (at most 100).
bool set_up_game(const char* placement, const char* side_field, const char* castling_field, const char* ep_field,
                 const char* halfmove_field = nullptr);
bool edit_game(const char* (*next_token)());

// A search of the game position under `request` (think): the protocols' one way to search.
// While the log is open, the search's statistics report follows in the log.
void search_game(const SearchRequest& request);

}  // namespace varkon
