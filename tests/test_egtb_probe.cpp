// Tablebase registry, block cache and probe, on tables the generator makes at test time:
// the report, the search's scores, the two file forms and the directory list, and files
// that are broken, shrink or vanish, which give no answer but never a wrong one.
#include <gtest/gtest.h>

#include <filesystem>

#include "egtb/probe_egtb.h"
#include "egtb/tbindex.h"
#include "support/engine_setup.h"
#include "support/tb_dir.h"

namespace {

using namespace varkon;

// The tables every test here reads, made once.
class EgtbProbe : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tables = new test::TbDir({"kqk", "krk"}); }
    static void TearDownTestSuite() {
        delete tables;
        tables = nullptr;
    }
    void SetUp() override { test::use_varkon(); }
    void TearDown() override {
        egtb_release();
        egtb_settings().path = "c:\\tb";
        egtb_settings().cache_mb = 2.0;
    }
    // Runs egtb_init on `path` and returns its report.
    static std::string init(const std::string& path, double mb = 2.0, int* result = nullptr) {
        egtb_settings().path = path;
        egtb_settings().cache_mb = mb;
        static int r;
        r = 0;
        const std::string out = test::capture_stdout([] { r = egtb_init(); });
        if (result) *result = r;
        return out;
    }
    static int probe(const std::string& fen) {
        EXPECT_TRUE(test::set_fen(fen)) << fen;
        return egtb_probe(game());
    }
    // A copy of the shared tables in a directory of its own.
    static void copy_tables(const test::TbDir& to, std::initializer_list<const char*> files) {
        for (const char* f : files) std::filesystem::copy_file(tables->file(f), to.file(f));
    }
    static test::TbDir* tables;
};
test::TbDir* EgtbProbe::tables = nullptr;

TEST_F(EgtbProbe, ReportAndScores) {
    int ok = 0;
    EXPECT_EQ(init(tables->path(), 2.0, &ok),
              "init egtb....\negtb_path = " + tables->path() + "\negtb_cache_size = 2\n3 pieces endgame tablebases found\n");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(egtb_pieces(), 3);
    EXPECT_TRUE(egtb_registered(tb_number("kqk"), 0) && egtb_registered(tb_number("krk"), 1));
    // Mate in 10 (the longest of KQK), scored as the search scores mates: 32000 - 2n - ply.
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), 32000 - 20);
    // Colours exchanged: the same with a black queen and Black to move.
    EXPECT_EQ(probe("k7/1q6/8/8/5K2/8/8/8 b - -"), 32000 - 20);
    // Mated now, and a rook ending lost in 15 moves with Black to move.
    EXPECT_EQ(probe("k7/1Q6/1K6/8/8/8/8/8 b - -"), -31999);
    EXPECT_EQ(probe("1k6/8/8/8/8/1R5K/8/8 b - -"), -31999 + 30);
    EXPECT_EQ(probe("8/8/1r5k/8/8/8/8/1K6 w - -"), -31999 + 30);
    // A draw: the queen is lost at once; and materials without a table.
    EXPECT_EQ(probe("7k/8/8/8/8/8/1q6/K7 w - -"), 0);
    EXPECT_EQ(probe("8/8/8/8/8/2k5/1b6/K7 w - -"), -1);
    EXPECT_EQ(probe("8/8/8/8/8/2k5/1qq5/K7 w - -"), -1);
    const auto c = egtb_cache_counters();
    EXPECT_GT(c.reads, 0u);
    EXPECT_LE(c.loads, c.reads);
}

TEST_F(EgtbProbe, DirectoriesAndMissingSides) {
    // Only kqk.nbw in one directory: White to move answers, Black to move does not.
    test::TbDir only;
    copy_tables(only, {"kqk.nbw"});
    EXPECT_NE(init(only.path()).find("3 pieces endgame tablebases found"), std::string::npos);
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), 32000 - 20);
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 b - -"), -1);
    // A table of draws first in the path wins over the real one after it.
    test::TbDir drawn;
    test::write_bytes(drawn.file("kqk.nbw"), std::vector<signed char>(tb_count(tb_number("kqk"), 0), 0));
    init(drawn.path() + ";" + tables->path());
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), 0);
    EXPECT_EQ(probe("1k6/8/8/8/8/1R5K/8/8 b - -"), -31999 + 30);   // from the second directory
    init(tables->path() + "," + drawn.path());
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), 32000 - 20);
    // No directory at all: nothing found, yet enabled.
    int ok = 0;
    EXPECT_NE(init("/no/such/dir", 2.0, &ok).find("\n0 pieces endgame tablebases found\n"), std::string::npos);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(egtb_pieces(), 0);
}

TEST_F(EgtbProbe, BrokenFilesAreLeftOut) {
    test::TbDir dir;
    copy_tables(dir, {"kqk.nbw", "kqk.nbb", "krk.nbw"});
    auto bytes = test::read_bytes(dir.file("krk.nbw"));
    bytes.pop_back();
    test::write_bytes(dir.file("krk.nbw"), bytes);
    std::filesystem::create_directory(dir.file("krk.nbb"));   // not a file
    int ok = 0;
    const std::string report = init(dir.path(), 2.0, &ok);
    EXPECT_NE(report.find("*** " + dir.file("krk.nbw") + " corrupted\n"), std::string::npos);
    EXPECT_EQ(ok, 1);
    EXPECT_FALSE(egtb_registered(tb_number("krk"), 0));
    EXPECT_EQ(probe("8/8/8/8/8/2k5/1R6/K7 w - -"), -1);
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), 32000 - 20);
    // A file that shrinks while in use gives no answer from then on; the other side still answers.
    std::filesystem::resize_file(dir.file("kqk.nbb"), 100);
    EXPECT_EQ(probe("k7/1Q6/1K6/8/8/8/8/8 b - -"), -1);
    EXPECT_FALSE(egtb_registered(tb_number("kqk"), 1));
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), 32000 - 20);
    // A file that vanishes before it is read.
    init(dir.path());
    std::filesystem::remove(dir.file("kqk.nbw"));
    EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), -1);
}

TEST_F(EgtbProbe, AnyContentGivesValuesOrNoAnswer) {
    test::TbDir dir;
    const int t = tb_number("kqk");
    std::vector<signed char> bytes(tb_count(t, 0));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<signed char>(i * 7919 % 256);
    test::write_bytes(dir.file("kqk.nbw"), bytes);
    init(dir.path());
    for (std::uint32_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(egtb_read(t, 0, i), bytes[i]);
    EXPECT_EQ(egtb_read(t, 0, static_cast<std::uint32_t>(bytes.size())), 127);
    // The markers past the byte's range, the unknown value and the draw.
    for (int v : {-128, -127, 127, 0, 126, -126}) {
        std::fill(bytes.begin(), bytes.end(), static_cast<signed char>(v));
        test::write_bytes(dir.file("kqk.nbw"), bytes);
        init(dir.path());
        const int want = v == -128 ? 31746 : v == -127 ? -31747 : v == 127 ? -1 : v == 0 ? 0 : v == 126 ? 31998 : -31999;
        EXPECT_EQ(probe("8/8/8/5k2/8/8/1Q6/K7 w - -"), want) << v;
    }
}

TEST_F(EgtbProbe, CacheSizes) {
    const int t = tb_number("kqk");
    const auto bytes = test::read_bytes(tables->file("kqk.nbb"));
    // One block of cache: every read evicts the block before, and all answer.
    init(tables->path(), 0.01);
    for (std::uint32_t i = 0; i < bytes.size(); i += 4099) ASSERT_EQ(egtb_read(t, 1, i), bytes[i]);
    ASSERT_EQ(egtb_read(t, 1, static_cast<std::uint32_t>(bytes.size() - 1)), bytes.back());   // short last block
    ASSERT_EQ(egtb_read(t, 1, 0), bytes[0]);
    EXPECT_EQ(egtb_cache_counters().loads, 5u);
    // Size 0: registered, but no cache to read through.
    int ok = 0;
    init(tables->path(), 0, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(egtb_read(t, 1, 0), 127);
    EXPECT_EQ(init(tables->path(), 0.00001, &ok).find("could not anable egtb_cache_size.\n") != std::string::npos, true);
    EXPECT_EQ(ok, 0);
    EXPECT_NE(init(tables->path(), 1e12, &ok).find("could not allocate egtb_cache_size.\n"), std::string::npos);
    EXPECT_EQ(ok, 0);
    EXPECT_FALSE(egtb_ready());
}

// A compressed file as the DATACOMP container holds it: blocks of 8,192 bytes, each stored
// as it is (compressed size = its size) unless `packed` names it, which gets 100 bytes.
void write_container(const std::string& name, const std::vector<signed char>& data, int packed,
                     int log2 = 13, std::uint32_t mark = 0x004001F5) {
    const std::uint32_t n = static_cast<std::uint32_t>((data.size() + 8191) / 8192);
    std::vector<std::uint32_t> fields;
    for (std::uint32_t b = 0; b < n; ++b) {
        const std::uint32_t size = b + 1 == n ? static_cast<std::uint32_t>(data.size() - b * 8192) : 8192;
        fields.push_back(static_cast<int>(b) == packed ? 100 : size == 8192 ? 0 : size);
    }
    fields.push_back(static_cast<std::uint32_t>(data.size() % 8192));
    std::vector<unsigned char> bits((fields.size() * 13 + 7) / 8);
    for (std::size_t k = 0; k < fields.size(); ++k)
        for (int b = 0; b < 13; ++b)
            if (fields[k] >> (12 - b) & 1) bits[(k * 13 + b) / 8] |= static_cast<unsigned char>(0x80 >> ((k * 13 + b) % 8));
    const std::uint32_t header = static_cast<std::uint32_t>(80 + bits.size() + 4);
    std::vector<signed char> out(64, 'x');
    auto be32 = [&](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<signed char>(v >> s));
    };
    be32(header);
    out.push_back(0), out.push_back(0), out.push_back(static_cast<signed char>(log2)), out.push_back(24);
    be32(n);
    be32(mark);
    out.insert(out.end(), bits.begin(), bits.end());
    be32(0);   // checksum
    for (std::uint32_t b = 0; b < n; ++b) {
        const auto first = data.begin() + b * 8192;
        const auto last = b + 1 == n ? data.end() : first + 8192;
        if (static_cast<int>(b) == packed) out.insert(out.end(), 100, 0);
        else out.insert(out.end(), first, last);
    }
    test::write_bytes(name, out);
}

TEST_F(EgtbProbe, CompressedFiles) {
    test::TbDir dir;
    const int t = tb_number("kqk");
    const auto white = test::read_bytes(tables->file("kqk.nbw"));
    const auto black = test::read_bytes(tables->file("kqk.nbb"));
    write_container(dir.file("kqk.nbw.emd"), white, 1);
    write_container(dir.file("kqknbb.emd"), black, -1);
    const std::string report = init(dir.path());
    EXPECT_NE(report.find("3 pieces endgame tablebases found"), std::string::npos) << report;
    for (std::uint32_t i = 0; i < black.size(); i += 101) ASSERT_EQ(egtb_read(t, 1, i), black[i]);
    EXPECT_EQ(egtb_read(t, 0, 5), white[5]);
    EXPECT_EQ(egtb_read(t, 0, white.size() - 1), white.back());
    // The block that needs the decoder: no answer, one message for the file.
    const std::string out = test::capture_stdout([] {
        egtb_read(tb_number("kqk"), 0, 8192 + 5);
        egtb_read(tb_number("kqk"), 0, 8192 + 6);
    });
    EXPECT_EQ(egtb_read(t, 0, 8192 + 5), 127);
    EXPECT_NE(out.find("kqk.nbw.emd: compressed blocks need the DATACOMP decoder"), std::string::npos) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_EQ(egtb_read(t, 0, 5), white[5]);
    // Headers that do not fit: reported, left out.
    write_container(dir.file("kqk.nbw.emd"), white, -1, 12);
    EXPECT_NE(init(dir.path()).find("*** " + dir.file("kqk.nbw.emd") + ": Unsupported block size 4096\n"), std::string::npos);
    EXPECT_FALSE(egtb_registered(t, 0));
    write_container(dir.file("kqk.nbw.emd"), white, -1, 13, 0x12345678);
    EXPECT_NE(init(dir.path()).find("*** Unable to read " + dir.file("kqk.nbw.emd") + " - file broken\n"), std::string::npos);
    write_container(dir.file("kqk.nbw.emd"), std::vector<signed char>(white.begin(), white.end() - 1), -1);
    EXPECT_NE(init(dir.path()).find("*** " + dir.file("kqk.nbw.emd") + " corrupted\n"), std::string::npos);
    auto cut = test::read_bytes(dir.file("kqknbb.emd"));
    cut.resize(cut.size() - 10);   // blocks missing at the end
    test::write_bytes(dir.file("kqknbb.emd"), cut);
    EXPECT_NE(init(dir.path()).find("*** " + dir.file("kqknbb.emd") + " corrupted\n"), std::string::npos);
    EXPECT_EQ(egtb_pieces(), 0);
}

}  // namespace
