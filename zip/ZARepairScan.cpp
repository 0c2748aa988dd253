#include "zip/ZARepairScan.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "platform/ZipRecords.h"

using namespace zrec;

// ---- sources ------------------------------------------------------------------------------

std::int64_t TZAMemorySource::ReadAt(std::int64_t offset, void* buffer, std::int64_t length) {
    if (offset < 0 || length <= 0 || offset >= Size()) {
        return 0;
    }
    const std::int64_t n = std::min(length, Size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(n));
    return n;
}

TZAPartsSource::~TZAPartsSource() {
    for (const Part& p : parts_) {
        ::close(p.fd);
    }
}

bool TZAPartsSource::AddPart(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0) {
        ::close(fd);
        return false;
    }
    parts_.push_back({fd, size_, static_cast<std::int64_t>(size)});
    size_ += size;
    return true;
}

std::int64_t TZAPartsSource::ReadAt(std::int64_t offset, void* buffer, std::int64_t length) {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    for (const Part& p : parts_) {
        const std::int64_t at = offset + done;
        if (done >= length || at < 0) {
            break;
        }
        if (at >= p.start + p.size) {
            continue;
        }
        const std::int64_t want = std::min(length - done, p.start + p.size - at);
        std::int64_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(p.fd, out + done + got, static_cast<std::size_t>(want - got),
                                      static_cast<off_t>(at - p.start + got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return done + got;
            }
            got += n;
        }
        done += got;
    }
    return done;
}

// ---- the scan -----------------------------------------------------------------------------

namespace {

constexpr std::int64_t kChunk = 65536;

class Scanner {
public:
    Scanner(TZARepairSource& source, const std::function<bool()>& cancelled)
        : src_(source), cancelled_(cancelled), size_(source.Size()) {}

    TZARepairScan Run();

private:
    bool Cancelled() { return cancelled_ && cancelled_(); }
    // The next position at or after `from` where `sig` starts, or -1.
    std::int64_t Find(std::int64_t from, std::uint32_t sig);
    bool Read(std::int64_t at, void* buffer, std::int64_t length) {
        return at >= 0 && src_.ReadAt(at, buffer, length) == length;
    }
    // CRC-32 of [from, from + length); false when the bytes are not all there.
    bool CrcOf(std::int64_t from, std::uint64_t length, std::uint32_t& crc);
    struct Inflated {
        bool whole = false;  // the deflate stream ended
        std::uint64_t consumed = 0;
        std::uint64_t produced = 0;
        std::uint32_t crc = 0;
    };
    // Inflates raw deflate data from `from`, reading at most `limit` bytes.
    Inflated Inflate(std::int64_t from, std::int64_t limit);
    // The end of the data descriptor that follows `entry`'s data of
    // `consumed` bytes when it matches the sizes and CRC, else -1.
    std::int64_t DescriptorAfter(TZARepairEntry& entry, std::uint64_t consumed, bool crcKnown);
    // Searches for the data descriptor of an entry whose data cannot be
    // decoded here; on success fills the entry and returns the end of the
    // descriptor, else -1.
    std::int64_t SearchDescriptor(TZARepairEntry& entry);
    // Takes the attributes and comments of the central headers that survived
    // for the entries they describe.
    void TakeCentralDetails(std::vector<TZARepairEntry>& entries);
    // Whether the descriptor candidate with these values closes the data.
    bool Accept(TZARepairEntry& entry, std::uint32_t crc, std::uint64_t csize, std::uint64_t usize);

    TZARepairSource& src_;
    const std::function<bool()>& cancelled_;
    std::int64_t size_;
    std::vector<std::uint8_t> buf_;
};

std::int64_t Scanner::Find(std::int64_t from, std::uint32_t sig) {
    std::uint8_t want[4];
    PutU32(want, sig);
    buf_.resize(static_cast<std::size_t>(kChunk));
    for (std::int64_t at = std::max<std::int64_t>(from, 0); at + 4 <= size_;) {
        const std::int64_t n = src_.ReadAt(at, buf_.data(), kChunk);
        if (n < 4) {
            return -1;
        }
        const auto* begin = buf_.data();
        const auto* end = begin + n;
        const auto* hit = std::search(begin, end, want, want + 4);
        if (hit != end) {
            return at + (hit - begin);
        }
        at += n - 3;
        if (Cancelled()) {
            return -1;
        }
    }
    return -1;
}

bool Scanner::CrcOf(std::int64_t from, std::uint64_t length, std::uint32_t& crc) {
    crc = 0;
    buf_.resize(static_cast<std::size_t>(kChunk));
    std::uint64_t done = 0;
    while (done < length) {
        const auto want = static_cast<std::int64_t>(
            std::min<std::uint64_t>(length - done, static_cast<std::uint64_t>(kChunk)));
        if (!Read(from + static_cast<std::int64_t>(done), buf_.data(), want)) {
            return false;
        }
        crc = Crc32(std::string_view(reinterpret_cast<const char*>(buf_.data()),
                                     static_cast<std::size_t>(want)),
                    crc);
        done += static_cast<std::uint64_t>(want);
    }
    return true;
}

Scanner::Inflated Scanner::Inflate(std::int64_t from, std::int64_t limit) {
    Inflated result;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        return result;
    }
    std::vector<std::uint8_t> in(static_cast<std::size_t>(kChunk));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kChunk));
    std::int64_t pos = from;
    const std::int64_t end = std::min(size_, from + limit);
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.avail_in == 0) {
            const std::int64_t n =
                pos < end ? src_.ReadAt(pos, in.data(), std::min(kChunk, end - pos)) : 0;
            if (n <= 0) {
                break;  // the data end before the stream does
            }
            pos += n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = out.size() - z.avail_out;
        result.crc =
            Crc32(std::string_view(reinterpret_cast<const char*>(out.data()), made), result.crc);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) {
            rc = Z_OK;  // it needs more input
        }
        if (Cancelled()) {
            break;
        }
    }
    result.whole = rc == Z_STREAM_END;
    result.consumed = z.total_in;
    result.produced = z.total_out;
    inflateEnd(&z);
    return result;
}

bool Scanner::Accept(TZARepairEntry& entry, std::uint32_t crc, std::uint64_t csize,
                     std::uint64_t usize) {
    const bool encrypted = (entry.flags & kFlagEncrypted) != 0;
    if (entry.method == 0 && !encrypted) {
        std::uint32_t actual = 0;
        if (usize != csize || !CrcOf(entry.dataOffset, csize, actual) || actual != crc) {
            return false;
        }
        entry.checked = true;
    }
    entry.crc = crc;
    entry.compressedSize = csize;
    entry.uncompressedSize = usize;
    return true;
}

std::int64_t Scanner::DescriptorAfter(TZARepairEntry& entry, std::uint64_t consumed,
                                      bool crcKnown) {
    const std::int64_t at = entry.dataOffset + static_cast<std::int64_t>(consumed);
    std::uint8_t d[descriptor::kLongSize] = {};
    const std::int64_t have = src_.ReadAt(at, d, sizeof d);
    auto matches = [&](const std::uint8_t* p, bool longForm) {
        const std::uint32_t crc = GetU32(p);
        const std::uint64_t c = longForm ? GetU64(p + 4) : GetU32(p + 4);
        const std::uint64_t u = longForm ? GetU64(p + 12) : GetU32(p + 8);
        return c == consumed && u == entry.uncompressedSize && (!crcKnown || crc == entry.crc);
    };
    const bool signed4 = have >= 4 && GetU32(d) == kDataDescriptorSig;
    // Longest forms first: a 32-bit reading of a Zip64 descriptor can match
    // by accident when the high words are zero.
    if (signed4 && have >= 24 && matches(d + 4, true)) {
        return at + 24;
    }
    if (signed4 && have >= 16 && matches(d + 4, false)) {
        return at + 16;
    }
    if (have >= 20 && matches(d, true)) {
        return at + 20;
    }
    if (have >= 12 && matches(d, false)) {
        return at + 12;
    }
    return -1;
}

std::int64_t Scanner::SearchDescriptor(TZARepairEntry& entry) {
    // Every position after the data's start may begin the descriptor: its
    // compressed size must equal the distance from the data's start (and a
    // stored entry's CRC must match its bytes). Where the CRC cannot be
    // checked, an unsigned descriptor must be followed by a record or the
    // end of the bytes.
    const std::int64_t start = entry.dataOffset;
    const bool checkable = entry.method == 0 && (entry.flags & kFlagEncrypted) == 0;
    auto closes = [&](std::int64_t end) {
        std::uint8_t sig[4];
        return checkable || end == size_ ||
               (Read(end, sig, 4) && sig[0] == 'P' && sig[1] == 'K' && sig[2] <= 8 && sig[3] <= 8);
    };
    constexpr std::int64_t kLook = descriptor::kLongSize;
    std::vector<std::uint8_t> window(static_cast<std::size_t>(kChunk + kLook));
    for (std::int64_t at = start; at < size_; at += kChunk) {
        const std::int64_t n =
            std::max<std::int64_t>(0, src_.ReadAt(at, window.data(), kChunk + kLook));
        const std::int64_t stop = std::min(n, kChunk);
        for (std::int64_t i = 0; i < stop; ++i) {
            const std::uint8_t* d = window.data() + i;
            const std::int64_t avail = n - i;
            const std::int64_t p = at + i;
            const auto dist = static_cast<std::uint64_t>(p - start);
            if (avail >= 16 && GetU32(d) == kDataDescriptorSig) {
                // A signed descriptor whose compressed size is below 4 GiB reads
                // both ways (the Zip64 size's high word is zero). Where the CRC
                // cannot decide, the 32-bit reading wins when only it is followed
                // by a record or the end; otherwise the Zip64 reading would take
                // the next record's first bytes as the uncompressed size.
                const bool longFits = avail >= 24 && GetU64(d + 8) == dist;
                const bool shortFirst = longFits && !checkable && !closes(p + 24) && closes(p + 16);
                if (longFits && !shortFirst &&
                    Accept(entry, GetU32(d + 4), GetU64(d + 8), GetU64(d + 16))) {
                    return p + 24;
                }
                if (GetU32(d + 8) == dist &&
                    Accept(entry, GetU32(d + 4), GetU32(d + 8), GetU32(d + 12))) {
                    return p + 16;
                }
            }
            if (avail >= 20 && GetU64(d + 4) == dist && closes(p + 20) &&
                Accept(entry, GetU32(d), GetU64(d + 4), GetU64(d + 12))) {
                return p + 20;
            }
            if (avail >= 12 && GetU32(d + 4) == dist && closes(p + 12) &&
                Accept(entry, GetU32(d), GetU32(d + 4), GetU32(d + 8))) {
                return p + 12;
            }
        }
        if (n <= kChunk || Cancelled()) {
            break;
        }
    }
    return -1;
}

TZARepairScan Scanner::Run() {
    TZARepairScan scan;
    std::int64_t pos = 0;
    while (!Cancelled()) {
        const std::int64_t h = Find(pos, kLocalHeaderSig);
        if (h < 0) {
            break;
        }
        std::uint8_t fixed[local::kSize];
        if (!Read(h, fixed, local::kSize)) {
            scan.lost.push_back({h, {}, TZARepairLoss::HeaderCut});
            break;
        }
        const TZALocalHeader lh = TZALocalHeader::Decode(fixed);
        TZARepairEntry e;
        e.headerOffset = h;
        e.versionNeeded = lh.versionNeeded;
        e.flags = lh.flags;
        e.method = lh.method;
        e.dosDateTime = lh.dosDateTime;
        std::string var(static_cast<std::size_t>(lh.nameLength) + lh.extraLength, '\0');
        const std::int64_t got =
            var.empty() ? 0
                        : std::max<std::int64_t>(
                              0, src_.ReadAt(h + static_cast<std::int64_t>(local::kSize),
                                             var.data(), static_cast<std::int64_t>(var.size())));
        e.name = var.substr(0, std::min<std::size_t>(lh.nameLength, static_cast<std::size_t>(got)));
        if (got != static_cast<std::int64_t>(var.size())) {
            scan.lost.push_back({h, e.name, TZARepairLoss::HeaderCut});
            break;
        }
        if (lh.nameLength == 0) {
            pos = h + 4;  // no entry has an empty name: bytes that only look like a header
            continue;
        }
        const std::string_view localExtra = std::string_view(var).substr(lh.nameLength);
        e.extra = DropExtraTags(localExtra, {kTagZip64});
        e.dataOffset = h + static_cast<std::int64_t>(local::kSize + var.size());
        e.crc = lh.crc32;
        e.compressedSize = lh.compressedSize;
        e.uncompressedSize = lh.uncompressedSize;
        if (lh.compressedSize == kSentinel32 || lh.uncompressedSize == kSentinel32) {
            // A local Zip64 record holds both sizes.
            TZAZip64Values v;
            if (ParseZip64Data(ExtraData(localExtra, kTagZip64), true, true, false, false, v)) {
                e.uncompressedSize = *v.uncompressedSize;
                e.compressedSize = *v.compressedSize;
            }
        }
        const bool encrypted = (e.flags & kFlagEncrypted) != 0;
        const bool deflated = e.method == 8 && !encrypted;
        std::int64_t next = -1;
        TZARepairLoss loss = TZARepairLoss::DataCut;
        if ((e.flags & kFlagDataDescriptor) == 0) {
            const auto csize = e.compressedSize;
            if (csize > static_cast<std::uint64_t>(size_ - e.dataOffset)) {
                loss = TZARepairLoss::DataCut;
            } else if (deflated) {
                const Inflated f = Inflate(e.dataOffset, static_cast<std::int64_t>(csize));
                if (f.whole && f.produced == e.uncompressedSize && f.crc == e.crc) {
                    e.checked = true;
                    next = e.dataOffset + static_cast<std::int64_t>(csize);
                } else {
                    loss = TZARepairLoss::BadCrc;
                }
            } else if (e.method == 0 && !encrypted) {
                if (Accept(e, e.crc, csize, e.uncompressedSize)) {
                    next = e.dataOffset + static_cast<std::int64_t>(csize);
                } else {
                    loss = TZARepairLoss::BadCrc;
                }
            } else {
                next = e.dataOffset + static_cast<std::int64_t>(csize);
            }
        } else if (deflated) {
            const Inflated f = Inflate(e.dataOffset, size_ - e.dataOffset);
            if (!f.whole) {
                loss = TZARepairLoss::DataCut;
            } else {
                e.crc = f.crc;
                e.compressedSize = f.consumed;
                e.uncompressedSize = f.produced;
                e.checked = true;
                next = DescriptorAfter(e, f.consumed, true);
                const std::int64_t dataEnd = e.dataOffset + static_cast<std::int64_t>(f.consumed);
                if (next < 0 &&
                    size_ - dataEnd < static_cast<std::int64_t>(descriptor::kLongSize)) {
                    // The data are whole and checked by their stream; only
                    // the descriptor was cut off.
                    next = size_;
                } else if (next < 0) {
                    loss = TZARepairLoss::BadCrc;
                }
            }
        } else {
            next = SearchDescriptor(e);
            loss = TZARepairLoss::NoDataEnd;
        }
        if (next < 0) {
            scan.lost.push_back({h, e.name, loss});
            pos = h + 4;
            continue;
        }
        scan.entries.push_back(std::move(e));
        pos = next;
    }
    if (!scan.entries.empty()) {
        TakeCentralDetails(scan.entries);
    }
    return scan;
}

void Scanner::TakeCentralDetails(std::vector<TZARepairEntry>& entries) {
    struct Details {
        std::uint16_t madeBy;
        std::uint16_t internal;
        std::uint32_t external;
        std::string comment;
    };
    // Keyed by name, CRC and the 32-bit compressed size (or its sentinel).
    auto key = [](const std::string& name, std::uint32_t crc, std::uint32_t size) {
        std::string k = name;
        k.append(reinterpret_cast<const char*>(&crc), sizeof crc);
        k.append(reinterpret_cast<const char*>(&size), sizeof size);
        return k;
    };
    std::map<std::string, Details> found;
    for (std::int64_t at = Find(0, kCentralHeaderSig); at >= 0 && !Cancelled();
         at = Find(at + 4, kCentralHeaderSig)) {
        std::uint8_t fixed[central::kSize];
        if (!Read(at, fixed, central::kSize)) {
            break;
        }
        const TZACentralHeader h = TZACentralHeader::Decode(fixed);
        std::string name(h.nameLength, '\0');
        std::string comment(h.commentLength, '\0');
        const std::int64_t nameAt = at + static_cast<std::int64_t>(central::kSize);
        if (!Read(nameAt, name.data(), h.nameLength) ||
            !Read(nameAt + h.nameLength + h.extraLength, comment.data(), h.commentLength)) {
            continue;
        }
        found.emplace(key(name, h.crc32, h.compressedSize),
                      Details{h.versionMadeBy, h.internalAttributes, h.externalAttributes,
                              std::move(comment)});
    }
    for (TZARepairEntry& e : entries) {
        const std::uint32_t size = e.compressedSize >= kSentinel32
                                       ? kSentinel32
                                       : static_cast<std::uint32_t>(e.compressedSize);
        const auto it = found.find(key(e.name, e.crc, size));
        if (it != found.end()) {
            e.fromCentral = true;
            e.versionMadeBy = it->second.madeBy;
            e.internalAttributes = it->second.internal;
            e.externalAttributes = it->second.external;
            e.comment = it->second.comment;
        }
    }
}

}  // namespace

TZARepairScan ScanLocalHeaders(TZARepairSource& source, const std::function<bool()>& cancelled) {
    return Scanner(source, cancelled).Run();
}

// ---- writing ----------------------------------------------------------------------------

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

constexpr std::uint16_t kMadeByUnix = 3 << 8;
constexpr std::uint32_t kUnixFile = 0100644u << 16;
constexpr std::uint32_t kUnixFolder = (040755u << 16) | 0x10;

}  // namespace

bool WriteRepairedArchive(TZARepairSource& source, const TZARepairScan& scan,
                          const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
    if (!out) {
        return false;
    }
    std::uint64_t offset = 0;
    auto put = [&](const void* p, std::size_t n) {
        if (n > 0 && std::fwrite(p, 1, n, out.get()) != n) {
            return false;
        }
        offset += n;
        return true;
    };
    std::string central;
    std::vector<char> copy(static_cast<std::size_t>(kChunk));
    for (const TZARepairEntry& e : scan.entries) {
        const std::uint64_t localOffset = offset;
        const bool bigSizes = e.compressedSize >= kSentinel32 || e.uncompressedSize >= kSentinel32;
        const bool bigOffset = localOffset >= kSentinel32;
        // The CRC and sizes go into the header; a descriptor stays only with
        // encrypted entries, whose password check byte depends on the flag.
        const bool encrypted = (e.flags & kFlagEncrypted) != 0;
        const bool descriptor = encrypted && (e.flags & kFlagDataDescriptor) != 0;
        TZALocalHeader lh;
        lh.versionNeeded = static_cast<std::uint16_t>(
            std::max<int>(e.versionNeeded & 0xFF, bigSizes ? kVersionZip64 : 10));
        lh.flags =
            descriptor ? e.flags : static_cast<std::uint16_t>(e.flags & ~kFlagDataDescriptor);
        lh.method = e.method;
        lh.dosDateTime = e.dosDateTime;
        lh.crc32 = e.crc;
        lh.compressedSize = bigSizes ? kSentinel32 : static_cast<std::uint32_t>(e.compressedSize);
        lh.uncompressedSize =
            bigSizes ? kSentinel32 : static_cast<std::uint32_t>(e.uncompressedSize);
        std::string localExtra;
        if (bigSizes) {
            TZAZip64Values v;
            v.uncompressedSize = e.uncompressedSize;
            v.compressedSize = e.compressedSize;
            localExtra = MakeExtraRecord(kTagZip64, BuildZip64Data(v)).value_or(std::string{});
        }
        localExtra += e.extra;
        if (localExtra.size() > kMaxExtraLength) {
            localExtra.resize(0);
        }
        lh.nameLength = static_cast<std::uint16_t>(e.name.size());
        lh.extraLength = static_cast<std::uint16_t>(localExtra.size());
        std::uint8_t fixed[local::kSize];
        lh.Encode(fixed);
        if (!put(fixed, sizeof fixed) || !put(e.name.data(), e.name.size()) ||
            !put(localExtra.data(), localExtra.size())) {
            return false;
        }
        for (std::uint64_t done = 0; done < e.compressedSize;) {
            const auto want = static_cast<std::int64_t>(
                std::min<std::uint64_t>(e.compressedSize - done, copy.size()));
            if (source.ReadAt(e.dataOffset + static_cast<std::int64_t>(done), copy.data(), want) !=
                    want ||
                !put(copy.data(), static_cast<std::size_t>(want))) {
                if (errno == 0) {
                    errno = EIO;
                }
                return false;
            }
            done += static_cast<std::uint64_t>(want);
        }
        if (descriptor) {
            std::uint8_t d[descriptor::kLongSize];
            const std::size_t n =
                EncodeDataDescriptor(d, bigSizes, e.crc, e.compressedSize, e.uncompressedSize);
            if (!put(d, n)) {
                return false;
            }
        }

        TZACentralHeader ch;
        const bool folder = !e.name.empty() && e.name.back() == '/';
        ch.versionMadeBy = e.fromCentral ? e.versionMadeBy
                                         : static_cast<std::uint16_t>(kMadeByUnix | kVersionZip64);
        ch.internalAttributes = e.internalAttributes;
        ch.versionNeeded = static_cast<std::uint16_t>(
            std::max<int>(lh.versionNeeded, bigOffset ? kVersionZip64 : 0));
        ch.flags = lh.flags;
        ch.method = e.method;
        ch.dosDateTime = e.dosDateTime;
        ch.crc32 = e.crc;
        ch.compressedSize = lh.compressedSize;
        ch.uncompressedSize = lh.uncompressedSize;
        ch.externalAttributes = e.fromCentral ? e.externalAttributes
                                : folder      ? kUnixFolder
                                              : kUnixFile;
        ch.localHeaderOffset = bigOffset ? kSentinel32 : static_cast<std::uint32_t>(localOffset);
        std::string centralExtra;
        if (bigSizes || bigOffset) {
            TZAZip64Values v;
            if (bigSizes) {
                v.uncompressedSize = e.uncompressedSize;
                v.compressedSize = e.compressedSize;
            }
            if (bigOffset) {
                v.localHeaderOffset = localOffset;
            }
            centralExtra = MakeExtraRecord(kTagZip64, BuildZip64Data(v)).value_or(std::string{});
        }
        centralExtra += e.extra;
        if (centralExtra.size() > kMaxExtraLength) {
            centralExtra.resize(0);
        }
        ch.nameLength = static_cast<std::uint16_t>(e.name.size());
        ch.extraLength = static_cast<std::uint16_t>(centralExtra.size());
        ch.commentLength = static_cast<std::uint16_t>(e.comment.size());
        std::uint8_t c[central::kSize];
        ch.Encode(c);
        central.append(reinterpret_cast<const char*>(c), sizeof c);
        central += e.name;
        central += centralExtra;
        central += e.comment;
    }

    const std::uint64_t centralOffset = offset;
    const std::uint64_t count = scan.entries.size();
    if (!put(central.data(), central.size())) {
        return false;
    }
    const bool zip64 =
        count >= kSentinel16 || central.size() >= kSentinel32 || centralOffset >= kSentinel32;
    if (zip64) {
        TZAZip64EndRecord z;
        z.versionMadeBy = static_cast<std::uint16_t>(kMadeByUnix | kVersionZip64);
        z.entriesOnDisk = z.totalEntries = count;
        z.centralSize = central.size();
        z.centralOffset = centralOffset;
        TZAZip64Locator loc;
        loc.zip64Offset = offset;
        std::uint8_t r[zip64end::kSize + zip64loc::kSize];
        z.Encode(r);
        loc.Encode(r + zip64end::kSize);
        if (!put(r, sizeof r)) {
            return false;
        }
    }
    TZAEndRecord end;
    end.entriesOnDisk = end.totalEntries =
        static_cast<std::uint16_t>(std::min<std::uint64_t>(count, kSentinel16));
    end.centralSize =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(central.size(), kSentinel32));
    end.centralOffset =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(centralOffset, kSentinel32));
    std::uint8_t r[eocd::kSize];
    end.Encode(r);
    if (!put(r, sizeof r)) {
        return false;
    }
    return std::fflush(out.get()) == 0 && std::fclose(out.release()) == 0;
}
