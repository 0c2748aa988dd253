// Test helpers for archive loading: a small writer for stored zip archives
// whose every header field a test can choose, a temporary folder, and a
// dialog box that records what it was asked; running shell commands.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/TempFiles.h"
#include "zip/ZADialogProvider.h"

namespace ztest {

// A string as one word of a shell command, in single quotes.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// What a shell command did: its exit status (-1 when it could not be run or
// did not exit normally) and what it wrote. True when it exited with 0.
struct ShellResult {
    int status = -1;
    std::string output;
    explicit operator bool() const { return status == 0; }
};

// Runs a shell command, in the folder `dir` when one is given, with standard
// input from /dev/null and standard error joined to the captured output (a
// command that wants its output alone redirects its errors itself).
inline ShellResult Shell(const std::string& command, const std::string& dir = {}) {
    ShellResult r;
    const std::string full =
        (dir.empty() ? "" : "cd " + Quote(dir) + " && ") + "( " + command + "\n) </dev/null 2>&1";
    FILE* p = ::popen(full.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.output.append(buf, n);
    }
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

struct Entry {
    Entry(std::string n, std::string d, std::uint16_t f = 0, std::uint16_t m = 20,
          std::string x = {}, std::string c = {})
        : name(std::move(n)),
          data(std::move(d)),
          flags(f),
          madeBy(m),
          extra(std::move(x)),
          comment(std::move(c)) {}
    std::string name;
    std::string data;
    std::uint16_t flags = 0;
    std::uint16_t madeBy = 20;  // MS-DOS, 2.0
    std::string extra;
    std::string comment;
    std::uint32_t dosDateTime = 0x5A215C00;  // 2025-01-01 11:32
    std::uint32_t crc = 0;                   // written as given
};

inline void Put16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

struct Layout {
    std::string prefix;            // bytes in front (offsets are not adjusted)
    std::string comment;           // archive comment
    int countDelta = 0;            // added to the entry count of the end record
    std::int64_t offsetDelta = 0;  // added to the stated central offset
};
inline Layout WithPrefix(std::string p) {
    Layout l;
    l.prefix = std::move(p);
    return l;
}
inline Layout WithComment(std::string c) {
    Layout l;
    l.comment = std::move(c);
    return l;
}
inline Layout WithCountDelta(int d) {
    Layout l;
    l.countDelta = d;
    return l;
}
inline Layout WithOffsetDelta(std::int64_t d) {
    Layout l;
    l.offsetDelta = d;
    return l;
}

// A stored archive of `entries` (no compression), laid out as `layout` says.
inline std::string BuildZip(const std::vector<Entry>& entries, const Layout& layout = {}) {
    std::string body;
    std::vector<std::uint32_t> offsets;
    for (const Entry& e : entries) {
        offsets.push_back(static_cast<std::uint32_t>(body.size()));
        Put32(body, 0x04034B50);
        Put16(body, 10);
        Put16(body, e.flags);
        Put16(body, 0);
        Put32(body, e.dosDateTime);
        Put32(body, e.crc);
        Put32(body, static_cast<std::uint32_t>(e.data.size()));
        Put32(body, static_cast<std::uint32_t>(e.data.size()));
        Put16(body, static_cast<std::uint32_t>(e.name.size()));
        Put16(body, 0);
        body += e.name;
        body += e.data;
    }
    std::string central;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        Put32(central, 0x02014B50);
        Put16(central, e.madeBy);
        Put16(central, 10);
        Put16(central, e.flags);
        Put16(central, 0);
        Put32(central, e.dosDateTime);
        Put32(central, e.crc);
        Put32(central, static_cast<std::uint32_t>(e.data.size()));
        Put32(central, static_cast<std::uint32_t>(e.data.size()));
        Put16(central, static_cast<std::uint32_t>(e.name.size()));
        Put16(central, static_cast<std::uint32_t>(e.extra.size()));
        Put16(central, static_cast<std::uint32_t>(e.comment.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offsets[i]);
        central += e.name;
        central += e.extra;
        central += e.comment;
    }
    std::string end;
    const auto count =
        static_cast<std::uint32_t>(static_cast<int>(entries.size()) + layout.countDelta);
    Put32(end, 0x06054B50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count & 0xFFFF);
    Put16(end, count & 0xFFFF);
    Put32(end, static_cast<std::uint32_t>(central.size()));
    Put32(end,
          static_cast<std::uint32_t>(static_cast<std::int64_t>(body.size()) + layout.offsetDelta));
    Put16(end, static_cast<std::uint32_t>(layout.comment.size()));
    return layout.prefix + body + central + end + layout.comment;
}

// A folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() : path_(platform::CreateTempFolder(platform::TempFolder(), "tarvik-test-")) {}
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }  // ends with "/"
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string p = path_ + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

private:
    std::string path_;
};

class RecordingDialog : public TZADialogProvider {
public:
    TZADialogAnswer ShowDialog(const TZADialogRequest& r) override {
        requests.push_back(r);
        if (!answers.empty()) {
            TZADialogAnswer a = answers.front();
            answers.erase(answers.begin());
            return a;
        }
        return {mrOk, {}};
    }
    std::vector<TZADialogRequest> requests;
    std::vector<TZADialogAnswer> answers;
};

}  // namespace ztest
