#include "zip/ZAEOC.h"

#include <algorithm>
#include <cstring>

#include "platform/ZipRecords.h"
#include "sfx/core/sfxblock.h"
#include "zip/ZAUtils.h"
#include "zip/ZAXcpt.h"

using namespace zrec;

namespace {

constexpr std::int32_t kFound = 8;
constexpr std::int32_t kSentinelSeen = 0x40;

// Executable layout probed for a stub in front of an archive.
constexpr std::int64_t kDosHeaderSize = 64;
constexpr std::int64_t kPeOffsetField = 60;
constexpr std::int64_t kPeFileHeaderSize = 20;
constexpr std::int64_t kPeOptionalHeaderSize = 224;
constexpr std::int64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kMachineI386 = 0x014C;

// Records the self-extractor writes after the image.
constexpr std::uint32_t kStubTagAppended = SFX_BLOCK_SIGNATURE;
constexpr std::uint32_t kStubTagConfig = SFX_BLOCK_SIGNATURE_OLD;
constexpr std::uint32_t kStubTagConfigEnd = 0x010A5A44;
constexpr std::uint32_t kStubTagDetachedName = 0x01145A44;
constexpr std::uint32_t kStubTagDetachedEnd = 0x02145A44;

}  // namespace

bool TZAEOC::ReadAt(std::int64_t offset, void* buffer, std::int32_t length) {
    return offset >= 0 && Seek(kSeekBegin, offset) == offset && ReadPlain(buffer, length) == length;
}

std::int64_t TZAEOC::PlausibleEntryCount() const {
    std::int64_t bound = CentralSize / static_cast<std::int64_t>(central::kSize) + 1;
    if (SizeAtOpen > 0) {
        bound = std::min(bound, SizeAtOpen / static_cast<std::int64_t>(central::kSize) + 1);
    }
    return std::max<std::int64_t>(0, std::min<std::int64_t>(TotalEntries, bound));
}

// ---- the backward search ---------------------------------------------------------------

std::int32_t TZAEOC::FindEndRecord(bool noZip64) {
    try {
        const std::int32_t r = Search(noZip64);
        if (r < 0) {
            Close();
        }
        return r;
    } catch (const EZAException& e) {
        Close();
        return -e.FullCode;
    } catch (...) {
        Close();
        throw;
    }
}

std::int32_t TZAEOC::Search(bool noZip64) {
    ArchiveComment.clear();
    IsMultiPart = false;
    DiskNumber = DiskCount = 0;
    TotalEntries = CentralEntriesOnDisk = CentralStartDisk = 0;
    CentralOffset = CentralSize = EndRecordOffset = PreambleSize = 0;
    Zip64MadeBy = Zip64Needed = 0;
    Zip64RecordOffset = -1;
    Zip64RecordLength = 0;

    if (IsOpen()) {
        SeekOrRaise(kSeekBegin, -1, 0);
    } else if (!Open(kOpenRead)) {
        throw EZipArchiver(FileExists(FileName()) ? ZA_CODE(164) : ZA_CODE(123));
    }

    StartKind = kStartUnknown;
    std::uint8_t head[8];
    if (ReadPlain(head, 4) != 4) {
        throw EZipArchiver(ZA_CODE(127));
    }
    const std::uint32_t first = GetU32(head);
    if ((first & 0xFFFF) == kExeSig) {
        StartKind = kStartExecutable;
    } else if (first == kLocalHeaderSig) {
        StartKind = kStartLocalHeader;
    } else if (first == kMultiPartMarker && ReadPlain(head + 4, 4) == 4 &&
               GetU32(head + 4) == kLocalHeaderSig) {
        StartKind = kStartMultiPart;
        IsMultiPart = true;
    }

    const std::int64_t size = FileSize();
    if (size < static_cast<std::int64_t>(eocd::kSize)) {
        throw EZipArchiver(ZA_CODE(127));
    }
    LogicalSize = SizeAtOpen = size;

    // The tail that can hold the end record and its comment.
    const auto tailLength =
        static_cast<std::size_t>(std::min<std::int64_t>(size, eocd::kMaxSearch));
    std::vector<std::uint8_t> tail(tailLength);
    if (Seek(kSeekBegin, size - static_cast<std::int64_t>(tailLength)) < 0) {
        throw EZipArchiver(ZA_CODE(161));
    }
    if (ReadPlain(tail.data(), static_cast<std::int32_t>(tailLength)) !=
        static_cast<std::int32_t>(tailLength)) {
        throw EZipArchiver(ZA_CODE(158));
    }

    // Candidates from the end backwards. The nearest one is the natural
    // choice, but a comment may itself hold a whole archive: prefer the
    // nearest record whose comment ends exactly at the end of the file and
    // whose central directory ends where the record (or its Zip64 locator)
    // starts.
    const std::int64_t L = static_cast<std::int64_t>(tailLength);
    std::int64_t chosen = -1;
    std::int64_t nearest = -1;
    for (std::int64_t i = L - static_cast<std::int64_t>(eocd::kSize); i >= 0; --i) {
        const std::uint8_t* p = tail.data() + i;
        if (GetU32(p) != kEndRecordSig) {
            continue;
        }
        if (nearest < 0) {
            nearest = i;
        }
        const TZAEndRecord rec = TZAEndRecord::Decode(p);
        const bool endsAtEof = i + static_cast<std::int64_t>(eocd::kSize) + rec.commentLength == L;
        const std::int64_t recordOffset = size - (L - i);
        const bool sentinels = rec.centralOffset == kSentinel32 || rec.centralSize == kSentinel32;
        const bool fits =
            sentinels
                ? (i >= static_cast<std::int64_t>(zip64loc::kSize) &&
                   GetU32(p - zip64loc::kSize) == kZip64LocatorSig)
                : static_cast<std::int64_t>(rec.centralOffset) + rec.centralSize == recordOffset;
        if (endsAtEof && fits) {
            chosen = i;
            break;
        }
    }
    if (chosen < 0) {
        chosen = nearest;
    }
    if (chosen < 0) {
        throw EZipArchiver(ZA_CODE(127));
    }

    std::int32_t result = kFound;
    const TZAEndRecord rec = TZAEndRecord::Decode(tail.data() + chosen);
    EndRecordOffset = size - (L - chosen);
    const std::int64_t available = L - chosen - static_cast<std::int64_t>(eocd::kSize);
    const std::int64_t commentLength = std::min<std::int64_t>(rec.commentLength, available);
    ArchiveComment.assign(reinterpret_cast<const char*>(tail.data() + chosen + eocd::kSize),
                          static_cast<std::size_t>(commentLength));
    if (rec.commentLength != available) {
        // Comment cut by the end of the file, or bytes after the comment.
        if (rec.commentLength < available) {
            LogicalSize = size - (available - commentLength);
        }
        result |= kEocGarbage;
    }

    IsMultiPart = rec.thisDisk > 0;
    DiskNumber = rec.thisDisk;
    DiskCount = rec.thisDisk + 1;
    TotalEntries = rec.totalEntries;
    CentralEntriesOnDisk = rec.entriesOnDisk;
    CentralStartDisk = rec.centralStartDisk;
    CentralOffset = rec.centralOffset;
    CentralSize = rec.centralSize;
    if (rec.totalEntries == kSentinel16 || rec.centralOffset == kSentinel32 ||
        rec.entriesOnDisk == kSentinel16 || rec.centralSize == kSentinel32 ||
        rec.thisDisk == kSentinel16 || rec.centralStartDisk == kSentinel16) {
        result |= kSentinelSeen;
    }
    result &= kSentinelSeen | kEocGarbage | kEocPreamble;

    if (!noZip64) {
        if ((result & kSentinelSeen) != 0) {
            result = ReadZip64Records(result);
        } else {
            // No field needs the Zip64 record, but a writer may have added
            // one anyway: where it sits tells where the central directory
            // must end. A damaged one is of no consequence here.
            const std::int32_t diskNumber = DiskNumber;
            const std::int32_t diskCount = DiskCount;
            try {
                result = ReadZip64Records(result);
            } catch (const EZAException&) {
                HasZip64 = false;
                Zip64RecordOffset = -1;
                Zip64MadeBy = Zip64Needed = 0;
                Zip64RecordLength = 0;
                DiskNumber = diskNumber;
                DiskCount = diskCount;
            }
        }
    }
    // Data in front whose offsets were not adjusted shows as a directory that
    // ends later than its size and offset say. Only a directory that starts
    // on this part can be measured so: one that starts on an earlier part
    // ends here after the bytes it has on this part alone.
    const std::int64_t end = Zip64RecordOffset >= 0 ? Zip64RecordOffset : EndRecordOffset;
    PreambleSize = CentralStartDisk == DiskNumber ? end - CentralSize - CentralOffset : 0;
    if (PreambleSize != 0) {
        result |= kEocPreamble;
    }
    return result & (kEocGarbage | kEocPreamble);
}

std::int32_t TZAEOC::ReadZip64Records(std::int32_t result) {
    if (EndRecordOffset < static_cast<std::int64_t>(zip64loc::kSize)) {
        return result;
    }
    std::uint8_t buf[zip64end::kSize];
    if (Seek(kSeekBegin, EndRecordOffset - static_cast<std::int64_t>(zip64loc::kSize)) < 0) {
        throw EZipArchiver(ZA_CODE(161));
    }
    if (ReadPlain(buf, zip64loc::kSize) != static_cast<std::int32_t>(zip64loc::kSize)) {
        throw EZipArchiver(ZA_CODE(158));
    }
    const TZAZip64Locator loc = TZAZip64Locator::Decode(buf);
    // (Writers that put the sentinel in every field, disk number included,
    // still have one disk: the locator counts, not the end record.)
    if (loc.signature != kZip64LocatorSig) {
        return result;
    }
    HasZip64 = true;
    // Parts are numbered 0-999; a count outside that range is a lie. Some
    // writers leave the disk count of a single-part archive at 0.
    const std::uint32_t totalDisks = loc.totalDisks == 0 && loc.zip64Disk == 0 ? 1 : loc.totalDisks;
    if (totalDisks == 0 || totalDisks > 1000 ||
        static_cast<std::uint64_t>(loc.zip64Disk) + 1 != totalDisks) {
        throw EZipArchiver(ZA_CODE(158));
    }
    DiskCount = static_cast<std::int32_t>(totalDisks);
    DiskNumber = DiskCount - 1;
    IsMultiPart = DiskCount > 1;
    // The Zip64 record must lie before the locator.
    if (loc.zip64Offset > static_cast<std::uint64_t>(EndRecordOffset) - zip64loc::kSize) {
        throw EZipArchiver(ZA_CODE(158));
    }
    const auto recOffset = static_cast<std::int64_t>(loc.zip64Offset);
    if (Seek(kSeekBegin, recOffset) < 0) {
        throw EZipArchiver(ZA_CODE(161));
    }
    if (ReadPlain(buf, zip64end::kSize) != static_cast<std::int32_t>(zip64end::kSize)) {
        throw EZipArchiver(ZA_CODE(158));
    }
    TZAZip64EndRecord z = TZAZip64EndRecord::Decode(buf);
    Zip64RecordOffset = recOffset;
    // Data put in front of an archive without adjusting its offsets moves
    // the Zip64 record too: look for it directly before the locator.
    const std::int64_t adjacent = EndRecordOffset - static_cast<std::int64_t>(zip64loc::kSize) -
                                  static_cast<std::int64_t>(zip64end::kSize);
    if (z.signature != kZip64EndRecordSig && adjacent >= 0 && adjacent != recOffset &&
        ReadAt(adjacent, buf, zip64end::kSize) && GetU32(buf) == kZip64EndRecordSig) {
        z = TZAZip64EndRecord::Decode(buf);
        Zip64RecordOffset = adjacent;
    }
    if (z.signature != kZip64EndRecordSig) {
        return result;
    }
    Zip64Needed = z.versionNeeded;
    // The fixed fields mean the same in every version of the format so far
    // (up to 6.3); a later one may have changed them. A record size below the
    // fixed fields is a writer's slip: the fields are there all the same.
    if ((z.versionNeeded & 0xFF) > kVersionHighestKnown) {
        throw EZipArchiver(ZA_CODE(128));
    }
    Zip64MadeBy = z.versionMadeBy;
    const std::uint64_t recordSize = std::max(z.recordSize, zip64end::kMinRecordSize);
    Zip64RecordLength = recordSize > static_cast<std::uint64_t>(INT64_MAX - 12)
                            ? INT64_MAX
                            : static_cast<std::int64_t>(recordSize) + 12;
    // Values the 32-bit fields could not hold; counts beyond 31 bits and
    // offsets beyond the file's reach cannot be real.
    if (CentralStartDisk == kSentinel16) {
        if (z.centralStartDisk >= 1000) {
            throw EZipArchiver(ZA_CODE(158));
        }
        CentralStartDisk = static_cast<std::int32_t>(z.centralStartDisk);
    }
    if (TotalEntries == kSentinel16 || CentralEntriesOnDisk == kSentinel16) {
        if (z.totalEntries > INT32_MAX || z.entriesOnDisk > INT32_MAX) {
            throw EZipArchiver(ZA_CODE(158));
        }
        if (TotalEntries == kSentinel16) {
            TotalEntries = static_cast<std::int32_t>(z.totalEntries);
        }
        if (CentralEntriesOnDisk == kSentinel16) {
            CentralEntriesOnDisk = static_cast<std::int32_t>(z.entriesOnDisk);
        }
    }
    if (CentralSize == kSentinel32 || CentralOffset == kSentinel32) {
        if (z.centralSize > static_cast<std::uint64_t>(INT64_MAX / 2) ||
            z.centralOffset > static_cast<std::uint64_t>(INT64_MAX / 2)) {
            throw EZipArchiver(ZA_CODE(158));
        }
        if (CentralSize == kSentinel32) {
            CentralSize = static_cast<std::int64_t>(z.centralSize);
        }
        if (CentralOffset == kSentinel32) {
            CentralOffset = static_cast<std::int64_t>(z.centralOffset);
        }
    }
    return result;
}

// ---- the stub probe --------------------------------------------------------------------

std::int64_t TZAEOC::ExecutableImageEnd() {
    std::uint8_t dos[kDosHeaderSize];
    if (!ReadAt(0, dos, kDosHeaderSize) || GetU16(dos) != kExeSig) {
        return 0;
    }
    const std::int64_t pe = GetU32(dos + kPeOffsetField);
    std::uint8_t sig[4];
    std::uint8_t fileHeader[kPeFileHeaderSize];
    if (!ReadAt(pe, sig, 4) || std::memcmp(sig, "PE\0\0", 4) != 0 ||
        ReadPlain(fileHeader, kPeFileHeaderSize) != kPeFileHeaderSize ||
        GetU16(fileHeader) != kMachineI386) {
        return 0;
    }
    const int sections = GetU16(fileHeader + 2);
    std::int64_t pos = pe + 4 + kPeFileHeaderSize + kPeOptionalHeaderSize;
    std::int64_t end = 0;
    for (int s = 0; s < sections; ++s, pos += kSectionHeaderSize) {
        std::uint8_t sh[kSectionHeaderSize];
        if (!ReadAt(pos, sh, kSectionHeaderSize)) {
            return 0;
        }
        const std::int64_t rawSize = GetU32(sh + 16);
        const std::int64_t rawOffset = GetU32(sh + 20);
        end = std::max(end, rawOffset + rawSize);
    }
    return end;
}

TZAEOC::TZAStubProbe TZAEOC::ProbeStub() {
    TZAStubProbe probe;
    try {
        const std::int64_t p = ExecutableImageEnd();
        if (p <= 0) {
            return probe;
        }
        const std::string ext = ExtractFileExt(FileName());
        const std::string stem = ExtractFileName(FileName());
        std::string candidateName = stem.substr(0, stem.size() - ext.size());
        std::string candidateExt = "zip";
        probe.kind = -7;
        std::uint8_t rec[12];
        if (!ReadAt(p, rec, 8)) {
            return probe;
        }
        const std::uint32_t tag = GetU32(rec);
        const std::int64_t size = GetU16(rec + 4);
        if (tag == kStubTagAppended) {
            if (!ReadAt(p + size, rec, 8)) {
                return probe;
            }
            probe.stubLength = p + size;
            const std::uint32_t next = GetU32(rec);
            probe.kind = next == kCentralHeaderSig ? 2067 : next == kLocalHeaderSig ? 19 : -7;
        } else if (tag == kStubTagConfig) {
            if (!ReadAt(p + size, rec, 8) || GetU32(rec) != kStubTagConfigEnd) {
                return probe;
            }
            if (ReadPlain(rec, 12) != 12) {
                return probe;
            }
            const std::uint32_t next = GetU32(rec);
            const int nameLength = GetU16(rec + 4);
            const int extLength = GetU16(rec + 6);
            if (next == kLocalHeaderSig) {
                probe.kind = 17;
                probe.stubLength = p + size + 8;
            } else if (next == kStubTagDetachedName) {
                std::string name(static_cast<std::size_t>(nameLength), '\0');
                std::string extension(static_cast<std::size_t>(extLength), '\0');
                if ((nameLength > 0 && ReadPlain(name.data(), nameLength) != nameLength) ||
                    (extLength > 0 && ReadPlain(extension.data(), extLength) != extLength) ||
                    ReadPlain(rec, 12) != 12 || GetU32(rec) != kStubTagDetachedEnd) {
                    return probe;
                }
                // The stub only names a file beside itself: no folders, no NULs.
                if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
                    extension.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
                    return probe;
                }
                if (nameLength > 0) {
                    candidateName = name;
                }
                if (extLength > 0) {
                    candidateExt = extension;
                }
                std::uint8_t sig[4];
                if (ReadPlain(sig, 4) != 4 || GetU32(sig) != kCentralHeaderSig) {
                    return probe;
                }
                probe.kind = 2065;
                probe.stubLength = p + size + 8 + 12 + nameLength + extLength + 12;
            }
        } else {
            probe.kind = 1;
        }
        probe.archiveName = candidateName + "." + candidateExt;
    } catch (const EZAException&) {
        probe.kind = -10;
    }
    return probe;
}

// ---- opening an archive -------------------------------------------------------------

std::int32_t TZAEOC::OpenArchivePart(bool noZip64) {
    SetRequestedName(FileName());
    StubBytes.clear();
    std::int32_t r = FindEndRecord(noZip64);
    if (r < 0 && ZAMessageIdOf(r) == 164 && !Drive().IsFloppy()) {
        return r;
    }
    TZAStubProbe probe;
    if (r >= 0 && StartKind == kStartExecutable) {
        probe = ProbeStub();
        // A stub can only lie before the end record: a longer one is a lie.
        if (probe.kind > 16 && probe.stubLength > 0 && probe.stubLength <= EndRecordOffset &&
            Seek(kSeekBegin, 0) == 0) {
            StubBytes.resize(static_cast<std::size_t>(probe.stubLength));
            if (ReadPlain(StubBytes.data(), static_cast<std::int32_t>(probe.stubLength)) !=
                probe.stubLength) {
                StubBytes.clear();
            }
        }
    }
    if (!SpanOptions().contains(spExactName)) {
        if (r >= 0 && probe.kind >= 2048) {
            Close();
            SetFileName(ExtractFilePath(RequestedName()) + probe.archiveName);
            r = -ZA_CODE(123);
        }
        if (r < 0) {
            r = OpenMultiPart(noZip64, r);
        }
    }
    return r;
}

std::int32_t TZAEOC::OpenMultiPart(bool noZip64, std::int32_t previousError) {
    const bool missing = ZAMessageIdOf(previousError) == 123;
    std::int32_t result = -ZA_CODE(164);
    std::uint8_t scheme = kSchemeUnknown;
    NamingScheme = kSchemeUnknown;
    Drive().SetPath(FileName());
    Drive().Refresh(false);
    bool numberedSearch = false;
    int partsFound = 0;

    if (missing) {
        const std::string name = FileName();
        const std::string ext = ExtractFileExt(name);
        const std::string base = name.substr(0, name.size() - ext.size());
        if (SameTextAscii(ext, ".zip")) {
            numberedSearch = true;
            std::int64_t firstDate = -1;
            const bool anyTime = SpanOptions().contains(spAnyTime);
            for (int k = 1; k <= 999; ++k) {
                if (CheckCancel()) {
                    break;
                }
                char digits[8];
                std::snprintf(digits, sizeof digits, "%03d", k);
                const std::string part = base + digits + ext;
                Close();
                SetFileName(part);
                const std::int64_t date = FileExists(part) ? FileDate() : -1;
                if (date < 0 || (!anyTime && k > 1 && date != firstDate)) {
                    result = -ZA_CODE(123);
                    break;
                }
                if (k == 1 && !anyTime) {
                    firstDate = date;
                }
                partsFound = k;
                const std::int32_t r = FindEndRecord(noZip64);
                if (r >= 0) {
                    if (k != DiskCount) {
                        Close();
                        result = -ZA_CODE(164);
                    } else {
                        NamingScheme = kSchemeNumbered;
                        result = r;
                    }
                    break;
                }
            }
            if (!IsOpen()) {
                result = -ZA_CODE(123);
            } else if (FileExists(ChangeFileExt(RequestedName().empty() ? name : RequestedName(),
                                                ".z01"))) {
                // Numbered and compatible parts side by side: ambiguous.
                Close();
                result = -ZA_CODE(164);
            }
        }
    }

    if (!IsOpen() && !(missing && numberedSearch)) {
        const std::int32_t r = FindEndRecord(noZip64);
        if (r >= 0) {
            result = r;
        } else {
            // A damaged Zip64 end record (158) or one of a later version
            // (128) is the reason the user needs, not "no zip file".
            const int id = ZAMessageIdOf(r);
            result = (missing || id == 164 || id == 158 || id == 128) ? r : -ZA_CODE(127);
        }
    }

    if (result >= 0 && missing) {
        if (StartKind == kStartMultiPart || DiskCount != 1 || !numberedSearch) {
            if (DiskCount != partsFound) {
                Close();
                result = -ZA_CODE(127);
            }
        } else {
            Close();
            result = -ZA_CODE(164);
        }
    }

    if (result < 0) {
        Close();
        SetFileName({});
    } else if (NamingScheme != kSchemeVolumeLabels && scheme != kSchemeUnknown) {
        NamingScheme = scheme;
    }
    return result;
}

void TZAEOC::RecogniseNamingScheme() {
    if (NamingScheme != kSchemeUnknown || DiskCount <= 1) {
        return;
    }
    if (Drive().IsFloppy() && Drive().VolumeLabel() == VolumeLabelName(DiskNumber + 1)) {
        NamingScheme = kSchemeVolumeLabels;
        return;
    }
    NamingScheme = kSchemeCompatible;
    const std::string name = FileName();
    const std::string ext = ExtractFileExt(name);
    const std::string stem = ExtractFileName(name.substr(0, name.size() - ext.size()));
    if (stem.size() <= 3 || Drive().IsFloppy()) {
        return;
    }
    const std::string digits = stem.substr(stem.size() - 3);
    char want[8];
    std::snprintf(want, sizeof want, "%03d", (DiskNumber + 1) % 1000);
    if (digits != want) {
        return;
    }
    const std::string first = name.substr(0, name.size() - ext.size() - 3) + "001" + ext;
    TZAWorkFile probe(Host());
    probe.SetFileName(first);
    std::uint8_t head[8];
    if (probe.Open(kOpenRead) && probe.FileSize() > 34 && probe.Read(head, 8) == 8 &&
        GetU32(head) == kMultiPartMarker && GetU32(head + 4) == kLocalHeaderSig) {
        NamingScheme = kSchemeNumbered;
        SetReplaceDigits(true);
    }
}

// ---- writing the end records ---------------------------------------------------------------

std::int32_t TZAEOC::WriteEndRecords() {
    DiskCount = DiskNumber + 1;
    const std::string comment = ArchiveComment.substr(0, eocd::kMaxComment);
    TZAEndRecord rec;
    rec.thisDisk = static_cast<std::uint16_t>(DiskCount < 0x10000 ? DiskCount - 1 : kSentinel16);
    rec.centralStartDisk = static_cast<std::uint16_t>(
        CentralStartDisk >= 0 && CentralStartDisk < kSentinel16 ? CentralStartDisk : kSentinel16);
    auto small16 = [](std::int64_t v) {
        return static_cast<std::uint16_t>(v >= 0 && v < kSentinel16 ? v : kSentinel16);
    };
    auto small32 = [](std::int64_t v) {
        return static_cast<std::uint32_t>(v >= 0 && v < kSentinel32 ? v : kSentinel32);
    };
    rec.totalEntries = small16(TotalEntries);
    rec.entriesOnDisk = small16(CentralEntriesOnDisk);
    rec.centralSize = small32(CentralSize);
    rec.centralOffset = small32(CentralOffset);
    rec.commentLength = static_cast<std::uint16_t>(comment.size());
    bool zip64 = rec.thisDisk == kSentinel16 || rec.centralStartDisk == kSentinel16 ||
                 rec.totalEntries == kSentinel16 || rec.entriesOnDisk == kSentinel16 ||
                 rec.centralSize == kSentinel32 || rec.centralOffset == kSentinel32;
    const std::int32_t endLength = static_cast<std::int32_t>(eocd::kSize + comment.size());

    if (!zip64) {
        std::string buf(static_cast<std::size_t>(endLength), '\0');
        rec.Encode(reinterpret_cast<std::uint8_t*>(buf.data()));
        std::memcpy(buf.data() + eocd::kSize, comment.data(), comment.size());
        std::int32_t r = Write(buf.data(), RecordLength(endLength, true));
        if (r == kNewPartStarted) {
            if (DiskNumber < kSentinel16) {
                rec.thisDisk = static_cast<std::uint16_t>(DiskNumber);
                rec.Encode(reinterpret_cast<std::uint8_t*>(buf.data()));
                r = Write(buf.data(), RecordLength(endLength));
            } else {
                zip64 = true;
            }
        }
        if (!zip64) {
            if (r == endLength) {
                DiskCount = DiskNumber + 1;
                return r;
            }
            return r < 0 && r != kNewPartStarted ? r : -ZA_CODE(159);
        }
    }

    // Zip64: the Zip64 end record, its locator, the end record and the
    // comment go out as one record, so that all of them land on the last part
    // (a reader expects the Zip64 record on the part of the locator).
    HasZip64 = true;
    TZAZip64EndRecord z;
    TZAZip64Locator loc;
    auto fill = [&](std::int64_t offset) {
        z.thisDisk = static_cast<std::uint32_t>(DiskNumber);
        z.centralStartDisk = static_cast<std::uint32_t>(std::max(CentralStartDisk, 0));
        z.entriesOnDisk = static_cast<std::uint64_t>(std::max(CentralEntriesOnDisk, 0));
        z.totalEntries = static_cast<std::uint64_t>(std::max(TotalEntries, 0));
        z.centralSize = static_cast<std::uint64_t>(CentralSize);
        z.centralOffset = static_cast<std::uint64_t>(CentralOffset);
        loc.zip64Disk = static_cast<std::uint32_t>(DiskNumber);
        loc.zip64Offset = static_cast<std::uint64_t>(offset);
        loc.totalDisks = static_cast<std::uint32_t>(DiskNumber + 1);
        rec.thisDisk = small16(DiskNumber);
    };
    const std::size_t total = zip64end::kSize + zip64loc::kSize + eocd::kSize + comment.size();
    std::string buf(total, '\0');
    auto encode = [&] {
        auto* p = reinterpret_cast<std::uint8_t*>(buf.data());
        z.Encode(p);
        loc.Encode(p + zip64end::kSize);
        rec.Encode(p + zip64end::kSize + zip64loc::kSize);
        std::memcpy(p + zip64end::kSize + zip64loc::kSize + eocd::kSize, comment.data(),
                    comment.size());
    };
    // Where the record starts: on a part that is still to be opened that is 0.
    fill(IsOpen() ? Position() : 0);
    encode();
    const auto length = static_cast<std::int32_t>(total);
    std::int32_t r = Write(buf.data(), RecordLength(length, true));
    if (r == kNewPartStarted) {
        fill(0);
        encode();
        r = Write(buf.data(), RecordLength(length));
    }
    if (r != length) {
        return r < 0 && r != kNewPartStarted ? r : -ZA_CODE(159);
    }
    DiskCount = DiskNumber + 1;
    return endLength;
}

void TZAEOC::AssignFrom(const TZAWorkFile& other) {
    TZAWorkZip::AssignFrom(other);
    const auto* o = dynamic_cast<const TZAEOC*>(&other);
    if (o == nullptr || o == this) {
        return;
    }
    ArchiveComment = o->ArchiveComment;
    IsMultiPart = o->IsMultiPart;
    CentralStartDisk = o->CentralStartDisk;
    CentralEntriesOnDisk = o->CentralEntriesOnDisk;
    TotalEntries = o->TotalEntries;
    CentralOffset = o->CentralOffset;
    CentralSize = o->CentralSize;
    EndRecordOffset = o->EndRecordOffset;
    PreambleSize = o->PreambleSize;
    Zip64MadeBy = o->Zip64MadeBy;
    Zip64Needed = o->Zip64Needed;
    HasZip64 = o->HasZip64;
    Zip64RecordLength = o->Zip64RecordLength;
    Zip64RecordOffset = o->Zip64RecordOffset;
    StubBytes = o->StubBytes;
}
