// Byte layouts, extra-field walking, and the entry records' header routines
// (write then read back through a work zip on a scratch file).
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "ZARecordsTestSupport.h"
#include "platform/ZipRecords.h"
#include "zip/ZAIRec.h"
#include "zip/ZAUTF8.h"
#include "zip/ZAWZip.h"
#include "zip/ZAXcpt.h"

using namespace records_test;
using namespace zrec;

namespace {

// ---- fixed records -----------------------------------------------------------------

TEST(ZARecords, FixedRecordsRoundTripWithTheirSizesAndSignatures) {
    std::uint8_t buf[64];

    TZALocalHeader l{kLocalHeaderSig, 0x1234,     0x0808,     8,  0x5A5B5C5D,
                     0xCAFEBABE,      0x01020304, 0x05060708, 11, 22};
    std::memset(buf, 0xEE, sizeof buf);
    l.Encode(buf);
    EXPECT_EQ(buf[local::kSize], 0xEE);  // nothing past 30 bytes
    const auto l2 = TZALocalHeader::Decode(buf);
    EXPECT_EQ(l, l2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "PK\3\4");

    TZACentralHeader c{kCentralHeaderSig, 0x0314,    45, 0x0800, 99, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                       0x81A40000,        0xFFFFFFFE};
    c.Encode(buf);
    const auto c2 = TZACentralHeader::Decode(buf);
    EXPECT_EQ(c, c2);
    EXPECT_EQ(c2.versionMadeBy, 0x0314);
    EXPECT_EQ(c2.commentLength, 7);
    EXPECT_EQ(c2.externalAttributes, 0x81A40000u);
    EXPECT_EQ(c2.localHeaderOffset, 0xFFFFFFFEu);
    EXPECT_EQ(GetU16(buf + central::kDiskStart), 8);

    TZAEndRecord e{kEndRecordSig, 1, 2, 3, 4, 0x11223344, 0x55667788, 9};
    e.Encode(buf);
    const auto e2 = TZAEndRecord::Decode(buf);
    EXPECT_EQ(e, e2);
    EXPECT_EQ(e2.totalEntries, 4);
    EXPECT_EQ(e2.centralOffset, 0x55667788u);
    EXPECT_EQ(e2.commentLength, 9);

    TZAZip64EndRecord z;
    z.thisDisk = 3;
    z.totalEntries = 0x123456789ull;
    z.centralOffset = 0xFEDCBA9876ull;
    z.Encode(buf);
    const auto z2 = TZAZip64EndRecord::Decode(buf);
    EXPECT_EQ(z, z2);
    EXPECT_EQ(z2.recordSize, 44u);
    EXPECT_EQ(z2.versionNeeded, 45);
    EXPECT_EQ(z2.totalEntries, 0x123456789ull);
    EXPECT_EQ(z2.centralOffset, 0xFEDCBA9876ull);

    TZAZip64Locator loc{kZip64LocatorSig, 2, 0xABCDEF012345ull, 3};
    loc.Encode(buf);
    const auto loc2 = TZAZip64Locator::Decode(buf);
    EXPECT_EQ(loc, loc2);
    EXPECT_EQ(loc2.zip64Offset, 0xABCDEF012345ull);
    EXPECT_EQ(loc2.totalDisks, 3u);

    EXPECT_EQ(EncodeDataDescriptor(buf, false, 7, 0x1'0000'0001ull, 5), 16u);
    EXPECT_EQ(GetU32(buf + 8), 1u);  // the short form keeps the low 32 bits
    EXPECT_EQ(EncodeDataDescriptor(buf, true, 7, 0x1'0000'0001ull, 5), 24u);
    EXPECT_EQ(GetU64(buf + 8), 0x1'0000'0001ull);
    EXPECT_EQ(GetU32(buf), kDataDescriptorSig);
}

// ---- extra fields ------------------------------------------------------------------

struct ExtraCase {
    const char* what;
    std::string extra;
    std::uint16_t tag;
    std::optional<std::size_t> offset;  // where the record is found
    std::size_t walkEnd;                // where the walk stops
};

TEST(ZARecords, ExtraFieldWalkNeverTrustsALength) {
    const std::string ut = LE16(0x5455) + LE16(5) + B({1, 2, 3, 4, 5});
    const std::string z64 = LE16(0x0001) + LE16(8) + LE64(42);
    const ExtraCase cases[] = {
        {"empty field", "", 1, std::nullopt, 0},
        {"one record", z64, 1, 0, 12},
        {"second record", ut + z64, 1, 9, 21},
        {"length past the end", LE16(1) + LE16(9) + LE64(1), 1, std::nullopt, 0},
        {"lying length hides later records", LE16(0x5455) + LE16(0xFFFF) + z64, 1, std::nullopt, 0},
        {"good record then a lying one", z64 + LE16(0x7075) + LE16(300) + "ab", 0x7075,
         std::nullopt, 12},
        // A head that ends the field exactly is a valid empty record (as Info-ZIP unzip,
        // 7-Zip and Python read it); fewer than four bytes left over are a tail.
        {"zero-length record in the last four bytes", ut + LE16(0xCAFE) + LE16(0), 0xCAFE, 9, 13},
        {"JAR marker alone", LE16(0xCAFE) + LE16(0), 0xCAFE, 0, 4},
        {"zero-length record with a byte after it", LE16(0xCAFE) + LE16(0) + "x", 0xCAFE, 0, 4},
        {"three stray bytes", B({1, 0, 0}), 1, std::nullopt, 0},
        {"record then a cut head of one byte", ut + B({1}), 1, std::nullopt, 9},
        {"record then a cut head of three bytes", ut + B({1, 0, 0}), 1, std::nullopt, 9},
        {"head without data at the end", z64 + LE16(0x000A) + LE16(4), 0x000A, std::nullopt, 12},
        {"size one past the end", ut + LE16(1) + LE16(9) + LE64(7), 1, std::nullopt, 9},
        {"zero-length Zip64 record last", ut + LE16(1) + LE16(0), 1, 9, 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto found = FindExtra(c.extra, c.tag);
        ASSERT_EQ(found.has_value(), c.offset.has_value());
        if (found) {
            EXPECT_EQ(found->offset, *c.offset);
            EXPECT_EQ(found->length, 4 + found->data.size());
        }
        EXPECT_EQ(WalkExtra(c.extra, [](const TZAExtraRecord&) { return true; }), c.walkEnd);
    }
}

TEST(ZARecords, ExtraFieldKeepDropAndReplace) {
    const std::string a = LE16(0x0001) + LE16(2) + "zz";
    const std::string b = LE16(0x7075) + LE16(1) + "u";
    const std::string c = LE16(0x000A) + LE16(0) + "";
    const std::string tail = B({9, 9, 9});  // malformed tail
    const std::string field = a + b + c + tail;

    EXPECT_EQ(KeepExtraTags(field, {0x7075, 0x0001}), a + b);
    EXPECT_EQ(DropExtraTags(field, {0x0001}), b + c + tail);
    EXPECT_EQ(DropExtraTags(field, {0x6375}), field);  // nothing dropped: unchanged
    EXPECT_EQ(*ReplaceExtra(field, 0x7075, "new"), LE16(0x7075) + LE16(3) + "new" + a + c + tail);
    // The result may not pass 65535 bytes.
    EXPECT_FALSE(ReplaceExtra(std::string(65530, 'x'), 0x0001, std::string(8, 'y')));
    EXPECT_FALSE(MakeExtraRecord(1, std::string(65532, 'y')));
    EXPECT_EQ(std::string(ExtraData(field, 0x7075)), "u");
    // Cleaning keeps only well-formed records: the malformed tail goes too.
    EXPECT_EQ(CleanExtraWithout(field, {0x0001}), b + c);
    EXPECT_EQ(CleanExtraWithout(field + LE16(0xCAFE) + LE16(0), {0x7075}), a + c);
    EXPECT_EQ(CleanExtraWithout(a + LE16(0x5455) + LE16(9) + "x", {}), a);
}

TEST(ZARecords, Zip64DataTakesOnlyTheWantedValuesInOrder) {
    TZAZip64Values v;
    // Only the offset (sizes below the sentinel): the first 8 bytes are the offset.
    ASSERT_TRUE(ParseZip64Data(LE64(0x1'2345'6789ull), false, false, true, false, v));
    EXPECT_FALSE(v.uncompressedSize);
    EXPECT_EQ(*v.localHeaderOffset, 0x1'2345'6789ull);

    TZAZip64Values all;
    ASSERT_TRUE(ParseZip64Data(LE64(1) + LE64(2) + LE64(3) + LE32(4), true, true, true, true, all));
    EXPECT_EQ(BuildZip64Data(all), LE64(1) + LE64(2) + LE64(3) + LE32(4));

    TZAZip64Values shortData;
    EXPECT_FALSE(ParseZip64Data(LE64(1) + LE32(2), true, true, false, false, shortData));
    EXPECT_FALSE(ParseZip64Data(LE64(1), true, false, false, true, shortData));
}

TEST(ZARecords, UnicodeRecordsAreValidOnlyForTheirStoredBytes) {
    const std::string stored = "f\x84r";
    const std::string good = BuildUnicodeData(stored, "f\xC3\xA4r");
    EXPECT_EQ(std::string(*ValidUnicodeText(good, stored)), "f\xC3\xA4r");
    EXPECT_FALSE(ValidUnicodeText(good, "other"));                         // CRC differs
    EXPECT_FALSE(ValidUnicodeText(BuildUnicodeData(stored, ""), stored));  // empty text
    std::string v2 = good;
    v2[0] = 2;
    EXPECT_FALSE(ValidUnicodeText(v2, stored));
    EXPECT_FALSE(ValidUnicodeText(BuildUnicodeData(stored, "a\xC3"), stored));  // cut sequence
    EXPECT_FALSE(ValidUnicodeText("\x01\x00", stored));                         // short record

    struct {
        std::string text;
        bool ok;
    } utf8[] = {{"plain", true},
                {"\xC3\xA4", true},
                {"\xE2\x82\xAC", true},
                {"\xF0\x9F\x98\x80", true},
                // Forms that are not UTF-8 are refused, as by the engine and
                // the self-extractor: five-byte and overlong sequences, a
                // surrogate, stray or cut bytes.
                {"\xF8\x88\x80\x80\x80", false},
                {"\xC0\x80", false},
                {"\xED\xA0\x80", false},
                {"\x80", false},
                {"\xFE", false},
                {"\xE2\x82", false},
                {"\xC3\x41", false}};
    for (const auto& c : utf8) {
        EXPECT_EQ(ValidUnicodeText(BuildUnicodeData(stored, c.text), stored).has_value(), c.ok)
            << c.text;
    }
}

TEST(ZARecords, ExtendedTimestampAndCrc) {
    TZAExtTime t;
    t.modified = 1300701080;
    t.accessed = -5;
    const auto back = ParseExtTime(BuildExtTimeData(t));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->flags, 3);
    EXPECT_EQ(*back->modified, 1300701080);
    EXPECT_EQ(*back->accessed, -5);
    EXPECT_FALSE(back->created);
    // A central record names three times but carries only one.
    const auto central = ParseExtTime(B({7}) + LE32(100));
    EXPECT_EQ(*central->modified, 100);
    EXPECT_FALSE(central->accessed);
    EXPECT_FALSE(ParseExtTime(""));

    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
}

TEST(ZAUTF8, NeedsEncodingCountsBytesAbove126AndUpTo30) {
    EXPECT_FALSE(NeedsEncoding("plain name.txt~"));
    EXPECT_FALSE(NeedsEncoding(B({31})));
    EXPECT_TRUE(NeedsEncoding(B({30})));
    EXPECT_TRUE(NeedsEncoding(B({127})));
    EXPECT_TRUE(NeedsEncoding("caf\xC3\xA9"));
}

// ---- entry records -----------------------------------------------------------------

class ZAEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUseUTF8(true);
        path = dir / "entries.bin";
    }
    void TearDown() override { SetUseUTF8(false); }

    // Writes through `write` into a fresh file, then reopens it for reading.
    template <typename F>
    void WriteThen(F&& write) {
        zf.SetFileName(path);
        ASSERT_TRUE(zf.Create());
        write();
        zf.Close();
        zf.SetFileName(path);
        ASSERT_TRUE(zf.Open(kOpenRead));
    }

    ScratchFolder dir;
    std::string path;
    TZipArchiver comp;
    TZAWorkZip zf{comp};
};

TEST_F(ZAEntryTest, UpdateVersionsFollowsMethodFlagsAndZip64) {
    struct {
        std::uint16_t method, flags, madeBy, needed;
        bool zip64;
        std::uint16_t wantMadeBy, wantNeeded;
    } cases[] = {
        {0, 0, 0x0314, 0x0A00, false, 0x0314, 0x0A0A},  // stored: 1.0, high byte kept
        {8, 0, 0x032D, 20, false, 0x031E, 20},          // made-by 4.5 drops to 3.0
        {8, 0x20, 20, 20, false, 20, 27},               // patched data: at least 2.7
        {9, 0, 20, 20, false, 20, 21},
        {10, 0, 20, 20, false, 20, 25},
        {12, 0, 20, 20, false, 20, 46},
        {99, 0, 20, 20, false, 20, 45},
        {8, 0, 0x0B14, 20, true, 0x0B2D, 45},  // zip64: 4.5 both
        {8, 0, 0x0B32, 20, true, 0x0B32, 20},  // made by 5.0: nothing changes
        {8, 0, 20, 46, true, 20, 46},          // needs 4.6: nothing changes
    };
    for (const auto& c : cases) {
        TZAZRec r(zf);
        r.SetCompressionMethod(c.method);
        r.SetGeneralFlags(c.flags);
        r.SetVersionMadeBy(c.madeBy);
        r.SetVersionNeeded(c.needed);
        r.UpdateVersions(c.zip64);
        EXPECT_EQ(r.VersionMadeBy(), c.wantMadeBy) << c.method;
        EXPECT_EQ(r.VersionNeeded(), c.wantNeeded) << c.method;
    }
}

TEST_F(ZAEntryTest, LocalExtraDropsCentralOnlyRecordsAndAddsZip64) {
    TZAZRec r(zf);
    const std::string upath = LE16(0x7075) + LE16(1) + "u";
    r.SetExtraFieldRaw(LE16(0x0001) + LE16(8) + LE64(1) + LE16(0x000A) + LE16(1) + "n" + upath +
                       LE16(0x6375) + LE16(1) + "c");
    r.SetUncompressedSize(0xFFFFFFFFll);
    r.SetCompressedSize(10);
    r.BuildLocalExtra();
    EXPECT_TRUE(r.TestStatus(esLocalExtraBuilt));
    EXPECT_TRUE(r.TestStatus(esLocalZip64));
    EXPECT_EQ(r.LocalExtraField(), LE16(1) + LE16(16) + LE64(0xFFFFFFFF) + LE64(10) + upath);
    EXPECT_EQ(r.VersionNeeded() & 0xFF, 45);
    EXPECT_EQ(r.LocalHeaderSize(), 30 + 0 + static_cast<std::int64_t>(r.LocalExtraField().size()));
}

TEST_F(ZAEntryTest, CentralHeaderRoundTripsIncludingZip64Values) {
    struct Case {
        const char* what;
        std::int64_t uncompressed, compressed, offset;
        std::uint32_t disk;
        bool zip64;
    } cases[] = {
        {"small", 100, 50, 1234, 0, false},
        {"exactly the sentinel", 0xFFFFFFFFll, 0xFFFFFFFFll, 0, 0, true},
        {"offset only", 10, 5, 0x1'0000'0000ll, 0, true},
        {"large disk", 1, 1, 0, 0x10000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TZAZRec w(zf);
        w.SetStoredName("dir/f\x84.txt");
        w.SetStoredComment("note");
        w.SetExtraFieldRaw(LE16(0x5455) + LE16(5) + B({1, 1, 2, 3, 4}));
        w.SetCompressionMethod(8);
        w.SetVersionMadeBy(0x0014);
        w.SetVersionNeeded(20);
        w.SetUncompressedSize(c.uncompressed);
        w.SetCompressedSize(c.compressed);
        w.SetLocalHeaderOffset(c.offset);
        w.SetStartDisk(c.disk);
        w.SetCrc32(0xDEADBEEF);
        w.SetExternalAttributes(0x20);
        std::int32_t written = 0;
        WriteThen([&] { written = w.WriteCentralHeader(); });
        EXPECT_EQ(written, static_cast<std::int32_t>(46 + 10 + w.ExtraField().size() + 4));
        EXPECT_FALSE(w.TestStatus(esChanged));

        TZAZRec r(zf);
        EXPECT_EQ(r.ReadCentralHeader(), c.zip64 ? 1 : 0);
        EXPECT_EQ(r.StoredName(), "dir/f\x84.txt");
        EXPECT_EQ(r.StoredComment(), "note");
        EXPECT_EQ(r.UncompressedSize(), c.uncompressed);
        EXPECT_EQ(r.CompressedSize(), c.compressed);
        EXPECT_EQ(r.LocalHeaderOffset(), c.offset);
        EXPECT_EQ(r.StartDiskNumber(), c.disk);
        EXPECT_EQ(r.Crc32(), 0xDEADBEEFu);
        EXPECT_EQ(r.VersionNeeded() & 0xFF, c.zip64 ? 45 : 20);
        EXPECT_EQ(FindExtra(r.ExtraField(), kTagZip64).has_value(), c.zip64);
        EXPECT_TRUE(FindExtra(r.ExtraField(), kTagExtTime));
        EXPECT_FALSE(r.TestStatus(esIncomplete));
    }
}

TEST_F(ZAEntryTest, DamagedCentralHeadersEndInTheirMessages) {
    TZACentralHeader h;
    h.versionNeeded = 45;
    h.nameLength = 3;
    h.extraLength = 12;
    h.commentLength = 2;
    h.uncompressedSize = 0xFFFFFFFF;
    h.compressedSize = 0xFFFFFFFF;
    std::string fixed(46, '\0');
    h.Encode(reinterpret_cast<std::uint8_t*>(fixed.data()));
    const std::string z64 = LE16(1) + LE16(8) + LE64(7);  // one value, two wanted
    struct {
        const char* what;
        std::string bytes;
        int message;  // 0: success
    } cases[] = {
        {"short fixed part", fixed.substr(0, 40), 152},
        {"wrong signature", "XK" + fixed.substr(2), 119},
        {"name cut", fixed + "ab", 154},
        {"extra cut", fixed + "abc" + z64.substr(0, 5), 204},
        {"comment cut", fixed + "abc" + z64 + "c", 151},
        {"Zip64 record too short", fixed + "abc" + z64 + "cc", 181},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(path, c.bytes);
        zf.SetFileName(path);
        ASSERT_TRUE(zf.Open(kOpenRead));
        TZAZRec r(zf);
        const std::int32_t got = r.ReadCentralHeader();
        ASSERT_LT(got, 0);
        EXPECT_EQ(ZAMessageIdOf(got), c.message);
        zf.Close();
    }
    // Version needed 2.0: a field holding the sentinel still takes its value
    // from the Zip64 record, as other readers take it.
    h.versionNeeded = 20;
    h.extraLength = 20;
    h.Encode(reinterpret_cast<std::uint8_t*>(fixed.data()));
    WriteFile(path, fixed + "abc" + LE16(1) + LE16(16) + LE64(7) + LE64(5) + "cc");
    zf.SetFileName(path);
    ASSERT_TRUE(zf.Open(kOpenRead));
    TZAZRec r(zf);
    EXPECT_GE(r.ReadCentralHeader(), 0);
    EXPECT_EQ(r.UncompressedSize(), 7);
    EXPECT_EQ(r.CompressedSize(), 5);
    // A closed file.
    zf.Close();
    EXPECT_EQ(TZAZRec(zf).ReadCentralHeader(), -1);
}

TEST_F(ZAEntryTest, LocalHeaderDescriptorAndCheck) {
    TZAZRec plain(zf);
    plain.SetStoredName("a.txt");
    plain.SetGeneralFlags(kFlagDataDescriptor);
    plain.SetCompressedSize(3);
    plain.SetUncompressedSize(4);
    TZAZRec secret(zf);
    secret.SetStoredName("s.bin");
    secret.SetGeneralFlags(kFlagDataDescriptor | kFlagEncrypted);
    secret.SetCompressedSize(15);
    secret.SetVersionNeeded(20);
    std::int32_t descPlain = -2, descSecret = -2;
    WriteThen([&] {
        ASSERT_EQ(plain.WriteLocalHeader(0x11112222, 0xAABBCCDD), 35);
        descPlain = plain.WriteDataDescriptor();
        secret.SetLocalHeaderOffset(zf.Position());
        ASSERT_EQ(secret.WriteLocalHeader(0, 1), 35);
        descSecret = secret.WriteDataDescriptor();
        // Writing the central headers records the names the checks compare.
        plain.WriteCentralHeader();
        secret.WriteCentralHeader();
    });
    EXPECT_EQ(descPlain, 0);    // bit 3 was cleared: sizes are in the header
    EXPECT_EQ(descSecret, 24);  // encrypted: zero sizes, version 4.5, long descriptor
    const std::string bytes = ReadFile(path);
    const auto lp = TZALocalHeader::Decode(Bytes(bytes));
    EXPECT_EQ(lp.flags & kFlagDataDescriptor, 0);
    EXPECT_EQ(lp.compressedSize, 3u);
    EXPECT_EQ(lp.uncompressedSize, 4u);
    EXPECT_EQ(lp.crc32, 0xAABBCCDDu);
    const auto ls = TZALocalHeader::Decode(Bytes(bytes) + 35);
    EXPECT_NE(ls.flags & kFlagDataDescriptor, 0);
    EXPECT_EQ(ls.compressedSize, 0u);
    EXPECT_EQ(ls.versionNeeded & 0xFF, 45);

    // The local header is checked against the name last read or written.
    EXPECT_EQ(plain.CheckLocalHeader(), 0);
    EXPECT_EQ(secret.CheckLocalHeader(), 0);
    TZAZRec other(zf);
    other.AssignFrom(plain);
    other.SetLocalHeaderOffset(35);  // points at "s.bin", same length
    EXPECT_EQ(ZAMessageIdOf(other.CheckLocalHeader()), 167);
    other.SetLocalHeaderOffset(2);
    EXPECT_EQ(ZAMessageIdOf(other.CheckLocalHeader()), 165);
    other.SetLocalHeaderOffset(1 << 20);
    EXPECT_EQ(ZAMessageIdOf(other.CheckLocalHeader()), 165);
}

// ---- names and comments ------------------------------------------------------------

TEST_F(ZAEntryTest, DecodeStoredTextByEncoding) {
    const std::string oemName = "gr\x94\xE1";  // CP850 "größ"-like: ö ß
    struct Case {
        const char* what;
        std::string stored;
        std::uint16_t madeBy, flags;
        std::string extra;
        std::string want;
    } cases[] = {
        {"DOS host: OEM", oemName, 0x0014, 0, "", "gr\xC3\xB6\xC3\x9F"},
        {"Unix host: ANSI", "caf\xE9", 0x0314, 0, "", "caf\xC3\xA9"},
        {"NTFS host 0x0B32: OEM", "\x81", 0x0B32, 0, "", "\xC3\xBC"},
        {"flag 11: UTF-8", "\xC3\xA4", 0x0314, kFlagUtf8, "", "\xC3\xA4"},
        {"Unicode path with matching CRC", oemName, 0x0014, 0,
         LE16(0x7075) + LE16(5 + 5) + BuildUnicodeData(oemName, "GROSS").substr(0), "GROSS"},
        {"Unicode path with wrong CRC: OEM bytes", oemName, 0x0014, 0,
         LE16(0x7075) + LE16(10) + BuildUnicodeData("x", "GROSS"), "gr\xC3\xB6\xC3\x9F"},
        {"backslash shown as slash", "a\\b/c", 0x0014, 0, "", "a/b/c"},
        {"plain ASCII untouched", "#$27x", 0x0314, 0, "", "#$27x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TZAZRec r(zf);
        r.SetStoredName(c.stored);
        r.SetVersionMadeBy(c.madeBy);
        r.SetGeneralFlags(c.flags);
        r.SetExtraFieldRaw(c.extra);
        EXPECT_EQ(r.FileName(), c.want);
    }
    // Without UTF-8 the component's strings are ANSI.
    SetUseUTF8(false);
    TZAZRec r(zf);
    r.SetStoredName("\x84");  // CP850 ä
    r.SetVersionMadeBy(0);
    EXPECT_EQ(r.FileName(), "\xE4");
}

TEST_F(ZAEntryTest, StoredFormRules) {
    EXPECT_EQ(TZAZRec::EscapeStoredName("a\\b'c*:<>?|\x01.txt"),
              "a/b#$27c#$2A#$3A#$3C#$3E#$3F#$7C#$01.txt");

    // Plain ASCII: stored as is, no records, no flag.
    auto f = TZAZRec::ChooseStoredForm("dir\\n.txt", "c", zeoAuto, true, "");
    EXPECT_EQ(f.name, "dir/n.txt");
    EXPECT_FALSE(f.utf8Flag);
    EXPECT_FALSE(f.extraChanged);
    EXPECT_EQ(f.madeBy, kMadeByDos30);

    // Only the name needs an encoding: OEM name plus a Unicode path record.
    f = TZAZRec::ChooseStoredForm("\xC3\xA4.txt", "c", zeoAuto, true, "");
    EXPECT_EQ(f.name, "\x84.txt");
    EXPECT_FALSE(f.utf8Flag);
    ASSERT_TRUE(f.extraChanged);
    const auto up = FindExtra(f.extra, kTagUnicodePath);
    ASSERT_TRUE(up);
    EXPECT_EQ(std::string(*ValidUnicodeText(up->data, f.name)), "\xC3\xA4.txt");
    EXPECT_FALSE(FindExtra(f.extra, kTagUnicodeComment));

    // Name and comment need one: UTF-8 with flag 11, old Unicode records dropped.
    f = TZAZRec::ChooseStoredForm("\xC3\xA4", "\xC3\xB6", zeoAuto, true,
                                  LE16(0x7075) + LE16(1) + "x");
    EXPECT_EQ(f.name, "\xC3\xA4");
    EXPECT_EQ(f.comment, "\xC3\xB6");
    EXPECT_TRUE(f.utf8Flag);
    EXPECT_EQ(f.extra, "");
    EXPECT_TRUE(f.extraChanged);

    // ANSI on request: made-by NTFS 3.0 when the stored bytes are not portable.
    f = TZAZRec::ChooseStoredForm("\xC3\xA4", "", zeoNone, true, "");
    EXPECT_EQ(f.name, "\xE4");
    EXPECT_EQ(f.madeBy, kMadeByAnsi);
    // OEM on request, from ANSI input.
    f = TZAZRec::ChooseStoredForm("\xE4", "", zeoOEM, false, "");
    EXPECT_EQ(f.name, "\x84");
}

TEST_F(ZAEntryTest, NewNamesReadBackAsStored) {
    TZAZRec r(zf);
    r.SetStoredName("old.txt");
    r.SetVersionMadeBy(0x0014);
    ASSERT_EQ(r.SetFileName("it's.txt"), 0);
    EXPECT_EQ(r.StoredName(), "it#$27s.txt");
    EXPECT_EQ(r.FileName(), "it#$27s.txt");
    EXPECT_TRUE(r.TestStatus(esChanged));
    ASSERT_EQ(r.SetFileName("sub\\dir\\x.txt"), 0);
    EXPECT_EQ(r.StoredName(), "sub/dir/x.txt");
    EXPECT_EQ(r.FileName(), "sub/dir/x.txt");
    EXPECT_EQ(ZAMessageIdOf(r.SetFileName("bad?.txt")), 103);
    EXPECT_EQ(ZAMessageIdOf(r.SetFileName("dir/")), 113);
    ASSERT_EQ(r.SetFileComment("\xC3\xBC"), 0);
    EXPECT_EQ(r.FileComment(), "\xC3\xBC");
    EXPECT_EQ(ZAMessageIdOf(r.SetExtraField(std::string(70000, 'x'))), 112);

    TZAZRec locked(zf);
    locked.SetGeneralFlags(kFlagEncrypted);
    EXPECT_EQ(ZAMessageIdOf(locked.SetDosDateTime(0x21 << 16)), 114);
    TZAZRec open(zf);
    EXPECT_EQ(ZAMessageIdOf(open.SetDosDateTime(0)), 135);
    EXPECT_EQ(open.SetDosDateTime(0x00210000), 0);
}

}  // namespace
