// Locating the end of the central directory: archives made here by Info-ZIP
// zip, the third-party corpus, damaged tails, stubs, multi-part sets, and
// end records written by the component and read back.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <memory>

#include "CorpusTestSupport.h"
#include "ZARecordsTestSupport.h"
#include "platform/ZipRecords.h"
#include "zip/ZAEOC.h"
#include "zip/ZAXcpt.h"

using namespace records_test;
using namespace zrec;

namespace {

using ztest::CorpusFile;

// An end record with the given fields.
std::string EndRecord(int disk, int cdDisk, int onDisk, int total, std::uint32_t cdSize,
                      std::uint32_t cdOffset, int commentLength) {
    return LE32(kEndRecordSig) + LE16(disk) + LE16(cdDisk) + LE16(onDisk) + LE16(total) +
           LE32(cdSize) + LE32(cdOffset) + LE16(commentLength);
}

class ZAEOCTest : public ::testing::Test {
protected:
    // Runs the search on `path`; the object stays for inspection.
    std::int32_t Find(const std::string& path, bool noZip64 = false) {
        eoc = std::make_unique<TZAEOC>(comp);
        eoc->SetFileName(path);
        return eoc->FindEndRecord(noZip64);
    }
    std::int32_t Open(const std::string& path) {
        eoc = std::make_unique<TZAEOC>(comp);
        eoc->SetFileName(path);
        return eoc->OpenArchivePart(false);
    }
    std::int32_t FindBytes(const std::string& bytes) {
        WriteFile(dir / "t.zip", bytes);
        return Find(dir / "t.zip");
    }

    ScratchFolder dir;
    TZipArchiver comp;
    std::unique_ptr<TZAEOC> eoc;
};

// ---- archives made by Info-ZIP zip ----------------------------------------------------

TEST_F(ZAEOCTest, InfoZipArchives) {
    if (!Shell("zip -v")) {
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    }
    WriteFile(dir / "a.txt", "hello\n");
    WriteFile(dir / "b.txt", std::string(3000, 'b'));
    const std::string in = dir.path();
    ASSERT_TRUE(Shell("zip -q plain.zip a.txt b.txt", in));
    ASSERT_TRUE(
        Shell("zip -q commented.zip a.txt && echo 'the comment' | zip -qz commented.zip", in));
    ASSERT_TRUE(Shell("zip -q -fz big.zip a.txt", in));
    ASSERT_TRUE(Shell("echo x | zip -q - - > stream.zip", in));
    ASSERT_TRUE(
        Shell("printf 'MZ stub bytes, no real image....' > stub && cat stub plain.zip "
              "> sfx.exe && cp sfx.exe fixed.exe && zip -qA fixed.exe",
              in));

    struct {
        const char* file;
        std::int32_t result;
        int entries;
        std::string comment;
        bool zip64;
    } cases[] = {
        {"plain.zip", 0, 2, "", false},
        {"commented.zip", 0, 1, "the comment", false},
        {"big.zip", 0, 1, "", true},
        {"stream.zip", 0, 1, "", true},
        {"sfx.exe", kEocPreamble, 2, "", false},  // offsets not adjusted
        {"fixed.exe", 0, 2, "", false},           // zip -A adjusted them
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(Open(dir / c.file), c.result);
        EXPECT_EQ(eoc->TotalEntries, c.entries);
        EXPECT_EQ(eoc->ArchiveComment.substr(0, c.comment.size()), c.comment);
        EXPECT_EQ(eoc->HasZip64, c.zip64);
        EXPECT_TRUE(eoc->IsOpen());
        EXPECT_EQ(eoc->DiskCount, 1);
    }
    EXPECT_EQ(eoc->StartKind, kStartExecutable);
    Open(dir / "sfx.exe");
    EXPECT_EQ(eoc->PreambleSize, 32);
    EXPECT_TRUE(eoc->StubBytes.empty());  // no real image: nothing to keep
}

TEST_F(ZAEOCTest, InfoZipSplitSetOpensFromItsLastPart) {
    if (!Shell("zip -v")) {
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    }
    // Incompressible data so that the set needs three 64 KiB parts.
    std::string noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 150000; ++i) {
        x = x * 1103515245 + 12345;
        noise.push_back(static_cast<char>(x >> 24));
    }
    WriteFile(dir / "noise.bin", noise);
    ASSERT_TRUE(Shell("zip -q -s 64k split.zip noise.bin", dir.path()));
    ASSERT_TRUE(std::filesystem::exists(dir / "split.z02"));

    ASSERT_EQ(Open(dir / "split.zip"), 0);
    EXPECT_EQ(eoc->DiskCount, 3);
    EXPECT_EQ(eoc->DiskNumber, 2);
    EXPECT_TRUE(eoc->IsMultiPart);
    EXPECT_EQ(eoc->TotalEntries, 1);
    eoc->RecogniseNamingScheme();
    EXPECT_EQ(eoc->NamingScheme, kSchemeCompatible);
    // The central directory's part, and the first local header behind the
    // marker on part 1.
    eoc->OpenPartForReading(eoc->CentralStartDisk);
    ASSERT_EQ(eoc->Seek(kSeekBegin, eoc->CentralOffset), eoc->CentralOffset);
    std::uint8_t sig[4];
    ASSERT_EQ(eoc->Read(sig, 4), 4);
    EXPECT_EQ(GetU32(sig), kCentralHeaderSig);
    eoc->OpenPartForReading(0);
    EXPECT_EQ(eoc->FileName(), dir / "split.z01");
    std::uint8_t head[8];
    ASSERT_EQ(eoc->Read(head, 8), 8);
    EXPECT_EQ(GetU32(head), kMultiPartMarker);
    EXPECT_EQ(GetU32(head + 4), kLocalHeaderSig);
}

// ---- the corpus ---------------------------------------------------------------------

TEST_F(ZAEOCTest, CorpusArchives) {
    SKIP_WITHOUT_CORPUS();
    struct {
        const char* file;
        std::int32_t result;  // >= 0: bits; < 0: -message id
        int entries;
        std::size_t commentLength;
    } cases[] = {
        {"libzip/testempty.zip", 0, 0, 0},
        {"libzip/junk-at-start.zip", kEocPreamble, 3, 0},
        {"libzip/junk-at-end.zip", kEocGarbage, 3, 0},
        {"libzip/testextrabytes.zip", kEocGarbage, 1, 0},
        {"libzip/testcomment.zip", 0, 4, 63},
        {"libzip/testfile-long-comment.zip", 0, 1, 22781},
        {"libzip/incons-archive-comment-longer.zip", kEocGarbage, 1, 0},
        {"libzip/incons-archive-comment-shorter.zip", kEocGarbage, 1, 34},
        {"libzip/zip-in-archive-comment.zip", 0, 1, 122},
        {"libzip/zip64-in-archive-comment.zip", 0, 1, 198},
        {"libzip/zip64.zip", 0, 1, 0},
        {"libzip/zip64-3mf.zip", 0, 1, 0},
        {"libzip/incons-eocd64.zip", kEocPreamble, 0, 0},
        {"libzip/incons-file-count-overflow.zip", 0, 1, 0},
        {"libzip/incons-cdoffset.zip", kEocPreamble, 1, 0},
        {"libzip/multidisk.zip", 0, 1, 0},
        {"libzip/bogus.zip", -127, 0, 0},
        {"libzip/short", -127, 0, 0},
        {"libzip/testfile-truncated.zip", -127, 0, 0},
        {"libzip/incons-eocd-magic-bad.zip", -127, 0, 0},
        {"libarchive/test_read_format_zip_sfx", kEocPreamble, 2, 36},
        {"libarchive/test_compat_zip_4.zip", 0, 3, 0},
        {"libarchive/test_read_format_zip_padded3.zip", kEocGarbage | kEocPreamble, 2, 0},
        {"libarchive/test_read_format_zip_malformed1.zip", -127, 0, 0},
        {"libarchive/test_read_format_zip_ppmd8_crash_1.zipx", -127, 0, 0},
        // Locator past the end in front of an empty end record: empty.
        {"rc-zip/archive-oob.zip", kEocPreamble, 0, 0},
        // Zip64 records moved by a prefix: found before the locator.
        {"zip2/zip64_demo.zip", kEocPreamble, 1, 0},
        {"zip2/misaligned_comment.zip", kEocGarbage, 0, 6},
        {"zipdetails/winzip-sfx.exe", kEocGarbage, 1, 0},
        {"zip2/invalid_offset.zip", kEocPreamble, 0, 0},
        {"zip2/deflate64_issue_25.zip", kEocGarbage | kEocPreamble, 49135, 30},
        {"zipdetails/zip64-streamed.zip", 0, 1, 18},
        {"zipdetails/lorem-split.zip", 0, 1, 0},
        {"zipdetails/dd-should-be-64-got-32.zip", 0, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::int32_t r = Find(CorpusFile(c.file));
        if (c.result < 0) {
            ASSERT_LT(r, 0);
            EXPECT_EQ(ZAMessageIdOf(r), -c.result);
            EXPECT_FALSE(eoc->IsOpen());
            continue;
        }
        EXPECT_EQ(r, c.result);
        if (c.entries > 0 || c.result == 0) {
            EXPECT_EQ(eoc->TotalEntries, c.entries);
        }
        EXPECT_EQ(eoc->ArchiveComment.size(), c.commentLength);
        EXPECT_LE(eoc->PlausibleEntryCount(), eoc->SizeAtOpen / 46 + 1);
    }
}

TEST_F(ZAEOCTest, CorpusSplitSetAndLastPartAlone) {
    SKIP_WITHOUT_CORPUS();
    ASSERT_EQ(Open(CorpusFile("zipdetails/300-split.zip")), 0);
    EXPECT_EQ(eoc->DiskCount, 4);
    EXPECT_EQ(eoc->CentralStartDisk, 3);
    eoc->RecogniseNamingScheme();
    EXPECT_EQ(eoc->NamingScheme, kSchemeCompatible);
    eoc->OpenPartForReading(0);
    EXPECT_EQ(eoc->FileName(), CorpusFile("zipdetails/300-split.z01"));
    // Three whole parts and a little of the last one.
    std::vector<char> buf(3 * 102400 + 10);
    EXPECT_EQ(eoc->Read(buf.data(), static_cast<std::int32_t>(buf.size())),
              static_cast<std::int32_t>(buf.size()));
    EXPECT_EQ(eoc->DiskNumber, 3);

    // The last part of a two-part set without its first part.
    ASSERT_EQ(Open(CorpusFile("libzip/multidisk.zip")), 0);
    EXPECT_EQ(eoc->DiskCount, 2);
    EXPECT_THROW(eoc->OpenPartForReading(0), EZipArchiver);
}

// ---- damaged and edge-case tails ------------------------------------------------------

TEST_F(ZAEOCTest, SyntheticTails) {
    const std::string empty = EndRecord(0, 0, 0, 0, 0, 0, 0);
    struct {
        const char* what;
        std::string bytes;
        std::int32_t result;
        std::string comment;
        std::int64_t logicalSize;  // -1: the file size
    } cases[] = {
        {"lone empty end record", empty, 0, "", -1},
        {"comment length past the end", EndRecord(0, 0, 0, 0, 0, 0, 5), kEocGarbage, "", -1},
        {"comment cut by the end", EndRecord(0, 0, 0, 0, 0, 0, 9) + "abc", kEocGarbage, "abc", -1},
        {"garbage after the comment", EndRecord(0, 0, 0, 0, 0, 0, 2) + "okJUNK", kEocGarbage, "ok",
         24},
        {"signature inside the comment of a valid record",
         EndRecord(0, 0, 0, 0, 0, 0, 24) + "xx" + EndRecord(0, 0, 0, 0, 0, 9, 0), 0,
         "xx" + EndRecord(0, 0, 0, 0, 0, 9, 0), -1},
        {"too short for an end record", empty.substr(0, 21), -127, "", -1},
        {"no end record", std::string(100, 'x'), -127, "", -1},
        {"65535 entries without a locator",
         std::string(20, 'z') + EndRecord(0, 0, 0xFFFF, 0xFFFF, 0, 20, 0), 0, "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int32_t r = FindBytes(c.bytes);
        if (c.result < 0) {
            EXPECT_EQ(ZAMessageIdOf(r), -c.result);
            continue;
        }
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(eoc->ArchiveComment, c.comment);
        EXPECT_EQ(eoc->LogicalSize,
                  c.logicalSize < 0 ? static_cast<std::int64_t>(c.bytes.size()) : c.logicalSize);
    }
    EXPECT_EQ(eoc->TotalEntries, 0xFFFF);
}

TEST_F(ZAEOCTest, LyingZip64Locators) {
    const std::string sentinelEnd = EndRecord(0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0);
    auto locator = [](std::uint32_t disk, std::uint64_t offset, std::uint32_t total) {
        return LE32(kZip64LocatorSig) + LE32(disk) + LE64(offset) + LE32(total);
    };
    TZAZip64EndRecord z;
    z.totalEntries = z.entriesOnDisk = 1;
    std::string zrec(56, '\0');
    z.Encode(reinterpret_cast<std::uint8_t*>(zrec.data()));
    std::string badVersion = zrec;
    badVersion[14] = 46;
    std::string laterVersion = zrec;
    laterVersion[14] = 64;
    std::string shortSize = zrec;
    shortSize[4] = 40;
    TZAZip64EndRecord huge = z;
    huge.totalEntries = 9300000000000000000ull;
    std::string hugeCount(56, '\0');
    huge.Encode(reinterpret_cast<std::uint8_t*>(hugeCount.data()));
    struct {
        const char* what;
        std::string bytes;
        int message;  // 0: success
    } cases[] = {
        {"good", zrec + locator(0, 0, 1) + sentinelEnd, 0},
        {"locator past the end", zrec + locator(0, 65536, 1) + sentinelEnd, 158},
        {"locator pointing into itself", zrec + locator(0, 60, 1) + sentinelEnd, 158},
        {"disks disagree", zrec + locator(1, 0, 1) + sentinelEnd, 158},
        {"a billion disks", zrec + locator(999999999, 0, 1000000000) + sentinelEnd, 158},
        {"version 4.6: read as other readers do", badVersion + locator(0, 0, 1) + sentinelEnd, 0},
        {"version above 6.3", laterVersion + locator(0, 0, 1) + sentinelEnd, 128},
        {"record size below 44: the fields are there", shortSize + locator(0, 0, 1) + sentinelEnd,
         0},
        {"no disk count", zrec + locator(0, 0, 0) + sentinelEnd, 0},
        {"entry count beyond 31 bits", hugeCount + locator(0, 0, 1) + sentinelEnd, 158},
        {"no Zip64 record signature: ignored",
         std::string(56, 'q') + locator(0, 0, 1) + sentinelEnd, 0},
        {"no locator: sentinels kept", std::string(76, 'q') + sentinelEnd, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int32_t r = FindBytes(c.bytes);
        if (c.message != 0) {
            ASSERT_LT(r, 0);
            EXPECT_EQ(ZAMessageIdOf(r), c.message);
            EXPECT_FALSE(eoc->IsOpen());
        } else {
            EXPECT_GE(r, 0);
        }
    }
    // noZip64 leaves the 32-bit values alone.
    WriteFile(dir / "t.zip", zrec + locator(0, 65536, 1) + sentinelEnd);
    EXPECT_EQ(Find(dir / "t.zip", true), kEocPreamble);
    EXPECT_EQ(eoc->TotalEntries, 0xFFFF);
}

// ---- stubs -----------------------------------------------------------------------------

// A minimal 32-bit Windows image: DOS header, PE header, one section whose
// raw data ends at 0x300.
std::string MinimalImage() {
    std::string img(0x300, '\0');
    img[0] = 'M';
    img[1] = 'Z';
    img.replace(60, 4, LE32(64));
    img.replace(64, 4, std::string("PE\0\0", 4));
    img.replace(68, 2, LE16(0x014C));
    img.replace(70, 2, LE16(1));
    const std::size_t section = 64 + 4 + 20 + 224;
    img.replace(section + 16, 4, LE32(0x100));
    img.replace(section + 20, 4, LE32(0x200));
    return img;
}

TEST_F(ZAEOCTest, ExecutableStubIsProbedAndKept) {
    // Image, an appended-archive record of 8 bytes, then the archive.
    const std::string stub = MinimalImage() + LE32(0x0C005A44) + LE16(8) + LE16(0);
    const std::string local = LE32(kLocalHeaderSig) + std::string(26, '\0');
    const std::string archive = local + EndRecord(0, 0, 0, 0, 0, 30, 0);
    WriteFile(dir / "sfx.exe", stub + archive);
    ASSERT_EQ(Open(dir / "sfx.exe"), kEocPreamble);
    EXPECT_EQ(eoc->StartKind, kStartExecutable);
    EXPECT_EQ(eoc->ExecutableImageEnd(), 0x300);
    const auto probe = eoc->ProbeStub();
    EXPECT_EQ(probe.kind, 19);
    EXPECT_EQ(probe.stubLength, static_cast<std::int64_t>(stub.size()));
    EXPECT_EQ(eoc->StubBytes.size(), stub.size());
    EXPECT_EQ(eoc->PreambleSize, static_cast<std::int64_t>(stub.size()));

    // A damaged image is no stub.
    std::string bad = MinimalImage();
    bad[68] = 0x64;  // another machine
    WriteFile(dir / "bad.exe", bad + archive);
    ASSERT_GE(Open(dir / "bad.exe"), 0);
    EXPECT_EQ(eoc->ExecutableImageEnd(), 0);
    EXPECT_TRUE(eoc->StubBytes.empty());
}

// ---- multi-part sets written and found --------------------------------------------------

class ZAEOCSetTest : public ZAEOCTest {
protected:
    // A writer of the set `name` in parts of `partSize` bytes that has
    // written `dataSize` bytes of data beginning with the marker and a local header.
    std::unique_ptr<TZAEOC> StartSet(const std::string& name, std::int64_t partSize, int dataSize) {
        comp.Internal().MaxVolumeSize = partSize;
        comp.Internal().MinFreeVolumeSize = 0;
        comp.Internal().Unattended = true;
        auto w = std::make_unique<TZAEOC>(comp);
        w->BeginMultiPartWrite(dir / name, 300);
        std::string data = LE32(kMultiPartMarker) + LE32(kLocalHeaderSig);
        data.resize(static_cast<std::size_t>(dataSize), 'd');
        EXPECT_EQ(w->Write(data.data(), dataSize), dataSize);
        return w;
    }

    // Writes a three-part numbered set: 250 bytes of data, then the end
    // record on part 3.
    void WriteNumberedSet() {
        const auto w = StartSet("set.zip", 100, 250);
        w->CentralStartDisk = 2;
        w->CentralOffset = 50;
        w->CentralSize = 0;
        ASSERT_EQ(w->WriteEndRecords(), 22);
        ASSERT_EQ(w->FinishParts(), 0);
        EXPECT_EQ(w->DiskCount, 3);
    }
};

TEST_F(ZAEOCSetTest, MissingArchiveFoundAsNumberedParts) {
    WriteNumberedSet();
    ASSERT_FALSE(std::filesystem::exists(dir / "set.zip"));
    EXPECT_EQ(Open(dir / "set.zip"), 0);
    EXPECT_EQ(eoc->NamingScheme, kSchemeNumbered);
    EXPECT_EQ(eoc->FileName(), dir / "set003.zip");
    EXPECT_EQ(eoc->DiskCount, 3);
    // Opening the last part by name recognises the scheme from the name.
    EXPECT_EQ(Open(dir / "set003.zip"), 0);
    eoc->RecogniseNamingScheme();
    EXPECT_EQ(eoc->NamingScheme, kSchemeNumbered);
    eoc->OpenPartForReading(0);
    EXPECT_EQ(eoc->FileName(), dir / "set001.zip");
}

TEST_F(ZAEOCSetTest, PartsWithAnotherDateAreNotOneSet) {
    WriteNumberedSet();
    struct utimbuf t {
        1000000000, 1000000000
    };
    ASSERT_EQ(::utime((dir / "set002.zip").c_str(), &t), 0);
    EXPECT_EQ(ZAMessageIdOf(Open(dir / "set.zip")), 123);
    EXPECT_TRUE(eoc->FileName().empty());
    comp.Internal().SpanOptions = {spAnyTime};
    EXPECT_EQ(Open(dir / "set.zip"), 0);
}

TEST_F(ZAEOCSetTest, Zip64EndRecordsMoveWholeToTheLastPart) {
    const auto writer = StartSet("big.zip", 120, 90);
    TZAEOC& w = *writer;
    w.TotalEntries = w.CentralEntriesOnDisk = 70000;  // needs the Zip64 records
    w.CentralOffset = 8;
    w.CentralSize = 82;
    w.SetArchiveComment("c");
    // 30 bytes left: Zip64 record, locator and end record (99 bytes) go to part 2.
    ASSERT_EQ(w.WriteEndRecords(), 23);
    ASSERT_EQ(w.FinishParts(), 0);
    EXPECT_EQ(w.DiskCount, 2);
    EXPECT_EQ(std::filesystem::file_size(dir / "big002.zip"), 99u);

    // The directory is on part 1: nothing to measure against on part 2, so
    // no data in front is suspected.
    ASSERT_EQ(Find(dir / "big002.zip"), 0);
    EXPECT_EQ(eoc->DiskCount, 2);
    EXPECT_EQ(eoc->DiskNumber, 1);
    EXPECT_EQ(eoc->TotalEntries, 70000);
    EXPECT_EQ(eoc->Zip64RecordOffset, 0);
    EXPECT_EQ(eoc->ArchiveComment, "c");
}

TEST_F(ZAEOCTest, EndRecordsWrittenAndReadBack) {
    struct {
        const char* what;
        std::int32_t total;
        std::int64_t offset;
        bool zip64;
    } cases[] = {{"plain", 3, 1234, false},
                 {"many entries", 70000, 1234, true},
                 {"far offset", 1, 0x1'0000'0000ll, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TZAEOC w(comp);
        w.SetFileName(dir / "end.zip");
        ASSERT_TRUE(w.Create());
        const std::int64_t cdSize = 10;
        // Stand-in data: the offsets need not point at real headers here.
        const std::string pad(static_cast<std::size_t>(c.zip64 && c.offset > 100000 ? 8 : 1244),
                              'p');
        ASSERT_EQ(w.Write(pad.data(), static_cast<std::int32_t>(pad.size())),
                  static_cast<std::int32_t>(pad.size()));
        w.TotalEntries = w.CentralEntriesOnDisk = c.total;
        w.CentralOffset = c.offset;
        w.CentralSize = cdSize;
        w.SetArchiveComment("note");
        ASSERT_EQ(w.WriteEndRecords(), 26);
        w.Close();
        ASSERT_GE(Find(dir / "end.zip"), 0);
        EXPECT_EQ(eoc->TotalEntries, c.total);
        EXPECT_EQ(eoc->CentralOffset, c.offset);
        EXPECT_EQ(eoc->CentralSize, cdSize);
        EXPECT_EQ(eoc->HasZip64, c.zip64);
        EXPECT_EQ(eoc->ArchiveComment, "note");
        if (c.zip64) {
            EXPECT_EQ(eoc->Zip64RecordOffset, static_cast<std::int64_t>(pad.size()));
            EXPECT_EQ(eoc->Zip64Needed, 45);
        }
    }
}

}  // namespace
