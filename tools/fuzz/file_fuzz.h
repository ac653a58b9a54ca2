// file_fuzz: the book builder's PGN reader and the book probe, run in the fuzzer's own
// process (the library linked in) on random and mutated files. Cases are made in the
// fuzzer and run in batches in a child process, so that a crash, a sanitizer report or a
// hang is caught and put down to the case that caused it.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "random_text.h"
#include "report.h"

namespace fuzz {

// What the cases got to, for the summary of a run.
struct FileTally {
    long books = 0;     // builds that wrote a book
    long records = 0;   // records in those books
    long moves = 0;     // probes that chose a move
};

struct FileFuzzSetup {
    std::string workdir;                  // a private directory for the cases
    std::vector<std::string> pgn_texts;   // real PGN collections to mutate
    std::string real_book;                // a book made by the builder ("" if none)
    std::string varkon;                   // the program named in reproducers
    std::set<std::string> skip;           // fault classes left out
    std::int64_t end_ms = 0;
    std::uint64_t seed = 0;               // batch n draws from part_seed(seed, n)
    FileTally* tally = nullptr;
};

// Runs PGN and book cases until end_ms; returns how many ran. Faults go to `log`.
int fuzz_files(const FileFuzzSetup& setup, FaultLog& log);

}  // namespace fuzz
