// config: the configuration file of varkon_classic, "Varkon.ini".
//
// At start-up the program reads its settings from Varkon.ini in the working directory or,
// when there is none there, from the one the book lookup finds (beside the program, or in
// the data directory of an installed program). When there is none it writes the default
// file into the working directory and carries on with that file's settings, so that a
// first start behaves like every later one. Where the working directory takes no files,
// the user's directory for them (user_file_directory()) serves instead: its Varkon.ini is
// read, or written first; where that fails too the same default settings are used.
//
// The file is read word by word: a keyword takes the next word as its value, on its own
// line or a later one (numbers are clamped into their ranges), and its confirmation line
// is printed; a word starting with "#" makes the rest of its line a comment; any other word
// makes the rest of its line be skipped. Names and paths are single words of at most
// MAX_CONFIG_NAME bytes.
//
// The book and tablebase settings are handed to their modules as they are read (protocol
// commands may change them later). Resigning, draw offers and the log are settings of this
// module alone: the WinBoard loop reads them from configuration().
#pragma once

#include <cstdio>
#include <string>

namespace varkon {

struct Configuration {
    int hash_mb = 2;                   // HASH: transposition tables in MB, 2..512
    std::string egtb_path;             // EGTB_PATH: the program's default path until read
    double egtb_cache_mb = 2;          // EGTB_CACHE_SIZE: 1..32
    std::string syzygy_path;           // SYZYGY_PATH: Syzygy table directories, ':'-separated
    bool use_book = true;              // USE_BOOK
    std::string book_name = "book.dat";// BOOK_NAME
    int book_style = 1;                // BOOK_STYLE: 1 best, 2 normal, 3 random
    bool resign = false;               // RESIGN: the engine may resign
    int resign_value = -600;           // RESIGN_VALUE: scores at or below count towards it
    int resign_count = 6;              // RESIGN_COUNT: that many such scores in a row resign
    bool draw = false;                 // DRAW: the engine may offer and claim draws
    bool log = false;                  // LOGFILE: the log is opened at start-up
    int threads = 1;                   // THREADS: threads a search runs on, 1..256
};

constexpr std::size_t MAX_CONFIG_NAME = 4095;

// The settings read at start-up (the built-in defaults before and for keywords the file
// does not name).
const Configuration& configuration();
// Back to the built-in defaults (start-up and tests).
void reset_configuration();

// The start-up step: finds, reads (or writes and reads) Varkon.ini as described above,
// then allocates the program's search tables with the HASH size and starts the THREADS.
void read_config();
// Reads configuration lines from `in`, printing the confirmation lines, and hands the
// book and tablebase settings to their modules. The tables and threads are not touched.
void read_config_stream(std::FILE* in);
// The content of the default file.
const char* default_config_text();

// The values of BOOK_STYLE, styles 1 to 3.
constexpr const char* book_style_names[3] = {"best", "normal", "random"};

// Changes the setting of `keyword` for this session, as the keyword with `value` in the
// file would (the same conversions and ranges), without a confirmation line; the file is
// not rewritten. False when the keyword names no setting or the value is refused (a name
// too long, a book style that is none).
bool change_setting(const std::string& keyword, const std::string& value);

}  // namespace varkon
