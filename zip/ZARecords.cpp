#include "zip/ZARecords.h"

#include <zlib.h>

#include <algorithm>

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

TZALocalHeader TZALocalHeader::Decode(const std::uint8_t* p) {
    using namespace local;
    TZALocalHeader h;
    h.signature = GetU32(p + kSig);
    h.versionNeeded = GetU16(p + kVersionNeeded);
    h.flags = GetU16(p + kFlags);
    h.method = GetU16(p + kMethod);
    h.dosDateTime = GetU32(p + kDateTime);
    h.crc32 = GetU32(p + kCrc);
    h.compressedSize = GetU32(p + kCompressedSize);
    h.uncompressedSize = GetU32(p + kUncompressedSize);
    h.nameLength = GetU16(p + kNameLength);
    h.extraLength = GetU16(p + kExtraLength);
    return h;
}

void TZALocalHeader::Encode(std::uint8_t* p) const {
    using namespace local;
    PutU32(p + kSig, signature);
    PutU16(p + kVersionNeeded, versionNeeded);
    PutU16(p + kFlags, flags);
    PutU16(p + kMethod, method);
    PutU32(p + kDateTime, dosDateTime);
    PutU32(p + kCrc, crc32);
    PutU32(p + kCompressedSize, compressedSize);
    PutU32(p + kUncompressedSize, uncompressedSize);
    PutU16(p + kNameLength, nameLength);
    PutU16(p + kExtraLength, extraLength);
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

TZACentralHeader TZACentralHeader::Decode(const std::uint8_t* p) {
    using namespace central;
    TZACentralHeader h;
    h.signature = GetU32(p + kSig);
    h.versionMadeBy = GetU16(p + kVersionMadeBy);
    h.versionNeeded = GetU16(p + kVersionNeeded);
    h.flags = GetU16(p + kFlags);
    h.method = GetU16(p + kMethod);
    h.dosDateTime = GetU32(p + kDateTime);
    h.crc32 = GetU32(p + kCrc);
    h.compressedSize = GetU32(p + kCompressedSize);
    h.uncompressedSize = GetU32(p + kUncompressedSize);
    h.nameLength = GetU16(p + kNameLength);
    h.extraLength = GetU16(p + kExtraLength);
    h.commentLength = GetU16(p + kCommentLength);
    h.diskStart = GetU16(p + kDiskStart);
    h.internalAttributes = GetU16(p + kInternalAttributes);
    h.externalAttributes = GetU32(p + kExternalAttributes);
    h.localHeaderOffset = GetU32(p + kLocalHeaderOffset);
    return h;
}

void TZACentralHeader::Encode(std::uint8_t* p) const {
    using namespace central;
    PutU32(p + kSig, signature);
    PutU16(p + kVersionMadeBy, versionMadeBy);
    PutU16(p + kVersionNeeded, versionNeeded);
    PutU16(p + kFlags, flags);
    PutU16(p + kMethod, method);
    PutU32(p + kDateTime, dosDateTime);
    PutU32(p + kCrc, crc32);
    PutU32(p + kCompressedSize, compressedSize);
    PutU32(p + kUncompressedSize, uncompressedSize);
    PutU16(p + kNameLength, nameLength);
    PutU16(p + kExtraLength, extraLength);
    PutU16(p + kCommentLength, commentLength);
    PutU16(p + kDiskStart, diskStart);
    PutU16(p + kInternalAttributes, internalAttributes);
    PutU32(p + kExternalAttributes, externalAttributes);
    PutU32(p + kLocalHeaderOffset, localHeaderOffset);
}

TZAEndRecord TZAEndRecord::Decode(const std::uint8_t* p) {
    using namespace eocd;
    TZAEndRecord r;
    r.signature = GetU32(p + kSig);
    r.thisDisk = GetU16(p + kThisDisk);
    r.centralStartDisk = GetU16(p + kCentralStartDisk);
    r.entriesOnDisk = GetU16(p + kEntriesOnDisk);
    r.totalEntries = GetU16(p + kTotalEntries);
    r.centralSize = GetU32(p + kCentralSize);
    r.centralOffset = GetU32(p + kCentralOffset);
    r.commentLength = GetU16(p + kCommentLength);
    return r;
}

void TZAEndRecord::Encode(std::uint8_t* p) const {
    using namespace eocd;
    PutU32(p + kSig, signature);
    PutU16(p + kThisDisk, thisDisk);
    PutU16(p + kCentralStartDisk, centralStartDisk);
    PutU16(p + kEntriesOnDisk, entriesOnDisk);
    PutU16(p + kTotalEntries, totalEntries);
    PutU32(p + kCentralSize, centralSize);
    PutU32(p + kCentralOffset, centralOffset);
    PutU16(p + kCommentLength, commentLength);
}

TZAZip64EndRecord TZAZip64EndRecord::Decode(const std::uint8_t* p) {
    using namespace zip64end;
    TZAZip64EndRecord r;
    r.signature = GetU32(p + kSig);
    r.recordSize = GetU64(p + kRecordSize);
    r.versionMadeBy = GetU16(p + kVersionMadeBy);
    r.versionNeeded = GetU16(p + kVersionNeeded);
    r.thisDisk = GetU32(p + kThisDisk);
    r.centralStartDisk = GetU32(p + kCentralStartDisk);
    r.entriesOnDisk = GetU64(p + kEntriesOnDisk);
    r.totalEntries = GetU64(p + kTotalEntries);
    r.centralSize = GetU64(p + kCentralSize);
    r.centralOffset = GetU64(p + kCentralOffset);
    return r;
}

void TZAZip64EndRecord::Encode(std::uint8_t* p) const {
    using namespace zip64end;
    PutU32(p + kSig, signature);
    PutU64(p + kRecordSize, recordSize);
    PutU16(p + kVersionMadeBy, versionMadeBy);
    PutU16(p + kVersionNeeded, versionNeeded);
    PutU32(p + kThisDisk, thisDisk);
    PutU32(p + kCentralStartDisk, centralStartDisk);
    PutU64(p + kEntriesOnDisk, entriesOnDisk);
    PutU64(p + kTotalEntries, totalEntries);
    PutU64(p + kCentralSize, centralSize);
    PutU64(p + kCentralOffset, centralOffset);
}

TZAZip64Locator TZAZip64Locator::Decode(const std::uint8_t* p) {
    using namespace zip64loc;
    TZAZip64Locator l;
    l.signature = GetU32(p + kSig);
    l.zip64Disk = GetU32(p + kZip64Disk);
    l.zip64Offset = GetU64(p + kZip64Offset);
    l.totalDisks = GetU32(p + kTotalDisks);
    return l;
}

void TZAZip64Locator::Encode(std::uint8_t* p) const {
    using namespace zip64loc;
    PutU32(p + kSig, signature);
    PutU32(p + kZip64Disk, zip64Disk);
    PutU64(p + kZip64Offset, zip64Offset);
    PutU32(p + kTotalDisks, totalDisks);
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

bool IsStructuralUtf8(std::string_view text) {
    const auto* p = Bytes(text);
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = p[i];
        std::size_t len;
        if (b < 0x80) {
            len = 1;
        } else if (b >= 0xC0 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
        } else if (b >= 0xF0 && b <= 0xF7) {
            len = 4;
        } else if (b >= 0xF8 && b <= 0xFB) {
            len = 5;
        } else if (b >= 0xFC && b <= 0xFD) {
            len = 6;
        } else {
            return false;
        }
        if (len > n - i) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) {
                return false;
            }
        }
        i += len;
    }
    return true;
}

std::optional<std::string_view> ValidUnicodeText(std::string_view data,
                                                 std::string_view storedBytes) {
    if (data.size() <= kUnicodeRecordHead) {
        return std::nullopt;
    }
    const auto* p = Bytes(data);
    if (p[0] != kUnicodeRecordVersion || GetU32(p + 1) != Crc32(storedBytes)) {
        return std::nullopt;
    }
    const auto text = data.substr(kUnicodeRecordHead);
    if (!IsStructuralUtf8(text)) {
        return std::nullopt;
    }
    return text;
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
