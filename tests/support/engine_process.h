// Runs a built program with its standard input and output on pipes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

#include "support/workdir.h"

namespace test {

class EngineProcess {
public:
    // Starts `path` in `workdir` (empty: the current directory). A nonzero
    // `address_space_limit` (bytes) caps the program's address space (RLIMIT_AS), so that
    // its large allocations fail as they would on a machine short of memory.
    // Without `workdir` the program runs in a new directory of its own (with a Varkon.ini
    // of the built-in defaults and a copy of the shipped book), removed with the process:
    // no test leaves files behind, meets another's or changes the shipped book.
    explicit EngineProcess(const std::string& path, const std::string& workdir = "",
                           std::size_t address_space_limit = 0);
    ~EngineProcess();
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;

    void send(const std::string& text);   // written as it stands
    void close_input();
    // Reads until the output collected so far contains `needle` (true) or until
    // `timeout_ms` passes or the program ends (false).
    bool wait_for(const std::string& needle, int timeout_ms = 10000);
    // Reads until the output holds a whole line (ended) that begins with `prefix`.
    bool wait_for_line(const std::string& prefix, int timeout_ms = 10000);
    // Forgets the output so far, sends `input` and waits for a whole line beginning with `prefix`.
    bool ask(const std::string& input, const std::string& prefix, int timeout_ms = 20000);
    // Closes input, waits for the exit and returns its status (-1: killed after timeout).
    int wait_exit(int timeout_ms = 10000);
    int quit() { send("quit\n"); return wait_exit(); }
    const std::string& output() const { return out_; }
    pid_t pid() const { return pid_; }
    // Returns the output read so far and starts collecting afresh.
    std::string take_output();

private:
    bool read_some(int timeout_ms);
    bool read_until(const std::function<bool()>& done, int timeout_ms);
    pid_t pid_ = -1;
    int in_fd_ = -1, out_fd_ = -1;
    std::string out_;
    std::unique_ptr<WorkDir> own_dir_;
};

// Address space of a running process, in bytes (0 when it cannot be read).
std::size_t address_space(pid_t pid);

// True in a build with the address sanitizer, which reserves more address space than a
// test's limit on it allows.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARKON_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VARKON_TEST_ASAN)
inline constexpr bool address_sanitizer = true;
#else
inline constexpr bool address_sanitizer = false;
#endif

// The move of the last "bestmove" line ("" when there is none).
std::string last_bestmove(const std::string& out);
// The word after the last `key` in `out` ("" when there is none).
std::string word_after(const std::string& out, const std::string& key);
int count(const std::string& text, const std::string& needle);
using Clock = std::chrono::steady_clock;
int millis_since(Clock::time_point t);

// Runs `path` with `input` (then end of input) and returns everything it printed.
std::string run_engine(const std::string& path, const std::string& input, int* exit_status = nullptr,
                       const std::string& workdir = "");

}  // namespace test
