// File operations: the self-extractor's configuration block, converting
// between plain and self-extracting archives (checked with unzip, 7-Zip and
// the self-extractor's own extraction core), finding the stub, and writing
// and joining multi-part sets (checked against Info-ZIP zip -s).
#include "zip/ZAFileOpr.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "sfx/core/sfxblock.h"
#include "sfx/res/ZAResSFX.h"
#include "tests/RewriteTestSupport.h"

using namespace rewrite_test;

namespace {

// Settings with only some fields set.
template <typename F>
TZASFXSettings Settings(F fill) {
    TZASFXSettings s;
    fill(s);
    return s;
}

unsigned U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}

// The plain string table of a block (inflated when it is deflated).
std::string PlainTable(const std::vector<std::uint8_t>& block) {
    const std::string table(block.begin() + SFX_BLOCK_OFF_TABLE, block.end());
    if ((U16(block, SFX_BLOCK_OFF_FLAGS) & SFX_FLAG_TABLE_DEFLATED) == 0) {
        return table;
    }
    const unsigned packed = U16(block, SFX_BLOCK_OFF_TABLE);
    const unsigned plain = U16(block, SFX_BLOCK_OFF_TABLE + 2);
    std::string out(plain, '\0');
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(block.data() + SFX_BLOCK_OFF_TABLE + 8);
    zs.avail_in = packed;
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = plain;
    const int r = inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    const std::uint32_t crc = block[SFX_BLOCK_OFF_TABLE + 4] |
                              (block[SFX_BLOCK_OFF_TABLE + 5] << 8) |
                              (block[SFX_BLOCK_OFF_TABLE + 6] << 16) |
                              (static_cast<std::uint32_t>(block[SFX_BLOCK_OFF_TABLE + 7]) << 24);
    if (r != Z_STREAM_END || crc32(0, reinterpret_cast<const Bytef*>(out.data()), plain) != crc) {
        return "<bad deflated table>";
    }
    return out + std::string(4, '\0');  // compared up to the end marker below
}

// The entries of a plain table: "id:text" each.
std::vector<std::string> Strings(const std::string& table) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < table.size() && table[at] != 0) {
        const std::size_t end = table.find('\0', at + 1);
        out.push_back(std::to_string(static_cast<int>(table[at])) + ":" +
                      table.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return out;
}

TEST(ZAFileOpr, ConfigurationBlock) {
    struct Case {
        const char* name;
        TZASFXSettings settings;
        unsigned flags;
        unsigned overwrite;
        unsigned boxType;
        std::vector<std::string> strings;
    };
    TZASFXSettings all;
    all.Caption = "Cap";
    all.CommandLine = "run.exe ><";
    all.DefaultDir = "C:\\Ziel";
    all.Message = "1|Continue?";
    all.RegFailPath = "C:\\Fallback";
    all.Options = {soAutoRun, soCanBeCancelled, soCreateEmptyDirs, soSuccessAlways};
    all.Overwrite = ovrConfirm;
    const std::string long98(98, 'a');
    const Case cases[] = {
        {"all strings in their order",
         all,
         0x8 | 0x200 | 0x800 | 0x1000,
         3,
         0x41,
         {"1:Cap", "3:run.exe ><", "2:C:\\Ziel", "5:Continue?", "4:C:\\Fallback"}},
        {"nothing set", {}, 0, 0, 0, {}},
        {"yes/no message",
         Settings([](TZASFXSettings& s) {
             s.Message = "2|Sure?";
             s.Overwrite = ovrNever;
         }),
         0,
         1,
         0x24,
         {"5:Sure?"}},
        {"a lone bar protects the text",
         Settings([](TZASFXSettings& s) { s.Message = "||x"; }),
         0,
         0,
         0,
         {"5:|x"}},
        {"other digits are text",
         Settings([](TZASFXSettings& s) { s.Message = "3|x"; }),
         0,
         0,
         0,
         {"5:3|x"}},
        {"Windows-1252 text becomes UTF-8",
         Settings([](TZASFXSettings& s) { s.Caption = "Gr\xFC\xDF"; }),
         0,
         0,
         0,
         {"1:Grüß"}},
        {"a table of 100 bytes is never deflated",
         Settings([](TZASFXSettings& s) { s.Caption = std::string(97, 'a'); }),
         0,
         0,
         0,
         {"1:" + std::string(97, 'a')}},
        {"101 bytes are deflated when smaller",
         Settings([&](TZASFXSettings& s) { s.Caption = long98; }),
         SFX_FLAG_TABLE_DEFLATED,
         0,
         0,
         {"1:" + long98}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto block = BuildSFXBlock(c.settings, DeflateRaw);
        ASSERT_GE(block.size(), 16u);
        EXPECT_EQ(std::string(block.begin(), block.begin() + 4), std::string("DZ\0\x0C", 4));
        EXPECT_EQ(U16(block, SFX_BLOCK_OFF_SIZE), block.size());
        EXPECT_EQ(block.size() % 4, 0u);
        EXPECT_EQ(U16(block, SFX_BLOCK_OFF_FLAGS), c.flags);
        EXPECT_EQ(U16(block, SFX_BLOCK_OFF_OVERWRITE), c.overwrite);
        EXPECT_EQ(U16(block, SFX_BLOCK_OFF_MSGBOX), c.boxType);
        EXPECT_EQ(Strings(PlainTable(block)), c.strings);
    }
}

TEST(ZAFileOpr, StringTableIsDeflatedOnlyWhenThatIsSmaller) {
    // 200 bytes that do not compress.
    std::string noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 200; ++i) {
        x = x * 1103515245 + 12345;
        noise.push_back(static_cast<char>('!' + (x >> 16) % 90));
    }
    const auto plain =
        BuildSFXBlock(Settings([&](TZASFXSettings& s) { s.Caption = noise; }), DeflateRaw);
    EXPECT_EQ(U16(plain, SFX_BLOCK_OFF_FLAGS) & SFX_FLAG_TABLE_DEFLATED, 0u);
    // Without a deflate the table stays plain too.
    const auto noDeflate = BuildSFXBlock(
        Settings([](TZASFXSettings& s) { s.Caption = std::string(300, 'a'); }), nullptr);
    EXPECT_EQ(U16(noDeflate, SFX_BLOCK_OFF_FLAGS) & SFX_FLAG_TABLE_DEFLATED, 0u);
    // A table over 4000 bytes is refused.
    try {
        BuildSFXBlock(Settings([](TZASFXSettings& s) { s.Caption = std::string(4001, 'a'); }),
                      DeflateRaw);
        ADD_FAILURE() << "no exception";
    } catch (const EZipArchiver& e) {
        EXPECT_EQ(e.MessageId, 138);
    }
}

TEST(ZAFileOpr, StubIsFoundOrReported) {
    ScratchFolder dir;
    const auto resource = FindRawResource(SFX_STUB_RESOURCE_NAME);
    const std::string small = dir / "small.bin";
    WriteFile(small, std::string("\x60\x25\x1D\x00", 4) + std::string(11996, 'x'));  // 12000
    const std::string newer = dir / "ZASFX191.bin";
    std::string newerBytes(resource.begin(), resource.end());
    if (!newerBytes.empty()) {
        newerBytes.replace(0, 4, std::string("\x3F\x42\x0F\x00", 4));  // 999999: too old
    }
    WriteFile(newer, newerBytes);
    const std::string good = dir / "good";
    std::filesystem::create_directories(good);
    if (!newerBytes.empty()) {
        newerBytes.replace(0, 4, std::string("\x7F\x84\x1E\x00", 4));  // 1999999
        WriteFile(good + "/ZASFX191.bin", newerBytes);
    }
    struct Case {
        const char* name;
        std::string path;
        int messageId;  // 0: found
        std::uint32_t version;
    };
    const Case cases[] = {
        {"named file that is missing", dir / "none.bin", 137, 0},
        {"a file of exactly 12000 bytes does not count", small, 137, 0},
        {"a file too old falls back to nothing when named", newer, 137, 0},
        {"the resource by name", ">ZAResSFX191<", resource.empty() ? 137 : 0,
         resource.empty() ? 0 : SFX_STUB_VERSION},
        {"an unknown resource", ">NoSuchStub<", 137, 0},
        {"a named folder without a usable stub", dir.path() + "/", 137, 0},
        {"a named folder with a newer stub", good + "/", resource.empty() ? 137 : 0,
         resource.empty() ? 0 : 1999999u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TZipArchiver comp;
        comp.SetSFXPath(c.path);
        TZAFileOpr op(comp);
        int id = 0;
        try {
            op.LoadStub();
        } catch (const EZipArchiver& e) {
            id = e.MessageId;
        }
        EXPECT_EQ(id, c.messageId);
        EXPECT_EQ(op.StubVersion, c.version);
        if (id == 0) {
            EXPECT_EQ(op.Stub.size() + 4, resource.size());
        }
    }
}

class ZAFileOprConvert : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindRawResource(SFX_STUB_RESOURCE_NAME).empty()) {
            GTEST_SKIP() << "built without the self-extractor stub";
        }
        MakeArchive(dir, archive, 3, 2, 20000);
        Shell("echo 'comment' | zip -q -z " + Quote(archive));
    }
    ScratchFolder dir;
    std::string archive = dir / "a.zip";
};

TEST_F(ZAFileOprConvert, ToSelfExtractingAndBack) {
    const std::vector<std::string> names = UnzipNames(archive);
    struct Case {
        const char* name;
        bool targetExists;
    };
    for (const Case c : {Case{"new program", false}, Case{"existing program replaced", true}}) {
        SCOPED_TRACE(c.name);
        const std::string exe = dir / "a.exe";
        const std::string oldName = dir / "old-a.exe";
        std::filesystem::remove(exe);
        std::filesystem::remove(oldName);
        if (c.targetExists) {
            WriteFile(exe, "an old program");
            std::filesystem::create_hard_link(exe, oldName);
        }
        Component comp(archive);
        comp.zip.SetSFXCaption("Tarvik-Test");
        ASSERT_EQ(comp.zip.ConvertToSFX(), 0);
        EXPECT_EQ(comp.zip.ZipFileName(), exe);
        EXPECT_TRUE(comp.zip.ArchiveLoaded());
        EXPECT_EQ(comp.zip.Count(), static_cast<int>(names.size()));
        if (c.targetExists) {
            // Written elsewhere and renamed over it: the old file is untouched.
            EXPECT_EQ(ReadFile(oldName), "an old program");
        }
        const std::string bytes = ReadFile(exe);
        EXPECT_EQ(bytes.substr(0, 2), "MZ");
        EXPECT_TRUE(UnzipTestClean(exe));
        EXPECT_EQ(UnzipNames(exe), names);
        EXPECT_EQ(Shell("7zz t " + Quote(exe)).status, 0);
        EXPECT_NE(Shell("unzip -z " + Quote(exe)).output.find("comment"), std::string::npos);
        const std::string extractor = SfxExtractor();
        if (!extractor.empty()) {
            const auto r = Shell(Quote(extractor) + " " + Quote(exe) + " " + Quote(dir / "x") +
                                 " --show-config");
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_NE(r.output.find("caption: Tarvik-Test"), std::string::npos) << r.output;
            EXPECT_EQ(ReadFile(dir / "x/t3.txt"), "text file 3\n");
            std::filesystem::remove_all(dir / "x");
        }
    }

    // Back: the plain archive beside the program, offsets from its start.
    std::filesystem::rename(archive, dir / "first.zip");
    Component comp(dir / "a.exe");
    ASSERT_EQ(comp.zip.ConvertToZIP(), 0);
    EXPECT_EQ(comp.zip.ZipFileName(), archive);
    EXPECT_EQ(comp.zip.Count(), static_cast<int>(names.size()));
    EXPECT_EQ(ReadFile(archive).substr(0, 4), std::string("PK\x03\x04", 4));
    EXPECT_TRUE(UnzipTestClean(archive));
    EXPECT_EQ(UnzipNames(archive), names);
    EXPECT_EQ(Shell("7zz t " + Quote(archive)).status, 0);
    EXPECT_EQ(UnzipContent(Quote(archive)), UnzipContent(Quote(dir / "first.zip")));
}

TEST_F(ZAFileOprConvert, MissingStubFailsWith137) {
    Component comp(archive);
    comp.zip.SetSFXPath(dir / "nowhere/ZASFX191.bin");
    EXPECT_EQ(comp.zip.ConvertToSFX(), 137);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.exe"));
    EXPECT_EQ(comp.zip.ZipFileName(), archive);
}

TEST_F(ZAFileOprConvert, FailedConversionKeepsTheOldTarget) {
    // The second entry's local header is damaged: the copy fails halfway.
    std::string bytes = ReadFile(archive);
    const std::size_t second = bytes.find("PK\x03\x04", 4);
    ASSERT_NE(second, std::string::npos);
    bytes[second + 3] = 0x05;
    WriteFile(archive, bytes);
    struct Case {
        const char* name;
        std::int64_t volume;  // a spanned self-extracting set when > 0
    };
    for (const Case c : {Case{"program", 0}, Case{"spanned program", 64 * 1024 + 8000}}) {
        SCOPED_TRACE(c.name);
        const std::string exe = dir / "a.exe";
        WriteFile(exe, "an old program");
        ScratchFolder temp;
        Component comp(archive);
        comp.zip.SetTempDir(temp.path());
        comp.zip.SetMaxVolumeSize(c.volume);
        comp.zip.SetMinFreeVolumeSize(4096);
        const int r = c.volume > 0 ? comp.zip.ConvertToSpanSFX(exe) : comp.zip.ConvertToSFX();
        EXPECT_NE(r, 0);
        EXPECT_EQ(ReadFile(exe), "an old program");
        EXPECT_EQ(ReadFile(archive), bytes);
        EXPECT_FALSE(std::filesystem::exists(dir / "a001.zip"));
        EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
        EXPECT_EQ(comp.zip.ZipFileName(), archive);
    }
}

// A conversion whose target is the last part of a multi-part set is refused
// (message 185) and leaves every part as it was: unsfx X.exe beside the set
// X.z01 ... X.zip, and sfx onto the program of nothing but a set's name.
TEST_F(ZAFileOprConvert, TargetThatIsTheLastPartOfASetIsRefused) {
    MakeArchive(dir, dir / "big.zip", 1, 4, 60000);
    ASSERT_TRUE(Shell("zip -q -s 64k -O " + Quote(dir / "x.zip") + " " + Quote(dir / "big.zip")));
    ASSERT_TRUE(std::filesystem::exists(dir / "x.z01"));
    const std::string last = ReadFile(dir / "x.zip");
    const std::string first = ReadFile(dir / "x.z01");
    {
        Component comp(archive);
        ASSERT_EQ(comp.zip.ConvertToSFX(), 0);
    }
    std::filesystem::rename(dir / "a.exe", dir / "x.exe");
    Component comp(dir / "x.exe");
    EXPECT_EQ(comp.zip.ConvertToZIP(), 185);
    EXPECT_NE(comp.zip.ErrMessage().find(dir / "x.zip"), std::string::npos)
        << comp.zip.ErrMessage();
    EXPECT_EQ(ReadFile(dir / "x.zip"), last);
    EXPECT_EQ(ReadFile(dir / "x.z01"), first);
    EXPECT_EQ(comp.zip.ZipFileName(), dir / "x.exe");
    // An ordinary archive under that name is still replaced.
    std::filesystem::rename(dir / "x.zip", dir / "set.zip");
    WriteFile(dir / "x.zip", "an old archive");
    Component again(dir / "x.exe");
    EXPECT_EQ(again.zip.ConvertToZIP(), 0);
    EXPECT_TRUE(UnzipTestClean(dir / "x.zip"));
}

TEST(ZAFileOprSpan, SetsWrittenByUsAndByZip) {
    ScratchFolder dir;
    const std::string archive = dir / "big.zip";
    MakeArchive(dir, archive, 2, 10, 100000);
    const std::vector<std::string> names = UnzipNames(archive);
    ASSERT_EQ(Shell("cp " + Quote(archive) + " " + Quote(dir / "orig.zip")).status, 0);

    struct Case {
        const char* name;
        std::int64_t volume;
        bool numbered;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"compatible names", 300 * 1024, false, {"big.z01", "big.z02", "big.z03", "big.zip"}},
        {"numbered names", 400 * 1024, true, {"big001.zip", "big002.zip", "big003.zip"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder out;
        const std::string set = out / "big.zip";
        {
            Component comp(archive);
            comp.zip.SetMaxVolumeSize(c.volume);
            TZASpanOpts span;
            span.include(c.numbered ? spNoVolumeName : spCompatName);
            comp.zip.SetSpanOptions(span);
            ASSERT_EQ(comp.zip.Span(set), 0);
        }
        std::vector<std::string> parts;
        for (const auto& e : std::filesystem::directory_iterator(out.path())) {
            parts.push_back(e.path().filename().string());
            EXPECT_LE(FileSize(e.path()), c.volume);
        }
        std::sort(parts.begin(), parts.end());
        EXPECT_EQ(parts, c.parts);
        // Read back by us.
        const std::string first = out / c.parts.back();
        Component back(first);
        EXPECT_TRUE(back.zip.ArchiveLoaded());
        EXPECT_EQ(back.zip.Count(), static_cast<int>(names.size()));
        // Joined by us.
        EXPECT_EQ(back.zip.Join(out / "joined.zip"), 0);
        EXPECT_TRUE(UnzipTestClean(out / "joined.zip"));
        EXPECT_EQ(UnzipNames(out / "joined.zip"), names);
        // Joined by Info-ZIP (which knows the compatible names only).
        if (!c.numbered) {
            ASSERT_EQ(Shell("zip -q -s 0 big.zip --out z.zip", out.path()).status, 0);
            EXPECT_TRUE(UnzipTestClean(out / "z.zip"));
            EXPECT_EQ(UnzipContent(Quote(out / "z.zip")), UnzipContent(Quote(archive)));
        }
    }

    // A set written by zip -s, joined by us.
    ScratchFolder zipped;
    ASSERT_EQ(Shell("zip -q -s 200k " + Quote(zipped / "iz.zip") + " *", dir / "src-big").status,
              0);
    ASSERT_TRUE(std::filesystem::exists(zipped / "iz.z02"));
    Component comp(zipped / "iz.zip");
    ASSERT_TRUE(comp.zip.ArchiveLoaded());
    EXPECT_EQ(comp.zip.Join(zipped / "one.zip"), 0);
    EXPECT_TRUE(UnzipTestClean(zipped / "one.zip"));
    EXPECT_EQ(UnzipContent(Quote(zipped / "one.zip")), UnzipContent(Quote(archive)));
}

TEST(ZAFileOprSpan, SpanInPlaceReplacesTheArchiveLast) {
    ScratchFolder dir;
    const std::string archive = dir / "a.zip";
    MakeArchive(dir, archive, 1, 6, 100000);
    Component comp(archive);
    comp.zip.SetMaxVolumeSize(250 * 1024);
    comp.zip.SetSpanOptions(TZASpanOpts{spCompatName});
    // A temporary folder of its own, so that other tests' sets don't count.
    ScratchFolder temp;
    comp.zip.SetTempDir(temp.path());
    ASSERT_EQ(comp.zip.Span(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "a.z01"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a.z02"));
    EXPECT_TRUE(comp.zip.ArchiveLoaded());
    EXPECT_EQ(comp.zip.Count(), 7);
    // The temporary set folder is gone.
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

// Every operation that replaces or removes an old archive, part or program
// keeps it in the trash with htdAllowUndo and deletes it for good with
// htdFinal.
TEST(ZAFileOprSpan, HowToDeleteIsFollowedByEveryReplacement) {
    if (FindRawResource(SFX_STUB_RESOURCE_NAME).empty()) {
        GTEST_SKIP() << "built without the self-extractor stub";
    }
    struct Case {
        const char* name;
        // Makes the old files in the folder, then runs the operation.
        std::function<int(const ScratchFolder&)> run;
        std::vector<std::string> trashed;  // with htdAllowUndo
    };
    auto component = [](const std::string& archive, TZADeleteOpts how) {
        auto comp = std::make_unique<Component>(archive);
        comp->zip.SetHowToDelete(how);
        comp->zip.SetMaxVolumeSize(250 * 1024);
        comp->zip.SetSpanOptions(TZASpanOpts{spCompatName});
        return comp;
    };
    TZADeleteOpts how = htdFinal;
    const Case cases[] = {
        {"program over an old one",
         [&](const ScratchFolder& d) {
             WriteFile(d / "a.exe", "an old program");
             return component(d / "a.zip", how)->zip.ConvertToSFX();
         },
         {"a.exe"}},
        {"joined over an old archive",
         [&](const ScratchFolder& d) {
             WriteFile(d / "j.zip", "an old archive");
             return component(d / "a.zip", how)->zip.Join(d / "j.zip");
         },
         {"j.zip"}},
        {"archive spanned in place",
         [&](const ScratchFolder& d) { return component(d / "a.zip", how)->zip.Span(); },
         {"a.zip"}},
        {"archive spanned in place into numbered parts",
         [&](const ScratchFolder& d) {
             auto comp = component(d / "a.zip", how);
             comp->zip.SetSpanOptions(TZASpanOpts{spNoVolumeName});
             const int r = comp->zip.Span();
             // Nothing stale is left under the set's name: it opens the new set.
             EXPECT_FALSE(std::filesystem::exists(d / "a.zip"));
             EXPECT_TRUE(std::filesystem::exists(d / "a003.zip"));
             Component again(d / "a.zip");
             EXPECT_EQ(again.zip.Count(), 7);
             return r;
         },
         {"a.zip"}},
        {"a longer set replaced by a shorter one",
         [&](const ScratchFolder& d) {
             for (const char* part : {"s.z01", "s.z02", "s.z03", "s.z04", "s.zip"}) {
                 WriteFile(d / part, std::string("old ") + part);
             }
             return component(d / "a.zip", how)->zip.Span(d / "s.zip");
         },
         {"s.z01", "s.z02", "s.z03", "s.z04", "s.zip"}},
        {"self-extracting set over an old one",
         [&](const ScratchFolder& d) {
             for (const char* part : {"p.exe", "p001.zip", "p002.zip", "p003.zip", "p004.zip"}) {
                 WriteFile(d / part, std::string("old ") + part);
             }
             return component(d / "a.zip", how)->zip.ConvertToSpanSFX(d / "p.exe");
         },
         {"p.exe", "p001.zip", "p002.zip", "p003.zip", "p004.zip"}},
    };
    for (const Case& c : cases) {
        for (const TZADeleteOpts h : {htdAllowUndo, htdFinal}) {
            SCOPED_TRACE(std::string(c.name) + (h == htdFinal ? " final" : " undo"));
            how = h;
            ScratchFolder dir;
            ScopedEnv data("XDG_DATA_HOME", (dir / "share").c_str());
            MakeArchive(dir, dir / "a.zip", 1, 6, 100000);
            const std::string before = ReadFile(dir / "a.zip");
            ASSERT_EQ(c.run(dir), 0);
            std::vector<std::string> trashed;
            const std::string files = dir / "share/Trash/files";
            if (std::filesystem::exists(files)) {
                for (const auto& e : std::filesystem::directory_iterator(files)) {
                    const std::string name = e.path().filename().string();
                    trashed.push_back(name);
                    // The old content, complete.
                    const std::string old = ReadFile(e.path().string());
                    EXPECT_TRUE(old == "old " + name || old == before || old.starts_with("an old "))
                        << name;
                }
            }
            std::sort(trashed.begin(), trashed.end());
            EXPECT_EQ(trashed, h == htdAllowUndo ? c.trashed : std::vector<std::string>{});
        }
    }
}

// When the trash cannot take a file (here: the trash folder's name is taken
// by a plain file), an operation asked to keep it recoverable keeps it and
// says so (message 186), never deleting it for good instead.
TEST(ZAFileOprSpan, FileTheTrashCannotTakeIsKept) {
    if (FindRawResource(SFX_STUB_RESOURCE_NAME).empty()) {
        GTEST_SKIP() << "built without the self-extractor stub";
    }
    struct Case {
        const char* name;
        std::function<int(Component&)> run;
        const char* kept;    // the file that must stay as it was
        const char* output;  // written all the same (the old file is left beside it), or ""
    };
    const Case cases[] = {
        {"delete some entries",
         [](Component& c) {
             c.zip.SetFSpecArgs({"t1.txt"});
             c.zip.Delete();
             return c.zip.ErrCode();
         },
         "a.zip", ""},
        {"delete every entry",
         [](Component& c) {
             c.zip.SetFSpecArgs({"*"});
             c.zip.Delete();
             return c.zip.ErrCode();
         },
         "a.zip", ""},
        {"program over an old one", [](Component& c) { return c.zip.ConvertToSFX(); }, "a.exe", ""},
        {"spanned in place", [](Component& c) { return c.zip.Span(); }, "a.zip", ""},
        {"spanned in place into numbered parts",
         [](Component& c) {
             c.zip.SetSpanOptions(TZASpanOpts{spNoVolumeName});
             return c.zip.Span();
         },
         "a.zip", "a003.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder dir;
        std::filesystem::create_directories(dir / "share");
        WriteFile(dir / "share/Trash", "not a folder");
        ScopedEnv data("XDG_DATA_HOME", (dir / "share").c_str());
        MakeArchive(dir, dir / "a.zip", 1, 6, 100000);
        WriteFile(dir / "a.exe", "an old program");
        const std::string before = ReadFile(dir / c.kept);
        Component comp(dir / "a.zip");
        comp.zip.SetHowToDelete(htdAllowUndo);
        comp.zip.SetMaxVolumeSize(250 * 1024);
        comp.zip.SetSpanOptions(TZASpanOpts{spCompatName});
        EXPECT_EQ(c.run(comp), 186);
        EXPECT_NE(comp.zip.ErrMessage().find(dir / c.kept), std::string::npos)
            << comp.zip.ErrMessage();
        EXPECT_TRUE(ReadFile(dir / c.kept) == before);
        if (*c.output != '\0') {
            EXPECT_TRUE(std::filesystem::exists(dir / c.output));
        } else {
            EXPECT_FALSE(std::filesystem::exists(dir / "a.z01"));
            EXPECT_FALSE(std::filesystem::exists(dir / "a001.zip"));
        }
    }
}

}  // namespace
