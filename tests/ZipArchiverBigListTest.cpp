// Large archives through the component as the window loads them
// (ZipFileName, then Count and DirEntry), compared entry by entry with what
// Python's zipfile reads from the same file:
//
// - more entries than the end record's 16-bit count holds, so the count and
//   the directory's place come from the Zip64 end record;
// - a sparse archive with 4.2 GiB of stored data in front, so that later
//   entries and the central directory lie beyond 4 GiB and their offsets and
//   the first entry's sizes are only in Zip64 extra fields.
//
// Each case writes its archive with a Python script; a case whose tools or
// file system cannot make it (no python3, no sparse files) is skipped.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ZATestZip.h"
#include "zip/ZAIRec.h"
#include "zip/ZAListFormat.h"
#include "zip/ZipArchiver.h"

namespace {

using ztest::Quote;
using ztest::Shell;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        lines.push_back(l);
    }
    return lines;
}

// Python's view of every entry in the listing's tab-separated form, followed
// by the local header offset. The names of these archives have no control
// characters, so they need no escaping.
const char* kPythonLister = R"PY(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print('%s\t%d\t%d\t%08x\t%d\t%04d-%02d-%02d %02d:%02d:%02d\t%d\t%d' % ((i.filename,
          i.compress_size, i.file_size, i.CRC, i.compress_type) + i.date_time +
          (i.flag_bits & 1, i.header_offset)))
)PY";

// 70,000 entries: more than the end record counts, stored and deflated,
// names with UTF-8 letters, dates spread over the fields.
const char* kManyEntries = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for i in range(70000):
        name = ('ordner%02d/' % (i % 97)) + ('grüße-%05d.txt' if i % 7 == 0 else 'datei-%05d.txt') % i
        info = zipfile.ZipInfo(name, (1980 + i % 120, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i % 30) * 2))
        info.compress_type = zipfile.ZIP_DEFLATED if i % 3 == 0 else zipfile.ZIP_STORED
        z.writestr(info, (b'inhalt %d ' % i) * (1 + i % 5))
)PY";

// A hand-made Zip64 archive: "big.bin" holds 0x10C000000 zero bytes (about
// 4.2 GiB), skipped with a seek so the file stays sparse; two small entries
// and the central directory follow beyond 4 GiB. Sizes and offsets that do
// not fit 32 bits are 0xFFFFFFFF with the value in the Zip64 extra field.
const char* kSparseZip64 = R"PY(
import sys, struct, zlib
BIG = 0x10C000000
BIG_CRC = 0x740717f5   # CRC-32 of BIG zero bytes (slow to compute each time)
DOS_TIME, DOS_DATE = (13 << 11) | (37 << 5) | 21, ((2024 - 1980) << 9) | (2 << 5) | 29
M32 = 0xFFFFFFFF
f = open(sys.argv[1], 'wb')
central = b''
def local(name, crc, size, data, zip64_sizes):
    extra = struct.pack('<HHQQ', 1, 16, size, size) if zip64_sizes else b''
    f.write(struct.pack('<IHHHHHIIIHH', 0x04034b50, 45 if zip64_sizes else 20, 0, 0, DOS_TIME,
                        DOS_DATE, crc, M32 if zip64_sizes else size, M32 if zip64_sizes else size,
                        len(name), len(extra)) + name + extra + data)
def cen(name, crc, size, offset):
    global central
    vals = []
    if size >= M32: vals += [size, size]
    if offset >= M32: vals.append(offset)
    extra = struct.pack('<HH', 1, 8 * len(vals)) + struct.pack('<%dQ' % len(vals), *vals) if vals else b''
    big = size >= M32
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x031e, 45 if vals else 20, 0, 0,
                           DOS_TIME, DOS_DATE, crc, M32 if big else size, M32 if big else size,
                           len(name), len(extra), 0, 0, 0, 0o100644 << 16,
                           M32 if offset >= M32 else offset) + name + extra
local(b'big.bin', BIG_CRC, BIG, b'', True)
f.seek(BIG, 1)
cen(b'big.bin', BIG_CRC, BIG, 0)
for name, data in ((b'danach.txt', b'hinter der Grenze\n'), (b'ordner/zuletzt.txt', b'ende\n')):
    offset = f.tell()
    crc = zlib.crc32(data)
    local(name, crc, len(data), data, False)
    cen(name, crc, len(data), offset)
cd_offset = f.tell()
f.write(central)
eocd64 = f.tell()
f.write(struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 0x031e, 45, 0, 0, 3, 3, len(central), cd_offset))
f.write(struct.pack('<IIQI', 0x07064b50, 0, eocd64, 1))
f.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 3, 3, len(central), M32, 0))
f.close()
)PY";

struct BigCase {
    const char* name;
    const char* script;
    int count;
    // Entries whose local header lies beyond 4 GiB.
    int beyond4GiB;
    // The archive's size on disk must stay far below its length.
    bool sparse;
};

const BigCase kCases[] = {
    {"MoreEntriesThanTheEndRecordCounts", kManyEntries, 70000, 0, false},
    {"SparseZip64BeyondFourGiB", kSparseZip64, 3, 2, true},
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const BigCase& c, std::ostream* os) {
    *os << c.name;
}

class BigListTest : public ::testing::TestWithParam<BigCase> {};

TEST_P(BigListTest, ListsAsPythonReadsIt) {
    const BigCase& c = GetParam();
    if (!Shell("command -v python3")) {
        GTEST_SKIP() << "python3 missing";
    }
    ztest::TempDir dir;
    const std::string maker = dir.Write("make.py", c.script);
    const std::string lister = dir.Write("list.py", kPythonLister);
    const std::string archive = dir.path() + "big.zip";
    ASSERT_TRUE(Shell("python3 " + Quote(maker) + " " + Quote(archive))) << c.name;
    if (c.sparse) {
        struct stat st {};
        ASSERT_EQ(::stat(archive.c_str(), &st), 0);
        if (st.st_blocks * 512 > st.st_size / 2) {
            GTEST_SKIP() << "the temporary folder does not keep files sparse";
        }
    }
    const auto py = Shell("python3 " + Quote(lister) + " " + Quote(archive) + " 2>/dev/null");
    ASSERT_TRUE(py);
    const std::vector<std::string> expected = Lines(py.output);
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(c.count)) << "Python's own listing";

    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetUseUTF8(true);
    zip.SetUseDirOnlyEntries(true);
    zip.SetZipFileName(archive);
    ASSERT_TRUE(zip.ArchiveLoaded()) << zip.ErrMessage();
    ASSERT_EQ(zip.Count(), c.count);

    std::int64_t packed = 0;
    std::int64_t unpacked = 0;
    int beyond = 0;
    int mismatches = 0;
    for (int i = 0; i < zip.Count(); ++i) {
        const auto e = zip.DirEntry(i);
        ASSERT_NE(e, nullptr) << i;
        const std::string line = FormatTsvLine(*e) + "\t" + std::to_string(e->LocalHeaderOffset());
        if (line != expected[static_cast<std::size_t>(i)] && ++mismatches <= 5) {
            ADD_FAILURE() << "entry " << i << "\n  ours:   " << line
                          << "\n  Python: " << expected[static_cast<std::size_t>(i)];
        }
        packed += e->CompressedSize();
        unpacked += e->UncompressedSize();
        beyond += e->LocalHeaderOffset() > (std::int64_t{1} << 32) ? 1 : 0;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(beyond, c.beyond4GiB);
    if (c.sparse) {
        EXPECT_GT(unpacked, std::int64_t{1} << 32);  // the first entry's sizes from Zip64
        EXPECT_EQ(packed, unpacked);
    }
    zip.SetUseUTF8(false);
}

INSTANTIATE_TEST_SUITE_P(Python, BigListTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
