// Shared helpers of the tests that rewrite archives: scratch archives made
// with Info-ZIP zip, a component set up as the command-line tool uses it, and
// peer tools run on the results.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "ZATestZip.h"
#include "zip/ZipArchiver.h"

namespace rewrite_test {

using platform_test::ReadFile;
using platform_test::ScopedEnv;
using platform_test::ScratchFolder;
using platform_test::WriteFile;
using ztest::Quote;
using ztest::Shell;

// "unzip -t" passes without any warning.
inline bool UnzipTestClean(const std::string& archive) {
    const auto r = Shell("unzip -t " + Quote(archive));
    return r && r.output.find("warning") == std::string::npos;
}

// The entry names as unzip lists them ("unzip -Z1"), sorted by the archive's order.
inline std::vector<std::string> UnzipNames(const std::string& archive) {
    const std::string out = Shell("unzip -Z1 " + Quote(archive)).output;
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        names.push_back(out.substr(at, end - at));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return names;
}

// Every entry's data in order, as "unzip -p" writes it.
inline std::string UnzipContent(const std::string& archive) {
    return Shell("unzip -p " + Quote(archive)).output;
}

// Files t1.txt ... and b1.bin ... (random data) zipped into `archive` in
// that order: text files first, then binaries.
inline void MakeArchive(const ScratchFolder& dir, const std::string& archive, int texts,
                        int binaries, std::size_t binarySize = 3000,
                        const std::string& zipOptions = "-q -X") {
    const std::string src = dir / ("src-" + std::filesystem::path(archive).stem().string());
    std::filesystem::create_directories(src);
    std::string list;
    for (int i = 1; i <= texts; ++i) {
        const std::string name = "t" + std::to_string(i) + ".txt";
        WriteFile(src + "/" + name, "text file " + std::to_string(i) + "\n");
        list += " " + name;
    }
    for (int i = 1; i <= binaries; ++i) {
        const std::string name = "b" + std::to_string(i) + ".bin";
        Shell("head -c " + std::to_string(binarySize) + " /dev/urandom > " +
              Quote(src + "/" + name));
        list += " " + name;
    }
    Shell("zip " + zipOptions + " " + Quote(archive) + list, src);
}

// A component as the command-line tool sets it up: unattended, UTF-8, the
// messages and skips recorded.
struct Component {
    TZipArchiver zip;
    std::vector<int> codes;
    std::vector<std::string> skipped;

    explicit Component(const std::string& archive = {}) {
        zip.OnMessage = [this](TCustomZipArchiver&, int code, const std::string&) {
            if (code != 0) {
                codes.push_back(code);
            }
        };
        zip.OnSkipped = [this](TCustomZipArchiver&, const std::string& forFile, TZASkipTypes,
                               int&) { skipped.push_back(forFile); };
        zip.SetUseUTF8(true);
        zip.SetUnattended(true);
        zip.SetHowToDelete(htdFinal);
        if (!archive.empty()) {
            zip.SetZipFileName(archive);
        }
    }
};

inline std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

inline ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The self-extractor's native extraction driver built next to the tests.
inline std::string SfxExtractor() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto path = exe.parent_path().parent_path() / "sfx" / "tarvik-sfx-extract";
    return std::filesystem::exists(path, ec) ? path.string() : std::string();
}

}  // namespace rewrite_test
