// Syzygy tables through libfathom, on the published 3-piece and a few 4-piece tables in
// tests/data/syzygy: what the tables say against public knowledge and, where Debian's
// `fathom` prober is installed, against its command line; the root ranking with the
// fifty-move counter near its end; the search's probes; and files that are missing,
// truncated, damaged or renamed, which are reported and left out.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "core/attacks.h"
#include "core/genmoves.h"
#include "core/moves.h"
#include "core/notation.h"
#include "egtb/probe_egtb.h"
#include "egtb/syzygy.h"
#include "search/search_tools.h"
#include "support/engine_setup.h"
#include "support/tb_dir.h"

namespace {

using namespace varkon;
namespace fs = std::filesystem;

const std::string tables = std::string(TEST_DATA_DIR) + "/syzygy";
constexpr const char* FATHOM = "/usr/games/fathom";

class Syzygy : public ::testing::Test {
protected:
    void SetUp() override { test::use_varkon(); }
    void TearDown() override {
        syzygy_options() = SyzygyOptions{};
        syzygy_release();
        egtb_release();
    }
    static SyzygyReport load(const std::string& path) {
        syzygy_options().path = path;
        return syzygy_load();
    }
    static int outcome(const std::string& fen) {
        EXPECT_TRUE(test::set_fen(fen)) << fen;
        TbOutcome r;
        return syzygy_probe_wdl(game(), r) ? static_cast<int>(r) : 99;
    }
    // A copy of the test tables (or of `names` among them) in a directory of its own.
    static void copy_tables(const test::WorkDir& to, std::vector<std::string> names = {}) {
        for (const auto& e : fs::directory_iterator(tables))
            if (names.empty() || std::find(names.begin(), names.end(), e.path().filename()) != names.end()) {
                fs::copy_file(e.path(), to.file(e.path().filename()));
                fs::permissions(to.file(e.path().filename()), fs::perms::owner_read | fs::perms::owner_write);
            }
    }
    // The search's answer for the game position, from a node `depth` plies from the horizon.
    static int node_score(int depth, bool nalimov = false) {
        test::NodeSearch s;
        return tablebase_score(s.start(), depth, nalimov);
    }
};

TEST(SyzygyNames, TableNames) {
    TbMaterial m;
    ASSERT_TRUE(tb_material_of_name("KRPvKN", m));
    EXPECT_EQ(m.count[0][ROOK] + m.count[0][PAWN] + m.count[1][KNIGHT], 3);
    EXPECT_EQ(m.pieces(), 5);
    EXPECT_TRUE(tb_material_of_name("KQQQQQvK", m));
    for (const char* bad : {"KvK", "KQQQQQQvK", "RKvK", "KPRvK", "KRvKvK", "kRvK", "KRK", "KRvKX", "KR vK", ""})
        EXPECT_FALSE(tb_material_of_name(bad, m)) << bad;
}

TEST_F(Syzygy, LoadsAndReportsTheLargest) {
    const SyzygyReport r = load(tables);
    EXPECT_EQ(r.files, 16);
    EXPECT_EQ(r.largest, 4);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_EQ(syzygy_cardinality(), 4);
    syzygy_options().probe_limit = 3;
    EXPECT_EQ(syzygy_cardinality(), 3);
    ASSERT_TRUE(test::set_fen("8/8/8/3k4/8/8/1n6/K6R w - -"));
    EXPECT_TRUE(syzygy_holds(game()));
    ASSERT_TRUE(test::set_fen("8/8/8/3k4/8/8/1q6/K6R w - -"));
    EXPECT_FALSE(syzygy_holds(game()));
    EXPECT_TRUE(load("").problems.empty());
    EXPECT_EQ(syzygy_cardinality(), 0);
}

// Results everyone knows, with each side to move and with the colours exchanged.
TEST_F(Syzygy, PubliclyKnownResults) {
    ASSERT_EQ(load(tables).files, 16);
    const std::vector<std::pair<std::string, int>> known = {
        {"8/8/8/5k2/8/8/1Q6/K7 w - -", 2},      // KQK
        {"8/8/8/5k2/8/8/1Q6/K7 b - -", -2},
        {"8/8/8/8/8/2k5/2Q5/K7 b - -", 0},      // the queen is taken
        {"8/8/8/8/8/2k5/1R6/K7 w - -", 2},      // KRK
        {"k7/2Q5/1K6/8/8/8/8/8 b - -", 0},      // stalemate
        {"k7/1Q6/1K6/8/8/8/8/8 b - -", -2},     // mate
        {"8/8/8/8/8/4k3/4P3/4K3 w - -", 0},     // KPK: the defender holds the square before the pawn
        {"8/8/8/8/8/8/4P3/K6k w - -", 2},       // ... and the pawn outruns the king
        {"8/8/8/8/8/8/4P3/K6k b - -", -2},
        {"4k3/4P3/4K3/8/8/8/8/8 b - -", 0},     // stalemate
        {"8/8/8/8/4P3/8/8/k3K3 b - e3", -2},    // an en-passant square no pawn can use
        {"8/8/8/8/8/2k5/8/KB6 w - -", 0},       // KBK, KNK
        {"8/8/8/8/8/2k5/1N6/K7 b - -", 0},
        {"8/8/2k5/8/8/4q3/8/1Q4K1 w - -", 0},   // KQKQ: a quiet position
        {"3qk3/8/8/8/8/8/8/3QK3 w - -", 0},     // the queens come off
        {"8/8/2k5/8/2r5/8/5R2/5K2 w - -", 0},   // KRKR
    };
    for (const auto& [fen, expected] : known) {
        EXPECT_EQ(outcome(fen), expected) << fen;
        EXPECT_EQ(outcome(test::mirror_fen(fen)), expected) << test::mirror_fen(fen);
    }
}

// Random legal positions of every table: the result and the ranked root moves against the
// command line of Debian's prober (its own build of the same library, a second route).
TEST_F(Syzygy, AgreesWithTheFathomCommandLine) {
    if (access(FATHOM, X_OK) != 0) GTEST_SKIP() << "Debian's fathom is not installed";
    ASSERT_EQ(load(tables).files, 16);
    std::mt19937 rng(7);
    const std::map<std::string, int> tags = {{"Loss", -2}, {"BlessedLoss", -1}, {"Draw", 0}, {"CursedWin", 1}, {"Win", 2}};
    for (const std::string material : {"KQvK", "KRvK", "KPvK", "KQvKQ", "KRvKR", "KRvKN"}) {
        for (int n = 0; n < 12;) {
            std::array<char, 64> board{};
            std::string pieces = material.substr(0, material.find('v'));
            std::string other = material.substr(material.find('v') + 1);
            for (char& c : other) c = static_cast<char>(std::tolower(c));
            for (char c : pieces + other) {
                int sq;
                do sq = static_cast<int>(rng() % 64);
                while (board[sq] || ((c == 'P' || c == 'p') && (sq < 8 || sq >= 56)));
                board[sq] = c;
            }
            std::string fen;
            for (int rank = 7; rank >= 0; --rank, fen += rank >= 0 ? "/" : "")
                for (int file = 0; file < 8; ++file) fen += board[8 * rank + file] ? board[8 * rank + file] : '1';
            fen += rng() % 2 ? " w - -" : " b - -";
            const int counter = static_cast<int>(rng() % 100);
            if (!test::set_fen(fen) || !has_legal_move(game())) continue;
            game().fifty[game().game_ply] = counter;
            ++n;
            FILE* p = popen((std::string(FATHOM) + " --path=" + tables + " '" + fen + " " + std::to_string(counter) + " 1'").c_str(), "r");
            ASSERT_NE(p, nullptr);
            std::string out;
            for (int c; (c = std::fgetc(p)) != EOF;) out += static_cast<char>(c);
            pclose(p);
            auto tag = [&](const std::string& name) {
                const std::size_t at = out.find("[" + name + " \"");
                return at == std::string::npos ? std::string("?") : out.substr(at + name.size() + 3, out.find('"', at + name.size() + 3) - at - name.size() - 3);
            };
            // The prober's result for the position, as the search sees it (the counter at 0)...
            std::vector<SyzygyRootMove> moves;
            ASSERT_TRUE(syzygy_root_moves(game(), moves)) << fen;
            // ... and its moves: the command line names them by result.
            std::map<int, std::set<std::string>> ours, theirs;
            for (const SyzygyRootMove& m : moves) {
                const int i = find_coordinate_move(game(), (std::string(square_name[m.from]) + square_name[m.to] +
                                                             (m.promotion ? std::string(1, "  nbrq"[m.promotion]) : "")).c_str());
                ASSERT_NE(i, 0) << fen;
                const int o = static_cast<int>(m.outcome);
                ours[o == 2 ? 1 : o == -2 ? -1 : 0].insert(san_text(game(), i).s);   // the rule spoils the others
            }
            for (const auto& [name, sign] : {std::pair<std::string, int>{"WinningMoves", 1}, {"DrawingMoves", 0}, {"LosingMoves", -1}}) {
                std::string list = tag(name) + ",";
                for (std::size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 2)
                    if (comma > at) {
                        std::string san = list.substr(at, comma - at);
                        while (!san.empty() && (san.back() == '+' || san.back() == '#')) san.pop_back();
                        theirs[sign].insert(san);
                    }
            }
            int best = -3;
            for (const SyzygyRootMove& m : moves) best = std::max(best, static_cast<int>(m.outcome));
            EXPECT_EQ(best, tags.at(tag("WDL"))) << fen << " " << counter;
            EXPECT_EQ(ours, theirs) << fen << " " << counter;
        }
    }
}

// The moves that keep a win are those whose distance to zeroing fits in what the counter
// leaves: 31 plies here, at best. With 69 plies gone they still win; with 70 gone, the rule
// makes it a draw (unless the rule is off).
TEST_F(Syzygy, FiftyMoveCounterNearItsEnd) {
    ASSERT_EQ(load(tables).files, 16);
    const std::string fen = "8/8/8/4k3/8/8/7R/K7 w - -";
    for (const int counter : {0, 68, 69, 70}) {
        ASSERT_TRUE(test::set_fen(fen));
        game().fifty[game().game_ply] = counter;
        std::vector<SyzygyRootMove> moves;
        ASSERT_TRUE(syzygy_root_moves(game(), moves));
        for (const SyzygyRootMove& m : moves)
            EXPECT_EQ(m.outcome, counter + m.dtz <= 100 ? TbOutcome::win : TbOutcome::cursed_win) << counter << " " << m.dtz;
        test::think_to(3);
        EXPECT_EQ(test::recorded.result.score, counter <= 69 ? TB_WIN_SCORE : 0) << counter;
        if (counter == 69)
            for (const SyzygyRootMove& m : moves)
                if (m.from == test::recorded.result.best.from && m.to == test::recorded.result.best.to) {
                EXPECT_EQ(m.dtz, 31);
            }
    }
    syzygy_options().rule50 = false;
    test::think_to(3);
    EXPECT_EQ(test::recorded.result.score, TB_WIN_SCORE);
}

// The root keeps the moves of the best result: the winning ones (never a rook left hanging),
// in a loss the longest defence; with castling rights the tables do not decide it.
TEST_F(Syzygy, RootMovesKeepTheBestResult) {
    ASSERT_EQ(load(tables).files, 16);
    ASSERT_TRUE(test::set_fen("8/8/8/8/8/8/6R1/K3k3 w - -"));
    for (int depth : {1, 4, 7}) {
        const std::string m = test::think_to(depth);
        EXPECT_TRUE(m != "g2d2" && m != "g2e2" && m != "g2f2") << m;
        EXPECT_EQ(test::recorded.result.score, TB_WIN_SCORE);
        EXPECT_FALSE(test::recorded.lines.empty());
    }
    ASSERT_TRUE(test::set_fen("8/8/1r5k/8/8/8/8/1K6 w - -"));   // lost in 15 moves: the king runs
    test::think_to(5);
    EXPECT_EQ(test::recorded.result.score, -TB_WIN_SCORE);
    ASSERT_TRUE(test::set_fen("8/8/8/8/8/2k5/2R5/K7 b - -"));   // Black takes the rook
    EXPECT_EQ(test::think_to(5), "c3c2");
    EXPECT_EQ(test::recorded.result.score, 0);
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/8/8/4K2R w K -"));
    test::think_to(3);
    EXPECT_LT(test::recorded.result.score, TB_WIN_SCORE - 1000);   // the search's own score
}

// The search probes after a capture or pawn move (counter 0), or whenever the rule is off;
// never with castling rights; Syzygy answers for its materials, Nalimov for the others.
TEST_F(Syzygy, SearchProbes) {
    ASSERT_EQ(load(tables).files, 16);
    ASSERT_TRUE(test::set_fen("8/8/8/4k3/8/8/7R/K7 b - -"));
    EXPECT_EQ(node_score(0), -TB_WIN_SCORE);   // fewer pieces than the largest tables: at any depth
    syzygy_options().probe_limit = 3;
    EXPECT_EQ(node_score(1), -TB_WIN_SCORE);
    EXPECT_EQ(node_score(0), NO_TB_SCORE);     // as many: from the probe depth on
    game().fifty[game().game_ply] = 5;
    EXPECT_EQ(node_score(3), NO_TB_SCORE);
    syzygy_options().rule50 = false;
    EXPECT_EQ(node_score(3), -TB_WIN_SCORE);
    syzygy_options().rule50 = true;
    ASSERT_TRUE(test::set_fen("8/8/8/4k3/8/8/8/K6R b - -"));
    EXPECT_EQ(node_score(1), -TB_WIN_SCORE);
    ASSERT_TRUE(test::set_fen("4k3/8/8/8/8/8/8/4K2R b K -"));
    EXPECT_EQ(node_score(5), NO_TB_SCORE);
    ASSERT_TRUE(test::set_fen("8/8/8/8/8/2k5/2R5/K7 b - -"));
    EXPECT_EQ(node_score(1), 0);
    // Nalimov's tables answer only for what the Syzygy tables in use do not hold.
    test::TbDir nalimov({"krk"});
    egtb_settings().path = nalimov.path();
    test::capture_stdout([] { egtb_init(); });
    ASSERT_TRUE(test::set_fen("8/8/8/8/8/2k5/1R6/K7 w - -"));
    game().fifty[game().game_ply] = 5;
    EXPECT_EQ(node_score(9, true), NO_TB_SCORE);
    test::WorkDir queens;
    copy_tables(queens, {"KQvK.rtbw", "KQvK.rtbz"});
    ASSERT_EQ(load(queens.path()).files, 2);
    EXPECT_EQ(node_score(9, true), 32000 - 32);   // mate in 16
}

// Bad files are reported and left out; the rest of the tables answer as before.
TEST_F(Syzygy, BadFilesAreLeftOut) {
    test::WorkDir dir;
    copy_tables(dir);
    auto bytes = [&](const std::string& name) {
        std::ifstream in(dir.file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto put = [&](const std::string& name, const std::string& data) {
        std::ofstream(dir.file(name), std::ios::binary | std::ios::trunc) << data;
    };
    const std::string krkn = bytes("KRvKN.rtbw"), kqkq = bytes("KQvKQ.rtbw");
    put("KRvK.rtbw", bytes("KRvK.rtbw").substr(0, 150));              // cut short
    put("KRvKN.rtbw", krkn.substr(0, krkn.size() - 64 * 40));         // cut by whole blocks
    put("KRvKR.rtbw", kqkq);                                          // another table renamed
    put("KQvKQ.rtbw", bytes("KQvKQ.rtbz"));                           // the other kind
    std::string damaged = bytes("KPvK.rtbw");
    for (std::size_t i = 40; i < damaged.size() - 16; i += 7) damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    put("KPvK.rtbw", damaged);
    put("KQvK.rtbz", "");
    fs::create_directory(dir.file("empty"));
    const SyzygyReport r = load(dir.path() + ":" + dir.file("none") + ":" + dir.file("empty") + ":" + dir.file("KBvK.rtbw"));
    std::string all;
    for (const std::string& p : r.problems) all += p + "\n";
    for (const std::string& d : r.directories) all += d + "\n";
    for (const char* name : {"KRvK.rtbw", "KRvKN.rtbw", "KRvKR.rtbw", "KQvKQ.rtbw", "KPvK.rtbw", "KQvK.rtbz"})
        EXPECT_NE(all.find(dir.file(name) + ": "), std::string::npos) << name << "\n" << all;
    EXPECT_NE(all.find(dir.file("none") + ": no such directory"), std::string::npos) << all;
    EXPECT_NE(all.find(dir.file("empty") + ": no Syzygy table files"), std::string::npos) << all;
    EXPECT_NE(all.find(dir.file("KBvK.rtbw") + ": not a directory"), std::string::npos) << all;
    EXPECT_NE(all.find("another table renamed"), std::string::npos) << all;
    EXPECT_NE(all.find(dir.file("KRvK.rtbz") + ": not used: the win/draw/loss file"), std::string::npos) << all;
    EXPECT_EQ(r.files, 5) << all;   // KQvK.rtbw, KBvK and KNvK: the other distance files have no partner
    EXPECT_EQ(outcome("8/8/8/8/8/2k5/1R6/K7 w - -"), 99);      // KRvK left out: no answer
    EXPECT_EQ(outcome("8/8/8/5k2/8/8/1Q6/K7 w - -"), 2);       // KQvK still answers
    EXPECT_EQ(outcome("4k3/8/4K3/4P3/8/8/8/8 w - -"), 99);
    EXPECT_EQ(outcome("8/8/8/8/8/2k5/1N6/K7 b - -"), 0);
    ASSERT_TRUE(test::set_fen("8/8/8/5k2/8/8/1Q6/K7 w - -"));   // without KQvK.rtbz: no ranking
    std::vector<SyzygyRootMove> moves;
    EXPECT_FALSE(syzygy_root_moves(game(), moves));
    // The same path again keeps the tables in use; a file mended is taken at the next load.
    EXPECT_EQ(syzygy_load().files, 5);
    fs::copy_file(tables + "/KRvK.rtbw", dir.file("KRvK.rtbw"), fs::copy_options::overwrite_existing);
    EXPECT_EQ(syzygy_load().files, 7);
    EXPECT_EQ(outcome("8/8/8/8/8/2k5/1R6/K7 w - -"), 2);
}

}  // namespace
