#include "dialogue.h"

namespace fuzz {

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> w;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) w.push_back(line.substr(start, i - start));
    }
    return w;
}

std::optional<Fault> early_end(const Engine& engine) {
    if (!engine.ended()) return std::nullopt;
    if (engine.signal() != 0) return Fault{"crash", "ended by signal " + std::to_string(engine.signal())};
    return Fault{"exit", "ended with status " + std::to_string(engine.exit_code()) + " before \"quit\""};
}

std::optional<Fault> session_end(Engine& engine) {
    if (!engine.wait_exit(10000)) return Fault{"hang", "did not end within 10 s of \"quit\" or the end of input"};
    if (engine.signal() != 0)
        return Fault{"crash", "ended by signal " + std::to_string(engine.signal()) + " at the end of the session"};
    if (engine.exit_code() != 0)
        return Fault{"exit", "ended with status " + std::to_string(engine.exit_code()) + " after \"quit\""};
    return std::nullopt;
}

}  // namespace fuzz
