// dialogue: one protocol's way of talking to a program under test. A dialogue makes up
// plausible and odd commands, sends them, and checks every reply it can judge: moves
// against the board code (oracle), answers that must come within a time, the program's
// end. Each protocol is a dialogue of its own; the driver picks one per session.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine.h"
#include "random_text.h"

namespace fuzz {

struct Fault {
    std::string kind;     // crash, sanitizer, hang, illegal-bestmove, ...
    std::string detail;   // what was seen, in a line or a few
};

// Fault classes that can be left out (`--skip`): their inputs are not sent, or their
// checks not made, so that a run can be clean while a known fault awaits its fix.
struct FaultClass {
    const char* name;
    const char* what;
};
extern const FaultClass fault_classes[];

// What the dialogues checked, for the summary of a run.
struct Tally {
    long lines = 0;            // command lines sent (junk included)
    long searches = 0;         // "go" commands
    long judged = 0;           // of them, in a position the dialogue knew
    long moves = 0;            // moves judged (best, ponder, pv, currmove)
    long perfts = 0;           // "go perft" counts compared
};

// What the dialogues share within a run.
struct FuzzContext {
    std::string workdir;                    // the programs' working directory
    std::vector<std::string> fens;          // real positions to start from or mutate
    std::vector<std::string> book_files;    // odd and real books for BookName
    std::vector<std::string> device_books;  // devices and a FIFO for BookName
    std::vector<std::string> syzygy_paths;  // sound, damaged and odd values for SyzygyPath
    std::set<std::string> skip;             // fault classes left out
    std::int64_t end_ms = 0;                // the end of the time budget (now_ms)
    Tally* tally = nullptr;
    bool skips(const char* fault_class) const { return skip.count(fault_class) != 0; }
};

class Dialogue {
public:
    virtual ~Dialogue() = default;
    virtual const char* protocol() const = 0;
    // One session with a started program, ended by "quit" (or by the end of input). The
    // first fault found ends the session and is returned.
    virtual std::optional<Fault> run(Engine& engine, Rng& rng, const FuzzContext& ctx) = 0;
};

// Helpers the dialogues share.
// The blank-separated words of a line.
std::vector<std::string> split_words(const std::string& line);
// The program ended before the dialogue let it: a crash or an early exit; nothing while it runs.
std::optional<Fault> early_end(const Engine& engine);
// After "quit" or the end of input: the program must end, with status 0, within 10 s.
std::optional<Fault> session_end(Engine& engine);

std::unique_ptr<Dialogue> make_uci_dialogue();
std::unique_ptr<Dialogue> make_xboard_dialogue();

}  // namespace fuzz
