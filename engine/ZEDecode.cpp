#include "ZEDecode.h"

#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <lzma.h>
#include <unistd.h>
#include <zstd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ZEInflate64.h"
#include "ZEUtil.h"

namespace ze {

namespace {
constexpr size_t kChunk = 1 << 18;
constexpr size_t kWritePiece = 1 << 20;
// Dictionaries of real LZMA/XZ streams stay far below this; a header asking for more is
// treated as damaged instead of allocating it.
constexpr uint64_t kLzmaMemLimit = 512ull << 20;
}  // namespace

bool MemSource::next(const uint8_t*& p, size_t& n) {
    if (consumed && pos_ > 0)
        consumed(pos_);
    if (pos_ >= n_)
        return false;
    n = std::min(n_ - pos_, piece_);
    p = p_ + pos_;
    pos_ += n;
    return true;
}

const uint8_t* MemSource::whole(size_t& n) {
    if (pos_ > 0)
        return nullptr;
    n = n_;
    return p_;
}

namespace {
// Input sources hand over one piece at a time; `more` turns false at the end.
template <typename Len>
void refill(InSource& src, bool& more, const uint8_t*& next, Len& avail) {
    if (avail != 0 || !more)
        return;
    const uint8_t* p = nullptr;
    size_t n = 0;
    more = src.next(p, n);
    if (more) {
        next = p;
        avail = Len(n);
    }
}
}  // namespace

bool OutSink::write(const uint8_t* p, size_t n) {
    if (n == 0)
        return true;
    if (n > limit_ - total_ || total_ > limit_) {
        overflow_ = true;
        return false;
    }
    crc_ = crc32(crc_, p, n);
    if (mem_)
        mem_->append(p, n);
    return emit(p, n);
}

bool OutSink::writeWhole(const uint8_t* p, size_t n, uint32_t crc) {
    if (total_ != 0 || n > limit_) {
        overflow_ = n > limit_;
        return write(p, n);
    }
    crc_ = crc;
    return n == 0 || emit(p, n);
}

uint8_t* OutSink::reserveInPlace() {
    if (!mem_ || limit_ > kWholeBufferMax)
        return nullptr;
    mem_->resize(size_t(limit_));
    return mem_->data();
}

bool OutSink::commit(size_t n) {
    mem_->resize(n);
    crc_ = crc32(0, mem_->data(), n);
    return n == 0 || emit(mem_->data(), n);
}

// Counts the bytes, writes them to the file in pieces of at most 1 MiB (so that progress
// is reported steadily) and reports progress.
bool OutSink::emit(const uint8_t* p, size_t n) {
    const size_t len = n;
    total_ += n;
    while (n > 0 && fd_ >= 0) {
        ssize_t w = ::write(fd_, p, std::min<size_t>(n, kWritePiece));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            writeFailed_ = true;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    if (progress && !progress(len))
        return false;
    return true;
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
    // A memory sink is filled in place; for a file the bytes go through one buffer.
    uint8_t* out = sink.reserveInPlace();
    ByteBuffer own;
    if (!out) {
        own.resize(size_t(usize) + 1);
        out = own.data();
    }
    size_t actual = 0;
    auto r = libdeflate_deflate_decompress(dec.get(), in, inLen, out, size_t(usize), &actual);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE)
        return kDecodeSize;
    if (r != LIBDEFLATE_SUCCESS)
        return kDecodeBadData;
    if (!(own.data() ? sink.write(out, actual) : sink.commit(actual)))
        return sinkFailure(sink);
    return finish(sink, usize);
}

// Streams a raw deflate stream through a small output buffer (ISA-L's inflater, several
// times as fast as zlib's).
static DecodeResult inflateStream(InSource& in, uint64_t usize, OutSink& sink) {
    auto st = std::make_unique<inflate_state>();
    isal_inflate_init(st.get());
    st->crc_flag = ISAL_DEFLATE;
    std::vector<uint8_t> buf(kChunk);
    bool more = true;
    for (;;) {
        const uint8_t* next = st->next_in;
        refill(in, more, next, st->avail_in);
        st->next_in = const_cast<uint8_t*>(next);
        st->next_out = buf.data();
        st->avail_out = uint32_t(buf.size());
        int r = isal_inflate(st.get());
        size_t got = buf.size() - st->avail_out;
        if (r < 0)  // damaged data; the positive codes only say which buffer ran out
            return kDecodeBadData;
        if (got && !sink.write(buf.data(), got))
            return sinkFailure(sink);
        if (st->block_state == ISAL_BLOCK_FINISH)
            break;
        if (got == 0 && st->avail_in == 0 && !more)
            return kDecodeBadData;  // the stream ends before its last block
    }
    return finish(sink, usize);
}

static DecodeResult bunzip(InSource& in, uint64_t usize, OutSink& sink) {
    bz_stream bz{};
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK)
        return kDecodeBadData;
    std::vector<uint8_t> buf(kChunk);
    DecodeResult res = kDecodeOk;
    bool more = true;
    for (;;) {
        const uint8_t* next = reinterpret_cast<const uint8_t*>(bz.next_in);
        refill(in, more, next, bz.avail_in);
        bz.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(next));
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
        if (r != BZ_OK || (got == 0 && bz.avail_in == 0 && !more)) {
            res = kDecodeBadData;
            break;
        }
    }
    BZ2_bzDecompressEnd(&bz);
    return res == kDecodeOk ? finish(sink, usize) : res;
}

// `head` is fed before the source's pieces (the rebuilt header of a zip LZMA entry).
static DecodeResult runLzma(lzma_stream& ls, InSource& in, const uint8_t* head, size_t headLen,
                            uint64_t usize, OutSink& sink) {
    std::vector<uint8_t> buf(kChunk);
    ls.next_in = head;
    ls.avail_in = headLen;
    bool more = true;
    DecodeResult res = kDecodeOk;
    for (;;) {
        refill(in, more, ls.next_in, ls.avail_in);
        ls.next_out = buf.data();
        ls.avail_out = buf.size();
        lzma_ret r = lzma_code(&ls, more ? LZMA_RUN : LZMA_FINISH);
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
        if (got == 0 && ls.avail_in == 0 && !more) {
            res = kDecodeBadData;
            break;
        }
    }
    lzma_end(&ls);
    return res == kDecodeOk ? finish(sink, usize) : res;
}

// Hands out what is left of a piece already begun, then the rest of the source.
class RestSource : public InSource {
public:
    RestSource(InSource& src, const uint8_t* p, size_t n) : src_(src), p_(p), n_(n) {}
    bool next(const uint8_t*& p, size_t& n) override {
        if (n_ == 0)
            return src_.next(p, n);
        p = p_;
        n = n_;
        n_ = 0;
        return true;
    }
    const uint8_t* whole(size_t&) override { return nullptr; }
    uint64_t size() const override { return src_.size(); }

private:
    InSource& src_;
    const uint8_t* p_;
    size_t n_;
};

static DecodeResult unlzma(InSource& in, uint64_t usize, bool eos, OutSink& sink) {
    // Zip's LZMA header: version (2), properties size (2), properties (5). The stream is
    // rebuilt as a .lzma file: properties, then the uncompressed size (or "unknown").
    uint8_t zipHead[9];
    size_t have = 0;
    const uint8_t* p = nullptr;
    size_t n = 0;
    while (have < sizeof zipHead && in.next(p, n)) {
        size_t k = std::min(n, sizeof zipHead - have);
        memcpy(zipHead + have, p, k);
        have += k;
        p += k;
        n -= k;
    }
    if (have < sizeof zipHead || zipHead[2] != 5 || zipHead[3] != 0)
        return kDecodeBadData;
    uint8_t alone[13];
    memcpy(alone, zipHead + 4, 5);
    uint64_t sz = eos ? UINT64_MAX : usize;
    for (int i = 0; i < 8; ++i)
        alone[5 + size_t(i)] = uint8_t(sz >> (8 * i));
    lzma_stream ls = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&ls, kLzmaMemLimit) != LZMA_OK)
        return kDecodeBadData;
    RestSource rest(in, p, n);
    return runLzma(ls, rest, alone, sizeof alone, usize, sink);
}

static DecodeResult unxz(InSource& in, uint64_t usize, OutSink& sink) {
    lzma_stream ls = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&ls, kLzmaMemLimit, LZMA_CONCATENATED) != LZMA_OK)
        return kDecodeBadData;
    return runLzma(ls, in, nullptr, 0, usize, sink);
}

static DecodeResult unzstd(InSource& in, uint64_t usize, OutSink& sink) {
    std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> ds(ZSTD_createDStream(),
                                                                ZSTD_freeDStream);
    if (!ds)
        return kDecodeBadData;
    ZSTD_initDStream(ds.get());
    std::vector<uint8_t> buf(kChunk);
    ZSTD_inBuffer ib{nullptr, 0, 0};
    bool more = true;
    auto feed = [&] {
        if (ib.pos < ib.size || !more)
            return;
        const uint8_t* p = nullptr;
        size_t n = 0;
        more = in.next(p, n);
        ib = more ? ZSTD_inBuffer{p, n, 0} : ZSTD_inBuffer{nullptr, 0, 0};
    };
    for (;;) {
        feed();
        ZSTD_outBuffer ob{buf.data(), buf.size(), 0};
        size_t r = ZSTD_decompressStream(ds.get(), &ob, &ib);
        if (ZSTD_isError(r))
            return kDecodeBadData;
        if (ob.pos && !sink.write(buf.data(), ob.pos))
            return sinkFailure(sink);
        feed();  // a finished frame ends the data only when no input is left
        if (r == 0 && ib.pos == ib.size && !more)
            break;
        if (ob.pos == 0 && ib.pos == ib.size && !more)
            return kDecodeBadData;
    }
    return finish(sink, usize);
}

static DecodeResult copyStored(InSource& in, uint64_t usize, bool, OutSink& sink) {
    if (in.size() != usize)
        return kDecodeSize;
    const uint8_t* p = nullptr;
    size_t n = 0;
    while (in.next(p, n))
        for (size_t off = 0; off < n; off += kChunk * 4)
            if (!sink.write(p + off, std::min(n - off, kChunk * 4)))
                return sinkFailure(sink);
    return finish(sink, usize);
}

static DecodeResult inflateEntry(InSource& in, uint64_t usize, bool, OutSink& sink) {
    // A deflate stream cannot expand by more than about 1032:1, so a larger declared
    // size is a lie and is left to the bounded streaming path.
    if (usize <= kWholeBufferMax && usize <= in.size() * 1032 + 1024) {
        size_t n = 0;
        if (const uint8_t* p = in.whole(n))
            return inflateWhole(p, n, usize, sink);
    }
    return inflateStream(in, usize, sink);
}

namespace {

// The compression methods the engine reads: one table answers both "is it supported"
// and "decode it", so the two can never disagree.
struct MethodDecoder {
    uint16_t method;
    DecodeResult (*decode)(InSource& in, uint64_t usize, bool lzmaEos, OutSink& sink);
};

constexpr MethodDecoder kMethodDecoders[] = {
    {0, copyStored},
    {8, inflateEntry},
    {9,
     [](InSource& in, uint64_t usize, bool, OutSink& sink) { return inflate64(in, usize, sink); }},
    {12, [](InSource& in, uint64_t usize, bool, OutSink& sink) { return bunzip(in, usize, sink); }},
    {14, unlzma},
    {93, [](InSource& in, uint64_t usize, bool, OutSink& sink) { return unzstd(in, usize, sink); }},
    {95, [](InSource& in, uint64_t usize, bool, OutSink& sink) { return unxz(in, usize, sink); }},
};

const MethodDecoder* findDecoder(uint16_t method) {
    for (const MethodDecoder& d : kMethodDecoders)
        if (d.method == method)
            return &d;
    return nullptr;
}

}  // namespace

bool methodSupported(uint16_t method) {
    return findDecoder(method) != nullptr;
}

DecodeResult decodeEntry(uint16_t method, InSource& in, uint64_t usize, bool lzmaEos,
                         OutSink& sink) {
    const MethodDecoder* d = findDecoder(method);
    return d ? d->decode(in, usize, lzmaEos, sink) : kDecodeUnsupported;
}

DecodeResult decodeEntry(uint16_t method, const uint8_t* in, size_t inLen, uint64_t usize,
                         bool lzmaEos, OutSink& sink) {
    MemSource src(in, inLen);
    return decodeEntry(method, src, usize, lzmaEos, sink);
}

}  // namespace ze
