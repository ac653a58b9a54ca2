#include "frontend/learn.h"

#include "book/book.h"

namespace varkon {

void learn_from_result(const char* result, Side engine_colour) {
    // The game as it stands: a key for every game_ply up to the current one, a move for
    // every game_ply before it.
    BookGame game;
    game.last_bookmove_number = last_bookmove_number;
    game.keys = std::span<const HashKey>(hash_history, static_cast<std::size_t>(game_ply) + 1);
    game.moves = std::span<const Move>(game_moves, static_cast<std::size_t>(game_ply));
    book_learn(result, engine_colour, game);
}

}  // namespace varkon
