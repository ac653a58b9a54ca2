// Tablebase files made at test time by the engine's generator, in a temporary directory
// removed at the end of the test.
#pragma once

#include <string>
#include <vector>

namespace test {

class TbDir {
public:
    // Makes the tables of `names` (and what they depend on).
    explicit TbDir(const std::vector<std::string>& names = {});
    ~TbDir();
    TbDir(const TbDir&) = delete;
    TbDir& operator=(const TbDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& leaf) const { return path_ + "/" + leaf; }
    void make(const std::string& name);

private:
    std::string path_;
};

std::vector<signed char> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<signed char>& bytes);

}  // namespace test
