// The table generator: the known facts of the endings, every stored value following from
// the values of the position's successors, the tables a signature depends on made first,
// and files that are either whole or absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "egtb/tbgen.h"
#include "egtb/tbindex.h"
#include "support/tb_dir.h"

namespace {

using namespace varkon;

struct Longest {
    int win = 0, loss = 0;   // in moves; -1: the table has none
    bool only_draws = true;
};

Longest longest(const std::vector<signed char>& bytes) {
    Longest l{-1, -1, true};
    for (const signed char v : bytes) {
        if (v >= 1 && v <= 126) l.win = std::max(l.win, 127 - v);
        if (v >= -126 && v <= -1) l.loss = std::max(l.loss, v + 126);
        if (v != 0 && v != 127) l.only_draws = false;
    }
    return l;
}

Longest of(const test::TbDir& dir, const std::string& name, int side) {
    const auto bytes = test::read_bytes(dir.file(name + (side == 0 ? ".nbw" : ".nbb")));
    EXPECT_EQ(bytes.size(), tb_count(tb_number(name), side)) << name;
    return longest(bytes);
}

TEST(TbGen, ThreePieceEndings) {
    test::TbDir dir({"kqk", "krk", "kbk", "knk", "kpk"});
    EXPECT_EQ(of(dir, "kqk", 0).win, 10);
    EXPECT_EQ(of(dir, "kqk", 1).loss, 10);
    EXPECT_EQ(of(dir, "krk", 0).win, 16);
    EXPECT_EQ(of(dir, "krk", 1).loss, 16);
    EXPECT_EQ(of(dir, "kpk", 0).win, 28);
    for (const char* drawn : {"kbk", "knk"})
        for (int side = 0; side < 2; ++side) EXPECT_TRUE(of(dir, drawn, side).only_draws) << drawn;
    for (const char* name : {"kqk", "krk", "kbk", "knk", "kpk"}) EXPECT_EQ(tbgen_verify(dir.path(), name, stderr), 0) << name;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(TbGen, FourPieceLongestMates) {
    // kqkr needs kqk and krk, kbnk kbk and knk: the generator makes them first.
    test::TbDir dir({"kqkr", "kbnk", "knnk"});
    EXPECT_TRUE(std::filesystem::exists(dir.file("krk.nbb")));
    EXPECT_EQ(of(dir, "kqkr", 0).win, 35);
    EXPECT_EQ(of(dir, "kqkr", 1).loss, 35);
    EXPECT_EQ(of(dir, "kbnk", 0).win, 33);
    // Two knights force no mate: only positions where the mate is on the board, or one
    // move away with every defence leading into it.
    EXPECT_LE(of(dir, "knnk", 0).win, 1);
    EXPECT_LE(of(dir, "knnk", 1).loss, 1);
}

TEST(TbGen, VerifierAndBrokenFiles) {
    test::TbDir dir({"kqk"});
    // A win made one move longer than it is no longer follows from its successors.
    auto bytes = test::read_bytes(dir.file("kqk.nbw"));
    const auto at = std::find_if(bytes.begin(), bytes.end(), [](signed char v) { return v > 1 && v < 127; });
    ASSERT_NE(at, bytes.end());
    --*at;
    test::write_bytes(dir.file("kqk.nbw"), bytes);
    EXPECT_GT(tbgen_verify(dir.path(), "kqk", nullptr), 0);
    // A table of the wrong size is made afresh; a missing one cannot be checked.
    bytes.pop_back();
    test::write_bytes(dir.file("kqk.nbw"), bytes);
    EXPECT_EQ(tbgen_verify(dir.path(), "kqk", nullptr), -1);
    dir.make("kqk");
    EXPECT_EQ(tbgen_verify(dir.path(), "kqk", nullptr), 0);
    std::filesystem::remove(dir.file("kqk.nbb"));
    EXPECT_EQ(tbgen_verify(dir.path(), "kqk", nullptr), -1);
    EXPECT_FALSE(tbgen_make(dir.path(), "kkq", nullptr));
    EXPECT_FALSE(tbgen_make(dir.path() + "/no/such/dir", "kqk", nullptr));
}

}  // namespace
