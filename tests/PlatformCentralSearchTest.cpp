// The backward search for the central directory (platform/CentralSearch),
// which the component runs over its work file in chunks and the engine over
// its mapped file: every case goes through both forms, and through a reader
// that checks it is never asked for bytes at or past the end.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/CentralSearch.h"
#include "platform/ZipRecords.h"

namespace {

using zrec::FindCentralStart;

// A central header with a name of `name` bytes, and extra field and comment
// of the sizes given (filled with 'x').
std::string Header(std::size_t name, std::size_t extra = 0, std::size_t comment = 0) {
    zrec::TZACentralHeader h;
    h.nameLength = static_cast<std::uint16_t>(name);
    h.extraLength = static_cast<std::uint16_t>(extra);
    h.commentLength = static_cast<std::uint16_t>(comment);
    std::string out(zrec::central::kSize, '\0');
    h.Encode(reinterpret_cast<std::uint8_t*>(out.data()));
    return out + std::string(name + extra + comment, 'x');
}

// A header whose lengths claim `claimed` bytes after its fixed part, followed
// by `actual` bytes: its link points elsewhere than its successor.
std::string LyingHeader(std::size_t claimed, std::size_t actual) {
    return Header(claimed).substr(0, zrec::central::kSize) + std::string(actual, 'y');
}

const std::string kSig = "PK\x01\x02";

struct Case {
    const char* what;
    std::string bytes;
    std::optional<std::uint64_t> start;
    std::size_t end = std::string::npos;  // npos: the end of the bytes
};

std::optional<std::uint64_t> Chunked(const std::string& bytes, std::uint64_t end,
                                     std::uint64_t failBelow = 0) {
    return FindCentralStart(
        [&](std::uint64_t offset, std::span<std::uint8_t> out) {
            EXPECT_LE(offset + out.size(), end) << "read past the end";
            if (offset < failBelow || offset + out.size() > bytes.size()) {
                return false;
            }
            std::memcpy(out.data(), bytes.data() + offset, out.size());
            return true;
        },
        end);
}

TEST(PlatformCentralSearch, FindsTheChainThatEndsAtTheEnd) {
    const std::string two = Header(5) + Header(3, 4, 2);
    const std::string junk(100, 'J');
    // A header straddling a chunk border: the first chunk examines the
    // 65536 positions below end - 45, so this one starts 10 below them.
    const std::string straddling = Header(0, 0, 30000) + Header(0, 0, 35499);
    const Case cases[] = {
        {"chain from the first byte", two, 0},
        {"junk in front", junk + two, 100},
        {"stray signature in front", "MZ" + kSig + junk + two, 106},
        {"a header in front whose lengths reach the chain belongs to it", "MZ" + Header(4) + two,
         2},
        {"a lying header breaks the chain: the part after it", Header(1) + LyingHeader(9, 3) + two,
         47 + 49},
        {"junk after the chain: nothing ends at the end", two + "tail", std::nullopt},
        {"a single header", junk + Header(2, 0, 7), 100},
        {"shorter than a header", kSig + std::string(40, 'z'), std::nullopt},
        {"only a signature at the end", junk + kSig, std::nullopt},
        {"the end before the bytes' end", two + Header(2), 0, two.size()},
        {"a header across a chunk border", std::string(70000, 'J') + straddling, 70000},
        {"a long chain over several chunks",
         std::string(3, 'J') + Header(0, 0, 60000) + Header(0, 60000) + Header(60000) + two, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::uint64_t end = c.end == std::string::npos ? c.bytes.size() : c.end;
        const auto* p = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
        EXPECT_EQ(FindCentralStart(std::span(p, c.bytes.size()), end), c.start);
        EXPECT_EQ(Chunked(c.bytes, end), c.start);
    }
}

TEST(PlatformCentralSearch, AFailedReadEndsWithWhatWasFound) {
    // Three headers of about 40 KiB each: only the last one lies in the first
    // chunk, the others are read with the second.
    const std::string chain = Header(0, 0, 40000) + Header(0, 0, 40000) + Header(0, 0, 40000);
    const std::uint64_t last = 2 * (zrec::central::kSize + 40000);
    EXPECT_EQ(Chunked(chain, chain.size()), 0u);
    EXPECT_EQ(Chunked(chain, chain.size(), chain.size() - 45 - 65536), last);
    // A reader that throws (a cancelled operation) passes its exception on.
    EXPECT_THROW(FindCentralStart([](std::uint64_t, std::span<std::uint8_t>) -> bool { throw 1; },
                                  chain.size()),
                 int);
}

}  // namespace
