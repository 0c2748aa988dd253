// Decompression of one entry's data into a sink that counts, checksums and bounds the output.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "ZEUtil.h"

namespace ze {

// Deflate entries up to this size are decoded in one piece in memory; larger ones are
// streamed through a small buffer (touching fresh memory costs more than the faster decoder
// saves).
constexpr uint64_t kWholeBufferMax = 8ull << 20;

// Receives the uncompressed bytes. Writing past the declared size is refused, so a lying
// header can never make the output larger than announced.
class OutSink {
public:
    OutSink(int fd, uint64_t limit) : fd_(fd), limit_(limit) {}
    // Collects the output in memory instead of a file.
    OutSink(ByteBuffer* mem, uint64_t limit) : fd_(-1), limit_(limit), mem_(mem) {}
    virtual ~OutSink() = default;
    bool write(const uint8_t* p, size_t n);
    // The whole output at once, its CRC-32 already known (bytes decoded ahead).
    bool writeWhole(const uint8_t* p, size_t n, uint32_t crc);
    // A memory sink's buffer sized for the declared output, for decoders that fill it in
    // place; then commit() the bytes actually produced. Null for a file sink or a size that
    // does not fit in memory.
    uint8_t* reserveInPlace();
    bool commit(size_t n);
    uint32_t crc() const { return crc_; }
    uint64_t total() const { return total_; }
    bool overflow() const { return overflow_; }
    bool writeFailed() const { return writeFailed_; }
    // Called with the bytes just produced; returning false stops the decoder.
    std::function<bool(uint64_t)> progress;

private:
    int fd_;
    uint64_t limit_;
    ByteBuffer* mem_ = nullptr;
    bool emit(const uint8_t* p, size_t n);
    uint32_t crc_ = 0;
    uint64_t total_ = 0;
    bool overflow_ = false, writeFailed_ = false;
};

// The compressed bytes of one entry, handed to a decoder piece by piece: straight from the
// archive's mapping, or decrypted a bounded chunk at a time. A piece stays valid until the
// next call; a decoder asks for the next one only when it has used up the last.
class InSource {
public:
    virtual ~InSource() = default;
    // The next piece (never empty); false when the input is exhausted.
    virtual bool next(const uint8_t*& p, size_t& n) = 0;
    // All of the input in one piece, before any piece was taken, when it is at hand without
    // holding more than kWholeBufferMax extra bytes; else null.
    virtual const uint8_t* whole(size_t& n) = 0;
    // The number of bytes the source hands out in all.
    virtual uint64_t size() const = 0;
};

// Input lying in memory, in pieces of at most `piece` bytes. `consumed`, when set, hears
// how many bytes the decoder is done with (each time it asks for more), so that the pages
// of a large mapped entry can be let go behind the decoder.
class MemSource : public InSource {
public:
    static constexpr size_t kPieceMax = 1u << 30;  // ISA-L counts its input in 32 bits
    MemSource(const uint8_t* p, size_t n, size_t piece = kPieceMax)
        : p_(p), n_(n), piece_(std::min(piece, kPieceMax)) {}
    bool next(const uint8_t*& p, size_t& n) override;
    const uint8_t* whole(size_t& n) override;
    uint64_t size() const override { return n_; }
    std::function<void(size_t)> consumed;

private:
    const uint8_t* p_;
    size_t n_, piece_, pos_ = 0;
};

enum DecodeResult {
    kDecodeOk = 0,
    kDecodeUnsupported,  // method not implemented
    kDecodeBadData,      // the compressed stream is damaged
    kDecodeSize,         // the output is larger or smaller than declared
    kDecodeWrite,        // the sink could not write
    kDecodeStopped       // the progress hook asked to stop
};

bool methodSupported(uint16_t method);
// lzmaEos: flag bit 1 of an LZMA entry (the stream ends with an end marker).
DecodeResult decodeEntry(uint16_t method, InSource& in, uint64_t usize, bool lzmaEos,
                         OutSink& sink);
// The same for input lying in memory in one piece.
DecodeResult decodeEntry(uint16_t method, const uint8_t* in, size_t inLen, uint64_t usize,
                         bool lzmaEos, OutSink& sink);

}  // namespace ze
