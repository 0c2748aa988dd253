#include "ZEWriter.h"

#include <unistd.h>

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

std::string dropExtra(const std::string& extra, std::initializer_list<uint16_t> tags) {
    std::string out;
    auto* p = reinterpret_cast<const uint8_t*>(extra.data());
    size_t i = 0, n = extra.size();
    constexpr size_t head = zrec::kExtraHeadSize;
    while (i + head <= n) {
        uint16_t t = rd16(p + i), l = rd16(p + i + 2);
        if (i + head + l > n)
            break;
        bool drop = false;
        for (uint16_t d : tags)
            drop = drop || d == t;
        if (!drop)
            out.append(extra, i, head + size_t(l));
        i += head + size_t(l);
    }
    return out;
}

Bytes localHeader(const OutEntry& e) {
    Bytes b;
    b.u32(zrec::kLocalHeaderSig);
    uint16_t needed = e.needed;
    if (e.zip64Local && (needed & 0xFF) < 45)
        needed = uint16_t((needed & 0xFF00) | 45);
    b.u16(needed);
    b.u16(e.flags);
    b.u16(e.method);
    b.u32(e.dosTime);
    b.u32(e.crc);
    if (e.zip64Local) {
        b.u32(0xFFFFFFFF);
        b.u32(0xFFFFFFFF);
    } else {
        b.u32(uint32_t(e.csize));
        b.u32(uint32_t(e.usize));
    }
    b.u16(uint32_t(e.name.size()));
    b.u16(uint32_t(e.extra.size() + (e.zip64Local ? 20 : 0)));
    b.str(e.name);
    if (e.zip64Local) {
        b.u16(zrec::kTagZip64);
        b.u16(16);
        b.u64(e.usize);
        b.u64(e.csize);
    }
    b.str(e.extra);
    return b;
}

Bytes centralHeader(const OutEntry& e) {
    Bytes z;
    bool bigU = e.usize >= 0xFFFFFFFF, bigC = e.csize >= 0xFFFFFFFF, bigO = e.lho >= 0xFFFFFFFF;
    if (bigU)
        z.u64(e.usize);
    if (bigC)
        z.u64(e.csize);
    if (bigO)
        z.u64(e.lho);
    bool zip64 = !z.b.empty() || e.zip64Local;
    Bytes b;
    b.u32(zrec::kCentralHeaderSig);
    uint16_t madeBy = e.madeBy, needed = e.needed;
    if (zip64) {
        if ((madeBy & 0xFF) < 45)
            madeBy = uint16_t((madeBy & 0xFF00) | 45);
        if ((needed & 0xFF) < 45)
            needed = uint16_t((needed & 0xFF00) | 45);
    }
    b.u16(madeBy);
    b.u16(needed);
    b.u16(e.flags);
    b.u16(e.method);
    b.u32(e.dosTime);
    b.u32(e.crc);
    b.u32(bigC ? 0xFFFFFFFF : uint32_t(e.csize));
    b.u32(bigU ? 0xFFFFFFFF : uint32_t(e.usize));
    b.u16(uint32_t(e.name.size()));
    b.u16(uint32_t(e.extra.size() + (z.b.empty() ? 0 : 4 + z.b.size())));
    b.u16(uint32_t(e.comment.size()));
    b.u16(0);
    b.u16(e.intAttr);
    b.u32(e.extAttr);
    b.u32(bigO ? 0xFFFFFFFF : uint32_t(e.lho));
    b.str(e.name);
    if (!z.b.empty()) {
        b.u16(zrec::kTagZip64);
        b.u16(uint32_t(z.b.size()));
        b.raw(z.b.data(), z.b.size());
    }
    b.str(e.extra);
    b.str(e.comment);
    return b;
}

Bytes dataDescriptor(const OutEntry& e) {
    Bytes b;
    b.u32(zrec::kDataDescriptorSig);
    b.u32(e.crc);
    if (e.zip64Local) {
        b.u64(e.csize);
        b.u64(e.usize);
    } else {
        b.u32(uint32_t(e.csize));
        b.u32(uint32_t(e.usize));
    }
    return b;
}

Bytes endRecords(uint64_t count, uint64_t cdOffset, uint64_t cdSize, const std::string& comment) {
    Bytes b;
    bool zip64 = count >= 0xFFFF || cdOffset >= 0xFFFFFFFF || cdSize >= 0xFFFFFFFF;
    if (zip64) {
        uint64_t at = cdOffset + cdSize;
        b.u32(zrec::kZip64EndRecordSig);
        b.u64(zrec::zip64end::kMinRecordSize);
        b.u16(0x032D);
        b.u16(45);
        b.u32(0);
        b.u32(0);
        b.u64(count);
        b.u64(count);
        b.u64(cdSize);
        b.u64(cdOffset);
        b.u32(zrec::kZip64LocatorSig);
        b.u32(0);
        b.u64(at);
        b.u32(1);
    }
    b.u32(zrec::kEndRecordSig);
    b.u16(0);
    b.u16(0);
    b.u16(count >= 0xFFFF ? 0xFFFF : uint32_t(count));
    b.u16(count >= 0xFFFF ? 0xFFFF : uint32_t(count));
    b.u32(cdSize >= 0xFFFFFFFF ? 0xFFFFFFFF : uint32_t(cdSize));
    b.u32(cdOffset >= 0xFFFFFFFF ? 0xFFFFFFFF : uint32_t(cdOffset));
    size_t cl = std::min<size_t>(comment.size(), 0xFFFF);
    b.u16(uint32_t(cl));
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
