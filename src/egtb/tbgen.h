// tbgen: the tablebase generator and its checker.
//
// tbgen_make writes the two files of a signature (".nbw", ".nbb"), one signed byte per
// index in the prober's layout, after first making the tables its captures and
// promotions lead into when the directory lacks them. Values are distances to mate in
// moves from the side to move's view (1..126 win in 127 - v moves, -126..-1 loss in
// v + 126 moves, 0 draw, 127 no position). The work is a retrograde analysis: from the
// mates back, a position wins as soon as one move reaches a lost position, and loses
// once every move reaches a won one. tbgen_verify checks stored tables against the
// values of every position's successors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace varkon {

struct TbGenStats {
    int tables_made = 0;            // signatures generated (dependencies included)
    std::uint64_t positions = 0;    // indices of the tables made, both sides
    double seconds = 0;
};

// Makes the tables of signature `name` in `dir` unless both files are there; progress
// goes to `log` (nullptr: quiet). Returns false (with a message) on an unknown
// signature or a file that cannot be read or written.
bool tbgen_make(const std::string& dir, const std::string& name, std::FILE* log, TbGenStats* stats = nullptr);

// Checks both sides of `name` in `dir` (and the tables it depends on must be there):
// every legal position's value must follow from its successors' values, every other
// index must hold 127. Returns the number of wrong entries, or -1 when a file is
// missing or of the wrong size. The first mismatches are described on `log`.
long long tbgen_verify(const std::string& dir, const std::string& name, std::FILE* log);

}  // namespace varkon
