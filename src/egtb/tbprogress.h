// tbprogress: the progress report of a table being generated.
//
// On a terminal one line per table rewrites itself ("\r") while the work goes on: the
// table, the pass, the positions decided so far, the time taken and an estimate of the
// time left. Into a file or a pipe each pass gets a plain line of its own instead, and
// the setting up none. Without an output nothing is written.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace varkon {

class TbProgress {
public:
    // `out` nullptr: quiet. `terminal`: whether `out` is one (rewritten line).
    TbProgress(std::FILE* out, bool terminal, std::string table, std::uint64_t positions);

    // Setting up: the share of the positions looked at so far (0..1). Cheap to call often.
    void setting_up(double done);
    // The end of a pass: `decided` positions in all so far, `decided_now` of them in it.
    void pass(int number, std::uint64_t decided, std::uint64_t decided_now);
    // The closing line of the table.
    void finish(const char* what);

    double seconds() const;

private:
    void show(const std::string& text, bool plain_line);

    std::FILE* out_;
    bool terminal_;
    std::string table_;
    std::uint64_t positions_;
    std::chrono::steady_clock::time_point start_;
    double last_shown_ = -1;
    double last_pass_end_ = 0;
    std::uint64_t recent_[4] = {};        // positions decided in the last four passes
    double pair_seconds_[2] = {};         // time of the last two passes
    std::size_t width_ = 0;   // length of the line on the terminal
};

}  // namespace varkon
