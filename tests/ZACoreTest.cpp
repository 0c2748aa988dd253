#include "zip/ZACore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/FakeDialog.h"
#include "zip/ZAXcpt.h"
#include "zip/ZipArchiver.h"

namespace fs = std::filesystem;

namespace {

struct Message {
    int code;
    std::string text;
};

class CoreTest : public ::testing::Test {
protected:
    CoreTest() {
        SetUseUTF8(false);
        comp.SetDialogProvider(&dialog);
        comp.OnMessage = [this](TCustomZipArchiver&, int code, const std::string& text) {
            messages.push_back({code, text});
        };
    }

    TZipArchiver comp;
    FakeDialog dialog;
    TZACore core{comp};
    std::vector<Message> messages;
};

// --- Progress --------------------------------------------------------------------

struct Report {
    int kind;
    std::int32_t number;
    std::int64_t amount;
    const char* text;
};
struct Expected {
    int events;
    TZAProgressKind kind;
    std::string itemName;
    int itemNumber;
    std::int64_t itemPosition, itemSize, totalCount, totalPosition, totalSize, delta;
    bool inBatch;
};
struct ProgressCase {
    const char* name;
    std::vector<Report> reports;
    Expected expected;
};

TEST_F(CoreTest, ProgressReportsUpdateDetailsBeforeTheEvent) {
    const ProgressCase cases[] = {
        {"item progress in a batch",
         {{5, 0, 1000, ""}, {1, 0, 300, "a.txt"}, {2, 0, 100, ""}, {2, 0, 50, ""}},
         {4, pkItemProgress, "a.txt", 1, 150, 300, 0, 150, 1000, 50, true}},
        {"end of item is a negative new item",
         {{4, 0, 7, ""}, {1, 0, 10, "x"}, {1, 0, -1, ""}},
         {3, pkEndOfItem, "x", 1, 0, 10, 7, 0, 0, 0, false}},
        {"end of batch without a total size raises nothing",
         {{3, 0, 0, ""}},
         {0, pkNewItem, "", 0, 0, 0, 0, 0, 0, 0, false}},
        {"end of batch after a total size",
         {{5, 0, 1000, ""}, {1, 0, 5, "b"}, {3, 0, 0, ""}},
         {3, pkEndOfBatch, "", 1, 0, 0, 0, 0, 1000, 0, false}},
        {"total count clears all but the batch flag",
         {{5, 0, 1000, ""}, {1, 0, 5, "a"}, {2, 0, 3, ""}, {4, 0, 2, ""}},
         {4, pkTotalCount, "", 0, 0, 0, 2, 0, 0, 0, true}},
        {"new extra with a step number",
         {{6, 5, 40, ""}},
         {1, pkNewExtra, "*Finalising", 0, 0, 40, 0, 0, 0, 0, false}},
        {"new extra with a message id",
         {{6, 20, 3, ""}},
         {1, pkNewExtra, "Warning - Error in zip structure!", 0, 0, 3, 0, 0, 0, 0, false}},
        {"extra progress uses the low 32 bits",
         {{6, 14, 9, ""}, {7, 0, 0x100000005LL, ""}, {7, 0, 2, ""}},
         {3, pkExtraProgress, "*Processing", 0, 7, 9, 0, 0, 0, 2, false}},
        {"ticks and unknown kinds raise nothing",
         {{0, 0, 5, ""}, {8, 0, 5, ""}, {-1, 0, 5, ""}},
         {0, pkNewItem, "", 0, 0, 0, 0, 0, 0, 0, false}},
    };
    for (const auto& c : cases) {
        TZACore op(comp);
        int events = 0;
        comp.OnProgress = [&](TCustomZipArchiver&, TZAProgressDetails&) { ++events; };
        for (const auto& r : c.reports)
            op.ReportProgress(r.kind, r.number, r.amount, r.text);
        const auto& d = op.Details();
        const Expected& e = c.expected;
        SCOPED_TRACE(c.name);
        EXPECT_EQ(events, e.events);
        if (e.events > 0) {
            EXPECT_EQ(d.ProgressKind(), e.kind);
        }
        EXPECT_EQ(d.ItemName(), e.itemName);
        EXPECT_EQ(d.ItemNumber(), e.itemNumber);
        EXPECT_EQ(d.ItemPosition(), e.itemPosition);
        EXPECT_EQ(d.ItemSize(), e.itemSize);
        EXPECT_EQ(d.TotalCount(), e.totalCount);
        EXPECT_EQ(d.TotalPosition(), e.totalPosition);
        EXPECT_EQ(d.TotalSize(), e.totalSize);
        EXPECT_EQ(d.Delta(), e.delta);
        EXPECT_EQ(d.InBatch(), e.inBatch);
    }
}

TEST_F(CoreTest, ProgressTracksTotalToProcessStopAndClosing) {
    bool stopAsked = false;
    comp.OnProgress = [&](TCustomZipArchiver&, TZAProgressDetails& d) {
        if (d.ProgressKind() == pkEndOfItem)
            d.SetStop(true);
        stopAsked = d.Stop();
    };
    core.ReportProgress(5, 0, 1234, "");
    EXPECT_EQ(comp.Internal().TotalToProcess, 1234);
    core.ReportProgress(1, 0, -1, "");
    EXPECT_TRUE(core.Details().Stop());
    core.ReportProgress(5, 0, 10, "");  // a new batch starts unstopped
    EXPECT_FALSE(stopAsked);
    core.ReportProgress(4, 0, 3, "");
    EXPECT_EQ(comp.Internal().TotalToProcess, 0);

    int events = 0;
    comp.OnProgress = [&](TCustomZipArchiver&, TZAProgressDetails&) { ++events; };
    core.Closing = true;
    core.ReportProgress(1, 0, 5, "late");
    EXPECT_EQ(events, 0);
    EXPECT_NE(core.Details().ItemName(), "late");
}

// --- Skips -------------------------------------------------------------------------

TEST_F(CoreTest, SkipReportsAbortOnlyWithANegativeExtError) {
    struct Case {
        const char* name;
        bool forbidden;  // stNotFound in NoSkipping
        std::int32_t errCode;
        bool haveHandler;
        int handlerSets;  // 1 = leave as is
        int seen;
        bool aborts;
    };
    const Case cases[] = {
        {"forbidden without code becomes -17", true, 0, true, 1, -17, true},
        {"forbidden with a code keeps it negative", true, 123, true, 1, -123, true},
        {"forbidden but handler clears it", true, 0, true, 0, -17, false},
        {"allowed without code", false, 0, true, 1, 0, false},
        {"allowed, handler aborts", false, 0, true, -1, 0, true},
        {"allowed, negative code is made positive", false, -5, true, 1, 5, false},
        {"forbidden without handler", true, 0, false, 1, 0, true},
        {"allowed without handler", false, 9, false, 1, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        comp.Internal().NoSkipping = c.forbidden ? TZASkipAborts{stNotFound} : TZASkipAborts{};
        int seen = 0;
        if (c.haveHandler) {
            comp.OnSkipped = [&](TCustomZipArchiver&, const std::string& file, TZASkipTypes t,
                                 int& ext) {
                EXPECT_EQ(file, "f.txt");
                EXPECT_EQ(t, stNotFound);
                seen = ext;
                if (c.handlerSets != 1)
                    ext = c.handlerSets;
            };
        } else {
            comp.OnSkipped = nullptr;
        }
        EXPECT_EQ(core.ReportSkipping("f.txt", c.errCode, stNotFound), c.aborts);
        EXPECT_EQ(seen, c.seen);
    }
}

TEST_F(CoreTest, SkipWithoutHandlerIsAMessageOnlyWhenVerbose) {
    comp.Internal().NoSkipping = {};
    core.ReportSkipping("f.txt", 0, stNotFound);
    EXPECT_TRUE(messages.empty());
    comp.Internal().TraceBits = TZAInternal::kVerboseBit;
    core.ReportSkipping("f.txt", 0, stNotFound);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 200);
    EXPECT_EQ(messages[0].text, "Skipped f.txt 11");
}

TEST_F(CoreTest, SkippedSpecsAreListedWithTheirTypeName) {
    comp.Internal().TraceBits = TZAInternal::kTraceBit;
    comp.Internal().NoSkipping = {};
    std::vector<std::string> list;
    EXPECT_FALSE(core.ReportSkippedSpec("*.txt", 0, stNotFound, &list));
    EXPECT_FALSE(core.ReportSkippedSpec("a.zip", 0, stNoOpen, nullptr));
    EXPECT_EQ(list, std::vector<std::string>{"stNotFound<<*.txt"});
    ASSERT_GE(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 0);
    EXPECT_EQ(messages[0].text, "Trace: Skipped filespec *.txt");
    EXPECT_EQ(SkipTypeName(stNothingToDo), "stNothingToDo");
    EXPECT_EQ(SkipTypeName(static_cast<TZASkipTypes>(40)), "");
}

// --- Messages and errors -----------------------------------------------------------

TEST_F(CoreTest, ReportMessageRecordsTheFirstErrorByItsLowFiveBits) {
    struct Step {
        std::int32_t code;
        const char* text;
        int eventCode;
    };
    const std::int32_t packed199 = ZAPackCode(22, 40, 199);
    const Step steps[] = {
        {0, "plain", 0},
        {32, "low bits zero", 0},
        {ZAPackCode(5, 5, 64), "id 64", 0},
        {-packed199, "first", 7},
        {ZAPackCode(5, 5, 17), "second", 17},
    };
    for (const auto& s : steps)
        core.ReportMessage(s.code, s.text);
    ASSERT_EQ(messages.size(), std::size(steps));
    for (std::size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(messages[i].code, steps[i].eventCode) << i;
    EXPECT_EQ(core.ErrCode(), 7);  // 199 and 31
    EXPECT_EQ(core.LastFullCode(), packed199);
    EXPECT_EQ(core.ErrMessage(), "first");
}

TEST_F(CoreTest, ReportMessageIdRewritesInfoAndTraceMarks) {
    SetOnLoadStr([](int id, std::string& text) {
        if (id == 5)
            text = "!copy %s";
        if (id == 15)
            text = "#left %s";
    });
    core.ReportMessageId(5, {std::string("a")});
    core.ReportMessageId(15, {std::string("b")});
    core.ReportMessageId(200, {std::int64_t{3}});
    SetOnLoadStr(nullptr);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "info: copy a");
    EXPECT_EQ(messages[1].text, "Trace: left b");
    EXPECT_EQ(messages[2].text, " Unknown error 3");
    EXPECT_EQ(core.ErrCode(), 0);
}

TEST_F(CoreTest, ShowZipMessageShowsTheDialogOnlyWhenAllowed) {
    struct Case {
        int id;
        bool display, unattended, dialog;
    };
    const Case cases[] = {{20, true, false, true}, {20, false, false, false},
                          {20, true, true, false}, {2, true, false, false},
                          {4, true, false, false}, {194, true, false, true}};
    for (const auto& c : cases) {
        dialog.requests.clear();
        comp.Internal().ErrCode = 0;
        comp.Internal().Unattended = c.unattended;
        const std::int32_t code = ZAPackCode(2, 77, c.id);
        core.ShowZipMessage("text", code, c.display);
        EXPECT_EQ(core.ErrCode(), c.id);
        EXPECT_EQ(core.LastFullCode(), code);
        ASSERT_EQ(dialog.requests.size(), c.dialog ? 1u : 0u) << c.id;
        if (c.dialog) {
            const auto& r = dialog.requests[0];
            EXPECT_EQ(r.Value, 0x122710u);
            EXPECT_EQ(r.Buttons, TMsgDlgButtons{mbOK});
            EXPECT_EQ(r.Text, "text");
            EXPECT_EQ(r.Title, ApplicationTitle());
        }
    }
}

TEST_F(CoreTest, ShowErrorAndExceptionsUseTheirCatalogueTexts) {
    comp.Internal().Unattended = true;
    core.ShowError(ZAPackCode(9, 3, 20));
    EXPECT_EQ(core.ErrMessage(), "Warning - Error in zip structure!");
    core.ShowErrorFmt(ZAPackCode(9, 3, 199), {std::int64_t{12}, std::int64_t{9}});
    EXPECT_EQ(core.ErrMessage(), "Index (12) outside range 0..9");
    EXPECT_EQ(core.ErrCode(), 199);

    core.ShowExceptionError(std::runtime_error("boom"));
    EXPECT_EQ(core.ErrCode(), 194);
    EXPECT_EQ(core.ErrMessage(), "boom");

    comp.Internal().Unattended = false;
    dialog.requests.clear();
    core.ShowExceptionError(EZipArchiver(ZAPackCode(9, 3, 5), "q.txt"));
    EXPECT_EQ(core.ErrMessage(), "Copying: q.txt");
    EXPECT_EQ(dialog.requests.size(), 1u);
    core.ShowExceptionError(EZipArchiver(ZAPackCode(9, 3, 20), false));
    EXPECT_EQ(dialog.requests.size(), 1u);  // no display flag, no dialog
}

TEST_F(CoreTest, RangeCheckRaises199WithTheLastValidIndex) {
    EXPECT_NO_THROW(core.RangeCheck(0, 1));
    try {
        core.RangeCheck(5, 5);
        FAIL();
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.Message, "Index (5) outside range 0..4");
    }
    EXPECT_THROW(core.RangeCheck(-1, 5), EZipArchiver);
}

// --- Cancel checks ----------------------------------------------------------------

TEST_F(CoreTest, CheckCancelTicksAsksAndPumps) {
    int ticks = 0, pumps = 0;
    SetMessagePump([&] { ++pumps; });
    comp.OnTick = [&](TCustomZipArchiver&) { ++ticks; };
    EXPECT_FALSE(core.CheckCancel());
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(pumps, 1);  // no OnCheckTerminate: pending messages run

    std::vector<bool> preset;
    bool answer = false;
    comp.OnCheckTerminate = [&](TCustomZipArchiver&, bool& abort) {
        preset.push_back(abort);
        abort = answer;
    };
    EXPECT_FALSE(core.CheckCancel());
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(core.CancelCode, 0);
    answer = true;
    EXPECT_FALSE(core.CheckCancel());  // not pending on entry
    EXPECT_EQ(comp.Internal().CancelRequest, 2);
    EXPECT_TRUE(core.CheckCancel());
    EXPECT_EQ(preset, (std::vector<bool>{false, false, true}));
    try {
        core.CheckCancelAndRaise();
        FAIL();
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.MessageId, 2);
    }
    SetMessagePump(nullptr);
    core.ClearCancel();
    EXPECT_EQ(core.CancelCode, 0);
    core.Abort();
    EXPECT_EQ(core.CancelCode, 2);
    core.SetCancelRequest(0);
    EXPECT_EQ(core.CancelCode, 0);
}

// --- Temporaries -------------------------------------------------------------------

class TemporariesTest : public CoreTest {
protected:
    TemporariesTest() {
        dir = fs::temp_directory_path() /
              ("tarvik-core-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~TemporariesTest() override { fs::remove_all(dir); }
    fs::path touch(const std::string& name) {
        const fs::path p = dir / name;
        std::ofstream(p) << "x";
        return p;
    }
    fs::path dir;
};

TEST_F(TemporariesTest, SuccessRemovesOnlyAlwaysRemoveEntriesFailureRemovesAll) {
    for (const bool success : {true, false}) {
        SCOPED_TRACE(success);
        const fs::path kept = touch("kept.tmp");
        const fs::path always = touch("always.tmp");
        const fs::path folder = dir / "sub";
        fs::create_directories(folder);
        TZACore op(comp);
        op.AddTemporary(folder.string() + "/", false);
        op.AddTemporary(kept.string(), false);
        op.AddTemporary(always.string(), true);
        op.AddTemporary("/", true);  // one character: never touched
        op.Finish(success);
        EXPECT_TRUE(op.Temporaries.empty());
        EXPECT_EQ(fs::exists(kept), success);
        EXPECT_FALSE(fs::exists(always));
        EXPECT_EQ(fs::exists(folder), success);
        EXPECT_TRUE(fs::exists("/"));
    }
}

TEST_F(TemporariesTest, PathsAreExpandedAndFoldersMarked) {
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    fs::create_directories(dir / "made");
    TZACore op(comp);
    op.AddTemporary("a/../file.tmp", true);
    op.AddTemporary("made", true);
    fs::current_path(old);
    ASSERT_EQ(op.Temporaries.size(), 2u);
    EXPECT_EQ(op.Temporaries[0].Path, (dir / "file.tmp").string());
    EXPECT_EQ(op.Temporaries[1].Path, (dir / "made").string() + "/");
    op.Finish(true);
    EXPECT_FALSE(fs::exists(dir / "made"));
}

// --- Owner chains -----------------------------------------------------------------

class Tracked : public TZAWorkBin {
public:
    Tracked(std::string name, std::vector<std::string>& log, TZAWorkBin* owner = nullptr)
        : TZAWorkBin(owner), name_(std::move(name)), log_(log) {}
    ~Tracked() override { log_.push_back(name_); }

private:
    std::string name_;
    std::vector<std::string>& log_;
};

TEST(ZAWorkBinTest, OwnersDestroyTheirObjectsLastFirst) {
    std::vector<std::string> log;
    {
        Tracked root("root", log);
        CreateOwned<Tracked>("a", log, &root);
        Tracked* b = CreateOwned<Tracked>("b", log, &root);
        Tracked* c = CreateOwned<Tracked>("c", log, &root);
        CreateOwned<Tracked>("c1", log, c);
        EXPECT_EQ(root.OwnedCount(), 3);
        EXPECT_EQ(c->Owner(), &root);
        std::unique_ptr<Tracked>{b}.reset();  // early destruction unlinks it
        EXPECT_EQ(root.OwnedCount(), 2);
        EXPECT_EQ(root.Owned(1), c);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"b", "root", "c", "c1", "a"}));
}

}  // namespace
