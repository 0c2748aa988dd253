// The entry record's compact storage: texts kept apart from the record,
// the display name shared with the stored bytes, and the on-disk name kept
// while a rename is not yet written.
#include <gtest/gtest.h>

#include <string>

#include "ZARecordsTestSupport.h"
#include "zip/ZAIRec.h"
#include "zip/ZAUTF8.h"
#include "zip/ZAWZip.h"

using namespace records_test;

namespace {

class ZAIRecTest : public ::testing::Test {
protected:
    void SetUp() override { SetUseUTF8(true); }
    void TearDown() override { SetUseUTF8(false); }

    ScratchFolder dir;
    TZipArchiver comp;
    TZAWorkZip zf{comp};
};

TEST_F(ZAIRecTest, TextsSurviveCopiesAndReadEmptyOnceCleared) {
    const std::string extra = LE16(0x5455) + LE16(1) + "\x01";
    struct Case {
        const char* what;
        std::string stored;
        std::string shown;
    } cases[] = {
        {"display name is the stored bytes", "dir/a.txt", "dir/a.txt"},
        {"display name differs from the stored bytes", "dir\\a.txt", "dir/a.txt"},
        {"OEM bytes decoded", "\x84.txt", "\xC3\xA4.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TZAZRec r(zf);
        r.SetStoredName(c.stored);
        r.SetVersionMadeBy(0x0014);
        r.SetStoredComment("note");
        r.SetExtraFieldRaw(extra);
        r.SetSelectionArgs("-r");
        r.SetAuxText("aux");
        r.SetStatus(esSelected);
        EXPECT_EQ(r.FileName(), c.shown);

        TZAZRec copy(zf);
        copy.AssignFrom(r);
        EXPECT_EQ(copy.StoredName(), c.stored);
        EXPECT_EQ(copy.FileName(), c.shown);
        EXPECT_EQ(copy.StoredComment(), "note");
        EXPECT_EQ(copy.FileComment(), "note");
        EXPECT_EQ(copy.ExtraField(), extra);
        EXPECT_EQ(copy.ExtraFieldLength(), extra.size());
        EXPECT_EQ(copy.SelectionArgs(), "-r");
        EXPECT_EQ(copy.AuxText(), "aux");
        EXPECT_EQ(copy.LastStoredName(), r.LastStoredName());
        EXPECT_EQ(copy.EntryStatus(), r.EntryStatus());

        r.SetStoredComment("");
        r.SetExtraFieldRaw("");
        r.Select(0);
        EXPECT_EQ(r.StoredCommentLength(), 0);
        EXPECT_EQ(r.ExtraField(), "");
        EXPECT_EQ(r.ExtraFieldData(0x5455), "");
        EXPECT_EQ(r.SelectionArgs(), "");
        EXPECT_EQ(copy.StoredComment(), "note");  // the copy has its own texts
        EXPECT_EQ(copy.ExtraFieldData(0x5455), "\x01");

        // A new stored name is decoded again.
        r.SetStoredName("x\\y");
        EXPECT_EQ(r.FileName(), "x/y");
        r.SetStoredName("plain");
        EXPECT_EQ(r.FileName(), "plain");
    }
}

TEST_F(ZAIRecTest, TheNameOnDiskChangesOnlyWhenTheHeaderIsWritten) {
    const std::string path = dir / "names.bin";
    zf.SetFileName(path);
    ASSERT_TRUE(zf.Create());
    TZAZRec r(zf);
    r.SetStoredName("a.txt");
    EXPECT_EQ(r.LastStoredName(), "");  // nothing written yet
    ASSERT_GT(r.WriteCentralHeader(), 0);
    EXPECT_EQ(r.LastStoredName(), "a.txt");
    ASSERT_EQ(r.SetFileName("b.txt"), 0);
    ASSERT_EQ(r.SetFileName("c.txt"), 0);
    EXPECT_EQ(r.StoredName(), "c.txt");
    EXPECT_EQ(r.LastStoredName(), "a.txt");

    TZAZRec copy(zf);
    copy.AssignFrom(r);
    EXPECT_EQ(copy.LastStoredName(), "a.txt");

    ASSERT_EQ(r.SetFileName("a.txt"), 0);  // back to the name on disk
    EXPECT_EQ(r.LastStoredName(), "a.txt");
    ASSERT_EQ(r.SetFileName("d.txt"), 0);
    ASSERT_GT(r.WriteCentralHeader(), 0);
    EXPECT_EQ(r.LastStoredName(), "d.txt");
    EXPECT_EQ(copy.LastStoredName(), "a.txt");
    zf.Close();
}

}  // namespace
