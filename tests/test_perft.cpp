// Perft counts of tricky positions, in the library and through "go perft".
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/moves.h"
#include "frontend/utils.h"
#include "support/engine_process.h"
#include "support/workdir.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

struct PerftCase {
    std::string id, fen;
    std::vector<std::pair<int, std::uint64_t>> counts;
};

std::vector<PerftCase> load_cases() {
    std::vector<PerftCase> cases;
    std::ifstream in(std::string(TEST_DATA_DIR) + "/tricky.perft");
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "id") {
            cases.push_back({});
            words >> cases.back().id;
        } else if (key == "epd" && !cases.empty()) {
            cases.back().fen = line.substr(4);
        } else if (key == "perft" && !cases.empty()) {
            int depth;
            std::uint64_t n;
            words >> depth >> n;
            cases.back().counts.emplace_back(depth, n);
        }
    }
    return cases;
}

}  // namespace

TEST(Perft, StartPosition) {
    test::use_varkon();
    EXPECT_EQ(perft(0), 1u);
    EXPECT_EQ(perft(1), 20u);
    EXPECT_EQ(perft(2), 400u);
    EXPECT_EQ(perft(3), 8902u);
    EXPECT_EQ(perft(4), 197281u);
}

TEST(Perft, TrickyPositions) {
    test::use_varkon();
    const auto cases = load_cases();
    ASSERT_GE(cases.size(), 14u);
    for (const auto& c : cases) {
        ASSERT_TRUE(test::set_fen(c.fen)) << c.id;
        for (auto [depth, expected] : c.counts) {
            EXPECT_EQ(perft(depth), expected) << c.id << " depth " << depth;
            EXPECT_EQ(ply, 0);
        }
    }
}

// The protocol extension, run against the built programs: every position, deepest count.
TEST(Perft, GoPerftThroughUci) {
    for (const char* bin : {VARKON_BIN, VARKON_CLASSIC_BIN}) {
        std::string input = "uci\n";
        std::vector<std::uint64_t> expected;
        for (const auto& c : load_cases()) {
            input += "position fen " + c.fen + "\ngo perft " + std::to_string(c.counts.back().first) + "\n";
            expected.push_back(c.counts.back().second);
        }
        // The counts run one after the other; "quit" would end the one running.
        const test::WorkDir dir("");
        test::EngineProcess engine(bin, dir.path());
        engine.send(input);
        ASSERT_TRUE(engine.wait_for("Nodes searched: " + std::to_string(expected.back()) + "\n", 60000));
        engine.send("quit\n");
        EXPECT_EQ(engine.wait_exit(), 0);
        const std::string& out = engine.output();
        std::size_t at = 0;
        for (std::uint64_t n : expected) {
            at = out.find("\nNodes searched: ", at);
            ASSERT_NE(at, std::string::npos);
            at += 17;
            EXPECT_EQ(std::stoull(out.substr(at)), n);
        }
    }
}

TEST(Perft, DivideListsRootMovesAndKeepsThePosition) {
    test::use_varkon();
    const HashKey key = hash_history[game_ply];
    const std::string out = test::capture_stdout([] { perft_divide(2); });
    EXPECT_EQ(out.substr(0, 10), "a2a3: 20\na");
    EXPECT_NE(out.find("g1h3: 20\n\nNodes searched: 400\n"), std::string::npos);
    EXPECT_EQ(hash_history[game_ply], key);
    EXPECT_EQ(game_ply, 1);
}
