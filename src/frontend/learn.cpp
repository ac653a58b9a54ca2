#include "frontend/learn.h"

#include <vector>

#include "book/book.h"
#include "core/moves.h"

namespace varkon {

void learn_from_result(const Position& pos, const char* result, Side engine_colour) {
    // The game as it stands: a key for every game_ply up to the current one, a move for
    // every game_ply before it.
    const int game_ply = pos.game_ply;
    std::vector<Move> moves(static_cast<std::size_t>(game_ply));
    for (int g = 1; g < game_ply; ++g) moves[static_cast<std::size_t>(g)] = played_move(pos, g);
    BookGame game;
    game.last_bookmove_number = book_state.last_bookmove_number;
    game.keys = std::span<const HashKey>(pos.hash_history.data(), static_cast<std::size_t>(game_ply) + 1);
    game.moves = std::span<const Move>(moves);
    book_learn(result, engine_colour, game);
}

}  // namespace varkon
