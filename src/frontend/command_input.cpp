#include "frontend/command_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "frontend/log.h"

namespace varkon {

namespace {

// Bytes read from standard input and not yet consumed, from `pos` on. Lines handed back
// by unread_line are put in front of them.
struct InputBuffer {
    std::string pending;
    std::size_t pos = 0;
    bool at_eof = false;
    bool skip_lf = false;   // a CR ended the last line: a LF right after it belongs to it
    std::size_t logged = 0; // pending[0, logged) has been handed to the log
};
InputBuffer in;

// A line that has no end after this many bytes is complete for the waiting test, so that
// a sender of endless text without line ends cannot make the buffer grow for ever.
constexpr std::size_t LONGEST_PARTIAL_LINE = 1 << 20;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

// Appends whatever one read() of the descriptor gives; false at end of input or error.
bool read_more() {
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n > 0) {
            if (in.pos > 0) {
                in.pending.erase(0, in.pos);
                in.logged = in.logged > in.pos ? in.logged - in.pos : 0;
                in.pos = 0;
            }
            in.pending.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        in.at_eof = true;
        return false;
    }
}

// Makes at least one unconsumed character available, blocking; false at end of input.
bool fill() {
    if (in.pos < in.pending.size()) return true;
    if (in.at_eof) return false;
    std::fflush(stdout);
    return read_more();
}

// Hands the line that starts at `pos` to the log, up to its end or to the end of what
// has arrived of it (the rest follows when it is read).
void copy_to_log() {
    if (in.logged > in.pos) return;
    std::size_t end = in.pos;
    while (end < in.pending.size() && !is_line_end(in.pending[end])) ++end;
    if (end < in.pending.size()) ++end;
    log_input(in.pending.data() + in.pos, end - in.pos);
    in.logged = end;
}

int peek() {
    if (!fill()) return -1;
    const char c = in.pending[in.pos];
    if (in.skip_lf) {
        in.skip_lf = false;
        if (c == '\n') {
            ++in.pos;
            return peek();
        }
    }
    copy_to_log();
    return static_cast<unsigned char>(c);
}

// Whether the unconsumed input holds a whole line (or more text than any line may hold).
bool complete_line_buffered() {
    std::size_t from = in.pos;
    if (in.skip_lf && from < in.pending.size() && in.pending[from] == '\n') ++from;
    for (std::size_t i = from; i < in.pending.size(); ++i)
        if (is_line_end(in.pending[i])) return true;
    return in.pending.size() - from >= LONGEST_PARTIAL_LINE;
}

}  // namespace

int read_char() {
    const int c = peek();
    if (c >= 0) ++in.pos;
    return c;
}

bool read_word(std::string& word, std::size_t max_length) {
    word.clear();
    int c;
    while ((c = peek()) >= 0 && is_space(static_cast<char>(c))) ++in.pos;
    if (c < 0) return false;
    while ((c = peek()) >= 0 && !is_space(static_cast<char>(c))) {
        if (word.size() < max_length) word.push_back(static_cast<char>(c));
        ++in.pos;
    }
    return true;
}

bool read_line(std::string& line, std::size_t max_length) {
    line.clear();
    int c = peek();
    if (c < 0) return false;
    while ((c = read_char()) >= 0) {
        if (c == '\r') {
            in.skip_lf = true;
            break;
        }
        if (c == '\n') break;
        if (line.size() < max_length) line.push_back(static_cast<char>(c));
    }
    return true;
}

void unread_line(const std::string& line) {
    // The line was logged when it was read first.
    in.logged = line.size() + 1 + (in.logged > in.pos ? in.logged - in.pos : 0);
    in.pending = line + "\n" + in.pending.substr(in.pos);
    in.pos = 0;
    in.skip_lf = false;
}

int input_available() {
    if (complete_line_buffered() || in.at_eof) return 1;
    pollfd p{0, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    if (r < 0) return 1;  // the caller's read meets the error
    if (r == 0) return 0;
    if (p.revents & POLLIN) {
        if (!read_more()) return 1;
    } else {
        in.at_eof = true;  // hung up or invalid: nothing more will come
        return 1;
    }
    return complete_line_buffered() ? 1 : 0;
}

}  // namespace varkon
