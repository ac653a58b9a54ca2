// The layers of the library, as the includes of its sources show them: each folder of
// src/ includes only itself and the layers below it, and no module's includes lead back
// to it. (The build refuses an upward include too; this also catches cycles inside a
// layer, which the build does not.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path source_root = fs::path(TEST_DATA_DIR) / ".." / ".." / "src";

// The folders each folder may include from (itself included).
const std::map<std::string, std::set<std::string>> allowed = {
    {"core", {"core"}},
    {"eval", {"core", "eval"}},
    {"book", {"core", "book"}},
    {"egtb", {"core", "egtb"}},
    {"search", {"core", "eval", "book", "egtb", "search"}},
    {"frontend", {"core", "eval", "book", "egtb", "search", "frontend"}},
};

// Module ("folder/name") -> the modules its header and source include.
std::map<std::string, std::set<std::string>> include_graph() {
    std::map<std::string, std::set<std::string>> graph;
    const std::regex include_line(R"re(^\s*#\s*include\s*"([a-z_]+)/([a-z_0-9]+)\.h")re");
    for (const auto& entry : fs::recursive_directory_iterator(source_root)) {
        const fs::path& p = entry.path();
        if (p.extension() != ".h" && p.extension() != ".cpp") continue;
        const std::string module = p.parent_path().filename().string() + "/" + p.stem().string();
        graph[module];
        std::ifstream in(p);
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            if (std::regex_search(line, m, include_line) && m[1].str() + "/" + m[2].str() != module)
                graph[module].insert(m[1].str() + "/" + m[2].str());
        }
    }
    return graph;
}

std::string folder_of(const std::string& module) { return module.substr(0, module.find('/')); }

// A cycle through the graph, as the modules along it; empty when there is none.
std::vector<std::string> find_cycle(const std::map<std::string, std::set<std::string>>& graph) {
    std::map<std::string, int> state;  // 1: on the path, 2: done
    std::vector<std::string> path, cycle;
    auto visit = [&](auto&& self, const std::string& u) -> bool {
        state[u] = 1;
        path.push_back(u);
        const auto it = graph.find(u);
        if (it != graph.end())
            for (const std::string& v : it->second) {
                if (state[v] == 1) {
                    cycle.assign(std::find(path.begin(), path.end(), v), path.end());
                    cycle.push_back(v);
                    return true;
                }
                if (state[v] == 0 && self(self, v)) return true;
            }
        path.pop_back();
        state[u] = 2;
        return false;
    };
    for (const auto& [u, edges] : graph)
        if (state[u] == 0 && visit(visit, u)) break;
    return cycle;
}

}  // namespace

TEST(Layers, EachFolderIncludesOnlyItselfAndTheLayersBelow) {
    const auto graph = include_graph();
    ASSERT_GT(graph.size(), 30u) << "the sources were not found under " << source_root;
    for (const auto& [module, includes] : graph) {
        const auto rule = allowed.find(folder_of(module));
        ASSERT_NE(rule, allowed.end()) << "a folder of src/ without a layer: " << module;
        for (const std::string& target : includes) {
            EXPECT_TRUE(rule->second.count(folder_of(target))) << module << " includes " << target;
            EXPECT_TRUE(graph.count(target)) << module << " includes " << target << ", which does not exist";
        }
    }
}

TEST(Layers, NoModuleIncludesLeadBackToIt) {
    const std::vector<std::string> cycle = find_cycle(include_graph());
    std::string text;
    for (const std::string& m : cycle) text += " -> " + m;
    EXPECT_TRUE(cycle.empty()) << "include cycle:" << text;
}

TEST(Layers, TheCycleSearchFindsACycle) {
    const std::map<std::string, std::set<std::string>> graph = {
        {"core/a", {"core/b"}}, {"core/b", {"core/c"}}, {"core/c", {"core/a"}}, {"core/d", {"core/a"}}};
    EXPECT_EQ(find_cycle(graph).size(), 4u);
    EXPECT_TRUE(find_cycle({{"core/a", {"core/b"}}, {"core/b", {}}}).empty());
}
