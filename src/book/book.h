// book: the opening book — a flat file of 16-byte records (position key, move, how
// often it was played), the lookup that picks a book move for the current position, and
// the builder that turns a PGN game collection into such a file.
//
// The lookup rereads the whole file on every call, so a book rebuilt on disk is used from
// the next call on. A relative book name that does not exist in the working directory is
// looked for beside the program, which is where the build puts the book it ships.
#pragma once

#include <cstdint>
#include <string>

namespace varkon {

// ---- settings ----------------------------------------------------------------------
extern int book_on;              // the engine may play book moves
extern std::string book_name;    // book file name
extern int book_style;           // 1 Best, 2 Normal, 3 Risky; anything else: no book move
extern int min_played;           // builder: pairs played fewer times are dropped (1..100)

// ---- per-game state (reset by new_game) --------------------------------------------
extern int book_entries;           // records counted by the last book_probe
extern int last_bookmove_number;   // game_ply of the last book move played in this game
// Starts the per-game state afresh; start-up registers it to run with every new game.
void book_new_game();

// ---- the file ----------------------------------------------------------------------
// One record as it is stored: 16 bytes, little-endian, no header.
struct BookRecord {
    std::uint32_t key_low;    // low half of the position key before the move
    std::uint32_t key_high;   // high half
    std::int32_t weight;      // times played (learning may lower it below 1)
    std::uint8_t from, to;    // mailbox squares of the move
};
constexpr int BOOK_RECORD_SIZE = 16;
void encode_book_record(const BookRecord& r, unsigned char* out);
BookRecord decode_book_record(const unsigned char* in);

// The file a book name refers to: the name itself, or, when it is relative and does not
// exist in the working directory, the file of that name beside the program. The text
// lives in a buffer of this module until the next call.
const char* book_file_path(const std::string& name);

// ---- lookup ------------------------------------------------------------------------
constexpr int MAX_BOOK_CANDIDATES = 21;

struct BookMove {
    int from = 0;   // 0: no book move
    int to = 0;
};

// Looks up the position with these key halves in `book_name`, prints the moves found as a
// ranked list ("1. e2e4  312"), and chooses one by `book_style`. Prints "can't open book
// file!" when the file cannot be opened. Sets `book_entries`. Allocates nothing.
BookMove book_probe(std::uint32_t key_low, std::uint32_t key_high);

// ---- builder -----------------------------------------------------------------------
// The console command "build": asks for the PGN file, the book name, the minimum count and
// the number of games, releases the large tables, builds the book and allocates the
// tables again. End of input during the questions ends the process.
void book_build();

struct BookBuildCounts {
    bool pgn_read = false; // the PGN file was opened and read to its end (or the limit)
    int games = 0;         // games read
    int move_errors = 0;   // move tokens that named no legal move
    int book_moves = 0;    // records written to the book
};

// The whole build without questions (the tables are left alone): reads `pgn_file` from the
// start position, game by game, and writes `book_file` atomically. `game_limit` 0 reads
// every game. Prints the progress and failure messages of the console command. False when
// no book was written.
bool build_book(const std::string& pgn_file, const std::string& book_file, int min_count,
                int game_limit, BookBuildCounts* counts = nullptr);

// The steps of a build, for callers that supply the moves themselves.
// book_build_begin prepares the buckets and a private temporary directory beside
// `book_file` (or in the system's temporary directory); false when either fails.
bool book_build_begin(const std::string& book_file, int min_count);
// Counts one (position, move) pair; does nothing when no build is in progress.
void book_add(std::uint32_t key_low, std::uint32_t key_high, int from, int to);
// Appends bucket b (1..5000) to its temporary file and empties it.
void book_spill(int b);
// Merges everything counted into the book file: every pair counted at least `min_count`
// times, once, grouped by bucket. The file appears under its name only when complete.
// False when it could not be written.
bool book_write(int* book_moves = nullptr);
// Frees the buckets and removes the temporary files and directory.
void book_build_end();

}  // namespace varkon
