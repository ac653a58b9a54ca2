#include "random_text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace fuzz {

std::uint64_t Rng::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int Rng::below(int n) { return n <= 1 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
int Rng::range(int lo, int hi) { return lo + below(hi - lo + 1); }
bool Rng::chance(int percent) { return below(100) < percent; }

std::uint64_t seed_of(const std::string& text) {
    if (!text.empty() && text.size() < 20 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::stoull(text);
    std::uint64_t h = 14695981039346656037ULL;  // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
    return h;
}

std::uint64_t part_seed(std::uint64_t seed, std::uint64_t n) {
    Rng r(seed ^ (n * 0xD1B54A32D192ED03ULL));
    return r.next();
}

namespace {

// Commands of the console, UCI and WinBoard loops, compared without regard to case.
const char* const command_words[] = {
    "uci", "isready", "setoption", "register", "ucinewgame", "position", "go", "stop", "ponderhit",
    "quit", "debug", "board", "perft", "bench", "bookon", "bookoff", "build", "xboard", "new",
    "force", "undo", "remove", "edit", "setboard", "protover", "usermove", "ping", "level", "st",
    "sd", "time", "otim", "hard", "easy", "post", "nopost", "result", "white", "black", "analyze",
    "exit", "computer", "random", "accepted", "rejected", "variant", "draw", "hint", "name",
    "rating", "ics", "book", "test", "epd", "bk", "memory", "cores", "egtpath", "option", "pause",
    "resume", "playother", "sn", "nps", "fen", "moves", "startpos", "value", "reset", "back", "info",
    "pieces"};

const char* const fen_pieces = "pnbrqkPNBRQK";

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Breaks every run of letters that spells a command word.
void defuse(std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (!std::isalpha(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
        if (is_command_word(text.substr(i, j - i))) text[i] = '#';
        i = j;
    }
    // A coordinate move ("e2e4") is a command of the WinBoard loop too.
    for (std::size_t k = 0; k + 4 <= text.size(); ++k)
        if (text[k] >= 'a' && text[k] <= 'h' && text[k + 1] >= '1' && text[k + 1] <= '8' && text[k + 2] >= 'a' &&
            text[k + 2] <= 'h' && text[k + 3] >= '1' && text[k + 3] <= '8')
            text[k] = '#';
}

// The placement as 64 squares, a8 first; false when it is not eight ranks of eight.
bool to_squares(const std::string& placement, std::string& sq) {
    sq.clear();
    for (char c : placement) {
        if (c == '/') continue;
        if (c >= '1' && c <= '8')
            sq.append(static_cast<std::size_t>(c - '0'), '.');
        else if (std::strchr(fen_pieces, c) != nullptr)
            sq.push_back(c);
        else
            return false;
    }
    return sq.size() == 64;
}

}  // namespace

std::string placement_text(const std::string& sq) {
    std::string p;
    for (int r = 0; r < 8; ++r) {
        int empty = 0;
        for (int f = 0; f < 8; ++f) {
            const char c = sq[static_cast<std::size_t>(r * 8 + f)];
            if (c == '.') {
                ++empty;
                continue;
            }
            if (empty) p.push_back(static_cast<char>('0' + empty));
            empty = 0;
            p.push_back(c);
        }
        if (empty) p.push_back(static_cast<char>('0' + empty));
        if (r < 7) p.push_back('/');
    }
    return p;
}

namespace {

char printable(Rng& rng) { return static_cast<char>(rng.range(33, 126)); }

}  // namespace

bool is_command_word(const std::string& word) {
    const std::string w = lower(word);
    for (const char* c : command_words)
        if (w == c) return true;
    return false;
}

std::string junk_line(Rng& rng, int length) {
    std::string s;
    const int style = rng.below(3);
    for (int i = 0; i < length; ++i) {
        int c;
        if (style == 0)
            c = rng.below(256);                           // any byte
        else if (style == 1)
            c = rng.chance(15) ? ' ' : rng.range(33, 126);  // printable words
        else
            c = rng.chance(50) ? rng.range(128, 255) : rng.below(32);  // controls and high bytes
        if (c == '\n' || c == '\r') c = ' ';
        s.push_back(static_cast<char>(c));
    }
    defuse(s);
    return s;
}

std::string junk_word(Rng& rng) {
    static const char alnum[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    std::string w;
    const int n = rng.range(1, 12);
    for (int i = 0; i < n; ++i) w.push_back(alnum[rng.below(static_cast<int>(sizeof alnum) - 1)]);
    defuse(w);
    return w;
}

std::string mutate_fen(Rng& rng, const std::string& fen) {
    std::istringstream in(fen);
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    static const char* const defaults[] = {"8/8/8/8/8/8/8/8", "w", "-", "-", "0", "1"};
    while (f.size() < 6) f.push_back(defaults[f.size()]);
    std::string sq;
    const int ops = rng.range(1, 3);
    for (int k = 0; k < ops; ++k) {
        const int op = rng.below(10);
        if (op < 5 && to_squares(f[0], sq)) {
            // On the board: a piece put, removed, moved or changed; the placement stays well formed.
            const std::size_t a = static_cast<std::size_t>(rng.below(64)), b = static_cast<std::size_t>(rng.below(64));
            switch (rng.below(4)) {
                case 0: sq[a] = fen_pieces[rng.below(12)]; break;
                case 1: sq[a] = '.'; break;
                case 2: std::swap(sq[a], sq[b]); break;
                default: sq[a] = static_cast<char>(std::isupper(static_cast<unsigned char>(sq[a])) ? 'Q' : 'q'); break;
            }
            f[0] = placement_text(sq);
        } else if (op == 5 && !f[0].empty()) {  // the text of the placement
            std::string& p = f[0];
            const std::size_t at = static_cast<std::size_t>(rng.below(static_cast<int>(p.size())));
            switch (rng.below(4)) {
                case 0: p.erase(at, 1); break;
                case 1: p.insert(at, 1, p[at]); break;
                case 2: p[at] = "pnbrqkPNBRQK12345678/x9"[rng.below(23)]; break;
                default: p[at] = printable(rng); break;
            }
            if (p.empty()) p = "8";
        } else if (op == 6) {
            static const char* const sides[] = {"w", "b", "W", "B", "x", "white", "-"};
            f[1] = sides[rng.below(7)];
        } else if (op == 7) {
            std::string c;
            for (char flag : std::string("KQkq"))
                if (rng.chance(50)) c.push_back(flag);
            if (rng.chance(20)) c += printable(rng);
            f[2] = c.empty() ? "-" : c;
        } else if (op == 8) {
            f[3] = rng.chance(70) ? std::string{static_cast<char>('a' + rng.below(8)), "36"[rng.below(2)]}
                                  : std::string{printable(rng), printable(rng)};
        } else {
            f.resize(static_cast<std::size_t>(rng.range(1, 6)));  // fields dropped
        }
    }
    std::string out;
    for (const std::string& w : f) {
        std::string field = w;
        if (is_command_word(field)) field = "x";   // never "moves" where a field should be
        out += (out.empty() ? "" : " ") + field;
    }
    return out;
}

std::string mutate_bytes(Rng& rng, std::string s, const std::vector<std::string>& tokens) {
    const int ops = rng.range(1, 8);
    for (int k = 0; k < ops; ++k) {
        const std::size_t n = s.size();
        const std::size_t at = n ? static_cast<std::size_t>(rng.below(static_cast<int>(n))) : 0;
        const std::size_t len = static_cast<std::size_t>(rng.range(1, 64));
        switch (rng.below(7)) {
            case 0:
                if (n) s[at] = static_cast<char>(rng.below(256));
                break;
            case 1:
                if (n) s[at] = static_cast<char>(s[at] ^ (1 << rng.below(8)));
                break;
            case 2: s.erase(at, len); break;
            case 3: s.insert(at, s.substr(at, len)); break;
            case 4:
                if (!tokens.empty()) s.insert(at, rng.pick(tokens));
                break;
            case 5: s.resize(at); break;
            default:
                if (!tokens.empty()) s.insert(at, std::string(static_cast<std::size_t>(rng.range(1, 2000)), rng.pick(tokens)[0]));
                break;
        }
    }
    return s;
}

}  // namespace fuzz
