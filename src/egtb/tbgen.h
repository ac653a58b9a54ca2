// tbgen: the tablebase generator and its checker.
//
// tbgen_make writes the two files of a signature (".nbw", ".nbb"), one signed byte per
// index in the prober's layout, after first making the tables its captures and
// promotions lead into when the directory lacks them. Values are distances to mate in
// moves from the side to move's view (1..126 win in 127 - v moves, -126..-1 loss in
// v + 126 moves, 0 draw, 127 no position, -128 and -127 a win and a loss longer than
// that). The work is a retrograde analysis (tbsolve) on every core; before it starts,
// the memory each table needs is told and weighed against what the machine has.
// tbgen_make_all makes every table of up to a number of pieces and, run again, keeps
// the finished ones after checking them. tbgen_verify checks stored tables against the
// values of every position's successors.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace varkon {

struct TbGenOptions {
    int threads = 0;                           // workers; 0: one per core
    std::FILE* log = nullptr;                  // plan, progress and results; nullptr: quiet
    const std::atomic<bool>* stop = nullptr;   // when set, the work ends without a partial file
    std::uint64_t memory = 0;                  // bytes the work may take; 0: what the machine has free
};

struct TbGenStats {
    int tables_made = 0;            // signatures generated (dependencies included)
    int tables_kept = 0;            // finished tables found sound and kept
    std::uint64_t positions = 0;    // indices of the tables made, both sides
    double seconds = 0;
};

// Makes the tables of signature `name` in `dir` unless both files are there. Returns
// false (with a message on stderr) on an unknown signature, too little memory, a file
// that cannot be read or written, or when stopped.
bool tbgen_make(const std::string& dir, const std::string& name, const TbGenOptions& options, TbGenStats* stats = nullptr);
bool tbgen_make(const std::string& dir, const std::string& name, std::FILE* log, TbGenStats* stats = nullptr);

// Makes every table of at most `pieces` pieces (3, 4 or 5, kings included) in `dir`, each
// after the tables it depends on. A table already there is kept when its files match
// their recorded checksums or, without a record, pass tbgen_verify; it is made again
// otherwise.
bool tbgen_make_all(const std::string& dir, int pieces, const TbGenOptions& options, TbGenStats* stats = nullptr);

// Checks both sides of `name` in `dir` (and the tables it depends on must be there):
// every legal position's value must follow from its successors' values, every other
// index must hold 127. Returns the number of wrong entries, or -1 when a file is
// missing or of the wrong size. The first mismatches are described on `log`.
long long tbgen_verify(const std::string& dir, const std::string& name, std::FILE* log, int threads = 0);

// Bytes of memory the generation of signature `name` takes (0: not a signature), and
// the memory the machine has available now (0: not known).
std::uint64_t tbgen_memory_needed(const std::string& name);
std::uint64_t tbgen_memory_available();

}  // namespace varkon
