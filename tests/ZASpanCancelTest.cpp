// Cancelling the final write of a multi-part set: span, the spanned
// self-extracting set and the spanned add (to a set and to a self-extracting
// set, through the engine) stop when a progress handler cancels in the
// first, a middle or the last part, or once every part is written; the
// cancel is reported as the user's (message 2), the old archive or set stays
// byte-identical and nothing of the new set is left, neither beside the old
// one nor in the temporary folder. The rewrites into one file (delete, a
// self-extracting program, join) stop at a cancel as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>

#include "sfx/core/sfxblock.h"
#include "sfx/res/ZAResSFX.h"
#include "tests/RewriteTestSupport.h"
#include "zip/ZACore.h"

using namespace rewrite_test;
namespace fs = std::filesystem;

namespace {

// Every file below `folder` with its bytes, by relative path.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) {
            files[fs::relative(e.path(), folder).string()] = ReadFile(e.path().string());
        }
    }
    return files;
}

// The files in the folders below `temp`: the parts of a set being written
// (and its program) stand in a folder of their own there.
int StagedFiles(const std::string& temp) {
    int n = 0;
    for (const auto& folder : fs::directory_iterator(temp)) {
        if (folder.is_directory()) {
            for (const auto& e : fs::directory_iterator(folder.path())) {
                n += e.is_regular_file() ? 1 : 0;
            }
        }
    }
    return n;
}

enum class Operation { Span, SpanSFX, SpannedAdd, SpannedAddToSFX };

struct OperationCase {
    const char* name;
    Operation op;
    // How often the entries are copied up to the final write (an add first
    // copies the old set into a single archive for the engine), and how many
    // copies end before the final write is complete (the program of a
    // self-extracting set is written after its parts).
    int copies;
    int batches;
    bool needsStub;
};

void PrintTo(const OperationCase& c, std::ostream* os) {
    *os << c.name;
}

struct CancelPoint {
    const char* name;
    TZAProgressKind kind;
    const char* item;  // the entry whose start is reported
    int staged;        // parts begun by then; 0: all of them written
};

class ZASpanCancel : public ::testing::TestWithParam<OperationCase> {
protected:
    void SetUp() override {
        if (GetParam().needsStub && FindRawResource(SFX_STUB_RESOURCE_NAME).empty()) {
            GTEST_SKIP() << "built without the self-extractor stub";
        }
        // Seven entries of 100,000 bytes in parts of 250 KiB: b1 starts in
        // the first part, b4 in the second, b7 in the third.
        MakeArchive(src, src / "a.zip", 1, 7, 100000);
        Shell("head -c 100000 /dev/urandom > " + Quote(work / "neu.bin"));
        const OperationCase& c = GetParam();
        // The old archive or set the operation is to replace.
        if (c.op == Operation::Span) {
            fs::copy_file(src / "a.zip", work / "a.zip");
            return;
        }
        // An add adds to a set of the same entries; the conversion replaces
        // a self-extracting set of others.
        const bool add = c.op != Operation::SpanSFX;
        if (!add) {
            MakeArchive(src, src / "old.zip", 2, 3, 90000);
        }
        Component old(src / (add ? "a.zip" : "old.zip"));
        SetPartOptions(old.zip);
        if (c.op == Operation::SpannedAdd) {
            ASSERT_EQ(old.zip.Span(work / "t.zip"), 0);
            ASSERT_TRUE(fs::exists(work / "t.z02"));
        } else {
            ASSERT_EQ(old.zip.ConvertToSpanSFX(work / "p.exe"), 0);
            ASSERT_TRUE(fs::exists(work / "p002.zip"));
        }
    }

    void SetPartOptions(TZipArchiver& zip) {
        zip.SetMaxVolumeSize(250 * 1024);
        zip.SetSpanOptions(TZASpanOpts{spCompatName});
        zip.SetTempDir(temp.path());
        zip.SetHowToDelete(htdFinal);
    }

    // Runs the operation; its message number (0 when it worked).
    int Run(Component& comp) {
        TZipArchiver& zip = comp.zip;
        switch (GetParam().op) {
            case Operation::Span:
                zip.SetZipFileName(work / "a.zip");
                SetPartOptions(zip);
                return zip.Span();
            case Operation::SpanSFX:
                zip.SetZipFileName(src / "a.zip");
                SetPartOptions(zip);
                return zip.ConvertToSpanSFX(work / "p.exe");
            case Operation::SpannedAdd:
            case Operation::SpannedAddToSFX:
                zip.SetDLLDirectory(TARVIK_ENGINE_PATH);
                zip.SetRootDir(work.path());
                zip.SetZipFileName(work /
                                   (GetParam().op == Operation::SpannedAdd ? "t.zip" : "p.exe"));
                SetPartOptions(zip);
                zip.SetWriteOptions(zip.WriteOptions() + zwoDiskSpan);
                zip.SetFSpecArgs({"neu.bin"});
                zip.Add();
                return zip.ErrCode();
        }
        return -1;
    }

    ScratchFolder src;
    ScratchFolder work;
    ScratchFolder temp;
};

TEST_P(ZASpanCancel, CancelKeepsTheOldFilesAndLeavesNothing) {
    const OperationCase& c = GetParam();
    const CancelPoint points[] = {
        {"in the first part", pkNewItem, "b1.bin", 1},
        {"in a middle part", pkNewItem, "b4.bin", 2},
        {"in the last part", pkNewItem, "b7.bin", 3},
        {"after the last part", pkEndOfBatch, "", 0},
    };
    const auto before = Snapshot(work.path());
    for (const CancelPoint& p : points) {
        SCOPED_TRACE(p.name);
        Component comp;
        int seen = 0;
        int staged = -1;
        int startedAfterCancel = 0;
        comp.zip.OnProgress = [&](TCustomZipArchiver& z, TZAProgressDetails& d) {
            // Only the reports of the objects that copy count, not those of
            // the engine's job.
            TZACore* op = z.CurrentOperation();
            if (op == nullptr || &d == &op->Details()) {
                return;
            }
            if (staged >= 0) {
                // The write must stop where it is, not go on to the end.
                startedAfterCancel += d.ProgressKind() == pkNewItem ? 1 : 0;
                return;
            }
            if (d.ProgressKind() != p.kind || d.ItemName() != p.item) {
                return;
            }
            const int wanted = p.kind == pkEndOfBatch ? c.batches : c.copies;
            if (++seen == wanted) {
                staged = StagedFiles(temp.path());
                z.SetCancel(true);
            }
        };
        EXPECT_EQ(Run(comp), 2) << comp.zip.ErrMessage();
        EXPECT_EQ(startedAfterCancel, 0);
        if (p.staged > 0) {
            EXPECT_EQ(staged, p.staged);
        } else {
            EXPECT_GE(staged, 3);
        }
        EXPECT_TRUE(Snapshot(work.path()) == before);
        EXPECT_TRUE(fs::is_empty(temp.path()));
    }
    // Without a cancel the same operation writes the new set.
    Component comp;
    ASSERT_EQ(Run(comp), 0) << comp.zip.ErrMessage();
    EXPECT_FALSE(Snapshot(work.path()) == before);
    EXPECT_TRUE(fs::is_empty(temp.path()));
    Component back(work / (c.op == Operation::Span         ? "a.zip"
                           : c.op == Operation::SpannedAdd ? "t.zip"
                                                           : "p.exe"));
    const bool added = c.op == Operation::SpannedAdd || c.op == Operation::SpannedAddToSFX;
    EXPECT_EQ(back.zip.Count(), added ? 9 : 8);
}

// The rewrites into one file stop at the next entry: the old archive or
// target stays as it was.
TEST(ZASpanCancelSingleFile, RewritesStopAtACancelToo) {
    struct Case {
        const char* name;
        std::function<void(TZipArchiver&, const ScratchFolder&)> run;
    };
    const Case cases[] = {
        {"delete",
         [](TZipArchiver& zip, const ScratchFolder&) {
             zip.SetFSpecArgs({"t1.txt"});
             zip.Delete();
         }},
        {"program over an old one",
         [](TZipArchiver& zip, const ScratchFolder&) { zip.ConvertToSFX(); }},
        {"join over an old archive",
         [](TZipArchiver& zip, const ScratchFolder& d) { zip.Join(d / "j.zip"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder dir;
        ScratchFolder temp;
        MakeArchive(dir, dir / "a.zip", 1, 7, 100000);
        WriteFile(dir / "a.exe", "an old program");
        WriteFile(dir / "j.zip", "an old archive");
        const auto before = Snapshot(dir.path());
        Component comp(dir / "a.zip");
        comp.zip.SetTempDir(temp.path());
        bool cancelled = false;
        int startedAfterCancel = 0;
        comp.zip.OnProgress = [&](TCustomZipArchiver& z, TZAProgressDetails& d) {
            if (d.ProgressKind() != pkNewItem) {
                return;
            }
            startedAfterCancel += cancelled ? 1 : 0;
            if (d.ItemName() == "b4.bin" && !cancelled) {
                cancelled = true;
                z.SetCancel(true);
            }
        };
        c.run(comp.zip, dir);
        EXPECT_TRUE(cancelled);
        EXPECT_EQ(comp.zip.ErrCode(), 2) << comp.zip.ErrMessage();
        EXPECT_EQ(startedAfterCancel, 0);
        EXPECT_TRUE(Snapshot(dir.path()) == before);
        EXPECT_TRUE(fs::is_empty(temp.path()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ZASpanCancel,
    ::testing::Values(OperationCase{"Span", Operation::Span, 1, 1, false},
                      OperationCase{"SpanSFX", Operation::SpanSFX, 1, 2, true},
                      OperationCase{"SpannedAdd", Operation::SpannedAdd, 2, 2, false},
                      OperationCase{"SpannedAddToSFX", Operation::SpannedAddToSFX, 2, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
