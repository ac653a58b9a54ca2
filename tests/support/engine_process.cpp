#include "support/engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <fstream>
#include <stdexcept>

namespace test {

std::size_t address_space(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoul(line.substr(7)) * 1024;
    return 0;
}

EngineProcess::EngineProcess(const std::string& path, const std::string& workdir,
                             std::size_t address_space_limit) {
    if (workdir.empty()) {
        // The directory holds a copy of the shipped book: book learning after a game never
        // changes the book beside the programs.
        own_dir_ = std::make_unique<WorkDir>("");
        std::error_code ignored;
        std::filesystem::copy_file(SHIPPED_BOOK, own_dir_->file("book.dat"), ignored);
    }
    const std::string dir = own_dir_ ? own_dir_->path() : workdir;
    int in_pipe[2], out_pipe[2];
    // Close-on-exec: a program started later does not hold this one's pipes open.
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    signal(SIGPIPE, SIG_IGN);
    std::fflush(nullptr);  // nothing buffered by the test is written twice
    pid_ = fork();
    if (pid_ == 0) {
        const rlimit limit{address_space_limit, address_space_limit};
        if (dup2(in_pipe[0], 0) < 0 || dup2(out_pipe[1], 1) < 0 || chdir(dir.c_str()) != 0 ||
            (address_space_limit != 0 && setrlimit(RLIMIT_AS, &limit) != 0))
            _exit(127);
        execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
}

EngineProcess::~EngineProcess() {
    close_input();
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
}

void EngineProcess::send(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(in_fd_, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void EngineProcess::close_input() {
    if (in_fd_ >= 0) close(in_fd_);
    in_fd_ = -1;
}

bool EngineProcess::read_some(int timeout_ms) {
    if (out_fd_ < 0) return false;
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buf[65536];
    ssize_t n = read(out_fd_, buf, sizeof buf);
    if (n <= 0) {
        close(out_fd_);
        out_fd_ = -1;
        return false;
    }
    out_.append(buf, static_cast<std::size_t>(n));
    return true;
}

bool EngineProcess::read_until(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || out_fd_ < 0) return false;
        read_some(static_cast<int>(left));
    }
    return true;
}

bool EngineProcess::wait_for(const std::string& needle, int timeout_ms) {
    return read_until([&] { return out_.find(needle) != std::string::npos; }, timeout_ms);
}

bool EngineProcess::wait_for_line(const std::string& prefix, int timeout_ms) {
    return read_until([&] {
        for (std::size_t at = out_.find(prefix); at != std::string::npos; at = out_.find(prefix, at + 1))
            if ((at == 0 || out_[at - 1] == '\n') && out_.find('\n', at) != std::string::npos) return true;
        return false;
    }, timeout_ms);
}

bool EngineProcess::ask(const std::string& input, const std::string& prefix, int timeout_ms) {
    out_.clear();
    send(input);
    return wait_for_line(prefix, timeout_ms);
}

int EngineProcess::wait_exit(int timeout_ms) {
    close_input();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out_fd_ >= 0 && std::chrono::steady_clock::now() < deadline) read_some(50);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        usleep(5000);
    }
}

std::string EngineProcess::take_output() {
    std::string s;
    s.swap(out_);
    return s;
}

std::string last_bestmove(const std::string& out) {
    std::string move;
    static const std::regex re("(^|\n)bestmove (\\S+)");
    for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) move = (*it)[2];
    return move;
}

std::string word_after(const std::string& out, const std::string& key) {
    const auto at = out.rfind(key);
    if (at == std::string::npos) return "";
    const auto start = at + key.size();
    return out.substr(start, out.find_first_of(" \n", start) - start);
}

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

int millis_since(Clock::time_point t) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

std::string run_engine(const std::string& path, const std::string& input, int* exit_status,
                       const std::string& workdir) {
    EngineProcess p(path, workdir);
    p.send(input);
    int status = p.wait_exit(120000);
    if (exit_status) *exit_status = status;
    return p.output();
}

}  // namespace test
