#include "zip/ZipArchiver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/FakeDialog.h"
#include "zip/ZAXcpt.h"

namespace {

class ArchiverTest : public ::testing::Test {
protected:
    ArchiverTest() {
        SetUseUTF8(false);
        comp.SetDialogProvider(&dialog);
        comp.OnMessage = [this](TCustomZipArchiver&, int code, const std::string& text) {
            codes.push_back(code);
            texts.push_back(text);
        };
        comp.OnStateChange = [this](TCustomZipArchiver&, int state, bool&) {
            states.push_back(state);
        };
    }
    TZipArchiver comp;
    FakeDialog dialog;
    std::vector<int> codes;
    std::vector<std::string> texts;
    std::vector<int> states;
};

TEST_F(ArchiverTest, RunFrameReportsErrorsAndReturnsToIdle) {
    comp.Internal().Unattended = true;
    struct Case {
        const char* name;
        std::function<void()> body;
        int errCode;
        std::string errMessage;
    };
    const Case cases[] = {
        {"component error",
         [] {
             throw EZipArchiver(ZAPackCode(22, 3, 199), {std::int64_t{10}, std::int64_t{9}});
         },
         199, "Index (10) outside range 0..9"},
        {"foreign exception", [] { throw std::runtime_error("disk on fire"); }, 1,
         "Unknown Errordisk on fire"},
        {"success", [] {}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        states.clear();
        comp.Internal().ErrCode = 55;  // cleared by the frame
        EXPECT_EQ(comp.RunOperation(c.body), c.errCode == 0);
        EXPECT_EQ(comp.ErrCode(), c.errCode);
        EXPECT_EQ(comp.ErrMessage(), c.errMessage);
        EXPECT_EQ(comp.BusyCount(), 0);
        EXPECT_EQ(comp.State(), zsIdle);
        EXPECT_EQ(states.front(), zsBusy);
        EXPECT_EQ(states.back(), zsIdle);
    }
}

TEST_F(ArchiverTest, ReentryIsRefusedAndCounted) {
    comp.Internal().TraceBits = TZAInternal::kVerboseBit;
    bool innerRan = false;
    bool refusedSetter = false;
    comp.RunOperation([&] {
        EXPECT_TRUE(comp.IsBusy());
        EXPECT_FALSE(comp.RunOperation([&] { innerRan = true; }));
        refusedSetter = comp.RefuseWhileBusy();
        EXPECT_EQ(comp.State(), zsReentry);
    });
    EXPECT_FALSE(innerRan);
    EXPECT_TRUE(refusedSetter);
    EXPECT_EQ(comp.ReentryCount(), 2);
    EXPECT_EQ(comp.State(), zsReentered);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Trace: Re-entry"), 2);
    EXPECT_FALSE(comp.RefuseWhileBusy());
}

TEST_F(ArchiverTest, InactiveComponentDoesNothingAndDeactivationWaitsForTheFrame) {
    comp.SetActive(false);
    EXPECT_EQ(comp.State(), zsDisabled);
    EXPECT_EQ(comp.ErrCode(), 197);
    bool ran = false;
    EXPECT_FALSE(comp.RunOperation([&] { ran = true; }));
    EXPECT_FALSE(ran);
    comp.SetActive(true);
    EXPECT_EQ(comp.ActiveState(), 1);
    EXPECT_EQ(comp.State(), zsIdle);
    comp.RunOperation([&] {
        comp.SetActive(false);
        EXPECT_EQ(comp.ActiveState(), -3);
    });
    EXPECT_EQ(comp.ActiveState(), 0);
    EXPECT_EQ(comp.State(), zsDisabled);
}

TEST_F(ArchiverTest, ErrorsInsideTheFrameShowTheDialogAfterItEnds) {
    comp.RunOperation([] { throw EZipArchiver(ZAPackCode(22, 3, 5), "x.txt"); });
    ASSERT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(dialog.requests[0].Text, "Copying: x.txt");
    comp.RunOperation([] { throw EZipArchiver(ZAPackCode(22, 3, 2), true); });
    EXPECT_EQ(dialog.requests.size(), 1u);  // a user cancel is never shown
    EXPECT_EQ(comp.ErrCode(), 2);
}

TEST_F(ArchiverTest, FailureRemovesTheOperationsTemporaries) {
    namespace fs = std::filesystem;
    comp.Internal().Unattended = true;
    const fs::path tmp = fs::temp_directory_path() / "tarvik-frame-temp.tmp";
    for (const bool fail : {false, true}) {
        std::ofstream(tmp) << "x";
        comp.RunOperation([&] {
            TZACore& op = comp.StartWork<TZACore>();
            op.AddTemporary(tmp.string(), false);
            if (fail)
                throw EZipArchiver(ZAPackCode(22, 3, 20), false);
        });
        EXPECT_EQ(fs::exists(tmp), !fail);
        EXPECT_EQ(comp.CurrentOperation(), nullptr);
    }
    fs::remove(tmp);
}

TEST_F(ArchiverTest, CancelReachesTheRunningOperation) {
    comp.RunOperation([&] {
        TZACore& op = comp.StartWork<TZACore>();
        comp.SetCancel(true);
        EXPECT_EQ(op.CancelCode, 2);
        EXPECT_TRUE(comp.Cancel());
        op.CheckCancelAndRaise();
        ADD_FAILURE() << "the cancel should have raised";
    });
    EXPECT_EQ(comp.ErrCode(), 2);
    comp.SetCancel(false);
    EXPECT_FALSE(comp.Cancel());
}

TEST_F(ArchiverTest, ZipDialogAsksTheHandlerFirstThenTheProvider) {
    struct Case {
        const char* name;
        bool handler;
        int handlerResult;  // 0 = leave the preset value
        std::uint32_t value;
        TZADialogAnswer answer;
        int expected;
        std::string msgAfter;
        std::size_t boxes;
    };
    const Case cases[] = {
        {"handler answers", true, 7, 0x102716, {mrOk, ""}, 7, "from handler", 0},
        {"handler passes", true, 0, 0x102716, {mrRetry, ""}, mrRetry, "ask", 1},
        {"password ok", false, 0, zdPassword | 10003, {mrOk, "secret"}, mrOk, "secret", 1},
        {"password cancelled", false, 0, zdPassword | 10003, {mrCancel, "typed"}, mrCancel, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialog.requests.clear();
        dialog.answer = c.answer;
        if (c.handler) {
            comp.OnZipDialog = [&](TCustomZipArchiver&, const std::string&, std::string& msg,
                                   int& result, TMsgDlgButtons) {
                EXPECT_EQ(result, static_cast<int>(c.value));
                msg = "from handler";
                if (c.handlerResult != 0)
                    result = c.handlerResult;
            };
        } else {
            comp.OnZipDialog = nullptr;
        }
        std::string msg = "ask";
        EXPECT_EQ(comp.ZipDialog("T", msg, {mbOK, mbCancel}, c.value), c.expected);
        EXPECT_EQ(msg, c.msgAfter);
        EXPECT_EQ(dialog.requests.size(), c.boxes);
    }
}

TEST_F(ArchiverTest, ZipDialogTitlesAndMissingProvider) {
    comp.Internal().TraceBits = TZAInternal::kTraceBit;
    std::string msg = "m";
    comp.ZipDialog("", msg, {mbOK}, zdInformation | 10000);
    ASSERT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(dialog.requests[0].Title, ApplicationTitle() + "   (10000)");
    EXPECT_EQ(dialog.requests[0].Kind(), zdInformation);
    EXPECT_EQ(DialogKind(0x2710), zdWarning);

    comp.SetDialogProvider(nullptr);
    msg = "typed";
    EXPECT_EQ(comp.ZipDialog("T", msg, {mbOK}, zdPassword | 10004), mrNone);
    EXPECT_EQ(msg, "");
}

TEST_F(ArchiverTest, StampsAndDefaults) {
    TZACore a(comp), b(comp);
    const int first = a.NextStamp();
    EXPECT_EQ(b.NextStamp(), first + 1);
    const TZAInternal& in = comp.Internal();
    EXPECT_EQ(in.AddCompLevel, 9);
    EXPECT_EQ(in.NoSkipping, (TZASkipAborts{stDupName, stReadError}));
    EXPECT_FALSE(in.AddStoreSuffixes.contains(assEXE));
    EXPECT_FALSE(in.AddStoreSuffixes.contains(assEXT));
    EXPECT_TRUE(in.AddStoreSuffixes.contains(assAVI));
    EXPECT_TRUE(in.AddStoreSuffixes.contains(assGIF));
    EXPECT_EQ(in.AddStoreSuffixes.bits(), 0x07F9FFFFu);
    EXPECT_EQ(comp.ActiveState(), 2);
    EXPECT_EQ(comp.Version(), "1.9.1.0023");
}

TEST(ZATypesTest, SetsBehaveLikeBitSets) {
    TZAAddOpts o{AddDirNames, AddEncrypt};
    EXPECT_EQ(o.bits(), 0x0101);
    o = o + AddNTFS - AddDirNames;
    EXPECT_EQ(o.bits(), 0x2100);
    EXPECT_TRUE(o.contains(AddNTFS));
    EXPECT_FALSE(o.contains(AddDirNames));
    EXPECT_EQ((o * TZAAddOpts{AddNTFS, AddMove}), TZAAddOpts{AddNTFS});
    EXPECT_EQ(TZASFXOpts{soSuccessAlways}.bits(), 0x800);
    EXPECT_EQ(TZAAddOpts::FromBits(0x2100), o);
}

TEST(ZAInternalTest, IconAndOwnedObjectAreOwned) {
    TZAInternal in;
    TZAIcon icon{{1, 2, 3}};
    in.SetSFXIcon(&icon);
    ASSERT_NE(in.SFXIcon(), nullptr);
    EXPECT_NE(in.SFXIcon(), &icon);  // a copy
    icon.Data.clear();
    EXPECT_EQ(in.SFXIcon()->Data.size(), 3u);
    in.SetSFXIcon(&icon);  // empty frees it
    EXPECT_EQ(in.SFXIcon(), nullptr);

    struct Probe : TZAOwnedObject {
        explicit Probe(bool& f) : freed(f) {}
        ~Probe() override { freed = true; }
        bool& freed;
    };
    bool firstFreed = false, secondFreed = false;
    in.SetOwnedObject(std::make_unique<Probe>(firstFreed));
    in.SetOwnedObject(std::make_unique<Probe>(secondFreed));
    EXPECT_TRUE(firstFreed);
    EXPECT_FALSE(secondFreed);
    in.SetOwnedObject(nullptr);
    EXPECT_TRUE(secondFreed);
}

}  // namespace
