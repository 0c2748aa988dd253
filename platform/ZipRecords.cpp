#include "platform/ZipRecords.h"

#include "platform/CodePage.h"

#include <zlib.h>

#include <algorithm>
#include <iterator>

namespace zrec {

void AppendU16(std::string& out, std::uint16_t v) {
    std::uint8_t b[2];
    PutU16(b, v);
    out.append(reinterpret_cast<const char*>(b), 2);
}
void AppendU32(std::string& out, std::uint32_t v) {
    std::uint8_t b[4];
    PutU32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}
void AppendU64(std::string& out, std::uint64_t v) {
    std::uint8_t b[8];
    PutU64(b, v);
    out.append(reinterpret_cast<const char*>(b), 8);
}

// ---- fixed records ----------------------------------------------------------------

namespace {

template <typename>
struct MemberOf;
template <typename Rec, typename T>
struct MemberOf<T Rec::*> {
    using Record = Rec;
    using Type = T;
};

// One field of a record's fixed part: the struct member stored at `Offset`,
// little-endian, as wide as the member's type.
template <std::size_t Offset, auto Member>
struct Field {
    using Type = typename MemberOf<decltype(Member)>::Type;
    using Record = typename MemberOf<decltype(Member)>::Record;
    static constexpr std::size_t kOffset = Offset;
    static constexpr std::size_t kEnd = Offset + sizeof(Type);

    static void Read(const std::uint8_t* p, Record& r) {
        if constexpr (sizeof(Type) == 2) {
            r.*Member = GetU16(p + Offset);
        } else if constexpr (sizeof(Type) == 4) {
            r.*Member = GetU32(p + Offset);
        } else {
            r.*Member = GetU64(p + Offset);
        }
    }
    static void Write(const Record& r, std::uint8_t* p) {
        if constexpr (sizeof(Type) == 2) {
            PutU16(p + Offset, r.*Member);
        } else if constexpr (sizeof(Type) == 4) {
            PutU32(p + Offset, r.*Member);
        } else {
            PutU64(p + Offset, r.*Member);
        }
    }
};

// A record's fixed part as its field table: one list serves decoding and
// encoding, and the compiler checks that the fields cover the `Size` bytes
// one after the other, without gaps or overlaps.
template <std::size_t Size, typename First, typename... Rest>
struct FieldTable {
    using Record = typename First::Record;

    static constexpr bool Tiles() {
        constexpr std::size_t starts[] = {First::kOffset, Rest::kOffset...};
        constexpr std::size_t ends[] = {First::kEnd, Rest::kEnd...};
        for (std::size_t i = 1; i < std::size(starts); ++i) {
            if (starts[i] != ends[i - 1]) {
                return false;
            }
        }
        return starts[0] == 0 && ends[std::size(ends) - 1] == Size;
    }
    static_assert(Tiles(), "the fields must cover the record exactly");

    static Record Decode(const std::uint8_t* p) {
        Record r;
        First::Read(p, r);
        (Rest::Read(p, r), ...);
        return r;
    }
    static void Encode(const Record& r, std::uint8_t* p) {
        First::Write(r, p);
        (Rest::Write(r, p), ...);
    }
};

using H = TZALocalHeader;
using LocalTable =
    FieldTable<local::kSize, Field<local::kSig, &H::signature>,
               Field<local::kVersionNeeded, &H::versionNeeded>, Field<local::kFlags, &H::flags>,
               Field<local::kMethod, &H::method>, Field<local::kDateTime, &H::dosDateTime>,
               Field<local::kCrc, &H::crc32>, Field<local::kCompressedSize, &H::compressedSize>,
               Field<local::kUncompressedSize, &H::uncompressedSize>,
               Field<local::kNameLength, &H::nameLength>,
               Field<local::kExtraLength, &H::extraLength>>;

using C = TZACentralHeader;
using CentralTable = FieldTable<
    central::kSize, Field<central::kSig, &C::signature>,
    Field<central::kVersionMadeBy, &C::versionMadeBy>,
    Field<central::kVersionNeeded, &C::versionNeeded>, Field<central::kFlags, &C::flags>,
    Field<central::kMethod, &C::method>, Field<central::kDateTime, &C::dosDateTime>,
    Field<central::kCrc, &C::crc32>, Field<central::kCompressedSize, &C::compressedSize>,
    Field<central::kUncompressedSize, &C::uncompressedSize>,
    Field<central::kNameLength, &C::nameLength>, Field<central::kExtraLength, &C::extraLength>,
    Field<central::kCommentLength, &C::commentLength>, Field<central::kDiskStart, &C::diskStart>,
    Field<central::kInternalAttributes, &C::internalAttributes>,
    Field<central::kExternalAttributes, &C::externalAttributes>,
    Field<central::kLocalHeaderOffset, &C::localHeaderOffset>>;

using E = TZAEndRecord;
using EndTable = FieldTable<
    eocd::kSize, Field<eocd::kSig, &E::signature>, Field<eocd::kThisDisk, &E::thisDisk>,
    Field<eocd::kCentralStartDisk, &E::centralStartDisk>,
    Field<eocd::kEntriesOnDisk, &E::entriesOnDisk>, Field<eocd::kTotalEntries, &E::totalEntries>,
    Field<eocd::kCentralSize, &E::centralSize>, Field<eocd::kCentralOffset, &E::centralOffset>,
    Field<eocd::kCommentLength, &E::commentLength>>;

using Z = TZAZip64EndRecord;
using Zip64EndTable = FieldTable<zip64end::kSize, Field<zip64end::kSig, &Z::signature>,
                                 Field<zip64end::kRecordSize, &Z::recordSize>,
                                 Field<zip64end::kVersionMadeBy, &Z::versionMadeBy>,
                                 Field<zip64end::kVersionNeeded, &Z::versionNeeded>,
                                 Field<zip64end::kThisDisk, &Z::thisDisk>,
                                 Field<zip64end::kCentralStartDisk, &Z::centralStartDisk>,
                                 Field<zip64end::kEntriesOnDisk, &Z::entriesOnDisk>,
                                 Field<zip64end::kTotalEntries, &Z::totalEntries>,
                                 Field<zip64end::kCentralSize, &Z::centralSize>,
                                 Field<zip64end::kCentralOffset, &Z::centralOffset>>;

using L = TZAZip64Locator;
using Zip64LocatorTable = FieldTable<zip64loc::kSize, Field<zip64loc::kSig, &L::signature>,
                                     Field<zip64loc::kZip64Disk, &L::zip64Disk>,
                                     Field<zip64loc::kZip64Offset, &L::zip64Offset>,
                                     Field<zip64loc::kTotalDisks, &L::totalDisks>>;

}  // namespace

TZALocalHeader TZALocalHeader::Decode(const std::uint8_t* p) {
    return LocalTable::Decode(p);
}
void TZALocalHeader::Encode(std::uint8_t* p) const {
    LocalTable::Encode(*this, p);
}

TZACentralHeader TZACentralHeader::Decode(const std::uint8_t* p) {
    return CentralTable::Decode(p);
}
void TZACentralHeader::Encode(std::uint8_t* p) const {
    CentralTable::Encode(*this, p);
}

TZAEndRecord TZAEndRecord::Decode(const std::uint8_t* p) {
    return EndTable::Decode(p);
}
void TZAEndRecord::Encode(std::uint8_t* p) const {
    EndTable::Encode(*this, p);
}

TZAZip64EndRecord TZAZip64EndRecord::Decode(const std::uint8_t* p) {
    return Zip64EndTable::Decode(p);
}
void TZAZip64EndRecord::Encode(std::uint8_t* p) const {
    Zip64EndTable::Encode(*this, p);
}

TZAZip64Locator TZAZip64Locator::Decode(const std::uint8_t* p) {
    return Zip64LocatorTable::Decode(p);
}
void TZAZip64Locator::Encode(std::uint8_t* p) const {
    Zip64LocatorTable::Encode(*this, p);
}

std::size_t EncodeDataDescriptor(std::uint8_t* p, bool longForm, std::uint32_t crc,
                                 std::uint64_t compressedSize, std::uint64_t uncompressedSize) {
    PutU32(p, kDataDescriptorSig);
    PutU32(p + 4, crc);
    if (longForm) {
        PutU64(p + 8, compressedSize);
        PutU64(p + 16, uncompressedSize);
        return descriptor::kLongSize;
    }
    PutU32(p + 8, static_cast<std::uint32_t>(compressedSize));
    PutU32(p + 12, static_cast<std::uint32_t>(uncompressedSize));
    return descriptor::kShortSize;
}

// ---- extra fields ----------------------------------------------------------------

namespace {
bool Listed(std::uint16_t tag, std::initializer_list<std::uint16_t> tags) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}
}  // namespace

std::optional<TZAExtraRecord> FindExtra(std::string_view extra, std::uint16_t tag) {
    std::optional<TZAExtraRecord> found;
    WalkExtra(extra, [&](const TZAExtraRecord& r) {
        if (r.tag == tag) {
            found = r;
            return false;
        }
        return true;
    });
    return found;
}

std::string_view ExtraData(std::string_view extra, std::uint16_t tag) {
    const auto r = FindExtra(extra, tag);
    return r ? r->data : std::string_view{};
}

std::string KeepExtraTags(std::string_view extra, std::initializer_list<std::uint16_t> tags) {
    std::string out;
    WalkExtra(extra, [&](const TZAExtraRecord& r) {
        if (Listed(r.tag, tags)) {
            out.append(extra.substr(r.offset, r.length));
        }
        return true;
    });
    return out;
}

std::string DropExtraTags(std::string_view extra, std::initializer_list<std::uint16_t> tags) {
    std::string out;
    bool dropped = false;
    const std::size_t end = WalkExtra(extra, [&](const TZAExtraRecord& r) {
        if (Listed(r.tag, tags)) {
            dropped = true;
        } else {
            out.append(extra.substr(r.offset, r.length));
        }
        return true;
    });
    if (!dropped) {
        return std::string(extra);
    }
    out.append(extra.substr(end));
    return out;
}

std::string CleanExtraWithout(std::string_view extra, std::initializer_list<std::uint16_t> tags) {
    std::string out;
    WalkExtra(extra, [&](const TZAExtraRecord& r) {
        if (!Listed(r.tag, tags)) {
            out.append(extra.substr(r.offset, r.length));
        }
        return true;
    });
    return out;
}

std::optional<std::string> MakeExtraRecord(std::uint16_t tag, std::string_view data) {
    if (data.size() > kMaxExtraLength - kExtraHeadSize) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(kExtraHeadSize + data.size());
    AppendU16(out, tag);
    AppendU16(out, static_cast<std::uint16_t>(data.size()));
    out.append(data);
    return out;
}

std::optional<std::string> ReplaceExtra(std::string_view extra, std::uint16_t tag,
                                        std::string_view data) {
    auto out = MakeExtraRecord(tag, data);
    if (!out) {
        return std::nullopt;
    }
    out->append(DropExtraTags(extra, {tag}));
    if (out->size() > kMaxExtraLength) {
        return std::nullopt;
    }
    return out;
}

bool ParseZip64Data(std::string_view data, bool wantUncompressed, bool wantCompressed,
                    bool wantOffset, bool wantDisk, TZAZip64Values& out) {
    std::size_t pos = 0;
    auto take64 = [&](std::optional<std::uint64_t>& v) {
        if (data.size() - pos < 8) {
            return false;
        }
        v = GetU64(Bytes(data) + pos);
        pos += 8;
        return true;
    };
    if (wantUncompressed && !take64(out.uncompressedSize)) {
        return false;
    }
    if (wantCompressed && !take64(out.compressedSize)) {
        return false;
    }
    if (wantOffset && !take64(out.localHeaderOffset)) {
        return false;
    }
    if (wantDisk) {
        if (data.size() - pos < 4) {
            return false;
        }
        out.diskStart = GetU32(Bytes(data) + pos);
    }
    return true;
}

std::string BuildZip64Data(const TZAZip64Values& v) {
    std::string out;
    if (v.uncompressedSize) {
        AppendU64(out, *v.uncompressedSize);
    }
    if (v.compressedSize) {
        AppendU64(out, *v.compressedSize);
    }
    if (v.localHeaderOffset) {
        AppendU64(out, *v.localHeaderOffset);
    }
    if (v.diskStart) {
        AppendU32(out, *v.diskStart);
    }
    return out;
}

// ---- Unicode path and comment records --------------------------------------------------

std::string BuildUnicodeData(std::string_view storedBytes, std::string_view utf8) {
    std::string out;
    out.reserve(kUnicodeRecordHead + utf8.size());
    out.push_back(static_cast<char>(kUnicodeRecordVersion));
    AppendU32(out, Crc32(storedBytes));
    out.append(utf8);
    return out;
}

std::optional<std::string_view> ValidUnicodeText(std::string_view data,
                                                 std::string_view storedBytes) {
    return platform::EntryUnicodeText(data, storedBytes);
}

// ---- extended timestamp ----------------------------------------------------------------

std::optional<TZAExtTime> ParseExtTime(std::string_view data) {
    if (data.empty()) {
        return std::nullopt;
    }
    TZAExtTime t;
    t.flags = static_cast<std::uint8_t>(data[0]);
    std::size_t pos = 1;
    auto take = [&](std::uint8_t bit, std::optional<std::int64_t>& v) {
        if ((t.flags & bit) != 0 && data.size() - pos >= 4) {
            v = static_cast<std::int32_t>(GetU32(Bytes(data) + pos));
            pos += 4;
        }
    };
    take(1, t.modified);
    take(2, t.accessed);
    take(4, t.created);
    return t;
}

std::string BuildExtTimeData(const TZAExtTime& t) {
    std::string out;
    std::uint8_t flags = 0;
    flags |= t.modified ? 1 : 0;
    flags |= t.accessed ? 2 : 0;
    flags |= t.created ? 4 : 0;
    out.push_back(static_cast<char>(flags));
    for (const auto* v : {&t.modified, &t.accessed, &t.created}) {
        if (*v) {
            AppendU32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(**v)));
        }
    }
    return out;
}

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
    // zlib takes the length as uInt: feed large inputs in slices.
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1u << 30);
        crc = static_cast<std::uint32_t>(::crc32(crc, Bytes(bytes), static_cast<uInt>(n)));
        bytes.remove_prefix(n);
    }
    return crc;
}

}  // namespace zrec
