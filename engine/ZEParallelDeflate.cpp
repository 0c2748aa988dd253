#include "ZEParallelDeflate.h"

#include <endian.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ZEJob.h"

namespace ze {

namespace {

// Walks a raw deflate stream without producing its output: block headers are read and every
// code is decoded only to be stepped over, which is several times cheaper than inflating.
// Used on the engine's own fresh output, so it only has to be safe, not forgiving.
class BlockWalker {
public:
    BlockWalker(const uint8_t* d, size_t n) : start_(d), p_(d), end_(d + n) {}

    // Walks to the end of the final block. `lastHeader` is the bit position of the final
    // block's header (its first bit is the final flag), `endBit` the position after its
    // end-of-block code. False when the bytes are no complete stream.
    bool walk(uint64_t& lastHeader, uint64_t& endBit) {
        for (;;) {
            refill();
            const uint64_t header = bitPos();
            const unsigned last = bits(1), type = bits(2);
            bool ok;
            if (type == 0)
                ok = stored();
            else if (type == 1)
                ok = fixedCodes() && codes();
            else if (type == 2)
                ok = dynamicCodes() && codes();
            else
                ok = false;
            if (!ok || overrun())
                return false;
            if (last) {
                lastHeader = header;
                endBit = bitPos();
                return true;
            }
        }
    }

private:
    // A canonical Huffman code: symbols of codes up to kFast bits are found with one look-up
    // of the next bits, longer ones bit by bit.
    struct Code {
        static constexpr unsigned kFast = 10;
        uint16_t fast[1u << kFast];  // symbol << 4 | code length; 0 for longer codes
        uint16_t count[16];
        uint16_t symbol[288];

        bool build(const uint8_t* lens, unsigned n) {
            std::fill(std::begin(count), std::end(count), uint16_t(0));
            for (unsigned i = 0; i < n; ++i)
                ++count[lens[i]];
            count[0] = 0;
            int left = 1;
            for (unsigned len = 1; len <= 15; ++len) {
                left = 2 * left - count[len];
                if (left < 0)
                    return false;  // over-subscribed
            }
            uint16_t offs[16] = {};
            for (unsigned len = 1; len < 15; ++len)
                offs[len + 1] = uint16_t(offs[len] + count[len]);
            for (unsigned i = 0; i < n; ++i)
                if (lens[i])
                    symbol[offs[lens[i]]++] = uint16_t(i);
            std::fill(std::begin(fast), std::end(fast), uint16_t(0));
            unsigned code = 0, index = 0;
            for (unsigned len = 1; len <= kFast; ++len, code <<= 1)
                for (unsigned k = 0; k < count[len]; ++k, ++code) {
                    unsigned rev = 0;  // the code's bits in reading order
                    for (unsigned b = 0; b < len; ++b)
                        rev |= ((code >> b) & 1u) << (len - 1 - b);
                    const uint16_t e = uint16_t(symbol[index++] << 4 | len);
                    for (unsigned f = rev; f < (1u << kFast); f += 1u << len)
                        fast[f] = e;
                }
            return true;
        }
        // The symbol whose code starts the bits `b` (at least 15 of them valid); -1 for none.
        int decode(uint64_t b, unsigned& used) const {
            if (uint16_t e = fast[b & ((1u << kFast) - 1)]) {
                used = e & 15;
                return e >> 4;
            }
            int code = 0, first = 0, index = 0;
            for (unsigned len = 1; len <= 15; ++len) {
                code |= int(b & 1);
                b >>= 1;
                const int c = count[len];
                if (code - c < first) {
                    used = len;
                    return symbol[index + (code - first)];
                }
                index += c;
                first = (first + c) << 1;
                code <<= 1;
            }
            return -1;
        }
    };

    // At least 49 valid bits in buf_ after a refill, nothing above them; past the end of
    // the data zeros are read and counted, so a truncated stream stops at overrun().
    void refill() {
        if (end_ - p_ >= 8) {
            uint64_t v;
            memcpy(&v, p_, 8);
            v = le64toh(v);
            const unsigned n = (63 - avail_) >> 3;
            buf_ |= (v & ((uint64_t(1) << (n * 8)) - 1)) << avail_;
            p_ += n;
            avail_ += n * 8;
            return;
        }
        while (avail_ <= 48) {
            if (p_ < end_)
                buf_ |= uint64_t(*p_) << avail_;
            ++p_;
            avail_ += 8;
        }
    }
    bool overrun() const { return p_ > end_ + 16; }
    uint64_t bitPos() const { return uint64_t(p_ - start_) * 8 - avail_; }
    unsigned bits(unsigned n) {
        const unsigned v = unsigned(buf_ & ((uint64_t(1) << n) - 1));
        drop(n);
        return v;
    }
    void drop(unsigned n) {
        buf_ >>= n;
        avail_ -= n;
    }

    bool stored() {
        drop(avail_ & 7);  // to the byte boundary
        refill();
        const unsigned len = bits(16), nlen = bits(16);
        if (len != (~nlen & 0xFFFF))
            return false;
        const uint64_t at = bitPos() / 8 + len;
        if (at > uint64_t(end_ - start_))
            return false;
        p_ = start_ + at;
        buf_ = 0;
        avail_ = 0;
        return true;
    }
    bool fixedCodes() {
        uint8_t lens[288 + 32];
        std::fill(lens, lens + 144, uint8_t(8));
        std::fill(lens + 144, lens + 256, uint8_t(9));
        std::fill(lens + 256, lens + 280, uint8_t(7));
        std::fill(lens + 280, lens + 288, uint8_t(8));
        std::fill(lens + 288, lens + 320, uint8_t(5));
        return lit_.build(lens, 288) && dist_.build(lens + 288, 32);
    }
    bool dynamicCodes() {
        refill();
        const unsigned nlit = bits(5) + 257, ndist = bits(5) + 1, nclen = bits(4) + 4;
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        uint8_t clens[19] = {};
        for (unsigned i = 0; i < nclen; ++i) {
            refill();
            clens[kOrder[i]] = uint8_t(bits(3));
        }
        if (nlit > 286 || ndist > 30 || !lenCode_.build(clens, 19))
            return false;
        uint8_t lens[286 + 30];
        for (unsigned i = 0; i < nlit + ndist;) {
            refill();
            if (overrun())
                return false;
            unsigned used = 0;
            const int sym = lenCode_.decode(buf_, used);
            if (sym < 0)
                return false;
            drop(used);
            if (sym < 16) {
                lens[i++] = uint8_t(sym);
                continue;
            }
            unsigned rep;
            uint8_t v = 0;
            if (sym == 16) {
                if (i == 0)
                    return false;
                v = lens[i - 1];
                rep = 3 + bits(2);
            } else if (sym == 17) {
                rep = 3 + bits(3);
            } else {
                rep = 11 + bits(7);
            }
            if (i + rep > nlit + ndist)
                return false;
            std::fill(lens + i, lens + i + rep, v);
            i += rep;
        }
        return lens[256] != 0 && lit_.build(lens, nlit) && dist_.build(lens + nlit, ndist);
    }
    // Steps over the codes of one block up to its end-of-block code.
    bool codes() {
        static const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            // 15 + 5 bits of a length, 15 + 13 of a distance: one refill is enough.
            refill();
            if (overrun())
                return false;
            unsigned used = 0;
            const int sym = lit_.decode(buf_, used);
            drop(used);
            if (sym < 256) {
                if (sym < 0)
                    return false;
                continue;
            }
            if (sym == 256)
                return true;
            if (sym > 285)
                return false;
            drop(kLenExtra[sym - 257]);
            const int d = dist_.decode(buf_, used);
            if (d < 0 || d >= 30)
                return false;
            drop(used + kDistExtra[d]);
        }
    }

    const uint8_t* start_;
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t buf_ = 0;
    unsigned avail_ = 0;
    Code lit_, dist_, lenCode_;
};

}  // namespace

bool continueDeflate(ByteBuffer& d) {
    if (d.empty())
        return false;
    uint64_t header = 0, endBit = 0;
    if (!BlockWalker(d.data(), d.size()).walk(header, endBit))
        return false;
    // The stream must end in its last byte; the bits after the end-of-block code are padding.
    if ((endBit + 7) / 8 != d.size())
        return false;
    const unsigned unused = unsigned(d.size() * 8 - endBit);
    const size_t headerByte = size_t(header / 8);
    const uint8_t headerMask = uint8_t(1u << (header % 8));
    if (!(d[headerByte] & headerMask))
        return false;
    d[headerByte] &= uint8_t(~headerMask);
    // An empty stored block (three zero header bits, padding to the byte, LEN 0, NLEN
    // 0xFFFF) follows in the padding bits when they are enough, otherwise in one more byte.
    d.back() &= uint8_t(0xFF >> unused);
    if (unused < 3)
        d.push_back(0);
    static const uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    d.append(kEmptyStored, 4);
    return true;
}

namespace {

struct Piece {
    ByteBuffer data;
    uint32_t crc = 0;
    size_t raw = 0;
    int error = 0;
};

bool readAt(int fd, uint8_t* p, size_t n, uint64_t at, size_t& got) {
    got = 0;
    while (got < n) {
        ssize_t r = pread(fd, p + got, n - got, off_t(at + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            break;
        got += size_t(r);
    }
    return true;
}

}  // namespace

int deflateParallel(int fd, int level, const std::function<bool(uint8_t*, size_t, size_t)>& emit,
                    const std::atomic<bool>& stop, uint32_t& crc, uint64_t& total, size_t chunk) {
    const unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    const size_t ahead = 2 * size_t(n);  // chunks claimed but not yet written
    std::mutex m;
    std::condition_variable cv;
    std::map<size_t, Piece> ready;
    size_t next = 0, written = 0, end = SIZE_MAX;
    unsigned gone = 0;
    bool quit = false;

    auto work = [&] {
        std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
            libdeflate_alloc_compressor(level), libdeflate_free_compressor);
        ByteBuffer in(chunk), out;
        for (;;) {
            size_t k;
            {
                std::unique_lock<std::mutex> g(m);
                cv.wait(g, [&] {
                    return quit || stop.load() || next >= end || next < written + ahead;
                });
                if (quit || stop.load() || next >= end) {
                    ++gone;
                    cv.notify_all();
                    return;
                }
                k = next++;
            }
            Piece p;
            size_t got = 0;
            if (!c)
                p.error = ZE_ERR_LOGIC;
            else if (!readAt(fd, in.data(), chunk, uint64_t(k) * chunk, got))
                p.error = ZE_ERR_READ;
            if (!p.error && got > 0) {
                p.raw = got;
                p.crc = uint32_t(libdeflate_crc32(0, in.data(), got));
                // Compressed into the worker's own buffer (room for the stored block that
                // continueDeflate appends); the piece held for the writer is exact.
                out.resize(libdeflate_deflate_compress_bound(c.get(), got) + 8);
                size_t len = libdeflate_deflate_compress(c.get(), in.data(), got, out.data(),
                                                         out.size() - 8);
                out.resize(len);
                if (len == 0 || !continueDeflate(out))
                    p.error = ZE_ERR_LOGIC;
                else
                    p.data.assign(out.data(), out.size());
            }
            std::lock_guard<std::mutex> g(m);
            if (!p.error && got < chunk)
                end = std::min(end, got ? k + 1 : k);
            ready.emplace(k, std::move(p));
            cv.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < n; ++i)
        threads.emplace_back(work);

    int rc = 0;
    crc = 0;
    total = 0;
    for (size_t k = 0; rc == 0; ++k) {
        Piece p;
        {
            std::unique_lock<std::mutex> g(m);
            cv.wait(g, [&] { return ready.count(k) || k >= end || gone == n; });
            if (!ready.count(k)) {
                if (k < end)
                    rc = -1;  // the workers stopped
                break;
            }
            p = std::move(ready[k]);
            ready.erase(k);
            written = k + 1;
        }
        cv.notify_all();
        if (p.error) {
            rc = p.error;
            break;
        }
        crc = uint32_t(crc32_combine(crc, p.crc, z_off_t(p.raw)));
        total += p.raw;
        if (!emit(p.data.data(), p.data.size(), p.raw))
            rc = -1;
        if (stop.load())
            rc = -1;
    }
    {
        std::lock_guard<std::mutex> g(m);
        quit = true;
    }
    cv.notify_all();
    for (auto& t : threads)
        t.join();
    if (rc == 0) {
        // An empty block with fixed codes and the final flag closes the stream.
        uint8_t last[2] = {0x03, 0x00};
        if (!emit(last, 2, 0))
            rc = -1;
    }
    return rc;
}

}  // namespace ze
