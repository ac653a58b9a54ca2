// report: the faults of a run, each saved with what reproduces it.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dialogue.h"

namespace fuzz {

class FaultLog {
public:
    FaultLog(std::string dir, std::FILE* out) : dir_(std::move(dir)), out_(out) {}
    // Saves `files` (name suffix, bytes) and a note with the fault, where it was found and
    // how to reproduce it, as <dir>/fault-<n>-<source>-<kind>.*; prints a summary line.
    // Faults of a kind already saved three times from the same source are only counted.
    void add(const std::string& source, const Fault& fault,
             const std::vector<std::pair<std::string, std::string>>& files, const std::string& reproduce);
    int count() const { return total_; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    std::FILE* out_;
    int total_ = 0, saved_ = 0;
    std::map<std::string, int> seen_;
};

bool write_file(const std::string& path, const std::string& bytes);
bool read_file(const std::string& path, std::string& bytes, std::size_t limit = 1 << 26);
// Text safe to print: controls and high bytes as \xNN, cut to `limit` bytes.
std::string printable_text(const std::string& bytes, std::size_t limit = 400);

}  // namespace fuzz
