// Tablebase files made at test time by the engine's generator, in a temporary directory
// removed at the end of the test.
#pragma once

#include <string>
#include <vector>

#include "support/workdir.h"

namespace test {

class TbDir : public WorkDir {
public:
    // Makes the tables of `names` (and what they depend on).
    explicit TbDir(const std::vector<std::string>& names = {});
    void make(const std::string& name);
};

std::vector<signed char> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<signed char>& bytes);

}  // namespace test
