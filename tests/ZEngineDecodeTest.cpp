// Deflate entries on both decoding paths (small ones whole in memory, large ones streamed):
// intact data extracts byte-identical; a declared size that is too large or too small, a
// damaged or cut-short stream is refused for that entry alone and leaves no file behind.
#include <gtest/gtest.h>

#include <set>

#include "ZEngineHarness.h"

using namespace zetest;

namespace {

// Writes intact.zip and damaged variants into `dir` (Python's zipfile, deflate level 6).
// Entries: small.txt (whole-buffer path), big.txt and big.bin (streamed path).
const char* kMakeArchives = R"PY(
import os, random, struct, sys, zipfile
d = sys.argv[1]
random.seed(7)
words = [''.join(random.choice('abcdefghij') for _ in range(random.randint(2, 9))) for _ in range(500)]
def text(n):
    out, size = [], 0
    while size < n:
        line = ' '.join(random.choice(words) for _ in range(12)) + '\n'
        out.append(line); size += len(line)
    return ''.join(out)[:n].encode()
files = {'small.txt': text(200000), 'big.txt': text(12 << 20),
         'big.bin': bytes(random.getrandbits(8) if i % 7 else 0 for i in range(10 << 20))}
for n, b in files.items():
    open(os.path.join(d, 'src_' + n), 'wb').write(b)
with zipfile.ZipFile(os.path.join(d, 'intact.zip'), 'w', zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for n, b in files.items():
        z.writestr(n, b)
base = open(os.path.join(d, 'intact.zip'), 'rb').read()
def headers(z, name):
    n = name.encode()
    loc = z.find(b'PK\x03\x04')
    while z[loc + 30:loc + 30 + len(n)] != n or struct.unpack_from('<H', z, loc + 26)[0] != len(n):
        loc = z.find(b'PK\x03\x04', loc + 1)
    cen = z.find(b'PK\x01\x02')
    while z[cen + 46:cen + 46 + len(n)] != n or struct.unpack_from('<H', z, cen + 28)[0] != len(n):
        cen = z.find(b'PK\x01\x02', cen + 1)
    return loc, cen
def variant(out, name, kind):
    z = bytearray(base)
    loc, cen = headers(z, name)
    csize = struct.unpack_from('<I', z, loc + 18)[0]
    usize = struct.unpack_from('<I', z, loc + 22)[0]
    start = loc + 30 + struct.unpack_from('<H', z, loc + 26)[0] + struct.unpack_from('<H', z, loc + 28)[0]
    if kind in ('plus', 'minus'):
        v = usize + (1 if kind == 'plus' else -1)
        struct.pack_into('<I', z, loc + 22, v); struct.pack_into('<I', z, cen + 24, v)
    elif kind == 'damaged':
        for i in range(16):
            z[start + csize // 2 + i] ^= 0x5A
    elif kind == 'cut':
        v = csize // 2
        struct.pack_into('<I', z, loc + 18, v); struct.pack_into('<I', z, cen + 20, v)
    open(os.path.join(d, out), 'wb').write(z)
for name in files:
    for kind in ('plus', 'minus', 'damaged', 'cut'):
        variant(name + '.' + kind + '.zip', name, kind)
)PY";

const std::vector<std::string> kEntries = {"small.txt", "big.txt", "big.bin"};

}  // namespace

TEST(ZEngineDecode, BothDeflatePathsBoundSizesAndRejectDamage) {
    TempDir t;
    writeFile(t.path / "make.py", kMakeArchives);
    ASSERT_EQ(sh("python3 '" + (t / "make.py") + "' '" + t.path.string() + "'"), 0);

    Harness all;
    all.archive = t / "intact.zip";
    all.base = t / "intact";
    fs::create_directories(t.path / "intact");
    ASSERT_EQ(all.extract(), 3);
    for (const std::string& n : kEntries)
        EXPECT_EQ(readFile(t.path / "intact" / n), readFile(t.path / ("src_" + n))) << n;

    for (const std::string& bad : kEntries) {
        for (const char* kind : {"plus", "minus", "damaged", "cut"}) {
            const std::string zip = bad + "." + kind + ".zip";
            SCOPED_TRACE(zip);
            const fs::path out = t.path / ("x_" + zip);
            fs::create_directories(out);
            Harness h;
            h.archive = t / zip;
            h.base = out.string();
            EXPECT_EQ(h.extract(), 2);
            ASSERT_EQ(h.skips.size(), 1u);
            EXPECT_EQ(h.skips[0].name, bad);
            // Only the two sound entries are there: no partial file, no temporary file.
            std::set<std::string> names;
            for (const auto& f : fs::directory_iterator(out))
                names.insert(f.path().filename().string());
            std::set<std::string> expected(kEntries.begin(), kEntries.end());
            expected.erase(bad);
            EXPECT_EQ(names, expected);
            for (const std::string& n : expected)
                EXPECT_EQ(readFile(out / n), readFile(t.path / ("src_" + n))) << n;

            Harness v;
            v.archive = t / zip;
            EXPECT_EQ(v.test(), 2);
            EXPECT_EQ(v.skips.size(), 1u);
        }
    }
}

// Files are written behind the job's thread: an entry whose path (or one of its folders) is
// still being written waits for it, so duplicates and file-under-file names behave as if
// every file were written at once.
TEST(ZEngineDecode, LaterEntriesSeeTheFilesOfEarlierOnes) {
    TempDir t;
    const std::string make = R"PY(
import sys, warnings, zipfile
warnings.simplefilter('ignore')
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(40):
        z.writestr('d/f%02d.txt' % i, 'filler %d\n' % i * 50)
    z.writestr('d/a.txt', 'first\n' * 100)
    z.writestr('d/a.txt', 'second\n' * 100)
    z.writestr('d/a.txt/x', 'under a file\n')
)PY";
    writeFile(t.path / "make.py", make);
    ASSERT_EQ(sh("python3 '" + (t / "make.py") + "' '" + (t / "dup.zip") + "'"), 0);
    struct Case {
        int overwriteAnswer;
        const char* expectA;
    };
    for (Case c : {Case{1, "second\n"}, Case{2, "first\n"}}) {
        SCOPED_TRACE(c.overwriteAnswer);
        fs::remove_all(t.path / "x");
        fs::create_directories(t.path / "x");
        Harness h;
        h.archive = t / "dup.zip";
        h.base = t / "x";
        h.overwriteAnswer = c.overwriteAnswer;
        EXPECT_EQ(h.extract(), c.overwriteAnswer == 1 ? 42 : 41);
        EXPECT_EQ(h.overwriteAsked, std::vector<std::string>{"d/a.txt"});
        EXPECT_EQ(readFile(t.path / "x/d/a.txt").substr(0, strlen(c.expectA)), c.expectA);
        std::string f39;
        for (int i = 0; i < 50; ++i)
            f39 += "filler 39\n";
        EXPECT_EQ(readFile(t.path / "x/d/f39.txt"), f39);
        ASSERT_FALSE(h.skips.empty());
        EXPECT_EQ(h.skips.back().name, "d/a.txt/x");
    }
}

// Deflate64 as 7-Zip writes it: matches farther back than 32 KiB (distance codes 30 and 31),
// long runs (length code 285 with 16 extra bits), output past the 1 MiB streaming buffer.
TEST(ZEngineDecode, Deflate64From7Zip) {
    TempDir t;
    const std::string make = R"PY(
import os, random, sys
d = sys.argv[1]
random.seed(3)
w = [''.join(random.choice('abcdefgh') for _ in range(6)) for _ in range(300)]
open(os.path.join(d, 'text.txt'), 'wb').write(' '.join(random.choice(w) for _ in range(400000)).encode())
blk = bytes(random.getrandbits(8) for _ in range(60000))
far = blk + bytes(random.getrandbits(8) for _ in range(5000)) + blk + blk[:30000] + bytes(300000)
open(os.path.join(d, 'far.bin'), 'wb').write(far)
open(os.path.join(d, 'small.txt'), 'wb').write(b'hello deflate64 ' * 20)
)PY";
    fs::create_directories(t.path / "src");
    writeFile(t.path / "make.py", make);
    ASSERT_EQ(sh("python3 '" + (t / "make.py") + "' '" + (t / "src") + "'"), 0);
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && 7zz a -tzip -mm=Deflate64 ../d64.zip ."), 0);
    ASSERT_EQ(sh("python3 -c \"import zipfile,sys; sys.exit(0 if all(i.compress_type == 9 for i "
                 "in zipfile.ZipFile('" +
                 (t / "d64.zip") + "').infolist()) else 1)\""),
              0);
    fs::create_directories(t.path / "x");
    Harness h;
    h.archive = t / "d64.zip";
    h.base = t / "x";
    EXPECT_EQ(h.extract(), 3);
    for (const char* n : {"text.txt", "far.bin", "small.txt"})
        EXPECT_EQ(readFile(t.path / "x" / n), readFile(t.path / "src" / n)) << n;
    Harness v;
    v.archive = t / "d64.zip";
    EXPECT_EQ(v.test(), 3);

    // Damaged in the middle of the largest entry: that entry alone fails.
    std::string z = readFile(t.path / "d64.zip");
    const size_t at = z.find("text.txt") + 8 + z.size() / 4;
    for (size_t i = 0; i < 32; ++i)
        z[at + i] = char(z[at + i] ^ 0x6B);
    writeFile(t.path / "bad.zip", z);
    Harness b;
    b.archive = t / "bad.zip";
    EXPECT_EQ(b.test(), 2);
    ASSERT_EQ(b.skips.size(), 1u);
}
