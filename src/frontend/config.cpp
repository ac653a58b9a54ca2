#include "frontend/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "frontend/program.h"
#include "search/think.h"
#include "frontend/textfile.h"

namespace varkon {

namespace {

Configuration config;

constexpr const char* CONFIG_NAME = "Varkon.ini";
// What is kept of one line; the rest of a longer line is skipped. It holds a keyword and a
// value of the longest name.
constexpr std::size_t MAX_LINE = 2 * MAX_CONFIG_NAME + 256;

const char DEFAULT_TEXT[] =
    "#----------------------------------\n"
    "# Varkon config file\n"
    "#----------------------------------\n"
    "#\n"
    "#----------------------------------\n"
    "HASH 64\n"
    "#----------------------------------\n"
    "EGTB_PATH  c:\\tb\n"
    "EGTB_CACHE_SIZE 8\n"
    "#----------------------------------\n"
    "USE_BOOK on\n"
    "BOOK_NAME book.dat\n"
    "BOOK_STYLE best\n"
    "#----------------------------------\n"
    "RESIGN on\n"
    "RESIGN_VALUE -600\n"
    "RESIGN_COUNT 6\n"
    "DRAW on\n"
    "#----------------------------------\n"
    "LOGFILE on\n"
    "#----------------------------------\n";

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !is_separator(line[i])) ++i;
        if (i > start) words.emplace_back(line, start, i - start);
    }
    return words;
}

// The number at the start of a word, as a decimal reading takes it ("12abc" is 12, a word
// without digits 0); beyond the range of long long it saturates.
long long leading_number(const std::string& word) {
    errno = 0;
    return std::strtoll(word.c_str(), nullptr, 10);
}

bool switch_on(const std::string& word) { return word == "on" || word == "1"; }
const char* on_off(bool on) { return on ? "on" : "off"; }

// A name or path value; false (and a note) when it is too long to be one.
bool name_fits(const char* keyword, const std::string& value) {
    if (value.size() <= MAX_CONFIG_NAME) return true;
    std::printf("%s is longer than %zu characters: not changed\n", keyword, MAX_CONFIG_NAME);
    return false;
}

void set_value(const std::string& key, const std::string& value) {
    if (key == "HASH") {
        config.hash_mb = static_cast<int>(std::clamp(leading_number(value), 2LL, 512LL));
        std::printf("HASH     \t\t: %d MB\n", config.hash_mb);
    } else if (key == "EGTB_PATH") {
        if (!name_fits("EGTB_PATH", value)) return;
        config.egtb_path = egtb_settings.path = value;
        std::printf("EGTB_PATH\t\t: %s\n", value.c_str());
    } else if (key == "EGTB_CACHE_SIZE") {
        config.egtb_cache_mb = egtb_settings.cache_mb = static_cast<double>(std::clamp(leading_number(value), 1LL, 32LL));
        std::printf("EGTB_CACHE_SIZE\t\t: %g MB\n", config.egtb_cache_mb);
    } else if (key == "USE_BOOK") {
        config.use_book = switch_on(value);
        book_options.on = config.use_book ? 1 : 0;
        std::printf("USE_BOOK \t\t: %s\n", on_off(config.use_book));
    } else if (key == "BOOK_NAME") {
        if (!name_fits("BOOK_NAME", value)) return;
        config.book_name = book_options.name = value;
        std::printf("BOOK_NAME \t\t: %s\n", value.c_str());
    } else if (key == "BOOK_STYLE") {
        static const char* const styles[] = {"best", "normal", "random"};
        const char* shown = "?";
        for (int s = 0; s < 3; ++s)
            if (value == styles[s]) {
                config.book_style = book_options.style = s + 1;
                shown = styles[s];
            }
        std::printf("BOOK_STYLE\t\t: %s\n", shown);
    } else if (key == "RESIGN") {
        config.resign = switch_on(value);
        std::printf("RESIGN    \t\t: %s\n", on_off(config.resign));
    } else if (key == "RESIGN_VALUE") {
        const long long v = leading_number(value);
        config.resign_value = v < -999 ? -900 : v >= -100 ? -100 : static_cast<int>(v);
        std::printf("RESIGN_VALUE\t\t: %d\n", config.resign_value);
    } else if (key == "RESIGN_COUNT") {
        const long long v = leading_number(value);
        config.resign_count = v < 2 ? 1 : v >= 255 ? 12 : static_cast<int>(v);
        std::printf("RESIGN_COUNT\t\t: %d\n", config.resign_count);
    } else if (key == "DRAW") {
        config.draw = switch_on(value);
        std::printf("DRAW        \t\t: %s\n", value.c_str());
    } else if (key == "LOGFILE") {
        config.log = switch_on(value);
        std::printf("LOGFILE     \t\t: %s\n", value.c_str());
    }
}

bool is_keyword(const std::string& word) {
    static const char* const keywords[] = {"HASH",      "EGTB_PATH",    "EGTB_CACHE_SIZE", "USE_BOOK",
                                           "BOOK_NAME", "BOOK_STYLE",   "RESIGN",          "RESIGN_VALUE",
                                           "RESIGN_COUNT", "DRAW",      "LOGFILE"};
    for (const char* k : keywords)
        if (word == k) return true;
    return false;
}

// Reads the configuration from `text` (the built-in default content).
void read_config_text(const char* text) {
    std::FILE* in = ::fmemopen(const_cast<char*>(text), std::strlen(text), "r");
    if (in == nullptr) return;
    read_config_stream(in);
    std::fclose(in);
}

// Writes the default file under its name in the working directory, complete or not at all:
// it is written under a temporary name and linked into place, and a file that another
// process created meanwhile is kept. False (with the reason) when it cannot be written.
bool write_default_file(std::string& why) {
    char temporary[] = "Varkon.ini.XXXXXX";
    const int fd = ::mkstemp(temporary);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const std::size_t size = sizeof DEFAULT_TEXT - 1;
    bool ok = ::write(fd, DEFAULT_TEXT, size) == static_cast<ssize_t>(size);
    if (!ok) why = std::strerror(errno);
    ok = (::close(fd) == 0) && ok;
    if (ok && ::link(temporary, CONFIG_NAME) != 0 && errno != EEXIST) {
        // A file system without hard links: the rename may replace a file written by
        // another start meanwhile, with the same content.
        ok = ::rename(temporary, CONFIG_NAME) == 0;
        if (!ok) why = std::strerror(errno);
    }
    ::unlink(temporary);
    return ok;
}

// Opens the configuration file: the working directory's, else the one beside the program.
// nullptr with errno ENOENT when there is none.
std::FILE* open_config(std::string& why) {
    std::FILE* in = open_text_file(CONFIG_NAME, &why);
    if (in != nullptr || errno != ENOENT) return in;
    const std::string beside = book_file_path(CONFIG_NAME);
    if (beside == CONFIG_NAME) return nullptr;
    in = open_text_file(beside.c_str(), &why);
    if (in == nullptr && errno != ENOENT) why = beside + ": " + why;
    return in;
}

}  // namespace

const Configuration& configuration() { return config; }

void reset_configuration() {
    config = Configuration{};
    config.egtb_path = program().egtb_path;
}

const char* default_config_text() { return DEFAULT_TEXT; }

void read_config_stream(std::FILE* in) {
    std::string line;
    bool first_line = true;
    while (read_text_line(in, line, MAX_LINE)) {
        if (first_line && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a UTF-8 byte-order mark
        first_line = false;
        const std::vector<std::string> words = split_words(line);
        for (std::size_t i = 0; i < words.size() && is_keyword(words[i]); i += 2) {
            if (i + 1 == words.size()) {
                std::printf("%s without a value: not changed\n", words[i].c_str());
                break;
            }
            set_value(words[i], words[i + 1]);
        }
    }
}

void read_config() {
    std::string why;
    std::FILE* in = open_config(why);
    const bool missing = in == nullptr && errno == ENOENT;
    if (missing) {
        std::printf("Error (Varkon.ini not found!)\n");
        if (write_default_file(why)) {
            std::printf("new Varkon.ini created.. \n");
            in = open_config(why);
        } else {
            std::printf("can't create Varkon.ini (%s): going on with the default settings\n", why.c_str());
        }
    } else if (in == nullptr) {
        std::printf("can't read Varkon.ini (%s): going on with the default settings\n", why.c_str());
    }
    std::printf("reading config file...\n");
    if (in != nullptr) {
        read_config_stream(in);
        std::fclose(in);
    } else {
        read_config_text(DEFAULT_TEXT);
    }
    program().search->tables.allocate(config.hash_mb);
}

}  // namespace varkon
