// Spanned self-extracting sets: the parts, and the program beside them that
// holds the stub and the set's central directory. Checked by reading the set
// back through the program's name, joining it with Info-ZIP zip -s 0 and
// testing the result with unzip.
#include "zip/ZALoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/ZipRecords.h"
#include "sfx/core/sfxblock.h"
#include "sfx/res/ZAResSFX.h"
#include "tests/RewriteTestSupport.h"
#include "zip/ZAFileOpr.h"
#include "zip/ZALister.h"

using namespace rewrite_test;

namespace {

std::uint32_t U32(const std::string& b, std::size_t at) {
    return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8) |
           (static_cast<std::uint8_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24);
}

unsigned U16(const std::string& b, std::size_t at) {
    return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.is_regular_file()) {
            files.push_back(e.path().filename().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class ZALoaderSet : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindRawResource(SFX_STUB_RESOURCE_NAME).empty()) {
            GTEST_SKIP() << "built without the self-extractor stub";
        }
        MakeArchive(dir, source, 1, 6, 100000);
        names = UnzipNames(source);
    }
    ScratchFolder dir;
    ScratchFolder out;
    std::string source = dir / "a.zip";
    std::vector<std::string> names;
};

TEST_F(ZALoaderSet, SpannedSelfExtractingSet) {
    constexpr std::int64_t kVolume = 250 * 1024;
    const std::string exe = out / "a.exe";
    WriteFile(exe, "an old program");
    {
        Component comp(source);
        comp.zip.SetMaxVolumeSize(kVolume);
        comp.zip.SetSpanOptions(TZASpanOpts{spCompatName});
        ASSERT_EQ(comp.zip.ConvertToSpanSFX(exe), 0);
        // The program is the current archive; reading it finds the set.
        EXPECT_EQ(comp.zip.ZipFileName(), exe);
        EXPECT_TRUE(comp.zip.ArchiveLoaded());
        EXPECT_EQ(comp.zip.Count(), static_cast<int>(names.size()));
    }
    // Three parts: the first one smaller by the room kept for the program.
    const std::vector<std::string> files = FilesIn(out.path());
    EXPECT_EQ(files, (std::vector<std::string>{"a.exe", "a001.zip", "a002.zip", "a003.zip"}));
    for (const std::string& f : files) {
        EXPECT_LE(FileSize(out / f), kVolume) << f;
    }
    // The first part left room for the program beside it.
    EXPECT_LE(FileSize(out / "a001.zip") + FileSize(exe), kVolume);

    // The program: stub, block, the set's directory on the part after the
    // set's last, and the same size the estimate gave.
    const std::string bytes = ReadFile(exe);
    ASSERT_EQ(bytes.substr(0, 2), "MZ");
    const std::size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(U16(bytes, end + 4), 3u);  // this part: after a001.zip ... a003.zip (0 ... 2)
    EXPECT_EQ(U16(bytes, end + 6), 3u);  // the directory starts on it
    EXPECT_EQ(U16(bytes, end + 10), names.size());
    const std::uint32_t dirSize = U32(bytes, end + 12);
    const std::uint32_t dirOffset = U32(bytes, end + 16);
    EXPECT_EQ(dirOffset + dirSize, end);
    EXPECT_EQ(U32(bytes, dirOffset), zrec::kCentralHeaderSig);
    // The block sits right before the directory.
    const std::size_t block = bytes.rfind(std::string("\x44\x5A\x00\x0C", 4), dirOffset);
    ASSERT_NE(block, std::string::npos);
    EXPECT_EQ(block + U16(bytes, block + SFX_BLOCK_OFF_SIZE), dirOffset);
    {
        Component comp(out / "a003.zip");
        TZALister lister(comp.zip);
        EXPECT_FALSE(lister.IsDetachedSelfExtractor(out / "a003.zip"));
        TZAFileOpr op(comp.zip);
        auto set = std::make_unique<TZAZipFile>(comp.zip);
        set->SetFileName(out / "a003.zip");
        ASSERT_GE(set->Open(false, false), 0);
        EXPECT_EQ(op.DetachedSize(*set), static_cast<std::uint32_t>(bytes.size()));
    }

    // Deleting from the set through its program rewrites the parts and the
    // program: the program keeps its stub and block.
    const std::string stubBefore = bytes.substr(0, dirOffset);
    {
        Component comp(exe);
        comp.zip.SetFSpecArgs({"b6.bin"});
        comp.zip.Delete();
        EXPECT_EQ(comp.zip.ErrCode(), 0);
        EXPECT_EQ(comp.zip.Count(), static_cast<int>(names.size()) - 1);
    }
    names.erase(std::find(names.begin(), names.end(), "b6.bin"));
    const std::string after = ReadFile(exe);
    EXPECT_EQ(after.substr(0, stubBefore.size()), stubBefore);
    EXPECT_EQ(U32(after, stubBefore.size()), zrec::kCentralHeaderSig);

    // The parts joined by Info-ZIP (under its names for parts) are the
    // original archive's entries.
    ASSERT_EQ(Shell("mv a001.zip a.z01 && mv a002.zip a.z02 && mv a003.zip a.zip"
                    " && zip -q -s 0 a.zip --out joined.zip",
                    out.path())
                  .status,
              0);
    EXPECT_TRUE(UnzipTestClean(out / "joined.zip"));
    EXPECT_EQ(UnzipNames(out / "joined.zip"), names);
}

TEST_F(ZALoaderSet, ArchiveThatFitsBecomesOneProgram) {
    struct Case {
        const char* name;
        std::int64_t volume;
    };
    for (const Case c : {Case{"no part size", 0}, Case{"larger parts", 10 << 20}}) {
        SCOPED_TRACE(c.name);
        const std::string exe = out / "one.exe";
        Component comp(source);
        comp.zip.SetMaxVolumeSize(c.volume);
        ASSERT_EQ(comp.zip.ConvertToSpanSFX(exe), 0);
        EXPECT_EQ(FilesIn(out.path()), std::vector<std::string>{"one.exe"});
        EXPECT_TRUE(UnzipTestClean(exe));
        EXPECT_EQ(UnzipNames(exe), names);
        std::filesystem::remove(exe);
    }
}

TEST_F(ZALoaderSet, WriteSpannedTakesTheTemporaryArchive) {
    struct Case {
        const char* name;
        const char* target;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"plain set", "s.zip", {"s.z01", "s.z02", "s.zip"}},
        {"self-extracting set", "p.exe", {"p.exe", "p001.zip", "p002.zip", "p003.zip"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder target;
        const std::string temp = dir / "temp.zip";
        std::filesystem::copy_file(source, temp, std::filesystem::copy_options::overwrite_existing);
        Component comp;
        comp.zip.SetMaxVolumeSize(250 * 1024);
        comp.zip.SetSpanOptions(TZASpanOpts{spCompatName});
        comp.zip.SetZipFileName(target / c.target);
        TZAFileOpr op(comp.zip);
        EXPECT_TRUE(op.WriteSpanned(temp, false));
        EXPECT_FALSE(std::filesystem::exists(temp));
        EXPECT_EQ(FilesIn(target.path()), c.files);
        Component back(target / c.target);
        EXPECT_EQ(back.zip.Count(), static_cast<int>(names.size()));
    }
}

TEST(ZALoader, KeptExtraBlocks) {
    auto block = [](std::uint16_t tag, std::size_t size) {
        std::string b(4 + size, 'x');
        b[0] = static_cast<char>(tag);
        b[1] = static_cast<char>(tag >> 8);
        b[2] = static_cast<char>(size);
        b[3] = static_cast<char>(size >> 8);
        return b;
    };
    const std::string zip64 = block(0x0001, 8);
    const std::string unicode = block(0x7075, 9);
    const std::string ntfs = block(0x000A, 32);
    const std::string bareNtfs = block(0x000A, 4);
    const std::string time = block(0x5455, 5);
    struct Case {
        const char* name;
        std::string extra;
        std::string kept;
    };
    const Case cases[] = {
        {"nothing", "", ""},
        {"others dropped, order fixed", time + ntfs + unicode + zip64, zip64 + unicode + ntfs},
        {"a bare NTFS block is dropped", bareNtfs + zip64, zip64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TZALoader::KeptExtra(c.extra), c.kept);
    }
}

}  // namespace
