#include "book/book.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/position.h"

namespace varkon {

int book_on = 1;
std::string book_name = "book.dat";
int book_style = 2;
int min_played = 2;
int book_entries = 0;
int last_bookmove_number = 0;

void book_new_game() {
    book_entries = 0;
    last_bookmove_number = 0;
}

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

char resolved_path[2 * PATH_MAX + 2];

// Probe state: the candidates of the position and the file read buffer.
struct Candidate {
    int from, to;
    std::int32_t weight;
};
Candidate candidates[MAX_BOOK_CANDIDATES];
unsigned char read_buffer[4096 * BOOK_RECORD_SIZE];

// A value 0..32767 from the standard generator, whatever its range.
int rand_15bit() {
    return static_cast<int>(static_cast<long long>(std::rand()) * 32768 / (static_cast<long long>(RAND_MAX) + 1));
}

}  // namespace

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
    const char* dir = program_directory();
    const std::size_t dir_len = std::strlen(dir);
    if (dir_len == 0 || dir_len + name.size() >= sizeof resolved_path) return name.c_str();
    std::memcpy(resolved_path, dir, dir_len);
    std::memcpy(resolved_path + dir_len, name.c_str(), name.size() + 1);
    return resolved_path;
}

BookMove book_probe(std::uint32_t key_low, std::uint32_t key_high) {
    BookMove chosen;
    const int fd = ::open(book_file_path(book_name), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::puts("can't open book file!");
        return chosen;
    }

    int n = 0, records = 0;
    std::size_t held = 0;  // bytes of an incomplete record carried to the next read
    for (;;) {
        const ssize_t got = ::read(fd, read_buffer + held, sizeof read_buffer - held);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const std::size_t bytes = held + static_cast<std::size_t>(got);
        const std::size_t whole = bytes - bytes % BOOK_RECORD_SIZE;
        for (std::size_t at = 0; at < whole; at += BOOK_RECORD_SIZE) {
            if (records < INT_MAX) ++records;
            const unsigned char* p = read_buffer + at;
            if (n == MAX_BOOK_CANDIDATES || get32(p) != key_low || get32(p + 4) != key_high) continue;
            const BookRecord r = decode_book_record(p);
            // A record whose squares are off the board is damage, not a move.
            if (!is_playing_square(r.from) || !is_playing_square(r.to)) continue;
            candidates[n++] = {r.from, r.to, r.weight};
        }
        held = bytes - whole;
        std::memmove(read_buffer, read_buffer + whole, held);
    }
    ::close(fd);
    book_entries = records;
    if (n == 0) return chosen;

    // Heaviest first: the first of the heaviest remaining moves is exchanged into place.
    for (int i = 0; i < n; ++i) {
        int best = i;
        for (int j = i + 1; j < n; ++j)
            if (candidates[j].weight > candidates[best].weight) best = j;
        const Candidate t = candidates[i];
        candidates[i] = candidates[best];
        candidates[best] = t;
    }
    for (int i = 0; i < n; ++i)
        std::printf("%d. %s%s  %d\n", i + 1, square_name[candidates[i].from], square_name[candidates[i].to],
                    static_cast<int>(candidates[i].weight));

    int index;
    switch (book_style) {
        case 1: index = 0; break;
        case 2:
        case 3: {
            const int k = book_style == 2 ? (n < 2 ? n : 2) : n;
            index = rand_15bit() * k / 32767;
            if (index >= k) index = k - 1;
            break;
        }
        default: return chosen;
    }
    chosen.from = candidates[index].from;
    chosen.to = candidates[index].to;
    return chosen;
}

}  // namespace varkon
