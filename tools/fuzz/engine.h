// engine: one run of a program under test, its standard streams on pipes.
//
// Everything sent is recorded byte for byte, with the time it was sent, so that a fault
// can be replayed exactly. Writes never block: what the program does not read yet waits
// in a buffer that the read loop keeps flushing, so a program that stops reading cannot
// stall the fuzzer.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace fuzz {

// Milliseconds of a steady clock.
std::int64_t now_ms();

class Engine {
public:
    Engine() = default;
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Starts `path` in `workdir`; false when it cannot be started.
    bool start(const std::string& path, const std::string& workdir);
    // Queues bytes for the program's input and records them.
    void send(const std::string& bytes);
    // Reads the program's output, handing each complete line (without its line end) to
    // `on_line`, until `done()` holds (true) or `timeout_ms` passed or the program ended
    // (false). A negative timeout pumps once without waiting.
    bool wait(const std::function<bool()>& done, int timeout_ms);
    void pause(int ms) { wait([] { return false; }, ms); }
    // Closes the input; waits up to `timeout_ms` for the program to end. False if it did not.
    bool wait_exit(int timeout_ms);
    void kill();

    bool running() const { return pid_ > 0 && !ended_; }
    bool ended() const { return ended_; }
    int exit_code() const { return exit_code_; }   // -1 unless it exited normally
    int signal() const { return signal_; }         // 0 unless a signal ended it

    std::function<void(const std::string&)> on_line;
    const std::string& input() const { return input_; }
    // One line per send: milliseconds since the start and the number of bytes.
    const std::string& timing() const { return timing_; }
    const std::string& errors() const { return err_; }
    // The last lines the program printed, oldest first.
    std::string output_tail() const;

private:
    void pump(int wait_ms);
    void reap(bool block);
    void take_output(const char* data, std::size_t n);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_fd_ = -1;
    bool ended_ = false;
    int exit_code_ = -1, signal_ = 0;
    std::int64_t started_ = 0;
    std::string input_, timing_, pending_, partial_, err_;
    std::deque<std::string> tail_;
};

}  // namespace fuzz
