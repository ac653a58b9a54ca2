// book: the opening book — a flat file of 16-byte records (position key, move, how
// often it was played), the lookup that picks a book move for the current position, the
// builder that turns a PGN game collection into such a file, and learning, which moves
// the weights of the engine's book moves after a game by its result.
//
// The lookup rereads the whole file on every call, so a book rebuilt on disk is used from
// the next call on. A relative book name that does not exist in the working directory is
// looked for beside the program, which is where the build puts the book it ships. Only
// regular files are read, and never beyond the size they had when opened.
//
// Everything the module prints goes through the messages of core/messages.h, so that the
// protocol in charge shows the notes its own way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/position.h"

namespace varkon {

// ---- settings ----------------------------------------------------------------------
struct BookOptions {
    int on = 1;                       // the engine may play book moves
    std::string name = "book.dat";    // book file name
    int style = 2;                    // 1 Best, 2 Normal, 3 Risky; anything else: no book move
    int min_played = 2;               // builder: pairs played fewer times are dropped (1..100)
};
extern BookOptions book_options;

// True when `name` can name a book: not empty, no NUL byte, shorter than PATH_MAX. A
// refused name is reported ("book name too long!", "no book name!").
bool book_name_valid(const std::string& name);
// Makes `name` the book name when book_name_valid accepts it; false (and the old name
// kept) when it does not.
bool set_book_name(const std::string& name);

// ---- per-game state (reset by new_game) --------------------------------------------
struct BookState {
    int entries = 0;                  // records counted by the last book_probe
    int last_bookmove_number = 0;     // game_ply of the last book move played in this game
};
extern BookState book_state;
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
// exist in the working directory, the file of that name beside the program, or else in the
// data directory of an installed program (share/varkon beside the program's bin). The text
// lives in a buffer of this module until the next call.
const char* book_file_path(const std::string& name);
// Opens `path` with `flags` (O_RDONLY or O_RDWR) when it is a regular file, without
// blocking on a FIFO or a device; its size in `*size`. -1 when it cannot be opened (errno
// from open) or is no regular file (errno EINVAL).
int book_open_regular(const char* path, int flags, long long* size);

// ---- lookup ------------------------------------------------------------------------
constexpr int MAX_BOOK_CANDIDATES = 21;

struct BookMove {
    int from = 0;   // 0: no book move
    int to = 0;
};

// Looks up the position with these key halves in `book_options.name`, prints the moves found as a
// ranked list ("1. e2e4  312"), and chooses one by `book_options.style`. Prints "can't open book
// file!" when the file cannot be opened or is no regular file. Sets `book_state.entries`.
// Allocates nothing.
BookMove book_probe(std::uint32_t key_low, std::uint32_t key_high);

// ---- builder -----------------------------------------------------------------------
struct BookBuildCounts {
    bool pgn_read = false;     // the PGN file was read to its end (or the limit) without error
    bool interrupted = false;  // the build was stopped (BookBuildOptions::stop) before the end
    long long games = 0;       // games read
    long long move_errors = 0; // move tokens that named no legal move
    long long book_moves = 0;  // records written to the book
    // What the reading passed over (reported in one line at its end):
    long long games_without_result = 0;  // ended by the next game's tags or the end of the file
    long long open_comments = 0;         // comments in braces never closed
    long long long_tokens = 0;           // movetext tokens longer than any move (counted as move errors too)
    long long bad_text_lines = 0;        // lines holding bytes that are not UTF-8 (read as they are)
    int runs = 0;                        // sorted runs the counting spilled to temporary files
    std::size_t peak_memory = 0;         // the most bytes the counting held at once
};

// The counting may use this many bytes (its table, and the buffers of the merge at the
// end); beyond it, sorted runs go to temporary files beside the book.
constexpr std::size_t BOOK_BUILD_MEMORY = std::size_t{256} << 20;

struct BookBuildOptions {
    int game_limit = 0;                      // games to read; 0: all
    std::size_t memory = BOOK_BUILD_MEMORY;  // bytes for counting before runs are spilled
    // Progress on one line that rewrites itself ("\r", for a terminal) up to ten times a
    // second; otherwise a plain line every ten seconds. The last line is always shown.
    bool progress_in_place = false;
    // Asked after each block of the file read and each bucket written; true stops the build,
    // which then leaves the book file as it was and no temporary files.
    bool (*stop)() = nullptr;
};

// The whole build without questions (the caller releases the search tables if it wants
// the room): reads `pgn_file` from the start position, game by game, and writes
// `book_file` atomically. Prints the progress, what was skipped and the failure messages.
// False when no book was written: the PGN file is missing, no regular file, in UTF-16 or
// cannot be read ("pgn file not found!", "can't read pgn file!", "pgn file is in UTF-16,
// not read!"), the temporary files or the book cannot be written, the build was stopped
// ("build stopped: book file kept!"), or the build found no book move and a file
// `book_file` already exists, which is kept ("no book moves: book file kept!").
bool build_book(const std::string& pgn_file, const std::string& book_file, int min_count,
                const BookBuildOptions& options, BookBuildCounts* counts = nullptr);
// The same with the default options and a game limit (0 reads every game).
bool build_book(const std::string& pgn_file, const std::string& book_file, int min_count,
                int game_limit, BookBuildCounts* counts = nullptr);

// The steps of a build, for callers that supply the moves themselves.
// book_build_begin prepares the counting and a private temporary directory beside
// `book_file` (or in the system's temporary directory); false when either fails.
bool book_build_begin(const std::string& book_file, int min_count, const BookBuildOptions& options = {});
// Counts one (position, move) pair. False when no build is in progress or the pair could
// not be counted (temporary files cannot be written, no memory; said once), which ends
// the build.
bool book_add(std::uint32_t key_low, std::uint32_t key_high, int from, int to);
// Merges everything counted into the book file: every pair counted at least `min_count`
// times, once, grouped by bucket (the key modulo 5000), within a bucket in the order the
// pairs were first counted. The file appears under its name only when complete, and an
// existing file is not replaced by a book without records. False when nothing was
// written. Fills the book_moves, runs and interrupted fields of `counts`.
bool book_write(BookBuildCounts* counts = nullptr);
// Frees the counting and removes the temporary files and directory.
void book_build_end();

// ---- learning ----------------------------------------------------------------------
// What learning needs of the game just ended. keys[g] is the position key at game_ply g
// and moves[g] the move played from it (hash_history and game_moves); entries at or
// beyond the spans' sizes are never read.
struct BookGame {
    int last_bookmove_number = 0;     // game_ply of the engine's last book move (0: none)
    std::span<const HashKey> keys;
    std::span<const Move> moves;
};

// After a game: finds the record of each move the engine played, from its first move up
// to its last book move, and moves its weight by the result: up after a win, down after
// a draw or a loss. `result` is the rest of the "result" command line ("1-0", "0-1" or
// "1/2-1/2" after optional blanks); `engine_colour` WHITE, BLACK or 0 (unknown: nothing
// changes). Prints "updating bookfile...", then one line per record changed, or "no
// result ?" / "can't open book file!" / "book file is locked, not updated!". Each record
// is rewritten in place by one 16-byte positioned write under an exclusive lock of the
// file; the file's size never changes.
void book_learn(const char* result, Side engine_colour, const BookGame& game);

}  // namespace varkon
