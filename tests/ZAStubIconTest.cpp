// The self-extractor's icon: read from the stub program's resources and
// replaced by the images of an icon file, the program's sections staying
// valid; through the component, the icon of a converted program is read back
// when the program is opened.
#include "zip/ZAStubIcon.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sfx/core/sfxblock.h"
#include "sfx/res/ZAResSFX.h"
#include "tests/RewriteTestSupport.h"
#include "zip/ZAInternal.h"
#include "zip/ZAXcpt.h"

using namespace rewrite_test;

namespace {

void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// An icon file with square 32-bit images of the given sizes, filled with `shade`.
std::vector<std::uint8_t> MakeIcon(std::initializer_list<int> sizes, std::uint8_t shade) {
    std::vector<std::uint8_t> ico(6 + 16 * sizes.size());
    Put(ico, 2, 1, 2);
    Put(ico, 4, static_cast<std::uint32_t>(sizes.size()), 2);
    std::size_t i = 0;
    for (const int px : sizes) {
        const auto n = static_cast<std::uint32_t>(px);
        std::vector<std::uint8_t> image(40 + n * n * 4 + n * 4, shade);
        Put(image, 0, 40, 4);
        Put(image, 4, n, 4);
        Put(image, 8, n * 2, 4);  // colour and mask rows
        Put(image, 12, 1, 2);
        Put(image, 14, 32, 2);
        const std::size_t e = 6 + 16 * i++;
        ico[e] = static_cast<std::uint8_t>(n);
        ico[e + 1] = static_cast<std::uint8_t>(n);
        Put(ico, e + 4, 1, 2);
        Put(ico, e + 6, 32, 2);
        Put(ico, e + 8, static_cast<std::uint32_t>(image.size()), 4);
        Put(ico, e + 12, static_cast<std::uint32_t>(ico.size()), 4);
        ico.insert(ico.end(), image.begin(), image.end());
    }
    return ico;
}

int MessageOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const EZipArchiver& e) {
        return e.MessageId;
    }
    return 0;
}

class ZAStubIcon : public ::testing::Test {
protected:
    void SetUp() override {
        const auto res = FindRawResource(SFX_STUB_RESOURCE_NAME);
        if (res.empty()) {
            GTEST_SKIP() << "built without the self-extractor stub";
        }
        stub.assign(res.begin() + 4, res.end());
    }
    std::vector<std::uint8_t> stub;
};

TEST_F(ZAStubIcon, ReplacedIconReadsBack) {
    const std::vector<std::uint8_t> own = ReadExeIcon(stub);
    ASSERT_GE(own.size(), 6u + 16u);
    EXPECT_EQ(own[2], 1);  // an icon file

    struct Case {
        const char* name;
        std::vector<std::uint8_t> icon;
    };
    const Case cases[] = {
        {"one small image (the section shrinks)", MakeIcon({16}, 0x11)},
        {"three images (the section grows)", MakeIcon({16, 32, 48}, 0x22)},
        {"the stub's own icon again", own},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> exe = stub;
        ReplaceExeIcon(exe, c.icon);
        EXPECT_EQ(ReadExeIcon(exe), c.icon);
        // Replacing again works on the rebuilt program.
        ReplaceExeIcon(exe, own);
        EXPECT_EQ(ReadExeIcon(exe), own);
        // The sections are sound for the cross tools, when they are here.
        ScratchFolder dir;
        const std::string path = dir / "stub.exe";
        WriteFile(path, std::string(exe.begin(), exe.end()));
        if (Shell("command -v i686-w64-mingw32-objdump")) {
            const auto dump = Shell("i686-w64-mingw32-objdump -p " + Quote(path));
            EXPECT_EQ(dump.status, 0) << dump.output;
            EXPECT_NE(dump.output.find("Resource Directory"), std::string::npos);
        }
    }
}

TEST_F(ZAStubIcon, BadInputIsRefused) {
    std::vector<std::uint8_t> noIconFile = MakeIcon({16}, 0);
    noIconFile[2] = 2;  // a cursor file
    std::vector<std::uint8_t> cut = MakeIcon({32}, 0);
    cut.resize(cut.size() - 100);
    const std::vector<std::uint8_t> notAProgram(20000, 'x');
    struct Case {
        const char* name;
        std::vector<std::uint8_t> exe;
        std::vector<std::uint8_t> icon;
        int message;
    };
    const Case cases[] = {
        {"not an icon file", stub, noIconFile, 148},
        {"images past the end of the file", stub, cut, 145},
        {"not a program", notAProgram, MakeIcon({16}, 0), 144},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> exe = c.exe;
        EXPECT_EQ(MessageOf([&] { ReplaceExeIcon(exe, c.icon); }), c.message);
        EXPECT_EQ(exe, c.exe);
    }
    // Reading: something that is no program has no icon; a broken resource
    // tree is an error.
    EXPECT_TRUE(ReadExeIcon(notAProgram).empty());
    std::vector<std::uint8_t> broken = stub;
    const std::size_t tree = [&] {
        // The resource directory's file offset: the stub's resources open
        // the section named ".rsrc".
        const std::string bytes(broken.begin(), broken.end());
        const std::size_t header = bytes.find(".rsrc");
        return static_cast<std::size_t>(broken[header + 20] | (broken[header + 21] << 8) |
                                        (broken[header + 22] << 16));
    }();
    broken[tree + 14] = 0xFF;  // more entries than the section holds
    broken[tree + 15] = 0xFF;
    EXPECT_EQ(MessageOf([&] { ReadExeIcon(broken); }), 143);
}

TEST_F(ZAStubIcon, ConvertedProgramCarriesTheIcon) {
    ScratchFolder dir;
    const std::string archive = dir / "a.zip";
    MakeArchive(dir, archive, 2, 1);
    const std::vector<std::uint8_t> icon = MakeIcon({16, 32}, 0x5A);
    {
        Component comp(archive);
        TZAIcon chosen{icon};
        comp.zip.SetSFXIcon(&chosen);
        ASSERT_EQ(comp.zip.ConvertToSFX(), 0);
    }
    const std::string exe = dir / "a.exe";
    EXPECT_TRUE(UnzipTestClean(exe));
    const std::string bytes = ReadFile(exe);
    EXPECT_EQ(
        ReadExeIcon(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())),
        icon);
    // Opening the program takes its icon into the component's settings.
    Component back(exe);
    ASSERT_TRUE(back.zip.ArchiveLoaded());
    ASSERT_NE(back.zip.SFXIcon(), nullptr);
    EXPECT_EQ(back.zip.SFXIcon()->Data, icon);
    // The stub's extraction still finds its block behind the image.
    const std::string extractor = SfxExtractor();
    if (!extractor.empty()) {
        EXPECT_EQ(Shell(Quote(extractor) + " " + Quote(exe) + " " + Quote(dir / "x")).status, 0);
        EXPECT_EQ(ReadFile(dir / "x/t2.txt"), "text file 2\n");
    }
}

}  // namespace
