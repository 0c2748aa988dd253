// Shared by the engine bridge tests: a scratch folder, files, running peer
// tools and reading what they say.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "PlatformTestSupport.h"
#include "ZATestZip.h"
#include "platform/TempFiles.h"

namespace bridgetest {

namespace fs = std::filesystem;

struct Scratch {
    std::string dir = platform::CreateTempFolder("", "bridge");
    ~Scratch() { platform::RemoveTree(dir); }
    std::string operator/(const std::string& rel) const { return dir + rel; }
};

inline void WriteFile(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

using platform_test::ReadFile;
using ztest::Quote;
using ztest::Shell;

// Some varied content: text, repetition and noise.
inline std::string Content(int seed, size_t size) {
    std::string s;
    s.reserve(size);
    unsigned x = 2463534242u + static_cast<unsigned>(seed);
    while (s.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        if (x % 3 == 0)
            s += "Zeile " + std::to_string(x % 1000) + " mit Text\n";
        else
            s += static_cast<char>(x & 0xFF);
    }
    s.resize(size);
    return s;
}

}  // namespace bridgetest
