#include "frontend/interupt.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace varkon {

namespace {

char buffer[1 << 16];
std::size_t pos = 0, end = 0;
bool at_eof = false;
std::string pushed_back;      // lines handed back by unread_line, each with its line end

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0'; }

// Makes at least one character available; false at end of input.
bool fill() {
    if (pos < end) return true;
    if (!pushed_back.empty()) {
        std::size_t n = pushed_back.copy(buffer, sizeof buffer);
        pushed_back.erase(0, n);
        pos = 0;
        end = n;
        return true;
    }
    if (at_eof) return false;
    std::fflush(stdout);
    for (;;) {
        ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n > 0) {
            pos = 0;
            end = static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        at_eof = true;
        return false;
    }
}

int peek() { return fill() ? static_cast<unsigned char>(buffer[pos]) : -1; }

}  // namespace

int read_char() {
    int c = peek();
    if (c >= 0) ++pos;
    return c;
}

bool read_word(std::string& word, std::size_t max_length) {
    word.clear();
    int c;
    while ((c = peek()) >= 0 && is_space(static_cast<char>(c))) ++pos;
    if (c < 0) return false;
    while ((c = peek()) >= 0 && !is_space(static_cast<char>(c))) {
        if (word.size() < max_length) word.push_back(static_cast<char>(c));
        ++pos;
    }
    return true;
}

bool read_line(std::string& line, std::size_t max_length) {
    line.clear();
    int c = peek();
    if (c < 0) return false;
    while ((c = read_char()) >= 0 && c != '\n')
        if (line.size() < max_length) line.push_back(static_cast<char>(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void unread_line(const std::string& line) {
    // Whatever is still buffered comes after the returned line.
    std::string rest(buffer + pos, end - pos);
    pos = end = 0;
    pushed_back = line + "\n" + rest + pushed_back;
}

int input_available() {
    for (std::size_t i = pos; i < end; ++i)
        if (!is_space(buffer[i])) return 1;
    for (char c : pushed_back)
        if (!is_space(c)) return 1;
    if (at_eof) return 1;
    pollfd p{0, POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    if (r < 0) return errno == EINTR ? 0 : 1;
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ? 1 : 0;
}

}  // namespace varkon
