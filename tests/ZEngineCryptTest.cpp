// Encrypted entries larger than the engine's whole-buffer size, traditional and AES, from our
// own engine and from peers: they are decrypted in bounded chunks and extract byte-identical
// through every decoder; a wrong password or damaged cipher text (early or late in the entry,
// after most of the output was written) is reported and leaves no file behind.
#include <gtest/gtest.h>

#include <sstream>

#include "ZEngineHarness.h"

using namespace zetest;

namespace {

// About 12 MiB: above the size decoded whole, many decryption chunks. Text with an
// incompressible stretch, so that every method has work on both kinds of data.
std::string bigContent() {
    std::string s;
    s.reserve(12u << 20);
    uint32_t seed = 17;
    auto rnd = [&] { return seed = seed * 1103515245u + 12345u; };
    while (s.size() < (9u << 20)) {
        s += "Zeile ";
        s += std::to_string(rnd() % 100000);
        s += (rnd() & 1) ? " mit etwas Text und Zahlen\n" : " und noch mehr\n";
    }
    for (size_t i = 0; i < (3u << 20); ++i)
        s += char(rnd() >> 24);
    return s;
}

// Offset of the single entry's data (from its local header) and its compressed size.
std::pair<size_t, size_t> entryData(const std::string& zip) {
    const std::string script =
        "import zipfile,struct,sys\n"
        "z=zipfile.ZipFile(sys.argv[1]); i=z.infolist()[0]; f=open(sys.argv[1],'rb')\n"
        "f.seek(i.header_offset); h=f.read(30); n,m=struct.unpack('<HH',h[26:30])\n"
        "print(i.header_offset+30+n+m, i.compress_size)\n";
    TempDir t;
    writeFile(t.path / "off.py", script);
    std::string out = t / "off.txt";
    if (sh("python3 '" + (t / "off.py") + "' '" + zip + "' > '" + out + "'") != 0)
        return {0, 0};
    std::istringstream in(readFile(out));
    size_t off = 0, len = 0;
    in >> off >> len;
    return {off, len};
}

struct CryptCase {
    const char* title;
    const char* command;  // run in the source folder, writes ../a.zip; empty: our engine
    bool aes;
};

class ZEngineCrypt : public ::testing::TestWithParam<CryptCase> {};

TEST_P(ZEngineCrypt, LargeEntriesStreamAndDamageIsCaught) {
    const CryptCase& c = GetParam();
    const std::string pw = "Geheim 42";
    const std::string content = bigContent();
    TempDir t;
    writeFile(t.path / "src/big.bin", content);
    const std::string zip = t / "a.zip";
    if (*c.command) {
        ASSERT_EQ(sh("cd '" + (t / "src") + "' && " + c.command), 0) << c.command;
    } else {
        Harness a;
        a.archive = zip;
        a.root = t / "src";
        a.includes = {"big.bin"};
        a.password = pw;
        ASSERT_EQ(a.add(ZE_FLAG_ENCRYPT), 1);
    }
    auto extractInto = [&](const std::string& archive, const std::string& folder,
                           const std::string& password) {
        fs::remove_all(t.path / folder);
        fs::create_directories(t.path / folder);
        Harness h;
        h.archive = archive;
        h.password = password;
        h.base = t / folder;
        int32_t n = h.extract();
        Harness v;
        v.archive = archive;
        v.password = password;
        EXPECT_EQ(v.test(), n) << c.title << ": test and extract agree";
        return std::make_pair(n, h.skips);
    };

    auto [n, skips] = extractInto(zip, "out", pw);
    EXPECT_EQ(n, 1) << c.title;
    EXPECT_TRUE(skips.empty()) << c.title;
    EXPECT_TRUE(readFile(t.path / "out/big.bin") == content) << c.title << ": byte-identical";

    // A wrong password is refused before anything is written.
    auto [nw, skipsWrong] = extractInto(zip, "wrong", "falsch");
    EXPECT_EQ(nw, 0) << c.title;
    ASSERT_EQ(skipsWrong.size(), 1u) << c.title;
    EXPECT_FALSE(fs::exists(t.path / "wrong/big.bin")) << c.title;

    // One flipped bit near the start (the decoder may stop at once) and one in the last
    // chunk (most of the file is written by the time the check fails).
    const auto [off, len] = entryData(zip);
    ASSERT_GT(len, 4096u) << c.title;
    const std::string intact = readFile(zip);
    for (size_t at : {off + 64, off + len - 200}) {
        std::string damaged = intact;
        damaged[at] = char(damaged[at] ^ 0x10);
        const std::string dz = t / "d.zip";
        writeFile(dz, damaged);
        auto [nd, skipsDamaged] = extractInto(dz, "damaged", pw);
        EXPECT_EQ(nd, 0) << c.title << " damaged at " << at - off;
        ASSERT_EQ(skipsDamaged.size(), 1u) << c.title << " damaged at " << at - off;
        if (c.aes) {
            EXPECT_EQ(skipsDamaged[0].err, ZE_ERR_INVALID_ZIP) << c.title << ": authentication";
        }
        EXPECT_TRUE(fs::is_empty(t.path / "damaged")) << c.title << ": no file left";
    }
}

INSTANTIATE_TEST_SUITE_P(
    ZEngine, ZEngineCrypt,
    ::testing::Values(
        CryptCase{"engine_traditional", "", false},
        CryptCase{"zip_traditional_stored", "zip -q -0 -P 'Geheim 42' ../a.zip big.bin", false},
        CryptCase{"sevenzip_aes256_deflate",
                  "7zz a -tzip -mem=AES256 '-pGeheim 42' ../a.zip big.bin >/dev/null", true},
        CryptCase{"sevenzip_aes128_stored",
                  "7zz a -tzip -mx0 -mem=AES128 '-pGeheim 42' ../a.zip big.bin >/dev/null", true},
        CryptCase{"sevenzip_aes192_deflate64",
                  "7zz a -tzip -mm=Deflate64 -mem=AES192 '-pGeheim 42' ../a.zip big.bin >/dev/null",
                  true},
        CryptCase{"sevenzip_aes256_lzma",
                  "7zz a -tzip -mm=LZMA -mem=AES256 '-pGeheim 42' ../a.zip big.bin >/dev/null",
                  true},
        CryptCase{"sevenzip_aes256_bzip2",
                  "7zz a -tzip -mm=BZip2 -mem=AES256 '-pGeheim 42' ../a.zip big.bin >/dev/null",
                  true}),
    [](const auto& info) { return std::string(info.param.title); });

}  // namespace
