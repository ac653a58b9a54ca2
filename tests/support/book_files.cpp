#include "support/book_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace test {

std::string make_temp_dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/varkon_test_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void remove_tree(const std::string& path) {
    if (path.empty()) return;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& name : list_dir(path)) remove_tree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string book_bytes(const std::vector<varkon::BookRecord>& records) {
    std::string bytes(records.size() * varkon::BOOK_RECORD_SIZE, '\0');
    for (std::size_t i = 0; i < records.size(); ++i)
        varkon::encode_book_record(records[i], reinterpret_cast<unsigned char*>(&bytes[i * varkon::BOOK_RECORD_SIZE]));
    return bytes;
}

void write_book(const std::string& path, const std::vector<varkon::BookRecord>& records) {
    write_bytes(path, book_bytes(records));
}

std::vector<varkon::BookRecord> read_book(const std::string& path) {
    const std::string bytes = read_bytes(path);
    std::vector<varkon::BookRecord> records;
    for (std::size_t at = 0; at + varkon::BOOK_RECORD_SIZE <= bytes.size(); at += varkon::BOOK_RECORD_SIZE)
        records.push_back(varkon::decode_book_record(reinterpret_cast<const unsigned char*>(bytes.data() + at)));
    return records;
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace test
