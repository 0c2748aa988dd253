// Rescuing damaged archives: an archive written here with every kind of
// entry (stored, deflated, data descriptors with and without signature and
// in Zip64 form, a folder) is damaged the ways downloads and disks damage
// them; the rescued archive must hold exactly the entries whose local header
// and data survived, each with the original's name, size and CRC, and pass
// the peers' tests.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ZATestZip.h"
#include "platform/ZipRecords.h"
#include "zip/ZAIRec.h"
#include "zip/ZARepair.h"
#include "zip/ZARepairScan.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"

using namespace zrec;
using ztest::Put16;
using ztest::Put32;

namespace {

enum Kind {
    kStored,
    kDeflated,
    kDeflSigned,
    kDeflUnsigned,
    kStoredSigned,
    kStoredUnsigned,
    kDeflZip64,
    kStoredZip64,
    kFolder,
    kKinds
};

std::string Deflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Item {
    std::string name;
    std::uint32_t crc = 0;
    std::size_t size = 0;
    std::int64_t begin = 0;      // local header
    std::int64_t needed = 0;     // the bytes that must survive for a rescue
    std::uint32_t external = 0;  // DOS attributes in the central header
    std::string comment;
};

struct Original {
    std::string bytes;
    std::vector<Item> items;
    std::int64_t centralStart = 0;
};

// Entries of every kind in turn, with data of varying size and
// compressibility, then a plain central directory and end record.
Original MakeOriginal() {
    Original o;
    std::string central;
    std::uint32_t seed = 7;
    for (int i = 0; i < 40; ++i) {
        const Kind kind = static_cast<Kind>(i % kKinds);
        Item it;
        it.name = kind == kFolder ? "ordner" + std::to_string(i) + "/"
                                  : "d" + std::to_string(i % 3) + "/datei" + std::to_string(i) +
                                        (kind == kStored ? ".bin" : ".txt");
        std::string data;
        if (kind != kFolder) {
            const int length = 200 + (i * 997) % 5000;
            for (int k = 0; k < length; ++k) {
                seed = seed * 1103515245 + 12345;
                data += i % 2 == 0 ? static_cast<char>(seed >> 24)
                                   : static_cast<char>('a' + (k / 7 + i) % 26);
            }
        }
        const bool deflated =
            kind == kDeflated || kind == kDeflSigned || kind == kDeflUnsigned || kind == kDeflZip64;
        const bool zip64 = kind == kDeflZip64 || kind == kStoredZip64;
        const bool desc = kind == kDeflSigned || kind == kDeflUnsigned || kind == kStoredSigned ||
                          kind == kStoredUnsigned || zip64;
        const std::string stored = deflated ? Deflate(data) : data;
        it.crc = Crc32(data);
        it.size = data.size();
        it.begin = static_cast<std::int64_t>(o.bytes.size());
        std::string& b = o.bytes;
        const std::uint16_t version = zip64 ? 45 : 20;
        Put32(b, kLocalHeaderSig);
        Put16(b, version);
        Put16(b, desc ? kFlagDataDescriptor : 0);
        Put16(b, deflated ? 8 : 0);
        Put32(b, 0x5A215C00);
        Put32(b, desc ? 0 : it.crc);
        const std::string extra =
            zip64 ? std::string("\x01\x00\x10\x00", 4) + std::string(16, '\0') : "";
        Put32(b, zip64 ? kSentinel32 : desc ? 0 : stored.size());
        Put32(b, zip64 ? kSentinel32 : desc ? 0 : data.size());
        Put16(b, static_cast<std::uint32_t>(it.name.size()));
        Put16(b, static_cast<std::uint32_t>(extra.size()));
        b += it.name + extra + stored;
        const std::int64_t dataEnd = static_cast<std::int64_t>(b.size());
        if (kind == kDeflSigned || kind == kStoredSigned || kind == kDeflZip64) {
            Put32(b, kDataDescriptorSig);
        }
        if (desc) {
            Put32(b, it.crc);
            Put32(b, static_cast<std::uint32_t>(stored.size()));
            if (zip64) {
                Put32(b, 0);
            }
            Put32(b, static_cast<std::uint32_t>(data.size()));
            if (zip64) {
                Put32(b, 0);
            }
        }
        // A stored entry with a descriptor ends only where its descriptor
        // says (the Zip64 one's is unsigned, 20 bytes); a deflated one where
        // its stream ends.
        it.needed = kind == kStoredSigned || kind == kStoredUnsigned || kind == kStoredZip64
                        ? static_cast<std::int64_t>(b.size())
                        : dataEnd;
        Put32(central, kCentralHeaderSig);
        it.external = kind == kFolder ? 0x10 : 0x20;
        it.comment = i % 5 == 0 ? "Kommentar " + std::to_string(i) : "";
        Put16(central, 0x0014);  // MS-DOS
        Put16(central, version);
        Put16(central, desc ? kFlagDataDescriptor : 0);
        Put16(central, deflated ? 8 : 0);
        Put32(central, 0x5A215C00);
        Put32(central, it.crc);
        Put32(central, static_cast<std::uint32_t>(stored.size()));
        Put32(central, static_cast<std::uint32_t>(data.size()));
        Put16(central, static_cast<std::uint32_t>(it.name.size()));
        Put16(central, 0);  // extra length
        Put16(central, static_cast<std::uint32_t>(it.comment.size()));
        Put32(central, 0);  // disk, internal attributes
        Put32(central, it.external);
        Put32(central, static_cast<std::uint32_t>(it.begin));
        central += it.name + it.comment;
        o.items.push_back(it);
    }
    o.centralStart = static_cast<std::int64_t>(o.bytes.size());
    o.bytes += central;
    Put32(o.bytes, kEndRecordSig);
    Put32(o.bytes, 0);
    Put16(o.bytes, static_cast<std::uint32_t>(o.items.size()));
    Put16(o.bytes, static_cast<std::uint32_t>(o.items.size()));
    Put32(o.bytes, static_cast<std::uint32_t>(central.size()));
    Put32(o.bytes, static_cast<std::uint32_t>(o.centralStart));
    Put16(o.bytes, 0);
    return o;
}

bool Have(const std::string& tool) {
    return static_cast<bool>(ztest::Shell("command -v " + tool));
}

// How much of the original's central directory survived the damage.
enum Directory { kNoDirectory, kWholeDirectory, kPartOfTheDirectory };

class RepairTest : public ::testing::Test {
protected:
    // Repairs `damaged` and checks the result against `expected` (entries of
    // the original in order) and the number of lost entries reported.
    void Expect(const std::string& damaged, const std::vector<Item>& expected, int lostAtLeast,
                const std::string& what, Directory directory = kNoDirectory) {
        SCOPED_TRACE(what);
        const std::string target = tmp.path() + "out.zip";
        std::filesystem::remove(target);
        TZipArchiver zip;
        zip.SetUnattended(true);
        TZARepairOutcome outcome;
        const int r = zip.Repair(damaged, target, outcome);
        if (expected.empty()) {
            EXPECT_EQ(r, 336);
            EXPECT_FALSE(std::filesystem::exists(target));
            return;
        }
        ASSERT_EQ(r, 0) << zip.ErrMessage();
        EXPECT_EQ(outcome.recovered, static_cast<int>(expected.size()));
        EXPECT_GE(outcome.lost, lostAtLeast);
        EXPECT_GE(outcome.messages.size(), static_cast<std::size_t>(outcome.lost));
        TZipArchiver back;
        back.SetUnattended(true);
        back.SetUseDirOnlyEntries(true);
        back.SetZipFileName(target);
        ASSERT_TRUE(back.ArchiveLoaded());
        EXPECT_EQ(back.LoadWarning(), 0);
        ASSERT_EQ(back.Count(), static_cast<int>(expected.size()));
        for (int i = 0; i < back.Count(); ++i) {
            const auto e = back.DirEntry(i);
            EXPECT_EQ(e->FileName(), expected[i].name);
            EXPECT_EQ(e->UncompressedSize(), static_cast<std::int64_t>(expected[i].size));
            EXPECT_EQ(e->Crc32(), expected[i].crc) << expected[i].name;
            // Attributes and comments come from the directory where it survived.
            if (directory == kWholeDirectory) {
                EXPECT_EQ(e->ExternalAttributes(), expected[i].external);
                EXPECT_EQ(e->FileComment(), expected[i].comment);
            } else if (directory == kNoDirectory) {
                EXPECT_EQ(e->ExternalAttributes() & 0x10, expected[i].external & 0x10);
                EXPECT_EQ(e->FileComment(), "");
            }
        }
        if (Have("unzip")) {
            EXPECT_TRUE(ztest::Shell("unzip -tqq " + ztest::Quote(target)));
        }
        if (Have("7zz")) {
            EXPECT_TRUE(ztest::Shell("7zz t " + ztest::Quote(target) + " >/dev/null"));
        }
    }

    // The entries of the original whose bytes lie wholly outside [from, to).
    std::vector<Item> Surviving(std::int64_t from, std::int64_t to) const {
        std::vector<Item> kept;
        for (const Item& it : original.items) {
            if (it.needed <= from || it.begin >= to) {
                kept.push_back(it);
            }
        }
        return kept;
    }

    ztest::TempDir tmp;
    Original original = MakeOriginal();
};

TEST_F(RepairTest, TheOriginalIsWhole) {
    const std::string path = tmp.Write("orig.zip", original.bytes);
    Expect(path, original.items, 0, "intact", kWholeDirectory);
    if (Have("unzip")) {
        EXPECT_TRUE(ztest::Shell("unzip -tqq " + ztest::Quote(path)));
    }
}

TEST_F(RepairTest, TruncatedAtTenPoints) {
    const auto size = static_cast<std::int64_t>(original.bytes.size());
    for (int k = 1; k <= 10; ++k) {
        // Nine cuts through the entries (none on a boundary), one in the
        // directory.
        const std::int64_t cut =
            k < 10 ? original.centralStart * k / 10 + 5 : (original.centralStart + size) / 2;
        const std::string path = tmp.Write("cut.zip", original.bytes.substr(0, cut));
        Expect(path, Surviving(cut, size), k < 10 ? 1 : 0, "cut at " + std::to_string(cut),
               k < 10 ? kNoDirectory : kPartOfTheDirectory);
    }
}

TEST_F(RepairTest, DirectoryCutOffAndEndRecordOverwritten) {
    Expect(tmp.Write("nodir.zip", original.bytes.substr(0, original.centralStart)), original.items,
           0, "directory cut off");
    std::string overwritten = original.bytes;
    overwritten.replace(overwritten.size() - 22, 22, std::string(22, '\0'));
    Expect(tmp.Write("noend.zip", overwritten), original.items, 0, "end record overwritten",
           kWholeDirectory);
    // The component itself refuses the archive without its end record.
    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetZipFileName(tmp.path() + "noend.zip");
    EXPECT_FALSE(zip.ArchiveLoaded());
}

TEST_F(RepairTest, APartOfASplitSetIsMissing) {
    // Three parts of the archive's bytes, named as Info-ZIP names a set,
    // the end record on the third (part number 2).
    const auto size = static_cast<std::int64_t>(original.bytes.size());
    const std::int64_t a = size / 3;
    const std::int64_t b = 2 * size / 3;
    std::string last = original.bytes.substr(b);
    last[last.size() - 22 + 4] = 2;
    tmp.Write("set.z01", std::string("PK\x07\x08", 4) + original.bytes.substr(0, a));
    tmp.Write("set.z02", original.bytes.substr(a, b - a));
    const std::string set = tmp.Write("set.zip", last);
    std::vector<std::string> missing;
    EXPECT_EQ(TZARepair::PartsOf(set, missing).size(), 3u);
    EXPECT_TRUE(missing.empty());
    Expect(set, original.items, 0, "whole set", kWholeDirectory);

    std::filesystem::remove(tmp.path() + "set.z02");
    EXPECT_EQ(TZARepair::PartsOf(set, missing).size(), 2u);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(std::filesystem::path(missing[0]).filename(), "set.z02");
    Expect(set, Surviving(a, b), 1, "middle part missing", kWholeDirectory);

    // The last part is lost instead: repaired from any part's name.
    tmp.Write("set.z02", original.bytes.substr(a, b - a));
    std::filesystem::remove(set);
    missing.clear();
    EXPECT_EQ(TZARepair::PartsOf(tmp.path() + "set.z02", missing).size(), 2u);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(std::filesystem::path(missing[0]).filename(), "set.zip");
    EXPECT_EQ(TZARepair::DefaultTarget(tmp.path() + "set.z01"), tmp.path() + "set-repariert.zip");
    Expect(tmp.path() + "set.z01", Surviving(b, size + 1), 0, "last part missing");
}

TEST_F(RepairTest, NothingToRescue) {
    Expect(tmp.Write("junk.zip", std::string(5000, 'j')), {}, 0, "no local header");
}

// The scanner on its own: a local header that only looks like one (empty
// name) is passed over; an entry whose stored data do not match their CRC
// is reported.
TEST(RepairScan, FalseHeadersAndBadData) {
    ztest::Entry ok("ok.txt", "fine");
    ok.crc = Crc32("fine");
    std::string bytes = ztest::BuildZip({ok});
    std::string bad = ztest::BuildZip({{"bad.txt", "data"}});
    bad[30 + 7] = 'X';  // the stored data no longer match the CRC (0 here)
    std::string fake = "PK\x03\x04" + std::string(26, '\0');
    std::string all = fake + bytes.substr(0, 30 + 6 + 4) + bad.substr(0, 30 + 7 + 4);
    TZAMemorySource src(all);
    const TZARepairScan scan = ScanLocalHeaders(src);
    ASSERT_EQ(scan.entries.size(), 1u);
    EXPECT_EQ(scan.entries[0].name, "ok.txt");
    EXPECT_TRUE(scan.entries[0].checked);
    ASSERT_EQ(scan.lost.size(), 1u);
    EXPECT_EQ(scan.lost[0].name, "bad.txt");
    EXPECT_EQ(scan.lost[0].reason, TZARepairLoss::BadCrc);
}

// An encrypted entry (its CRC cannot be checked) with an empty content and a
// signed 32-bit descriptor, followed by a central header: read as Zip64, the
// descriptor would take the central header's signature as the uncompressed
// size. Found by fuzzing: the rescued archive, scanned again, differed.
TEST(RepairScan, SignedDescriptorReadsAsTheFormThatEndsAtARecord) {
    std::string b;
    Put32(b, kLocalHeaderSig);
    Put16(b, 20);
    Put16(b, kFlagEncrypted | kFlagDataDescriptor);
    Put16(b, 0);  // stored: only the 12-byte encryption header
    Put32(b, 0);
    for (int i = 0; i < 3; ++i)
        Put32(b, 0);  // CRC and sizes follow the data
    Put16(b, 5);
    Put16(b, 0);
    b += "e.bin";
    b += std::string(12, '\x5a');
    Put32(b, kDataDescriptorSig);
    Put32(b, 0x1234abcd);
    Put32(b, 12);
    Put32(b, 0);
    b += "PK\x01\x02";  // what follows: a (cut) central header
    b += std::string(20, '\0');
    for (int round = 0; round < 2; ++round) {
        TZAMemorySource src(b);
        const TZARepairScan scan = ScanLocalHeaders(src);
        ASSERT_EQ(scan.entries.size(), 1u) << "round " << round;
        EXPECT_EQ(scan.entries[0].compressedSize, 12u) << "round " << round;
        EXPECT_EQ(scan.entries[0].uncompressedSize, 0u) << "round " << round;
        EXPECT_EQ(scan.entries[0].crc, 0x1234abcdu) << "round " << round;
        // The rescued archive keeps the descriptor (the entry is encrypted) and
        // must scan the same.
        const std::string path =
            (std::filesystem::temp_directory_path() / "tarvik-repair-desc.zip").string();
        ASSERT_TRUE(WriteRepairedArchive(src, scan, path));
        std::ifstream in(path, std::ios::binary);
        b.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::filesystem::remove(path);
    }
}

// tarvik-cli repair: the default target beside the damaged file, the exit
// status by what was recovered, and the German messages.
TEST(RepairCli, ExitStatusAndDefaultTarget) {
    ztest::TempDir tmp;
    const Original o = MakeOriginal();
    const std::string cli = ztest::Quote(TARVIK_CLI_PATH) + " --language DE";
    tmp.Write("ganz.zip", o.bytes.substr(0, o.centralStart));
    tmp.Write("halb.zip", o.bytes.substr(0, o.centralStart / 2 + 5));
    tmp.Write("leer.zip", std::string(100, 'x'));
    auto run = [&](const std::string& args) {
        return ztest::Shell(cli + " repair " + args, tmp.path());
    };
    const auto whole = run("ganz.zip");
    EXPECT_EQ(whole.status, 0) << whole.output;
    EXPECT_TRUE(std::filesystem::exists(tmp.path() + "ganz-repariert.zip"));
    const auto half = run("halb.zip ziel.zip");
    EXPECT_EQ(half.status, 1) << half.output;
    EXPECT_NE(half.output.find("übersprungen"), std::string::npos) << half.output;
    EXPECT_TRUE(std::filesystem::exists(tmp.path() + "ziel.zip"));
    const auto none = run("leer.zip");
    EXPECT_EQ(none.status, 2) << none.output;
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "leer-repariert.zip"));
    // An existing target is not overwritten.
    const auto again = run("ganz.zip");
    EXPECT_EQ(again.status, 2) << again.output;
    EXPECT_NE(again.output.find("existiert bereits"), std::string::npos) << again.output;
    // The damaged file is unchanged.
    std::ifstream in(tmp.path() + "halb.zip", std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, o.bytes.substr(0, o.centralStart / 2 + 5));
}

}  // namespace
