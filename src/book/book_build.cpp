// The book builder: replays the games of a PGN collection, counts every (position, move)
// pair of their first 60 half-moves in 5000 buckets that spill to temporary files when
// full, and merges each bucket into the book file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "book/book.h"
#include "core/messages.h"
#include "core/notation.h"
#include "core/moves.h"
#include "core/position.h"

namespace varkon {

namespace {

constexpr int BUCKETS = 5000;
constexpr int BUCKET_CAPACITY = 500;   // a bucket is spilled when it holds this many
constexpr int BOOK_DEPTH = 60;         // half-moves of each game that are recorded
constexpr std::size_t TOKEN_MAX = 99;  // longer PGN tokens are no moves

// The build in progress. A bucket's records grow as needed up to the capacity: most
// buckets of a build hold a few records, and memory that is never touched costs nothing,
// while a fresh page for each of 5000 buckets costs more than reading a small collection.
bool building = false;
std::vector<BookRecord> buckets[BUCKETS];
bool bucket_spilled[BUCKETS];  // has a temporary file
std::string temp_dir;    // private directory of the temporary files
std::string target;      // the book file
int minimum = 2;

std::string temp_name(int b) { return temp_dir + "/tempfile_" + std::to_string(b) + ".dat"; }

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new, empty directory for the temporary files: stale files of an interrupted earlier
// build can never be appended to. Beside the book first, else in the system's temporary
// directory.
bool make_temp_dir() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string places[] = {directory_of(target) + "/.varkon-book-XXXXXX",
                                  std::string(tmp && *tmp ? tmp : "/tmp") + "/varkon-book-XXXXXX"};
    for (const std::string& pattern : places) {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) {
            temp_dir = name.data();
            return true;
        }
    }
    return false;
}

void remove_temp_dir() {
    if (temp_dir.empty()) return;
    if (DIR* d = ::opendir(temp_dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::unlink((temp_dir + "/" + e->d_name).c_str());
        ::closedir(d);
    }
    ::rmdir(temp_dir.c_str());
    temp_dir.clear();
}

bool same_pair(const BookRecord& a, const BookRecord& b) {
    return a.key_low == b.key_low && a.key_high == b.key_high && a.from == b.from && a.to == b.to;
}

// The records of bucket b's temporary file, in file order; false when it cannot be read.
bool read_temp_file(int b, std::vector<BookRecord>& out) {
    std::FILE* f = std::fopen(temp_name(b).c_str(), "rb");
    if (f == nullptr) return false;
    unsigned char buf[BOOK_RECORD_SIZE * 1024];
    std::size_t n;
    while ((n = std::fread(buf, BOOK_RECORD_SIZE, 1024, f)) > 0)
        for (std::size_t i = 0; i < n; ++i) out.push_back(decode_book_record(buf + i * BOOK_RECORD_SIZE));
    std::fclose(f);
    return true;
}

// Scratch space of the merge, kept from one bucket to the next.
struct MergeSpace {
    std::vector<std::uint32_t> order, kept;
    std::vector<BookRecord> merged;
};

// Adds up the weights of equal pairs. Each pair keeps the place of its first occurrence;
// pairs below the minimum are dropped.
void merge_pairs(std::vector<BookRecord>& recs, int min_count, MergeSpace& space) {
    std::vector<std::uint32_t>& order = space.order;
    order.resize(recs.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    auto pair_less = [&](std::uint32_t x, std::uint32_t y) {
        const BookRecord &a = recs[x], &b = recs[y];
        if (a.key_high != b.key_high) return a.key_high < b.key_high;
        if (a.key_low != b.key_low) return a.key_low < b.key_low;
        if (a.from != b.from) return a.from < b.from;
        if (a.to != b.to) return a.to < b.to;
        return x < y;
    };
    std::sort(order.begin(), order.end(), pair_less);
    std::vector<std::uint32_t>& kept = space.kept;  // first occurrences that reach the minimum
    kept.clear();
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        long long sum = 0;
        for (; j < order.size() && same_pair(recs[order[i]], recs[order[j]]); ++j)
            if (recs[order[j]].weight > 0) sum += recs[order[j]].weight;
        if (sum >= min_count) {
            recs[order[i]].weight = static_cast<std::int32_t>(std::min<long long>(sum, INT32_MAX));
            kept.push_back(order[i]);
        }
        i = j;
    }
    std::sort(kept.begin(), kept.end());
    space.merged.clear();
    for (std::uint32_t k : kept) space.merged.push_back(recs[k]);
    recs.swap(space.merged);
}

// A progress line, printed for every game and every bucket: put together here rather than
// through printf, which costs more than reading a short game.
class ProgressLine {
public:
    ProgressLine& operator<<(const char* text) {
        while (*text != '\0' && p_ < text_ + sizeof text_ - 1) *p_++ = *text++;
        return *this;
    }
    ProgressLine& operator<<(int v) {
        char digits[12];
        int n = 0;
        unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
        do {
            digits[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (v < 0) digits[n++] = '-';
        while (n > 0 && p_ < text_ + sizeof text_ - 1) *p_++ = digits[--n];
        return *this;
    }
    void print() {
        *p_ = '\0';
        message(text_);
    }

private:
    char text_[96];
    char* p_ = text_;
};

// ---- PGN reading -------------------------------------------------------------------

// Character classes: blanks separate tokens, and so do the brackets and marks of comments,
// variations and glyphs.
constexpr unsigned char BLANK = 1, TOKEN_END = 2;
constexpr std::array<unsigned char, 256> char_classes = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f', '\0'}) t[c] = BLANK | TOKEN_END;
    for (unsigned char c : {'{', '}', '(', ')', ';', '$'}) t[c] = TOKEN_END;
    return t;
}();
bool is_blank(int c) { return (char_classes[static_cast<unsigned char>(c)] & BLANK) != 0; }
bool ends_token(int c) { return (char_classes[static_cast<unsigned char>(c)] & TOKEN_END) != 0; }

class PgnReader {
public:
    // Reads `fd` up to `size` bytes, the size of the file when it was opened: a file that
    // grows meanwhile is not followed.
    PgnReader(int fd, long long size) : fd_(fd), left_(size) {
        // A UTF-8 byte-order mark is not part of the text.
        if (fill() && end_ - pos_ >= 3 && std::memcmp(buf_ + pos_, "\xEF\xBB\xBF", 3) == 0) first_ = pos_ = 3;
    }
    // Next character, -1 at the end.
    int get() {
        if (pos_ == end_ && !fill()) return -1;
        return buf_[pos_++];
    }
    // True when the character just read began a line.
    bool line_start() const {
        const std::size_t at = pos_ - 1;
        return (at == first_ ? before_first_ : buf_[at - 1]) == '\n';
    }
    // Gives back the character just read (it is still in the buffer).
    void unget() { --pos_; }
    void skip_line() {
        int c;
        while ((c = get()) >= 0 && c != '\n') {}
    }
    // Skips up to and including `close`.
    void skip_to(int close) {
        int c;
        while ((c = get()) >= 0 && c != close) {}
    }
    // Skips the characters before the next one that ends a token.
    void skip_token_rest() {
        do {
            while (pos_ < end_ && !ends_token(buf_[pos_])) ++pos_;
        } while (pos_ == end_ && fill());
    }
    // True when a read failed: the text ended early.
    bool failed() const { return failed_; }

private:
    bool fill() {
        if (end_ > 0) before_first_ = buf_[end_ - 1];
        pos_ = end_ = first_ = 0;
        while (left_ > 0) {
            const ssize_t got = ::read(fd_, buf_, static_cast<std::size_t>(std::min<long long>(left_, sizeof buf_)));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) failed_ = true;
            if (got <= 0) {
                left_ = 0;
                break;
            }
            left_ -= got;
            end_ = static_cast<std::size_t>(got);
            return true;
        }
        return false;
    }
    int fd_;
    long long left_;
    bool failed_ = false;
    unsigned char buf_[1 << 16];
    std::size_t pos_ = 0, end_ = 0;
    std::size_t first_ = 0;           // where the text of the buffer begins
    unsigned char before_first_ = '\n';  // the character before it
};

bool is_result(const char* t) {
    if (t[0] != '1' && t[0] != '0' && t[0] != '*') return false;
    return std::strcmp(t, "1-0") == 0 || std::strcmp(t, "0-1") == 0 || std::strcmp(t, "1/2-1/2") == 0 ||
           std::strcmp(t, "*") == 0;
}

// The move of a movetext token without a move number in front ("12.Nf3", "12...Nc6") and
// without annotation marks behind ("Nf3!?"); "" when the token holds no move at all (a
// bare move number, "...", "e.p.").
const char* move_part(char* t) {
    if (*t >= '1' && *t <= '9') {
        while (*t >= '0' && *t <= '9') ++t;
        if (*t != '.') return "";
    }
    while (*t == '.') ++t;
    if (std::strcmp(t, "e.p.") == 0) return "";
    std::size_t n = std::strlen(t);
    while (n > 0 && (t[n - 1] == '!' || t[n - 1] == '?')) t[--n] = '\0';
    return t;
}

class GameReader {
public:
    GameReader(PgnReader& in, int game_limit, BookBuildCounts& counts) : in_(in), limit_(game_limit), counts_(counts) {}

    void run() {
        new_game(pos_);
        for (int c; (c = in_.get()) >= 0;) {
            if (is_blank(c) || c == ')' || c == '}') continue;
            if (c == '{') {
                in_.skip_to('}');
            } else if (c == '(') {
                skip_variation();
            } else if (c == ';' || c == '#' || (c == '%' && in_.line_start())) {
                in_.skip_line();
            } else if (c == '[') {
                if (tag()) return;
            } else if (c == '$') {
                while ((c = in_.get()) >= '0' && c <= '9') {}
                if (c >= 0) in_.unget();
            } else {
                in_.unget();
                if (token()) return;
            }
        }
        if (moves_in_game_ > 0) game_over();  // the last game had no result
        new_game(pos_);
    }

private:
    // Ends the current game; true when the game limit is reached.
    bool game_over() {
        ++counts_.games;
        (ProgressLine() << "games = " << counts_.games << " , move_errors = " << counts_.move_errors << "\r").print();
        new_game(pos_);
        moves_in_game_ = 0;
        skip_game_ = false;
        return limit_ > 0 && counts_.games >= limit_;
    }

    // A variation in parentheses, nested ones and comments inside included. A tag at the
    // start of a line ends an unclosed variation: a new game begins there.
    void skip_variation() {
        int depth = 1;
        for (int c; depth > 0 && (c = in_.get()) >= 0;) {
            if (c == '{') {
                in_.skip_to('}');
            } else if (c == ';') {
                in_.skip_line();
            } else if (c == '(') {
                ++depth;
            } else if (c == ')') {
                --depth;
            } else if (c == '[' && in_.line_start()) {
                in_.unget();
                return;
            }
        }
    }

    // A tag pair line; true when it ends a game without a result and so reaches the game
    // limit. A game set up from a FEN position cannot lead to the start position's
    // book lines and is skipped.
    bool tag() {
        char name[8];
        std::size_t n = 0;
        int c;
        while ((c = in_.get()) >= 0 && c != '\n' && !is_blank(c) && c != '"' && n < sizeof name - 1)
            name[n++] = static_cast<char>(c);
        name[n] = '\0';
        if (c >= 0 && c != '\n') in_.skip_line();
        const bool new_game_starts = moves_in_game_ > 0;
        if (new_game_starts && game_over()) return true;
        if (std::strcmp(name, "FEN") == 0) skip_game_ = true;
        return false;
    }

    // One movetext token; true when it ended a game and the limit is reached.
    bool token() {
        if (moves_in_game_ > 0 && (skip_game_ || pos_.game_ply > BOOK_DEPTH)) return skip_token();
        char t[TOKEN_MAX + 1];
        std::size_t n = 0;
        bool too_long = false;
        for (int c; (c = in_.get()) >= 0;) {
            if (ends_token(c)) {
                in_.unget();
                break;
            }
            if (n < TOKEN_MAX)
                t[n++] = static_cast<char>(c);
            else
                too_long = true;
        }
        t[n] = '\0';
        if (!too_long && is_result(t)) return game_over();
        const char* move = too_long ? "?" : move_part(t);
        if (*move == '\0') return false;
        ++moves_in_game_;
        if (skip_game_ || pos_.game_ply > BOOK_DEPTH) return false;  // past the book depth: not replayed
        const int i = too_long ? 0 : find_san_move(pos_, move);
        if (i == 0) {
            ++counts_.move_errors;
            return false;
        }
        const HashKey key = pos_.key();
        book_add(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32), pos_.move_stack[i].from,
                 pos_.move_stack[i].to);
        play_move(pos_, i);
        return false;
    }

    // A token of a game whose book positions are all read: only a result matters, so the
    // token is neither kept whole nor parsed. True as for token().
    bool skip_token() {
        char t[8];
        std::size_t n = 0;
        for (int c; (c = in_.get()) >= 0; ++n) {
            if (ends_token(c)) {
                in_.unget();
                break;
            }
            // Results begin with one of these; other tokens are passed over in one sweep.
            if ((n == 0 && c != '1' && c != '0' && c != '*') || n == sizeof t - 1) {
                in_.skip_token_rest();
                return false;
            }
            t[n] = static_cast<char>(c);
        }
        t[n] = '\0';
        return is_result(t) && game_over();
    }

    PgnReader& in_;
    int limit_;
    BookBuildCounts& counts_;
    int moves_in_game_ = 0;   // move tokens since the game began
    bool skip_game_ = false;
    // The games are replayed on a position of their own.
    std::unique_ptr<Position> position_ = std::make_unique<Position>();
    Position& pos_ = *position_;
};

int clamp_minimum(int m) { return m < 1 ? 1 : (m > 100 ? 100 : m); }

// Only a regular file is ever replaced by a new book: a name that names a directory or a
// device (/dev/null) is refused before anything is written beside it.
bool replaceable(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

}  // namespace

bool book_build_begin(const std::string& book_file, int min_count) {
    book_build_end();
    target = book_file;
    if (!replaceable(target)) {
        messagef("can't open book file!\n");
        return false;
    }
    minimum = clamp_minimum(min_count);
    std::fill(bucket_spilled, bucket_spilled + BUCKETS, false);
    if (!make_temp_dir()) {
        messagef("can't open temp file! \n");
        return false;
    }
    building = true;
    return true;
}

void book_add(std::uint32_t key_low, std::uint32_t key_high, int from, int to) {
    if (!building) return;
    const HashKey key = static_cast<HashKey>(key_high) << 32 | key_low;
    const int b = static_cast<int>(key % BUCKETS);
    std::vector<BookRecord>& bucket = buckets[b];
    const BookRecord pair = {key_low, key_high, 1, static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to)};
    for (BookRecord& r : bucket)
        if (same_pair(r, pair)) {
            if (r.weight < INT32_MAX) ++r.weight;
            return;
        }
    bucket.push_back(pair);
    if (bucket.size() >= BUCKET_CAPACITY) book_spill(b + 1);
}

void book_spill(int b) {
    if (!building || b < 1 || b > BUCKETS) return;
    std::vector<BookRecord>& bucket = buckets[b - 1];
    const std::size_t count = bucket.size();
    if (count == 0) return;
    std::FILE* f = std::fopen(temp_name(b).c_str(), "ab");
    if (f == nullptr) {
        messagef("can't open temp file! \n");
        bucket.clear();
        return;
    }
    unsigned char out[BUCKET_CAPACITY * BOOK_RECORD_SIZE];
    for (std::size_t i = 0; i < count; ++i) encode_book_record(bucket[i], out + i * BOOK_RECORD_SIZE);
    const bool written = std::fwrite(out, BOOK_RECORD_SIZE, count, f) == count;
    if (std::fclose(f) != 0 || !written) messagef("can't write temp file!\n");
    bucket_spilled[b - 1] = true;
    bucket.clear();
}

bool book_write(int* book_moves_out) {
    if (!building) return false;
    messagef("\n");
    // Written under a name of its own and renamed into place when complete, so neither an
    // interrupted build nor a reader ever sees half a book.
    std::string part;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100 && replaceable(target); ++attempt) {
        part = target + ".part" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    std::FILE* book = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (book == nullptr) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(part.c_str());
        }
        messagef("can't open book file!\n");
        return false;
    }
    messagef("writing moves from temp files to book file...\n");
    int book_moves = 0;
    bool ok = true;
    std::vector<BookRecord> recs;
    std::vector<unsigned char> out;
    MergeSpace space;
    for (int b = 1; b <= BUCKETS; ++b) {
        std::vector<BookRecord>& bucket = buckets[b - 1];
        bool& spilled = bucket_spilled[b - 1];
        if (!spilled && bucket.empty()) continue;
        recs.clear();
        if (spilled && !read_temp_file(b, recs)) {
            messagef("can't open temp file!\n");
            bucket.clear();
            continue;
        }
        recs.insert(recs.end(), bucket.begin(), bucket.end());
        bucket.clear();
        merge_pairs(recs, minimum, space);
        out.resize(recs.size() * BOOK_RECORD_SIZE);
        for (std::size_t i = 0; i < recs.size(); ++i) encode_book_record(recs[i], out.data() + i * BOOK_RECORD_SIZE);
        if (!out.empty() && std::fwrite(out.data(), 1, out.size(), book) != out.size()) ok = false;
        book_moves += static_cast<int>(recs.size());
        (ProgressLine() << "write: " << b << " / " << BUCKETS << "\t book_moves = " << book_moves << "\r").print();
        if (spilled) {
            spilled = false;
            if (::unlink(temp_name(b).c_str()) != 0) messagef("error! %s\n", temp_name(b).c_str());
        }
    }
    if (std::fflush(book) != 0 || ::fsync(::fileno(book)) != 0) ok = false;
    if (std::fclose(book) != 0) ok = false;
    // A build that found nothing (an empty collection, a minimum too high) does not wipe out
    // the book that is there; an empty book is written only where there was none.
    struct stat st;
    if (ok && book_moves == 0 && ::lstat(target.c_str(), &st) == 0) {
        ::unlink(part.c_str());
        messagef("no book moves: book file kept!\n");
        return false;
    }
    if (!ok || std::rename(part.c_str(), target.c_str()) != 0) {
        ::unlink(part.c_str());
        messagef("can't write book file!\n");
        return false;
    }
    if (book_moves_out) *book_moves_out = book_moves;
    return true;
}

void book_build_end() {
    building = false;
    for (std::vector<BookRecord>& bucket : buckets) std::vector<BookRecord>().swap(bucket);
    remove_temp_dir();
}

bool build_book(const std::string& pgn_file, const std::string& book_file, int min_count, int game_limit,
                BookBuildCounts* counts) {
    BookBuildCounts local;
    BookBuildCounts& c = counts ? *counts : local;
    c = BookBuildCounts();
    if (!book_build_begin(book_file, min_count)) return false;
    messagef("\n");
    messagef("building book...\n");
    // Only a regular file is read, and no further than its size when opened: a directory,
    // a FIFO or a device (/dev/zero) never makes the build wait or read forever.
    long long size = 0;
    const int pgn = book_open_regular(pgn_file.c_str(), O_RDONLY, &size);
    if (pgn < 0) {
        messagef(errno == EINVAL ? "can't read pgn file!\n" : "pgn file not found!\n");
        book_build_end();
        return false;
    }
    bool failed = false, no_memory = false;
    try {
        auto in = std::make_unique<PgnReader>(pgn, size);
        GameReader(*in, game_limit, c).run();
        failed = in->failed();
    } catch (const std::bad_alloc&) {  // the buckets grow as they fill
        no_memory = true;
    }
    ::close(pgn);
    messagef("\n");
    if (failed || no_memory) {
        messagef(no_memory ? "not enough memory for the book buckets!\n" : "can't read pgn file!\n");
        book_build_end();
        return false;
    }
    c.pgn_read = true;
    const bool written = book_write(&c.book_moves);
    book_build_end();
    return written;
}

}  // namespace varkon
