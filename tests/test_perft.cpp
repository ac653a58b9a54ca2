// Perft counts of tricky positions (through "go perft": test_uci, test_uci_classic).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/moves.h"
#include "core/perft.h"
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

TEST(Perft, StartAndTrickyPositions) {
    test::use_varkon();
    Position& pos = game();
    const std::pair<int, std::uint64_t> start[] = {{0, 1}, {1, 20}, {2, 400}, {3, 8902}, {4, 197281}};
    for (const auto& [depth, expected] : start) EXPECT_EQ(perft(pos, depth).nodes, expected) << "start position, depth " << depth;
    const auto cases = load_cases();
    ASSERT_GE(cases.size(), 14u);
    for (const auto& c : cases) {
        ASSERT_TRUE(test::set_fen(c.fen)) << c.id;
        const HashKey key = pos.hash_history[pos.game_ply];
        for (auto [depth, expected] : c.counts) {
            EXPECT_EQ(perft(pos, depth).nodes, expected) << c.id << " depth " << depth;
            EXPECT_TRUE(pos.ply == 0 && pos.game_ply == 1 && pos.hash_history[pos.game_ply] == key) << c.id;  // the position is kept
        }
    }
}
