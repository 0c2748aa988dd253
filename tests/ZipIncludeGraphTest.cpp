// The layering of zip/: the work objects reach the component through its
// host interface (zip/ZAHost.h), never through the façade's header, so the
// operations and the façade do not depend on each other in a circle. These
// tests read the #include lines of the sources and fail when a file of zip/
// other than the façade's own .cpp files includes zip/ZipArchiver.h, or when
// a circle of units runs through the façade, the host interface or TZACore.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kZipDir = fs::path(TARVIK_SOURCE_DIR) / "zip";

// A file's name without its extension: a unit is a .h/.cpp pair.
std::string unitOf(const std::string& file) {
    return file.substr(0, file.rfind('.'));
}

// The zip/ files each source file of zip/ includes ("zip/X.h" -> "X.h").
std::map<std::string, std::vector<std::string>> readIncludes() {
    std::map<std::string, std::vector<std::string>> includes;
    for (const auto& entry : fs::directory_iterator(kZipDir)) {
        const std::string name = entry.path().filename().string();
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) {
            continue;
        }
        auto& list = includes[name];
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            const auto hash = line.find_first_not_of(" \t");
            if (hash == std::string::npos || line.compare(hash, 1, "#") != 0) {
                continue;
            }
            const auto open = line.find("\"zip/");
            if (line.find("include", hash) == std::string::npos || open == std::string::npos) {
                continue;
            }
            const auto close = line.find('"', open + 1);
            const std::string target = line.substr(open + 5, close - open - 5);
            if (target.find('/') == std::string::npos) {
                list.push_back(target);
            }
        }
    }
    return includes;
}

using UnitGraph = std::map<std::string, std::set<std::string>>;

UnitGraph unitGraph(const std::map<std::string, std::vector<std::string>>& includes) {
    UnitGraph graph;
    for (const auto& [file, targets] : includes) {
        auto& edges = graph[unitOf(file)];
        for (const auto& target : targets) {
            if (unitOf(target) != unitOf(file)) {
                edges.insert(unitOf(target));
            }
        }
    }
    return graph;
}

// The units from which `from` can be reached again: its circle, empty when
// it lies on none.
std::set<std::string> circleThrough(const UnitGraph& graph, const std::string& from) {
    auto reach = [&graph](const std::string& start, bool forward) {
        std::set<std::string> seen;
        std::vector<std::string> todo{start};
        while (!todo.empty()) {
            const std::string unit = todo.back();
            todo.pop_back();
            if (forward) {
                const auto it = graph.find(unit);
                if (it == graph.end()) {
                    continue;
                }
                for (const auto& next : it->second) {
                    if (seen.insert(next).second) {
                        todo.push_back(next);
                    }
                }
            } else {
                for (const auto& [node, edges] : graph) {
                    if (edges.count(unit) != 0 && seen.insert(node).second) {
                        todo.push_back(node);
                    }
                }
            }
        }
        return seen;
    };
    const auto ahead = reach(from, true);
    if (ahead.count(from) == 0) {
        return {};
    }
    const auto behind = reach(from, false);
    std::set<std::string> circle;
    std::set_intersection(ahead.begin(), ahead.end(), behind.begin(), behind.end(),
                          std::inserter(circle, circle.end()));
    return circle;
}

std::string joined(const std::set<std::string>& units) {
    std::string text;
    for (const auto& u : units) {
        text += (text.empty() ? "" : " ") + u;
    }
    return text;
}

}  // namespace

TEST(ZipIncludeGraph, OnlyTheFacadesOwnSourcesIncludeItsHeader) {
    const auto includes = readIncludes();
    // The scan sees the sources (so a passing run means something).
    ASSERT_TRUE(includes.count("ZipArchiver.cpp") != 0 && includes.count("ZACore.h") != 0);
    const auto& own = includes.at("ZipArchiver.cpp");
    ASSERT_NE(std::find(own.begin(), own.end(), "ZipArchiver.h"), own.end());

    for (const auto& [file, targets] : includes) {
        const bool facade = file.rfind("ZipArchiver", 0) == 0 && file.ends_with(".cpp");
        const bool includesFacade =
            std::find(targets.begin(), targets.end(), "ZipArchiver.h") != targets.end();
        EXPECT_FALSE(includesFacade && !facade)
            << file << " includes zip/ZipArchiver.h: go through the host (zip/ZAHost.h)";
    }
}

TEST(ZipIncludeGraph, NoCircleRunsThroughTheFacadeHostOrCore) {
    const UnitGraph graph = unitGraph(readIncludes());
    // The checker finds a circle where there is one.
    const UnitGraph sample{{"A", {"B"}}, {"B", {"C"}}, {"C", {"A", "D"}}, {"D", {}}};
    ASSERT_EQ(circleThrough(sample, "B"), (std::set<std::string>{"A", "B", "C"}));
    ASSERT_TRUE(circleThrough(sample, "D").empty());

    for (const char* unit : {"ZipArchiver", "ZAHost", "ZAEvents", "ZACore"}) {
        ASSERT_TRUE(graph.count(unit) != 0) << unit;
        EXPECT_EQ(joined(circleThrough(graph, unit)), "") << "include circle through " << unit;
    }
}
