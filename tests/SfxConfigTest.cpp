// The configuration block behind the stub image: finding the end of the
// image, reading plain and deflated string tables, refusing damaged blocks;
// and the built stub itself (file, resource, version, size, PE format).
#include <gtest/gtest.h>

#include <string>

#include "SfxTestSupport.h"
#include "sfx/res/ZAResSFX.h"
#include "sfx_config.h"
#include "sfx_result.h"
#include "sfxblock.h"

using sfxtest::Bytes;

namespace {

int readConfig(const Bytes& program, SfxConfig& config) {
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, program.data(), program.size());
    return sfx_read_config(&src, &config);
}

std::string longText(std::size_t n) {
    std::string s;
    while (s.size() < n) {
        s += "Dieses Archiv enthält die Dateien des Beispiels. ";
    }
    s.resize(n);
    return s;
}

}  // namespace

TEST(SfxConfig, ReadsEveryTextAndField) {
    struct Case {
        const char* name;
        sfxtest::BlockSpec spec;
        bool deflated;
    };
    sfxtest::BlockSpec all;
    all.caption = "Selbstenpackendes Tarvik - Archiv";
    all.commandLine = "setup.exe /quiet ><";
    all.defaultDir = "C:\\Programme\\Beispiel";
    all.message = "Weiter?";
    all.regFailPath = "C:\\Beispiel";
    all.flags = SFX_OPT_AUTORUN | SFX_OPT_CREATE_EMPTY_DIRS | SFX_OPT_SUCCESS_ALWAYS;
    all.overwrite = SFX_OVR_CONFIRM;
    all.msgbox = SFX_MSGBOX_YESNO;
    all.allowDeflate = false;
    sfxtest::BlockSpec packed = all;
    packed.message = longText(900);
    packed.allowDeflate = true;
    sfxtest::BlockSpec captionOnly;
    captionOnly.caption = "Nur ein Titel: äöü";
    const Case cases[] = {{"all texts plain", all, false},
                          {"deflated table", packed, true},
                          {"one text", captionOnly, false},
                          {"no texts", sfxtest::BlockSpec{}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes stub = sfxtest::stubImage();
        const Bytes block = sfxtest::configBlock(c.spec);
        Bytes program = stub;
        sfxtest::append(program, block);
        sfxtest::append(program, std::string("PK\x05\x06", 4));
        SfxConfig config;
        ASSERT_EQ(readConfig(program, config), SFX_OK);
        EXPECT_EQ(config.image_end, stub.size());
        EXPECT_EQ(config.archive_start, stub.size() + block.size());
        EXPECT_EQ(block.size() % 4, 0u);
        EXPECT_EQ((config.flags & SFX_FLAG_TABLE_DEFLATED) != 0, c.deflated);
        EXPECT_EQ(config.flags & ~SFX_FLAG_TABLE_DEFLATED, c.spec.flags);
        EXPECT_EQ(config.overwrite, c.spec.overwrite);
        EXPECT_EQ(config.msgbox, c.spec.msgbox);
        EXPECT_EQ(config.text[SFX_STR_CAPTION], c.spec.caption);
        EXPECT_EQ(config.text[SFX_STR_COMMAND_LINE], c.spec.commandLine);
        EXPECT_EQ(config.text[SFX_STR_DEFAULT_DIR], c.spec.defaultDir);
        EXPECT_EQ(config.text[SFX_STR_MESSAGE], c.spec.message);
        EXPECT_EQ(config.text[SFX_STR_REG_FAIL_PATH], c.spec.regFailPath);
    }
}

TEST(SfxConfig, SkipsUnknownTextIds) {
    Bytes block;
    sfxtest::put32(block, SFX_BLOCK_SIGNATURE);
    sfxtest::put16(block, 12 + 12);
    sfxtest::put16(block, 0);
    sfxtest::put16(block, 0);
    sfxtest::put16(block, 0);
    sfxtest::append(block, std::string("\x09zz\0\x01T\0\0\0\0\0\0", 12));
    SfxConfig config;
    ASSERT_EQ(sfx_parse_block(block.data(), block.size(), &config), SFX_OK);
    EXPECT_STREQ(config.text[SFX_STR_CAPTION], "T");
}

TEST(SfxConfig, RefusesDamagedBlocks) {
    sfxtest::BlockSpec spec;
    spec.caption = "Titel";
    spec.message = longText(600);
    const Bytes good = sfxtest::configBlock(spec);
    ASSERT_EQ(good[6] | (good[7] << 8), SFX_FLAG_TABLE_DEFLATED);
    auto changed = [&](std::size_t at, std::uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    struct Case {
        const char* name;
        Bytes block;
        int expected;
    };
    sfxtest::BlockSpec plain;
    plain.caption = "Titel";
    Bytes unterminated = sfxtest::configBlock(plain);
    std::fill(unterminated.begin() + 12, unterminated.end(), 'x');
    const Case cases[] = {
        {"old fixed-record form", changed(3, 0x01), SFX_E_NOBLOCK},
        {"other signature", changed(0, 0x45), SFX_E_NOBLOCK},
        {"too short for its header", Bytes(good.begin(), good.begin() + 8), SFX_E_NOBLOCK},
        {"size below the header", changed(4, 11), SFX_E_FORMAT},
        {"size beyond the data", Bytes(good.begin(), good.end() - 4), SFX_E_FORMAT},
        {"deflated size too large", changed(12, 0xFF), SFX_E_FORMAT},
        {"plain size wrong", changed(14, static_cast<std::uint8_t>(good[14] + 1)), SFX_E_FORMAT},
        {"checksum wrong", changed(16, static_cast<std::uint8_t>(good[16] ^ 1)), SFX_E_FORMAT},
        {"deflate data damaged", changed(20, static_cast<std::uint8_t>(good[20] ^ 0xFF)),
         SFX_E_FORMAT},
        {"table without its end", unterminated, SFX_E_FORMAT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SfxConfig config;
        EXPECT_EQ(sfx_parse_block(c.block.data(), c.block.size(), &config), c.expected);
    }
}

TEST(SfxConfig, ImageEndNeedsACompleteProgram) {
    const Bytes stub = sfxtest::syntheticStub(4096);
    auto read = [](const Bytes& b, std::uint64_t& end) {
        SfxSource src;
        SfxMemorySource mem;
        sfx_source_memory(&src, &mem, b.data(), b.size());
        return sfx_image_end(&src, &end);
    };
    std::uint64_t end = 0;
    ASSERT_EQ(read(stub, end), SFX_OK);
    EXPECT_EQ(end, 4096u);
    struct Case {
        const char* name;
        Bytes program;
    };
    Bytes noMz = stub;
    noMz[0] = 'X';
    Bytes noPe = stub;
    noPe[0x81] = 'X';
    Bytes farHeader = stub;
    farHeader[62] = 0x7F;  // PE header offset far beyond the file
    Bytes noSections = stub;
    noSections[0x86] = 0;
    Bytes cut(stub.begin(), stub.begin() + 3000);  // last section ends beyond the file
    const Case cases[] = {{"no MZ", noMz},
                          {"no PE", noPe},
                          {"header far away", farHeader},
                          {"no sections", noSections},
                          {"cut short", cut},
                          {"tiny", Bytes{'M', 'Z'}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read(c.program, end), SFX_E_NOTPE);
    }
}

// The stub the build made: the file next to the executables and the linked
// resource are the same bytes, carry the version and keep the size bounds.
TEST(SfxStub, FileAndResourceAreTheBuiltStub) {
    const std::string file = TARVIK_SFX_STUB_FILE;
    if (file.empty()) {
        EXPECT_TRUE(FindRawResource("ZAResSFX191").empty());
        GTEST_SKIP() << "built without the Windows cross compiler";
    }
    const Bytes bytes = sfxtest::readFile(file);
    ASSERT_GT(bytes.size(), SFX_STUB_SIZE_ABOVE);
    ASSERT_LT(bytes.size(), SFX_STUB_SIZE_BELOW);
    const std::uint32_t version = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                  (static_cast<std::uint32_t>(bytes[3]) << 24);
    EXPECT_EQ(version, SFX_STUB_VERSION);
    EXPECT_GE(version, SFX_STUB_MIN_VERSION);
    EXPECT_EQ(bytes[4], 'M');
    EXPECT_EQ(bytes[5], 'Z');

    const auto resource = FindRawResource("ZAResSFX191");
    EXPECT_TRUE(Bytes(resource.begin(), resource.end()) == bytes);
    EXPECT_EQ(FindRawResource("zaressfx191").size(), bytes.size());
    EXPECT_TRUE(FindRawResource("ZAResSFX190").empty());

    // next to the test program, as next to every executable of the build
    const auto besideTests =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / SFX_STUB_FILE_NAME;
    EXPECT_TRUE(sfxtest::readFile(besideTests) == bytes);

    // the stub image ends where its file ends: nothing is hidden behind it
    const Bytes image(bytes.begin() + 4, bytes.end());
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, image.data(), image.size());
    std::uint64_t end = 0;
    ASSERT_EQ(sfx_image_end(&src, &end), SFX_OK);
    EXPECT_EQ(end, image.size());

    if (sfxtest::haveTool("file")) {
        sfxtest::TempDir dir;
        sfxtest::writeFile(dir / "stub.exe", image);
        const auto out = dir / "file.txt";
        ASSERT_EQ(sfxtest::run("file -b " + sfxtest::quote(dir / "stub.exe") + " > " +
                               sfxtest::quote(out)),
                  0);
        const Bytes text = sfxtest::readFile(out);
        const std::string said(text.begin(), text.end());
        EXPECT_NE(said.find("PE32 executable (GUI) Intel 80386"), std::string::npos) << said;
    }
}
