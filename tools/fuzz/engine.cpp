#include "engine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace fuzz {

namespace {

constexpr std::size_t TAIL_LINES = 40;
constexpr std::size_t MAX_ERRORS = 1 << 20;   // stderr kept for the report

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Engine::~Engine() { kill(); }

bool Engine::start(const std::string& path, const std::string& workdir) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0) return false;
    if (::pipe(out) != 0) {
        ::close(in[0]), ::close(in[1]);
        return false;
    }
    if (::pipe(err) != 0) {
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        if (!workdir.empty() && ::chdir(workdir.c_str()) != 0) ::_exit(127);
        ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_fd_ = err[0];
    if (pid_ < 0) {
        close_fd(in_), close_fd(out_), close_fd(err_fd_);
        return false;
    }
    set_nonblocking(in_);
    set_nonblocking(out_);
    set_nonblocking(err_fd_);
    started_ = now_ms();
    return true;
}

void Engine::send(const std::string& bytes) {
    input_ += bytes;
    timing_ += std::to_string(now_ms() - started_) + " " + std::to_string(bytes.size()) + "\n";
    if (in_ >= 0) pending_ += bytes;
    pump(-1);
}

void Engine::take_output(const char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] != '\n') {
            partial_.push_back(data[i]);
            continue;
        }
        std::string line;
        line.swap(partial_);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        tail_.push_back(line);
        if (tail_.size() > TAIL_LINES) tail_.pop_front();
        if (on_line) on_line(line);
    }
}

void Engine::reap(bool block) {
    if (pid_ <= 0 || ended_) return;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (r != pid_) return;
    ended_ = true;
    if (WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
}

void Engine::pump(int wait_ms) {
    pollfd fds[3];
    int n = 0;
    if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (in_ >= 0 && !pending_.empty()) fds[n++] = {in_, POLLOUT, 0};
    if (n == 0) {
        reap(false);
        if (!ended_ && wait_ms > 0) ::usleep(static_cast<useconds_t>(wait_ms) * 1000);
        return;
    }
    if (::poll(fds, static_cast<nfds_t>(n), wait_ms < 0 ? 0 : wait_ms) < 0 && errno != EINTR) return;
    char buf[65536];
    for (int i = 0; i < n; ++i) {
        if (fds[i].revents == 0) continue;
        if (fds[i].fd == in_) {
            const ssize_t w = ::write(in_, pending_.data(), pending_.size());
            if (w > 0) pending_.erase(0, static_cast<std::size_t>(w));
            if (w < 0 && errno != EAGAIN && errno != EINTR) {
                pending_.clear();   // the program closed its input: nothing more reaches it
                close_fd(in_);
            }
            continue;
        }
        const bool is_out = fds[i].fd == out_;
        const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
        if (r > 0) {
            if (is_out)
                take_output(buf, static_cast<std::size_t>(r));
            else if (err_.size() < MAX_ERRORS)
                err_.append(buf, static_cast<std::size_t>(r));
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
            close_fd(is_out ? out_ : err_fd_);
        }
    }
    reap(false);
}

bool Engine::wait(const std::function<bool()>& done, int timeout_ms) {
    const std::int64_t end = now_ms() + (timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        if (done()) return true;
        if (ended_ && out_ < 0) return done();
        const std::int64_t left = end - now_ms();
        if (left <= 0) {
            pump(-1);
            return done();
        }
        pump(static_cast<int>(left < 20 ? left : 20));
        if (ended_) {  // whatever is still in the pipes
            while (out_ >= 0 || err_fd_ >= 0) pump(10);
        }
    }
}

bool Engine::wait_exit(int timeout_ms) {
    const std::int64_t end = now_ms() + timeout_ms;
    while (!pending_.empty() && in_ >= 0 && !ended_ && now_ms() < end) pump(20);
    close_fd(in_);
    pending_.clear();
    while (!ended_ && now_ms() < end) pump(20);
    while (ended_ && (out_ >= 0 || err_fd_ >= 0)) pump(10);
    return ended_;
}

void Engine::kill() {
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    close_fd(in_), close_fd(out_), close_fd(err_fd_);
}

std::string Engine::output_tail() const {
    std::string text;
    for (const std::string& l : tail_) text += l + "\n";
    return text;
}

}  // namespace fuzz
