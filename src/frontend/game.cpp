#include "frontend/game.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "book/book.h"
#include "core/setup.h"
#include "frontend/log.h"
#include "search/think.h"

namespace varkon {

namespace {

// Made at first use, so that the program's material values are installed by then.
std::unique_ptr<Position> the_game;

}  // namespace

Position& game() {
    if (!the_game) the_game = std::make_unique<Position>();
    return *the_game;
}

void start_game() {
    new_game(game());
    book_new_game();
}

bool set_up_game(const char* placement, const char* side_field, const char* castling_field, const char* ep_field,
                 const char* halfmove_field) {
    const bool ok = setup_fen(game(), placement, side_field, castling_field, ep_field);
    book_new_game();
    // The fifty-move counter, when the field is a number (a draw is claimable from 100 on).
    if (ok && halfmove_field != nullptr && *halfmove_field >= '0' && *halfmove_field <= '9') {
        const long n = std::strtol(halfmove_field, nullptr, 10);
        game().fifty[static_cast<std::size_t>(game().game_ply)] = static_cast<int>(std::clamp(n, 0L, 100L));
    }
    return ok;
}

bool edit_game(const char* (*next_token)()) {
    const bool ok = edit_board(game(), next_token);
    book_new_game();
    return ok;
}

void search_game(const SearchRequest& request) {
    think(game(), request);
    log_statistics(last_search().stats);
}

}  // namespace varkon
