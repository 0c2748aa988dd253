#include "ZEArchive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "ZEJob.h"
#include "ZEUtil.h"
#include "platform/CentralSearch.h"
#include "platform/CodePage.h"
#include "platform/DosTime.h"
#include "platform/EntryName.h"
#include "platform/ZipRecords.h"

namespace ze {

namespace {
// The record layouts are the platform's (platform/ZipRecords.h), shared with the component.
using zrec::kCentralHeaderSig, zrec::kDataDescriptorSig, zrec::kEndRecordSig, zrec::kLocalHeaderSig,
    zrec::kZip64EndRecordSig, zrec::kZip64LocatorSig, zrec::kSentinel16, zrec::kSentinel32;
namespace central = zrec::central;
namespace eocd = zrec::eocd;
namespace local = zrec::local;
namespace zip64end = zrec::zip64end;
namespace zip64loc = zrec::zip64loc;
}  // namespace

unsigned Entry::unixMode() const {
    int host = madeBy >> 8;
    if (host == 3 || host == 19)
        return extAttr >> 16;  // Unix, OS X
    return 0;
}

bool Entry::isDir() const {
    if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        return true;
    unsigned m = unixMode();
    if (m && (m & 0170000) == 0040000)
        return true;
    int host = madeBy >> 8;
    return (host == zrec::kHostFat || host == zrec::kHostNtfs || host == zrec::kHostVfat ||
            host == zrec::kHostHpfs) &&
           (extAttr & 0x10);
}

bool Entry::isSymlink() const {
    unsigned m = unixMode();
    return m && (m & 0170000) == 0120000;
}

time_t Entry::mtime() const {
    if (const auto t = zrec::ParseExtTime(zrec::ExtraData(extra, zrec::kTagExtTime));
        t && t->modified)
        return time_t(*t->modified);
    // A stamp no calendar has gives the start of the DOS range, not a guessed date.
    return platform::DosToTime(dosTime).value_or(*platform::DosToTime(platform::kDosDateTimeMin));
}

bool Entry::aesInfo(int& strength, uint16_t& realMethod, int& vendorVersion) const {
    const std::string_view aes = zrec::ExtraData(extra, zrec::kTagAes);
    if (method != 99 || aes.size() < 7)
        return false;
    const uint8_t* d = zrec::Bytes(aes);
    vendorVersion = rd16(d);
    strength = d[4];
    realMethod = rd16(d + 5);
    return d[2] == 'A' && d[3] == 'E' && strength >= 1 && strength <= 3;
}

Archive::~Archive() {
    if (mapped_ && map_)
        munmap(const_cast<uint8_t*>(map_), size_);
    if (fd_ >= 0)
        close(fd_);
}

int Archive::open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return errno == ENOENT ? ZE_ERR_NOT_FOUND : ZE_ERR_OPEN_ZIP;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return ZE_ERR_OPEN_ZIP;
    size_ = uint64_t(st.st_size);
    if (size_ > 0) {
        void* m = mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd_, 0);
        if (m == MAP_FAILED)
            return ZE_ERR_OPEN_ZIP;
        madvise(m, size_, MADV_SEQUENTIAL);
        map_ = static_cast<const uint8_t*>(m);
        mapped_ = true;
    }
    return parse();
}

int Archive::openMemory(const uint8_t* data, uint64_t size) {
    map_ = data;
    size_ = size;
    return parse();
}

// Length of the data descriptor after an entry's data, 0 when there is none. The forms with
// and without signature and with 4- or 8-byte sizes are told apart by the CRC they must
// carry and by the record that follows.
uint64_t Archive::descriptorLength(const Entry& e, uint64_t end, uint32_t localExtraLen) const {
    auto sigAt = [&](uint64_t p) {
        if (p + 4 > size_)
            return p == size_;
        uint32_t s = rd32(map_ + p);
        return s == kLocalHeaderSig || s == kCentralHeaderSig || s == kEndRecordSig ||
               s == kDataDescriptorSig || s == kZip64EndRecordSig;
    };
    bool z64 = e.csize >= kSentinel32 || e.usize >= kSentinel32 ||
               (localExtraLen && zrec::FindExtra(e.extra, zrec::kTagZip64));
    uint64_t best = 0;
    for (int withSig = 1; withSig >= 0; --withSig) {
        uint64_t crcAt = end + (withSig ? 4 : 0);
        if (crcAt + 4 > size_)
            continue;
        if (withSig && rd32(map_ + end) != kDataDescriptorSig)
            continue;
        if (rd32(map_ + crcAt) != e.crc && !(withSig && e.crc == 0))
            continue;
        for (uint64_t len : {z64 ? 20u : 12u, z64 ? 12u : 20u}) {
            uint64_t total = len + (withSig ? 4 : 0);
            if (end + total > size_)
                continue;
            if (sigAt(end + total))
                return total;
            if (!best)
                best = total;
        }
    }
    return best;
}

int Archive::parse() {
    if (size_ < eocd::kSize) {
        problem_ = "not a zip file";
        return ZE_ERR_INVALID_ZIP;
    }
    // Candidate end records, searched backwards within the largest possible comment.
    uint64_t lowest = size_ > eocd::kMaxSearch ? size_ - eocd::kMaxSearch : 0;
    std::vector<uint64_t> cands;
    for (uint64_t p = size_ - eocd::kSize + 1; p-- > lowest;) {
        if (map_[p] == 'P' && rd32(map_ + p) == kEndRecordSig)
            cands.push_back(p);
        if (cands.size() >= 16)
            break;
    }
    if (cands.empty()) {
        problem_ = "no end of central directory";
        return ZE_ERR_NO_CENTRAL;
    }
    struct End {
        uint64_t pos = 0, endOfCd = 0, cdOffset = 0, cdSize = 0, count = 0;
        bool zip64 = false, multi = false;
        int error = 0;
    };
    auto readEnd = [&](uint64_t e) {
        End r;
        r.pos = e;
        const auto end = zrec::TZAEndRecord::Decode(map_ + e);
        uint32_t thisDisk = end.thisDisk, cdDisk = end.centralStartDisk;
        r.count = end.totalEntries;
        r.cdSize = end.centralSize;
        r.cdOffset = end.centralOffset;
        r.endOfCd = e;
        constexpr uint64_t locSize = zip64loc::kSize, z64Size = zip64end::kSize;
        if (e >= locSize && rd32(map_ + e - locSize) == kZip64LocatorSig) {
            uint64_t z = zrec::TZAZip64Locator::Decode(map_ + e - locSize).zip64Offset;
            uint64_t expect = e >= locSize + z64Size ? e - locSize - z64Size : UINT64_MAX;
            uint64_t at = UINT64_MAX;
            if (z <= e - locSize && e - locSize - z >= z64Size &&
                rd32(map_ + z) == kZip64EndRecordSig)
                at = z;
            else if (expect != UINT64_MAX && rd32(map_ + expect) == kZip64EndRecordSig)
                at = expect;
            if (at == UINT64_MAX) {
                // A locator whose target is no Zip64 end record is not one (the bytes can
                // be part of a name or comment): read the archive from the classic record,
                // unless that record says its values are in the Zip64 one.
                bool sentinel = thisDisk == kSentinel16 || cdDisk == kSentinel16 ||
                                r.count == kSentinel16 || r.cdSize == kSentinel32 ||
                                r.cdOffset == kSentinel32;
                if (sentinel)
                    r.error = ZE_ERR_INVALID_ZIP;
                r.multi = thisDisk != 0 || cdDisk != 0;
                return r;
            }
            // Its fields are read whatever size it claims (they lie before the locator).
            const auto z64 = zrec::TZAZip64EndRecord::Decode(map_ + at);
            thisDisk = z64.thisDisk;
            cdDisk = z64.centralStartDisk;
            r.count = z64.totalEntries;
            r.cdSize = z64.centralSize;
            r.cdOffset = z64.centralOffset;
            r.endOfCd = at;
            r.zip64 = true;
        }
        r.multi = thisDisk != 0 || cdDisk != 0;
        if (r.cdSize > r.endOfCd)
            r.error = ZE_ERR_INVALID_ZIP;
        return r;
    };
    // Prefer the record whose comment ends at the end of the file and whose central
    // directory is where it says; then one that ends at the file end; then the last one.
    End chosen;
    int best = -1;
    for (uint64_t e : cands) {
        End r = readEnd(e);
        bool atEof = e + eocd::kSize + rd16(map_ + e + eocd::kCommentLength) == size_;
        bool inPlace = !r.error && r.cdOffset <= r.endOfCd && r.cdSize <= r.endOfCd - r.cdOffset &&
                       (r.cdSize == 0 ? r.cdOffset == r.endOfCd
                                      : rd32(map_ + r.cdOffset) == kCentralHeaderSig);
        int score = (atEof ? 2 : 0) + (inPlace ? 1 : 0);
        if (score > best) {
            best = score;
            chosen = r;
        }
        if (score == 3)
            break;
    }
    if (chosen.error || chosen.cdSize > chosen.endOfCd) {
        problem_ = "bad end records";
        return chosen.error;
    }
    if (chosen.multi) {
        problem_ = "multi-part archive";
        return ZE_ERR_MULTIPART;
    }
    {
        uint64_t e = chosen.pos;
        uint64_t clen =
            std::min<uint64_t>(rd16(map_ + e + eocd::kCommentLength), size_ - e - eocd::kSize);
        comment_.assign(reinterpret_cast<const char*>(map_ + e + eocd::kSize), clen);
    }
    // Locate the central directory as the component does: at its offset when a header is
    // there (a size running into the end records ends at them), else where its size puts
    // it before the end records, else at the first header of the chain that ends there.
    uint64_t cdStart = chosen.cdOffset;
    uint64_t cdEnd = 0;
    auto headerAt = [&](uint64_t p) {
        return p <= chosen.endOfCd && chosen.endOfCd - p >= 4 &&
               rd32(map_ + p) == kCentralHeaderSig;
    };
    if (chosen.cdSize == 0 ? cdStart <= chosen.endOfCd : headerAt(cdStart)) {
        cdEnd = cdStart + std::min(chosen.cdSize, chosen.endOfCd - cdStart);
    } else {
        const uint64_t fromSize = chosen.endOfCd - chosen.cdSize;
        cdStart = chosen.cdSize >= central::kSize && headerAt(fromSize)
                      ? fromSize
                      : zrec::FindCentralStart(std::span(map_, size_t(size_)), chosen.endOfCd)
                            .value_or(UINT64_MAX);
        if (cdStart == UINT64_MAX) {
            problem_ = "central directory not found";
            return ZE_ERR_NO_CENTRAL;
        }
        cdEnd = chosen.endOfCd;
    }
    entries_.reserve(size_t(std::min<uint64_t>(chosen.cdSize / central::kSize, 1u << 20)));
    // Headers are read while the announced ones follow (up to the end records), and on
    // while they lie inside the directory's bytes; anything else ends the directory.
    uint64_t pos = cdStart;
    for (;;) {
        const uint64_t limit = entries_.size() < chosen.count ? chosen.endOfCd : cdEnd;
        if (pos > limit || limit - pos < central::kSize || rd32(map_ + pos) != kCentralHeaderSig)
            break;
        const uint8_t* h = map_ + pos;
        Entry e;
        const auto c = zrec::TZACentralHeader::Decode(h);
        e.madeBy = c.versionMadeBy;
        e.needed = c.versionNeeded;
        e.flags = c.flags;
        e.method = c.method;
        e.dosTime = c.dosDateTime;
        e.crc = c.crc32;
        e.csize = c.compressedSize;
        e.usize = c.uncompressedSize;
        uint32_t nl = c.nameLength, xl = c.extraLength, cl = c.commentLength;
        e.disk = c.diskStart;
        e.intAttr = c.internalAttributes;
        e.extAttr = c.externalAttributes;
        e.lho = c.localHeaderOffset;
        constexpr uint64_t fixed = central::kSize;
        if (pos + fixed + nl + xl + cl > chosen.endOfCd) {
            problem_ = "central header runs past the central directory";
            return ZE_ERR_INVALID_ZIP;
        }
        e.name.assign(reinterpret_cast<const char*>(h + fixed), nl);
        e.extra.assign(reinterpret_cast<const char*>(h + fixed + nl), xl);
        e.comment.assign(reinterpret_cast<const char*>(h + fixed + nl + xl), cl);
        // The Zip64 record holds the values whose header field is the sentinel, in the
        // record's fixed order; one that lacks a wanted value makes the directory unusable.
        if (const auto z64 = zrec::FindExtra(e.extra, zrec::kTagZip64)) {
            zrec::TZAZip64Values v;
            if (!zrec::ParseZip64Data(z64->data, e.usize == kSentinel32, e.csize == kSentinel32,
                                      e.lho == kSentinel32, e.disk == kSentinel16, v)) {
                problem_ = "bad Zip64 extra field";
                return ZE_ERR_INVALID_ZIP;
            }
            e.usize = v.uncompressedSize.value_or(e.usize);
            e.csize = v.compressedSize.value_or(e.csize);
            e.lho = v.localHeaderOffset.value_or(e.lho);
            e.disk = v.diskStart.value_or(e.disk);
        }
        if (e.disk != 0) {
            problem_ = "multi-part archive";
            return ZE_ERR_MULTIPART;
        }
        entries_.push_back(std::move(e));
        pos += fixed + nl + xl + cl;
    }
    if (entries_.empty() && chosen.count > 0) {
        problem_ = "central header signature wrong";
        return ZE_ERR_INVALID_ZIP;
    }
    // Found later than its offset says, data was put in front whose offsets were not
    // adjusted: the local headers lie that much later too, unless the first one is where
    // its offset says (junk before the directory only, or an offset that is merely wrong).
    if (cdStart > chosen.cdOffset && !entries_.empty()) {
        const uint64_t delta = cdStart - chosen.cdOffset;
        auto localAt = [&](uint64_t p) {
            return p < size_ && size_ - p >= 4 && rd32(map_ + p) == kLocalHeaderSig;
        };
        const uint64_t first = entries_.front().lho;
        if (!(localAt(first) && !localAt(first + delta)))
            for (Entry& e : entries_)
                e.lho += delta;
    }
    // Local headers and data ranges.
    struct Range {
        uint64_t a, b;
    };
    std::vector<Range> ranges;
    ranges.reserve(entries_.size());
    for (Entry& e : entries_) {
        if (e.lho >= size_ || size_ - e.lho < local::kSize ||
            rd32(map_ + e.lho) != kLocalHeaderSig) {
            e.localError = ZE_ERR_INVALID_ZIP;
            continue;
        }
        const uint8_t* l = map_ + e.lho;
        const auto lh = zrec::TZALocalHeader::Decode(l);
        e.localFlags = lh.flags;
        uint32_t nl = lh.nameLength, xl = lh.extraLength;
        constexpr uint64_t fixed = local::kSize;
        if (e.lho + fixed + nl + xl > size_) {
            e.localError = ZE_ERR_PREMATURE_EOF;
            continue;
        }
        e.nameMismatch = nl != e.name.size() || memcmp(l + fixed, e.name.data(), nl) != 0;
        e.dataStart = e.lho + fixed + nl + xl;
        if (e.csize > size_ - e.dataStart) {
            e.localError = ZE_ERR_PREMATURE_EOF;
            continue;
        }
        uint64_t end = e.dataStart + e.csize;
        if (e.flags & 8)
            end += descriptorLength(e, end, xl);
        e.rangeEnd = end;
        ranges.push_back({e.lho, end});
        dropPagesBelow(e.lho);  // every local header was read: the whole file would stay
    }
    dropPages(0, std::min(cdStart, size_) & ~(kPage - 1));
    dropped_ = 0;
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& x, const Range& y) { return x.a < y.a; });
    for (size_t i = 0; i < ranges.size(); ++i) {
        if ((i > 0 && ranges[i].a < ranges[i - 1].b) || ranges[i].b > cdStart) {
            problem_ = "entries overlap each other or the central directory";
            return ZE_ERR_INVALID_STRUCTURE;
        }
    }
    // An empty central directory may name offset 0 behind a prefix; it really starts where
    // the end records say it ends.
    start_ = chosen.cdSize == 0 ? chosen.endOfCd : cdStart;
    if (!ranges.empty())
        start_ = std::min(start_, ranges.front().a);
    return 0;
}

std::string Archive::decodeName(const Entry& e, int encoding, int codePage) {
    // The same reading as the component's listing (platform/EntryName.h), so
    // that the name a user sees is the name that selects and is written.
    // Flag bit 11 comes before a Unicode path record, as in the component.
    const bool flagged = encoding == ZE_ENC_AUTO && (e.flags & ENTRY_NAME_FLAG_UTF8);
    std::string name;
    if (encoding == ZE_ENC_UPATH || (encoding == ZE_ENC_AUTO && !flagged)) {
        if (auto u = platform::EntryUnicodeText(
                zrec::ExtraData(e.extra, ENTRY_NAME_TAG_UNICODE_PATH), e.name))
            name = *u;
    }
    if (name.empty()) {
        const unsigned cp =
            encoding == ZE_ENC_UTF8   ? platform::kCodePageUtf8
            : encoding == ZE_ENC_NONE ? unsigned(codePage)
            : encoding == ZE_ENC_OEM || encoding == ZE_ENC_UPATH
                ? platform::kCodePageOem
                : platform::EntryTextCodePage(e.flags, e.madeBy, e.name, unsigned(codePage));
        name = platform::ConvertCodePage(e.name, cp, platform::kCodePageUtf8);
    }
    // Names read from archives take "\" as a separator too.
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace ze
