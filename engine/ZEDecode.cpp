#include "ZEDecode.h"

#include <bzlib.h>
#include <libdeflate.h>
#include <lzma.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ZEUtil.h"

namespace ze {

namespace {
constexpr size_t kChunk = 1 << 18;
constexpr uint64_t kWholeBufferMax = 256ull << 20;
// Dictionaries of real LZMA/XZ streams stay far below this; a header asking for more is
// treated as damaged instead of allocating it.
constexpr uint64_t kLzmaMemLimit = 512ull << 20;

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
}  // namespace

bool OutSink::write(const uint8_t* p, size_t n) {
    if (n == 0)
        return true;
    const size_t len = n;
    if (n > limit_ - total_ || total_ > limit_) {
        overflow_ = true;
        return false;
    }
    crc_ = crc32(crc_, p, n);
    total_ += n;
    if (mem_)
        mem_->insert(mem_->end(), p, p + n);
    if (fd_ >= 0) {
        while (n > 0) {
            ssize_t w = ::write(fd_, p, n);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                writeFailed_ = true;
                return false;
            }
            p += w;
            n -= size_t(w);
        }
    }
    if (progress && !progress(len))
        return false;
    return true;
}

bool methodSupported(uint16_t method) {
    return method == 0 || method == 8 || method == 12 || method == 14 || method == 93 ||
           method == 95;
}

static DecodeResult sinkFailure(const OutSink& s) {
    if (s.overflow())
        return kDecodeSize;
    if (s.writeFailed())
        return kDecodeWrite;
    return kDecodeStopped;
}

static DecodeResult finish(const OutSink& s, uint64_t usize) {
    return s.total() == usize ? kDecodeOk : kDecodeSize;
}

static DecodeResult inflateWhole(const uint8_t* in, size_t inLen, uint64_t usize, OutSink& sink) {
    thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> dec(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    std::unique_ptr<uint8_t, FreeDeleter> out(static_cast<uint8_t*>(malloc(size_t(usize) + 1)));
    if (!out)
        return kDecodeBadData;
    size_t actual = 0;
    auto r = libdeflate_deflate_decompress(dec.get(), in, inLen, out.get(), size_t(usize), &actual);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE)
        return kDecodeSize;
    if (r != LIBDEFLATE_SUCCESS)
        return kDecodeBadData;
    if (!sink.write(out.get(), actual))
        return sinkFailure(sink);
    return finish(sink, usize);
}

static DecodeResult inflateStream(const uint8_t* in, size_t inLen, uint64_t usize, OutSink& sink) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK)
        return kDecodeBadData;
    std::vector<uint8_t> buf(kChunk);
    DecodeResult res = kDecodeOk;
    size_t fed = 0;
    for (;;) {
        if (zs.avail_in == 0 && fed < inLen) {
            size_t n = std::min<size_t>(inLen - fed, 1u << 30);
            zs.next_in = const_cast<Bytef*>(in + fed);
            zs.avail_in = uInt(n);
            fed += n;
        }
        zs.next_out = buf.data();
        zs.avail_out = uInt(buf.size());
        int r = inflate(&zs, Z_NO_FLUSH);
        size_t got = buf.size() - zs.avail_out;
        if (got && !sink.write(buf.data(), got)) {
            res = sinkFailure(sink);
            break;
        }
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK && !(r == Z_BUF_ERROR && got)) {
            res = kDecodeBadData;
            break;
        }
    }
    inflateEnd(&zs);
    return res == kDecodeOk ? finish(sink, usize) : res;
}

static DecodeResult bunzip(const uint8_t* in, size_t inLen, uint64_t usize, OutSink& sink) {
    bz_stream bz{};
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK)
        return kDecodeBadData;
    std::vector<uint8_t> buf(kChunk);
    DecodeResult res = kDecodeOk;
    size_t fed = 0;
    for (;;) {
        if (bz.avail_in == 0 && fed < inLen) {
            size_t n = std::min<size_t>(inLen - fed, 1u << 30);
            bz.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in + fed));
            bz.avail_in = unsigned(n);
            fed += n;
        }
        bz.next_out = reinterpret_cast<char*>(buf.data());
        bz.avail_out = unsigned(buf.size());
        int r = BZ2_bzDecompress(&bz);
        size_t got = buf.size() - bz.avail_out;
        if (got && !sink.write(buf.data(), got)) {
            res = sinkFailure(sink);
            break;
        }
        if (r == BZ_STREAM_END)
            break;
        if (r != BZ_OK || (got == 0 && bz.avail_in == 0 && fed == inLen)) {
            res = kDecodeBadData;
            break;
        }
    }
    BZ2_bzDecompressEnd(&bz);
    return res == kDecodeOk ? finish(sink, usize) : res;
}

static DecodeResult runLzma(lzma_stream& ls, const uint8_t* in, size_t inLen, uint64_t usize,
                            OutSink& sink) {
    std::vector<uint8_t> buf(kChunk);
    ls.next_in = in;
    ls.avail_in = inLen;
    DecodeResult res = kDecodeOk;
    for (;;) {
        ls.next_out = buf.data();
        ls.avail_out = buf.size();
        lzma_ret r = lzma_code(&ls, LZMA_FINISH);
        size_t got = buf.size() - ls.avail_out;
        if (got && !sink.write(buf.data(), got)) {
            res = sinkFailure(sink);
            break;
        }
        if (r == LZMA_STREAM_END)
            break;
        if (r != LZMA_OK) {
            res = kDecodeBadData;
            break;
        }
        if (got == 0 && ls.avail_in == 0) {
            res = kDecodeBadData;
            break;
        }
    }
    lzma_end(&ls);
    return res == kDecodeOk ? finish(sink, usize) : res;
}

static DecodeResult unlzma(const uint8_t* in, size_t inLen, uint64_t usize, bool eos,
                           OutSink& sink) {
    // Zip's LZMA header: version (2), properties size (2), properties (5). The stream is
    // rebuilt as a .lzma file: properties, then the uncompressed size (or "unknown").
    if (inLen < 9 || in[2] != 5 || in[3] != 0)
        return kDecodeBadData;
    std::vector<uint8_t> alone(13 + (inLen - 9));
    memcpy(alone.data(), in + 4, 5);
    uint64_t sz = eos ? UINT64_MAX : usize;
    for (int i = 0; i < 8; ++i)
        alone[5 + size_t(i)] = uint8_t(sz >> (8 * i));
    memcpy(alone.data() + 13, in + 9, inLen - 9);
    lzma_stream ls = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&ls, kLzmaMemLimit) != LZMA_OK)
        return kDecodeBadData;
    return runLzma(ls, alone.data(), alone.size(), usize, sink);
}

static DecodeResult unxz(const uint8_t* in, size_t inLen, uint64_t usize, OutSink& sink) {
    lzma_stream ls = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&ls, kLzmaMemLimit, LZMA_CONCATENATED) != LZMA_OK)
        return kDecodeBadData;
    return runLzma(ls, in, inLen, usize, sink);
}

static DecodeResult unzstd(const uint8_t* in, size_t inLen, uint64_t usize, OutSink& sink) {
    std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> ds(ZSTD_createDStream(),
                                                                ZSTD_freeDStream);
    if (!ds)
        return kDecodeBadData;
    ZSTD_initDStream(ds.get());
    std::vector<uint8_t> buf(kChunk);
    ZSTD_inBuffer ib{in, inLen, 0};
    for (;;) {
        ZSTD_outBuffer ob{buf.data(), buf.size(), 0};
        size_t r = ZSTD_decompressStream(ds.get(), &ob, &ib);
        if (ZSTD_isError(r))
            return kDecodeBadData;
        if (ob.pos && !sink.write(buf.data(), ob.pos))
            return sinkFailure(sink);
        if (r == 0 && ib.pos == ib.size)
            break;
        if (ob.pos == 0 && ib.pos == ib.size)
            return kDecodeBadData;
    }
    return finish(sink, usize);
}

DecodeResult decodeEntry(uint16_t method, const uint8_t* in, size_t inLen, uint64_t usize,
                         bool lzmaEos, OutSink& sink) {
    switch (method) {
        case 0: {
            if (inLen != usize)
                return kDecodeSize;
            for (size_t off = 0; off < inLen; off += kChunk * 4)
                if (!sink.write(in + off, std::min(inLen - off, kChunk * 4)))
                    return sinkFailure(sink);
            return kDecodeOk;
        }
        case 8:
            // A deflate stream cannot expand by more than about 1032:1, so a larger declared
            // size is a lie and is left to the bounded streaming path.
            if (usize <= kWholeBufferMax && usize <= uint64_t(inLen) * 1032 + 1024)
                return inflateWhole(in, inLen, usize, sink);
            return inflateStream(in, inLen, usize, sink);
        case 12:
            return bunzip(in, inLen, usize, sink);
        case 14:
            return unlzma(in, inLen, usize, lzmaEos, sink);
        case 93:
            return unzstd(in, inLen, usize, sink);
        case 95:
            return unxz(in, inLen, usize, sink);
        default:
            return kDecodeUnsupported;
    }
}

}  // namespace ze
