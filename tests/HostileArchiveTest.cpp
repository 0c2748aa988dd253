// Hostile archives made by the tests themselves, so that a checkout without
// the third-party corpus still meets them: unsafe and absolute names, links
// pointing outside, entries that overlap, sizes and counts that lie, Zip64
// records, a multi-part set and encrypted entries. Every archive of the table
// is loaded through the component and tested and extracted through the
// engine, each with the outcome a correct and safe reader must have.
#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <set>

#include "ZEngineHarness.h"
#include "zip/ZipArchiver.h"

namespace {

namespace fs = std::filesystem;
using zetest::Harness;

void put16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}
void put64(std::string& s, std::uint64_t v) {
    put32(s, static_cast<std::uint32_t>(v));
    put32(s, static_cast<std::uint32_t>(v >> 32));
}

constexpr std::uint32_t kUnixFile = 0100644u << 16;
constexpr std::uint32_t kUnixLink = 0120777u << 16;

// One stored entry; every field a case may falsify has its own value.
struct Item {
    std::string name;
    std::string data;
    std::uint32_t attributes = kUnixFile;  // external attributes (made on Unix)
    std::uint16_t flags = 0;
    std::int64_t size = -1;                     // stated in both headers; -1: the real size
    std::int64_t localOffset = -1;              // stated in the central header; -1: the real one
    bool zip64 = false;                         // sizes and offset in a Zip64 extra field
    std::optional<std::string> centralExtra{};  // the central extra field in place of the built one
};

struct Shape {
    int countDelta = 0;                  // added to the counts of the end records
    bool zip64End = false;               // Zip64 end record and locator in front of the end record
    const char* prefix = "";             // bytes in front whose length no offset counts
    std::uint32_t centralSizeDelta = 0;  // added to the directory's size in the end record
};

// A stored archive of `items` laid out as `shape` says.
std::string Build(const std::vector<Item>& items, const Shape& shape = {}) {
    std::string body, central;
    for (const Item& it : items) {
        const auto offset = static_cast<std::uint32_t>(body.size());
        const std::uint64_t size = it.size < 0 ? it.data.size() : std::uint64_t(it.size);
        const std::uint32_t crc =
            crc32(0, reinterpret_cast<const Bytef*>(it.data.data()), uInt(it.data.size()));
        const std::uint32_t small = it.zip64 ? 0xFFFFFFFFu : std::uint32_t(size);
        std::string local;
        put32(local, 0x04034B50);
        put16(local, it.zip64 ? 45 : 10);
        put16(local, it.flags);
        put16(local, 0);
        put32(local, 0x5A215C00);
        put32(local, crc);
        put32(local, small);
        put32(local, small);
        put16(local, std::uint32_t(it.name.size()));
        std::string localExtra;
        if (it.zip64) {
            put16(localExtra, 1);
            put16(localExtra, 16);
            put64(localExtra, size);
            put64(localExtra, size);
        }
        put16(local, std::uint32_t(localExtra.size()));
        body += local + it.name + localExtra + it.data;

        const std::uint64_t stated = it.localOffset < 0 ? offset : std::uint64_t(it.localOffset);
        std::string extra;
        if (it.zip64) {
            put16(extra, 1);
            put16(extra, 24);
            put64(extra, size);
            put64(extra, size);
            put64(extra, stated);
        }
        extra = it.centralExtra.value_or(extra);
        put32(central, 0x02014B50);
        put16(central, 0x0300 | 20);
        put16(central, it.zip64 ? 45 : 10);
        put16(central, it.flags);
        put16(central, 0);
        put32(central, 0x5A215C00);
        put32(central, crc);
        put32(central, small);
        put32(central, small);
        put16(central, std::uint32_t(it.name.size()));
        put16(central, std::uint32_t(extra.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, it.attributes);
        put32(central, it.zip64 ? 0xFFFFFFFFu : std::uint32_t(stated));
        central += it.name + extra;
    }
    const auto count = std::uint64_t(std::int64_t(items.size()) + shape.countDelta);
    std::string tail;
    if (shape.zip64End) {
        const std::uint64_t at = body.size() + central.size();
        put32(tail, 0x06064B50);
        put64(tail, 44);
        put16(tail, 45);
        put16(tail, 45);
        put32(tail, 0);
        put32(tail, 0);
        put64(tail, count);
        put64(tail, count);
        put64(tail, central.size());
        put64(tail, body.size());
        put32(tail, 0x07064B50);
        put32(tail, 0);
        put64(tail, at);
        put32(tail, 1);
    }
    put32(tail, 0x06054B50);
    put16(tail, 0);
    put16(tail, 0);
    put16(tail, shape.zip64End ? 0xFFFF : std::uint32_t(count & 0xFFFF));
    put16(tail, shape.zip64End ? 0xFFFF : std::uint32_t(count & 0xFFFF));
    put32(tail,
          shape.zip64End ? 0xFFFFFFFFu : std::uint32_t(central.size()) + shape.centralSizeDelta);
    put32(tail, shape.zip64End ? 0xFFFFFFFFu : std::uint32_t(body.size()));
    put16(tail, 0);
    return std::string(shape.prefix) + body + central + tail;
}

struct Case {
    const char* title;
    std::vector<Item> items;
    Shape shape;
    // The component: entries listed, or -1 when the load must fail.
    int listed;
    // The engine's test: entries found good, or a negative engine error.
    int tested;
    // Entries the engine's test or extraction reports as skipped.
    std::set<std::string> skipped;
    // What extraction leaves below the target (folders end in "/").
    std::set<std::string> written;
};

const std::string kText = "harmless text\n";

// An extra-field record of `tag` with `data`.
std::string Record(std::uint16_t tag, const std::string& data) {
    std::string r;
    put16(r, tag);
    put16(r, std::uint32_t(data.size()));
    return r + data;
}
// An extended timestamp record, as most writers put first.
const std::string kTime = Record(0x5455, std::string("\x01\x00\x00\x00\x60", 5));
// The Zip64 data of an entry of kText whose sizes are both sentinels: the
// uncompressed size only, the compressed one is missing.
std::string OnlyUncompressedSize() {
    std::string d;
    put64(d, kText.size());
    return d;
}

std::vector<Case> Cases() {
    return {
        {"plain archive (the control)",
         {{"a.txt", kText}, {"b/c.txt", kText}},
         {},
         2,
         2,
         {},
         {"a.txt", "b/", "b/c.txt"}},
        {"names that climb out or are absolute",
         {{"../up.txt", kText},
          {"a/../../up2.txt", kText},
          {"/tmp/tarvik-hostile-absolute.txt", kText},
          {"ok.txt", kText}},
         {},
         4,
         4,
         {"../up.txt", "a/../../up2.txt", "/tmp/tarvik-hostile-absolute.txt"},
         {"ok.txt"}},
        {"links pointing outside, then a file through one",
         {{"out", "../..", kUnixLink},
          {"abs", "/etc", kUnixLink},
          {"out/planted.txt", kText},
          {"inner", "ok.txt", kUnixLink},
          {"ok.txt", kText}},
         {},
         5,
         5,
         {"out", "abs"},
         {"inner", "ok.txt", "out/", "out/planted.txt"}},
        {"two entries overlapping the same data",
         {{"one.txt", kText}, {"two.txt", kText, kUnixFile, 0, -1, 0}},
         {},
         2,
         -5,
         {},
         {}},
        // Counts that lie: the entries the directory's bytes hold (with a warning).
        {"more entries counted than written",
         {{"a.txt", kText}, {"b.txt", kText}},
         {1},
         2,
         2,
         {},
         {"a.txt", "b.txt"}},
        {"fewer entries counted than written",
         {{"a.txt", kText}, {"b.txt", kText}},
         {-1},
         2,
         2,
         {},
         {"a.txt", "b.txt"}},
        {"size larger than the data",
         {{"big.txt", kText, kUnixFile, 0, 1 << 20}, {"ok.txt", kText}},
         {},
         2,
         1,
         {"big.txt"},
         {"ok.txt"}},
        {"size smaller than the data",
         {{"cut.txt", kText, kUnixFile, 0, 4}, {"ok.txt", kText}},
         {},
         2,
         1,
         {"cut.txt"},
         {"ok.txt"}},
        {"entry in Zip64 form",
         {{"z.txt", kText, kUnixFile, 0, -1, -1, true}},
         {},
         1,
         1,
         {},
         {"z.txt"}},
        {"Zip64 end records",
         {{"a.txt", kText}, {"b.txt", kText}},
         {0, true},
         2,
         2,
         {},
         {"a.txt", "b.txt"}},
        {"Zip64 end records with a count that lies",
         {{"a.txt", kText}, {"b.txt", kText}},
         {5, true},
         2,
         2,
         {},
         {"a.txt", "b.txt"}},
        // The directory is searched for when neither its offset nor its size is right:
        // both readers take the same chain of headers, not the stray signature in front.
        {"data in front, offset and size stale, a stray central signature in it",
         {{"a.txt", kText}, {"b.txt", kText}},
         {0, false, "MZPK\x01\x02JJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJJ", 9},
         2,
         2,
         {},
         {"a.txt", "b.txt"}},
        // Extra fields read by the one walk: an empty record that ends the field, a cut
        // head and a record running past the end are read alike and harm nothing.
        {"extra fields with an empty last record, a cut head, a record past the end",
         {{"a.txt", kText, kUnixFile, 0, -1, -1, false, kTime + Record(0xCAFE, "")},
          {"b.txt", kText, kUnixFile, 0, -1, -1, false, kTime + std::string("\x01\x00\x00", 3)},
          {"c.txt", kText, kUnixFile, 0, -1, -1, false, kTime + Record(0x7075, "ab").substr(0, 5)}},
         {},
         3,
         3,
         {},
         {"a.txt", "b.txt", "c.txt"}},
        // A Zip64 record that lacks a value its header asks for: both readers refuse it,
        // also when it is an empty record at the end of the field.
        {"Zip64 record lacking the compressed size",
         {{"z.txt", kText, kUnixFile, 0, -1, -1, true, Record(1, OnlyUncompressedSize())}},
         {},
         -1,
         -9,
         {},
         {}},
        {"empty Zip64 record at the end of the extra field",
         {{"z.txt", kText, kUnixFile, 0, -1, -1, true, kTime + Record(1, "")}},
         {},
         -1,
         -9,
         {},
         {}},
        {"encrypted flag over plain data, no password",
         {{"secret.txt", kText, kUnixFile, 1}, {"ok.txt", kText}},
         {},
         2,
         1,
         {"secret.txt"},
         {"ok.txt"}},
    };
}

class HostileArchive : public ::testing::TestWithParam<std::size_t> {};

TEST_P(HostileArchive, ComponentAndEngineStaySafe) {
    const Case c = Cases()[GetParam()];
    SCOPED_TRACE(c.title);
    zetest::TempDir t;
    const std::string archive = t / "h.zip";
    zetest::writeFile(archive, Build(c.items, c.shape));

    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetUseUTF8(true);
    zip.SetZipFileName(archive);
    if (c.listed < 0) {
        EXPECT_FALSE(zip.ArchiveLoaded() && zip.ErrCode() == 0);
    } else {
        EXPECT_TRUE(zip.ArchiveLoaded());
        EXPECT_EQ(zip.Count(), c.listed);
    }

    Harness test;
    test.archive = archive;
    EXPECT_EQ(test.test(), c.tested);

    fs::create_directories(t.path / "a/target");
    Harness h;
    h.archive = archive;
    h.base = t / "a/target";
    h.extract();
    std::set<std::string> skipped;
    for (const zetest::Skip& s : test.skips)
        skipped.insert(s.name);
    for (const zetest::Skip& s : h.skips)
        skipped.insert(s.name);
    EXPECT_EQ(skipped, c.skipped);
    std::set<std::string> written;
    for (auto it = fs::recursive_directory_iterator(t.path / "a");
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(t.path / "a/target").string();
        if (rel == ".")
            continue;
        ASSERT_NE(rel.rfind("..", 0), 0u) << "written outside: " << it->path();
        written.insert(rel + (it->is_directory() && !it->is_symlink() ? "/" : ""));
    }
    EXPECT_EQ(written, c.written);
    EXPECT_FALSE(fs::exists("/tmp/tarvik-hostile-absolute.txt"));
}

INSTANTIATE_TEST_SUITE_P(Generated, HostileArchive,
                         ::testing::Range<std::size_t>(0, Cases().size()), [](const auto& info) {
                             std::string s = Cases()[info.param].title;
                             for (char& ch : s)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return s;
                         });

// A set written by Info-ZIP zip -s: read through its last part by the component,
// refused by the engine (the component joins sets before the engine sees them),
// and refused cleanly once a part is missing.
TEST(HostileSet, SplitSetAndMissingPart) {
    zetest::TempDir t;
    std::string data;
    unsigned seed = 7;
    while (data.size() < 200000)
        data += static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    zetest::writeFile(t.path / "src/r.bin", data);
    ASSERT_EQ(zetest::sh("cd '" + (t / "src") + "' && zip -q -s 64k ../set.zip r.bin"), 0);
    ASSERT_TRUE(fs::exists(t.path / "set.z01"));
    {
        TZipArchiver zip;
        zip.SetUnattended(true);
        zip.SetZipFileName(t / "set.zip");
        EXPECT_TRUE(zip.ArchiveLoaded());
        EXPECT_EQ(zip.Count(), 1);
        zip.SetExtrBaseDir(t / "out");
        zip.SetExtrOptions({ExtrForceDirs});
        zip.Extract();
        EXPECT_EQ(zip.SuccessCount(), 1);
        EXPECT_EQ(zetest::readFile(t.path / "out/r.bin"), data);
    }
    Harness h;
    h.archive = t / "set.zip";
    EXPECT_EQ(h.test(), -14);
    fs::remove(t.path / "set.z01");
    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetZipFileName(t / "set.zip");
    zip.SetExtrBaseDir(t / "out2");
    zip.SetExtrOptions({ExtrForceDirs});
    zip.Extract();
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_NE(zip.ErrCode(), 0);
    EXPECT_FALSE(fs::exists(t.path / "out2/r.bin"));
}

// Traditional encryption written by zip -P: the wrong password skips the
// entry and writes nothing, the right one extracts it.
TEST(HostileSet, EncryptedEntryNeedsItsPassword) {
    zetest::TempDir t;
    zetest::writeFile(t.path / "src/s.txt", kText);
    ASSERT_EQ(zetest::sh("cd '" + (t / "src") + "' && zip -q -P richtig ../e.zip s.txt"), 0);
    for (const char* password : {"falsch", "richtig"}) {
        const bool right = std::string(password) == "richtig";
        Harness h;
        h.archive = t / "e.zip";
        h.password = password;
        h.base = t / (std::string("out-") + password);
        fs::create_directories(h.base);
        EXPECT_EQ(h.extract(), right ? 1 : 0) << password;
        EXPECT_EQ(h.skips.size(), right ? 0u : 1u) << password;
        EXPECT_EQ(fs::exists(fs::path(h.base) / "s.txt"), right) << password;
    }
}

}  // namespace
