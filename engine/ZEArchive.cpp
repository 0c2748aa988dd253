#include "ZEArchive.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "ZEJob.h"
#include "ZEUtil.h"
#include "platform/CodePage.h"
#include "platform/DosTime.h"
#include "platform/EntryName.h"

namespace ze {

namespace {
constexpr uint32_t kSigLocal = 0x04034B50, kSigCentral = 0x02014B50, kSigEnd = 0x06054B50,
                   kSigEnd64 = 0x06064B50, kSigLoc64 = 0x07064B50, kSigDesc = 0x08074B50;
}

bool findExtra(const std::string& extra, uint16_t tag, const uint8_t*& data, size_t& len) {
    auto* p = reinterpret_cast<const uint8_t*>(extra.data());
    size_t n = extra.size(), i = 0;
    while (i + 4 <= n) {
        uint16_t t = rd16(p + i), l = rd16(p + i + 2);
        if (i + 4 + l > n)
            return false;
        if (t == tag) {
            data = p + i + 4;
            len = l;
            return true;
        }
        i += 4 + size_t(l);
    }
    return false;
}

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
    return (host == 0 || host == 11 || host == 14 || host == 6) && (extAttr & 0x10);
}

bool Entry::isSymlink() const {
    unsigned m = unixMode();
    return m && (m & 0170000) == 0120000;
}

time_t Entry::mtime() const {
    const uint8_t* d;
    size_t l;
    if (findExtra(extra, 0x5455, d, l) && l >= 5 && (d[0] & 1))
        return time_t(int32_t(rd32(d + 1)));
    // A stamp no calendar has gives the start of the DOS range, not a guessed date.
    return platform::DosToTime(dosTime).value_or(*platform::DosToTime(platform::kDosDateTimeMin));
}

bool Entry::aesInfo(int& strength, uint16_t& realMethod, int& vendorVersion) const {
    const uint8_t* d;
    size_t l;
    if (method != 99 || !findExtra(extra, 0x9901, d, l) || l < 7)
        return false;
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
        return s == kSigLocal || s == kSigCentral || s == kSigEnd || s == kSigDesc ||
               s == kSigEnd64;
    };
    const uint8_t* z;
    size_t zl;
    bool z64 = e.csize >= 0xFFFFFFFF || e.usize >= 0xFFFFFFFF ||
               (localExtraLen && findExtra(e.extra, 0x0001, z, zl));
    uint64_t best = 0;
    for (int withSig = 1; withSig >= 0; --withSig) {
        uint64_t crcAt = end + (withSig ? 4 : 0);
        if (crcAt + 4 > size_)
            continue;
        if (withSig && rd32(map_ + end) != kSigDesc)
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

// The first header of a directory that ends at `end`, searched backwards: a central header
// belongs to it when the header after it does, or when it ends exactly at `end`.
// UINT64_MAX when there is none.
uint64_t Archive::searchCentralStart(uint64_t end) const {
    std::vector<uint64_t> chain;  // the headers found, descending
    uint64_t start = UINT64_MAX;
    for (uint64_t at = end >= 46 ? end - 46 + 1 : 0; at-- > 0;) {
        if (map_[at] != 'P' || rd32(map_ + at) != kSigCentral)
            continue;
        const uint8_t* h = map_ + at;
        const uint64_t next = at + 46 + rd16(h + 28) + rd16(h + 30) + rd16(h + 32);
        if (next == end || std::binary_search(chain.rbegin(), chain.rend(), next)) {
            chain.push_back(at);
            start = at;
        }
    }
    return start;
}

int Archive::parse() {
    if (size_ < 22) {
        problem_ = "not a zip file";
        return ZE_ERR_INVALID_ZIP;
    }
    // Candidate end records, searched backwards within the largest possible comment.
    uint64_t lowest = size_ > 22 + 65535 ? size_ - 22 - 65535 : 0;
    std::vector<uint64_t> cands;
    for (uint64_t p = size_ - 22 + 1; p-- > lowest;) {
        if (map_[p] == 'P' && rd32(map_ + p) == kSigEnd)
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
        const uint8_t* p = map_ + e;
        uint32_t thisDisk = rd16(p + 4), cdDisk = rd16(p + 6);
        r.count = rd16(p + 10);
        r.cdSize = rd32(p + 12);
        r.cdOffset = rd32(p + 16);
        r.endOfCd = e;
        if (e >= 20 && rd32(map_ + e - 20) == kSigLoc64) {
            const uint8_t* l = map_ + e - 20;
            uint64_t z = rd64(l + 8);
            uint64_t expect = e >= 20 + 56 ? e - 20 - 56 : UINT64_MAX;
            uint64_t at = UINT64_MAX;
            if (z <= e - 20 && e - 20 - z >= 56 && rd32(map_ + z) == kSigEnd64)
                at = z;
            else if (expect != UINT64_MAX && rd32(map_ + expect) == kSigEnd64)
                at = expect;
            if (at == UINT64_MAX) {
                // A locator whose target is no Zip64 end record is not one (the bytes can
                // be part of a name or comment): read the archive from the classic record,
                // unless that record says its values are in the Zip64 one.
                bool sentinel = thisDisk == 0xFFFF || cdDisk == 0xFFFF || r.count == 0xFFFF ||
                                r.cdSize == 0xFFFFFFFF || r.cdOffset == 0xFFFFFFFF;
                if (sentinel)
                    r.error = ZE_ERR_INVALID_ZIP;
                r.multi = thisDisk != 0 || cdDisk != 0;
                return r;
            }
            // Its fields are read whatever size it claims (they lie before the locator).
            const uint8_t* z64 = map_ + at;
            thisDisk = rd32(z64 + 16);
            cdDisk = rd32(z64 + 20);
            r.count = rd64(z64 + 32);
            r.cdSize = rd64(z64 + 40);
            r.cdOffset = rd64(z64 + 48);
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
        bool atEof = e + 22 + rd16(map_ + e + 20) == size_;
        bool inPlace =
            !r.error && r.cdOffset <= r.endOfCd && r.cdSize <= r.endOfCd - r.cdOffset &&
            (r.cdSize == 0 ? r.cdOffset == r.endOfCd : rd32(map_ + r.cdOffset) == kSigCentral);
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
        uint64_t clen = std::min<uint64_t>(rd16(map_ + e + 20), size_ - e - 22);
        comment_.assign(reinterpret_cast<const char*>(map_ + e + 22), clen);
    }
    // Locate the central directory as the component does: at its offset when a header is
    // there (a size running into the end records ends at them), else where its size puts
    // it before the end records, else at the first header of the chain that ends there.
    uint64_t cdStart = chosen.cdOffset;
    uint64_t cdEnd = 0;
    auto headerAt = [&](uint64_t p) {
        return p <= chosen.endOfCd && chosen.endOfCd - p >= 4 && rd32(map_ + p) == kSigCentral;
    };
    if (chosen.cdSize == 0 ? cdStart <= chosen.endOfCd : headerAt(cdStart)) {
        cdEnd = cdStart + std::min(chosen.cdSize, chosen.endOfCd - cdStart);
    } else {
        const uint64_t fromSize = chosen.endOfCd - chosen.cdSize;
        cdStart = chosen.cdSize >= 46 && headerAt(fromSize) ? fromSize
                                                            : searchCentralStart(chosen.endOfCd);
        if (cdStart == UINT64_MAX) {
            problem_ = "central directory not found";
            return ZE_ERR_NO_CENTRAL;
        }
        cdEnd = chosen.endOfCd;
    }
    entries_.reserve(size_t(std::min<uint64_t>(chosen.cdSize / 46, 1u << 20)));
    // Headers are read while the announced ones follow (up to the end records), and on
    // while they lie inside the directory's bytes; anything else ends the directory.
    uint64_t pos = cdStart;
    for (;;) {
        const uint64_t limit = entries_.size() < chosen.count ? chosen.endOfCd : cdEnd;
        if (pos > limit || limit - pos < 46 || rd32(map_ + pos) != kSigCentral)
            break;
        const uint8_t* h = map_ + pos;
        Entry e;
        e.madeBy = rd16(h + 4);
        e.needed = rd16(h + 6);
        e.flags = rd16(h + 8);
        e.method = rd16(h + 10);
        e.dosTime = rd32(h + 12);
        e.crc = rd32(h + 16);
        e.csize = rd32(h + 20);
        e.usize = rd32(h + 24);
        uint32_t nl = rd16(h + 28), xl = rd16(h + 30), cl = rd16(h + 32);
        e.disk = rd16(h + 34);
        e.intAttr = rd16(h + 36);
        e.extAttr = rd32(h + 38);
        e.lho = rd32(h + 42);
        if (pos + 46 + nl + xl + cl > chosen.endOfCd) {
            problem_ = "central header runs past the central directory";
            return ZE_ERR_INVALID_ZIP;
        }
        e.name.assign(reinterpret_cast<const char*>(h + 46), nl);
        e.extra.assign(reinterpret_cast<const char*>(h + 46 + nl), xl);
        e.comment.assign(reinterpret_cast<const char*>(h + 46 + nl + xl), cl);
        const uint8_t* z;
        size_t zl;
        if (findExtra(e.extra, 0x0001, z, zl)) {
            size_t k = 0;
            auto take = [&](uint64_t& v) {
                if (k + 8 <= zl) {
                    v = rd64(z + k);
                    k += 8;
                    return true;
                }
                return false;
            };
            bool ok = true;
            if (e.usize == 0xFFFFFFFF)
                ok = take(e.usize) && ok;
            if (e.csize == 0xFFFFFFFF)
                ok = take(e.csize) && ok;
            if (e.lho == 0xFFFFFFFF)
                ok = take(e.lho) && ok;
            if (e.disk == 0xFFFF && k + 4 <= zl)
                e.disk = rd32(z + k);
            if (!ok) {
                problem_ = "bad Zip64 extra field";
                return ZE_ERR_INVALID_ZIP;
            }
        }
        if (e.disk != 0) {
            problem_ = "multi-part archive";
            return ZE_ERR_MULTIPART;
        }
        entries_.push_back(std::move(e));
        pos += 46 + nl + xl + cl;
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
            return p < size_ && size_ - p >= 4 && rd32(map_ + p) == kSigLocal;
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
        if (e.lho >= size_ || size_ - e.lho < 30 || rd32(map_ + e.lho) != kSigLocal) {
            e.localError = ZE_ERR_INVALID_ZIP;
            continue;
        }
        const uint8_t* l = map_ + e.lho;
        e.localFlags = rd16(l + 6);
        uint32_t nl = rd16(l + 26), xl = rd16(l + 28);
        if (e.lho + 30 + nl + xl > size_) {
            e.localError = ZE_ERR_PREMATURE_EOF;
            continue;
        }
        e.nameMismatch = nl != e.name.size() || memcmp(l + 30, e.name.data(), nl) != 0;
        e.dataStart = e.lho + 30 + nl + xl;
        if (e.csize > size_ - e.dataStart) {
            e.localError = ZE_ERR_PREMATURE_EOF;
            continue;
        }
        uint64_t end = e.dataStart + e.csize;
        if (e.flags & 8)
            end += descriptorLength(e, end, xl);
        e.rangeEnd = end;
        ranges.push_back({e.lho, end});
    }
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
    const uint8_t* d;
    size_t l;
    if ((encoding == ZE_ENC_UPATH || (encoding == ZE_ENC_AUTO && !flagged)) &&
        findExtra(e.extra, ENTRY_NAME_TAG_UNICODE_PATH, d, l)) {
        if (auto u = platform::EntryUnicodeText(
                std::string_view(reinterpret_cast<const char*>(d), l), e.name))
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
