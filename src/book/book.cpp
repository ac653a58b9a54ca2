#include "book/book.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/messages.h"

namespace varkon {

BookOptions book_options;
BookState book_state;

void book_new_game() { book_state = BookState{}; }

namespace {

std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put32(std::uint32_t v, unsigned char* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The directory of the running program, with its trailing slash ("" when unknown).
const char* program_directory() {
    static char dir[PATH_MAX + 1];
    static bool known = false;
    if (!known) {
        known = true;
        const ssize_t n = ::readlink("/proc/self/exe", dir, PATH_MAX);
        dir[n > 0 ? n : 0] = '\0';
        char* slash = std::strrchr(dir, '/');
        if (slash != nullptr)
            slash[1] = '\0';
        else
            dir[0] = '\0';
    }
    return dir;
}

struct Candidate {
    int from, to;
    std::int32_t weight;
};

// The module's working storage: the path of the last book_file_path, and the probe's
// candidates of the position and file read buffer (the probe allocates nothing).
struct Scratch {
    char resolved_path[2 * PATH_MAX + 2];
    Candidate candidates[MAX_BOOK_CANDIDATES];
    unsigned char read_buffer[4096 * BOOK_RECORD_SIZE];
};
Scratch scratch;

// Reads the whole records from `offset` on, but not beyond `end`, into scratch.read_buffer (as many
// as it holds); the number read, 0 at the end of the file or on a read error.
std::size_t read_records(int fd, long long offset, long long end) {
    const long long want = std::min<long long>(static_cast<long long>(sizeof scratch.read_buffer), end - offset);
    std::size_t held = 0;
    while (static_cast<long long>(held) < want) {
        const ssize_t got = ::pread(fd, scratch.read_buffer + held, static_cast<std::size_t>(want) - held,
                                    static_cast<off_t>(offset + static_cast<long long>(held)));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        held += static_cast<std::size_t>(got);
    }
    return held / BOOK_RECORD_SIZE;
}

// A value 0..32767 from the standard generator, whatever its range.
int rand_15bit() {
    return static_cast<int>(static_cast<long long>(std::rand()) * 32768 / (static_cast<long long>(RAND_MAX) + 1));
}

// ---- learning ----------------------------------------------------------------------

constexpr std::int32_t LEARN_LIMIT = 1000000000;  // weights beyond it stay as they are

// The weight after a win (+1), a draw (0) or a loss (-1).
std::int32_t learned_weight(std::int32_t w, int outcome) {
    if (outcome > 0) {
        if (w >= LEARN_LIMIT) return w;
        return w > 50 ? w + w / 10 : w + 5;
    }
    if (w <= -LEARN_LIMIT) return w;
    if (outcome == 0) return w > 100 ? w - w / 20 : w - 2;
    return w > 50 ? w - w / 10 : w - 5;
}

// Takes the exclusive lock of the book, waiting up to a second for another learner.
bool lock_book(int fd) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        const timespec pause = {0, 5000000};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

// The offset of the first of the file's whole records with this key and move, its bytes in
// `record`; -1 when there is none.
long long find_record(int fd, long long end, HashKey key, int from, int to, unsigned char* record) {
    for (long long at = 0; at < end;) {
        const std::size_t n = read_records(fd, at, end);
        if (n == 0) break;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char* p = scratch.read_buffer + i * BOOK_RECORD_SIZE;
            if (get32(p) == static_cast<std::uint32_t>(key) && get32(p + 4) == static_cast<std::uint32_t>(key >> 32) &&
                p[12] == from && p[13] == to) {
                std::memcpy(record, p, BOOK_RECORD_SIZE);
                return at + static_cast<long long>(i) * BOOK_RECORD_SIZE;
            }
        }
        at += static_cast<long long>(n) * BOOK_RECORD_SIZE;
    }
    return -1;
}

}  // namespace


bool book_name_valid(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        messagef("no book name!\n");
        return false;
    }
    if (name.size() >= PATH_MAX) {
        messagef("book name too long!\n");
        return false;
    }
    return true;
}

bool set_book_name(const std::string& name) {
    if (!book_name_valid(name)) return false;
    book_options.name = name;
    return true;
}

void encode_book_record(const BookRecord& r, unsigned char* out) {
    put32(r.key_low, out);
    put32(r.key_high, out + 4);
    put32(static_cast<std::uint32_t>(r.weight), out + 8);
    out[12] = r.from;
    out[13] = r.to;
    out[14] = 0;
    out[15] = 0;
}

BookRecord decode_book_record(const unsigned char* in) {
    BookRecord r;
    r.key_low = get32(in);
    r.key_high = get32(in + 4);
    r.weight = static_cast<std::int32_t>(get32(in + 8));
    r.from = in[12];
    r.to = in[13];
    return r;
}

const char* book_file_path(const std::string& name) {
    if (name.empty() || name[0] == '/' || ::access(name.c_str(), F_OK) == 0 || errno != ENOENT)
        return name.c_str();
    const std::string dir = program_directory();
    if (dir.empty()) return name.c_str();
    const std::string beside = dir + name;
    const std::string installed = dir + VARKON_DATA_FROM_BIN + "/" + name;
    // Beside the program unless only the data directory holds the file.
    const bool only_installed = ::access(beside.c_str(), F_OK) != 0 && ::access(installed.c_str(), F_OK) == 0;
    const std::string& found = only_installed ? installed : beside;
    if (found.size() >= sizeof scratch.resolved_path) return name.c_str();
    std::memcpy(scratch.resolved_path, found.c_str(), found.size() + 1);
    return scratch.resolved_path;
}

int book_open_regular(const char* path, int flags, long long* size) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    *size = static_cast<long long>(st.st_size);
    return fd;
}

BookMove book_probe(std::uint32_t key_low, std::uint32_t key_high) {
    BookMove chosen;
    long long size = 0;
    const int fd = book_open_regular(book_file_path(book_options.name), O_RDONLY, &size);
    if (fd < 0) {
        messagef("can't open book file!\n");
        return chosen;
    }

    // The records the file held when it was opened: a file that grows meanwhile is not
    // followed, and an incomplete last record is ignored.
    const long long end = size - size % BOOK_RECORD_SIZE;
    int n = 0;
    long long records = 0;
    for (long long at = 0; at < end;) {
        const std::size_t got = read_records(fd, at, end);
        if (got == 0) break;
        for (std::size_t i = 0; i < got; ++i) {
            const unsigned char* p = scratch.read_buffer + i * BOOK_RECORD_SIZE;
            if (n == MAX_BOOK_CANDIDATES || get32(p) != key_low || get32(p + 4) != key_high) continue;
            const BookRecord r = decode_book_record(p);
            // A record whose squares are off the board is damage, not a move.
            if (!is_playing_square(r.from) || !is_playing_square(r.to)) continue;
            scratch.candidates[n++] = {r.from, r.to, r.weight};
        }
        records += static_cast<long long>(got);
        at += static_cast<long long>(got) * BOOK_RECORD_SIZE;
    }
    ::close(fd);
    book_state.entries = static_cast<int>(std::min<long long>(records, INT_MAX));
    if (n == 0) return chosen;

    // Heaviest first: the first of the heaviest remaining moves is exchanged into place.
    for (int i = 0; i < n; ++i) {
        int best = i;
        for (int j = i + 1; j < n; ++j)
            if (scratch.candidates[j].weight > scratch.candidates[best].weight) best = j;
        const Candidate t = scratch.candidates[i];
        scratch.candidates[i] = scratch.candidates[best];
        scratch.candidates[best] = t;
    }
    for (int i = 0; i < n; ++i)
        messagef("%d. %s%s  %d\n", i + 1, square_name[scratch.candidates[i].from], square_name[scratch.candidates[i].to],
                    static_cast<int>(scratch.candidates[i].weight));

    int index;
    switch (book_options.style) {
        case 1: index = 0; break;
        case 2:
        case 3: {
            const int k = book_options.style == 2 ? (n < 2 ? n : 2) : n;
            index = rand_15bit() * k / 32767;
            if (index >= k) index = k - 1;
            break;
        }
        default: return chosen;
    }
    chosen.from = scratch.candidates[index].from;
    chosen.to = scratch.candidates[index].to;
    return chosen;
}

void book_learn(const char* result, Side engine_colour, const BookGame& game) {
    messagef("\n");
    messagef("\n");
    messagef("updating bookfile...\n");
    while (*result == ' ' || *result == '\t') ++result;
    int white_outcome;
    if (std::strncmp(result, "1-0", 3) == 0)
        white_outcome = 1;
    else if (std::strncmp(result, "0-1", 3) == 0)
        white_outcome = -1;
    else if (std::strncmp(result, "1/2", 3) == 0)
        white_outcome = 0;
    else {
        messagef("no result ?\n");
        return;
    }
    // Without the engine's colour neither the outcome nor the engine's moves are known.
    if (engine_colour != WHITE && engine_colour != BLACK) {
        messagef("engine colour unknown, book not updated!\n");
        return;
    }
    const int outcome = white_outcome * engine_colour;

    long long size = 0;
    const int fd = book_open_regular(book_file_path(book_options.name), O_RDWR, &size);
    if (fd < 0) {
        messagef("can't open book file!\n");
        return;
    }
    // Another engine sharing the book may be learning: its updates are read after its
    // lock is released, never overwritten with stale weights.
    struct stat st;
    if (!lock_book(fd) || ::fstat(fd, &st) != 0) {
        ::close(fd);
        messagef("book file is locked, not updated!\n");
        return;
    }
    size = static_cast<long long>(st.st_size);
    const long long end = size - size % BOOK_RECORD_SIZE;  // only whole records are touched
    messagef("last_bookmove_number= %d\n", game.last_bookmove_number);

    const long long known = static_cast<long long>(std::min(game.keys.size(), game.moves.size()));
    for (int g = engine_colour == WHITE ? 1 : 2; g <= game.last_bookmove_number && g < known; g += 2) {
        const Move& m = game.moves[static_cast<std::size_t>(g)];
        if (!is_playing_square(m.from) || !is_playing_square(m.to)) continue;
        // The record as read, its reserved bytes kept, is written back whole in one write:
        // a process killed at any moment leaves either the old or the new record.
        unsigned char record[BOOK_RECORD_SIZE];
        const long long at = find_record(fd, end, game.keys[static_cast<std::size_t>(g)], m.from, m.to, record);
        if (at < 0) continue;
        const std::int32_t old_weight = static_cast<std::int32_t>(get32(record + 8));
        const std::int32_t new_weight = learned_weight(old_weight, outcome);
        put32(static_cast<std::uint32_t>(new_weight), record + 8);
        if (::pwrite(fd, record, BOOK_RECORD_SIZE, static_cast<off_t>(at)) != BOOK_RECORD_SIZE) {
            messagef("can't write book file!\n");
            break;
        }
        messagef("%d. %s%s score = %d --> %d + - %d\n", g, square_name[m.from], square_name[m.to],
                    static_cast<int>(old_weight), static_cast<int>(new_weight),
                    static_cast<int>(new_weight - old_weight));
    }
    ::close(fd);  // releases the lock
}

}  // namespace varkon
