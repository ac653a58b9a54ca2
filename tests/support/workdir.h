// Temporary working directories for the programs under test. varkon_classic reads its
// settings from Varkon.ini in its working directory (and writes a default one, with the
// log switched on, where there is none), so its process tests run in one of these.
#pragma once

#include <string>

namespace test {

class WorkDir {
public:
    // A new directory under the system's temporary directory; with `config`, it holds a
    // Varkon.ini of that text ("": the built-in defaults, 2 MB tables and no log).
    explicit WorkDir(const char* config = nullptr);
    ~WorkDir();  // removes the directory and everything in it
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // The content of a file in it; empty when there is none.
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& text) const;
    bool exists(const std::string& name) const;

private:
    std::string path_;
};

}  // namespace test
