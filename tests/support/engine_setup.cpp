#include "support/engine_setup.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <sstream>
#include <vector>

namespace test {

void use_varkon() { varkon::init_program(varkon::varkon_program()); }
void use_classic() { varkon::init_program(varkon::classic_program()); }

bool set_fen(const std::string& fen) {
    std::istringstream in(fen);
    std::string f[4];
    for (auto& s : f) in >> s;
    return varkon::setup_fen(f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str());
}

std::string capture_stdout(void (*f)()) {
    std::fflush(stdout);
    char name[] = "/tmp/varkon_capture_XXXXXX";
    int fd = mkstemp(name);
    int saved = dup(1);
    dup2(fd, 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    close(fd);
    unlink(name);
    return text;
}

std::string mirror_fen(const std::string& fen) {
    std::istringstream in(fen);
    std::string placement, side, castling = "-", ep = "-";
    in >> placement >> side >> castling >> ep;
    std::vector<std::string> ranks;
    std::string r;
    for (char c : placement) {
        if (c == '/') {
            ranks.push_back(r);
            r.clear();
        } else {
            r.push_back(std::isalpha(static_cast<unsigned char>(c))
                            ? static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c))
                            : c);
        }
    }
    ranks.push_back(r);
    std::string out;
    for (auto it = ranks.rbegin(); it != ranks.rend(); ++it) out += (out.empty() ? "" : "/") + *it;
    std::string c2;
    for (char c : castling)
        c2.push_back(c == '-' ? c : static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c)));
    std::string ep2 = ep;
    if (ep2.size() == 2) ep2[1] = static_cast<char>('1' + ('8' - ep2[1]));
    return out + " " + (side == "w" ? "b" : "w") + " " + c2 + " " + ep2;
}

}  // namespace test
