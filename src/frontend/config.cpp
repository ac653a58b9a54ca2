#include "frontend/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "frontend/program.h"
#include "search/think.h"
#include "search/threads.h"
#include "frontend/textfile.h"

namespace varkon {

namespace {

Configuration config;

constexpr const char* CONFIG_NAME = "Varkon.ini";

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
    "#----------------------------------\n"
    "THREADS 1\n"
    "#----------------------------------\n";

bool is_separator(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

// The words of a configuration file, as formatted input separates them: white space,
// line ends included, lies between words (and a NUL byte, since names are handed on as C
// strings). A word keeps at most MAX_CONFIG_NAME + 1 bytes, enough to tell that a name is
// too long; a UTF-8 byte-order mark before the first word is dropped.
class WordReader {
public:
    explicit WordReader(std::FILE* in) : in_(in) {}

    // The next word, wherever it is; false at the end of the file.
    bool next(std::string& word) {
        word.clear();
        int c = std::getc(in_);
        while (c != EOF && is_separator(c)) c = std::getc(in_);
        if (c == EOF) return false;
        for (; c != EOF && !is_separator(c); c = std::getc(in_))
            if (word.size() <= MAX_CONFIG_NAME) word.push_back(static_cast<char>(c));
        if (c != EOF) std::ungetc(c, in_);  // a line end stays for skip_line()
        if (first_) {
            first_ = false;
            if (word.rfind("\xEF\xBB\xBF", 0) == 0) word.erase(0, 3);
            if (word.empty()) return next(word);
        }
        return true;
    }

    // Skips what is left of the line of the last word (LF, CR LF or CR ends a line).
    void skip_line() {
        int c = std::getc(in_);
        while (c != EOF && c != '\n' && c != '\r') c = std::getc(in_);
    }

private:
    std::FILE* in_;
    bool first_ = true;
};

// The number at the start of a word, as a decimal reading takes it ("12abc" is 12, a word
// without digits 0); beyond the range of long long it saturates.
long long leading_number(const std::string& word) {
    errno = 0;
    return std::strtoll(word.c_str(), nullptr, 10);
}

bool switch_on(const std::string& word) { return word == "on" || word == "1"; }
const char* on_off(bool on) { return on ? "on" : "off"; }

// A name or path value; false (and, with `confirm`, a note) when it is too long to be one.
bool name_fits(const char* keyword, const std::string& value, bool confirm) {
    if (value.size() <= MAX_CONFIG_NAME) return true;
    if (confirm) std::printf("%s is longer than %zu characters: not changed\n", keyword, MAX_CONFIG_NAME);
    return false;
}

// Sets the setting of `key` from its value word; with `confirm` the confirmation line is
// printed. False when the value was refused (a name too long, a book style that is none)
// or the key names no setting.
bool set_value(const std::string& key, const std::string& value, bool confirm) {
    const auto say = [confirm](const char* format, auto... args) {
        if (confirm) std::printf(format, args...);
    };
    if (key == "HASH") {
        config.hash_mb = static_cast<int>(std::clamp(leading_number(value), 2LL, 512LL));
        say("HASH     \t\t: %d MB\n", config.hash_mb);
    } else if (key == "EGTB_PATH") {
        if (!name_fits("EGTB_PATH", value, confirm)) return false;
        config.egtb_path = egtb_settings().path = value;
        say("EGTB_PATH\t\t: %s\n", value.c_str());
    } else if (key == "EGTB_CACHE_SIZE") {
        config.egtb_cache_mb = egtb_settings().cache_mb = static_cast<double>(std::clamp(leading_number(value), 1LL, 32LL));
        say("EGTB_CACHE_SIZE\t\t: %g MB\n", config.egtb_cache_mb);
    } else if (key == "SYZYGY_PATH") {
        if (!name_fits("SYZYGY_PATH", value, confirm)) return false;
        config.syzygy_path = syzygy_options().path = value == "<empty>" ? "" : value;
        say("SYZYGY_PATH\t\t: %s\n", value.c_str());
    } else if (key == "USE_BOOK") {
        config.use_book = switch_on(value);
        book_options.on = config.use_book ? 1 : 0;
        say("USE_BOOK \t\t: %s\n", on_off(config.use_book));
    } else if (key == "BOOK_NAME") {
        if (!name_fits("BOOK_NAME", value, confirm)) return false;
        config.book_name = book_options.name = value;
        say("BOOK_NAME \t\t: %s\n", value.c_str());
    } else if (key == "BOOK_STYLE") {
        const char* shown = "?";
        for (int s = 0; s < 3; ++s)
            if (value == book_style_names[s]) {
                config.book_style = book_options.style = s + 1;
                shown = book_style_names[s];
            }
        say("BOOK_STYLE\t\t: %s\n", shown);
        return shown[0] != '?';
    } else if (key == "RESIGN") {
        config.resign = switch_on(value);
        say("RESIGN    \t\t: %s\n", on_off(config.resign));
    } else if (key == "RESIGN_VALUE") {
        const long long v = leading_number(value);
        config.resign_value = v < -999 ? -900 : v >= -100 ? -100 : static_cast<int>(v);
        say("RESIGN_VALUE\t\t: %d\n", config.resign_value);
    } else if (key == "RESIGN_COUNT") {
        const long long v = leading_number(value);
        config.resign_count = v < 2 ? 1 : v >= 255 ? 12 : static_cast<int>(v);
        say("RESIGN_COUNT\t\t: %d\n", config.resign_count);
    } else if (key == "DRAW") {
        config.draw = switch_on(value);
        say("DRAW        \t\t: %s\n", value.c_str());
    } else if (key == "THREADS") {
        config.threads = static_cast<int>(std::clamp(leading_number(value), 1LL, static_cast<long long>(MAX_SEARCH_THREADS)));
        say("THREADS     \t\t: %d\n", config.threads);
    } else if (key == "LOGFILE") {
        config.log = switch_on(value);
        say("LOGFILE     \t\t: %s\n", value.c_str());
    } else {
        return false;
    }
    return true;
}

bool is_keyword(const std::string& word) {
    static const char* const keywords[] = {"HASH",         "EGTB_PATH",    "EGTB_CACHE_SIZE", "SYZYGY_PATH",
                                           "USE_BOOK",     "BOOK_NAME",    "BOOK_STYLE",      "RESIGN",
                                           "RESIGN_VALUE", "RESIGN_COUNT", "DRAW",            "LOGFILE",
                                           "THREADS"};
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

// Writes the default file into `dir` ("": the working directory; else ending with "/"),
// complete or not at all: it is written under a temporary name and linked into place, and
// a file that another process created meanwhile is kept. 0, or the errno of the failure.
int write_default_file(const std::string& dir) {
    std::string temporary = dir + CONFIG_NAME + ".XXXXXX";
    const std::string target = dir + CONFIG_NAME;
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return errno;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const std::size_t size = sizeof DEFAULT_TEXT - 1;
    int error = ::write(fd, DEFAULT_TEXT, size) == static_cast<ssize_t>(size) ? 0 : errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::link(temporary.c_str(), target.c_str()) != 0 && errno != EEXIST) {
        // A file system without hard links: the rename may replace a file written by
        // another start meanwhile, with the same content.
        if (::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    }
    ::unlink(temporary.c_str());
    return error;
}

// There is no Varkon.ini to read: the default file is written into the working directory
// or, when that takes no files, into the user's directory, where an earlier start may have
// written it already. The file to read; nullptr (reported) when none can be had.
std::FILE* make_config() {
    std::string why;
    const int error = write_default_file("");
    if (error == 0) {
        std::printf("Error (Varkon.ini not found!)\nnew Varkon.ini created.. \n");
        return open_text_file(CONFIG_NAME, &why);
    }
    std::string dir_why;
    const std::string dir = takes_no_files(error) ? user_file_directory(&dir_why) : "";
    if (dir.empty()) {
        std::printf("Error (Varkon.ini not found!)\ncan't create Varkon.ini (%s%s%s): going on with the default settings\n",
                    std::strerror(error), dir_why.empty() ? "" : "; ", dir_why.c_str());
        return nullptr;
    }
    std::printf("the working directory takes no files (%s): Varkon.ini and the log are kept in %s\n",
                std::strerror(error), dir.c_str());
    const std::string path = dir + CONFIG_NAME;
    std::FILE* in = open_text_file(path.c_str(), &why);
    if (in != nullptr) return in;
    if (errno != ENOENT) {
        std::printf("can't read %s (%s): going on with the default settings\n", path.c_str(), why.c_str());
        return nullptr;
    }
    std::printf("Error (Varkon.ini not found!)\n");
    if (const int dir_error = write_default_file(dir); dir_error != 0) {
        std::printf("can't create %s (%s): going on with the default settings\n", path.c_str(), std::strerror(dir_error));
        return nullptr;
    }
    std::printf("new Varkon.ini created.. \n");
    return open_text_file(path.c_str(), &why);
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

bool change_setting(const std::string& keyword, const std::string& value) { return set_value(keyword, value, false); }

void read_config_stream(std::FILE* in) {
    WordReader words(in);
    std::string word, value;
    while (words.next(word)) {
        // A comment ("#...") or any other word that is no keyword: its line is done.
        if (!is_keyword(word)) {
            words.skip_line();
            continue;
        }
        if (!words.next(value)) {
            std::printf("%s without a value: not changed\n", word.c_str());
            return;
        }
        set_value(word, value, true);
    }
}

void read_config() {
    std::string why;
    std::FILE* in = open_config(why);
    if (in == nullptr && errno == ENOENT)
        in = make_config();
    else if (in == nullptr)
        std::printf("can't read Varkon.ini (%s): going on with the default settings\n", why.c_str());
    std::printf("reading config file...\n");
    if (in != nullptr) {
        read_config_stream(in);
        std::fclose(in);
    } else {
        read_config_text(DEFAULT_TEXT);
    }
    program().search->tables.allocate(config.hash_mb);
    if (const int got = set_search_threads(config.threads); got < config.threads)
        std::printf("only %d of %d threads could be started\n", got, config.threads);
}

}  // namespace varkon
