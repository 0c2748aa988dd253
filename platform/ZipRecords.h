// The byte layout of every zip record, in one place for the component, the
// engine and the tests (the numbers themselves are platform/ZipLayout.h's,
// which the self-extractor core, plain C, reads too): signatures, offsets, sizes and the routines
// that turn the fixed part of each record into a struct and back. Everything is little-endian and
// read byte by byte, so the layout does not depend on the host's alignment or endianness. Nothing
// here trusts a length read from a file: the extra-field walk checks every record against the bytes
// it was given.
//
// The record structs hold the raw 16/32-bit field values exactly as stored;
// interpreting sentinels (0xFFFF, 0xFFFFFFFF) and Zip64 values is the job of
// the entry records (ZAIRec) and the end-record search (ZAEOC).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ZipLayout.h"

namespace zrec {

// ---- little-endian access ---------------------------------------------------

inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetU64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(GetU32(p)) |
           (static_cast<std::uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
    PutU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
// Byte strings (std::string) are the component's type for raw record bytes.
inline const std::uint8_t* Bytes(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}
void AppendU16(std::string& out, std::uint16_t v);
void AppendU32(std::string& out, std::uint32_t v);
void AppendU64(std::string& out, std::uint64_t v);

// ---- signatures ---------------------------------------------------------------

inline constexpr std::uint32_t kLocalHeaderSig = ZIP_SIG_LOCAL;
inline constexpr std::uint32_t kCentralHeaderSig = ZIP_SIG_CENTRAL;
inline constexpr std::uint32_t kEndRecordSig = ZIP_SIG_END;
inline constexpr std::uint32_t kZip64EndRecordSig = ZIP_SIG_END64;
inline constexpr std::uint32_t kZip64LocatorSig = ZIP_SIG_LOCATOR64;
inline constexpr std::uint32_t kDataDescriptorSig = ZIP_SIG_DESCRIPTOR;
// A multi-part set written by the component starts with this value on its
// own, followed by the first local header.
inline constexpr std::uint32_t kMultiPartMarker = ZIP_SIG_DESCRIPTOR;
// "MZ" in the low 16 bits of the first four bytes: an executable image.
inline constexpr std::uint16_t kExeSig = 0x5A4D;

// ---- sentinels ----------------------------------------------------------------

inline constexpr std::uint16_t kSentinel16 = ZIP_SENTINEL16;
inline constexpr std::uint32_t kSentinel32 = ZIP_SENTINEL32;

// ---- general-purpose flag bits --------------------------------------------------

inline constexpr std::uint16_t kFlagEncrypted = ZIP_FLAG_ENCRYPTED;
inline constexpr std::uint16_t kFlagDataDescriptor = ZIP_FLAG_DATA_DESCRIPTOR;
inline constexpr std::uint16_t kFlagPatched = 0x0020;  // raises version needed to 2.7
inline constexpr std::uint16_t kFlagUtf8 = ZIP_FLAG_UTF8;

// ---- extra-field tags -----------------------------------------------------------

inline constexpr std::uint16_t kTagZip64 = ZIP_TAG_ZIP64;
inline constexpr std::uint16_t kTagNtfs = ZIP_TAG_NTFS;
inline constexpr std::uint16_t kTagExtTime = ZIP_TAG_EXT_TIME;
inline constexpr std::uint16_t kTagUnicodeComment = ZIP_TAG_UNICODE_COMMENT;
inline constexpr std::uint16_t kTagUnicodePath = ZIP_TAG_UNICODE_PATH;
inline constexpr std::uint16_t kTagAes = ZIP_TAG_AES;               // WinZip AES (method 99)
inline constexpr std::size_t kExtraHeadSize = ZIP_EXTRA_HEAD_SIZE;  // tag (2) + data size (2)
inline constexpr std::size_t kMaxExtraLength = 0xFFFF;

// ---- version numbers -------------------------------------------------------------

inline constexpr std::uint8_t kVersionZip64 = 45;  // 4.5: the highest version understood
// The host system in the high byte of "version made by".
inline constexpr int kHostFat = 0, kHostHpfs = 6, kHostNtfs = 11, kHostVfat = 14;
// 6.3: the latest version of the format; the end records read the same up to it.
inline constexpr std::uint8_t kVersionHighestKnown = 63;

// ---- local file header: 30 bytes + name + extra ------------------------------------

namespace local {
inline constexpr std::size_t kSize = ZIP_LOCAL_SIZE;
inline constexpr std::size_t kSig = 0, kVersionNeeded = ZIP_LOCAL_VERSION_NEEDED,
                             kFlags = ZIP_LOCAL_FLAGS, kMethod = ZIP_LOCAL_METHOD,
                             kDateTime = ZIP_LOCAL_DATE_TIME, kCrc = ZIP_LOCAL_CRC,
                             kCompressedSize = ZIP_LOCAL_COMPRESSED_SIZE,
                             kUncompressedSize = ZIP_LOCAL_UNCOMPRESSED_SIZE,
                             kNameLength = ZIP_LOCAL_NAME_LENGTH,
                             kExtraLength = ZIP_LOCAL_EXTRA_LENGTH;
// The 26 bytes after the signature, read field by field so that a multi-part
// read may change parts between fields.
inline constexpr std::array<int, 10> kFieldWidths = {2, 2, 2, 2, 2, 4, 4, 4, 2, 2};
}  // namespace local

struct TZALocalHeader {
    std::uint32_t signature = kLocalHeaderSig;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;

    // `p` points at local::kSize bytes.
    static TZALocalHeader Decode(const std::uint8_t* p);
    void Encode(std::uint8_t* p) const;
    bool operator==(const TZALocalHeader&) const = default;
};

// ---- data descriptor -----------------------------------------------------------------

namespace descriptor {
inline constexpr std::size_t kShortSize = ZIP_DESCRIPTOR_SHORT_SIZE;  // sig, crc, 32-bit sizes
inline constexpr std::size_t kLongSize = ZIP_DESCRIPTOR_LONG_SIZE;    // sig, crc, 64-bit sizes
}  // namespace descriptor

// Writes the signature, CRC and both sizes (8-byte sizes in the long form);
// returns the record's length.
std::size_t EncodeDataDescriptor(std::uint8_t* p, bool longForm, std::uint32_t crc,
                                 std::uint64_t compressedSize, std::uint64_t uncompressedSize);

// ---- central directory header: 46 bytes + name + extra + comment ------------------------

namespace central {
inline constexpr std::size_t kSize = ZIP_CENTRAL_SIZE;
inline constexpr std::size_t kSig = 0, kVersionMadeBy = ZIP_CENTRAL_VERSION_MADE_BY,
                             kVersionNeeded = ZIP_CENTRAL_VERSION_NEEDED,
                             kFlags = ZIP_CENTRAL_FLAGS, kMethod = ZIP_CENTRAL_METHOD,
                             kDateTime = ZIP_CENTRAL_DATE_TIME, kCrc = ZIP_CENTRAL_CRC,
                             kCompressedSize = ZIP_CENTRAL_COMPRESSED_SIZE,
                             kUncompressedSize = ZIP_CENTRAL_UNCOMPRESSED_SIZE,
                             kNameLength = ZIP_CENTRAL_NAME_LENGTH,
                             kExtraLength = ZIP_CENTRAL_EXTRA_LENGTH,
                             kCommentLength = ZIP_CENTRAL_COMMENT_LENGTH,
                             kDiskStart = ZIP_CENTRAL_DISK_START,
                             kInternalAttributes = ZIP_CENTRAL_INTERNAL_ATTRIBUTES,
                             kExternalAttributes = ZIP_CENTRAL_EXTERNAL_ATTRIBUTES,
                             kLocalHeaderOffset = ZIP_CENTRAL_LOCAL_HEADER_OFFSET;
// The fixed part as 18 fields (version made by as two single bytes).
inline constexpr std::array<int, 18> kFieldWidths = {4, 1, 1, 2, 2, 2, 2, 2, 4,
                                                     4, 4, 2, 2, 2, 2, 2, 4, 4};
}  // namespace central

struct TZACentralHeader {
    std::uint32_t signature = kCentralHeaderSig;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;

    static TZACentralHeader Decode(const std::uint8_t* p);
    void Encode(std::uint8_t* p) const;
    bool operator==(const TZACentralHeader&) const = default;
};

// ---- end of central directory record: 22 bytes + comment ---------------------------------

namespace eocd {
inline constexpr std::size_t kSize = ZIP_END_SIZE;
inline constexpr std::size_t kSig = 0, kThisDisk = ZIP_END_THIS_DISK,
                             kCentralStartDisk = ZIP_END_CENTRAL_START_DISK,
                             kEntriesOnDisk = ZIP_END_ENTRIES_ON_DISK,
                             kTotalEntries = ZIP_END_TOTAL_ENTRIES,
                             kCentralSize = ZIP_END_CENTRAL_SIZE,
                             kCentralOffset = ZIP_END_CENTRAL_OFFSET,
                             kCommentLength = ZIP_END_COMMENT_LENGTH;
inline constexpr std::size_t kMaxComment = ZIP_END_MAX_COMMENT;
// The farthest an end record can sit from the end of the file.
inline constexpr std::size_t kMaxSearch = kSize + kMaxComment;  // 65557
}  // namespace eocd

struct TZAEndRecord {
    std::uint32_t signature = kEndRecordSig;
    std::uint16_t thisDisk = 0;
    std::uint16_t centralStartDisk = 0;
    std::uint16_t entriesOnDisk = 0;
    std::uint16_t totalEntries = 0;
    std::uint32_t centralSize = 0;
    std::uint32_t centralOffset = 0;
    std::uint16_t commentLength = 0;

    static TZAEndRecord Decode(const std::uint8_t* p);
    void Encode(std::uint8_t* p) const;
    bool operator==(const TZAEndRecord&) const = default;
};

// ---- Zip64 end of central directory record: 56 bytes ----------------------------------

namespace zip64end {
inline constexpr std::size_t kSize = ZIP_END64_SIZE;
inline constexpr std::size_t kSig = 0, kRecordSize = ZIP_END64_RECORD_SIZE,
                             kVersionMadeBy = ZIP_END64_VERSION_MADE_BY,
                             kVersionNeeded = ZIP_END64_VERSION_NEEDED,
                             kThisDisk = ZIP_END64_THIS_DISK,
                             kCentralStartDisk = ZIP_END64_CENTRAL_START_DISK,
                             kEntriesOnDisk = ZIP_END64_ENTRIES_ON_DISK,
                             kTotalEntries = ZIP_END64_TOTAL_ENTRIES,
                             kCentralSize = ZIP_END64_CENTRAL_SIZE,
                             kCentralOffset = ZIP_END64_CENTRAL_OFFSET;
// The record-size field counts the bytes after itself: 56 - 12.
inline constexpr std::uint64_t kMinRecordSize = ZIP_END64_MIN_RECORD_SIZE;
}  // namespace zip64end

struct TZAZip64EndRecord {
    std::uint32_t signature = kZip64EndRecordSig;
    std::uint64_t recordSize = zip64end::kMinRecordSize;
    std::uint16_t versionMadeBy = kVersionZip64;
    std::uint16_t versionNeeded = kVersionZip64;
    std::uint32_t thisDisk = 0;
    std::uint32_t centralStartDisk = 0;
    std::uint64_t entriesOnDisk = 0;
    std::uint64_t totalEntries = 0;
    std::uint64_t centralSize = 0;
    std::uint64_t centralOffset = 0;

    static TZAZip64EndRecord Decode(const std::uint8_t* p);
    void Encode(std::uint8_t* p) const;
    bool operator==(const TZAZip64EndRecord&) const = default;
};

// ---- Zip64 end of central directory locator: 20 bytes, just before the end record ----------

namespace zip64loc {
inline constexpr std::size_t kSize = ZIP_LOCATOR64_SIZE;
inline constexpr std::size_t kSig = 0, kZip64Disk = ZIP_LOCATOR64_DISK,
                             kZip64Offset = ZIP_LOCATOR64_OFFSET,
                             kTotalDisks = ZIP_LOCATOR64_TOTAL_DISKS;
}  // namespace zip64loc

struct TZAZip64Locator {
    std::uint32_t signature = kZip64LocatorSig;
    std::uint32_t zip64Disk = 0;
    std::uint64_t zip64Offset = 0;
    std::uint32_t totalDisks = 1;

    static TZAZip64Locator Decode(const std::uint8_t* p);
    void Encode(std::uint8_t* p) const;
    bool operator==(const TZAZip64Locator&) const = default;
};

// ---- extra fields -------------------------------------------------------------------------

// One record found by a walk: where it starts in the field and how long it is
// including its 4-byte head.
struct TZAExtraRecord {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::uint16_t tag = 0;
    // The record's data (without the head), a view into the walked bytes.
    std::string_view data;
};

// Walks an extra field by the rule every reader shares (zip_extra_data_size
// in platform/ZipLayout.h): a record is examined while its 4-byte head fits
// (a head with size 0 that ends the field is a valid empty record), and fewer
// than four bytes left over or a record whose data would run past the end of
// the field end the walk. `visit` returns false to stop early. Returns the
// offset where the walk stopped (the field's length when every byte formed a
// well-formed record, or a shorter offset for a malformed or short tail).
template <typename Visit>
std::size_t WalkExtra(std::string_view extra, Visit&& visit) {
    std::size_t pos = 0;
    for (;;) {
        const long size = zip_extra_data_size(Bytes(extra), extra.size(), pos);
        if (size < 0) {
            break;
        }
        const TZAExtraRecord rec{
            pos, kExtraHeadSize + static_cast<std::size_t>(size), GetU16(Bytes(extra) + pos),
            extra.substr(pos + kExtraHeadSize, static_cast<std::size_t>(size))};
        pos += rec.length;
        if (!visit(rec)) {
            break;
        }
    }
    return pos;
}

// The first record with `tag`, or nothing.
std::optional<TZAExtraRecord> FindExtra(std::string_view extra, std::uint16_t tag);
// The data of the first record with `tag`; empty when absent.
std::string_view ExtraData(std::string_view extra, std::uint16_t tag);
// Only the well-formed records whose tag is listed, in their order.
std::string KeepExtraTags(std::string_view extra, std::initializer_list<std::uint16_t> tags);
// Everything except the well-formed records whose tag is listed; a malformed
// tail is kept as it is (it is not ours to repair). Returns the field
// unchanged when nothing was dropped.
std::string DropExtraTags(std::string_view extra, std::initializer_list<std::uint16_t> tags);
// The well-formed records whose tag is not listed, in their order, without a
// malformed tail: for a field written anew from bytes a caller handed over or
// from an entry being copied, so that what is written reads cleanly everywhere.
std::string CleanExtraWithout(std::string_view extra, std::initializer_list<std::uint16_t> tags);
// A record made of `tag` and `data`; nothing when the data is too large for
// the 16-bit size field.
std::optional<std::string> MakeExtraRecord(std::uint16_t tag, std::string_view data);
// The record (`tag`, `data`) first, followed by the field without its records
// of that tag; nothing when the result would exceed 65535 bytes.
std::optional<std::string> ReplaceExtra(std::string_view extra, std::uint16_t tag,
                                        std::string_view data);

// Zip64 extended information. In a central header only the values whose
// header field holds the sentinel are present, in the order uncompressed
// size, compressed size, local header offset, disk start.
struct TZAZip64Values {
    std::optional<std::uint64_t> uncompressedSize;
    std::optional<std::uint64_t> compressedSize;
    std::optional<std::uint64_t> localHeaderOffset;
    std::optional<std::uint32_t> diskStart;
};
// Reads the values that `want` asks for (a present optional means "wanted")
// from the record data; false when the data is too short for them.
bool ParseZip64Data(std::string_view data, bool wantUncompressed, bool wantCompressed,
                    bool wantOffset, bool wantDisk, TZAZip64Values& out);
// The data of a Zip64 record holding the present values in the fixed order.
std::string BuildZip64Data(const TZAZip64Values& v);

// Info-ZIP Unicode path (0x7075) and comment (0x6375) records: version 1, the
// CRC-32 of the stored bytes, the text in UTF-8.
inline constexpr std::uint8_t kUnicodeRecordVersion = 1;
inline constexpr std::size_t kUnicodeRecordHead = 5;  // version + CRC
// The record data for `utf8` as the Unicode form of `storedBytes`.
std::string BuildUnicodeData(std::string_view storedBytes, std::string_view utf8);
// The UTF-8 text of a record that belongs to `storedBytes`: version 1, a
// matching CRC and well-formed UTF-8, checked by the rule every reader of
// names shares (platform::EntryUnicodeText). Nothing when invalid or empty.
std::optional<std::string_view> ValidUnicodeText(std::string_view data,
                                                 std::string_view storedBytes);

// Info-ZIP extended timestamp (0x5455): a flags byte (bit 0 modification,
// bit 1 access, bit 2 creation time) followed by the present times as signed
// 32-bit Unix seconds. A central record usually carries only the modification
// time although its flags name more.
struct TZAExtTime {
    std::uint8_t flags = 0;
    std::optional<std::int64_t> modified;
    std::optional<std::int64_t> accessed;
    std::optional<std::int64_t> created;
};
std::optional<TZAExtTime> ParseExtTime(std::string_view data);
std::string BuildExtTimeData(const TZAExtTime& t);

// Standard zip CRC-32 (0 for empty input).
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

}  // namespace zrec
