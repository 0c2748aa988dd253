// The entry table, the zip file object and its name index: loading,
// lookups, duplicates, selection, renaming against the table, and archives
// whose end record lies.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZATestZip.h"
#include "zip/ZACenDir.h"
#include "zip/ZAIRec.h"
#include "zip/ZAXcpt.h"
#include "zip/ZAZipFile.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"

namespace {

using ztest::Entry;

class ZipFileTest : public ::testing::Test {
protected:
    ZipFileTest() {
        ::SetUseUTF8(true);
        comp.SetDialogProvider(&dialog);
        comp.OnMessage = [this](TCustomZipArchiver&, int code, const std::string&) {
            if (code != 0) {
                codes.push_back(code);
            }
        };
    }
    ~ZipFileTest() override { ::SetUseUTF8(false); }

    // Opens `bytes` as an archive; the open result.
    std::int32_t Open(TZAZipFile& zf, const std::string& bytes) {
        zf.SetFileName(dir.Write("t" + std::to_string(++files) + ".zip", bytes));
        return zf.Open(false, false);
    }

    ztest::TempDir dir;
    ztest::RecordingDialog dialog;
    TZipArchiver comp;
    std::vector<int> codes;
    int files = 0;
};

TEST(DirHashListTest, BucketCountsFollowThePrimeTable) {
    const struct {
        std::int32_t n, buckets;
    } cases[] = {{0, 61},        {1, 61},        {61, 61},        {62, 131},
                 {1283, 1283},   {11999, 12289}, {12000, 10243},  {20000, 18433},
                 {65537, 40961}, {70000, 65537}, {1000000, 65537}};
    for (const auto& c : cases) {
        EXPECT_EQ(TZADirHashList::BucketCountFor(c.n), c.buckets) << c.n;
    }
}

TEST(NameHashTest, CaseAndSeparatorOfAsciiOnly) {
    EXPECT_EQ(NameHashOf("Dir/File.TXT"), NameHashOf("dir\\file.txt"));
    EXPECT_NE(NameHashOf("\xC3\x84.txt"), NameHashOf("\xC3\xA4.txt"));  // Ä / ä
    EXPECT_EQ(NameHashOf(""), 0u);
}

TEST_F(ZipFileTest, TableGrowsInStepsOf64RoundedTo16) {
    TZACentral table(comp);
    EXPECT_EQ(table.Capacity(), 0);
    table.Add(std::make_unique<TZAZRec>(table));
    EXPECT_EQ(table.Capacity(), 80);
    for (int i = 1; i < 80; ++i) {
        table.Add(std::make_unique<TZAZRec>(table));
    }
    EXPECT_EQ(table.Capacity(), 80);
    table.Add(std::make_unique<TZAZRec>(table));
    EXPECT_EQ(table.Capacity(), 160);
    EXPECT_EQ(table.TruncateFrom(-5), 81);
    EXPECT_THROW(table.Entry(0), EZAException);
}

TEST_F(ZipFileTest, LoadsAndFindsNamesIgnoringAsciiCaseAndSeparator) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"Dir/File.TXT", "abc"},
                                        {"other.txt", "x"},
                                        {"\xC3\x84rger.txt", "u", 0x800}})),
              0);
    ASSERT_EQ(zf.Count(), 3);
    EXPECT_EQ(zf.Entry(0).FileName(), "Dir/File.TXT");
    EXPECT_EQ(zf.Entry(2).FileName(), "\xC3\x84rger.txt");
    const struct {
        const char* name;
        std::int32_t index;
    } lookups[] = {{"dir\\file.txt", 0},
                   {"DIR/FILE.txt", 0},
                   {"OTHER.TXT", 1},
                   {"\xC3\x84rger.txt", 2},
                   {"\xC3\xA4rger.txt", kNoIndex},
                   {"missing", kNoIndex},
                   {"", kNoIndex}};
    for (const auto& l : lookups) {
        std::int32_t index = -1;
        zf.FindName(l.name, index, false);
        EXPECT_EQ(index, l.index) << l.name;
        // The linear search of the table agrees with the index.
        index = -1;
        zf.TZACentral::FindName(l.name, index, false);
        EXPECT_EQ(index, l.index) << l.name;
    }
    std::int32_t index = -1;
    ASSERT_NE(zf.FindName("*.txt", index, true), nullptr);
    EXPECT_EQ(index, 0);
    EXPECT_NE(zf.FindName("*.txt", index, true), nullptr);
    EXPECT_EQ(index, 1);
    EXPECT_NE(zf.FindName("*.txt", index, true), nullptr);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(zf.FindName("*.txt", index, true), nullptr);
    EXPECT_EQ(index, kNoIndex);
}

TEST_F(ZipFileTest, DuplicatesAreFoundInBothDirectionsAndDeletedOnesAreIgnored) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"a.txt", "1"},
                                        {"b.txt", "2"},
                                        {"A.TXT", "3"},
                                        {"\xC3\xA4.txt", "4", 0x800},
                                        {"\xC3\x84.txt", "5", 0x800}})),
              0);
    EXPECT_EQ(zf.FindDuplicate(zf.Entry(2)), 0);
    EXPECT_EQ(zf.FindDuplicate(zf.Entry(0)), 2);
    EXPECT_LT(zf.FindDuplicate(zf.Entry(1)), 0);
    EXPECT_LT(zf.FindDuplicate(zf.Entry(3)), 0);  // non-ASCII case counts
    // Only "A.TXT" meets a name already indexed.
    EXPECT_EQ(zf.RebuildHash(0, true), 1);
    zf.Entry(0).SetStatus(esDeleted);
    EXPECT_LT(zf.FindDuplicate(zf.Entry(2)), 0);
    std::int32_t index = -1;
    EXPECT_NE(zf.FindName("a.txt", index, false), nullptr);  // lookups still see it
}

TEST_F(ZipFileTest, EntriesAddedAfterLoadingAreIndexedByTheNextLookup) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"a.txt", "1"}, {"b.txt", "2"}})), 0);
    auto add = [&zf](const char* name) {
        auto e = zf.CloneEntry(zf.Entry(0));
        e->SetStoredName(name);
        return zf.Add(std::move(e));
    };
    auto find = [&zf](const char* name) {
        std::int32_t index = -1;
        zf.FindName(name, index, false);
        return index;
    };
    ASSERT_EQ(add("c.txt"), 2);  // before any lookup
    EXPECT_EQ(find("C.TXT"), 2);
    EXPECT_EQ(find("a.txt"), 0);
    ASSERT_EQ(add("d.txt"), 3);  // after one
    ASSERT_EQ(add("A.TXT"), 4);
    EXPECT_EQ(find("d.txt"), 3);
    EXPECT_EQ(find("a.txt"), 0);  // the first of equal names stays the one found
    ASSERT_EQ(add("e.txt"), 5);
    EXPECT_EQ(zf.FindDuplicate(zf.Entry(4)), 0);
    EXPECT_EQ(zf.FindLiveDuplicate("E.TXT", zf.Entry(0)), 5);
    // More buckets: everything is indexed again.
    zf.SetCapacity(20000);
    EXPECT_EQ(zf.HashList()->Length(), TZADirHashList::BucketCountFor(20000));
    for (const auto& [name, index] : {std::pair{"a.txt", 0}, {"b.txt", 1}, {"e.txt", 5}}) {
        EXPECT_EQ(find(name), index) << name;
    }
    EXPECT_EQ(zf.HashList()->Size(), 5);  // "A.TXT" is not indexed twice
    EXPECT_EQ(zf.TruncateFrom(3), 3);
    EXPECT_EQ(find("d.txt"), kNoIndex);
    EXPECT_EQ(find("c.txt"), 2);
}

TEST_F(ZipFileTest, RenamingChecksTheOtherLiveEntries) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"a.txt", "1"}, {"b.txt", "2"}, {"dir/", ""}})), 0);
    EXPECT_EQ(ZAMessageIdOf(zf.Entry(0).SetFileName("B.TXT")), 104);
    zf.Entry(1).SetStatus(esDeleted);
    EXPECT_EQ(zf.Entry(0).SetFileName("B.TXT"), 0);
    EXPECT_EQ(zf.Entry(0).FileName(), "B.TXT");
    EXPECT_EQ(ZAMessageIdOf(zf.Entry(2).SetFileName("folder")), 113);
}

TEST_F(ZipFileTest, SelectingTheSameEntryTwiceCountsItOnce) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"notes.txt", "1"}, {"image.dat", "2"}})), 0);
    std::vector<std::string> skipped;
    zf.SelectFiles({"*.txt", "notes.txt", "nothing*"}, {}, &skipped);
    EXPECT_EQ(zf.SelectedCount(), 1);
    EXPECT_TRUE(zf.Entry(0).TestStatus(esSelected));
    EXPECT_FALSE(zf.Entry(1).TestStatus(esSelected));
    EXPECT_EQ(skipped, std::vector<std::string>{"nothing*"});
    EXPECT_EQ(zf.NextSelected(-1), 0);
    EXPECT_EQ(zf.NextSelected(0), kNoIndex);
    EXPECT_EQ(zf.SelectWithExcludes("*", "*.txt", 1), 1);
    EXPECT_EQ(zf.SelectedCount(), 2);
    zf.DeselectAll();
    EXPECT_EQ(zf.SelectedCount(), 0);
}

TEST_F(ZipFileTest, DataInFrontWithUnadjustedOffsetsLoadsFromTheComputedPosition) {
    comp.SetUnattended(true);
    const std::string stub(1000, 'S');
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"x", "data"}, {"y", "more"}}, ztest::WithPrefix(stub))),
              0);
    EXPECT_EQ(zf.Count(), 2);
    EXPECT_EQ(zf.FirstLocalOffset, 1000);
    EXPECT_EQ(comp.ErrCode(), 20);  // warned, not refused
}

TEST_F(ZipFileTest, WrongCentralOffsetShowsTheWarningAndLoads) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"x", "data"}}, ztest::WithOffsetDelta(-3))), 0);
    EXPECT_EQ(zf.Count(), 1);
    ASSERT_FALSE(dialog.requests.empty());
    EXPECT_EQ(dialog.requests.back().Text, MessageText(20));
}

TEST_F(ZipFileTest, LyingCountsListWhatTheDirectoryHoldsWithAWarning) {
    comp.SetUnattended(true);
    const std::vector<Entry> three = {{"a", "1"}, {"b", "2"}, {"c", "3"}};
    const struct {
        int countDelta;
        int errCode;
    } cases[] = {{0, 0}, {+1, 20}, {+30, 20}, {-1, 20}, {-3, 20}};
    for (const auto& c : cases) {
        comp.Internal().ErrCode = 0;
        TZAZipFile zf(comp);
        const std::int32_t r =
            Open(zf, ztest::BuildZip(three, ztest::WithCountDelta(c.countDelta)));
        EXPECT_GE(r, 0) << c.countDelta;
        EXPECT_EQ(zf.Count(), 3) << c.countDelta;
        EXPECT_EQ(comp.ErrCode(), c.errCode) << c.countDelta;
    }
}

TEST_F(ZipFileTest, ACountThatWrappedAt65536IsReadByTheDirectorysSize) {
    std::vector<Entry> many;
    for (int i = 0; i < 65538; ++i) {
        many.emplace_back("f" + std::to_string(i), "");
    }
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip(many)), 0);  // the end record says 2
    EXPECT_EQ(zf.Count(), 65538);
    std::int32_t index = -1;
    EXPECT_NE(zf.FindName("f65537", index, false), nullptr);
    EXPECT_EQ(index, 65537);
    EXPECT_EQ(zf.HashList()->Length(), 65537);
}

TEST_F(ZipFileTest, EveryTruncationFailsCleanly) {
    comp.SetUnattended(true);
    const std::string whole =
        ztest::BuildZip({{"first.txt", "hello", 0, 20,
                          std::string("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9), "c1"},
                         {"second/", ""}},
                        ztest::WithComment("archive"));
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        TZAZipFile zf(comp);
        const std::int32_t r = Open(zf, whole.substr(0, cut));
        if (r >= 0) {
            // Only a cut inside the comment can leave a loadable archive.
            EXPECT_GE(cut, whole.size() - 7) << cut;
            EXPECT_EQ(zf.Count(), 2);
        } else {
            EXPECT_EQ(zf.Count(), 0) << cut;
        }
    }
}

TEST_F(ZipFileTest, ExtraFieldsThatLieAboutTheirLengthAreNotFollowed) {
    const std::string lying("\x01\x00\xF0\xFF\x00\x00", 6);  // Zip64 record claiming 65520 bytes
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"x", "1", 0, 20, lying}})), 0);
    EXPECT_TRUE(zf.Entry(0).ExtraFieldData(1).empty());
    EXPECT_EQ(zf.Entry(0).ExtraFieldLength(), 6);
}

TEST_F(ZipFileTest, WrittenDirectoryReadsBackTheSameEntries) {
    TZAZipFile zf(comp);
    ASSERT_GE(Open(zf, ztest::BuildZip({{"a.txt", "1"}, {"b/c.txt", "22"}, {"gone", "3"}},
                                       ztest::WithComment("note"))),
              0);
    zf.Entry(2).SetStatus(esDropped);
    TZAZipFile out(comp);
    const std::string outName = dir.path() + "out.zip";
    out.AssignFrom(zf);
    ASSERT_TRUE(out.Create(outName));
    EXPECT_EQ(out.Count(), 2);  // dropped entries are not copied
    out.SetArchiveComment("note");
    ASSERT_GT(out.WriteDirectory(), 0);
    out.Close();
    TZAZipFile back(comp);
    back.SetFileName(outName);
    // Only the directory was written: its offsets point at nothing, which
    // the loader reports as a warning but still reads.
    comp.SetUnattended(true);
    ASSERT_GE(back.Open(false, false), 0);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back.Entry(1).FileName(), "b/c.txt");
    EXPECT_EQ(back.Entry(1).CompressedSize(), 2);
    EXPECT_EQ(back.ArchiveComment, "note");
}

}  // namespace
