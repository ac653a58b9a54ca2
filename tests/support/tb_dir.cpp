#include "support/tb_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "egtb/tbgen.h"

namespace test {

TbDir::TbDir(const std::vector<std::string>& names) {
    for (const std::string& name : names) make(name);
}

void TbDir::make(const std::string& name) { EXPECT_TRUE(varkon::tbgen_make(path(), name, nullptr)) << name; }

std::vector<signed char> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<signed char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::vector<signed char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace test
