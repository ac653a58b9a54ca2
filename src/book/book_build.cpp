// The book builder: replays the games of a PGN collection, counts every (position, move)
// pair of their first 60 half-moves (book_runs, in bounded memory) and writes the pairs
// played often enough into the book file, grouped in 5000 buckets by key.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "book/book.h"
#include "book/book_runs.h"
#include "core/notation.h"
#include "core/messages.h"
#include "core/moves.h"
#include "core/position.h"

namespace varkon {

namespace {

constexpr int BOOK_DEPTH = 60;         // half-moves of each game that are recorded
constexpr std::size_t TOKEN_MAX = 99;  // longer PGN tokens are no moves

// When to show progress: on a terminal one line rewrites itself (ended by "\r") up to ten
// times a second; elsewhere (a log, a pipe) a plain line every ten seconds, so that a long
// build still shows it is alive without filling the log.
class ProgressClock {
public:
    using Clock = std::chrono::steady_clock;
    ProgressClock() : start_(Clock::now()), last_(start_) {}
    bool due();
    long long tenths() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count() / 100;
    }
    static const char* line_end();

private:
    Clock::time_point start_, last_;
};

// The build in progress: one at a time (its steps are module functions called in turn).
struct Build {
    bool building = false;
    PairCounter counter;
    std::string temp_dir;    // private directory of the temporary files
    std::string target;      // the book file
    int minimum = 2;
    BookBuildOptions options;
    // The progress of the reading.
    ProgressClock reading_clock;
    const BookBuildCounts* reading_counts = nullptr;
};
Build build;

bool ProgressClock::due() {
    const Clock::time_point now = Clock::now();
    if (now - last_ < (build.options.progress_in_place ? std::chrono::milliseconds(100) : std::chrono::seconds(10)))
        return false;
    last_ = now;
    return true;
}

const char* ProgressClock::line_end() { return build.options.progress_in_place ? "\r" : "\n"; }

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new, empty directory for the temporary files: stale files of an interrupted earlier
// build can never be mixed in. Beside the book first, else in the system's temporary
// directory.
bool make_temp_dir() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string places[] = {directory_of(build.target) + "/.varkon-book-XXXXXX",
                                  std::string(tmp && *tmp ? tmp : "/tmp") + "/varkon-book-XXXXXX"};
    for (const std::string& pattern : places) {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) {
            build.temp_dir = name.data();
            return true;
        }
    }
    return false;
}

void remove_temp_dir() {
    if (build.temp_dir.empty()) return;
    if (DIR* d = ::opendir(build.temp_dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::unlink((build.temp_dir + "/" + e->d_name).c_str());
        ::closedir(d);
    }
    ::rmdir(build.temp_dir.c_str());
    build.temp_dir.clear();
}

bool stop_asked() { return build.options.stop != nullptr && build.options.stop(); }

// ---- progress ------------------------------------------------------------------------

// A progress line put together here rather than through printf, which costs more than
// the work between two lines.
class ProgressLine {
public:
    ProgressLine& operator<<(const char* text) {
        while (*text != '\0' && p_ < text_ + sizeof text_ - 1) *p_++ = *text++;
        return *this;
    }
    ProgressLine& operator<<(long long v) {
        char digits[24];
        int n = 0;
        unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        do {
            digits[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (v < 0) digits[n++] = '-';
        while (n > 0 && p_ < text_ + sizeof text_ - 1) *p_++ = digits[--n];
        return *this;
    }
    ProgressLine& operator<<(int v) { return *this << static_cast<long long>(v); }
    // Tenths of seconds as "12.3 s".
    ProgressLine& seconds(long long tenths) { return *this << tenths / 10 << "." << tenths % 10 << " s"; }
    void print() {
        *p_ = '\0';
        message(text_);
    }

private:
    char text_[160];
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
bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Counts the lines that hold bytes which are no UTF-8 (ASCII included): text in another
// encoding, or no text at all. Such lines are read as they are; the count tells the user.
class EncodingCheck {
public:
    void scan(const unsigned char* p, std::size_t n) {
        if (!has_high_bytes(p, n)) {
            if (pending_ > 0) bad();  // a sequence cut short
            pending_ = 0;
            if (line_bad_ && std::memchr(p, '\n', n) != nullptr) line_bad_ = false;
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            if (pending_ > 0) {
                if ((c & 0xC0) == 0x80) {
                    --pending_;
                    continue;
                }
                bad();
                pending_ = 0;
            }
            if (c == '\n')
                line_bad_ = false;
            else if (c >= 0xC2 && c <= 0xDF)
                pending_ = 1;
            else if (c >= 0xE0 && c <= 0xEF)
                pending_ = 2;
            else if (c >= 0xF0 && c <= 0xF4)
                pending_ = 3;
            else if (c >= 0x80)
                bad();
        }
    }
    // A sequence cut short by the end of the text counts too.
    long long bad_lines() const { return bad_lines_ + (pending_ > 0 && !line_bad_ ? 1 : 0); }

private:
    static bool has_high_bytes(const unsigned char* p, std::size_t n) {
        std::uint64_t any = 0;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            any |= w;
        }
        for (; i < n; ++i) any |= p[i];
        return (any & 0x8080808080808080ULL) != 0;
    }
    void bad() {
        if (!line_bad_) ++bad_lines_;
        line_bad_ = true;
    }
    int pending_ = 0;        // continuation bytes still expected
    bool line_bad_ = false;  // the current line is counted already
    long long bad_lines_ = 0;
};

class PgnReader {
public:
    // Reads `fd` up to `size` bytes, the size of the file when it was opened: a file that
    // grows meanwhile is not followed. `tick` runs after each block read; when it returns
    // false the text ends there.
    PgnReader(int fd, long long size, bool (*tick)(const PgnReader&))
        : fd_(fd), whole_(size), size_(size), left_(size), tick_(tick) {
        buf_[0] = buf_[1] = '\n';
        if (!fill()) return;
        // A UTF-8 byte-order mark is not part of the text; a UTF-16 one says the text is not
        // in a form this reader knows.
        if (end_ - pos_ >= 3 && std::memcmp(buf_ + pos_, "\xEF\xBB\xBF", 3) == 0) {
            pos_ += 3;
            buf_[pos_ - 1] = '\n';  // so the text after it begins a line
        } else if (end_ - pos_ >= 2 && (std::memcmp(buf_ + pos_, "\xFF\xFE", 2) == 0 || std::memcmp(buf_ + pos_, "\xFE\xFF", 2) == 0)) {
            utf16_ = true;
        }
    }
    // Next character, -1 at the end.
    int get() {
        if (pos_ == end_ && !fill()) return -1;
        return buf_[pos_++];
    }
    // The next character without reading it, -1 at the end.
    int peek() {
        if (pos_ == end_ && !fill()) return -1;
        return buf_[pos_];
    }
    // True when the character just read began a line.
    bool line_start() const { return buf_[pos_ - 2] == '\n'; }
    // Gives back the character just read.
    void unget() { --pos_; }
    void skip_line() {
        int c;
        while ((c = get()) >= 0 && c != '\n') {}
    }
    // Skips the characters before the next one that ends a token.
    void skip_token_rest() {
        do {
            while (pos_ < end_ && !ends_token(buf_[pos_])) ++pos_;
        } while (pos_ == end_ && fill());
    }
    // Ends the text here.
    void stop() {
        size_ = bytes_read();  // the share read stays as it was
        left_ = 0;
        pos_ = end_;
        stopped_ = true;
    }
    bool failed() const { return failed_; }    // a read failed: the text ended early
    bool stopped() const { return stopped_; }  // `tick` or stop() ended it
    bool utf16() const { return utf16_; }
    long long bad_lines() const { return encoding_.bad_lines(); }
    // Percent of the file read so far.
    int percent_read() const { return whole_ > 0 ? static_cast<int>(bytes_read() * 100 / whole_) : 100; }

private:
    long long bytes_read() const { return size_ - left_ - static_cast<long long>(end_ - pos_); }
    // The next block, after the last two characters of the one before (which the
    // character just read may be, given back, and whether it began a line depends on).
    bool fill() {
        if (stopped_ || left_ <= 0) return false;
        if (tick_ != nullptr && pos_ > 2 && !tick_(*this)) {
            stop();
            return false;
        }
        const unsigned char before[2] = {buf_[end_ - 2], buf_[end_ - 1]};
        while (left_ > 0) {
            const ssize_t got = ::read(fd_, buf_ + 2, static_cast<std::size_t>(std::min<long long>(left_, BLOCK)));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) failed_ = true;
            if (got <= 0) {
                left_ = 0;
                break;
            }
            left_ -= got;
            buf_[0] = before[0];
            buf_[1] = before[1];
            pos_ = 2;
            end_ = 2 + static_cast<std::size_t>(got);
            encoding_.scan(buf_ + 2, static_cast<std::size_t>(got));
            return true;
        }
        return false;
    }
    static constexpr std::size_t BLOCK = 1 << 16;
    int fd_;
    long long whole_;        // the size of the file
    long long size_, left_;  // the bytes to read (fewer once stopped), those not read yet
    bool (*tick_)(const PgnReader&);
    bool failed_ = false, stopped_ = false, utf16_ = false;
    EncodingCheck encoding_;
    unsigned char buf_[BLOCK + 2];
    std::size_t pos_ = 2, end_ = 2;
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

// The progress of the reading: games, move errors, share of the file, time.
void show_reading(const PgnReader& in, const char* line_end) {
    ProgressLine line;
    line << "games = " << build.reading_counts->games << " , move_errors = " << build.reading_counts->move_errors << " , "
         << in.percent_read() << "% of the file , ";
    line.seconds(build.reading_clock.tenths()) << line_end;
    line.print();
}

// After each block of the file: the build goes on unless it is stopped.
bool reading_tick(const PgnReader& in) {
    if (stop_asked()) return false;
    if (build.reading_clock.due()) show_reading(in, ProgressClock::line_end());
    return true;
}

// ---- replaying the games ---------------------------------------------------------------

// The one place that works on a position: replays a game's moves from
// the start position and hands the position key and move of each to the counting.
class GameReplay {
public:
    void start() { new_game(*pos_); }
    int half_moves_played() const { return pos_->game_ply - 1; }
    // Plays the SAN move `text`; false when it names no legal move (the position stays).
    // `count` is called with the key of the position before the move and its squares.
    template <class Count>
    bool play(const char* text, Count&& count) {
        Position& pos = *pos_;
        const int i = find_san_move(pos, text);
        if (i == 0) return false;
        count(pos.key(), pos.move_stack[i].from, pos.move_stack[i].to);
        play_move(pos, i);
        return true;
    }

private:
    // The games are replayed on a position of their own.
    std::unique_ptr<Position> pos_ = std::make_unique<Position>();
};

class GameReader {
public:
    GameReader(PgnReader& in, int game_limit, BookBuildCounts& counts) : in_(in), limit_(game_limit), counts_(counts) {}

    void run() {
        replay_.start();
        for (int c; (c = in_.get()) >= 0;) {
            if (is_blank(c) || c == ')' || c == '}') continue;
            if (c == '{') {
                skip_comment();
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
        if (moves_in_game_ > 0 && !in_.stopped()) {  // the last game had no result
            ++counts_.games_without_result;
            game_over();
        }
        replay_.start();
    }

private:
    // Ends the current game; true when the game limit is reached.
    bool game_over() {
        ++counts_.games;
        replay_.start();
        moves_in_game_ = 0;
        skip_game_ = false;
        return limit_ > 0 && counts_.games >= limit_;
    }

    // A comment in braces. One never closed ends at a line that begins like a tag pair
    // ("[Event"), so that it cannot swallow the games after it.
    void skip_comment() {
        for (int c; (c = in_.get()) >= 0;) {
            if (c == '}') return;
            if (c == '[' && in_.line_start() && is_letter(in_.peek())) {
                in_.unget();
                ++counts_.open_comments;
                return;
            }
        }
        if (!in_.stopped()) ++counts_.open_comments;
    }

    // A variation in parentheses, nested ones and comments inside included. A tag at the
    // start of a line ends an unclosed variation: a new game begins there.
    void skip_variation() {
        int depth = 1;
        for (int c; depth > 0 && (c = in_.get()) >= 0;) {
            if (c == '{') {
                skip_comment();
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
        if (moves_in_game_ > 0) {  // a new game begins before the last one had a result
            ++counts_.games_without_result;
            if (game_over()) return true;
        }
        if (std::strcmp(name, "FEN") == 0) skip_game_ = true;
        return false;
    }

    // One movetext token; true when it ended a game and the limit is reached.
    bool token() {
        if (moves_in_game_ > 0 && (skip_game_ || replay_.half_moves_played() >= BOOK_DEPTH)) return skip_token();
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
        const char* move = too_long ? "" : move_part(t);
        if (!too_long && *move == '\0') return false;
        ++moves_in_game_;
        if (skip_game_ || replay_.half_moves_played() >= BOOK_DEPTH) return false;  // not replayed
        if (too_long) {
            ++counts_.long_tokens;
            ++counts_.move_errors;
            return false;
        }
        bool counted = true;
        if (!replay_.play(move, [&](HashKey key, int from, int to) {
                counted = book_add(static_cast<std::uint32_t>(key), static_cast<std::uint32_t>(key >> 32), from, to);
            }))
            ++counts_.move_errors;
        if (!counted) in_.stop();  // the pairs can no longer be counted
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

private:
    PgnReader& in_;
    int limit_;
    BookBuildCounts& counts_;
    GameReplay replay_;
    int moves_in_game_ = 0;   // move tokens since the game began
    bool skip_game_ = false;
};


int clamp_minimum(int m) { return m < 1 ? 1 : (m > 100 ? 100 : m); }

// Only a regular file is ever replaced by a new book: a name that names a directory or a
// device (/dev/null) is refused before anything is written beside it.
bool replaceable(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

// What the reading passed over, when anything: one line for the final report.
void report_skipped(const BookBuildCounts& c) {
    const struct { long long n; const char* one; const char* many; } parts[] = {
        {c.games_without_result, "game without a result", "games without a result"},
        {c.open_comments, "comment never closed", "comments never closed"},
        {c.long_tokens, "token too long for a move", "tokens too long for a move"},
        {c.bad_text_lines, "line not in UTF-8", "lines not in UTF-8"},
    };
    std::string line;
    for (const auto& p : parts)
        if (p.n > 0) line += (line.empty() ? "skipped: " : ", ") + std::to_string(p.n) + " " + (p.n == 1 ? p.one : p.many);
    if (!line.empty()) messagef("%s\n", line.c_str());
}

}  // namespace

bool book_build_begin(const std::string& book_file, int min_count, const BookBuildOptions& build_options) {
    book_build_end();
    build.target = book_file;
    build.options = build_options;
    if (!replaceable(build.target)) {
        messagef("can't open book file!\n");
        return false;
    }
    build.minimum = clamp_minimum(min_count);
    if (!make_temp_dir()) {
        messagef("can't open temp file! \n");
        return false;
    }
    build.counter.start(build.temp_dir, build.options.memory);
    build.building = true;
    return true;
}

bool book_add(std::uint32_t key_low, std::uint32_t key_high, int from, int to) {
    if (!build.building) return false;
    if (build.counter.add(static_cast<HashKey>(key_high) << 32 | key_low, from, to)) return true;
    messagef("%s\n", build.counter.failure());
    build.building = false;
    return false;
}

bool book_write(BookBuildCounts* counts) {
    if (!build.building) return false;
    messagef("\n");
    // Written under a name of its own and renamed into place when complete, so neither an
    // interrupted build nor a reader ever sees half a book.
    std::string part;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100 && replaceable(build.target); ++attempt) {
        part = build.target + ".part" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
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
    long long book_moves = 0;
    bool written = true, stopped = false;
    std::vector<unsigned char> out;
    ProgressClock clock;
    auto show = [&](int bucket, const char* line_end) {
        ProgressLine line;
        line << "write: " << bucket << " / " << BOOK_BUCKETS << "\t book_moves = " << book_moves << line_end;
        line.print();
    };
    const bool merged = build.counter.merge(build.minimum, [&](int bucket, std::span<const PairCount> pairs) {
        out.resize(pairs.size() * BOOK_RECORD_SIZE);
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const PairCount& p = pairs[i];
            const BookRecord r = {static_cast<std::uint32_t>(p.key), static_cast<std::uint32_t>(p.key >> 32),
                                  static_cast<std::int32_t>(p.count), p.from, p.to};
            encode_book_record(r, out.data() + i * BOOK_RECORD_SIZE);
        }
        written = std::fwrite(out.data(), 1, out.size(), book) == out.size();
        book_moves += static_cast<long long>(pairs.size());
        if (clock.due()) show(bucket + 1, ProgressClock::line_end());
        stopped = stop_asked();
        return written && !stopped;
    }, stop_asked);
    if (merged) show(BOOK_BUCKETS, build.options.progress_in_place ? "\r" : "\n");
    if (std::fflush(book) != 0 || ::fsync(::fileno(book)) != 0) written = false;
    if (std::fclose(book) != 0) written = false;
    if (counts != nullptr) counts->runs = build.counter.runs_written();
    if (!merged) {
        ::unlink(part.c_str());
        if (build.counter.failure() != nullptr)
            messagef("%s\n", build.counter.failure());
        else if (!written)
            messagef("can't write book file!\n");
        else
            messagef("\nbuild stopped: book file kept!\n");
        if (counts != nullptr) counts->interrupted = build.counter.failure() == nullptr && written;
        return false;
    }
    // A build that found nothing (an empty collection, a minimum too high) does not wipe out
    // the book that is there; an empty book is written only where there was none.
    struct stat st;
    if (written && book_moves == 0 && ::lstat(build.target.c_str(), &st) == 0) {
        ::unlink(part.c_str());
        messagef("no book moves: book file kept!\n");
        return false;
    }
    if (!written || std::rename(part.c_str(), build.target.c_str()) != 0) {
        ::unlink(part.c_str());
        messagef("can't write book file!\n");
        return false;
    }
    if (counts != nullptr) counts->book_moves = book_moves;
    return true;
}

void book_build_end() {
    build.building = false;
    build.counter.clear();
    remove_temp_dir();
}

bool build_book(const std::string& pgn_file, const std::string& book_file, int min_count,
                const BookBuildOptions& build_options, BookBuildCounts* counts) {
    BookBuildCounts local;
    BookBuildCounts& c = counts ? *counts : local;
    c = BookBuildCounts();
    if (!book_build_begin(book_file, min_count, build_options)) return false;
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
    build.reading_clock = ProgressClock();
    build.reading_counts = &c;
    auto in = std::make_unique<PgnReader>(pgn, size, reading_tick);
    if (!in->utf16()) GameReader(*in, build.options.game_limit, c).run();
    ::close(pgn);
    c.bad_text_lines = in->bad_lines();
    show_reading(*in, build.options.progress_in_place ? "\r\n" : "\n");
    report_skipped(c);
    const char* failure = in->utf16()    ? "pgn file is in UTF-16, not read!\n"
                          : in->failed() ? "can't read pgn file!\n"
                                         : nullptr;
    if (in->stopped() && build.building) {
        failure = "\nbuild stopped: book file kept!\n";
        c.interrupted = true;
    }
    if (failure != nullptr || !build.building) {
        if (failure != nullptr) messagef("%s", failure);
        book_build_end();
        return false;
    }
    c.pgn_read = true;
    const bool written = book_write(&c);
    c.peak_memory = build.counter.peak_bytes();
    book_build_end();
    return written;
}

bool build_book(const std::string& pgn_file, const std::string& book_file, int min_count, int game_limit,
                BookBuildCounts* counts) {
    BookBuildOptions o;
    o.game_limit = game_limit;
    return build_book(pgn_file, book_file, min_count, o, counts);
}

}  // namespace varkon
