// Unusual and damaged archives that other readers (7-Zip, Info-ZIP unzip,
// bsdtar, Python's zipfile) list: crafted here byte by byte, each with the
// listing it must give (or the refusal and its message), through the
// component as the window loads them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "ZATestZip.h"
#include "ZEngineHarness.h"
#include "platform/ZipRecords.h"
#include "zip/ZAIRec.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"

using namespace zrec;
using ztest::Entry;

namespace {

// The end record at the tail of an archive without a comment.
constexpr std::size_t kEnd = 22;

std::uint32_t Get32(const std::string& b, std::size_t at) {
    return GetU32(Bytes(b) + at);
}
void Set16(std::string& b, std::size_t at, std::uint16_t v) {
    PutU16(reinterpret_cast<std::uint8_t*>(b.data()) + at, v);
}
void Set32(std::string& b, std::size_t at, std::uint32_t v) {
    PutU32(reinterpret_cast<std::uint8_t*>(b.data()) + at, v);
}

struct Zip64Form {
    std::uint16_t versionNeeded = 45;
    std::uint64_t recordSize = 44;
    std::uint32_t totalDisks = 1;
};

// The same archive with Zip64 end records: the Zip64 record and locator
// between the directory and the end record, whose fields hold sentinels.
std::string WithZip64End(const std::string& zip, const Zip64Form& f = {}) {
    const std::size_t endAt = zip.size() - kEnd;
    const TZAEndRecord rec = TZAEndRecord::Decode(Bytes(zip) + endAt);
    std::string out = zip.substr(0, endAt);
    std::uint8_t z64[zip64end::kSize];
    TZAZip64EndRecord z;
    z.recordSize = f.recordSize;
    z.versionNeeded = f.versionNeeded;
    z.entriesOnDisk = rec.entriesOnDisk;
    z.totalEntries = rec.totalEntries;
    z.centralSize = rec.centralSize;
    z.centralOffset = rec.centralOffset;
    z.Encode(z64);
    out.append(reinterpret_cast<const char*>(z64), sizeof z64);
    std::uint8_t loc[zip64loc::kSize];
    TZAZip64Locator l;
    l.zip64Offset = static_cast<std::uint64_t>(rec.centralOffset) + rec.centralSize;
    l.totalDisks = f.totalDisks;
    l.Encode(loc);
    out.append(reinterpret_cast<const char*>(loc), sizeof loc);
    TZAEndRecord e = rec;
    e.entriesOnDisk = e.totalEntries = kSentinel16;
    e.centralSize = e.centralOffset = kSentinel32;
    std::uint8_t end[eocd::kSize];
    e.Encode(end);
    out.append(reinterpret_cast<const char*>(end), sizeof end);
    return out;
}

// The central header of entry `index` (counted from the directory's start).
std::size_t CentralHeader(const std::string& zip, int index) {
    std::size_t at = Get32(zip, zip.size() - kEnd + eocd::kCentralOffset);
    for (int i = 0; i < index; ++i) {
        const TZACentralHeader h = TZACentralHeader::Decode(Bytes(zip) + at);
        at += central::kSize + h.nameLength + h.extraLength + h.commentLength;
    }
    return at;
}

// Entries with their real CRC-32, so that the engine can test them too.
std::vector<Entry> WithCrc(std::vector<Entry> entries) {
    for (Entry& e : entries) {
        e.crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                 static_cast<uInt>(e.data.size())));
    }
    return entries;
}

const std::vector<Entry> kThree =
    WithCrc({{"a.txt", "alpha"}, {"b/c.txt", "beta!!"}, {"d.txt", "gamma"}});

struct Listing {
    bool loaded = false;
    int errCode = 0;
    int warning = 0;
    std::vector<std::string> rows;  // "name size"
    int warningsShown = 0;          // message boxes with message 20
};

Listing Load(const std::string& path, bool withDirectories = true) {
    ztest::RecordingDialog dialog;
    TZipArchiver zip;
    zip.SetDialogProvider(&dialog);
    zip.SetUseDirOnlyEntries(withDirectories);
    zip.SetZipFileName(path);
    Listing out;
    out.loaded = zip.ArchiveLoaded();
    out.errCode = zip.ErrCode();
    out.warning = zip.LoadWarning();
    for (int i = 0; i < zip.Count(); ++i) {
        const auto e = zip.DirEntry(i);
        out.rows.push_back(e->FileName() + " " + std::to_string(e->UncompressedSize()));
    }
    for (const auto& r : dialog.requests) {
        out.warningsShown += r.Text == MessageText(20) ? 1 : 0;
    }
    return out;
}

const std::vector<std::string> kThreeRows = {"a.txt 5", "b/c.txt 6", "d.txt 5"};

struct Case {
    const char* what;
    std::string bytes;
    int warning;  // expected LoadWarning; -1: the load fails
    int errCode;  // expected ErrCode
    std::vector<std::string> rows;
};

class DamagedLoad : public ::testing::Test {
protected:
    void Check(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            const std::string path = tmp.Write("t.zip", c.bytes);
            const Listing l = Load(path);
            EXPECT_EQ(l.loaded, c.warning >= 0);
            EXPECT_EQ(l.errCode, c.errCode);
            EXPECT_EQ(l.warning, std::max(c.warning, 0));
            EXPECT_EQ(l.rows, c.rows);
            // A warning is shown once, never twice for one load.
            EXPECT_LE(l.warningsShown, 1);
            // The engine finds the directory and its entries as the component does.
            if (c.warning >= 0) {
                zetest::Harness h;
                h.archive = path;
                EXPECT_EQ(h.test(), static_cast<std::int32_t>(c.rows.size()));
                EXPECT_TRUE(h.skips.empty());
            }
        }
    }
    ztest::TempDir tmp;
};

// Zip64 end records: behind data in front, and the variants other readers
// accept; a later version is refused with its own reason.
TEST_F(DamagedLoad, Zip64EndRecords) {
    const std::string plain = ztest::BuildZip(kThree);
    const std::string prefix(777, 'P');
    Check({
        {"zip64", WithZip64End(plain), 0, 0, kThreeRows},
        {"zip64 after a prefix", prefix + WithZip64End(plain), 20, 20, kThreeRows},
        {"locator claims 0 disks", WithZip64End(plain, {45, 44, 0}), 0, 0, kThreeRows},
        {"version needed 6.3", WithZip64End(plain, {63, 44, 1}), 0, 0, kThreeRows},
        {"record size 40", WithZip64End(plain, {45, 40, 1}), 0, 0, kThreeRows},
        {"version needed 6.4", WithZip64End(plain, {64, 44, 1}), -1, 128, {}},
        {"locator claims 5 disks", WithZip64End(plain, {45, 44, 5}), -1, 158, {}},
    });
}

// The end record's counts disagree with the directory: every header the
// directory's bytes hold is listed, with one warning.
TEST_F(DamagedLoad, CountsThatDisagreeWithTheDirectory) {
    std::vector<Case> cases;
    for (const int delta : {+1, +30, -1, -2, -3}) {
        cases.push_back({"count off by", ztest::BuildZip(kThree, ztest::WithCountDelta(delta)), 20,
                         20, kThreeRows});
    }
    std::string onDisk = ztest::BuildZip(kThree);
    Set16(onDisk, onDisk.size() - kEnd + eocd::kEntriesOnDisk, 1);  // only the "this disk" count
    cases.push_back({"entries on this disk", onDisk, 0, 0, kThreeRows});
    cases.push_back({"zip64 count 0",
                     WithZip64End(ztest::BuildZip(kThree, ztest::WithCountDelta(-3))), 20, 20,
                     kThreeRows});
    Check(cases);
}

// The directory is not where the end record says: found where its size puts
// it, or by searching for its first header.
TEST_F(DamagedLoad, DirectoryNotWhereTheEndRecordSays) {
    const std::string plain = ztest::BuildZip(kThree);
    const std::size_t end = plain.size() - kEnd;
    std::string beyond = plain;  // offset past the end of the file
    Set32(beyond, end + eocd::kCentralOffset, 0x20003C);
    std::string bothWrong = beyond;  // and a size that is too small
    Set32(bothWrong, end + eocd::kCentralSize, Get32(plain, end + eocd::kCentralSize) - 10);
    const std::size_t dir = Get32(plain, end + eocd::kCentralOffset);
    std::string shifted = plain;                // junk between the data and the directory,
    shifted.insert(dir, std::string(50, 'J'));  // size and offset both stale
    Set32(shifted, end + 50 + eocd::kCentralSize, Get32(plain, end + eocd::kCentralSize) + 9);
    std::string noDirectory = beyond;  // no header where the size puts it either
    noDirectory.replace(dir, 4, "XXXX");
    Check({
        {"offset beyond the file", beyond, 20, 20, kThreeRows},
        {"offset and size wrong", bothWrong, 20, 20, kThreeRows},
        {"junk before the directory", shifted, 20, 20, kThreeRows},
        {"first header damaged", noDirectory, 20, 20, {"b/c.txt 6", "d.txt 5"}},
    });
}

// Data in front of an archive whose offsets were not adjusted: loaded with
// one warning (it used to come twice).
TEST_F(DamagedLoad, DataInFrontWarnsOnce) {
    const Listing l = Load(tmp.Write("p.zip", std::string(100, 'x') + ztest::BuildZip(kThree)));
    EXPECT_TRUE(l.loaded);
    EXPECT_EQ(l.warningsShown, 1);
    EXPECT_EQ(l.warning, 20);
    EXPECT_EQ(l.rows, kThreeRows);
}

// Central headers: the Zip64 record read whenever a field holds the
// sentinel; folders of DOS-made archives ending in a backslash.
TEST_F(DamagedLoad, CentralHeaderVariants) {
    // Sizes in the Zip64 record only, "version needed" left at 1.0.
    std::string lowVersion = ztest::BuildZip(WithCrc(
        {{"big.bin", "0123456789", 0, 20, std::string("\x01\x00\x10\x00", 4) + std::string(16, 0)},
         {"x", "1"}}));
    const std::size_t h = CentralHeader(lowVersion, 0);
    Set32(lowVersion, h + central::kCompressedSize, kSentinel32);
    Set32(lowVersion, h + central::kUncompressedSize, kSentinel32);
    std::uint8_t* extra = reinterpret_cast<std::uint8_t*>(lowVersion.data()) + h + central::kSize +
                          std::string("big.bin").size() + 4;
    PutU64(extra, 10);
    PutU64(extra + 8, 10);

    const std::vector<Entry> dos = {{"folder\\", "", 0, 0x0014},
                                    {"folder\\f.txt", "abc", 0, 0x0014},
                                    {"unix\\", "x", 0, 0x0314}};
    Check({{"zip64 sizes, version 1.0", lowVersion, 0, 0, {"big.bin 10", "x 1"}}});
    const Listing files = Load(tmp.Write("dos.zip", ztest::BuildZip(dos)), false);
    // Without folder entries: the DOS folder is gone, the Unix name with a
    // backslash is a file.
    ASSERT_EQ(files.rows.size(), 2u);
    EXPECT_EQ(files.rows[0].substr(files.rows[0].size() - 2), " 3");
    EXPECT_EQ(files.rows[1].substr(files.rows[1].size() - 2), " 1");
    EXPECT_EQ(Load(tmp.path() + "dos.zip", true).rows.size(), 3u);
}

// A loaded archive with a warning, a clean one and a failed load are told
// apart by LoadWarning and ArchiveLoaded, while ErrCode keeps the message.
TEST_F(DamagedLoad, WarningsAreToldApartFromFailures) {
    const Listing clean = Load(tmp.Write("c.zip", ztest::BuildZip(kThree)));
    const Listing warned = Load(tmp.Write("w.zip", ztest::BuildZip(kThree, {"", "", 1, 0})));
    std::string broken = ztest::BuildZip(kThree);
    broken.resize(broken.size() - 30);
    const Listing failed = Load(tmp.Write("f.zip", broken));
    EXPECT_TRUE(clean.loaded && warned.loaded);
    EXPECT_FALSE(failed.loaded);
    EXPECT_EQ(clean.warning, 0);
    EXPECT_EQ(warned.warning, 20);
    EXPECT_EQ(warned.errCode, 20);
    EXPECT_EQ(failed.warning, 0);
    EXPECT_NE(failed.errCode, 0);
}

// A split set of Info-ZIP zip whose directory starts on an earlier part than
// the end record: loads without a warning.
TEST_F(DamagedLoad, SplitSetWithADirectoryAcrossParts) {
    if (!ztest::Shell("zip -v")) {
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    }
    ASSERT_TRUE(
        ztest::Shell("mkdir -p d && for i in $(seq 1 3000); do echo $i > d/f$i.txt; done "
                     "&& zip -q -r -s 64k set.zip d",
                     tmp.path()));
    ASSERT_TRUE(ztest::Shell("test -f set.z02", tmp.path()));
    const Listing l = Load(tmp.path() + "set.zip");
    EXPECT_TRUE(l.loaded);
    EXPECT_EQ(l.errCode, 0);
    EXPECT_EQ(l.warningsShown, 0);
    EXPECT_EQ(l.rows.size(), 3001u);  // the folder and its files
}

}  // namespace
