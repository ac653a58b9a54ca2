#include "support/workdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace test {

WorkDir::WorkDir(const char* config) {
    std::string pattern = (std::filesystem::temp_directory_path() / "varkon_test_XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = name.data();
    if (config != nullptr) write("Varkon.ini", config);
}

WorkDir::~WorkDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string WorkDir::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WorkDir::write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
}

bool WorkDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

}  // namespace test
