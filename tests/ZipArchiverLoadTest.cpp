// The component as the application uses it: loading through ZipFileName,
// the directory view behind Count and DirEntry, the setter rules, refusal
// while busy, deferred settings and the password services.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZATestZip.h"
#include "zip/ZACenDir.h"
#include "zip/ZAIRec.h"
#include "zip/ZALister.h"
#include "zip/ZAXcpt.h"
#include "zip/ZAZipFile.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"

namespace {

class ArchiverLoadTest : public ::testing::Test {
protected:
    ArchiverLoadTest() {
        ::SetUseUTF8(true);
        comp.SetDialogProvider(&dialog);
        comp.OnDirUpdate = [this](TCustomZipArchiver&) { ++dirUpdates; };
        comp.OnNewName = [this](TCustomZipArchiver&, int seq) { newNames.push_back(seq); };
        comp.OnMessage = [this](TCustomZipArchiver&, int code, const std::string&) {
            if (code != 0) {
                messages.push_back(code);
            }
        };
    }
    ~ArchiverLoadTest() override { ::SetUseUTF8(false); }

    std::string Names() {
        std::string out;
        for (int i = 0; i < comp.Count(); ++i) {
            out += comp.DirEntry(i)->FileName() + ";";
        }
        return out;
    }

    ztest::TempDir dir;
    ztest::RecordingDialog dialog;
    TZipArchiver comp;
    int dirUpdates = 0;
    std::vector<int> newNames;
    std::vector<int> messages;
};

TEST_F(ArchiverLoadTest, DirectoryEntriesAreHiddenUnlessAsked) {
    const std::string path =
        dir.Write("d.zip", ztest::BuildZip({{"docs/", ""}, {"docs/a.txt", "a"}, {"top.txt", "t"}}));
    comp.SetZipFileName(path);
    EXPECT_EQ(comp.ErrCode(), 0);
    EXPECT_EQ(Names(), "docs/a.txt;top.txt;");
    EXPECT_EQ(newNames, (std::vector<int>{0, 1}));
    EXPECT_GE(dirUpdates, 1);
    EXPECT_EQ(comp.DirEntry(2), nullptr);
    EXPECT_EQ(comp.DirEntry(-1), nullptr);
    comp.SetUseDirOnlyEntries(true);
    EXPECT_EQ(Names(), "docs/;docs/a.txt;top.txt;");
    comp.SetUseDirOnlyEntries(false);
    EXPECT_EQ(comp.Count(), 2);
}

TEST_F(ArchiverLoadTest, HandlesKeptAcrossAReloadReadEmpty) {
    const std::string path = dir.Write("h.zip", ztest::BuildZip({{"one.txt", "12345"}}));
    comp.SetZipFileName(path);
    auto kept = comp.DirEntry(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->UncompressedSize(), 5);
    comp.SetZipFileName(path);  // the same name reloads
    ASSERT_EQ(comp.Count(), 1);
    EXPECT_EQ(kept->UncompressedSize(), 0);
    EXPECT_EQ(kept->FileName(), "");
    EXPECT_EQ(kept->NameEncoding(), zeoOEM);
    EXPECT_EQ(comp.DirEntry(0)->FileName(), "one.txt");
    // A view change within the same archive unbinds handles as well.
    auto second = comp.DirEntry(0);
    comp.SetUseDirOnlyEntries(true);
    EXPECT_EQ(second->FileName(), "one.txt");  // rebound by index: still entry 0
}

TEST_F(ArchiverLoadTest, HandlesOfALargeDirectoryOutliveTheComponent) {
    std::vector<ztest::Entry> entries;
    for (int i = 0; i < 1500; ++i) {
        entries.emplace_back(
            (i % 100 == 0 ? "d" + std::to_string(i) + "/" : "f" + std::to_string(i)), "");
    }
    const std::string path = dir.Write("many.zip", ztest::BuildZip(entries));
    std::vector<std::shared_ptr<TZADirEntry>> kept;
    {
        TZipArchiver local;
        local.SetUnattended(true);
        local.SetZipFileName(path);
        ASSERT_EQ(local.Count(), 1485);  // folders hidden
        for (const int i : {0, 511, 512, 1100, 1484}) {
            kept.push_back(local.DirEntry(i));
            ASSERT_NE(kept.back(), nullptr) << i;
        }
        EXPECT_EQ(kept[0]->FileName(), "f1");
        EXPECT_EQ(kept[1]->FileName(), "f517");  // six folders before it
        EXPECT_EQ(kept[4]->FileName(), "f1499");
        local.SetUseDirOnlyEntries(true);
        EXPECT_EQ(local.Count(), 1500);
        EXPECT_EQ(kept[0]->FileName(), "d0/");  // rebound by index
        EXPECT_EQ(local.DirEntry(1499)->FileName(), "f1499");
    }
    for (const auto& e : kept) {
        EXPECT_EQ(e->FileName(), "");
        EXPECT_EQ(e->UncompressedSize(), 0);
    }
}

// A load fills the application's list once: each update with entries
// means a full fill (and sort) of the window's list. The direct reading the
// window fills from shows the same entries as the handles, folders hidden
// or shown.
TEST_F(ArchiverLoadTest, OneLoadRaisesOneFilledUpdateAndReadsLikeHandles) {
    const std::string path = dir.Write(
        "u.zip", ztest::BuildZip({{"a/", ""}, {"a/x.txt", "xx"}, {"b/", ""}, {"b/y.txt", "y"}}));
    int filled = 0;
    comp.OnDirUpdate = [&](TCustomZipArchiver& c) { filled += c.Count() > 0 ? 1 : 0; };
    for (const bool folders : {false, true}) {
        SCOPED_TRACE(folders);
        comp.SetUseDirOnlyEntries(folders);
        filled = 0;
        comp.SetZipFileName(path);
        EXPECT_EQ(filled, 1);
        filled = 0;
        comp.SetZipFileName(path);  // the same name reloads: once again
        EXPECT_EQ(filled, 1);
        ASSERT_EQ(comp.Count(), folders ? 4 : 2);
        std::string viaHandles;
        std::string direct;
        for (int i = 0; i <= comp.Count(); ++i) {
            const auto handle = comp.DirEntry(i);
            TZADirEntry* const now = comp.DirEntryNow(i);
            EXPECT_EQ(handle == nullptr, now == nullptr) << i;
            if (handle && now) {
                viaHandles += handle->FileName() + std::to_string(handle->UncompressedSize()) + ";";
                direct += now->FileName() + std::to_string(now->UncompressedSize()) + ";";
            }
        }
        EXPECT_EQ(direct, folders ? "a/0;a/x.txt2;b/0;b/y.txt1;" : "a/x.txt2;b/y.txt1;");
        EXPECT_EQ(viaHandles, direct);
    }
    comp.OnDirUpdate = nullptr;
}

TEST_F(ArchiverLoadTest, MissingAndDamagedFiles) {
    comp.SetZipFileName(dir.path() + "new.zip");
    EXPECT_EQ(comp.ErrCode(), 123);
    EXPECT_TRUE(dialog.requests.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(comp.Count(), 0);
    EXPECT_EQ(comp.ZipFileName(), dir.path() + "new.zip");
    EXPECT_GE(dirUpdates, 1);

    comp.SetZipFileName(dir.Write("bad.zip", std::string(100, 'x')));
    EXPECT_EQ(comp.ErrCode(), 127);
    EXPECT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(comp.Count(), 0);

    comp.SetUnattended(true);
    comp.SetZipFileName(dir.path() + "bad.zip");
    EXPECT_EQ(comp.ErrCode(), 127);
    EXPECT_EQ(dialog.requests.size(), 1u);
}

TEST_F(ArchiverLoadTest, SettersRefusedWhileBusyCountReentries) {
    const std::string path = dir.Write("r.zip", ztest::BuildZip({{"a", "1"}}));
    comp.OnDirUpdate = [&](TCustomZipArchiver& c) {
        c.SetExtrBaseDir("/elsewhere");
        c.SetPasswordReqCount(3);
        c.SetZipFileName("/other.zip");
    };
    comp.SetZipFileName(path);
    EXPECT_EQ(comp.ExtrBaseDir(), "");
    EXPECT_EQ(comp.PasswordReqCount(), 1u);
    EXPECT_EQ(comp.ZipFileName(), path);
    EXPECT_GT(comp.ReentryCount(), 0);
    EXPECT_EQ(comp.ReentryCount() % 3, 0);
    EXPECT_EQ(comp.State(), zsReentered);
    comp.OnDirUpdate = nullptr;
    comp.SetExtrBaseDir("/elsewhere");
    EXPECT_EQ(comp.ExtrBaseDir(), "/elsewhere");
}

TEST_F(ArchiverLoadTest, ValueRules) {
    comp.SetPasswordReqCount(20);
    EXPECT_EQ(comp.PasswordReqCount(), 15u);
    comp.SetMaxVolumeSizeKb(100);
    EXPECT_EQ(comp.MaxVolumeSize(), 102400);
    EXPECT_EQ(comp.MaxVolumeSizeKb(), 100);
    comp.SetMaxVolumeSizeKb(-5);
    EXPECT_EQ(comp.MaxVolumeSize(), 0);
    comp.SetMaxVolumeSizeKb(3000000);
    EXPECT_EQ(comp.MaxVolumeSize(), 3072000000LL);
    comp.SetMaxVolumeSize(-1);
    EXPECT_EQ(comp.MaxVolumeSize(), 0);
    comp.SetTempDir("/var/tmp");
    EXPECT_EQ(comp.TempDir(), "/var/tmp/");
    comp.SetTempDir("");
    EXPECT_EQ(comp.TempDir(), "");
    comp.SetTrace(true);
    comp.SetVerbose(true);
    EXPECT_EQ(comp.Internal().TraceBits, 3);
    comp.SetTrace(false);
    EXPECT_EQ(comp.Internal().TraceBits, 1);
    EXPECT_EQ(comp.Version(), "1.9.1.0023");
}

TEST_F(ArchiverLoadTest, ExtAddStoreSuffixesAreNormalised) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"txt;DOC", ".txt:.doc:"}, {".Txt", ".txt:"}, {"a,b:c;", ".a:.b:.c:"},
                 {":a,,b", ".a:.b:"},       {"::", ""},        {".x:", ".x:"}};
    for (const auto& c : cases) {
        comp.SetExtAddStoreSuffixes(c.in);
        EXPECT_EQ(comp.ExtAddStoreSuffixes(), c.out) << c.in;
        EXPECT_EQ(comp.AddStoreSuffixes().contains(assEXT), *c.out != '\0') << c.in;
    }
    comp.SetExtAddStoreSuffixes("");
    EXPECT_EQ(comp.ExtAddStoreSuffixes(), "");
    EXPECT_FALSE(comp.AddStoreSuffixes().contains(assEXT));
}

TEST_F(ArchiverLoadTest, SettingsWaitWhileInactive) {
    const std::string path = dir.Write("w.zip", ztest::BuildZip({{"a", "1"}, {"b", "2"}}));
    comp.SetActive(false);
    EXPECT_EQ(comp.State(), zsDisabled);
    comp.SetZipFileName(path);
    EXPECT_EQ(comp.Count(), 0);
    EXPECT_EQ(comp.ErrCode(), 197);
    EXPECT_NE(comp.DeferredSettings() & TCustomZipArchiver::kDeferZipFileName, 0);
    comp.SetActive(true);
    EXPECT_EQ(comp.Count(), 2);
    EXPECT_EQ(comp.ErrCode(), 0);
    EXPECT_EQ(comp.DeferredSettings(), 0);
}

TEST_F(ArchiverLoadTest, StoredLanguageWinsOverItsId) {
    comp.BeginLoading();
    comp.SetLanguageID(1033);
    comp.SetLanguage("DE");
    EXPECT_EQ(comp.ErrCode(), 197);
    comp.EndLoading();
    EXPECT_EQ(CurrentLanguageId(), 0x0407);
    SelectLanguage("US");
    SelectLanguageId(1033);
}

TEST_F(ArchiverLoadTest, SelfExtractorPropertiesStopTakingOverArchiveSettings) {
    EXPECT_FALSE(comp.NoReadAux());
    comp.SetSFXCaption("Mine");
    EXPECT_TRUE(comp.NoReadAux());
    comp.SetNoReadAux(true);
    comp.SetNoReadAux(false);
    EXPECT_FALSE(comp.NoReadAux());
    comp.SetSpanOptions(TZASpanOpts{spWipeFiles});
    EXPECT_FALSE(comp.NoReadAux());
    comp.SetSpanOptions(TZASpanOpts{spCompatName});
    EXPECT_TRUE(comp.NoReadAux());
}

TEST_F(ArchiverLoadTest, AddPasswordIsAskedTwice) {
    std::vector<std::uint32_t> contexts;
    std::vector<std::string> entries = {"secret", "secret", "one", "two"};
    comp.OnZipDialog = [&](TCustomZipArchiver&, const std::string&, std::string& msg, int& result,
                           TMsgDlgButtons) {
        contexts.push_back(static_cast<std::uint32_t>(result) & 0xFFFF);
        msg = entries.front();
        entries.erase(entries.begin());
        result = mrOk;
    };
    TMsgDlgBtn button = mbAbort;
    EXPECT_EQ(comp.GetAddPassword(button), "secret");
    EXPECT_EQ(button, mbOK);
    EXPECT_EQ(comp.Password(), "secret");
    EXPECT_EQ(contexts, (std::vector<std::uint32_t>{10004, 10005}));
    EXPECT_EQ(comp.GetAddPassword(button), "");
    EXPECT_EQ(comp.ErrCode(), 134);

    comp.OnZipDialog = nullptr;
    dialog.answers = {{mrOk, "pw"}, {mrAll, "all"}};
    EXPECT_EQ(comp.GetExtrPassword(button), "pw");
    EXPECT_EQ(button, mbOK);
    EXPECT_EQ(comp.GetExtrPassword(button), "");  // the entry counts only with OK
    EXPECT_EQ(static_cast<int>(button), 8);
    EXPECT_TRUE(dialog.requests.back().IsPassword());
    EXPECT_EQ(dialog.requests.back().Context(), 10003);

    comp.SetUnattended(true);
    EXPECT_EQ(comp.GetExtrPassword(button), "");
    EXPECT_EQ(comp.ErrCode(), 22);
}

TEST_F(ArchiverLoadTest, TemporaryNamesAreFreeAndUseTempDir) {
    comp.SetTempDir(dir.path());
    const std::string a = comp.MakeTempFileName();
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.rfind(dir.path() + "zip", 0), 0u);
    EXPECT_EQ(a.substr(a.size() - 4), ".zip");
    EXPECT_FALSE(std::filesystem::exists(a));
    const std::string b = comp.MakeTempFileName("tv", ".tmp");
    EXPECT_NE(b.find("/tv"), std::string::npos);
}

TEST_F(ArchiverLoadTest, EncodingChangeRedecodesNames) {
    // "Ä" as CP850 (0x8E) and as Windows-1252 (0xC4); made by NTFS = ANSI.
    const std::string path = dir.Write(
        "e.zip", ztest::BuildZip({{"\x8E.txt", "1", 0, 20}, {"\xC4.txt", "2", 0, 0x0B1E}}));
    comp.SetZipFileName(path);
    EXPECT_EQ(Names(), "\xC3\x84.txt;\xC3\x84.txt;");
    const int before = dirUpdates;
    comp.SetEncoding(zeoOEM);
    EXPECT_GT(dirUpdates, before);
    EXPECT_EQ(comp.DirEntry(1)->FileName(), "\xE2\x94\x80.txt");  // 0xC4 in CP850
    comp.SetEncoding(zeoAuto);
    EXPECT_EQ(Names(), "\xC3\x84.txt;\xC3\x84.txt;");
}

}  // namespace

namespace {

class ListerTest : public ArchiverLoadTest {};

TEST_F(ListerTest, PrepareZipChecksNameLoadAndAbortedDisk) {
    comp.SetZipFileName(dir.path() + "absent.zip");
    TZALister* lister = comp.Lister();
    ASSERT_NE(lister, nullptr);
    EXPECT_THROW(
        {
            try {
                lister->PrepareZip(true, false);
            } catch (const EZAException& e) {
                EXPECT_EQ(e.MessageId, 127);
                throw;
            }
        },
        EZAException);
    TZAZipFile& fresh = lister->PrepareZip(false, false);
    EXPECT_EQ(fresh.FileName(), dir.path() + "absent.zip");

    fresh.Info |= TZAWorkZip::ziDiskAborted;
    TZADiskAction answer = zdaCancel;
    comp.OnStatusDisk = [&](TCustomZipArchiver&, int, const std::string& file,
                            TZAZipDiskStatus status, TZADiskAction& action) {
        EXPECT_EQ(file, dir.path() + "absent.zip");
        EXPECT_TRUE(status.contains(zdsSameFileName));
        action = answer;
    };
    EXPECT_THROW(lister->PrepareZip(false, true), EZAException);
    answer = zdaOk;
    EXPECT_EQ(lister->PrepareZip(false, true).Info, 0u);

    TZipArchiver unnamed;
    TZALister bare(unnamed);
    EXPECT_THROW(bare.PrepareZip(false, false), EZAException);
}

TEST_F(ListerTest, FinishDropsOrReloadsAfterAnOperation) {
    const std::string path = dir.Write("f.zip", ztest::BuildZip({{"a", "1"}, {"b", "2"}}));
    comp.SetZipFileName(path);
    ASSERT_EQ(comp.Count(), 2);
    int before = dirUpdates;
    comp.RunOperation([&] { comp.Lister()->AfterAction = aaDropDirectory; });
    EXPECT_EQ(comp.Count(), 0);
    EXPECT_GT(dirUpdates, before);

    // The archive changed meanwhile: a reload shows the new state.
    dir.Write("f.zip", ztest::BuildZip({{"a", "1"}, {"b", "2"}, {"c", "3"}}));
    before = dirUpdates;
    comp.RunOperation([&] { comp.Lister()->AfterAction = aaReload; });
    EXPECT_EQ(comp.Count(), 3);
    EXPECT_GT(dirUpdates, before);

    // A failed operation keeps the directory as it is.
    comp.SetUnattended(true);
    comp.RunOperation([&] {
        comp.Lister()->AfterAction = aaDropDirectory;
        throw EZipArchiver(4, false);
    });
    EXPECT_EQ(comp.Count(), 3);
    EXPECT_EQ(comp.ErrCode(), 4);
}

// A minimal executable image of `size` bytes whose image ends at `end`,
// followed by `record`.
std::vector<std::uint8_t> Stub(std::size_t end, const std::string& record) {
    std::vector<std::uint8_t> s(end, 0);
    s[0] = 'M';
    s[1] = 'Z';
    s[60] = 128;
    s[128] = 'P';
    s[129] = 'E';
    s[128 + 6] = 1;  // one section
    const std::size_t sec = 128 + 248;
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            s[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put32(sec + 16, static_cast<std::uint32_t>(end - 1024));  // raw size
    put32(sec + 20, 1024);                                    // raw offset
    s.insert(s.end(), record.begin(), record.end());
    return s;
}

TEST_F(ListerTest, StubSettingsInBothForms) {
    TZALister lister(comp);
    // Form B: option bits 0x0801, overwrite 1, flags 4, texts by id.
    std::string b("\x44\x5A\x00\x0C\x40\x00\x01\x08\x01\x00\x04\x00", 12);
    const char list[] =
        "\x01"
        "Titel\0"
        "\x02"
        "C:\\Ziel\0"
        "\x05"
        "Fertig\0";
    b += std::string(list, sizeof list);  // with the terminating 0 id
    ASSERT_EQ(lister.ReadStubSettings(Stub(13000, b)), 0);
    EXPECT_EQ(comp.SFXCaption(), "Titel");
    EXPECT_EQ(comp.SFXDefaultDir(), "C:\\Ziel");
    EXPECT_EQ(comp.SFXMessage(), "2|Fertig");
    EXPECT_EQ(comp.SFXOptions().bits(), 0x401);
    EXPECT_EQ(comp.SFXOverwriteMode(), ovrNever);

    // Form A: fixed lengths; option bits 0x0A00 become 0x600; flag bit 0.
    std::string a("\x44\x5A\x00\x01\x00\x00\x00\x0A\x07\x02\x00\x03\x00\x01\x01\x00\x00\x00", 18);
    a += "CaCmdM";
    ASSERT_EQ(lister.ReadStubSettings(Stub(12500, a)), 0);
    EXPECT_EQ(comp.SFXCaption(), "Ca");
    EXPECT_EQ(comp.SFXCommandLine(), "Cmd");
    EXPECT_EQ(comp.SFXMessage(), "1|M");
    EXPECT_EQ(comp.SFXOptions().bits(), 0x600);
    EXPECT_EQ(comp.SFXOverwriteMode(), ovrConfirm);

    // Lies and foreign stubs.
    EXPECT_EQ(lister.ReadStubSettings(Stub(11000, b)), 0);  // too small: nothing taken
    std::string longer = a;
    longer[9] = '\x7F';  // a length past the record
    EXPECT_EQ(ZAMessageIdOf(lister.ReadStubSettings(Stub(12500, longer))), 178);
    std::string packed = b;
    packed[7] = '\x88';  // claims a compressed list that is not there
    EXPECT_EQ(ZAMessageIdOf(lister.ReadStubSettings(Stub(13000, packed))), 178);
    auto noPe = Stub(13000, b);
    noPe[128] = 'X';
    EXPECT_EQ(ZAMessageIdOf(lister.ReadStubSettings(noPe)), 178);
    EXPECT_EQ(comp.SFXCaption(), "Ca");  // untouched by the failures
}

TEST_F(ListerTest, DetachedSelfExtractorIsAStubFollowedByItsDirectory) {
    const std::string zipBytes = ztest::BuildZip({{"inside.txt", "data"}});
    const std::string directory = zipBytes.substr(zipBytes.find("PK\x01\x02"));
    auto image = [&](std::uint8_t tagHigh) {
        std::string rec("\x44\x5A\x00\x0C\x08\x00\x00\x00", 8);
        rec[3] = static_cast<char>(tagHigh);
        const auto stub = Stub(13000, rec);
        return std::string(stub.begin(), stub.end()) + directory;
    };
    TZALister lister(comp);
    EXPECT_TRUE(lister.IsDetachedSelfExtractor(dir.Write("setup.EXE", image(0x0C))));
    EXPECT_FALSE(lister.IsDetachedSelfExtractor(dir.Write("setup.zip", image(0x0C))));
    EXPECT_FALSE(lister.IsDetachedSelfExtractor(dir.Write("other.exe", image(0x01))));
    EXPECT_FALSE(lister.IsDetachedSelfExtractor(dir.Write("plain.exe", zipBytes)));
}

}  // namespace
