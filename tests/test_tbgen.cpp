// The table generator: the known facts of the endings, every stored value following from
// the values of the position's successors, the same tables on any number of threads, the
// tables a signature depends on made first, files that are either whole or absent, the
// memory weighed before any work, and a run over all tables that keeps what is done.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "egtb/probe_egtb.h"
#include "egtb/tbfiles.h"
#include "egtb/tbgen.h"
#include "egtb/tbindex.h"
#include "support/engine_setup.h"
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

// Names of the files in a directory ending in `suffix`.
std::vector<std::string> files_ending(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TbGenOptions threads(int n) {
    TbGenOptions o;
    o.threads = n;
    return o;
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
    EXPECT_TRUE(files_ending(dir.path(), ".tmp").empty());
    EXPECT_EQ(files_ending(dir.path(), ".sum").size(), 5u);
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

TEST(TbGen, SameTablesOnAnyNumberOfThreads) {
    // kpk promotes, krkn captures on both sides.
    test::TbDir one, two;
    for (const char* name : {"kpk", "krkn"}) {
        ASSERT_TRUE(tbgen_make(one.path(), name, threads(1)));
        ASSERT_TRUE(tbgen_make(two.path(), name, threads(3)));
    }
    const auto made = files_ending(one.path(), ".nbw");
    EXPECT_EQ(made, files_ending(two.path(), ".nbw"));
    EXPECT_EQ(made.size(), 6u);   // kpk, kqk, krk, kbk, knk and krkn
    for (const std::string& file : made)
        for (const char* ext : {".nbw", ".nbb"}) {
            const std::string name = file.substr(0, file.size() - 4) + ext;
            EXPECT_EQ(test::read_bytes(one.file(name)), test::read_bytes(two.file(name))) << name;
        }
    EXPECT_EQ(tbgen_verify(two.path(), "krkn", nullptr, 2), 0);
}

TEST(TbGen, ProbesGiveTheKnownResults) {
    test::TbDir dir({"kqk", "kpk"});
    test::use_varkon();
    egtb_settings().path = dir.path();
    egtb_settings().cache_mb = 2.0;
    test::capture_stdout([] { egtb_init(); });
    auto probe = [](const char* fen) {
        EXPECT_TRUE(test::set_fen(fen)) << fen;
        return egtb_probe(game());
    };
    // Mate in one (Qb2#) is the best score a probe gives; stalemate is a draw.
    EXPECT_EQ(probe("8/8/8/8/8/1Q6/2K5/k7 w - - 0 1"), 32000 - 2);
    EXPECT_EQ(probe("8/8/8/8/8/1Q6/2K5/k7 b - - 0 1"), 0);
    // The king in front of its pawn on the sixth rank wins whoever is to move; a rook
    // pawn with the defending king in the corner does not.
    EXPECT_GT(probe("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1"), 31000);
    EXPECT_LT(probe("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1"), -31000);
    EXPECT_EQ(probe("7k/8/6K1/7P/8/8/8/8 w - - 0 1"), 0);
    EXPECT_EQ(probe("7k/8/6K1/7P/8/8/8/8 b - - 0 1"), 0);
    egtb_release();
    egtb_settings().path = "c:\\tb";
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
    // The checksums no longer match: the table is made afresh.
    EXPECT_EQ(tb_check_sidecar(dir.path(), tb_number("kqk")), TbSidecar::DIFFERS);
    dir.make("kqk");
    EXPECT_EQ(tbgen_verify(dir.path(), "kqk", nullptr), 0);
    // A table of the wrong size is made afresh; a missing one cannot be checked.
    bytes = test::read_bytes(dir.file("kqk.nbw"));
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

TEST(TbGen, StoppedOrShortOfMemoryLeavesNoFile) {
    test::TbDir dir;
    // Too little memory is told before any work: nothing is made, not even the tables
    // the signature depends on.
    TbGenOptions options;
    options.memory = 1 << 20;
    EXPECT_GT(tbgen_memory_needed("kqkr"), options.memory);
    EXPECT_FALSE(tbgen_make(dir.path(), "kqkr", options));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // Asked to stop, the generator leaves neither a table nor a temporary file.
    std::atomic<bool> stop{true};
    options = TbGenOptions{};
    options.stop = &stop;
    EXPECT_FALSE(tbgen_make(dir.path(), "kqk", options));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    const std::int8_t bytes[3] = {1, 2, 3};
    EXPECT_FALSE(tb_write_file(dir.file("krk.nbw"), bytes, 3, &stop));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    stop = false;
    EXPECT_TRUE(tb_write_file(dir.file("krk.nbw"), bytes, 3, &stop));
    EXPECT_EQ(test::read_bytes(dir.file("krk.nbw")).size(), 3u);
}

TEST(TbGen, AllTablesKeepWhatIsDone) {
    test::TbDir dir;
    std::FILE* log = std::tmpfile();
    TbGenOptions options;
    options.log = log;
    TbGenStats first;
    ASSERT_TRUE(tbgen_make_all(dir.path(), 3, options, &first));
    EXPECT_EQ(first.tables_made, 5);
    // Not a terminal: a plain line per pass.
    std::rewind(log);
    char line[256];
    int passes = 0;
    while (std::fgets(line, sizeof line, log)) passes += std::string(line).find("krk: pass ") == 0;
    std::fclose(log);
    EXPECT_GE(passes, 16);
    // Run again: the finished tables are checked and kept.
    TbGenStats again;
    ASSERT_TRUE(tbgen_make_all(dir.path(), 3, TbGenOptions{}, &again));
    EXPECT_EQ(again.tables_made, 0);
    EXPECT_EQ(again.tables_kept, 5);
    // A damaged table is made again; one without its record is checked position by
    // position, and kept with a new record.
    const auto sound = test::read_bytes(dir.file("krk.nbw"));
    auto damaged = sound;
    damaged[damaged.size() / 2] ^= 1;
    test::write_bytes(dir.file("krk.nbw"), damaged);
    std::filesystem::remove(dir.file("kqk.sum"));
    TbGenStats third;
    ASSERT_TRUE(tbgen_make_all(dir.path(), 3, TbGenOptions{}, &third));
    EXPECT_EQ(third.tables_made, 1);
    EXPECT_EQ(third.tables_kept, 4);
    EXPECT_EQ(test::read_bytes(dir.file("krk.nbw")), sound);
    EXPECT_TRUE(std::filesystem::exists(dir.file("kqk.sum")));
    EXPECT_FALSE(tbgen_make_all(dir.path(), 6, TbGenOptions{}));
}

}  // namespace
