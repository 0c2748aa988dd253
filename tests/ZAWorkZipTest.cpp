// Work files and multi-part archives: plain file operations, part names,
// writing a set across part boundaries and reading it back.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "ZARecordsTestSupport.h"
#include "platform/DosTime.h"
#include "platform/ZipRecords.h"
#include "zip/ZAWZip.h"
#include "zip/ZAXcpt.h"

using namespace records_test;

namespace {

TEST(ZAWorkFile, ReadWriteSeekAndTheReadAheadBuffer) {
    ScratchFolder dir;
    TZipArchiver comp;
    TZAWorkFile f(comp);
    f.SetFileName(dir / "a.bin");
    EXPECT_EQ(f.Position(), -1);
    ASSERT_TRUE(f.Create());
    EXPECT_EQ(f.OpenMode(), kOpenCreated);
    ASSERT_EQ(f.Write("0123456789", 10), 10);
    EXPECT_EQ(f.Seek(kSeekBegin, 2), 2);
    char buf[16] = {};
    ASSERT_EQ(f.Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "234");
    // A write after a buffered read must be seen by the next read.
    EXPECT_EQ(f.Seek(kSeekBegin, 4), 4);
    ASSERT_EQ(f.Write("ab", 2), 2);
    EXPECT_EQ(f.Seek(kSeekBegin, 3), 3);
    ASSERT_EQ(f.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "3ab6");
    EXPECT_EQ(f.Read(buf, 16), 3);  // short at the end
    EXPECT_TRUE(f.IsAtEnd());
    EXPECT_EQ(f.Seek(kSeekCurrent, -20), -1);  // before the start
    EXPECT_EQ(f.Seek(kSeekEnd, -1), 9);
    EXPECT_EQ(f.Seek(kSeekBegin, 5), 5);
    EXPECT_TRUE(f.Truncate());
    EXPECT_EQ(f.FileSize(), 5);
    EXPECT_EQ(f.BytesWritten(), 12);
    EXPECT_THROW(f.ReadOrRaise(buf, 1), EZipArchiver);
    try {
        f.SeekOrRaise(kSeekBegin, -1, -5);
        FAIL();
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.MessageId, 161);
    }
    f.Close();
    EXPECT_EQ(ReadFile(dir / "a.bin"), "0123a");
    EXPECT_FALSE(TZAWorkFile(comp).Open(kOpenRead));  // no name
    TZAWorkFile folder(comp);
    folder.SetFileName(dir.path());
    EXPECT_FALSE(folder.Open(kOpenRead));
}

TEST(ZAWorkFile, TemporariesStampsRenameAndCopy) {
    ScratchFolder dir;
    TZipArchiver comp;
    std::string tempName;
    {
        TZAWorkFile t(comp);
        ASSERT_TRUE(t.CreateTemporary("zat", dir / "near.zip"));
        tempName = t.FileName();
        EXPECT_EQ(tempName.rfind(dir.path() + "/zat", 0), 0u);
        EXPECT_TRUE(t.IsOpen());
    }
    EXPECT_FALSE(std::filesystem::exists(tempName));  // deleted with the object

    const platform::DosDateTime stamp = 0x5A2B6C21;  // 2025-01-11 13:33:02
    TZAWorkFile w(comp);
    ASSERT_TRUE(w.CreateTemporary("zat", dir / "near.zip"));
    ASSERT_EQ(w.Write("payload", 7), 7);
    w.SetStamp(stamp);
    ASSERT_TRUE(w.RenameTo(dir / "final.bin", true));
    EXPECT_EQ(w.FileName(), dir / "final.bin");
    EXPECT_EQ(w.FileDate(), static_cast<std::int64_t>(stamp));
    EXPECT_FALSE(w.IsTemporary());

    TZAWorkFile src(comp);
    src.SetFileName(dir / "final.bin");
    ASSERT_TRUE(src.Open(kOpenRead));
    TZAWorkFile dst(comp);
    ASSERT_TRUE(dst.Create(dir / "copy.bin"));
    EXPECT_EQ(dst.CopyFrom(src, 7), 7);
    EXPECT_LT(dst.CopyFrom(src, 1), 0);  // source exhausted
    dst.Close();
    EXPECT_EQ(ReadFile(dir / "copy.bin"), "payload");
}

TEST(ZAWorkZip, PartNames) {
    TZipArchiver comp;
    TZAWorkZip z(comp);
    EXPECT_EQ(z.PartName("/d/set.zip", 1, false), "/d/set001.zip");
    EXPECT_EQ(z.PartName("/d/set007.zip", 12, true), "/d/set012.zip");
    EXPECT_EQ(z.PartName("/d.x/noext", 3, false), "/d.x/noext003");
    z.DiskCount = 3;
    struct {
        int disk;
        const char* name;
        const char* want;
    } compat[] = {{0, "/d/set.zip", "/d/set.z01"}, {1, "/d/set.zip", "/d/set.z02"},
                  {2, "/d/set.zip", "/d/set.zip"}, {2, "/d/SET.ZIP", "/d/SET.ZIP"},
                  {0, "/d/SET.ZIP", "/d/SET.Z01"}, {2, "/d/set.bin", "/d/set.zip"}};
    for (const auto& c : compat) {
        z.DiskNumber = c.disk;
        EXPECT_EQ(z.CompatibleName(c.name), c.want);
    }
    z.DiskCount = 20;
    z.DiskNumber = 9;
    EXPECT_EQ(z.CompatibleName("a.zip"), "a.z10");
    EXPECT_EQ(TZAWorkZip::VolumeLabelName(7), "PKBACK#007");
    z.DiskNumber = 1000;
    try {
        (void)z.PartName("a.zip", 1, false);
        FAIL();
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.MessageId, 179);
    }
}

class ZAMultiPartTest : public ::testing::Test {
protected:
    void SetUp() override {
        comp.Internal().MaxVolumeSize = 100;
        comp.Internal().MinFreeVolumeSize = 0;
        comp.Internal().Unattended = true;
    }
    // Starts a set named `name`; parts are written as Write needs them.
    void Begin(TZAWorkZip& z, const std::string& name, bool compatible) {
        TZASpanOpts span;
        if (compatible) {
            span.include(spCompatName);
        }
        comp.Internal().SpanOptions = span;
        z.BeginMultiPartWrite(name, 1000);
    }
    std::int64_t SizeOf(const std::string& p) {
        std::error_code ec;
        return static_cast<std::int64_t>(std::filesystem::file_size(p, ec));
    }

    ScratchFolder dir;
    TZipArchiver comp;
};

TEST_F(ZAMultiPartTest, RecordsMoveWholeToTheNextPartAndPlainDataIsSplit) {
    TZAWorkZip z(comp);
    Begin(z, dir / "set.zip", false);
    const std::string seventy(70, 'a');
    const std::string forty(40, 'b');
    ASSERT_EQ(z.Write(seventy.data(), 70), 70);
    // 30 bytes left: a 40-byte header goes whole to part 2.
    ASSERT_EQ(z.Write(forty.data(), RecordLength(40)), 40);
    EXPECT_EQ(z.DiskNumber, 1);
    EXPECT_EQ(SizeOf(dir / "set001.zip"), 70);
    // 60 left: a must-fit record of 70 does not start here.
    ASSERT_EQ(z.Write(seventy.data(), RecordLength(70, true)), kNewPartStarted);
    EXPECT_EQ(z.DiskNumber, 2);
    ASSERT_EQ(z.Write(seventy.data(), RecordLength(70, true)), 70);
    // Plain data is split at the boundary: 30 here, 120 -> 100 + 20.
    const std::string many(150, 'c');
    ASSERT_EQ(z.Write(many.data(), 150), 150);
    EXPECT_EQ(z.DiskNumber, 4);
    // A record larger than a whole part cannot move anywhere: it is split
    // rather than leaving empty parts behind.
    const std::string huge(250, 'd');
    ASSERT_EQ(z.Write(huge.data(), RecordLength(250)), 250);
    EXPECT_EQ(z.FinishParts(), 0);
    EXPECT_EQ(SizeOf(dir / "set002.zip"), 40);
    EXPECT_EQ(SizeOf(dir / "set003.zip"), 100);
    EXPECT_EQ(SizeOf(dir / "set004.zip"), 100);
    EXPECT_EQ(SizeOf(dir / "set005.zip"), 20);
    EXPECT_EQ(SizeOf(dir / "set006.zip"), 100);
    EXPECT_EQ(SizeOf(dir / "set007.zip"), 100);
    EXPECT_EQ(SizeOf(dir / "set008.zip"), 50);
    EXPECT_FALSE(std::filesystem::exists(dir / "set009.zip"));
    // Numbered parts keep their names when there is more than one.
    EXPECT_FALSE(std::filesystem::exists(dir / "set.zip"));
}

TEST_F(ZAMultiPartTest, CompatibleSetGetsItsLastPartRenamedAndReadsBack) {
    TZAWorkZip z(comp);
    Begin(z, dir / "set.zip", true);
    std::string data;
    for (int i = 0; i < 250; ++i) {
        data.push_back(static_cast<char>('A' + i % 26));
    }
    ASSERT_EQ(z.Write(data.data(), 250), 250);
    ASSERT_EQ(z.FinishParts(), 0);
    EXPECT_EQ(SizeOf(dir / "set.z01"), 100);
    EXPECT_EQ(SizeOf(dir / "set.z02"), 100);
    EXPECT_EQ(SizeOf(dir / "set.zip"), 50);
    EXPECT_FALSE(std::filesystem::exists(dir / "set.z03"));

    // Read it back as a three-part set.
    TZAWorkZip r(comp);
    r.SetFileName(dir / "set.zip");
    r.SetRequestedName(dir / "set.zip");
    r.DiskCount = 3;
    r.NamingScheme = kSchemeCompatible;
    r.OpenPartForReading(0);
    EXPECT_EQ(r.FileName(), dir / "set.z01");
    std::string back(250, '\0');
    ASSERT_EQ(r.Read(back.data(), 250), 250);
    EXPECT_EQ(back, data);
    EXPECT_EQ(r.DiskNumber, 2);

    // Fields of a gathered record may change parts between fields, never
    // inside one: 20 + 76 + 4 ends exactly at the boundary, the next 8 bytes
    // straddle it as 4 + 4 fields but not as one 8-byte field.
    r.OpenPartForReading(0);
    char buf[128];
    const int widths[] = {20, 76, 4, 4, 4};
    ASSERT_EQ(r.ReadGather(buf, widths, 4), 108);
    EXPECT_EQ(std::string(buf + 100, 8), data.substr(100, 8));
    r.OpenPartForReading(0);
    ASSERT_EQ(r.Read(buf, -96), 96);
    EXPECT_EQ(ZAMessageIdOf(r.Read(buf, -8)), 176);
    // A missing part is an error, not a prompt.
    r.NamingScheme = kSchemeNumbered;
    EXPECT_THROW(r.OpenPartForReading(1), EZipArchiver);
}

TEST_F(ZAMultiPartTest, SpaceOptionsAndSingleNumberedPart) {
    comp.Internal().KeepFreeOnDisk1 = 1000;
    comp.Internal().MaxVolumeSize = 5000;
    TZAWorkZip z(comp);
    Begin(z, dir / "one.zip", false);
    ASSERT_EQ(z.Write("x", 1), 1);
    // Rounded up to whole sectors, and part 1 keeps that much free.
    EXPECT_EQ(comp.Internal().KeepFreeOnDisk1, 1024u);
    EXPECT_EQ(z.SpaceLeft(), 5000 - 1024 - 1);
    // A single numbered part takes the requested name.
    ASSERT_EQ(z.FinishParts(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "one.zip"));
    EXPECT_FALSE(std::filesystem::exists(dir / "one001.zip"));

    // Less room than MinFreeVolumeSize: refused (no dialog box to ask).
    comp.Internal().MinFreeVolumeSize = 6000;
    TZAWorkZip y(comp);
    Begin(y, dir / "two.zip", false);
    EXPECT_EQ(ZAMessageIdOf(y.Write("x", 1)), 121);
    EXPECT_FALSE(std::filesystem::exists(dir / "two001.zip"));
}

TEST_F(ZAMultiPartTest, ExistingPartsAskTheStatusHandler) {
    WriteFile(dir / "set001.zip", "old");
    int calls = 0;
    comp.OnStatusDisk = [&](TCustomZipArchiver&, int part, const std::string& file,
                            TZAZipDiskStatus status, TZADiskAction& action) {
        ++calls;
        EXPECT_EQ(part, 1);
        EXPECT_EQ(file, dir / "set001.zip");
        EXPECT_TRUE(status.contains(zdsSameFileName));
        action = zdaCancel;
    };
    TZAWorkZip z(comp);
    Begin(z, dir / "set.zip", false);
    EXPECT_EQ(ZAMessageIdOf(z.Write("x", 1)), 2);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ReadFile(dir / "set001.zip"), "old");
}

}  // namespace
