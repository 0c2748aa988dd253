// Loading archives written by other tools and the third-party corpus through
// the component, as the window does: ZipFileName, then Count and DirEntry.
//
// - The corpus: tests/data/corpus-listing.txt holds, for every archive, the
//   listing or the message of a failed load (cross-checked against Python's
//   zipfile and the corpus manifest when it was written).
// - Peers: archives made during the test by Info-ZIP zip, 7-Zip, bsdtar and
//   Python's zipfile are listed and compared with what Python reads from
//   them. A peer that is not installed skips its case.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CorpusTestSupport.h"
#include "ZATestZip.h"
#include "zip/ZAIRec.h"
#include "zip/ZAListFormat.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"

namespace fs = std::filesystem;

namespace {

using ztest::Quote;
using ztest::Shell;

struct Outcome {
    bool loaded = false;
    int errCode = 0;
    std::vector<std::string> lines;
};

Outcome ListArchive(const std::string& path, bool dirs = true) {
    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetUseUTF8(true);
    zip.SetUseDirOnlyEntries(dirs);
    zip.SetZipFileName(path);
    Outcome out;
    out.loaded = zip.ArchiveLoaded();
    out.errCode = zip.ErrCode();
    for (int i = 0; i < zip.Count(); ++i) {
        out.lines.push_back(FormatTsvLine(*zip.DirEntry(i)));
    }
    zip.SetUseUTF8(false);
    return out;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) {
        s += l + "\n";
    }
    return s;
}

bool Have(const std::string& tool) {
    return static_cast<bool>(Shell("command -v " + tool));
}

// What Python's zipfile reads, in the listing's format (names escaped the
// same way, folder entries included).
const char* kPythonLister = R"PY(
import sys, zipfile
def esc(s):
    out = ''
    for c in s:
        o = ord(c)
        if c == '\t': out += '\\t'
        elif c == '\n': out += '\\n'
        elif c == '\r': out += '\\r'
        elif c == '\\': out += '\\\\'
        elif o < 32 or o == 127: out += '\\x%02X' % o
        else: out += c
    return out
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print('%s\t%d\t%d\t%08x\t%d\t%04d-%02d-%02d %02d:%02d:%02d\t%d' % ((esc(i.filename), i.compress_size,
          i.file_size, i.CRC, i.compress_type) + i.date_time + (i.flag_bits & 1,)))
)PY";

std::vector<std::string> PythonListing(const std::string& path, const std::string& dir) {
    const std::string script = dir + "lister.py";
    std::ofstream(script) << kPythonLister;
    const auto r = Shell("python3 " + Quote(script) + " " + Quote(path) + " 2>/dev/null");
    EXPECT_TRUE(r) << path;
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string l; std::getline(in, l);) {
        lines.push_back(l);
    }
    return lines;
}

TEST(CorpusTest, EveryArchiveLoadsAsRecordedOrFailsWithItsMessage) {
    std::ifstream in(std::string(TARVIK_SOURCE_DIR) + "/tests/data/corpus-listing.txt");
    ASSERT_TRUE(in) << "tests/data/corpus-listing.txt";
    struct Expected {
        bool ok = false;
        int count = 0;
        std::vector<std::string> lines;
    };
    std::map<std::string, Expected> expected;
    std::string current;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line.rfind("== ", 0) == 0) {
            const auto tab = line.find('\t');
            current = line.substr(3, tab - 3);
            std::istringstream what(line.substr(tab + 1));
            std::string kind;
            Expected e;
            what >> kind >> e.count;
            e.ok = kind == "ok";
            expected[current] = e;
        } else {
            expected[current].lines.push_back(line);
        }
    }
    SKIP_WITHOUT_CORPUS();
    const std::string root = ztest::CorpusDir();
    std::size_t seen = 0;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file() || item.path().extension() == ".md") {
            continue;
        }
        const std::string rel = fs::relative(item.path(), root).string();
        const auto it = expected.find(rel);
        ASSERT_NE(it, expected.end()) << rel << " has no recorded outcome";
        ++seen;
        const Outcome got = ListArchive(item.path().string());
        EXPECT_EQ(got.loaded, it->second.ok) << rel;
        if (it->second.ok) {
            EXPECT_EQ(Join(got.lines), Join(it->second.lines)) << rel;
        } else {
            EXPECT_EQ(got.errCode, it->second.count) << rel;
            EXPECT_TRUE(got.lines.empty()) << rel;
        }
    }
    EXPECT_EQ(seen, expected.size());
}

class PeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("python3")) {
            GTEST_SKIP() << "python3 missing";
        }
        src = dir.path() + "src/";
        fs::create_directories(src + "folder/sub");
        std::ofstream(src + "plain.txt") << "plain text\n";
        std::ofstream(src + "folder/repeat.txt") << std::string(20000, 'r');
        std::ofstream(src + "folder/sub/empty.bin");
        std::string noise;
        for (int i = 0; i < 5000; ++i) {
            noise += static_cast<char>((i * 7919) >> 3);
        }
        std::ofstream(src + "folder/noise.bin", std::ios::binary) << noise;
    }

    // The component's listing equals Python's for the archive.
    void ExpectSameAsPython(const std::string& archive) {
        const Outcome got = ListArchive(archive);
        ASSERT_TRUE(got.loaded) << archive << " error " << got.errCode;
        EXPECT_EQ(Join(got.lines), Join(PythonListing(archive, dir.path()))) << archive;
    }

    ztest::TempDir dir;
    std::string src;
};

TEST_F(PeerTest, InfoZipPlainStreamedAndWithStub) {
    if (!Have("zip")) {
        GTEST_SKIP() << "zip missing";
    }
    const std::string plain = dir.path() + "plain.zip";
    ASSERT_TRUE(Shell("echo 'archive comment' | zip -q -r -z " + Quote(plain) + " .", src));
    ExpectSameAsPython(plain);

    // Zip64 through a stream: sizes unknown in advance, data descriptors.
    const std::string streamed = dir.path() + "streamed.zip";
    ASSERT_TRUE(Shell("cat plain.txt | zip -q -fz " + Quote(streamed) + " -", src));
    ExpectSameAsPython(streamed);

    // A stub in front; first with unadjusted offsets, then fixed by zip -A.
    const std::string sfx = dir.path() + "sfx.exe";
    std::ofstream(sfx, std::ios::binary) << std::string(4096, '\x90');
    ASSERT_TRUE(Shell("cat " + Quote(plain) + " >> " + Quote(sfx)));
    const Outcome shifted = ListArchive(sfx);
    EXPECT_TRUE(shifted.loaded) << shifted.errCode;
    EXPECT_EQ(shifted.lines.size(), ListArchive(plain).lines.size());
    ASSERT_TRUE(Shell("zip -q -A " + Quote(sfx)));
    ExpectSameAsPython(sfx);
}

TEST_F(PeerTest, InfoZipSplitSetTakesOverItsNaming) {
    if (!Have("zip")) {
        GTEST_SKIP() << "zip missing";
    }
    std::string big;
    std::uint32_t x = 2463534242u;
    for (int i = 0; i < 300000; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        big += static_cast<char>(x >> 24);
    }
    std::ofstream(src + "big.bin", std::ios::binary) << big;
    const std::string split = dir.path() + "split.zip";
    ASSERT_TRUE(Shell("zip -q -r -s 100k " + Quote(split) + " .", src));
    ASSERT_TRUE(fs::exists(dir.path() + "split.z01"));

    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetUseUTF8(true);
    zip.SetZipFileName(split);
    EXPECT_TRUE(zip.ArchiveLoaded()) << zip.ErrMessage();
    EXPECT_EQ(zip.Count(), 5);
    EXPECT_TRUE(zip.SpanOptions().contains(spCompatName));
    EXPECT_TRUE(zip.SpanOptions().contains(spNoVolumeName));
    EXPECT_TRUE(zip.WriteOptions().contains(zwoDiskSpan));

    // With NoReadAux the archive's settings are left alone.
    TZipArchiver other;
    other.SetUnattended(true);
    other.SetNoReadAux(true);
    other.SetZipFileName(split);
    EXPECT_EQ(other.Count(), 5);
    EXPECT_TRUE(other.SpanOptions().empty());
    EXPECT_FALSE(other.WriteOptions().contains(zwoDiskSpan));
    zip.SetUseUTF8(false);
}

TEST_F(PeerTest, SevenZipAndBsdtar) {
    bool any = false;
    if (Have("7zz")) {
        any = true;
        const std::string a = dir.path() + "7z.zip";
        ASSERT_TRUE(Shell("7zz a -tzip " + Quote(a) + " .", src));
        ExpectSameAsPython(a);
    }
    if (Have("bsdtar")) {
        any = true;
        const std::string b = dir.path() + "bsd.zip";
        ASSERT_TRUE(Shell("bsdtar -a -cf " + Quote(b) + " .", src));
        ExpectSameAsPython(b);
    }
    if (!any) {
        GTEST_SKIP() << "neither 7zz nor bsdtar installed";
    }
}

TEST_F(PeerTest, PythonUtf8NamesCommentsAndForcedZip64) {
    const std::string a = dir.path() + "py.zip";
    const std::string script = dir.path() + "make.py";
    std::ofstream(script) << R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = 'Archiv-Kommentar'.encode()
    z.writestr('Grüße/Übersicht.txt', 'äöü' * 100)
    i = zipfile.ZipInfo('日本語.txt', (2024, 2, 29, 23, 59, 58))
    i.comment = 'Eintrag'.encode()
    z.writestr(i, b'x')
    with z.open('zip64.bin', 'w', force_zip64=True) as f:
        f.write(b'forced' * 1000)
    z.writestr('ordner/', b'')
)PY";
    ASSERT_TRUE(Shell("python3 " + Quote(script) + " " + Quote(a)));
    ExpectSameAsPython(a);

    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetUseUTF8(true);
    zip.SetZipFileName(a);
    ASSERT_EQ(zip.Count(), 3);  // the folder entry is hidden
    EXPECT_EQ(zip.ZipComment(), "Archiv-Kommentar");
    EXPECT_EQ(zip.DirEntry(1)->FileComment(), "Eintrag");
    EXPECT_EQ(zip.DirEntry(1)->FileName(), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt");
    EXPECT_EQ(zip.DirEntry(2)->UncompressedSize(), 6000);
    zip.SetUseUTF8(false);
}

// The corpus's generated archives of more than 65535 entries, unpacked with
// unzip first. Slow: run with TARVIK_SLOW_TESTS=1.
TEST(ManyEntriesTest, CountsThatWrapOrLie) {
    if (std::getenv("TARVIK_SLOW_TESTS") == nullptr) {
        GTEST_SKIP() << "set TARVIK_SLOW_TESTS=1";
    }
    if (!Have("unzip")) {
        GTEST_SKIP() << "unzip missing";
    }
    SKIP_WITHOUT_CORPUS();
    ztest::TempDir dir;
    ASSERT_TRUE(Shell("unzip -q " + Quote(ztest::CorpusFile("libzip/manyfiles-zip.zip")) + " -d " +
                      Quote(dir.path())));
    // A count that lies (not a classic count that wrapped) loads what the
    // directory holds, as Python does, with the structure warning.
    const struct {
        const char* name;
        int entries;
        int errCode;
    } cases[] = {{"manyfiles.zip", 70000, 0},
                 {"manyfiles-zip64.zip", 70000, 0},
                 {"manyfiles-65536.zip", 65536, 0},
                 {"manyfiles-133000.zip", 133000, 0},
                 {"manyfiles-zip64-modulo.zip", 70000, 20},
                 {"manyfiles-fewer.zip", 70000, 20},
                 {"manyfiles-more.zip", 70000, 20}};
    for (const auto& c : cases) {
        const Outcome got = ListArchive(dir.path() + c.name, false);
        EXPECT_TRUE(got.loaded) << c.name;
        EXPECT_EQ(got.errCode, c.errCode) << c.name;
        EXPECT_EQ(static_cast<int>(got.lines.size()), c.entries) << c.name;
    }
}

}  // namespace
