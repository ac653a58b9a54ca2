#include "frontend/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace varkon {

namespace {

// Opens with `flags` and never blocks on a FIFO; nullptr unless it is a regular file.
std::FILE* open_regular(const char* name, int flags, const char* mode, std::string* why) {
    const int fd = ::open(name, flags | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why) *why = "not a regular file";
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, mode);
    if (f == nullptr) {
        if (why) *why = std::strerror(errno);
        ::close(fd);
    }
    return f;
}

}  // namespace

std::FILE* open_text_file(const char* name, std::string* why) { return open_regular(name, O_RDONLY, "r", why); }

std::FILE* create_text_file(const char* name, std::string* why) {
    // Truncation waits until the name is known to be a regular file.
    std::FILE* f = open_regular(name, O_WRONLY | O_CREAT, "w", why);
    if (f != nullptr && ::ftruncate(::fileno(f), 0) != 0) {
        if (why) *why = std::strerror(errno);
        std::fclose(f);
        return nullptr;
    }
    return f;
}

bool same_file(const char* a, const char* b) {
    struct stat sa, sb;
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string user_file_directory(std::string* why) {
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (config_home != nullptr && config_home[0] == '/') {
        dir = config_home;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            if (why) *why = "neither XDG_CONFIG_HOME nor HOME names a directory";
            return "";
        }
        dir = std::string(home) + "/.config";
    }
    dir += "/varkon/";
    // Each component in turn, so that missing parents are made too.
    for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        struct stat st;
        if (::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            if (why) *why = part + ": " + std::strerror(errno);
            return "";
        }
    }
    return dir;
}

bool takes_no_files(int error) { return error == EACCES || error == EPERM || error == EROFS || error == ENOENT; }

bool read_text_line(std::FILE* in, std::string& line, std::size_t max_length) {
    line.clear();
    int c = std::getc(in);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(in)) {
        if (c == '\r') {
            c = std::getc(in);
            if (c != '\n' && c != EOF) std::ungetc(c, in);
            break;
        }
        if (line.size() < max_length) line.push_back(static_cast<char>(c));
    }
    return true;
}

}  // namespace varkon
