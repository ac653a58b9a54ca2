#include "frontend/log.h"

#include <cstdarg>
#include <cstring>

#include "core/stats.h"
#include "frontend/program.h"
#include "frontend/textfile.h"
#include "search/request.h"

namespace varkon {

namespace {

// While the log is open, `stdout` is `copy`, a stream whose writes go to `shown` (the
// process's own standard output) and to `log_file`. `failed` is set by the first write
// to the log that fails; the log is then written no more.
struct LogState {
    std::FILE* log_file = nullptr;
    std::FILE* shown = nullptr;
    std::FILE* copy = nullptr;
    bool failed = false;
};
LogState state;

void report_write_failure() {
    if (state.failed) return;
    state.failed = true;
    const std::string text = "log file " + log_file_name() + " could not be written (" + std::strerror(errno) +
                             "), logging stopped\n";
    std::fputs(text.c_str(), state.shown);
    std::fflush(state.shown);
}

void write_log(const char* text, std::size_t n) {
    if (state.log_file == nullptr || state.failed) return;
    if (std::fwrite(text, 1, n, state.log_file) != n || std::fflush(state.log_file) != 0) report_write_failure();
}

ssize_t copy_write(void*, const char* text, std::size_t n) {
    const std::size_t shown = std::fwrite(text, 1, n, state.shown);
    std::fflush(state.shown);
    write_log(text, n);
    return shown == 0 && n > 0 ? 0 : static_cast<ssize_t>(shown);
}

// Pending output is written before a line that goes to the log alone, so the log keeps
// the order in which things happened.
void flush_shown_output() {
    if (state.copy != nullptr) std::fflush(state.copy);
}

}  // namespace

bool log_on() { return state.log_file != nullptr && !state.failed; }

std::string log_file_name() { return std::string("Varkon_v") + program().version + ".log"; }

bool open_log() {
    if (log_on()) return true;
    close_log();  // a log that failed is closed before a new one is made
    const std::string name = log_file_name();
    std::string why;
    std::FILE* f = create_text_file(name.c_str(), &why);
    if (f == nullptr && takes_no_files(errno)) {
        // The working directory takes no files: the user's directory for them.
        std::string dir_why;
        const std::string dir = user_file_directory(&dir_why);
        if (!dir.empty()) f = create_text_file((dir + name).c_str(), &dir_why);
        why += "; " + (dir.empty() ? dir_why : dir + name + ": " + dir_why);
    }
    if (f == nullptr) {
        const std::string text = "can't create log file " + name + " (" + why + ")";
        protocol_output().note(text.c_str());
        return false;
    }
    std::fputs("open logfile...\n", stdout);
    std::fflush(stdout);
    cookie_io_functions_t io{};
    io.write = copy_write;
    std::FILE* copy = ::fopencookie(nullptr, "w", io);
    if (copy == nullptr) {
        std::fclose(f);
        protocol_output().note("can't copy the output to the log");
        return false;
    }
    std::setvbuf(copy, nullptr, _IOLBF, BUFSIZ);
    state = LogState{f, stdout, copy, false};
    stdout = copy;
    log_printf("========================================\nLog file for Varkon v%s\n"
               "========================================\n\n",
               program().version);
    return log_on();
}

void close_log() {
    if (state.log_file == nullptr) return;
    std::fflush(state.copy);
    stdout = state.shown;
    std::fclose(state.copy);
    std::fclose(state.log_file);
    state = LogState{};
}

void set_option_log_file(const std::string& value, double) {
    if (value == "true")
        open_log();
    else if (value == "false")
        close_log();
}

void log_input(const char* text, std::size_t length) {
    if (!log_on() || length == 0) return;
    flush_shown_output();
    // A line ended by CR (alone or before LF) is logged with LF.
    if (text[length - 1] == '\r') {
        write_log(text, length - 1);
        write_log("\n", 1);
    } else {
        write_log(text, length);
    }
}

void log_statistics(const SearchStats& stats) {
    if (!log_on()) return;
    flush_shown_output();
    print_statistics(stats, state.log_file);
    if (std::fflush(state.log_file) != 0 || std::ferror(state.log_file) != 0) report_write_failure();
}

void log_printf(const char* format, ...) {
    if (!log_on()) return;
    flush_shown_output();
    va_list args;
    va_start(args, format);
    const int n = std::vfprintf(state.log_file, format, args);
    va_end(args);
    if (n < 0 || std::fflush(state.log_file) != 0) report_write_failure();
}

}  // namespace varkon
