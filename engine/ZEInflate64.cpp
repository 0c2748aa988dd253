// A compact canonical-Huffman inflater (one bit at a time: Deflate64 entries are rare, so
// clarity wins over speed). The output streams through a buffer that keeps the last 64 KiB
// as history, so memory stays bounded whatever the entry's size.
#include "ZEInflate64.h"

#include <cstring>

namespace ze {

namespace {

constexpr size_t kHistory = 65536;
constexpr size_t kFlushAt = kHistory + (1u << 20);

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                    17,   25,   33,   49,    65,    97,    129,   193,
                                    257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kCodeOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

struct BadData {};
struct SinkStopped {};

struct Huffman {
    uint16_t count[16] = {};
    uint16_t symbol[320] = {};
    // Builds the code from code lengths; an over-subscribed set is damaged data.
    void build(const uint8_t* lengths, int n) {
        memset(count, 0, sizeof count);
        for (int s = 0; s < n; ++s)
            ++count[lengths[s]];
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = left * 2 - count[len];
            if (left < 0)
                throw BadData{};
        }
        uint16_t offs[16] = {};
        for (int len = 1; len < 15; ++len)
            offs[len + 1] = uint16_t(offs[len] + count[len]);
        for (int s = 0; s < n; ++s)
            if (lengths[s])
                symbol[offs[lengths[s]]++] = uint16_t(s);
    }
};

class Inflater {
public:
    Inflater(InSource& in, OutSink& sink) : src_(in), sink_(sink) { out_.resize(kFlushAt); }

    void run() {
        bool last = false;
        while (!last) {
            last = bits(1) != 0;
            switch (bits(2)) {
                case 0:
                    stored();
                    break;
                case 1:
                    fixed();
                    break;
                case 2:
                    dynamic();
                    break;
                default:
                    throw BadData{};
            }
        }
        flush(have_);
    }

private:
    // The next input byte; input ending inside the stream is damaged data.
    uint8_t byte() {
        if (pos_ >= len_) {
            if (!src_.next(in_, len_))
                throw BadData{};
            pos_ = 0;
        }
        return in_[pos_++];
    }

    uint32_t bits(int n) {
        while (count_ < n) {
            buf_ |= uint64_t(byte()) << count_;
            count_ += 8;
        }
        uint32_t v = uint32_t(buf_ & ((1ull << n) - 1));
        buf_ >>= n;
        count_ -= n;
        return v;
    }

    int decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= int(bits(1));
            int c = h.count[len];
            if (code - c < first)
                return h.symbol[index + (code - first)];
            index += c;
            first = (first + c) << 1;
            code <<= 1;
        }
        throw BadData{};
    }

    // Hands everything but the last 64 KiB of history to the sink (all of it at the end).
    void flush(size_t upTo) {
        if (upTo == 0)
            return;
        if (!sink_.write(out_.data(), upTo))
            throw SinkStopped{};
        memmove(out_.data(), out_.data() + upTo, have_ - upTo);
        have_ -= upTo;
    }

    void put(uint8_t b) {
        if (have_ == kFlushAt)
            flush(have_ - kHistory);
        out_[have_++] = b;
        ++total_;
    }

    void stored() {
        buf_ = 0;
        count_ = 0;
        uint32_t n = byte();
        n |= uint32_t(byte()) << 8;
        uint32_t check = byte();
        check |= uint32_t(byte()) << 8;
        if (n != (~check & 0xFFFF))
            throw BadData{};
        for (uint32_t i = 0; i < n; ++i)
            put(byte());
    }

    void codes(const Huffman& lit, const Huffman& dist) {
        for (;;) {
            int sym = decode(lit);
            if (sym < 256) {
                put(uint8_t(sym));
            } else if (sym == 256) {
                return;
            } else {
                sym -= 257;
                if (sym >= 29)
                    throw BadData{};
                uint32_t length = kLenBase[sym] + bits(kLenExtra[sym]);
                int d = decode(dist);
                if (d >= 32)
                    throw BadData{};
                uint32_t distance = kDistBase[d] + bits(kDistExtra[d]);
                if (distance > total_)
                    throw BadData{};
                for (uint32_t i = 0; i < length; ++i)
                    put(out_[have_ - distance]);
            }
        }
    }

    void fixed() {
        uint8_t l[288];
        memset(l, 8, 144);
        memset(l + 144, 9, 112);
        memset(l + 256, 7, 24);
        memset(l + 280, 8, 8);
        uint8_t d[32];
        memset(d, 5, sizeof d);
        Huffman lit, dist;
        lit.build(l, 288);
        dist.build(d, 32);
        codes(lit, dist);
    }

    void dynamic() {
        int nlen = int(bits(5)) + 257, ndist = int(bits(5)) + 1, ncode = int(bits(4)) + 4;
        if (nlen > 286)
            throw BadData{};
        uint8_t lengths[320] = {};
        for (int i = 0; i < ncode; ++i)
            lengths[kCodeOrder[i]] = uint8_t(bits(3));
        Huffman lencode;
        lencode.build(lengths, 19);
        memset(lengths, 0, sizeof lengths);
        for (int i = 0; i < nlen + ndist;) {
            int sym = decode(lencode);
            if (sym < 16) {
                lengths[i++] = uint8_t(sym);
                continue;
            }
            int repeat, value = 0;
            if (sym == 16) {
                if (i == 0)
                    throw BadData{};
                value = lengths[i - 1];
                repeat = 3 + int(bits(2));
            } else if (sym == 17) {
                repeat = 3 + int(bits(3));
            } else {
                repeat = 11 + int(bits(7));
            }
            if (i + repeat > nlen + ndist)
                throw BadData{};
            while (repeat--)
                lengths[i++] = uint8_t(value);
        }
        if (lengths[256] == 0)
            throw BadData{};
        Huffman lit, dist;
        lit.build(lengths, nlen);
        dist.build(lengths + nlen, ndist);
        codes(lit, dist);
    }

    InSource& src_;
    const uint8_t* in_ = nullptr;
    size_t len_ = 0, pos_ = 0;
    uint64_t buf_ = 0;
    int count_ = 0;
    // Not cleared: only bytes already written are read back (distances are checked
    // against the total), and an entry that is small touches only its first pages.
    ByteBuffer out_;
    size_t have_ = 0;
    uint64_t total_ = 0;
    OutSink& sink_;
};

}  // namespace

DecodeResult inflate64(InSource& in, uint64_t usize, OutSink& sink) {
    try {
        Inflater(in, sink).run();
    } catch (const BadData&) {
        return kDecodeBadData;
    } catch (const SinkStopped&) {
        if (sink.overflow())
            return kDecodeSize;
        return sink.writeFailed() ? kDecodeWrite : kDecodeStopped;
    }
    return sink.total() == usize ? kDecodeOk : kDecodeSize;
}

}  // namespace ze
