#include "ZEWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ze {

uint16_t versionNeeded(uint16_t method, bool zip64, bool encrypted) {
    uint16_t v = method == 0 ? 10 : method == 12 ? 46 : method <= 8 ? 20 : 63;
    if (encrypted && v < 20)
        v = 20;
    if (zip64 && v < 45)
        v = 45;
    return v;
}

namespace {

// A fixed record encoded by its platform layout, as the start of a byte buffer.
template <typename Record>
Bytes encoded(const Record& r, size_t size) {
    Bytes b;
    b.b.resize(size);
    r.Encode(b.b.data());
    return b;
}

uint16_t raisedTo45(uint16_t version) {
    return (version & 0xFF) < zrec::kVersionZip64
               ? uint16_t((version & 0xFF00) | zrec::kVersionZip64)
               : version;
}

}  // namespace

Bytes localHeader(const OutEntry& e) {
    // A local header whose sizes are not known yet, or may pass 4 GiB, carries both in a
    // Zip64 record in front of the entry's other records.
    std::string extra;
    if (e.zip64Local) {
        zrec::TZAZip64Values z;
        z.uncompressedSize = e.usize;
        z.compressedSize = e.csize;
        extra = *zrec::MakeExtraRecord(zrec::kTagZip64, zrec::BuildZip64Data(z));
    }
    extra += e.extra;
    zrec::TZALocalHeader h;
    h.versionNeeded = e.zip64Local ? raisedTo45(e.needed) : e.needed;
    h.flags = e.flags;
    h.method = e.method;
    h.dosDateTime = e.dosTime;
    h.crc32 = e.crc;
    h.compressedSize = e.zip64Local ? zrec::kSentinel32 : uint32_t(e.csize);
    h.uncompressedSize = e.zip64Local ? zrec::kSentinel32 : uint32_t(e.usize);
    h.nameLength = uint16_t(e.name.size());
    h.extraLength = uint16_t(extra.size());
    Bytes b = encoded(h, zrec::local::kSize);
    b.str(e.name);
    b.str(extra);
    return b;
}

Bytes centralHeader(const OutEntry& e) {
    // The Zip64 record holds exactly the values that do not fit their field.
    const bool bigU = e.usize >= zrec::kSentinel32, bigC = e.csize >= zrec::kSentinel32,
               bigO = e.lho >= zrec::kSentinel32;
    zrec::TZAZip64Values z;
    if (bigU)
        z.uncompressedSize = e.usize;
    if (bigC)
        z.compressedSize = e.csize;
    if (bigO)
        z.localHeaderOffset = e.lho;
    std::string extra;
    if (bigU || bigC || bigO)
        extra = *zrec::MakeExtraRecord(zrec::kTagZip64, zrec::BuildZip64Data(z));
    const bool zip64 = !extra.empty() || e.zip64Local;
    extra += e.extra;
    zrec::TZACentralHeader h;
    h.versionMadeBy = zip64 ? raisedTo45(e.madeBy) : e.madeBy;
    h.versionNeeded = zip64 ? raisedTo45(e.needed) : e.needed;
    h.flags = e.flags;
    h.method = e.method;
    h.dosDateTime = e.dosTime;
    h.crc32 = e.crc;
    h.compressedSize = bigC ? zrec::kSentinel32 : uint32_t(e.csize);
    h.uncompressedSize = bigU ? zrec::kSentinel32 : uint32_t(e.usize);
    h.nameLength = uint16_t(e.name.size());
    h.extraLength = uint16_t(extra.size());
    h.commentLength = uint16_t(e.comment.size());
    h.diskStart = 0;
    h.internalAttributes = e.intAttr;
    h.externalAttributes = e.extAttr;
    h.localHeaderOffset = bigO ? zrec::kSentinel32 : uint32_t(e.lho);
    Bytes b = encoded(h, zrec::central::kSize);
    b.str(e.name);
    b.str(extra);
    b.str(e.comment);
    return b;
}

Bytes dataDescriptor(const OutEntry& e) {
    Bytes b;
    b.b.resize(zrec::descriptor::kLongSize);
    b.b.resize(zrec::EncodeDataDescriptor(b.b.data(), e.zip64Local, e.crc, e.csize, e.usize));
    return b;
}

Bytes endRecords(uint64_t count, uint64_t cdOffset, uint64_t cdSize, const std::string& comment) {
    Bytes b;
    const bool zip64 =
        count >= zrec::kSentinel16 || cdOffset >= zrec::kSentinel32 || cdSize >= zrec::kSentinel32;
    if (zip64) {
        zrec::TZAZip64EndRecord z;
        z.versionMadeBy = 0x032D;  // Unix, 4.5
        z.versionNeeded = zrec::kVersionZip64;
        z.entriesOnDisk = z.totalEntries = count;
        z.centralSize = cdSize;
        z.centralOffset = cdOffset;
        b = encoded(z, zrec::zip64end::kSize);
        zrec::TZAZip64Locator l;
        l.zip64Offset = cdOffset + cdSize;
        l.totalDisks = 1;
        const Bytes lb = encoded(l, zrec::zip64loc::kSize);
        b.raw(lb.b.data(), lb.b.size());
    }
    const size_t cl = std::min<size_t>(comment.size(), zrec::eocd::kMaxComment);
    zrec::TZAEndRecord r;
    r.entriesOnDisk = r.totalEntries =
        count >= zrec::kSentinel16 ? zrec::kSentinel16 : uint16_t(count);
    r.centralSize = cdSize >= zrec::kSentinel32 ? zrec::kSentinel32 : uint32_t(cdSize);
    r.centralOffset = cdOffset >= zrec::kSentinel32 ? zrec::kSentinel32 : uint32_t(cdOffset);
    r.commentLength = uint16_t(cl);
    const Bytes eb = encoded(r, zrec::eocd::kSize);
    b.raw(eb.b.data(), eb.b.size());
    b.raw(comment.data(), cl);
    return b;
}

static bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

bool OutFile::write(const void* p, size_t n) {
    if (failed_)
        return false;
    auto* c = static_cast<const uint8_t*>(p);
    pos_ += n;
    if (buf_.size() + n <= kBuf) {
        buf_.insert(buf_.end(), c, c + n);
        return true;
    }
    if (!flush())
        return false;
    if (n >= kBuf) {
        failed_ = !writeAll(fd_, c, n);
        return !failed_;
    }
    buf_.insert(buf_.end(), c, c + n);
    return true;
}

bool OutFile::flush() {
    if (failed_)
        return false;
    if (!buf_.empty())
        failed_ = !writeAll(fd_, buf_.data(), buf_.size());
    buf_.clear();
    return !failed_;
}

bool OutFile::patch(uint64_t at, const Bytes& b) {
    if (!flush())
        return false;
    size_t done = 0;
    while (done < b.b.size()) {
        ssize_t w = pwrite(fd_, b.b.data() + done, b.b.size() - done, off_t(at + done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            failed_ = true;
            return false;
        }
        done += size_t(w);
    }
    return true;
}

}  // namespace ze
